// Writes a target's seeds (EngineFuzzSeeds) into a folder, one file each, for both mains: the
// replay driver of the test builds and the libFuzzer main of the fuzz build.
#pragma once

#include "common/FuzzSeeds.h"

#include <cstdio>
#include <filesystem>
#include <fstream>

namespace FuzzSeeds {

class DirectorySink : public FuzzSeedSink
{
public:
    explicit DirectorySink(std::filesystem::path dir) : m_dir(std::move(dir)) {}
    using FuzzSeedSink::Add;
    void Add(const std::string& name, const std::vector<uint8_t>& bytes) override
    {
        std::ofstream out(m_dir / name, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        out.close();
        if (!out)
            m_failed = true;
        ++m_count;
    }
    int GetCount() const { return m_count; }
    bool Failed() const { return m_failed; }

private:
    std::filesystem::path m_dir;
    int m_count = 0;
    bool m_failed = false;
};

// Creates the folder and writes every seed into it; false (with a line on standard error) when a
// file could not be written.
inline bool Write(const std::filesystem::path& dir)
{
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    DirectorySink sink(dir);
    EngineFuzzSeeds(sink);
    if (sink.Failed()) {
        std::fprintf(stderr, "could not write the seeds to %s\n", dir.c_str());
        return false;
    }
    std::printf("wrote %d seeds to %s\n", sink.GetCount(), dir.c_str());
    return true;
}

} // namespace FuzzSeeds
