#include "graphics/GraphicsPrimitiveDrawer.h"

#include "core/ABBox.h"
#include "core/OBBox.h"
#include "core/RegionServices.h"
#include "core/Time.h"
#include "graphics/DebugRenderManager.h"
#include "graphics/GraphicsCanvas.h"
#include "graphics/GraphicsEngine.h"
#include "graphics/GraphicsShader2.h"
#include "graphics/RenderDevice.h"
#include "graphics/RenderDynamicIndexBuffer.h"
#include "graphics/RenderDynamicVertexBuffer.h"

#include <array>
#include <cmath>
#include <cstring>

namespace GAME {

namespace {

constexpr float kPi = 3.14159265358979f;

int BatchKindOf(int type)
{
    switch (type) {
    case GraphicsPrimitiveDrawer::TRIANGLES:
        return RENDER_PRIMITIVE_TRIANGLE_LIST;
    case GraphicsPrimitiveDrawer::LINES:
        return RENDER_PRIMITIVE_LINE_LIST;
    default:
        return type;
    }
}

const Name& NormalStyle()
{
    static const Name name = Name::Create("normal");
    return name;
}

// The corner pairs of a box's edges and the corner quadruples of its faces, in the corner order of
// ABBox::GetCorners (bottom ring 0-3, top ring 4-7).
const int kEdges[12][2] = {{0, 1}, {1, 2}, {2, 3}, {3, 0}, {4, 5}, {5, 6},
                           {6, 7}, {7, 4}, {0, 4}, {1, 5}, {2, 6}, {3, 7}};
const int kFaces[6][4] = {{0, 3, 2, 1}, {4, 5, 6, 7}, {0, 1, 5, 4}, {1, 2, 6, 5}, {2, 3, 7, 6}, {3, 0, 4, 7}};

void DrawEdges(GraphicsPrimitiveDrawer& drawer, const std::array<Vec3, 8>& corners)
{
    drawer.Begin(GraphicsPrimitiveDrawer::LINES);
    for (const auto& edge : kEdges) {
        drawer.SetVertex(corners[size_t(edge[0])]);
        drawer.SetVertex(corners[size_t(edge[1])]);
    }
    drawer.End();
}

void DrawFaces(GraphicsPrimitiveDrawer& drawer, const std::array<Vec3, 8>& corners)
{
    drawer.Begin(GraphicsPrimitiveDrawer::TRIANGLES);
    for (const auto& face : kFaces)
        for (int corner : {0, 1, 2, 0, 2, 3})
            drawer.SetVertex(corners[size_t(face[corner])]);
    drawer.End();
}

Vec3 CirclePoint(const Vec3& center, float radius, int k, int n)
{
    const float angle = static_cast<float>(k) * 2.0f * kPi / static_cast<float>(n - 1);
    return Vec3(center.x + std::cos(angle) * radius, center.y, center.z + std::sin(angle) * radius);
}

} // namespace

GraphicsPrimitiveDrawer::GraphicsPrimitiveDrawer(GraphicsCanvas& canvas)
    : m_canvas(canvas), m_device(canvas.GetRenderDevice())
{
    if (GraphicsEngine* graphics = canvas.GetGraphicsEngine())
        m_shader = graphics->GetBasicShader();
    if (m_device)
        m_viewport = Viewport(0, 0, m_device->GetWidth(), m_device->GetHeight());
}

GraphicsPrimitiveDrawer::~GraphicsPrimitiveDrawer()
{
    Flush();
}

void GraphicsPrimitiveDrawer::Begin(int type)
{
    const int kind = BatchKindOf(type);
    if (kind != m_batchKind)
        Flush();
    m_batchKind = kind;
    m_primitiveType = type;
    m_numLocalVertices = 0;
}

void GraphicsPrimitiveDrawer::SetVertex(const Vec3& position)
{
    if (m_numLocalVertices >= maxVertices)
        return;
    Vertex& v = m_localVertices[m_numLocalVertices++];
    const Vec3 p = position + m_regionOffset;
    v.position[0] = p.x;
    v.position[1] = p.y;
    v.position[2] = p.z;
    v.normal[0] = m_normal.x;
    v.normal[1] = m_normal.y;
    v.normal[2] = m_normal.z;
    v.texCoord[0] = m_texCoord.x;
    v.texCoord[1] = m_texCoord.y;
    v.color = m_color.PackARGB();
}

void GraphicsPrimitiveDrawer::SetVertex(const Vec2& position)
{
    SetVertex(Vec3(position.x, 0.0f, position.y));
}

void GraphicsPrimitiveDrawer::End()
{
    const bool indexed = m_primitiveType == TRIANGLES || m_primitiveType == LINES;
    const int newIndices = indexed ? m_numLocalVertices : 0;
    if (m_batchVertexCount + m_numLocalVertices > maxVertices || m_batchIndexCount + newIndices > maxIndices)
        Flush();
    if (m_numLocalVertices == 0)
        return;
    if (!m_batchVertices) {
        RenderDynamicVertexBuffer* vertexBuffer = m_canvas.GetDynamicVertexBuffer();
        RenderDynamicIndexBuffer* indexBuffer = m_canvas.GetDynamicIndexBuffer();
        if (!vertexBuffer || !indexBuffer) {
            m_numLocalVertices = 0; // the device has no buffers (lost): the primitive is dropped
            return;
        }
        void* vertices = vertexBuffer->Lock(maxVertices * vertexSize);
        uint32_t* indices = vertices ? indexBuffer->Lock(maxIndices) : nullptr;
        if (!vertices || !indices) {
            if (vertices)
                vertexBuffer->Unlock();
            m_numLocalVertices = 0;
            return;
        }
        m_batchVertices = static_cast<Vertex*>(vertices);
        m_batchIndices = indices;
    }
    std::memcpy(m_batchVertices + m_batchVertexCount, m_localVertices,
                size_t(m_numLocalVertices) * sizeof(Vertex));
    for (int i = 0; i < newIndices; ++i)
        m_batchIndices[m_batchIndexCount + i] = static_cast<uint32_t>(m_batchVertexCount + i);
    m_batchVertexCount += m_numLocalVertices;
    m_batchIndexCount += newIndices;
    m_numLocalVertices = 0;
}

void GraphicsPrimitiveDrawer::Flush()
{
    if (!m_batchVertices)
        return;
    RenderDynamicVertexBuffer* vertexBuffer = m_canvas.GetDynamicVertexBuffer();
    RenderDynamicIndexBuffer* indexBuffer = m_canvas.GetDynamicIndexBuffer();
    int primitives = 0;
    if (m_batchKind == RENDER_PRIMITIVE_TRIANGLE_LIST)
        primitives = m_batchVertexCount / 3;
    else if (m_batchKind == RENDER_PRIMITIVE_LINE_LIST)
        primitives = m_batchVertexCount / 2;
    // The buffers are unlocked whatever happens next: a batch that cannot draw is dropped, never
    // left holding the shared buffers.
    if (vertexBuffer)
        vertexBuffer->Unlock();
    if (indexBuffer)
        indexBuffer->Unlock();

    int style = GraphicsShader2::noStyle;
    if (m_shader && primitives > 0) {
        m_shader->EnsureAvailable();
        style = m_shader->FindStyleByName(m_style);
    }
    GraphicsEngine* graphics = m_canvas.GetGraphicsEngine();
    if (style != GraphicsShader2::noStyle && vertexBuffer && indexBuffer && m_device) {
        static const Name cameraOrigin = Name::Create("cameraOrigin");
        static const Name objectToWorldMatrix = Name::Create("objectToWorldMatrix");
        static const Name objectToScreenMatrix = Name::Create("objectToScreenMatrix");
        static const Name color = Name::Create("color");
        static const Name time = Name::Create("time");
        static const Name baseTexture = Name::Create("baseTexture");
        static const Name baseTexture2 = Name::Create("baseTexture2");

        m_canvas.SetDefaultState();
        if (m_shader->Begin(style)) {
            m_shader->SetFloat3(cameraOrigin, 0, m_camera.GetCoords().origin);
            m_shader->SetFloat4x4(objectToWorldMatrix, 0, Mat4::Identity());
            m_shader->SetFloat4x4(objectToScreenMatrix, 0, m_worldToScreen);
            const float white[4] = {1.0f, 1.0f, 1.0f, 1.0f};
            m_shader->SetFloat4(color, 0, white);
            m_shader->SetFloat(time, 0, static_cast<float>(GetGameTime()) * 0.001f);
            if (m_texture0)
                m_shader->SetTexture(baseTexture, 0, m_texture0);
            if (m_texture1)
                m_shader->SetTexture(baseTexture2, 0, m_texture1);
            m_device->SetTexture(0, nullptr);
            m_device->SetVertexDeclaration(graphics ? graphics->GetBasicVertexDeclaration() : nullptr);
            vertexBuffer->SetAsStream(0, vertexSize);
            indexBuffer->SetAsIndices();
            m_shader->Render("GraphicsPrimitiveDrawer");
            RenderDrawRange range = indexBuffer->GetDrawRange(static_cast<unsigned int>(m_batchIndexCount),
                                                              static_cast<unsigned int>(primitives), 0, 0);
            if (range.numVertices == 0)
                range.numVertices = static_cast<uint32_t>(m_batchVertexCount);
            m_device->DrawIndexedPrimitive(static_cast<RenderPrimitiveType>(m_batchKind), range);
            m_shader->End();
        }
    }
    m_batchVertices = nullptr;
    m_batchIndices = nullptr;
    m_batchVertexCount = 0;
    m_batchIndexCount = 0;
}

void GraphicsPrimitiveDrawer::SetShader(GraphicsShader2* shader, const Name& style)
{
    if (shader != m_shader || style != m_style)
        Flush();
    m_shader = shader;
    m_style = style;
}

void GraphicsPrimitiveDrawer::SetShader(GraphicsShader2* shader)
{
    SetShader(shader, NormalStyle());
}

void GraphicsPrimitiveDrawer::SetTexture0(const RenderTexture* texture)
{
    if (texture != m_texture0)
        Flush();
    m_texture0 = texture;
}

void GraphicsPrimitiveDrawer::SetTexture1(const RenderTexture* texture)
{
    if (texture != m_texture1)
        Flush();
    m_texture1 = texture;
}

void GraphicsPrimitiveDrawer::SetCamera(Region* region, const Camera& camera, const Viewport& viewport)
{
    Flush();
    m_camera = camera;
    m_cameraRegion = region;
    m_viewport = viewport;
    Mat4 cameraToScreen;
    camera.GetCameraToClipMatrix(cameraToScreen, viewport);
    m_worldToScreen = cameraToScreen * Mat4(camera.GetCoords().Inverse());
}

void GraphicsPrimitiveDrawer::SetWorldToScreenMatrix(const Mat4& matrix)
{
    Flush();
    m_worldToScreen = matrix;
}

void GraphicsPrimitiveDrawer::SetRegion(Region* region)
{
    if (!region) {
        m_regionOffset = Vec3();
        return;
    }
    if (!m_cameraRegion)
        return;
    const IntVec3 offset = RegionServices::OffsetFromWorld(region);
    const IntVec3 cameraOffset = RegionServices::OffsetFromWorld(m_cameraRegion);
    m_regionOffset =
        Vec3(static_cast<float>(offset.x - cameraOffset.x), static_cast<float>(offset.y - cameraOffset.y),
             static_cast<float>(offset.z - cameraOffset.z));
}

void GraphicsPrimitiveDrawer::Enable2DMode(const Viewport& viewport)
{
    const int halfWidth = viewport.width / 2;
    const int halfHeight = viewport.height / 2;
    Camera camera;
    camera.SetType(CAMERA_ORTHOGRAPHIC);
    camera.SetWidth(static_cast<float>(viewport.width));
    camera.SetHeight(static_cast<float>(viewport.height));
    const Vec3 eye(static_cast<float>(halfWidth), 25.0f, static_cast<float>(halfHeight));
    const Vec3 target(static_cast<float>(halfWidth), 0.0f, static_cast<float>(halfHeight));
    camera.SetCoords(Coords::LookInDirection(eye, target - eye, Vec3(0.0f, 0.0f, -1.0f)));
    SetCamera(nullptr, camera, viewport);
    m_2DMode = true;
}

void GraphicsPrimitiveDrawer::SetOverlayShader()
{
    if (GraphicsEngine* graphics = m_canvas.GetGraphicsEngine())
        SetShader(graphics->GetOverlayShader());
}

void GraphicsPrimitiveDrawer::DrawSolidCircle(const Vec3& center, float radius, int segments)
{
    GAME::DrawSolidCircle(*this, center, radius, segments);
}

void GraphicsPrimitiveDrawer::DrawArrow(const Vec3& from, const Vec3& to)
{
    GAME::DrawArrow(*this, from, to, m_color, m_color, Vec3(0.0f, 1.0f, 0.0f));
}

void GraphicsPrimitiveDrawer::RenderDebugBox(Region* region, const ABBox& box, const Color& color)
{
    if (DebugRenderManager* debug = DebugRenderManager::Get())
        debug->RenderBox(region, box, color);
}

// ---------------------------------------------------------------------------------------------
// Shapes

void DrawWireframeBox(GraphicsPrimitiveDrawer& drawer, const ABBox& box)
{
    DrawEdges(drawer, box.GetCorners());
}

void DrawWireframeBox(GraphicsPrimitiveDrawer& drawer, const OBBox& box)
{
    DrawEdges(drawer, box.GetCorners());
}

void DrawSolidBox(GraphicsPrimitiveDrawer& drawer, const ABBox& box)
{
    DrawFaces(drawer, box.GetCorners());
}

void DrawSolidBox(GraphicsPrimitiveDrawer& drawer, const OBBox& box)
{
    DrawFaces(drawer, box.GetCorners());
}

void DrawWireframeCircle(GraphicsPrimitiveDrawer& drawer, const Vec3& center, float radius, int n)
{
    if (n <= 1)
        return;
    drawer.Begin(GraphicsPrimitiveDrawer::LINES);
    for (int k = 0; k + 1 < n; ++k) {
        drawer.SetVertex(CirclePoint(center, radius, k, n));
        drawer.SetVertex(CirclePoint(center, radius, k + 1, n));
    }
    drawer.End();
}

void DrawSolidCircle(GraphicsPrimitiveDrawer& drawer, const Vec3& center, float radius, int n)
{
    if (n <= 1)
        return;
    drawer.Begin(GraphicsPrimitiveDrawer::TRIANGLES);
    for (int k = 0; k + 1 < n; ++k) {
        drawer.SetVertex(center);
        drawer.SetVertex(CirclePoint(center, radius, k, n));
        drawer.SetVertex(CirclePoint(center, radius, k + 1, n));
    }
    drawer.End();
}

void DrawArrow(GraphicsPrimitiveDrawer& drawer, const Vec3& from, const Vec3& to, const Color& fillColor,
               const Color& outlineColor, const Vec3& up)
{
    const Vec3 d = from - to;
    const Vec3 h = d * 0.2f;
    const Vec3 across = Vec3::Cross(up, h);
    // An arrow of no length, one along its up vector, or no up vector has no width to draw.
    if (across.LengthSquared() <= 0.0f || !IsFiniteVec3(across) || up.LengthSquared() <= 0.0f)
        return;
    const Vec3 s = across.Unit() * 0.5f;
    const Vec3 u = up.Unit() * 0.1f;
    if (!IsFiniteVec3(s) || !IsFiniteVec3(u))
        return;

    drawer.SetColor(fillColor);
    drawer.Begin(GraphicsPrimitiveDrawer::TRIANGLES);
    drawer.SetVertex(from - s);
    drawer.SetVertex(from + s);
    drawer.SetVertex(to);
    drawer.End();

    drawer.SetColor(outlineColor);
    drawer.Begin(GraphicsPrimitiveDrawer::LINES);
    drawer.SetVertex(from - s);
    drawer.SetVertex(from + s);
    drawer.SetVertex(from - s);
    drawer.SetVertex(to);
    drawer.SetVertex(from + s);
    drawer.SetVertex(to);
    drawer.End();

    drawer.SetColor(fillColor);
    drawer.Begin(GraphicsPrimitiveDrawer::TRIANGLES);
    drawer.SetVertex(to + u);
    drawer.SetVertex(to + h - s + u);
    drawer.SetVertex(to + h + s + u);
    drawer.End();

    drawer.SetColor(outlineColor);
    drawer.Begin(GraphicsPrimitiveDrawer::LINES);
    drawer.SetVertex(to + u);
    drawer.SetVertex(to + h + s + u);
    drawer.SetVertex(to + u);
    drawer.SetVertex(to + h - s + u);
    drawer.SetVertex(to + h - s + u);
    drawer.SetVertex(to + h + s + u);
    drawer.End();
}

void Draw2DOrientedQuad(GraphicsPrimitiveDrawer& drawer, const Vec2& center, const Vec2& toward,
                        const Vec2& size)
{
    const float dx = toward.x - center.x;
    const float dy = toward.y - center.y;
    const float length = std::sqrt(dx * dx + dy * dy);
    if (!(length > 0.0f) || !std::isfinite(length))
        return;
    const Vec2 forward(dx / length, dy / length);
    const Vec2 side(-forward.y, forward.x);
    const float halfLength = size.y * 0.5f;
    const float halfWidth = size.x * 0.5f;
    auto corner = [&](float along, float across) {
        return Vec2(center.x + forward.x * along + side.x * across,
                    center.y + forward.y * along + side.y * across);
    };
    const Vec2 corners[4] = {corner(halfLength, -halfWidth), corner(halfLength, halfWidth),
                             corner(-halfLength, halfWidth), corner(-halfLength, -halfWidth)};
    const Vec2 texCoords[4] = {Vec2(0.0f, 0.0f), Vec2(1.0f, 0.0f), Vec2(1.0f, 1.0f), Vec2(0.0f, 1.0f)};
    drawer.Begin(GraphicsPrimitiveDrawer::TRIANGLES);
    for (int i : {0, 1, 2, 0, 2, 3}) {
        drawer.SetTexCoord(texCoords[i]);
        drawer.SetVertex(corners[i]);
    }
    drawer.End();
}

} // namespace GAME
