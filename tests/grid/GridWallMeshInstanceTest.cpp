// Grid wall mesh instances drawn through the recording device: one pass per face set as a mesh
// instance, or one ambient pass over every face with the cheapest ambient shader of the materials;
// and the wall transparency on its way to the shader.
#include "scene/SceneRenderFixtures.h"

#include "datakit/MeshWriter.h"
#include "datakit/ShaderWriter.h"
#include "terrain/GridWallMeshInstance.h"

#include <gtest/gtest.h>

namespace GAME::SceneRenderTest {
namespace {

using DataKit::MeshWriter;
using DataKit::ShaderWriter;

constexpr const char* cheapShader = "Shaders/Cheap.ssh";   // ambient at 500
constexpr const char* dearShader = "Shaders/Dear.ssh";     // ambient at 1000
constexpr const char* otherCheap = "Shaders/Cheap2.ssh";   // ambient at 500 as well
constexpr const char* noAmbient = "Shaders/NoAmbient.ssh"; // no ambient style

// "ambientLightStyle" at the sort order (or only "depthStyle"), its vertex program taking
// "wallTransparency" in vc[0].
std::vector<uint8_t> WallShader(int ambientOrder)
{
    ShaderWriter writer;
    for (const char* generation : {"GeForce6", "GeForce3"}) {
        ShaderWriter::Section& s = writer.AddSection(generation);
        const uint32_t walls = s.Parameter("wallTransparency", GraphicsShader2::TYPE_FLOAT4);
        const uint32_t vertex = s.VertexProgram("wall", {{0, 1, false, walls}});
        const uint32_t pixel = s.PixelProgram("wall");
        s.Style(ambientOrder >= 0 ? "ambientLightStyle" : "depthStyle", ambientOrder >= 0 ? ambientOrder : 0);
        s.StateFromValue(GraphicsShader2::STATE_VERTEX_SHADER, vertex);
        s.StateFromValue(GraphicsShader2::STATE_PIXEL_SHADER, pixel);
    }
    return writer.Write();
}

// Three face sets of two, three and one triangles on the materials' shaders in the order given.
MeshWriter Wall(const std::vector<const char*>& shaders)
{
    MeshWriter mesh;
    mesh.SetAttributes({MeshWriter::ATTRIBUTE_POSITION, MeshWriter::ATTRIBUTE_NORMAL});
    for (int i = 0; i < 8; ++i) {
        MeshWriter::Vertex v;
        v.position = Vec3(float(i % 4), float(i / 4), 0);
        v.normal = Vec3(0, 0, 1);
        mesh.AddVertex(v);
    }
    for (int f = 0; f < 6; ++f)
        mesh.AddFace(uint32_t(f % 4), uint32_t(f % 4 + 1), uint32_t(f % 4 + 4) % 8);
    const uint32_t counts[3] = {2, 3, 1};
    uint32_t first = 0;
    for (uint32_t set = 0; set < 3; ++set) {
        MeshWriter::FaceSet faceSet;
        faceSet.material = set % uint32_t(shaders.size());
        faceSet.firstFace = first;
        faceSet.numFaces = counts[set];
        faceSet.boxExtents = Vec3(2, 1, 0.1f);
        mesh.faceSets.push_back(faceSet);
        first += counts[set];
    }
    for (const char* shader : shaders)
        mesh.materials.push_back({shader, {}});
    mesh.hasBoundingBox = true;
    mesh.boundsMin = Vec3(0, 0, -0.1f);
    mesh.boundsMax = Vec3(4, 2, 0.1f);
    return mesh;
}

class GridWallMeshInstanceTest : public SceneRenderFixture
{
protected:
    void SetUp() override
    {
        SceneRenderFixture::SetUp();
        engine->SetGeneration(RENDER_GENERATION_GEFORCE6);
        PutFile(cheapShader, WallShader(500));
        PutFile(dearShader, WallShader(1000));
        PutFile(otherCheap, WallShader(500));
        PutFile(noAmbient, WallShader(-1));
        region = MakeRegion();
    }
    // The instance with a wall whose materials use the shaders (one mesh file per list).
    void Load(GridWallMeshInstance& instance, const std::vector<const char*>& shaders)
    {
        std::string name = "Meshes/Wall";
        for (const char* shader : shaders)
            name += std::string("_") + std::string(shader).substr(8, std::string(shader).size() - 12);
        name += ".msh";
        PutFile(name, Wall(shaders).Write(11));
        instance.SetMesh(name.c_str());
        instance.PreLoad(true);
        while (loader->ProcessNextRequest()) {
        }
        ASSERT_TRUE(instance.GetIsReadyToRender());
        instance.UpdateBoundingBox(false);
    }
    std::string ShaderOf(const GridWallMeshInstance& instance, int pass)
    {
        const GraphicsShader2* shader = instance.GetShader2(pass, ambient);
        return shader ? shader->GetFileName() : "(none)";
    }
    // The draws of the instance's ambient passes, and the first register after the last one.
    std::vector<std::string> Draw(GridWallMeshInstance& instance, std::vector<float>* wallRegister = nullptr)
    {
        RecordingRenderer renderer;
        renderer.SetViewer(region, camera, Viewport(0, 0, 320, 240),
                           camera.GetFrustum(Viewport(0, 0, 320, 240)));
        renderer.SetRegionToSceneCoords(region, Coords());
        renderer.AddRenderable(&instance, region);
        EXPECT_TRUE(Canvas().BeginFrame());
        Control()->SetRecording(true);
        renderer.RenderStyle(Canvas(), ambient);
        Control()->SetRecording(false);
        if (wallRegister) {
            const std::vector<float> constants = Control()->GetVertexShaderConstants();
            wallRegister->assign(constants.begin(), constants.begin() + 4);
        }
        Canvas().EndFrame();
        return Matching(Control()->TakeRecordedCalls(), "DrawIndexedPrimitive");
    }

    const Name ambient = Name::Create("ambientLightStyle");
    Region* region = nullptr;
    Camera camera;
};

TEST_F(GridWallMeshInstanceTest, AmbientOnlyDrawsOnePassOverEveryFaceWithTheCheapestAmbientShader)
{
    GridWallMeshInstance instance(engine.get());
    EXPECT_EQ(instance.GetNumRenderPasses(ambient, engine->GetGenerationId()), 0) << "no mesh";
    Load(instance, {dearShader, cheapShader, noAmbient});
    camera.SetCoords(Coords::LookAt(Vec3(2, 1, 10), Vec3(2, 1, 0), Vec3(0, 1, 0)));

    // As a mesh instance: a pass per face set on its material's shader, its own faces each.
    EXPECT_EQ(instance.GetNumRenderPasses(ambient, engine->GetGenerationId()), 3);
    EXPECT_EQ(ShaderOf(instance, 0), dearShader);
    EXPECT_EQ(ShaderOf(instance, 2), noAmbient);
    EXPECT_EQ(Draw(instance), (std::vector<std::string>{"DrawIndexedPrimitive(0, 0, 0, 8, 6, 3)",
                                                        "DrawIndexedPrimitive(0, 0, 0, 8, 0, 2)"}))
        << "in sort order; the face set without an ambient style is not drawn in it";

    // Ambient only: one pass, on the material shader whose ambient style sorts first, over all six
    // faces from the first index, with the wall transparency set.
    instance.SetAmbientOnly(true);
    instance.SetWallTransparency(0.25f, 0.5f, 0.75f, 1.0f);
    EXPECT_EQ(instance.GetNumRenderPasses(ambient, engine->GetGenerationId()), 1);
    EXPECT_EQ(ShaderOf(instance, 0), cheapShader);
    EXPECT_EQ(ShaderOf(instance, 1), "(none)");
    std::vector<float> walls;
    EXPECT_EQ(Draw(instance, &walls), (std::vector<std::string>{"DrawIndexedPrimitive(0, 0, 0, 8, 0, 6)"}));
    EXPECT_EQ(walls, (std::vector<float>{0.25f, 0.5f, 0.75f, 1.0f}));
    // The instance holds its own reference to that shader while it lives.
    const int held = engine->GetShaderManager()->GetReferenceCount(cheapShader);
    {
        GridWallMeshInstance second(engine.get());
        Load(second, {dearShader, cheapShader, noAmbient});
        second.SetAmbientOnly(true);
        ASSERT_EQ(ShaderOf(second, 0), cheapShader);
        EXPECT_GT(engine->GetShaderManager()->GetReferenceCount(cheapShader), held);
    }
    EXPECT_EQ(engine->GetShaderManager()->GetReferenceCount(cheapShader), held);
}

TEST_F(GridWallMeshInstanceTest, EqualAmbientOrdersGoToTheFirstAndNoAmbientStyleMeansNoPass)
{
    camera.SetCoords(Coords::LookAt(Vec3(2, 1, 10), Vec3(2, 1, 0), Vec3(0, 1, 0)));
    GridWallMeshInstance tie(engine.get());
    Load(tie, {otherCheap, cheapShader});
    tie.SetAmbientOnly(true);
    EXPECT_EQ(ShaderOf(tie, 0), otherCheap);

    GridWallMeshInstance none(engine.get());
    Load(none, {noAmbient});
    none.SetAmbientOnly(true);
    EXPECT_EQ(ShaderOf(none, 0), "(none)");
    EXPECT_TRUE(Draw(none).empty());
    // An override shader still wins.
    none.SetOverrideShader(dearShader);
    EXPECT_EQ(ShaderOf(none, 0), dearShader);
}

} // namespace
} // namespace GAME::SceneRenderTest
