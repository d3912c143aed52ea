// Light entities: records, intensity, culling and shadows; night lights follow the ambiance.
#include "EngineFixture.h"
#include "LevelFixtures.h"

#include "core/Frustum.h"
#include "core/Plane.h"
#include "scene/GraphicsLight.h"
#include "sound/AmbianceManager.h"
#include "world/Light.h"
#include "world/NightLight.h"

namespace GAME::WorldTest {
namespace {

class LightEntityTest : public WorldFixture
{
protected:
    void SetUp() override
    {
        WorldFixture::SetUp();
        DataKit::ArzWriter writer(true);
        writer.AddRecord("records/light.dbr")
            .String("Class", "Light")
            .Float("color.r", 0.5f)
            .Float("color.g", 0.25f)
            .Float("color.b", 1.0f)
            .Bool("castsShadows", true);
        writer.AddRecord("records/lamp.dbr").String("Class", "Light").Float("radius", 4.0f);
        ASSERT_TRUE(records.Load(writer.Build()));
    }
    Light* Make(const char* record)
    {
        return ObjectManager::Get()->CreateObjectFromFileAs<Light>(record, 0, true);
    }
};

TEST_F(LightEntityTest, RecordsAndIntensity)
{
    Light* light = Make("records/light.dbr");
    ASSERT_NE(light, nullptr);
    EXPECT_EQ(light->GetRadius(), 0.0f) << "a record without a radius overrides the constructor's 10";
    EXPECT_EQ(light->GetColor(), Color(0.5f, 0.25f, 1.0f, 1.0f));
    EXPECT_TRUE(light->GetShadowCasting());
    level->AddEntity(light, Coords::Translation(Vec3(3.0f, 0.0f, 3.0f)));
    light->Update(16);
    EXPECT_EQ(light->GetRegionBoundingBox().extents, Vec3());
    EXPECT_TRUE(light->GetShouldRenderAcrossPortals());

    light->SetIntensity(-0.5f);
    EXPECT_EQ(light->GetIntensity(), 0.0f);
    light->SetIntensity(3.0f);
    EXPECT_EQ(light->GetIntensity(), 1.0f);
    light->SetIntensity(0.4f);
    EXPECT_EQ(light->GetIntensity(), 0.4f);
    light->SetIntensity(std::nanf(""));
    EXPECT_EQ(light->GetIntensity(), 0.0f);

    light->SetRadius(2.5f);
    EXPECT_EQ(light->GetRegionBoundingBox(), ABBox(Vec3(3.0f, 0.0f, 3.0f), Vec3(2.5f, 2.5f, 2.5f)));
}

TEST_F(LightEntityTest, CullingAndShadowRules)
{
    Light* light = Make("records/lamp.dbr");
    ASSERT_NE(light, nullptr);
    level->AddEntity(light, Coords::Translation(Vec3(10.0f, 0.0f, 0.0f)));
    light->SetColor(Color(1.0f, 0.5f, 0.0f, 0.3f));
    light->SetIntensity(0.5f);

    GraphicsLight out;
    ASSERT_TRUE(light->BuildGraphicsLight(nullptr, false, out));
    EXPECT_EQ(out.GetType(), GraphicsLight::TYPE_POINT);
    EXPECT_EQ(out.GetColor(), Color(0.5f, 0.25f, 0.0f, 1.0f));
    EXPECT_EQ(out.GetRadius(), 4.0f);
    EXPECT_EQ(out.GetObjectToWorldCoords().GetOrigin().GetRegionPosition(), Vec3(10.0f, 0.0f, 0.0f));
    EXPECT_FALSE(out.GetCastsShadows());

    // A frustum whose one plane keeps x below 5: the sphere (x 6 to 14) lies behind it.
    Frustum frustum;
    frustum.AddPlane(Plane(Vec3(-1.0f, 0.0f, 0.0f), 5.0f));
    EXPECT_FALSE(light->BuildGraphicsLight(&frustum, false, out));
    Frustum wider;
    wider.AddPlane(Plane(Vec3(-1.0f, 0.0f, 0.0f), 7.0f));
    EXPECT_TRUE(light->BuildGraphicsLight(&wider, false, out));

    light->SetShadowCasting(true);
    ASSERT_TRUE(light->BuildGraphicsLight(nullptr, false, out));
    EXPECT_TRUE(out.GetCastsShadows());
    ASSERT_TRUE(light->BuildGraphicsLight(nullptr, true, out));
    EXPECT_FALSE(out.GetCastsShadows()) << "low-quality lighting drops shadows";
    light->SetForceShadows(true);
    ASSERT_TRUE(light->BuildGraphicsLight(nullptr, true, out));
    EXPECT_TRUE(out.GetCastsShadows());

    light->Disable();
    EXPECT_FALSE(light->BuildGraphicsLight(nullptr, false, out));
    light->Enable();
    EXPECT_TRUE(light->BuildGraphicsLight(nullptr, false, out));

    // Picking only in editor mode, with a surface.
    Intersection hit;
    const Ray ray(Vec3(0.0f, 0.0f, 0.0f), Vec3(1.0f, 0.0f, 0.0f));
    light->GetIntersection(ray, hit, 1);
    EXPECT_FALSE(hit.IsHit());
    services.editor = true;
    light->GetIntersection(ray, hit, 0);
    EXPECT_FALSE(hit.IsHit());
    light->GetIntersection(ray, hit, 1);
    EXPECT_FLOAT_EQ(hit.distance, 6.0f);
    EXPECT_EQ(hit.point, Vec3(6.0f, 0.0f, 0.0f));
    level->RemoveEntity(light);
    ObjectManager::Get()->DestroyObjectEx(light, __FILE__, __LINE__);
    Flush();
    services.editor = false;
}

TEST(GraphicsLightTest, DefaultsAndCopies)
{
    GraphicsLight light;
    EXPECT_EQ(light.GetType(), GraphicsLight::TYPE_POINT);
    EXPECT_EQ(light.GetColor(), Color(1.0f, 1.0f, 1.0f, 1.0f));
    EXPECT_EQ(light.GetRadius(), 10.0f);
    EXPECT_EQ(light.GetShadowIntensity(), 1.0f);
    EXPECT_FALSE(light.GetCastsShadows());
    EXPECT_EQ(light.GetObjectToWorldCoords().GetRegion(), nullptr);
}

using NightLightTest = GAME::Test::EngineTest;

TEST_F(NightLightTest, NightLightsFollowTheAmbiance)
{
    GAME::Test::TestEngine& e = Start();
    ASSERT_NE(e.GetAmbianceManager(), nullptr);
    NightLight* light = static_cast<NightLight*>(
        static_cast<Object*>(Object::GetStaticClassInfo().CreateInstance("NightLight")));
    ASSERT_NE(light, nullptr);
    EXPECT_TRUE(light->GetClassInfo().IsA(Light::GetStaticClassInfo()));
    light->SetIntensity(0.2f);
    light->SetShadowIntensity(0.0f);
    for (int i = 0; i < 3; ++i) {
        Frame(16);
        light->Update(16);
        const AmbianceManager* ambiance = e.GetAmbianceManager();
        const float scale = ambiance->GetNightLightScale();
        EXPECT_FLOAT_EQ(light->GetIntensity(), scale < 0.0f ? 0.0f : (scale > 1.0f ? 1.0f : scale));
        EXPECT_FLOAT_EQ(light->GetShadowIntensity(), ambiance->GetShadowIntensity());
    }
    ObjectManager::Get()->DestroyObjectEx(light, __FILE__, __LINE__);
    ObjectManager::Get()->DestroyPendingObjects(UINT_MAX);
}

} // namespace
} // namespace GAME::WorldTest
