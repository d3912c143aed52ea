// The OpenGL device on a real window: the test makes an SDL window itself (the game-window layer
// will hand its window over the same way, as the opaque window of CreatePrimarySurface), draws,
// reads back before the swap and presents. Needs an X display: CI runs it under xvfb-run -a; with
// no display it is skipped, and the headless tests carry on.
#include "OpenGLTestSupport.h"
#include "XDisplay.h"
#include "common/LogCapture.h"

#include <SDL2/SDL.h>
#include <chrono>
#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

namespace GAME {
namespace {

using Test::Argb;

class SdlVideo
{
public:
    SdlVideo()
    {
        const char* display = std::getenv("DISPLAY");
        if (!display || !*display)
            return;
        SDL_SetHint(SDL_HINT_VIDEODRIVER, "x11");
        m_ready = SDL_InitSubSystem(SDL_INIT_VIDEO) == 0;
    }
    ~SdlVideo()
    {
        if (m_ready)
            SDL_Quit(); // the whole of SDL, so its D-Bus connection goes too
    }
    SdlVideo(const SdlVideo&) = delete;
    SdlVideo& operator=(const SdlVideo&) = delete;
    bool IsReady() const { return m_ready; }

private:
    bool m_ready = false;
};

TEST(OpenGLWindow, DrawsIntoAnSdlWindowReadsBackAndPresents)
{
    SdlVideo video;
    if (!video.IsReady())
        GTEST_SKIP() << "no X display (the window tests run under xvfb-run -a)";
    SDL_Window* window = SDL_CreateWindow("OpenGL device test", SDL_WINDOWPOS_UNDEFINED,
                                          SDL_WINDOWPOS_UNDEFINED, 48, 32, SDL_WINDOW_SHOWN);
    ASSERT_NE(window, nullptr) << SDL_GetError();

    RenderDevice* device = RenderDevice::Create("OpenGL");
    ASSERT_NE(device, nullptr);
    ASSERT_TRUE(device->Initialize());
    RenderDeviceSettings settings;
    settings.width = 48;
    settings.height = 32;
    settings.flags = RenderDeviceSettings::FLAG_SYNC_TO_REFRESH;
    RenderSurface* primary = device->CreatePrimarySurface(window, &settings);
    ASSERT_NE(primary, nullptr);
    // The device draws on that window only.
    EXPECT_EQ(device->CreatePrimarySurface(nullptr, &settings), nullptr);
    std::vector<RenderDisplayMode> modes;
    device->GetSupportedDisplayModes(modes);
    EXPECT_FALSE(modes.empty());

    for (int frame = 0; frame < 3; ++frame) {
        ASSERT_TRUE(device->BeginFrame());
        device->SetClearColor(Color(0.0f, 0.0f, 1.0f, 1.0f));
        device->Clear(RENDER_CLEAR_COLOR | RENDER_CLEAR_DEPTH);
        const Vec3 corners[4] = {Vec3(0, 0, 0), Vec3(24, 0, 0), Vec3(24, 16, 0), Vec3(0, 16, 0)};
        device->DrawQuad(corners, 4, Argb(255, 0, frame * 100, 255));
        std::vector<Pixel> pixels(48 * 32);
        ASSERT_TRUE(device->ReadFrameBuffer(pixels.data(), 48, 32));
        EXPECT_TRUE(GAME::Test::Near(pixels[0], 255, 0, frame * 100, 255)) << GAME::Test::Describe(pixels[0]);
        EXPECT_TRUE(GAME::Test::Near(pixels[47], 0, 0, 255, 255)) << GAME::Test::Describe(pixels[47]);
        EXPECT_TRUE(GAME::Test::Near(pixels[31 * 48], 0, 0, 255, 255))
            << GAME::Test::Describe(pixels[31 * 48]);
        device->EndFrame();
        device->PresentSurface(primary);
        EXPECT_FALSE(device->DeviceLost());
    }
    // A reset keeps the window and changes the size of what is drawn.
    settings.width = 24;
    settings.height = 24;
    EXPECT_TRUE(device->ResetDevice(settings));
    ASSERT_TRUE(device->BeginFrame());
    std::vector<Pixel> pixels(24 * 24);
    EXPECT_TRUE(device->ReadFrameBuffer(pixels.data(), 24, 24));
    device->EndFrame();
    device->PresentSurface(primary);

    device->DestroySurface(&primary);
    RenderDevice::Destroy(device);
    SDL_DestroyWindow(window);
}

TEST(OpenGLWindow, FullScreenTakesTheDisplayModeAndLeavingItGivesTheWindowItsSizeBack)
{
    SdlVideo video;
    if (!video.IsReady())
        GTEST_SKIP() << "no X display (the window tests run under xvfb-run -a)";
    SDL_Window* window = SDL_CreateWindow("OpenGL device test", SDL_WINDOWPOS_UNDEFINED,
                                          SDL_WINDOWPOS_UNDEFINED, 48, 32, SDL_WINDOW_SHOWN);
    ASSERT_NE(window, nullptr) << SDL_GetError();
    SDL_DisplayMode desktop = {};
    ASSERT_EQ(SDL_GetDesktopDisplayMode(0, &desktop), 0) << SDL_GetError();
    RenderDevice* device = RenderDevice::Create("OpenGL");
    ASSERT_NE(device, nullptr);
    ASSERT_TRUE(device->Initialize());
    RenderDeviceSettings settings;
    settings.width = 48;
    settings.height = 32;
    RenderSurface* primary = device->CreatePrimarySurface(window, &settings);
    ASSERT_NE(primary, nullptr);
    auto windowSize = [&] {
        SDL_PumpEvents();
        int w = 0, h = 0;
        SDL_GetWindowSize(window, &w, &h);
        return std::to_string(w) + " x " + std::to_string(h) +
               ((SDL_GetWindowFlags(window) & SDL_WINDOW_FULLSCREEN) ? " full screen" : "");
    };
    const std::string full = std::to_string(desktop.w) + " x " + std::to_string(desktop.h) + " full screen";

    // Full screen at the display's size, anti-aliased: the picture is resolved for the window.
    settings.width = desktop.w;
    settings.height = desktop.h;
    settings.flags = RenderDeviceSettings::FLAG_FULL_SCREEN;
    settings.antiAliasing = 1;
    ASSERT_TRUE(device->ResetDevice(settings));
    EXPECT_EQ(windowSize(), full);
    ASSERT_TRUE(device->BeginFrame());
    device->SetClearColor(Color(0.0f, 0.0f, 0.0f, 1.0f));
    device->Clear(RENDER_CLEAR_COLOR | RENDER_CLEAR_DEPTH);
    const Vec3 triangle[3] = {Vec3(0, 0, 0), Vec3(64, 0, 0), Vec3(0, 64, 0)};
    device->DrawFan(triangle, 3, Argb(255, 255, 255, 255));
    std::vector<Pixel> pixels(size_t(desktop.w) * size_t(desktop.h));
    ASSERT_TRUE(device->ReadFrameBuffer(pixels.data(), desktop.w, desktop.h));
    device->EndFrame();
    device->PresentSurface(primary);
    int grey = 0;
    for (int x = 2; x < 62; ++x) {
        const int r = pixels[size_t(63 - x) * size_t(desktop.w) + size_t(x)].r;
        grey += r > 24 && r < 232 ? 1 : 0;
    }
    EXPECT_GT(grey, 30) << "the triangle's edge is not smoothed";
    EXPECT_FALSE(device->DeviceLost());

    // Back to a window of the size it had.
    settings.width = 48;
    settings.height = 32;
    settings.flags = 0;
    settings.antiAliasing = 0;
    ASSERT_TRUE(device->ResetDevice(settings));
    EXPECT_EQ(windowSize(), "48 x 32");
    // SetFullScreen switches at the settings' size, the closest mode the display has.
    device->SetFullScreen(true);
    SDL_DisplayMode asked = {}, closest = {};
    asked.w = 48;
    asked.h = 32;
    ASSERT_NE(SDL_GetClosestDisplayMode(0, &asked, &closest), nullptr);
    EXPECT_EQ(windowSize(), std::to_string(closest.w) + " x " + std::to_string(closest.h) + " full screen");
    device->SetFullScreen(false);
    EXPECT_EQ(windowSize(), "48 x 32");

    device->DestroySurface(&primary);
    RenderDevice::Destroy(device);
    SDL_DestroyWindow(window);
}

// The window's size as "w x h", with " full screen" when it is.
std::string WindowSize(SDL_Window* window)
{
    SDL_PumpEvents();
    int w = 0, h = 0;
    SDL_GetWindowSize(window, &w, &h);
    return std::to_string(w) + " x " + std::to_string(h) +
           ((SDL_GetWindowFlags(window) & SDL_WINDOW_FULLSCREEN) ? " full screen" : "");
}

std::string Size(int w, int h)
{
    return std::to_string(w) + " x " + std::to_string(h);
}

// What the window shows once it shows the colour at its centre. Frames are drawn (cleared to the
// colour) and presented until the X server has the window at the size and the picture in it
// (under load the server takes a new window size some time later); empty when it never does, for
// as long as only a window that never shows it would take (a picture not presented, at the wrong
// size or place).
struct Shown
{
    int width = 0;
    int height = 0;
    std::vector<uint32_t> pixels;
    uint32_t At(int x, int y) const { return pixels[size_t(y) * size_t(width) + size_t(x)]; }
};

Shown PresentUntilShown(RenderDevice& device, RenderSurface* primary, SDL_Window* window, int wantedWidth,
                        int wantedHeight, uint32_t rgb)
{
    Shown shown;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    do {
        if (!device.BeginFrame())
            break;
        device.SetClearColor(Color(float(rgb >> 16 & 0xFF) / 255.0f, float(rgb >> 8 & 0xFF) / 255.0f,
                                   float(rgb & 0xFF) / 255.0f, 1.0f));
        device.Clear(RENDER_CLEAR_COLOR | RENDER_CLEAR_DEPTH);
        device.EndFrame();
        device.PresentSurface(primary);
        SDL_PumpEvents();
        if (GAME::Test::ReadWindowPixels(window, shown.width, shown.height, shown.pixels) &&
            shown.width == wantedWidth && shown.height == wantedHeight &&
            shown.At(shown.width / 2, shown.height / 2) == rgb)
            return shown;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    } while (std::chrono::steady_clock::now() < end);
    shown.pixels.clear();
    return shown;
}

TEST(OpenGLWindow, FullScreenFromTheStartTakesTheDisplayModeClosestToTheSettingsNotTheDesktops)
{
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display)
        GTEST_SKIP() << "no X display (the window tests run under xvfb-run -a)";
    int screenWidth = 0, screenHeight = 0;
    ASSERT_TRUE(GAME::Test::GetXScreenSize(screenWidth, screenHeight))
        << "the X display " << display << " takes no connection";
    // Before SDL starts, so that it lists them: half and three quarters of the screen.
    const int halfWidth = screenWidth / 2 & ~1, halfHeight = screenHeight / 2 & ~1;
    const int bigWidth = screenWidth * 3 / 4 & ~1, bigHeight = screenHeight * 3 / 4 & ~1;
    GAME::Test::ExtraDisplayModes extra({{halfWidth, halfHeight}, {bigWidth, bigHeight}});
    ASSERT_TRUE(extra.IsReady()) << extra.Error();
    SdlVideo video;
    ASSERT_TRUE(video.IsReady()) << SDL_GetError();
    SDL_DisplayMode desktop = {};
    ASSERT_EQ(SDL_GetDesktopDisplayMode(0, &desktop), 0) << SDL_GetError();
    ASSERT_EQ(Size(desktop.w, desktop.h), Size(screenWidth, screenHeight));
    ASSERT_GE(SDL_GetNumDisplayModes(0), 3);
    SDL_Window* window = SDL_CreateWindow("OpenGL device test", SDL_WINDOWPOS_UNDEFINED,
                                          SDL_WINDOWPOS_UNDEFINED, 48, 32, SDL_WINDOW_SHOWN);
    ASSERT_NE(window, nullptr) << SDL_GetError();
    RenderDevice* device = RenderDevice::Create("OpenGL");
    ASSERT_NE(device, nullptr);
    ASSERT_TRUE(device->Initialize());
    // The mode the display shows, as the X server has it.
    auto shownMode = [] {
        int w = 0, h = 0;
        return GAME::Test::GetXOutputModeSize(w, h) ? Size(w, h) : std::string("none");
    };

    // Between the two modes in size: the larger one holds it, the desktop is not taken.
    RenderDeviceSettings settings;
    settings.width = bigWidth - 40;
    settings.height = bigHeight - 30;
    settings.flags = RenderDeviceSettings::FLAG_FULL_SCREEN;
    RenderSurface* primary = device->CreatePrimarySurface(window, &settings);
    ASSERT_NE(primary, nullptr);
    EXPECT_EQ(WindowSize(window), Size(bigWidth, bigHeight) + " full screen");
    EXPECT_EQ(shownMode(), Size(bigWidth, bigHeight));

    // A reset to a mode's own size takes that mode, and the picture fills it.
    settings.width = halfWidth;
    settings.height = halfHeight;
    ASSERT_TRUE(device->ResetDevice(settings));
    EXPECT_EQ(WindowSize(window), Size(halfWidth, halfHeight) + " full screen");
    EXPECT_EQ(shownMode(), Size(halfWidth, halfHeight));
    ASSERT_TRUE(GAME::Test::PlaceWindow(window, 0, 0, halfWidth, halfHeight));
    const Shown half = PresentUntilShown(*device, primary, window, halfWidth, halfHeight, 0x00FF00);
    ASSERT_FALSE(half.pixels.empty())
        << "the window never showed the picture at " << Size(halfWidth, halfHeight);
    EXPECT_EQ(half.At(0, 0), 0x00FF00u);
    EXPECT_EQ(half.At(halfWidth - 1, halfHeight - 1), 0x00FF00u);

    // Leaving full screen gives the window its size and the display its own mode back.
    settings.width = 48;
    settings.height = 32;
    settings.flags = 0;
    ASSERT_TRUE(device->ResetDevice(settings));
    EXPECT_EQ(WindowSize(window), "48 x 32");
    EXPECT_EQ(shownMode(), Size(desktop.w, desktop.h));

    device->DestroySurface(&primary);
    RenderDevice::Destroy(device);
    SDL_DestroyWindow(window);
}

TEST(OpenGLWindow, FullScreenAtAModeOfAnotherShapeKeepsThePicturesShapeBetweenBarsAndSaysSo)
{
    SdlVideo video;
    if (!video.IsReady())
        GTEST_SKIP() << "no X display (the window tests run under xvfb-run -a)";
    GAME::Test::LogCapture log;
    SDL_Window* window = SDL_CreateWindow("OpenGL device test", SDL_WINDOWPOS_UNDEFINED,
                                          SDL_WINDOWPOS_UNDEFINED, 48, 32, SDL_WINDOW_SHOWN);
    ASSERT_NE(window, nullptr) << SDL_GetError();
    SDL_DisplayMode desktop = {};
    ASSERT_EQ(SDL_GetDesktopDisplayMode(0, &desktop), 0) << SDL_GetError();
    RenderDevice* device = RenderDevice::Create("OpenGL");
    ASSERT_NE(device, nullptr);
    ASSERT_TRUE(device->Initialize());
    RenderDeviceSettings settings;
    settings.width = 48;
    settings.height = 32;
    RenderSurface* primary = device->CreatePrimarySurface(window, &settings);
    ASSERT_NE(primary, nullptr);

    // Four times as wide as high: no display has a mode of that shape. The smallest mode that
    // holds it is taken and the picture shown across its width, black above and below.
    settings.width = desktop.w / 2 & ~3;
    settings.height = settings.width / 4;
    settings.flags = RenderDeviceSettings::FLAG_FULL_SCREEN;
    ASSERT_TRUE(device->ResetDevice(settings));
    SDL_DisplayMode mode = {};
    ASSERT_EQ(SDL_GetWindowDisplayMode(window, &mode), 0) << SDL_GetError();
    ASSERT_EQ(WindowSize(window), Size(mode.w, mode.h) + " full screen");
    ASSERT_TRUE(GAME::Test::PlaceWindow(window, 0, 0, mode.w, mode.h));
    const Shown shown = PresentUntilShown(*device, primary, window, mode.w, mode.h, 0xFF0000);
    ASSERT_FALSE(shown.pixels.empty()) << "the window never showed the picture at " << Size(mode.w, mode.h);
    const int pictureHeight = mode.w / 4;
    const int top = (mode.h - pictureHeight) / 2;
    ASSERT_GT(top, 4);
    for (const int x : {0, mode.w / 2, mode.w - 1}) {
        SCOPED_TRACE("column " + std::to_string(x));
        EXPECT_EQ(shown.At(x, 0), 0u);
        EXPECT_EQ(shown.At(x, top - 3), 0u);
        EXPECT_EQ(shown.At(x, top + 3), 0xFF0000u);
        EXPECT_EQ(shown.At(x, top + pictureHeight - 4), 0xFF0000u);
        EXPECT_EQ(shown.At(x, top + pictureHeight + 3), 0u);
        EXPECT_EQ(shown.At(x, mode.h - 1), 0u);
    }
    const std::string said = "the display has no " + Size(settings.width, settings.height) + " mode";
    EXPECT_TRUE(log.Contains(said, 1)) << "no line says what became of the picture";
    EXPECT_TRUE(
        log.Contains("shows the picture at " + Size(mode.w, pictureHeight) + " between black bars", 1));

    settings.width = 48;
    settings.height = 32;
    settings.flags = 0;
    ASSERT_TRUE(device->ResetDevice(settings));
    EXPECT_EQ(WindowSize(window), "48 x 32");
    device->DestroySurface(&primary);
    RenderDevice::Destroy(device);
    SDL_DestroyWindow(window);
}

} // namespace
} // namespace GAME
