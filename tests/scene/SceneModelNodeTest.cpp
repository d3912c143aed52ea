#include "common/LogCapture.h"
#include "data/BinaryReader.h"
#include "data/BinaryWriter.h"
#include "scene/SceneDummyNode.h"
#include "scene/SceneHitBoxNode.h"
#include "scene/SceneMeshNode.h"
#include "scene/SceneModelMaterial.h"
#include "scene/ScenePhysicsNode.h"

#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

namespace GAME {
namespace {

std::vector<uint8_t> Stream(const SceneModelNode& node)
{
    BinaryWriter writer(64);
    node.Write(writer);
    return std::vector<uint8_t>(writer.GetBuffer(), writer.GetBuffer() + writer.GetSize());
}

void Name(SceneModelNode& node, const char* name)
{
    node.SetName(name);
    node.SetParentName("Scene Root");
    node.SetUserData("user=1");
}

// Reads the stream into a fresh node; false when Read refused it.
template <class Node> bool ReadBack(const std::vector<uint8_t>& bytes, Node& node)
{
    BinaryReader reader(bytes.data(), static_cast<unsigned>(bytes.size()));
    return node.Read(reader) && reader.AtEnd();
}

SceneMeshNode MakeMeshNode()
{
    SceneMeshNode mesh;
    Name(mesh, "Body");
    SceneMeshNode::Face face;
    for (uint32_t c = 0; c < 3; ++c)
        for (uint32_t w = 0; w < 5; ++w)
            face.corners[c][w] = 10 * c + w;
    face.material = 1;
    face.value = 77;
    mesh.AppendFace(face);
    face.material = SceneMeshNode::noMaterial;
    mesh.AppendFace(face);
    mesh.SetNumVertices(3);
    mesh.SetVertex(2, Vec3(1, 2, 3));
    mesh.SetNumNormals(1);
    mesh.SetNormal(0, Vec3(0, 1, 0));
    mesh.SetNumTextureCoords(2);
    mesh.SetTextureCoord(1, Vec2(0.5f, 0.25f));
    mesh.SetNumInfluences(3);
    mesh.SetInfluences(1, {{4, 0.75f}, {9, 0.25f}});
    mesh.SetNumColors(1);
    mesh.SetColor(0, Color(1, 0.5f, 0.25f, 1));
    return mesh;
}

TEST(SceneModelNodeTest, EveryNodeTypeRoundTripsAndShortStreamsAreRefused)
{
    GAME::Test::LogCapture log;
    SceneDummyNode dummy;
    Name(dummy, "Muzzle");
    dummy.SetCoords(Coords::Translation(Vec3(1, 2, 3)));
    SceneHitBoxNode box;
    Name(box, "Torso");
    box.SetExtents(Vec3(0.5f, 1, 0.25f));
    box.SetCoords(Coords::Rotation(Vec3(0, 1, 0), 0.5f));
    const SceneMeshNode mesh = MakeMeshNode();
    ScenePhysicsNode physics;
    Name(physics, "Hull");
    physics.SetNumVertices(3);
    physics.SetVertex(1, Vec3(1, 0, 0));
    physics.SetNumFaces(1);
    physics.SetFace(0, {{0, 1, 2}, 5});

    EXPECT_EQ(dummy.GetType(), SceneModelNode::TYPE_DUMMY);
    EXPECT_EQ(box.GetType(), SceneModelNode::TYPE_HIT_BOX);
    EXPECT_EQ(mesh.GetType(), SceneModelNode::TYPE_MESH);
    EXPECT_EQ(physics.GetType(), SceneModelNode::TYPE_PHYSICS);

    SceneDummyNode dummyBack;
    ASSERT_TRUE(ReadBack(Stream(dummy), dummyBack));
    EXPECT_EQ(dummyBack.GetCoords(), dummy.GetCoords());
    EXPECT_EQ(dummyBack.GetUserData(), "user=1");
    SceneHitBoxNode boxBack;
    ASSERT_TRUE(ReadBack(Stream(box), boxBack));
    EXPECT_EQ(boxBack.GetExtents(), box.GetExtents());
    EXPECT_EQ(boxBack.GetCoords(), box.GetCoords());
    SceneMeshNode meshBack;
    ASSERT_TRUE(ReadBack(Stream(mesh), meshBack));
    ASSERT_EQ(meshBack.GetNumFaces(), 2u);
    EXPECT_EQ(std::memcmp(&meshBack.GetFace(0), &mesh.GetFace(0), sizeof(SceneMeshNode::Face)), 0);
    EXPECT_EQ(meshBack.GetVertex(2), Vec3(1, 2, 3));
    EXPECT_EQ(meshBack.GetTextureCoord(1).x, 0.5f);
    ASSERT_EQ(meshBack.GetInfluences(1).size(), 2u);
    EXPECT_EQ(meshBack.GetInfluences(1)[1].bone, 9u);
    EXPECT_TRUE(meshBack.GetInfluences(0).empty());
    EXPECT_EQ(meshBack.GetColor(0).g, 0.5f);
    ScenePhysicsNode physicsBack;
    ASSERT_TRUE(ReadBack(Stream(physics), physicsBack));
    EXPECT_EQ(physicsBack.GetFace(0).value, 5u);
    EXPECT_EQ(physicsBack.GetVertex(1), Vec3(1, 0, 0));
    EXPECT_EQ(physicsBack.GetParentName(), "Scene Root");

    // A mesh face streams each corner's words 0, 1, 2, 4, 3.
    const std::vector<uint8_t> bytes = Stream(mesh);
    const size_t faces = 4 + 4 + 4 + 10 + 4 + 6 + 6 * 4; // three strings, then six counts
    uint32_t words[5];
    std::memcpy(words, &bytes[faces], sizeof(words));
    EXPECT_EQ(words[3], 4u);
    EXPECT_EQ(words[4], 3u);

    // Every cut of every stream is refused; so are counts the bytes cannot hold.
    const SceneModelNode* nodes[] = {&dummy, &box, &mesh, &physics};
    for (const SceneModelNode* node : nodes) {
        const std::vector<uint8_t> full = Stream(*node);
        for (size_t size = 0; size < full.size(); ++size) {
            const std::vector<uint8_t> cut(full.begin(), full.begin() + long(size));
            std::unique_ptr<SceneModelNode> fresh;
            switch (node->GetType()) {
            case SceneModelNode::TYPE_DUMMY:
                fresh.reset(new SceneDummyNode);
                break;
            case SceneModelNode::TYPE_HIT_BOX:
                fresh.reset(new SceneHitBoxNode);
                break;
            case SceneModelNode::TYPE_MESH:
                fresh.reset(new SceneMeshNode);
                break;
            default:
                fresh.reset(new ScenePhysicsNode);
                break;
            }
            BinaryReader reader(cut.data(), static_cast<unsigned>(cut.size()));
            EXPECT_FALSE(fresh->Read(reader)) << node->GetName() << " cut at " << size;
        }
    }
    std::vector<uint8_t> huge = Stream(mesh);
    huge[faces - 24 + 3] = 0x40; // the face count
    SceneMeshNode refused;
    EXPECT_FALSE(ReadBack(huge, refused));

    EXPECT_TRUE(mesh.CheckConsistency(2));
    EXPECT_FALSE(mesh.CheckConsistency(1));
    SceneMeshNode unassigned;
    unassigned.SetNumFaces(2);
    unassigned.SetFace(0, SceneMeshNode::Face{{}, SceneMeshNode::noMaterial, 0});
    unassigned.SetFace(1, SceneMeshNode::Face{{}, SceneMeshNode::noMaterial, 0});
    EXPECT_TRUE(unassigned.CheckConsistency(0));
}

TEST(SceneModelNodeTest, MaterialsStreamEveryParameterType)
{
    GAME::Test::LogCapture log;
    SceneModelMaterial material;
    material.SetShaderName("Shaders/Standard.ssh");
    material.SetNumParameters(8);
    material.GetParameter(0) = {"count", ShaderParam::TYPE_INT, "", false, 12, {}};
    material.GetParameter(1) = {"on", ShaderParam::TYPE_BOOL, "", true, 0, {}};
    material.GetParameter(2) = {"base", ShaderParam::TYPE_TEXTURE, "Textures/Base.tex", false, 0, {}};
    material.GetParameter(3) = {"tint", ShaderParam::TYPE_FLOAT3_ALT, "", false, 0, {1, 2, 3}};
    material.GetParameter(4) = {"glow", ShaderParam::TYPE_FLOAT4_ALT, "", false, 0, {1, 2, 3, 4}};
    material.GetParameter(5) = {"frame", ShaderParam::TYPE_FLOAT4X3, "", false, 0, {}};
    material.GetParameter(5).floatValues[11] = 9;
    material.GetParameter(6) = {"program", ShaderParam::TYPE_PIXEL_SHADER, "", false, 0, {}};
    material.GetParameter(7) = {"future", 20, "", false, 0, {}};

    BinaryWriter writer(64);
    material.Write(writer);
    BinaryReader reader(writer.GetBuffer(), writer.GetSize());
    SceneModelMaterial back;
    ASSERT_TRUE(back.Read(reader));
    EXPECT_TRUE(reader.AtEnd());
    EXPECT_EQ(back.GetShaderName(), "Shaders/Standard.ssh");
    ASSERT_EQ(back.GetNumParameters(), 8u);
    EXPECT_EQ(back.GetParameter(0).intValue, 12u);
    EXPECT_TRUE(back.GetParameter(1).boolValue);
    EXPECT_EQ(back.GetParameter(2).textValue, "Textures/Base.tex");
    // Types 12 and 13 come back as 9 and 11 with their floats.
    EXPECT_EQ(back.GetParameter(3).type, uint32_t(ShaderParam::TYPE_FLOAT3));
    EXPECT_EQ(back.GetParameter(3).floatValues[2], 3.0f);
    EXPECT_EQ(back.GetParameter(4).type, uint32_t(ShaderParam::TYPE_FLOAT4));
    EXPECT_EQ(back.GetParameter(4).floatValues[3], 4.0f);
    EXPECT_EQ(back.GetParameter(5).floatValues[11], 9.0f);
    EXPECT_EQ(back.GetParameter(7).type, 20u); // kept, no value

    for (unsigned size = 0; size < writer.GetSize(); ++size) {
        BinaryReader cut(writer.GetBuffer(), size);
        SceneModelMaterial refused;
        EXPECT_FALSE(refused.Read(cut)) << size;
    }
}

// Every face once in some leaf, leaves with faces of their own and inner nodes without, and every
// leaf's box around its faces' vertices.
void ExpectTreeInvariants(const ScenePhysicsNode& node)
{
    const ScenePhysicsNode::TreeNode* root = node.GetRootNode();
    ASSERT_NE(root, nullptr);
    std::vector<int> covered(node.GetNumFaces(), 0);
    std::vector<const ScenePhysicsNode::TreeNode*> pending{root};
    while (!pending.empty()) {
        const ScenePhysicsNode::TreeNode* n = pending.back();
        pending.pop_back();
        const bool leaf = !n->children[0];
        ASSERT_EQ(leaf, !n->children[1]);
        if (!leaf) {
            EXPECT_EQ(n->numFaces, 0);
            EXPECT_EQ(n->firstFace, 0);
            pending.push_back(n->children[0]);
            pending.push_back(n->children[1]);
            continue;
        }
        for (int f = n->firstFace; f < n->firstFace + n->numFaces; ++f) {
            ++covered[size_t(f)];
            for (uint32_t v : node.GetFace(uint32_t(f)).vertices) {
                const Vec3 d = node.GetVertex(v) - n->center;
                EXPECT_LE(std::fabs(d.x), n->extents.x + 1e-4f);
                EXPECT_LE(std::fabs(d.y), n->extents.y + 1e-4f);
                EXPECT_LE(std::fabs(d.z), n->extents.z + 1e-4f);
            }
        }
    }
    for (int c : covered)
        EXPECT_EQ(c, 1);
}

TEST(SceneModelNodeTest, TheCollisionTreePartitionsFacesAndIsOwnedOnce)
{
    // A strip of 64 triangles along X: it splits, and every leaf stays under 10 faces.
    ScenePhysicsNode strip;
    strip.SetNumVertices(66);
    for (uint32_t i = 0; i < 66; ++i)
        strip.SetVertex(i, Vec3(float(i / 2), 0, float(i % 2)));
    strip.SetNumFaces(64);
    for (uint32_t f = 0; f < 64; ++f)
        strip.SetFace(f, {{f, f + 1, f + 2}, f});
    strip.BuildTree();
    ExpectTreeInvariants(strip);
    EXPECT_NE(strip.GetRootNode()->children[0], nullptr);

    // Nine faces: one leaf. Faces with one centroid: no axis splits them, one leaf.
    ScenePhysicsNode nine = strip;
    nine.SetNumFaces(9);
    nine.BuildTree();
    EXPECT_EQ(nine.GetRootNode()->children[0], nullptr);
    EXPECT_EQ(nine.GetRootNode()->numFaces, 9);
    ScenePhysicsNode same;
    same.SetNumVertices(3);
    same.SetVertex(1, Vec3(1, 0, 0));
    same.SetVertex(2, Vec3(0, 1, 0));
    same.SetNumFaces(20);
    for (uint32_t f = 0; f < 20; ++f)
        same.SetFace(f, {{0, 1, 2}, f});
    same.BuildTree();
    EXPECT_EQ(same.GetRootNode()->children[0], nullptr);
    EXPECT_EQ(same.GetRootNode()->numFaces, 20);

    // Copies own trees of their own; an index past the vertices counts for nothing.
    ScenePhysicsNode copy = strip;
    ASSERT_NE(copy.GetRootNode(), nullptr);
    EXPECT_NE(copy.GetRootNode(), strip.GetRootNode());
    strip.BuildTree(); // frees the old tree; the copy's stays whole
    ExpectTreeInvariants(copy);
    copy = nine;
    EXPECT_EQ(copy.GetRootNode()->numFaces, 9);
    ScenePhysicsNode stray = strip;
    stray.SetFace(3, {{0, 1, 999}, 0});
    stray.BuildTree();
    EXPECT_TRUE(IsFiniteVec3(stray.GetRootNode()->center));
    ScenePhysicsNode none;
    none.BuildTree();
    EXPECT_EQ(none.GetRootNode()->extents, Vec3());

    // Reading a stream drops the tree built over the old faces.
    BinaryWriter writer(64);
    nine.Write(writer);
    BinaryReader reader(writer.GetBuffer(), writer.GetSize());
    ASSERT_TRUE(copy.Read(reader));
    EXPECT_EQ(copy.GetRootNode(), nullptr);
}

} // namespace
} // namespace GAME
