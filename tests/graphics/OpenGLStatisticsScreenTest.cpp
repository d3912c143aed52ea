// The statistics screen (--stats in the sample host, F3 in its window) drawn through the device
// that draws (OpenGL.so, headless through EGL) inside a started engine, over a frame that stands
// for the world, and read back: the profiler's panels and the statistics panel (where the thread
// monitor writes its lines) each drawn alone, then together. The suite's name starts with
// "OpenGL": it needs that module beside libEngine.so.
#include "graphics/OpenGLEngineFixture.h"

#include "core/Profile.h"
#include "core/ThreadMonitor.h"
#include "world/ProfilerWidget.h"
#include "world/StatisticsWidget.h"

#include <chrono>
#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace GAME {
namespace {

constexpr int kWidth = 1024;
constexpr int kHeight = 768;
const Color kWorld(0.3f, 0.6f, 0.3f, 1.0f);

// Blocks as many as an engine's frame times, one with a name longer than the screen is wide.
const char* const kBlocks[] = {
    "Engine update",
    "Render (widgets and scene)",
    "Scene: building",
    "Scene: lit passes",
    "Scene: emissive passes (water; effects)",
    "Scene: fog step",
    "Scene: lights and shadow maps",
    "World update",
    "Resource loader: main-thread work",
    "Level loading: taking levels in",
    "Physics step",
    "Sound update",
    "Network update",
    "Terrain: grass",
    "Terrain: blocks",
    "Water: reflections",
    "Particles",
    "Walkers: animation",
    "Walkers: paths",
    "A block named at such length that no panel of a reasonable size could ever hold its name in "
    "one line, and must cut it"};

class OpenGLStatisticsScreenTest : public GAME::Test::OpenGLEngineTest
{
protected:
    // The world's frame with the widgets asked for drawn over it, read back.
    GAME::Test::Image Draw(bool profiler, bool statistics)
    {
        canvas->ClearRenderSurface(nullptr, kWorld, RENDER_CLEAR_COLOR | RENDER_CLEAR_DEPTH);
        canvas->SetDefaultState();
        if (profiler)
            engine->GetProfilerWidget()->Render(*canvas);
        if (statistics) {
            // A full thread monitor's lines and the frame statistics below them.
            StatisticsWidget* widget = engine->GetStatisticsWidget();
            for (int i = 0; i < ThreadMonitor::maximumLines; ++i)
                widget->AddGraph("Thread Level Loading Thread (38 threads): 40% (Normal priority)", 40.0f,
                                 Color(0.2f, 0.8f, 0.2f, 0.8f));
            widget->AddText("frames drawn - 48");
            widget->AddText("regions resident - 27");
            widget->Render(*canvas);
        }
        return Read();
    }

    // The pixels the widgets changed: apart from the world's colour by more than a few levels.
    std::vector<bool> Covered(const GAME::Test::Image& picture)
    {
        std::vector<bool> covered(picture.pixels.size());
        for (int y = 0; y < picture.height; ++y)
            for (int x = 0; x < picture.width; ++x)
                covered[size_t(y) * size_t(picture.width) + size_t(x)] = !picture.Is(x, y, 77, 153, 77, 6);
        return covered;
    }
};

TEST_F(OpenGLStatisticsScreenTest, ProfilerAndThreadMonitorLieApartAndLeaveMostOfTheWorldVisible)
{
    ASSERT_NO_FATAL_FAILURE(StartOpenGL(kWidth, kHeight));
    ProfilerWidget* profiler = engine->GetProfilerWidget();
    ASSERT_NE(profiler, nullptr);
    engine->ShowProfiler(true);
    // Frames whose blocks each take long enough to be listed (the list averages five frames).
    for (unsigned int frame = 1; frame <= 6; ++frame) {
        for (const char* name : kBlocks) {
            Profile block(name);
            const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(300);
            while (std::chrono::steady_clock::now() < until) {
            }
        }
        clock.Advance(20);
        profiler->UpdateFrame(frame);
    }
    ASSERT_EQ(profiler->GetBlockLines().size(), std::size(kBlocks));

    const std::vector<bool> world = Covered(Draw(false, false));
    const std::vector<bool> list = Covered(Draw(true, false));
    const std::vector<bool> monitor = Covered(Draw(false, true));
    const std::vector<bool> both = Covered(Draw(true, true));
    engine->ShowProfiler(false);
    size_t worldCovered = 0, listCovered = 0, monitorCovered = 0, overlap = 0, bothCovered = 0;
    for (size_t i = 0; i < world.size(); ++i) {
        worldCovered += world[i];
        listCovered += list[i];
        monitorCovered += monitor[i];
        overlap += list[i] && monitor[i];
        bothCovered += both[i];
    }
    const size_t screen = size_t(kWidth) * size_t(kHeight);
    ASSERT_EQ(worldCovered, 0u);
    // Each draws its panel (the profiler's two: its list and its graph).
    EXPECT_GT(listCovered, screen / 20);
    EXPECT_GT(monitorCovered, screen / 20);
    // Not a pixel of one panel under the other, and two thirds of the world in sight.
    EXPECT_EQ(overlap, 0u);
    EXPECT_LT(bothCovered, screen / 3)
        << "the statistics cover " << 100 * bothCovered / screen << " % of the screen";
}

} // namespace
} // namespace GAME
