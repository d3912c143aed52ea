// The device state the library sets, how it reaches GL before a draw (only what changed, and only
// when GL does not hold it already), and the draw operations.
#include "OpenGLDevice.h"

#include "DeviceCodes.h"
#include "DeviceLog.h"
#include "OpenGLApi.h"
#include "OpenGLPrograms.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace GAME::OpenGL {

using DeviceCommon::DeviceLogPrintf;
using DeviceCommon::IsBlendFactor;
using DeviceCommon::IsTestFunction;
using DeviceCommon::IsWriteMode;

namespace {

void AttributeFormat(const VertexElement& element, GLint& size, GLenum& type, GLboolean& normalized)
{
    switch (element.type) {
    case VERTEX_TYPE_FLOAT2:
        size = 2, type = GL_FLOAT, normalized = GL_FALSE;
        return;
    case VERTEX_TYPE_FLOAT3:
        size = 3, type = GL_FLOAT, normalized = GL_FALSE;
        return;
    case VERTEX_TYPE_FLOAT4:
        size = 4, type = GL_FLOAT, normalized = GL_FALSE;
        return;
    default:
        break;
    }
    // Four bytes: a colour packed 0xAARRGGBB arrives as (red, green, blue, alpha); bone indices
    // arrive as their raw byte values.
    if (element.usage == VERTEX_USAGE_BONE_INDICES)
        size = 4, type = GL_UNSIGNED_BYTE, normalized = GL_FALSE;
    else
        size = GL_BGRA, type = GL_UNSIGNED_BYTE, normalized = GL_TRUE;
}

// A state code the library set: taken when valid, refused with a log line otherwise.
bool Accept(bool valid, const char* operation, int code)
{
    if (!valid)
        DeviceLogPrintf(1, "OpenGL device: %s(%d) refused", operation, code);
    return valid;
}

// Keeps a state value and marks what reaches GL before the next draw, when the value changes.
template <class T> void Store(T& field, T value, uint32_t& dirty, uint32_t flag)
{
    if (field != value) {
        field = value;
        dirty |= flag;
    }
}

// What a worker may have filled: static buffers; streaming buffers are the main thread's.
WorkerFence* FenceOf(const StaticBufferStore& store)
{
    return &store.GetFence();
}

WorkerFence* FenceOf(const StreamStore&)
{
    return nullptr;
}

// And whose name a worker's refill may change.
const StaticBufferStore* FilledOf(const StaticBufferStore& store)
{
    return &store;
}

const StaticBufferStore* FilledOf(const StreamStore&)
{
    return nullptr;
}

// Points a vertex stream at a static or streaming buffer's store.
template <class Stream, class BufferStore>
void PointStream(Stream& stream, const void* owner, const BufferStore& store, uint64_t offset,
                 uint32_t stride)
{
    stream.owner = owner;
    stream.fence = FenceOf(store);
    stream.store = FilledOf(store);
    stream.buffer = store.GetName();
    stream.epoch = store.GetEpoch();
    stream.offset = offset;
    stream.stride = stride;
    stream.bytes = store.GetBytes();
}

// Points the index input at a static or streaming buffer's store.
template <class Indices, class BufferStore>
void PointIndices(Indices& indices, const void* owner, bool isStatic, const BufferStore& store,
                  uint32_t bytesPerIndex, uint64_t capacity)
{
    indices.owner = owner;
    indices.fence = FenceOf(store);
    indices.store = FilledOf(store);
    indices.isStatic = isStatic;
    indices.buffer = store.GetName();
    indices.epoch = store.GetEpoch();
    indices.bytesPerIndex = bytesPerIndex;
    indices.capacity = capacity;
}

GLint AddressToGL(uint32_t value)
{
    switch (value) {
    case RENDER_ADDRESS_CLAMP:
        return GL_CLAMP_TO_EDGE;
    case RENDER_ADDRESS_MIRROR:
        return GL_MIRRORED_REPEAT;
    default:
        return GL_REPEAT;
    }
}

} // namespace

// ---------------------------------------------------------------------------------------------
// State setters: they keep the state and mark what changed; nothing reaches GL before a draw.

void OpenGLDevice::SetViewport(const Viewport& viewport)
{
    if (viewport.width < 0 || viewport.height < 0) {
        DeviceLogPrintf(1, "OpenGL device: SetViewport(%d, %d, %d, %d) refused", viewport.x, viewport.y,
                        viewport.width, viewport.height);
        return;
    }
    if (m_state.viewport == viewport)
        return;
    m_state.viewport = viewport;
    m_dirty |= DIRTY_VIEWPORT;
    ++m_screenStamp;
}

void OpenGLDevice::SetScissorRect(const Rect& rect)
{
    Rect& s = m_state.scissor;
    if (s.x == rect.x && s.y == rect.y && s.width == rect.width && s.height == rect.height)
        return;
    s = rect;
    m_dirty |= DIRTY_SCISSOR;
}

void OpenGLDevice::EnableWireframe(bool enable)
{
    Store(m_state.wireframe, enable, m_dirty, DIRTY_RASTER);
}

void OpenGLDevice::SetDepthTestFunction(RenderTestFunction function)
{
    if (Accept(IsTestFunction(function), "SetDepthTestFunction", function))
        Store(m_state.depthTest, function, m_dirty, DIRTY_DEPTH);
}

void OpenGLDevice::SetAlphaTestFunction(RenderTestFunction function)
{
    if (Accept(IsTestFunction(function), "SetAlphaTestFunction", function) && m_state.alphaTest != function) {
        m_state.alphaTest = function;
        ++m_alphaStamp;
    }
}

void OpenGLDevice::SetAlphaReference(float reference)
{
    if (m_state.alphaReference != reference) {
        m_state.alphaReference = reference;
        ++m_alphaStamp;
    }
}

void OpenGLDevice::SetColorWriteMode(RenderWriteMode mode)
{
    if (Accept(IsWriteMode(mode), "SetColorWriteMode", mode))
        Store(m_state.colorWrite, mode == RENDER_WRITE_ENABLED, m_dirty, DIRTY_MASKS);
}

void OpenGLDevice::SetAlphaWriteMode(RenderWriteMode mode)
{
    if (Accept(IsWriteMode(mode), "SetAlphaWriteMode", mode))
        Store(m_state.alphaWrite, mode == RENDER_WRITE_ENABLED, m_dirty, DIRTY_MASKS);
}

void OpenGLDevice::SetDepthWriteMode(RenderWriteMode mode)
{
    if (Accept(IsWriteMode(mode), "SetDepthWriteMode", mode))
        Store(m_state.depthWrite, mode == RENDER_WRITE_ENABLED, m_dirty, DIRTY_DEPTH);
}

void OpenGLDevice::SetSourceBlend(RenderBlendFactor factor)
{
    if (Accept(IsBlendFactor(factor), "SetSourceBlend", factor))
        Store(m_state.sourceBlend, factor, m_dirty, DIRTY_BLEND);
}

void OpenGLDevice::SetDestinationBlend(RenderBlendFactor factor)
{
    if (Accept(IsBlendFactor(factor), "SetDestinationBlend", factor))
        Store(m_state.destinationBlend, factor, m_dirty, DIRTY_BLEND);
}

void OpenGLDevice::SetTexture(int stage, const RenderTexture* texture)
{
    if (stage < 0 || stage >= maxTextureStages) {
        DeviceLogPrintf(1, "OpenGL device: SetTexture(%d) refused", stage);
        return;
    }
    const auto* gl = static_cast<const OpenGLTexture*>(texture);
    if (m_state.textures[stage] != gl) {
        m_state.textures[stage] = gl;
        m_dirtyStages |= 1u << stage;
    }
}

const RenderTexture* OpenGLDevice::GetTexture(int stage) const
{
    return stage >= 0 && stage < maxTextureStages ? m_state.textures[stage] : nullptr;
}

void OpenGLDevice::SetTextureStageState(int stage, unsigned int state, uint32_t value)
{
    if (stage < 0 || stage >= maxTextureStages || state >= unsigned(maxTextureStageStates)) {
        DeviceLogPrintf(1, "OpenGL device: SetTextureStageState(%d, %u) refused", stage, state);
        return;
    }
    uint32_t& current = m_state.stageStates[stage][state];
    if (current == value)
        return;
    current = value;
    if (state <= RENDER_STAGE_MIP_FILTER)
        m_dirtyStages |= 1u << stage;
}

uint32_t OpenGLDevice::GetTextureStageState(int stage, unsigned int state) const
{
    if (stage < 0 || stage >= maxTextureStages || state >= unsigned(maxTextureStageStates))
        return 0;
    return m_state.stageStates[stage][state];
}

void OpenGLDevice::SetVertexShader(RenderVertexShader* shader)
{
    Store(m_state.vertexProgram, static_cast<OpenGLVertexProgram*>(shader), m_dirty, DIRTY_PROGRAMS);
}

void OpenGLDevice::SetPixelShader(RenderPixelShader* shader)
{
    Store(m_state.pixelProgram, static_cast<OpenGLPixelProgram*>(shader), m_dirty, DIRTY_PROGRAMS);
}

namespace {

// Copies registers into a bank, stamping those whose value changes; false for a range outside it.
bool StoreConstants(std::vector<float>& bank, std::vector<uint64_t>& stamps, uint64_t& latest,
                    uint64_t& stamp, unsigned int first, const float* data, unsigned int count)
{
    if ((!data && count) || first > unsigned(constantRegisters) ||
        count > unsigned(constantRegisters) - first)
        return false;
    bool changed = false;
    const uint64_t next = stamp + 1;
    for (unsigned int i = 0; i < count; ++i) {
        float* slot = &bank[size_t(first + i) * 4];
        if (std::memcmp(slot, data + size_t(i) * 4, 4 * sizeof(float)) != 0) {
            std::memcpy(slot, data + size_t(i) * 4, 4 * sizeof(float));
            stamps[first + i] = next;
            changed = true;
        }
    }
    if (changed) {
        stamp = next;
        latest = next;
    }
    return true;
}

} // namespace

void OpenGLDevice::SetVertexShaderConstants(unsigned int firstRegister, const float* data,
                                            unsigned int registerCount)
{
    if (!StoreConstants(m_vertexConstants, m_vertexStamps, m_vertexLatest, m_stamp, firstRegister, data,
                        registerCount))
        DeviceLogPrintf(1, "OpenGL device: SetVertexShaderConstants(%u, %u) refused", firstRegister,
                        registerCount);
}

void OpenGLDevice::SetPixelShaderConstants(unsigned int firstRegister, const float* data,
                                           unsigned int registerCount)
{
    if (!StoreConstants(m_pixelConstants, m_pixelStamps, m_pixelLatest, m_stamp, firstRegister, data,
                        registerCount))
        DeviceLogPrintf(1, "OpenGL device: SetPixelShaderConstants(%u, %u) refused", firstRegister,
                        registerCount);
}

void OpenGLDevice::SetClippingPlane(int index, const Plane& plane)
{
    if (index < 0 || index >= maxClipPlanes) {
        DeviceLogPrintf(1, "OpenGL device: SetClippingPlane(%d) refused", index);
        return;
    }
    if (m_state.clipPlanes[index] != plane) {
        m_state.clipPlanes[index] = plane;
        ++m_clipStamp;
    }
    if (!(m_state.clipMask & (1u << index))) {
        m_state.clipMask |= 1u << index;
        m_dirty |= DIRTY_CLIP;
        ++m_clipStamp; // the programs held the neutral plane for it
    }
}

void OpenGLDevice::ClearClippingPlane(int index)
{
    if (index < 0 || index >= maxClipPlanes) {
        DeviceLogPrintf(1, "OpenGL device: ClearClippingPlane(%d) refused", index);
        return;
    }
    if (m_state.clipMask & (1u << index)) {
        m_state.clipMask &= ~(1u << index);
        m_dirty |= DIRTY_CLIP;
        ++m_clipStamp; // the programs take the neutral plane for it
    }
}

bool OpenGLDevice::GetClippingPlane(int index, Plane& plane) const
{
    if (index < 0 || index >= maxClipPlanes || !(m_state.clipMask & (1u << index)))
        return false;
    plane = m_state.clipPlanes[index];
    return true;
}

void OpenGLDevice::SetStreamSource(int stream, RenderVertexBuffer* buffer, unsigned int offset,
                                   unsigned int stride)
{
    if (stream < 0 || stream >= maxStreams) {
        DeviceLogPrintf(1, "OpenGL device: SetStreamSource(%d) refused", stream);
        return;
    }
    Stream& s = m_state.streams[stream];
    if (!buffer) {
        s = Stream();
    } else {
        PointStream(s, static_cast<const RenderVertexBuffer*>(buffer),
                    static_cast<OpenGLVertexBuffer*>(buffer)->GetStore(), offset, stride);
    }
    m_dirty |= DIRTY_INPUT;
}

void OpenGLDevice::BindDynamicStream(const OpenGLDynamicVertexBuffer& buffer, uint64_t offset,
                                     unsigned int stride)
{
    PointStream(m_state.streams[0], static_cast<const RenderDynamicVertexBuffer*>(&buffer), buffer.GetStore(),
                offset, stride);
    m_dirty |= DIRTY_INPUT;
}

void OpenGLDevice::SetVertexDeclaration(RenderVertexDeclaration* declaration)
{
    Store(m_state.declaration, static_cast<OpenGLVertexDeclaration*>(declaration), m_dirty, DIRTY_INPUT);
}

void OpenGLDevice::SetIndices(RenderIndexBuffer* indices)
{
    Indices& i = m_state.indices;
    if (!indices) {
        i = Indices();
        return;
    }
    auto* buffer = static_cast<OpenGLIndexBuffer*>(indices);
    PointIndices(i, static_cast<const RenderIndexBuffer*>(buffer), true, buffer->GetStore(),
                 buffer->GetBytesPerIndex(), buffer->GetNumIndices());
}

void OpenGLDevice::BindDynamicIndices(const OpenGLDynamicIndexBuffer& buffer)
{
    PointIndices(m_state.indices, static_cast<const RenderDynamicIndexBuffer*>(&buffer), false,
                 buffer.GetStore(), 4, buffer.GetSize());
}

RenderIndexBuffer* OpenGLDevice::GetIndices() const
{
    // Only a static index buffer is a RenderIndexBuffer.
    return m_state.indices.isStatic
               ? const_cast<RenderIndexBuffer*>(static_cast<const RenderIndexBuffer*>(m_state.indices.owner))
               : nullptr;
}

// ---------------------------------------------------------------------------------------------
// Applying the state

uint32_t OpenGLDevice::GetFramebuffer(const FramebufferKey& key)
{
    auto it = m_framebuffers.find(key);
    if (it != m_framebuffers.end())
        return it->second;
    GLuint framebuffer = 0;
    glCreateFramebuffers(1, &framebuffer);
    GLenum drawBuffers[maxRenderTargets];
    for (int i = 0; i < maxRenderTargets; ++i) {
        if (key.colors[i])
            glNamedFramebufferTexture(framebuffer, GL_COLOR_ATTACHMENT0 + i, key.colors[i], 0);
        drawBuffers[i] = key.colors[i] ? GLenum(GL_COLOR_ATTACHMENT0 + i) : GLenum(GL_NONE);
    }
    glNamedFramebufferDrawBuffers(framebuffer, maxRenderTargets, drawBuffers);
    glNamedFramebufferReadBuffer(framebuffer, key.colors[0] ? GL_COLOR_ATTACHMENT0 : GL_NONE);
    if (key.depth)
        glNamedFramebufferTexture(framebuffer,
                                  key.depthHasStencil ? GL_DEPTH_STENCIL_ATTACHMENT : GL_DEPTH_ATTACHMENT,
                                  key.depth, 0);
    const GLenum status = glCheckNamedFramebufferStatus(framebuffer, GL_FRAMEBUFFER);
    if (status != GL_FRAMEBUFFER_COMPLETE)
        DeviceLogPrintf(1, "OpenGL device: the render targets do not make a complete framebuffer (0x%04x)",
                        unsigned(status));
    m_framebuffers.emplace(key, framebuffer);
    return framebuffer;
}

void OpenGLDevice::AwaitSurface(const OpenGLSurface* surface)
{
    if (!surface)
        return;
    AwaitWorkerWrites(surface->GetFence());
    if (const OpenGLTexture* color = surface->GetColor(); color && color->GetEpoch() == GetEpoch())
        AwaitWorkerWrites(color->GetFence());
}

void OpenGLDevice::NoteTargetUses() const
{
    for (const OpenGLSurface* target : m_state.targets)
        if (target && target->GetColor())
            NoteMainUse(target->GetColor()->GetFence());
}

void OpenGLDevice::ApplyTargets()
{
    if (!(m_dirty & DIRTY_TARGETS))
        return;
    m_dirty &= ~DIRTY_TARGETS;
    FramebufferKey key;
    bool any = false;
    // Attachments of one framebuffer share their sample count: the first target's decides, and a
    // target or depth buffer of another count is left out.
    int samples = -1;
    for (int i = 0; i < maxRenderTargets; ++i)
        AwaitSurface(m_state.targets[i]);
    AwaitSurface(m_state.depthTarget);
    for (int i = 0; i < maxRenderTargets; ++i) {
        const OpenGLSurface* target = m_state.targets[i];
        const uint32_t name = target ? target->GetDrawColorName() : 0;
        if (!name || (samples >= 0 && target->GetSamples() != samples))
            continue;
        samples = target->GetSamples();
        key.colors[i] = name;
        any = true;
    }
    if (const OpenGLSurface* depth = m_state.depthTarget;
        depth && depth->GetDepthEpoch() == GetEpoch() && (samples < 0 || depth->GetSamples() == samples)) {
        key.depth = depth->GetDepthName();
        key.depthHasStencil = depth->GetDepthFormat() == RENDER_FORMAT_D24;
        any |= key.depth != 0;
    }
    const uint32_t framebuffer = any ? GetFramebuffer(key) : 0;
    if (m_applied.framebuffer != framebuffer) {
        glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
        m_applied.framebuffer = framebuffer;
    }
}

void OpenGLDevice::ApplyViewportAndScissor()
{
    if (m_dirty & DIRTY_VIEWPORT) {
        m_dirty &= ~DIRTY_VIEWPORT;
        const Viewport& v = m_state.viewport;
        const int wanted[4] = {v.x, v.y, v.width, v.height};
        if (std::memcmp(wanted, m_applied.viewport, sizeof(wanted)) != 0) {
            // Row 0 is the top (glClipControl), so the rectangle counts from the top as given.
            glViewport(v.x, v.y, v.width, v.height);
            std::memcpy(m_applied.viewport, wanted, sizeof(wanted));
        }
    }
    if (m_dirty & DIRTY_SCISSOR) {
        m_dirty &= ~DIRTY_SCISSOR;
        const Rect& s = m_state.scissor;
        const long x0 = std::lround(s.x), y0 = std::lround(s.y);
        const long x1 = std::lround(s.x + s.width), y1 = std::lround(s.y + s.height);
        const int wanted[4] = {int(x0), int(y0), int(std::max(0L, x1 - x0)), int(std::max(0L, y1 - y0))};
        if (std::memcmp(wanted, m_applied.scissor, sizeof(wanted)) != 0) {
            glScissor(wanted[0], wanted[1], wanted[2], wanted[3]);
            std::memcpy(m_applied.scissor, wanted, sizeof(wanted));
        }
    }
}

void OpenGLDevice::ApplyBlendDepthMasks(bool text)
{
    if (text || (m_dirty & DIRTY_BLEND)) {
        if (!text)
            m_dirty &= ~DIRTY_BLEND;
        const GLenum source = text ? GL_SRC_ALPHA : BlendFactorToGL(m_state.sourceBlend);
        const GLenum destination = text ? GL_ONE_MINUS_SRC_ALPHA : BlendFactorToGL(m_state.destinationBlend);
        const int enabled = !(source == GL_ONE && destination == GL_ZERO);
        if (m_applied.blendEnabled != enabled) {
            if (enabled)
                glEnable(GL_BLEND);
            else
                glDisable(GL_BLEND);
            m_applied.blendEnabled = enabled;
        }
        if (enabled && (m_applied.blendSource != source || m_applied.blendDestination != destination)) {
            glBlendFunc(source, destination);
            m_applied.blendSource = source;
            m_applied.blendDestination = destination;
        }
    }
    if (text || (m_dirty & DIRTY_DEPTH)) {
        if (!text)
            m_dirty &= ~DIRTY_DEPTH;
        const GLenum function = text ? GL_ALWAYS : DepthTestFunctionToGL(m_state.depthTest);
        if (m_applied.depthFunction != function) {
            glDepthFunc(function);
            m_applied.depthFunction = function;
        }
        const int mask = text ? 0 : m_state.depthWrite;
        if (m_applied.depthMask != mask) {
            glDepthMask(mask ? GL_TRUE : GL_FALSE);
            m_applied.depthMask = mask;
        }
    }
    if (m_dirty & DIRTY_MASKS) {
        m_dirty &= ~DIRTY_MASKS;
        const int mask = (m_state.colorWrite ? 1 : 0) | (m_state.alphaWrite ? 2 : 0);
        if (m_applied.colorMask != mask) {
            const GLboolean c = m_state.colorWrite ? GL_TRUE : GL_FALSE;
            glColorMask(c, c, c, m_state.alphaWrite ? GL_TRUE : GL_FALSE);
            m_applied.colorMask = mask;
        }
    }
    if (text)
        m_dirty |= DIRTY_BLEND | DIRTY_DEPTH; // the next draw puts the library's state back
}

uint32_t OpenGLDevice::GetSampler(const uint32_t* stageStates)
{
    const uint32_t u = std::min<uint32_t>(stageStates[RENDER_STAGE_ADDRESS_U], 3);
    const uint32_t v = std::min<uint32_t>(stageStates[RENDER_STAGE_ADDRESS_V], 3);
    const uint32_t mag = stageStates[RENDER_STAGE_MAG_FILTER] == RENDER_FILTER_POINT ? 1 : 0;
    const uint32_t min = stageStates[RENDER_STAGE_MIN_FILTER] == RENDER_FILTER_POINT ? 1 : 0;
    const uint32_t mipValue = stageStates[RENDER_STAGE_MIP_FILTER];
    const uint32_t mip = mipValue == RENDER_FILTER_POINT ? 1 : mipValue == RENDER_FILTER_NONE ? 2 : 0;
    const uint32_t key = u | v << 2 | mag << 4 | min << 5 | mip << 6;
    auto it = m_samplers.find(key);
    if (it != m_samplers.end())
        return it->second;
    GLuint sampler = 0;
    glCreateSamplers(1, &sampler);
    glSamplerParameteri(sampler, GL_TEXTURE_WRAP_S, AddressToGL(u));
    glSamplerParameteri(sampler, GL_TEXTURE_WRAP_T, AddressToGL(v));
    glSamplerParameteri(sampler, GL_TEXTURE_MAG_FILTER, mag ? GL_NEAREST : GL_LINEAR);
    static const GLint minFilters[2][3] = {{GL_LINEAR_MIPMAP_LINEAR, GL_LINEAR_MIPMAP_NEAREST, GL_LINEAR},
                                           {GL_NEAREST_MIPMAP_LINEAR, GL_NEAREST_MIPMAP_NEAREST, GL_NEAREST}};
    glSamplerParameteri(sampler, GL_TEXTURE_MIN_FILTER, minFilters[min][mip]);
    m_samplers.emplace(key, sampler);
    return sampler;
}

void OpenGLDevice::ApplyTextures(bool text)
{
    uint32_t stages = m_dirtyStages;
    if (text)
        stages &= ~1u; // stage 0 carries the glyphs; restored by the next draw
    m_dirtyStages &= ~stages;
    const uint32_t epoch = GetEpoch();
    for (; stages; stages &= stages - 1) {
        const int stage = __builtin_ctz(stages);
        const OpenGLTexture* texture = m_state.textures[stage];
        uint32_t name = 0;
        if (texture) {
            if (texture->GetEpoch() != epoch)
                LogOncePerFrame(LOG_DEAD_OBJECT,
                                "OpenGL device: a texture made before the context was lost is "
                                "bound; it is not drawn with");
            else {
                AwaitWorkerWrites(texture->GetFence());
                name = m_debugSwitch2 ? m_whiteTexture : texture->GetName();
            }
        }
        if (m_applied.textures[stage] != name) {
            glBindTextureUnit(stage, name);
            m_applied.textures[stage] = name;
        }
        const uint32_t sampler = name ? GetSampler(m_state.stageStates[stage]) : 0;
        if (m_applied.samplers[stage] != sampler) {
            glBindSampler(stage, sampler);
            m_applied.samplers[stage] = sampler;
        }
    }
}

void OpenGLDevice::SyncConstants(ProgramObject& program, bool vertex)
{
    const uint64_t latest = vertex ? m_vertexLatest : m_pixelLatest;
    if (program.constantsStamp >= latest)
        return;
    const std::vector<uint64_t>& stamps = vertex ? m_vertexStamps : m_pixelStamps;
    const std::vector<float>& bank = vertex ? m_vertexConstants : m_pixelConstants;
    // One upload of the registers that changed since the program last drew.
    int first = -1, last = -1;
    for (int r = 0; r < program.constantCount; ++r)
        if (stamps[r] > program.constantsStamp) {
            if (first < 0)
                first = r;
            last = r;
        }
    if (first >= 0)
        glProgramUniform4fv(program.name, first, last - first + 1, &bank[size_t(first) * 4]);
    program.constantsStamp = latest;
}

bool OpenGLDevice::ApplyPrograms(bool screen, bool textured)
{
    const uint32_t epoch = GetEpoch();
    ProgramObject* vertex = screen                  ? &m_screenVertex
                            : m_state.vertexProgram ? &m_state.vertexProgram->object
                                                    : &m_fixedVertex;
    // Without an alpha test to make (the test passes everything), the program without it.
    const bool tested = m_state.alphaTest != RENDER_TEST_ALWAYS;
    auto choose = [tested](ProgramObject& withTest, ProgramObject& withoutTest) {
        return tested || withoutTest.name == 0 ? &withTest : &withoutTest;
    };
    ProgramObject* pixel = (screen || !m_state.pixelProgram)
                               ? (textured ? choose(m_fixedPixelTextured, m_fixedPixelTexturedUntested)
                                           : choose(m_fixedPixelPlain, m_fixedPixelPlainUntested))
                               : choose(m_state.pixelProgram->object, m_state.pixelProgram->untested);
    if (vertex->epoch != epoch || pixel->epoch != epoch) {
        LogOncePerFrame(LOG_DEAD_OBJECT,
                        "OpenGL device: a program made before the context was lost is set; draws "
                        "are refused");
        return false;
    }
    if (!screen && m_state.vertexProgram)
        AwaitWorkerWrites(m_state.vertexProgram->fence);
    if (!screen && m_state.pixelProgram)
        AwaitWorkerWrites(m_state.pixelProgram->fence);
    if (m_applied.vertexProgram != vertex->name) {
        glUseProgramStages(m_pipeline, GL_VERTEX_SHADER_BIT, vertex->name);
        m_applied.vertexProgram = vertex->name;
    }
    if (m_applied.pixelProgram != pixel->name) {
        glUseProgramStages(m_pipeline, GL_FRAGMENT_SHADER_BIT, pixel->name);
        m_applied.pixelProgram = pixel->name;
    }
    SyncConstants(*vertex, true);
    SyncConstants(*pixel, false);
    if (screen) {
        if (m_screenProgramStamp != m_screenStamp) {
            // Screen pixels to clip space across the viewport: x' = 2 (x - vx) / w - 1, y' = 1 - 2 (y - vy) /
            // h.
            const Viewport& v = m_state.viewport;
            const float w = float(std::max(v.width, 1)), h = float(std::max(v.height, 1));
            glProgramUniform4f(vertex->name, screenLocation, 2.0f / w, -2.0f / h,
                               -1.0f - 2.0f * float(v.x) / w, 1.0f + 2.0f * float(v.y) / h);
            m_screenProgramStamp = m_screenStamp;
        }
    } else if (vertex->deviceStamp != m_clipStamp) {
        // A plane that is off keeps every point (0, 0, 0, 1): drivers need not honour a disabled
        // clip distance that the program still writes.
        float planes[maxClipPlanes][4];
        for (int i = 0; i < maxClipPlanes; ++i) {
            const bool on = (m_state.clipMask >> i) & 1;
            const Plane& p = m_state.clipPlanes[i];
            planes[i][0] = on ? p.normal.x : 0.0f;
            planes[i][1] = on ? p.normal.y : 0.0f;
            planes[i][2] = on ? p.normal.z : 0.0f;
            planes[i][3] = on ? p.d : 1.0f;
        }
        glProgramUniform4fv(vertex->name, clipPlanesLocation, maxClipPlanes, &planes[0][0]);
        vertex->deviceStamp = m_clipStamp;
    }
    if (pixel->alphaTested && pixel->deviceStamp != m_alphaStamp) {
        glProgramUniform2f(pixel->name, alphaTestLocation, float(m_state.alphaTest), m_state.alphaReference);
        pixel->deviceStamp = m_alphaStamp;
    }
    return true;
}

bool OpenGLDevice::ApplyVertexInput()
{
    OpenGLVertexDeclaration* declaration = m_state.declaration;
    if (!declaration) {
        LogOncePerFrame(LOG_NO_VERTICES, "OpenGL device: a draw without a vertex declaration is refused");
        return false;
    }
    const uint32_t epoch = GetEpoch();
    if (!declaration->vertexArray || declaration->vertexArrayEpoch != epoch) {
        GLuint vao = 0;
        glCreateVertexArrays(1, &vao);
        const std::vector<VertexElement>& elements = declaration->GetElements();
        for (size_t i = 0; i < elements.size(); ++i) {
            GLint size;
            GLenum type;
            GLboolean normalized;
            AttributeFormat(elements[i], size, type, normalized);
            glEnableVertexArrayAttrib(vao, elements[i].usage);
            glVertexArrayAttribFormat(vao, elements[i].usage, size, type, normalized,
                                      declaration->GetOffsets()[i]);
            glVertexArrayAttribBinding(vao, elements[i].usage, elements[i].stream);
        }
        declaration->vertexArray = vao;
        declaration->vertexArrayEpoch = epoch;
        for (OpenGLVertexDeclaration::Binding& binding : declaration->bindings)
            binding = OpenGLVertexDeclaration::Binding();
        declaration->elementBuffer = ~0u;
    }
    if (declaration->foreignWrites != m_seenForeignWrites) {
        // Another thread wrote into objects: bind them afresh so this context sees the writes.
        for (OpenGLVertexDeclaration::Binding& binding : declaration->bindings)
            binding = OpenGLVertexDeclaration::Binding();
        declaration->elementBuffer = ~0u;
        declaration->foreignWrites = m_seenForeignWrites;
    }
    if (m_applied.vertexArray != declaration->vertexArray) {
        glBindVertexArray(declaration->vertexArray);
        m_applied.vertexArray = declaration->vertexArray;
    }
    for (uint32_t streams = declaration->GetStreamMask(); streams; streams &= streams - 1) {
        const int index = __builtin_ctz(streams);
        const Stream& stream = m_state.streams[index];
        if (!stream.buffer) {
            LogOncePerFrame(LOG_NO_VERTICES,
                            "OpenGL device: a draw without vertex data on stream %d is refused", index);
            return false;
        }
        if (stream.epoch != epoch) {
            LogOncePerFrame(LOG_DEAD_OBJECT,
                            "OpenGL device: a vertex buffer made before the context was lost is "
                            "bound; draws are refused");
            return false;
        }
        if (stream.fence) {
            AwaitWorkerWrites(*stream.fence);
            NoteMainUse(*stream.fence);
        }
        const uint32_t stride = stream.stride ? stream.stride : declaration->GetStreamStride(index);
        const uint32_t name = BoundName(stream);
        OpenGLVertexDeclaration::Binding& bound = declaration->bindings[index];
        if (bound.buffer != name || bound.offset != stream.offset || bound.stride != stride) {
            glVertexArrayVertexBuffer(declaration->vertexArray, index, name, GLintptr(stream.offset),
                                      GLsizei(stride));
            bound.buffer = name;
            bound.offset = stream.offset;
            bound.stride = stride;
        }
    }
    if (m_state.vertexProgram == nullptr) {
        const int flag = declaration->HasUsage(VERTEX_USAGE_COLOR) ? 1 : 0;
        if (m_fixedColorFlag != flag) {
            glProgramUniform4f(m_fixedVertex.name, fixedFlagsLocation, float(flag), 0.0f, 0.0f, 0.0f);
            m_fixedColorFlag = flag;
        }
    }
    return true;
}

bool OpenGLDevice::PrepareDraw(bool screen, bool textured, bool text)
{
    if (m_retiredPending.load(std::memory_order_acquire))
        ProcessRetired();
    BeginMainCommand();
    const uint32_t writes = m_foreignWrites.load(std::memory_order_acquire);
    if (writes != m_seenForeignWrites) {
        m_seenForeignWrites = writes;
        std::fill(std::begin(m_applied.textures), std::end(m_applied.textures), ~0u);
        m_dirtyStages = 0xFFFFu;
    }
    ApplyTargets();
    if (m_applied.framebuffer == 0) {
        LogOncePerFrame(LOG_NO_TARGET, "OpenGL device: a draw without a render target is refused");
        return false;
    }
    ApplyViewportAndScissor();
    ApplyBlendDepthMasks(text);
    // Draws past the draw call limit are outlined (debug switch 1 off) whatever the state says.
    m_dirty &= ~DIRTY_RASTER;
    const int wireframe = m_state.wireframe || m_outlineDraw;
    if (m_applied.wireframe != wireframe) {
        glPolygonMode(GL_FRONT_AND_BACK, wireframe ? GL_LINE : GL_FILL);
        m_applied.wireframe = wireframe;
    }
    for (OpenGLSurface* target : m_state.targets)
        if (target)
            target->SetDrawnSinceResolve(true);
    NoteTargetUses();
    // The first plane stays on for every program's draw, set or not (a plane that is off keeps
    // every point, see ApplyPrograms): the driver makes a program for each set of planes that are
    // on, so that a region seen through a doorway, cut by a plane, would need programs of its own.
    const uint32_t clips = screen ? 0 : m_state.clipMask | 1u;
    if (m_applied.clipEnables != clips) {
        for (int i = 0; i < maxClipPlanes; ++i)
            if (((m_applied.clipEnables ^ clips) >> i) & 1) {
                if ((clips >> i) & 1)
                    glEnable(GL_CLIP_DISTANCE0 + i);
                else
                    glDisable(GL_CLIP_DISTANCE0 + i);
            }
        m_applied.clipEnables = clips;
    }
    if (!ApplyPrograms(screen, textured))
        return false;
    ApplyTextures(text);
    for (const OpenGLTexture* texture : m_state.textures)
        if (texture)
            NoteMainUse(texture->GetFence());
    if (screen) {
        if (m_applied.vertexArray != m_screenVertexArray) {
            glBindVertexArray(m_screenVertexArray);
            m_applied.vertexArray = m_screenVertexArray;
        }
        return true;
    }
    return ApplyVertexInput();
}

// ---------------------------------------------------------------------------------------------
// Drawing

bool OpenGLDevice::CanDraw(const char* operation)
{
    if (!m_inFrame) {
        LogOncePerFrame(LOG_NO_FRAME, "OpenGL device: %s outside a frame is refused", operation);
        return false;
    }
    if (!IsMainThread()) {
        LogOncePerFrame(LOG_NOT_MAIN_THREAD, "OpenGL device: %s off the device's main thread is refused",
                        operation);
        return false;
    }
    return true;
}

bool OpenGLDevice::BeginDraw(const char* operation)
{
    m_pastDrawCallLimit = false;
    m_outlineDraw = false;
    return CanDraw(operation);
}

bool OpenGLDevice::PastDrawCallLimit()
{
    m_pastDrawCallLimit = m_drawCallLimit >= 0 && m_drawCallsThisFrame >= m_drawCallLimit;
    m_outlineDraw = m_pastDrawCallLimit && !m_debugSwitch1;
    return m_pastDrawCallLimit;
}

void OpenGLDevice::CountDraw(uint64_t faces)
{
    ++m_drawCallsThisFrame;
    if (!m_pastDrawCallLimit) // past the limit its faces are not drawn
        m_facesThisFrame = int(std::min<uint64_t>(uint64_t(m_facesThisFrame) + faces, INT32_MAX));
}

void OpenGLDevice::DrawIndexedPrimitive(RenderPrimitiveType type, const RenderDrawRange& range)
{
    const GLWork work(*this);
    if (!BeginDraw("DrawIndexedPrimitive"))
        return;
    const GLenum mode = PrimitiveToGL(type);
    const uint64_t indexCount = GetPrimitiveIndexCount(type, range.primitiveCount);
    const Indices& indices = m_state.indices;
    if (mode == GL_INVALID_ENUM || indexCount == 0) {
        LogOncePerFrame(LOG_BAD_RANGE, "OpenGL device: DrawIndexedPrimitive(%d, %u primitives) refused", type,
                        range.primitiveCount);
        return;
    }
    if (!indices.buffer) {
        LogOncePerFrame(LOG_NO_INDICES, "OpenGL device: DrawIndexedPrimitive without indices is refused");
        return;
    }
    if (indices.epoch != GetEpoch()) {
        LogOncePerFrame(LOG_DEAD_OBJECT, "OpenGL device: an index buffer made before the context was lost is "
                                         "bound; draws are refused");
        return;
    }
    // The indices read must lie in the index buffer, the vertices named in every stream the
    // declaration reads (stream 0 without a declaration; a stream left unbound is refused later).
    const int64_t firstVertex = int64_t(range.baseVertex) + range.minVertex;
    bool outside = uint64_t(range.startIndex) + indexCount > indices.capacity || firstVertex < 0;
    const uint32_t streamMask = m_state.declaration ? m_state.declaration->GetStreamMask() : 1u;
    for (uint32_t streams = streamMask; streams && !outside; streams &= streams - 1) {
        const int index = __builtin_ctz(streams);
        const Stream& stream = m_state.streams[index];
        const uint32_t stride = stream.stride
                                    ? stream.stride
                                    : (m_state.declaration ? m_state.declaration->GetStreamStride(index) : 0);
        const uint64_t streamVertices =
            stride && stream.bytes > stream.offset ? (stream.bytes - stream.offset) / stride : 0;
        outside = stream.buffer && uint64_t(firstVertex) + range.numVertices > streamVertices;
    }
    if (outside) {
        LogOncePerFrame(
            LOG_BAD_RANGE,
            "OpenGL device: DrawIndexedPrimitive(%d, base %d, vertices %u + %u, indices %u + %llu) lies "
            "outside the bound buffers; refused",
            type, range.baseVertex, range.minVertex, range.numVertices, range.startIndex,
            static_cast<unsigned long long>(indexCount));
        return;
    }
    const OpenGLTexture* stage0 = m_state.textures[0];
    const bool past = PastDrawCallLimit();
    if (!PrepareDraw(false, stage0 && stage0->GetEpoch() == GetEpoch(), false))
        return;
    if (past && !m_outlineDraw) {
        CountDraw(0);
        return;
    }
    if (indices.fence) {
        AwaitWorkerWrites(*indices.fence);
        NoteMainUse(*indices.fence);
    }
    OpenGLVertexDeclaration* declaration = m_state.declaration;
    const uint32_t indexBuffer = BoundName(indices);
    if (declaration->elementBuffer != indexBuffer) {
        glVertexArrayElementBuffer(declaration->vertexArray, indexBuffer);
        declaration->elementBuffer = indexBuffer;
    }
    const GLenum indexType = indices.bytesPerIndex == 2 ? GL_UNSIGNED_SHORT : GL_UNSIGNED_INT;
    glDrawElementsBaseVertex(
        mode, GLsizei(indexCount), indexType,
        reinterpret_cast<const void*>(uintptr_t(range.startIndex) * indices.bytesPerIndex), range.baseVertex);
    const bool triangles = type == RENDER_PRIMITIVE_TRIANGLE_LIST ||
                           type == RENDER_PRIMITIVE_TRIANGLE_STRIP || type == RENDER_PRIMITIVE_TRIANGLE_FAN;
    CountDraw(triangles ? range.primitiveCount : 0);
    FenceMainCommands(false);
}

void OpenGLDevice::DrawScreen(const ScreenVertex* vertices, int count, uint32_t mode, uint32_t texture,
                              bool text, bool linear, int faces, const char* operation)
{
    const GLWork work(*this);
    const size_t bytes = size_t(count) * sizeof(ScreenVertex);
    if (count <= 0 || bytes > 1024u * 1024u) {
        LogOncePerFrame(LOG_BAD_RANGE, "OpenGL device: %s of %d vertices refused", operation, count);
        return;
    }
    const bool past = PastDrawCallLimit();
    if (!PrepareDraw(true, texture != 0, text))
        return;
    if (past && !m_outlineDraw) {
        CountDraw(0);
        return;
    }
    if (text) {
        if (m_applied.textures[0] != texture) {
            glBindTextureUnit(0, texture);
            m_applied.textures[0] = texture;
        }
        const uint32_t sampler = m_textSamplers[linear ? 1 : 0];
        if (m_applied.samplers[0] != sampler) {
            glBindSampler(0, sampler);
            m_applied.samplers[0] = sampler;
        }
        m_dirtyStages |= 1u; // the library's stage 0 comes back with the next draw
    }
    // Appended to the device's own stream; a full stream starts on a fresh store.
    const unsigned int capacity = 1024u * 1024u / sizeof(ScreenVertex) * sizeof(ScreenVertex);
    if (m_screenBufferCursor + bytes > capacity) {
        glNamedBufferData(m_screenBuffer, 1024u * 1024u, nullptr, GL_STREAM_DRAW);
        m_screenBufferCursor = 0;
    }
    glNamedBufferSubData(m_screenBuffer, m_screenBufferCursor, GLsizeiptr(bytes), vertices);
    glDrawArrays(mode, GLint(m_screenBufferCursor / sizeof(ScreenVertex)), count);
    m_screenBufferCursor += unsigned(bytes);
    CountDraw(uint64_t(std::max(faces, 0)));
    FenceMainCommands(false);
}

void OpenGLDevice::DrawQuad(const Vec3* corners, int count, uint32_t color)
{
    if (!corners || count < 4 || count % 4 != 0 || count > 4 * 8192) {
        LogOncePerFrame(LOG_BAD_RANGE, "OpenGL device: DrawQuad of %d corners refused", count);
        return;
    }
    if (!BeginDraw("DrawQuad"))
        return;
    // Corners go round each quad; two triangles a quad.
    std::vector<ScreenVertex> vertices;
    vertices.reserve(size_t(count) / 4 * 6);
    for (int q = 0; q < count; q += 4)
        for (int corner : {0, 1, 2, 0, 2, 3}) {
            const Vec3& p = corners[q + corner];
            vertices.push_back({p.x, p.y, p.z, color, 0.0f, 0.0f});
        }
    DrawScreen(vertices.data(), int(vertices.size()), GL_TRIANGLES, 0, false, false, count / 2, "DrawQuad");
}

void OpenGLDevice::DrawTexturedQuad(const Rect& rect, const Rect& texCoords, uint32_t color, float depth)
{
    if (!BeginDraw("DrawTexturedQuad"))
        return;
    const float x0 = rect.x, y0 = rect.y, x1 = rect.x + rect.width, y1 = rect.y + rect.height;
    const float u0 = texCoords.x, v0 = texCoords.y, u1 = texCoords.x + texCoords.width,
                v1 = texCoords.y + texCoords.height;
    const ScreenVertex strip[4] = {{x0, y0, depth, color, u0, v0},
                                   {x1, y0, depth, color, u1, v0},
                                   {x0, y1, depth, color, u0, v1},
                                   {x1, y1, depth, color, u1, v1}};
    const OpenGLTexture* texture = m_state.textures[0];
    const bool textured = texture && texture->GetEpoch() == GetEpoch();
    DrawScreen(strip, 4, GL_TRIANGLE_STRIP, textured ? texture->GetName() : 0, false, false, 2,
               "DrawTexturedQuad");
}

void OpenGLDevice::DrawFan(const Vec3* points, int count, uint32_t color)
{
    if (!points || count < 3 || count > 65536) {
        LogOncePerFrame(LOG_BAD_RANGE, "OpenGL device: DrawFan of %d points refused", count);
        return;
    }
    if (!BeginDraw("DrawFan"))
        return;
    std::vector<ScreenVertex> vertices(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i)
        vertices[size_t(i)] = {points[i].x, points[i].y, points[i].z, color, 0.0f, 0.0f};
    DrawScreen(vertices.data(), count, GL_TRIANGLE_FAN, 0, false, false, count - 2, "DrawFan");
}

// ---------------------------------------------------------------------------------------------
// Surface copies

bool OpenGLDevice::CopySurfaceToTexture(OpenGLSurface& source, RenderTexture* destination,
                                        const Rect& sourceRect)
{
    const GLWork work(*this);
    {
        std::lock_guard<std::mutex> lock(m_registryLock);
        auto it = m_objects.find(destination);
        if (it == m_objects.end() || it->second != ResourceKind::Texture) {
            DeviceLogPrintf(
                1, "OpenGL device: CopyToTexture: the destination is not a live texture of the device");
            return false;
        }
    }
    auto* target = static_cast<OpenGLTexture*>(destination);
    if (!IsMainThread() || !m_contexts.MakeMainCurrent() || m_lost || !source.GetColorName() ||
        !target->IsRenderable() || target->GetEpoch() != GetEpoch())
        return false;
    AwaitSurface(&source);
    AwaitWorkerWrites(target->GetFence());
    BeginMainCommand();
    NoteMainUse(target->GetFence());
    if (source.GetColor())
        NoteMainUse(source.GetColor()->GetFence());
    Resolve(source);
    // The rectangle is cut to the surface; nothing left means nothing to copy.
    const float x0 = std::clamp(sourceRect.x, 0.0f, float(source.GetWidth()));
    const float y0 = std::clamp(sourceRect.y, 0.0f, float(source.GetHeight()));
    const float x1 = std::clamp(sourceRect.x + sourceRect.width, 0.0f, float(source.GetWidth()));
    const float y1 = std::clamp(sourceRect.y + sourceRect.height, 0.0f, float(source.GetHeight()));
    const GLint sx0 = GLint(std::lround(x0)), sy0 = GLint(std::lround(y0));
    const GLint sx1 = GLint(std::lround(x1)), sy1 = GLint(std::lround(y1));
    if (sx1 <= sx0 || sy1 <= sy0)
        return false;
    const int width = target->GetWidth(), height = target->GetHeight();
    const GLenum filter = (sx1 - sx0 == width && sy1 - sy0 == height) ? GL_NEAREST : GL_LINEAR;

    GLuint sourceName = source.GetColorName();
    GLuint copy = 0;
    if (sourceName == target->GetName()) {
        // A texture cannot be read and written by one blit: through a copy of the surface.
        GLint format = GL_RGBA8;
        glGetTextureLevelParameteriv(sourceName, 0, GL_TEXTURE_INTERNAL_FORMAT, &format);
        glCreateTextures(GL_TEXTURE_2D, 1, &copy);
        glTextureStorage2D(copy, 1, GLenum(format), source.GetWidth(), source.GetHeight());
        glCopyImageSubData(sourceName, GL_TEXTURE_2D, 0, 0, 0, 0, copy, GL_TEXTURE_2D, 0, 0, 0, 0,
                           source.GetWidth(), source.GetHeight(), 1);
        sourceName = copy;
    }
    glNamedFramebufferTexture(m_copyFramebuffers[0], GL_COLOR_ATTACHMENT0, sourceName, 0);
    glNamedFramebufferReadBuffer(m_copyFramebuffers[0], GL_COLOR_ATTACHMENT0);
    glNamedFramebufferTexture(m_copyFramebuffers[1], GL_COLOR_ATTACHMENT0, target->GetName(), 0);
    glNamedFramebufferDrawBuffer(m_copyFramebuffers[1], GL_COLOR_ATTACHMENT0);
    glDisable(GL_SCISSOR_TEST);
    glBlitNamedFramebuffer(m_copyFramebuffers[0], m_copyFramebuffers[1], sx0, sy0, sx1, sy1, 0, 0, width,
                           height, GL_COLOR_BUFFER_BIT, filter);
    glEnable(GL_SCISSOR_TEST);
    glNamedFramebufferTexture(m_copyFramebuffers[0], GL_COLOR_ATTACHMENT0, 0, 0);
    glNamedFramebufferTexture(m_copyFramebuffers[1], GL_COLOR_ATTACHMENT0, 0, 0);
    if (copy)
        glDeleteTextures(1, &copy);
    if (target->GetLevelCount() > 1)
        glGenerateTextureMipmap(target->GetName());
    FenceMainCommands(false);
    return true;
}

} // namespace GAME::OpenGL
