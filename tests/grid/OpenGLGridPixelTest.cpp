// A small grid region (a room of 3 x 3 cells of the sample cave pieces, a doorway in its far wall)
// drawn by the normal renderer through the device that draws (OpenGL.so, headless through EGL):
// from inside, the floor and the far wall show the rock lit by the ambient in that order of
// brightness where their points project, above the walls (the pieces have no ceiling) and through
// the doorway's opening lies nothing, its posts and lintel show the rock; without the renderer's grid flag
// nothing is drawn. The suite's name starts with "OpenGL": it needs that module beside libEngine.so.
#include "graphics/GraphicsFixtures.h"
#include "graphics/OpenGLTestSupport.h"

#include "GridFixtures.h"

#include "data/LoadTableResources.h"
#include "datakit/ShaderWriter.h"
#include "datakit/TextureWriter.h"
#include "graphics/GraphicsCanvas.h"
#include "scene/GraphicsNormalRenderer.h"

#include <gtest/gtest.h>

namespace GAME::GridTest {
namespace {

constexpr int kWidth = 160;
constexpr int kHeight = 120;

// Record tables load their meshes through the test's graphics engine.
class EngineMeshes : public LoadTableResources
{
public:
    explicit EngineMeshes(GraphicsEngine& graphics) : m_graphics(graphics) { Install(this); }
    ~EngineMeshes() override { Install(nullptr); }
    GraphicsMesh* LoadMesh(const std::string& name) override { return m_graphics.LoadMesh(name); }
    GraphicsTexture* LoadTexture(const std::string& name) override { return m_graphics.LoadTexture(name); }
    GraphicsShader2* LoadShader2(const std::string& name) override { return m_graphics.LoadShader2(name); }
    GraphicsAnim* LoadAnimation(const std::string&) override { return nullptr; }
    EffectResource* LoadResourceEffect(const std::string&) override { return nullptr; }

private:
    GraphicsEngine& m_graphics;
};

class OpenGLGridPixelTest : public GAME::Test::GraphicsFixture
{
protected:
    void SetUp() override
    {
        settings.deviceName = "OpenGL";
        options.SetInt2(Options::INT2_RESOLUTION, Options::Int2{kWidth, kHeight});
        options.SetBool(Options::BOOL_FULLSCREEN, false);
        options.SetBool(Options::BOOL_ANTI_ALIASING, false);
        options.SetBool(Options::BOOL_SKIP_COMPATIBILITY_CHECKS, true);
        PutFile(GraphicsEngine::basicShaderName, DataKit::ShaderWriter::SampleBasic().Write());
        PutFile(GraphicsEngine::overlayShaderName, DataKit::ShaderWriter::SampleOverlay().Write());
        PutFile(DataKit::ShaderWriter::whiteTextureName, DataKit::TextureWriter::SolidDds(1, 1, 0xFFFFFFFFu));
        for (const auto& [name, bytes] : SampleGridKit::Files())
            PutFile(name, bytes);
        ASSERT_TRUE(Create()) << "the OpenGL device did not start (OpenGL.so is built from Devices/OpenGL "
                                 "beside libEngine.so)";
        ASSERT_TRUE(engine->Initialize(nullptr, settings, loader.get()));
        engine->SetGeneration(RENDER_GENERATION_GEFORCE6);
        ASSERT_TRUE(records.Load(BuildDatabase()));
        ObjectManager::Destroy();
        meshes = std::make_unique<EngineMeshes>(*engine);

        GridWriter room = Room(3);
        room.SetFeature(1, 0, 2, SampleGridKit::doorFeature, 0); // the opening on the +z wall
        grid = std::make_unique<GridRegion>(&region);
        ASSERT_TRUE(LoadBody(*grid, room.Write()));
        ASSERT_EQ(grid->GetNumBuiltCells(), 9);
        for (int x = 0; x < 3; ++x)
            for (int z = 0; z < 3; ++z)
                grid->GetCellMesh(x, 0, z)->PreLoad(true);
        while (loader->ProcessNextRequest()) {
        }
        for (int x = 0; x < 3; ++x)
            for (int z = 0; z < 3; ++z)
                ASSERT_TRUE(grid->GetCellMesh(x, 0, z)->GetIsReadyToRender()) << x << " " << z;
        // Inside, near the -z wall, at eye height, looking at the far wall.
        camera.SetCoords(Coords::LookAt(Vec3(6, 3, 1), Vec3(6, 3, 12), Vec3(0, 1, 0)));
    }
    void TearDown() override
    {
        grid.reset();
        meshes.reset();
        ObjectManager::Get()->DestroyPendingObjects(UINT_MAX);
        ObjectManager::Destroy();
        GAME::Test::GraphicsFixture::TearDown();
    }

    GAME::Test::Image Render(uint32_t flags)
    {
        GraphicsNormalRenderer renderer;
        const Frustum frustum = camera.GetFrustum(viewport);
        renderer.SetViewer(&region, camera, viewport, frustum);
        renderer.SetGenerationId(engine->GetGenerationId());
        renderer.SetBackgroundColor(Color(0, 0, 0, 1));
        renderer.SetSkyAmbientColor(Color(0.9f, 0.9f, 0.9f, 1));
        renderer.SetGroundAmbientColor(Color(0.15f, 0.15f, 0.15f, 1));
        renderer.SetRegionToSceneCoords(&region, Coords());
        renderer.SetRenderFlags(flags);
        grid->AddToScene(renderer, frustum, nullptr);
        GraphicsCanvas& canvas = *engine->GetCanvas();
        EXPECT_TRUE(canvas.BeginFrame());
        renderer.Render(canvas, false, false);
        canvas.EndFrame();
        return GAME::Test::ReadBack(*engine->GetRenderDevice(), kWidth, kHeight);
    }
    const Pixel& At(const GAME::Test::Image& image, const Vec3& point) const
    {
        const Vec2 p = camera.Project(point, viewport);
        return image.At(std::clamp(int(p.x), 0, kWidth - 1), std::clamp(int(p.y), 0, kHeight - 1));
    }

    GAME::Test::RecordServices records;
    std::unique_ptr<EngineMeshes> meshes;
    Region region{ABBox(Vec3(), Vec3(50, 50, 50))};
    std::unique_ptr<GridRegion> grid;
    Camera camera;
    Viewport viewport = Viewport(0, 0, kWidth, kHeight);
};

TEST_F(OpenGLGridPixelTest, TheRoomShowsItsFloorWallsAndDoorwayOpenAboveWhereTheyProject)
{
    const GAME::Test::Image image = Render(GraphicsSceneRenderer::defaultRenderFlags);
    ASSERT_EQ(image.pixels.size(), size_t(kWidth) * kHeight) << "no read-back";
    const Pixel floor = At(image, Vec3(6, 0, 10.5f));
    const Pixel wall = At(image, Vec3(3, 3, 11.5f));
    const Pixel above = At(image, Vec3(6, 7, 10.5f));
    const Pixel opening = At(image, Vec3(6, 3, 12));
    const Pixel post = At(image, Vec3(6 + SampleGridKit::doorHalfWidth + 0.25f, 3, 11.5f));
    const Pixel lintel = At(image, Vec3(6, SampleGridKit::doorHeight + 0.5f, 11.5f));
    SCOPED_TRACE("floor " + GAME::Test::Describe(floor) + " wall " + GAME::Test::Describe(wall) + " above " +
                 GAME::Test::Describe(above) + " opening " + GAME::Test::Describe(opening) + " post " +
                 GAME::Test::Describe(post) + " lintel " + GAME::Test::Describe(lintel));
    // Rock: red above green above blue, lit most where the surface faces the sky.
    for (const Pixel* p : {&floor, &wall, &post, &lintel}) {
        EXPECT_GT(p->r, 8);
        EXPECT_GE(p->r, p->g);
        EXPECT_GE(p->g, p->b);
    }
    EXPECT_GT(floor.r, wall.r + 20);
    EXPECT_NEAR(post.r, wall.r, 12) << "the doorway's posts are wall";
    // Behind the opening and over the walls there is nothing: the background.
    EXPECT_TRUE(GAME::Test::Near(opening, 0, 0, 0, opening.a, 2));
    EXPECT_TRUE(GAME::Test::Near(above, 0, 0, 0, above.a, 2));

    // Without the grid flag the grid adds nothing.
    const GAME::Test::Image empty =
        Render(GraphicsSceneRenderer::defaultRenderFlags & ~GraphicsSceneRenderer::RENDER_GRID_TILES);
    ASSERT_EQ(empty.pixels.size(), size_t(kWidth) * kHeight);
    for (const Pixel& p : empty.pixels)
        ASSERT_TRUE(p.r == 0 && p.g == 0 && p.b == 0) << GAME::Test::Describe(p);
}

} // namespace
} // namespace GAME::GridTest
