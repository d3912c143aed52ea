#include "GraphicsFixtures.h"

#include "core/Time.h"
#include "data/LocalizationManager.h"
#include "datakit/ShaderWriter.h"
#include "datakit/TextureWriter.h"
#include "graphics/Display.h"
#include "graphics/EditorFilter.h"
#include "graphics/GraphicsCanvas.h"
#include "graphics/Image.h"
#include "graphics/RenderDebugger.h"
#include "graphics/RenderSurface.h"
#include "platform/FatalError.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <memory>

namespace GAME {
namespace {

using Software::Failure;
using Software::ResourceKind;

class CountingWidget : public DisplayWidget
{
public:
    void Render(GraphicsCanvas&) const override { ++renders; }
    mutable int renders = 0;
};

using GraphicsEngineTest = GAME::Test::GraphicsFixture;

size_t CountOf(const std::vector<std::string>& calls, const std::string& prefix)
{
    return GAME::Test::GraphicsFixture::Matching(calls, prefix).size();
}

TEST_F(GraphicsEngineTest, CreatesItsDeviceThroughTheModuleTableAndCarriesItThroughFramesAndResets)
{
    ASSERT_NE(software.Get(), nullptr);
    GraphicsEngine& graphics = Start();
    RenderDevice* device = graphics.GetRenderDevice();
    ASSERT_NE(device, nullptr);
    EXPECT_GE(RenderDevice::FindDeviceLibrary(device), 0);
    Software::DeviceControl* control = Control();
    ASSERT_NE(control, nullptr);
    EXPECT_EQ(device->GetWidth(), 1024); // options without a resolution: the machine default
    EXPECT_TRUE(log.Contains("Graphics engine initialized successfully"));
    EXPECT_NE(graphics.GetDefaultTexture(), nullptr);
    EXPECT_NE(graphics.GetEmptyTexture(), nullptr);
    EXPECT_NE(graphics.GetBasicVertexDeclaration(), nullptr);
    EXPECT_EQ(graphics.GetBasicVertexDeclaration()->GetStride(), 36u);
    EXPECT_EQ(graphics.GetDefaultTexture()->GetWidth(), GraphicsEngine::defaultTextureSize);
    EXPECT_EQ(graphics.GetEmptyTexture()->GetWidth(), GraphicsEngine::emptyTextureSize);

    Display display;
    CountingWidget widget;
    RenderDebugger debugger;
    display.AddWidget(&debugger);
    display.AddWidget(&widget);
    graphics.SetDisplay(&display);

    graphics.Update(true);
    graphics.PresentSurface();
    graphics.Update(false); // the display is off: no widgets, but still a frame
    graphics.PresentSurface();
    EXPECT_EQ(control->GetFrameCount(), 2u);
    EXPECT_EQ(control->GetPresentCount(), 2u);
    EXPECT_EQ(widget.renders, 1);
    // A hidden render debugger keeps the device drawing everything with switch 1 on.
    EXPECT_EQ(control->GetRenderState().drawCallLimit, -1);
    EXPECT_TRUE(control->GetRenderState().debugSwitch1);

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

    // The reset pair releases every device object the engine holds and makes them again.
    const uint32_t resources = control->GetTotalResourceCount();
    graphics.PreDeviceReset();
    EXPECT_EQ(control->GetResourceCount(ResourceKind::Surface), 0u);
    EXPECT_EQ(control->GetResourceCount(ResourceKind::DynamicVertexBuffer), 0u);
    EXPECT_EQ(control->GetResourceCount(ResourceKind::DynamicIndexBuffer), 0u);
    EXPECT_EQ(control->GetResourceCount(ResourceKind::Texture), 0u);
    EXPECT_EQ(graphics.GetDefaultTexture(), nullptr);
    EXPECT_EQ(graphics.GetPrimarySurface(), nullptr);
    graphics.PostDeviceReset();
    EXPECT_EQ(control->GetTotalResourceCount(), resources);
    EXPECT_NE(graphics.GetDefaultTexture(), nullptr);
    graphics.Update(true);
    graphics.PresentSurface();
    EXPECT_EQ(control->GetPresentCount(), 3u);

    graphics.ForceDeviceReset();
    EXPECT_EQ(control->GetResetCount(), 1u);

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
    EXPECT_FALSE(missing.SaveScreenShot(dir.File("none.tga").c_str()));
    EXPECT_EQ(missing.LoadTexture("Textures/a.tex"), nullptr); // no managers

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

    // A device that will not initialise is released at once.
    GraphicsEngine uninitialised(&options);
    software.Get()->SetDeviceCreatedCallback(
        [](Software::DeviceControl& c) { c.InjectFailure(Failure::Initialize, 1); });
    EXPECT_FALSE(uninitialised.CreateDevice(nullptr, settings));
    software.Get()->SetDeviceCreatedCallback({});
    EXPECT_TRUE(log.Contains("Couldn't initialize the rendering device", 1));
    EXPECT_EQ(software.Get()->GetLiveDeviceCount(), 1u);
}

TEST_F(GraphicsEngineTest, PrimarySurfaceAttemptsRetryWithTheDefaultsAndSaveThem)
{
    ASSERT_NE(software.Get(), nullptr);
    auto recordAndFail = [](int failures) {
        return [failures](Software::DeviceControl& c) {
            c.SetRecording(true);
            c.InjectFailure(Failure::PrimarySurface, failures);
        };
    };

    // The user's options fail once: the defaults are tried at once and saved.
    options.SetInt2(Options::INT2_RESOLUTION, Options::Int2{640, 480});
    options.SetQuality(Options::QUALITY_TEXTURE, Options::QUALITY_LOW);
    ASSERT_TRUE(Create(recordAndFail(1)));
    EXPECT_EQ(engine->GetRenderDevice()->GetWidth(), 1024);
    EXPECT_EQ(options.GetQuality(Options::QUALITY_TEXTURE), Options::QUALITY_HIGH);
    std::string saved = dir.Read("settings.txt");
    EXPECT_NE(saved.find("resolution                = 1024 768"), std::string::npos);
    EXPECT_NE(saved.find("textureQuality            = high"), std::string::npos);
    std::vector<std::string> calls = Control()->TakeRecordedCalls();
    EXPECT_EQ(CountOf(calls, "CreatePrimarySurface(640, 480) failed"), 1u);
    EXPECT_EQ(CountOf(calls, "CreatePrimarySurface(1024, 768) ->"), 1u);
    EXPECT_EQ(CountOf(calls, "Initialize()"), 1u);

    // Three failures: the second attempt comes after the device is initialised again.
    ASSERT_TRUE(dir.Write("settings.txt", ""));
    options.SetInt2(Options::INT2_RESOLUTION, Options::Int2{800, 600});
    ASSERT_TRUE(Create(recordAndFail(3)));
    calls = Control()->TakeRecordedCalls();
    EXPECT_EQ(CountOf(calls, "CreatePrimarySurface("), 4u);
    EXPECT_EQ(CountOf(calls, "Initialize()"), 2u);
    EXPECT_NE(dir.Read("settings.txt").find("resolution                = 1024 768"), std::string::npos);

    // A device that never makes a surface: every attempt, then failure with the device released.
    log.Clear();
    EXPECT_FALSE(Create(recordAndFail(-1)));
    EXPECT_EQ(engine->GetRenderDevice(), nullptr);
    EXPECT_EQ(software.Get()->GetLiveDeviceCount(), 0u);
    EXPECT_TRUE(log.Contains("Couldn't create the primary rendering surface", 2));
}

TEST_F(GraphicsEngineTest, AZeroSizeInTheHostsSettingsWritesAndSavesTheDefaultsFirst)
{
    options.SetInt2(Options::INT2_RESOLUTION, Options::Int2{800, 600});
    options.SetQuality(Options::QUALITY_SHADOW, Options::QUALITY_LOW);
    settings.height = 0;
    ASSERT_TRUE(Create());
    // The device is a 256 MiB GeForce6: everything high, at the default resolution.
    EXPECT_EQ(options.GetInt2(Options::INT2_RESOLUTION), (Options::Int2{1024, 768}));
    EXPECT_EQ(options.GetQuality(Options::QUALITY_SHADOW), Options::QUALITY_HIGH);
    EXPECT_EQ(options.GetQuality(Options::QUALITY_DETAIL_LEVEL), Options::QUALITY_HIGH);
    EXPECT_FALSE(options.GetBool(Options::BOOL_TRIPLE_BUFFER));
    EXPECT_NE(dir.Read("settings.txt").find("shadowQuality             = high"), std::string::npos);
    EXPECT_EQ(engine->GetRenderDevice()->GetWidth(), 1024);

    // Without a zero size the user's options stand.
    ASSERT_TRUE(dir.Write("settings.txt", ""));
    options.SetInt2(Options::INT2_RESOLUTION, Options::Int2{800, 600});
    settings.height = 768;
    ASSERT_TRUE(Create());
    EXPECT_EQ(engine->GetRenderDevice()->GetWidth(), 800);
    EXPECT_EQ(dir.Read("settings.txt"), "");
}

TEST_F(GraphicsEngineTest, TheSizeLineNamesTheHostsSizeOnlyWhenTheHostSetOne)
{
    auto sizeLines = [&] {
        std::vector<std::string> lines;
        for (const std::string& text : log.Texts())
            if (text.rfind("GraphicsEngine: ", 0) == 0 && text.find(" x ") != std::string::npos)
                lines.push_back(text);
        return lines;
    };
    // Settings as the record comes: the option's size, and no host's size the host never gave.
    options.SetInt2(Options::INT2_RESOLUTION, Options::Int2{800, 600});
    ASSERT_TRUE(Create());
    EXPECT_EQ(sizeLines(),
              (std::vector<std::string>{"GraphicsEngine: 800 x 600 from the \"resolution\" option"}));

    // A size the host set, overridden outside editor mode: the host learns where to ask.
    log.Clear();
    settings.width = 640;
    settings.height = 480;
    ASSERT_TRUE(Create());
    EXPECT_EQ(sizeLines(),
              (std::vector<std::string>{"GraphicsEngine: 800 x 600 from the \"resolution\" option; "
                                        "the host's 640 x 480 is taken in editor mode only"}));

    // Editor mode takes the settings' size: the host's when it set one, else the record's default.
    for (const bool hostSetOne : {true, false}) {
        log.Clear();
        engine.reset();
        const GraphicsEngineSettings untouched;
        settings.width = hostSetOne ? 640 : untouched.width;
        settings.height = hostSetOne ? 480 : untouched.height;
        engine = std::make_unique<GraphicsEngine>(&options, dir.File("settings.txt"), true);
        engine->SetSurfaceRetryDelay(0);
        ASSERT_TRUE(engine->CreateDevice(nullptr, settings));
        EXPECT_EQ(sizeLines(),
                  (std::vector<std::string>{
                      hostSetOne ? "GraphicsEngine: 640 x 480 from the host's settings"
                                 : "GraphicsEngine: 1024 x 768, the settings' default: the host set "
                                   "no size"}));
    }
}

TEST_F(GraphicsEngineTest, DefaultsFollowTheAdapterGenerationAndVideoMemory)
{
    struct Case
    {
        RenderGenerationId generation;
        uint32_t megabytes;
        Options::Quality detail, texture, shadow;
    };
    const Case cases[] = {
        {RENDER_GENERATION_R200, 128, Options::QUALITY_LOW, Options::QUALITY_MEDIUM, Options::QUALITY_MEDIUM},
        {RENDER_GENERATION_GEFORCE5, 64, Options::QUALITY_MEDIUM, Options::QUALITY_LOW, Options::QUALITY_LOW},
        {RENDER_GENERATION_RADEON9000, 512, Options::QUALITY_MEDIUM, Options::QUALITY_HIGH,
         Options::QUALITY_MEDIUM},
        {RENDER_GENERATION_GEFORCE6, 191, Options::QUALITY_HIGH, Options::QUALITY_MEDIUM,
         Options::QUALITY_MEDIUM},
        {RENDER_GENERATION_GEFORCE6, 192, Options::QUALITY_HIGH, Options::QUALITY_HIGH,
         Options::QUALITY_HIGH},
    };
    options.SetBool(Options::BOOL_SKIP_COMPATIBILITY_CHECKS, true);
    for (const Case& c : cases) {
        ASSERT_TRUE(Create([&](Software::DeviceControl& control) {
            control.SetGenerationId(c.generation);
            control.SetTotalVideoMemory(c.megabytes * 1024u * 1024u);
        }));
        options.SetBool(Options::BOOL_TRIPLE_BUFFER, true);
        options.SetToDefaults(Options::GROUP_GRAPHICS); // asks the engine, its defaults provider
        EXPECT_EQ(options.GetQuality(Options::QUALITY_DETAIL_LEVEL), c.detail) << c.generation;
        EXPECT_EQ(options.GetQuality(Options::QUALITY_REFLECTION), c.detail) << c.generation;
        EXPECT_EQ(options.GetQuality(Options::QUALITY_TEXTURE), c.texture) << c.megabytes;
        EXPECT_EQ(options.GetQuality(Options::QUALITY_SHADOW), c.shadow) << c.megabytes;
        EXPECT_FALSE(options.GetBool(Options::BOOL_TRIPLE_BUFFER));
    }
    EXPECT_EQ(Options::GetDefaultsProvider(), engine.get());
    engine.reset();
    EXPECT_EQ(Options::GetDefaultsProvider(), nullptr);
}

TEST_F(GraphicsEngineTest, EveryFrameMapsTheOptionsToQualitiesAndResetsOnceForNewDeviceSettings)
{
    GraphicsEngine& graphics = Start();
    Software::DeviceControl* control = Control();
    ASSERT_NE(control, nullptr);

    struct Shadow
    {
        Options::Quality quality;
        int size, small;
    };
    for (const Shadow& s :
         {Shadow{Options::QUALITY_LOW, 512, 256}, Shadow{Options::QUALITY_MEDIUM, 1024, 512},
          Shadow{Options::QUALITY_HIGH, 2048, 1024}}) {
        options.SetQuality(Options::QUALITY_SHADOW, s.quality);
        graphics.Update(true);
        EXPECT_EQ(graphics.GetShadowMapSize(), s.size);
        EXPECT_EQ(graphics.GetShadowMapSizeSmall(), s.small);
    }

    // Texture quality: the reduction, and a change reloads every texture.
    PutFile("Textures/a.tex", DataKit::TextureWriter::SolidDds(4, 4, 0xFF00FF00u));
    GraphicsTexture* texture = graphics.LoadTexture("Textures/a.tex");
    ASSERT_NE(texture, nullptr);
    texture->EnsureAvailable();
    ASSERT_EQ(texture->GetLoadedState(), Resource::LOAD_STATE_LOADED);
    options.SetQuality(Options::QUALITY_TEXTURE, Options::QUALITY_HIGH);
    graphics.Update(true);
    EXPECT_EQ(graphics.GetTextureReduction(), -2);
    EXPECT_EQ(texture->GetLoadedState(), Resource::LOAD_STATE_NOT_LOADED);
    texture->EnsureAvailable();
    graphics.Update(true); // no change: the texture stays
    EXPECT_EQ(texture->GetLoadedState(), Resource::LOAD_STATE_LOADED);
    options.SetQuality(Options::QUALITY_TEXTURE, Options::QUALITY_LOW);
    graphics.Update(true);
    EXPECT_EQ(graphics.GetTextureReduction(), 1);
    graphics.UnloadTexture(texture);

    options.SetQuality(Options::QUALITY_REFLECTION, Options::QUALITY_HIGH);
    graphics.Update(true);
    EXPECT_TRUE(graphics.IsReflectionsEnabled());
    options.SetQuality(Options::QUALITY_REFLECTION, Options::QUALITY_MEDIUM);
    graphics.Update(true);
    EXPECT_FALSE(graphics.IsReflectionsEnabled());

    // Detail level: below high, the newer classes run as older ones; low turns the low-quality
    // switches on.
    struct Detail
    {
        RenderGenerationId device;
        Options::Quality detail;
        RenderGenerationId runs;
    };
    const Detail details[] = {
        {RENDER_GENERATION_GEFORCE6, Options::QUALITY_HIGH, RENDER_GENERATION_GEFORCE6},
        {RENDER_GENERATION_GEFORCE6, Options::QUALITY_MEDIUM, RENDER_GENERATION_GEFORCE3},
        {RENDER_GENERATION_GEFORCE5, Options::QUALITY_LOW, RENDER_GENERATION_GEFORCE3},
        {RENDER_GENERATION_RADEON9000, Options::QUALITY_MEDIUM, RENDER_GENERATION_R200},
        {RENDER_GENERATION_RADEON9000, Options::QUALITY_HIGH, RENDER_GENERATION_RADEON9000},
        {RENDER_GENERATION_GEFORCE4, Options::QUALITY_LOW, RENDER_GENERATION_GEFORCE4},
    };
    for (const Detail& d : details) {
        control->SetGenerationId(d.device);
        options.SetQuality(Options::QUALITY_DETAIL_LEVEL, d.detail);
        graphics.Update(true);
        EXPECT_EQ(graphics.GetGenerationId(), d.runs) << d.device << " at detail " << d.detail;
        EXPECT_EQ(graphics.IsLowQualityLightingEnabled(), d.detail == Options::QUALITY_LOW);
        EXPECT_EQ(graphics.IsLowQualityTerrainEnabled(), d.detail == Options::QUALITY_LOW);
    }

    // The six device settings: any change resets the device exactly once.
    EXPECT_EQ(control->GetResetCount(), 0u);
    log.Clear();
    options.SetInt2(Options::INT2_RESOLUTION, Options::Int2{800, 600});
    options.SetBool(Options::BOOL_ANTI_ALIASING, !options.GetBool(Options::BOOL_ANTI_ALIASING));
    graphics.Update(true);
    graphics.Update(true);
    EXPECT_EQ(control->GetResetCount(), 1u);
    EXPECT_TRUE(log.Contains("Resetting device due to settings change.", 2));
    EXPECT_EQ(graphics.GetRenderDevice()->GetWidth(), 800);
    EXPECT_EQ(graphics.GetDeviceSettings().antiAliasing,
              options.GetBool(Options::BOOL_ANTI_ALIASING) ? 1 : 0);
    const Options::BoolName flags[] = {Options::BOOL_FULLSCREEN, Options::BOOL_SYNC_TO_REFRESH,
                                       Options::BOOL_TRIPLE_BUFFER};
    uint32_t resets = 1;
    for (Options::BoolName flag : flags) {
        options.SetBool(flag, !options.GetBool(flag));
        graphics.Update(true);
        graphics.Update(true);
        EXPECT_EQ(control->GetResetCount(), ++resets) << flag;
    }
    EXPECT_EQ(graphics.GetDeviceSettings().colorFormat, RENDER_FORMAT_RGBA);
    EXPECT_EQ(graphics.GetDeviceSettings().depthFormat, RENDER_FORMAT_D24);
}

TEST_F(GraphicsEngineTest, TheStatisticsLinesAndTheFrameSample)
{
    GAME::Test::FrameClock clock;
    GraphicsEngine& graphics = Start();
    Display display;
    graphics.SetDisplay(&display);

    graphics.Update(true);
    EXPECT_TRUE(services.TakeStats().empty()); // statistics are off after start-up

    graphics.EnableStats(true);
    graphics.EnableWater(false);
    graphics.Update(true);
    const std::vector<std::string> lines = services.TakeStats();
    ASSERT_GE(lines.size(), 8u);
    EXPECT_EQ(lines[0], graphics.GetRenderDevice()->GetStatusText());
    EXPECT_NE(lines[1].find(" MB physical memory used"), std::string::npos);
    EXPECT_NE(lines[2].find(" MB video memory free"), std::string::npos);
    EXPECT_NE(lines[3].find(" FPS, 0 faces, "), std::string::npos);
    EXPECT_NE(lines[3].find("M faces per second"), std::string::npos);
    EXPECT_EQ(lines[4], "0 draw calls, 0 reflections");
    EXPECT_NE(lines[5].find(" objects pending delete"), std::string::npos);
    const std::vector<std::string> expected = {
        "Reflections disabled", // medium reflection quality
        "Fog disabled",
        "Water disabled",
        "Reflection Quality   = Medium",
        "Shadow Quality       = Medium",
        "Texture Quality      = Medium",
        "Detail Levelty       = Medium",
        "Antialiasing         = true",
        "Sync to Refresh      = true",
        "Triple Buffer        = true",
    };
    EXPECT_EQ(std::vector<std::string>(lines.begin() + 6, lines.end()), expected);

    // A clock that stands still gives no figures (and no division by zero); 15 frames of 10 ms
    // give 100 frames per second, sampled on the 15th frame only.
    graphics.EnableStats(false);
    for (int frame = 2; frame < 15; ++frame)
        graphics.Update(true);
    EXPECT_EQ(graphics.GetFramesPerSecond(), 0.0f);
    graphics.Update(true); // frame 15: a sample over no time
    EXPECT_EQ(graphics.GetFramesPerSecond(), 0.0f);
    for (int frame = 0; frame < 14; ++frame) {
        clock.Advance(10);
        graphics.Update(true);
        EXPECT_EQ(graphics.GetFramesPerSecond(), 0.0f);
    }
    clock.Advance(10);
    graphics.Update(true);
    EXPECT_FLOAT_EQ(graphics.GetFramesPerSecond(), 100.0f);
    EXPECT_EQ(graphics.GetFacesPerSecond(), 0.0f);

    GraphicsStats stats;
    graphics.GetStats(stats);
    EXPECT_FLOAT_EQ(stats.framesPerSecond, 100.0f);
    EXPECT_GT(stats.videoMemoryFreeMB, 0.0f);
    EXPECT_GT(stats.physicalMemoryUsedMB, 0.0f);
}

TEST_F(GraphicsEngineTest, ANewGenerationReloadsShadersAndTextures)
{
    options.SetQuality(Options::QUALITY_DETAIL_LEVEL, Options::QUALITY_HIGH);
    GraphicsEngine& graphics = Start();
    EXPECT_STREQ(graphics.GetGenerationName(), "GeForce6");
    EXPECT_EQ(graphics.GetPixelShaderVersion(), 6);
    EXPECT_EQ(graphics.GetMaxNumBones(), 27);

    DataKit::ShaderWriter writer;
    for (const char* generation : {"GeForce6", "R200"})
        writer.AddSection(generation).Style(generation, 0);
    GraphicsShader2* shader = LoadShader("Shaders/test.ssh", writer.Write());
    GraphicsTexture* texture =
        LoadTexture("Textures/t.tex", DataKit::TextureWriter::SolidDds(2, 2, 0xFFFFFFFFu));
    ASSERT_NE(shader, nullptr);
    ASSERT_NE(texture, nullptr);
    EXPECT_EQ(shader->FindStyleByName(Name::Create("GeForce6")), 0);

    graphics.SetGeneration(RENDER_GENERATION_GEFORCE6); // unchanged: nothing reloads
    EXPECT_EQ(shader->GetLoadedState(), Resource::LOAD_STATE_LOADED);
    EXPECT_EQ(texture->GetLoadedState(), Resource::LOAD_STATE_LOADED);

    graphics.SetGeneration("R200");
    EXPECT_EQ(graphics.GetGenerationId(), RENDER_GENERATION_R200);
    EXPECT_EQ(shader->GetLoadedState(), Resource::LOAD_STATE_NOT_LOADED);
    EXPECT_EQ(texture->GetLoadedState(), Resource::LOAD_STATE_NOT_LOADED);
    shader->EnsureAvailable();
    EXPECT_EQ(shader->FindStyleByName(Name::Create("R200")), 0);
    EXPECT_EQ(graphics.GetPixelShaderVersion(), 4);

    const std::pair<RenderGenerationId, std::pair<int, int>> table[] = {
        {RENDER_GENERATION_UNKNOWN, {0, 27}},
        {RENDER_GENERATION_GEFORCE3, {1, 24}},
        {RENDER_GENERATION_GEFORCE4, {3, 24}},
        {RENDER_GENERATION_GEFORCE5, {5, 27}},
        {RENDER_GENERATION_RADEON9000, {5, 27}}};
    for (const auto& [generation, figures] : table) {
        graphics.SetGeneration(generation);
        EXPECT_EQ(graphics.GetPixelShaderVersion(), figures.first) << generation;
        EXPECT_EQ(graphics.GetMaxNumBones(), figures.second) << generation;
    }
    graphics.UnloadShader2(shader);
    graphics.UnloadTexture(texture);
}

TEST_F(GraphicsEngineTest, TheDefaultFontIsAResourceAndAMissingOverlayFallsBack)
{
    GraphicsEngine& graphics = Start();
    // Every kind has its class: the default font is a resource even while its file is missing.
    EXPECT_NE(graphics.GetDefaultFont(), nullptr);

    // Shaders and textures are there: the basic and overlay shaders are loaded at start-up.
    ASSERT_NE(graphics.GetBasicShader(), nullptr);
    EXPECT_EQ(graphics.GetOverlayShader(),
              graphics.GetShaderManager()->LoadTypedResource("Shaders/Overlay.ssh"));
    graphics.UnloadShader2(graphics.GetOverlayShader());
    EXPECT_EQ(graphics.GetShaderManager()->GetReferenceCount("Shaders/Basic.ssh"), 1);
    // Without its file the overlay shader comes to nothing: the basic shader stands in.
    graphics.GetOverlayShader()->EnsureAvailable();
    EXPECT_TRUE(log.Contains("Couldn't load resource 'Shaders/Overlay.ssh' (file not found)"));
    EXPECT_EQ(graphics.GetOverlayShader(), graphics.GetBasicShader());
}

TEST_F(GraphicsEngineTest, ResourceListsAndLogsComeUnderTheirHeadings)
{
    GraphicsEngine& graphics = Start();
    GraphicsTexture* texture =
        LoadTexture("Textures/t.tex", DataKit::TextureWriter::SolidDds(32, 32, 0xFFFFFFFFu));
    log.Clear();
    graphics.ListLoadedResources();
    const std::vector<std::string> texts = log.Texts();
    ASSERT_GE(texts.size(), 3u);
    EXPECT_EQ(texts[0], "Loaded Resources");
    EXPECT_EQ(texts[1], std::string(49, '='));
    EXPECT_EQ(texts[2], "");
    std::vector<std::string> headings;
    for (size_t i = 3; i + 1 < texts.size(); ++i)
        if (texts[i + 1] == std::string(49, '-'))
            headings.push_back(texts[i]);
    EXPECT_EQ(headings, (std::vector<std::string>{"Fonts", "Meshes", "Shaders", "Textures", "Animations"}));
    EXPECT_TRUE(log.Contains("Resource 'Textures/t.tex' 4 kb"));

    std::FILE* file = std::fopen(dir.File("resources.txt").c_str(), "wb");
    ASSERT_NE(file, nullptr);
    graphics.WriteResourceLog(file);
    std::fclose(file);
    const std::string written = dir.Read("resources.txt");
    size_t last = 0;
    // The default font; the basic, overlay, canvas's filter and portal mask shaders; the texture,
    // the depth lookup and the inverse transparency mask.
    for (const char* heading : {"Fonts - 1", "Meshes - 0", "Shaders - 4", "Textures - 3", "Animations - 0"}) {
        const size_t at = written.find(heading);
        ASSERT_NE(at, std::string::npos) << heading;
        EXPECT_GT(at, last);
        last = at;
    }
    graphics.UnloadTexture(texture);
}

TEST_F(GraphicsEngineTest, DirectoryReductionsAddToTheEnginesOwn)
{
    options.SetQuality(Options::QUALITY_TEXTURE, Options::QUALITY_MEDIUM);
    GraphicsEngine& graphics = Start();
    graphics.SetDirectoryTextureReduction("Textures\\Terrain\\", 2);
    graphics.SetDirectoryTextureReduction("textures/", 1);
    EXPECT_EQ(graphics.GetTextureReduction("TEXTURES/Terrain/grass.tex"), 2); // first match wins
    EXPECT_EQ(graphics.GetTextureReduction("Textures\\Items\\sword.tex"), 1);
    EXPECT_EQ(graphics.GetTextureReduction("Effects/spark.tex"), 0);
    graphics.SetDirectoryTextureReduction("Textures/Terrain/", 3); // replaces
    EXPECT_EQ(graphics.GetTextureReduction("textures/terrain/grass.tex"), 3);

    options.SetQuality(Options::QUALITY_TEXTURE, Options::QUALITY_HIGH); // -2: never below 0
    graphics.Update(true);
    EXPECT_EQ(graphics.GetTextureReduction("textures/terrain/grass.tex"), 1);
    EXPECT_EQ(graphics.GetTextureReduction("textures/items/sword.tex"), 0);
    EXPECT_EQ(graphics.GetTextureReduction("effects/spark.tex"), 0);
    options.SetQuality(Options::QUALITY_TEXTURE, Options::QUALITY_LOW);
    graphics.Update(true);
    EXPECT_EQ(graphics.GetTextureReduction("effects/spark.tex"), 1);
    EXPECT_EQ(graphics.GetTextureReduction("textures/terrain/grass.tex"), 4);
}

TEST_F(GraphicsEngineTest, OldResourcesAreEvictedWhenVideoMemoryRunsShort)
{
    GraphicsEngine& graphics = Start();
    Software::DeviceControl* control = Control();
    GraphicsTexture* texture =
        LoadTexture("Textures/t.tex", DataKit::TextureWriter::SolidDds(8, 8, 0xFFFFFFFFu));
    ASSERT_EQ(texture->GetLoadedState(), Resource::LOAD_STATE_LOADED); // used at frame 1
    services.frame = 700;
    graphics.Update(true); // plenty free: nothing goes
    EXPECT_EQ(texture->GetLoadedState(), Resource::LOAD_STATE_LOADED);

    // Under 64 MiB free: what was not used for 600 frames.
    texture->EnsureAvailable(); // used at frame 700
    control->SetTotalVideoMemory(static_cast<uint32_t>(control->GetResourceBytes()) + 40u * 1024u * 1024u);
    services.frame = 1300;
    graphics.Update(true);
    EXPECT_EQ(texture->GetLoadedState(), Resource::LOAD_STATE_LOADED);
    services.frame = 1301;
    graphics.Update(true);
    EXPECT_EQ(texture->GetLoadedState(), Resource::LOAD_STATE_NOT_LOADED);

    // Nothing free: unused for 2 frames.
    texture->EnsureAvailable(); // used at frame 1301
    control->SetTotalVideoMemory(static_cast<uint32_t>(control->GetResourceBytes()));
    services.frame = 1303;
    graphics.Update(true);
    EXPECT_EQ(texture->GetLoadedState(), Resource::LOAD_STATE_LOADED);
    services.frame = 1304;
    graphics.Update(true);
    EXPECT_EQ(texture->GetLoadedState(), Resource::LOAD_STATE_NOT_LOADED);
    graphics.UnloadTexture(texture);
}

// The TGA a screenshot writes, decoded again.
std::vector<uint8_t> ReadTgaPixels(const std::string& path, uint32_t& width, uint32_t& height)
{
    Image image;
    EXPECT_EQ(image.Load(path.c_str(), Image::FORMAT_RGBA), Image::ERROR_NONE);
    width = image.GetWidth();
    height = image.GetHeight();
    return std::vector<uint8_t>(image.GetBuffer(), image.GetBuffer() + image.GetBufferSize());
}

TEST_F(GraphicsEngineTest, ScreenshotsAndSavedSurfacesHoldThePixelsTheDeviceReadsBack)
{
    options.SetInt2(Options::INT2_RESOLUTION, Options::Int2{64, 32});
    GraphicsEngine& graphics = Start();
    RenderDevice* device = graphics.GetRenderDevice();
    GraphicsCanvas* canvas = graphics.GetCanvas();
    ASSERT_TRUE(canvas->BeginFrame());
    canvas->ClearRenderSurface(nullptr, Color(0.0f, 0.0f, 1.0f, 1.0f), RENDER_CLEAR_COLOR);
    RenderSurface* target = device->CreateTextureSurface(16, 8, RENDER_FORMAT_RGBA, RENDER_FORMAT_NONE);
    ASSERT_NE(target, nullptr);
    canvas->ClearRenderSurface(target, Color(1.0f, 0.0f, 0.0f, 1.0f), RENDER_CLEAR_COLOR);
    canvas->SetTargetSurface(nullptr);
    canvas->EndFrame();

    // The primary surface: what ReadFrameBuffer gives, byte for byte.
    std::vector<Pixel> readBack(64 * 32);
    ASSERT_TRUE(device->ReadFrameBuffer(readBack.data(), 64, 32));
    ASSERT_TRUE(graphics.SaveScreenShot(dir.File("shots/screen.tga").c_str()));
    uint32_t width = 0, height = 0;
    std::vector<uint8_t> pixels = ReadTgaPixels(dir.File("shots/screen.tga"), width, height);
    EXPECT_EQ(width, 64u);
    EXPECT_EQ(height, 32u);
    ASSERT_EQ(pixels.size(), readBack.size() * 4);
    EXPECT_EQ(std::memcmp(pixels.data(), readBack.data(), pixels.size()), 0);
    EXPECT_EQ(pixels[0], 0); // blue
    EXPECT_EQ(pixels[2], 255);

    // Another surface is read itself, not whatever is bound, and the binding stays as it was.
    ASSERT_TRUE(graphics.SaveRenderSurface(dir.File("target.tga").c_str(), target));
    pixels = ReadTgaPixels(dir.File("target.tga"), width, height);
    EXPECT_EQ(width, 16u);
    EXPECT_EQ(height, 8u);
    EXPECT_EQ(pixels[0], 255); // red
    EXPECT_EQ(pixels[2], 0);
    EXPECT_EQ(Control()->GetRenderState().renderTargets[0], graphics.GetPrimarySurface());

    // A file that cannot be written fails.
    ASSERT_TRUE(dir.Write("blocked", "a file where a folder should be"));
    EXPECT_FALSE(graphics.SaveScreenShot(dir.File("blocked/shot.tga").c_str()));
    EXPECT_FALSE(graphics.SaveRenderSurface(dir.File("none.tga").c_str(), nullptr));
    device->DestroySurface(&target);
}

// A fatal-error hook stands in for the process's end.
std::vector<std::string> g_fatal;
void RecordFatal(const std::string& title, const std::string& text)
{
    g_fatal.push_back(title + ": " + text);
}

TEST_F(GraphicsEngineTest, UnsupportedHardwareIsFatalUnlessTheChecksAreSkipped)
{
    LocalizationManager::Instance()->AddTagToMap(
        "tagInstallerText35=This graphics hardware is not supported.", "Install.txt", false);
    g_fatal.clear();
    Platform::SetFatalErrorHook(&RecordFatal);
    EXPECT_FALSE(Create([](Software::DeviceControl& c) { c.SetGenerationId(RENDER_GENERATION_UNKNOWN); }));
    EXPECT_FALSE(Create(
        [](Software::DeviceControl& c) { c.SetTotalVideoMemory(GraphicsEngine::minimumVideoMemory - 1); }));
    EXPECT_TRUE(Create(
        [](Software::DeviceControl& c) { c.SetTotalVideoMemory(GraphicsEngine::minimumVideoMemory); }));
    Platform::SetFatalErrorHook(nullptr);
    ASSERT_EQ(g_fatal.size(), 2u);
    EXPECT_EQ(g_fatal[0], "Fatal Error: This graphics hardware is not supported.");
    EXPECT_EQ(software.Get()->GetLiveDeviceCount(), 1u);

    options.SetBool(Options::BOOL_SKIP_COMPATIBILITY_CHECKS, true);
    EXPECT_TRUE(Create([](Software::DeviceControl& c) { c.SetGenerationId(RENDER_GENERATION_UNKNOWN); }));
}

TEST_F(GraphicsEngineTest, UnsupportedHardwareEndsTheProcessWithTheLocalizedText)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    LocalizationManager::Instance()->AddTagToMap(
        "tagInstallerText35=This graphics hardware is not supported.", "Install.txt", false);
    // Without a display the box goes to standard error (the child has none, whatever the test
    // machine has).
    EXPECT_EXIT(
        {
            unsetenv("DISPLAY");
            unsetenv("WAYLAND_DISPLAY");
            setenv("SDL_VIDEODRIVER", "dummy", 1);
            Create([](Software::DeviceControl& c) { c.SetGenerationId(RENDER_GENERATION_UNKNOWN); });
        },
        ::testing::ExitedWithCode(255), "Fatal Error: This graphics hardware is not supported\\.");
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
