#include "OpenGLDevice.h"

#include <type_traits>

#include "DdsImage.h"
#include "DeviceLog.h"
#include "OpenGLApi.h"
#include "OpenGLFont.h"
#include "OpenGLPrograms.h"
#include "TextureChain.h"

#include <SDL2/SDL.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace GAME::OpenGL {

using DeviceCommon::DeviceLogPrintf;

namespace {

constexpr unsigned int screenBufferBytes = 1024u * 1024u;
// Samples of an anti-aliased primary surface, when the driver offers them.
constexpr int primarySamples = 4;

// Where a picture goes in a window: as large as fits with its shape kept, in the middle; bars
// fill the rest when the shapes differ. A picture of the window's shape fills it exactly.
struct PictureRect
{
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

PictureRect FitPicture(int width, int height, int windowWidth, int windowHeight)
{
    PictureRect fit;
    fit.width = windowWidth;
    fit.height = windowHeight;
    if (width <= 0 || height <= 0 || windowWidth <= 0 || windowHeight <= 0)
        return fit;
    const int64_t tall = (int64_t(windowWidth) * height + width / 2) / width;
    if (tall <= windowHeight)
        fit.height = int(tall);
    else
        fit.width = int((int64_t(windowHeight) * width + height / 2) / height);
    fit.x = (windowWidth - fit.width) / 2;
    fit.y = (windowHeight - fit.height) / 2;
    return fit;
}

#ifndef NDEBUG
void GLAPIENTRY OnDebugMessage(GLenum source, GLenum type, GLuint, GLenum severity, GLsizei,
                               const GLchar* message, const void*)
{
    // Errors of the API only: the device logs shader compiler output itself.
    if (type == GL_DEBUG_TYPE_ERROR && source == GL_DEBUG_SOURCE_API &&
        severity != GL_DEBUG_SEVERITY_NOTIFICATION)
        DeviceLogPrintf(1, "OpenGL device: GL error: %s", message);
}
#endif

} // namespace

OpenGLDevice::Applied::Applied()
{
    std::fill(std::begin(textures), std::end(textures), ~0u);
    std::fill(std::begin(samplers), std::end(samplers), ~0u);
}

bool OpenGLDevice::FramebufferKey::operator<(const FramebufferKey& o) const
{
    return std::memcmp(this, &o, sizeof(*this)) < 0;
}

OpenGLDevice::OpenGLDevice()
    : m_vertexConstants(size_t(constantRegisters) * 4, 0.0f),
      m_pixelConstants(size_t(constantRegisters) * 4, 0.0f), m_vertexStamps(constantRegisters, 0),
      m_pixelStamps(constantRegisters, 0)
{
    m_settings.width = 0;
    m_settings.height = 0;
}

OpenGLDevice::~OpenGLDevice()
{
    StopReader();
    const GLWork work(*this);
    const bool current = m_contexts.IsOpen() && m_contexts.MakeMainCurrent();
    if (current) {
        ProcessRetired();
        if (m_presentFence.sync && m_presentFence.epoch == GetEpoch())
            glDeleteSync(static_cast<GLsync>(m_presentFence.sync));
        m_presentFence.sync = nullptr;
        if (m_mainFence && m_mainFenceEpoch == GetEpoch())
            glDeleteSync(static_cast<GLsync>(m_mainFence));
        m_mainFence = nullptr;
        EndFrameRead();
        DeleteFrameReadSpare();
    } else
        m_epoch.fetch_add(1); // no context to delete GL objects in: only the objects go
    {
        std::lock_guard<std::mutex> lock(m_retireLock);
        for (const Retired& entry : m_retired)
            DeleteObject(entry.kind, entry.object);
        m_retired.clear();
    }
    // Surfaces first: they take the textures they own with them.
    std::vector<std::pair<const void*, ResourceKind>> alive;
    {
        std::lock_guard<std::mutex> lock(m_registryLock);
        alive.assign(m_objects.begin(), m_objects.end());
        for (const auto& [object, kind] : m_objects)
            if (kind == ResourceKind::Surface) {
                const auto* surface =
                    static_cast<const OpenGLSurface*>(static_cast<const RenderSurface*>(object));
                if (surface->OwnsColor() && surface->GetColor())
                    alive.erase(std::remove(alive.begin(), alive.end(),
                                            std::pair<const void*, ResourceKind>(
                                                static_cast<const RenderTexture*>(surface->GetColor()),
                                                ResourceKind::Texture)),
                                alive.end());
            }
    }
    std::stable_partition(alive.begin(), alive.end(),
                          [](const auto& entry) { return entry.second == ResourceKind::Surface; });
    for (const auto& [object, kind] : alive) {
        {
            std::lock_guard<std::mutex> lock(m_registryLock);
            m_objects.erase(object);
            if (kind == ResourceKind::Surface)
                ForgetLiveSurface(object);
        }
        DeleteObject(kind, const_cast<void*>(object));
    }
    if (current)
        DeleteBuiltIns();
    CloseContexts();
    CloseFontLibrary(m_fontLibrary);
}

// ---------------------------------------------------------------------------------------------
// Contexts

OpenGLDevice::ContextScope::ContextScope(OpenGLDevice& device, bool reads) : m_device(device), m_reads(reads)
{
    if (device.IsMainThread()) {
        const GLWork work(device);
        m_ready = device.m_contexts.MakeMainCurrent();
        return;
    }
    device.m_contextGuard.lock_shared();
    m_shared = true;
    {
        const GLWork work(device);
        m_worker = device.m_contexts.AcquireWorker();
    }
    m_ready = m_worker != nullptr;
    if (!m_ready)
        DeviceLogPrintf(1, "OpenGL device: %s; the object is not made",
                        device.m_contexts.IsOpen() ? "no worker context for this thread"
                                                   : "no context before CreatePrimarySurface");
}

OpenGLDevice::ContextScope::~ContextScope()
{
    if (m_worker) {
        const GLWork work(m_device);
        m_device.m_glLock.EndUploads();
        m_device.m_contexts.ReleaseWorker(m_worker);
        if (!m_reads)
            m_device.NoteForeignWrite();
    }
    if (m_shared)
        m_device.m_contextGuard.unlock_shared();
}

// ---------------------------------------------------------------------------------------------
// Fences and uploads

void OpenGLDevice::FenceWorkerWrites(WorkerFence& fence)
{
    if (IsMainThread())
        return;
    const GLWork work(*this);
    m_glLock.EndUploads();
    if (fence.sync && fence.epoch == GetEpoch())
        glDeleteSync(static_cast<GLsync>(fence.sync));
    fence.sync = glFenceSync(GL_SYNC_GPU_COMMANDS_COMPLETE, 0);
    fence.epoch = GetEpoch();
    // Another context can wait for a fence only once it is on its way.
    glFlush();
    // Before the lock goes: the main thread's next draw binds afresh and so waits for the fence.
    NoteForeignWrite();
}

void OpenGLDevice::FenceMainCommands(bool always)
{
    // After every draw: no GL lock taken unless a worker waits.
    if (!always && m_mainFenceWanted.load(std::memory_order_relaxed) == 0)
        return;
    const GLWork work(*this);
    if (m_mainFenced.load(std::memory_order_relaxed) == m_mainCommands)
        return;
    if (m_mainFence && m_mainFenceEpoch == GetEpoch())
        glDeleteSync(static_cast<GLsync>(m_mainFence)); // a worker's glWaitSync on it keeps it
    m_mainFence = glFenceSync(GL_SYNC_GPU_COMMANDS_COMPLETE, 0);
    m_mainFenceEpoch = GetEpoch();
    glFlush();
    {
        std::lock_guard<std::mutex> lock(m_mainFenceLock);
        m_mainFenced.store(m_mainCommands);
    }
    m_mainFenceGiven.notify_all();
}

bool OpenGLDevice::MainUsesFenced(const WorkerFence& fence) const
{
    const GLWork work(*this);
    return fence.mainUse <= m_mainFenced.load() || m_rebuilding.load() || m_lost.load();
}

uint64_t OpenGLDevice::OrderAfterMainUses(const WorkerFence& fence, bool& asked)
{
    const GLWork work(*this);
    if (asked)
        --m_mainFenceWanted;
    asked = false;
    // After a worker gave up waiting, the fence there is covers what came before it at least.
    if (!fence.mainUse || !m_mainFence || m_mainFenceEpoch != GetEpoch())
        return 0;
    glWaitSync(static_cast<GLsync>(m_mainFence), 0, GL_TIMEOUT_IGNORED);
    return m_mainFenced.load();
}

void OpenGLDevice::AskForMainFence(bool& asked)
{
    const GLWork work(*this);
    if (!asked)
        ++m_mainFenceWanted;
    asked = true;
}

void OpenGLDevice::ReplaceFilled(WorkerFence& fence, uint32_t oldName, bool texture, bool& asked)
{
    const GLWork work(*this);
    if (asked)
        --m_mainFenceWanted;
    asked = false;
    // The main context has not used the new object yet.
    fence.mainUse = 0;
    {
        std::lock_guard<std::mutex> lock(m_retireLock);
        m_retiredNames.push_back({texture, oldName, GetEpoch()});
        m_retiredPending.store(true, std::memory_order_release);
    }
    m_refillsReplaced.fetch_add(1, std::memory_order_relaxed);
    FenceWorkerWrites(fence);
}

void OpenGLDevice::NoteFilledInPlace(const WorkerFence& fence, uint64_t covered)
{
    m_refillsInPlace.fetch_add(1, std::memory_order_relaxed);
    if (fence.mainUse > covered)
        m_refillsUnordered.fetch_add(1, std::memory_order_relaxed);
}

OpenGLDevice::RefillFigures OpenGLDevice::GetRefillFigures() const
{
    RefillFigures figures;
    figures.inPlace = m_refillsInPlace.load();
    figures.unordered = m_refillsUnordered.load();
    figures.replaced = m_refillsReplaced.load();
    figures.mainFenceWaits = m_mainFenceWaits.load();
    figures.mainFenceGiveUps = m_mainFenceGiveUps.load();
    return figures;
}

void OpenGLDevice::ResetLockFigures()
{
    m_glLock.ResetFigures();
    m_refillsInPlace = 0;
    m_refillsUnordered = 0;
    m_refillsReplaced = 0;
    m_mainFenceWaits = 0;
    m_mainFenceGiveUps = 0;
}

bool OpenGLDevice::AwaitMainFence(uint64_t command)
{
    m_mainFenceWaits.fetch_add(1, std::memory_order_relaxed);
    std::unique_lock<std::mutex> lock(m_mainFenceLock);
    auto given = [&] { return m_mainFenced.load() >= command || m_rebuilding.load() || m_lost.load(); };
    if (m_mainFenceGiven.wait_for(lock, std::chrono::milliseconds(mainFenceWaitMs), given))
        return true;
    m_mainFenceGiveUps.fetch_add(1, std::memory_order_relaxed);
    // The main thread neither draws nor ends its frame: it may be waiting for this very worker
    // (a join, a load it waits out). Going on costs at worst one picture of the object half new;
    // waiting on could cost the process.
    if (!m_mainFenceWaitSaid.exchange(true))
        DeviceLogPrintf(1, "OpenGL device: a refill off the main thread waited %u ms for the main thread's next "
                           "draw or frame end; it goes on without it",
                        unsigned(mainFenceWaitMs));
    return false;
}

void OpenGLDevice::AwaitWorkerWrites(WorkerFence& fence)
{
    if (!fence.sync)
        return;
    const GLWork work(*this);
    if (fence.epoch != GetEpoch()) {
        fence.sync = nullptr; // went with the lost contexts
        return;
    }
    const auto sync = static_cast<GLsync>(fence.sync);
    const GLenum state = glClientWaitSync(sync, 0, 0);
    if (state == GL_ALREADY_SIGNALED || state == GL_CONDITION_SATISFIED || state == GL_WAIT_FAILED) {
        glDeleteSync(sync);
        fence.sync = nullptr;
        return;
    }
    // Still on its way: this context's later commands wait for it on the GPU. The fence stays
    // for the other contexts.
    glWaitSync(sync, 0, GL_TIMEOUT_IGNORED);
}

void OpenGLDevice::DeleteFence(WorkerFence& fence)
{
    if (!fence.sync)
        return;
    const GLWork work(*this);
    if (fence.epoch == GetEpoch() && m_contexts.IsOpen() && m_contexts.IsMainCurrent())
        glDeleteSync(static_cast<GLsync>(fence.sync));
    fence.sync = nullptr;
}

namespace {

// Rows of a band: about uploadBandBytes, a whole number of steps (4 for blocks), at least one step.
int BandRows(size_t rowBytes, int step)
{
    const size_t rows = std::max<size_t>(1, OpenGLDevice::uploadBandBytes / std::max<size_t>(rowBytes, 1));
    return int(std::max<size_t>(size_t(step), rows / size_t(step) * size_t(step)));
}

} // namespace

void OpenGLDevice::UploadTexels(uint32_t name, int level, int width, int height, const uint32_t* texels)
{
    const size_t rowBytes = size_t(width) * 4;
    const int band = BandRows(rowBytes, 1);
    // Zeros come from one band's worth, the same for every band.
    std::vector<uint32_t> zeros;
    if (!texels)
        zeros.assign(size_t(width) * size_t(std::min(band, height)), 0u);
    for (int y = 0; y < height; y += band) {
        const int rows = std::min(band, height - y);
        const uint32_t* from = texels ? texels + size_t(y) * size_t(width) : zeros.data();
        const GLWork work(*this);
        glTextureSubImage2D(name, level, 0, y, width, rows, GL_BGRA, GL_UNSIGNED_BYTE, from);
        m_glLock.NoteUpload();
    }
}

void OpenGLDevice::UploadBlocks(uint32_t name, int level, int width, int height, uint32_t internal,
                                const uint8_t* data, size_t bytes)
{
    // A row of blocks covers four rows of texels.
    const int blockRows = std::max(1, (height + 3) / 4);
    const size_t rowBytes = bytes / size_t(blockRows);
    const int band = BandRows(rowBytes, 4);
    for (int y = 0; y < height; y += band) {
        const int rows = std::min(band, height - y);
        const size_t offset = size_t(y / 4) * rowBytes;
        const size_t size = size_t((rows + 3) / 4) * rowBytes;
        const GLWork work(*this);
        glCompressedTextureSubImage2D(name, level, 0, y, width, rows, internal, GLsizei(size), data + offset);
        m_glLock.NoteUpload();
    }
}

void OpenGLDevice::UploadBytes(uint32_t buffer, size_t bytes, const void* data)
{
    const auto* from = static_cast<const uint8_t*>(data);
    for (size_t offset = 0; offset < bytes; offset += uploadBandBytes) {
        const size_t size = std::min(uploadBandBytes, bytes - offset);
        const GLWork work(*this);
        glNamedBufferSubData(buffer, GLintptr(offset), GLsizeiptr(size), from + offset);
        m_glLock.NoteUpload();
    }
}

void OpenGLDevice::ReadTexels(uint32_t name, int width, int height, uint32_t* texels)
{
    const int band = BandRows(size_t(width) * 4, 1);
    for (int y = 0; y < height; y += band) {
        const int rows = std::min(band, height - y);
        const GLWork work(*this);
        glGetTextureSubImage(name, 0, 0, y, 0, width, rows, 1, GL_BGRA, GL_UNSIGNED_BYTE,
                             GLsizei(size_t(width) * size_t(rows) * 4), texels + size_t(y) * size_t(width));
    }
}

void OpenGLDevice::ReadBytes(uint32_t buffer, size_t bytes, void* data)
{
    auto* to = static_cast<uint8_t*>(data);
    for (size_t offset = 0; offset < bytes; offset += uploadBandBytes) {
        const size_t size = std::min(uploadBandBytes, bytes - offset);
        const GLWork work(*this);
        glGetNamedBufferSubData(buffer, GLintptr(offset), GLsizeiptr(size), to + offset);
    }
}

void OpenGLDevice::UploadColorChain(uint32_t name, int width, int height, int levels, const uint32_t* texels)
{
    if (!texels) {
        for (int level = 0; level < levels; ++level)
            UploadTexels(name, level, std::max(1, width >> level), std::max(1, height >> level), nullptr);
        return;
    }
    UploadTexels(name, 0, width, height, texels);
    // Each level from the one above, on the processor, outside the lock.
    std::vector<uint32_t> above, below;
    const uint32_t* source = texels;
    for (int level = 1; level < levels; ++level) {
        DeviceCommon::HalveTexels(source, std::max(1, width >> (level - 1)), std::max(1, height >> (level - 1)),
                                  below);
        UploadTexels(name, level, std::max(1, width >> level), std::max(1, height >> level), below.data());
        above.swap(below);
        source = above.data();
    }
}

bool OpenGLDevice::OpenContexts(void* window, std::string& error)
{
    const GLWork work(*this);
    if (!m_contexts.Open(window, error))
        return false;
    m_mainThread.store(std::this_thread::get_id());
    QueryCapabilities();
    if (!CreateBuiltIns(error)) {
        DeleteBuiltIns();
        m_contexts.Close();
        return false;
    }
    ResetAppliedState();
    return true;
}

void OpenGLDevice::CloseContexts()
{
    const GLWork work(*this);
    m_framebuffers.clear();
    m_samplers.clear();
    m_contexts.Close();
}

void OpenGLDevice::QueryCapabilities()
{
    auto text = [](GLenum name) {
        const GLubyte* value = glGetString(name);
        return value ? std::string(reinterpret_cast<const char*>(value)) : std::string("unknown");
    };
    m_renderer = text(GL_RENDERER);
    m_version = text(GL_VERSION);
    GLint maxSize = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxSize);
    m_maxTextureSize = std::clamp(int(maxSize), 64, DeviceCommon::maxDdsDimension);
    m_hasS3tc = epoxy_has_gl_extension("GL_EXT_texture_compression_s3tc");
    GLint samples[3] = {};
    glGetIntegerv(GL_MAX_SAMPLES, &samples[0]);
    glGetIntegerv(GL_MAX_COLOR_TEXTURE_SAMPLES, &samples[1]);
    glGetIntegerv(GL_MAX_DEPTH_TEXTURE_SAMPLES, &samples[2]);
    m_maxSamples = std::max(0, std::min({samples[0], samples[1], samples[2]}));
    m_memoryInfo = 0;
    m_totalVideoMemory = fallbackVideoMemory;
    if (epoxy_has_gl_extension("GL_NVX_gpu_memory_info")) {
        GLint kilobytes = 0;
        glGetIntegerv(0x9048 /* GPU_MEMORY_INFO_TOTAL_AVAILABLE_MEMORY_NVX */, &kilobytes);
        if (kilobytes > 0) {
            m_memoryInfo = 1;
            m_totalVideoMemory = uint64_t(kilobytes) * 1024;
        }
    } else if (epoxy_has_gl_extension("GL_ATI_meminfo")) {
        GLint free[4] = {};
        glGetIntegerv(0x87FC /* TEXTURE_FREE_MEMORY_ATI */, free);
        if (free[0] > 0) {
            // The extension tells what is free only; what is free at start stands for the total.
            m_memoryInfo = 2;
            m_totalVideoMemory = uint64_t(free[0]) * 1024;
        }
    }
    m_freeVideoMemory = m_totalVideoMemory;
}

bool OpenGLDevice::CreateBuiltIns(std::string& error)
{
#ifndef NDEBUG
    GLint flags = 0;
    glGetIntegerv(GL_CONTEXT_FLAGS, &flags);
    if (flags & GL_CONTEXT_FLAG_DEBUG_BIT) {
        glEnable(GL_DEBUG_OUTPUT);
        glEnable(GL_DEBUG_OUTPUT_SYNCHRONOUS);
        glDebugMessageCallback(OnDebugMessage, nullptr);
    }
#endif
    // Direct3D's clip space: depth 0 to 1, and row 0 of every framebuffer at the top.
    glClipControl(GL_UPPER_LEFT, GL_ZERO_TO_ONE);
    glEnable(GL_DEPTH_TEST);
    glEnable(GL_SCISSOR_TEST);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);

    glCreateProgramPipelines(1, &m_pipeline);
    glBindProgramPipeline(m_pipeline);
    const uint32_t epoch = GetEpoch();
    std::string log;
    if (!CompileProgram(BuiltInSource(BuiltIn::FixedVertex), true, epoch, m_fixedVertex, log) ||
        !CompileProgram(BuiltInSource(BuiltIn::ScreenVertex), true, epoch, m_screenVertex, log) ||
        !CompilePixelProgram(BuiltInSource(BuiltIn::FixedPixelTextured), epoch, m_fixedPixelTextured,
                             m_fixedPixelTexturedUntested, log) ||
        !CompilePixelProgram(BuiltInSource(BuiltIn::FixedPixelPlain), epoch, m_fixedPixelPlain,
                             m_fixedPixelPlainUntested, log)) {
        error = "the device's own programs do not compile: " + log;
        return false;
    }
    m_fixedColorFlag = -1;

    glCreateBuffers(1, &m_screenBuffer);
    glNamedBufferData(m_screenBuffer, screenBufferBytes, nullptr, GL_STREAM_DRAW);
    m_screenBufferCursor = 0;
    glCreateVertexArrays(1, &m_screenVertexArray);
    const GLuint vao = m_screenVertexArray;
    glEnableVertexArrayAttrib(vao, VERTEX_USAGE_POSITION);
    glVertexArrayAttribFormat(vao, VERTEX_USAGE_POSITION, 3, GL_FLOAT, GL_FALSE, offsetof(ScreenVertex, x));
    glVertexArrayAttribBinding(vao, VERTEX_USAGE_POSITION, 0);
    glEnableVertexArrayAttrib(vao, VERTEX_USAGE_COLOR);
    glVertexArrayAttribFormat(vao, VERTEX_USAGE_COLOR, GL_BGRA, GL_UNSIGNED_BYTE, GL_TRUE,
                              offsetof(ScreenVertex, color));
    glVertexArrayAttribBinding(vao, VERTEX_USAGE_COLOR, 0);
    glEnableVertexArrayAttrib(vao, VERTEX_USAGE_TEXCOORD0);
    glVertexArrayAttribFormat(vao, VERTEX_USAGE_TEXCOORD0, 2, GL_FLOAT, GL_FALSE, offsetof(ScreenVertex, u));
    glVertexArrayAttribBinding(vao, VERTEX_USAGE_TEXCOORD0, 0);
    glVertexArrayVertexBuffer(vao, 0, m_screenBuffer, 0, sizeof(ScreenVertex));

    glCreateFramebuffers(2, m_copyFramebuffers);
    glCreateTextures(GL_TEXTURE_2D, 1, &m_whiteTexture);
    glTextureStorage2D(m_whiteTexture, 1, GL_RGBA8, 1, 1);
    const uint8_t white[4] = {255, 255, 255, 255};
    glTextureSubImage2D(m_whiteTexture, 0, 0, 0, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, white);
    glCreateSamplers(2, m_textSamplers);
    for (int i = 0; i < 2; ++i) {
        const GLint filter = i ? GL_LINEAR : GL_NEAREST;
        glSamplerParameteri(m_textSamplers[i], GL_TEXTURE_MIN_FILTER, filter);
        glSamplerParameteri(m_textSamplers[i], GL_TEXTURE_MAG_FILTER, filter);
        glSamplerParameteri(m_textSamplers[i], GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        glSamplerParameteri(m_textSamplers[i], GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    }
    return true;
}

void OpenGLDevice::DeleteBuiltIns()
{
    const GLWork work(*this);
    if (!m_contexts.IsMainCurrent())
        return;
    for (ProgramObject* program : {&m_fixedVertex, &m_screenVertex, &m_fixedPixelTextured, &m_fixedPixelPlain,
                                   &m_fixedPixelTexturedUntested, &m_fixedPixelPlainUntested}) {
        if (program->name)
            glDeleteProgram(program->name);
        *program = ProgramObject();
    }
    if (m_pipeline)
        glDeleteProgramPipelines(1, &m_pipeline);
    if (m_screenBuffer)
        glDeleteBuffers(1, &m_screenBuffer);
    if (m_screenVertexArray)
        glDeleteVertexArrays(1, &m_screenVertexArray);
    glDeleteFramebuffers(2, m_copyFramebuffers);
    glDeleteSamplers(2, m_textSamplers);
    if (m_whiteTexture)
        glDeleteTextures(1, &m_whiteTexture);
    m_whiteTexture = 0;
    for (const auto& [key, framebuffer] : m_framebuffers)
        glDeleteFramebuffers(1, &framebuffer);
    for (const auto& [key, sampler] : m_samplers)
        glDeleteSamplers(1, &sampler);
    m_framebuffers.clear();
    m_samplers.clear();
    m_pipeline = m_screenBuffer = m_screenVertexArray = 0;
    m_copyFramebuffers[0] = m_copyFramebuffers[1] = 0;
    m_textSamplers[0] = m_textSamplers[1] = 0;
}

void OpenGLDevice::ResetAppliedState()
{
    m_applied = Applied();
    m_dirty = DIRTY_ALL;
    m_dirtyStages = 0xFFFFu;
    m_fixedColorFlag = -1;
    m_screenProgramStamp = 0;
    m_seenForeignWrites = m_foreignWrites.load(std::memory_order_acquire);
}

// ---------------------------------------------------------------------------------------------
// Device, surfaces and frames

bool OpenGLDevice::Initialize()
{
    std::string reason;
    if (!ContextSet::IsAvailable(reason)) {
        DeviceLogPrintf(1, "OpenGL device: %s", reason.c_str());
        return false;
    }
    m_initialized = true;
    return true;
}

void OpenGLDevice::GetSupportedDisplayModes(std::vector<RenderDisplayMode>& modes)
{
    if (SDL_WasInit(SDL_INIT_VIDEO)) {
        const int count = SDL_GetNumDisplayModes(0);
        for (int i = 0; i < count; ++i) {
            SDL_DisplayMode sdl;
            if (SDL_GetDisplayMode(0, i, &sdl) != 0)
                continue;
            RenderDisplayMode mode;
            mode.width = sdl.w;
            mode.height = sdl.h;
            mode.refreshRate = sdl.refresh_rate;
            mode.format = RENDER_FORMAT_RGBA;
            modes.push_back(mode);
        }
        if (count > 0)
            return;
    }
    // Without a display: the sizes a window could take.
    DeviceCommon::AddWindowDisplayModes(modes);
}

bool OpenGLDevice::IsValidSettings(const RenderDeviceSettings& settings, const char* operation) const
{
    const int limit = m_contexts.IsOpen() ? m_maxTextureSize : DeviceCommon::maxDdsDimension;
    const bool valid = DeviceCommon::IsValidSettings(settings, limit);
    if (!valid)
        DeviceLogPrintf(1, "OpenGL device: %s: settings %d x %d, colour %d, depth %d are not possible",
                        operation, settings.width, settings.height, settings.colorFormat,
                        settings.depthFormat);
    return valid;
}

bool OpenGLDevice::MakeTargetTexture(int width, int height, RenderTextureFormat format, uint32_t& name,
                                     uint64_t& bytes, TextureKind& kind, int samples)
{
    const GLWork work(*this);
    const bool depth = IsDepthFormat(format);
    const GLenum internal = depth ? DepthFormatToGL(format) : ColorTargetFormatToGL(format);
    if (!internal)
        return false;
    while (glGetError() != GL_NO_ERROR) {
    }
    GLuint texture = 0;
    if (samples > 1) {
        // Drawn into and resolved only: never sampled, so no filters.
        glCreateTextures(GL_TEXTURE_2D_MULTISAMPLE, 1, &texture);
        glTextureStorage2DMultisample(texture, samples, internal, width, height, GL_TRUE);
    } else {
        glCreateTextures(GL_TEXTURE_2D, 1, &texture);
        glTextureStorage2D(texture, 1, internal, width, height);
        glTextureParameteri(texture, GL_TEXTURE_MAX_LEVEL, 0);
        glTextureParameteri(texture, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
        glTextureParameteri(texture, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        if (format == RENDER_FORMAT_RGB || format == RENDER_FORMAT_RGB16)
            glTextureParameteri(texture, GL_TEXTURE_SWIZZLE_A, GL_ONE);
    }
    if (glGetError() != GL_NO_ERROR) {
        glDeleteTextures(1, &texture);
        SetTextureRetryable(true);
        return false;
    }
    name = texture;
    bytes = uint64_t(width) * uint64_t(height) * BytesPerTexel(internal) * uint64_t(std::max(samples, 1));
    kind = depth ? TextureKind::Depth : internal == GL_RGBA8 ? TextureKind::Color : TextureKind::Target;
    return true;
}

int OpenGLDevice::PrimarySamples(const RenderDeviceSettings& settings)
{
    if (settings.antiAliasing == 0)
        return 0;
    if (m_maxSamples < 2) {
        DeviceLogPrintf(1, "OpenGL device: the driver offers no multisampling; anti-aliasing is off");
        return 0;
    }
    return std::min(primarySamples, m_maxSamples);
}

bool OpenGLDevice::MakePrimaryAttachments(int width, int height, RenderTextureFormat depthFormat, int samples,
                                          PrimaryAttachments& made)
{
    const GLWork work(*this);
    made = PrimaryAttachments();
    uint32_t colorName = 0;
    uint64_t colorBytes = 0;
    TextureKind kind;
    if (!MakeTargetTexture(width, height, RENDER_FORMAT_RGBA, colorName, colorBytes, kind))
        return false;
    uint32_t multisampleName = 0;
    uint64_t multisampleBytes = 0;
    if (samples > 1 &&
        !MakeTargetTexture(width, height, RENDER_FORMAT_RGBA, multisampleName, multisampleBytes, kind, samples)) {
        glDeleteTextures(1, &colorName);
        return false;
    }
    if (depthFormat != RENDER_FORMAT_NONE &&
        !MakeTargetTexture(width, height, depthFormat, made.depthName, made.depthBytes, kind,
                           multisampleName ? samples : 0)) {
        glDeleteTextures(1, &colorName);
        if (multisampleName)
            glDeleteTextures(1, &multisampleName);
        made.depthName = 0;
        made.depthBytes = 0;
        return false;
    }
    made.color = new OpenGLTexture(*this, colorName, GetEpoch(), TextureKind::Color, RENDER_FORMAT_RGBA, width,
                                   height, 1, colorBytes, false);
    made.multisampleName = multisampleName;
    made.multisampleBytes = multisampleBytes;
    made.samples = multisampleName ? samples : 0;
    return true;
}

void OpenGLDevice::Resolve(OpenGLSurface& surface)
{
    const GLWork work(*this);
    if (!surface.NeedsResolve())
        return;
    surface.SetDrawnSinceResolve(false);
    const uint32_t from = surface.GetMultisampleColorName();
    const uint32_t to = surface.GetColorName();
    if (!from || !to)
        return;
    FramebufferKey source;
    source.colors[0] = from;
    FramebufferKey destination;
    destination.colors[0] = to;
    const GLuint read = GetFramebuffer(source);
    const GLuint draw = GetFramebuffer(destination);
    glDisable(GL_SCISSOR_TEST); // a blit is cut by the scissor rectangle
    glBlitNamedFramebuffer(read, draw, 0, 0, surface.GetWidth(), surface.GetHeight(), 0, 0, surface.GetWidth(),
                           surface.GetHeight(), GL_COLOR_BUFFER_BIT, GL_NEAREST);
    glEnable(GL_SCISSOR_TEST);
}

void OpenGLDevice::ApplyWindowMode(const RenderDeviceSettings& settings)
{
    if (!m_contexts.IsWindowed() || !IsMainThread())
        return;
    auto* window = static_cast<SDL_Window*>(m_contexts.GetWindow());
    const bool wanted = (settings.flags & RenderDeviceSettings::FLAG_FULL_SCREEN) != 0;
    const bool now = (SDL_GetWindowFlags(window) & SDL_WINDOW_FULLSCREEN) != 0;
    if (wanted) {
        // The display's mode closest to the settings' size (the smallest that holds it), else the
        // desktop's own.
        SDL_DisplayMode asked = {};
        asked.w = settings.width;
        asked.h = settings.height;
        SDL_DisplayMode mode = {};
        const int display = std::max(SDL_GetWindowDisplayIndex(window), 0);
        const bool closest = SDL_GetClosestDisplayMode(display, &asked, &mode) != nullptr;
        if (!closest)
            SDL_GetDesktopDisplayMode(display, &mode);
        if (!now)
            SDL_GetWindowSize(window, &m_windowedWidth, &m_windowedHeight);
        if (SDL_SetWindowDisplayMode(window, &mode) != 0 ||
            (!now && SDL_SetWindowFullscreen(window, SDL_WINDOW_FULLSCREEN) != 0)) {
            DeviceLogPrintf(1, "OpenGL device: the window cannot go full screen at %d x %d (%s)", mode.w,
                            mode.h, SDL_GetError());
            return;
        }
        // A mode of another size shows the picture scaled with its shape kept (PresentSurface);
        // said once for each size and mode, not at every reset.
        const int fit[4] = {settings.width, settings.height, mode.w, mode.h};
        if ((mode.w != settings.width || mode.h != settings.height) &&
            !std::equal(std::begin(fit), std::end(fit), std::begin(m_loggedFit))) {
            std::copy(std::begin(fit), std::end(fit), std::begin(m_loggedFit));
            const PictureRect picture = FitPicture(settings.width, settings.height, mode.w, mode.h);
            DeviceLogPrintf(
                1,
                "OpenGL device: the display has no %d x %d mode%s; full screen at %d x %d shows the "
                "picture at %d x %d%s",
                settings.width, settings.height, closest ? "" : " nor a larger one", mode.w, mode.h,
                picture.width, picture.height,
                picture.width == mode.w && picture.height == mode.h ? "" : " between black bars");
        }
        return;
    }
    std::fill(std::begin(m_loggedFit), std::end(m_loggedFit), 0);
    if (!now)
        return;
    if (SDL_SetWindowFullscreen(window, 0) != 0) {
        DeviceLogPrintf(1, "OpenGL device: the window cannot leave full screen (%s)", SDL_GetError());
        return;
    }
    // Not every window manager gives the window its size back.
    if (m_windowedWidth > 0 && m_windowedHeight > 0)
        SDL_SetWindowSize(window, m_windowedWidth, m_windowedHeight);
    m_windowedWidth = m_windowedHeight = 0;
}

RenderSurface* OpenGLDevice::CreatePrimarySurface(void* window, const RenderDeviceSettings* settings)
{
    if (!settings || !IsValidSettings(*settings, "CreatePrimarySurface"))
        return nullptr;
    if (!m_initialized) {
        DeviceLogPrintf(1, "OpenGL device: CreatePrimarySurface before Initialize");
        return nullptr;
    }
    if (m_contexts.IsOpen()) {
        if (!IsMainThread()) {
            DeviceLogPrintf(1, "OpenGL device: CreatePrimarySurface off the device's main thread");
            return nullptr;
        }
        if (window != m_contexts.GetWindow()) {
            DeviceLogPrintf(1, "OpenGL device: the device already draws %s; it cannot change to %s",
                            m_contexts.IsWindowed() ? "on another window" : "headless",
                            window ? "a window" : "headless");
            return nullptr;
        }
        if (!m_contexts.MakeMainCurrent()) {
            DeviceLogPrintf(1, "OpenGL device: the context cannot be made current");
            return nullptr;
        }
    } else {
        std::string error;
        if (!OpenContexts(window, error)) {
            DeviceLogPrintf(1, "OpenGL device: couldn't open OpenGL %s: %s",
                            window ? "on the window" : "headless", error.c_str());
            return nullptr;
        }
    }
    if (m_lost)
        return nullptr;
    ProcessRetired();

    PrimaryAttachments made;
    if (!MakePrimaryAttachments(settings->width, settings->height, settings->depthFormat,
                                PrimarySamples(*settings), made)) {
        DeviceLogPrintf(1, "OpenGL device: couldn't make a %d x %d primary surface", settings->width,
                        settings->height);
        return nullptr;
    }
    const uint32_t depthName = made.depthName;
    auto* surface = new OpenGLSurface(*this, settings->width, settings->height, made.color, true, true, depthName,
                                      settings->depthFormat, made.depthBytes);
    surface->SetMultisample(made.multisampleName, made.samples, made.multisampleBytes);
    Register(static_cast<const RenderSurface*>(surface), ResourceKind::Surface,
             made.color->GetBytes() + made.depthBytes + made.multisampleBytes);
    m_settings = *settings;
    m_primary = surface;
    for (OpenGLSurface*& target : m_state.targets)
        target = nullptr;
    m_state.targets[0] = surface;
    m_state.depthTarget = depthName ? surface : nullptr;
    SetTargetSize(surface);
    m_dirty |= DIRTY_TARGETS;
    m_verticalSync = (settings->flags & RenderDeviceSettings::FLAG_SYNC_TO_REFRESH) != 0;
    m_contexts.SetSwapInterval(m_verticalSync ? 1 : 0);
    ApplyWindowMode(*settings);
    return surface;
}

RenderSurface* OpenGLDevice::CreateTextureSurface(int width, int height, const RenderTexture* colorTexture,
                                                  RenderTextureFormat depthFormat)
{
    {
        std::lock_guard<std::mutex> lock(m_registryLock);
        auto it = m_objects.find(colorTexture);
        if (it == m_objects.end() || it->second != ResourceKind::Texture) {
            DeviceLogPrintf(
                1, "OpenGL device: CreateTextureSurface: the texture is not a live texture of the device");
            return nullptr;
        }
    }
    auto* texture = static_cast<OpenGLTexture*>(const_cast<RenderTexture*>(colorTexture));
    if (!texture->IsRenderable() || width <= 0 || height <= 0 || width > texture->GetWidth() ||
        height > texture->GetHeight() || (depthFormat != RENDER_FORMAT_NONE && !IsDepthFormat(depthFormat))) {
        DeviceLogPrintf(
            1,
            "OpenGL device: CreateTextureSurface(%d, %d, depth %d) cannot draw into a %d x %d texture "
            "of format %d",
            width, height, depthFormat, texture->GetWidth(), texture->GetHeight(), texture->GetFormat());
        return nullptr;
    }
    ContextScope scope(*this);
    if (!scope.IsReady() || m_lost)
        return nullptr;
    uint32_t depthName = 0;
    uint64_t depthBytes = 0;
    TextureKind kind;
    if (depthFormat != RENDER_FORMAT_NONE &&
        !MakeTargetTexture(width, height, depthFormat, depthName, depthBytes, kind)) {
        DeviceLogPrintf(1, "OpenGL device: couldn't make a %d x %d depth buffer", width, height);
        return nullptr;
    }
    auto* surface =
        new OpenGLSurface(*this, width, height, texture, false, false, depthName, depthFormat, depthBytes);
    FenceWorkerWrites(surface->GetFence());
    Register(static_cast<const RenderSurface*>(surface), ResourceKind::Surface, depthBytes);
    return surface;
}

RenderSurface* OpenGLDevice::CreateTextureSurface(int width, int height, RenderTextureFormat colorFormat,
                                                  RenderTextureFormat depthFormat)
{
    ContextScope scope(*this);
    if (!scope.IsReady() || m_lost)
        return nullptr;
    const bool hasColor = colorFormat != RENDER_FORMAT_NONE;
    const bool hasDepth = depthFormat != RENDER_FORMAT_NONE;
    if (width <= 0 || height <= 0 || width > m_maxTextureSize || height > m_maxTextureSize ||
        (hasColor && !ColorTargetFormatToGL(colorFormat)) || (hasDepth && !IsDepthFormat(depthFormat)) ||
        (!hasColor && !hasDepth)) {
        DeviceLogPrintf(1, "OpenGL device: CreateTextureSurface(%d, %d, colour %d, depth %d) is not possible",
                        width, height, colorFormat, depthFormat);
        return nullptr;
    }
    SetTextureRetryable(false);
    OpenGLTexture* color = nullptr;
    if (hasColor) {
        uint32_t name = 0;
        uint64_t bytes = 0;
        TextureKind kind;
        if (!MakeTargetTexture(width, height, colorFormat, name, bytes, kind)) {
            DeviceLogPrintf(1, "OpenGL device: couldn't make a %d x %d render target", width, height);
            return nullptr;
        }
        color = new OpenGLTexture(*this, name, GetEpoch(), kind, colorFormat, width, height, 1, bytes, false);
    }
    uint32_t depthName = 0;
    uint64_t depthBytes = 0;
    TextureKind kind;
    if (hasDepth && !MakeTargetTexture(width, height, depthFormat, depthName, depthBytes, kind)) {
        DeviceLogPrintf(1, "OpenGL device: couldn't make a %d x %d depth buffer", width, height);
        if (color) {
            const GLWork work(*this);
            const GLuint name = color->GetName();
            glDeleteTextures(1, &name);
            delete color;
        }
        return nullptr;
    }
    auto* surface =
        new OpenGLSurface(*this, width, height, color, true, false, depthName, depthFormat, depthBytes);
    FenceWorkerWrites(surface->GetFence());
    Register(static_cast<const RenderSurface*>(surface), ResourceKind::Surface, depthBytes);
    if (color)
        Register(static_cast<const RenderTexture*>(color), ResourceKind::Texture, color->GetBytes());
    return surface;
}

void OpenGLDevice::DestroySurface(RenderSurface** surface)
{
    DestroyHeld(surface, ResourceKind::Surface, "DestroySurface");
}

void OpenGLDevice::UnregisterVertexDeclaration(RenderVertexDeclaration* declaration)
{
    // Declarations keep no cache outside themselves; a bound one is unbound.
    if (declaration && IsMainThread() && m_state.declaration == declaration) {
        m_state.declaration = nullptr;
        m_dirty |= DIRTY_INPUT;
    }
}

int OpenGLDevice::GetNumVertexDeclarations() const
{
    std::lock_guard<std::mutex> lock(m_registryLock);
    return m_declarationCount;
}

const OpenGLSurface* OpenGLDevice::GetTarget0() const
{
    return m_state.targets[0];
}

void OpenGLDevice::SetTargetSize(const OpenGLSurface* surface)
{
    m_targetWidth = surface ? surface->GetWidth() : 0;
    m_targetHeight = surface ? surface->GetHeight() : 0;
    // As Direct3D: a new target 0 draws over all of it.
    const Viewport whole(0, 0, m_targetWidth, m_targetHeight);
    if (m_state.viewport != whole) {
        m_state.viewport = whole;
        m_dirty |= DIRTY_VIEWPORT;
        ++m_screenStamp;
    }
    const Rect all(0.0f, 0.0f, float(m_targetWidth), float(m_targetHeight));
    if (m_state.scissor.x != all.x || m_state.scissor.y != all.y || m_state.scissor.width != all.width ||
        m_state.scissor.height != all.height) {
        m_state.scissor = all;
        m_dirty |= DIRTY_SCISSOR;
    }
}

namespace {

bool IsLiveSurface(const std::unordered_map<const void*, ResourceKind>& objects, const RenderSurface* surface)
{
    auto it = objects.find(surface);
    return it != objects.end() && it->second == ResourceKind::Surface;
}

} // namespace

void OpenGLDevice::SetTargetSurface(int index, RenderSurface* surface)
{
    if (index == 0 && !surface)
        surface = m_primary;
    {
        std::lock_guard<std::mutex> lock(m_registryLock);
        if (index < 0 || index >= maxRenderTargets || (surface && !IsLiveSurface(m_objects, surface))) {
            DeviceLogPrintf(1, "OpenGL device: SetTargetSurface(%d): not a surface of the device", index);
            return;
        }
    }
    auto* target = static_cast<OpenGLSurface*>(surface);
    m_state.targets[index] = target;
    if (index == 0) {
        m_state.depthTarget = target && target->GetDepthName() ? target : nullptr;
        SetTargetSize(target);
    }
    m_dirty |= DIRTY_TARGETS;
}

void OpenGLDevice::SetRenderTarget(int index, RenderSurface* surface)
{
    if (index == 0 && !surface)
        surface = m_primary;
    {
        std::lock_guard<std::mutex> lock(m_registryLock);
        if (index < 0 || index >= maxRenderTargets || (surface && !IsLiveSurface(m_objects, surface))) {
            DeviceLogPrintf(1, "OpenGL device: SetRenderTarget(%d): not a surface of the device", index);
            return;
        }
    }
    auto* target = static_cast<OpenGLSurface*>(surface);
    m_state.targets[index] = target;
    if (index == 0)
        SetTargetSize(target);
    m_dirty |= DIRTY_TARGETS;
}

void OpenGLDevice::SetDepthTarget(RenderSurface* surface)
{
    {
        std::lock_guard<std::mutex> lock(m_registryLock);
        if (surface &&
            (!IsLiveSurface(m_objects, surface) || !static_cast<OpenGLSurface*>(surface)->GetDepthName())) {
            DeviceLogPrintf(1, "OpenGL device: SetDepthTarget: not a surface of the device with depth");
            return;
        }
    }
    m_state.depthTarget = static_cast<OpenGLSurface*>(surface);
    m_dirty |= DIRTY_TARGETS;
}

const char* OpenGLDevice::GetStatusText()
{
    char buffer[512];
    std::snprintf(buffer, sizeof(buffer), "OpenGL render device %dx%d, %s, OpenGL %s, %s, %u MB video memory",
                  m_settings.width, m_settings.height,
                  m_renderer.empty() ? "no context yet" : m_renderer.c_str(),
                  m_version.empty() ? "-" : m_version.c_str(),
                  m_contexts.IsOpen() ? m_contexts.GetDescription().c_str() : "EGL",
                  unsigned(m_totalVideoMemory / (1024u * 1024u)));
    m_statusText = buffer;
    return m_statusText.c_str();
}

bool OpenGLDevice::DeviceLost()
{
    const GLWork work(*this);
    if (!m_lost && m_contexts.IsOpen() && IsMainThread() && m_contexts.MakeMainCurrent() &&
        glGetGraphicsResetStatus() != GL_NO_ERROR)
        m_lost = true;
    return m_lost;
}

bool OpenGLDevice::BeginFrame()
{
    const GLWork work(*this);
    if (!m_contexts.IsOpen())
        return false;
    if (!IsMainThread()) {
        LogOncePerFrame(LOG_NOT_MAIN_THREAD, "OpenGL device: BeginFrame off the device's main thread");
        return false;
    }
    if (m_inFrame) {
        DeviceLogPrintf(1, "OpenGL device: BeginFrame inside a frame");
        return false;
    }
    if (!m_contexts.MakeMainCurrent())
        m_lost = true;
    if (DeviceLost())
        return false;
    ProcessRetired();
    ++m_frameIndex;
    m_drawCallsThisFrame = 0;
    m_facesThisFrame = 0;
    if (m_memoryInfo == 1) {
        GLint kilobytes = 0;
        glGetIntegerv(0x9049 /* GPU_MEMORY_INFO_CURRENT_AVAILABLE_VIDMEM_NVX */, &kilobytes);
        m_freeVideoMemory = uint64_t(std::max(kilobytes, 0)) * 1024;
    } else if (m_memoryInfo == 2) {
        GLint free[4] = {};
        glGetIntegerv(0x87FC, free);
        m_freeVideoMemory = uint64_t(std::max(free[0], 0)) * 1024;
    }
    m_inFrame = true;
    return true;
}

void OpenGLDevice::EndFrame()
{
    if (!m_inFrame)
        return;
    m_inFrame = false;
    // Before this frame's drawing is queued, while the driver's queue holds little of it: the
    // picture of a frame read asked for before it (ReadPictureAside), once the picture is drawn.
    // The present would wait for that drawing anyway.
    ReadPictureAside(true);
    const GLWork work(*this);
    FenceMainCommands(true);
    glFlush();
}

void OpenGLDevice::PresentSurface(RenderSurface* surface)
{
    const GLWork work(*this);
    if (!m_contexts.IsOpen() || m_lost || !IsMainThread() || !m_contexts.MakeMainCurrent())
        return;
    auto* source = surface ? static_cast<OpenGLSurface*>(surface) : m_primary;
    if (!m_contexts.IsWindowed()) {
        // Headless: nothing to show, but frames are held to one in flight, as a swap chain holds
        // them. Without it the driver queues several frames' drawing, and the first frame that
        // reads a picture back (a doorway's composite, a screenshot) waits for all of them.
        if (m_presentFence.sync && m_presentFence.epoch == GetEpoch()) {
            const auto sync = static_cast<GLsync>(m_presentFence.sync);
            glClientWaitSync(sync, GL_SYNC_FLUSH_COMMANDS_BIT, presentWaitLimitNs);
            glDeleteSync(sync);
        }
        m_presentFence.sync = glFenceSync(GL_SYNC_GPU_COMMANDS_COMPLETE, 0);
        m_presentFence.epoch = GetEpoch();
        glFlush();
        return;
    }
    int width = 0, height = 0;
    if (source)
        Resolve(*source);
    if (source && source->GetColorName() && m_contexts.GetSurfaceSize(width, height)) {
        FramebufferKey key;
        key.colors[0] = source->GetColorName();
        const GLuint framebuffer = GetFramebuffer(key);
        // The picture keeps its shape in a window of another shape (a full-screen mode of another
        // size): scaled to fit, in the middle, black bars around it.
        const PictureRect to = FitPicture(source->GetWidth(), source->GetHeight(), width, height);
        glDisable(GL_SCISSOR_TEST);
        glBindFramebuffer(GL_DRAW_FRAMEBUFFER, 0);
        if (to.width != width || to.height != height) {
            const float black[4] = {0.0f, 0.0f, 0.0f, 1.0f};
            glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
            m_applied.colorMask = -1;
            m_dirty |= DIRTY_MASKS;
            glClearNamedFramebufferfv(0, GL_COLOR, 0, black);
        }
        // Row 0 of the device's framebuffers is the top; the window's is the bottom.
        glBlitNamedFramebuffer(framebuffer, 0, 0, 0, source->GetWidth(), source->GetHeight(), to.x,
                               height - to.y, to.x + to.width, height - to.y - to.height, GL_COLOR_BUFFER_BIT,
                               GL_LINEAR);
        glEnable(GL_SCISSOR_TEST);
        m_applied.framebuffer = ~0u;
        m_dirty |= DIRTY_TARGETS;
    }
    if (!m_contexts.SwapBuffers() && glGetGraphicsResetStatus() != GL_NO_ERROR)
        m_lost = true;
}

void OpenGLDevice::Clear(unsigned int flags)
{
    const GLWork work(*this);
    if (!m_contexts.IsOpen() || m_lost || !IsMainThread() || !m_contexts.MakeMainCurrent())
        return;
    if (m_retiredPending.load(std::memory_order_acquire))
        ProcessRetired();
    ApplyTargets();
    if (!GetTarget0() && !m_state.depthTarget)
        return;
    BeginMainCommand();
    NoteTargetUses();
    // The viewport within the scissor rectangle, whatever the write masks say.
    ApplyViewportAndScissor();
    const Viewport& v = m_state.viewport;
    const Rect& s = m_state.scissor;
    const int x0 = std::max(v.x, int(std::lround(s.x)));
    const int y0 = std::max(v.y, int(std::lround(s.y)));
    const int x1 = std::min(v.x + v.width, int(std::lround(s.x + s.width)));
    const int y1 = std::min(v.y + v.height, int(std::lround(s.y + s.height)));
    if (x1 <= x0 || y1 <= y0)
        return;
    if ((flags & RENDER_CLEAR_ZBUFFER) != 0)
        flags |= RENDER_CLEAR_DEPTH;
    glScissor(x0, y0, x1 - x0, y1 - y0);
    m_applied.scissor[0] = -1;
    m_dirty |= DIRTY_SCISSOR;
    if (flags & RENDER_CLEAR_COLOR) {
        glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
        m_applied.colorMask = -1;
        m_dirty |= DIRTY_MASKS;
        const float color[4] = {
            std::clamp(m_clearColor.r, 0.0f, 1.0f), std::clamp(m_clearColor.g, 0.0f, 1.0f),
            std::clamp(m_clearColor.b, 0.0f, 1.0f), std::clamp(m_clearColor.a, 0.0f, 1.0f)};
        for (int i = 0; i < maxRenderTargets; ++i)
            if (m_state.targets[i] && m_state.targets[i]->GetColorName()) {
                glClearBufferfv(GL_COLOR, i, color);
                m_state.targets[i]->SetDrawnSinceResolve(true);
            }
    }
    const OpenGLSurface* depth = m_state.depthTarget;
    if (depth && (flags & (RENDER_CLEAR_DEPTH | RENDER_CLEAR_STENCIL))) {
        glDepthMask(GL_TRUE);
        m_applied.depthMask = -1;
        m_dirty |= DIRTY_DEPTH;
        const bool stencil = depth->GetDepthFormat() == RENDER_FORMAT_D24;
        // To the far end: 0, depth being reversed.
        if ((flags & RENDER_CLEAR_DEPTH) && (flags & RENDER_CLEAR_STENCIL) && stencil)
            glClearBufferfi(GL_DEPTH_STENCIL, 0, 0.0f, 0);
        else if (flags & RENDER_CLEAR_DEPTH) {
            const float far = 0.0f;
            glClearBufferfv(GL_DEPTH, 0, &far);
        } else if (stencil) {
            glStencilMask(0xFF);
            const GLint zero = 0;
            glClearBufferiv(GL_STENCIL, 0, &zero);
        }
    }
    FenceMainCommands(false);
}

// ---------------------------------------------------------------------------------------------
// Memory, reset, read-back

unsigned int OpenGLDevice::GetFreeVideoMemory() const
{
    uint64_t free = 0;
    if (m_memoryInfo)
        free = m_freeVideoMemory;
    else {
        const uint64_t used = m_resourceBytes.load(std::memory_order_relaxed);
        free = used >= m_totalVideoMemory ? 0 : m_totalVideoMemory - used;
    }
    return unsigned(std::min<uint64_t>(free, 0xFFFFFFFFu));
}

unsigned int OpenGLDevice::GetTotalVideoMemory() const
{
    return unsigned(std::min<uint64_t>(m_totalVideoMemory, 0xFFFFFFFFu));
}

void OpenGLDevice::SetFullScreen(bool fullScreen)
{
    if (fullScreen)
        m_settings.flags |= RenderDeviceSettings::FLAG_FULL_SCREEN;
    else
        m_settings.flags &= ~uint32_t(RenderDeviceSettings::FLAG_FULL_SCREEN);
    if (m_contexts.IsOpen())
        ApplyWindowMode(m_settings);
}

void OpenGLDevice::SetDebugSwitch2(bool on)
{
    if (m_debugSwitch2 == on)
        return;
    m_debugSwitch2 = on;
    m_dirtyStages = 0xFFFFu; // every stage binds its texture, or white, afresh
}

void OpenGLDevice::EnableVerticalSync(bool enable)
{
    m_verticalSync = enable;
    if (m_contexts.IsOpen() && IsMainThread())
        m_contexts.SetSwapInterval(enable ? 1 : 0);
}

bool OpenGLDevice::ResetDevice(const RenderDeviceSettings& settings)
{
    if (!IsValidSettings(settings, "ResetDevice"))
        return false;
    if (!m_contexts.IsOpen()) {
        // Nothing made yet: the settings are taken for the primary surface to come.
        m_settings = settings;
        return true;
    }
    if (!IsMainThread()) {
        DeviceLogPrintf(1, "OpenGL device: ResetDevice off the device's main thread");
        return false;
    }
    if (m_inFrame) {
        DeviceLogPrintf(1, "OpenGL device: ResetDevice inside a frame");
        return false;
    }
    if (m_lost || !m_contexts.MakeMainCurrent()) {
        // A lost context cannot come back: new contexts, and every object made before is dead.
        // A worker's refill waiting for the main context's fence goes on without it.
        {
            std::lock_guard<std::mutex> lock(m_mainFenceLock);
            m_rebuilding = true;
        }
        m_mainFenceGiven.notify_all();
        std::unique_lock<std::shared_mutex> guard(m_contextGuard);
        m_rebuilding = false;
        m_mainFence = nullptr; // went with the lost context
        m_mainFenced = m_mainCommands;
        EndFrameRead(); // so did a frame read under way
        void* window = m_contexts.GetWindow();
        ProcessRetired();
        m_epoch.fetch_add(1, std::memory_order_acq_rel);
        CloseContexts();
        m_fixedVertex = m_screenVertex = m_fixedPixelTextured = m_fixedPixelPlain = ProgramObject();
        m_fixedPixelTexturedUntested = m_fixedPixelPlainUntested = ProgramObject();
        m_pipeline = m_screenBuffer = m_screenVertexArray = 0;
        m_copyFramebuffers[0] = m_copyFramebuffers[1] = 0;
        m_textSamplers[0] = m_textSamplers[1] = 0;
        m_whiteTexture = 0;
        std::string error;
        if (!OpenContexts(window, error)) {
            DeviceLogPrintf(1, "OpenGL device: ResetDevice couldn't rebuild the lost context: %s",
                            error.c_str());
            m_lost = true;
            return false;
        }
        m_lost = false;
        DeviceLogPrintf(
            1, "OpenGL device: the context was lost and is rebuilt; objects made before it are gone");
    }
    ProcessRetired();
    if (m_primary) {
        PrimaryAttachments made;
        if (!MakePrimaryAttachments(settings.width, settings.height, m_primary->GetDepthFormat(),
                                    PrimarySamples(settings), made)) {
            DeviceLogPrintf(1, "OpenGL device: ResetDevice couldn't make a %d x %d primary surface",
                            settings.width, settings.height);
            return false;
        }
        OpenGLTexture* oldColor = m_primary->GetColor();
        const uint32_t oldDepth = m_primary->GetDepthName();
        const uint32_t oldMultisample = m_primary->GetMultisampleColorName();
        const uint64_t oldBytes = (oldColor ? oldColor->GetBytes() : 0) + m_primary->GetDepthBytes() +
                                  m_primary->GetMultisampleBytes();
        if (oldColor) {
            ForgetFramebuffersWith(oldColor->GetName());
            DeleteGLTexture(oldColor->GetName(), oldColor->GetEpoch());
            delete oldColor;
        }
        if (oldDepth) {
            ForgetFramebuffersWith(oldDepth);
            DeleteGLTexture(oldDepth, m_primary->GetDepthEpoch());
        }
        if (oldMultisample) {
            ForgetFramebuffersWith(oldMultisample);
            DeleteGLTexture(oldMultisample, m_primary->GetDepthEpoch());
        }
        DeleteFrameReadSpare(); // of the old size
        m_primary->Replace(settings.width, settings.height, made.color, made.depthName, made.depthBytes);
        m_primary->SetMultisample(made.multisampleName, made.samples, made.multisampleBytes);
        RemoveBytes(oldBytes);
        AddBytes(made.color->GetBytes() + made.depthBytes + made.multisampleBytes);
        m_dirty |= DIRTY_TARGETS;
        if (m_state.targets[0] == m_primary)
            SetTargetSize(m_primary);
    }
    m_settings = settings;
    m_verticalSync = (settings.flags & RenderDeviceSettings::FLAG_SYNC_TO_REFRESH) != 0;
    m_contexts.SetSwapInterval(m_verticalSync ? 1 : 0);
    ApplyWindowMode(settings);
    return true;
}

// Not shared with the software device's: that one reads its settings under its lock.
void OpenGLDevice::SetResolution(int width, int height)
{
    RenderDeviceSettings settings = m_settings;
    settings.width = width;
    settings.height = height;
    ResetDevice(settings);
}

bool OpenGLDevice::ReadFrameBuffer(Pixel* pixels, int width, int height) const
{
    const GLWork work(*this);
    auto* self = const_cast<OpenGLDevice*>(this);
    const OpenGLSurface* target = GetTarget0();
    if (!pixels || !target || !target->GetColorName() || width != target->GetWidth() ||
        height != target->GetHeight() || m_lost || !IsMainThread() || !self->m_contexts.MakeMainCurrent())
        return false;
    self->ApplyTargets();
    GLuint resolved = 0;
    if (target->GetSamples()) {
        // The picture is read from the colour texture it resolves into.
        self->Resolve(*const_cast<OpenGLSurface*>(target));
        FramebufferKey key;
        key.colors[0] = target->GetColorName();
        resolved = self->GetFramebuffer(key);
        glBindFramebuffer(GL_READ_FRAMEBUFFER, resolved);
    }
    glReadBuffer(GL_COLOR_ATTACHMENT0);
    glReadnPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE,
                  GLsizei(size_t(width) * height * sizeof(Pixel)), pixels);
    const bool read = glGetError() == GL_NO_ERROR;
    if (resolved)
        glBindFramebuffer(GL_READ_FRAMEBUFFER, m_applied.framebuffer);
    return read;
}

bool OpenGLDevice::RequestFrameRead(int width, int height)
{
    const GLWork work(*this);
    OpenGLTexture* color = m_primary ? m_primary->GetColor() : nullptr;
    const char* refused = !IsMainThread()                           ? "off the device's main thread"
                          : m_frameRead.texture                     ? "a read is pending already"
                          : m_lost || !m_contexts.MakeMainCurrent() ? "the context is lost"
                          : !m_primary || GetTarget0() != m_primary
                              ? "render target 0 is not the primary surface"
                          : !color || !m_primary->GetColorName() ? "the primary surface has no colour"
                          : width != m_primary->GetWidth() || height != m_primary->GetHeight()
                              ? "another size than the primary surface's"
                              : nullptr;
    if (refused) {
        DeviceLogPrintf(1, "OpenGL device: RequestFrameRead(%d, %d) refused (%s)", width, height, refused);
        return false;
    }
    // llvmpipe reads a texture (into memory, by a copy or by a draw) only once the drawing queued
    // into it is done, and then waits for everything queued, until a scene made later takes the
    // place of the one that drew it. So nothing reads the picture now: its texture is set aside as
    // it is and the surface draws on into another (the texture of the read before, or a new one).
    // The next EndFrame has it read on another context, before that frame's drawing is queued
    // (ReadPictureAside). With anti-aliasing the picture is resolved first, which waits.
    Resolve(*m_primary);
    if (m_frameReadSpare.name && (m_frameReadSpare.epoch != GetEpoch() || m_frameReadSpare.width != width ||
                                  m_frameReadSpare.height != height))
        DeleteFrameReadSpare();
    if (!m_frameReadSpare.name) {
        TextureKind kind;
        if (!MakeTargetTexture(width, height, RENDER_FORMAT_RGBA, m_frameReadSpare.name,
                               m_frameReadSpare.bytes, kind)) {
            DeviceLogPrintf(1, "OpenGL device: RequestFrameRead(%d, %d): no memory for a second picture",
                            width, height);
            m_frameReadSpare = Picture();
            return false;
        }
        AddBytes(m_frameReadSpare.bytes);
        m_frameReadSpare.epoch = GetEpoch();
        m_frameReadSpare.width = width;
        m_frameReadSpare.height = height;
    }
    m_frameRead.texture = color->TakeName(m_frameReadSpare.name);
    m_frameRead.bytes = m_frameReadSpare.bytes;
    m_frameReadSpare = Picture();
    m_dirty |= DIRTY_TARGETS;
    m_frameRead.sync = glFenceSync(GL_SYNC_GPU_COMMANDS_COMPLETE, 0);
    glFlush();
    m_frameRead.epoch = GetEpoch();
    m_frameRead.width = width;
    m_frameRead.height = height;
    m_frameRead.read = false;
    m_frameRead.pixels.resize(size_t(width) * size_t(height));
    return true;
}

bool OpenGLDevice::ReadPictureAside(bool wait)
{
    {
        const GLWork work(*this);
        if (!m_frameRead.texture || m_frameRead.read || m_frameRead.failed)
            return m_frameRead.read;
        if (m_frameRead.epoch != GetEpoch() || m_lost || !IsMainThread() || !m_contexts.MakeMainCurrent())
            return false;
        // The fence was flushed as it was made: waiting for it queues nothing new.
        const auto sync = static_cast<GLsync>(m_frameRead.sync);
        const GLenum state = glClientWaitSync(sync, 0, wait ? presentWaitLimitNs : 0);
        if (state != GL_ALREADY_SIGNALED && state != GL_CONDITION_SATISFIED) {
            if (wait) {
                DeviceLogPrintf(1, "OpenGL device: the frame read's picture was not drawn in time");
                m_frameRead.failed = true;
            }
            return false;
        }
    }
    // The reader's context queues nothing of the main context's: the driver waits for what is
    // queued already, which the main thread does not add to meanwhile.
    std::unique_lock<std::mutex> lock(m_readerLock);
    if (!m_reader.joinable())
        m_reader = std::thread([this] { ReaderMain(); });
    m_readerJob = {m_frameRead.texture, m_frameRead.width, m_frameRead.height, m_frameRead.pixels.data()};
    m_readerDone = false;
    m_readerWake.notify_all();
    m_readerWake.wait(lock, [this] { return m_readerDone; });
    m_frameRead.read = m_readerRead;
    if (!m_readerRead)
        m_frameRead.failed = true;
    return m_frameRead.read;
}

void OpenGLDevice::ReaderMain()
{
    std::unique_lock<std::mutex> lock(m_readerLock);
    for (;;) {
        m_readerWake.wait(lock, [this] { return m_readerJob.texture || m_readerStop; });
        if (m_readerStop)
            return;
        const ReaderJob job = m_readerJob;
        m_readerJob = ReaderJob();
        lock.unlock();
        bool read = false;
        {
            const ContextScope scope(*this, true);
            if (scope.IsReady()) {
                const GLWork work(*this);
                while (glGetError() != GL_NO_ERROR) {
                }
                // Rows from the top: row 0 of the device's textures is the top row.
                glGetTextureSubImage(
                    job.texture, 0, 0, 0, 0, job.width, job.height, 1, GL_RGBA, GL_UNSIGNED_BYTE,
                    GLsizei(size_t(job.width) * size_t(job.height) * sizeof(Pixel)), job.pixels);
                read = glGetError() == GL_NO_ERROR;
            }
        }
        lock.lock();
        m_readerRead = read;
        m_readerDone = true;
        m_readerWake.notify_all();
    }
}

void OpenGLDevice::StopReader()
{
    {
        std::lock_guard<std::mutex> lock(m_readerLock);
        m_readerStop = true;
        m_readerWake.notify_all();
    }
    if (m_reader.joinable())
        m_reader.join();
}

RenderFrameRead OpenGLDevice::CollectFrameRead(Pixel* pixels, int width, int height, bool wait)
{
    const char* refused = !IsMainThread()        ? "off the device's main thread"
                          : !m_frameRead.texture ? "no read is pending"
                          : !pixels || width != m_frameRead.width || height != m_frameRead.height
                              ? "not the size of the read pending"
                              : nullptr;
    if (refused) {
        DeviceLogPrintf(1, "OpenGL device: CollectFrameRead(%d, %d) refused (%s)", width, height, refused);
        return RENDER_READ_FAILED;
    }
    // Read aside by an EndFrame since the request, or now once it is drawn.
    if (!m_frameRead.read && !m_frameRead.failed && !ReadPictureAside(wait) && !m_frameRead.failed && !wait &&
        m_frameRead.epoch == GetEpoch() && !m_lost)
        return RENDER_READ_PENDING;
    const bool read = m_frameRead.read;
    if (read)
        std::copy(m_frameRead.pixels.begin(), m_frameRead.pixels.end(), pixels);
    else
        DeviceLogPrintf(1, "OpenGL device: CollectFrameRead: the frame could not be read (%s)",
                        m_frameRead.epoch != GetEpoch() || m_lost ? "the context was lost"
                                                                  : "the driver failed");
    EndFrameRead();
    return read ? RENDER_READ_DONE : RENDER_READ_FAILED;
}

void OpenGLDevice::EndFrameRead()
{
    const GLWork work(*this);
    if (!m_frameRead.texture)
        return;
    const bool current = m_frameRead.epoch == GetEpoch() && m_contexts.IsOpen() && m_contexts.IsMainCurrent();
    if (current && m_frameRead.sync)
        glDeleteSync(static_cast<GLsync>(m_frameRead.sync));
    // The picture's texture is the next read's spare.
    DeleteFrameReadSpare();
    if (current) {
        m_frameReadSpare.name = m_frameRead.texture;
        m_frameReadSpare.epoch = m_frameRead.epoch;
        m_frameReadSpare.width = m_frameRead.width;
        m_frameReadSpare.height = m_frameRead.height;
        m_frameReadSpare.bytes = m_frameRead.bytes;
    } else {
        RemoveBytes(m_frameRead.bytes);
    }
    m_frameRead = FrameRead();
}

void OpenGLDevice::DeleteFrameReadSpare()
{
    const GLWork work(*this);
    if (!m_frameReadSpare.name)
        return;
    ForgetFramebuffersWith(m_frameReadSpare.name);
    DeleteGLTexture(m_frameReadSpare.name, m_frameReadSpare.epoch);
    RemoveBytes(m_frameReadSpare.bytes);
    m_frameReadSpare = Picture();
}

// ---------------------------------------------------------------------------------------------
// Registry and retirement

void OpenGLDevice::Register(const void* object, ResourceKind kind, uint64_t bytes)
{
    std::lock_guard<std::mutex> lock(m_registryLock);
    m_objects[object] = kind;
    if (kind == ResourceKind::Surface)
        m_surfaces.push_back(static_cast<OpenGLSurface*>(
            const_cast<RenderSurface*>(static_cast<const RenderSurface*>(object))));
    if (kind == ResourceKind::VertexDeclaration) {
        ++m_declarationCount;
        m_declarations.push_back(static_cast<OpenGLVertexDeclaration*>(
            const_cast<RenderVertexDeclaration*>(static_cast<const RenderVertexDeclaration*>(object))));
    }
    AddBytes(bytes);
}

bool OpenGLDevice::Unregister(const void* object, ResourceKind kind, const char* operation)
{
    std::lock_guard<std::mutex> lock(m_registryLock);
    auto it = m_objects.find(object);
    if (it == m_objects.end() || it->second != kind) {
        DeviceLogPrintf(1, "OpenGL device: %s: not a live object of the device (destroyed twice?)",
                        operation);
        return false;
    }
    if (kind == ResourceKind::Surface) {
        // The colour texture a surface owns goes with it.
        const auto* surface = static_cast<const OpenGLSurface*>(static_cast<const RenderSurface*>(object));
        if (surface->OwnsColor() && surface->GetColor())
            m_objects.erase(static_cast<const RenderTexture*>(surface->GetColor()));
    }
    if (kind == ResourceKind::Texture) {
        // Textures that a surface owns are destroyed with the surface only.
        for (const OpenGLSurface* surface : m_surfaces)
            if (surface->OwnsColor() &&
                static_cast<const void*>(static_cast<const RenderTexture*>(surface->GetColor())) == object) {
                DeviceLogPrintf(1, "OpenGL device: %s: the texture belongs to a surface", operation);
                return false;
            }
    }
    m_objects.erase(it);
    if (kind == ResourceKind::Surface)
        ForgetLiveSurface(object);
    if (kind == ResourceKind::VertexDeclaration) {
        --m_declarationCount;
        const auto* declaration =
            static_cast<const OpenGLVertexDeclaration*>(static_cast<const RenderVertexDeclaration*>(object));
        m_declarations.erase(std::remove(m_declarations.begin(), m_declarations.end(), declaration),
                             m_declarations.end());
    }
    return true;
}

void OpenGLDevice::ForgetLiveSurface(const void* object)
{
    const auto* surface = static_cast<const OpenGLSurface*>(static_cast<const RenderSurface*>(object));
    m_surfaces.erase(std::remove(m_surfaces.begin(), m_surfaces.end(), surface), m_surfaces.end());
}

template <class T> void OpenGLDevice::DestroyHeld(T** holder, ResourceKind kind, const char* operation)
{
    if (!holder)
        return;
    T* object = *holder;
    *holder = nullptr;
    if (object && Unregister(object, kind, operation))
        Retire(kind, object);
}

template void OpenGLDevice::DestroyHeld(RenderSurface**, ResourceKind, const char*);
template void OpenGLDevice::DestroyHeld(RenderTexture**, ResourceKind, const char*);
template void OpenGLDevice::DestroyHeld(RenderVertexBuffer**, ResourceKind, const char*);
template void OpenGLDevice::DestroyHeld(RenderIndexBuffer**, ResourceKind, const char*);
template void OpenGLDevice::DestroyHeld(RenderDynamicVertexBuffer**, ResourceKind, const char*);
template void OpenGLDevice::DestroyHeld(RenderDynamicIndexBuffer**, ResourceKind, const char*);
template void OpenGLDevice::DestroyHeld(RenderVertexDeclaration**, ResourceKind, const char*);
template void OpenGLDevice::DestroyHeld(RenderVertexShader**, ResourceKind, const char*);
template void OpenGLDevice::DestroyHeld(RenderPixelShader**, ResourceKind, const char*);
template void OpenGLDevice::DestroyHeld(RenderFont**, ResourceKind, const char*);

void OpenGLDevice::Retire(ResourceKind kind, void* object)
{
    if (IsMainThread() && m_contexts.MakeMainCurrent()) {
        DeleteObject(kind, object);
        return;
    }
    std::lock_guard<std::mutex> lock(m_retireLock);
    m_retired.push_back({kind, object});
    m_retiredPending.store(true, std::memory_order_release);
}

void OpenGLDevice::ProcessRetired()
{
    const GLWork work(*this);
    if (!m_retiredPending.load(std::memory_order_acquire))
        return;
    std::vector<Retired> retired;
    std::vector<RetiredName> names;
    {
        std::lock_guard<std::mutex> lock(m_retireLock);
        retired.swap(m_retired);
        names.swap(m_retiredNames);
        m_retiredPending.store(false, std::memory_order_release);
    }
    for (const Retired& entry : retired)
        DeleteObject(entry.kind, entry.object);
    for (const RetiredName& entry : names) {
        if (entry.texture) {
            for (int stage = 0; stage < maxTextureStages; ++stage)
                if (m_applied.textures[stage] == entry.name) {
                    m_applied.textures[stage] = ~0u;
                    m_dirtyStages |= 1u << stage;
                }
            ForgetFramebuffersWith(entry.name);
            DeleteGLTexture(entry.name, entry.epoch);
            continue;
        }
        ForgetBuffer(nullptr, entry.name);
        if (entry.epoch == GetEpoch() && m_contexts.IsMainCurrent()) {
            const GLuint name = entry.name;
            glDeleteBuffers(1, &name);
        }
    }
}

void OpenGLDevice::DeleteGLTexture(uint32_t name, uint32_t epoch)
{
    const GLWork work(*this);
    if (name && epoch == GetEpoch() && m_contexts.IsMainCurrent()) {
        const GLuint texture = name;
        glDeleteTextures(1, &texture);
    }
}

void OpenGLDevice::ForgetFramebuffersWith(uint32_t textureName)
{
    const GLWork work(*this);
    if (!textureName)
        return;
    for (auto it = m_framebuffers.begin(); it != m_framebuffers.end();) {
        const FramebufferKey& key = it->first;
        const bool uses = key.depth == textureName || std::find(std::begin(key.colors), std::end(key.colors),
                                                                textureName) != std::end(key.colors);
        if (uses) {
            if (m_contexts.IsMainCurrent()) {
                const GLuint framebuffer = it->second;
                glDeleteFramebuffers(1, &framebuffer);
            }
            if (m_applied.framebuffer == it->second)
                m_applied.framebuffer = ~0u;
            it = m_framebuffers.erase(it);
            m_dirty |= DIRTY_TARGETS;
        } else {
            ++it;
        }
    }
}

void OpenGLDevice::ForgetTexture(const OpenGLTexture* texture)
{
    for (int stage = 0; stage < maxTextureStages; ++stage) {
        if (m_state.textures[stage] == texture) {
            m_state.textures[stage] = nullptr;
            m_dirtyStages |= 1u << stage;
        }
        if (m_applied.textures[stage] == texture->GetName())
            m_applied.textures[stage] = ~0u;
    }
    ForgetFramebuffersWith(texture->GetName());
    // Surfaces drawing into the texture draw into nothing from now on.
    std::lock_guard<std::mutex> lock(m_registryLock);
    for (OpenGLSurface* surface : m_surfaces)
        if (surface->GetColor() == texture)
            surface->DetachColor();
}

void OpenGLDevice::ForgetBuffer(const void* owner, uint32_t name)
{
    for (Stream& stream : m_state.streams)
        if (owner && stream.owner == owner) {
            stream = Stream();
            m_dirty |= DIRTY_INPUT;
        }
    if (owner && m_state.indices.owner == owner) {
        m_state.indices = Indices();
        m_dirty |= DIRTY_INPUT;
    }
    // Vertex array objects that still hold the buffer would keep it alive under a name that a
    // new buffer may get: they bind afresh.
    std::lock_guard<std::mutex> lock(m_registryLock);
    for (OpenGLVertexDeclaration* declaration : m_declarations) {
        for (OpenGLVertexDeclaration::Binding& binding : declaration->bindings)
            if (binding.buffer == name)
                binding = OpenGLVertexDeclaration::Binding();
        if (declaration->elementBuffer == name)
            declaration->elementBuffer = ~0u;
    }
}

void OpenGLDevice::ForgetSurface(const OpenGLSurface* surface)
{
    for (OpenGLSurface*& target : m_state.targets)
        if (target == surface) {
            target = nullptr;
            m_dirty |= DIRTY_TARGETS;
        }
    if (m_state.depthTarget == surface) {
        m_state.depthTarget = nullptr;
        m_dirty |= DIRTY_TARGETS;
    }
    if (m_primary == surface)
        m_primary = nullptr;
}

template <class Buffer, class Interface>
void OpenGLDevice::DeleteBuffer(void* object, bool gl, uint32_t epoch)
{
    const GLWork work(*this);
    // The registry and the bindings know the buffer by its interface pointer.
    auto* buffer = static_cast<Buffer*>(static_cast<Interface*>(object));
    const auto& store = buffer->GetStore();
    ForgetBuffer(static_cast<const Interface*>(buffer), store.GetName());
    if constexpr (std::is_same_v<std::decay_t<decltype(store)>, StaticBufferStore>) {
        DeleteFence(store.GetFence());
        if (gl && store.GetEpoch() == epoch) {
            const GLuint name = store.GetName();
            glDeleteBuffers(1, &name);
        }
    } else {
        // A streaming buffer's two stores, and the fences on them.
        for (int i = 0; i < 2; ++i) {
            const GLuint name = store.GetNames()[i];
            if (name && name != store.GetName())
                ForgetBuffer(nullptr, name);
            if (gl && store.GetEpoch() == epoch) {
                if (store.GetFences()[i])
                    glDeleteSync(static_cast<GLsync>(store.GetFences()[i]));
                if (name)
                    glDeleteBuffers(1, &name);
            }
        }
    }
    RemoveBytes(store.GetBytes());
    delete buffer;
}

template <class Program>
void OpenGLDevice::DeleteProgram(void* object, Program*& set, uint32_t& applied, bool gl, uint32_t epoch)
{
    const GLWork work(*this);
    auto* program = static_cast<Program*>(static_cast<typename Program::Interface*>(object));
    if (set == program) {
        set = nullptr;
        m_dirty |= DIRTY_PROGRAMS;
    }
    if (applied == program->object.name)
        applied = ~0u;
    DeleteFence(program->fence);
    if (gl && program->object.epoch == epoch)
        glDeleteProgram(program->object.name);
    if constexpr (std::is_same_v<Program, OpenGLPixelProgram>) {
        if (program->untested.name && applied == program->untested.name)
            applied = ~0u;
        if (gl && program->untested.name && program->untested.epoch == epoch)
            glDeleteProgram(program->untested.name);
    }
    delete program;
}

void OpenGLDevice::DeleteObject(ResourceKind kind, void* object)
{
    const GLWork work(*this);
    const bool gl = m_contexts.IsMainCurrent();
    const uint32_t epoch = GetEpoch();
    switch (kind) {
    case ResourceKind::Surface: {
        auto* surface = static_cast<OpenGLSurface*>(static_cast<RenderSurface*>(object));
        ForgetSurface(surface);
        DeleteFence(surface->GetFence());
        uint64_t bytes = surface->GetDepthBytes();
        if (OpenGLTexture* color = surface->OwnsColor() ? surface->GetColor() : nullptr) {
            ForgetTexture(color);
            DeleteFence(color->GetFence());
            DeleteGLTexture(color->GetName(), color->GetEpoch());
            bytes += color->GetBytes();
            delete color;
        } else if (surface->GetColor()) {
            ForgetFramebuffersWith(surface->GetColor()->GetName());
        }
        if (surface->GetDepthName()) {
            ForgetFramebuffersWith(surface->GetDepthName());
            DeleteGLTexture(surface->GetDepthName(), surface->GetDepthEpoch());
        }
        if (const uint32_t multisample = surface->GetMultisampleColorName()) {
            ForgetFramebuffersWith(multisample);
            DeleteGLTexture(multisample, surface->GetDepthEpoch());
            bytes += surface->GetMultisampleBytes();
        }
        RemoveBytes(bytes);
        delete surface;
        return;
    }
    case ResourceKind::Texture: {
        auto* texture = static_cast<OpenGLTexture*>(static_cast<RenderTexture*>(object));
        ForgetTexture(texture);
        DeleteFence(texture->GetFence());
        DeleteGLTexture(texture->GetName(), texture->GetEpoch());
        RemoveBytes(texture->GetBytes());
        delete texture;
        return;
    }
    case ResourceKind::VertexBuffer:
        DeleteBuffer<OpenGLVertexBuffer, RenderVertexBuffer>(object, gl, epoch);
        return;
    case ResourceKind::IndexBuffer:
        DeleteBuffer<OpenGLIndexBuffer, RenderIndexBuffer>(object, gl, epoch);
        return;
    case ResourceKind::DynamicVertexBuffer:
        DeleteBuffer<OpenGLDynamicVertexBuffer, RenderDynamicVertexBuffer>(object, gl, epoch);
        return;
    case ResourceKind::DynamicIndexBuffer:
        DeleteBuffer<OpenGLDynamicIndexBuffer, RenderDynamicIndexBuffer>(object, gl, epoch);
        return;
    case ResourceKind::VertexDeclaration: {
        auto* declaration =
            static_cast<OpenGLVertexDeclaration*>(static_cast<RenderVertexDeclaration*>(object));
        if (m_state.declaration == declaration) {
            m_state.declaration = nullptr;
            m_dirty |= DIRTY_INPUT;
        }
        if (m_applied.vertexArray == declaration->vertexArray)
            m_applied.vertexArray = ~0u;
        if (gl && declaration->vertexArray && declaration->vertexArrayEpoch == epoch) {
            const GLuint vao = declaration->vertexArray;
            glDeleteVertexArrays(1, &vao);
        }
        delete declaration;
        return;
    }
    case ResourceKind::VertexProgram:
        DeleteProgram(object, m_state.vertexProgram, m_applied.vertexProgram, gl, epoch);
        return;
    case ResourceKind::PixelProgram:
        DeleteProgram(object, m_state.pixelProgram, m_applied.pixelProgram, gl, epoch);
        return;
    case ResourceKind::Font: {
        auto* font = static_cast<OpenGLFont*>(static_cast<RenderFont*>(object));
        font->ReleaseTextures(gl && font->GetEpoch() == epoch);
        delete font;
        return;
    }
    }
}

void OpenGLDevice::LogOncePerFrame(int reason, const char* format, ...)
{
    if (reason < 0 || reason >= LOG_REASON_COUNT || m_loggedFrame[reason] == m_frameIndex)
        return;
    m_loggedFrame[reason] = m_frameIndex;
    char buffer[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof(buffer), format, args);
    va_end(args);
    DeviceLogPrintf(1, "%s", buffer);
}

} // namespace GAME::OpenGL
