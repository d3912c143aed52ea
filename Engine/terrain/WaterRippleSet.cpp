#include "terrain/WaterRippleSet.h"

#include "core/Log.h"
#include "core/Mat4.h"
#include "core/Name.h"
#include "graphics/GraphicsCanvas.h"
#include "graphics/GraphicsEngine.h"
#include "graphics/GraphicsShader2.h"
#include "graphics/RenderDevice.h"
#include "graphics/RenderIndexBuffer.h"
#include "graphics/RenderVertexBuffer.h"
#include "scene/GraphicsSceneRenderer.h"
#include "scene/RenderablePass.h"
#include "terrain/WaterElement.h"
#include "terrain/WaterRandom.h"
#include "world/Engine.h"

#include <algorithm>

namespace GAME {

namespace {

GraphicsEngine* Graphics()
{
    return gEngine ? gEngine->GetGraphicsEngine() : nullptr;
}

} // namespace

WaterRippleSet::WaterRippleSet()
{
    if (GraphicsEngine* graphics = Graphics())
        m_shader = graphics->LoadShader2(shaderName);
}

WaterRippleSet::~WaterRippleSet()
{
    if (m_shader)
        if (GraphicsEngine* graphics = Graphics())
            graphics->UnloadShader2(m_shader);
    m_shader = nullptr;
    Destroy();
}

void WaterRippleSet::Initialize(RenderDevice* device)
{
    Destroy();
    m_device = device;
    if (!m_device)
        return;
    m_declaration = WaterElement::CreateVertexDeclaration(*m_device);
}

bool WaterRippleSet::CreateBuffers()
{
    if (!m_device)
        return false;
    ReleaseBuffers();
    m_vertexBuffer =
        m_device->CreateVertexBuffer(RENDER_USAGE_DYNAMIC, numVertices * WaterElement::vertexStride);
    if (!m_vertexBuffer) {
        LogPrintf(1, "Failed to create vertex buffer of %u vertices for a ripple set.", numVertices);
        return false;
    }
    m_indexBuffer = m_device->CreateIndexBuffer(numIndices, 2);
    auto* indices = m_indexBuffer ? static_cast<uint16_t*>(m_indexBuffer->Lock()) : nullptr;
    if (!indices) {
        LogPrintf(1, "Failed to create index buffer for a ripple set.");
        if (m_indexBuffer)
            m_device->DestroyIndexBuffer(&m_indexBuffer);
        m_indexBuffer = nullptr;
        return false;
    }
    for (unsigned q = 0; q < maxRipples; ++q) {
        const uint16_t base = static_cast<uint16_t>(4 * q);
        const uint16_t quad[6] = {base, static_cast<uint16_t>(base + 1), static_cast<uint16_t>(base + 2),
                                  base, static_cast<uint16_t>(base + 2), static_cast<uint16_t>(base + 3)};
        std::copy(quad, quad + 6, indices + 6 * q);
    }
    m_indexBuffer->Unlock();
    Update(0);
    return true;
}

void WaterRippleSet::ReleaseBuffers()
{
    if (m_device) {
        if (m_vertexBuffer)
            m_device->DestroyVertexBuffer(&m_vertexBuffer);
        if (m_indexBuffer)
            m_device->DestroyIndexBuffer(&m_indexBuffer);
    }
    m_vertexBuffer = nullptr;
    m_indexBuffer = nullptr;
    m_numLive = 0;
}

void WaterRippleSet::Destroy()
{
    ReleaseBuffers();
    if (m_device && m_declaration)
        m_device->DestroyVertexDeclaration(&m_declaration);
    m_declaration = nullptr;
    m_device = nullptr;
}

bool WaterRippleSet::AddRipple(const Vec3& position, float startSize, float growth)
{
    Ripple* free = std::find_if(m_ripples, m_ripples + maxRipples, [](const Ripple& r) { return !r.active; });
    if (free == m_ripples + maxRipples)
        return false;
    const float radius = WaterRandom::Between(startSize - 0.2f, startSize + 0.2f);
    const float maxRadius = WaterRandom::Between(growth - 0.2f, growth + 0.2f);
    // A ring that cannot grow to a size would divide by its maximum.
    if (!(maxRadius > 0.0f))
        return false;
    free->radius = radius;
    free->maxRadius = maxRadius;
    free->position =
        position + Vec3(WaterRandom::Between(-0.2f, 0.2f), 0.01f, WaterRandom::Between(-0.2f, 0.2f));
    free->active = true;
    return true;
}

unsigned WaterRippleSet::GetNumActive() const
{
    return static_cast<unsigned>(
        std::count_if(m_ripples, m_ripples + maxRipples, [](const Ripple& r) { return r.active; }));
}

void WaterRippleSet::Update(int elapsedMilliseconds)
{
    m_numLive = 0;
    if (!std::any_of(m_ripples, m_ripples + maxRipples, [](const Ripple& r) { return r.active; }))
        return;
    auto* vertices = m_vertexBuffer ? static_cast<WaterVertex*>(m_vertexBuffer->Lock()) : nullptr;
    const float growth = static_cast<float>(std::max(elapsedMilliseconds, 0)) * m_growthSpeed * 0.001f;
    for (Ripple& ripple : m_ripples) {
        if (!ripple.active)
            continue;
        if (ripple.radius < ripple.maxRadius)
            ripple.radius = std::min(ripple.radius + growth, ripple.maxRadius);
        const float t = std::clamp(ripple.radius / ripple.maxRadius * 1.05f, 0.0f, 1.0f);
        const uint32_t color = WaterElement::AlphaBits((1.0f - t) * 255.0f);
        if (vertices) {
            const float x = ripple.position.x, y = ripple.position.y, z = ripple.position.z,
                        r = ripple.radius;
            WaterVertex* quad = vertices + 4 * m_numLive;
            WaterElement::SetFlatVertex(quad[0], x + r, y, z + r, 1.0f, 1.0f, color);
            WaterElement::SetFlatVertex(quad[1], x - r, y, z + r, 0.0f, 1.0f, color);
            WaterElement::SetFlatVertex(quad[2], x - r, y, z - r, 0.0f, 0.0f, color);
            WaterElement::SetFlatVertex(quad[3], x + r, y, z - r, 1.0f, 0.0f, color);
        }
        ++m_numLive;
        if (!(ripple.radius < ripple.maxRadius))
            ripple.active = false;
    }
    if (vertices)
        m_vertexBuffer->Unlock();
    else
        m_numLive = 0;
}

int WaterRippleSet::GetNumRenderPasses(const Name&, RenderGenerationId) const
{
    return 1;
}

ABBox WaterRippleSet::GetRenderPassBoundingBox() const
{
    return ABBox();
}

int WaterRippleSet::GetRenderPassSortOrder(int, const Name& style, RenderGenerationId) const
{
    return m_shader ? m_shader->GetSortOrder(m_shader->FindStyleByName(style)) : 0;
}

const GraphicsShader2* WaterRippleSet::GetShader2(int, const Name&) const
{
    return m_shader;
}

const Name& WaterRippleSet::GetShaderStyle(int, const Name& style, RenderGenerationId) const
{
    return style;
}

const GraphicsTexture* WaterRippleSet::GetTexture(int, const Name&) const
{
    return nullptr;
}

void WaterRippleSet::RenderPass(const RenderablePass& pass, const Name&, GraphicsCanvas& canvas,
                                const GraphicsSceneRenderer& renderer)
{
    RenderDevice* device = canvas.GetRenderDevice();
    if (m_numLive == 0 || !m_shader || !m_vertexBuffer || !m_indexBuffer || !device)
        return;
    static const Name objectToWorld = Name::Create("objectToWorldMatrix");
    static const Name objectToScreen = Name::Create("objectToScreenMatrix");
    device->SetIndices(m_indexBuffer);
    device->SetStreamSource(0, m_vertexBuffer, 0, WaterElement::vertexStride);
    m_shader->Begin();
    device->SetVertexDeclaration(m_declaration);
    const Mat4 regionToScene(pass.regionToScene);
    m_shader->SetFloat4x4(objectToWorld, 0, regionToScene);
    m_shader->SetFloat4x4(objectToScreen, 0, renderer.GetWorldToScreenMatrix() * regionToScene);
    m_shader->Render("WaterRippleSet");
    RenderDrawRange range;
    range.numVertices = 4 * m_numLive;
    range.startIndex = 0;
    range.primitiveCount = 2 * m_numLive;
    device->DrawIndexedPrimitive(RENDER_PRIMITIVE_TRIANGLE_LIST, range);
    m_shader->End();
}

void WaterRippleSet::LogInfo() const {}

} // namespace GAME
