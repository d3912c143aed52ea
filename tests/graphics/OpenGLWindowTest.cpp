// The OpenGL device on a real window: the test makes an SDL window itself (the game-window layer
// will hand its window over the same way, as the opaque window of CreatePrimarySurface), draws,
// reads back before the swap and presents. Needs an X display: CI runs it under xvfb-run -a; with
// no display it is skipped, and the headless tests carry on.
#include "OpenGLTestSupport.h"

#include <SDL2/SDL.h>
#include <cstdlib>
#include <string>
#include <vector>
#include <gtest/gtest.h>

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

} // namespace
} // namespace GAME
