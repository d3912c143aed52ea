// The debug render manager inside a started engine over the recording software device: what a
// flush draws, texts with and without a font, arrows that cannot be drawn, the switch, and the
// bound on a queue nobody flushes.
#include "GraphicsFixtures.h"
#include "world/EngineFixture.h"

#include "core/ABBox.h"
#include "graphics/DebugRenderManager.h"
#include "graphics/GraphicsCanvas.h"
#include "graphics/GraphicsEngine.h"
#include "scene/Camera.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace GAME {
namespace {

class DebugRenderTest : public GAME::Test::EngineTest
{
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        settings.deviceName = "Software";
        data.AddFile("Fonts/Arial.fnt", {'T', 'E', 'S', 'T', 'F', 'O', 'N', 'T'});
        Start();
        graphics = engine->GetGraphicsEngine();
        graphics->GetBasicShader()->EnsureAvailable();
        canvas = graphics->GetCanvas();
        control = software.Device(graphics->GetRenderDevice());
        ASSERT_NE(control, nullptr);
        ASSERT_TRUE(canvas->BeginFrame());
        control->SetRecording(true);
        control->TakeRecordedCalls();
        debug = DebugRenderManager::Get();
        camera.SetCoords(Coords::LookInDirection(Vec3(0, 0, -10), Vec3(0, 0, 1), Vec3(0, 1, 0)));
    }

    void TearDown() override
    {
        if (canvas)
            canvas->EndFrame();
        EngineTest::TearDown();
    }

    void Flush() { debug->Flush(*canvas, nullptr, camera, viewport); }
    std::vector<std::string> Calls() { return control->TakeRecordedCalls(); }
    // The calls of this thread: what the resource loader thread makes and fills meanwhile is left
    // out.
    std::vector<std::string> DrawingCalls()
    {
        std::vector<std::string> calls;
        for (std::string& call : Calls())
            if (call.rfind("Create", 0) != 0 && call.rfind("Lock(", 0) != 0 && call.rfind("Unlock(", 0) != 0)
                calls.push_back(std::move(call));
        return calls;
    }
    // Lines drawn by the recorded calls: the primitive counts of the line-list draws.
    static int LinesDrawn(const std::vector<std::string>& calls)
    {
        int lines = 0;
        for (const std::string& call :
             GAME::Test::GraphicsFixture::Matching(calls, "DrawIndexedPrimitive(3,"))
            lines += std::stoi(call.substr(call.rfind(',') + 2));
        return lines;
    }
    static int Count(const std::vector<std::string>& calls, const std::string& prefix)
    {
        return static_cast<int>(GAME::Test::GraphicsFixture::Matching(calls, prefix).size());
    }

    GAME::Test::SoftwareModuleAccess software;
    GraphicsEngine* graphics = nullptr;
    GraphicsCanvas* canvas = nullptr;
    Software::DeviceControl* control = nullptr;
    DebugRenderManager* debug = nullptr;
    Camera camera;
    Viewport viewport = Viewport(0, 0, 1024, 768);
    Region* region = reinterpret_cast<Region*>(this); // never dereferenced without a camera region
};

TEST_F(DebugRenderTest, AFlushDrawsEveryShapeOnceInTheViewportOverAClearedDepth)
{
    debug->RenderBox(region, ABBox(Vec3(0, 0, 0), Vec3(1, 1, 1)), Color(1, 0, 0, 1));
    debug->RenderSphere(region, Sphere(Vec3(0, 0, 5), 2.0f), Color(0, 1, 0, 1));
    debug->RenderLine(region, Vec3(0, 0, 0), Vec3(5, 0, 0), Color(1, 1, 1, 1), nullptr);
    debug->RenderCone(region, Vec3(0, 0, 0), Vec3(0, 2, 0), 0.5f, Color(1, 1, 0, 1));
    debug->RenderArrow(region, Vec3(0, 0, 0), Vec3(3, 0, 0), Color(0, 0, 1, 1));
    EXPECT_EQ(debug->GetNumQueuedCommands(), 5u);
    Flush();
    EXPECT_EQ(debug->GetNumQueuedCommands(), 0u);
    const std::vector<std::string> calls = Calls();
    ASSERT_FALSE(calls.empty());
    // The viewport, then the depth cleared, then the drawing (the loader thread's records may
    // come in between).
    const auto at = [&calls](const std::string& call) {
        return std::find_if(calls.begin(), calls.end(),
                            [&](const std::string& c) { return c.rfind(call, 0) == 0; }) -
               calls.begin();
    };
    EXPECT_EQ(GAME::Test::GraphicsFixture::Matching(calls, "SetViewport"),
              (std::vector<std::string>{"SetViewport(0, 0, 1024, 768)"}));
    EXPECT_EQ(GAME::Test::GraphicsFixture::Matching(calls, "Clear("), (std::vector<std::string>{"Clear(2)"}));
    EXPECT_LT(at("SetViewport"), at("Clear("));
    EXPECT_LT(at("Clear("), at("DrawIndexedPrimitive"));
    // Box 12, sphere 16 rings and 16 meridians of 16 segments, line 1, cone 16 + 16, arrow 3.
    EXPECT_EQ(LinesDrawn(calls), 12 + 512 + 1 + 32 + 3);
    EXPECT_EQ(control->GetRejectedCallCount(), 0u);
    EXPECT_EQ(control->GetLockedResourceCount(), 0u);

    // Drawn once: the next flush has nothing to do and changes nothing.
    Flush();
    EXPECT_TRUE(DrawingCalls().empty());
}

TEST_F(DebugRenderTest, FrustaAreOutlinedWhereTheirPlanesBoundEachOther)
{
    // A box-shaped frustum of six planes: each face outlined by four lines.
    Frustum box;
    box.AddPlane(Plane(Vec3(1, 0, 0), 1.0f));
    box.AddPlane(Plane(Vec3(-1, 0, 0), 1.0f));
    box.AddPlane(Plane(Vec3(0, 1, 0), 1.0f));
    box.AddPlane(Plane(Vec3(0, -1, 0), 1.0f));
    box.AddPlane(Plane(Vec3(0, 0, 1), 1.0f));
    box.AddPlane(Plane(Vec3(0, 0, -1), 1.0f));
    debug->RenderFrustum(region, box, Color(1, 1, 1, 1));
    Flush();
    EXPECT_EQ(LinesDrawn(Calls()), 24);
}

TEST_F(DebugRenderTest, WhatCannotBeDrawnIsNotDrawn)
{
    // An arrow seen end-on and one of no length; the forms without a region.
    debug->RenderArrow(region, Vec3(0, 0, 0), Vec3(0, 0, 5), Color(1, 1, 1, 1));
    debug->RenderArrow(region, Vec3(2, 2, 2), Vec3(2, 2, 2), Color(1, 1, 1, 1));
    debug->RenderBox(ABBox(Vec3(), Vec3(1, 1, 1)), Color(1, 1, 1, 1));
    debug->RenderSphere(Sphere(Vec3(), 1.0f), Color(1, 1, 1, 1));
    debug->RenderArrow(Vec3(), Vec3(1, 0, 0), Color(1, 1, 1, 1));
    debug->RenderCone(Vec3(), Vec3(0, 1, 0), 0.5f, Color(1, 1, 1, 1));
    debug->RenderText("nowhere", Vec3(), Color(1, 1, 1, 1));
    EXPECT_EQ(debug->GetNumQueuedCommands(), 2u);
    Flush();
    EXPECT_EQ(LinesDrawn(Calls()), 0);

    // Queued while disabled: never drawn, even once enabled again.
    debug->Disable();
    debug->RenderBox(region, ABBox(Vec3(), Vec3(1, 1, 1)), Color(1, 1, 1, 1));
    debug->Enable();
    EXPECT_EQ(debug->GetNumQueuedCommands(), 0u);
    Flush();
    EXPECT_TRUE(DrawingCalls().empty());
}

TEST_F(DebugRenderTest, TextsNeedAFontWhenQueuedAndLandWhereTheCameraSeesThem)
{
    debug->SetFont(nullptr);
    debug->RenderText("before", Vec2(10.7f, 20.2f), Color(1, 1, 1, 1));
    debug->SetFont(graphics->GetDefaultFont());
    ASSERT_NE(graphics->GetDefaultFont(), nullptr);
    debug->RenderText("after", Vec2(10.7f, 20.2f), Color(1, 0, 0, 1));
    debug->RenderText("ahead", region, Vec3(0, 0, 0), Color(0, 1, 0, 1));
    debug->RenderText("behind", region, Vec3(0, 0, -20), Color(0, 1, 0, 1));
    Flush();
    std::vector<std::string> runs = GAME::Test::GraphicsFixture::Matching(Calls(), "DrawText(");
    std::string all;
    for (const std::string& run : runs)
        all += run + "\n";
    EXPECT_EQ(all.find("before"), std::string::npos) << all;
    EXPECT_EQ(all.find("behind"), std::string::npos) << all;
    // The utility style: a shadow then the text, at the truncated position.
    EXPECT_NE(all.find("\"after\", 10, 20, ffff0000"), std::string::npos) << all;
    // Straight ahead of the camera: the middle of the viewport.
    EXPECT_NE(all.find("\"ahead\", 512, 384, ff00ff00"), std::string::npos) << all;
}

TEST_F(DebugRenderTest, AQueueNobodyFlushesStopsAtItsBound)
{
    const ABBox box(Vec3(), Vec3(1, 1, 1));
    for (size_t i = 0; i < DebugRenderManager::maxQueuedCommands + 10; ++i)
        debug->RenderBox(region, box, Color(1, 1, 1, 1));
    EXPECT_EQ(debug->GetNumQueuedCommands(), DebugRenderManager::maxQueuedCommands);
    EXPECT_TRUE(engine->Has("further ones are dropped", 1));
    // Destroying the manager deletes what is queued; a new one starts empty.
    DebugRenderManager::Destroy();
    debug = DebugRenderManager::Get();
    EXPECT_EQ(debug->GetNumQueuedCommands(), 0u);
}

} // namespace
} // namespace GAME
