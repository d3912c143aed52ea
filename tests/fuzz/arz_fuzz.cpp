// Loads an ARZ record database image, as the main database and merged over a small base, then
// reads every record into a binary table and asks it for its fields.
#include "common/FuzzSeeds.h"
#include "common/QuietLog.h"
#include "core/Log.h"
#include "data/BinaryReader.h"
#include "data/DatabaseArchive.h"
#include "data/LoadTableBinary.h"
#include "datakit/ArzWriter.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {

std::vector<uint8_t> Sample(bool compressed, bool footer, int records)
{
    DataKit::ArzWriter writer(compressed);
    writer.SetFooter(footer);
    for (int r = 0; r < records; ++r) {
        writer.AddRecord("records\\items\\item" + std::to_string(r) + ".dbr")
            .String("Class", "Item")
            .Int("level", std::vector<int32_t>{r, r + 1, -r})
            .Float("weight", 0.5f * static_cast<float>(r))
            .Bool("unique", r % 2 == 0)
            .String("tags", std::vector<std::string>{"common", "tag" + std::to_string(r % 3)});
    }
    return writer.Build();
}

// Strings stored twice and fields of a type the engine does not know.
std::vector<uint8_t> Odd(bool compressed)
{
    DataKit::ArzWriter writer(compressed);
    uint32_t a = writer.AppendString("twice");
    uint32_t b = writer.AppendString("twice");
    uint32_t name = writer.AppendString("field");
    writer.AddRecordRaw(writer.AppendString("Records/Odd.DBR"))
        .Raw(7, name, {})
        .Raw(GAME::DatabaseArchive::FIELD_STRING, name, {a, b})
        .Raw(GAME::DatabaseArchive::FIELD_BOOL, b, {0, 5});
    return writer.Build();
}

void ReadEverything(GAME::DatabaseArchive& archive)
{
    std::vector<std::string> names;
    archive.GetRecordNames(names);
    // Inflation is bounded per input so one image cannot keep the fuzzer busy for long.
    uint64_t budget = 16u << 20;
    std::FILE* sink = std::fopen("/dev/null", "w");
    for (const std::string& name : names) {
        const void* body = nullptr;
        unsigned size = 0;
        if (budget == 0 || !archive.GetRecord(name, body, size))
            continue;
        budget -= size < budget ? size : budget;
        GAME::LoadTableBinary table(&archive);
        GAME::BinaryReader reader(body, size);
        table.Deserialize(reader);
        std::vector<int> ints;
        std::vector<float> reals;
        std::vector<std::string> values;
        for (const char* field : {"Class", "level", "weight", "unique", "tags", "field", "twice"}) {
            table.GetInt(field, 0);
            table.GetArrayReal(field, 5, 0.0f);
            table.GetArrayValue(field, 3, "");
            table.GetBool(field, false);
            table.GetArrayInt(field, ints);
            table.GetArrayReal(field, reals);
            table.GetArrayValue(field, values);
        }
        if (sink)
            table.Serialize(sink);
    }
    if (sink)
        std::fclose(sink);
}

} // namespace

void EngineFuzzSeeds(FuzzSeedSink& sink)
{
    sink.Add("empty.arz", Sample(true, false, 0));
    sink.Add("compressed.arz", Sample(true, false, 4));
    sink.Add("stored.arz", Sample(false, false, 3));
    sink.Add("footer.arz", Sample(true, true, 2));
    sink.Add("odd-compressed.arz", Odd(true));
    sink.Add("odd-stored.arz", Odd(false));
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzLog::Silence();
    if (size > (64u << 20))
        return 0;

    GAME::DatabaseArchive main;
    if (main.Load(data, static_cast<unsigned>(size), false)) {
        FuzzAccepted();
        ReadEverything(main);
    }

    // Merged over a base of each kind, so the input's indices are translated.
    static const std::vector<uint8_t> bases[2] = {Sample(true, true, 2), Sample(false, true, 2)};
    for (const auto& base : bases) {
        GAME::DatabaseArchive merged;
        if (!merged.Load(base.data(), static_cast<unsigned>(base.size()), false))
            continue;
        if (merged.Load(data, static_cast<unsigned>(size), true))
            ReadEverything(merged);
    }
    return 0;
}
