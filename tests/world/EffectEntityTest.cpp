// Effect entities: records, the effect made once the resource is ready, self-removal, light fading.
#include "EffectFixtures.h"

#include "common/LogCapture.h"
#include "data/EffectResource.h"
#include "data/LoadTableResources.h"
#include "data/ResourceFixtures.h"
#include "world/Effect.h"
#include "world/EffectData.h"
#include "world/EffectEntity.h"
#include "world/EmitterData.h"

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

std::string BurstFile()
{
    EffectData data;
    EmitterData* burst = new EmitterData;
    burst->GetCurve(EmitterData::CURVE_EMISSION_SIZE)->SetDomain(0.5f);
    burst->GetCurve(EmitterData::CURVE_EMISSION_RATE)->SetFirstLastY(100.0f, 100.0f);
    burst->SetFloat(EmitterData::FLOAT_LIFE, 0.3f);
    data.AddEmitterData(burst);
    std::vector<uint8_t> bytes;
    data.Write(bytes);
    return std::string(bytes.begin(), bytes.end());
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
        writer.AddRecord("records/plain.dbr").String("Class", "EffectEntity").String("emitterType", "Standard");
        ASSERT_TRUE(records.Load(writer.Build()));
        services.source->Put("fx/burst.pfx", BurstFile());
        EffectResource::SetEffectDataFactory(EffectData::GetResourceFactory());
        UnpauseGameTime();
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

    GAME::Test::ManualClock clock;
    GAME::Test::TestServices services;
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

} // namespace
} // namespace GAME::WorldTest
