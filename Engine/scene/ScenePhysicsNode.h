// The collision geometry of a model (a model-building node, see SceneModelNode): triangles of three
// vertex indices and a value each, over a vertex list, with an optional box tree over them.
// BuildTree reorders the faces into tree order and builds the tree: a node with fewer than 10 faces
// is a leaf; a larger one splits its faces by whether their centroid lies above the mean of its
// vertices along the axis of the node's largest half-extent (then the next axes in turn, x, y, z)
// and stays a leaf when no axis splits them. Inner nodes hold no faces of their own (first face 0,
// count 0). Indices past the vertex list count for nothing in the boxes.
//
// Stream: the node's three strings, u32 face count, u32 vertex count, each face as four u32, each
// vertex as 3 floats. The tree is not stored; BuildTree makes it again.
//
// The node owns its tree: copies copy it, the destructor frees it, and nothing about it recurses.
#pragma once

#include "core/Vec3.h"
#include "scene/SceneModelNode.h"

#include <cstdint>
#include <vector>

namespace GAME {

class ScenePhysicsNode : public SceneModelNode
{
public:
    struct Face
    {
        uint32_t vertices[3] = {0, 0, 0};
        uint32_t value = 0;
    };

    struct TreeNode
    {
        Vec3 center;
        Vec3 extents;
        TreeNode* children[2] = {nullptr, nullptr}; // both null for a leaf
        int32_t firstFace = 0;
        int32_t numFaces = 0; // 0 for an inner node
    };

    static constexpr int32_t maxLeafFaces = 9;

    ScenePhysicsNode() = default;
    ScenePhysicsNode(const ScenePhysicsNode& other);
    ScenePhysicsNode& operator=(const ScenePhysicsNode& other);
    ~ScenePhysicsNode() override;

    Type GetType() const override { return TYPE_PHYSICS; }
    // Drops the tree: the faces it was built over are replaced.
    bool Read(BinaryReader& reader) override;
    void Write(BinaryWriter& writer) const override;

    uint32_t GetNumFaces() const { return static_cast<uint32_t>(m_faces.size()); }
    uint32_t GetNumVertices() const { return static_cast<uint32_t>(m_vertices.size()); }
    void SetNumFaces(uint32_t count) { m_faces.resize(count); }
    void SetNumVertices(uint32_t count) { m_vertices.resize(count); }
    void SetFace(uint32_t index, const Face& face) { m_faces[index] = face; }
    const Face& GetFace(uint32_t index) const { return m_faces[index]; }
    void SetVertex(uint32_t index, const Vec3& v) { m_vertices[index] = v; }
    const Vec3& GetVertex(uint32_t index) const { return m_vertices[index]; }

    // Null until BuildTree.
    const TreeNode* GetRootNode() const { return m_root; }
    void BuildTree();
    // Frees a subtree.
    static void DeleteNode(TreeNode* node);

private:
    // The box around the vertices of faces [first, first + count); zero for no vertices.
    void ComputeBox(TreeNode& node) const;
    // Splits a node's faces in two when some axis separates them.
    bool Split(TreeNode& node);
    float Coordinate(uint32_t vertex, int axis) const;

    std::vector<Face> m_faces;
    std::vector<Vec3> m_vertices;
    TreeNode* m_root = nullptr;
};

} // namespace GAME
