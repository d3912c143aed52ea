#include "common/RecordServices.h"
#include "data/LoadTable.h"
#include "data/TableDepot.h"
#include "datakit/ArzWriter.h"

#include <atomic>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

namespace GAME {
namespace {

// Loading threads fetch records through one depot and read their tables by field name, names the
// pool does not hold included, while others read the same tables: the shared pool never changes.
TEST(RecordTablesThreads, TablesAreLoadedAndReadFromManyThreads)
{
    constexpr int kRecords = 200;
    GAME::Test::RecordServices services;
    DataKit::ArzWriter writer(true);
    for (int r = 0; r < kRecords; ++r)
        writer.AddRecord("records\\r" + std::to_string(r) + ".dbr")
            .Int("index", r)
            .Float("half", static_cast<float>(r) / 2.0f)
            .String("label", "label " + std::to_string(r % 17));
    ASSERT_TRUE(services.Load(writer.Build()));
    const unsigned strings = services.archive.GetNumStrings();

    TableDepot depot;
    constexpr int kThreads = 8;
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kRecords; ++i) {
                const int r = (i * 7 + t * 13) % kRecords;
                LoadTable* table = depot.LoadFile("records\\r" + std::to_string(r) + ".dbr");
                const std::string missing = "missing field " + std::to_string(t);
                if (table->GetInt("index", -1) != r ||
                    table->GetFloat("half", -1.0f) != static_cast<float>(r) / 2.0f ||
                    std::string(table->GetValue("label", "")) != "label " + std::to_string(r % 17) ||
                    table->GetInt(missing, -7) != -7 || services.archive.GetStringIndexCached("label") < 0)
                    wrong.fetch_add(1);
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(services.archive.GetNumStrings(), strings);
    EXPECT_EQ(depot.GetStats().uniqueFiles, unsigned(kRecords));
    EXPECT_EQ(depot.GetStats().duplicateReferences, unsigned(kThreads * kRecords - kRecords));
}

} // namespace
} // namespace GAME
