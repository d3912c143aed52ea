#include "scene/ScenePhysicsNode.h"

#include "core/MathUtil.h"
#include "data/BinaryReader.h"
#include "data/BinaryWriter.h"

#include <utility>

namespace GAME {

namespace {

ScenePhysicsNode::TreeNode* CopyTree(const ScenePhysicsNode::TreeNode* root)
{
    using TreeNode = ScenePhysicsNode::TreeNode;
    if (!root)
        return nullptr;
    TreeNode* copy = new TreeNode(*root);
    // Each entry: a copied node whose child pointers still point into the source tree.
    std::vector<TreeNode*> pending{copy};
    while (!pending.empty()) {
        TreeNode* node = pending.back();
        pending.pop_back();
        for (TreeNode*& child : node->children) {
            if (!child)
                continue;
            child = new TreeNode(*child);
            pending.push_back(child);
        }
    }
    return copy;
}

} // namespace

ScenePhysicsNode::ScenePhysicsNode(const ScenePhysicsNode& other)
    : SceneModelNode(other), m_faces(other.m_faces), m_vertices(other.m_vertices),
      m_root(CopyTree(other.m_root))
{
}

ScenePhysicsNode& ScenePhysicsNode::operator=(const ScenePhysicsNode& other)
{
    if (this == &other)
        return *this;
    SceneModelNode::operator=(other);
    m_faces = other.m_faces;
    m_vertices = other.m_vertices;
    TreeNode* root = CopyTree(other.m_root);
    DeleteNode(m_root);
    m_root = root;
    return *this;
}

ScenePhysicsNode::~ScenePhysicsNode()
{
    DeleteNode(m_root);
}

void ScenePhysicsNode::DeleteNode(TreeNode* node)
{
    std::vector<TreeNode*> pending;
    if (node)
        pending.push_back(node);
    while (!pending.empty()) {
        TreeNode* current = pending.back();
        pending.pop_back();
        for (TreeNode* child : current->children)
            if (child)
                pending.push_back(child);
        delete current;
    }
}

bool ScenePhysicsNode::Read(BinaryReader& reader)
{
    DeleteNode(m_root);
    m_root = nullptr;
    if (!SceneModelNode::Read(reader))
        return false;
    const uint32_t faceCount = reader.ReadUInt32();
    const uint32_t vertexCount = reader.ReadUInt32();
    if (reader.Failed() || uint64_t(faceCount) * 16 + uint64_t(vertexCount) * 12 > reader.GetRemaining()) {
        reader.Fail();
        return false;
    }
    m_faces.resize(faceCount);
    for (Face& face : m_faces) {
        for (uint32_t& v : face.vertices)
            v = reader.ReadUInt32();
        face.value = reader.ReadUInt32();
    }
    m_vertices.resize(vertexCount);
    for (Vec3& v : m_vertices)
        v = reader.ReadVec3();
    return !reader.Failed();
}

void ScenePhysicsNode::Write(BinaryWriter& writer) const
{
    SceneModelNode::Write(writer);
    writer.WriteUInt32(GetNumFaces());
    writer.WriteUInt32(GetNumVertices());
    for (const Face& face : m_faces) {
        for (uint32_t v : face.vertices)
            writer.WriteUInt32(v);
        writer.WriteUInt32(face.value);
    }
    for (const Vec3& v : m_vertices)
        writer.WriteVec3(v);
}

float ScenePhysicsNode::Coordinate(uint32_t vertex, int axis) const
{
    if (vertex >= m_vertices.size())
        return 0.0f;
    const Vec3& v = m_vertices[vertex];
    return axis == 0 ? v.x : axis == 1 ? v.y : v.z;
}

void ScenePhysicsNode::ComputeBox(TreeNode& node) const
{
    Vec3 lo(gInfinity, gInfinity, gInfinity);
    Vec3 hi(-gInfinity, -gInfinity, -gInfinity);
    bool any = false;
    for (int32_t f = node.firstFace; f < node.firstFace + node.numFaces; ++f) {
        for (uint32_t index : m_faces[static_cast<size_t>(f)].vertices) {
            if (index >= m_vertices.size())
                continue;
            lo = Vec3::Min(lo, m_vertices[index]);
            hi = Vec3::Max(hi, m_vertices[index]);
            any = true;
        }
    }
    if (!any) {
        node.center = Vec3();
        node.extents = Vec3();
        return;
    }
    node.center = (lo + hi) * 0.5f;
    node.extents = (hi - lo) * 0.5f;
}

bool ScenePhysicsNode::Split(TreeNode& node)
{
    const int32_t first = node.firstFace;
    const int32_t count = node.numFaces;
    int axis = 0;
    if (node.extents.y > node.extents.x)
        axis = 1;
    if (node.extents.z > (axis == 0 ? node.extents.x : node.extents.y))
        axis = 2;
    for (int attempt = 0; attempt < 3; ++attempt, axis = (axis + 1) % 3) {
        double sum = 0.0;
        for (int32_t f = first; f < first + count; ++f)
            for (uint32_t index : m_faces[static_cast<size_t>(f)].vertices)
                sum += Coordinate(index, axis);
        const float mean = static_cast<float>(sum / (3.0 * count));
        // Faces whose centroid lies above the mean go to the front.
        int32_t moved = 0;
        for (int32_t f = first; f < first + count; ++f) {
            const Face& face = m_faces[static_cast<size_t>(f)];
            const float centroid = (Coordinate(face.vertices[0], axis) + Coordinate(face.vertices[1], axis) +
                                    Coordinate(face.vertices[2], axis)) *
                                   0.33333334f;
            if (centroid > mean) {
                std::swap(m_faces[static_cast<size_t>(f)], m_faces[static_cast<size_t>(first + moved)]);
                ++moved;
            }
        }
        if (moved > 0 && moved < count) {
            TreeNode* low = new TreeNode;
            low->firstFace = first;
            low->numFaces = moved;
            TreeNode* high = new TreeNode;
            high->firstFace = first + moved;
            high->numFaces = count - moved;
            node.children[0] = low;
            node.children[1] = high;
            node.firstFace = 0;
            node.numFaces = 0;
            return true;
        }
    }
    return false;
}

void ScenePhysicsNode::BuildTree()
{
    DeleteNode(m_root);
    m_root = new TreeNode;
    m_root->firstFace = 0;
    m_root->numFaces = static_cast<int32_t>(m_faces.size());
    std::vector<TreeNode*> pending{m_root};
    while (!pending.empty()) {
        TreeNode* node = pending.back();
        pending.pop_back();
        ComputeBox(*node);
        if (node->numFaces <= maxLeafFaces || !Split(*node))
            continue;
        pending.push_back(node->children[1]);
        pending.push_back(node->children[0]);
    }
}

} // namespace GAME
