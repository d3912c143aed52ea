#include "EngineFixture.h"

#include "core/Log.h"
#include "core/ObjectManager.h"
#include "data/DatabaseArchive.h"
#include "graphics/GraphicsServices.h"
#include "graphics/ResetObject.h"
#include "network/NetworkPacketCreatorBase.h"
#include "platform/SystemInfo.h"
#include "scene/SceneServices.h"
#include "sound/AmbianceManager.h"
#include "world/StatisticsWidget.h"
#include "world/Tracker.h"
#include "world/World.h"
#include "world/WorldServices.h"

namespace GAME {
namespace {

using Test::EngineTest;

TEST_F(EngineTest, LogCategoriesAndEveryLibraryLineReachTheHostsLog)
{
    GAME::Test::TestEngine& e = Make();
    unsigned int engineCategory = e.CreateLogCategory("Engine");
    EXPECT_EQ(engineCategory, 1u);
    EXPECT_EQ(e.CreateLogCategory("Engine"), 1u);
    EXPECT_EQ(e.CreateLogCategory("Sound"), 2u);
    e.RemoveLogCategory(engineCategory);
    EXPECT_EQ(engineCategory, 0u);
    EXPECT_EQ(e.CreateLogCategory("Engine"), 1u);

    LogPrintfCategory(2, 2, "from %s", "sound");
    LogPrintf(1, "plain %d", 7);
    const auto lines = e.Lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].priority, 2);
    EXPECT_EQ(lines[0].category, 2u);
    EXPECT_EQ(lines[0].text, "from sound");
    EXPECT_EQ(lines[1].category, 0u);
    EXPECT_EQ(lines[1].text, "plain 7");

    // Without a statistics widget (before start-up) statistics go nowhere.
    e.AddStatisticText("early %d", 1);
    e.Initialize(nullptr, settings, false, false, &files);
    e.AddStatisticText("frame %d", 2);
    Tracker::Get()->IncrementInt("FrameStats", "hits");
    Tracker::Get()->DisplayFrameStats();
    const std::vector<StatisticsWidget::Entry> entries = e.GetStatisticsWidget()->TakeEntries();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].text, "frame 2");
    EXPECT_EQ(entries[1].text, "hits - 1");
    Tracker::Destroy();
}

class Packets : public NetworkPacketCreatorBase
{
public:
    NetPacket* CreatePacket(PACKET_TYPE type) override { return new NetPacket(type); }
};

TEST_F(EngineTest, TheNetworkRoleDecidesTheHostIdOfNewObjects)
{
    GAME::Test::TestEngine& e = Start();
    ObjectManager* objects = ObjectManager::Get();
    EXPECT_EQ(objects->CreateObjectID() >> ObjectManager::kHostShift, 0u);

    e.SetAsNetworkClient();
    EXPECT_TRUE(e.IsNetworkClient() && e.IsNetworkEnabled());
    // A client does not know its host id before a server gave it one: no ids yet.
    EXPECT_EQ(objects->CreateObjectID(), 0u);

    e.SetAsNetworkServer();
    EXPECT_TRUE(e.IsNetworkServer());
    EXPECT_NE(e.GetNetworkEntityList(), nullptr);
    EXPECT_NE(objects->CreateObjectID(), 0u);

    e.ShutdownNetwork();
    EXPECT_FALSE(e.IsNetworkServer() || e.IsNetworkClient() || e.IsNetworkEnabled());
    EXPECT_EQ(e.GetNetworkEntityList(), nullptr);

    EXPECT_EQ(e.CreateNetPacket(PACKET_TYPE_SPAWN_ACTOR), nullptr);
    Packets creator;
    e.SetNetPacketCreator(&creator);
    NetPacket* packet = e.CreateNetPacket(PACKET_TYPE_SPAWN_ACTOR);
    ASSERT_NE(packet, nullptr);
    EXPECT_EQ(packet->GetType(), PACKET_TYPE_SPAWN_ACTOR);
    delete packet;
}

TEST_F(EngineTest, ModAndCustomDatabasesReportWhetherTheyReallyLoaded)
{
    DataKit::ArzWriter custom;
    custom.AddRecord(DataKit::NormalizeRecordName("Records/Custom/Thing.dbr")).String("Class", "Thing");
    ASSERT_TRUE(custom.Save(dir.File("Custom.arz")));
    ASSERT_TRUE(dir.Write("Broken.arz", "ARZ but not a database at all"));
    GAME::Test::TestEngine& e = Start();

    e.LoadCustomMapDatabase("Custom.arz");
    DatabaseArchive* database = e.GetDatabaseArchive();
    EXPECT_TRUE(database->HasRecord(DataKit::SampleGameData::utilityFontStyleRecord));
    EXPECT_TRUE(database->HasRecord("Records/Custom/Thing.dbr"));

    // The mod's database is looked for through every source: found and sound, found and
    // damaged, or missing.
    EXPECT_TRUE(e.InitializeMod("Custom"));
    EXPECT_FALSE(e.InitializeMod("Broken"));
    EXPECT_FALSE(e.Has("Loaded database archive: Broken.arz"));
    EXPECT_FALSE(e.InitializeMod("Missing"));
    EXPECT_TRUE(e.Has("Unable to open database archive: Missing.arz", 2));
    // The main database was reloaded each time.
    EXPECT_TRUE(e.GetDatabaseArchive()->HasRecord(DataKit::SampleGameData::utilityFontStyleRecord));
}

class CountingReset : public ResetObject
{
public:
    void PreDeviceReset() override { ++pre; }
    void PostDeviceReset() override { ++post; }
    int pre = 0;
    int post = 0;
};

class Pending : public Object
{
public:
    ~Pending() override { ++deleted; }
    static inline int deleted = 0;
};

TEST_F(EngineTest, DeviceResetCallsResetObjectsAndDestroysEveryPendingObject)
{
    GAME::Test::TestEngine& e = Start();
    CountingReset twice, once;
    e.RegisterResetObject(&twice);
    e.RegisterResetObject(&once);
    e.RegisterResetObject(&twice);
    for (int i = 0; i < 30; ++i)
        ObjectManager::Get()->DestroyObjectEx(new Pending, __FILE__, __LINE__);

    e.PreDeviceReset();
    EXPECT_TRUE(e.IsInDeviceReset());
    EXPECT_EQ(Pending::deleted, 30);
    e.PostDeviceReset();
    EXPECT_FALSE(e.IsInDeviceReset());
    EXPECT_EQ(twice.pre, 2);
    EXPECT_EQ(twice.post, 2);
    EXPECT_EQ(once.post, 1);
    EXPECT_LT(e.Find("PreDeviceReset", 0), e.Find("PostDeviceReset", 0));

    e.UnregisterResetObject(&twice);
    e.PreDeviceReset();
    e.PostDeviceReset();
    EXPECT_EQ(twice.pre, 2);
    EXPECT_EQ(once.pre, 2);
}

class Chunk : public MapChunkCallback
{
public:
    explicit Chunk(unsigned id) : MapChunkCallback(id) {}
    void ReadChunk(BinaryReader&) override {}
};

TEST_F(EngineTest, TheWorldReachesTheEnginesSectorDataAndChunkCallbacks)
{
    GAME::Test::TestEngine& e = Start();
    EXPECT_EQ(WorldServices::SectorData(), e.GetSectorDataManager());
    auto* first = new Chunk(0x40);
    EXPECT_TRUE(e.GetWorld()->InstallMapChunkCallback(first));
    Chunk second(0x40);
    EXPECT_FALSE(e.InstallMapChunkCallback(&second));
    EXPECT_TRUE(e.Has("Duplicate MapChunkCallback being installed for Id 64", 2));
    EXPECT_EQ(e.GetChunkCallbackMap().Find(0x40), first);
    EXPECT_FALSE(e.InstallMapChunkCallback(nullptr));
    // The installed callback is the engine's: shut-down deletes it (the leak check would see it).
    e.Shutdown();
    EXPECT_EQ(e.GetChunkCallbackMap().GetNumCallbacks(), 0u);
}

TEST_F(EngineTest, GraphicsReachesTheEngineItWasGivenUntilThatEngineGoes)
{
    GAME::Test::TestEngine& e = Start();
    ASSERT_NE(e.GetGraphicsEngine(), nullptr);
    EXPECT_EQ(GraphicsServices::Graphics(), e.GetGraphicsEngine());
    EXPECT_EQ(GraphicsServices::UpdateTime(), e.GetUpdateTime());
    // A second engine takes its place; the first one going leaves the second's answers in place.
    auto second = std::make_unique<Engine>();
    GraphicsServices* secondServices = GraphicsServices::Get();
    EXPECT_NE(secondServices, nullptr);
    EXPECT_EQ(GraphicsServices::Graphics(), nullptr);
    engine.reset();
    EXPECT_EQ(GraphicsServices::Get(), secondServices);
    second.reset();
    EXPECT_EQ(GraphicsServices::Get(), nullptr);
    EXPECT_EQ(GraphicsServices::UtilityFontStyle(), Engine::defaultUtilityFontStyle);
    EXPECT_TRUE(GraphicsServices::CharacterProcessing());
}

TEST_F(EngineTest, TheSceneReachesTheEnginesInputAndAmbianceUntilThatEngineGoes)
{
    GAME::Test::TestEngine& e = Start();
    ASSERT_NE(e.GetInputDevice(), nullptr);
    const AmbianceManager* ambiance = e.GetAmbianceManager();
    ASSERT_NE(ambiance, nullptr);
    EXPECT_EQ(SceneServices::Input(), e.GetInputDevice());
    EXPECT_EQ(SceneServices::WorldRegionCount(), e.GetWorld()->GetNumRegions());
    for (int environment = 0; environment < 2; ++environment) {
        Color light, sky, ground;
        ASSERT_TRUE(SceneServices::AmbianceTint(environment, light, sky, ground));
        EXPECT_EQ(light, ambiance->GetLightColor(environment));
        EXPECT_EQ(sky, ambiance->GetSkyAmbientColor(environment));
        EXPECT_EQ(ground, ambiance->GetGroundAmbientColor(environment));
    }
    engine.reset();
    EXPECT_EQ(SceneServices::Get(), nullptr);
    EXPECT_EQ(SceneServices::Input(), nullptr);
    Color untouched(0.25f, 0.5f, 0.75f, 1.0f), sky, ground;
    EXPECT_FALSE(SceneServices::AmbianceTint(1, untouched, sky, ground));
    EXPECT_EQ(untouched, Color(0.25f, 0.5f, 0.75f, 1.0f));
    EXPECT_EQ(SceneServices::WorldRegionCount(), 0);
}

TEST(ProcessorCores, ComeFromTheTopologyAndAreNeverZero)
{
    const unsigned int cores = GetNumberOfProcessorCores();
    EXPECT_GE(cores, 1u);
    EXPECT_LE(cores, Platform::GetLogicalProcessorCount());
    EXPECT_EQ(GetNumberOfProcessorCores(), cores);
}

} // namespace
} // namespace GAME
