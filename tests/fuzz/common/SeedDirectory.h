// Writes a target's seeds (EngineFuzzSeeds) into a folder, one file each, for both mains: the
// replay driver of the test builds and the libFuzzer main of the fuzz build. The replay driver
// also runs each seed once and holds it to its mark (see FuzzSeeds.h).
#pragma once

#include "common/FuzzSeeds.h"

#include <cstdio>
#include <filesystem>
#include <fstream>

namespace FuzzSeeds {

class DirectorySink : public FuzzSeedSink
{
public:
    struct Seed
    {
        std::string name;
        std::vector<uint8_t> bytes;
        FuzzSeedKind kind;
    };

    explicit DirectorySink(std::filesystem::path dir) : m_dir(std::move(dir)) {}
    using FuzzSeedSink::Add;
    void Add(const std::string& name, const std::vector<uint8_t>& bytes, FuzzSeedKind kind) override
    {
        std::ofstream out(m_dir / name, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        out.close();
        if (!out)
            m_failed = true;
        m_seeds.push_back(Seed{name, bytes, kind});
    }
    const std::vector<Seed>& GetSeeds() const { return m_seeds; }
    bool Failed() const { return m_failed; }

private:
    std::filesystem::path m_dir;
    std::vector<Seed> m_seeds;
    bool m_failed = false;
};

// How many times the target said its reader took an input (FuzzAccepted); common/FuzzSeeds.cpp
// keeps it for both mains.
int& AcceptedCount();

// Runs every seed once: true when each taken seed was taken and each refused one was not, else
// false with a line on standard error for each seed that was not.
inline bool Check(const DirectorySink& sink)
{
    int wrong = 0, taken = 0;
    for (const DirectorySink::Seed& seed : sink.GetSeeds()) {
        AcceptedCount() = 0;
        LLVMFuzzerTestOneInput(seed.bytes.data(), seed.bytes.size());
        const bool took = AcceptedCount() > 0;
        taken += took;
        if (took != (seed.kind == FuzzSeedKind::Taken)) {
            std::fprintf(stderr, "seed %s was %s, but should have been %s\n", seed.name.c_str(),
                         took ? "taken" : "turned down", took ? "turned down" : "taken");
            ++wrong;
        }
    }
    std::printf("%d seeds taken, %d turned down, %d against their marks\n", taken,
                static_cast<int>(sink.GetSeeds().size()) - taken, wrong);
    return wrong == 0;
}

// Creates the folder and writes every seed into it (and runs them against their marks when
// check is set); false (with a line on standard error) when a file could not be written or a
// seed went against its mark.
inline bool Write(const std::filesystem::path& dir, bool check)
{
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    DirectorySink sink(dir);
    EngineFuzzSeeds(sink);
    if (sink.Failed()) {
        std::fprintf(stderr, "could not write the seeds to %s\n", dir.c_str());
        return false;
    }
    std::printf("wrote %d seeds to %s\n", static_cast<int>(sink.GetSeeds().size()), dir.c_str());
    return !check || Check(sink);
}

} // namespace FuzzSeeds
