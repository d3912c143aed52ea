// The scene renderer's gathering, sorting and drawing, recorded through the software device with
// renderables made in the test.
#include "SceneRenderFixtures.h"

#include "core/MathUtil.h"

#include <gtest/gtest.h>

namespace GAME::SceneRenderTest {
namespace {

class SceneRendererTest : public SceneRenderFixture
{
};

TEST_F(SceneRendererTest, PassesAreRejectedInQueryOrderAndBothSortBoundsAreAccepted)
{
    GraphicsShader2* shader = Shader("shaders/a.ssh", {"lit"});
    ASSERT_TRUE(shader && shader->GetIsReadyToUse());
    std::vector<std::string> journal;
    TestRenderable r("r", ABBox(Vec3(1, 2, 3), Vec3(1, 1, 1)), nullptr, &journal);
    r.SetPasses("s", {{-2, shader, "lit"},    // below the range
                      {-1, shader, "lit"},    // the low bound itself
                      {5, nullptr, "lit"},    // no shader
                      {6, shader, "missing"}, // the shader lacks the style
                      {20000, shader, "lit", nullptr, 0.5f},
                      {20001, shader, "lit"}}); // above the range
    RecordingRenderer renderer;
    Region* region = MakeRegion();
    renderer.SetRegionToSceneCoords(region, Coords::Translation(Vec3(10, 0, 0)));
    renderer.AddRenderable(&r, region);
    journal.clear();

    std::vector<RenderablePass> list;
    const Sphere sphere(Vec3(12, 2, 3), 4.0f);
    renderer.GatherPasses(list, Name::Create("s"), -1, 20000, &sphere);
    const std::vector<std::string> expected = {
        "r count s",   "r sort 0",   "r sort 1",   "r shader 1",  "r style 1",   "r texture 1",
        "r opacity 1", "r sort 2",   "r shader 2", "r sort 3",    "r shader 3",  "r style 3",
        "r sort 4",    "r shader 4", "r style 4",  "r texture 4", "r opacity 4", "r sort 5"};
    EXPECT_EQ(journal, expected);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].passIndex, 1);
    EXPECT_EQ(list[0].sortOrder, -1);
    EXPECT_EQ(list[0].opacity, 1.0f);
    EXPECT_EQ(list[1].sortOrder, 20000);
    EXPECT_EQ(list[1].opacity, 0.5f);
    EXPECT_EQ(list[1].styleIndex, 0);
    EXPECT_EQ(list[1].region, region);
    // Scene-space box, and the light sphere less the region's placement.
    EXPECT_EQ(list[0].bounds.center, Vec3(11, 2, 3));
    EXPECT_EQ(list[0].lightSphere[0], 2.0f);
    EXPECT_EQ(list[0].lightSphere[3], 4.0f);

    // A sphere that misses the box asks nothing of the renderable.
    journal.clear();
    list.clear();
    const Sphere far(Vec3(30, 2, 3), 4.0f);
    renderer.GatherPasses(list, Name::Create("s"), -1, 20000, &far);
    EXPECT_TRUE(list.empty());
    EXPECT_TRUE(journal.empty());
}

TEST_F(SceneRendererTest, RecordsDrawInStableKeyOrderWithOneBeginPerShaderStyleRun)
{
    GraphicsShader2* a = Shader("shaders/a.ssh", {"x", "y"});
    GraphicsShader2* b = Shader("shaders/b.ssh", {"x"});
    ASSERT_TRUE(a && b && a->GetIsReadyToUse() && b->GetIsReadyToUse());
    GraphicsShader2* low = a < b ? a : b;
    GraphicsShader2* high = a < b ? b : a;
    GraphicsTexture* t1 = LoadTexture("t/1.tex", {});
    GraphicsTexture* t2 = LoadTexture("t/2.tex", {});
    const GraphicsTexture* tLow = t1 < t2 ? t1 : t2;
    const GraphicsTexture* tHigh = t1 < t2 ? t2 : t1;

    std::vector<Draw> draws;
    TestRenderable p("p", ABBox(Vec3(), Vec3(1, 1, 1)), &draws);
    TestRenderable q("q", ABBox(Vec3(), Vec3(1, 1, 1)), &draws);
    // Gathering order: p0..p4, then q0..q2.
    p.SetPasses("s", {{7, high, "x", tHigh},
                      {7, low, "x", tHigh},
                      {3, high, "x"},
                      {7, low, "x", tLow},
                      {7, high, "x", tHigh}});
    q.SetPasses("s", {{7, low, "x", tHigh}, {7, a, "y"}, {3, high, "x"}});
    RecordingRenderer renderer;
    Region* region = MakeRegion();
    renderer.contents = {{region, &p}, {region, &q}};
    renderer.AddRegionToScene(region);
    renderer.RenderStyle(Canvas(), Name::Create("s"));

    std::vector<std::string> order;
    for (const Draw& draw : draws)
        order.push_back(draw.renderable + std::to_string(draw.pass));
    const int ay = a->FindStyleByName(Name::Create("y"));
    // Sort order, then shader address, then style, then texture, equal keys in gathering order.
    std::vector<std::string> expected = {"p2", "q2", "p3", "p1", "q0"};
    std::vector<std::string> tail = {"p0", "p4"};
    std::vector<std::string> aY = {"q1"};
    // a's "y" run sits with a's records: after them when a is the low shader, before b's when high.
    if (a == low) {
        expected.insert(expected.end(), aY.begin(), aY.end());
        expected.insert(expected.end(), tail.begin(), tail.end());
    } else {
        expected.insert(expected.end(), tail.begin(), tail.end());
        expected.insert(expected.end(), aY.begin(), aY.end());
    }
    EXPECT_EQ(order, expected);
    for (const Draw& draw : draws) {
        EXPECT_EQ(draw.beginLevel, 1) << "drawn inside exactly one Begin";
        EXPECT_EQ(draw.shaderStyle, draw.record.styleIndex);
    }
    // Runs: (high,x) at 3; (low,x) at 7; (a,y) and (high,x) at 7 in shader order.
    ASSERT_EQ(renderer.begun.size(), 4u);
    EXPECT_EQ(renderer.begun[0].shader, high);
    EXPECT_EQ(renderer.begun[1].shader, low);
    EXPECT_EQ(a->GetBeginLevel(), 0);
    EXPECT_EQ(b->GetBeginLevel(), 0);
    (void)ay;

    // Nothing gathered: nothing begun.
    renderer.begun.clear();
    renderer.RenderStyle(Canvas(), Name::Create("none"));
    EXPECT_TRUE(renderer.begun.empty());
}

TEST_F(SceneRendererTest, AFiniteBoxIsQueuedAndANonFiniteOneIsDroppedWithItsLogLines)
{
    TestRenderable good("good", ABBox(Vec3(), Vec3(1, 1, 1)));
    TestRenderable bad("bad", ABBox(Vec3(0, gInfinity, 0), Vec3(1, 1, 1)));
    TestRenderable nan("nan", ABBox(Vec3(), Vec3(std::nanf(""), 1, 1)));
    RecordingRenderer renderer;
    Region* region = MakeRegion();
    renderer.SetRegionToSceneCoords(region, Coords::Translation(Vec3(1, 2, 3)));
    log.Clear();
    renderer.AddRenderable(&good, region);
    EXPECT_EQ(log.Count(), 0u);
    renderer.AddRenderable(&bad, region);
    renderer.AddRenderable(&nan, region);
    renderer.AddRenderable(nullptr, region);
    renderer.AddRenderable(&good, nullptr);
    ASSERT_EQ(renderer.GetRenderables().size(), 1u);
    EXPECT_EQ(renderer.GetRenderables()[0].renderable, &good);

    const std::vector<GAME::Test::LogLine> lines = log.Lines();
    ASSERT_EQ(lines.size(), 10u);
    EXPECT_EQ(lines[0].text, "=======================================");
    EXPECT_EQ(lines[0].priority, 1);
    EXPECT_EQ(lines[1].text.rfind("Invalid bounding box for renderable ", 0), 0u);
    EXPECT_EQ(lines[2].text, "Region to scene coords: (1.000000, 2.000000, 3.000000)");
    EXPECT_EQ(lines[2].priority, 0);
    EXPECT_EQ(lines[3].text, "renderable bad");
    EXPECT_EQ(lines[4].text, "=======================================");
    EXPECT_EQ(lines[8].text, "renderable nan");

    // A region that was never entered is refused, with a line of its own.
    log.Clear();
    renderer.AddRenderable(&good, MakeRegion());
    EXPECT_EQ(renderer.GetRenderables().size(), 1u);
    EXPECT_EQ(log.Count(), 1u);
}

TEST_F(SceneRendererTest, ARegionAddedTwiceAddsItsContentsOnceAtItsOffset)
{
    TestRenderable r("r", ABBox(Vec3(1, 0, 0), Vec3(1, 1, 1)));
    RecordingRenderer renderer;
    Region* viewer = MakeRegion(IntVec3(100, 0, 0));
    Region* other = MakeRegion(IntVec3(164, 8, 0));
    renderer.SetViewer(viewer, Camera(), Viewport(0, 0, 64, 64), Frustum());
    renderer.contents = {{other, &r}};
    renderer.AddRegionToScene(other);
    renderer.AddRegionToScene(other);
    renderer.AddRegionToScene(nullptr);
    EXPECT_EQ(renderer.added.size(), 1u);
    ASSERT_EQ(renderer.GetRenderables().size(), 1u);
    EXPECT_EQ(renderer.GetRenderables()[0].bounds.center, Vec3(65, 8, 0));
    EXPECT_EQ(renderer.GetRegionToSceneCoords(other).origin, Vec3(64, 8, 0));
    // An entry made first is kept.
    renderer.SetRegionToSceneCoords(other, Coords());
    EXPECT_EQ(renderer.GetRegionToSceneCoords(other).origin, Vec3(64, 8, 0));
}

TEST_F(SceneRendererTest, BlackLightsAreIgnoredAndFlagsSwitchOneBitEach)
{
    RecordingRenderer renderer;
    GraphicsLight light;
    light.SetColor(Color(0, 0, 0, 1));
    renderer.AddLight(light);
    light.SetColor(Color(0, 0, 0, 0.5f));
    renderer.AddLight(light);
    EXPECT_TRUE(renderer.GetLights().empty());
    light.SetColor(Color(0, 0, 0.01f, 0));
    renderer.AddLight(light);
    EXPECT_EQ(renderer.GetLights().size(), 1u);

    EXPECT_EQ(renderer.GetRenderFlags(), 127u);
    renderer.EnableBoundingBoxes(true);
    EXPECT_EQ(renderer.GetRenderFlags(), 255u);
    renderer.EnableBoundingBoxes(false);
    renderer.EnableWater(false);
    EXPECT_EQ(renderer.GetRenderFlags(), 63u);
    EXPECT_TRUE(renderer.IsRenderFlagSet(GraphicsSceneRenderer::RENDER_EFFECTS |
                                         GraphicsSceneRenderer::RENDER_WATER));
    EXPECT_FALSE(renderer.IsRenderFlagSet(GraphicsSceneRenderer::RENDER_WATER));
}

TEST_F(SceneRendererTest, ViewSpaceExtentsBoundWhatHasPassesOfTheEmptyStyle)
{
    RecordingRenderer renderer;
    Vec3 min, max;
    renderer.GetViewSpaceExtents(min, max);
    EXPECT_EQ(min.x, gInfinity);
    EXPECT_EQ(max.z, -gInfinity);
    Camera camera;
    camera.SetCoords(Coords::Translation(Vec3(0, 0, -10)));
    Region* region = MakeRegion();
    renderer.SetViewer(region, camera, Viewport(0, 0, 64, 64), Frustum());
    renderer.SetRegionToSceneCoords(region, Coords());
    TestRenderable counted("c", ABBox(Vec3(1, 0, 0), Vec3(1, 2, 3)));
    counted.SetPasses("", {{0, nullptr, ""}});
    TestRenderable ignored("i", ABBox(Vec3(50, 0, 0), Vec3(1, 1, 1)));
    renderer.AddRenderable(&counted, region);
    renderer.AddRenderable(&ignored, region);
    renderer.GetViewSpaceExtents(min, max);
    EXPECT_EQ(min, Vec3(0, -2, 7));
    EXPECT_EQ(max, Vec3(2, 2, 13));
}

} // namespace
} // namespace GAME::SceneRenderTest
