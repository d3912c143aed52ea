// Overlays and the transform gizmo drawn through the device that draws (OpenGL.so, headless through
// EGL) inside a started engine, over a frame already drawn, and read back: the boat's map and
// ship where their layout puts them, the pie's lit and dark wedges over its background, and the
// gizmo's arrows where the camera projects them. Pixels are compared within a tolerance. The
// suites' names start with "OpenGL": they need that module beside libEngine.so.
#include "graphics/OpenGLEngineFixture.h"

#include "datakit/OverlayShaders.h"
#include "datakit/TextureWriter.h"
#include "graphics/BoatOverlayActivity.h"
#include "graphics/GraphicsCanvas.h"
#include "graphics/GraphicsEngine.h"
#include "graphics/GraphicsShader2.h"
#include "graphics/OverlayActivityManager.h"
#include "graphics/PieOmatic.h"
#include "graphics/RenderDevice.h"
#include "graphics/TransformGizmo.h"
#include "platform/Module.h"
#include "scene/Camera.h"

#include <cmath>
#include <cstdlib>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace GAME {
namespace {

// The boat's layout is made for 1024 x 768.
constexpr int kWidth = 1024;
constexpr int kHeight = 768;

using Picture = GAME::Test::Image;

// Whether some pixel within `reach` of the point passes the test.
bool AnyNear(const Picture& picture, const Vec2& at, int reach, const std::function<bool(const Pixel&)>& test)
{
    return picture.AnyNear(static_cast<int>(at.x), static_cast<int>(at.y), reach, test);
}

class OpenGLOverlayTest : public GAME::Test::OpenGLEngineTest
{
protected:
    void SetUp() override
    {
        OpenGLEngineTest::SetUp();
        using DataKit::TextureWriter;
        data.AddFile(BoatOverlayActivity::mapTextureName, TextureWriter::SolidDds(64, 32, 0xFF0000FFu));
        data.AddFile(BoatOverlayActivity::secondMapTextureName, TextureWriter::SolidDds(64, 32, 0xFF00FF00u));
        data.AddFile(BoatOverlayActivity::shipTextureName, TextureWriter::SolidDds(8, 8, 0xFFFF0000u));
        data.AddFile("UI/PieBack.tex", TextureWriter::SolidDds(32, 32, 0xFF808080u));
        data.AddFile("UI/PieDisc.tex", TextureWriter::SolidDds(32, 32, 0xFFFFFFFFu));
        ASSERT_NO_FATAL_FAILURE(StartOpenGL(kWidth, kHeight));
        // The frame the overlays go over: dark blue with a grey bar across the middle.
        canvas->ClearRenderSurface(nullptr, Color(0.0f, 0.0f, 0.4f, 1.0f),
                                   RENDER_CLEAR_COLOR | RENDER_CLEAR_DEPTH);
        canvas->SetDefaultState();
        canvas->RenderRect(Rect(0.0f, 380.0f, float(kWidth), 8.0f), Color(0.5f, 0.5f, 0.5f, 1.0f));
    }
};

TEST_F(OpenGLOverlayTest, TheBoatDrawsItsMapAndShipOverTheFrame)
{
    OverlayActivityManager manager;
    auto* boat = new BoatOverlayActivity();
    manager.AddActivity(boat);
    manager.Update(2500); // an even second: the second map; the ship halfway at (525, 387)
    manager.Render(*canvas);
    Picture p = Read();
    // The map lies at (480, 368) - (544, 400), over the grey bar.
    for (const auto& [x, y] : {std::pair(482, 370), std::pair(541, 397), std::pair(500, 384)})
        EXPECT_TRUE(p.Is(x, y, 0, 255, 0)) << p.Describe(x, y);
    for (const auto& [x, y] : {std::pair(526, 388), std::pair(532, 394)})
        EXPECT_TRUE(p.Is(x, y, 255, 0, 0)) << p.Describe(x, y);
    EXPECT_TRUE(p.Is(534, 396, 0, 255, 0)) << "past the ship: " << p.Describe(534, 396);
    EXPECT_TRUE(p.Is(476, 384, 128, 128, 128)) << "the frame beside the map: " << p.Describe(476, 384);
    EXPECT_TRUE(p.Is(512, 360, 0, 0, 102)) << p.Describe(512, 360);

    // A second later the first map shows and the ship has moved on.
    manager.Update(1000);
    manager.Render(*canvas);
    p = Read();
    EXPECT_TRUE(p.Is(482, 370, 0, 0, 255)) << p.Describe(482, 370);
    const Vec2 ship = boat->GetShipPosition();
    EXPECT_TRUE(p.Is(int(ship.x) + 4, int(ship.y) + 4, 255, 0, 0))
        << p.Describe(int(ship.x) + 4, int(ship.y) + 4);

    // Finished: nothing more is drawn.
    manager.Update(1501);
    canvas->RenderRect(Rect(470.0f, 360.0f, 90.0f, 50.0f), Color(0.0f, 0.0f, 0.0f, 1.0f));
    manager.Render(*canvas);
    EXPECT_TRUE(Read().Is(500, 384, 0, 0, 0));
}

// The engine's own frame (Engine::Render) with a host widget that draws its world in dark blue,
// a boat overlay whose map covers the whole screen in red, and the render debugger shown.
class OpenGLEngineOverlayTest : public GAME::Test::OpenGLEngineTest
{
protected:
    class HostWorldView : public DisplayWidget
    {
    public:
        void Render(GraphicsCanvas& canvas) const override
        {
            canvas.ClearRenderSurface(nullptr, Color(0.0f, 0.0f, 0.4f, 1.0f), RENDER_CLEAR_COLOR | RENDER_CLEAR_DEPTH);
            canvas.SetDefaultState();
        }
    };

    void SetUp() override
    {
        OpenGLEngineTest::SetUp();
        using DataKit::TextureWriter;
        const std::vector<uint8_t> map = TextureWriter::SolidDds(kWidth, kHeight, 0xFFFF0000u);
        data.AddFile(BoatOverlayActivity::mapTextureName, map);
        data.AddFile(BoatOverlayActivity::secondMapTextureName, map);
        data.AddFile(BoatOverlayActivity::shipTextureName, TextureWriter::SolidDds(8, 8, 0xFF00FF00u));
        ASSERT_NO_FATAL_FAILURE(StartOpenGL(kWidth, kHeight));
        canvas->EndFrame(); // the engine makes its own
        inFrame = false;
    }

    void TearDown() override
    {
        if (engine)
            engine->RemoveWidget(&world);
        OpenGLEngineTest::TearDown();
    }

    HostWorldView world;
};

TEST_F(OpenGLEngineOverlayTest, TheEngineDrawsItsOverlaysOverTheWorldAndUnderItsWidgets)
{
    engine->AddWidget(&world); // the host's view, added after start-up as hosts do
    engine->ShowRenderDebugger(true);
    auto* boat = new BoatOverlayActivity();
    engine->GetOverlayActivityManager().AddActivity(boat);
    engine->GetOverlayActivityManager().Update(500);
    engine->Render();
    Picture p = Read();
    ASSERT_FALSE(p.pixels.empty());
    EXPECT_TRUE(p.Is(900, 300, 255, 0, 0)) << "the map over the world: " << p.Describe(900, 300);
    EXPECT_TRUE(p.Is(900, 30, 128, 0, 0, 12)) << "the debugger's panel over the map: " << p.Describe(900, 30);
    const Vec2 ship = boat->GetShipPosition();
    EXPECT_TRUE(p.Is(int(ship.x) + 4, int(ship.y) + 4, 0, 255, 0)) << p.Describe(int(ship.x) + 4, int(ship.y) + 4);

    // Finished: the world shows again.
    engine->GetOverlayActivityManager().Update(5000);
    engine->Render();
    p = Read();
    EXPECT_TRUE(p.Is(900, 300, 0, 0, 102)) << p.Describe(900, 300);
}

TEST_F(OpenGLOverlayTest, ThePieShowsItsLitWedgesOverItsBackground)
{
    GraphicsShader2* shader = graphics->LoadShader2(DataKit::OverlayShaders::basicTextureShaderName);
    ASSERT_NE(shader, nullptr);
    shader->EnsureAvailable();
    ASSERT_EQ(shader->GetInitResult(), Resource::INIT_SUCCESS) << "the sample data's pie shader";
    graphics->UnloadShader2(shader);

    PieOmatic pie("UI/PieBack.tex", "UI/PieDisc.tex");
    pie.SetWedgeMode(true);
    pie.FadeIn();
    // Ten updates of 100 ms: fully faded in; wedges 0 to 3 have gone dark (4 is on its way).
    for (int i = 0; i < 10; ++i)
        pie.Update(100);
    ASSERT_EQ(pie.GetFade(), 1.0f);
    ASSERT_EQ(pie.GetSegments()[3].current, 0.0f);
    ASSERT_EQ(pie.GetSegments()[4].current, 1.0f);

    const Vec2 center(200.0f, 200.0f);
    pie.Render(*canvas, center);
    const Picture p = Read();
    // The background: 16 x 16 pixels about the centre; the disc (radius 11) over it.
    EXPECT_TRUE(p.Is(205, 200, 128, 128, 128))
        << "a dark wedge shows the background: " << p.Describe(205, 200);
    EXPECT_TRUE(p.Is(210, 200, 0, 0, 102)) << "a dark wedge past the background: " << p.Describe(210, 200);
    EXPECT_TRUE(p.Is(195, 200, 255, 255, 255)) << "a lit wedge: " << p.Describe(195, 200);
    EXPECT_TRUE(p.Is(190, 200, 255, 255, 255)) << "a lit wedge past the background: " << p.Describe(190, 200);
    EXPECT_TRUE(p.Is(202, 205, 255, 255, 255)) << "wedge 4 still lit: " << p.Describe(202, 205);
    EXPECT_TRUE(p.Is(198, 195, 255, 255, 255)) << "wedge 9: " << p.Describe(198, 195);
    EXPECT_TRUE(p.Is(230, 200, 0, 0, 102)) << p.Describe(230, 200);
    EXPECT_TRUE(p.Is(200, 384, 128, 128, 128)) << "the frame's bar: " << p.Describe(200, 384);
}

TEST_F(OpenGLOverlayTest, TheTransformGizmosArrowsLieWhereTheCameraProjectsThem)
{
    Camera camera;
    camera.SetCoords(
        Coords::LookInDirection(Vec3(1.0f, 2.0f, -10.0f), Vec3(0.0f, 0.0f, 1.0f), Vec3(0, 1, 0)));
    const Viewport viewport(0, 0, kWidth, kHeight);
    TransformGizmo gizmo;
    gizmo.SetSize(3.0f);
    Coords frame = Coords::Translation(Vec3(2.0f, 1.0f, 0.0f));
    gizmo.SetCoords(frame);

    // Hovering the y arrow turns it yellow.
    const Vec2 yMiddle = camera.Project(Vec3(2.0f, 2.5f, 0.0f), viewport);
    ASSERT_TRUE(gizmo.HandleMouseMove(camera, viewport, Vec2(yMiddle.x / kWidth, yMiddle.y / kHeight)));
    gizmo.Render(*canvas, camera, viewport);
    const Picture p = Read();
    auto red = [](const Pixel& px) { return px.r > 200 && px.g < 60 && px.b < 60; };
    auto yellow = [](const Pixel& px) { return px.r > 200 && px.g > 200 && px.b < 60; };
    auto blue = [](const Pixel& px) { return px.b > 200 && px.r < 60 && px.g < 60; };
    for (float along : {0.75f, 1.5f, 2.25f}) {
        const Vec2 x = camera.Project(Vec3(2.0f + along, 1.0f, 0.0f), viewport);
        EXPECT_TRUE(AnyNear(p, x, 1, red)) << "x shaft at " << x.x << ", " << x.y;
        const Vec2 y = camera.Project(Vec3(2.0f, 1.0f + along, 0.0f), viewport);
        EXPECT_TRUE(AnyNear(p, y, 1, yellow)) << "y shaft at " << y.x << ", " << y.y;
        // The z arrow points along the viewing axis: seen end-on, it is not drawn.
        const Vec2 z = camera.Project(Vec3(2.0f, 1.0f, along), viewport);
        EXPECT_FALSE(AnyNear(p, z, 1, blue)) << "z shaft at " << z.x << ", " << z.y;
    }
    // Beside the x shaft, across the picture from it, and at the head's sides.
    const Vec2 beside = camera.Project(Vec3(3.5f, 1.5f, 0.0f), viewport);
    EXPECT_FALSE(AnyNear(p, beside, 2, red));
    const Vec2 across = camera.Project(Vec3(0.5f, 1.0f, 0.0f), viewport);
    EXPECT_FALSE(AnyNear(p, across, 2, red));
    const Vec2 head = camera.Project(Vec3(4.85f, 1.075f, 0.0f), viewport);
    EXPECT_TRUE(AnyNear(p, head, 2, red)) << "the x head at " << head.x << ", " << head.y;
}

TEST_F(OpenGLOverlayTest, TheRotateGizmoShowsItsCirclesAndTheSweptSector)
{
    // From +x the x circle faces the camera.
    Camera camera;
    camera.SetCoords(
        Coords::LookInDirection(Vec3(10.0f, 0.0f, 0.0f), Vec3(-1.0f, 0.0f, 0.0f), Vec3(0, 1, 0)));
    const Viewport viewport(0, 0, kWidth, kHeight);
    TransformGizmo gizmo;
    gizmo.SetSize(3.0f);
    gizmo.SetMode(TransformGizmo::MODE_ROTATE);
    auto image = [&](const Vec3& p) { return camera.ProjectToImageSpace(p, viewport); };

    // Grab the x circle at one of its points and turn it.
    const float t = 5.0f * 6.2831853f / 31.0f;
    const Vec3 grab(0.0f, 3.0f * std::cos(t), 3.0f * std::sin(t));
    ASSERT_TRUE(gizmo.HandleMouseButton(camera, viewport, 0, 1, image(grab)));
    ASSERT_TRUE(gizmo.IsAxisSelected(0));
    ASSERT_TRUE(gizmo.HandleMouseMove(camera, viewport, image(grab) + Vec2(0.0f, -0.1f)));
    const float angle = gizmo.GetAngle();
    ASSERT_GT(std::fabs(angle), 0.3f);
    ASSERT_LT(std::fabs(angle), 4.0f);
    gizmo.Render(*canvas, camera, viewport);
    const Picture p = Read();

    auto yellow = [](const Pixel& px) { return px.r > 200 && px.g > 200 && px.b < 60; };
    const float s = 3.0f * std::sqrt(0.5f);
    for (const Vec3& onCircle : {Vec3(0.0f, -s, s), Vec3(0.0f, -s, -s)})
        EXPECT_TRUE(AnyNear(p, camera.Project(onCircle, viewport), 1, yellow)) << "the selected x circle";

    // The sector: the selected axis's red at a quarter over the frame, halfway through the turn.
    const Vec3 from = grab * (1.0f / 3.0f);
    const Vec3 tangent = Vec3::Cross(Vec3(1.0f, 0.0f, 0.0f), from);
    const Vec3 inside = (from * std::cos(angle / 2.0f) + tangent * std::sin(angle / 2.0f)) * 1.8f;
    const Vec2 at = camera.Project(inside, viewport);
    EXPECT_TRUE(p.Is(int(at.x), int(at.y), 64, 0, 76, 12)) << p.Describe(int(at.x), int(at.y));
    // Outside the sector, within the circle, the frame shows.
    const float beyond = angle + (angle > 0.0f ? 0.8f : -0.8f);
    const Vec3 outside = (from * std::cos(beyond) + tangent * std::sin(beyond)) * 1.8f;
    const Vec2 out = camera.Project(outside, viewport);
    EXPECT_TRUE(p.Is(int(out.x), int(out.y), 0, 0, 102)) << p.Describe(int(out.x), int(out.y));
}

} // namespace
} // namespace GAME
