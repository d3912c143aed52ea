// The collision mesh of a model: triangles in the model's frame, each with a flag word that names
// its surface (a PhysicsSurface). A mesh file carries it as its chunk 2 (GraphicsMesh reads it);
// entities hand it out (GetPhysicsMesh) and the level's, terrain's and grid's queries collide
// boxes and cast rays against it. Nothing here depends on a physics library.
//
// Stored form (chunk 2 of a mesh file), little-endian, exactly this long:
//   4 bytes  magic "PMSH"
//   u32      version, 1
//   u32      vertex count V
//   u32      triangle count T
//   V x      three f32: a vertex position
//   T x      three u32 vertex indices (each below V), then the u32 flag word
// Initialize refuses anything else: another magic or version, counts beyond the bytes, trailing
// bytes, an index at or past V, a vertex that is not finite or has a coordinate beyond
// maxCoordinate.
//
// Filled once on the thread that loads the mesh; afterwards read-only, so any number of threads may
// query it.
#pragma once

#include "core/ABBox.h"
#include "core/OBBox.h"
#include "navigation/PhysicsTypes.h"

#include <cstdint>
#include <vector>

namespace GAME {

class Intersection;
class Ray;
struct CollisionContact;

class PhysicsMesh
{
public:
    static constexpr uint32_t fileMagic = 0x48534D50u; // "PMSH"
    static constexpr uint32_t fileVersion = 1;
    static constexpr unsigned headerSize = 16;
    static constexpr unsigned vertexSize = 12;
    static constexpr unsigned triangleSize = 16;
    // Coordinates a vertex may have, either sign: a million units is far beyond any model, and
    // keeps the products of the ray and box tests well inside a float.
    static constexpr float maxCoordinate = 1.0e6f;

    struct Triangle
    {
        uint32_t vertices[3] = {0, 0, 0};
        uint32_t flags = 0;
    };

    // An empty mesh: no triangles, a zero box.
    PhysicsMesh() = default;

    // Reads the stored form; false (one log line, the mesh left empty) when it is refused.
    bool Initialize(const void* data, unsigned size);

    int GetNumFaces() const { return static_cast<int>(m_triangles.size()); }
    // The three vertex indices of a face and its flag word.
    void GetFace(int index, int vertices[3], unsigned& flags) const;
    int GetNumVertices() const { return static_cast<int>(m_vertices.size()); }
    Vec3 GetVertex(int index) const { return m_vertices[static_cast<size_t>(index)]; }
    // The box around every vertex (all zero for an empty mesh).
    const ABBox& GetBoundingBox() const { return m_boundingBox; }

    // The nearest triangle the ray (in the mesh's frame) hits, either side: distance in units of
    // the ray's direction, point, and the triangle's flag word as the surface. A miss leaves the
    // distance at +infinity. Every triangle answers whatever surface is asked about.
    bool GetIntersection(const Ray& ray, Intersection& intersection,
                         PhysicsSurface surface = physicsSurfaceAny) const;
    // Contacts of a box given in the mesh's frame, written into contacts; answers the number written
    // (at most capacity). Each contact carries its triangle's flag word as its surface.
    int FindCollisions(const OBBox& box, CollisionContact* contacts, int capacity,
                       PhysicsSurface surface = physicsSurfaceAny) const;

private:
    void Clear();

    std::vector<Vec3> m_vertices;
    std::vector<Triangle> m_triangles;
    // Each triangle's box, for the cheap rejection of the box and ray queries.
    std::vector<ABBox> m_triangleBoxes;
    ABBox m_boundingBox;
};

} // namespace GAME
