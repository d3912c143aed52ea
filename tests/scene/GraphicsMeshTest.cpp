#include "SceneFixtures.h"

#include "core/Ray.h"
#include "data/BinaryReader.h"
#include "data/BinaryWriter.h"
#include "datakit/MeshWriter.h"
#include "graphics/RenderIndexBuffer.h"
#include "navigation/PhysicsMesh.h"
#include "scene/SkeletalPose.h"

#include <cmath>
#include <cstring>
#include <string>

namespace GAME::SceneTest {
namespace {

using DataKit::MeshWriter;
using Software::Failure;
using Software::ResourceKind;

constexpr uint32_t noBone = 0xFFFFFFFFu;

MeshWriter::Vertex SkinnedVertex(const Vec3& position, uint8_t bone0, uint8_t bone1 = 0)
{
    MeshWriter::Vertex v;
    v.position = position;
    v.normal = Vec3(0, 1, 0);
    v.bones[0] = bone0;
    v.bones[1] = bone1;
    v.weights[0] = 0.75f;
    v.weights[1] = 0.25f;
    return v;
}

// A little of everything: four skinned vertices, two faces in two face sets, a three-bone chain,
// one material with a parameter of each kind, hit boxes (one bad, one naming a bone past the
// count), contours (one of a single point), portals, blended faces, sections, both texts and a
// collision mesh.
MeshWriter MakeEverything()
{
    MeshWriter mesh;
    mesh.SetAttributes({MeshWriter::ATTRIBUTE_POSITION, MeshWriter::ATTRIBUTE_NORMAL,
                        MeshWriter::ATTRIBUTE_TEXCOORD0, MeshWriter::ATTRIBUTE_BONE_WEIGHTS,
                        MeshWriter::ATTRIBUTE_BONE_INDICES});
    mesh.AddVertex(SkinnedVertex(Vec3(0, 0, 0), 0));
    mesh.AddVertex(SkinnedVertex(Vec3(1, 0, 0), 1, 0));
    mesh.AddVertex(SkinnedVertex(Vec3(1, 1, 0), 1));
    mesh.AddVertex(SkinnedVertex(Vec3(0, 1, 0), 0));
    mesh.AddFace(0, 1, 2);
    mesh.AddFace(0, 2, 3);
    MeshWriter::FaceSet first;
    first.numFaces = 1;
    first.bones = {0, 1};
    first.section = 1;
    first.boxCenter = Vec3(0.5f, 0.25f, 0);
    first.boxExtents = Vec3(0.5f, 0.25f, 0.1f);
    MeshWriter::FaceSet second = first;
    second.firstFace = 1;
    second.bones = {2, 1};
    second.section = 0;
    mesh.faceSets = {first, second};

    MeshWriter::Bone root{"Root", 1, 1, Coords::Translation(Vec3(0, 1, 0))};
    MeshWriter::Bone arm{"Arm", 2, 1, Coords::Translation(Vec3(1, 0, 0))};
    MeshWriter::Bone hand{"Hand", 0, 0, Coords::Translation(Vec3(0, 0, 2))};
    mesh.bones = {root, arm, hand};

    MeshWriter::Material material;
    material.shader = "Shaders/Skinned.ssh";
    material.parameters = {
        {"count", 0, 42, "", {}},
        {"enabled", 1, 7, "", {}},
        {"label", 2, 0, "dropped", {}},
        {"frame", 3, 0, "", std::vector<float>(12, 0.5f)},
        {"matrix", 4, 0, "", std::vector<float>(16, 0.25f)},
        {"baseTexture", 7, 0, "Textures/Base.tex", {}},
        {"offset", 8, 0, "", {1, 2}},
        {"tint", 9, 0, "", {1, 2, 3}},
        {"gloss", 10, 0, "", {0.5f}},
        {"color", 11, 0, "", {1, 2, 3, 4}},
    };
    mesh.materials = {material};

    mesh.hitBoxes = {
        {"Chest", Vec3(0.5f, 1, 0.25f), Coords::Translation(Vec3(0, 0.5f, 0)), 1},
        {"Broken", Vec3(NAN, 1, 1), Coords(), noBone},
        {"Loose", Vec3(1, 1, 1), Coords(Vec3(2, 0, 0), Vec3(0, 3, 0), Vec3(0, 0, 4), Vec3()), 7}};
    mesh.contours = {
        {{Vec3(0, 0, 0), Vec3(0, 1, 0)}, {Vec3(2, 0, 0), Vec3(0, 1, 0)}, {Vec3(2, 0, 2), Vec3(0, 1, 0)}},
        {{Vec3(5, 5, 5), Vec3(0, 1, 0)}}};
    mesh.portals = {{{Vec3(1, 2, 3), Vec3(4, 5, 6), Vec3(7, 8, 9)}}};
    mesh.hasBoundingBox = true;
    mesh.boundsMin = Vec3(-1, 0, -1);
    mesh.boundsMax = Vec3(1, 2, 3);
    mesh.blendedIndices = {3, 2, 1};
    mesh.sections = {"Body", "NoTransparency"};
    mesh.text = "host notes";
    mesh.modelText = "AttachPoint { name = \"Grip\" parent = \"Hand\" origin = (0, 0, 1) }\n"
                     "CreateEntity { entity = \"records/spark.dbr\" attach = \"Grip\" }\n";
    mesh.physicsMesh = MeshWriter::PhysicsMeshBytes({Vec3(0, 0, 0), Vec3(1, 0, 0), Vec3(0, 0, 1)},
                                                    {{{0, 1, 2}, PHYSICS_SURFACE_STONE}});
    return mesh;
}

class GraphicsMeshTest : public SceneFixture
{
protected:
    // Loads the file and expects the result.
    GraphicsMesh* Load(const std::vector<uint8_t>& bytes, Resource::InitResult expected,
                       const std::string& name = "Meshes/Test.msh")
    {
        GraphicsMesh* mesh = LoadMesh(name, bytes);
        EXPECT_NE(mesh, nullptr);
        if (mesh) {
            EXPECT_EQ(mesh->GetInitResult(), expected) << name;
        }
        return mesh;
    }
    // Buffers and declarations the device holds.
    uint32_t DeviceResources() const
    {
        if (!Control())
            return 0;
        return Control()->GetResourceCount(ResourceKind::VertexBuffer) +
               Control()->GetResourceCount(ResourceKind::IndexBuffer) +
               Control()->GetResourceCount(ResourceKind::VertexDeclaration);
    }
};

TEST_F(GraphicsMeshTest, EveryVersionLoadsWhatItCarries)
{
    const MeshWriter source = MakeEverything();
    ASSERT_NE(Control(), nullptr);
    for (int version : {8, 9, 10, 11}) {
        SCOPED_TRACE(version);
        log.Clear();
        const std::string name = "Meshes/V" + std::to_string(version) + ".msh";
        GraphicsMesh* mesh = Load(source.Write(version), Resource::INIT_SUCCESS, name);
        ASSERT_NE(mesh, nullptr);
        const bool chunked = version >= 10;

        EXPECT_EQ(mesh->GetNumVertices(), 4u);
        EXPECT_EQ(mesh->GetNumFaces(), 2u);
        EXPECT_EQ(mesh->GetVertexStride(), 52u);
        EXPECT_EQ(mesh->GetAttributeOffset(VERTEX_USAGE_BONE_INDICES), 48);
        EXPECT_EQ(Contents(mesh->GetVertexBuffer()), source.vertexBytes);
        ASSERT_NE(mesh->GetIndexBuffer(), nullptr);
        EXPECT_EQ(mesh->GetIndexBuffer()->GetNumIndices(), 6u);
        EXPECT_NE(mesh->GetVertexDeclaration(), nullptr);
        ExpectNear(mesh->GetBoundingBox().center, Vec3(0, 1, 1));
        ExpectNear(mesh->GetBoundingBox().extents, Vec3(1, 1, 2));

        ASSERT_EQ(mesh->GetNumFaceSets(), 2u);
        const GraphicsMesh::FaceSet& set = mesh->GetFaceSet(1);
        EXPECT_EQ(set.firstFace, 1u);
        EXPECT_EQ(set.numFaces, 1u);
        EXPECT_EQ(set.bones, (std::vector<uint32_t>{2, 1}));
        if (version == 11) {
            EXPECT_EQ(mesh->GetFaceSet(0).section, 1u);
            ExpectNear(mesh->GetFaceSet(0).box.center, Vec3(0.5f, 0.25f, 0));
        } else {
            EXPECT_EQ(mesh->GetFaceSet(0).section, 0u);
            EXPECT_EQ(mesh->GetFaceSet(0).box, mesh->GetBoundingBox());
        }
        if (chunked) {
            ASSERT_EQ(mesh->GetNumSections(), 2u);
            EXPECT_EQ(mesh->GetSection(1), "NoTransparency");
        } else {
            ASSERT_EQ(mesh->GetNumSections(), 1u);
            EXPECT_EQ(mesh->GetSection(0), "");
        }

        ASSERT_EQ(mesh->GetNumBones(), 3u);
        const GraphicsMesh::Bone& hand = mesh->GetBone(2);
        EXPECT_EQ(hand.nameText, "Hand");
        EXPECT_EQ(hand.parent, 1);
        EXPECT_EQ(mesh->GetBone(0).height, 2u);
        EXPECT_EQ(mesh->GetBone(1).numChildren, 1);
        ExpectNear(hand.bindCoords.origin, Vec3(1, 1, 2));
        EXPECT_EQ(mesh->GetBoneIndex(Name::Create("Arm")), 1);
        EXPECT_EQ(mesh->GetBoneIndex(Name::Create("Leg")), -1);
        EXPECT_EQ(mesh->GetRootMotionBone(), Name::Create("Root"));

        ASSERT_EQ(mesh->GetNumMaterials(), 1u);
        const GraphicsMesh::Material& material = mesh->GetMaterial(0);
        EXPECT_EQ(material.shaderName, "Shaders/Skinned.ssh");
        // The texture parameter names no parameter of the shaders: dropped, nothing loaded.
        std::vector<std::string> kept;
        for (const auto& p : material.parameters)
            kept.push_back(p.nameText);
        EXPECT_EQ(kept, (std::vector<std::string>{"count", "enabled", "label", "frame", "matrix", "offset",
                                                  "tint", "gloss", "color"}));
        EXPECT_TRUE(mesh->GetTextures().empty());
        EXPECT_EQ(material.parameters[0].value.words[0], 42u);
        EXPECT_EQ(material.parameters[1].value.words[0], 1u);
        EXPECT_EQ(material.parameters[4].value.floats[15], 0.25f);
        EXPECT_EQ(material.parameters[8].value.floats[3], 4.0f);

        // The bad hit box is dropped and logged; the one naming bone 7 of 3 has no bone.
        EXPECT_TRUE(log.Contains("Mesh '" + name + "' has a bad hit box", 2));
        ASSERT_EQ(mesh->GetNumHitBoxes(), 2u);
        EXPECT_EQ(mesh->GetHitBox(0).bone, 1);
        EXPECT_EQ(mesh->GetHitBox(1).nameText, "Loose");
        EXPECT_EQ(mesh->GetHitBox(1).bone, -1);
        ExpectNear(mesh->GetHitBox(1).box.coords.zAxis, Vec3(0, 0, 1)); // axes normalised

        // (The legacy form empties the attach points before its text, which comes after it.)
        const AttachPoint* grip = mesh->GetAttachPoint(Name::Create("Grip"));
        ASSERT_NE(grip, nullptr);
        EXPECT_EQ(grip->parentText, "Hand");
        std::string entity, attach;
        EXPECT_EQ(mesh->GetNumCreationData(), 1u);
        EXPECT_TRUE(mesh->GetCreationData(0, entity, attach));
        EXPECT_FALSE(mesh->GetCreationData(1, entity, attach));
        EXPECT_EQ(entity, "records/spark.dbr");

        EXPECT_EQ(mesh->GetPhysicsMesh() != nullptr, version >= 9);
        EXPECT_EQ(mesh->GetMIFData().text, version == 8 ? "" : "host notes");
        if (chunked) {
            ASSERT_EQ(mesh->GetNumContours(), 2u);
            const auto& contour = mesh->GetContour(0);
            // Side of point 0: its neighbours' direction (point 2 to point 1, -Z) crossed with up.
            ExpectNear(contour.points[0].side, Vec3(1, 0, 0));
            ExpectNear(mesh->GetContour(1).points[0].side, Vec3()); // one point: no direction, no NaN
            ASSERT_EQ(mesh->GetNumPortals(), 1u);
            EXPECT_EQ(mesh->GetPortal(0).points[0].values[2], Vec3(7, 8, 9));
            EXPECT_EQ(mesh->GetNumBlendedFaces(), 1u);
            EXPECT_NE(mesh->GetBlendedIndexBuffer(), nullptr);
        } else {
            EXPECT_EQ(mesh->GetNumContours(), 0u);
            EXPECT_EQ(mesh->GetNumBlendedFaces(), 0u);
        }
    }
}

TEST_F(GraphicsMeshTest, ChunksAreReadWithinTheirSizeAndRepeatedOnesReplace)
{
    // A header and no chunks: an empty mesh with one empty section.
    GraphicsMesh* empty = Load({'M', 'S', 'H', 10}, Resource::INIT_SUCCESS, "Meshes/Empty.msh");
    EXPECT_EQ(empty->GetNumVertices(), 0u);
    ASSERT_EQ(empty->GetNumSections(), 1u);
    EXPECT_EQ(empty->GetSection(0), "");
    EXPECT_EQ(empty->GetVertexBuffer(), nullptr);

    const std::vector<uint8_t> good = MakeEverything().Write(11);
    // A chunk header cut 1 to 7 bytes before the end, or a size beyond the end.
    for (size_t cut = 1; cut <= 7; ++cut) {
        std::vector<uint8_t> bytes = good;
        bytes.insert(bytes.end(), 8 - cut, 0);
        Load(bytes, Resource::INIT_INVALID_DATA, "Meshes/Cut" + std::to_string(cut) + ".msh");
    }
    std::vector<uint8_t> beyond = good;
    const uint8_t chunk[8] = {13, 0, 0, 0, 200, 0, 0, 0};
    beyond.insert(beyond.end(), chunk, chunk + 8);
    Load(beyond, Resource::INIT_INVALID_DATA, "Meshes/Beyond.msh");
    EXPECT_EQ(DeviceResources(), 0u);

    // A chunk longer than its content: the reader goes on at its announced end. A chunk shorter
    // than its content fails. Unknown chunks are skipped.
    MeshWriter writer = MakeEverything();
    std::vector<uint8_t> padded = writer.ChunkContent(GraphicsMesh::CHUNK_BOUNDING_BOX, 11);
    padded.resize(padded.size() + 5, 0xEE);
    writer.extraChunks = {{99, {1, 2, 3}}, {GraphicsMesh::CHUNK_BOUNDING_BOX, padded}};
    writer.extraChunks.push_back({GraphicsMesh::CHUNK_SECTIONS, MeshWriter().ChunkContent(13, 11)});
    GraphicsMesh* mesh = Load(writer.Write(11), Resource::INIT_SUCCESS, "Meshes/Padded.msh");
    EXPECT_EQ(mesh->GetNumSections(), 1u); // the repeated, empty section list: one "" is added
    std::vector<uint8_t> shortBox = writer.ChunkContent(GraphicsMesh::CHUNK_BOUNDING_BOX, 11);
    shortBox.resize(20);
    writer.extraChunks = {{GraphicsMesh::CHUNK_BOUNDING_BOX, shortBox}};
    Load(writer.Write(11), Resource::INIT_INVALID_DATA, "Meshes/ShortBox.msh");

    // Repeated chunks replace what came before, without leaks: bones, materials, collision mesh.
    MeshWriter repeated = MakeEverything();
    MeshWriter other;
    other.bones = {{"Solo", 0, 0, Coords()}, {"Duo", 0, 0, Coords()}, {"Trio", 0, 0, Coords()}};
    other.materials = {{"Shaders/A.ssh", {}}, {"Shaders/B.ssh", {}}};
    other.physicsMesh = MeshWriter::PhysicsMeshBytes({Vec3(), Vec3(1, 0, 0), Vec3(0, 1, 0), Vec3(0, 0, 1)},
                                                     {{{0, 1, 2}, 1}, {{0, 2, 3}, 2}});
    repeated.extraChunks = {{GraphicsMesh::CHUNK_BONES, other.ChunkContent(6, 11)},
                            {GraphicsMesh::CHUNK_MATERIALS, other.ChunkContent(7, 11)},
                            {GraphicsMesh::CHUNK_PHYSICS_MESH, other.physicsMesh}};
    mesh = Load(repeated.Write(11), Resource::INIT_SUCCESS, "Meshes/Repeated.msh");
    EXPECT_EQ(mesh->GetNumBones(), 3u);
    EXPECT_EQ(mesh->GetBone(0).nameText, "Solo");
    EXPECT_EQ(mesh->GetBone(2).parent, -1);
    EXPECT_EQ(mesh->GetNumMaterials(), 2u);
    ASSERT_NE(mesh->GetPhysicsMesh(), nullptr);
    EXPECT_EQ(mesh->GetPhysicsMesh()->GetNumFaces(), 2);

    // Headers other than "MSH" with versions 8 to 11.
    Load({'M', 'S', 'X', 10}, Resource::INIT_INVALID_DATA, "Meshes/Magic.msh");
    Load({'M', 'S', 'H', 12}, Resource::INIT_INVALID_DATA, "Meshes/Twelve.msh");
    Load({'M', 'S', 'H', 7, 0, 0, 0, 0}, Resource::INIT_INVALID_DATA, "Meshes/Seven.msh");
    Load({'M', 'S'}, Resource::INIT_INVALID_DATA, "Meshes/Short.msh");
}

// One change to a good file that must refuse it, before any device buffer is made.
struct BadFile
{
    const char* what;
    void (*damage)(MeshWriter& mesh);
    const char* logged; // a piece of the line that names the fault
};

TEST_F(GraphicsMeshTest, RefusesReferencesOutsideTheFileBeforeMakingAnything)
{
    const BadFile cases[] = {
        {"index at the vertex count", [](MeshWriter& m) { m.indices[4] = 4; },
         "has a face naming vertex 4 of 4"},
        {"blended index at the vertex count", [](MeshWriter& m) { m.blendedIndices[1] = 9; },
         "blended face naming vertex 9"},
        {"face set past the faces", [](MeshWriter& m) { m.faceSets[1].numFaces = 2; }, "beyond its 2 faces"},
        {"face set material past the materials", [](MeshWriter& m) { m.faceSets[0].material = 1; },
         "naming material 1 of 1"},
        {"palette over 256 entries", [](MeshWriter& m) { m.faceSets[0].bones.assign(257, 0); },
         "bone palette of 257 entries"},
        {"palette bone past the bones", [](MeshWriter& m) { m.faceSets[0].bones[1] = 3; },
         "naming bone 3 of 3"},
        {"vertex bone byte past the palette",
         [](MeshWriter& m) { m.vertexBytes[size_t(m.stride) * 2 + size_t(m.AttributeOffset(6))] = 2; },
         "naming palette entry 2"},
        {"child range past the bones", [](MeshWriter& m) { m.bones[1].numChildren = 2; }, "children past"},
        {"bone claimed by two parents",
         [](MeshWriter& m) {
             m.bones[0] = {"Root", 1, 2, Coords()};
         },
         "bone 2 claimed by two parents"},
        {"bones in a cycle", [](MeshWriter& m) { m.bones[2].firstChild = 0, m.bones[2].numChildren = 1; },
         "form a cycle"},
        {"bone its own child", [](MeshWriter& m) { m.bones[2].numChildren = 1, m.bones[2].firstChild = 2; },
         "bone 2 claimed by two parents"},
        {"attribute id 15", [](MeshWriter& m) { m.attributes[2] = 15; }, "has vertex attribute 15"},
        {"attributes wider than the stride",
         [](MeshWriter& m) { m.stride -= 1, m.vertexBytes.resize(m.stride * 4); },
         "attributes of 52 bytes in a vertex of 51"},
        {"collision triangle past its vertices", [](MeshWriter& m) { m.physicsMesh[52] = 3; },
         "triangle naming vertex 3 of 3"},
        {"model text without a brace", [](MeshWriter& m) { m.modelText = "AttachPoint name"; },
         "model text that does not parse"},
    };
    for (const BadFile& bad : cases) {
        SCOPED_TRACE(bad.what);
        MeshWriter writer = MakeEverything();
        bad.damage(writer);
        log.Clear();
        GraphicsMesh* mesh =
            Load(writer.Write(11), Resource::INIT_INVALID_DATA, std::string("Meshes/") + bad.what);
        EXPECT_EQ(mesh->GetNumVertices(), 0u);
        EXPECT_EQ(mesh->GetNumFaceSets(), 0u);
        EXPECT_EQ(mesh->GetNumCreationData(), 0u);
        EXPECT_EQ(DeviceResources(), 0u);
        EXPECT_TRUE(log.Contains(bad.logged));
    }
    // Counts that the bytes cannot hold, in every chunk that has one.
    for (uint32_t id : {4u, 5u, 6u, 7u, 8u, 9u, 11u, 12u, 13u}) {
        SCOPED_TRACE(id);
        MeshWriter writer = MakeEverything();
        std::vector<uint8_t> content = writer.ChunkContent(id, 11);
        const size_t at = id == 4 ? 8 : 0; // the vertex count is the third word
        content[at + 3] = 0x7F;
        writer.extraChunks = {{id, content}};
        Load(writer.Write(11), Resource::INIT_INVALID_DATA, "Meshes/Count" + std::to_string(id) + ".msh");
    }
    // The legacy header's limits and zero counts.
    for (int field : {0, 1, 2, 3, 4, 5, 6, 7}) {
        SCOPED_TRACE(field);
        std::vector<uint8_t> bytes = MakeEverything().Write(8);
        const uint32_t huge = 0x00100000u;
        std::memcpy(&bytes[4 + 4 * size_t(field)], &huge, 4);
        Load(bytes, Resource::INIT_INVALID_DATA, "Meshes/Legacy" + std::to_string(field) + ".msh");
    }
    EXPECT_EQ(DeviceResources(), 0u);
}

TEST_F(GraphicsMeshTest, NamesTooLongAreLeftEmptyAndReadingGoesOn)
{
    // A section name over the 1 MiB a string may hold, its bytes all there.
    MeshWriter writer = MakeEverything();
    writer.sections = {"Body", std::string(BinaryReader::kMaxStringLength + 1, 'x')};
    // A material whose shader name and one parameter name run past the chunk, and a string
    // parameter whose text does: each is left empty and the fields after its length word follow.
    BinaryWriter materials(64);
    materials.WriteUInt32(1);
    materials.WriteUInt32(0x00200000); // shader name
    materials.WriteUInt32(3);
    materials.WriteUInt32(0xFFFFFFF0u); // parameter name
    materials.WriteUInt32(GraphicsMesh::PARAMETER_FLOAT);
    materials.WriteFloat(0.5f);
    materials.WriteString("gloss");
    materials.WriteUInt32(GraphicsMesh::PARAMETER_FLOAT);
    materials.WriteFloat(0.25f);
    materials.WriteString("label");
    materials.WriteUInt32(GraphicsMesh::PARAMETER_STRING);
    materials.WriteUInt32(0x00300000); // the string's text
    writer.extraChunks = {
        {GraphicsMesh::CHUNK_MATERIALS,
         std::vector<uint8_t>(materials.GetBuffer(), materials.GetBuffer() + materials.GetSize())}};

    GraphicsMesh* mesh = Load(writer.Write(11), Resource::INIT_SUCCESS, "Meshes/LongNames.msh");
    EXPECT_EQ(mesh->GetNumVertices(), 4u);
    ASSERT_EQ(mesh->GetNumSections(), 2u);
    EXPECT_EQ(mesh->GetSection(0), "Body");
    EXPECT_EQ(mesh->GetSection(1), "");
    ASSERT_EQ(mesh->GetNumMaterials(), 1u);
    const GraphicsMesh::Material& material = mesh->GetMaterial(0);
    EXPECT_EQ(material.shaderName, "");
    EXPECT_EQ(material.shader, nullptr);
    ASSERT_EQ(material.parameters.size(), 3u);
    EXPECT_EQ(material.parameters[0].nameText, "");
    EXPECT_EQ(material.parameters[0].value.floats[0], 0.5f);
    EXPECT_EQ(material.parameters[1].nameText, "gloss");
    EXPECT_EQ(material.parameters[1].value.floats[0], 0.25f);
    EXPECT_EQ(material.parameters[2].nameText, "label");
    EXPECT_EQ(material.parameters[2].type, uint32_t(GraphicsMesh::PARAMETER_STRING));
    for (const char* what : {"section name", "shader name", "parameter name", "string parameter"})
        EXPECT_TRUE(log.Contains(std::string("Mesh 'Meshes/LongNames.msh' has a ") + what)) << what;
}

TEST_F(GraphicsMeshTest, AnUnweightedInfluencePastThePaletteTakesEntryZero)
{
    // Vertex 1's second influence (weight 0.25 in the file) names entry 5 of a palette of two.
    MeshWriter writer = MakeEverything();
    const size_t boneBytes = size_t(writer.AttributeOffset(MeshWriter::ATTRIBUTE_BONE_INDICES));
    const size_t weightBytes = size_t(writer.AttributeOffset(MeshWriter::ATTRIBUTE_BONE_WEIGHTS));
    auto influence = [&](MeshWriter& m, uint32_t vertex, int b, uint8_t entry, float weight) {
        m.vertexBytes[m.stride * vertex + boneBytes + size_t(b)] = entry;
        std::memcpy(&m.vertexBytes[m.stride * vertex + weightBytes + 4 * size_t(b)], &weight, 4);
    };
    // Unused influences: the file's third and fourth of vertex 0 name entries far past the palette.
    influence(writer, 1, 1, 5, 0.0f);
    influence(writer, 0, 2, 200, 0.0f);
    influence(writer, 0, 3, 255, -0.0f);
    GraphicsMesh* mesh = Load(writer.Write(11), Resource::INIT_SUCCESS, "Meshes/Unweighted.msh");
    ASSERT_EQ(mesh->GetNumFaceSets(), 2u);
    const std::vector<uint8_t> bytes = Contents(mesh->GetVertexBuffer());
    ASSERT_EQ(bytes.size(), writer.vertexBytes.size());
    EXPECT_EQ(bytes[writer.stride * 1 + boneBytes + 1], 0);
    EXPECT_EQ(bytes[writer.stride * 0 + boneBytes + 2], 0);
    EXPECT_EQ(bytes[writer.stride * 0 + boneBytes + 3], 0);
    // Nothing else moved: the used influences and every other byte are as written.
    std::vector<uint8_t> expected = writer.vertexBytes;
    expected[writer.stride * 1 + boneBytes + 1] = 0;
    expected[writer.stride * 0 + boneBytes + 2] = 0;
    expected[writer.stride * 0 + boneBytes + 3] = 0;
    EXPECT_EQ(bytes, expected);

    // With weight the same influence has no bone to move with: the mesh is refused, and says so.
    for (float weight : {0.25f, NAN}) {
        SCOPED_TRACE(weight);
        MeshWriter weighted = MakeEverything();
        influence(weighted, 1, 1, 5, weight);
        log.Clear();
        const std::string name = std::string("Meshes/Weighted") + (std::isnan(weight) ? "NaN" : "") + ".msh";
        GraphicsMesh* refused = Load(weighted.Write(11), Resource::INIT_INVALID_DATA, name);
        EXPECT_EQ(refused->GetNumVertices(), 0u);
        EXPECT_TRUE(log.Contains("Mesh '" + name + "' has a weighted vertex naming palette entry 5", 1));
    }
}

// A face set of 30 palette bones over a skeleton of a root, bones 1 to 10 under it, and bones 11 to
// 29 under bone 1: in palette order the leaves 2 to 10 (parent 0) come first.
MeshWriter MakeWidePalette()
{
    MeshWriter mesh;
    mesh.SetAttributes({MeshWriter::ATTRIBUTE_POSITION, MeshWriter::ATTRIBUTE_BONE_WEIGHTS,
                        MeshWriter::ATTRIBUTE_BONE_INDICES});
    mesh.bones.push_back({"B0", 1, 10, Coords()});
    mesh.bones.push_back({"B1", 11, 19, Coords()});
    for (int i = 2; i < 30; ++i)
        mesh.bones.push_back({std::string("B").append(std::to_string(i)), 0, 0, Coords()});
    MeshWriter::FaceSet set;
    for (uint32_t i = 0; i < 30; ++i)
        set.bones.push_back(i);
    // One vertex per palette entry (bytes k, k, 0, 0), shared by the faces around it.
    for (uint8_t k = 0; k < 30; ++k) {
        MeshWriter::Vertex v;
        v.position = Vec3(float(k), 0, 0);
        v.bones[0] = k;
        v.bones[1] = k;
        mesh.AddVertex(v);
    }
    for (uint32_t k = 0; k + 2 < 30; ++k)
        mesh.AddFace(k, k + 1, k + 2);
    set.numFaces = 28;
    mesh.faceSets = {set};
    mesh.materials = {{"Shaders/Skinned.ssh", {}}};
    return mesh;
}

TEST_F(GraphicsMeshTest, LongPalettesFoldLeavesIntoTheirParents)
{
    ASSERT_NE(Control(), nullptr);
    const MeshWriter source = MakeWidePalette();
    const int32_t boneBytes = source.AttributeOffset(6);
    auto boneByte = [&](const std::vector<uint8_t>& bytes, uint32_t vertex, int b) {
        return bytes[size_t(vertex) * source.stride + size_t(boneBytes) + size_t(b)];
    };

    struct Generation
    {
        RenderGenerationId generation;
        int folded; // leaves 2 .. 2 + folded - 1 go into bone 0
    };
    for (Generation device :
         {Generation{RENDER_GENERATION_R200, 3}, Generation{RENDER_GENERATION_GEFORCE3, 6}}) {
        SCOPED_TRACE(device.folded);
        graphics->SetGeneration(device.generation);
        EXPECT_EQ(graphics->GetMaxNumBones(), 30 - device.folded);
        GraphicsMesh* mesh = Load(source.Write(11), Resource::INIT_SUCCESS,
                                  "Meshes/Wide" + std::to_string(device.folded) + ".msh");
        std::vector<uint32_t> palette = {0, 1};
        for (uint32_t b = 2 + uint32_t(device.folded); b < 30; ++b)
            palette.push_back(b);
        EXPECT_EQ(mesh->GetFaceSet(0).bones, palette);

        const std::vector<uint8_t> bytes = Contents(mesh->GetVertexBuffer());
        ASSERT_EQ(bytes.size(), source.vertexBytes.size());
        for (uint32_t v = 0; v < 30; ++v) {
            // Folded entries draw with bone 0 (new index 0); the others keep their bone, renumbered.
            const uint8_t expected = v < 2                             ? uint8_t(v)
                                     : v < 2 + uint32_t(device.folded) ? 0
                                                                       : uint8_t(v - device.folded);
            EXPECT_EQ(boneByte(bytes, v, 0), expected) << v;
            EXPECT_EQ(boneByte(bytes, v, 1), expected) << v; // each vertex rewritten once
            EXPECT_EQ(boneByte(bytes, v, 2), 0);
            // Nothing but the bone bytes changes.
            EXPECT_EQ(std::memcmp(&bytes[size_t(v) * source.stride],
                                  &source.vertexBytes[size_t(v) * source.stride], size_t(boneBytes)),
                      0);
        }
    }

    // Bones of height 3 and above never fold: a chain of 30 bones keeps its palette.
    MeshWriter chain = MakeWidePalette();
    chain.bones.clear();
    for (uint32_t i = 0; i < 30; ++i)
        chain.bones.push_back({std::string("C").append(std::to_string(i)), i + 1, i + 1 < 30 ? 1u : 0u, Coords()});
    std::reverse(chain.faceSets[0].bones.begin(), chain.faceSets[0].bones.end());
    graphics->SetGeneration(RENDER_GENERATION_R200);
    GraphicsMesh* mesh = Load(chain.Write(10), Resource::INIT_SUCCESS, "Meshes/Chain.msh");
    // Heights 0, 1, 2 are the last three bones of the chain: exactly three fold.
    EXPECT_EQ(mesh->GetFaceSet(0).bones.size(), 27u);
    EXPECT_EQ(mesh->GetFaceSet(0).bones.front(), 26u);

    // A palette of bones of height 3 or more (the chain's first 27) stays whole, even where a device
    // allows 24.
    MeshWriter tall = chain;
    tall.faceSets[0].bones.clear();
    for (uint32_t i = 0; i < 27; ++i)
        tall.faceSets[0].bones.push_back(i);
    for (size_t v = 0; v < 30; ++v)
        for (int b = 0; b < 4; ++b)
            tall.vertexBytes[v * tall.stride + size_t(boneBytes) + size_t(b)] = uint8_t(v % 27);
    graphics->SetGeneration(RENDER_GENERATION_GEFORCE4);
    mesh = Load(tall.Write(10), Resource::INIT_SUCCESS, "Meshes/Tall.msh");
    EXPECT_EQ(mesh->GetFaceSet(0).bones, tall.faceSets[0].bones);
}

TEST_F(GraphicsMeshTest, SkinningFramesHitBoxesAndAttachPointsFollowThePose)
{
    GraphicsMesh* mesh = Load(MakeEverything().Write(11), Resource::INIT_SUCCESS);
    ASSERT_EQ(mesh->GetNumBones(), 3u);
    Coords frames[3];

    // The bind pose (every bone at identity parts) skins with identity frames.
    SkeletalPose bind;
    for (const char* bone : {"Root", "Arm", "Hand"})
        bind.SetBone(Name::Create(bone), SkeletalPose::AffineParts::Identity());
    mesh->GetAbsCoords(bind, frames);
    for (const Coords& frame : frames)
        ExpectNear(frame, Coords());
    mesh->GetAbsCoords(SkeletalPose(), frames); // an empty pose is the bind pose too
    ExpectNear(frames[2], Coords());

    // Turning the arm a quarter about Y swings the hand, which sits 2 along Z from it.
    SkeletalPose pose;
    pose.SetBoneCoords(Name::Create("Arm"), Coords::Rotation(Vec3(0, 1, 0), 1.5707964f));
    ExpectNear(mesh->GetAbsCoords(pose, 2).origin, Vec3(3, 1, 0));
    ExpectNear(mesh->GetAbsCoords(pose, Name::Create("Hand")).origin, Vec3(3, 1, 0));
    EXPECT_EQ(mesh->GetAbsCoords(pose, Name::Create("Nobody")), Coords());
    EXPECT_EQ(mesh->GetAbsCoords(pose, -1), Coords());
    mesh->GetAbsCoords(pose, frames);
    // The skinning frame carries the hand's bind position to its posed one.
    ExpectNear(frames[2].TransformPoint(Vec3(1, 1, 2)), Vec3(3, 1, 0));
    ExpectNear(frames[0], Coords());

    // The hit box on the arm turns with it; a scaled bone stretches its box.
    GraphicsMesh::HitBox chest = mesh->GetHitBox(0, pose);
    ExpectNear(chest.box.coords.origin, Vec3(1, 1.5f, 0));
    ExpectNear(chest.box.extents, Vec3(0.5f, 1, 0.25f));
    // A ray along -Z meets the posed box where its X half-extent, turned onto Z, ends.
    EXPECT_NEAR(chest.box.IntersectRay(Ray(Vec3(1, 1.5f, 5), Vec3(0, 0, -1))), 4.5f, 1e-4f);
    EXPECT_EQ(chest.box.IntersectRay(Ray(Vec3(1, 3, 5), Vec3(0, 0, -1))), gInfinity);
    SkeletalPose scaled;
    SkeletalPose::AffineParts parts;
    parts.k = Vec3(2, 1, 1);
    scaled.SetBone(Name::Create("Arm"), parts);
    ExpectNear(mesh->GetHitBox(0, scaled).box.extents, Vec3(1, 1, 0.25f));
    EXPECT_EQ(mesh->GetHitBox(1, scaled).box, mesh->GetHitBox(1).box); // no bone: as stored

    // The grip hangs 1 along Z from the hand.
    Coords grip;
    mesh->GetAttachedCoords(pose, Name::Create("Grip"), grip);
    ExpectNear(grip.origin, Vec3(4, 1, 0));
    mesh->GetAttachedCoords(pose, Name::Create("Nothing"), grip);
    EXPECT_EQ(grip, Coords());
    std::vector<Name> points;
    mesh->GetAllAttachedPoints(points);
    EXPECT_EQ(points, std::vector<Name>{Name::Create("Grip")});

    // A second mesh (clothing) whose root is named like the arm follows the arm of the first.
    MeshWriter clothing;
    clothing.bones = {{"Arm", 1, 1, Coords::Translation(Vec3(1, 1, 0))},
                      {"Sleeve", 0, 0, Coords::Translation(Vec3(0, 0, 1))}};
    GraphicsMesh* sleeve = Load(clothing.Write(11), Resource::INIT_SUCCESS, "Meshes/Sleeve.msh");
    Coords sleeveFrames[2];
    sleeve->GetAbsCoords(SkeletalPose(), sleeveFrames, mesh, pose);
    ExpectNear(sleeveFrames[1].TransformPoint(Vec3(1, 1, 1)), Vec3(2, 1, 0));
}

TEST_F(GraphicsMeshTest, AFailedBufferIsRetriedFromACleanMesh)
{
    ASSERT_NE(Control(), nullptr);
    Control()->InjectFailure(Failure::VertexBuffer, 1);
    GraphicsMesh* mesh = Load(MakeEverything().Write(11), Resource::INIT_PARTIAL);
    // Read through: the faces and the rest are there, only the vertex buffer is missing.
    EXPECT_EQ(mesh->GetVertexBuffer(), nullptr);
    EXPECT_NE(mesh->GetIndexBuffer(), nullptr);
    EXPECT_EQ(mesh->GetNumCreationData(), 1u);

    services.frame = 200; // past the retry interval
    mesh->EnsureAvailable();
    EXPECT_EQ(mesh->GetInitResult(), Resource::INIT_SUCCESS);
    EXPECT_NE(mesh->GetVertexBuffer(), nullptr);
    // Nothing of the first attempt is left over or counted twice.
    EXPECT_EQ(mesh->GetNumCreationData(), 1u);
    EXPECT_EQ(Control()->GetResourceCount(ResourceKind::VertexBuffer), 1u);
    EXPECT_EQ(Control()->GetResourceCount(ResourceKind::IndexBuffer), 2u); // faces and blended faces

    // A lost device: nothing is read, tried again later.
    Control()->SetDeviceLost(true);
    GraphicsMesh* lost = Load(MakeEverything().Write(11), Resource::INIT_FAILED, "Meshes/Lost.msh");
    EXPECT_EQ(lost->GetNumVertices(), 0u);
    Control()->SetDeviceLost(false);

    // Unloading gives everything back to the device.
    mesh->Unload();
    lost->Unload();
    EXPECT_EQ(DeviceResources(), 0u);
}

} // namespace
} // namespace GAME::SceneTest
