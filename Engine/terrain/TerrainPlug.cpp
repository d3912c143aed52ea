#include "terrain/TerrainPlug.h"

#include "core/Intersect.h"
#include "core/Intersection.h"
#include "core/Log.h"
#include "core/Mat4.h"
#include "core/MathUtil.h"
#include "core/OBBox.h"
#include "core/Ray.h"
#include "data/BinaryReader.h"
#include "data/BinaryWriter.h"
#include "graphics/GraphicsShader2.h"
#include "graphics/RenderDevice.h"
#include "graphics/RenderIndexBuffer.h"
#include "graphics/RenderVertexBuffer.h"
#include "navigation/CollisionContact.h"
#include "scene/GraphicsSceneRenderer.h"
#include "terrain/TerrainBase.h"
#include "terrain/TerrainRenderInterfaceBase.h"

#include <algorithm>
#include <cfloat>
#include <cstring>
#include <set>

namespace GAME {

GAME_REGISTER_CLASS(TerrainPlug, TerrainObject)

namespace {

bool IsFiniteVertex(const TerrainPlug::Vertex& v)
{
    return IsFiniteVec3(v.position) && IsFiniteVec3(v.normal);
}

} // namespace

bool IsEdgeLess(const Vec3& a, const Vec3& b)
{
    if (a.x != b.x)
        return a.x < b.x;
    if (a.y != b.y)
        return a.y < b.y;
    return a.z < b.z;
}

bool IsEdgePairLess(const TerrainPlug::Edge& a, const TerrainPlug::Edge& b)
{
    if (IsEdgeLess(a.first.position, b.first.position))
        return true;
    if (IsEdgeLess(b.first.position, a.first.position))
        return false;
    return IsEdgeLess(a.second.position, b.second.position);
}

TerrainPlug::TerrainPlug() : TerrainLayeredObject(true) {}

TerrainPlug::~TerrainPlug()
{
    RenderDevice* device = TerrainBase::GetRenderDevice();
    ReleaseRenderData();
    if (m_vertexDeclaration && device)
        device->DestroyVertexDeclaration(&m_vertexDeclaration);
}

// ---- File form ----------------------------------------------------------------------------------

void TerrainPlug::Write(BinaryWriter& writer) const
{
    writer.WriteUInt32(static_cast<uint32_t>(m_triangles.size()));
    if (!m_triangles.empty())
        writer.WriteBytes(m_triangles.data(), static_cast<unsigned>(m_triangles.size() * sizeof(Triangle)));
    writer.WriteUInt32(static_cast<uint32_t>(m_layers.size()));
    for (unsigned layer : m_layers)
        writer.WriteUInt32(layer);
}

bool TerrainPlug::Read(BinaryReader& reader)
{
    m_triangles.clear();
    m_layers.clear();
    m_numTriangles = m_numVertices = 0;
    const uint32_t triangles = reader.ReadUInt32();
    if (reader.Failed())
        return false;
    if (triangles > maxTriangles) {
        LogPrintf(1, "TerrainPlug: %u triangles are more than 16-bit indices reach", triangles);
        return false;
    }
    if (!reader.CheckCount(triangles, sizeof(Triangle), "plug triangles"))
        return false;
    m_triangles.resize(triangles);
    if (triangles &&
        !reader.ReadBytes(m_triangles.data(), static_cast<unsigned>(triangles * sizeof(Triangle))))
        return false;
    for (const Triangle& triangle : m_triangles)
        for (const Vertex& vertex : triangle.vertices)
            if (!IsFiniteVertex(vertex)) {
                LogPrintf(1, "TerrainPlug: a vertex is not finite");
                m_triangles.clear();
                return false;
            }
    const uint32_t layers = reader.ReadUInt32();
    if (reader.Failed() || !reader.CheckCount(layers, 4, "plug layers")) {
        m_triangles.clear();
        return false;
    }
    m_layers.resize(layers);
    for (uint32_t i = 0; i < layers; ++i)
        m_layers[i] = reader.ReadUInt32();
    m_numTriangles = triangles;
    m_numVertices = 3 * triangles;
    return !reader.Failed();
}

bool TerrainPlug::AddTriangle(const Triangle& triangle)
{
    if (m_triangles.size() >= maxTriangles)
        return false;
    for (const Vertex& vertex : triangle.vertices)
        if (!IsFiniteVertex(vertex))
            return false;
    m_triangles.push_back(triangle);
    return true;
}

void TerrainPlug::UpdateBoundingBox()
{
    Vec3 low(FLT_MAX, FLT_MAX, FLT_MAX), high(-FLT_MAX, -FLT_MAX, -FLT_MAX);
    for (const Triangle& triangle : m_triangles)
        for (const Vertex& vertex : triangle.vertices) {
            low = Vec3::Min(low, ToRegion(vertex.position));
            high = Vec3::Max(high, ToRegion(vertex.position));
        }
    if (m_triangles.empty())
        SetBoundingBox(ABBox(Vec3(0.1f, 0.1f, 0.1f), Vec3(0.1f, 0.1f, 0.1f)));
    else
        SetBoundingBox(ABBox::FromMinMax(low, high));
}

// ---- Render data --------------------------------------------------------------------------------

void TerrainPlug::CreateRenderData()
{
    ReleaseRenderData();
    m_numTriangles = static_cast<uint32_t>(m_triangles.size());
    m_numVertices = 3 * m_numTriangles;
    UpdateBoundingBox();
    if (m_triangles.empty())
        return; // nothing to draw: no buffers
    RenderDevice* device = TerrainBase::GetRenderDevice();
    if (!device)
        return;
    if (!m_vertexDeclaration) {
        const VertexElement elements[2] = {{0, VERTEX_USAGE_POSITION, VERTEX_TYPE_FLOAT3},
                                           {0, VERTEX_USAGE_NORMAL, VERTEX_TYPE_FLOAT3}};
        m_vertexDeclaration = device->CreateVertexDeclaration(elements, 2);
    }
    m_vertexBuffer = device->CreateVertexBuffer(RENDER_USAGE_STATIC, m_numVertices * sizeof(Vertex));
    m_indexBuffer = device->CreateIndexBuffer(m_numVertices, 2);
    if (!m_vertexBuffer || !m_indexBuffer) {
        ReleaseRenderData();
        return;
    }
    float* vertices = static_cast<float*>(m_vertexBuffer->Lock());
    uint16_t* indices = static_cast<uint16_t*>(m_indexBuffer->Lock());
    if (vertices) {
        for (const Triangle& triangle : m_triangles)
            for (const Vertex& vertex : triangle.vertices) {
                const Vec3 p = ToRegion(vertex.position);
                const float out[6] = {p.x, p.y, p.z, vertex.normal.x, vertex.normal.y, vertex.normal.z};
                std::memcpy(vertices, out, sizeof(out));
                vertices += 6;
            }
        m_vertexBuffer->Unlock();
    }
    if (indices) {
        for (uint32_t i = 0; i < m_numVertices; ++i)
            indices[i] = static_cast<uint16_t>(i);
        m_indexBuffer->Unlock();
    }
    if (!vertices || !indices)
        ReleaseRenderData();
}

void TerrainPlug::ReleaseRenderData()
{
    if (!m_vertexBuffer && !m_indexBuffer)
        return;
    if (RenderDevice* device = TerrainBase::GetRenderDevice()) {
        if (m_vertexBuffer)
            device->DestroyVertexBuffer(&m_vertexBuffer);
        if (m_indexBuffer)
            device->DestroyIndexBuffer(&m_indexBuffer);
    }
    m_vertexBuffer = nullptr;
    m_indexBuffer = nullptr;
}

void TerrainPlug::PreDeviceReset()
{
    ReleaseRenderData();
}

void TerrainPlug::PostDeviceReset()
{
    CreateRenderData();
}

void TerrainPlug::ComputeBoundaryEdges()
{
    m_boundaryEdges.clear();
    std::set<Edge, bool (*)(const Edge&, const Edge&)> edges(IsEdgePairLess);
    for (const Triangle& triangle : m_triangles)
        for (int i = 0; i < 3; ++i)
            edges.insert(Edge(triangle.vertices[i], triangle.vertices[(i + 1) % 3]));
    for (const Triangle& triangle : m_triangles)
        for (int i = 0; i < 3; ++i) {
            const Vertex& a = triangle.vertices[i];
            const Vertex& b = triangle.vertices[(i + 1) % 3];
            if (edges.find(Edge(b, a)) == edges.end())
                m_boundaryEdges.emplace_back(a, b);
        }
}

// ---- Queries ------------------------------------------------------------------------------------

void TerrainPlug::GetRegionTriangle(const Triangle& triangle, Vec3 corners[3]) const
{
    for (int i = 0; i < 3; ++i)
        corners[i] = ToRegion(triangle.vertices[2 - i].position);
}

void TerrainPlug::GetIntersection(const Ray& ray, Intersection& intersection, PhysicsSurface) const
{
    // A miss stays at +infinity: a plug whose box the ray enters but whose triangles it misses
    // can never become the hit.
    intersection.distance = gInfinity;
    for (const Triangle& triangle : m_triangles) {
        Vec3 corners[3];
        GetRegionTriangle(triangle, corners);
        Vec3 point;
        const float t =
            IntersectRayTriangle(ray.origin, ray.direction, corners[0], corners[1], corners[2], point);
        if (t < intersection.distance)
            intersection.distance = t;
    }
    if (intersection.distance < gInfinity)
        intersection.point = ray.GetPoint(intersection.distance);
}

int TerrainPlug::FindCollisions(TerrainBase&, const OBBox& box, CollisionContact* contacts, int maximum,
                                PhysicsSurface)
{
    int count = 0;
    for (const Triangle& triangle : m_triangles) {
        if (count >= maximum)
            break;
        Vec3 corners[3];
        GetRegionTriangle(triangle, corners);
        const int found = CollideOBBoxTriangle(corners, box, contacts + count, maximum - count);
        for (int i = 0; i < found; ++i)
            HeightField::MarkGroundContact(contacts[count + i]);
        count += found;
    }
    return count;
}

void TerrainPlug::FindCollisionBoxes(TerrainBase&, std::vector<CollisionBox>& boxes, PhysicsSurface)
{
    for (CollisionBox& collisionBox : boxes) {
        if (!ABBoxesOverlap(ABBox::FromOBBox(collisionBox.GetBox()), GetBoundingBox()))
            continue;
        for (const Triangle& triangle : m_triangles) {
            Vec3 corners[3];
            GetRegionTriangle(triangle, corners);
            CollisionContact found[8];
            const int n = CollideOBBoxTriangle(corners, collisionBox.GetBox(), found, 8);
            for (int i = 0; i < n; ++i) {
                HeightField::MarkGroundContact(found[i]);
                collisionBox.AddContact(found[i]);
            }
        }
    }
}

// ---- Renderable ---------------------------------------------------------------------------------

void TerrainPlug::RenderPass(const RenderablePass& pass, const Name& style, GraphicsCanvas&,
                             const TerrainRenderContext& context)
{
    RenderDevice* device = TerrainBase::GetRenderDevice();
    // The pass's shader is the terrain's layer shader, begun by the renderer in the pass's style.
    GraphicsShader2* shader = const_cast<GraphicsShader2*>(pass.shader);
    if (!m_terrain || !shader || !device || !m_terrain->GetVertexDeclaration() || !m_indexBuffer ||
        !m_vertexBuffer || !(context.renderFlags & GraphicsSceneRenderer::RENDER_TERRAIN))
        return;
    shader->Begin();
    static const Name objectToRegion = Name::Create("objectToRegionMatrix");
    static const Name objectToScreen = Name::Create("objectToScreenMatrix");
    static const Name regionToSceneOffset = Name::Create("regionToSceneOffset");
    shader->SetFloat4x4(objectToRegion, 0, Mat4::Identity());
    shader->SetFloat4x4(objectToScreen, 0, context.worldToScreen * Mat4(pass.regionToScene));
    shader->SetFloat3(regionToSceneOffset, 0, pass.regionToScene.origin);

    const int layer = GetPassLayer(pass.passIndex, style);
    if (layer >= 0)
        SetLayerParams(*shader, static_cast<unsigned>(layer));
    device->SetIndices(m_indexBuffer);
    device->SetStreamSource(0, m_vertexBuffer, 0, sizeof(Vertex));
    device->SetVertexDeclaration(m_terrain->GetVertexDeclaration());
    shader->Render("TerrainPlug");
    RenderDrawRange range;
    range.numVertices = m_numVertices;
    range.primitiveCount = m_numTriangles;
    device->DrawIndexedPrimitive(RENDER_PRIMITIVE_TRIANGLE_LIST, range);
    shader->End();
}

void TerrainPlug::LogInfo() const
{
    const ABBox& box = GetBoundingBox();
    LogPrintf(0, "TerrainPlug:");
    LogPrintf(0, "   terrain: %p", static_cast<const void*>(m_terrain));
    LogPrintf(0, "   node: %p", static_cast<const void*>(GetSpaceNode()));
    LogPrintf(0, "   numVertices: %u", m_numVertices);
    LogPrintf(0, "   numFaces: %u", m_numTriangles);
    LogPrintf(0, "   numTriangles: %u", static_cast<unsigned>(m_triangles.size()));
    LogPrintf(0, "   numLayers: %u", static_cast<unsigned>(m_layers.size()));
    LogPrintf(0, "   vertexBuffer: %p", static_cast<const void*>(m_vertexBuffer));
    LogPrintf(0, "   indexBuffer: %p", static_cast<const void*>(m_indexBuffer));
    LogPrintf(0, "   bounds origin: (%f, %f, %f)", box.center.x, box.center.y, box.center.z);
    LogPrintf(0, "   bounds extents: (%f, %f, %f)", box.extents.x, box.extents.y, box.extents.z);
    LogPrintf(0, "   lastFrameUsed: %u", GetLastFrameUsed());
    LogPrintf(0, "   preLoaded: %u", m_loadState);
}

} // namespace GAME
