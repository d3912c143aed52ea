// Seeds for the fuzz targets. Each target defines EngineFuzzSeeds, which hands the inputs made by
// the project's own writers to the sink; the replay driver writes them into the seed corpus.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class FuzzSeedSink
{
public:
    virtual ~FuzzSeedSink() = default;
    virtual void Add(const std::string& name, const std::vector<uint8_t>& bytes) = 0;
    void Add(const std::string& name, const std::string& text)
    {
        Add(name, std::vector<uint8_t>(text.begin(), text.end()));
    }
};

void EngineFuzzSeeds(FuzzSeedSink& sink);

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
