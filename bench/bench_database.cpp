// The record database against its natural floor, over 50,000 records of about 40 fields each:
//  (a) reading the file and loading it (DatabaseArchive::Load), against reading the file and
//      inflating every record body with zlib (one reused stream);
//  (b) fetching every record by name and building its binary table (GetRecord + LoadTableBinary),
//      against inflating every body with zlib, both in the same random order;
//  (c) field getters by name on the binary tables (a value line: nanoseconds per getter).
#include "common/BenchReport.h"
#include "data/BinaryReader.h"
#include "data/DatabaseArchive.h"
#include "data/LoadTableBinary.h"
#include "datakit/ArzWriter.h"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>
#include <zlib.h>

namespace fs = std::filesystem;

namespace {

constexpr int kRecords = 50000;
constexpr int kFieldsPerRecord = 40;
constexpr int kFieldNames = 160;

std::vector<uint8_t> ReadFile(const std::string& path)
{
    std::vector<uint8_t> bytes;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        std::abort();
    std::fseek(file, 0, SEEK_END);
    bytes.resize(static_cast<size_t>(std::ftell(file)));
    std::fseek(file, 0, SEEK_SET);
    if (std::fread(bytes.data(), 1, bytes.size(), file) != bytes.size())
        std::abort();
    std::fclose(file);
    return bytes;
}

std::string FieldName(int i)
{
    static const char* const stems[] = {"damage", "armor", "speed", "resist",
                                        "skill",  "level", "cost",  "radius"};
    return std::string(stems[i % 8]) + (i % 3 ? "Bonus" : "Base") + std::to_string(i);
}

} // namespace

const char* const kHelp = R"(bench_database: the record database (ARZ) against zlib, its natural floor.

Measures, over 50,000 records of about 40 fields each, written to a temporary folder (no render
device): loading the file (DatabaseArchive::Load); fetching every record by name and building its
binary table; field getters by name on the tables.
Reference, in the same run: reading the file and inflating every record body with one reused zlib
stream, in the same random order.

Figures (last lines of the output):
  ratio database_load_vs_raw      load time / read-and-inflate time; lower is better, 1 is the floor
  ratio record_read_vs_inflate    record fetch time / inflate time; lower is better
  value field_getter_by_name      nanoseconds a getter; lower is better
)";

int main(int argc, char** argv)
{
    if (const int code = BenchCommandLine(argc, argv, kHelp); code >= 0)
        return code;
    BenchReport report;
    fs::path work = fs::temp_directory_path() / ("bench-database-" + std::to_string(std::random_device()()));
    fs::create_directories(work);
    const std::string path = (work / "database.arz").string();

    // Records of a game's kind: a class, a mesh, numbers, a few flags and texts from a shared
    // vocabulary; every record picks its own 40 of 160 field names.
    std::vector<std::string> names(kRecords);
    DataKit::ArzWriter::Layout layout;
    std::vector<uint32_t> plainSizes(kRecords);
    {
        DataKit::ArzWriter writer(true);
        std::mt19937 random(2024);
        std::vector<int> fields(kFieldNames);
        for (int i = 0; i < kFieldNames; ++i)
            fields[i] = i;
        for (int r = 0; r < kRecords; ++r) {
            char name[96];
            std::snprintf(name, sizeof(name), "records\\creatures\\area%02d\\monster_%05d.dbr", r % 41, r);
            names[r] = name;
            auto& record = writer.AddRecord(name);
            record.String("Class", r % 3 ? "Monster" : "Actor");
            record.String("mesh", "creatures\\meshes\\m" + std::to_string(r % 700) + ".msh");
            std::shuffle(fields.begin(), fields.end(), random);
            for (int f = 0; f < kFieldsPerRecord - 2; ++f) {
                const std::string field = FieldName(fields[f]);
                switch (fields[f] % 4) {
                case 0:
                    record.Int(field,
                               std::vector<int32_t>(1 + random() % 3, static_cast<int32_t>(random() % 1000)));
                    break;
                case 1:
                    record.Float(field, static_cast<float>(random() % 10000) / 100.0f);
                    break;
                case 2:
                    record.String(field, "text" + std::to_string(random() % 2000));
                    break;
                default:
                    record.Bool(field, random() % 2 == 0);
                    break;
                }
            }
            plainSizes[r] = static_cast<uint32_t>(record.GetBody().size());
        }
        std::vector<uint8_t> image;
        if (!writer.Build(image, &layout))
            return 1;
        std::FILE* out = std::fopen(path.c_str(), "wb");
        if (!out || std::fwrite(image.data(), 1, image.size(), out) != image.size() || std::fclose(out) != 0)
            return 1;
    }
    const uint32_t largest = *std::max_element(plainSizes.begin(), plainSizes.end());
    std::vector<uint8_t> plain(largest);

    z_stream stream{};
    inflateInit(&stream);
    std::vector<int> order(kRecords);
    for (int r = 0; r < kRecords; ++r)
        order[r] = r;
    auto inflateAll = [&](const std::vector<uint8_t>& image) {
        uint64_t sum = 0;
        for (int r : order) {
            inflateReset(&stream);
            stream.next_in = const_cast<Bytef*>(image.data() + layout.bodyOffsets[r]);
            stream.avail_in = layout.bodySizes[r];
            stream.next_out = plain.data();
            stream.avail_out = static_cast<uInt>(plain.size());
            if (inflate(&stream, Z_FINISH) != Z_STREAM_END || stream.total_out != plainSizes[r])
                std::abort();
            sum += plain[stream.total_out - 1];
        }
        return sum;
    };

    // (a) Load against the raw floor.
    double loadSeconds = BestOf(5, [&] {
        std::vector<uint8_t> image = ReadFile(path);
        GAME::DatabaseArchive archive;
        if (!archive.Load(image.data(), static_cast<unsigned>(image.size()), false))
            std::abort();
        benchmark::DoNotOptimize(archive.GetNumRecords());
    });
    double rawLoadSeconds = BestOf(5, [&] {
        std::vector<uint8_t> image = ReadFile(path);
        benchmark::DoNotOptimize(inflateAll(image));
    });

    // (b) Every record by name into a binary table, against inflating every body.
    std::vector<uint8_t> image = ReadFile(path);
    GAME::DatabaseArchive archive;
    if (!archive.Load(image.data(), static_cast<unsigned>(image.size()), false))
        return 1;
    std::shuffle(order.begin(), order.end(), std::mt19937(77));
    // The caller's names in the order it asks for them, as a level holds its entities' records.
    std::vector<std::string> asked;
    for (int r : order)
        asked.push_back(names[r]);
    double recordSeconds = BestOf(5, [&] {
        uint64_t fields = 0;
        for (const std::string& name : asked) {
            const void* body = nullptr;
            unsigned size = 0;
            if (!archive.GetRecord(name, body, size))
                std::abort();
            GAME::LoadTableBinary table(&archive);
            GAME::BinaryReader reader(body, size);
            table.Deserialize(reader);
            fields += table.GetNumBinaryFields();
        }
        if (fields != uint64_t(kRecords) * kFieldsPerRecord)
            std::abort();
    });
    double inflateSeconds = BestOf(5, [&] { benchmark::DoNotOptimize(inflateAll(image)); });
    inflateEnd(&stream);

    // (c) Getters by name over 2,000 tables: every field name (a quarter of them absent).
    constexpr int kTables = 2000;
    std::vector<std::unique_ptr<GAME::LoadTableBinary>> tables;
    for (int r = 0; r < kTables; ++r) {
        const void* body = nullptr;
        unsigned size = 0;
        if (!archive.GetRecord(names[r], body, size))
            return 1;
        tables.push_back(std::make_unique<GAME::LoadTableBinary>(&archive));
        GAME::BinaryReader reader(body, size);
        tables.back()->Deserialize(reader);
    }
    std::vector<std::string> fieldNames;
    for (int i = 0; i < kFieldNames; ++i)
        fieldNames.push_back(FieldName(i));
    double getterSeconds = BestOf(3, [&] {
        int64_t sum = 0;
        for (auto& table : tables) {
            for (int i = 0; i < kFieldNames; ++i) {
                const char* field = fieldNames[i].c_str();
                switch (i % 4) {
                case 0:
                    sum += table->GetInt(field, 0);
                    break;
                case 1:
                    sum += static_cast<int64_t>(table->GetFloat(field, 0.0f));
                    break;
                case 2:
                    sum += table->GetValue(field, "")[0];
                    break;
                default:
                    sum += table->GetBool(field, false);
                    break;
                }
            }
        }
        benchmark::DoNotOptimize(sum);
    });

    std::error_code ec;
    fs::remove_all(work, ec);

    std::printf(
        "records %d, file %.1f MB; load %.1f ms, raw floor %.1f ms; records %.1f ms, inflate %.1f ms\n",
        kRecords, static_cast<double>(image.size()) / 1e6, loadSeconds * 1e3, rawLoadSeconds * 1e3,
        recordSeconds * 1e3, inflateSeconds * 1e3);
    report.Ratio("database_load_vs_raw", loadSeconds / rawLoadSeconds);
    report.Ratio("record_read_vs_inflate", recordSeconds / inflateSeconds);
    report.Value("field_getter_by_name", getterSeconds * 1e9 / (double(kTables) * kFieldNames), "ns");
    report.Print();
    return 0;
}
