#include "navigation/PhysicsMesh.h"

#include "core/Intersect.h"
#include "core/Intersection.h"
#include "core/Log.h"
#include "data/BinaryReader.h"
#include "navigation/CollisionContact.h"

#include <cmath>

namespace GAME {

void PhysicsMesh::Clear()
{
    m_vertices.clear();
    m_triangles.clear();
    m_triangleBoxes.clear();
    m_boundingBox = ABBox();
}

bool PhysicsMesh::Initialize(const void* data, unsigned size)
{
    Clear();
    BinaryReader reader(data, data ? size : 0);
    const uint32_t magic = reader.ReadUInt32();
    const uint32_t version = reader.ReadUInt32();
    const uint32_t vertexCount = reader.ReadUInt32();
    const uint32_t triangleCount = reader.ReadUInt32();
    if (reader.Failed() || magic != fileMagic || version != fileVersion) {
        LogPrintf(1, "Physics mesh data has no valid header");
        return false;
    }
    const uint64_t expected = uint64_t(vertexCount) * vertexSize + uint64_t(triangleCount) * triangleSize;
    if (expected != reader.GetRemaining()) {
        LogPrintf(1, "Physics mesh data holds %u bytes where %u vertices and %u triangles need %llu",
                  reader.GetRemaining(), vertexCount, triangleCount,
                  static_cast<unsigned long long>(expected));
        return false;
    }
    m_vertices.resize(vertexCount);
    Vec3 lo(gInfinity, gInfinity, gInfinity);
    Vec3 hi(-gInfinity, -gInfinity, -gInfinity);
    for (Vec3& v : m_vertices) {
        v = reader.ReadVec3();
        // Far beyond any model, and near enough the float limit that the queries' products
        // overflow: a ray would hit at infinity.
        if (!IsFiniteVec3(v) || std::fabs(v.x) > maxCoordinate || std::fabs(v.y) > maxCoordinate ||
            std::fabs(v.z) > maxCoordinate) {
            LogPrintf(1, "Physics mesh data has a vertex (%g, %g, %g) that is not finite or lies beyond %g",
                      static_cast<double>(v.x), static_cast<double>(v.y), static_cast<double>(v.z),
                      static_cast<double>(maxCoordinate));
            Clear();
            return false;
        }
        lo = Vec3::Min(lo, v);
        hi = Vec3::Max(hi, v);
    }
    m_triangles.resize(triangleCount);
    m_triangleBoxes.resize(triangleCount);
    for (size_t i = 0; i < m_triangles.size(); ++i) {
        Triangle& t = m_triangles[i];
        for (uint32_t& index : t.vertices) {
            index = reader.ReadUInt32();
            if (index >= vertexCount) {
                LogPrintf(1, "Physics mesh data has a triangle naming vertex %u of %u", index, vertexCount);
                Clear();
                return false;
            }
        }
        t.flags = reader.ReadUInt32();
        const Vec3& a = m_vertices[t.vertices[0]];
        const Vec3& b = m_vertices[t.vertices[1]];
        const Vec3& c = m_vertices[t.vertices[2]];
        m_triangleBoxes[i] = ABBox::FromMinMax(Vec3::Min(a, Vec3::Min(b, c)), Vec3::Max(a, Vec3::Max(b, c)));
    }
    if (!m_vertices.empty())
        m_boundingBox = ABBox::FromMinMax(lo, hi);
    return true;
}

void PhysicsMesh::GetFace(int index, int vertices[3], unsigned& flags) const
{
    const Triangle& t = m_triangles[static_cast<size_t>(index)];
    for (int k = 0; k < 3; ++k)
        vertices[k] = static_cast<int>(t.vertices[k]);
    flags = t.flags;
}

bool PhysicsMesh::GetIntersection(const Ray& ray, Intersection& intersection, PhysicsSurface) const
{
    intersection.distance = gInfinity;
    if (m_triangles.empty() || m_boundingBox.GetIntersection(ray) == gInfinity)
        return false;
    for (size_t i = 0; i < m_triangles.size(); ++i) {
        if (m_triangleBoxes[i].GetIntersection(ray) >= intersection.distance)
            continue;
        const Triangle& t = m_triangles[i];
        Vec3 point;
        const float d = IntersectRayTriangle(ray.origin, ray.direction, m_vertices[t.vertices[0]],
                                             m_vertices[t.vertices[1]], m_vertices[t.vertices[2]], point);
        if (d >= 0.0f && d < intersection.distance) {
            intersection.distance = d;
            intersection.point = point;
            intersection.surface = t.flags;
        }
    }
    return intersection.distance != gInfinity;
}

int PhysicsMesh::FindCollisions(const OBBox& box, CollisionContact* contacts, int capacity,
                                PhysicsSurface) const
{
    if (!contacts || capacity <= 0 || m_triangles.empty())
        return 0;
    const ABBox bounds = ABBox::FromOBBox(box);
    if (!ABBoxesOverlap(bounds, m_boundingBox))
        return 0;
    int count = 0;
    for (size_t i = 0; i < m_triangles.size() && count < capacity; ++i) {
        if (!ABBoxesOverlap(bounds, m_triangleBoxes[i]))
            continue;
        const Triangle& t = m_triangles[i];
        const Vec3 corners[3] = {m_vertices[t.vertices[0]], m_vertices[t.vertices[1]],
                                 m_vertices[t.vertices[2]]};
        const int n = CollideOBBoxTriangle(corners, box, contacts + count, capacity - count);
        for (int k = 0; k < n; ++k)
            contacts[count + k].surface = t.flags;
        count += n;
    }
    return count;
}

} // namespace GAME
