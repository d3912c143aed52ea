#include "graphics/GraphicsCanvas.h"

#include "core/Log.h"
#include "graphics/RenderDevice.h"
#include "graphics/RenderTexture.h"

#include <cmath>

namespace GAME {

namespace {

Rect RoundRect(const Rect& rect)
{
    return Rect(std::floor(rect.x + 0.5f), std::floor(rect.y + 0.5f), std::floor(rect.width + 0.5f),
                std::floor(rect.height + 0.5f));
}

} // namespace

GraphicsCanvas::GraphicsCanvas(RenderDevice* device, RenderSurface* primarySurface)
    : m_device(device), m_primarySurface(primarySurface), m_renderTarget0(primarySurface)
{
    if (m_device) {
        m_resolutionWidth = static_cast<float>(m_device->GetWidth());
        m_resolutionHeight = static_cast<float>(m_device->GetHeight());
    }
    // TODO(stand-in): load the blur's filter shader "Shaders/Filter.ssh" once shaders exist.
    CreateDynamicBuffers();
}

GraphicsCanvas::~GraphicsCanvas()
{
    DestroyDynamicBuffers();
    DestroyTemporarySurfaces();
}

bool GraphicsCanvas::CreateDynamicBuffers()
{
    if (!m_device || m_device->DeviceLost())
        return false;
    if (!m_dynamicVertexBuffer)
        m_dynamicVertexBuffer = m_device->CreateDynamicVertexBuffer(dynamicBufferSize);
    if (!m_dynamicIndexBuffer)
        m_dynamicIndexBuffer = m_device->CreateDynamicIndexBuffer(dynamicBufferSize);
    if (!m_dynamicVertexBuffer || !m_dynamicIndexBuffer) {
        LogPrintf(1, "GraphicsCanvas: couldn't create the shared dynamic buffers");
        return false;
    }
    return true;
}

bool GraphicsCanvas::DestroyDynamicBuffers()
{
    if (m_device) {
        if (m_dynamicVertexBuffer)
            m_device->DestroyDynamicVertexBuffer(&m_dynamicVertexBuffer);
        if (m_dynamicIndexBuffer)
            m_device->DestroyDynamicIndexBuffer(&m_dynamicIndexBuffer);
    }
    m_dynamicVertexBuffer = nullptr;
    m_dynamicIndexBuffer = nullptr;
    return true;
}

void GraphicsCanvas::DestroyTemporarySurfaces()
{
    for (TemporarySurface& entry : m_temporarySurfaces)
        if (entry.surface && m_device)
            m_device->DestroySurface(&entry.surface);
    m_temporarySurfaces.clear();
}

bool GraphicsCanvas::PreDeviceReset()
{
    m_primarySurface = nullptr;
    m_targetSurface = nullptr;
    m_renderTarget0 = nullptr;
    DestroyTemporarySurfaces();
    DestroyDynamicBuffers();
    return true;
}

void GraphicsCanvas::SetResolution(int width, int height)
{
    m_resolutionWidth = static_cast<float>(width);
    m_resolutionHeight = static_cast<float>(height);
}

void GraphicsCanvas::SetResolutionAdjustment(float x, float y)
{
    m_resolutionAdjustmentX = x;
    m_resolutionAdjustmentY = y;
}

bool GraphicsCanvas::BeginFrame()
{
    const bool begun = m_device && m_device->BeginFrame();
    for (TemporarySurface& entry : m_temporarySurfaces)
        entry.inUse = false;
    return begun;
}

void GraphicsCanvas::EndFrame()
{
    m_device->EndFrame();
}

void GraphicsCanvas::PresentSurface(RenderSurface* surface)
{
    m_device->PresentSurface(surface);
}

void GraphicsCanvas::SetViewport(const Viewport& viewport)
{
    m_device->SetViewport(viewport);
}

const Viewport& GraphicsCanvas::GetViewport() const
{
    return m_device->GetViewport();
}

void GraphicsCanvas::EnableWireframe(bool enable)
{
    m_device->EnableWireframe(enable);
}

void GraphicsCanvas::SetClearColor(const Color& color)
{
    m_device->SetClearColor(color);
}

void GraphicsCanvas::Clear(unsigned int flags)
{
    m_device->Clear(flags);
}

int GraphicsCanvas::GetWidth() const
{
    return m_device->GetWidth();
}

int GraphicsCanvas::GetHeight() const
{
    return m_device->GetHeight();
}

void GraphicsCanvas::SetTargetSurface(RenderSurface* surface)
{
    if (!surface)
        surface = m_primarySurface;
    m_targetSurface = surface;
    m_renderTarget0 = surface;
    m_device->SetTargetSurface(0, surface);
}

void GraphicsCanvas::SetRenderTarget(int index, RenderSurface* surface)
{
    m_renderTarget0 = surface;
    m_device->SetRenderTarget(index, surface);
}

void GraphicsCanvas::ClearRenderSurface(RenderSurface* surface, const Color& color, unsigned int flags)
{
    SetTargetSurface(surface);
    m_device->SetClearColor(color);
    m_device->Clear(flags);
}

RenderSurface* GraphicsCanvas::CreateTemporaryTextureSurface(int width, int height,
                                                             RenderTextureFormat colorFormat,
                                                             RenderTextureFormat depthFormat)
{
    for (TemporarySurface& entry : m_temporarySurfaces)
        if (!entry.inUse && entry.width == width && entry.height == height &&
            entry.colorFormat == colorFormat && entry.depthFormat == depthFormat) {
            entry.inUse = true;
            return entry.surface;
        }
    RenderSurface* surface = m_device->CreateTextureSurface(width, height, colorFormat, depthFormat);
    if (!surface)
        return nullptr;
    TemporarySurface entry;
    entry.inUse = true;
    entry.width = width;
    entry.height = height;
    entry.colorFormat = colorFormat;
    entry.depthFormat = depthFormat;
    entry.surface = surface;
    m_temporarySurfaces.push_back(entry);
    return surface;
}

void GraphicsCanvas::SetDefaultState()
{
    m_device->SetVertexShader(nullptr);
    m_device->SetPixelShader(nullptr);
    m_device->SetColorWriteMode(RENDER_WRITE_ENABLED);
    m_device->SetAlphaWriteMode(RENDER_WRITE_ENABLED);
    m_device->SetDepthWriteMode(RENDER_WRITE_ENABLED);
    m_device->SetDepthTestFunction(RENDER_TEST_LESS_EQUAL);
    m_device->SetAlphaTestFunction(RENDER_TEST_ALWAYS);
    m_device->SetAlphaReference(0.0f);
    m_device->SetSourceBlend(RENDER_BLEND_ONE);
    m_device->SetDestinationBlend(RENDER_BLEND_ZERO);
    m_device->SetShaderState20(0);
    m_device->SetShaderState21(0);
    for (int stage = 0; stage < 8; ++stage)
        m_device->SetTexture(stage, nullptr);
    for (int stage = 0; stage < 16; ++stage) {
        m_device->SetTextureStageState(stage, 0, 0);
        m_device->SetTextureStageState(stage, 1, 0);
    }
    m_device->SetShaderState18(0);
}

void GraphicsCanvas::RenderRect(const Rect& rect, const Color& color)
{
    RenderRect(rect, Rect(), nullptr, RENDER_BLEND_SRC_ALPHA, RENDER_BLEND_INV_SRC_ALPHA, color, false);
}

void GraphicsCanvas::RenderRect(const Rect& rect, const Rect& textureRect, const RenderTexture* texture,
                                RenderBlendFactor sourceBlend, RenderBlendFactor destinationBlend,
                                const Color& color, bool alphaTest)
{
    Rect texCoords;
    if (texture && texture->GetWidth() > 0 && texture->GetHeight() > 0) {
        const float w = static_cast<float>(texture->GetWidth());
        const float h = static_cast<float>(texture->GetHeight());
        texCoords = Rect(textureRect.x / w, textureRect.y / h, textureRect.width / w, textureRect.height / h);
    }
    m_device->SetTexture(0, texture);
    m_device->SetSourceBlend(sourceBlend);
    m_device->SetDestinationBlend(destinationBlend);
    if (alphaTest) {
        m_device->SetAlphaTestFunction(RENDER_TEST_GREATER);
        m_device->SetAlphaReference(0.05f);
    } else {
        m_device->SetAlphaTestFunction(RENDER_TEST_ALWAYS);
    }
    m_device->DrawTexturedQuad(RoundRect(rect), texCoords, color.PackARGB(), m_depth);
}

} // namespace GAME
