#include "data/TableDepot.h"
#include "common/LogCapture.h"
#include "common/RecordServices.h"
#include "common/TempDir.h"
#include "data/LoadTable.h"
#include "datakit/ArzWriter.h"
#include "platform/SystemInfo.h"

#include <gtest/gtest.h>

namespace GAME {
namespace {

TEST(TableDepot, CachesTablesByExactNameAndLooksForMissingRecordsOnce)
{
    GAME::Test::RecordServices services;
    DataKit::ArzWriter writer(true);
    writer.AddRecord("records\\a.dbr").String("Class", "Thing").Int("hp", 4);
    ASSERT_TRUE(services.Load(writer.Build()));

    TableDepot depot;
    GAME::Test::LogCapture log;
    LoadTable* a = depot.LoadFile("records\\a.dbr");
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->GetInt("hp", 0), 4);
    EXPECT_EQ(depot.LoadFile("records\\a.dbr"), a);
    EXPECT_EQ(depot.GetLoadTable("records\\a.dbr"), a);
    // Another spelling is another cache entry, found in the database all the same.
    LoadTable* spelled = depot.LoadFile("Records/A.dbr");
    EXPECT_NE(spelled, a);
    EXPECT_EQ(spelled->GetInt("hp", 0), 4);
    // Not cached: the depot's empty table, and nothing is loaded.
    LoadTable* none = depot.GetLoadTable("records\\other.dbr");
    ASSERT_NE(none, nullptr);
    EXPECT_EQ(none->GetInt("hp", -1), -1);
    EXPECT_EQ(log.Count(), 0u);

    LoadTable* missing = depot.LoadFile("records\\missing.dbr");
    ASSERT_NE(missing, nullptr);
    EXPECT_EQ(missing->GetInt("hp", -1), -1);
    EXPECT_EQ(depot.LoadFile("records\\missing.dbr"), missing);
    ASSERT_EQ(log.Count(), 1u);
    EXPECT_TRUE(log.Contains("TableDepot::Unable to open file (records\\missing.dbr)", 1));
    EXPECT_TRUE(depot.IsMissing("records\\missing.dbr"));

    std::string className;
    EXPECT_EQ(depot.LoadRecord("records\\a.dbr", className), a);
    EXPECT_EQ(className, "Thing");
    EXPECT_EQ(depot.LoadRecord("records\\missing.dbr", className), nullptr);
    EXPECT_EQ(className, "");

    TableDepot::Stats stats = depot.GetStats();
    EXPECT_EQ(stats.uniqueFiles, 3u);
    EXPECT_EQ(stats.duplicateReferences, 4u);
    EXPECT_EQ(stats.missingFiles, 1u);

    log.Clear();
    depot.DumpStats();
    std::vector<std::string> lines = log.Texts();
    ASSERT_EQ(lines.size(), 10u);
    EXPECT_EQ(lines[0], "^gTable Depot Statistics:");
    EXPECT_EQ(lines[1], "^g  3 - Unique Files Loaded");
    EXPECT_EQ(lines[2], "^g  4 - Duplicate Files Referenced");
    EXPECT_EQ(lines[3], "^g  1 - Missing Files");
    EXPECT_EQ(lines[9], "^g  Unavailable");

    depot.ClearCache();
    EXPECT_EQ(depot.GetLoadTable("records\\a.dbr")->GetInt("hp", -1), -1);
    EXPECT_EQ(depot.LoadFile("records\\a.dbr")->GetInt("hp", 0), 4);
}

TEST(TableDepot, FindsEveryRecordAfreshInTheDatabaseInstalledNext)
{
    TableDepot depot;
    auto database = [](int hp) {
        DataKit::ArzWriter writer(true);
        writer.AddRecord("records\\a.dbr").String("Class", "Thing").Int("hp", hp);
        return writer.Build();
    };
    {
        // Before any database: missing, and logged.
        GAME::Test::LogCapture log;
        std::string className;
        EXPECT_EQ(depot.LoadRecord("records\\a.dbr", className), nullptr);
        EXPECT_TRUE(depot.IsMissing("records\\a.dbr"));
    }
    LoadTable* first = nullptr;
    {
        GAME::Test::RecordServices services;
        ASSERT_TRUE(services.Load(database(4)));
        EXPECT_FALSE(depot.IsMissing("records\\a.dbr"));
        first = depot.LoadFile("records\\a.dbr");
        EXPECT_EQ(first->GetInt("hp", 0), 4);
    }
    // The first database is gone: its tables are never handed out again.
    GAME::Test::RecordServices services;
    ASSERT_TRUE(services.Load(database(7)));
    LoadTable* second = depot.LoadFile("records\\a.dbr");
    EXPECT_NE(second, first);
    EXPECT_EQ(second->GetInt("hp", 0), 7);
    EXPECT_EQ(depot.GetLoadTable("records\\a.dbr"), second);
}

// An engine installs its record services as it starts and removes them as it stops, and a process
// that starts engines again and again (a tool, a fuzzer) changes them every time. A retired table
// stays readable while the services after it are in force; the heap holds at most the cache and
// the one retired before it, however often the services change (64 changes of a 512 KiB record would
// keep 32 MiB).
TEST(TableDepot, KeepsOneRetiredCacheHoweverOftenTheServicesChange)
{
    DataKit::ArzWriter writer(true);
    DataKit::ArzWriter::Record& big = writer.AddRecord("records\\big.dbr").String("Class", "Thing");
    for (int field = 0; field < 8; ++field) // a field holds up to 65535 values
        big.Int("values" + std::to_string(field), std::vector<int32_t>(16384, 7));
    GAME::Test::RecordServices services;
    ASSERT_TRUE(services.Load(writer.Build()));
    TableDepot depot;
    LoadTable* held = depot.LoadFile("records\\big.dbr");
    TableDepot::SetServices(nullptr);
    TableDepot::SetServices(&services);
    LoadTable* next = depot.LoadFile("records\\big.dbr");
    EXPECT_NE(next, held);
    EXPECT_EQ(held->GetArrayInt("values3", 100, 0), 7);
    EXPECT_EQ(next->GetArrayInt("values3", 100, 0), 7);

    const uint64_t before = Platform::GetProcessHeapBytes();
    for (int change = 0; change < 64; ++change) {
        TableDepot::SetServices(nullptr);
        TableDepot::SetServices(&services);
        ASSERT_EQ(depot.LoadFile("records\\big.dbr")->GetArrayInt("values7", 5, 0), 7);
    }
    EXPECT_LT(Platform::GetProcessHeapBytes(), before + (8u << 20));
}

TEST(TableDepot, ReadsTextTablesThroughTheFileSystemWhenTheDatabaseIsOff)
{
    GAME::Test::TempDir dir;
    ASSERT_TRUE(dir.Write("records/items/t.dbr", "Class,Thing,\nspeed,1.5,\nlist,3;4;5,\n"));
    GAME::Test::RecordServices services;
    services.fromArchive = false;
    ASSERT_TRUE(
        services.fileSystem.AddSource(FileSystem::PARTITION_0, dir.Path().c_str(), false, false, false));

    TableDepot depot;
    GAME::Test::LogCapture log;
    std::string className;
    LoadTable* table = depot.LoadRecord("Records\\Items\\T.dbr", className);
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(className, "Thing");
    EXPECT_FLOAT_EQ(table->GetFloat("speed", 0.0f), 1.5f);
    EXPECT_EQ(table->GetArrayInt("list", 10, -1), 5);
    EXPECT_EQ(log.Count(), 0u);
    EXPECT_EQ(depot.LoadRecord("records\\items\\gone.dbr", className), nullptr);
    EXPECT_TRUE(log.Contains("TableDepot::Unable to open file (records\\items\\gone.dbr)"));
}

} // namespace
} // namespace GAME
