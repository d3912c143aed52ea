#include "world/Decal.h"

#include "core/Intersection.h"
#include "core/Log.h"
#include "core/MathUtil.h"
#include "core/Ray.h"
#include "core/Sphere.h"
#include "data/LoadTable.h"
#include "navigation/PhysicsMesh.h"
#include "scene/GraphicsSceneRenderer.h"
#include "scene/RenderablePass.h"
#include "world/Level.h"
#include "world/Region.h"
#include "world/WorldServices.h"

#include <algorithm>
#include <climits>
#include <cmath>

namespace GAME {

GAME_REGISTER_CLASS(Decal, Entity)

namespace {

constexpr float kMoveTolerance = 0.0001f;
// Faces seen this edge-on from the projection axis are dropped.
constexpr float kMinFacing = 0.05f;
// The ground is sampled about once a unit.
constexpr float kGroundSpacing = 1.0f;

bool Moved(const WorldCoords& a, const WorldCoords& b)
{
    const Vec3 shift = a.GetRegion() || b.GetRegion()
                           ? a.GetOrigin() - b.GetOrigin()
                           : a.GetOrigin().GetRegionPosition() - b.GetOrigin().GetRegionPosition();
    // +infinity across a missing region, and NaN, count as moved.
    if (!(shift.Length() <= kMoveTolerance))
        return true;
    return !((a.GetXAxis() - b.GetXAxis()).Length() <= kMoveTolerance) ||
           !((a.GetYAxis() - b.GetYAxis()).Length() <= kMoveTolerance) ||
           !((a.GetZAxis() - b.GetZAxis()).Length() <= kMoveTolerance);
}

// The frame with orthonormal axes that keep the direction of Y first (the projection axis), then
// of X; false when the axes cannot give one.
bool ProjectionFrame(const Coords& in, Coords& out)
{
    const float ly = in.yAxis.Length();
    if (!(ly > 1e-6f) || !IsFiniteVec3(in.origin))
        return false;
    const Vec3 y = in.yAxis / ly;
    Vec3 x = in.xAxis - in.xAxis.ProjectOnto(y);
    const float lx = x.Length();
    x = lx > 1e-6f ? x / lx : y.GetPerpendicular();
    Vec3 z = Vec3::Cross(x, y);
    if (Vec3::Dot(z, in.zAxis) < 0.0f)
        z = -z;
    out = Coords(x, y, z, in.origin);
    return IsFiniteVec3(x) && IsFiniteVec3(z);
}

// Keeps the part of the polygon where the coordinate `axis` times sign is at most limit.
void ClipPolygon(std::vector<Vec3>& polygon, int axis, float sign, float limit, std::vector<Vec3>& scratch)
{
    scratch.clear();
    const size_t n = polygon.size();
    auto value = [&](const Vec3& p) { return sign * (axis == 0 ? p.x : axis == 1 ? p.y : p.z) - limit; };
    for (size_t i = 0; i < n; ++i) {
        const Vec3& a = polygon[i];
        const Vec3& b = polygon[(i + 1) % n];
        const float da = value(a), db = value(b);
        if (da <= 0.0f)
            scratch.push_back(a);
        if ((da < 0.0f && db > 0.0f) || (da > 0.0f && db < 0.0f))
            scratch.push_back(a + (b - a) * (da / (da - db)));
    }
    polygon.swap(scratch);
}

} // namespace

Decal::Decal() : EffectGeometryEntity(2000)
{
    CreateVertexFormat();
}

void Decal::Load(const LoadTable& constTable)
{
    LoadTable& table = const_cast<LoadTable&>(constTable);
    m_textureName = table.GetValue("texture", "Sandbox/Varnel/ParticleTest.tex");
    ReplaceTexture(m_textureName);
    m_size = table.GetFloat("size", 1.0f);
    m_beginFade = table.GetFloat("beginFadeSeconds", 30.0f);
    m_endFade = table.GetFloat("endFadeSeconds", 45.0f);
    m_opacity = table.GetFloat("opacity", 1.0f);
    ReplaceShader(table.GetValue("shader", "Shaders/Effects/DecalCombine.ssh"));
    m_loaded = true;
    m_fades = m_beginFade != 0.0f || m_endFade != 0.0f;
}

void Decal::UpdateSelf(int elapsed)
{
    Entity::UpdateSelf(elapsed);
    const WorldCoords current = GetCoords();
    if (Moved(current, m_geometryCoords)) {
        m_geometryCoords = current;
        CreateGeometry();
    }
    if (!m_fades)
        return;
    if (elapsed > 0)
        m_age = elapsed > INT_MAX - m_age ? INT_MAX : m_age + elapsed;
    if (!(static_cast<float>(m_age) * 0.001f >= m_endFade))
        return;
    m_fades = false;
    LeaveWorld();
}

float Decal::GetOpacity() const
{
    // A decal that never fades never ages either: it shows as it is.
    if (m_beginFade == 0.0f && m_endFade == 0.0f)
        return m_opacity;
    const float t = static_cast<float>(m_age) * 0.001f;
    if (t < m_beginFade)
        return m_age < 100 ? m_opacity * static_cast<float>(m_age) * 0.01f : m_opacity;
    if (m_beginFade == m_endFade)
        return 0.0f;
    const float f = 1.0f - (t - m_beginFade) / (m_endFade - m_beginFade);
    return m_opacity * std::clamp(std::isfinite(f) ? f : 0.0f, 0.0f, 1.0f);
}

void Decal::UpdateBoundingBox()
{
    const Vec3 center = GetCoords().GetOrigin().GetRegionPosition();
    SetRegionBoundingBox(ABBox(center, Vec3(m_size, m_size, m_size)));
}

void Decal::AddToScene(GraphicsSceneRenderer& renderer, const Frustum*)
{
    if (renderer.IsRenderFlagSet(GraphicsSceneRenderer::RENDER_DECALS))
        renderer.AddRenderable(this, GetRegion());
}

void Decal::GetIntersection(const Ray& ray, Intersection& intersection, PhysicsSurface surface) const
{
    intersection.distance = gInfinity;
    if (surface == 0 || !WorldServices::EditorMode())
        return;
    const Vec3 position = GetCoords().GetOrigin().GetRegionPosition();
    const float distance = Sphere(position, m_size).IntersectRay(ray);
    intersection.distance = distance;
    if (distance != gInfinity) {
        intersection.surface = 0;
        intersection.point = ray.GetPoint(distance);
    }
}

void Decal::LogInfo() const
{
    LogPrintf(0, "Decal:");
    Entity::LogInfo();
    LogPrintf(0, "   Size: %f", static_cast<double>(m_size));
    LogPrintf(0, "   TextureFile: %s", m_textureName.c_str());
}

// ---------------------------------------------------------------------------------------------
// Faces
// ---------------------------------------------------------------------------------------------

void Decal::CreateGeometry()
{
    m_faces.clear();
    m_faceLimitLogged = false;
    Region* region = m_geometryCoords.GetRegion();
    if (!region || !(m_size > 0.0f) || !std::isfinite(m_size) ||
        !ProjectionFrame(m_geometryCoords.GetRegionCoords(), m_buildFrame))
        return;
    const Coords& f = m_buildFrame;
    const Vec3 extents(m_size * (std::fabs(f.xAxis.x) + std::fabs(f.yAxis.x) + std::fabs(f.zAxis.x)),
                       m_size * (std::fabs(f.xAxis.y) + std::fabs(f.yAxis.y) + std::fabs(f.zAxis.y)),
                       m_size * (std::fabs(f.xAxis.z) + std::fabs(f.yAxis.z) + std::fabs(f.zAxis.z)));
    // A size near the float limit leaves no box to lay the patch in.
    if (!IsFiniteVec3(extents))
        return;
    const ABBox box(f.origin, extents);
    const Level* level = region->GetLevelPtr();

    // The ground under the box: a grid of height samples, two triangles a cell, wound to face up.
    // Held to maxGroundCells before it becomes an int: a record's size may be far beyond its range.
    const float wanted = std::ceil(2.0f * std::max(extents.x, extents.z) / kGroundSpacing);
    const int cells =
        wanted < static_cast<float>(maxGroundCells) ? std::max(1, static_cast<int>(wanted)) : maxGroundCells;
    const float x0 = f.origin.x - extents.x, z0 = f.origin.z - extents.z;
    const float dx = 2.0f * extents.x / static_cast<float>(cells);
    const float dz = 2.0f * extents.z / static_cast<float>(cells);
    std::vector<float> heights(static_cast<size_t>((cells + 1) * (cells + 1)));
    for (int j = 0; j <= cells; ++j)
        for (int i = 0; i <= cells; ++i) {
            const float x = x0 + dx * static_cast<float>(i), z = z0 + dz * static_cast<float>(j);
            heights[static_cast<size_t>(j * (cells + 1) + i)] = level ? level->GetGroundHeight(x, z) : 0.0f;
        }
    auto sample = [&](int i, int j) {
        return Vec3(x0 + dx * static_cast<float>(i), heights[static_cast<size_t>(j * (cells + 1) + i)],
                    z0 + dz * static_cast<float>(j));
    };
    for (int j = 0; j < cells; ++j)
        for (int i = 0; i < cells; ++i) {
            const Vec3 p00 = sample(i, j), p10 = sample(i + 1, j), p11 = sample(i + 1, j + 1),
                       p01 = sample(i, j + 1);
            AddClippedTriangle(p00, p01, p11);
            AddClippedTriangle(p00, p11, p10);
        }

    // The collision meshes of the level's entities inside the box.
    if (!level)
        return;
    std::vector<Entity*> entities;
    level->GetEntitiesInBox(entities, box, ENTITY_LIST_ALL);
    for (Entity* entity : entities) {
        if (entity == this || entity->GetClassInfo().IsA(Decal::GetStaticClassInfo()))
            continue;
        const PhysicsMesh* mesh = entity->GetPhysicsMesh();
        if (!mesh || entity->GetRegion() != region)
            continue;
        const Coords placement = entity->GetCoords().GetRegionCoords();
        const int numVertices = mesh->GetNumVertices();
        for (int k = 0; k < mesh->GetNumFaces(); ++k) {
            if (m_faceLimitLogged)
                return;
            int index[3];
            unsigned flags = 0;
            mesh->GetFace(k, index, flags);
            if (index[0] < 0 || index[1] < 0 || index[2] < 0 || index[0] >= numVertices ||
                index[1] >= numVertices || index[2] >= numVertices)
                continue;
            const Vec3 a = placement.TransformPoint(mesh->GetVertex(index[0]));
            const Vec3 b = placement.TransformPoint(mesh->GetVertex(index[1]));
            const Vec3 c = placement.TransformPoint(mesh->GetVertex(index[2]));
            const Vec3 lo = Vec3::Min(a, Vec3::Min(b, c)), hi = Vec3::Max(a, Vec3::Max(b, c));
            const Vec3 boxLo = box.center - box.extents, boxHi = box.center + box.extents;
            if (hi.x < boxLo.x || hi.y < boxLo.y || hi.z < boxLo.z || lo.x > boxHi.x || lo.y > boxHi.y ||
                lo.z > boxHi.z)
                continue;
            AddClippedTriangle(a, b, c);
        }
    }
}

void Decal::AddClippedTriangle(const Vec3& a, const Vec3& b, const Vec3& c)
{
    if (m_faceLimitLogged)
        return;
    Vec3 normal = Vec3::Cross(b - a, c - a);
    const float length = normal.Length();
    if (!(length > 1e-12f) || !std::isfinite(length))
        return;
    normal = normal / length;
    const Coords& frame = m_buildFrame;
    const float facing = Vec3::Dot(normal, frame.yAxis);
    if (std::fabs(facing) < kMinFacing)
        return;

    // Clipped in the decal's space, where the box is |x|, |y|, |z| <= size.
    const Coords toLocal = frame.Inverse();
    std::vector<Vec3> polygon = {toLocal.TransformPoint(a), toLocal.TransformPoint(b),
                                 toLocal.TransformPoint(c)};
    if (facing < 0.0f)
        std::swap(polygon[1], polygon[2]);
    std::vector<Vec3> scratch;
    for (int axis = 0; axis < 3 && polygon.size() >= 3; ++axis) {
        ClipPolygon(polygon, axis, 1.0f, m_size, scratch);
        if (polygon.size() >= 3)
            ClipPolygon(polygon, axis, -1.0f, m_size, scratch);
    }
    if (polygon.size() < 3)
        return;

    const Vec3 lift = frame.yAxis * surfaceOffset;
    for (size_t k = 1; k + 1 < polygon.size(); ++k) {
        if (!HasRoomForFace())
            return;
        DecalFace face;
        face.corners[0] = frame.TransformPoint(polygon[0]) + lift;
        face.corners[1] = frame.TransformPoint(polygon[k]) + lift;
        face.corners[2] = frame.TransformPoint(polygon[k + 1]) + lift;
        MapFace(face);
        m_faces.push_back(face);
    }
}

bool Decal::HasRoomForFace()
{
    if (static_cast<int>(m_faces.size()) < maxFaces)
        return true;
    if (!m_faceLimitLogged) {
        m_faceLimitLogged = true;
        LogPrintf(0, "Decal %s: the surfaces under it give more than %d faces; the rest are left out",
                  GetObjectName().c_str(), maxFaces);
    }
    return false;
}

void Decal::MapFace(DecalFace& face) const
{
    const Vec3 normal = Vec3::Cross(face.corners[1] - face.corners[0], face.corners[2] - face.corners[0]);
    const float length = normal.Length();
    face.normal = length > 0.0f ? normal / length : m_buildFrame.yAxis;
    const Coords toLocal = m_buildFrame.Inverse();
    const float scale = m_size > 0.0f ? 0.5f / m_size : 0.0f;
    for (int k = 0; k < 3; ++k) {
        const Vec3 local = toLocal.TransformPoint(face.corners[k]);
        face.uv[k][0] = 0.5f + local.x * scale;
        face.uv[k][1] = 0.5f + local.z * scale;
    }
}

// ---------------------------------------------------------------------------------------------
// Rendering
// ---------------------------------------------------------------------------------------------

bool Decal::BuildGeometry(const Coords& regionToScene, std::vector<EffectVertex>& vertices,
                          std::vector<uint32_t>& indices) const
{
    vertices.clear();
    indices.clear();
    if (m_faces.empty())
        return false;
    const uint32_t color = EffectGeometry::PackColor(Color(1.0f, 1.0f, 1.0f, GetOpacity()));
    const size_t count = std::min(m_faces.size(), static_cast<size_t>(maxFaces));
    vertices.reserve(count * 3);
    indices.reserve(count * 3);
    static const int order[3] = {0, 2, 1};
    for (size_t i = 0; i < count; ++i) {
        const DecalFace& face = m_faces[i];
        for (int corner : order) {
            EffectVertex v;
            v.position = regionToScene.TransformPoint(face.corners[corner]);
            v.color = color;
            v.u = face.uv[corner][0];
            v.v = face.uv[corner][1];
            indices.push_back(static_cast<uint32_t>(vertices.size()));
            vertices.push_back(v);
        }
    }
    return true;
}

void Decal::RenderPass(const RenderablePass& pass, const Name&, GraphicsCanvas& canvas,
                       const GraphicsSceneRenderer& renderer)
{
    std::vector<EffectVertex> vertices;
    std::vector<uint32_t> indices;
    if (BuildGeometry(pass.regionToScene, vertices, indices))
        DrawGeometry(canvas, renderer, vertices, indices);
}

} // namespace GAME
