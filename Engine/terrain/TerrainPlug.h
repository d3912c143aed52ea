// A free piece of ground geometry that a terrain owns beside its blocks: triangles that fill part
// of the surface the height field does not draw itself (where the editor cut the ground around a
// placed tile). The editable terrain builds plugs and writes them into the run-time terrain file,
// which reads them back. A plug is kept in its terrain's tree and drawn as a renderable with the
// terrain's layer shader, one pass per layer that touches it (TerrainLayeredObject), so that it
// carries the painted layers of the ground around it; its solid pass takes the fog as the ground's
// does.
//
// Positions are held in terrain space (X and Y along the terrain's sample axes, Z the height) and
// used in region space as (X, Z, Y); normals are in region space.
//
// File form of one plug (little-endian): u32 triangle count T (at most 21,845, so that its indices
// fit 16 bits), T x 3 vertices of six f32 (position, normal), u32 layer count L, L x u32 layer
// indices. Read refuses anything else (more triangles, counts beyond the bytes, vertices that are
// not finite).
//
// Owned by its terrain; keeps the terrain, not owned. Read runs where the terrain loads; everything
// else on the main thread.
#pragma once

#include "core/Vec3.h"
#include "terrain/TerrainLayeredObject.h"

#include <cstdint>
#include <utility>
#include <vector>

namespace GAME {

class BinaryReader;
class BinaryWriter;
class Mat4;
class RenderIndexBuffer;
class RenderVertexBuffer;
class RenderVertexDeclaration;

class TerrainPlug : public TerrainLayeredObject
{
    GAME_DECLARE_CLASS(TerrainPlug)

public:
    // Three 16-bit indices a triangle.
    static constexpr uint32_t maxTriangles = 21845;

    struct Vertex
    {
        Vec3 position; // terrain space
        Vec3 normal;   // region space
    };
    static_assert(sizeof(Vertex) == 24, "a plug vertex is six floats");

    struct Triangle
    {
        Vertex vertices[3];
    };
    using Edge = std::pair<Vertex, Vertex>;

    TerrainPlug();
    ~TerrainPlug() override;

    void Write(BinaryWriter& writer) const;
    // The file form; false (the plug left empty, one log line) on bad data.
    bool Read(BinaryReader& reader);
    // False when the plug holds the most triangles its indices can reach, or the triangle is not
    // finite.
    bool AddTriangle(const Triangle& triangle);
    void UpdateBoundingBox();
    // Vertex and index buffers from the triangles (none for a plug without triangles) and the box.
    void CreateRenderData();
    void ReleaseRenderData();
    // The plug's outline: every directed triangle edge whose reverse no triangle has.
    void ComputeBoundaryEdges();

    uint32_t GetNumTriangles() const { return static_cast<uint32_t>(m_triangles.size()); }
    const Triangle& GetTriangle(uint32_t index) const { return m_triangles[index]; }
    const std::vector<Edge>& GetBoundaryEdges() const { return m_boundaryEdges; }
    RenderVertexBuffer* GetVertexBuffer() const { return m_vertexBuffer; }
    RenderIndexBuffer* GetIndexBuffer() const { return m_indexBuffer; }

    // ---- TerrainObject ----
    void GetIntersection(const Ray& ray, Intersection& intersection, PhysicsSurface surface) const override;
    void FindCollisionBoxes(TerrainBase& terrain, std::vector<CollisionBox>& boxes,
                            PhysicsSurface surface) override;
    int FindCollisions(TerrainBase& terrain, const OBBox& box, CollisionContact* contacts, int maximum,
                       PhysicsSurface surface) override;
    void PreDeviceReset() override;
    void PostDeviceReset() override;

    // ---- GraphicsRenderable ----
    using TerrainLayeredObject::RenderPass;
    void RenderPass(const RenderablePass& pass, const Name& style, GraphicsCanvas& canvas,
                    const TerrainRenderContext& context) override;
    void LogInfo() const override;

    // A plug position in region space.
    static Vec3 ToRegion(const Vec3& position) { return Vec3(position.x, position.z, position.y); }

private:
    // The triangle's corners in region space, in reverse order (front faces up).
    void GetRegionTriangle(const Triangle& triangle, Vec3 corners[3]) const;

    std::vector<Edge> m_boundaryEdges;
    uint32_t m_numVertices = 0;
    uint32_t m_numTriangles = 0;
    RenderVertexBuffer* m_vertexBuffer = nullptr;
    RenderVertexDeclaration* m_vertexDeclaration = nullptr;
    RenderIndexBuffer* m_indexBuffer = nullptr;
    std::vector<Triangle> m_triangles;
};

// Orders points by x, then y, then z.
bool IsEdgeLess(const Vec3& a, const Vec3& b);
// Orders edges by their first end point, then their second (IsEdgeLess).
bool IsEdgePairLess(const TerrainPlug::Edge& a, const TerrainPlug::Edge& b);

} // namespace GAME
