// A started engine over the device that draws (OpenGL.so, headless through EGL), for pixel tests
// through the canvas: the test puts its files into `data` in its SetUp, then StartOpenGL starts the
// engine at the size and opens a frame, which TearDown closes; Read reads render target 0 back.
// Suites built on it are named "OpenGL...": they need that module beside libEngine.so and fail,
// saying so, without it.
#pragma once

#include "graphics/OpenGLTestSupport.h"
#include "world/EngineFixture.h"

#include "graphics/GraphicsCanvas.h"
#include "graphics/GraphicsEngine.h"
#include "graphics/RenderDevice.h"

#include <gtest/gtest.h>
#include <string>

namespace GAME::Test {

class OpenGLEngineTest : public EngineTest
{
protected:
    // Call through ASSERT_NO_FATAL_FAILURE: a failure leaves the fixture without an engine.
    void StartOpenGL(int width, int height)
    {
        ASSERT_TRUE(OpenGLModuleLoads());
        settings.deviceName = "OpenGL";
        data.SetDefault("resolution", std::to_string(width) + " " + std::to_string(height));
        data.SetDefault("skipCompatibilityChecks", "true"); // whatever the software rasteriser reports
        Start();
        ASSERT_TRUE(s_fatalErrors.empty()) << s_fatalErrors.front();
        graphics = engine->GetGraphicsEngine();
        ASSERT_NE(graphics, nullptr);
        device = graphics->GetRenderDevice();
        canvas = graphics->GetCanvas();
        ASSERT_NE(canvas, nullptr);
        ASSERT_EQ(device->GetWidth(), width);
        ASSERT_EQ(device->GetHeight(), height);
        ASSERT_TRUE(canvas->BeginFrame());
        inFrame = true;
    }

    void TearDown() override
    {
        if (inFrame)
            canvas->EndFrame();
        EngineTest::TearDown();
    }

    // The top left of render target 0 (the whole target by default).
    Image Read(int width = 0, int height = 0)
    {
        width = width ? width : device->GetWidth();
        height = height ? height : device->GetHeight();
        Image image;
        image.width = width;
        image.height = height;
        image.pixels.resize(size_t(width) * size_t(height));
        EXPECT_TRUE(device->ReadFrameBuffer(image.pixels.data(), width, height));
        return image;
    }

    GraphicsEngine* graphics = nullptr;
    RenderDevice* device = nullptr;
    GraphicsCanvas* canvas = nullptr;
    bool inFrame = false;
};

} // namespace GAME::Test
