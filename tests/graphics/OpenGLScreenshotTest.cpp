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

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace GAME {
namespace {

TEST(OpenGLScreenshotTest, TheTgaAndThePngHoldThePixelsTheDeviceReadsBackAndOtherNamesAreRefused)
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

        // The name says the format: a ".png" (in any case) is a PNG of the same picture.
        const std::string png = dir.File("screenshot.PNG");
        ASSERT_TRUE(graphics.SaveScreenShot(png.c_str()));
        std::FILE* file = std::fopen(png.c_str(), "rb");
        ASSERT_NE(file, nullptr);
        unsigned char signature[8] = {};
        EXPECT_EQ(std::fread(signature, 1, 8, file), 8u);
        std::fclose(file);
        EXPECT_EQ(std::memcmp(signature, "\x89PNG\r\n\x1a\n", 8), 0);
        Image fromPng;
        ASSERT_EQ(fromPng.Load(png.c_str(), Image::FORMAT_RGBA), Image::ERROR_NONE);
        ASSERT_EQ(fromPng.GetBufferSize(), readBack.size() * sizeof(Pixel));
        const uint8_t* middle = fromPng.GetBuffer() + readBack.size() / 2 * 4;
        EXPECT_EQ(middle[0], readBack[readBack.size() / 2].r);
        EXPECT_EQ(middle[1], readBack[readBack.size() / 2].g);
        EXPECT_EQ(middle[2], readBack[readBack.size() / 2].b);
        EXPECT_EQ(middle[3], 255); // opaque

        // Any other name is refused, and says why.
        const std::string jpeg = dir.File("screenshot.jpg");
        EXPECT_FALSE(graphics.SaveScreenShot(jpeg.c_str()));
        EXPECT_TRUE(log.Contains("can't save '" + jpeg + "'", 1));
        EXPECT_EQ(std::fopen(jpeg.c_str(), "rb"), nullptr);
        EXPECT_FALSE(graphics.SaveScreenShot(dir.File("screenshot").c_str()));
    }
    RenderDevice::UnloadLibraries();
}

} // namespace
} // namespace GAME
