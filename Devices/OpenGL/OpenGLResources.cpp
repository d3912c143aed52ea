#include "OpenGLResources.h"

#include "DeviceLog.h"
#include "OpenGLApi.h"
#include "OpenGLDevice.h"

#include <algorithm>
#include <cstring>

namespace GAME::OpenGL {

using DeviceCommon::DeviceLogPrintf;

namespace {

// AwaitWorkerWrites under the GL lock, which guards the fence: a draw of the main thread clears a
// fence it has seen passed while another thread locks or fills the object.
void AwaitUnderLock(OpenGLDevice& device, WorkerFence& fence)
{
    const OpenGLDevice::GLWork work(device);
    device.AwaitWorkerWrites(fence);
}

// What filling an object again takes of its kind (a texture's chain, a buffer's bytes).
class Refill
{
public:
    // The new content goes up in one upload call: one hold of the GL lock covers it whole.
    virtual bool FitsOneCall() const = 0;
    // Under the GL lock: a second object of the first's size, nothing else binds (GL errors are
    // the caller's to check); its deletion.
    virtual GLuint MakeSecond() const = 0;
    virtual void DeleteSecond(GLuint name) const = 0;
    // The new content into an object, in bands, a hold each.
    virtual void Upload(GLuint name) const = 0;
    // Under the GL lock: the second object's content into the first.
    virtual void Copy(GLuint from, GLuint to) const = 0;
    // Under the GL lock: the object's GL name now; the second object taking the first's place
    // (the old name returned).
    virtual GLuint Name() const = 0;
    virtual GLuint TakeSecond(GLuint second) const = 0;
    virtual bool IsTexture() const = 0;

protected:
    ~Refill() = default;
};

// An object's lock state. The main thread never blocks on it while a worker holding it waits for
// the main context's fence (FillAgain): it gives the fence first.
std::unique_lock<std::mutex> TakeLockState(OpenGLDevice& device, std::mutex& state)
{
    std::unique_lock<std::mutex> lock(state, std::try_to_lock);
    if (!lock.owns_lock()) {
        if (device.IsMainThread()) {
            const OpenGLDevice::GLWork work(device);
            device.FenceMainCommands(true);
        }
        lock.lock();
    }
    return lock;
}

// Fills an object again, whichever thread unlocks it, so that a draw of the main thread finds
// the old content or the new one, whole. The main context's own draws come before or after all
// of it, in order. Elsewhere, the main thread may bind the object between any two holds of the GL
// lock: so the bands go into a second object, and the content comes over in one hold, either way:
// - the main context's draws that used the object are all behind its fence (or there are none):
//   the copy waits for that fence on the GPU, and the draws after it for the new fence, which the
//   hold publishes before it lets the lock go;
// - some are not (the main thread drew with it in the frame still open, and may be waiting for
//   this very thread before it draws or ends the frame again): the second object takes the
//   first's name, the draws queued keep the old object, which the main thread deletes at its
//   next draw. Nothing waits for the main thread then.
// Content of one upload call is put in place under the hold in the first case, and into a second
// object made under it in the other. Only without room for a second object does a worker wait for
// the main thread: it asks for its fence, and waits for it outside the GL lock (mainFenceWaitMs at
// most, then the copy goes on after the latest fence only).
void FillAgain(OpenGLDevice& device, WorkerFence& fence, const char* what, const Refill& refill)
{
    if (device.IsMainThread()) {
        AwaitUnderLock(device, fence);
        refill.Upload(refill.Name());
        return;
    }
    GLuint second = 0;
    bool noRoom = false;
    // Under the GL lock.
    auto makeSecond = [&] {
        while (glGetError() != GL_NO_ERROR) {
        }
        second = refill.MakeSecond();
        if (second && glGetError() != GL_NO_ERROR) {
            refill.DeleteSecond(second);
            second = 0;
        }
        noRoom = !second;
        if (noRoom)
            DeviceLogPrintf(1,
                            "OpenGL device: %s Unlock found no memory for a second copy; the new content "
                            "goes up in place, under one hold of the GL lock, after the main thread's draws",
                            what);
    };
    if (!refill.FitsOneCall()) {
        {
            const OpenGLDevice::GLWork work(device);
            makeSecond();
        }
        if (second)
            refill.Upload(second);
    }
    for (bool asked = false, gaveUp = false;;) {
        uint64_t mainUse = 0;
        {
            const OpenGLDevice::GLWork work(device);
            const bool fenced = gaveUp || device.MainUsesFenced(fence);
            if (!fenced && !second && !noRoom) {
                makeSecond();
                if (second)
                    refill.Upload(second); // one call, under this hold
            }
            if (!fenced && second) {
                device.ReplaceFilled(fence, refill.TakeSecond(second), refill.IsTexture(), asked);
                return;
            }
            if (fenced) {
                const uint64_t covered = device.OrderAfterMainUses(fence, asked);
                device.AwaitWorkerWrites(fence);
                const GLuint name = refill.Name();
                if (second) {
                    refill.Copy(second, name);
                    refill.DeleteSecond(second);
                } else {
                    refill.Upload(name);
                }
                device.NoteFilledInPlace(fence, covered);
                device.FenceWorkerWrites(fence);
                return;
            }
            device.AskForMainFence(asked);
            mainUse = fence.mainUse;
        }
        gaveUp = !device.AwaitMainFence(mainUse);
    }
}

// A colour texture's chain, built from its top level's packed texels.
class TextureRefill final : public Refill
{
public:
    TextureRefill(OpenGLDevice& device, OpenGLTexture& texture, const uint32_t* texels)
        : m_device(device), m_texture(texture), m_width(texture.GetWidth()), m_height(texture.GetHeight()),
          m_levels(texture.GetLevelCount()), m_texels(texels)
    {
    }
    bool FitsOneCall() const override
    {
        return m_levels == 1 && size_t(m_width) * size_t(m_height) * 4 <= OpenGLDevice::uploadBandBytes;
    }
    GLuint MakeSecond() const override
    {
        GLuint name = 0;
        glCreateTextures(GL_TEXTURE_2D, 1, &name);
        glTextureStorage2D(name, m_levels, GL_RGBA8, m_width, m_height);
        // As the texture it may replace (MakeColorTexture).
        glTextureParameteri(name, GL_TEXTURE_MAX_LEVEL, m_levels - 1);
        return name;
    }
    void DeleteSecond(GLuint name) const override { glDeleteTextures(1, &name); }
    void Upload(GLuint name) const override
    {
        m_device.UploadColorChain(name, m_width, m_height, m_levels, m_texels);
    }
    void Copy(GLuint from, GLuint to) const override
    {
        for (int level = 0; level < m_levels; ++level)
            glCopyImageSubData(from, GL_TEXTURE_2D, level, 0, 0, 0, to, GL_TEXTURE_2D, level, 0, 0, 0,
                               std::max(1, m_width >> level), std::max(1, m_height >> level), 1);
    }
    GLuint Name() const override { return m_texture.GetName(); }
    GLuint TakeSecond(GLuint second) const override { return m_texture.TakeName(second); }
    bool IsTexture() const override { return true; }

private:
    OpenGLDevice& m_device;
    OpenGLTexture& m_texture;
    const int m_width, m_height, m_levels;
    const uint32_t* const m_texels;
};

// A static buffer's bytes.
class BufferRefill final : public Refill
{
public:
    BufferRefill(OpenGLDevice& device, StaticBufferStore& store, const uint8_t* data)
        : m_device(device), m_store(store), m_bytes(store.GetBytes()), m_data(data)
    {
    }
    bool FitsOneCall() const override { return m_bytes <= OpenGLDevice::uploadBandBytes; }
    GLuint MakeSecond() const override
    {
        GLuint name = 0;
        glCreateBuffers(1, &name);
        // Filled again later, in place or by a copy: as the buffer it may replace (CreateBuffer).
        glNamedBufferData(name, GLsizeiptr(m_bytes), nullptr, GL_STATIC_DRAW);
        return name;
    }
    void DeleteSecond(GLuint name) const override { glDeleteBuffers(1, &name); }
    void Upload(GLuint name) const override { m_device.UploadBytes(name, m_bytes, m_data); }
    void Copy(GLuint from, GLuint to) const override
    {
        glCopyNamedBufferSubData(from, to, 0, 0, GLsizeiptr(m_bytes));
    }
    GLuint Name() const override { return m_store.GetName(); }
    GLuint TakeSecond(GLuint second) const override { return m_store.TakeName(second); }
    bool IsTexture() const override { return false; }

private:
    OpenGLDevice& m_device;
    StaticBufferStore& m_store;
    const size_t m_bytes;
    const uint8_t* const m_data;
};

} // namespace

// ---------------------------------------------------------------------------------------------
// Textures

OpenGLTexture::OpenGLTexture(OpenGLDevice& device, uint32_t name, uint32_t epoch, TextureKind kind,
                             RenderTextureFormat format, int width, int height, int levels, uint64_t bytes,
                             bool dynamic)
    : m_device(device), m_name(name), m_epoch(epoch), m_kind(kind), m_format(format), m_width(width),
      m_height(height), m_levels(levels), m_bytes(bytes), m_dynamic(dynamic)
{
}

unsigned int OpenGLTexture::GetMemoryUsage() const
{
    return unsigned(std::min<uint64_t>(m_bytes, 0xFFFFFFFFu));
}

bool OpenGLTexture::IsLocked() const
{
    const auto lock = TakeLockState(m_device, m_lockState);
    return m_locked;
}

void* OpenGLTexture::Lock(int& pitch)
{
    pitch = 0;
    const auto lock = TakeLockState(m_device, m_lockState);
    if (m_locked || m_kind != TextureKind::Color || m_epoch != m_device.GetEpoch()) {
        DeviceLogPrintf(1, "OpenGL device: texture Lock refused (%s)",
                        m_locked                       ? "already locked"
                        : m_kind != TextureKind::Color ? "not a 32-bit colour texture"
                                                       : "made before the context was lost");
        return nullptr;
    }
    const size_t texels = size_t(m_width) * size_t(m_height);
    if (m_staging.size() != texels) {
        // The caller sees what the texture holds.
        OpenGLDevice::ContextScope scope(m_device);
        if (!scope.IsReady())
            return nullptr;
        m_staging.resize(texels);
        AwaitUnderLock(m_device, m_fence);
        m_device.ReadTexels(GetName(), m_width, m_height, m_staging.data());
    }
    m_locked = true;
    pitch = m_width * int(sizeof(uint32_t));
    return m_staging.data();
}

void OpenGLTexture::Unlock()
{
    const auto lock = TakeLockState(m_device, m_lockState);
    if (!m_locked)
        return;
    m_locked = false;
    OpenGLDevice::ContextScope scope(m_device);
    if (scope.IsReady() && m_epoch == m_device.GetEpoch()) {
        FillAgain(m_device, m_fence, "texture", TextureRefill(m_device, *this, m_staging.data()));
    } else {
        DeviceLogPrintf(1, "OpenGL device: texture Unlock could not upload the texels");
    }
    // Textures rewritten every frame keep their staging texels; the others let them go.
    if (!m_dynamic)
        std::vector<uint32_t>().swap(m_staging);
}

// ---------------------------------------------------------------------------------------------
// Surfaces

OpenGLSurface::OpenGLSurface(OpenGLDevice& device, int width, int height, OpenGLTexture* color,
                             bool ownsColor, bool primary, uint32_t depthName,
                             RenderTextureFormat depthFormat, uint64_t depthBytes)
    : m_device(device), m_width(width), m_height(height), m_color(color), m_ownsColor(ownsColor),
      m_primary(primary), m_depthName(depthName), m_depthEpoch(device.GetEpoch()),
      m_depthFormat(depthName ? depthFormat : RENDER_FORMAT_NONE), m_depthBytes(depthBytes)
{
}

OpenGLSurface::~OpenGLSurface() = default;

RenderTexture* OpenGLSurface::GetTexture() const
{
    // The back buffer is no texture that could be bound.
    return m_primary ? nullptr : m_color;
}

uint32_t OpenGLSurface::GetColorName() const
{
    return m_color && m_color->GetEpoch() == m_device.GetEpoch() ? m_color->GetName() : 0;
}

bool OpenGLSurface::CopyToTexture(RenderTexture* destination, const Rect& sourceRect)
{
    return m_device.CopySurfaceToTexture(*this, destination, sourceRect);
}

void OpenGLSurface::DetachColor()
{
    m_color = nullptr;
    m_ownsColor = false;
}

uint32_t OpenGLSurface::GetDrawColorName() const
{
    if (m_samples)
        return m_depthEpoch == m_device.GetEpoch() ? m_msColor : 0;
    return GetColorName();
}

void OpenGLSurface::SetMultisample(uint32_t colorName, int samples, uint64_t bytes)
{
    m_msColor = samples ? colorName : 0;
    m_samples = colorName ? samples : 0;
    m_msBytes = m_samples ? bytes : 0;
    m_drawnSinceResolve = false;
}

void OpenGLSurface::Replace(int width, int height, OpenGLTexture* color, uint32_t depthName,
                            uint64_t depthBytes)
{
    m_width = width;
    m_height = height;
    m_color = color;
    m_ownsColor = true;
    m_depthName = depthName;
    m_depthEpoch = m_device.GetEpoch();
    m_depthBytes = depthBytes;
}

// ---------------------------------------------------------------------------------------------
// Static buffers

StaticBufferStore::StaticBufferStore(OpenGLDevice& device, uint32_t name, uint32_t epoch, unsigned int bytes)
    : m_device(device), m_name(name), m_epoch(epoch), m_bytes(bytes)
{
}

bool StaticBufferStore::IsLocked() const
{
    const auto lock = TakeLockState(m_device, m_lockState);
    return m_locked;
}

void* StaticBufferStore::Lock()
{
    const auto lock = TakeLockState(m_device, m_lockState);
    if (m_locked || m_epoch != m_device.GetEpoch()) {
        DeviceLogPrintf(1, "OpenGL device: buffer Lock refused (%s)",
                        m_locked ? "already locked" : "made before the context was lost");
        return nullptr;
    }
    m_staging = std::make_unique<uint8_t[]>(m_bytes);
    if (m_filled) {
        OpenGLDevice::ContextScope scope(m_device);
        if (!scope.IsReady()) {
            m_staging.reset();
            return nullptr;
        }
        AwaitUnderLock(m_device, m_fence);
        m_device.ReadBytes(GetName(), m_bytes, m_staging.get());
    }
    m_locked = true;
    return m_staging.get();
}

void StaticBufferStore::Unlock()
{
    const auto lock = TakeLockState(m_device, m_lockState);
    if (!m_locked)
        return;
    m_locked = false;
    OpenGLDevice::ContextScope scope(m_device);
    if (scope.IsReady() && m_epoch == m_device.GetEpoch()) {
        FillAgain(m_device, m_fence, "buffer", BufferRefill(m_device, *this, m_staging.get()));
        m_filled = true;
    } else {
        DeviceLogPrintf(1, "OpenGL device: buffer Unlock could not upload the data");
    }
    m_staging.reset();
}

// ---------------------------------------------------------------------------------------------
// Streaming buffers

StreamStore::StreamStore(OpenGLDevice& device, uint32_t name, uint32_t epoch, unsigned int bytes,
                         unsigned int unit)
    : m_device(device), m_names{name, 0}, m_epoch(epoch), m_bytes(bytes), m_unit(unit)
{
}

void StreamStore::TakeOtherStore()
{
    // Nothing written since the store was taken: it stays.
    if (m_cursor == 0)
        return;
    const unsigned int other = 1 - m_current;
    m_fences[m_current] = glFenceSync(GL_SYNC_GPU_COMMANDS_COMPLETE, 0);
    if (!m_names[other]) {
        GLuint name = 0;
        glCreateBuffers(1, &name);
        glNamedBufferData(name, m_bytes, nullptr, GL_STREAM_DRAW);
        m_names[other] = name;
    } else {
        const auto sync = static_cast<GLsync>(m_fences[other]);
        const GLenum state = sync ? glClientWaitSync(sync, 0, 0) : GL_ALREADY_SIGNALED;
        if (state != GL_ALREADY_SIGNALED && state != GL_CONDITION_SATISFIED) {
            // Its draws are still on their way: they keep the old store, and the driver makes a
            // fresh one under the name.
            glNamedBufferData(m_names[other], m_bytes, nullptr, GL_STREAM_DRAW);
        }
    }
    if (m_fences[other])
        glDeleteSync(static_cast<GLsync>(m_fences[other]));
    m_fences[other] = nullptr;
    m_current = other;
    m_cursor = 0;
}

void* StreamStore::Lock(unsigned int bytes, const char* operation)
{
    if (!m_device.IsMainThread()) {
        DeviceLogPrintf(1, "OpenGL device: %s off the device's main thread", operation);
        return nullptr;
    }
    if (bytes == 0 || bytes > m_bytes || m_locked || m_epoch != m_device.GetEpoch()) {
        m_device.LogOncePerFrame(OpenGLDevice::LOG_LOCK, "OpenGL device: %s(%u) refused (%s)", operation,
                                 bytes,
                                 m_locked                         ? "already locked"
                                 : m_epoch != m_device.GetEpoch() ? "made before the context was lost"
                                                                  : "no such space in the buffer");
        return nullptr;
    }
    OpenGLDevice::ContextScope scope(m_device);
    if (!scope.IsReady())
        return nullptr;
    const OpenGLDevice::GLWork work(m_device);
    if (m_discard || bytes > m_bytes - m_cursor) {
        TakeOtherStore();
        m_discard = false;
    }
    void* space =
        glMapNamedBufferRange(GetName(), m_cursor, bytes,
                              GL_MAP_WRITE_BIT | GL_MAP_INVALIDATE_RANGE_BIT | GL_MAP_UNSYNCHRONIZED_BIT);
    if (!space) {
        DeviceLogPrintf(1, "OpenGL device: %s(%u) could not map the buffer", operation, bytes);
        return nullptr;
    }
    m_lockedOffset = m_cursor;
    // Appends start on a whole unit (an index, or four bytes of vertices).
    const uint64_t next = (uint64_t(m_cursor) + bytes + m_unit - 1) / m_unit * m_unit;
    m_cursor = unsigned(std::min<uint64_t>(next, m_bytes));
    m_locked = true;
    return space;
}

void StreamStore::Unlock(const char* operation)
{
    if (!m_locked || !m_device.IsMainThread())
        return;
    m_locked = false;
    OpenGLDevice::ContextScope scope(m_device);
    const OpenGLDevice::GLWork work(m_device);
    if (scope.IsReady() && !glUnmapNamedBuffer(GetName()))
        DeviceLogPrintf(1, "OpenGL device: %s: the driver lost the buffer's data", operation);
}

OpenGLDynamicVertexBuffer::OpenGLDynamicVertexBuffer(OpenGLDevice& device, uint32_t name, uint32_t epoch,
                                                     unsigned int size)
    : m_device(device), m_store(device, name, epoch, size, 4)
{
}

void* OpenGLDynamicVertexBuffer::Lock(unsigned int byteCount)
{
    return m_store.Lock(byteCount, "dynamic vertex buffer Lock");
}

void OpenGLDynamicVertexBuffer::Unlock()
{
    m_store.Unlock("dynamic vertex buffer Unlock");
}

void OpenGLDynamicVertexBuffer::SetAsStream(unsigned int offset, unsigned int stride)
{
    m_device.BindDynamicStream(*this, uint64_t(m_store.GetLockedOffset()) + offset, stride);
}

OpenGLDynamicIndexBuffer::OpenGLDynamicIndexBuffer(OpenGLDevice& device, uint32_t name, uint32_t epoch,
                                                   unsigned int size)
    : m_device(device), m_store(device, name, epoch, size / 4 * 4, 4)
{
}

uint32_t* OpenGLDynamicIndexBuffer::Lock(unsigned int indexCount)
{
    if (indexCount > GetSize())
        indexCount = 0; // refused below
    return static_cast<uint32_t*>(m_store.Lock(indexCount * 4, "dynamic index buffer Lock"));
}

void OpenGLDynamicIndexBuffer::Unlock()
{
    m_store.Unlock("dynamic index buffer Unlock");
}

void OpenGLDynamicIndexBuffer::SetAsIndices()
{
    m_device.BindDynamicIndices(*this);
}

RenderDrawRange OpenGLDynamicIndexBuffer::GetDrawRange(unsigned int, unsigned int primitiveCount,
                                                       int baseVertex, unsigned int minVertex) const
{
    // The primitive count says how many of the written indices the draw reads; the device checks
    // that they lie inside the buffer when it draws.
    RenderDrawRange range;
    range.baseVertex = baseVertex;
    range.minVertex = minVertex;
    range.startIndex = GetLockedOffset();
    range.primitiveCount = primitiveCount;
    return range;
}

// ---------------------------------------------------------------------------------------------
// Vertex declarations

bool OpenGLVertexDeclaration::IsValid(const VertexElement* elements, int count)
{
    if (!elements || count <= 0 || count > 64)
        return false;
    uint32_t usages = 0;
    for (int i = 0; i < count; ++i) {
        const VertexElement& e = elements[i];
        if (GetVertexElementSize(e.type) == 0 || e.usage > VERTEX_USAGE_COLOR ||
            e.stream >= uint32_t(maxStreams) || (usages >> e.usage) & 1)
            return false;
        usages |= 1u << e.usage;
    }
    return true;
}

OpenGLVertexDeclaration::OpenGLVertexDeclaration(const VertexElement* elements, int count)
    : m_elements(elements, elements + count)
{
    for (const VertexElement& e : m_elements) {
        m_offsets.push_back(m_strides[e.stream]);
        m_strides[e.stream] += GetVertexElementSize(e.type);
        m_streamMask |= 1u << e.stream;
        m_usageMask |= 1u << e.usage;
    }
}

} // namespace GAME::OpenGL
