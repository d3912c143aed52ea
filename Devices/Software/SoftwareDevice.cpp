#include "SoftwareDevice.h"

#include "DdsImage.h"
#include "DeviceCodes.h"
#include "SoftwareBuffers.h"
#include "SoftwareFont.h"
#include "SoftwarePrograms.h"
#include "SoftwareSurface.h"
#include "SoftwareTexture.h"
#include "TextureChain.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace GAME::Software {

using DeviceCommon::IsBlendFactor;
using DeviceCommon::IsDepthFormat;
using DeviceCommon::IsTestFunction;
using DeviceCommon::IsWriteMode;

namespace {

// Beyond this many lines a forgotten recording stops growing.
constexpr size_t maxRecords = 200000;

const char* KindName(ResourceKind kind)
{
    switch (kind) {
    case ResourceKind::Surface:
        return "surface";
    case ResourceKind::Texture:
        return "texture";
    case ResourceKind::VertexBuffer:
        return "vertexbuffer";
    case ResourceKind::IndexBuffer:
        return "indexbuffer";
    case ResourceKind::DynamicVertexBuffer:
        return "dynamicvertexbuffer";
    case ResourceKind::DynamicIndexBuffer:
        return "dynamicindexbuffer";
    case ResourceKind::VertexDeclaration:
        return "declaration";
    case ResourceKind::VertexShader:
        return "vertexshader";
    case ResourceKind::PixelShader:
        return "pixelshader";
    case ResourceKind::Font:
        return "font";
    case ResourceKind::Count:
        break;
    }
    return "resource";
}

bool IsColorFormat(RenderTextureFormat format)
{
    switch (format) {
    case RENDER_FORMAT_RGB:
    case RENDER_FORMAT_RGBA:
    case RENDER_FORMAT_RGBA_ALT:
    case RENDER_FORMAT_DSDT:
    case RENDER_FORMAT_R16F:
    case RENDER_FORMAT_R32F:
    case RENDER_FORMAT_RGB16:
        return true;
    default:
        return false;
    }
}

uint32_t PackColor(const Color& color)
{
    auto channel = [](float v) {
        return static_cast<uint32_t>(std::clamp(std::lround(v * 255.0f), 0L, 255L));
    };
    return channel(color.a) << 24 | channel(color.r) << 16 | channel(color.g) << 8 | channel(color.b);
}

bool IsValidSize(int width, int height, int limit)
{
    return width > 0 && height > 0 && width <= limit && height <= limit;
}

} // namespace

SoftwareDevice::SoftwareDevice()
    : m_vertexConstants(maxShaderRegisters * 4, 0.0f), m_pixelConstants(maxShaderRegisters * 4, 0.0f)
{
    m_settings.width = 0;
    m_settings.height = 0;
}

SoftwareDevice::~SoftwareDevice()
{
    CriticalSectionLock lock(m_lock);
    // Surfaces first: they take the textures they own with them.
    std::vector<std::pair<const void*, ResourceKind>> alive;
    for (const auto& [resource, record] : m_resources)
        if (!record.owner)
            alive.emplace_back(resource, record.kind);
    std::stable_partition(alive.begin(), alive.end(),
                          [](const auto& entry) { return entry.second == ResourceKind::Surface; });
    for (const auto& [resource, kind] : alive)
        if (Find(resource))
            DeleteResource(resource, kind);
}

// ---------------------------------------------------------------------------------------------
// Records, failures, bookkeeping

void SoftwareDevice::Record(const char* format, ...)
{
    if (!m_recording || m_records.size() >= maxRecords)
        return;
    // Lines are kept whole, however long (text runs carry their characters).
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::string line(length > 0 ? static_cast<size_t>(length) : 0u, '\0');
    if (length > 0)
        std::vsnprintf(line.data(), line.size() + 1, format, again);
    va_end(again);
    m_records.push_back(std::move(line));
}

void SoftwareDevice::Reject(const char* format, ...)
{
    ++m_rejected;
    if (!m_recording || m_records.size() >= maxRecords)
        return;
    char buffer[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof(buffer), format, args);
    va_end(args);
    m_records.emplace_back(std::string(buffer) + " rejected");
}

std::string SoftwareDevice::Name(const void* resource) const
{
    if (!resource)
        return "null";
    const ResourceRecord* record = Find(resource);
    if (!record)
        return m_primary && resource == static_cast<const RenderSurface*>(m_primary) ? "primary" : "foreign";
    return std::string(KindName(record->kind)) + "#" + std::to_string(record->serial);
}

bool SoftwareDevice::ShouldFail(Failure failure)
{
    int& remaining = m_failures[size_t(failure)];
    if (remaining == 0)
        return false;
    if (remaining > 0)
        --remaining;
    return true;
}

bool SoftwareDevice::Reserve(uint64_t bytes)
{
    if (bytes > m_totalVideoMemory || m_resourceBytes > m_totalVideoMemory - bytes) {
        SetTextureRetryable(true);
        return false;
    }
    return true;
}

uint32_t SoftwareDevice::Register(const void* resource, ResourceKind kind, uint64_t bytes, const void* owner)
{
    ResourceRecord record;
    record.kind = kind;
    record.serial = m_nextSerial++;
    record.bytes = bytes;
    record.owner = owner;
    m_resources[resource] = record;
    ++m_counts[size_t(kind)];
    m_resourceBytes += bytes;
    return record.serial;
}

const SoftwareDevice::ResourceRecord* SoftwareDevice::Find(const void* resource) const
{
    auto it = m_resources.find(resource);
    return it == m_resources.end() ? nullptr : &it->second;
}

bool SoftwareDevice::IsKind(const void* resource, ResourceKind kind) const
{
    const ResourceRecord* record = Find(resource);
    return record && record->kind == kind;
}

void SoftwareDevice::Forget(const void* resource)
{
    auto it = m_resources.find(resource);
    if (it != m_resources.end()) {
        --m_counts[size_t(it->second.kind)];
        m_resourceBytes -= it->second.bytes;
        m_resources.erase(it);
    }
    // A destroyed resource must not stay bound: the next draw would read freed memory.
    RenderState& s = m_state;
    for (const RenderTexture*& texture : s.textures)
        if (texture == resource)
            texture = nullptr;
    if (s.vertexShader == resource)
        s.vertexShader = nullptr;
    if (s.pixelShader == resource)
        s.pixelShader = nullptr;
    if (s.declaration == resource)
        s.declaration = nullptr;
    if (s.streamSource == resource) {
        s.streamSource = nullptr;
        s.streamOffset = s.streamStride = 0;
    }
    if (s.secondStreamSource == resource) {
        s.secondStreamSource = nullptr;
        s.secondStreamOffset = s.secondStreamStride = 0;
    }
    if (s.indices == resource)
        s.indices = nullptr;
    for (const RenderSurface*& target : s.renderTargets)
        if (target == resource)
            target = nullptr;
    if (s.depthTarget == resource)
        s.depthTarget = nullptr;
    if (m_primary && resource == static_cast<const RenderSurface*>(m_primary))
        m_primary = nullptr;
}

bool SoftwareDevice::CheckDestroy(const void* resource, ResourceKind kind, const char* operation)
{
    if (!resource)
        return false;
    const ResourceRecord* record = Find(resource);
    if (!record || record->kind != kind || record->owner) {
        // Foreign pointers, resources of another kind and textures a surface owns stay as they are.
        Reject("%s(%s)", operation, Name(resource).c_str());
        return false;
    }
    Record("%s(%s)", operation, Name(resource).c_str());
    return true;
}

template <class T> T* SoftwareDevice::TakeFromHolder(T** holder, ResourceKind kind, const char* operation)
{
    if (!holder) {
        Reject("%s(null holder)", operation);
        return nullptr;
    }
    T* resource = *holder;
    *holder = nullptr;
    return CheckDestroy(resource, kind, operation) ? resource : nullptr;
}

void SoftwareDevice::DeleteResource(const void* resource, ResourceKind kind)
{
    // Each pointer was registered as the interface pointer of its concrete class.
    switch (kind) {
    case ResourceKind::Surface: {
        auto* surface = static_cast<SoftwareSurface*>(
            const_cast<RenderSurface*>(static_cast<const RenderSurface*>(resource)));
        if (surface->OwnsColor() && surface->GetColor())
            Forget(static_cast<const RenderTexture*>(surface->GetColor()));
        Forget(resource);
        delete surface;
        return;
    }
    case ResourceKind::Texture: {
        auto* texture = static_cast<SoftwareTexture*>(
            const_cast<RenderTexture*>(static_cast<const RenderTexture*>(resource)));
        Forget(resource);
        // Surfaces drawing into the texture lose their colour.
        for (auto& [other, record] : m_resources)
            if (record.kind == ResourceKind::Surface) {
                auto* surface = static_cast<SoftwareSurface*>(
                    const_cast<RenderSurface*>(static_cast<const RenderSurface*>(other)));
                if (surface->GetColor() == texture)
                    surface->DetachColor();
            }
        if (m_primary && m_primary->GetColor() == texture)
            m_primary->DetachColor();
        delete texture;
        return;
    }
    case ResourceKind::VertexBuffer:
        Forget(resource);
        delete static_cast<const SoftwareVertexBuffer*>(static_cast<const RenderVertexBuffer*>(resource));
        return;
    case ResourceKind::IndexBuffer:
        Forget(resource);
        delete static_cast<const SoftwareIndexBuffer*>(static_cast<const RenderIndexBuffer*>(resource));
        return;
    case ResourceKind::DynamicVertexBuffer:
        Forget(resource);
        delete static_cast<const SoftwareDynamicVertexBuffer*>(
            static_cast<const RenderDynamicVertexBuffer*>(resource));
        return;
    case ResourceKind::DynamicIndexBuffer:
        Forget(resource);
        delete static_cast<const SoftwareDynamicIndexBuffer*>(
            static_cast<const RenderDynamicIndexBuffer*>(resource));
        return;
    case ResourceKind::VertexDeclaration:
        Forget(resource);
        delete static_cast<const SoftwareVertexDeclaration*>(
            static_cast<const RenderVertexDeclaration*>(resource));
        return;
    case ResourceKind::VertexShader:
        Forget(resource);
        delete static_cast<const SoftwareVertexShader*>(static_cast<const RenderVertexShader*>(resource));
        return;
    case ResourceKind::PixelShader:
        Forget(resource);
        delete static_cast<const SoftwarePixelShader*>(static_cast<const RenderPixelShader*>(resource));
        return;
    case ResourceKind::Font:
        Forget(resource);
        delete static_cast<const SoftwareFont*>(static_cast<const RenderFont*>(resource));
        return;
    case ResourceKind::Count:
        break;
    }
}

// ---------------------------------------------------------------------------------------------
// Device, surfaces and frames

bool SoftwareDevice::Initialize()
{
    CriticalSectionLock lock(m_lock);
    if (ShouldFail(Failure::Initialize)) {
        Record("Initialize() failed");
        return false;
    }
    m_initialized = true;
    Record("Initialize()");
    return true;
}

void SoftwareDevice::GetSupportedDisplayModes(std::vector<RenderDisplayMode>& modes)
{
    DeviceCommon::AddWindowDisplayModes(modes);
}

bool SoftwareDevice::IsValidSettings(const RenderDeviceSettings& settings) const
{
    return DeviceCommon::IsValidSettings(settings, maxTextureSize);
}

RenderSurface* SoftwareDevice::CreatePrimarySurface(void*, const RenderDeviceSettings* settings)
{
    CriticalSectionLock lock(m_lock);
    if (!settings || !IsValidSettings(*settings)) {
        Reject("CreatePrimarySurface(bad settings)");
        return nullptr;
    }
    const int w = settings->width, h = settings->height;
    const uint64_t bytes =
        DeviceCommon::ChainBytes(w, h, 1) + SoftwareSurface::GetDepthBytes(w, h, settings->depthFormat);
    if (!m_initialized || m_lost || ShouldFail(Failure::PrimarySurface) || !Reserve(bytes)) {
        Record("CreatePrimarySurface(%d, %d) failed", w, h);
        return nullptr;
    }
    // The back buffer is a texture of the surface's own, in no record: it cannot be bound.
    auto* color = new SoftwareTexture(*this, settings->colorFormat, false,
                                      {std::vector<uint32_t>(size_t(w) * size_t(h), 0)}, w, h);
    auto* surface = new SoftwareSurface(*this, w, h, color, true, true, settings->depthFormat);
    Register(static_cast<const RenderSurface*>(surface), ResourceKind::Surface, bytes);
    m_settings = *settings;
    m_primary = surface;
    m_state.renderTargets[0] = surface;
    m_state.depthTarget = surface->HasDepth() ? surface : nullptr;
    m_state.viewport = Viewport(0, 0, w, h);
    m_state.scissorRect = Rect(0.0f, 0.0f, float(w), float(h));
    Record("CreatePrimarySurface(%d, %d) -> %s", w, h, Name(static_cast<RenderSurface*>(surface)).c_str());
    return surface;
}

RenderSurface* SoftwareDevice::GetPrimarySurface() const
{
    CriticalSectionLock lock(m_lock);
    return m_primary;
}

RenderSurface* SoftwareDevice::CreateTextureSurface(int width, int height, const RenderTexture* colorTexture,
                                                    RenderTextureFormat depthFormat)
{
    CriticalSectionLock lock(m_lock);
    if (!IsKind(colorTexture, ResourceKind::Texture) || !IsValidSize(width, height, maxTextureSize) ||
        width > colorTexture->GetWidth() || height > colorTexture->GetHeight() ||
        (depthFormat != RENDER_FORMAT_NONE && !IsDepthFormat(depthFormat))) {
        Reject("CreateTextureSurface(%d, %d, %s, %d)", width, height, Name(colorTexture).c_str(),
               depthFormat);
        return nullptr;
    }
    const uint64_t bytes = SoftwareSurface::GetDepthBytes(width, height, depthFormat);
    if (m_lost || ShouldFail(Failure::TextureSurface) || !Reserve(bytes)) {
        Record("CreateTextureSurface(%d, %d, %s, %d) failed", width, height, Name(colorTexture).c_str(),
               depthFormat);
        return nullptr;
    }
    auto* texture = static_cast<SoftwareTexture*>(const_cast<RenderTexture*>(colorTexture));
    auto* surface = new SoftwareSurface(*this, width, height, texture, false, false, depthFormat);
    Register(static_cast<const RenderSurface*>(surface), ResourceKind::Surface, bytes);
    Record("CreateTextureSurface(%d, %d, %s, %d) -> %s", width, height, Name(colorTexture).c_str(),
           depthFormat, Name(static_cast<RenderSurface*>(surface)).c_str());
    return surface;
}

RenderSurface* SoftwareDevice::CreateTextureSurface(int width, int height, RenderTextureFormat colorFormat,
                                                    RenderTextureFormat depthFormat)
{
    CriticalSectionLock lock(m_lock);
    const bool hasColor = colorFormat != RENDER_FORMAT_NONE;
    const bool hasDepth = depthFormat != RENDER_FORMAT_NONE;
    if (!IsValidSize(width, height, maxTextureSize) || (hasColor && !IsColorFormat(colorFormat)) ||
        (hasDepth && !IsDepthFormat(depthFormat)) || (!hasColor && !hasDepth)) {
        Reject("CreateTextureSurface(%d, %d, %d, %d)", width, height, colorFormat, depthFormat);
        return nullptr;
    }
    const uint64_t colorBytes = hasColor ? DeviceCommon::ChainBytes(width, height, 1) : 0;
    const uint64_t depthBytes = SoftwareSurface::GetDepthBytes(width, height, depthFormat);
    if (m_lost || ShouldFail(Failure::TextureSurface) || !Reserve(colorBytes + depthBytes)) {
        Record("CreateTextureSurface(%d, %d, %d, %d) failed", width, height, colorFormat, depthFormat);
        return nullptr;
    }
    SoftwareTexture* color = nullptr;
    if (hasColor)
        color =
            new SoftwareTexture(*this, colorFormat, false,
                                {std::vector<uint32_t>(size_t(width) * size_t(height), 0)}, width, height);
    auto* surface = new SoftwareSurface(*this, width, height, color, hasColor, false, depthFormat);
    Register(static_cast<const RenderSurface*>(surface), ResourceKind::Surface, depthBytes);
    if (color)
        Register(static_cast<const RenderTexture*>(color), ResourceKind::Texture, colorBytes,
                 static_cast<const RenderSurface*>(surface));
    Record("CreateTextureSurface(%d, %d, %d, %d) -> %s", width, height, colorFormat, depthFormat,
           Name(static_cast<RenderSurface*>(surface)).c_str());
    return surface;
}

void SoftwareDevice::DestroySurface(RenderSurface** surface)
{
    CriticalSectionLock lock(m_lock);
    if (auto* resource = TakeFromHolder(surface, ResourceKind::Surface, "DestroySurface"))
        DeleteResource(resource, ResourceKind::Surface);
}

void SoftwareDevice::UnregisterVertexDeclaration(RenderVertexDeclaration* declaration)
{
    // Nothing is cached per declaration here; the call is only checked and recorded.
    CriticalSectionLock lock(m_lock);
    if (declaration && !IsKind(declaration, ResourceKind::VertexDeclaration))
        Reject("UnregisterVertexDeclaration(%s)", Name(declaration).c_str());
    else
        Record("UnregisterVertexDeclaration(%s)", Name(declaration).c_str());
}

int SoftwareDevice::GetNumVertexDeclarations() const
{
    CriticalSectionLock lock(m_lock);
    return static_cast<int>(m_counts[size_t(ResourceKind::VertexDeclaration)]);
}

void SoftwareDevice::SetTargetSurface(int index, RenderSurface* surface)
{
    CriticalSectionLock lock(m_lock);
    // Target 0 always has a surface: null there means the primary; elsewhere it unbinds.
    if (index == 0 && !surface)
        surface = m_primary;
    if (index < 0 || index >= maxRenderTargets || (surface && !IsKind(surface, ResourceKind::Surface))) {
        Reject("SetTargetSurface(%d, %s)", index, Name(surface).c_str());
        return;
    }
    m_state.renderTargets[index] = surface;
    if (index == 0) {
        auto* software = static_cast<SoftwareSurface*>(surface);
        m_state.depthTarget = software && software->HasDepth() ? surface : nullptr;
    }
    Record("SetTargetSurface(%d, %s)", index, Name(surface).c_str());
}

void SoftwareDevice::SetRenderTarget(int index, RenderSurface* surface)
{
    CriticalSectionLock lock(m_lock);
    if (index == 0 && !surface)
        surface = m_primary;
    if (index < 0 || index >= maxRenderTargets || (surface && !IsKind(surface, ResourceKind::Surface))) {
        Reject("SetRenderTarget(%d, %s)", index, Name(surface).c_str());
        return;
    }
    m_state.renderTargets[index] = surface;
    Record("SetRenderTarget(%d, %s)", index, Name(surface).c_str());
}

void SoftwareDevice::SetDepthTarget(RenderSurface* surface)
{
    CriticalSectionLock lock(m_lock);
    if (surface &&
        (!IsKind(surface, ResourceKind::Surface) || !static_cast<SoftwareSurface*>(surface)->HasDepth())) {
        Reject("SetDepthTarget(%s)", Name(surface).c_str());
        return;
    }
    m_state.depthTarget = surface;
    Record("SetDepthTarget(%s)", Name(surface).c_str());
}

const char* SoftwareDevice::GetStatusText()
{
    CriticalSectionLock lock(m_lock);
    char buffer[160];
    std::snprintf(buffer, sizeof(buffer), "Software render device %dx%d, generation %d, %u MB video memory",
                  m_settings.width, m_settings.height, int(m_generation),
                  m_totalVideoMemory / (1024u * 1024u));
    m_statusText = buffer;
    return m_statusText.c_str();
}

int SoftwareDevice::GetWidth() const
{
    CriticalSectionLock lock(m_lock);
    return m_settings.width;
}

int SoftwareDevice::GetHeight() const
{
    CriticalSectionLock lock(m_lock);
    return m_settings.height;
}

bool SoftwareDevice::BeginFrame()
{
    CriticalSectionLock lock(m_lock);
    if (m_inFrame) {
        Reject("BeginFrame()");
        return false;
    }
    if (m_lost || ShouldFail(Failure::BeginFrame)) {
        Record("BeginFrame() failed");
        return false;
    }
    m_inFrame = true;
    m_drawCallsThisFrame = 0;
    m_facesThisFrame = 0;
    Record("BeginFrame()");
    return true;
}

void SoftwareDevice::EndFrame()
{
    CriticalSectionLock lock(m_lock);
    if (!m_inFrame) {
        Reject("EndFrame()");
        return;
    }
    m_inFrame = false;
    ++m_frames;
    Record("EndFrame()");
}

void SoftwareDevice::PresentSurface(RenderSurface* surface)
{
    CriticalSectionLock lock(m_lock);
    if (!IsKind(surface, ResourceKind::Surface)) {
        Reject("PresentSurface(%s)", Name(surface).c_str());
        return;
    }
    // Recorded only: this device shows nothing.
    ++m_presents;
    Record("PresentSurface(%s)", Name(surface).c_str());
}

void SoftwareDevice::SetViewport(const Viewport& viewport)
{
    CriticalSectionLock lock(m_lock);
    if (viewport.width < 0 || viewport.height < 0) {
        Reject("SetViewport(%d, %d, %d, %d)", viewport.x, viewport.y, viewport.width, viewport.height);
        return;
    }
    m_state.viewport = viewport;
    Record("SetViewport(%d, %d, %d, %d)", viewport.x, viewport.y, viewport.width, viewport.height);
}

const Viewport& SoftwareDevice::GetViewport() const
{
    CriticalSectionLock lock(m_lock);
    return m_state.viewport;
}

void SoftwareDevice::SetScissorRect(const Rect& rect)
{
    CriticalSectionLock lock(m_lock);
    m_state.scissorRect = rect;
    Record("SetScissorRect(%g, %g, %g, %g)", rect.x, rect.y, rect.width, rect.height);
}

void SoftwareDevice::SetClearColor(const Color& color)
{
    CriticalSectionLock lock(m_lock);
    m_state.clearColor = color;
    Record("SetClearColor(%g, %g, %g, %g)", color.r, color.g, color.b, color.a);
}

const Color& SoftwareDevice::GetClearColor() const
{
    CriticalSectionLock lock(m_lock);
    return m_state.clearColor;
}

SoftwareSurface* SoftwareDevice::GetColorTarget() const
{
    return static_cast<SoftwareSurface*>(const_cast<RenderSurface*>(m_state.renderTargets[0]));
}

SoftwareSurface* SoftwareDevice::GetDepthTargetSurface() const
{
    return static_cast<SoftwareSurface*>(const_cast<RenderSurface*>(m_state.depthTarget));
}

void SoftwareDevice::Clear(unsigned int flags)
{
    CriticalSectionLock lock(m_lock);
    Record("Clear(%u)", flags);
    const Viewport& v = m_state.viewport;
    // The viewport cut to a surface of the size.
    auto span = [&v](int width, int height, int& x0, int& y0, int& x1, int& y1) {
        x0 = std::clamp(v.x, 0, width);
        y0 = std::clamp(v.y, 0, height);
        x1 = int(std::clamp<int64_t>(int64_t(v.x) + v.width, x0, width));
        y1 = int(std::clamp<int64_t>(int64_t(v.y) + v.height, y0, height));
    };
    SoftwareSurface* target = GetColorTarget();
    if ((flags & RENDER_CLEAR_COLOR) && target && target->GetColor()) {
        SoftwareTexture* color = target->GetColor();
        const uint32_t packed = PackColor(m_state.clearColor);
        int x0, y0, x1, y1;
        span(target->GetWidth(), target->GetHeight(), x0, y0, x1, y1);
        uint32_t* texels = color->GetTexels();
        for (int y = y0; y < y1; ++y)
            std::fill(texels + size_t(y) * color->GetWidth() + x0,
                      texels + size_t(y) * color->GetWidth() + x1, packed);
    }
    SoftwareSurface* depth = GetDepthTargetSurface();
    if ((flags & (RENDER_CLEAR_DEPTH | RENDER_CLEAR_ZBUFFER)) && depth && depth->HasDepth()) {
        int x0, y0, x1, y1;
        span(depth->GetWidth(), depth->GetHeight(), x0, y0, x1, y1);
        std::vector<float>& values = depth->GetDepth();
        for (int y = y0; y < y1; ++y)
            std::fill(values.begin() + ptrdiff_t(y) * depth->GetWidth() + x0,
                      values.begin() + ptrdiff_t(y) * depth->GetWidth() + x1, 1.0f);
    }
}

// ---------------------------------------------------------------------------------------------
// Buffers, declarations, programs

RenderVertexBuffer* SoftwareDevice::CreateVertexBuffer(unsigned int usage, unsigned int size)
{
    CriticalSectionLock lock(m_lock);
    if (size == 0) {
        Reject("CreateVertexBuffer(%u, %u)", usage, size);
        return nullptr;
    }
    if (ShouldFail(Failure::VertexBuffer) || !Reserve(size)) {
        Record("CreateVertexBuffer(%u, %u) failed", usage, size);
        return nullptr;
    }
    auto* buffer = new SoftwareVertexBuffer(*this, usage, size);
    Register(static_cast<const RenderVertexBuffer*>(buffer), ResourceKind::VertexBuffer, size);
    Record("CreateVertexBuffer(%u, %u) -> %s", usage, size,
           Name(static_cast<RenderVertexBuffer*>(buffer)).c_str());
    return buffer;
}

void SoftwareDevice::DestroyVertexBuffer(RenderVertexBuffer** buffer)
{
    CriticalSectionLock lock(m_lock);
    if (auto* resource = TakeFromHolder(buffer, ResourceKind::VertexBuffer, "DestroyVertexBuffer"))
        DeleteResource(resource, ResourceKind::VertexBuffer);
}

RenderDynamicVertexBuffer* SoftwareDevice::CreateDynamicVertexBuffer(unsigned int size)
{
    CriticalSectionLock lock(m_lock);
    if (size == 0) {
        Reject("CreateDynamicVertexBuffer(%u)", size);
        return nullptr;
    }
    if (m_lost || ShouldFail(Failure::DynamicBuffer) || !Reserve(size)) {
        Record("CreateDynamicVertexBuffer(%u) failed", size);
        return nullptr;
    }
    auto* buffer = new SoftwareDynamicVertexBuffer(*this, size);
    Register(static_cast<const RenderDynamicVertexBuffer*>(buffer), ResourceKind::DynamicVertexBuffer, size);
    Record("CreateDynamicVertexBuffer(%u) -> %s", size,
           Name(static_cast<RenderDynamicVertexBuffer*>(buffer)).c_str());
    return buffer;
}

void SoftwareDevice::DestroyDynamicVertexBuffer(RenderDynamicVertexBuffer** buffer)
{
    CriticalSectionLock lock(m_lock);
    if (auto* resource =
            TakeFromHolder(buffer, ResourceKind::DynamicVertexBuffer, "DestroyDynamicVertexBuffer"))
        DeleteResource(resource, ResourceKind::DynamicVertexBuffer);
}

RenderDynamicIndexBuffer* SoftwareDevice::CreateDynamicIndexBuffer(unsigned int size)
{
    CriticalSectionLock lock(m_lock);
    if (size < sizeof(uint32_t)) {
        Reject("CreateDynamicIndexBuffer(%u)", size);
        return nullptr;
    }
    if (m_lost || ShouldFail(Failure::DynamicBuffer) || !Reserve(size)) {
        Record("CreateDynamicIndexBuffer(%u) failed", size);
        return nullptr;
    }
    auto* buffer = new SoftwareDynamicIndexBuffer(*this, size);
    Register(static_cast<const RenderDynamicIndexBuffer*>(buffer), ResourceKind::DynamicIndexBuffer, size);
    Record("CreateDynamicIndexBuffer(%u) -> %s", size,
           Name(static_cast<RenderDynamicIndexBuffer*>(buffer)).c_str());
    return buffer;
}

void SoftwareDevice::DestroyDynamicIndexBuffer(RenderDynamicIndexBuffer** buffer)
{
    CriticalSectionLock lock(m_lock);
    if (auto* resource =
            TakeFromHolder(buffer, ResourceKind::DynamicIndexBuffer, "DestroyDynamicIndexBuffer"))
        DeleteResource(resource, ResourceKind::DynamicIndexBuffer);
}

RenderVertexDeclaration* SoftwareDevice::CreateVertexDeclaration(const VertexElement* elements, int count)
{
    CriticalSectionLock lock(m_lock);
    if (!SoftwareVertexDeclaration::IsValid(elements, count)) {
        Reject("CreateVertexDeclaration(%d)", count);
        return nullptr;
    }
    const uint64_t bytes = uint64_t(count) * sizeof(VertexElement);
    if (ShouldFail(Failure::VertexDeclaration) || !Reserve(bytes)) {
        Record("CreateVertexDeclaration(%d) failed", count);
        return nullptr;
    }
    auto* declaration = new SoftwareVertexDeclaration(elements, count);
    Register(static_cast<const RenderVertexDeclaration*>(declaration), ResourceKind::VertexDeclaration,
             bytes);
    Record("CreateVertexDeclaration(%d) -> %s", count,
           Name(static_cast<RenderVertexDeclaration*>(declaration)).c_str());
    return declaration;
}

void SoftwareDevice::DestroyVertexDeclaration(RenderVertexDeclaration** declaration)
{
    CriticalSectionLock lock(m_lock);
    if (auto* resource =
            TakeFromHolder(declaration, ResourceKind::VertexDeclaration, "DestroyVertexDeclaration"))
        DeleteResource(resource, ResourceKind::VertexDeclaration);
}

RenderIndexBuffer* SoftwareDevice::CreateIndexBuffer(unsigned int numIndices, unsigned int bytesPerIndex)
{
    CriticalSectionLock lock(m_lock);
    if (numIndices == 0 || (bytesPerIndex != 2 && bytesPerIndex != 4)) {
        Reject("CreateIndexBuffer(%u, %u)", numIndices, bytesPerIndex);
        return nullptr;
    }
    const uint64_t bytes = uint64_t(numIndices) * bytesPerIndex;
    if (ShouldFail(Failure::IndexBuffer) || !Reserve(bytes)) {
        Record("CreateIndexBuffer(%u, %u) failed", numIndices, bytesPerIndex);
        return nullptr;
    }
    auto* buffer = new SoftwareIndexBuffer(*this, numIndices, bytesPerIndex);
    Register(static_cast<const RenderIndexBuffer*>(buffer), ResourceKind::IndexBuffer, bytes);
    Record("CreateIndexBuffer(%u, %u) -> %s", numIndices, bytesPerIndex,
           Name(static_cast<RenderIndexBuffer*>(buffer)).c_str());
    return buffer;
}

void SoftwareDevice::DestroyIndexBuffer(RenderIndexBuffer** buffer)
{
    CriticalSectionLock lock(m_lock);
    if (auto* resource = TakeFromHolder(buffer, ResourceKind::IndexBuffer, "DestroyIndexBuffer"))
        DeleteResource(resource, ResourceKind::IndexBuffer);
}

template <class Interface>
Interface* SoftwareDevice::CreateProgram(const void* code, unsigned int size, ResourceKind kind,
                                         const char* operation)
{
    CriticalSectionLock lock(m_lock);
    if (!code || size == 0) {
        Reject("%s(%u)", operation, size);
        return nullptr;
    }
    if (ShouldFail(Failure::Shader) || !Reserve(size)) {
        Record("%s(%u) failed", operation, size);
        return nullptr;
    }
    Interface* program = new SoftwareProgram<Interface>(code, size);
    Register(static_cast<const Interface*>(program), kind, size);
    Record("%s(%u) -> %s", operation, size, Name(program).c_str());
    return program;
}

RenderVertexShader* SoftwareDevice::CreateVertexShader(const void* code, unsigned int size)
{
    return CreateProgram<RenderVertexShader>(code, size, ResourceKind::VertexShader, "CreateVertexShader");
}

void SoftwareDevice::DestroyVertexShader(RenderVertexShader** shader)
{
    CriticalSectionLock lock(m_lock);
    if (auto* resource = TakeFromHolder(shader, ResourceKind::VertexShader, "DestroyVertexShader"))
        DeleteResource(resource, ResourceKind::VertexShader);
}

RenderPixelShader* SoftwareDevice::CreatePixelShader(const void* code, unsigned int size)
{
    return CreateProgram<RenderPixelShader>(code, size, ResourceKind::PixelShader, "CreatePixelShader");
}

void SoftwareDevice::DestroyPixelShader(RenderPixelShader** shader)
{
    CriticalSectionLock lock(m_lock);
    if (auto* resource = TakeFromHolder(shader, ResourceKind::PixelShader, "DestroyPixelShader"))
        DeleteResource(resource, ResourceKind::PixelShader);
}

// ---------------------------------------------------------------------------------------------
// Textures and fonts

SoftwareTexture* SoftwareDevice::MakeTexture(RenderTextureFormat format, bool dynamic, int width, int height,
                                             int levelCount, std::vector<uint32_t> top, const char* operation)
{
    const int levels = DeviceCommon::ChainLevels(width, height, levelCount);
    const uint64_t bytes = DeviceCommon::ChainBytes(width, height, levels);
    if (ShouldFail(Failure::Texture) || !Reserve(bytes)) {
        Record("%s(%d, %d) failed", operation, width, height);
        return nullptr;
    }
    std::vector<std::vector<uint32_t>> chain;
    chain.push_back(std::move(top));
    SoftwareTexture::BuildMipChain(chain, width, height, levels);
    auto* texture = new SoftwareTexture(*this, format, dynamic, std::move(chain), width, height);
    Register(static_cast<const RenderTexture*>(texture), ResourceKind::Texture, bytes);
    Record("%s(%d, %d) -> %s", operation, width, height, Name(static_cast<RenderTexture*>(texture)).c_str());
    return texture;
}

RenderTexture* SoftwareDevice::CreateTextureFromFile(const void* data, unsigned int size, int reduction)
{
    CriticalSectionLock lock(m_lock);
    SetTextureRetryable(false);
    if (!data) {
        Reject("CreateTextureFromFile(%u)", size);
        return nullptr;
    }
    if (ShouldFail(Failure::Texture)) {
        Record("CreateTextureFromFile(%u) failed", size);
        return nullptr;
    }
    DdsImage image;
    const uint64_t free = m_totalVideoMemory - std::min<uint64_t>(m_resourceBytes, m_totalVideoMemory);
    const DdsResult result = DecodeDds(static_cast<const uint8_t*>(data), size, reduction, free, image);
    if (result != DdsResult::Ok) {
        // Too little video memory may pass; bad data stays bad.
        SetTextureRetryable(result == DdsResult::TooLarge);
        Record("CreateTextureFromFile(%u) failed", size);
        return nullptr;
    }
    uint64_t bytes = 0;
    for (const std::vector<uint32_t>& level : image.levels)
        bytes += level.size() * sizeof(uint32_t);
    auto* texture = new SoftwareTexture(*this, image.hasAlpha ? RENDER_FORMAT_RGBA : RENDER_FORMAT_RGB, false,
                                        std::move(image.levels), image.width, image.height);
    Register(static_cast<const RenderTexture*>(texture), ResourceKind::Texture, bytes);
    Record("CreateTextureFromFile(%u) -> %s", size, Name(static_cast<RenderTexture*>(texture)).c_str());
    return texture;
}

RenderTexture* SoftwareDevice::CreateTexture(int width, int height, const void* texels, int levelCount,
                                             unsigned int usage)
{
    CriticalSectionLock lock(m_lock);
    SetTextureRetryable(false);
    if (!IsValidSize(width, height, maxTextureSize)) {
        Reject("CreateTexture(%d, %d)", width, height);
        return nullptr;
    }
    if (!Reserve(DeviceCommon::ChainBytes(width, height, 1))) {
        Record("CreateTexture(%d, %d) failed", width, height);
        return nullptr;
    }
    const size_t count = size_t(width) * size_t(height);
    std::vector<uint32_t> top =
        texels ? DeviceCommon::ExpandIntensity(static_cast<const uint8_t*>(texels), count)
               : std::vector<uint32_t>(count, 0);
    return MakeTexture(RENDER_FORMAT_RGBA, (usage & RENDER_USAGE_DYNAMIC) != 0, width, height, levelCount,
                       std::move(top), "CreateTexture");
}

RenderTexture* SoftwareDevice::CreateTextureFromImage(int width, int height, const void* pixels,
                                                      int levelCount, unsigned int usage)
{
    CriticalSectionLock lock(m_lock);
    SetTextureRetryable(false);
    if (!pixels || !IsValidSize(width, height, maxTextureSize)) {
        Reject("CreateTextureFromImage(%d, %d)", width, height);
        return nullptr;
    }
    if (!Reserve(DeviceCommon::ChainBytes(width, height, 1))) {
        Record("CreateTextureFromImage(%d, %d) failed", width, height);
        return nullptr;
    }
    // Bytes blue, green, red, alpha are the device's packed texels as they lie in memory.
    std::vector<uint32_t> top(size_t(width) * size_t(height));
    const auto* bytes = static_cast<const uint8_t*>(pixels);
    for (size_t i = 0; i < top.size(); ++i, bytes += 4)
        top[i] = uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 |
                 uint32_t(bytes[3]) << 24;
    return MakeTexture(RENDER_FORMAT_RGBA, (usage & RENDER_USAGE_DYNAMIC) != 0, width, height, levelCount,
                       std::move(top), "CreateTextureFromImage");
}

RenderTexture* SoftwareDevice::CreateDynamicTexture(int width, int height, int levelCount, unsigned int)
{
    CriticalSectionLock lock(m_lock);
    SetTextureRetryable(false);
    if (!IsValidSize(width, height, maxTextureSize)) {
        Reject("CreateDynamicTexture(%d, %d)", width, height);
        return nullptr;
    }
    if (!Reserve(DeviceCommon::ChainBytes(width, height, 1))) {
        Record("CreateDynamicTexture(%d, %d) failed", width, height);
        return nullptr;
    }
    return MakeTexture(RENDER_FORMAT_RGBA, true, width, height, levelCount,
                       std::vector<uint32_t>(size_t(width) * size_t(height), 0), "CreateDynamicTexture");
}

void SoftwareDevice::DestroyTexture(RenderTexture** texture)
{
    CriticalSectionLock lock(m_lock);
    if (auto* resource = TakeFromHolder(texture, ResourceKind::Texture, "DestroyTexture"))
        DeleteResource(resource, ResourceKind::Texture);
}

RenderFont* SoftwareDevice::CreateFont(const char* name, const void* data, unsigned int size)
{
    CriticalSectionLock lock(m_lock);
    if (!name || (!data && size)) {
        Reject("CreateFont(%s, %u)", name ? name : "null", size);
        return nullptr;
    }
    if (ShouldFail(Failure::Font) || !Reserve(size)) {
        Record("CreateFont(%s, %u) failed", name, size);
        return nullptr;
    }
    auto* font = new SoftwareFont(*this, name, data, size);
    Register(static_cast<const RenderFont*>(font), ResourceKind::Font, size);
    Record("CreateFont(%s, %u) -> %s", name, size, Name(static_cast<RenderFont*>(font)).c_str());
    return font;
}

void SoftwareDevice::DestroyFont(RenderFont** font)
{
    CriticalSectionLock lock(m_lock);
    if (auto* resource = TakeFromHolder(font, ResourceKind::Font, "DestroyFont"))
        DeleteResource(resource, ResourceKind::Font);
}

// ---------------------------------------------------------------------------------------------
// State

void SoftwareDevice::SetVertexShader(RenderVertexShader* shader)
{
    CriticalSectionLock lock(m_lock);
    if (shader && !IsKind(shader, ResourceKind::VertexShader)) {
        Reject("SetVertexShader(%s)", Name(shader).c_str());
        return;
    }
    m_state.vertexShader = shader;
    Record("SetVertexShader(%s)", Name(shader).c_str());
}

void SoftwareDevice::SetVertexShaderConstants(unsigned int firstRegister, const float* data,
                                              unsigned int registerCount)
{
    SetConstants(m_vertexConstants, firstRegister, data, registerCount, "SetVertexShaderConstants");
}

void SoftwareDevice::SetPixelShader(RenderPixelShader* shader)
{
    CriticalSectionLock lock(m_lock);
    if (shader && !IsKind(shader, ResourceKind::PixelShader)) {
        Reject("SetPixelShader(%s)", Name(shader).c_str());
        return;
    }
    m_state.pixelShader = shader;
    Record("SetPixelShader(%s)", Name(shader).c_str());
}

void SoftwareDevice::SetPixelShaderConstants(unsigned int firstRegister, const float* data,
                                             unsigned int registerCount)
{
    SetConstants(m_pixelConstants, firstRegister, data, registerCount, "SetPixelShaderConstants");
}

void SoftwareDevice::SetConstants(std::vector<float>& bank, unsigned int firstRegister, const float* data,
                                  unsigned int registerCount, const char* operation)
{
    CriticalSectionLock lock(m_lock);
    if ((!data && registerCount) || firstRegister > maxShaderRegisters ||
        registerCount > maxShaderRegisters - firstRegister) {
        Reject("%s(%u, %u)", operation, firstRegister, registerCount);
        return;
    }
    if (registerCount)
        std::memcpy(&bank[size_t(firstRegister) * 4], data, size_t(registerCount) * 4 * sizeof(float));
    Record("%s(%u, %u)", operation, firstRegister, registerCount);
}

void SoftwareDevice::SetTexture(int stage, const RenderTexture* texture)
{
    CriticalSectionLock lock(m_lock);
    if (stage < 0 || stage >= maxTextureStages || (texture && !IsKind(texture, ResourceKind::Texture))) {
        Reject("SetTexture(%d, %s)", stage, Name(texture).c_str());
        return;
    }
    m_state.textures[stage] = texture;
    Record("SetTexture(%d, %s)", stage, Name(texture).c_str());
}

const RenderTexture* SoftwareDevice::GetTexture(int stage) const
{
    CriticalSectionLock lock(m_lock);
    return stage >= 0 && stage < maxTextureStages ? m_state.textures[stage] : nullptr;
}

void SoftwareDevice::SetClippingPlane(int index, const Plane& plane)
{
    CriticalSectionLock lock(m_lock);
    if (index < 0 || index >= maxClipPlanes) {
        Reject("SetClippingPlane(%d)", index);
        return;
    }
    m_state.clippingPlanes[index] = plane;
    m_state.clippingPlaneSet[index] = true;
    Record("SetClippingPlane(%d, %g, %g, %g, %g)", index, plane.normal.x, plane.normal.y, plane.normal.z,
           plane.d);
}

void SoftwareDevice::ClearClippingPlane(int index)
{
    CriticalSectionLock lock(m_lock);
    if (index < 0 || index >= maxClipPlanes) {
        Reject("ClearClippingPlane(%d)", index);
        return;
    }
    m_state.clippingPlaneSet[index] = false;
    Record("ClearClippingPlane(%d)", index);
}

bool SoftwareDevice::GetClippingPlane(int index, Plane& plane) const
{
    CriticalSectionLock lock(m_lock);
    if (index < 0 || index >= maxClipPlanes || !m_state.clippingPlaneSet[index])
        return false;
    plane = m_state.clippingPlanes[index];
    return true;
}

void SoftwareDevice::EnableVerticalSync(bool enable)
{
    CriticalSectionLock lock(m_lock);
    m_state.verticalSync = enable;
    Record("EnableVerticalSync(%d)", enable);
}

void SoftwareDevice::EnableWireframe(bool enable)
{
    CriticalSectionLock lock(m_lock);
    m_state.wireframe = enable;
    Record("EnableWireframe(%d)", enable);
}

void SoftwareDevice::SetDepthTestFunction(RenderTestFunction function)
{
    CriticalSectionLock lock(m_lock);
    if (!IsTestFunction(function)) {
        Reject("SetDepthTestFunction(%d)", function);
        return;
    }
    m_state.depthTest = function;
    Record("SetDepthTestFunction(%d)", function);
}

void SoftwareDevice::SetAlphaTestFunction(RenderTestFunction function)
{
    CriticalSectionLock lock(m_lock);
    if (!IsTestFunction(function)) {
        Reject("SetAlphaTestFunction(%d)", function);
        return;
    }
    m_state.alphaTest = function;
    Record("SetAlphaTestFunction(%d)", function);
}

void SoftwareDevice::SetAlphaReference(float reference)
{
    CriticalSectionLock lock(m_lock);
    m_state.alphaReference = reference;
    Record("SetAlphaReference(%g)", reference);
}

void SoftwareDevice::SetShaderState18(uint32_t value)
{
    CriticalSectionLock lock(m_lock);
    m_state.shaderState18 = value;
    Record("SetShaderState18(%u)", value);
}

void SoftwareDevice::SetColorWriteMode(RenderWriteMode mode)
{
    CriticalSectionLock lock(m_lock);
    if (!IsWriteMode(mode)) {
        Reject("SetColorWriteMode(%d)", mode);
        return;
    }
    m_state.colorWrite = mode;
    Record("SetColorWriteMode(%d)", mode);
}

void SoftwareDevice::SetAlphaWriteMode(RenderWriteMode mode)
{
    CriticalSectionLock lock(m_lock);
    if (!IsWriteMode(mode)) {
        Reject("SetAlphaWriteMode(%d)", mode);
        return;
    }
    m_state.alphaWrite = mode;
    Record("SetAlphaWriteMode(%d)", mode);
}

void SoftwareDevice::SetDepthWriteMode(RenderWriteMode mode)
{
    CriticalSectionLock lock(m_lock);
    if (!IsWriteMode(mode)) {
        Reject("SetDepthWriteMode(%d)", mode);
        return;
    }
    m_state.depthWrite = mode;
    Record("SetDepthWriteMode(%d)", mode);
}

void SoftwareDevice::SetShaderState20(uint32_t value)
{
    CriticalSectionLock lock(m_lock);
    m_state.shaderState20 = value;
    Record("SetShaderState20(%u)", value);
}

void SoftwareDevice::SetShaderState21(uint32_t value)
{
    CriticalSectionLock lock(m_lock);
    m_state.shaderState21 = value;
    Record("SetShaderState21(%u)", value);
}

void SoftwareDevice::SetSourceBlend(RenderBlendFactor factor)
{
    CriticalSectionLock lock(m_lock);
    if (!IsBlendFactor(factor)) {
        Reject("SetSourceBlend(%d)", factor);
        return;
    }
    m_state.sourceBlend = factor;
    Record("SetSourceBlend(%d)", factor);
}

RenderBlendFactor SoftwareDevice::GetSourceBlend() const
{
    CriticalSectionLock lock(m_lock);
    return m_state.sourceBlend;
}

void SoftwareDevice::SetDestinationBlend(RenderBlendFactor factor)
{
    CriticalSectionLock lock(m_lock);
    if (!IsBlendFactor(factor)) {
        Reject("SetDestinationBlend(%d)", factor);
        return;
    }
    m_state.destinationBlend = factor;
    Record("SetDestinationBlend(%d)", factor);
}

RenderBlendFactor SoftwareDevice::GetDestinationBlend() const
{
    CriticalSectionLock lock(m_lock);
    return m_state.destinationBlend;
}

void SoftwareDevice::SetShaderState22(const Vec4& value)
{
    CriticalSectionLock lock(m_lock);
    m_state.shaderState22 = value;
    Record("SetShaderState22(%g, %g, %g, %g)", value.x, value.y, value.z, value.w);
}

void SoftwareDevice::SetShaderState23(uint32_t value)
{
    CriticalSectionLock lock(m_lock);
    m_state.shaderState23 = value;
    Record("SetShaderState23(%u)", value);
}

void SoftwareDevice::SetTextureStageState(int stage, unsigned int state, uint32_t value)
{
    CriticalSectionLock lock(m_lock);
    if (stage < 0 || stage >= maxTextureStages || state >= unsigned(maxTextureStageStates)) {
        Reject("SetTextureStageState(%d, %u, %u)", stage, state, value);
        return;
    }
    m_state.textureStageStates[stage][state] = value;
    Record("SetTextureStageState(%d, %u, %u)", stage, state, value);
}

uint32_t SoftwareDevice::GetTextureStageState(int stage, unsigned int state) const
{
    CriticalSectionLock lock(m_lock);
    if (stage < 0 || stage >= maxTextureStages || state >= unsigned(maxTextureStageStates))
        return 0;
    return m_state.textureStageStates[stage][state];
}

void SoftwareDevice::SetStreamSource(int stream, RenderVertexBuffer* buffer, unsigned int offset,
                                     unsigned int stride)
{
    CriticalSectionLock lock(m_lock);
    // Streams 0 and 1 (a declaration's second stream); no caller reads more.
    if ((stream != 0 && stream != 1) || (buffer && !IsKind(buffer, ResourceKind::VertexBuffer))) {
        Reject("SetStreamSource(%d, %s, %u, %u)", stream, Name(buffer).c_str(), offset, stride);
        return;
    }
    if (stream == 1) {
        m_state.secondStreamSource = buffer;
        m_state.secondStreamOffset = buffer ? offset : 0;
        m_state.secondStreamStride = buffer ? stride : 0;
    } else {
        m_state.streamSource = buffer;
        m_state.streamOffset = buffer ? offset : 0;
        m_state.streamStride = buffer ? stride : 0;
    }
    Record("SetStreamSource(%d, %s, %u, %u)", stream, Name(buffer).c_str(), offset, stride);
}

void SoftwareDevice::BindStream(const void* buffer, uint64_t offset, unsigned int stride)
{
    if (offset > 0xFFFFFFFFu) {
        Reject("SetAsStream(%s, %llu, %u)", Name(buffer).c_str(), static_cast<unsigned long long>(offset),
               stride);
        return;
    }
    m_state.streamSource = buffer;
    m_state.streamOffset = static_cast<uint32_t>(offset);
    m_state.streamStride = stride;
    Record("SetAsStream(%s, %u, %u)", Name(buffer).c_str(), m_state.streamOffset, stride);
}

void SoftwareDevice::SetVertexDeclaration(RenderVertexDeclaration* declaration)
{
    CriticalSectionLock lock(m_lock);
    if (declaration && !IsKind(declaration, ResourceKind::VertexDeclaration)) {
        Reject("SetVertexDeclaration(%s)", Name(declaration).c_str());
        return;
    }
    m_state.declaration = declaration;
    Record("SetVertexDeclaration(%s)", Name(declaration).c_str());
}

void SoftwareDevice::SetIndices(RenderIndexBuffer* indices)
{
    CriticalSectionLock lock(m_lock);
    if (indices && !IsKind(indices, ResourceKind::IndexBuffer)) {
        Reject("SetIndices(%s)", Name(indices).c_str());
        return;
    }
    m_state.indices = indices;
    Record("SetIndices(%s)", Name(indices).c_str());
}

void SoftwareDevice::BindIndices(const void* buffer)
{
    m_state.indices = buffer;
    Record("SetAsIndices(%s)", Name(buffer).c_str());
}

RenderVertexDeclaration* SoftwareDevice::GetVertexDeclaration() const
{
    CriticalSectionLock lock(m_lock);
    return const_cast<RenderVertexDeclaration*>(m_state.declaration);
}

RenderIndexBuffer* SoftwareDevice::GetIndices() const
{
    CriticalSectionLock lock(m_lock);
    // Only a static index buffer is a RenderIndexBuffer.
    return IsKind(m_state.indices, ResourceKind::IndexBuffer)
               ? const_cast<RenderIndexBuffer*>(static_cast<const RenderIndexBuffer*>(m_state.indices))
               : nullptr;
}

void SoftwareDevice::SetDrawCallLimit(int limit)
{
    CriticalSectionLock lock(m_lock);
    m_state.drawCallLimit = limit < 0 ? -1 : limit;
    Record("SetDrawCallLimit(%d)", limit);
}

int SoftwareDevice::GetDrawCallLimit() const
{
    CriticalSectionLock lock(m_lock);
    return m_state.drawCallLimit;
}

void SoftwareDevice::SetDebugSwitch1(bool on)
{
    CriticalSectionLock lock(m_lock);
    m_state.debugSwitch1 = on;
    Record("SetDebugSwitch1(%d)", on);
}

void SoftwareDevice::SetDebugSwitch2(bool on)
{
    CriticalSectionLock lock(m_lock);
    m_state.debugSwitch2 = on;
    Record("SetDebugSwitch2(%d)", on);
}

// ---------------------------------------------------------------------------------------------
// Drawing

bool SoftwareDevice::BeginDraw(const char* operation)
{
    if (!m_inFrame) {
        Reject("%s outside a frame", operation);
        return false;
    }
    if (m_state.drawCallLimit >= 0 && m_drawCallsThisFrame >= m_state.drawCallLimit) {
        // A draw call of the frame all the same; its faces are not drawn.
        ++m_drawCallsThisFrame;
        ++m_totalDrawCalls;
        Record("%s skipped", operation);
        return false;
    }
    return true;
}

void SoftwareDevice::CountDraw(uint64_t faces)
{
    ++m_drawCallsThisFrame;
    ++m_totalDrawCalls;
    m_facesThisFrame = int(std::min<uint64_t>(uint64_t(m_facesThisFrame) + faces, INT32_MAX));
    m_totalFaces += faces;
}

void SoftwareDevice::DrawIndexedPrimitive(RenderPrimitiveType type, const RenderDrawRange& range)
{
    CriticalSectionLock lock(m_lock);
    char call[160];
    std::snprintf(call, sizeof(call), "DrawIndexedPrimitive(%d, %d, %u, %u, %u, %u)", type, range.baseVertex,
                  range.minVertex, range.numVertices, range.startIndex, range.primitiveCount);
    const uint64_t indexCount = GetPrimitiveIndexCount(type, range.primitiveCount);
    if (indexCount == 0 || !m_state.declaration || !m_state.streamSource || !m_state.indices ||
        m_state.streamStride == 0) {
        Reject("%s", call);
        return;
    }
    // The indices read must lie in the bound index buffer.
    const ResourceRecord* indices = Find(m_state.indices);
    uint64_t indexCapacity = 0;
    if (indices && indices->kind == ResourceKind::IndexBuffer)
        indexCapacity = static_cast<const RenderIndexBuffer*>(m_state.indices)->GetNumIndices();
    else if (indices && indices->kind == ResourceKind::DynamicIndexBuffer)
        indexCapacity = static_cast<const SoftwareDynamicIndexBuffer*>(
                            static_cast<const RenderDynamicIndexBuffer*>(m_state.indices))
                            ->GetSize();
    // And the vertex range the caller names must lie in the stream, and in stream 1 when the
    // declaration reads it (a declaration reading any other stream cannot be fed).
    auto streamVertices = [&](const void* source, uint32_t offset, uint32_t stride) -> uint64_t {
        const ResourceRecord* stream = Find(source);
        const uint64_t bytes = stream ? stream->bytes : 0;
        return stride && bytes > offset ? (bytes - offset) / stride : 0;
    };
    const int64_t firstVertex = int64_t(range.baseVertex) + range.minVertex;
    const uint64_t lastVertex = uint64_t(firstVertex) + range.numVertices;
    const uint32_t streams =
        static_cast<const SoftwareVertexDeclaration*>(m_state.declaration)->GetStreamMask();
    const bool secondStream = (streams & 2u) != 0;
    if (uint64_t(range.startIndex) + indexCount > indexCapacity || firstVertex < 0 || (streams & ~3u) != 0 ||
        lastVertex > streamVertices(m_state.streamSource, m_state.streamOffset, m_state.streamStride) ||
        (secondStream && lastVertex > streamVertices(m_state.secondStreamSource, m_state.secondStreamOffset,
                                                     m_state.secondStreamStride))) {
        Reject("%s", call);
        return;
    }
    if (!BeginDraw(call))
        return;
    // The triangles are counted, not rasterised.
    CountDraw(type == RENDER_PRIMITIVE_LINE_LIST || type == RENDER_PRIMITIVE_LINE_STRIP ||
                      type == RENDER_PRIMITIVE_POINT_LIST
                  ? 0
                  : range.primitiveCount);
    Record("%s", call);
}

void SoftwareDevice::DrawQuad(const Vec3* corners, int count, uint32_t color)
{
    CriticalSectionLock lock(m_lock);
    if (!corners || count < 4 || count % 4 != 0) {
        Reject("DrawQuad(%d, %08x)", count, color);
        return;
    }
    if (!BeginDraw("DrawQuad"))
        return;
    // Counted, not rasterised.
    CountDraw(uint64_t(count / 4) * 2);
    Record("DrawQuad(%d, %08x)", count, color);
}

void SoftwareDevice::DrawTexturedQuad(const Rect& rect, const Rect& texCoords, uint32_t color, float depth)
{
    CriticalSectionLock lock(m_lock);
    if (!BeginDraw("DrawTexturedQuad"))
        return;
    // Counted, not rasterised.
    CountDraw(2);
    Record("DrawTexturedQuad(%g, %g, %g, %g, %g, %g, %g, %g, %08x, %g)", rect.x, rect.y, rect.width,
           rect.height, texCoords.x, texCoords.y, texCoords.width, texCoords.height, color, depth);
}

void SoftwareDevice::DrawFan(const Vec3* points, int count, uint32_t color)
{
    CriticalSectionLock lock(m_lock);
    if (!points || count < 3) {
        Reject("DrawFan(%d, %08x)", count, color);
        return;
    }
    if (!BeginDraw("DrawFan"))
        return;
    // Counted, not rasterised.
    CountDraw(uint64_t(count) - 2);
    Record("DrawFan(%d, %08x)", count, color);
}

void SoftwareDevice::DrawTextRun(const void* font, const std::string& text, int count, const Rect& rect,
                                 uint32_t color, RenderFontStyle style)
{
    CriticalSectionLock lock(m_lock);
    if (!BeginDraw("DrawText"))
        return;
    // Counted as two triangles a character, not rasterised.
    CountDraw(uint64_t(std::max(count, 0)) * 2);
    Record("DrawText(%s, %d, \"%s\", %g, %g, %08x, %d)", Name(font).c_str(), count, text.c_str(), rect.x,
           rect.y, color, style);
}

int SoftwareDevice::GetNumFacesRendered() const
{
    CriticalSectionLock lock(m_lock);
    return m_facesThisFrame;
}

int SoftwareDevice::GetNumDrawCalls() const
{
    CriticalSectionLock lock(m_lock);
    return m_drawCallsThisFrame;
}

// ---------------------------------------------------------------------------------------------
// Memory, generation, reset, read-back

unsigned int SoftwareDevice::GetFreeVideoMemory() const
{
    CriticalSectionLock lock(m_lock);
    return m_resourceBytes >= m_totalVideoMemory
               ? 0
               : static_cast<unsigned int>(m_totalVideoMemory - m_resourceBytes);
}

unsigned int SoftwareDevice::GetTotalVideoMemory() const
{
    CriticalSectionLock lock(m_lock);
    return m_totalVideoMemory;
}

RenderGenerationId SoftwareDevice::GetGenerationId() const
{
    CriticalSectionLock lock(m_lock);
    return m_generation;
}

bool SoftwareDevice::DeviceLost()
{
    CriticalSectionLock lock(m_lock);
    return m_lost;
}

void SoftwareDevice::SetFullScreen(bool fullScreen)
{
    CriticalSectionLock lock(m_lock);
    if (fullScreen)
        m_settings.flags |= RenderDeviceSettings::FLAG_FULL_SCREEN;
    else
        m_settings.flags &= ~uint32_t(RenderDeviceSettings::FLAG_FULL_SCREEN);
    Record("SetFullScreen(%d)", fullScreen);
}

bool SoftwareDevice::ResetDevice(const RenderDeviceSettings& settings)
{
    CriticalSectionLock lock(m_lock);
    if (!IsValidSettings(settings)) {
        Reject("ResetDevice(%d, %d)", settings.width, settings.height);
        return false;
    }
    if (ShouldFail(Failure::ResetDevice)) {
        Record("ResetDevice(%d, %d) failed", settings.width, settings.height);
        return false;
    }
    m_settings = settings;
    if (m_primary) {
        // The back buffer follows the new size; its bytes are counted anew.
        auto it = m_resources.find(static_cast<const RenderSurface*>(m_primary));
        const uint64_t bytes =
            DeviceCommon::ChainBytes(settings.width, settings.height, 1) +
            SoftwareSurface::GetDepthBytes(settings.width, settings.height, m_primary->GetDepthFormat());
        m_resourceBytes = m_resourceBytes - it->second.bytes + bytes;
        it->second.bytes = bytes;
        m_primary->Resize(settings.width, settings.height);
    }
    m_state.viewport = Viewport(0, 0, settings.width, settings.height);
    m_state.scissorRect = Rect(0.0f, 0.0f, float(settings.width), float(settings.height));
    m_lost = false;
    ++m_resets;
    Record("ResetDevice(%d, %d)", settings.width, settings.height);
    return true;
}

// Not shared with the OpenGL device's: this one reads its settings under the device's lock.
void SoftwareDevice::SetResolution(int width, int height)
{
    RenderDeviceSettings settings;
    {
        CriticalSectionLock lock(m_lock);
        settings = m_settings;
    }
    settings.width = width;
    settings.height = height;
    ResetDevice(settings);
}

bool SoftwareDevice::ReadFrameBuffer(Pixel* pixels, int width, int height) const
{
    CriticalSectionLock lock(m_lock);
    return ReadTarget(pixels, width, height);
}

bool SoftwareDevice::RequestFrameRead(int width, int height)
{
    CriticalSectionLock lock(m_lock);
    if (m_frameReadPending || !m_primary || GetColorTarget() != m_primary) {
        Reject("RequestFrameRead(%d, %d)", width, height);
        return false;
    }
    std::vector<Pixel> pixels(size_t(width) * size_t(height));
    if (!ReadTarget(pixels.data(), width, height)) {
        Reject("RequestFrameRead(%d, %d)", width, height);
        return false;
    }
    Record("RequestFrameRead(%d, %d)", width, height);
    m_frameRead.swap(pixels);
    m_frameReadWidth = width;
    m_frameReadHeight = height;
    m_frameReadPending = true;
    return true;
}

RenderFrameRead SoftwareDevice::CollectFrameRead(Pixel* pixels, int width, int height, bool wait)
{
    CriticalSectionLock lock(m_lock);
    if (!m_frameReadPending || !pixels || width != m_frameReadWidth || height != m_frameReadHeight) {
        Reject("CollectFrameRead(%d, %d, %s)", width, height, wait ? "wait" : "no wait");
        return RENDER_READ_FAILED;
    }
    Record("CollectFrameRead(%d, %d, %s)", width, height, wait ? "wait" : "no wait");
    std::copy(m_frameRead.begin(), m_frameRead.end(), pixels);
    std::vector<Pixel>().swap(m_frameRead);
    m_frameReadPending = false;
    return RENDER_READ_DONE;
}

bool SoftwareDevice::ReadTarget(Pixel* pixels, int width, int height) const
{
    const SoftwareSurface* target = GetColorTarget();
    if (!pixels || !target || !target->GetColor() || width != target->GetWidth() ||
        height != target->GetHeight())
        return false;
    const SoftwareTexture* color = target->GetColor();
    const uint32_t* texels = color->GetTexels();
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const uint32_t texel = texels[size_t(y) * color->GetWidth() + x];
            Pixel& p = pixels[size_t(y) * width + x];
            p.r = uint8_t(texel >> 16);
            p.g = uint8_t(texel >> 8);
            p.b = uint8_t(texel);
            p.a = uint8_t(texel >> 24);
        }
    return true;
}

// ---------------------------------------------------------------------------------------------
// Helpers for the resource classes

bool SoftwareDevice::AllowLock(const void* resource, bool alreadyLocked)
{
    if (alreadyLocked) {
        Reject("Lock(%s)", Name(resource).c_str());
        return false;
    }
    if (ShouldFail(Failure::Lock)) {
        Record("Lock(%s) failed", Name(resource).c_str());
        return false;
    }
    Record("Lock(%s)", Name(resource).c_str());
    return true;
}

void SoftwareDevice::NoteUnlock(const void* resource, bool wasLocked)
{
    if (wasLocked)
        Record("Unlock(%s)", Name(resource).c_str());
    else
        Reject("Unlock(%s)", Name(resource).c_str());
}

void SoftwareDevice::NoteBadLockSize(const void* resource, unsigned int count)
{
    Reject("Lock(%s, %u)", Name(resource).c_str(), count);
}

SoftwareTexture* SoftwareDevice::CheckCopyTarget(const SoftwareSurface* surface, RenderTexture* destination)
{
    if (!IsKind(destination, ResourceKind::Texture)) {
        Reject("CopyToTexture(%s, %s)", Name(static_cast<const RenderSurface*>(surface)).c_str(),
               Name(destination).c_str());
        return nullptr;
    }
    Record("CopyToTexture(%s, %s)", Name(static_cast<const RenderSurface*>(surface)).c_str(),
           Name(destination).c_str());
    return static_cast<SoftwareTexture*>(destination);
}

// ---------------------------------------------------------------------------------------------
// DeviceControl

void SoftwareDevice::InjectFailure(Failure failure, int count)
{
    CriticalSectionLock lock(m_lock);
    if (failure < Failure::Count)
        m_failures[size_t(failure)] = count;
}

void SoftwareDevice::SetDeviceLost(bool lost)
{
    CriticalSectionLock lock(m_lock);
    m_lost = lost;
}

void SoftwareDevice::SetGenerationId(RenderGenerationId id)
{
    CriticalSectionLock lock(m_lock);
    m_generation = id;
}

void SoftwareDevice::SetTotalVideoMemory(uint32_t bytes)
{
    CriticalSectionLock lock(m_lock);
    m_totalVideoMemory = bytes;
}

uint32_t SoftwareDevice::GetResourceCount(ResourceKind kind) const
{
    CriticalSectionLock lock(m_lock);
    return kind < ResourceKind::Count ? m_counts[size_t(kind)] : 0;
}

uint32_t SoftwareDevice::GetTotalResourceCount() const
{
    CriticalSectionLock lock(m_lock);
    return static_cast<uint32_t>(m_resources.size());
}

uint64_t SoftwareDevice::GetResourceBytes() const
{
    CriticalSectionLock lock(m_lock);
    return m_resourceBytes;
}

uint32_t SoftwareDevice::GetLockedResourceCount() const
{
    CriticalSectionLock lock(m_lock);
    uint32_t locked = 0;
    for (const auto& [resource, record] : m_resources) {
        switch (record.kind) {
        case ResourceKind::Texture:
            locked +=
                static_cast<const SoftwareTexture*>(static_cast<const RenderTexture*>(resource))->IsLocked();
            break;
        case ResourceKind::VertexBuffer:
            locked +=
                static_cast<const SoftwareVertexBuffer*>(static_cast<const RenderVertexBuffer*>(resource))
                    ->IsLocked();
            break;
        case ResourceKind::IndexBuffer:
            locked += static_cast<const SoftwareIndexBuffer*>(static_cast<const RenderIndexBuffer*>(resource))
                          ->IsLocked();
            break;
        case ResourceKind::DynamicVertexBuffer:
            locked += static_cast<const SoftwareDynamicVertexBuffer*>(
                          static_cast<const RenderDynamicVertexBuffer*>(resource))
                          ->IsLocked();
            break;
        case ResourceKind::DynamicIndexBuffer:
            locked += static_cast<const SoftwareDynamicIndexBuffer*>(
                          static_cast<const RenderDynamicIndexBuffer*>(resource))
                          ->IsLocked();
            break;
        default:
            break;
        }
    }
    return locked;
}

uint32_t SoftwareDevice::GetFrameCount() const
{
    CriticalSectionLock lock(m_lock);
    return m_frames;
}

uint32_t SoftwareDevice::GetPresentCount() const
{
    CriticalSectionLock lock(m_lock);
    return m_presents;
}

uint64_t SoftwareDevice::GetTotalDrawCalls() const
{
    CriticalSectionLock lock(m_lock);
    return m_totalDrawCalls;
}

uint64_t SoftwareDevice::GetTotalFaces() const
{
    CriticalSectionLock lock(m_lock);
    return m_totalFaces;
}

uint32_t SoftwareDevice::GetRejectedCallCount() const
{
    CriticalSectionLock lock(m_lock);
    return m_rejected;
}

uint32_t SoftwareDevice::GetResetCount() const
{
    CriticalSectionLock lock(m_lock);
    return m_resets;
}

RenderState SoftwareDevice::GetRenderState() const
{
    CriticalSectionLock lock(m_lock);
    return m_state;
}

std::vector<float> SoftwareDevice::GetVertexShaderConstants() const
{
    CriticalSectionLock lock(m_lock);
    return m_vertexConstants;
}

std::vector<float> SoftwareDevice::GetPixelShaderConstants() const
{
    CriticalSectionLock lock(m_lock);
    return m_pixelConstants;
}

bool SoftwareDevice::ReadDepthBuffer(const RenderSurface* surface, std::vector<float>& values) const
{
    CriticalSectionLock lock(m_lock);
    values.clear();
    if (!IsKind(surface, ResourceKind::Surface))
        return false;
    auto* software = static_cast<SoftwareSurface*>(const_cast<RenderSurface*>(surface));
    if (!software->HasDepth())
        return false;
    values = software->GetDepth();
    return true;
}

void SoftwareDevice::SetRecording(bool on)
{
    CriticalSectionLock lock(m_lock);
    m_recording = on;
}

std::vector<std::string> SoftwareDevice::TakeRecordedCalls()
{
    CriticalSectionLock lock(m_lock);
    std::vector<std::string> records;
    records.swap(m_records);
    return records;
}

} // namespace GAME::Software
