// The primitive drawer over the recording software device: what goes into a batch, what flushes
// it, the limits of primitives and batches, the shapes' vertex counts, the 2-D mode's mapping and
// the shapes that have nothing to draw.
#include "GraphicsFixtures.h"

#include "core/ABBox.h"
#include "core/OBBox.h"
#include "datakit/ShaderWriter.h"
#include "datakit/TextureWriter.h"
#include "graphics/DebugRenderManager.h"
#include "graphics/GraphicsCanvas.h"
#include "graphics/GraphicsPrimitiveDrawer.h"
#include "graphics/WorldPrimitiveDrawer.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace GAME {
namespace {

class PrimitiveDrawerTest : public GAME::Test::GraphicsFixture
{
protected:
    GraphicsCanvas& Begin()
    {
        PutFile("Shaders/Basic.ssh", DataKit::ShaderWriter::SampleBasic().Write());
        PutFile("Shaders/Overlay.ssh", DataKit::ShaderWriter::SampleOverlay().Write());
        options.SetInt2(Options::INT2_RESOLUTION, Options::Int2{640, 480});
        Start();
        engine->GetBasicShader()->EnsureAvailable();
        engine->GetOverlayShader()->EnsureAvailable();
        GraphicsCanvas& canvas = *engine->GetCanvas();
        EXPECT_TRUE(canvas.BeginFrame());
        Control()->SetRecording(true);
        Control()->TakeRecordedCalls();
        return canvas;
    }

    // The primitive counts of the draws recorded since the last call.
    std::vector<std::string> Draws()
    {
        return Matching(Control()->TakeRecordedCalls(), "DrawIndexedPrimitive");
    }
    // "kind:primitives" of each draw.
    std::vector<std::string> Batches()
    {
        std::vector<std::string> out;
        for (const std::string& draw : Draws()) {
            // DrawIndexedPrimitive(type, base, min, count, start, primitives)
            const size_t open = draw.find('(');
            const size_t comma = draw.find(',');
            const size_t last = draw.rfind(',');
            out.push_back(draw.substr(open + 1, comma - open - 1) + ":" +
                          draw.substr(last + 2, draw.size() - last - 3));
        }
        return out;
    }

    static void Lines(GraphicsPrimitiveDrawer& drawer, int vertices)
    {
        drawer.Begin(GraphicsPrimitiveDrawer::LINES);
        for (int i = 0; i < vertices; ++i)
            drawer.SetVertex(Vec3(static_cast<float>(i), 0.0f, 0.0f));
        drawer.End();
    }
    static void Triangle(GraphicsPrimitiveDrawer& drawer)
    {
        drawer.Begin(GraphicsPrimitiveDrawer::TRIANGLES);
        drawer.SetVertex(Vec3(0, 0, 0));
        drawer.SetVertex(Vec3(1, 0, 0));
        drawer.SetVertex(Vec3(0, 0, 1));
        drawer.End();
    }
};

TEST_F(PrimitiveDrawerTest, PrimitivesAndBatchesKeepAThousandVertices)
{
    GraphicsCanvas& canvas = Begin();
    GraphicsPrimitiveDrawer drawer(canvas);
    drawer.SetShader(engine->GetBasicShader());

    Lines(drawer, 1200); // the last 200 are dropped
    EXPECT_EQ(drawer.GetNumBatchVertices(), 1000);
    drawer.Flush();
    EXPECT_EQ(Batches(), (std::vector<std::string>{"3:500"}));

    // Two primitives of 600 do not fit one batch: the second End draws the first.
    Lines(drawer, 600);
    EXPECT_TRUE(Draws().empty());
    Lines(drawer, 600);
    EXPECT_EQ(Batches(), (std::vector<std::string>{"3:300"}));
    drawer.Flush();
    EXPECT_EQ(Batches(), (std::vector<std::string>{"3:300"}));
    drawer.Flush(); // nothing open: nothing drawn
    EXPECT_TRUE(Draws().empty());
    EXPECT_EQ(Control()->GetRejectedCallCount(), 0u);
    EXPECT_EQ(Control()->GetLockedResourceCount(), 0u);
}

TEST_F(PrimitiveDrawerTest, StateChangesFlushAndColoursDoNot)
{
    GraphicsCanvas& canvas = Begin();
    GraphicsTexture* texture =
        LoadTexture("Textures/t.tex", DataKit::TextureWriter::SolidDds(4, 4, 0xFFFFFFFFu));
    GraphicsPrimitiveDrawer drawer(canvas);
    drawer.SetShader(engine->GetBasicShader());

    // Colour travels with the vertex: one batch.
    drawer.SetColor(Color(1, 0, 0, 1));
    Lines(drawer, 2);
    drawer.SetColor(Color(0, 1, 0, 1));
    Lines(drawer, 2);
    EXPECT_TRUE(Draws().empty());
    // A change of kind.
    Triangle(drawer);
    EXPECT_EQ(Batches(), (std::vector<std::string>{"3:2"}));
    // A texture; the same texture again does not flush.
    drawer.SetTexture0(texture->GetTexture());
    EXPECT_EQ(Batches(), (std::vector<std::string>{"0:1"}));
    Triangle(drawer);
    drawer.SetTexture0(texture->GetTexture());
    EXPECT_TRUE(Draws().empty());
    drawer.SetTexture1(texture->GetTexture());
    EXPECT_EQ(Batches(), (std::vector<std::string>{"0:1"}));
    // A style, a shader, a camera, a matrix.
    Triangle(drawer);
    drawer.SetShader(engine->GetBasicShader(), Name::Create("normal")); // the same: no flush
    EXPECT_TRUE(Draws().empty());
    drawer.SetShader(engine->GetOverlayShader());
    EXPECT_EQ(Batches(), (std::vector<std::string>{"0:1"}));
    Triangle(drawer);
    drawer.SetCamera(nullptr, Camera(), Viewport(0, 0, 640, 480));
    EXPECT_EQ(Batches(), (std::vector<std::string>{"0:1"}));
    Triangle(drawer);
    drawer.SetWorldToScreenMatrix(Mat4::Identity());
    EXPECT_EQ(Batches(), (std::vector<std::string>{"0:1"}));
    // A style the shader lacks draws nothing and drops the batch.
    drawer.SetShader(engine->GetBasicShader(), Name::Create("noSuchStyle"));
    Triangle(drawer);
    drawer.Flush();
    EXPECT_TRUE(Draws().empty());
    EXPECT_EQ(Control()->GetLockedResourceCount(), 0u);
    EXPECT_EQ(Control()->GetRejectedCallCount(), 0u);
    engine->UnloadTexture(texture);
}

TEST_F(PrimitiveDrawerTest, AFlushSetsTheStateAndParametersOfTheDrawerShader)
{
    GraphicsCanvas& canvas = Begin();
    Camera camera;
    camera.SetCoords(Coords::LookInDirection(Vec3(1, 2, -10), Vec3(0, 0, 1), Vec3(0, 1, 0)));
    const Viewport viewport(0, 0, 640, 480);
    {
        GraphicsPrimitiveDrawer drawer(canvas);
        drawer.SetShader(engine->GetBasicShader());
        drawer.SetCamera(nullptr, camera, viewport);
        Triangle(drawer);
    } // the destructor flushes
    const std::vector<std::string> calls = Control()->TakeRecordedCalls();
    ASSERT_EQ(Matching(calls, "DrawIndexedPrimitive").size(), 1u);
    // The batch's space was locked when the triangle ended; the flush puts the default state,
    // then the shared buffers and the draw.
    EXPECT_EQ(calls.front().rfind("Lock(dynamicvertexbuffer", 0), 0u);
    const auto at = [&calls](const std::string& call) {
        return std::find_if(calls.begin(), calls.end(),
                            [&](const std::string& c) { return c.rfind(call, 0) == 0; }) -
               calls.begin();
    };
    EXPECT_LT(at("SetVertexShader(null)"), at("SetShaderState18(0)"));
    EXPECT_LT(at("SetShaderState18(0)"), at("SetAsStream"));
    EXPECT_LT(at("SetAsStream"), at("DrawIndexedPrimitive"));
    ASSERT_EQ(Matching(calls, "SetAsStream").size(), 1u);
    EXPECT_NE(Matching(calls, "SetAsStream")[0].find(", 36)"), std::string::npos);
    EXPECT_EQ(Matching(calls, "SetAsIndices").size(), 1u);
    EXPECT_EQ(Control()->GetRejectedCallCount(), 0u);
    // objectToScreenMatrix reaches the vertex program's first four registers in rows: projection
    // (its depth reversed, as the device draws) times the inverse of the camera's placement; a
    // point ahead of the camera lands mid-screen.
    const std::vector<float> constants = Control()->GetVertexShaderConstants();
    Mat4 projection;
    ASSERT_TRUE(camera.GetCameraToClipMatrix(projection, viewport));
    const Mat4 expected = projection * Mat4(camera.GetCoords().Inverse());
    for (int i = 0; i < 16; ++i)
        EXPECT_FLOAT_EQ(constants[size_t(i)], expected.m[i]) << i;
    const Vec4 ahead = expected * Vec4(1.0f, 2.0f, 0.0f, 1.0f);
    EXPECT_NEAR(ahead.x / ahead.w, 0.0f, 1e-5f);
    EXPECT_NEAR(ahead.y / ahead.w, 0.0f, 1e-5f);
    // The colour register holds white; the camera's origin follows it.
    for (int i = 0; i < 4; ++i)
        EXPECT_FLOAT_EQ(constants[size_t(32 + i)], 1.0f);
    EXPECT_FLOAT_EQ(constants[36], 1.0f);
    EXPECT_FLOAT_EQ(constants[37], 2.0f);
    EXPECT_FLOAT_EQ(constants[38], -10.0f);
}

TEST_F(PrimitiveDrawerTest, TwoDimensionalModeMapsScreenPixelsThroughTheOrthographicCamera)
{
    GraphicsCanvas& canvas = Begin();
    GraphicsPrimitiveDrawer drawer(canvas);
    drawer.Enable2DMode(Viewport(0, 0, 640, 480));
    EXPECT_TRUE(drawer.Is2DMode());
    EXPECT_EQ(drawer.GetCamera().GetType(), CAMERA_ORTHOGRAPHIC);
    const Mat4& m = drawer.GetWorldToScreenMatrix();
    // SetVertex(Vec2(10, 20)) is the world point (10, 0, 20): clip x and y of the pixel (10, 20).
    const Vec4 clip = m * Vec4(10.0f, 0.0f, 20.0f, 1.0f);
    EXPECT_NEAR(clip.x / clip.w, 2.0f * 10.0f / 640.0f - 1.0f, 1e-5f);
    EXPECT_NEAR(clip.y / clip.w, 1.0f - 2.0f * 20.0f / 480.0f, 1e-5f);
    EXPECT_GE(clip.z / clip.w, 0.0f);
    EXPECT_LE(clip.z / clip.w, 1.0f);
}

TEST_F(PrimitiveDrawerTest, ShapesHaveTheirVertexCountsAndDegenerateOnesDrawNothing)
{
    GraphicsCanvas& canvas = Begin();
    GraphicsPrimitiveDrawer drawer(canvas);
    drawer.SetShader(engine->GetBasicShader());
    const ABBox box(Vec3(1, 2, 3), Vec3(1, 1, 1));

    DrawWireframeBox(drawer, box);
    DrawWireframeBox(drawer, OBBox(box));
    drawer.Flush();
    EXPECT_EQ(Batches(), (std::vector<std::string>{"3:24"})); // 12 edges each
    DrawSolidBox(drawer, box);
    drawer.Flush();
    EXPECT_EQ(Batches(), (std::vector<std::string>{"0:12"}));
    DrawWireframeCircle(drawer, Vec3(), 1.0f, 17);
    drawer.Flush();
    EXPECT_EQ(Batches(), (std::vector<std::string>{"3:16"}));
    DrawSolidCircle(drawer, Vec3(), 1.0f, 9);
    drawer.Flush();
    EXPECT_EQ(Batches(), (std::vector<std::string>{"0:8"}));
    DrawArrow(drawer, Vec3(0, 0, 0), Vec3(0, 0, 5), Color(1, 1, 1, 1), Color(1, 0, 0, 1), Vec3(0, 1, 0));
    EXPECT_EQ(drawer.GetColor(), Color(1, 0, 0, 1)); // the outline colour stays
    drawer.Flush();
    EXPECT_EQ(Batches(), (std::vector<std::string>{"0:1", "3:3", "0:1", "3:3"}));
    Draw2DOrientedQuad(drawer, Vec2(0, 0), Vec2(0, 4), Vec2(2, 2));
    drawer.Flush();
    EXPECT_EQ(Batches(), (std::vector<std::string>{"0:2"}));

    // Nothing to draw: circles of one point, arrows of no length or along their up vector, a quad
    // pointing nowhere.
    drawer.SetColor(Color(0, 0, 1, 1));
    DrawWireframeCircle(drawer, Vec3(), 1.0f, 1);
    DrawSolidCircle(drawer, Vec3(), 1.0f, 0);
    DrawArrow(drawer, Vec3(1, 1, 1), Vec3(1, 1, 1), Color(1, 1, 1, 1), Color(1, 0, 0, 1), Vec3(0, 1, 0));
    DrawArrow(drawer, Vec3(0, 0, 0), Vec3(0, 5, 0), Color(1, 1, 1, 1), Color(1, 0, 0, 1), Vec3(0, 1, 0));
    DrawArrow(drawer, Vec3(0, 0, 0), Vec3(0, 0, 5), Color(1, 1, 1, 1), Color(1, 0, 0, 1), Vec3(0, 0, 0));
    Draw2DOrientedQuad(drawer, Vec2(3, 3), Vec2(3, 3), Vec2(1, 1));
    drawer.Flush();
    EXPECT_TRUE(Draws().empty());
    EXPECT_EQ(drawer.GetColor(), Color(0, 0, 1, 1));
}

TEST_F(PrimitiveDrawerTest, WithoutTheSharedBuffersPrimitivesAreDropped)
{
    GraphicsCanvas& canvas = Begin();
    canvas.DestroyDynamicBuffers();
    {
        GraphicsPrimitiveDrawer drawer(canvas);
        drawer.SetShader(engine->GetBasicShader());
        Triangle(drawer);
        EXPECT_EQ(drawer.GetNumBatchVertices(), 0);
    }
    EXPECT_TRUE(Draws().empty());
    EXPECT_TRUE(canvas.CreateDynamicBuffers());
    // A refused lock drops the primitive and leaves nothing locked.
    Control()->InjectFailure(Software::Failure::Lock, 1);
    {
        GraphicsPrimitiveDrawer drawer(canvas);
        drawer.SetShader(engine->GetBasicShader());
        Triangle(drawer);
        EXPECT_EQ(drawer.GetNumBatchVertices(), 0);
        Triangle(drawer);
        EXPECT_EQ(drawer.GetNumBatchVertices(), 3);
    }
    EXPECT_EQ(Batches(), (std::vector<std::string>{"0:1"}));
    EXPECT_EQ(Control()->GetLockedResourceCount(), 0u);
}

TEST_F(PrimitiveDrawerTest, WorldCodeDrawsThroughTheWorldDrawerInterface)
{
    GraphicsCanvas& canvas = Begin();
    GraphicsPrimitiveDrawer drawer(canvas);
    WorldPrimitiveDrawer& world = drawer;
    world.SetOverlayShader();
    EXPECT_EQ(drawer.GetShader(), engine->GetOverlayShader());
    EXPECT_EQ(drawer.GetStyle(), Name::Create("normal"));
    world.SetColor(Color(0, 1, 0, 1));
    world.Begin(WorldPrimitiveDrawer::PRIMITIVE_LINE_LIST);
    world.SetVertex(Vec3(0, 0, 0));
    world.SetVertex(Vec3(1, 0, 0));
    world.End();
    world.DrawSolidCircle(Vec3(), 0.5f, 25);
    world.DrawArrow(Vec3(0, 0, 0), Vec3(2, 0, 0)); // its shaft joins the circle's batch
    world.Flush();
    EXPECT_EQ(Batches(), (std::vector<std::string>{"3:1", "0:25", "3:3", "0:1", "3:3"}));
    EXPECT_EQ(drawer.GetColor(), Color(0, 1, 0, 1));

    const size_t queued = DebugRenderManager::Get()->GetNumQueuedCommands();
    world.RenderDebugBox(reinterpret_cast<Region*>(this), ABBox(Vec3(), Vec3(1, 1, 1)), Color(1, 0, 0, 1));
    EXPECT_EQ(DebugRenderManager::Get()->GetNumQueuedCommands(), queued + 1);
    DebugRenderManager::Destroy();
}

} // namespace
} // namespace GAME
