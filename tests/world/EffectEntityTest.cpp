// Effect entities: records, the effect made once the resource is ready, self-removal, light fading,
// and the particles a chaos beam's linked effect emits along the beam.
#include "EffectFixtures.h"

#include "common/LogCapture.h"
#include "common/TempDir.h"
#include "core/Intersect.h"
#include "core/Time.h"
#include "data/EffectResource.h"
#include "data/EngineDataServices.h"
#include "data/LoadTableResources.h"
#include "data/ResourceLoader.h"
#include "world/ChaosBeam.h"
#include "world/Effect.h"
#include "world/EffectData.h"
#include "world/EffectEntity.h"
#include "world/EmitterData.h"
#include "world/PSEditorFileSystem.h"

#include <memory>

namespace GAME::WorldTest {
namespace {

// The engine's part for record tables: effects from the test's effect resource manager.
class TestResources : public LoadTableResources
{
public:
    explicit TestResources(EffectResourceManager& effects) : m_effects(effects) { Install(this); }
    ~TestResources() override { Install(nullptr); }
    GraphicsMesh* LoadMesh(const std::string&) override { return nullptr; }
    GraphicsTexture* LoadTexture(const std::string&) override { return nullptr; }
    GraphicsShader2* LoadShader2(const std::string&) override { return nullptr; }
    GraphicsAnim* LoadAnimation(const std::string&) override { return nullptr; }
    EffectResource* LoadResourceEffect(const std::string& fileName) override
    {
        return m_effects.LoadTypedResource(fileName);
    }

private:
    EffectResourceManager& m_effects;
};

// The data layer's services over a folder the test writes.
class FolderServices : public EngineDataServices
{
public:
    explicit FolderServices(const std::string& folder)
    {
        files.AddSource(FileSystem::PARTITION_0, folder.c_str(), false, false, false);
        Install(this);
    }
    ~FolderServices() override { Install(nullptr); }
    unsigned int GetFrameCount() override { return 1; }
    FileSystem* GetFileSystem() override { return &files; }
    void AddStatisticText(const char*) override {}
    unsigned int GetEngineLogCategory() override { return 0; }
    bool AreGraphicsStatsEnabled() override { return false; }

    FileSystem files;
};

class FrameClock : public MachineClock
{
public:
    bool HasPerformanceCounter() const override { return false; }
    uint64_t GetPerformanceCounter() const override { return 0; }
    uint64_t GetPerformanceFrequency() const override { return 1000; }
    uint32_t GetMilliseconds() const override { return now; }
    void Advance(uint32_t ms)
    {
        now += ms;
        UpdateTime();
    }
    uint32_t now = 1000;
};

EffectData* MakeBurst()
{
    EmitterData* burst = new EmitterData;
    burst->GetCurve(EmitterData::CURVE_EMISSION_SIZE)->SetDomain(0.5f);
    burst->GetCurve(EmitterData::CURVE_EMISSION_RATE)->SetFirstLastY(100.0f, 100.0f);
    burst->SetFloat(EmitterData::FLOAT_LIFE, 0.3f);
    EffectData* data = new EffectData;
    data->AddEmitterData(burst);
    return data;
}

class EffectEntityTest : public WorldFixture
{
protected:
    void SetUp() override
    {
        WorldFixture::SetUp();
        DataKit::ArzWriter writer(true);
        writer.AddRecord("records/fx.dbr")
            .String("Class", "EffectEntity")
            .String("effectFile", "fx/burst.pfx")
            .String("emitterType", "AllBones")
            .Bool("Anchored", true);
        writer.AddRecord("records/plain.dbr")
            .String("Class", "EffectEntity")
            .String("emitterType", "Standard");
        writer.AddRecord("records/beam.dbr").String("Class", "ChaosBeam");
        ASSERT_TRUE(records.Load(writer.Build()));
        // Written the way the particle-system editor saves.
        PSEditor::PSEditorFileSystem editorFiles;
        editorFiles.AddSource(FileSystem::PARTITION_0, dir.Path().c_str(), false, false, false);
        const std::unique_ptr<EffectData> burst(MakeBurst());
        ASSERT_TRUE(burst->Save("fx/burst.pfx", &editorFiles));
        EffectResource::SetEffectDataFactory(EffectData::GetResourceFactory());
        ResetTimeSystem();
        SetMachineClock(&clock);
        InitializeTimeSystem();
        UnpauseGameTime();
    }
    void TearDown() override
    {
        WorldFixture::TearDown();
        SetMachineClock(nullptr);
        ResetTimeSystem();
    }
    EffectEntity* Make(const char* record)
    {
        return ObjectManager::Get()->CreateObjectFromFileAs<EffectEntity>(record, 0, true);
    }
    void Run(Entity* entity, int frames, int ms = 100)
    {
        for (int i = 0; i < frames; ++i) {
            clock.Advance(static_cast<uint32_t>(ms));
            entity->Update(ms);
            if (EffectEntity* e = static_cast<EffectEntity*>(entity); e->GetEffect())
                for (int k = 0; k < e->GetEffect()->GetNumEmitters(); ++k)
                    MarkDrawn(*e->GetEffect()->GetEmitter(k));
        }
    }

    FrameClock clock;
    GAME::Test::TempDir dir;
    FolderServices services{dir.Path()};
    ResourceLoader loader;
    EffectResourceManager effects{&loader};
    TestResources resources{effects};
    TestEmitterGraphics graphics;
};

TEST_F(EffectEntityTest, RecordsSetTheResourceAndTheBoneFlags)
{
    EffectEntity* fx = Make("records/fx.dbr");
    ASSERT_NE(fx, nullptr);
    ASSERT_NE(fx->GetEffectResource(), nullptr);
    EXPECT_STREQ(fx->GetEffectResource()->GetFileName(), "fx/burst.pfx");
    EXPECT_TRUE(fx->GetAllBones());
    EXPECT_TRUE(fx->GetUseBones());
    EXPECT_TRUE(fx->GetAnchored());
    EffectEntity* plain = Make("records/plain.dbr");
    ASSERT_NE(plain, nullptr);
    EXPECT_FALSE(plain->GetAllBones());
    EXPECT_FALSE(plain->GetUseBones());
    EXPECT_EQ(plain->GetEffectResource(), nullptr);
    ObjectManager::Get()->DestroyObjectEx(fx, __FILE__, __LINE__);
    ObjectManager::Get()->DestroyObjectEx(plain, __FILE__, __LINE__);
    Flush();
    EXPECT_EQ(effects.GetReferenceCount("fx/burst.pfx"), 0) << "the entity gave its use back";
}

TEST_F(EffectEntityTest, TheEffectIsMadeOnceTheResourceIsReadyAndAOneOffRemovesItself)
{
    EffectEntity* fx = Make("records/plain.dbr");
    ASSERT_NE(fx, nullptr);
    fx->Load("fx/burst.pfx");
    EXPECT_EQ(fx->GetEffect(), nullptr) << "the file has not been read yet";
    fx->AddToWorld(WorldCoords(region, Coords::Translation(Vec3(5.0f, 0.0f, 5.0f))), true);
    ASSERT_TRUE(fx->IsInWorld());
    Run(fx, 1);
    EXPECT_EQ(fx->GetEffect(), nullptr);

    ASSERT_NE(fx->GetEffectResource()->GetEffectData(), nullptr); // the loader has read it
    Run(fx, 1);
    ASSERT_NE(fx->GetEffect(), nullptr);
    EXPECT_EQ(fx->GetEffect()->GetNumEmitters(), 1);
    Run(fx, 1); // the new emitter's clock starts with the effect
    EXPECT_TRUE(fx->HasActiveParticles());
    // The entity's box is the effect's, moved to the entity.
    EXPECT_TRUE(fx->GetRegionBoundingBox().ContainsPoint(Vec3(5.0f, 0.0f, 5.0f)));

    for (int i = 0; i < 20 && fx->IsInWorld(); ++i)
        Run(fx, 1);
    EXPECT_FALSE(fx->IsInWorld());
    EXPECT_TRUE(ObjectManager::Get()->IsObjectOnDeletedList(fx));
    Flush();
}

TEST_F(EffectEntityTest, WithoutSelfRemovalTheEntityStays)
{
    EffectEntity* fx = Make("records/plain.dbr");
    ASSERT_NE(fx, nullptr);
    fx->Load("fx/burst.pfx");
    fx->GetEffectResource()->GetEffectData();
    fx->AddToWorld(WorldCoords(region, Coords()), true);
    fx->SetSelfRemove(false);
    EXPECT_FALSE(fx->GetSelfRemove());
    Run(fx, 20);
    ASSERT_NE(fx->GetEffect(), nullptr);
    EXPECT_TRUE(fx->GetEffect()->IsComplete());
    EXPECT_TRUE(fx->IsInWorld());
    EXPECT_FALSE(ObjectManager::Get()->IsObjectOnDeletedList(fx));
}

TEST_F(EffectEntityTest, FadedLightsReachZeroInOneSecond)
{
    EffectEntity* fx = Make("records/plain.dbr");
    ASSERT_NE(fx, nullptr);
    level->AddEntity(fx, Coords());
    EXPECT_EQ(fx->GetLightLevel(), 1.0f);
    fx->FadeLight();
    fx->Update(400);
    EXPECT_FLOAT_EQ(fx->GetLightLevel(), 0.6f);
    fx->Update(500);
    EXPECT_NEAR(fx->GetLightLevel(), 0.1f, 1e-5f);
    fx->Update(200);
    EXPECT_EQ(fx->GetLightLevel(), 0.0f);
    fx->Update(1000);
    EXPECT_EQ(fx->GetLightLevel(), 0.0f);
}

TEST_F(EffectEntityTest, DynamicLinesBecomeBones)
{
    EffectEntity* fx = Make("records/plain.dbr");
    ASSERT_NE(fx, nullptr);
    fx->SetDynamicLines({SimpleSeg(Vec3(0.0f, 0.0f, 0.0f), Vec3(0.0f, 3.0f, 0.0f)),
                         SimpleSeg(Vec3(1.0f, 1.0f, 1.0f), Vec3(1.0f, 1.0f, 1.0f))},
                        {true});
    ASSERT_EQ(fx->GetBoneList().size(), 2u);
    EXPECT_FLOAT_EQ(fx->GetBoneList()[0].lengthWeight, 3.0f);
    EXPECT_TRUE(fx->GetBoneList()[0].emitting);
    EXPECT_FALSE(fx->GetBoneList()[1].emitting);
    EXPECT_EQ(fx->GetBoneList()[1].start, Vec3(1.001f, 1.001f, 1.001f));
    EXPECT_GT(fx->GetBoneList()[1].lengthWeight, 0.0f);
    std::vector<EmitterBone> pulled;
    EXPECT_FALSE(fx->PullParentBones(pulled));
    ObjectManager::Get()->DestroyObjectEx(fx, __FILE__, __LINE__);
}

TEST_F(EffectEntityTest, ABeamsLinkedEffectEmitsAlongTheBeamWhereverItGoes)
{
    ChaosBeam* beam = ObjectManager::Get()->CreateObjectFromFileAs<ChaosBeam>("records/beam.dbr", 0, true);
    EffectEntity* fx = Make("records/plain.dbr");
    ASSERT_TRUE(beam && fx);
    {
        // Sparks that outlive one update of 0.1 s but not two: every live one was made in the
        // last update (and there is room for two updates' worth).
        PSEditor::PSEditorFileSystem editorFiles;
        editorFiles.AddSource(FileSystem::PARTITION_0, dir.Path().c_str(), false, false, false);
        const std::unique_ptr<EffectData> sparks(MakeBurst());
        sparks->SetLoop(0, true);
        sparks->GetEmitterData(0)->SetFloat(EmitterData::FLOAT_LIFE, 0.15f);
        sparks->GetEmitterData(0)->GetCurve(EmitterData::CURVE_EMISSION_RATE)->SetFirstLastY(20.0f, 20.0f);
        ASSERT_TRUE(sparks->Save("fx/sparks.pfx", &editorFiles));
    }
    fx->Load("fx/sparks.pfx");
    ASSERT_NE(fx->GetEffectResource()->GetEffectData(), nullptr);
    fx->AddToWorld(WorldCoords(region, Coords()), false);
    beam->SetLinkedEffect(fx);
    Vec3 from(10.0f, 2.0f, 10.0f);
    level->AddEntity(beam, Coords::Translation(from));
    auto frame = [&]() {
        beam->Update(100);
        Run(fx, 1);
    };
    // The particles lie on the beam's strands as they are now.
    auto onTheBeam = [&]() {
        const Emitter& emitter = *fx->GetEffect()->GetEmitter(0);
        for (int i = 0; i < emitter.GetNumParticles(); ++i) {
            const Particle& p = emitter.GetParticle(i);
            float nearest = gInfinity;
            for (const std::vector<Vec3>& strand : beam->GetStrands())
                for (size_t k = 1; k < strand.size(); ++k)
                    nearest = std::min(
                        nearest, (ClosestPointOnSegment(from + strand[k - 1], from + strand[k], p.position) -
                                  p.position)
                                     .Length());
            EXPECT_LT(nearest, 0.05f) << "particle " << i;
        }
        return emitter.GetNumParticles();
    };

    beam->SetEndPoints(WorldVec3(region, from), WorldVec3(region, from + Vec3(6.0f, 0.0f, 0.0f)));
    for (int i = 0; i < 3; ++i)
        frame();
    ASSERT_NE(fx->GetEffect(), nullptr);
    EXPECT_GT(onTheBeam(), 5);

    // The beam moves on and turns: the new particles follow it.
    from = Vec3(40.0f, 5.0f, 30.0f);
    level->MoveEntity(beam, Coords::Translation(from));
    beam->SetEndPoints(WorldVec3(region, from), WorldVec3(region, from + Vec3(0.0f, 1.0f, -5.0f)));
    frame();
    EXPECT_GT(onTheBeam(), 5);
    level->RemoveEntity(beam);
    ObjectManager::Get()->DestroyObjectEx(beam, __FILE__, __LINE__);
    Flush();
}

} // namespace
} // namespace GAME::WorldTest
