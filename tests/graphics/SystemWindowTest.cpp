// Tests on a real window of the system's window layer (SDL2). They need a display (the test
// scripts run them under xvfb-run) and skip without one. The tests named OpenGLWindow... also
// need the OpenGL device module, which draws into the window.

#include "VideoClip.h"
#include "XDisplay.h"
#include "common/LogCapture.h"
#include "common/TempDir.h"

#include "graphics/InputDevice.h"
#include "graphics/RenderDevice.h"
#include "graphics/RenderSurface.h"
#include "graphics/VideoPlayer.h"
#include "graphics/VideoWindowPlayer.h"
#include "graphics/Window.h"
#include "graphics/WindowEventHandler.h"
#include "platform/WindowSystem.h"
#include "sound/SoundManager.h"
#include "world/EngineFixture.h"

#include <SDL.h>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace GAME {
namespace {

class AltEnterCounter : public WindowEventHandler
{
public:
    void OnAltEnter() override { ++altEnters; }
    void OnWindowChange() override { ++changes; }
    int altEnters = 0;
    int changes = 0;
};

class SystemWindowTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!Platform::HasDisplay())
            GTEST_SKIP() << "no display (run under xvfb-run)";
        ASSERT_TRUE(window.Initialize("Marrow test", 320, 240, nullptr, Window::STYLE_FIXED));
        sdlWindow = static_cast<SDL_Window*>(window.GetSystemWindow());
        ASSERT_NE(sdlWindow, nullptr);
        windowId = SDL_GetWindowID(sdlWindow);
        window.ProcessMessages(); // what the system says of a new window
    }

    void PushKey(SDL_Scancode scancode, bool down, const char* text = nullptr, uint16_t mod = KMOD_NONE,
                 bool repeat = false)
    {
        SDL_Event event = {};
        event.type = down ? SDL_KEYDOWN : SDL_KEYUP;
        event.key.windowID = windowId;
        event.key.state = down ? SDL_PRESSED : SDL_RELEASED;
        event.key.repeat = repeat ? 1 : 0;
        event.key.keysym.scancode = scancode;
        event.key.keysym.mod = mod;
        ASSERT_EQ(SDL_PushEvent(&event), 1);
        if (text) {
            SDL_Event typed = {};
            typed.type = SDL_TEXTINPUT;
            typed.text.windowID = windowId;
            std::strncpy(typed.text.text, text, sizeof(typed.text.text) - 1);
            ASSERT_EQ(SDL_PushEvent(&typed), 1);
        }
    }

    void PushButton(uint8_t button, bool down, int x, int y)
    {
        SDL_Event event = {};
        event.type = down ? SDL_MOUSEBUTTONDOWN : SDL_MOUSEBUTTONUP;
        event.button.windowID = windowId;
        event.button.button = button;
        event.button.state = down ? SDL_PRESSED : SDL_RELEASED;
        event.button.x = x;
        event.button.y = y;
        ASSERT_EQ(SDL_PushEvent(&event), 1);
    }

    // The X server answers a move or resize of a real window some time later, and under load that
    // answer came after events a test pushed itself (a stray size change counted as the pushed
    // one's, or one too many). A round trip on SDL's own connection brings every answer to what
    // was asked so far; SDL reads them and they are dropped, so that only the pushed events count.
    void Settle()
    {
        GAME::Test::SyncWithServer(sdlWindow);
        SDL_PumpEvents();
        SDL_FlushEvent(SDL_WINDOWEVENT);
    }

    void PushWindowEvent(uint8_t type, int data1 = 0, int data2 = 0)
    {
        SDL_Event event = {};
        event.type = SDL_WINDOWEVENT;
        event.window.windowID = windowId;
        event.window.event = type;
        event.window.data1 = data1;
        event.window.data2 = data2;
        ASSERT_EQ(SDL_PushEvent(&event), 1);
    }

    GAME::Test::LogCapture log;
    Window window;
    SDL_Window* sdlWindow = nullptr;
    uint32_t windowId = 0;
};

TEST_F(SystemWindowTest, OpensAnSdlWindowOfTheClientSizeAndEndsOnAClose)
{
    EXPECT_EQ(window.GetClientWidth(), 320);
    EXPECT_EQ(window.GetClientHeight(), 240);
    EXPECT_NE(SDL_GetWindowFlags(sdlWindow) & SDL_WINDOW_OPENGL, 0u);
    EXPECT_NE(SDL_GetWindowFlags(sdlWindow) & SDL_WINDOW_SHOWN, 0u);
    window.SetSize(400, 300, Window::STYLE_RESIZABLE);
    EXPECT_EQ(window.GetClientWidth(), 400);
    EXPECT_NE(SDL_GetWindowFlags(sdlWindow) & SDL_WINDOW_RESIZABLE, 0u);
    window.SetSize(400, 300, Window::STYLE_FULL_SCREEN);
    EXPECT_NE(SDL_GetWindowFlags(sdlWindow) & SDL_WINDOW_BORDERLESS, 0u);
    Settle();

    AltEnterCounter handler;
    window.SetEventHandler(&handler);
    PushKey(SDL_SCANCODE_RETURN, true, nullptr, KMOD_LALT);
    PushKey(SDL_SCANCODE_RETURN, true, nullptr, KMOD_LALT, true); // repeat
    PushKey(SDL_SCANCODE_RETURN, false, nullptr, KMOD_LALT);
    PushKey(SDL_SCANCODE_RETURN, true);
    PushWindowEvent(SDL_WINDOWEVENT_RESIZED, 500, 400); // refused in full-screen style, heard of
    EXPECT_TRUE(window.ProcessMessages());
    EXPECT_EQ(handler.altEnters, 1);
    EXPECT_EQ(handler.changes, 1);

    PushWindowEvent(SDL_WINDOWEVENT_CLOSE);
    EXPECT_FALSE(window.ProcessMessages());
    EXPECT_FALSE(window.ProcessMessages());
    window.Destroy();
    EXPECT_EQ(window.GetSystemWindow(), nullptr);
}

TEST_F(SystemWindowTest, MovesTheWindowMakesItselfAndCaptionDragsReachNoHandler)
{
    AltEnterCounter handler;
    window.SetEventHandler(&handler);
    // The window's own centring and sizing, and the moves the system reports of them.
    window.Center();
    window.SetSize(400, 300, Window::STYLE_RESIZABLE);
    Settle();
    int x = 0, y = 0;
    SDL_GetWindowPosition(sdlWindow, &x, &y);
    PushWindowEvent(SDL_WINDOWEVENT_MOVED, x, y);
    EXPECT_TRUE(window.ProcessMessages());
    EXPECT_EQ(handler.changes, 0);
    // The user drags the caption: the window goes along, its handler does not hear of it, also in
    // full-screen style.
    PushWindowEvent(SDL_WINDOWEVENT_MOVED, x + 30, y + 20);
    window.SetSize(400, 300, Window::STYLE_FULL_SCREEN);
    PushWindowEvent(SDL_WINDOWEVENT_MOVED, x + 40, y + 25);
    EXPECT_TRUE(window.ProcessMessages());
    EXPECT_EQ(handler.changes, 0);
    // A maximise still reaches it.
    PushWindowEvent(SDL_WINDOWEVENT_MAXIMIZED);
    EXPECT_TRUE(window.ProcessMessages());
    EXPECT_EQ(handler.changes, 1);

    // What the back end hands the window: nothing for its own move, a caption move for a drag.
    std::unique_ptr<Platform::WindowBackend> backend(Platform::CreateSystemWindowBackend());
    ASSERT_NE(backend, nullptr);
    ASSERT_TRUE(backend->Create("Marrow test 2", 160, 120, nullptr));
    backend->Center();
    Settle();
    SDL_Window* second = static_cast<SDL_Window*>(backend->GetSystemWindow());
    SDL_GetWindowPosition(second, &x, &y);
    windowId = SDL_GetWindowID(second);
    PushWindowEvent(SDL_WINDOWEVENT_MOVED, x, y);
    PushWindowEvent(SDL_WINDOWEVENT_MOVED, x + 7, y + 9);
    backend->PumpMessages();
    Platform::WindowMessage message;
    ASSERT_TRUE(backend->TakeMessage(message));
    EXPECT_EQ(message.type, Platform::WindowMessage::SYSTEM_COMMAND);
    EXPECT_EQ(message.command, uint32_t(Platform::SYSTEM_COMMAND_CAPTION_MOVE));
    EXPECT_EQ(message.x, x + 7);
    EXPECT_EQ(message.y, y + 9);
    EXPECT_FALSE(backend->TakeMessage(message));
}

TEST_F(SystemWindowTest, KeysAndMousePushedThroughSdlArriveAsTheInputDevicesItems)
{
    InputDevice* input = InputDevice::Create();
    ASSERT_TRUE(input->Initialize(window.GetSystemWindow(), 256, 256));

    PushKey(SDL_SCANCODE_LSHIFT, true);
    PushKey(SDL_SCANCODE_A, true, "A");
    PushKey(SDL_SCANCODE_A, true, "A", KMOD_NONE, true); // auto-repeat: no second item
    PushKey(SDL_SCANCODE_A, false);
    PushKey(SDL_SCANCODE_E, true, "\xc3\xa9"); // composed by the system: é
    PushKey(SDL_SCANCODE_KP_ENTER, true);
    PushButton(SDL_BUTTON_LEFT, true, 10, 20);
    input->Update();

    ASSERT_EQ(input->GetNumButtonEvents(), 5);
    const InputDevice::ButtonEvent shift = input->GetButtonEvent(0);
    EXPECT_EQ(shift.keyCode, 42u);
    const InputDevice::ButtonEvent a = input->GetButtonEvent(1);
    EXPECT_EQ(a.keyCode, 30u);
    EXPECT_EQ(a.state, uint32_t(InputDevice::BUTTON_PRESSED));
    EXPECT_EQ(std::u16string(a.GetText()), u"A");
    EXPECT_TRUE(a.shift);
    EXPECT_EQ(input->GetButtonEvent(2).state, uint32_t(InputDevice::BUTTON_RELEASED));
    EXPECT_EQ(std::u16string(input->GetButtonEvent(2).GetText()), u"");
    EXPECT_EQ(std::u16string(input->GetButtonEvent(3).GetText()), u"\u00e9");
    EXPECT_EQ(input->GetButtonEvent(4).keyCode, InputDevice::KeyCodeFromScanCode(156));
    EXPECT_TRUE(input->IsKeyDown(42));
    EXPECT_FALSE(input->IsKeyDown(30));
    std::u16string name;
    input->GetButtonName(30, name);
    EXPECT_EQ(name, u"A");

    // The left button is held at the read: the cursor follows even without the keyboard focus.
    ASSERT_EQ(input->GetNumMouseEvents(), 2);
    EXPECT_EQ(input->GetMouseEvent(0).type, uint32_t(InputDevice::MOUSE_MOVE));
    EXPECT_EQ(input->GetMouseEvent(0).x, 10.0f);
    EXPECT_EQ(input->GetMouseEvent(0).y, 20.0f);
    EXPECT_EQ(input->GetMouseEvent(1).type, uint32_t(InputDevice::MOUSE_LEFT_DOWN));
    EXPECT_TRUE(input->GetMouseEvent(1).leftDown);

    PushButton(SDL_BUTTON_LEFT, false, 11, 21);
    PushButton(SDL_BUTTON_MIDDLE, true, 11, 21);
    SDL_Event wheel = {};
    wheel.type = SDL_MOUSEWHEEL;
    wheel.wheel.windowID = windowId;
    wheel.wheel.y = -2;
    wheel.wheel.direction = SDL_MOUSEWHEEL_NORMAL;
    ASSERT_EQ(SDL_PushEvent(&wheel), 1);
    input->Update();
    ASSERT_EQ(input->GetNumMouseEvents(), 4);
    EXPECT_EQ(input->GetMouseEvent(1).type, uint32_t(InputDevice::MOUSE_LEFT_UP));
    EXPECT_EQ(input->GetMouseEvent(2).type, uint32_t(InputDevice::MOUSE_MIDDLE_DOWN));
    EXPECT_EQ(input->GetMouseEvent(3).type, uint32_t(InputDevice::MOUSE_WHEEL_DOWN));
    EXPECT_EQ(input->GetMouseEvent(3).wheel, -240);
    InputDevice::ButtonEvent converted;
    input->GetMouseEvent(3).ConvertToButtonEvent(converted);
    EXPECT_EQ(converted.keyCode, uint32_t(InputDevice::KEY_WHEEL_DOWN));

    // The window's own pump does not take the input device's items, nor the device the window's.
    PushKey(SDL_SCANCODE_ESCAPE, true);
    PushWindowEvent(SDL_WINDOWEVENT_CLOSE);
    input->Update();
    EXPECT_EQ(input->GetNumButtonEvents(), 1);
    EXPECT_FALSE(window.ProcessMessages());
    InputDevice::Destroy(input);
}

TEST_F(SystemWindowTest, AnInputDeviceOutlivingItsWindowReadsNothing)
{
    InputDevice* input = InputDevice::Create();
    ASSERT_TRUE(input->Initialize(window.GetSystemWindow(), 16, 16));
    PushKey(SDL_SCANCODE_A, true);
    window.Destroy();
    input->Update();
    EXPECT_EQ(input->GetNumButtonEvents(), 0);
    EXPECT_FALSE(input->IsKeyDown(30));
    InputDevice::Destroy(input);

    int foreign = 0; // not a window of ours: refused without touching it
    InputDevice* stray = InputDevice::Create();
    EXPECT_FALSE(stray->Initialize(&foreign, 16, 16));
    InputDevice::Destroy(stray);
}

TEST_F(SystemWindowTest, PlayVideoPlaysInTheWindowUntilTheVideoEndsOrAKeyGoesDown)
{
    GAME::Test::TempDir dir;
    const std::string shortClip = dir.File("short.avi");
    const std::string longClip = dir.File("long.avi");
    ASSERT_TRUE(GAME::Test::WriteClip(shortClip, 64, 48, 5, 25));
    ASSERT_TRUE(GAME::Test::WriteClip(longClip, 64, 16, 600, 1)); // ten minutes

    EXPECT_TRUE(PlayVideo(shortClip.c_str(), window.GetSystemWindow(), 320, 240, false, false));

    // A key pressed while it plays ends it long before its end. The key goes down once the window
    // shows the long video (a key before playback is not heard, and a press after a fixed delay
    // may come before it on a loaded machine): four times as wide as high, it shows between black
    // bars, where the short one filled the window. Ten minutes of video ended by the key are over
    // within half of them: only a key not heard (or a hang) takes that long, however busy the machine.
    const unsigned long xWindow = GAME::Test::GetXWindow(window.GetSystemWindow());
    ASSERT_NE(xWindow, 0u);
    bool playing = false;
    std::thread presser([&playing, xWindow, id = windowId] {
        const GAME::Test::Rgb blue = GAME::Test::ClipColor(0, 63, 64);
        const uint32_t right = uint32_t(blue.r << 16 | blue.g << 8 | blue.b);
        playing = GAME::Test::WaitForWindowColors(xWindow, {{240, 120, right}, {240, 20, 0u}, {240, 220, 0u}}, 16,
                                                  120);
        SDL_Event event = {};
        event.type = SDL_KEYDOWN;
        event.key.windowID = id;
        event.key.state = SDL_PRESSED;
        event.key.keysym.scancode = SDL_SCANCODE_SPACE;
        SDL_PushEvent(&event);
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(PlayVideo(longClip.c_str(), window.GetSystemWindow(), 320, 240, false, false));
    presser.join();
    EXPECT_TRUE(playing) << "the window never showed the video";
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::minutes(5));
    EXPECT_TRUE(window.ProcessMessages()); // the window lives on

    EXPECT_FALSE(
        PlayVideo(dir.File("missing.avi").c_str(), window.GetSystemWindow(), 320, 240, false, false));
    EXPECT_TRUE(log.Contains("can't open the video", 1));
    EXPECT_FALSE(PlayVideo(shortClip.c_str(), nullptr, 320, 240, false, false));
    EXPECT_TRUE(log.Contains("PlayVideo: can't show", 1));
}

// ---------------------------------------------------------------------------
// PlayVideo's sound through a started engine's sound manager (the loopback device)
// ---------------------------------------------------------------------------

class VideoWindowSoundTest : public GAME::Test::EngineTest
{
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        if (!Platform::HasDisplay())
            GTEST_SKIP() << "no display (run under xvfb-run)";
        ASSERT_TRUE(window.Initialize("Marrow test", 320, 240, nullptr, Window::STYLE_FIXED));
        previousOutput = SoundManager::GetDefaultOutput();
        SoundManager::SetDefaultOutput(SoundDevice::OUTPUT_LOOPBACK);
        Start();
        ASSERT_NE(engine->GetSoundManager(), nullptr);
        ASSERT_TRUE(engine->GetSoundManager()->IsInitialized());
    }

    void TearDown() override
    {
        EngineTest::TearDown();
        SoundManager::SetDefaultOutput(previousOutput);
        window.Destroy();
    }

    static double Level(const std::vector<int16_t>& samples)
    {
        double sum = 0.0;
        for (int16_t s : samples)
            sum += static_cast<double>(s) * s;
        return samples.empty() ? 0.0 : std::sqrt(sum / static_cast<double>(samples.size()));
    }

    Window window;
    SoundDevice::Output previousOutput = SoundDevice::OUTPUT_DEFAULT;
};

TEST_F(VideoWindowSoundTest, TheSoundTrackOfAVideoInTheWindowReachesTheEnginesMix)
{
    GAME::Test::TempDir dir;
    const std::string clip = dir.File("talk.avi");
    // Three seconds: silent for the first one and a half, a tone after.
    ASSERT_TRUE(GAME::Test::WriteClip(clip, 32, 24, 30, 10, GAME::Test::ClipSound{22050, 1.5}));
    SoundManager* sound = engine->GetSoundManager();
    VideoWindowPlayer player;
    ASSERT_TRUE(player.Open(clip.c_str(), window.GetSystemWindow(), 320, 240, false));
    std::vector<int16_t> silent, tone;
    bool over = false;
    for (int ms = 10; ms <= 2000 && !over; ms += 10) {
        clock.Advance(10);
        over = player.Step() == VideoWindowPlayer::StepResult::Over;
        std::vector<int16_t> mix(SoundDevice::kLoopbackRate / 100 * 2);
        ASSERT_TRUE(sound->RenderLoopback(mix.data(), SoundDevice::kLoopbackRate / 100));
        std::vector<int16_t>& into = ms <= 1300 ? silent : ms >= 1700 ? tone : mix;
        if (&into != &mix)
            into.insert(into.end(), mix.begin(), mix.end());
    }
    EXPECT_FALSE(over);
    EXPECT_LT(Level(silent), 50.0);
    EXPECT_GT(Level(tone), 3000.0) << "the track is not heard";
    player.Close();
    EXPECT_EQ(sound->GetNumStreams(), 0);
}

// ---------------------------------------------------------------------------
// With the OpenGL device drawing into the window
// ---------------------------------------------------------------------------

class OpenGLWindowTest : public SystemWindowTest
{
protected:
    void SetUp() override
    {
        SystemWindowTest::SetUp();
        if (IsSkipped())
            return;
        device = RenderDevice::Create("OpenGL");
        ASSERT_NE(device, nullptr) << "the OpenGL device module is missing";
        ASSERT_TRUE(device->Initialize());
        RenderDeviceSettings settings;
        settings.width = 320;
        settings.height = 240;
        surface = device->CreatePrimarySurface(window.GetSystemWindow(), &settings);
        ASSERT_NE(surface, nullptr);
    }

    void TearDown() override
    {
        if (device) {
            if (surface)
                device->DestroySurface(&surface);
            RenderDevice::Destroy(device);
        }
        RenderDevice::UnloadLibraries();
    }

    RenderDevice* device = nullptr;
    RenderSurface* surface = nullptr;
};

bool Near(const Pixel& p, int r, int g, int b)
{
    return std::abs(p.r - r) <= 3 && std::abs(p.g - g) <= 3 && std::abs(p.b - b) <= 3;
}

// A blue frame with a red quad in the middle, read back before the swap.
void DrawAndCheck(RenderDevice* device, RenderSurface* surface)
{
    ASSERT_TRUE(device->BeginFrame());
    device->SetViewport(Viewport(0, 0, 320, 240));
    device->SetClearColor(Color(0.0f, 0.0f, 1.0f, 1.0f));
    device->Clear(RENDER_CLEAR_COLOR | RENDER_CLEAR_DEPTH);
    device->SetDepthTestFunction(RENDER_TEST_ALWAYS);
    const Vec3 quad[4] = {Vec3(100.0f, 80.0f, 0.0f), Vec3(220.0f, 80.0f, 0.0f), Vec3(220.0f, 160.0f, 0.0f),
                          Vec3(100.0f, 160.0f, 0.0f)};
    device->DrawQuad(quad, 4, 0xFFFF0000u); // red, alpha in the top byte
    std::vector<Pixel> pixels(320 * 240);
    ASSERT_TRUE(device->ReadFrameBuffer(pixels.data(), 320, 240));
    device->EndFrame();
    device->PresentSurface(surface);
    EXPECT_TRUE(Near(pixels[5 * 320 + 5], 0, 0, 255));
    EXPECT_TRUE(Near(pixels[120 * 320 + 160], 255, 0, 0));
    EXPECT_TRUE(Near(pixels[230 * 320 + 310], 0, 0, 255));
}

TEST_F(OpenGLWindowTest, TheDeviceDrawsIntoTheWindowAndReadsItBackBeforeTheSwap)
{
    EXPECT_EQ(device->GetWidth(), 320);
    EXPECT_EQ(device->GetHeight(), 240);
    DrawAndCheck(device, surface);
    EXPECT_TRUE(window.ProcessMessages());
}

TEST_F(OpenGLWindowTest, TheDevicesOwnSwitchToFullScreenIsNoWindowChangeForTheHost)
{
    // In full-screen style the window undoes sizes: it must not undo the switch's either.
    window.SetSize(320, 240, Window::STYLE_FULL_SCREEN);
    Settle();
    AltEnterCounter handler;
    window.SetEventHandler(&handler);
    // The window has its new size once the X server has answered and the window has heard of it:
    // messages are taken until it has it (a fixed number of them raced a loaded server).
    auto pumpUntil = [&](int width, int height) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60); // only a hang
        do {
            GAME::Test::SyncWithServer(sdlWindow);
            EXPECT_TRUE(window.ProcessMessages());
            if (window.GetClientWidth() == width && window.GetClientHeight() == height)
                return;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        } while (std::chrono::steady_clock::now() < end);
    };
    device->SetFullScreen(true);
    ASSERT_NE(SDL_GetWindowFlags(sdlWindow) & SDL_WINDOW_FULLSCREEN, 0u);
    SDL_DisplayMode mode = {};
    ASSERT_EQ(SDL_GetWindowDisplayMode(sdlWindow, &mode), 0) << SDL_GetError();
    pumpUntil(mode.w, mode.h);
    EXPECT_EQ(window.GetClientWidth(), mode.w);
    EXPECT_EQ(window.GetClientHeight(), mode.h);
    EXPECT_EQ(handler.changes, 0);
    // Any other size of a full-screen window is still heard of.
    PushWindowEvent(SDL_WINDOWEVENT_RESIZED, mode.w / 2, mode.h / 2);
    EXPECT_TRUE(window.ProcessMessages());
    EXPECT_EQ(handler.changes, 1);

    device->SetFullScreen(false);
    pumpUntil(320, 240);
    EXPECT_EQ(SDL_GetWindowFlags(sdlWindow) & SDL_WINDOW_FULLSCREEN, 0u);
    EXPECT_EQ(window.GetClientWidth(), 320);
    EXPECT_EQ(window.GetClientHeight(), 240);
    EXPECT_EQ(handler.changes, 1);
    DrawAndCheck(device, surface);
}

TEST_F(OpenGLWindowTest, TheDeviceStillDrawsAfterPlayVideoUsedTheWindow)
{
    GAME::Test::TempDir dir;
    const std::string clip = dir.File("clip.avi");
    ASSERT_TRUE(GAME::Test::WriteClip(clip, 64, 48, 3, 25));
    EXPECT_TRUE(PlayVideo(clip.c_str(), window.GetSystemWindow(), 320, 240, false, false));
    DrawAndCheck(device, surface);
}

TEST_F(OpenGLWindowTest, AVideoFrameIsDrawnThroughTheVideoTextureWithBarsAboveAndBelow)
{
    GAME::Test::TempDir dir;
    const std::string clip = dir.File("wide.avi");
    ASSERT_TRUE(GAME::Test::WriteClip(clip, 80, 50, 3, 25)); // 16:10 on a 4:3 target
    VideoPlayer::Services services;
    services.device = device;
    VideoPlayer player(services);
    ASSERT_TRUE(player.Open(clip.c_str(), false, false));
    player.Update();
    player.Render(); // a frame of its own
    std::vector<Pixel> pixels(320 * 240);
    ASSERT_TRUE(device->ReadFrameBuffer(pixels.data(), 320, 240));
    device->PresentSurface(surface);
    // The video takes 320 x 200 from y 20.
    EXPECT_TRUE(Near(pixels[5 * 320 + 160], 0, 0, 0));
    EXPECT_TRUE(Near(pixels[235 * 320 + 160], 0, 0, 0));
    const GAME::Test::Rgb left = GAME::Test::ClipColor(0, 0, 80);
    const GAME::Test::Rgb right = GAME::Test::ClipColor(0, 79, 80);
    const Pixel l = pixels[120 * 320 + 80];
    const Pixel r = pixels[120 * 320 + 240];
    EXPECT_TRUE(std::abs(l.r - left.r) <= 12 && std::abs(l.g - left.g) <= 12 && std::abs(l.b - left.b) <= 12)
        << int(l.r) << " " << int(l.g) << " " << int(l.b);
    EXPECT_TRUE(std::abs(r.r - right.r) <= 12 && std::abs(r.g - right.g) <= 12 &&
                std::abs(r.b - right.b) <= 12)
        << int(r.r) << " " << int(r.g) << " " << int(r.b);
    player.Close();
}

} // namespace
} // namespace GAME
