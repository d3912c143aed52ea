#include "SoftwareDeviceAccess.h"
#include "common/LogCapture.h"
#include "data/ResourceFixtures.h"

#include "data/ResourceManager.h"
#include "graphics/GraphicsCanvas.h"
#include "graphics/HeadlessInputDevice.h"
#include "graphics/RenderDebugger.h"
#include "graphics/RenderSurface.h"
#include "graphics/ResourceEvictor.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

namespace GAME {
namespace {

using GAME::Test::TestResource;

// The software device with a 640 x 480 target and a canvas on it.
class DeviceTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        device = RenderDevice::Create("Software");
        ASSERT_NE(device, nullptr);
        ASSERT_TRUE(device->Initialize());
        RenderDeviceSettings settings;
        settings.width = 640;
        settings.height = 480;
        surface = device->CreatePrimarySurface(nullptr, &settings);
        ASSERT_NE(surface, nullptr);
        control = software.Device(device);
        ASSERT_NE(control, nullptr);
        canvas = std::make_unique<GraphicsCanvas>(device, surface);
    }

    void TearDown() override
    {
        canvas.reset();
        if (device) {
            if (surface)
                device->DestroySurface(&surface);
            RenderDevice::Destroy(device);
        }
        RenderDevice::UnloadLibraries();
    }

    // A frame of `draws` quads of two faces each, then the widget drawn.
    void Frame(int draws, const DisplayWidget& widget)
    {
        ASSERT_TRUE(device->BeginFrame());
        const Vec3 quad[4] = {Vec3(0, 0, 0), Vec3(10, 0, 0), Vec3(10, 10, 0), Vec3(0, 10, 0)};
        for (int i = 0; i < draws; ++i)
            device->DrawQuad(quad, 4, 0xFFFFFFFFu);
        widget.Render(*canvas);
        device->EndFrame();
    }

    GAME::Test::ManualClock clock;
    GAME::Test::TestServices services;
    GAME::Test::LogCapture log;
    GAME::Test::SoftwareModuleAccess software;
    RenderDevice* device = nullptr;
    RenderSurface* surface = nullptr;
    Software::DeviceControl* control = nullptr;
    std::unique_ptr<GraphicsCanvas> canvas;
};

InputDevice::MouseEvent Mouse(uint32_t type, float x, float y)
{
    InputDevice::MouseEvent event;
    event.type = type;
    event.x = x;
    event.y = y;
    return event;
}

using RenderDebuggerTest = DeviceTest;

TEST_F(RenderDebuggerTest, HiddenItKeepsTheDeviceDrawingEverythingAndDrawsNothing)
{
    RenderDebugger debugger;
    device->SetDrawCallLimit(3);
    device->SetDebugSwitch2(true);
    control->SetRecording(true);
    Frame(5, debugger);
    const Software::RenderState state = control->GetRenderState();
    EXPECT_EQ(state.drawCallLimit, -1);
    EXPECT_TRUE(state.debugSwitch1);
    EXPECT_FALSE(state.debugSwitch2);
    for (const std::string& call : control->TakeRecordedCalls())
        EXPECT_EQ(call.find("DrawTexturedQuad"), std::string::npos) << call;
    EXPECT_EQ(debugger.GetDrawCallLimit(), RenderDebugger::noLimit);

    InputDevice::ButtonEvent key;
    key.keyCode = RenderDebugger::keySwitch1;
    EXPECT_FALSE(debugger.HandleKeyEvent(key));
    EXPECT_FALSE(debugger.HandleMouseEvent(Mouse(InputDevice::MOUSE_LEFT_DOWN, 620, 460)));
}

TEST_F(RenderDebuggerTest, ShownItClampsTheLimitToTheFramesDrawCallsAndSendsItWithTheSwitches)
{
    RenderDebugger debugger;
    debugger.Show(true);
    Frame(7, debugger);
    EXPECT_EQ(debugger.GetDrawCalls(), 7u);
    EXPECT_EQ(debugger.GetDrawCallLimit(), 7u);
    EXPECT_EQ(control->GetRenderState().drawCallLimit, 7);
    EXPECT_FALSE(control->GetRenderState().debugSwitch1);
    EXPECT_EQ(debugger.GetLine(2), "Rendering 7 out of 7 draw calls");
    EXPECT_NE(debugger.GetLine(1).find("MB video memory free"), std::string::npos);

    Frame(3, debugger); // a smaller frame pulls the limit down with it
    EXPECT_EQ(debugger.GetDrawCallLimit(), 3u);
    EXPECT_EQ(debugger.GetLine(2), "Rendering 3 out of 3 draw calls");

    // Keys A and P flip the switches (presses only) and are consumed; others pass.
    InputDevice::ButtonEvent key;
    key.keyCode = RenderDebugger::keySwitch2;
    EXPECT_TRUE(debugger.HandleKeyEvent(key));
    key.state = InputDevice::BUTTON_RELEASED;
    EXPECT_FALSE(debugger.HandleKeyEvent(key));
    key.state = InputDevice::BUTTON_PRESSED;
    key.keyCode = 44;
    EXPECT_FALSE(debugger.HandleKeyEvent(key));
    Frame(3, debugger);
    EXPECT_TRUE(control->GetRenderState().debugSwitch2);
    EXPECT_EQ(control->GetRenderState().drawCallLimit, 3);

    // Panels, track, line and knob: the knob at the right end of the slider for a full limit.
    control->SetRecording(true);
    Frame(3, debugger);
    const std::vector<std::string> calls = control->TakeRecordedCalls();
    EXPECT_NE(
        std::find(calls.begin(), calls.end(), "DrawTexturedQuad(620, 450, 15, 25, 0, 0, 0, 0, bfffffff, 0)"),
        calls.end());
    EXPECT_NE(
        std::find(calls.begin(), calls.end(), "DrawTexturedQuad(5, 5, 630, 45, 0, 0, 0, 0, 80000000, 0)"),
        calls.end());

    debugger.Show(false);
    Frame(3, debugger);
    EXPECT_EQ(control->GetRenderState().drawCallLimit, -1);
    EXPECT_TRUE(control->GetRenderState().debugSwitch1);
}

TEST_F(RenderDebuggerTest, TheBracketKeysStepTheLimitEveryEightyMillisecondsOrTwentyWithShift)
{
    HeadlessInputDevice input;
    ASSERT_TRUE(input.Initialize(nullptr, 8, 8));
    RenderDebugger debugger(nullptr, &input);
    debugger.Show(true);

    // With no limit yet, raising stays at "no limit" instead of wrapping to 0.
    input.SetKeyDown(RenderDebugger::keyIncreaseLimit, true);
    clock.Advance(81);
    debugger.Update();
    EXPECT_EQ(debugger.GetDrawCallLimit(), RenderDebugger::noLimit);
    input.SetKeyDown(RenderDebugger::keyIncreaseLimit, false);

    Frame(10, debugger);
    ASSERT_EQ(debugger.GetDrawCallLimit(), 10u);
    input.SetKeyDown(RenderDebugger::keyDecreaseLimit, true);
    clock.Advance(81);
    debugger.Update();
    EXPECT_EQ(debugger.GetDrawCallLimit(), 9u);
    clock.Advance(40);
    debugger.Update();
    EXPECT_EQ(debugger.GetDrawCallLimit(), 9u);
    clock.Advance(41);
    debugger.Update();
    EXPECT_EQ(debugger.GetDrawCallLimit(), 8u);

    // Left shift: every 20 ms; the limit stops at 0.
    input.SetKeyDown(RenderDebugger::keyFastRepeat, true);
    for (int step = 0; step < 12; ++step) {
        clock.Advance(21);
        debugger.Update();
    }
    EXPECT_EQ(debugger.GetDrawCallLimit(), 0u);
    input.SetKeyDown(RenderDebugger::keyDecreaseLimit, false);
    input.SetKeyDown(RenderDebugger::keyIncreaseLimit, true);
    for (int step = 0; step < 5; ++step) {
        clock.Advance(21);
        debugger.Update();
    }
    EXPECT_EQ(debugger.GetDrawCallLimit(), 5u);
    // The device hears of the limit when the widget is drawn: the frame after draws 5 of its 20,
    // and the debugger still counts all 20, so the limit can go up again.
    Frame(20, debugger);
    EXPECT_EQ(debugger.GetLine(2), "Rendering 5 out of 20 draw calls");
    EXPECT_EQ(control->GetRenderState().drawCallLimit, 5);
    Frame(20, debugger);
    EXPECT_EQ(debugger.GetDrawCalls(), 20u);
    EXPECT_EQ(debugger.GetLine(2), "Rendering 5 out of 20 draw calls");
    clock.Advance(21);
    debugger.Update();
    EXPECT_EQ(debugger.GetDrawCallLimit(), 6u);
    Frame(20, debugger);
    EXPECT_EQ(debugger.GetDrawCallLimit(), 6u);
    EXPECT_EQ(debugger.GetLine(2), "Rendering 6 out of 20 draw calls");
    // Both brackets held: lowering wins.
    input.SetKeyDown(RenderDebugger::keyDecreaseLimit, true);
    clock.Advance(21);
    debugger.Update();
    EXPECT_EQ(debugger.GetDrawCallLimit(), 5u);

    // Without an input device no key is held.
    RenderDebugger deaf;
    clock.Advance(100);
    deaf.Update();
    EXPECT_EQ(deaf.GetDrawCallLimit(), RenderDebugger::noLimit);
}

TEST_F(RenderDebuggerTest, TheKnobIsDraggedWithTheLeftButtonAndTheLimitFollowsClamped)
{
    RenderDebugger debugger;
    debugger.Show(true);
    Frame(100, debugger);
    ASSERT_EQ(debugger.GetSliderY(), 450.0f);
    ASSERT_EQ(debugger.GetKnobX(), 620.0f);

    EXPECT_FALSE(debugger.HandleMouseEvent(Mouse(InputDevice::MOUSE_MOVE, 300, 460)));      // not dragging
    EXPECT_FALSE(debugger.HandleMouseEvent(Mouse(InputDevice::MOUSE_LEFT_DOWN, 600, 460))); // beside the knob
    EXPECT_FALSE(
        debugger.HandleMouseEvent(Mouse(InputDevice::MOUSE_LEFT_DOWN, 625, 475))); // below the slider
    EXPECT_FALSE(debugger.HandleMouseEvent(Mouse(InputDevice::MOUSE_LEFT_UP, 625, 460)));
    EXPECT_TRUE(debugger.HandleMouseEvent(Mouse(InputDevice::MOUSE_LEFT_DOWN, 635, 450))); // its edges count
    EXPECT_TRUE(debugger.IsDragging());

    // (x - 5) x 100 / 615, truncated: 312.5 -> 50.
    EXPECT_TRUE(debugger.HandleMouseEvent(Mouse(InputDevice::MOUSE_MOVE, 312.5f, 300)));
    EXPECT_EQ(debugger.GetDrawCallLimit(), 50u);
    EXPECT_TRUE(debugger.HandleMouseEvent(Mouse(InputDevice::MOUSE_MOVE, -200, 300)));
    EXPECT_EQ(debugger.GetDrawCallLimit(), 0u);
    EXPECT_TRUE(debugger.HandleMouseEvent(Mouse(InputDevice::MOUSE_MOVE, 5000, 300)));
    EXPECT_EQ(debugger.GetDrawCallLimit(), 100u);
    EXPECT_TRUE(debugger.HandleMouseEvent(Mouse(InputDevice::MOUSE_MOVE, 67, 300)));
    EXPECT_EQ(debugger.GetDrawCallLimit(), 10u);
    EXPECT_FALSE(debugger.HandleMouseEvent(Mouse(InputDevice::MOUSE_RIGHT_DOWN, 67, 460)));
    EXPECT_TRUE(debugger.HandleMouseEvent(Mouse(InputDevice::MOUSE_LEFT_UP, 67, 300)));
    EXPECT_FALSE(debugger.IsDragging());
    EXPECT_FALSE(debugger.HandleMouseEvent(Mouse(InputDevice::MOUSE_MOVE, 600, 300)));
    EXPECT_EQ(debugger.GetDrawCallLimit(), 10u);

    Frame(100, debugger);
    EXPECT_EQ(control->GetRenderState().drawCallLimit, 10);
    Frame(100, debugger); // the device stops after 10 draw calls, of the 100 it counts
    EXPECT_EQ(debugger.GetDrawCalls(), 100u);
    EXPECT_EQ(debugger.GetDrawCallLimit(), 10u);
    EXPECT_EQ(debugger.GetKnobX(), 5.0f + 615.0f * 10.0f / 100.0f);
}

TEST_F(RenderDebuggerTest, FramesPerSecondAreSampledEveryFifteenthFrameAndSurviveAStoppedClock)
{
    RenderDebugger debugger;
    debugger.Show(true);
    services.frame = 15;
    debugger.Update(); // starts the sample
    for (int i = 0; i < 15; ++i)
        Frame(4, debugger); // 4 quads of 2 faces each a frame
    clock.Advance(500);
    services.frame = 29;
    debugger.Update();
    EXPECT_EQ(debugger.GetFramesPerSecond(), 0.0f); // not a sampling frame
    services.frame = 30;
    debugger.Update();
    EXPECT_FLOAT_EQ(debugger.GetFramesPerSecond(), 30.0f);
    EXPECT_FLOAT_EQ(debugger.GetFacesPerSecond(), 15 * 8 * 2.0f);

    // The clock stands still: the rates stay what they were, nothing divides by zero.
    Frame(4, debugger);
    services.frame = 45;
    debugger.Update();
    EXPECT_FLOAT_EQ(debugger.GetFramesPerSecond(), 30.0f);
    EXPECT_TRUE(std::isfinite(debugger.GetFacesPerSecond()));
    // The faces of the stopped sample count into the next one.
    clock.Advance(1000);
    services.frame = 60;
    debugger.Update();
    EXPECT_FLOAT_EQ(debugger.GetFacesPerSecond(), 8.0f);
    EXPECT_NE(debugger.GetLine(0).find("FPS, 8 faces"), std::string::npos) << debugger.GetLine(0);
}

// ---------------------------------------------------------------------------
// Eviction
// ---------------------------------------------------------------------------

TEST(ResourceEvictorTest, FramesOfDisuseFollowTheFreeVideoMemory)
{
    EXPECT_EQ(ResourceEvictor::GetEvictionFrames(0), 2);
    EXPECT_EQ(ResourceEvictor::GetEvictionFrames(1048576), 4); // 1 MiB: 2.42 + 2
    EXPECT_EQ(ResourceEvictor::GetEvictionFrames(12582912), 31);
    EXPECT_EQ(ResourceEvictor::GetEvictionFrames(25165823), 59);
    EXPECT_EQ(ResourceEvictor::GetEvictionFrames(25165824), 600);
    EXPECT_EQ(ResourceEvictor::GetEvictionFrames(67108863), 600);
    EXPECT_EQ(ResourceEvictor::GetEvictionFrames(67108864), -1);
    EXPECT_EQ(ResourceEvictor::GetEvictionFrames(0xFFFFFFFFu), -1);
}

using ResourceEvictorDeviceTest = DeviceTest;

TEST_F(ResourceEvictorDeviceTest, UnloadsWhatWasNotUsedForThatManyFramesFromEveryManager)
{
    ResourceLoader loader;
    ResourceManager<TestResource> textures(&loader);
    ResourceManager<TestResource> meshes(&loader);
    services.source->Put("old.tex", "old");
    services.source->Put("mid.tex", "mid");
    services.source->Put("new.msh", "new");
    TestResource* old = textures.LoadTypedResource("old.tex");
    TestResource* mid = textures.LoadTypedResource("mid.tex");
    TestResource* recent = meshes.LoadTypedResource("new.msh");
    services.frame = 100;
    old->EnsureAvailable();
    services.frame = 698;
    mid->EnsureAvailable();
    services.frame = 1000;
    recent->EnsureAvailable();

    ResourceEvictor evictor(device);
    evictor.Add(&textures);
    evictor.Add(&textures); // once
    evictor.Add(&meshes);
    EXPECT_EQ(evictor.GetNumManagers(), 2);
    auto setFree = [&](uint64_t bytes) {
        control->SetTotalVideoMemory(static_cast<uint32_t>(control->GetResourceBytes() + bytes));
        ASSERT_EQ(device->GetFreeVideoMemory(), bytes);
    };

    // Plenty free: nothing goes.
    setFree(64u << 20);
    evictor.Update();
    EXPECT_TRUE(old->GetIsNotUnloaded() && mid->GetIsNotUnloaded() && recent->GetIsNotUnloaded());
    // Below 64 MiB: more than 600 frames unused.
    setFree((64u << 20) - 1);
    evictor.Update();
    EXPECT_FALSE(old->GetIsNotUnloaded());
    EXPECT_TRUE(mid->GetIsNotUnloaded()); // 302 frames
    // Nothing free: more than 2 frames unused, in every manager.
    services.frame = 1003;
    setFree(0);
    evictor.Update();
    EXPECT_FALSE(mid->GetIsNotUnloaded());
    EXPECT_FALSE(recent->GetIsNotUnloaded());

    recent->EnsureAvailable();
    evictor.Remove(&meshes);
    services.frame = 2000;
    evictor.Evict(0);
    EXPECT_TRUE(recent->GetIsNotUnloaded()); // its manager left the evictor
    textures.UnloadResource(old);
    textures.UnloadResource(mid);
    meshes.UnloadResource(recent);
}

} // namespace
} // namespace GAME
