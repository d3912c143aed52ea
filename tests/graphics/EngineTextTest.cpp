// Text inside a started engine over the recording software device: font styles read from their
// records (low-resolution rules, a language's special font, records that do not exist), the
// style-based canvas text, and the statistics and profiler widgets drawing their lines.
#include "SoftwareDeviceAccess.h"
#include "world/EngineFixture.h"

#include "core/Profile.h"
#include "datakit/ArzWriter.h"
#include "graphics/FontStyle.h"
#include "graphics/GraphicsCanvas.h"
#include "graphics/GraphicsEngine.h"
#include "graphics/GraphicsFont.h"
#include "graphics/StyleManager.h"
#include "world/ProfilerWidget.h"
#include "world/StatisticsWidget.h"
#include "world/ZoneManager.h"

#include <algorithm>
#include <chrono>
#include <gtest/gtest.h>
#include <regex>
#include <string>
#include <vector>

namespace GAME {
namespace {

const std::vector<uint8_t> kFontBytes = {'T', 'E', 'S', 'T', 'F', 'O', 'N', 'T'};
constexpr const char* kStyleRecord = "Records/UI/FontStyles/Test.dbr";

class EngineTextTest : public GAME::Test::EngineTest
{
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        settings.deviceName = "Software";
        data.AddFile("Fonts/Arial.fnt", kFontBytes);
        data.AddFile("Fonts/Test.fnt", kFontBytes);
        data.AddFile("Fonts/Small.fnt", kFontBytes);
    }

    void AddStyle(const std::string& name, int size, int minimum, bool bold, bool italic)
    {
        data.Database()
            .AddRecord(DataKit::NormalizeRecordName(name))
            .String("Class", "FontStyle")
            .String("fontName", "Fonts/Test.fnt")
            .Int("fontSize", size)
            .Int("fontShadowDistance", 1)
            .Int("lowResMinimumFontSize", minimum)
            .String("lowResFontName", "Fonts/Small.fnt")
            .String("lowResFontNameForeign", "Fonts/Foreign.fnt")
            .Float("fontColorRed", 0.5f)
            .Float("fontColorGreen", 0.25f)
            .Float("fontColorBlue", 0.75f)
            .Bool("fontDropShadow", true)
            .Bool("fontAttribBold", bold)
            .Bool("fontAttribItalic", italic)
            .Bool("fontFilter", true);
    }

    Software::DeviceControl* Control() const
    {
        return software.Device(engine->GetGraphicsEngine()->GetRenderDevice());
    }

    // Recorded text runs, fonts named without their serial.
    std::vector<std::string> Runs()
    {
        std::vector<std::string> runs;
        static const std::regex serial("font#[0-9]+");
        for (const std::string& call : Control()->TakeRecordedCalls())
            if (call.rfind("DrawText(", 0) == 0)
                runs.push_back(std::regex_replace(call, serial, "font"));
        return runs;
    }

    GAME::Test::SoftwareModuleAccess software;
};

TEST_F(EngineTextTest, StylesReadTheirRecordsOnceAndKeepTheirFonts)
{
    AddStyle(kStyleRecord, 20, 12, true, true);
    Start();
    StyleManager* styles = StyleManager::Get();
    const FontStyle* style = styles->GetStyle(kStyleRecord);
    ASSERT_NE(style, nullptr);
    EXPECT_EQ(style->fontName, "Fonts/Test.fnt");
    EXPECT_EQ(style->size, 20); // 768 high: sizes as read
    EXPECT_EQ(style->shadowDistance, 1);
    EXPECT_EQ(style->color, Color(0.5f, 0.25f, 0.75f, 1.0f));
    EXPECT_EQ(style->weight, RENDER_FONT_BOLD_ITALIC);
    EXPECT_TRUE(style->dropShadow);
    EXPECT_TRUE(style->filter);
    ASSERT_NE(style->font, nullptr);
    EXPECT_EQ(style->font, engine->GetGraphicsEngine()->LoadFont("Fonts/Test.fnt"));
    engine->GetGraphicsEngine()->UnloadFont(style->font);
    EXPECT_EQ(styles->GetStyle(kStyleRecord), style);

    // A record that does not exist: the defaults, made once and kept.
    const int before = styles->GetNumStyles();
    const FontStyle* missing = styles->GetStyle("Records/UI/FontStyles/Missing.dbr");
    ASSERT_NE(missing, nullptr);
    EXPECT_EQ(missing->fontName, StyleManager::defaultFontName);
    EXPECT_EQ(missing->size, StyleManager::defaultFontSize);
    EXPECT_EQ(missing->weight, RENDER_FONT_NORMAL);
    EXPECT_FALSE(missing->dropShadow);
    EXPECT_EQ(styles->GetStyle("Records/UI/FontStyles/Missing.dbr"), missing);
    EXPECT_EQ(styles->GetNumStyles(), before + 1);

    // The manager's end unloads the fonts it loaded.
    FontResourceManager* fonts = engine->GetGraphicsEngine()->GetFontManager();
    EXPECT_EQ(fonts->GetReferenceCount("Fonts/Test.fnt"), 1);
    StyleManager::Destroy();
    EXPECT_EQ(fonts->GetReferenceCount("Fonts/Test.fnt"), 0);
}

TEST_F(EngineTextTest, LowScreensScaleSizesAndFallBackToTheLowResolutionFont)
{
    data.SetDefault("resolution", "800 600");
    AddStyle(kStyleRecord, 16, 12, true, false);
    AddStyle("Records/UI/FontStyles/Large.dbr", 32, 12, false, true);
    AddStyle("Records/UI/FontStyles/Minimum14.dbr", 16, 14, false, false);
    Start();
    ASSERT_EQ(engine->GetGraphicsEngine()->GetRenderDevice()->GetHeight(), 600);
    StyleManager* styles = StyleManager::Get();
    const FontStyle* style = styles->GetStyle(kStyleRecord);
    EXPECT_EQ(style->size, 12); // 16 x 600 / 768, floored
    EXPECT_EQ(style->shadowDistance, 0);
    EXPECT_EQ(style->fontName, "Fonts/Test.fnt"); // 12 is not below the minimum
    EXPECT_EQ(style->weight, RENDER_FONT_BOLD);
    const FontStyle* large = styles->GetStyle("Records/UI/FontStyles/Large.dbr");
    EXPECT_EQ(large->size, 25);
    EXPECT_EQ(large->weight, RENDER_FONT_ITALIC);
    const FontStyle* raised = styles->GetStyle("Records/UI/FontStyles/Minimum14.dbr");
    EXPECT_EQ(raised->size, 14);
    EXPECT_EQ(raised->fontName, "Fonts/Small.fnt"); // English
    EXPECT_EQ(raised->shadowDistance, 0);
}

TEST_F(EngineTextTest, ALanguageWithItsOwnFontUsesItWhateverTheRecordNames)
{
    data.SetLanguageCode("RU");
    data.SetDefault("language", "Russian");
    AddStyle(kStyleRecord, 16, 12, false, false);
    Start();
    EXPECT_EQ(StyleManager::Get()->GetStyle(kStyleRecord)->fontName, "Fonts/Arial_Russian.fnt");
}

TEST_F(EngineTextTest, ALanguageWithItsOwnFontStillTakesTheForeignLowResolutionFont)
{
    data.SetLanguageCode("RU");
    data.SetDefault("language", "Russian");
    data.SetDefault("resolution", "800 600");
    AddStyle(kStyleRecord, 16, 12, false, false);
    AddStyle("Records/UI/FontStyles/Minimum14.dbr", 16, 14, false, false);
    Start();
    EXPECT_EQ(StyleManager::Get()->GetStyle(kStyleRecord)->fontName, "Fonts/Arial_Russian.fnt");
    const FontStyle* raised = StyleManager::Get()->GetStyle("Records/UI/FontStyles/Minimum14.dbr");
    EXPECT_EQ(raised->fontName, "Fonts/Foreign.fnt");
    EXPECT_EQ(raised->size, 14);
}

TEST_F(EngineTextTest, StyleTextParagraphsAndColouredTextUseTheStyle)
{
    AddStyle(kStyleRecord, 10, 8, false, false);
    Start();
    GraphicsCanvas& canvas = *engine->GetGraphicsEngine()->GetCanvas();
    ASSERT_TRUE(canvas.BeginFrame());
    Control()->SetRecording(true);
    Control()->TakeRecordedCalls();

    // The style's colour with the alpha given, its shadow first.
    canvas.RenderText(10, 20, "ab", kStyleRecord, 0.5f, GraphicsCanvas::X_ALIGN_LEFT,
                      GraphicsCanvas::Y_ALIGN_TOP);
    EXPECT_EQ(Runs(), (std::vector<std::string>{"DrawText(font, 2, \"ab\", 11, 21, 54000000, 0)",
                                                "DrawText(font, 2, \"ab\", 10, 20, 808040bf, 0)"}));
    // Coloured text: an invisible box, then the text in the colour given.
    canvas.RenderColoredText(5, 6, std::string("x"), kStyleRecord, Color(0, 1, 0, 1));
    std::vector<std::string> calls = Control()->TakeRecordedCalls();
    const auto quad = std::find_if(calls.begin(), calls.end(),
                                   [](const std::string& c) { return c.rfind("DrawTexturedQuad", 0) == 0; });
    ASSERT_NE(quad, calls.end());
    EXPECT_EQ(*quad, "DrawTexturedQuad(5, 6, 11, 16, 0, 0, 0, 0, 00000000, 0)");

    // A paragraph: one box as wide as the longest line (by characters) + 6, lines 12 apart.
    canvas.RenderTextParagraph(100, 100, Color(1, 1, 1, 1), Color(0, 0, 0, 0.5f), {u"a", u"abcd", u"abc"},
                               kStyleRecord, false);
    calls = Control()->TakeRecordedCalls();
    std::vector<std::string> draws;
    for (const std::string& call : calls)
        if (call.rfind("Draw", 0) == 0)
            draws.push_back(std::regex_replace(call, std::regex("font#[0-9]+"), "font"));
    EXPECT_EQ(draws, (std::vector<std::string>{"DrawTexturedQuad(97, 97, 26, 42, 0, 0, 0, 0, 80000000, 0)",
                                               "DrawText(font, 1, \"a\", 100, 100, ffffffff, 0)",
                                               "DrawText(font, 4, \"abcd\", 100, 112, ffffffff, 0)",
                                               "DrawText(font, 3, \"abc\", 100, 124, ffffffff, 0)"}));
    // An empty paragraph draws nothing at all.
    canvas.RenderTextParagraph(100, 100, Color(1, 1, 1, 1), Color(0, 0, 0, 1), {}, kStyleRecord, true);
    for (const std::string& call : Control()->TakeRecordedCalls())
        EXPECT_NE(call.rfind("Draw", 0), 0u) << call;
    canvas.EndFrame();
}

TEST_F(EngineTextTest, StatisticsAndProfilerWidgetsDrawTheirLines)
{
    Start();
    Control()->SetRecording(true);
    engine->AddStatisticText("hello %d", 7);
    engine->AddStatisticGraph("bar", 30.0f, Color(1, 0, 0, 1));
    Frame();
    std::vector<std::string> runs = Runs();
    // The utility style (size 12, drop shadow): each line's shadow, then the line at x 10.
    auto has = [&runs](const std::string& fragment) {
        return std::any_of(runs.begin(), runs.end(),
                           [&](const std::string& r) { return r.find(fragment) != std::string::npos; });
    };
    EXPECT_TRUE(has("\"hello 7\", 10, 50, ffffffff"));
    EXPECT_TRUE(has("\"hello 7\", 11, 51, a8000000"));
    EXPECT_TRUE(has("\"bar\", 10, 66, ffffffff"));
    // Drawn once: the next frame shows nothing that was not added again.
    Frame();
    runs = Runs();
    EXPECT_FALSE(has("hello 7"));

    engine->ShowProfiler(true);
    Frame();
    Control()->TakeRecordedCalls();
    {
        // Real cycles: long enough to be listed when averaged over five frames.
        Profile block("ProfiledBlock");
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(3);
        while (std::chrono::steady_clock::now() < until) {
        }
    }
    Frame();
    // The two panels are a rectangle each; the frame graph's bars come as two quad lists (the
    // selected frame's bar in its own colour), not a draw call a bar.
    const std::vector<std::string> calls = Control()->TakeRecordedCalls();
    runs.clear();
    int quadLists = 0, rects = 0;
    for (const std::string& call : calls) {
        if (call.rfind("DrawText(", 0) == 0)
            runs.push_back(call);
        quadLists += call.rfind("DrawQuad(", 0) == 0;
        rects += call.rfind("DrawTexturedQuad(", 0) == 0;
    }
    EXPECT_TRUE(has("ProfiledBlock ("));
    EXPECT_TRUE(has("\"Frame "));
    EXPECT_EQ(quadLists, 2);
    EXPECT_EQ(rects, 2);
    engine->ShowProfiler(false);
}

TEST_F(EngineTextTest, TheRenderDebuggerWritesItsThreeLinesInItsPanels)
{
    Start();
    ASSERT_NE(engine->GetRenderDebugger(), nullptr);
    engine->ShowRenderDebugger(true);
    Control()->SetRecording(true);
    Frame();
    const std::vector<std::string> runs = Runs();
    auto at = [&runs](const std::string& fragment, const std::string& place) {
        return std::any_of(runs.begin(), runs.end(), [&](const std::string& r) {
            return r.find(fragment) != std::string::npos && r.find(place) != std::string::npos;
        });
    };
    EXPECT_TRUE(at(" FPS, ", "\", 10, 10, ffffffff"));
    EXPECT_TRUE(at(" MB video memory free", "\", 10, 30, ffffffff"));
    EXPECT_TRUE(at("Rendering ", "\", 10, 60, ffffffff"));
    engine->ShowRenderDebugger(false);
}

TEST_F(EngineTextTest, TheZoneKeyNamesEachZoneBesideItsSquare)
{
    data.Database()
        .AddRecord(DataKit::NormalizeRecordName(ZoneManager::teleportMapRecord))
        .String("GreeceZoneList", std::vector<std::string>{"Records/Zones/Woods.dbr"});
    data.Database()
        .AddRecord(DataKit::NormalizeRecordName("Records/Zones/Woods.dbr"))
        .String("ZoneNameTag", "tagWoods");
    data.AddText("UI", "SimpleStringFormat", "%s0");
    data.AddText("UI", "tagWoods", "Woods");
    data.AddFile(StyleManager::defaultFontName, kFontBytes); // the key's style has no record here
    Start();
    GraphicsCanvas& canvas = *engine->GetGraphicsEngine()->GetCanvas();
    ASSERT_TRUE(canvas.BeginFrame());
    Control()->SetRecording(true);
    ZoneManager::Get()->RenderKey(canvas);
    // Size 16 (the defaults), centred on the 30-pixel square's height, 4 pixels right of it.
    EXPECT_EQ(Runs(), (std::vector<std::string>{"DrawText(font, 5, \"Woods\", 34, 7, ffffffff, 0)"}));
    canvas.EndFrame();
    ZoneManager::Destroy();
}

} // namespace
} // namespace GAME
