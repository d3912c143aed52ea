#include "graphics/FontStyle.h"
#include "graphics/GraphicsCanvas.h"
#include "graphics/GraphicsEngine.h"
#include "graphics/RenderDevice.h"
#include "world/StatisticsWidget.h"

#include <atomic>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

namespace GAME {
namespace {

// Threads add graphs while the main thread draws frames: every graph is drawn exactly once (one bar
// each, plus one panel per frame that had any) and nothing races.
TEST(StatisticsWidgetThreads, GraphsAddedWhileTheMainThreadDrawsAreEachDrawnOnce)
{
    GraphicsEngineSettings settings;
    settings.deviceName = "Software";
    GraphicsEngine graphics;
    ASSERT_TRUE(graphics.CreateDevice(nullptr, settings));
    ASSERT_TRUE(graphics.Initialize(nullptr, settings, nullptr));
    RenderDevice* device = graphics.GetRenderDevice();
    GraphicsCanvas& canvas = *graphics.GetCanvas();

    FontStyle style;
    StatisticsWidget widget(&style);
    constexpr int adders = 3;
    constexpr int perAdder = 400;
    std::atomic<int> running{adders};
    std::vector<std::thread> threads;
    for (int t = 0; t < adders; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < perAdder; ++i)
                widget.AddGraph("load", 1.0f, Color(1.0f, 0.0f, 0.0f, 1.0f));
            --running;
        });

    uint64_t framesWithEntries = 0;
    uint64_t drawCalls = 0;
    auto drawFrame = [&] {
        ASSERT_TRUE(canvas.BeginFrame());
        widget.Render(canvas);
        const int calls = device->GetNumDrawCalls();
        canvas.EndFrame();
        drawCalls += static_cast<uint64_t>(calls);
        if (calls > 0)
            ++framesWithEntries;
    };
    while (running.load() > 0)
        drawFrame();
    for (std::thread& thread : threads)
        thread.join();
    drawFrame();

    EXPECT_EQ(widget.GetNumEntries(), 0u);
    EXPECT_EQ(drawCalls, uint64_t{adders * perAdder} + framesWithEntries);
}

} // namespace
} // namespace GAME
