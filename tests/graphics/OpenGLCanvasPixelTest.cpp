// The canvas, fonts, primitive drawer and debug render manager drawn through the device that draws
// (OpenGL.so, headless through EGL) inside a started engine, and read back: rectangles, fans, the
// radial wipe, text runs, aligned text, paragraphs, the blur, 2-D lines and debug shapes through a
// camera. Pixels are compared within a tolerance. The suites' names start with "OpenGL": they need
// that module beside libEngine.so and fail, saying so, without it.
#include "graphics/OpenGLEngineFixture.h"

#include "core/ABBox.h"
#include "datakit/TextureWriter.h"
#include "graphics/DebugRenderManager.h"
#include "graphics/GraphicsCanvas.h"
#include "graphics/GraphicsEngine.h"
#include "graphics/GraphicsFont.h"
#include "graphics/GraphicsPrimitiveDrawer.h"
#include "graphics/GraphicsShader2.h"
#include "graphics/GraphicsTexture.h"
#include "graphics/RenderDevice.h"
#include "graphics/RenderFont.h"
#include "graphics/RenderSurface.h"
#include "platform/Module.h"
#include "scene/Camera.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace GAME {
namespace {

constexpr int kWidth = 128;
constexpr int kHeight = 96;

using Picture = GAME::Test::Image;

// The smallest rectangle holding every pixel that passes the test; empty (min > max) for none.
struct Bounds
{
    int minX = INT_MAX, minY = INT_MAX, maxX = INT_MIN, maxY = INT_MIN;
    bool Empty() const { return minX > maxX; }
};

Bounds Find(const Picture& picture, const std::function<bool(const Pixel&)>& test, int x0 = 0, int y0 = 0,
            int x1 = kWidth, int y1 = kHeight)
{
    Bounds b;
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x)
            if (test(picture.At(x, y))) {
                b.minX = std::min(b.minX, x);
                b.maxX = std::max(b.maxX, x);
                b.minY = std::min(b.minY, y);
                b.maxY = std::max(b.maxY, y);
            }
    return b;
}

bool Whitish(const Pixel& p)
{
    return p.r > 200 && p.g > 200 && p.b > 200;
}
bool Reddish(const Pixel& p)
{
    return p.r > 160 && p.g < 120 && p.b < 80;
}
bool Dark(const Pixel& p)
{
    return p.r < 70 && p.g < 70 && p.b < 70;
}

class OpenGLCanvasTest : public GAME::Test::OpenGLEngineTest
{
protected:
    void SetUp() override
    {
        OpenGLEngineTest::SetUp();
        data.AddFile("Textures/Green.tex", DataKit::TextureWriter::SolidDds(4, 4, 0xFF00FF00u));
        data.AddFile("Textures/RedBlue.tex",
                     DataKit::TextureWriter::Dds(8, 1,
                                                 {0xFFFF0000u, 0xFFFF0000u, 0xFFFF0000u, 0xFFFF0000u,
                                                  0xFF0000FFu, 0xFF0000FFu, 0xFF0000FFu, 0xFF0000FFu}));
        data.AddFile("Textures/Faint.tex", DataKit::TextureWriter::SolidDds(4, 4, 0x02FFFFFFu));
        data.AddFile("Textures/Half.tex", DataKit::TextureWriter::SolidDds(4, 4, 0x80FFFFFFu));
        ASSERT_NO_FATAL_FAILURE(StartOpenGL(kWidth, kHeight));
        graphics->GetBasicShader()->EnsureAvailable();
        ASSERT_EQ(graphics->GetBasicShader()->GetInitResult(), Resource::INIT_SUCCESS);
        Clear(Color(0, 0, 0, 1));
    }

    void Clear(const Color& color)
    {
        canvas->ClearRenderSurface(nullptr, color, RENDER_CLEAR_COLOR | RENDER_CLEAR_DEPTH);
        canvas->SetDefaultState();
    }

    GraphicsTexture* Texture(const char* name)
    {
        GraphicsTexture* texture = graphics->LoadTexture(name);
        texture->EnsureAvailable();
        EXPECT_EQ(texture->GetInitResult(), Resource::INIT_SUCCESS) << name;
        textures.push_back(texture);
        return texture;
    }

    GraphicsFont* Font()
    {
        GraphicsFont* font = graphics->GetDefaultFont();
        EXPECT_NE(font, nullptr);
        if (!font)
            return nullptr;
        font->EnsureAvailable();
        EXPECT_NE(font->GetRenderFont(), nullptr)
            << "the sample data's \"Fonts/Arial.fnt\" made no device font";
        return font->GetRenderFont() ? font : nullptr;
    }

    std::vector<GraphicsTexture*> textures;
};

TEST_F(OpenGLCanvasTest, RectanglesPlainTexturedBlendedAndAlphaTested)
{
    const Color white(1, 1, 1, 1);
    canvas->RenderRect(Rect(8, 8, 16, 16), Color(1, 0, 0, 1));
    // Blended half over the red.
    canvas->RenderRect(Rect(16, 8, 16, 16), Color(0, 0, 1, 0.5f));
    // Textured: a texture's colour, and the right half of a red-and-blue texture.
    canvas->RenderRect(Rect(40, 8, 16, 16), Rect(0, 0, 4, 4), Texture("Textures/Green.tex"), white);
    canvas->RenderRect(Rect(64, 8, 16, 16), Rect(4, 0, 4, 1), Texture("Textures/RedBlue.tex"), white);
    // Alpha-tested with blending off: an alpha of 2 / 255 is not drawn, one of 0.5 is.
    canvas->RenderRect(Rect(8, 40, 16, 16), Rect(0, 0, 4, 4), Texture("Textures/Faint.tex")->GetTexture(),
                       RENDER_BLEND_ONE, RENDER_BLEND_ZERO, white, true);
    canvas->RenderRect(Rect(40, 40, 16, 16), Rect(0, 0, 4, 4), Texture("Textures/Half.tex")->GetTexture(),
                       RENDER_BLEND_ONE, RENDER_BLEND_ZERO, white, true);
    const Picture p = Read();
    EXPECT_TRUE(p.Is(10, 15, 255, 0, 0)) << p.Describe(10, 15);
    EXPECT_TRUE(p.Is(8, 8, 255, 0, 0)) << p.Describe(8, 8);           // the rectangle's first pixel
    EXPECT_TRUE(p.Is(7, 8, 0, 0, 0)) << p.Describe(7, 8);             // and just outside it
    EXPECT_TRUE(p.Is(8, 24, 0, 0, 0)) << p.Describe(8, 24);           // height 16 ends at 23
    EXPECT_TRUE(p.Is(20, 15, 128, 0, 128, 10)) << p.Describe(20, 15); // blue half over red
    EXPECT_TRUE(p.Is(28, 15, 0, 0, 128, 10)) << p.Describe(28, 15);   // blue half over black
    EXPECT_TRUE(p.Is(47, 15, 0, 255, 0)) << p.Describe(47, 15);
    EXPECT_TRUE(p.Is(70, 15, 0, 0, 255, 12)) << p.Describe(70, 15);
    EXPECT_TRUE(p.Is(15, 47, 0, 0, 0)) << p.Describe(15, 47);
    EXPECT_TRUE(p.Is(47, 47, 255, 255, 255)) << p.Describe(47, 47);
    for (GraphicsTexture* texture : textures)
        graphics->UnloadTexture(texture);
}

TEST_F(OpenGLCanvasTest, TriangleFansAndTheRadialWipe)
{
    canvas->RenderTriFan({Vec2(10, 10), Vec2(50, 10), Vec2(10, 50)}, Color(0, 1, 0, 1));
    Picture p = Read();
    EXPECT_TRUE(p.Is(15, 15, 0, 255, 0)) << p.Describe(15, 15);
    EXPECT_TRUE(p.Is(45, 45, 0, 0, 0)) << p.Describe(45, 45);

    const Rect square(60, 10, 40, 40);                                   // centre (80, 30)
    const int quarters[4][2] = {{65, 15}, {95, 15}, {95, 45}, {65, 45}}; // top left, top right, ...
    auto filled = [&](const Picture& picture, int quarter) {
        return picture.Is(quarters[quarter][0], quarters[quarter][1], 255, 255, 255);
    };
    canvas->RenderSquareRadialWipeEffect(square, Vec2(), Color(1, 1, 1, 1), 0.0f);
    p = Read();
    for (int q = 0; q < 4; ++q)
        EXPECT_TRUE(filled(p, q)) << "fraction 0, quarter " << q << ": "
                                  << p.Describe(quarters[q][0], quarters[q][1]);

    Clear(Color(0, 0, 0, 1));
    canvas->RenderSquareRadialWipeEffect(square, Vec2(), Color(1, 1, 1, 1), 0.25f);
    p = Read();
    EXPECT_FALSE(filled(p, 1)) << p.Describe(95, 15); // swept: the top right
    EXPECT_TRUE(filled(p, 0));
    EXPECT_TRUE(filled(p, 2));
    EXPECT_TRUE(filled(p, 3));

    Clear(Color(0, 0, 0, 1));
    canvas->RenderSquareRadialWipeEffect(square, Vec2(), Color(1, 1, 1, 1), 1.0f);
    p = Read();
    for (int q = 0; q < 4; ++q)
        EXPECT_FALSE(filled(p, q)) << "fraction 1, quarter " << q;
}

TEST_F(OpenGLCanvasTest, TextRunsTakeTheirCodesColoursAndShadow)
{
    GraphicsFont* font = Font();
    ASSERT_NE(font, nullptr);
    const Color white(1, 1, 1, 1);
    const int size = 20;
    const float width =
        canvas->RenderText(4, 4, white, "^Rred^Wwhite", font, size, GraphicsCanvas::X_ALIGN_LEFT,
                           GraphicsCanvas::Y_ALIGN_TOP, false, 0, RENDER_FONT_NORMAL, false);
    const int red = MeasureFontText(font, "red", size, RENDER_FONT_NORMAL);
    EXPECT_EQ(width, static_cast<float>(red + MeasureFontText(font, "white", size, RENDER_FONT_NORMAL)));
    Picture p = Read();
    const Bounds reds = Find(p, Reddish, 0, 0, kWidth, 40);
    const Bounds whites = Find(p, Whitish, 0, 0, kWidth, 40);
    ASSERT_FALSE(reds.Empty());
    ASSERT_FALSE(whites.Empty());
    // The first word in the palette's red, the second in white after it; no code is drawn.
    EXPECT_GE(reds.minX, 4);
    EXPECT_LE(reds.maxX, 4 + red + 1);
    EXPECT_GE(whites.minX, 4 + red - 1);
    EXPECT_LE(whites.maxX, 4 + static_cast<int>(width) + 1);
    EXPECT_GE(reds.minY, 4);
    EXPECT_LE(reds.maxY, 4 + size + 4);

    // A shadow: black, moved right and down by its distance, drawn under the text.
    Clear(Color(0.5f, 0.5f, 0.5f, 1));
    canvas->RenderText(10, 40, white, "HIH", font, size, GraphicsCanvas::X_ALIGN_LEFT,
                       GraphicsCanvas::Y_ALIGN_TOP, true, 3, RENDER_FONT_NORMAL, false);
    p = Read();
    const Bounds text = Find(p, Whitish);
    const Bounds shadow = Find(p, Dark);
    ASSERT_FALSE(text.Empty());
    ASSERT_FALSE(shadow.Empty());
    EXPECT_NEAR(shadow.maxX, text.maxX + 3, 1);
    EXPECT_NEAR(shadow.maxY, text.maxY + 3, 1);
    EXPECT_GE(shadow.minX, text.minX);
    EXPECT_GE(shadow.minY, text.minY);
}

TEST_F(OpenGLCanvasTest, AlignedTextAndParagraphsLandInTheirBoxes)
{
    GraphicsFont* font = Font();
    ASSERT_NE(font, nullptr);
    const Color white(1, 1, 1, 1);
    const int size = 16;
    auto place = [&](GraphicsCanvas::XAlignment align) {
        Clear(Color(0, 0, 0, 1));
        canvas->RenderText(Rect(0, 10, static_cast<float>(kWidth), 30), white, "WIDE", font, size, align,
                           GraphicsCanvas::Y_ALIGN_CENTER, false, 0, RENDER_FONT_NORMAL, false);
        return Find(Read(), Whitish);
    };
    const int width = MeasureFontText(font, "WIDE", size, RENDER_FONT_NORMAL);
    const Bounds left = place(GraphicsCanvas::X_ALIGN_LEFT);
    const Bounds right = place(GraphicsCanvas::X_ALIGN_RIGHT);
    const Bounds centre = place(GraphicsCanvas::X_ALIGN_CENTER);
    ASSERT_FALSE(left.Empty());
    ASSERT_FALSE(right.Empty());
    ASSERT_FALSE(centre.Empty());
    EXPECT_LE(left.minX, 3);
    EXPECT_NEAR(right.maxX, kWidth - 1, 3);
    EXPECT_NEAR(right.minX - left.minX, kWidth - width, 1); // the same run, moved by W - w
    EXPECT_NEAR((centre.minX + centre.maxX) / 2, kWidth / 2, 3);
    // Centred vertically in the 30 rows from 10.
    EXPECT_NEAR((left.minY + left.maxY) / 2, 25, 5);

    // A paragraph on its box: the box 3 pixels round the text, three lines one under the other.
    Clear(Color(0, 0, 0, 1));
    const std::string style = engine->GetUtilityFontStyle();
    canvas->RenderTextParagraph(10, 20, white, Color(0, 0, 1, 1), {u"a", u"bb", u"ccc"}, style, false);
    const Picture p = Read();
    const Bounds box = Find(p, [](const Pixel& px) { return px.b > 200 && px.r < 60 && px.g < 60; });
    ASSERT_FALSE(box.Empty());
    EXPECT_EQ(box.minX, 7);
    EXPECT_EQ(box.minY, 17);
    const int styleSize = 12; // the sample's utility style
    EXPECT_EQ(box.maxY, 17 + 3 * (styleSize + 2) + 6 - 1);
    for (int line = 0; line < 3; ++line) {
        const int top = 20 + line * (styleSize + 2);
        EXPECT_FALSE(Find(p, Whitish, 7, top, box.maxX + 1, top + styleSize + 2).Empty()) << "line " << line;
    }
}

TEST_F(OpenGLCanvasTest, TheBlurSoftensEdgesAndKeepsFlatAreas)
{
    canvas->RenderRect(Rect(32, 0, 64, static_cast<float>(kHeight)), Color(1, 1, 1, 1));
    canvas->GetFilterShader()->EnsureAvailable();
    ASSERT_EQ(canvas->GetFilterShader()->GetInitResult(), Resource::INIT_SUCCESS);
    RenderSurface* blurred = canvas->BlurFrameBuffer(kWidth, kHeight, Rect(0, 0, kWidth, kHeight));
    ASSERT_NE(blurred, nullptr);
    canvas->SetTargetSurface(blurred);
    const Picture p = Read();
    canvas->SetTargetSurface(nullptr);
    const int row = kHeight / 2;
    EXPECT_LT(p.At(5, row).r, 10) << p.Describe(5, row);
    EXPECT_GT(p.At(64, row).r, 245) << p.Describe(64, row);
    for (int x : {31, 32, 95, 96}) {
        EXPECT_GT(p.At(x, row).r, 10) << p.Describe(x, row);
        EXPECT_LT(p.At(x, row).r, 245) << p.Describe(x, row);
    }
    for (int x = 26; x < 38; ++x)
        EXPECT_LE(p.At(x, row).r, p.At(x + 1, row).r + 1) << x; // rising across the edge
    // The frame itself is untouched.
    const Picture frame = Read();
    EXPECT_TRUE(frame.Is(31, row, 0, 0, 0)) << frame.Describe(31, row);
    EXPECT_TRUE(frame.Is(32, row, 255, 255, 255)) << frame.Describe(32, row);
}

TEST_F(OpenGLCanvasTest, TwoDimensionalLinesLandOnThePixelsTheyName)
{
    GraphicsPrimitiveDrawer drawer(*canvas);
    drawer.SetShader(graphics->GetBasicShader());
    drawer.Enable2DMode(Viewport(0, 0, kWidth, kHeight));
    drawer.SetColor(Color(1, 0, 0, 1));
    drawer.Begin(GraphicsPrimitiveDrawer::LINES);
    drawer.SetVertex(Vec2(10.5f, 20.5f));
    drawer.SetVertex(Vec2(60.5f, 20.5f));
    drawer.SetVertex(Vec2(80.5f, 10.5f));
    drawer.SetVertex(Vec2(80.5f, 70.5f));
    drawer.End();
    drawer.Flush();
    const Picture p = Read();
    for (int x : {12, 30, 58})
        EXPECT_TRUE(p.Is(x, 20, 255, 0, 0)) << p.Describe(x, 20);
    for (int y : {12, 40, 68})
        EXPECT_TRUE(p.Is(80, y, 255, 0, 0)) << p.Describe(80, y);
    for (const auto& [x, y] : {std::pair(30, 19), std::pair(30, 21), std::pair(79, 40), std::pair(81, 40),
                               std::pair(5, 20), std::pair(66, 20), std::pair(80, 5), std::pair(80, 76)})
        EXPECT_TRUE(p.Is(x, y, 0, 0, 0)) << p.Describe(x, y);
}

TEST_F(OpenGLCanvasTest, DebugBoxesAndArrowsAreDrawnThroughTheCamera)
{
    Camera camera;
    camera.SetCoords(Coords::LookInDirection(Vec3(0, 0, -10), Vec3(0, 0, 1), Vec3(0, 1, 0)));
    const Viewport viewport(0, 0, kWidth, kHeight);
    Region* region = reinterpret_cast<Region*>(this); // a region of its own space: no camera region is set
    DebugRenderManager* debug = DebugRenderManager::Get();
    debug->RenderBox(region, ABBox(Vec3(0, 0, 0), Vec3(2, 2, 2)), Color(0, 1, 0, 1));
    debug->RenderArrow(region, Vec3(-4, 3.5f, 0), Vec3(4, 3.5f, 0), Color(1, 0, 0, 1));
    debug->Flush(*canvas, nullptr, camera, viewport);
    const Picture p = Read();
    auto green = [](const Pixel& px) { return px.g > 160 && px.r < 80 && px.b < 80; };
    auto red = [](const Pixel& px) { return px.r > 160 && px.g < 80 && px.b < 80; };
    // Midpoints of front and back edges of the box, and of the arrow's shaft, where the camera
    // puts them.
    for (const Vec3& point :
         {Vec3(0, -2, -2), Vec3(0, 2, -2), Vec3(-2, 0, -2), Vec3(0, -2, 2), Vec3(2, 0, 2)}) {
        const Vec2 at = camera.Project(point, viewport);
        EXPECT_TRUE(p.AnyNear(static_cast<int>(at.x), static_cast<int>(at.y), 1, green))
            << "box edge at " << at.x << ", " << at.y;
    }
    const Vec2 shaft = camera.Project(Vec3(0, 3.5f, 0), viewport);
    EXPECT_TRUE(p.AnyNear(static_cast<int>(shaft.x), static_cast<int>(shaft.y), 1, red))
        << "arrow at " << shaft.x << ", " << shaft.y;
    // Inside the box's front face nothing is drawn; nor in the corner of the picture.
    const Vec2 inside = camera.Project(Vec3(0.5f, 0.5f, -2), viewport);
    EXPECT_TRUE(p.Is(static_cast<int>(inside.x), static_cast<int>(inside.y), 0, 0, 0));
    EXPECT_TRUE(p.Is(2, 2, 0, 0, 0));
}

} // namespace
} // namespace GAME
