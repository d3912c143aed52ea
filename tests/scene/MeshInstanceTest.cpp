// Mesh instances through the software device: the shader each pass takes, the per-object parameters
// as the device receives them (the bone palette within the device's limit), section fades, dissolve
// timing, boxes, rays, root motion, copies and saved poses; and the mesh's own material parameters,
// blended faces and the readiness of what its materials load.
#include "SceneRenderFixtures.h"

#include "core/Frustum.h"
#include "core/Intersection.h"
#include "core/Ray.h"
#include "data/BinaryReader.h"
#include "data/BinaryWriter.h"
#include "datakit/AnimWriter.h"
#include "datakit/CharacterGenerator.h"
#include "datakit/MeshWriter.h"
#include "datakit/TextureWriter.h"
#include "graphics/RenderTexture.h"
#include "graphics/RenderVertexBuffer.h"
#include "scene/GraphicsAnim.h"
#include "scene/GraphicsMeshInstance.h"

#include <cmath>
#include <string>
#include <vector>

namespace GAME::SceneRenderTest {
namespace {

using DataKit::MeshWriter;
using DataKit::ShaderWriter;

constexpr const char* skinnedMesh = "Meshes/Skinned.msh";
constexpr const char* wideMesh = "Meshes/Wide.msh";
constexpr const char* instShader = "Shaders/Inst.ssh";
constexpr const char* instVariant = "Shaders/InstT.ssh";
constexpr const char* plainShader = "Shaders/Plain.ssh";
constexpr const char* skinTexture = "Textures/Skin.tex";
constexpr uint32_t padding = 4;
constexpr uint32_t declaredBones = 40;

// "ambientLightStyle" at the sort order, drawn by a vertex program that takes "diffuseColor" in
// vc[0], "transparencyValue" in vc[1], "objectToScreenMatrix" in vc[2..5], "tint" in vc[6] and
// 40 "boneMatrix" elements from vc[10]; "baseTexture" on stage 0.
std::vector<uint8_t> InstanceShader(int sortOrder)
{
    ShaderWriter writer;
    for (const char* generation : {"GeForce6", "GeForce3"}) {
        ShaderWriter::Section& s = writer.AddSection(generation);
        const uint32_t diffuse = s.Parameter("diffuseColor", GraphicsShader2::TYPE_FLOAT4);
        const uint32_t transparency = s.Parameter("transparencyValue", GraphicsShader2::TYPE_FLOAT4);
        const uint32_t screen = s.Parameter("objectToScreenMatrix", GraphicsShader2::TYPE_FLOAT4X4);
        const uint32_t tint = s.Parameter("tint", GraphicsShader2::TYPE_FLOAT4);
        const uint32_t bones = s.Parameter("boneMatrix", GraphicsShader2::TYPE_FLOAT4X3, declaredBones);
        const uint32_t base = s.Parameter("baseTexture", GraphicsShader2::TYPE_DEVICE_TEXTURE);
        const uint32_t vertex = s.VertexProgram("mesh", {{0, 1, false, diffuse},
                                                         {1, 1, false, transparency},
                                                         {2, 4, false, screen},
                                                         {6, 1, false, tint},
                                                         {10, 3 * declaredBones, false, bones}});
        const uint32_t pixel = s.PixelProgram("mesh");
        s.Style("ambientLightStyle", sortOrder);
        s.StateFromValue(GraphicsShader2::STATE_VERTEX_SHADER, vertex);
        s.StateFromValue(GraphicsShader2::STATE_PIXEL_SHADER, pixel);
        s.StateFromParameter(GraphicsShader2::STATE_TEXTURE, base, 0);
    }
    return writer.Write();
}

MeshWriter::Vertex Vertex(const Vec3& position, uint8_t bone)
{
    MeshWriter::Vertex v;
    v.position = position;
    v.normal = Vec3(0, 0, 1);
    v.bones[0] = bone;
    return v;
}

MeshWriter::Material InstanceMaterial()
{
    MeshWriter::Material material;
    material.shader = instShader;
    material.parameters = {{"baseTexture", 7, 0, skinTexture, {}}, {"tint", 11, 0, "", {1, 2, 3, 4}}};
    return material;
}

// Two bones (Root, and Arm at (1, 1, 0) from it) and two face sets: the body (section "Body",
// material 0 on the instance shader, palette Root and Arm) and the hand (section
// "NoTransparency", material 1 on a plain shader, palette Arm), with a hit box on each bone.
MeshWriter MakeSkinned(const Coords& rootFrame = Coords())
{
    MeshWriter mesh;
    mesh.SetAttributes({MeshWriter::ATTRIBUTE_POSITION, MeshWriter::ATTRIBUTE_NORMAL,
                        MeshWriter::ATTRIBUTE_TEXCOORD0, MeshWriter::ATTRIBUTE_BONE_WEIGHTS,
                        MeshWriter::ATTRIBUTE_BONE_INDICES},
                       padding);
    for (const Vec3& p : {Vec3(-0.5f, 0, 0), Vec3(0.5f, 0, 0), Vec3(0.5f, 2, 0), Vec3(-0.5f, 2, 0)})
        mesh.AddVertex(Vertex(p, p.y > 1.0f ? 1 : 0));
    for (const Vec3& p : {Vec3(1, 0.5f, 0), Vec3(2, 0.5f, 0), Vec3(2, 1.5f, 0), Vec3(1, 1.5f, 0)})
        mesh.AddVertex(Vertex(p, 0));
    mesh.AddFace(0, 1, 2);
    mesh.AddFace(0, 2, 3);
    mesh.AddFace(4, 5, 6);
    mesh.AddFace(4, 6, 7);
    MeshWriter::FaceSet body;
    body.numFaces = 2;
    body.section = 0;
    body.boxCenter = Vec3(0, 1, 0);
    body.boxExtents = Vec3(0.5f, 1, 0.1f);
    body.bones = {0, 1};
    MeshWriter::FaceSet hand;
    hand.material = 1;
    hand.firstFace = 2;
    hand.numFaces = 2;
    hand.section = 1;
    hand.boxCenter = Vec3(1.5f, 1, 0);
    hand.boxExtents = Vec3(0.5f, 0.5f, 0.1f);
    hand.bones = {1};
    mesh.faceSets = {body, hand};
    mesh.sections = {"Body", "NoTransparency"};
    mesh.bones = {{"Root", 1, 1, rootFrame}, {"Arm", 0, 0, Coords::Translation(Vec3(1, 1, 0))}};
    MeshWriter::Material plain;
    plain.shader = plainShader;
    mesh.materials = {InstanceMaterial(), plain};
    mesh.hitBoxes = {{"Chest", Vec3(0.5f, 1, 0.25f), Coords::Translation(Vec3(0, 1, 0)), 0},
                     {"Hand", Vec3(0.25f, 0.25f, 0.25f), Coords::Translation(Vec3(0.5f, 0, 0)), 1}};
    mesh.hasBoundingBox = true;
    mesh.boundsMin = Vec3(-1, 0, -1);
    mesh.boundsMax = Vec3(2, 2, 1);
    return mesh;
}

// Thirty root bones B0..B29, each the top of a chain of three, so none can be folded into a parent:
// one triangle whose face set's palette is the thirty roots. No hit boxes.
MeshWriter MakeWide()
{
    MeshWriter mesh;
    mesh.SetAttributes({MeshWriter::ATTRIBUTE_POSITION, MeshWriter::ATTRIBUTE_NORMAL,
                        MeshWriter::ATTRIBUTE_TEXCOORD0, MeshWriter::ATTRIBUTE_BONE_WEIGHTS,
                        MeshWriter::ATTRIBUTE_BONE_INDICES},
                       padding);
    mesh.AddVertex(Vertex(Vec3(0, 0, 0), 0));
    mesh.AddVertex(Vertex(Vec3(1, 0, 0), 28));
    mesh.AddVertex(Vertex(Vec3(0, 1, 0), 29));
    mesh.AddFace(0, 1, 2);
    MeshWriter::FaceSet set;
    set.numFaces = 1;
    for (uint32_t r = 0; r < 30; ++r)
        set.bones.push_back(r);
    mesh.faceSets = {set};
    const char* prefixes = "BCDE";
    for (uint32_t level = 0; level < 4; ++level)
        for (uint32_t r = 0; r < 30; ++r)
            mesh.bones.push_back({std::string(1, prefixes[level]) + std::to_string(r),
                                  level < 3 ? 30 * (level + 1) + r : 0u, level < 3 ? 1u : 0u, Coords()});
    mesh.materials = {InstanceMaterial()};
    mesh.hasBoundingBox = true;
    mesh.boundsMin = Vec3(-1, -1, -1);
    mesh.boundsMax = Vec3(1, 1, 1);
    return mesh;
}

void ExpectNear(const Vec3& a, const Vec3& b, float tolerance = 1e-4f)
{
    EXPECT_NEAR(a.x, b.x, tolerance);
    EXPECT_NEAR(a.y, b.y, tolerance);
    EXPECT_NEAR(a.z, b.z, tolerance);
}

void ExpectNear(const Coords& a, const Coords& b)
{
    ExpectNear(a.xAxis, b.xAxis);
    ExpectNear(a.yAxis, b.yAxis);
    ExpectNear(a.zAxis, b.zAxis);
    ExpectNear(a.origin, b.origin);
}

void ExpectBox(const ABBox& box, const Vec3& center, const Vec3& extents)
{
    ExpectNear(box.center, center);
    ExpectNear(box.extents, extents);
}

// Log lines that hold the fragment.
size_t CountLines(const GAME::Test::LogCapture& log, const std::string& fragment)
{
    size_t count = 0;
    for (const std::string& text : log.Texts())
        count += text.find(fragment) != std::string::npos ? 1 : 0;
    return count;
}

// A frustum that holds everything above y = -100 (an empty one holds nothing).
Frustum Everything()
{
    return Frustum({Plane(Vec3(0, 1, 0), 100.0f)});
}

class MeshInstanceTest : public SceneRenderFixture
{
protected:
    void SetUp() override
    {
        SceneRenderFixture::SetUp();
        // The oldest generations skin 24 bones a draw.
        engine->SetGeneration(RENDER_GENERATION_GEFORCE3);
        PutFile(instShader, InstanceShader(1000));
        PutFile(instVariant, InstanceShader(10000));
        PutFile(plainShader, StylesShader({"ambientLightStyle"}));
        PutFile(skinTexture, DataKit::TextureWriter::SolidDds(2, 2, 0xFF808080u));
        PutFile("Textures/Other.tex", DataKit::TextureWriter::SolidDds(2, 2, 0xFF202020u));
        PutFile(skinnedMesh, MakeSkinned().Write(11));
        PutFile(wideMesh, MakeWide().Write(11));
        PutFile(DataKit::CharacterGenerator::propMesh, DataKit::CharacterGenerator::MakeProp().Write(11));
        region = MakeRegion();
    }

    void Drain()
    {
        while (loader->ProcessNextRequest()) {
        }
    }
    // The instance with the mesh, loaded with everything it needs.
    void Load(GraphicsMeshInstance& instance, const char* mesh)
    {
        instance.SetMesh(mesh);
        instance.PreLoad(true);
        Drain();
        ASSERT_TRUE(instance.GetIsReadyToRender());
        instance.UpdateBoundingBox(false);
    }
    std::string ShaderName(const GraphicsShader2* shader) const
    {
        return shader ? shader->GetFileName() : "(null)";
    }
    int References(const char* shader) const { return engine->GetShaderManager()->GetReferenceCount(shader); }

    // Draws every pass of the instance in "ambientLightStyle"; answers the device calls made.
    std::vector<std::string> Draw(GraphicsMeshInstance& instance)
    {
        RecordingRenderer renderer;
        renderer.SetViewer(region, camera, viewport, camera.GetFrustum(viewport));
        renderer.SetRegionToSceneCoords(region, Coords());
        renderer.AddRenderable(&instance, region);
        EXPECT_TRUE(Canvas().BeginFrame());
        Control()->SetRecording(true);
        renderer.RenderStyle(Canvas(), ambient);
        Control()->SetRecording(false);
        worldToScreen = renderer.GetWorldToScreenMatrix();
        constants = Control()->GetVertexShaderConstants();
        Canvas().EndFrame();
        return Control()->TakeRecordedCalls();
    }
    // Vertex constant register r.
    std::vector<float> Register(int r) const
    {
        return std::vector<float>(constants.begin() + 4 * r, constants.begin() + 4 * r + 4);
    }

    const Name ambient = Name::Create("ambientLightStyle");
    const RenderGenerationId generation = RENDER_GENERATION_GEFORCE3;
    Region* region = nullptr;
    Camera camera;
    Viewport viewport = Viewport(0, 0, 320, 240);
    Mat4 worldToScreen;
    std::vector<float> constants;
};

TEST_F(MeshInstanceTest, EachPassTakesTheOverrideTheFadedVariantOrTheMaterialShader)
{
    GraphicsMeshInstance instance(engine.get());
    EXPECT_EQ(instance.GetNumRenderPasses(ambient, generation), 0);
    EXPECT_EQ(instance.GetShader2(0, ambient), nullptr);
    EXPECT_FALSE(instance.GetIsReadyToRender());

    Load(instance, skinnedMesh);
    ASSERT_EQ(instance.GetNumRenderPasses(ambient, generation), 2);
    EXPECT_EQ(ShaderName(instance.GetShader2(0, ambient)), instShader);
    EXPECT_EQ(ShaderName(instance.GetShader2(1, ambient)), plainShader);
    EXPECT_EQ(instance.GetShader2(2, ambient), nullptr);
    EXPECT_EQ(instance.GetRenderPassSortOrder(0, ambient, generation), 1000);
    EXPECT_EQ(instance.GetRenderPassSortOrder(1, ambient, generation), 0);
    EXPECT_EQ(instance.GetRenderPassSortOrder(0, Name::Create("fogStyle"), generation), 0);
    EXPECT_EQ(instance.GetRenderPassSortOrder(2, ambient, generation), 0);
    EXPECT_EQ(&instance.GetShaderStyle(0, ambient, generation), &ambient);
    // The material's "baseTexture" was kept: its shader declares one.
    const GraphicsTexture* skin = instance.GetTexture(0, ambient);
    ASSERT_NE(skin, nullptr);
    EXPECT_STREQ(skin->GetFileName(), skinTexture);
    EXPECT_EQ(instance.GetTexture(1, ambient), nullptr);
    EXPECT_EQ(instance.GetOpacity(0, ambient), 1.0f);

    // A fading section draws with the material's "T" variant, in the transparent band; the
    // "NoTransparency" section never fades.
    instance.SetTransparency(Everything());
    instance.UpdateSectionOpacities(375, 0.2f);
    EXPECT_FLOAT_EQ(instance.GetOpacity(0, ambient), 0.5f);
    EXPECT_EQ(instance.GetOpacity(1, ambient), 1.0f);
    EXPECT_EQ(ShaderName(instance.GetShader2(0, ambient)), instVariant);
    EXPECT_EQ(instance.GetRenderPassSortOrder(0, ambient, generation), 10000);
    EXPECT_EQ(ShaderName(instance.GetShader2(1, ambient)), plainShader);

    // An override serves every pass; a base texture override every pass's texture.
    instance.SetOverrideShader(plainShader);
    EXPECT_EQ(ShaderName(instance.GetShader2(0, ambient)), plainShader);
    EXPECT_EQ(ShaderName(instance.GetShader2(1, ambient)), plainShader);
    instance.SetBaseTexture("Textures/Other.tex");
    EXPECT_FALSE(instance.GetIsReadyToRender()) << "the new texture is not loaded yet";
    instance.PreLoad(true);
    Drain();
    EXPECT_TRUE(instance.GetIsReadyToRender());
    EXPECT_STREQ(instance.GetTexture(1, ambient)->GetFileName(), "Textures/Other.tex");
    instance.SetOverrideShader(nullptr);
    EXPECT_EQ(ShaderName(instance.GetShader2(1, ambient)), plainShader);
}

TEST_F(MeshInstanceTest, ParametersReachTheDeviceAndTheBonePaletteStaysWithinItsLimit)
{
    GraphicsMeshInstance instance(engine.get());
    Load(instance, wideMesh);
    ASSERT_EQ(instance.GetMesh()->GetFaceSet(0).bones.size(), 30u) << "roots of chains cannot be folded";
    SkeletalPose pose;
    for (int r = 0; r < 30; ++r)
        pose.SetBoneCoords(Name::Create(std::string("B").append(std::to_string(r)).c_str()),
                           Coords::Translation(Vec3(float(r + 1), 0, 0)));
    instance.SetSkeletalPose(pose);
    instance.PrepareForRendering();
    ASSERT_EQ(instance.GetSkinningFrames().size(), 120u);
    instance.SetDiffuseColor(Color(0.2f, 0.4f, 0.6f, 1.0f));
    instance.SetHighlight(0.3f);
    instance.SetTransparency(Everything());
    instance.UpdateSectionOpacities(375, 0.0f); // the one section at one half
    const Coords placement(Vec3(0, 0, 1), Vec3(0, 1, 0), Vec3(-1, 0, 0), Vec3(1, 2, 3));
    instance.SetObjectToRegionCoords(placement);
    instance.SetScale(2.0f);

    const std::vector<std::string> calls = Draw(instance);
    EXPECT_EQ(Matching(calls, "DrawIndexedPrimitive"),
              std::vector<std::string>{"DrawIndexedPrimitive(0, 0, 0, 3, 0, 1)"});
    // The stream steps over the file's whole vertex, padding included.
    const uint32_t stride = MakeWide().stride;
    const std::vector<std::string> streams = Matching(calls, "SetStreamSource(0, ");
    ASSERT_EQ(streams.size(), 1u);
    EXPECT_NE(streams[0].find(", 0, " + std::to_string(stride) + ")"), std::string::npos) << streams[0];

    // Half the tint with the highlight; the opacity and its curve (1/255 at one half).
    const std::vector<float> diffuse = Register(0);
    EXPECT_FLOAT_EQ(diffuse[0], 0.1f);
    EXPECT_FLOAT_EQ(diffuse[1], 0.2f);
    EXPECT_FLOAT_EQ(diffuse[2], 0.3f);
    EXPECT_FLOAT_EQ(diffuse[3], 0.3f);
    const std::vector<float> transparency = Register(1);
    EXPECT_NEAR(transparency[0], 1.0f / 255.0f, 1e-5f);
    EXPECT_FLOAT_EQ(transparency[2], 0.5f);
    EXPECT_EQ(transparency[3], transparency[0]);
    // The material's own parameter and texture.
    EXPECT_EQ(Register(6), (std::vector<float>{1, 2, 3, 4}));
    // The shader's "baseTexture" has no default: only the material sets stage 0 for the draw.
    const std::vector<std::string> stage0 = Matching(calls, "SetTexture(0, ");
    ASSERT_GE(stage0.size(), 2u);
    EXPECT_EQ(stage0[stage0.size() - 2].find("SetTexture(0, texture#"), 0u) << stage0[stage0.size() - 2];
    EXPECT_EQ(stage0.back(), "SetTexture(0, null)") << "restored when the shader ends";
    // Object to screen: the view times the placement with its axes scaled.
    Coords scaled = placement;
    scaled.xAxis = scaled.xAxis * 2.0f;
    scaled.yAxis = scaled.yAxis * 2.0f;
    scaled.zAxis = scaled.zAxis * 2.0f;
    const Mat4 expected = worldToScreen * Mat4(scaled);
    for (int i = 0; i < 16; ++i)
        EXPECT_NEAR(constants[8 + i], expected.m[i], 1e-4f) << i;

    // Palette entry k holds the skinning frame of root k (a translation by k + 1), for the 24 bones
    // the device skins a draw; the shader's room for 40 is not used past them.
    for (int k = 0; k < 24; ++k) {
        const std::vector<float> row = Register(10 + 3 * k);
        EXPECT_EQ(row, (std::vector<float>{1, 0, 0, float(k + 1)})) << k;
    }
    for (int k = 24; k < 30; ++k)
        EXPECT_EQ(Register(10 + 3 * k), (std::vector<float>{0, 0, 0, 0})) << k;
    EXPECT_TRUE(
        log.Contains("Mesh 'Meshes/Wide.msh' face set 0 skins with 30 bones; the device takes 24 a draw", 1));
    Draw(instance);
    EXPECT_EQ(CountLines(log, "skins with 30 bones"), 1u) << "reported once per instance";
}

TEST_F(MeshInstanceTest, AtMediumDetailA27BonePaletteFoldsToTheBonesTheEngineSkins)
{
    // A GeForce6 runs the programs of the oldest generation below high detail: 24 bones a draw.
    Control()->SetGenerationId(RENDER_GENERATION_GEFORCE6);
    options.SetQuality(Options::QUALITY_DETAIL_LEVEL, Options::QUALITY_MEDIUM);
    engine->UpdateFromOptions();
    ASSERT_EQ(engine->GetGenerationId(), RENDER_GENERATION_GEFORCE3);
    ASSERT_EQ(engine->GetMaxNumBones(), 24);

    // Roots R0..R23, and leaves L0..L2 under R0..R2; one vertex on each of the 27 bones, all in
    // one face set whose palette is every bone.
    MeshWriter mesh;
    mesh.SetAttributes({MeshWriter::ATTRIBUTE_POSITION, MeshWriter::ATTRIBUTE_NORMAL,
                        MeshWriter::ATTRIBUTE_TEXCOORD0, MeshWriter::ATTRIBUTE_BONE_WEIGHTS,
                        MeshWriter::ATTRIBUTE_BONE_INDICES},
                       padding);
    MeshWriter::FaceSet set;
    for (uint32_t b = 0; b < 27; ++b) {
        mesh.AddVertex(Vertex(Vec3(float(b), float(b % 2), 0), uint8_t(b)));
        set.bones.push_back(b);
        if (b < 24)
            mesh.bones.push_back({"R" + std::to_string(b), b < 3 ? 24 + b : 0u, b < 3 ? 1u : 0u, Coords()});
    }
    for (uint32_t l = 0; l < 3; ++l)
        mesh.bones.push_back({"L" + std::to_string(l), 0, 0, Coords::Translation(Vec3(0, 1, 0))});
    for (uint32_t k = 0; k + 2 < 27; ++k)
        mesh.AddFace(k, k + 1, k + 2);
    set.numFaces = 25;
    mesh.faceSets = {set};
    mesh.materials = {InstanceMaterial()};
    mesh.hasBoundingBox = true;
    mesh.boundsMin = Vec3(-1, -1, -1);
    mesh.boundsMax = Vec3(27, 2, 1);
    PutFile("Meshes/TwentySeven.msh", mesh.Write(11));

    GraphicsMeshInstance instance(engine.get());
    Load(instance, "Meshes/TwentySeven.msh");
    EXPECT_EQ(instance.GetMesh()->GetFaceSet(0).bones.size(), 24u)
        << "the three leaves fold into their roots";
    // Each root a different place; the leaves keep their bind pose, so they move with their roots.
    SkeletalPose pose;
    for (int r = 0; r < 24; ++r) {
        // Appended rather than concatenated: GCC 12 warns falsely (-Wrestrict) otherwise.
        std::string bone = "R";
        bone += std::to_string(r);
        pose.SetBoneCoords(Name::Create(bone.c_str()),
                           Coords::Translation(Vec3(float(r + 1), 0.5f * float(r), -float(r))));
    }
    instance.SetSkeletalPose(pose);
    instance.PrepareForRendering();
    const std::vector<Coords> frames = instance.GetSkinningFrames();
    ASSERT_EQ(frames.size(), 27u);
    Draw(instance);
    EXPECT_EQ(CountLines(log, "skins with"), 0u);

    // Every vertex is skinned by the matrix of the bone it was made on.
    std::vector<uint8_t> vertices;
    if (RenderVertexBuffer* buffer = instance.GetMesh()->GetVertexBuffer()) {
        const auto* data = static_cast<const uint8_t*>(buffer->Lock());
        vertices.assign(data, data + buffer->GetSize());
        buffer->Unlock();
    }
    ASSERT_EQ(vertices.size(), size_t(27) * mesh.stride);
    const size_t boneBytes = size_t(mesh.AttributeOffset(MeshWriter::ATTRIBUTE_BONE_INDICES));
    for (uint32_t v = 0; v < 27; ++v) {
        SCOPED_TRACE(v);
        const uint8_t entry = vertices[v * mesh.stride + boneBytes];
        ASSERT_LT(entry, 24);
        const Coords& frame = frames[v];
        const float rows[3][4] = {{frame.xAxis.x, frame.yAxis.x, frame.zAxis.x, frame.origin.x},
                                  {frame.xAxis.y, frame.yAxis.y, frame.zAxis.y, frame.origin.y},
                                  {frame.xAxis.z, frame.yAxis.z, frame.zAxis.z, frame.origin.z}};
        for (int r = 0; r < 3; ++r) {
            const std::vector<float> row = Register(10 + 3 * entry + r);
            for (int c = 0; c < 4; ++c)
                EXPECT_NEAR(row[size_t(c)], rows[r][c], 1e-4f) << r << "," << c;
        }
    }
    // The leaves' vertices take their roots' matrices, which are not the identity.
    EXPECT_NEAR(frames[24].origin.x, 1.0f, 1e-4f);
    EXPECT_NEAR(frames[26].origin.z, -2.0f, 1e-4f);
}

TEST_F(MeshInstanceTest, SectionsFadeAtTheirRateAndAnInvisibleSectionIsNotDrawn)
{
    GraphicsMeshInstance instance(engine.get());
    Load(instance, skinnedMesh);
    EXPECT_EQ(instance.GetNumSections(), 0) << "entries come with the first transparency test";
    instance.SetSectionOpacity(0.0f, 0); // ignored: no entry yet
    instance.SetTransparency(Frustum());
    ASSERT_EQ(instance.GetNumSections(), 2);
    instance.UpdateSectionOpacities(300, 0.25f);
    EXPECT_EQ(instance.GetSectionOpacity(0), 1.0f) << "an empty frustum flags nothing";

    instance.SetTransparency(Everything());
    instance.SetTransparency(Everything()); // a second test in the same frame changes nothing
    instance.UpdateSectionOpacities(300, 0.25f);
    EXPECT_NEAR(instance.GetSectionOpacity(0), 0.6f, 1e-5f);
    EXPECT_EQ(instance.GetSectionOpacity(1), 1.0f);
    instance.SetTransparency(Everything());
    instance.UpdateSectionOpacities(600, 0.25f);
    EXPECT_FLOAT_EQ(instance.GetSectionOpacity(0), 0.25f) << "not below the minimum";
    instance.UpdateSectionOpacities(150, 0.25f); // flags were cleared: back up
    EXPECT_NEAR(instance.GetSectionOpacity(0), 0.45f, 1e-5f);
    instance.UpdateSectionOpacities(1000, 0.25f);
    EXPECT_EQ(instance.GetSectionOpacity(0), 1.0f);

    // A section at opacity 0 is queued but draws nothing; the other one draws its faces.
    instance.SetSectionOpacity(0.0f, 0);
    instance.SetSectionOpacity(0.5f, 7); // no such section: ignored
    instance.PrepareForRendering();
    EXPECT_EQ(Matching(Draw(instance), "DrawIndexedPrimitive"),
              std::vector<std::string>{"DrawIndexedPrimitive(0, 0, 0, 8, 6, 2)"});
    instance.SetSectionOpacity(1.0f, 0);
    EXPECT_EQ(Matching(Draw(instance), "DrawIndexedPrimitive").size(), 2u);

    // Without a mesh: no passes, nothing drawn.
    instance.SetMesh(static_cast<const char*>(nullptr));
    EXPECT_EQ(instance.GetNumRenderPasses(ambient, generation), 0);
    EXPECT_TRUE(Matching(Draw(instance), "DrawIndexedPrimitive").empty());
}

TEST_F(MeshInstanceTest, DissolvesRunForTheirDurationAndAZeroDurationEndsAtOnce)
{
    const char* skinnedDissolve = GraphicsMeshInstance::dissolveSkinnedShaderName;
    GraphicsMeshInstance instance(engine.get());
    Load(instance, skinnedMesh);
    instance.BeginDissolve(255, 51, 0, 2.0f, "Textures/Noise.tex");
    EXPECT_EQ(instance.GetDissolveDuration(), 2000);
    EXPECT_EQ(ShaderName(instance.GetOverrideShader()), skinnedDissolve);
    ASSERT_NE(instance.GetDissolveTexture(), nullptr);
    Vec3 motion(1, 1, 1);
    instance.Update(500, motion, false);
    EXPECT_EQ(motion, Vec3()) << "no animation: no motion";
    EXPECT_FLOAT_EQ(instance.GetDissolveParam(), 0.25f);
    instance.Update(1000, motion, false);
    EXPECT_FLOAT_EQ(instance.GetDissolveParam(), 0.75f);
    EXPECT_FALSE(instance.GetIsDissolved());
    instance.Update(600, motion, false);
    EXPECT_TRUE(instance.GetIsDissolved());
    EXPECT_EQ(instance.GetDissolveParam(), 1.0f);
    EXPECT_FALSE(instance.GetIsDissolving());
    EXPECT_EQ(instance.GetOverrideShader(), nullptr);
    EXPECT_EQ(References(skinnedDissolve), 0) << "the override was given back";

    instance.BeginUnDissolve(0, 0, 0, 1.0f, "Textures/Noise.tex");
    EXPECT_FALSE(instance.GetIsDissolved());
    EXPECT_EQ(instance.GetDissolveParam(), 1.0f);
    instance.Update(250, motion, false);
    EXPECT_FLOAT_EQ(instance.GetDissolveParam(), 0.75f);
    instance.Update(1000, motion, false);
    EXPECT_EQ(instance.GetDissolveParam(), 0.0f);
    EXPECT_FALSE(instance.GetIsUndissolving());
    EXPECT_EQ(instance.GetOverrideShader(), nullptr);

    // No duration: over at the first update, even one of no time (0 / 0 has no value).
    instance.BeginDissolve(255, 255, 255, 0.0f, "Textures/Noise.tex");
    instance.Update(0, motion, false);
    EXPECT_TRUE(instance.GetIsDissolved());
    EXPECT_EQ(instance.GetDissolveParam(), 1.0f);
    instance.BeginUnDissolve(255, 255, 255, -3.0f, "Textures/Noise.tex");
    EXPECT_EQ(instance.GetDissolveDuration(), 0);
    instance.Update(0, motion, false);
    EXPECT_EQ(instance.GetDissolveParam(), 0.0f);
    EXPECT_FALSE(instance.GetIsUndissolving());
    EXPECT_FALSE(std::isnan(instance.GetDissolveParam()));

    // A mesh without bones dissolves with the static shader.
    GraphicsMeshInstance prop(engine.get());
    Load(prop, DataKit::CharacterGenerator::propMesh);
    prop.BeginDissolve(0, 0, 0, 1.0f, "Textures/Noise.tex");
    EXPECT_EQ(ShaderName(prop.GetOverrideShader()), GraphicsMeshInstance::dissolveStaticShaderName);
}

TEST_F(MeshInstanceTest, BoxesFollowTheLoadThePoseTheScaleAndThePlacement)
{
    GraphicsMeshInstance instance(engine.get());
    instance.SetUnloadedBoundingBoxExtents(2.0f);
    instance.SetScale(3.0f);
    instance.SetObjectToRegionCoords(Coords::Translation(Vec3(10, 0, 0)));
    instance.SetMesh(skinnedMesh);
    // Not loaded yet: the cube, scaled.
    EXPECT_EQ(instance.GetObjectSpaceBoundingBox(), ABBox(Vec3(), Vec3(6, 6, 6)));
    EXPECT_EQ(instance.GetRegionSpaceBoundingBox().coords.origin, Vec3(10, 0, 0));

    instance.PreLoad(false);
    Drain();
    instance.UpdateBoundingBox(false);
    // Around the posed hit boxes: the chest about (0, 1, 0), the hand about (1.5, 1, 0).
    ExpectBox(instance.GetObjectSpaceBoundingBox(), Vec3(0.625f, 1, 0) * 3.0f, Vec3(1.125f, 1, 0.25f) * 3.0f);
    const Coords placement(Vec3(0, 0, -1), Vec3(0, 1, 0), Vec3(1, 0, 0), Vec3(10, 0, 0)); // a quarter turn
    instance.SetObjectToRegionCoords(placement);
    const OBBox& region = instance.GetRegionSpaceBoundingBox();
    ExpectNear(region.coords.origin, placement.TransformPoint(Vec3(1.875f, 3, 0)));
    ExpectNear(region.coords.xAxis, placement.xAxis);
    const ABBox around = instance.GetRenderPassBoundingBox();
    ExpectNear(around.center, region.coords.origin);
    ExpectNear(around.extents, Vec3(0.75f, 3, 3.375f));

    // The pose moves the hand up by 2: the box follows on the next pose update.
    SkeletalPose pose;
    pose.SetBoneCoords(Name::Create("Arm"), Coords::Translation(Vec3(0, 2, 0)));
    instance.SetSkeletalPose(pose);
    instance.SetScale(1.0f);
    instance.UpdatePose(nullptr, false);
    ExpectBox(instance.GetObjectSpaceBoundingBox(), Vec3(0.625f, 1.625f, 0), Vec3(1.125f, 1.625f, 0.25f));

    // Without bones the mesh's own box.
    GraphicsMeshInstance prop(engine.get());
    prop.SetScale(2.0f);
    Load(prop, DataKit::CharacterGenerator::propMesh);
    ExpectBox(prop.GetObjectSpaceBoundingBox(), Vec3(0, 1, 0), Vec3(1, 1, 1));
}

TEST_F(MeshInstanceTest, RaysMeetTheCollisionMeshThePosedHitBoxesOrTheMeshBoxAtScale)
{
    // The crate's collision mesh (wood, top at y = 1), met where the scaled crate is drawn.
    GraphicsMeshInstance prop(engine.get());
    Load(prop, DataKit::CharacterGenerator::propMesh);
    const Ray down(Vec3(0.2f, 5, 0.1f), Vec3(0, -1, 0));
    Intersection hit;
    prop.GetIntersection(down, hit, 0);
    EXPECT_FLOAT_EQ(hit.distance, 4.0f);
    EXPECT_EQ(hit.surface, uint32_t(PHYSICS_SURFACE_WOOD));
    prop.SetScale(2.0f);
    prop.GetIntersection(down, hit, 0);
    EXPECT_FLOAT_EQ(hit.distance, 3.0f);
    ExpectNear(hit.point, Vec3(0.2f, 2, 0.1f));

    GraphicsMeshInstance body(engine.get());
    Load(body, skinnedMesh);
    const Ray ahead(Vec3(0, 1, 5), Vec3(0, 0, -1));
    body.GetIntersection(ahead, hit, 0);
    EXPECT_EQ(hit.distance, gInfinity) << "surface 0 meets no hit box";
    body.GetIntersection(ahead, hit, 1);
    EXPECT_FLOAT_EQ(hit.distance, 4.75f); // the chest's front at z = 0.25
    EXPECT_EQ(hit.surface, 0u);
    ExpectNear(hit.point, Vec3(0, 1, 0.25f));
    // Posed: the root steps back by 2.
    SkeletalPose pose;
    pose.SetBoneCoords(Name::Create("Root"), Coords::Translation(Vec3(0, 0, -2)));
    body.SetSkeletalPose(pose);
    body.GetIntersection(ahead, hit, 1);
    EXPECT_FLOAT_EQ(hit.distance, 6.75f);
    body.SetScale(2.0f);
    body.GetIntersection(ahead, hit, 1);
    EXPECT_FLOAT_EQ(hit.distance, 8.5f); // the chest, twice the size, about (0, 2, -4)
    Intersection miss;
    miss.point = Vec3(7, 7, 7);
    body.GetIntersection(Ray(Vec3(10, 1, 5), Vec3(0, 0, -1)), miss, 1);
    EXPECT_EQ(miss.distance, gInfinity);
    EXPECT_EQ(miss.point, Vec3(7, 7, 7));

    // No hit boxes and no collision mesh: the mesh's box, scaled.
    GraphicsMeshInstance wide(engine.get());
    Load(wide, wideMesh);
    wide.SetScale(2.0f);
    wide.GetIntersection(Ray(Vec3(0, 0, 5), Vec3(0, 0, -1)), hit, 1);
    EXPECT_FLOAT_EQ(hit.distance, 3.0f);
}

TEST_F(MeshInstanceTest, RootMotionTurnsWithTheRootBindFrameAndScales)
{
    // The root's bind frame turns +Z to +X.
    PutFile("Meshes/Turned.msh",
            MakeSkinned(Coords(Vec3(0, 0, -1), Vec3(0, 1, 0), Vec3(1, 0, 0), Vec3())).Write(11));
    DataKit::AnimWriter writer;
    writer.frameRate = 10;
    DataKit::AnimWriter::Track root{"Root", {}};
    for (int f = 0; f < 11; ++f) {
        DataKit::AnimWriter::Key key;
        key.t = Vec3(0, 0, 0.1f * float(f)); // 1 unit a second along +Z
        root.keys.push_back(key);
    }
    writer.tracks = {root};
    PutFile("Anims/Walk.anm", writer.Write(2));
    GraphicsAnim* walk = engine->LoadAnimation("Anims/Walk.anm");
    ASSERT_NE(walk, nullptr);
    walk->EnsureAvailable();

    GraphicsMeshInstance instance(engine.get());
    Load(instance, "Meshes/Turned.msh");
    instance.SetScale(2.0f);
    EXPECT_TRUE(instance.IsAnimationValid());
    EXPECT_FALSE(instance.GetIsPlayingAnimation());
    instance.GetAnimChannel(0)->PlayAnimation(walk, true, 1.0f, 0);
    EXPECT_EQ(instance.GetAnimChannel(1), nullptr);
    EXPECT_TRUE(instance.GetIsPlayingAnimation());
    EXPECT_FALSE(instance.IsAnimationValid()) << "playing, but no pose written yet";
    Vec3 motion;
    instance.Update(100, motion, false);
    instance.Update(200, motion, false);
    ExpectNear(motion, Vec3(2, 0, 0), 1e-3f);
    EXPECT_TRUE(instance.IsAnimationValid());
    ExpectNear(instance.GetSkeletalPose().GetBoneCoords(Name::Create("Root")).origin, Vec3());
    engine->UnloadAnimation(walk);
}

TEST_F(MeshInstanceTest, CopiesHoldTheirOwnReferencesAndPosesSurviveTheirStoredForm)
{
    auto meshes = [&] { return engine->GetMeshManager()->GetReferenceCount(skinnedMesh); };
    auto textures = [&] { return engine->GetTextureManager()->GetReferenceCount("Textures/Other.tex"); };
    SkeletalPose pose;
    pose.SetBoneCoords(Name::Create("Arm"), Coords::Translation(Vec3(0.5f, 0.25f, 0)));
    {
        GraphicsMeshInstance instance(engine.get());
        Load(instance, skinnedMesh);
        instance.SetBaseTexture("Textures/Other.tex");
        instance.SetOverrideShader(plainShader);
        instance.SetSkeletalPose(pose);
        instance.SetScale(1.5f);
        const int shaders = References(plainShader);
        {
            GraphicsMeshInstance copy(instance);
            EXPECT_EQ(meshes(), 2);
            EXPECT_EQ(textures(), 2);
            EXPECT_EQ(References(plainShader), shaders + 1);
            EXPECT_EQ(copy.GetMesh(), instance.GetMesh());
            EXPECT_EQ(copy.GetScale(), 1.5f);
            GraphicsMeshInstance other(engine.get());
            other = copy;
            const GraphicsMeshInstance& same = other;
            other = same; // to itself: nothing is released
            EXPECT_EQ(meshes(), 3);
        }
        EXPECT_EQ(meshes(), 1);
        EXPECT_EQ(textures(), 1);
        EXPECT_EQ(References(plainShader), shaders);

        BinaryWriter writer(64);
        instance.SaveState(writer);
        GraphicsMeshInstance restored(engine.get());
        BinaryReader reader(writer.GetBuffer(), writer.GetSize());
        EXPECT_TRUE(restored.RestoreState(reader));
        ExpectNear(restored.GetSkeletalPose().GetBoneCoords(Name::Create("Arm")).origin,
                   Vec3(0.5f, 0.25f, 0));
        BinaryReader cut(writer.GetBuffer(), writer.GetSize() - 4);
        EXPECT_FALSE(restored.RestoreState(cut));

        // The pose given as object-space frames comes back as the same frames.
        const GraphicsMesh* mesh = instance.GetMesh();
        SkeletalPose objectSpace;
        for (const char* bone : {"Root", "Arm"})
            objectSpace.SetBoneCoords(Name::Create(bone), mesh->GetAbsCoords(pose, Name::Create(bone)));
        instance.SetSkeletalPose(SkeletalPose());
        instance.SetPoseFromObjectSpace(objectSpace);
        ExpectNear(mesh->GetAbsCoords(instance.GetSkeletalPose(), Name::Create("Arm")),
                   mesh->GetAbsCoords(pose, Name::Create("Arm")));
    }
    EXPECT_EQ(meshes(), 0);
    EXPECT_EQ(textures(), 0);
}

TEST_F(MeshInstanceTest, RestoredStateIsReadIntoThePoseTheInstanceHas)
{
    GraphicsMeshInstance instance(engine.get());
    Load(instance, skinnedMesh);
    const Name root = Name::Create("Root"), arm = Name::Create("Arm");
    SkeletalPose pose;
    pose.SetBoneCoords(root, Coords::Translation(Vec3(0, 2, 0)));
    pose.SetBoneCoords(arm, Coords::Translation(Vec3(0.5f, 0, 0)));
    instance.SetSkeletalPose(pose);

    // A saved state that names only the arm, moved.
    SkeletalPose saved;
    saved.SetBoneCoords(arm, Coords::Translation(Vec3(0, 0, 3)));
    BinaryWriter writer(64);
    saved.WriteData(writer, false);
    BinaryReader reader(writer.GetBuffer(), writer.GetSize());
    ASSERT_TRUE(instance.RestoreState(reader));
    EXPECT_EQ(instance.GetSkeletalPose().GetNumBones(), 2);
    ExpectNear(instance.GetSkeletalPose().GetBoneCoords(root).origin, Vec3(0, 2, 0));
    ExpectNear(instance.GetSkeletalPose().GetBoneCoords(arm).origin, Vec3(0, 0, 3));
    // The skinning follows: the root keeps its place, the arm goes where the state put it.
    instance.UpdatePose(nullptr, true);
    ExpectNear(instance.GetSkinningFrames()[0].origin, Vec3(0, 2, 0));
}

TEST_F(MeshInstanceTest, AMeshIsReadyOnceItsShadersAndTexturesAreAndDrawsItsBlendedFaces)
{
    MeshWriter writer = MakeSkinned();
    writer.blendedIndices = {0, 1, 2, 4, 5, 6};
    PutFile("Meshes/Blended.msh", writer.Write(11));
    GraphicsMesh* mesh = engine->LoadMesh("Meshes/Blended.msh");
    ASSERT_NE(mesh, nullptr);
    mesh->EnsureAvailable(); // loaded on the spot: nothing of its materials is queued
    ASSERT_EQ(mesh->GetTextures().size(), 1u);
    EXPECT_FALSE(mesh->GetIsReadyToUse()) << "the skin texture is not loaded";
    EXPECT_GT(loader->GetQueueCount(RESOURCE_PRIORITY_HIGH), 0u) << "what was missing is queued";
    Drain();
    EXPECT_TRUE(mesh->GetIsReadyToUse());
    // Unloaded dependents are queued again by the preload.
    mesh->GetTextures()[0]->Unload();
    EXPECT_FALSE(mesh->GetIsReadyToUse());
    Drain();
    mesh->GetTextures()[0]->Unload();
    mesh->PreLoadDependentResources();
    EXPECT_EQ(loader->GetQueueCount(RESOURCE_PRIORITY_HIGH), 1u);
    Drain();

    GraphicsShader2* shader = engine->LoadShader2(instShader);
    ASSERT_TRUE(Canvas().BeginFrame());
    ASSERT_TRUE(shader->Begin(0));
    mesh->SetShaderParameters(shader, 0);
    Control()->SetRecording(true);
    mesh->RenderBlendedFaces(engine->GetRenderDevice(), shader);
    Control()->SetRecording(false);
    const std::vector<float> registers = Control()->GetVertexShaderConstants();
    EXPECT_EQ(std::vector<float>(registers.begin() + 24, registers.begin() + 28),
              (std::vector<float>{1, 2, 3, 4}));
    shader->End();
    Canvas().EndFrame();
    const std::vector<std::string> calls = Control()->TakeRecordedCalls();
    EXPECT_EQ(Matching(calls, "DrawIndexedPrimitive"),
              std::vector<std::string>{"DrawIndexedPrimitive(0, 0, 0, 8, 0, 2)"});
    EXPECT_EQ(Matching(calls, "SetStreamSource(0, ").size(), 1u);
    engine->UnloadShader2(shader);
    engine->UnloadMesh(mesh);
}

} // namespace
} // namespace GAME::SceneRenderTest
