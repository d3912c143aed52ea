// Seeds for the fuzz targets. Each target defines EngineFuzzSeeds, which hands the inputs made by
// the project's own writers to the sink, each marked as one its reader must take or must turn
// down; the replay driver writes them into the seed corpus and holds the target to those marks.
// A target calls FuzzAccepted while it runs an input its reader took (the reader said yes, or for
// the network targets, a genuine client joined), so a reader that refuses everything, or takes
// everything, fails its replay test.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

enum class FuzzSeedKind
{
    Taken,   // the reader must take it
    Refused, // the reader must turn it down
};

class FuzzSeedSink
{
public:
    virtual ~FuzzSeedSink() = default;
    virtual void Add(const std::string& name, const std::vector<uint8_t>& bytes, FuzzSeedKind kind) = 0;
    // A seed the reader must take.
    void Add(const std::string& name, const std::vector<uint8_t>& bytes)
    {
        Add(name, bytes, FuzzSeedKind::Taken);
    }
    void Add(const std::string& name, const std::string& text, FuzzSeedKind kind = FuzzSeedKind::Taken)
    {
        Add(name, std::vector<uint8_t>(text.begin(), text.end()), kind);
    }
    // A seed the reader must turn down.
    void AddRefused(const std::string& name, const std::vector<uint8_t>& bytes)
    {
        Add(name, bytes, FuzzSeedKind::Refused);
    }
    void AddRefused(const std::string& name, const std::string& text)
    {
        Add(name, text, FuzzSeedKind::Refused);
    }
};

void EngineFuzzSeeds(FuzzSeedSink& sink);

// The target's reader took the input now running (called from LLVMFuzzerTestOneInput).
void FuzzAccepted();

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
