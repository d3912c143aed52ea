#include "world/ZoneManager.h"

#include "common/RecordServices.h"
#include "core/ObjectManager.h"
#include "datakit/ArzWriter.h"
#include "world/Region.h"
#include "world/World.h"

#include <cstdlib>
#include <gtest/gtest.h>

namespace GAME {
namespace {

using DataKit::ArzWriter;
using DataKit::NormalizeRecordName;

void AddZone(ArzWriter& writer, const std::string& record, const std::string& tag, int mapIndex)
{
    writer.AddRecord(NormalizeRecordName(record))
        .String("ZoneNameTag", tag)
        .String("TeleportNameTag", tag + "Gate")
        .Int("mapIndex", mapIndex);
}

// Woods and Hills on page 0 (named in mixed case and with '\'), Dunes on page 1, Peak on pages 1
// and 3; "Records/Zones/Ghost.dbr" is listed on page 2 but has no record.
std::vector<uint8_t> ZoneDatabase()
{
    ArzWriter writer(true);
    writer.AddRecord(NormalizeRecordName(ZoneManager::teleportMapRecord))
        .String("GreeceZoneList",
                std::vector<std::string>{"Records/Zones/Woods.dbr", "records\\zones\\HILLS.dbr"})
        .String("EgyptZoneList",
                std::vector<std::string>{"Records/Zones/Dunes.dbr", "Records/Zones/Peak.dbr"})
        .String("OrientZoneList", std::vector<std::string>{"Records/Zones/Ghost.dbr"})
        .String("OlympusZoneList", std::vector<std::string>{"Records/Zones/Peak.dbr"});
    AddZone(writer, "Records/Zones/Woods.dbr", "tagWoods", 1);
    AddZone(writer, "Records/Zones/Hills.dbr", "tagHills", 2);
    AddZone(writer, "Records/Zones/Dunes.dbr", "tagDunes", 3);
    AddZone(writer, "Records/Zones/Peak.dbr", "tagPeak", 4);
    return writer.Build();
}

class ZoneManagerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ObjectManager::Destroy();
        ZoneManager::Destroy();
    }
    void TearDown() override
    {
        ZoneManager::Destroy();
        ObjectManager::Destroy();
    }

    Region* AddRegion(const std::string& zone)
    {
        Region* region = world.GetRegion(world.AddRegion("levels/r.lvl", IntVec3(), ABBox(), RegionId()));
        region->SetZoneRecord(zone);
        return region;
    }

    GAME::Test::RecordServices records;
    World world;
};

TEST_F(ZoneManagerTest, PagesComeFromTheTeleportMapLists)
{
    ASSERT_TRUE(records.Load(ZoneDatabase()));
    ZoneManager* zones = ZoneManager::Get();
    EXPECT_EQ(zones->GetZoneList(0),
              (std::vector<std::string>{"records/zones/woods.dbr", "records/zones/hills.dbr"}));
    EXPECT_EQ(zones->GetZoneList(ZONE_PAGE_1),
              (std::vector<std::string>{"records/zones/dunes.dbr", "records/zones/peak.dbr"}));
    EXPECT_EQ(zones->GetZoneList(3), (std::vector<std::string>{"records/zones/peak.dbr"}));
    EXPECT_EQ(&zones->GetZoneList(7), &zones->GetZoneList(3));
    EXPECT_EQ(&zones->GetZoneList(-1), &zones->GetZoneList(3));

    EXPECT_EQ(zones->GetActFromRegion(AddRegion("Records/Zones/Hills.dbr")), ZONE_PAGE_0);
    EXPECT_EQ(zones->GetActFromRegion(AddRegion("Records\\Zones\\Dunes.dbr")), ZONE_PAGE_1);
    EXPECT_EQ(zones->GetActFromRegion(AddRegion("Records/Zones/Ghost.dbr")), ZONE_PAGE_2);
    EXPECT_EQ(zones->GetActFromRegion(AddRegion("Records/Zones/Peak.dbr")), ZONE_PAGE_1); // the first page
    EXPECT_EQ(zones->GetActFromRegion(AddRegion("Records/Zones/Nowhere.dbr")), ZONE_PAGE_0);
    EXPECT_EQ(zones->GetActFromRegion(AddRegion("")), ZONE_PAGE_0);
    EXPECT_EQ(zones->GetActFromRegion(nullptr), ZONE_PAGE_0);

    const ZoneManager::ZoneData* hills = zones->GetZoneData("RECORDS/ZONES/HILLS.DBR");
    ASSERT_NE(hills, nullptr);
    EXPECT_EQ(hills->zoneNameTag, "tagHills");
    EXPECT_EQ(hills->teleportNameTag, "tagHillsGate");
    EXPECT_EQ(hills->mapIndex, 2);
    EXPECT_EQ(zones->GetZoneData("records/zones/nowhere.dbr"), nullptr);

    // A copy holds the same lists and zones.
    const ZoneManager copy(*zones);
    EXPECT_EQ(copy.GetZoneList(1), zones->GetZoneList(1));
    ASSERT_NE(copy.GetZoneData("records/zones/peak.dbr"), nullptr);
    EXPECT_EQ(copy.GetZoneData("records/zones/peak.dbr")->mapIndex, 4);
}

TEST_F(ZoneManagerTest, TintsAreSteadyAndRegionsAnswerThem)
{
    ASSERT_TRUE(records.Load(ZoneDatabase()));
    std::srand(12345); // other users of the C library's generator change nothing
    for (int i = 0; i < 7; ++i)
        std::rand();
    ZoneManager* zones = ZoneManager::Get();
    const ZoneManager::ZoneData* woods = zones->GetZoneData("records/zones/woods.dbr");
    const ZoneManager::ZoneData* hills = zones->GetZoneData("records/zones/hills.dbr");
    ASSERT_NE(woods, nullptr);
    ASSERT_NE(hills, nullptr);
    // The first zone read takes the generator's first three numbers (41, 18467, 6334), each
    // modulo 255, in every run.
    EXPECT_EQ(woods->tint, Color(41 * 0.003921569f, 107 * 0.003921569f, 214 * 0.003921569f, 1.0f));
    EXPECT_NE(woods->tint, hills->tint);

    const Color woodsTint = woods->tint;
    const Color peakTint = zones->GetZoneData("records/zones/peak.dbr")->tint;
    EXPECT_EQ(AddRegion("Records/Zones/Woods.dbr")->GetTintColor(), woodsTint);
    EXPECT_EQ(AddRegion("Records/Zones/Nowhere.dbr")->GetTintColor(), Color(0, 0, 0, 1));

    // A manager made again gives every zone the same colour.
    ZoneManager::Destroy();
    ObjectManager::Destroy();
    zones = ZoneManager::Get();
    EXPECT_EQ(zones->GetZoneData("records/zones/woods.dbr")->tint, woodsTint);
    EXPECT_EQ(zones->GetZoneData("records/zones/peak.dbr")->tint, peakTint);
    // The four zones, and the listed one whose record is missing (read as an empty record).
    EXPECT_EQ(zones->GetNumZones(), 5);

    // Reading a zone again replaces its data, with a new tint.
    zones->LoadDBR("Records/Zones/Woods.dbr");
    EXPECT_EQ(zones->GetNumZones(), 5);
    EXPECT_NE(zones->GetZoneData("records/zones/woods.dbr")->tint, woodsTint);
    EXPECT_EQ(zones->GetZoneData("records/zones/woods.dbr")->mapIndex, 1);
}

TEST_F(ZoneManagerTest, WithoutTheTeleportMapThereAreNoZones)
{
    ArzWriter writer(true);
    AddZone(writer, "Records/Zones/Woods.dbr", "tagWoods", 1);
    ASSERT_TRUE(records.Load(writer.Build()));
    ZoneManager* zones = ZoneManager::Get();
    for (int page = 0; page < 4; ++page)
        EXPECT_TRUE(zones->GetZoneList(page).empty());
    EXPECT_EQ(zones->GetNumZones(), 0);
    EXPECT_EQ(AddRegion("Records/Zones/Woods.dbr")->GetTintColor(), Color(0, 0, 0, 1));
}

} // namespace
} // namespace GAME
