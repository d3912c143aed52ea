#include "graphics/GraphicsCanvas.h"

#include "core/Log.h"
#include "core/Name.h"
#include "data/LocalizationManager.h"
#include "graphics/FontStyle.h"
#include "graphics/GraphicsEngine.h"
#include "graphics/GraphicsFont.h"
#include "graphics/GraphicsShader2.h"
#include "graphics/GraphicsTexture.h"
#include "graphics/RenderDevice.h"
#include "graphics/RenderDynamicIndexBuffer.h"
#include "graphics/RenderDynamicVertexBuffer.h"
#include "graphics/RenderSurface.h"
#include "graphics/RenderTexture.h"
#include "graphics/StyleManager.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace GAME {

namespace {

constexpr float kPi = 3.14159265358979f;

Rect RoundRect(const Rect& rect)
{
    return Rect(std::floor(rect.x + 0.5f), std::floor(rect.y + 0.5f), std::floor(rect.width + 0.5f),
                std::floor(rect.height + 0.5f));
}

const Color kWhite(1.0f, 1.0f, 1.0f, 1.0f);

// The basic vertex (the graphics engine's basic declaration): position, normal, texture
// coordinate, packed colour.
struct BasicVertex
{
    float position[3];
    float normal[3];
    float texCoord[2];
    uint32_t color;
};
static_assert(sizeof(BasicVertex) == 36, "the basic vertex is 36 bytes");

const FontStyle* Style(const std::string& name)
{
    StyleManager* styles = StyleManager::Get();
    return styles ? styles->GetStyle(name) : nullptr;
}

} // namespace

GraphicsCanvas::GraphicsCanvas(RenderDevice* device, RenderSurface* primarySurface, GraphicsEngine* graphics)
    : m_device(device), m_primarySurface(primarySurface), m_renderTarget0(primarySurface),
      m_graphics(graphics)
{
    if (m_device) {
        m_resolutionWidth = static_cast<float>(m_device->GetWidth());
        m_resolutionHeight = static_cast<float>(m_device->GetHeight());
    }
    if (m_graphics)
        m_filterShader = m_graphics->LoadShader2(filterShaderName);
    CreateDynamicBuffers();
}

GraphicsCanvas::~GraphicsCanvas()
{
    DestroyDynamicBuffers();
    DestroyTemporarySurfaces();
    if (m_graphics && m_filterShader)
        m_graphics->UnloadShader2(m_filterShader);
    m_filterShader = nullptr;
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

// ---------------------------------------------------------------------------------------------
// Frame and device state

bool GraphicsCanvas::BeginFrame()
{
    const bool begun = m_device && m_device->BeginFrame();
    m_targetSwitches = 0;
    for (TemporarySurface& entry : m_temporarySurfaces)
        entry.inUse = false;
    return begun;
}

void GraphicsCanvas::EndFrame()
{
    if (m_device)
        m_device->EndFrame();
}

void GraphicsCanvas::PresentSurface(RenderSurface* surface)
{
    if (m_device)
        m_device->PresentSurface(surface);
}

void GraphicsCanvas::SetViewport(const Viewport& viewport)
{
    if (m_device)
        m_device->SetViewport(viewport);
}

const Viewport& GraphicsCanvas::GetViewport() const
{
    static const Viewport none;
    return m_device ? m_device->GetViewport() : none;
}

void GraphicsCanvas::EnableWireframe(bool enable)
{
    if (m_device)
        m_device->EnableWireframe(enable);
}

void GraphicsCanvas::SetClearColor(const Color& color)
{
    if (m_device)
        m_device->SetClearColor(color);
}

void GraphicsCanvas::Clear(unsigned int flags)
{
    if (m_device)
        m_device->Clear(flags);
}

int GraphicsCanvas::GetWidth() const
{
    return m_device ? m_device->GetWidth() : 0;
}

int GraphicsCanvas::GetHeight() const
{
    return m_device ? m_device->GetHeight() : 0;
}

void GraphicsCanvas::SetDepthTarget(RenderSurface* surface)
{
    if (m_device)
        m_device->SetDepthTarget(surface);
}

void GraphicsCanvas::SetColorWriteMode(RenderWriteMode mode)
{
    if (m_device)
        m_device->SetColorWriteMode(mode);
}

void GraphicsCanvas::SetAlphaWriteMode(RenderWriteMode mode)
{
    if (m_device)
        m_device->SetAlphaWriteMode(mode);
}

void GraphicsCanvas::SetDepthWriteMode(RenderWriteMode mode)
{
    if (m_device)
        m_device->SetDepthWriteMode(mode);
}

void GraphicsCanvas::SetAlphaTestFunction(RenderTestFunction function)
{
    if (m_device)
        m_device->SetAlphaTestFunction(function);
}

void GraphicsCanvas::SetDepthTestFunction(RenderTestFunction function)
{
    if (m_device)
        m_device->SetDepthTestFunction(function);
}

void GraphicsCanvas::SetClippingPlane(int index, const Plane& plane)
{
    if (m_device)
        m_device->SetClippingPlane(index, plane);
}

void GraphicsCanvas::ClearClippingPlane(int index)
{
    if (m_device)
        m_device->ClearClippingPlane(index);
}

bool GraphicsCanvas::SupportsDepthRenderTargets() const
{
    return m_device && m_device->SupportsDepthRenderTargets();
}

bool GraphicsCanvas::Supports16bitColorWithDepth() const
{
    return m_device && m_device->Supports16bitColorWithDepth();
}

RenderSurface* GraphicsCanvas::CreateTextureSurface(int width, int height, RenderTextureFormat colorFormat,
                                                    RenderTextureFormat depthFormat)
{
    return m_device ? m_device->CreateTextureSurface(width, height, colorFormat, depthFormat) : nullptr;
}

RenderSurface* GraphicsCanvas::CreateTextureSurface(int width, int height, const RenderTexture* texture,
                                                    RenderTextureFormat depthFormat)
{
    return m_device ? m_device->CreateTextureSurface(width, height, texture, depthFormat) : nullptr;
}

void GraphicsCanvas::DestroySurface(RenderSurface*& surface)
{
    if (surface && m_device)
        m_device->DestroySurface(&surface);
    surface = nullptr;
}

// ---------------------------------------------------------------------------------------------
// Surfaces and targets

void GraphicsCanvas::SetTargetSurface(RenderSurface* surface)
{
    if (!surface)
        surface = m_primarySurface;
    m_targetSwitches += surface != m_renderTarget0;
    m_targetSurface = surface;
    m_renderTarget0 = surface;
    if (m_device)
        m_device->SetTargetSurface(0, surface);
}

void GraphicsCanvas::SetRenderTarget(int index, RenderSurface* surface)
{
    m_targetSwitches += surface != m_renderTarget0;
    m_renderTarget0 = surface;
    if (m_device)
        m_device->SetRenderTarget(index, surface);
}

void GraphicsCanvas::ClearRenderSurface(RenderSurface* surface, const Color& color, unsigned int flags)
{
    SetTargetSurface(surface);
    if (!m_device)
        return;
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
    if (!m_device)
        return nullptr;
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

const char* GraphicsCanvas::GetFormatName(RenderTextureFormat format)
{
    switch (format) {
    case RENDER_FORMAT_NONE:
        return "None";
    case RENDER_FORMAT_RGB:
        return "RGB";
    case RENDER_FORMAT_RGBA:
    case RENDER_FORMAT_RGBA_ALT:
        return "RGBA";
    case RENDER_FORMAT_DSDT:
        return "DsDt";
    case RENDER_FORMAT_R16F:
        return "R16F";
    case RENDER_FORMAT_R32F:
        return "R32F";
    case RENDER_FORMAT_D16:
        return "D16";
    case RENDER_FORMAT_D24:
        return "D24";
    case RENDER_FORMAT_D32:
        return "D32";
    default:
        return "Unknown";
    }
}

// ---------------------------------------------------------------------------------------------
// Clipping

void GraphicsCanvas::SetClippingRect(const Rect& rect)
{
    if (!m_device)
        return;
    // Cut at the right and bottom edges; a rectangle starting past them keeps no area at all.
    const float width = std::max(0.0f, std::min(rect.x + rect.width, m_resolutionWidth) - rect.x);
    const float height = std::max(0.0f, std::min(rect.y + rect.height, m_resolutionHeight) - rect.y);
    m_device->SetScissorRect(Rect(rect.x, rect.y, width, height));
}

void GraphicsCanvas::ClearClippingRect()
{
    if (m_device)
        m_device->SetScissorRect(Rect(0.0f, 0.0f, static_cast<float>(m_device->GetWidth()),
                                      static_cast<float>(m_device->GetHeight())));
}

// ---------------------------------------------------------------------------------------------
// Drawing

void GraphicsCanvas::SetDefaultState()
{
    if (!m_device)
        return;
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
    RenderRect(rect, Rect(), static_cast<const RenderTexture*>(nullptr), RENDER_BLEND_SRC_ALPHA,
               RENDER_BLEND_INV_SRC_ALPHA, color, false);
}

void GraphicsCanvas::RenderRect(const Rect& rect, const Rect& textureRect, const GraphicsTexture* texture,
                                const Color& color)
{
    if (!texture)
        return;
    // Asking for the frame may load the texture; that changes nothing the caller sees.
    const RenderTexture* frame = const_cast<GraphicsTexture*>(texture)->GetTexture();
    RenderRect(rect, textureRect, frame, RENDER_BLEND_SRC_ALPHA, RENDER_BLEND_INV_SRC_ALPHA, color, false);
}

void GraphicsCanvas::RenderRect(const Rect& rect, const Rect& textureRect, const RenderTexture* texture,
                                RenderBlendFactor sourceBlend, RenderBlendFactor destinationBlend,
                                const Color& color, bool alphaTest)
{
    // A texture of no size maps to nothing rather than to a division by zero.
    if (!m_device)
        return;
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
        m_device->SetAlphaReference(alphaTestReference);
    } else {
        m_device->SetAlphaTestFunction(RENDER_TEST_ALWAYS);
    }
    m_device->DrawTexturedQuad(RoundRect(rect), texCoords, color.PackARGB(), m_depth);
}

void GraphicsCanvas::RenderRect(const Rect& rect, RenderBlendFactor sourceBlend,
                                RenderBlendFactor destinationBlend, const Color& color)
{
    if (!m_device)
        return;
    const RenderBlendFactor savedSource = m_device->GetSourceBlend();
    const RenderBlendFactor savedDestination = m_device->GetDestinationBlend();
    m_device->SetSourceBlend(sourceBlend);
    m_device->SetDestinationBlend(destinationBlend);
    m_device->SetTexture(0, nullptr);
    m_device->SetVertexShader(nullptr);
    m_device->SetPixelShader(nullptr);
    const Rect r = RoundRect(rect);
    const Vec3 corners[4] = {Vec3(r.x, r.y, m_depth), Vec3(r.x + r.width, r.y, m_depth),
                             Vec3(r.x + r.width, r.y + r.height, m_depth),
                             Vec3(r.x, r.y + r.height, m_depth)};
    m_device->DrawQuad(corners, 4, color.PackARGB());
    m_device->SetSourceBlend(savedSource);
    m_device->SetDestinationBlend(savedDestination);
}

void GraphicsCanvas::RenderRects(const std::vector<Rect>& rects, const Color& color)
{
    if (!m_device || rects.empty())
        return;
    m_device->SetSourceBlend(RENDER_BLEND_SRC_ALPHA);
    m_device->SetDestinationBlend(RENDER_BLEND_INV_SRC_ALPHA);
    m_device->SetAlphaTestFunction(RENDER_TEST_ALWAYS);
    m_device->SetTexture(0, nullptr);
    m_device->SetVertexShader(nullptr);
    m_device->SetPixelShader(nullptr);
    std::vector<Vec3> corners;
    corners.reserve(rects.size() * 4);
    for (const Rect& rect : rects) {
        const Rect r = RoundRect(rect);
        corners.emplace_back(r.x, r.y, m_depth);
        corners.emplace_back(r.x + r.width, r.y, m_depth);
        corners.emplace_back(r.x + r.width, r.y + r.height, m_depth);
        corners.emplace_back(r.x, r.y + r.height, m_depth);
    }
    m_device->DrawQuad(corners.data(), static_cast<int>(corners.size()), color.PackARGB());
}

void GraphicsCanvas::RenderTriFan(const std::vector<Vec2>& points, const Color& color)
{
    if (!m_device)
        return;
    SetDefaultState();
    m_device->SetDepthTestFunction(RENDER_TEST_ALWAYS);
    m_device->SetSourceBlend(RENDER_BLEND_SRC_ALPHA);
    m_device->SetDestinationBlend(RENDER_BLEND_INV_SRC_ALPHA);
    m_device->SetTexture(0, nullptr);
    // A fan of fewer than three points covers nothing.
    if (points.size() < 3)
        return;
    std::vector<Vec3> fan;
    fan.reserve(points.size());
    for (const Vec2& p : points)
        fan.emplace_back(p.x, p.y, m_depth);
    m_device->DrawFan(fan.data(), static_cast<int>(fan.size()), color.PackARGB());
}

void GraphicsCanvas::RenderLine(const Vec2&, const Vec2&, const Color&) {}

std::vector<Vec2> GraphicsCanvas::GetSquareRadialWipePoints(const Rect& rect, const Vec2& centerOffset,
                                                            float fraction)
{
    const float hw = rect.width * 0.5f;
    const float hh = rect.height * 0.5f;
    const Vec2 center(rect.x + centerOffset.x + hw, rect.y + centerOffset.y + hh);
    const float reach = std::sqrt(hw * hw + hh * hh);
    // The point the hand at that angle reaches, held to the rectangle's edges.
    auto handPoint = [&](float angle) {
        const float x = center.x + reach * std::cos(angle - kPi * 0.5f);
        const float y = center.y + reach * std::sin(angle - kPi * 0.5f);
        return Vec2(std::clamp(x, center.x - hw, center.x + hw), std::clamp(y, center.y - hh, center.y + hh));
    };
    const float hand = 2.0f * kPi * fraction;
    std::vector<Vec2> points;
    points.push_back(center);
    points.push_back(handPoint(hand));
    for (int k = 0; k <= 8; ++k) {
        const float angle = static_cast<float>(k) * kPi * 0.25f;
        if (angle > hand)
            points.push_back(handPoint(angle));
    }
    return points;
}

void GraphicsCanvas::RenderSquareRadialWipeEffect(const Rect& rect, const Vec2& centerOffset,
                                                  const Color& color, float fraction)
{
    RenderTriFan(GetSquareRadialWipePoints(rect, centerOffset, fraction), color);
}

void GraphicsCanvas::BlurPass(GraphicsShader2& shader, RenderSurface* target, RenderSurface* source,
                              float offsetX, float offsetY, int destinationFactor)
{
    static const Name sampleOffset = Name::Create("sampleOffset");
    static const Name texture = Name::Create("texture");
    static const Name blendDstFactor = Name::Create("blendDstFactor");

    SetRenderTarget(0, target);
    shader.Begin();
    const float offset[2] = {offsetX, offsetY};
    shader.SetFloat2(sampleOffset, 0, offset);
    shader.SetTexture(texture, 0, source->GetTexture());
    shader.SetInt(blendDstFactor, 0, destinationFactor);

    // One full-surface quad in clip space, texture coordinate (0, 0) at the top left.
    RenderVertexDeclaration* declaration = m_graphics ? m_graphics->GetBasicVertexDeclaration() : nullptr;
    if (declaration && m_dynamicVertexBuffer && m_dynamicIndexBuffer) {
        const uint32_t white = kWhite.PackARGB();
        const BasicVertex quad[4] = {{{-1.0f, 1.0f, 0.0f}, {0.0f, 0.0f, 1.0f}, {0.0f, 0.0f}, white},
                                     {{1.0f, 1.0f, 0.0f}, {0.0f, 0.0f, 1.0f}, {1.0f, 0.0f}, white},
                                     {{1.0f, -1.0f, 0.0f}, {0.0f, 0.0f, 1.0f}, {1.0f, 1.0f}, white},
                                     {{-1.0f, -1.0f, 0.0f}, {0.0f, 0.0f, 1.0f}, {0.0f, 1.0f}, white}};
        void* vertices = m_dynamicVertexBuffer->Lock(sizeof(quad));
        uint32_t* indices = vertices ? m_dynamicIndexBuffer->Lock(6) : nullptr;
        if (vertices)
            std::memcpy(vertices, quad, sizeof(quad));
        if (indices) {
            const uint32_t order[6] = {0, 1, 2, 0, 2, 3};
            std::memcpy(indices, order, sizeof(order));
        }
        if (vertices)
            m_dynamicVertexBuffer->Unlock();
        if (indices)
            m_dynamicIndexBuffer->Unlock();
        if (vertices && indices) {
            m_device->SetVertexDeclaration(declaration);
            m_dynamicVertexBuffer->SetAsStream(0, sizeof(BasicVertex));
            m_dynamicIndexBuffer->SetAsIndices();
            shader.Render("BlurFrameBuffer");
            RenderDrawRange range = m_dynamicIndexBuffer->GetDrawRange(6, 2, 0, 0);
            range.numVertices = 4;
            m_device->DrawIndexedPrimitive(RENDER_PRIMITIVE_TRIANGLE_LIST, range);
        }
    }
    shader.End();
}

RenderSurface* GraphicsCanvas::BlurFrameBuffer(int width, int height, const Rect& rect)
{
    if (!m_device || width <= 0 || height <= 0 || !m_renderTarget0)
        return nullptr;
    RenderSurface* a = CreateTemporaryTextureSurface(width, height, RENDER_FORMAT_RGBA, RENDER_FORMAT_NONE);
    RenderSurface* b = CreateTemporaryTextureSurface(width, height, RENDER_FORMAT_RGBA, RENDER_FORMAT_NONE);
    if (!a || !b || !a->GetTexture() || !b->GetTexture())
        return nullptr;
    m_renderTarget0->CopyToTexture(a->GetTexture(), rect);

    static const Name normal = Name::Create("normal");
    static const Name sampleWeight = Name::Create("sampleWeight");
    GraphicsShader2* shader = m_filterShader;
    if (shader)
        shader->EnsureAvailable();
    const int style = shader ? shader->FindStyleByName(normal) : GraphicsShader2::noStyle;
    if (style == GraphicsShader2::noStyle || !shader->Begin(style))
        return a;
    for (uint32_t element = 0; element < 4; ++element)
        shader->SetFloat(sampleWeight, element, 0.125f);

    const Viewport saved = m_device->GetViewport();
    RenderSurface* previous = m_renderTarget0;
    m_device->SetViewport(Viewport(0, 0, width, height));
    const float stepX = 1.0f / static_cast<float>(width);
    const float stepY = 1.0f / static_cast<float>(height);
    // Destination factor ZERO makes a pass replace the target, ONE adds to it: each round is a
    // vertical, then a horizontal eight-tap blur.
    for (int round = 0; round < 2; ++round) {
        BlurPass(*shader, b, a, 0.0f, stepY, RENDER_BLEND_ZERO);
        BlurPass(*shader, b, a, 0.0f, -stepY, RENDER_BLEND_ONE);
        BlurPass(*shader, a, b, stepX, 0.0f, RENDER_BLEND_ZERO);
        BlurPass(*shader, a, b, -stepX, 0.0f, RENDER_BLEND_ONE);
    }
    shader->End();
    // The previous target goes back first: binding a target resets the viewport on some devices.
    SetRenderTarget(0, previous);
    m_device->SetViewport(saved);
    m_device->SetVertexShader(nullptr);
    m_device->SetPixelShader(nullptr);
    return a;
}

// ---------------------------------------------------------------------------------------------
// Text

Vec2 GraphicsCanvas::PlaceText(const Rect& rect, int width, int height, XAlignment xAlign, YAlignment yAlign)
{
    float x = rect.x;
    if (xAlign == X_ALIGN_RIGHT)
        x = rect.x + rect.width - static_cast<float>(width);
    else if (xAlign == X_ALIGN_CENTER)
        x = rect.x + rect.width * 0.5f - static_cast<float>(width / 2);
    float y = rect.y;
    if (yAlign == Y_ALIGN_BOTTOM)
        y = rect.y + rect.height - static_cast<float>(height);
    else if (yAlign == Y_ALIGN_CENTER)
        y = rect.y + rect.height * 0.5f - static_cast<float>(height / 2);
    x = std::trunc(x);
    y = std::trunc(y);
    return Vec2(std::floor(x + 0.5f), std::floor(y + 0.5f));
}

template <class Char>
float GraphicsCanvas::DrawAlignedText(const Rect& rect, const Color& color, const Char* text,
                                      const GraphicsFont* font, int size, XAlignment xAlign,
                                      YAlignment yAlign, bool shadow, int shadowDistance,
                                      RenderFontStyle weight, bool filter)
{
    if (!text || !font)
        return 0.0f;
    const int width = MeasureFontText(font, text, size, weight);
    const Vec2 at = PlaceText(rect, width, size, xAlign, yAlign);
    return static_cast<float>(RenderFontText(font, text, Rect(at.x, at.y, 0.0f, 0.0f),
                                             GraphicsFont::drawFlags, size, color, shadow, shadowDistance,
                                             weight, filter));
}

float GraphicsCanvas::RenderText(const Rect& rect, const Color& color, const char* text,
                                 const GraphicsFont* font, int size, XAlignment xAlign, YAlignment yAlign,
                                 bool shadow, int shadowDistance, RenderFontStyle weight, bool filter)
{
    return DrawAlignedText(rect, color, text, font, size, xAlign, yAlign, shadow, shadowDistance, weight,
                           filter);
}

float GraphicsCanvas::RenderText(const Rect& rect, const Color& color, const char16_t* text,
                                 const GraphicsFont* font, int size, XAlignment xAlign, YAlignment yAlign,
                                 bool shadow, int shadowDistance, RenderFontStyle weight, bool filter)
{
    return DrawAlignedText(rect, color, text, font, size, xAlign, yAlign, shadow, shadowDistance, weight,
                           filter);
}

float GraphicsCanvas::RenderText(int x, int y, const Color& color, const char* text, const GraphicsFont* font,
                                 int size, XAlignment xAlign, YAlignment yAlign, bool shadow,
                                 int shadowDistance, RenderFontStyle weight, bool filter)
{
    return DrawAlignedText(Rect(static_cast<float>(x), static_cast<float>(y), 0.0f, 0.0f), color, text, font,
                           size, xAlign, yAlign, shadow, shadowDistance, weight, filter);
}

float GraphicsCanvas::RenderText(int x, int y, const Color& color, const char16_t* text,
                                 const GraphicsFont* font, int size, XAlignment xAlign, YAlignment yAlign,
                                 bool shadow, int shadowDistance, RenderFontStyle weight, bool filter)
{
    return DrawAlignedText(Rect(static_cast<float>(x), static_cast<float>(y), 0.0f, 0.0f), color, text, font,
                           size, xAlign, yAlign, shadow, shadowDistance, weight, filter);
}

float GraphicsCanvas::RenderText(const Rect& rect, const char16_t* text, const std::string& styleName,
                                 float alpha, XAlignment xAlign, YAlignment yAlign)
{
    const FontStyle* style = Style(styleName);
    if (!style)
        return 0.0f;
    const Color color(style->color.r, style->color.g, style->color.b, alpha);
    return DrawAlignedText(rect, color, text, style->font, style->size, xAlign, yAlign, style->dropShadow,
                           style->shadowDistance, style->weight, style->filter);
}

float GraphicsCanvas::RenderText(int x, int y, const char* text, const std::string& styleName, float alpha,
                                 XAlignment xAlign, YAlignment yAlign)
{
    const FontStyle* style = Style(styleName);
    if (!style)
        return 0.0f;
    const Color color(style->color.r, style->color.g, style->color.b, alpha);
    return DrawAlignedText(Rect(static_cast<float>(x), static_cast<float>(y), 0.0f, 0.0f), color, text,
                           style->font, style->size, xAlign, yAlign, style->dropShadow, style->shadowDistance,
                           style->weight, style->filter);
}

float GraphicsCanvas::RenderText(int x, int y, const char16_t* text, const std::string& styleName,
                                 float alpha, XAlignment xAlign, YAlignment yAlign)
{
    return RenderText(Rect(static_cast<float>(x), static_cast<float>(y), 0.0f, 0.0f), text, styleName, alpha,
                      xAlign, yAlign);
}

float GraphicsCanvas::RenderTextBox(int x, int y, const Color& boxColor, const char16_t* text,
                                    const GraphicsFont* font, int size, bool centered, const Color* textColor,
                                    bool shadow, int shadowDistance, RenderFontStyle weight)
{
    if (!text)
        return 0.0f;
    const int width = MeasureFontText(font, text, size, weight);
    const int boxWidth = width + 2 * textBoxMargin;
    const int boxHeight = size + 2 * textBoxMargin;
    int textX = x, textY = y, boxX = x, boxY = y;
    if (centered) {
        textX = x - width / 2;
        textY = y - size / 2;
        boxX = x - boxWidth / 2;
        boxY = y - boxHeight / 2;
    }
    RenderRect(Rect(static_cast<float>(boxX), static_cast<float>(boxY), static_cast<float>(boxWidth),
                    static_cast<float>(boxHeight)),
               boxColor);
    return RenderText(textX, textY, textColor ? *textColor : kWhite, text, font, size, X_ALIGN_LEFT,
                      Y_ALIGN_TOP, shadow, shadowDistance, weight, false);
}

float GraphicsCanvas::RenderTextBox(int x, int y, const Color& boxColor, const char16_t* text,
                                    const std::string& styleName, float alpha, bool centered,
                                    const Color* textColor)
{
    const FontStyle* style = Style(styleName);
    if (!style)
        return 0.0f;
    const Color color = textColor ? *textColor : Color(style->color.r, style->color.g, style->color.b, alpha);
    return RenderTextBox(x, y, boxColor, text, style->font, style->size, centered, &color, style->dropShadow,
                         style->shadowDistance, style->weight);
}

float GraphicsCanvas::RenderColoredText(int x, int y, const std::u16string& text,
                                        const std::string& styleName, const Color& color)
{
    const FontStyle* style = Style(styleName);
    if (!style)
        return 0.0f;
    return RenderTextBox(x, y, Color(0.0f, 0.0f, 0.0f, 0.0f), text.c_str(), style->font, style->size, false,
                         &color, style->dropShadow, style->shadowDistance, style->weight);
}

float GraphicsCanvas::RenderColoredText(int x, int y, const std::string& text, const std::string& styleName,
                                        const Color& color)
{
    return RenderColoredText(x, y, LocalizationManager::ToWChar(text), styleName, color);
}

void GraphicsCanvas::RenderTextParagraph(int x, int y, const Color& textColor, const Color& boxColor,
                                         const std::vector<std::u16string>& lines,
                                         const std::string& styleName, bool centered)
{
    if (lines.empty())
        return;
    const FontStyle* style = Style(styleName);
    if (!style)
        return;
    // The line of most characters stands for the widest (the first of equal lengths).
    size_t longest = 0;
    for (size_t i = 1; i < lines.size(); ++i)
        if (lines[i].size() > lines[longest].size())
            longest = i;
    const float boxWidth = static_cast<float>(
        MeasureFontText(style->font, lines[longest].c_str(), style->size, style->weight) + 2 * textBoxMargin);
    const float lineHeight = static_cast<float>(style->size + 2);
    const float boxHeight =
        static_cast<float>(lines.size()) * lineHeight + static_cast<float>(2 * textBoxMargin);
    float originX = static_cast<float>(x);
    float originY = static_cast<float>(y);
    if (centered) {
        originX -= boxWidth * 0.5f;
        originY -= boxHeight * 0.5f;
    }
    RenderRect(Rect(originX - textBoxMargin, originY - textBoxMargin, boxWidth, boxHeight), boxColor);
    float lineY = originY;
    for (const std::u16string& line : lines) {
        RenderText(Rect(originX, lineY, boxWidth, 0.0f), textColor, line.c_str(), style->font, style->size,
                   centered ? X_ALIGN_CENTER : X_ALIGN_LEFT, Y_ALIGN_TOP, false, 0, style->weight, false);
        lineY += lineHeight;
    }
}

} // namespace GAME
