// A mesh of a model (a model-building node, see SceneModelNode): faces, vertices, normals, texture
// coordinates, per-vertex bone influences and colours. Each face corner holds five indices whose
// meaning (which of them address vertices, normals, texture coordinates, colours and influences)
// is the model tools' convention; the node stores and streams them unchanged, as it does a face's
// last word.
//
// Stream: the node's three strings; six u32 counts (faces, vertices, normals, texture
// coordinates, influence lists, colours); each face as 17 u32 (for each corner its words 0, 1, 2,
// 4, 3 - the last two stored swapped - then the material index, then the last word); the vertices
// and normals (3 floats each), texture coordinates (2 floats each), influence lists (u32 count,
// then per influence u32 bone index and float weight), colours (4 floats each). A plain value.
#pragma once

#include "core/Color.h"
#include "core/Vec2.h"
#include "core/Vec3.h"
#include "scene/SceneModelNode.h"

#include <cstdint>
#include <vector>

namespace GAME {

class SceneMeshNode : public SceneModelNode
{
public:
    static constexpr uint32_t noMaterial = 0xFFFFFFFFu;

    struct Face
    {
        uint32_t corners[3][5] = {};
        uint32_t material = 0; // noMaterial: none
        uint32_t value = 0;
    };

    struct Influence
    {
        uint32_t bone = 0;
        float weight = 0.0f;
    };

    SceneMeshNode() = default;
    SceneMeshNode(const SceneMeshNode&) = default;
    SceneMeshNode& operator=(const SceneMeshNode&) = default;

    Type GetType() const override { return TYPE_MESH; }
    bool Read(BinaryReader& reader) override;
    void Write(BinaryWriter& writer) const override;

    uint32_t GetNumFaces() const { return static_cast<uint32_t>(m_faces.size()); }
    uint32_t GetNumVertices() const { return static_cast<uint32_t>(m_vertices.size()); }
    uint32_t GetNumNormals() const { return static_cast<uint32_t>(m_normals.size()); }
    uint32_t GetNumTextureCoords() const { return static_cast<uint32_t>(m_textureCoords.size()); }
    uint32_t GetNumInfluences() const { return static_cast<uint32_t>(m_influences.size()); }
    uint32_t GetNumColors() const { return static_cast<uint32_t>(m_colors.size()); }
    // New faces are all zero, new influence lists empty.
    void SetNumFaces(uint32_t count) { m_faces.resize(count); }
    void SetNumVertices(uint32_t count) { m_vertices.resize(count); }
    void SetNumNormals(uint32_t count) { m_normals.resize(count); }
    void SetNumTextureCoords(uint32_t count) { m_textureCoords.resize(count); }
    void SetNumColors(uint32_t count) { m_colors.resize(count); }
    void SetNumInfluences(uint32_t count) { m_influences.resize(count); }

    void SetFace(uint32_t index, const Face& face) { m_faces[index] = face; }
    const Face& GetFace(uint32_t index) const { return m_faces[index]; }
    void AppendFace(const Face& face) { m_faces.push_back(face); }
    void SetVertex(uint32_t index, const Vec3& v) { m_vertices[index] = v; }
    const Vec3& GetVertex(uint32_t index) const { return m_vertices[index]; }
    void SetNormal(uint32_t index, const Vec3& n) { m_normals[index] = n; }
    const Vec3& GetNormal(uint32_t index) const { return m_normals[index]; }
    void SetTextureCoord(uint32_t index, const Vec2& t) { m_textureCoords[index] = t; }
    const Vec2& GetTextureCoord(uint32_t index) const { return m_textureCoords[index]; }
    void SetColor(uint32_t index, const Color& c) { m_colors[index] = c; }
    const Color& GetColor(uint32_t index) const { return m_colors[index]; }
    void SetInfluences(uint32_t vertex, const std::vector<Influence>& list) { m_influences[vertex] = list; }
    const std::vector<Influence>& GetInfluences(uint32_t vertex) const { return m_influences[vertex]; }

    // Every face's material is noMaterial or below the count.
    bool CheckConsistency(uint32_t materialCount) const;

private:
    std::vector<Face> m_faces;
    std::vector<Vec3> m_vertices;
    std::vector<Vec3> m_normals;
    std::vector<Vec2> m_textureCoords;
    std::vector<std::vector<Influence>> m_influences;
    std::vector<Color> m_colors;
};

} // namespace GAME
