// ARC archives through the virtual file system against their natural floor and a peer:
//  (a) mounting and indexing an archive of 20,000 entries;
//  (b) opening and reading every entry in random order through GAME::FileSystem, against the
//      same compressed blocks inflated from memory with one reused zlib stream;
//  (c) the same files read through PhysFS from a zip of the same data (64 KiB read buffer);
//  (d) name lookups per second, half of them misses.
#include "common/BenchReport.h"
#include "data/Archive.h"
#include "data/FileSourceArchive.h"
#include "data/FileSystem.h"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <numeric>
#include <physfs.h>
#include <random>
#include <string>
#include <vector>
#include <zlib.h>

namespace fs = std::filesystem;

namespace {

constexpr int kEntries = 20000;

struct Entry
{
    std::string name;
    uint32_t size;
    bool text;
};

std::vector<uint8_t> Generate(const Entry& entry, uint32_t seed)
{
    static const char* const words[] = {"region ", "level ", "entity ", "mesh ",   "texture ", "\n",
                                        "shader ", "0.25 ",  "light ",  "portal ", "sound ",   "1.0 "};
    std::vector<uint8_t> bytes(entry.size);
    std::mt19937 random(seed);
    if (entry.text) {
        for (size_t i = 0; i < bytes.size();) {
            const char* word = words[random() % 12];
            while (*word && i < bytes.size())
                bytes[i++] = static_cast<uint8_t>(*word++);
        }
    } else {
        for (size_t i = 0; i + 4 <= bytes.size(); i += 4) {
            uint32_t v = random();
            std::memcpy(&bytes[i], &v, 4);
        }
        for (size_t i = bytes.size() & ~size_t(3); i < bytes.size(); ++i)
            bytes[i] = static_cast<uint8_t>(random());
    }
    return bytes;
}

void Put16(std::vector<uint8_t>& out, uint16_t v)
{
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

void Put32(std::vector<uint8_t>& out, uint32_t v)
{
    Put16(out, static_cast<uint16_t>(v));
    Put16(out, static_cast<uint16_t>(v >> 16));
}

// A plain zip: deflate entries reuse the archive's block (a zlib stream less its 2-byte header
// and 4-byte trailer), entries that deflate would not shrink are stored.
class ZipWriter
{
public:
    void Add(const std::string& name, const std::vector<uint8_t>& plain, const uint8_t* deflated,
             size_t deflatedSize)
    {
        bool store = deflatedSize >= plain.size();
        uint32_t crc = static_cast<uint32_t>(crc32(0, plain.data(), static_cast<uInt>(plain.size())));
        uint32_t offset = static_cast<uint32_t>(m_data.size());
        const uint8_t* bytes = store ? plain.data() : deflated;
        size_t size = store ? plain.size() : deflatedSize;
        Put32(m_data, 0x04034b50);
        Header(m_data, store, crc, size, plain.size(), name);
        m_data.insert(m_data.end(), name.begin(), name.end());
        m_data.insert(m_data.end(), bytes, bytes + size);

        Put32(m_central, 0x02014b50);
        Put16(m_central, 20);
        Header(m_central, store, crc, size, plain.size(), name);
        Put16(m_central, 0); // comment
        Put16(m_central, 0); // disk
        Put16(m_central, 0); // internal attributes
        Put32(m_central, 0); // external attributes
        Put32(m_central, offset);
        m_central.insert(m_central.end(), name.begin(), name.end());
        ++m_count;
    }

    bool Write(const std::string& path)
    {
        uint32_t centralOffset = static_cast<uint32_t>(m_data.size());
        std::vector<uint8_t> end;
        Put32(end, 0x06054b50);
        Put16(end, 0);
        Put16(end, 0);
        Put16(end, static_cast<uint16_t>(m_count));
        Put16(end, static_cast<uint16_t>(m_count));
        Put32(end, static_cast<uint32_t>(m_central.size()));
        Put32(end, centralOffset);
        Put16(end, 0);
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(m_data.data()), static_cast<std::streamsize>(m_data.size()));
        out.write(reinterpret_cast<const char*>(m_central.data()),
                  static_cast<std::streamsize>(m_central.size()));
        out.write(reinterpret_cast<const char*>(end.data()), static_cast<std::streamsize>(end.size()));
        return static_cast<bool>(out);
    }

private:
    static void Header(std::vector<uint8_t>& out, bool store, uint32_t crc, size_t size, size_t plain,
                       const std::string& name)
    {
        Put16(out, 20);               // version needed
        Put16(out, 0);                // flags
        Put16(out, store ? 0 : 8);    // method
        Put16(out, 0);                // time
        Put16(out, (45 << 9) | 0x21); // date: 2025-01-01
        Put32(out, crc);
        Put32(out, static_cast<uint32_t>(size));
        Put32(out, static_cast<uint32_t>(plain));
        Put16(out, static_cast<uint16_t>(name.size()));
        Put16(out, 0); // extra
    }

    std::vector<uint8_t> m_data;
    std::vector<uint8_t> m_central;
    unsigned m_count = 0;
};

// Cheap fingerprint of a read, so no path can skip the work and all paths can be compared.
inline uint64_t Fingerprint(const uint8_t* data, size_t size)
{
    return size ? (static_cast<uint64_t>(data[0]) << 16) + (static_cast<uint64_t>(data[size / 2]) << 8) +
                      data[size - 1] + size
                : 0;
}

} // namespace

const char* const kHelp = R"(bench_archive: ARC archives read through the engine's virtual file system.

Measures, over an archive of 20,000 entries made in a temporary folder (no render device):
  mounting and indexing the archive; opening and reading every entry in random order through
  GAME::FileSystem; name lookups, half of them misses.
References, in the same run: the same compressed blocks inflated from memory with one reused zlib
stream (the floor), and the same files read through PhysFS from a zip of the same data.

Figures (last lines of the output):
  value archive_index_ms              time to mount and index; lower is better
  ratio archive_read_vs_raw_inflate   engine read time / raw inflate time; lower is better, 1 is the floor
  ratio archive_read_vs_physfs        engine read time / PhysFS read time; below 1 the engine is faster
  value archive_lookups_per_second    name lookups a second; higher is better
)";

int main(int argc, char** argv)
{
    if (const int code = BenchCommandLine(argc, argv, kHelp); code >= 0)
        return code;
    BenchReport report;
    fs::path work = fs::temp_directory_path() / ("bench-archive-" + std::to_string(std::random_device()()));
    fs::create_directories(work);
    std::string arcPath = (work / "Bench.arc").string();
    std::string zipPath = (work / "bench.zip").string();

    // The data: log-uniform sizes from 0.5 to 64 KiB, half text-like, half binary.
    std::mt19937 random(2024);
    std::uniform_real_distribution<double> logSize(std::log(512.0), std::log(65536.0));
    std::vector<Entry> entries(kEntries);
    for (int i = 0; i < kEntries; ++i) {
        char name[96];
        std::snprintf(name, sizeof(name), "records/area%02d/group%03d/item_%05d.%s", i % 37, (i * 7) % 211, i,
                      i % 2 ? "bin" : "txt");
        entries[i] = Entry{name, static_cast<uint32_t>(std::exp(logSize(random))), i % 2 == 0};
    }
    {
        GAME::Archive writer;
        if (!writer.Open(arcPath.c_str(), GAME::Archive::MODE_UPDATE))
            return 1;
        for (int i = 0; i < kEntries; ++i) {
            std::vector<uint8_t> data = Generate(entries[i], static_cast<uint32_t>(i));
            if (writer.AddFileFromMemory(entries[i].name.c_str(), data.data(), entries[i].size, 6) < 0)
                return 1;
        }
        if (!writer.Close())
            return 1;
    }

    // The compressed blocks in memory, for the raw floor and the zip.
    std::vector<uint8_t> image;
    {
        std::ifstream in(arcPath, std::ios::binary);
        image.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    GAME::Archive index;
    if (!index.OpenMemory(image.data(), image.size()))
        return 1;
    struct Block
    {
        uint32_t offset, storedSize, plainSize;
    };
    std::vector<Block> blocks(kEntries);
    {
        ZipWriter zip;
        for (int i = 0; i < kEntries; ++i) {
            const GAME::Archive::FileEntry* e = index.GetFileEntry(index.FindFile(entries[i].name.c_str()));
            blocks[i] = Block{e->parts[0].offset, e->parts[0].storedSize, e->parts[0].plainSize};
            std::vector<uint8_t> plain = Generate(entries[i], static_cast<uint32_t>(i));
            zip.Add(entries[i].name, plain, image.data() + blocks[i].offset + 2, blocks[i].storedSize - 6);
        }
        if (!zip.Write(zipPath))
            return 1;
    }

    std::vector<int> order(kEntries);
    for (int i = 0; i < kEntries; ++i)
        order[i] = i;
    std::shuffle(order.begin(), order.end(), std::mt19937(77));

    // (a) Mount and index.
    double indexSeconds = BestOf(7, [&] {
        GAME::FileSystem system;
        system.AddSourceArchive(GAME::FileSystem::PARTITION_0, arcPath.c_str(), false);
        benchmark::DoNotOptimize(system.GetSources(GAME::FileSystem::PARTITION_0).size());
    });

    GAME::FileSystem system;
    if (!system.AddSourceArchive(GAME::FileSystem::PARTITION_0, arcPath.c_str(), false))
        return 1;
    std::vector<std::string> vfsNames(kEntries);
    for (int i = 0; i < kEntries; ++i)
        vfsNames[i] = "bench/" + entries[i].name;

    // (b) Every entry through the file system, and the raw floor.
    uint64_t archiveSum = 0, rawSum = 0, physSum = 0;
    double archiveSeconds = BestOf(3, [&] {
        uint64_t sum = 0;
        for (int i : order) {
            GAME::File* file = system.OpenFile(vfsNames[i].c_str(), GAME::FILE_MODE_READ);
            if (!file)
                std::abort();
            const auto* data = static_cast<const uint8_t*>(file->Lock());
            if (!data)
                std::abort();
            sum += Fingerprint(data, file->GetLength());
            file->Unlock();
            system.CloseFile(file);
        }
        archiveSum = sum;
    });

    z_stream stream{};
    inflateInit(&stream);
    std::vector<uint8_t> out(65536);
    double rawSeconds = BestOf(3, [&] {
        uint64_t sum = 0;
        for (int i : order) {
            inflateReset(&stream);
            stream.next_in = image.data() + blocks[i].offset;
            stream.avail_in = blocks[i].storedSize;
            stream.next_out = out.data();
            stream.avail_out = static_cast<uInt>(out.size());
            if (inflate(&stream, Z_FINISH) != Z_STREAM_END || stream.total_out != blocks[i].plainSize)
                std::abort();
            sum += Fingerprint(out.data(), blocks[i].plainSize);
        }
        rawSum = sum;
    });
    inflateEnd(&stream);

    // (c) PhysFS over the zip.
    if (!PHYSFS_init(argv[0]) || !PHYSFS_mount(zipPath.c_str(), nullptr, 1)) {
        std::fprintf(stderr, "PhysFS: %s\n", PHYSFS_getErrorByCode(PHYSFS_getLastErrorCode()));
        return 1;
    }
    double physSeconds = BestOf(3, [&] {
        uint64_t sum = 0;
        for (int i : order) {
            PHYSFS_File* file = PHYSFS_openRead(entries[i].name.c_str());
            if (!file)
                std::abort();
            PHYSFS_setBuffer(file, 65536);
            PHYSFS_sint64 length = PHYSFS_fileLength(file);
            if (PHYSFS_readBytes(file, out.data(), static_cast<PHYSFS_uint64>(length)) != length)
                std::abort();
            sum += Fingerprint(out.data(), static_cast<size_t>(length));
            PHYSFS_close(file);
        }
        physSum = sum;
    });
    PHYSFS_deinit();
    if (archiveSum != rawSum || archiveSum != physSum) {
        std::fprintf(stderr, "the three readers disagree\n");
        return 1;
    }

    // (d) Lookups, half of them misses (names that differ from real ones in one place).
    GAME::Archive* archive =
        static_cast<GAME::FileSourceArchive*>(system.GetSources(GAME::FileSystem::PARTITION_0)[0])
            ->GetArchive();
    std::vector<std::string> probes;
    for (int i = 0; i < kEntries; ++i) {
        probes.push_back(entries[i].name);
        std::string miss = entries[i].name;
        miss[miss.size() - 5] = 'x';
        probes.push_back(miss);
    }
    std::shuffle(probes.begin(), probes.end(), std::mt19937(5));
    constexpr int kLookupRounds = 50;
    int hits = 0;
    double lookupSeconds = BestOf(3, [&] {
        int found = 0;
        for (int round = 0; round < kLookupRounds; ++round)
            for (const std::string& probe : probes)
                found += archive->FindFile(probe.c_str()) >= 0;
        hits = found;
    });
    if (hits != kEntries * kLookupRounds)
        return 1;

    std::error_code ec;
    fs::remove_all(work, ec);

    std::printf("archive: %d entries, %.1f MB plain, %.1f MB stored\n", kEntries,
                static_cast<double>(std::accumulate(entries.begin(), entries.end(), 0.0,
                                                    [](double s, const Entry& e) { return s + e.size; })) /
                    1e6,
                static_cast<double>(image.size()) / 1e6);
    std::printf("read all: archive %.3f s, raw inflate %.3f s, physfs %.3f s\n", archiveSeconds, rawSeconds,
                physSeconds);
    report.Value("archive_index_ms", indexSeconds * 1000.0, "ms");
    report.Ratio("archive_read_vs_raw_inflate", archiveSeconds / rawSeconds);
    report.Ratio("archive_read_vs_physfs", archiveSeconds / physSeconds);
    report.Value("archive_lookups_per_second",
                 static_cast<double>(probes.size()) * kLookupRounds / lookupSeconds, "lookups/s");
    report.Print();
    return 0;
}
