#include "SoftwareDeviceAccess.h"
#include "common/LogCapture.h"
#include "common/TempDir.h"

#include "core/Time.h"
#include "data/Options.h"
#include "graphics/Display.h"
#include "graphics/EditorFilter.h"
#include "graphics/GraphicsEngine.h"
#include "graphics/RenderDebugger.h"

#include <gtest/gtest.h>
#include <memory>

namespace GAME {
namespace {

using Software::ResourceKind;

class CountingWidget : public DisplayWidget
{
public:
    void Render(GraphicsCanvas&) const override { ++renders; }
    mutable int renders = 0;
};

class GraphicsEngineTest : public ::testing::Test
{
protected:
    void TearDown() override
    {
        engine.reset();
        RenderDevice::UnloadLibraries();
    }

    // A started graphics engine over the software device, with the options given.
    GraphicsEngine& Start()
    {
        settings.deviceName = "Software";
        engine = std::make_unique<GraphicsEngine>(&options, dir.File("settings.txt"), false);
        EXPECT_TRUE(engine->CreateDevice(nullptr, settings));
        EXPECT_TRUE(engine->Initialize(nullptr, settings, nullptr));
        return *engine;
    }

    GAME::Test::SoftwareModuleAccess software;
    GAME::Test::TempDir dir;
    GAME::Test::LogCapture log;
    Options options;
    GraphicsEngineSettings settings;
    std::unique_ptr<GraphicsEngine> engine;
};

TEST_F(GraphicsEngineTest, CreatesItsDeviceThroughTheModuleTableAndCarriesItThroughFramesAndResets)
{
    ASSERT_NE(software.Get(), nullptr);
    GraphicsEngine& graphics = Start();
    RenderDevice* device = graphics.GetRenderDevice();
    ASSERT_NE(device, nullptr);
    EXPECT_GE(RenderDevice::FindDeviceLibrary(device), 0);
    Software::DeviceControl* control = software.Device(device);
    ASSERT_NE(control, nullptr);
    EXPECT_EQ(device->GetWidth(), 1024); // options without a resolution: the machine default
    EXPECT_TRUE(log.Contains("Graphics engine initialized successfully"));

    Display display;
    CountingWidget widget;
    RenderDebugger debugger;
    display.AddWidget(&debugger);
    display.AddWidget(&widget);
    graphics.SetDisplay(&display);

    graphics.Update(true);
    graphics.PresentSurface();
    graphics.Update(false); // the scene is off: no widgets, but still a frame
    graphics.PresentSurface();
    EXPECT_EQ(control->GetFrameCount(), 2u);
    EXPECT_EQ(control->GetPresentCount(), 2u);
    EXPECT_EQ(widget.renders, 1);
    // A hidden render debugger keeps the device drawing everything with switch 1 on.
    EXPECT_EQ(control->GetRenderState().drawCallLimit, -1);
    EXPECT_TRUE(control->GetRenderState().debugSwitch1);

    // Shown, it hands the device its own switches (off), and key A flips switch 1.
    debugger.Show(true);
    graphics.Update(true);
    EXPECT_FALSE(control->GetRenderState().debugSwitch1);
    InputDevice::ButtonEvent key;
    key.keyCode = RenderDebugger::keySwitch1;
    EXPECT_TRUE(display.HandleKeyEvent(key));
    graphics.Update(true);
    EXPECT_TRUE(control->GetRenderState().debugSwitch1);
    debugger.Show(false);

    control->SetDeviceLost(true);
    graphics.Update(true);
    graphics.PresentSurface();
    EXPECT_EQ(control->GetFrameCount(), 4u);
    EXPECT_EQ(control->GetPresentCount(), 2u);
    control->SetDeviceLost(false);

    const uint32_t resources = control->GetTotalResourceCount();
    graphics.PreDeviceReset();
    EXPECT_EQ(control->GetResourceCount(ResourceKind::Surface), 0u);
    EXPECT_EQ(control->GetResourceCount(ResourceKind::DynamicVertexBuffer), 0u);
    EXPECT_EQ(control->GetResourceCount(ResourceKind::DynamicIndexBuffer), 0u);
    graphics.PostDeviceReset();
    EXPECT_EQ(control->GetTotalResourceCount(), resources);
    graphics.Update(true);
    graphics.PresentSurface();
    EXPECT_EQ(control->GetPresentCount(), 3u);

    engine.reset();
    EXPECT_EQ(software.Get()->GetLiveDeviceCount(), 0u);
}

TEST_F(GraphicsEngineTest, FailsCleanlyWithoutADevice)
{
    settings.deviceName = "NoSuchDeviceModule";
    GraphicsEngine missing(&options);
    EXPECT_FALSE(missing.CreateDevice(nullptr, settings));
    EXPECT_EQ(missing.GetRenderDevice(), nullptr);
    EXPECT_FALSE(missing.Initialize(nullptr, settings, nullptr));
    missing.Update(true); // no canvas: nothing happens
    missing.PresentSurface();

    ASSERT_NE(software.Get(), nullptr);
    settings.deviceName = "Software";
    software.Get()->InjectCreateFailure(1);
    GraphicsEngine refused(&options);
    EXPECT_FALSE(refused.CreateDevice(nullptr, settings));
    EXPECT_EQ(refused.GetRenderDevice(), nullptr);
    EXPECT_TRUE(refused.CreateDevice(nullptr, settings)); // the next creation works
    EXPECT_NE(refused.GetRenderDevice(), nullptr);
    EXPECT_FALSE(refused.CreateDevice(nullptr, settings)); // one device per engine
    EXPECT_EQ(software.Get()->GetLiveDeviceCount(), 1u);
}

TEST_F(GraphicsEngineTest, OptionsDefaultsComeFromTheDeviceWhileTheEngineLives)
{
    // A resolution the device cannot make: the machine's defaults are tried and saved.
    options.SetInt2(Options::INT2_RESOLUTION, Options::Int2{100000, 100000});
    GraphicsEngine& graphics = Start();
    EXPECT_EQ(graphics.GetRenderDevice()->GetWidth(), 1024);
    EXPECT_EQ(options.GetInt2(Options::INT2_RESOLUTION), (Options::Int2{1024, 768}));
    EXPECT_NE(dir.Read("settings.txt").find("resolution                = 1024 768"), std::string::npos);
    EXPECT_EQ(Options::GetDefaultsProvider(), &graphics);

    // The software device is a 256 MiB GeForce6: everything high.
    options.SetBool(Options::BOOL_TRIPLE_BUFFER, true);
    options.SetToDefaults(Options::GROUP_GRAPHICS);
    EXPECT_EQ(options.GetQuality(Options::QUALITY_DETAIL_LEVEL), Options::QUALITY_HIGH);
    EXPECT_EQ(options.GetQuality(Options::QUALITY_SHADOW), Options::QUALITY_HIGH);
    EXPECT_FALSE(options.GetBool(Options::BOOL_TRIPLE_BUFFER));

    Software::DeviceControl* control = software.Device(graphics.GetRenderDevice());
    ASSERT_NE(control, nullptr);
    control->SetGenerationId(RENDER_GENERATION_R200);
    control->SetTotalVideoMemory(128u * 1024u * 1024u);
    options.SetToDefaults(Options::GROUP_GRAPHICS);
    EXPECT_EQ(options.GetQuality(Options::QUALITY_DETAIL_LEVEL), Options::QUALITY_LOW);
    EXPECT_EQ(options.GetQuality(Options::QUALITY_REFLECTION), Options::QUALITY_LOW);
    EXPECT_EQ(options.GetQuality(Options::QUALITY_TEXTURE), Options::QUALITY_MEDIUM);
    EXPECT_EQ(options.GetQuality(Options::QUALITY_SHADOW), Options::QUALITY_MEDIUM);

    // The frame follows the options: low detail and texture quality, and a new resolution
    // resets the device once.
    graphics.Update(true);
    EXPECT_TRUE(graphics.UseLowQualityLighting());
    EXPECT_EQ(graphics.GetTextureReduction(), 0);
    EXPECT_FALSE(graphics.AreReflectionsEnabled());
    log.Clear();
    options.SetInt2(Options::INT2_RESOLUTION, Options::Int2{800, 600});
    graphics.Update(true);
    graphics.Update(true);
    EXPECT_TRUE(log.Contains("Resetting device due to settings change.", 2));
    EXPECT_EQ(control->GetResetCount(), 1u);
    EXPECT_EQ(graphics.GetRenderDevice()->GetWidth(), 800);

    engine.reset();
    EXPECT_EQ(Options::GetDefaultsProvider(), nullptr);
}

// The machine clock of the editor filter's test, moved by hand.
class FakeClock : public MachineClock
{
public:
    bool HasPerformanceCounter() const override { return true; }
    uint64_t GetPerformanceCounter() const override { return counter; }
    uint64_t GetPerformanceFrequency() const override { return 1000; }
    uint32_t GetMilliseconds() const override { return static_cast<uint32_t>(counter); }
    uint64_t counter = 1000;
};

TEST(EditorFilterTest, SwitchesApplyAtMostEvery501Milliseconds)
{
    FakeClock clock;
    ResetTimeSystem();
    SetMachineClock(&clock);
    InitializeTimeSystem();
    auto frame = [&](int ms) {
        clock.counter += static_cast<uint64_t>(ms);
        UpdateTime();
    };

    EditorFilter* filter = EditorFilter::Get();
    filter->AddFilterObject(5, EditorFilter::FILTER_TYPE_LIGHT);
    filter->AddFilterObject(0, EditorFilter::FILTER_TYPE_LIGHT); // ignored
    filter->SetFilter(EditorFilter::FILTER_TYPE_LIGHT, true);
    filter->SetFilter(99, true); // no such type
    EXPECT_FALSE(filter->GetFilterAll());
    EXPECT_FALSE(filter->GetFilterNone());
    EXPECT_FALSE(filter->GetFilter(99));

    frame(200);
    filter->Sync();
    EXPECT_FALSE(filter->IsObjectFiltered(5));
    frame(301);
    filter->Sync();
    EXPECT_TRUE(filter->IsObjectFiltered(5));
    EXPECT_FALSE(filter->IsObjectFiltered(0));

    filter->SetFilter(EditorFilter::FILTER_TYPE_LIGHT, false);
    frame(200);
    filter->Sync(); // too soon after the last pass
    EXPECT_TRUE(filter->IsObjectFiltered(5));
    filter->AddFilterObject(5, 2); // registered again: a new entry, nothing applied
    EXPECT_FALSE(filter->IsObjectFiltered(5));

    EditorFilter::Destroy();
    SetMachineClock(nullptr);
    ResetTimeSystem();
}

} // namespace
} // namespace GAME
