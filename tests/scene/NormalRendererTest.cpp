// The normal renderer's bands, light loop, shadows, fog and transparent passes, the reflection
// manager's plane merging and the transparency manager's blend amounts, recorded through the
// software device with renderables made in the test.
#include "SceneRenderFixtures.h"

#include "core/Time.h"
#include "scene/GraphicsReflectionManager.h"
#include "scene/GraphicsTransparencyManager.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace GAME::SceneRenderTest {
namespace {

const std::vector<std::string> kFrameStyles = {
    "ambientLightStyle",         "dLightDiffuseStyle", "pLightDiffuseStyle", "dLightDiffuseAmbientStyle",
    "pLightDiffuseAmbientStyle", "depthStyle",         "emissiveStyle",      "fogStyle",
    "transparencyMaskStyle"};

class NormalRendererTest : public SceneRenderFixture
{
protected:
    void SetUp() override
    {
        SceneRenderFixture::SetUp();
        shader = Shader("shaders/scene.ssh", kFrameStyles);
        ASSERT_TRUE(shader && shader->GetIsReadyToUse());
        region = MakeRegion();
        camera.SetCoords(Coords::Translation(Vec3(0, 0, -20)));
        ASSERT_TRUE(Canvas().BeginFrame());
    }
    void TearDown() override
    {
        if (engine && engine->GetCanvas())
            Canvas().EndFrame();
        SceneRenderFixture::TearDown();
    }

    // A renderable with a pass in every frame style at the sort order.
    std::unique_ptr<TestRenderable> Make(const std::string& name, int sortOrder, const Vec3& centre,
                                         float opacity = 1.0f, const GraphicsTexture* texture = nullptr)
    {
        auto r = std::make_unique<TestRenderable>(name, ABBox(centre, Vec3(1, 1, 1)), &draws);
        for (const std::string& style : kFrameStyles)
            r->SetPasses(style, {{sortOrder, shader, style, texture, opacity}});
        return r;
    }
    void Setup(GraphicsNormalRenderer& renderer, std::initializer_list<TestRenderable*> renderables)
    {
        renderer.SetViewer(region, camera, viewport, camera.GetFrustum(viewport));
        renderer.SetRegionToSceneCoords(region, Coords());
        for (TestRenderable* r : renderables)
            renderer.AddRenderable(r, region);
    }
    std::vector<std::string> Sequence() const
    {
        std::vector<std::string> result;
        for (const Draw& draw : draws)
            result.push_back(draw.renderable + ":" + draw.style);
        return result;
    }
    static GraphicsLight Directional(bool shadows = false)
    {
        GraphicsLight light;
        light.SetType(GraphicsLight::TYPE_DIRECTIONAL);
        light.SetCastsShadows(shadows);
        light.SetObjectToWorldCoords(
            WorldCoords(nullptr, Coords::LookInDirection(Vec3(), Vec3(0, 1, 0).Unit(), Vec3(1, 0, 0))));
        return light;
    }
    GraphicsLight Point(const Vec3& at, float radius, bool shadows = false)
    {
        GraphicsLight light;
        light.SetType(GraphicsLight::TYPE_POINT);
        light.SetRadius(radius);
        light.SetCastsShadows(shadows);
        light.SetObjectToWorldCoords(WorldCoords(region, Coords::Translation(at)));
        return light;
    }

    GraphicsShader2* shader = nullptr;
    Region* region = nullptr;
    Camera camera;
    Viewport viewport = Viewport(0, 0, 320, 240);
    std::vector<Draw> draws;
};

TEST_F(NormalRendererTest, BandsAndStylesFollowTheLights)
{
    auto opaque = Make("o", 500, Vec3());
    auto late = Make("l", 5000, Vec3());
    {
        GraphicsNormalRenderer renderer;
        Setup(renderer, {opaque.get(), late.get()});
        renderer.Render(Canvas(), false, false);
        const std::vector<std::string> none = {"o:ambientLightStyle", "l:ambientLightStyle",
                                               "o:emissiveStyle", "l:emissiveStyle"};
        EXPECT_EQ(Sequence(), none);
    }
    draws.clear();
    {
        GraphicsNormalRenderer renderer;
        Setup(renderer, {opaque.get(), late.get()});
        renderer.AddLight(Directional());
        renderer.Render(Canvas(), false, false);
        const std::vector<std::string> one = {"o:dLightDiffuseAmbientStyle", "l:dLightDiffuseAmbientStyle",
                                              "o:emissiveStyle", "l:emissiveStyle"};
        EXPECT_EQ(Sequence(), one);
    }
    draws.clear();
    {
        // The directional light covers the whole view and goes first; the point light's sphere
        // reaches only the first renderable.
        auto farAway = Make("f", 500, Vec3(30, 0, 0));
        GraphicsNormalRenderer renderer;
        Setup(renderer, {opaque.get(), farAway.get(), late.get()});
        renderer.AddLight(Point(Vec3(0, 0, 0), 3.0f));
        renderer.AddLight(Directional());
        renderer.Render(Canvas(), false, false);
        const std::vector<std::string> two = {"o:dLightDiffuseAmbientStyle",
                                              "f:dLightDiffuseAmbientStyle",
                                              "o:pLightDiffuseStyle",
                                              "l:dLightDiffuseAmbientStyle",
                                              "l:pLightDiffuseStyle",
                                              "o:emissiveStyle",
                                              "f:emissiveStyle",
                                              "l:emissiveStyle"};
        EXPECT_EQ(Sequence(), two);
    }
    draws.clear();
    {
        // A point light first in line: the middle band gets its ambient passes alone.
        GraphicsNormalRenderer renderer;
        Setup(renderer, {opaque.get(), late.get()});
        renderer.AddLight(Point(Vec3(0, 0, -2), 5.0f));
        renderer.Render(Canvas(), false, false);
        const std::vector<std::string> point = {"o:pLightDiffuseAmbientStyle", "l:ambientLightStyle",
                                                "l:pLightDiffuseStyle", "o:emissiveStyle", "l:emissiveStyle"};
        EXPECT_EQ(Sequence(), point);
    }
    draws.clear();
    {
        // Lighting off: no light elements, ambient only; a light behind the camera is dropped.
        GraphicsNormalRenderer renderer;
        Setup(renderer, {opaque.get()});
        renderer.AddLight(Directional());
        renderer.EnableLighting(false);
        renderer.Render(Canvas(), false, false);
        EXPECT_EQ(Sequence(), (std::vector<std::string>{"o:ambientLightStyle", "o:emissiveStyle"}));
        GraphicsNormalRenderer behind;
        Setup(behind, {});
        behind.AddLight(Point(Vec3(0, 0, -40), 5.0f));
        behind.GatherLights(Canvas());
        EXPECT_TRUE(behind.GetLightElements().empty());
    }
}

TEST_F(NormalRendererTest, ShadowSurfacesGoToTheFirstDirectionalAndEightPointCasters)
{
    ASSERT_NE(GraphicsNormalRenderer::GetDirectionalShadowSurface(), nullptr);
    ASSERT_NE(GraphicsNormalRenderer::GetWhiteSurface(), nullptr);
    auto caster = Make("c", 500, Vec3());
    GraphicsNormalRenderer renderer;
    Setup(renderer, {caster.get()});
    renderer.AddLight(Directional(true));
    renderer.AddLight(Directional(true));
    for (int i = 0; i < 9; ++i)
        renderer.AddLight(Point(Vec3(static_cast<float>(i) - 4.0f, 0, 0), 2.0f, true));
    renderer.GatherLights(Canvas());
    const auto& elements = renderer.GetLightElements();
    ASSERT_EQ(elements.size(), 11u);
    int directional = 0, white = 0;
    std::vector<RenderSurface*> pointSurfaces;
    for (const auto& element : elements) {
        if (element.shadowSurface == GraphicsNormalRenderer::GetDirectionalShadowSurface())
            ++directional;
        else if (element.shadowSurface == GraphicsNormalRenderer::GetWhiteSurface())
            ++white;
        else
            pointSurfaces.push_back(element.shadowSurface);
    }
    EXPECT_EQ(directional, 1);
    EXPECT_EQ(white, 2) << "the second directional and the ninth point caster";
    ASSERT_EQ(pointSurfaces.size(), 8u);
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(pointSurfaces[static_cast<size_t>(i)], GraphicsNormalRenderer::GetPointShadowSurface(i));
    EXPECT_EQ(renderer.GetPointShadowCount(), 8);
    // The elements that kept the white surface keep the identity matrix.
    for (const auto& element : elements) {
        if (element.shadowSurface == GraphicsNormalRenderer::GetWhiteSurface()) {
            EXPECT_TRUE(element.worldToShadow == Mat4());
        }
    }

    // A directional caster over a scene where nothing casts keeps the white surface: its map
    // would only be cleared to white.
    caster->SetCastsShadows(false);
    GraphicsNormalRenderer nothingCasts;
    Setup(nothingCasts, {caster.get()});
    nothingCasts.AddLight(Directional(true));
    nothingCasts.GatherLights(Canvas());
    ASSERT_EQ(nothingCasts.GetLightElements().size(), 1u);
    EXPECT_EQ(nothingCasts.GetLightElements()[0].shadowSurface, GraphicsNormalRenderer::GetWhiteSurface());
    EXPECT_TRUE(nothingCasts.GetLightElements()[0].worldToShadow == Mat4());
    caster->SetCastsShadows(true);

    // With shadows off every element is white.
    GraphicsNormalRenderer off;
    Setup(off, {caster.get()});
    off.EnableShadows(false);
    off.AddLight(Directional(true));
    off.GatherLights(Canvas());
    ASSERT_EQ(off.GetLightElements().size(), 1u);
    EXPECT_EQ(off.GetLightElements()[0].shadowSurface, GraphicsNormalRenderer::GetWhiteSurface());
}

TEST_F(NormalRendererTest, FogParametersStoreReciprocalsAndTheFogPassNeedsADensity)
{
    GraphicsNormalRenderer renderer;
    renderer.SetDepthFogParams(10.0f, 30.0f, 0.5f);
    EXPECT_EQ(renderer.GetDepthFogParams()[0], 10.0f);
    EXPECT_FLOAT_EQ(renderer.GetDepthFogParams()[1], 0.05f);
    EXPECT_EQ(renderer.GetDepthFogParams()[2], 0.5f);
    renderer.SetHeightFogParams(4.0f, 4.0f, 1.0f);
    EXPECT_EQ(renderer.GetHeightFogParams()[1], 0.0f) << "no infinity for an empty range";
    renderer.SetBackgroundColor(Color(0.1f, 0.2f, 0.3f, 0.2f));
    EXPECT_EQ(renderer.GetBackgroundColor().a, 1.0f);

    auto r = Make("r", 500, Vec3());
    GraphicsNormalRenderer fog;
    Setup(fog, {r.get()});
    fog.EnableFog(true);
    fog.SetDepthFogParams(1.0f, 2.0f, 0.0f);
    fog.Render(Canvas(), false, false);
    const auto thin = Sequence();
    EXPECT_EQ(std::count(thin.begin(), thin.end(), "r:fogStyle"), 0);
    draws.clear();
    GraphicsNormalRenderer dense;
    Setup(dense, {r.get()});
    dense.EnableFog(true);
    dense.SetHeightFogParams(0.0f, 5.0f, 0.3f);
    dense.Render(Canvas(), false, false);
    const auto sequence = Sequence();
    ASSERT_FALSE(sequence.empty());
    EXPECT_EQ(sequence.back(), "r:fogStyle");
}

// The fog step leaves out what lies wholly in the clear air: nearer to the camera than the depth
// fog's start and above the height fog's top (the fog's colour would be blended in at 0); what
// reaches past the start, or below the top, takes its fog.
TEST_F(NormalRendererTest, TheFogLeavesOutWhatLiesWhollyInTheClearAir)
{
    // The camera at (0, 0, -20); boxes of half size 1.
    auto clear = Make("c", 500, Vec3(0, 0, 0));    // 21.05 away at most, lowest at -1
    auto distant = Make("d", 500, Vec3(0, 0, 10)); // 31.05 away at most
    auto low = Make("l", 500, Vec3(0, -3, 0));     // lowest at -4
    auto render = [&](float start, float heightDensity) {
        draws.clear();
        GraphicsNormalRenderer renderer;
        Setup(renderer, {clear.get(), distant.get(), low.get()});
        renderer.EnableFog(true);
        renderer.SetDepthFogParams(start, start + 20.0f, 0.5f);
        renderer.SetHeightFogParams(-5.0f, -2.0f, heightDensity);
        renderer.Render(Canvas(), false, false);
        std::vector<std::string> fogged;
        for (const std::string& draw : Sequence())
            if (draw.size() > 9 && draw.compare(draw.size() - 9, 9, ":fogStyle") == 0)
                fogged.push_back(draw.substr(0, draw.size() - 9));
        std::sort(fogged.begin(), fogged.end());
        return fogged;
    };
    EXPECT_EQ(render(25.0f, 0.3f), (std::vector<std::string>{"d", "l"}));
    // Without a height fog only the distance counts.
    EXPECT_EQ(render(25.0f, 0.0f), (std::vector<std::string>{"d"}));
    // The fog starting nearer than the boxes' far sides: they take their fog.
    EXPECT_EQ(render(21.0f, 0.0f), (std::vector<std::string>{"c", "d", "l"}));
    // A clear air a region placed higher in the scene: the placement moves the box.
    ClearAir air;
    air.any = true;
    air.eye = Vec3(0, 0, -20);
    air.reach = 25.0f;
    air.above = -2.0f;
    const ABBox box(Vec3(0, -3, 0), Vec3(1, 1, 1));
    EXPECT_FALSE(air.Contains(box));
    EXPECT_TRUE(air.Contains(box, Coords::Translation(Vec3(0, 3, 0))));
    air.any = false;
    EXPECT_FALSE(air.Contains(box, Coords::Translation(Vec3(0, 3, 0))));
}

TEST_F(NormalRendererTest, TransparentPassesDrawFarthestFirstWhateverTheirTextures)
{
    GraphicsTexture* t1 = LoadTexture("t/1.tex", {});
    GraphicsTexture* t2 = LoadTexture("t/2.tex", {});
    auto nearOne = Make("near", 10000, Vec3(0, 0, -10), 0.5f, t1);
    auto middle = Make("middle", 10000, Vec3(0, 0, 0), 0.5f, t2);
    auto farOne = Make("far", 10000, Vec3(0, 0, 10), 0.5f, t1);
    GraphicsNormalRenderer renderer;
    Setup(renderer, {nearOne.get(), farOne.get(), middle.get()});
    renderer.Render(Canvas(), false, false);
    std::vector<std::string> transparent;
    for (const Draw& draw : draws)
        if (draw.style != "transparencyMaskStyle" && draw.style != "emissiveStyle")
            transparent.push_back(draw.renderable + ":" + draw.style);
    // No lights: each run is drawn in depth, then ambient; then the ambient walk again.
    const std::vector<std::string> expected = {
        "far:depthStyle",        "middle:depthStyle",        "near:depthStyle",
        "far:ambientLightStyle", "middle:ambientLightStyle", "near:ambientLightStyle",
        "far:ambientLightStyle", "middle:ambientLightStyle", "near:ambientLightStyle"};
    EXPECT_EQ(transparent, expected);
    EXPECT_EQ(std::count_if(draws.begin(), draws.end(),
                            [](const Draw& d) { return d.style == "transparencyMaskStyle"; }),
              3);
}

TEST(ReflectionManagerTest, PlanesMergeWithinAQuarterUnitAndSplitAtADotOfExactlyPointNineFive)
{
    Region region(ABBox(Vec3(), Vec3(10, 10, 10)));
    auto plane = [&](float height, const Vec3& normal) {
        GraphicsReflectionPlane p;
        p.normal = normal;
        p.d = -height;
        p.box = ABBox(Vec3(0, height, 0), Vec3(2, 0, 2));
        p.region = &region;
        return p;
    };
    const Vec3 up(0, 1, 0);
    GraphicsReflectionPlane a = plane(1.0f, up), b = plane(1.2f, up), c = plane(1.3f, up),
                            d = plane(1.5f, up);
    GraphicsReflectionPlane tilted = plane(1.0f, Vec3(std::sqrt(1.0f - 0.95f * 0.95f), 0.95f, 0.0f));
    GraphicsReflectionPlane orphan = plane(1.0f, up);
    orphan.region = nullptr;
    GraphicsReflectionManager manager;
    manager.AddReflectionPlane(a);
    manager.AddReflectionPlane(b); // 0.2 above a
    manager.AddReflectionPlane(tilted);
    manager.AddReflectionPlane(orphan);
    const auto& planes = manager.GetActivePlanes();
    ASSERT_EQ(planes.size(), 2u);
    EXPECT_EQ(planes[0].planes.size(), 2u);
    EXPECT_EQ(planes[1].planes.size(), 1u) << "a dot product of exactly 0.95 does not merge";
    // The bounds grew to hold a's and b's boxes.
    EXPECT_FLOAT_EQ(planes[0].bounds.center.y, 1.1f);
    GraphicsReflectionManager apart;
    apart.AddReflectionPlane(a);
    apart.AddReflectionPlane(c); // 0.3 above
    EXPECT_EQ(apart.GetActivePlanes().size(), 2u);
    GraphicsReflectionManager exact;
    GraphicsReflectionPlane e = plane(1.25f, up);
    exact.AddReflectionPlane(a);
    exact.AddReflectionPlane(e); // exactly 0.25 above
    exact.AddReflectionPlane(d); // 0.375 above the merged bounds' centre
    ASSERT_EQ(exact.GetActivePlanes().size(), 2u);
    EXPECT_EQ(exact.GetActivePlanes()[0].planes.size(), 2u);

    // Element bounds reach the plane that lists the water piece, and no other.
    exact.UpdatePlaneElementBounds(&e, ABBox(Vec3(1, 1, 1), Vec3(1, 1, 1)));
    exact.UpdatePlaneElementBounds(&orphan, ABBox(Vec3(1, 1, 1), Vec3(1, 1, 1)));
    EXPECT_EQ(exact.GetActivePlanes()[0].elementBoxes.size(), 1u);
    EXPECT_TRUE(exact.GetActivePlanes()[1].elementBoxes.empty());
}

TEST(TransparencyManagerTest, AmountsStepByElapsedOverTheFadeTimeAndStayInRange)
{
    GAME::Test::FrameClock clock;
    UnpauseGameTime();
    Region inside(ABBox(Vec3(), Vec3(10, 10, 10)));
    Region other(ABBox(Vec3(), Vec3(10, 10, 10)));
    other.SetRegionIndex(2);
    GraphicsTransparencyManager manager;
    EXPECT_EQ(manager.GetRegionBlendAmount(&inside), 0.0f);
    EXPECT_EQ(manager.GetRegionBlendAmount(nullptr), 0.0f);

    clock.Advance(35);
    manager.SetTargetPosition(WorldVec3(&inside, Vec3()));
    EXPECT_FLOAT_EQ(manager.GetRegionBlendAmount(&inside), 0.1f);
    EXPECT_EQ(manager.GetRegionBlendAmount(&other), 0.0f) << "beyond the amounts known so far";

    clock.Advance(70);
    manager.SetTargetPosition(WorldVec3(&other, Vec3()));
    EXPECT_FLOAT_EQ(manager.GetRegionBlendAmount(&other), 0.2f);
    EXPECT_EQ(manager.GetRegionBlendAmount(&inside), 0.0f) << "0.1 less 0.2 stops at 0";

    // No region: nothing changes, but the timer moves on.
    clock.Advance(5000);
    manager.SetTargetPosition(WorldVec3(nullptr, Vec3()));
    EXPECT_FLOAT_EQ(manager.GetRegionBlendAmount(&other), 0.2f);
    clock.Advance(35);
    manager.SetTargetPosition(WorldVec3(&other, Vec3()));
    EXPECT_FLOAT_EQ(manager.GetRegionBlendAmount(&other), 0.3f);
    clock.Advance(100000);
    manager.SetTargetPosition(WorldVec3(&other, Vec3()));
    EXPECT_EQ(manager.GetRegionBlendAmount(&other), 1.0f);
}

} // namespace
} // namespace GAME::SceneRenderTest
