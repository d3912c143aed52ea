// The OpenGL device on a real window: the test makes an SDL window itself (the game-window layer
// will hand its window over the same way, as the opaque window of CreatePrimarySurface), draws,
// reads back before the swap and presents. Needs an X display: CI runs it under xvfb-run -a; with
// no display it is skipped, and the headless tests carry on.
#include "OpenGLTestSupport.h"

#include <SDL2/SDL.h>
#include <cstdlib>
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

} // namespace
} // namespace GAME
