// Reads any bytes as a model node stream of every node kind and as a model material: no crash, no
// hang; a stream a node accepts writes out and reads back to the same bytes, and a collision node's
// tree covers every face once.
#include "common/FuzzSeeds.h"
#include "common/QuietLog.h"
#include "core/Log.h"
#include "data/BinaryReader.h"
#include "data/BinaryWriter.h"
#include "scene/SceneDummyNode.h"
#include "scene/SceneHitBoxNode.h"
#include "scene/SceneMeshNode.h"
#include "scene/SceneModelMaterial.h"
#include "scene/ScenePhysicsNode.h"

#include <cstdlib>
#include <memory>

namespace {

using namespace GAME;

template <class T> std::vector<uint8_t> Bytes(const T& item)
{
    BinaryWriter writer(64);
    item.Write(writer);
    return std::vector<uint8_t>(writer.GetBuffer(), writer.GetBuffer() + writer.GetSize());
}

// Reads the item from the bytes; when it is accepted, its stream must read back identically.
// Answers whether it was.
template <class T> bool RoundTrip(const uint8_t* data, size_t size)
{
    BinaryReader reader(data, static_cast<unsigned>(size));
    T item;
    if (!item.Read(reader))
        return false;
    const std::vector<uint8_t> once = Bytes(item);
    BinaryReader again(once.data(), static_cast<unsigned>(once.size()));
    T copy;
    if (!copy.Read(again) || !again.AtEnd() || Bytes(copy) != once)
        std::abort();
    return true;
}

void CheckTree(ScenePhysicsNode& node)
{
    node.BuildTree();
    std::vector<int> covered(node.GetNumFaces(), 0);
    std::vector<const ScenePhysicsNode::TreeNode*> pending{node.GetRootNode()};
    while (!pending.empty()) {
        const ScenePhysicsNode::TreeNode* n = pending.back();
        pending.pop_back();
        if (n->children[0]) {
            if (!n->children[1] || n->numFaces != 0)
                std::abort();
            pending.push_back(n->children[0]);
            pending.push_back(n->children[1]);
            continue;
        }
        for (int f = n->firstFace; f < n->firstFace + n->numFaces; ++f)
            ++covered.at(size_t(f));
    }
    for (int c : covered)
        if (c != 1)
            std::abort();
    ScenePhysicsNode copy = node; // a tree of its own
    copy.BuildTree();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzLog::Silence();
    // Some kind of node (or the material) takes a stream that one of them wrote.
    bool taken = RoundTrip<SceneDummyNode>(data, size);
    taken = RoundTrip<SceneHitBoxNode>(data, size) || taken;
    taken = RoundTrip<SceneMeshNode>(data, size) || taken;
    taken = RoundTrip<ScenePhysicsNode>(data, size) || taken;
    // Material streams read type 12 and 13 as 9 and 11: one more round settles them.
    BinaryReader reader(data, static_cast<unsigned>(size));
    SceneModelMaterial material;
    if (material.Read(reader)) {
        taken = true;
        const std::vector<uint8_t> once = Bytes(material);
        RoundTrip<SceneModelMaterial>(once.data(), once.size());
    }
    BinaryReader physicsReader(data, static_cast<unsigned>(size));
    ScenePhysicsNode physics;
    if (physics.Read(physicsReader) && physics.GetNumFaces() <= 4096)
        CheckTree(physics);
    if (taken)
        FuzzAccepted();
    return 0;
}

void EngineFuzzSeeds(FuzzSeedSink& sink)
{
    SceneDummyNode dummy;
    dummy.SetName("Muzzle");
    dummy.SetCoords(Coords::Translation(Vec3(0, 1, 2)));
    sink.Add("dummy", Bytes(dummy));
    SceneHitBoxNode box;
    box.SetName("Torso");
    box.SetParentName("Spine");
    box.SetExtents(Vec3(1, 2, 3));
    sink.Add("hitbox", Bytes(box));
    SceneMeshNode mesh;
    mesh.SetName("Body");
    mesh.SetNumVertices(3);
    mesh.SetNumNormals(3);
    mesh.SetNumTextureCoords(3);
    mesh.SetNumInfluences(3);
    mesh.SetInfluences(0, {{1, 0.5f}, {2, 0.5f}});
    mesh.SetNumColors(1);
    SceneMeshNode::Face face;
    face.corners[0][3] = 1;
    face.corners[2][4] = 2;
    mesh.AppendFace(face);
    sink.Add("mesh", Bytes(mesh));
    ScenePhysicsNode physics;
    physics.SetNumVertices(40);
    for (uint32_t i = 0; i < 40; ++i)
        physics.SetVertex(i, Vec3(float(i % 7), float(i / 7), float(i % 3)));
    physics.SetNumFaces(30);
    for (uint32_t f = 0; f < 30; ++f)
        physics.SetFace(f, {{f, f + 3, f + 9}, f});
    sink.Add("physics", Bytes(physics));
    SceneModelMaterial material;
    material.SetShaderName("Shaders/Standard.ssh");
    material.SetNumParameters(4);
    material.GetParameter(0) = {"base", ShaderParam::TYPE_TEXTURE, "Textures/Base.tex", false, 0, {}};
    material.GetParameter(1) = {"tint", ShaderParam::TYPE_FLOAT3_ALT, "", false, 0, {1, 2, 3}};
    material.GetParameter(2) = {"frame", ShaderParam::TYPE_FLOAT4X4, "", false, 0, {}};
    material.GetParameter(3) = {"on", ShaderParam::TYPE_BOOL, "", true, 0, {}};
    sink.Add("material", Bytes(material));
}
