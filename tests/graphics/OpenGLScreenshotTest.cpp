// Screenshots through the device that draws (OpenGL.so, headless through EGL). The suite's name
// starts with "OpenGL": it needs that module beside libEngine.so and fails, saying so, without it.
#include "OpenGLTestSupport.h"
#include "common/LogCapture.h"
#include "common/TempDir.h"

#include "data/Options.h"
#include "graphics/GraphicsCanvas.h"
#include "graphics/GraphicsEngine.h"
#include "graphics/Image.h"
#include "graphics/RenderDevice.h"

#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace GAME {
namespace {

TEST(OpenGLScreenshotTest, TheTgaHoldsThePixelsTheDeviceReadsBack)
{
    ASSERT_TRUE(GAME::Test::OpenGLModuleLoads());

    GAME::Test::TempDir dir;
    GAME::Test::LogCapture log;
    Options options;
    options.SetInt2(Options::INT2_RESOLUTION, Options::Int2{96, 64});
    options.SetBool(Options::BOOL_FULLSCREEN, false);
    options.SetBool(Options::BOOL_ANTI_ALIASING, false);
    options.SetBool(Options::BOOL_SKIP_COMPATIBILITY_CHECKS, true); // whatever the software renderer reports
    GraphicsEngineSettings settings;
    settings.deviceName = "OpenGL";
    {
        GraphicsEngine graphics(&options, dir.File("settings.txt"), false);
        ASSERT_TRUE(graphics.CreateDevice(nullptr, settings)) << "the OpenGL device did not start";
        ASSERT_TRUE(graphics.Initialize(nullptr, settings, nullptr));
        RenderDevice* device = graphics.GetRenderDevice();
        const int width = device->GetWidth();
        const int height = device->GetHeight();
        ASSERT_GT(width, 0);
        ASSERT_GT(height, 0);

        GraphicsCanvas* canvas = graphics.GetCanvas();
        ASSERT_TRUE(canvas->BeginFrame());
        canvas->ClearRenderSurface(nullptr, Color(0.25f, 0.5f, 0.75f, 1.0f), RENDER_CLEAR_COLOR);
        canvas->EndFrame();

        std::vector<Pixel> readBack(size_t(width) * size_t(height));
        ASSERT_TRUE(device->ReadFrameBuffer(readBack.data(), width, height));
        const std::string path = dir.File("screenshot.tga");
        ASSERT_TRUE(graphics.SaveScreenShot(path.c_str()));

        Image image;
        ASSERT_EQ(image.Load(path.c_str(), Image::FORMAT_RGBA), Image::ERROR_NONE);
        ASSERT_EQ(image.GetWidth(), uint32_t(width));
        ASSERT_EQ(image.GetHeight(), uint32_t(height));
        // The file holds exactly what the device gave (one run, one read-back path).
        ASSERT_EQ(image.GetBufferSize(), readBack.size() * sizeof(Pixel));
        EXPECT_EQ(std::memcmp(image.GetBuffer(), readBack.data(), image.GetBufferSize()), 0);
        // And that is the clear colour, within rounding.
        for (const Pixel& p : {readBack.front(), readBack[readBack.size() / 2], readBack.back()}) {
            EXPECT_NEAR(p.r, 64, 2);
            EXPECT_NEAR(p.g, 128, 2);
            EXPECT_NEAR(p.b, 191, 2);
        }
    }
    RenderDevice::UnloadLibraries();
}

} // namespace
} // namespace GAME
