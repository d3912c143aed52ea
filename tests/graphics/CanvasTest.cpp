// The canvas and the fonts over the recording software device: the default state's call order,
// the temporary-surface pool, clipping, rectangles, the radial wipe's fan, the blur's passes, and
// text runs with their inline codes, shadows, alignment and 511-character runs.
#include "GraphicsFixtures.h"

#include "datakit/ShaderWriter.h"
#include "datakit/TextureWriter.h"
#include "graphics/GraphicsCanvas.h"
#include "graphics/GraphicsFont.h"
#include "graphics/RenderSurface.h"

#include <climits>
#include <cmath>
#include <gtest/gtest.h>
#include <regex>
#include <string>
#include <vector>

namespace GAME {
namespace {

const std::vector<uint8_t> kFontBytes = {'T', 'E', 'S', 'T', 'F', 'O', 'N', 'T'};

class CanvasTest : public GAME::Test::GraphicsFixture
{
protected:
    GraphicsCanvas& Begin(int width = 800, int height = 600)
    {
        options.SetInt2(Options::INT2_RESOLUTION, Options::Int2{width, height});
        Start();
        GraphicsCanvas& canvas = *engine->GetCanvas();
        EXPECT_TRUE(canvas.BeginFrame());
        Control()->SetRecording(true);
        Control()->TakeRecordedCalls();
        return canvas;
    }

    GraphicsFont* LoadFont(const std::string& name, const std::vector<uint8_t>& bytes = kFontBytes)
    {
        PutFile(name, bytes);
        GraphicsFont* font = engine->LoadFont(name);
        if (font)
            font->EnsureAvailable();
        return font;
    }

    // The recorded calls, fonts named without their serial (serials count across kinds).
    std::vector<std::string> Calls()
    {
        std::vector<std::string> calls = Control()->TakeRecordedCalls();
        static const std::regex serial("font#[0-9]+");
        for (std::string& call : calls)
            call = std::regex_replace(call, serial, "font");
        return calls;
    }
    std::vector<std::string> Calls(const std::string& prefix) { return Matching(Calls(), prefix); }
};

TEST_F(CanvasTest, DefaultStateSetsEveryStateInItsOrder)
{
    GraphicsCanvas& canvas = Begin();
    canvas.SetDefaultState();
    std::vector<std::string> expected = {
        "SetVertexShader(null)", "SetPixelShader(null)",    "SetColorWriteMode(1)",    "SetAlphaWriteMode(1)",
        "SetDepthWriteMode(1)",  "SetDepthTestFunction(3)", "SetAlphaTestFunction(7)", "SetAlphaReference(0)",
        "SetSourceBlend(0)",     "SetDestinationBlend(1)",  "SetShaderState20(0)",     "SetShaderState21(0)"};
    for (int stage = 0; stage < 8; ++stage)
        expected.push_back("SetTexture(" + std::to_string(stage) + ", null)");
    for (int stage = 0; stage < 16; ++stage) {
        expected.push_back("SetTextureStageState(" + std::to_string(stage) + ", 0, 0)");
        expected.push_back("SetTextureStageState(" + std::to_string(stage) + ", 1, 0)");
    }
    expected.push_back("SetShaderState18(0)");
    EXPECT_EQ(Calls(), expected);
}

TEST_F(CanvasTest, TemporarySurfacesArePooledFrameByFrame)
{
    GraphicsCanvas& canvas = Begin();
    RenderSurface* a = canvas.CreateTemporaryTextureSurface(64, 32, RENDER_FORMAT_RGBA, RENDER_FORMAT_NONE);
    RenderSurface* b = canvas.CreateTemporaryTextureSurface(64, 32, RENDER_FORMAT_RGBA, RENDER_FORMAT_NONE);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_NE(a, b); // both in use this frame
    RenderSurface* deep = canvas.CreateTemporaryTextureSurface(64, 32, RENDER_FORMAT_RGBA, RENDER_FORMAT_D24);
    EXPECT_NE(deep, a);
    EXPECT_NE(deep, b);
    EXPECT_EQ(Calls("CreateTextureSurface").size(), 3u);

    canvas.EndFrame();
    ASSERT_TRUE(canvas.BeginFrame());
    EXPECT_EQ(canvas.CreateTemporaryTextureSurface(64, 32, RENDER_FORMAT_RGBA, RENDER_FORMAT_NONE), a);
    EXPECT_EQ(canvas.CreateTemporaryTextureSurface(64, 32, RENDER_FORMAT_RGBA, RENDER_FORMAT_NONE), b);
    EXPECT_EQ(canvas.CreateTemporaryTextureSurface(64, 32, RENDER_FORMAT_RGBA, RENDER_FORMAT_D24), deep);
    EXPECT_TRUE(Calls("CreateTextureSurface").empty());
    EXPECT_EQ(canvas.GetNumTemporarySurfaces(), 3u);

    // A surface the device refuses is not pooled.
    Control()->InjectFailure(Software::Failure::TextureSurface, 1);
    EXPECT_EQ(canvas.CreateTemporaryTextureSurface(16, 16, RENDER_FORMAT_RGBA, RENDER_FORMAT_NONE), nullptr);
    EXPECT_EQ(canvas.GetNumTemporarySurfaces(), 3u);

    const uint32_t surfaces = Control()->GetResourceCount(Software::ResourceKind::Surface);
    canvas.PreDeviceReset();
    EXPECT_EQ(canvas.GetNumTemporarySurfaces(), 0u);
    EXPECT_EQ(Control()->GetResourceCount(Software::ResourceKind::Surface), surfaces - 3);
    canvas.SetPrimarySurface(engine->GetPrimarySurface());
    EXPECT_TRUE(canvas.CreateDynamicBuffers());
}

TEST_F(CanvasTest, ClippingIsCutAtTheResolutionAndNeverNegative)
{
    GraphicsCanvas& canvas = Begin(800, 600);
    canvas.SetClippingRect(Rect(700, 500, 200, 200));
    canvas.SetClippingRect(Rect(100, 100, 50, 60));
    canvas.SetClippingRect(Rect(900, 700, 50, 50)); // wholly past the edges
    canvas.ClearClippingRect();
    EXPECT_EQ(Calls(), (std::vector<std::string>{
                           "SetScissorRect(700, 500, 100, 100)", "SetScissorRect(100, 100, 50, 60)",
                           "SetScissorRect(900, 700, 0, 0)", "SetScissorRect(0, 0, 800, 600)"}));
}

TEST_F(CanvasTest, RectanglesRoundBindBlendAndPutTheBlendBack)
{
    GraphicsCanvas& canvas = Begin();
    canvas.SetDepth(0.5f);
    canvas.RenderRect(Rect(10.4f, 20.6f, 30.5f, 40.2f), Color(1.0f, 0.0f, 0.0f, 0.5f));
    std::vector<std::string> calls = Calls();
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.back(), "DrawTexturedQuad(10, 21, 31, 40, 0, 0, 0, 0, 80ff0000, 0.5)");
    EXPECT_EQ(Matching(calls, "SetSourceBlend"), (std::vector<std::string>{"SetSourceBlend(6)"}));
    EXPECT_EQ(Matching(calls, "SetDestinationBlend"), (std::vector<std::string>{"SetDestinationBlend(8)"}));

    // A null texture resource draws nothing; a device texture maps its texel rectangle.
    canvas.RenderRect(Rect(0, 0, 8, 8), Rect(0, 0, 8, 8), static_cast<const GraphicsTexture*>(nullptr),
                      Color(1, 1, 1, 1));
    EXPECT_TRUE(Calls().empty());
    GraphicsTexture* texture =
        LoadTexture("Textures/t.tex", DataKit::TextureWriter::SolidDds(32, 16, 0xFFFFFFFFu));
    canvas.RenderRect(Rect(0, 0, 8, 8), Rect(8, 4, 16, 8), texture, Color(1, 1, 1, 1));
    calls = Calls();
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.back(), "DrawTexturedQuad(0, 0, 8, 8, 0.25, 0.25, 0.5, 0.5, ffffffff, 0.5)");

    // Alpha-tested: greater than 0.05.
    canvas.RenderRect(Rect(0, 0, 8, 8), Rect(), texture->GetTexture(), RENDER_BLEND_ONE, RENDER_BLEND_ZERO,
                      Color(1, 1, 1, 1), true);
    calls = Calls();
    EXPECT_EQ(Matching(calls, "SetAlphaTestFunction"), (std::vector<std::string>{"SetAlphaTestFunction(4)"}));
    EXPECT_EQ(Matching(calls, "SetAlphaReference"), (std::vector<std::string>{"SetAlphaReference(0.05)"}));

    // The blended form leaves the device's blend factors as they were.
    RenderDevice* device = engine->GetRenderDevice();
    device->SetSourceBlend(RENDER_BLEND_DEST_COLOR);
    device->SetDestinationBlend(RENDER_BLEND_SRC_COLOR);
    Calls();
    canvas.RenderRect(Rect(1, 2, 3, 4), RENDER_BLEND_ONE, RENDER_BLEND_ONE, Color(0, 1, 0, 1));
    calls = Calls();
    EXPECT_EQ(Matching(calls, "DrawQuad"), (std::vector<std::string>{"DrawQuad(4, ff00ff00)"}));
    EXPECT_EQ(device->GetSourceBlend(), RENDER_BLEND_DEST_COLOR);
    EXPECT_EQ(device->GetDestinationBlend(), RENDER_BLEND_SRC_COLOR);
    engine->UnloadTexture(texture);
}

TEST_F(CanvasTest, RadialWipeFillsWhatTheHandHasNotSwept)
{
    const Rect square(0, 0, 100, 100);
    auto near = [](const std::vector<Vec2>& got, const std::vector<Vec2>& want) {
        if (got.size() != want.size())
            return false;
        for (size_t i = 0; i < got.size(); ++i)
            if (std::fabs(got[i].x - want[i].x) > 1e-3f || std::fabs(got[i].y - want[i].y) > 1e-3f)
                return false;
        return true;
    };
    // Centre, hand, then the edge points clockwise from the hand up to the top middle.
    EXPECT_TRUE(near(
        GraphicsCanvas::GetSquareRadialWipePoints(square, Vec2(), 0.0f),
        {{50, 50}, {50, 0}, {100, 0}, {100, 50}, {100, 100}, {50, 100}, {0, 100}, {0, 50}, {0, 0}, {50, 0}}));
    EXPECT_TRUE(near(GraphicsCanvas::GetSquareRadialWipePoints(square, Vec2(), 0.25f),
                     {{50, 50}, {100, 50}, {100, 100}, {50, 100}, {0, 100}, {0, 50}, {0, 0}, {50, 0}}));
    EXPECT_TRUE(near(GraphicsCanvas::GetSquareRadialWipePoints(square, Vec2(), 1.0f), {{50, 50}, {50, 0}}));
    // A wide rectangle: the diagonal points are held to its edges; the offset moves everything.
    EXPECT_TRUE(near(GraphicsCanvas::GetSquareRadialWipePoints(Rect(0, 0, 200, 100), Vec2(10, 5), 0.9f),
                     {{110, 55}, {44.2836f, 5}, {110, 5}}));

    GraphicsCanvas& canvas = Begin();
    canvas.RenderSquareRadialWipeEffect(square, Vec2(), Color(0, 0, 0, 1), 0.25f);
    std::vector<std::string> calls = Calls();
    EXPECT_EQ(Matching(calls, "DrawFan"), (std::vector<std::string>{"DrawFan(8, ff000000)"}));
    EXPECT_EQ(Matching(calls, "SetDepthTestFunction").back(), "SetDepthTestFunction(7)");
    // Swept through: nothing to cover, no draw.
    canvas.RenderSquareRadialWipeEffect(square, Vec2(), Color(0, 0, 0, 1), 1.0f);
    EXPECT_TRUE(Matching(Calls(), "DrawFan").empty());
    EXPECT_EQ(Control()->GetRejectedCallCount(), 0u);
}

TEST_F(CanvasTest, BlurCopiesTheTargetAndRunsTwoRoundsOfFourPasses)
{
    PutFile("Shaders/Filter.ssh", DataKit::ShaderWriter::SampleFilter().Write());
    GraphicsCanvas& canvas = Begin();
    ASSERT_NE(canvas.GetFilterShader(), nullptr);
    RenderSurface* blurred = canvas.BlurFrameBuffer(64, 32, Rect(0, 0, 800, 600));
    ASSERT_NE(blurred, nullptr);
    EXPECT_EQ(blurred->GetWidth(), 64);
    std::vector<std::string> calls = Calls();
    EXPECT_EQ(Matching(calls, "CopyToTexture").size(), 1u);
    EXPECT_EQ(Matching(calls, "DrawIndexedPrimitive").size(), 8u);
    // The pass targets alternate B, B, A, A; the last binds the frame's target again.
    const std::vector<std::string> targets = Matching(calls, "SetRenderTarget");
    ASSERT_EQ(targets.size(), 9u);
    EXPECT_EQ(targets[0], targets[1]);
    EXPECT_EQ(targets[2], targets[3]);
    EXPECT_NE(targets[0], targets[2]);
    EXPECT_EQ(targets[0], targets[4]);
    EXPECT_EQ(canvas.GetRenderTarget0(), engine->GetPrimarySurface());
    // Replace, add, replace, add: the destination factor alternates ZERO and ONE.
    std::vector<std::string> destination = Matching(calls, "SetDestinationBlend");
    ASSERT_GE(destination.size(), 8u);
    EXPECT_EQ(destination[0], "SetDestinationBlend(1)");
    EXPECT_EQ(destination[1], "SetDestinationBlend(0)");
    EXPECT_EQ(Matching(calls, "SetVertexShader").back(), "SetVertexShader(null)");
    EXPECT_EQ(Control()->GetRejectedCallCount(), 0u);
    // The same frame asks for two more surfaces; the next frame has them back.
    EXPECT_EQ(canvas.GetNumTemporarySurfaces(), 2u);
    canvas.BlurFrameBuffer(64, 32, Rect(0, 0, 800, 600));
    EXPECT_EQ(canvas.GetNumTemporarySurfaces(), 4u);
}

TEST_F(CanvasTest, BlurWithoutItsShaderGivesTheCopyAndWithoutSurfacesNothing)
{
    GraphicsCanvas& canvas = Begin(); // no "Shaders/Filter.ssh"
    RenderSurface* copy = canvas.BlurFrameBuffer(32, 32, Rect(0, 0, 100, 100));
    ASSERT_NE(copy, nullptr);
    std::vector<std::string> calls = Calls();
    EXPECT_EQ(Matching(calls, "CopyToTexture").size(), 1u);
    EXPECT_TRUE(Matching(calls, "DrawIndexedPrimitive").empty());

    Control()->InjectFailure(Software::Failure::TextureSurface, -1);
    EXPECT_EQ(canvas.BlurFrameBuffer(16, 16, Rect(0, 0, 100, 100)), nullptr);
    Control()->InjectFailure(Software::Failure::TextureSurface, 0);
    EXPECT_EQ(canvas.BlurFrameBuffer(0, 16, Rect(0, 0, 100, 100)), nullptr);
}

TEST(FontCodes, CaretsAmpersandsAndBracesFollowTheirRules)
{
    const Color white(1, 1, 1, 0.5f);
    RenderFontStyle weight = RENDER_FONT_NORMAL;
    Color color = white;
    using F = GraphicsFont;
    EXPECT_EQ(F::ProcessCharacter('^', 'R', weight, color, true),
              F::CHARACTER_CONSUMES_NEXT | F::CHARACTER_CUTS_RUN);
    EXPECT_EQ(color, Color(1.0f, 0.258f, 0.0f, 0.5f)); // palette red, alpha kept
    EXPECT_EQ(F::ProcessCharacter('^', 'c', weight, color, true),
              F::CHARACTER_CONSUMES_NEXT | F::CHARACTER_CUTS_RUN);
    EXPECT_EQ(color, Color(0.0f, 1.0f, 1.0f, 0.5f)); // either case
    color = white;
    EXPECT_EQ(F::ProcessCharacter('^', 'X', weight, color, true), F::CHARACTER_CONSUMES_NEXT); // no colour
    EXPECT_EQ(F::ProcessCharacter('^', '7', weight, color, true), F::CHARACTER_CONSUMES_NEXT);
    EXPECT_EQ(color, white);
    EXPECT_EQ(F::ProcessCharacter('^', '^', weight, color, true), F::CHARACTER_OUTPUT);
    EXPECT_EQ(F::ProcessCharacter('^', 0, weight, color, true), 0u);
    EXPECT_EQ(F::ProcessCharacter('&', 'b', weight, color, true),
              F::CHARACTER_CONSUMES_NEXT | F::CHARACTER_CUTS_RUN);
    EXPECT_EQ(weight, RENDER_FONT_BOLD);
    EXPECT_EQ(F::ProcessCharacter('&', 'I', weight, color, true),
              F::CHARACTER_CONSUMES_NEXT | F::CHARACTER_CUTS_RUN);
    EXPECT_EQ(weight, RENDER_FONT_ITALIC);
    EXPECT_EQ(F::ProcessCharacter('&', 'S', weight, color, true),
              F::CHARACTER_CONSUMES_NEXT | F::CHARACTER_CUTS_RUN);
    EXPECT_EQ(weight, RENDER_FONT_NORMAL);
    EXPECT_EQ(F::ProcessCharacter('&', 'x', weight, color, true), F::CHARACTER_OUTPUT);
    EXPECT_EQ(F::ProcessCharacter('{', 'a', weight, color, true), 0u);
    EXPECT_EQ(F::ProcessCharacter('}', 'a', weight, color, true), 0u);
    EXPECT_EQ(F::ProcessCharacter('^', 'R', weight, color, false), F::CHARACTER_OUTPUT);
    EXPECT_EQ(color, white);
    // The fifteen letters with colours; the other eleven have none.
    int coloured = 0;
    for (char letter = 'A'; letter <= 'Z'; ++letter) {
        Color c = white;
        coloured += F::GetPaletteColor(static_cast<unsigned int>(letter), c) ? 1 : 0;
    }
    EXPECT_EQ(coloured, F::numPaletteColors);
}

TEST_F(CanvasTest, TextRunsCarryTheirCodesColoursAndShadows)
{
    GraphicsCanvas& canvas = Begin();
    GraphicsFont* font = LoadFont("Fonts\\Sub/Test.fnt");
    ASSERT_NE(font, nullptr);
    ASSERT_NE(font->GetRenderFont(), nullptr);
    const Color white(1, 1, 1, 1);

    // The software font advances half the size a character: 5 pixels at size 10.
    EXPECT_EQ(canvas.RenderText(10, 20, white, "^Rred^Wwhite", font, 10, GraphicsCanvas::X_ALIGN_LEFT,
                                GraphicsCanvas::Y_ALIGN_TOP, false, 0, RENDER_FONT_NORMAL, false),
              40.0f);
    EXPECT_EQ(Calls("DrawText"),
              (std::vector<std::string>{"DrawText(font, 3, \"red\", 10, 20, ffff4200, 0)",
                                        "DrawText(font, 5, \"white\", 25, 20, ffffffff, 0)"}));

    // Two carets draw one, and the second is read again with what follows (z has no colour);
    // a caret and a digit vanish; two ampersands before x draw both, before B one (then bold).
    canvas.RenderText(0, 0, white, u"a^^zb^9c&&x&&Bd&Se{f}", font, 10, GraphicsCanvas::X_ALIGN_LEFT,
                      GraphicsCanvas::Y_ALIGN_TOP, false, 0, RENDER_FONT_NORMAL, false);
    EXPECT_EQ(Calls("DrawText"),
              (std::vector<std::string>{"DrawText(font, 8, \"a^bc&&x&\", 0, 0, ffffffff, 0)",
                                        "DrawText(font, 1, \"d\", 40, 0, ffffffff, 1)",
                                        "DrawText(font, 2, \"ef\", 45, 0, ffffffff, 0)"}));

    // The shadow goes first, black at 0.66 of the alpha, moved right and down.
    canvas.RenderText(5, 5, Color(1, 0, 0, 1), "hi", font, 10, GraphicsCanvas::X_ALIGN_LEFT,
                      GraphicsCanvas::Y_ALIGN_TOP, true, 2, RENDER_FONT_BOLD, false);
    EXPECT_EQ(Calls("DrawText"), (std::vector<std::string>{"DrawText(font, 2, \"hi\", 7, 7, a8000000, 1)",
                                                           "DrawText(font, 2, \"hi\", 5, 5, ffff0000, 1)"}));
    engine->UnloadFont(font);
}

TEST_F(CanvasTest, LongTextsGoInRunsOf511AndWidthsAddUp)
{
    GraphicsCanvas& canvas = Begin();
    GraphicsFont* font = LoadFont("Fonts/Test.fnt");
    const std::string text(1000, 'x');
    EXPECT_EQ(MeasureFontText(font, text.c_str(), 4, RENDER_FONT_NORMAL), 2000);
    EXPECT_TRUE(Calls("DrawText").empty()); // measuring draws nothing
    EXPECT_EQ(canvas.RenderText(0, 0, Color(1, 1, 1, 1), text.c_str(), font, 4, GraphicsCanvas::X_ALIGN_LEFT,
                                GraphicsCanvas::Y_ALIGN_TOP, false, 0, RENDER_FONT_NORMAL, false),
              2000.0f);
    const std::vector<std::string> runs = Calls("DrawText");
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[0], "DrawText(font, 511, \"" + std::string(511, 'x') + "\", 0, 0, ffffffff, 0)");
    EXPECT_EQ(runs[1], "DrawText(font, 489, \"" + std::string(489, 'x') + "\", 1022, 0, ffffffff, 0)");

    std::u16string wide(1022, u'y');
    RenderFontText(font, wide.c_str(), Rect(), GraphicsFont::drawFlags, 4, Color(1, 1, 1, 1), false, 0,
                   RENDER_FONT_NORMAL, false);
    EXPECT_EQ(Calls("DrawText").size(), 2u); // exactly two full runs, no empty third

    // At a style's huge size each run alone reaches the int range: the sum stops there.
    EXPECT_EQ(MeasureFontText(font, text.c_str(), INT_MAX, RENDER_FONT_NORMAL), INT_MAX);
    EXPECT_EQ(RenderFontText(font, wide.c_str(), Rect(), GraphicsFont::drawFlags, INT_MAX, Color(1, 1, 1, 1),
                             false, 0, RENDER_FONT_NORMAL, false),
              INT_MAX);
    engine->UnloadFont(font);
}

TEST_F(CanvasTest, TextIsPlacedByItsAlignment)
{
    GraphicsCanvas& canvas = Begin();
    GraphicsFont* font = LoadFont("Fonts/Test.fnt");
    const Color white(1, 1, 1, 1);
    const Rect box(100, 50, 200, 40);
    auto place = [&](GraphicsCanvas::XAlignment x, GraphicsCanvas::YAlignment y) {
        canvas.RenderText(box, white, "abcd", font, 10, x, y, false, 0, RENDER_FONT_NORMAL, false); // 20 wide
        const std::vector<std::string> runs = Calls("DrawText");
        return runs.empty() ? std::string() : runs[0];
    };
    EXPECT_EQ(place(GraphicsCanvas::X_ALIGN_LEFT, GraphicsCanvas::Y_ALIGN_TOP),
              "DrawText(font, 4, \"abcd\", 100, 50, ffffffff, 0)");
    EXPECT_EQ(place(GraphicsCanvas::X_ALIGN_RIGHT, GraphicsCanvas::Y_ALIGN_BOTTOM),
              "DrawText(font, 4, \"abcd\", 280, 80, ffffffff, 0)");
    EXPECT_EQ(place(GraphicsCanvas::X_ALIGN_CENTER, GraphicsCanvas::Y_ALIGN_CENTER),
              "DrawText(font, 4, \"abcd\", 190, 65, ffffffff, 0)");

    // A text box: the box first, 3 pixels around the text; centred about the point.
    const Color grey(0.5f, 0.5f, 0.5f, 1.0f);
    canvas.RenderTextBox(200, 100, grey, u"abcd", font, 10, true, nullptr, false, 0, RENDER_FONT_NORMAL);
    const std::vector<std::string> calls = Calls();
    const std::vector<std::string> draws = Matching(calls, "Draw");
    ASSERT_EQ(draws.size(), 2u);
    EXPECT_EQ(draws[0], "DrawTexturedQuad(187, 92, 26, 16, 0, 0, 0, 0, ff808080, 0)");
    EXPECT_EQ(draws[1], "DrawText(font, 4, \"abcd\", 190, 95, ffffffff, 0)");
    engine->UnloadFont(font);
}

TEST_F(CanvasTest, FontsLoadOldAndNewFilesOnceAndRefuseWhatCannotBeAFont)
{
    Begin();
    GraphicsFont* font = LoadFont("Fonts/Plain.fnt");
    ASSERT_NE(font->GetRenderFont(), nullptr);
    EXPECT_EQ(Calls("CreateFont"), (std::vector<std::string>{"CreateFont(Plain, 8) -> font"}));
    // A second initialisation with the device font there has nothing to do and says so.
    EXPECT_EQ(font->Initialize(kFontBytes.data(), static_cast<int>(kFontBytes.size())),
              Resource::INIT_SUCCESS);
    EXPECT_TRUE(Calls("CreateFont").empty());

    GraphicsFont* old = LoadFont("Fonts/Old.fnt", {'F', 'N', 'T', 1, 0, 0});
    ASSERT_NE(old->GetRenderFont(), nullptr);
    EXPECT_EQ(Calls("CreateFont"), (std::vector<std::string>{"CreateFont(Old, 0) -> font"}));
    EXPECT_TRUE(log.Contains("Font file 'Fonts/Old.fnt' is using the old format.", 2));

    GraphicsFont* tiny = LoadFont("Fonts/Tiny.fnt", {'a', 'b', 'c'});
    EXPECT_EQ(tiny->GetRenderFont(), nullptr);
    EXPECT_EQ(tiny->GetInitResult(), Resource::INIT_INVALID_DATA);
    EXPECT_EQ(RenderFontText(tiny, "abc", Rect(), GraphicsFont::drawFlags, 10, Color(1, 1, 1, 1), false, 0,
                             RENDER_FONT_NORMAL, false),
              0);

    Control()->InjectFailure(Software::Failure::Font, 1);
    GraphicsFont* refused = LoadFont("Fonts/Refused.fnt");
    EXPECT_EQ(refused->GetRenderFont(), nullptr);
    EXPECT_EQ(refused->GetInitResult(), Resource::INIT_INVALID_DATA);

    // Unloading releases the device font.
    const uint32_t fonts = Control()->GetResourceCount(Software::ResourceKind::Font);
    engine->UnloadFont(font);
    engine->UnloadUnreferencedResources();
    EXPECT_EQ(Control()->GetResourceCount(Software::ResourceKind::Font), fonts - 1);
    for (GraphicsFont* f : {old, tiny, refused})
        engine->UnloadFont(f);
}

} // namespace
} // namespace GAME
