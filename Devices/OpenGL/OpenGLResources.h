// The resource classes of the OpenGL device: textures, surfaces, static and streaming vertex and
// index buffers, vertex declarations and vertex and pixel programs. Each holds the name of its GL
// object (GL names are kept as plain integers here; no GL header leaves the .cpp files) and the
// context epoch it was made in: after a lost context is rebuilt, objects of an older epoch are
// dead and the device refuses to bind them.
//
// Only OpenGLDevice creates and destroys them. Textures and static buffers may be created, filled
// (Lock/Unlock) and destroyed on any thread; each guards its lock state with a mutex of its own,
// and the GL work of another thread runs on a worker context (see OpenGLContext.h), which leaves a
// fence (WorkerFence) on what it made or filled for the next context that uses it to wait for.
// A texture's or static buffer's GL name may change when another thread fills it again (its new
// content in a GL object of its own, the old one left to the draws queued with it): it changes
// under the GL lock only, and is read afresh wherever it is bound.
// Streaming buffers, surfaces and fonts are used on the main thread. The fields marked "main
// thread" are the device's bookkeeping of what the main context has bound.
#pragma once

#include "graphics/RenderDynamicIndexBuffer.h"
#include "graphics/RenderDynamicVertexBuffer.h"
#include "graphics/RenderIndexBuffer.h"
#include "graphics/RenderPixelShader.h"
#include "graphics/RenderSurface.h"
#include "graphics/RenderTexture.h"
#include "graphics/RenderTypes.h"
#include "graphics/RenderVertexBuffer.h"
#include "graphics/RenderVertexDeclaration.h"
#include "graphics/RenderVertexShader.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace GAME::OpenGL {

class OpenGLDevice;

constexpr int maxStreams = 16;
constexpr int maxAttributes = 16; // vertex element usage codes 0 to 14 are the locations

// One vertex of the built-in screen-space drawing (quads, fans, text).
struct ScreenVertex
{
    float x, y, z;  // screen pixels and depth
    uint32_t color; // 0xAARRGGBB
    float u, v;
};

// The fence after the GL commands a worker context issued on an object (its creation, an upload):
// whichever context uses the object next waits for it first (OpenGLDevice::AwaitWorkerWrites).
// Null when no such commands can be outstanding. And the main context's last command that used the
// object, which a worker's later write into it waits for (OpenGLDevice::OrderAfterMainUses). Read
// and written under the device's GL lock only.
struct WorkerFence
{
    void* sync = nullptr;
    uint32_t epoch = 0;   // of the contexts it was made in
    uint64_t mainUse = 0; // OpenGLDevice's count of main-context commands then; 0: none
};

enum class TextureKind : uint8_t
{
    Color,      // 32-bit colour, lockable
    Compressed, // DXT blocks as the file had them
    Target,     // a render-target format other than 32-bit colour (float, 16-bit, signed)
    Depth,
};

class OpenGLTexture final : public RenderTexture
{
public:
    OpenGLTexture(OpenGLDevice& device, uint32_t name, uint32_t epoch, TextureKind kind,
                  RenderTextureFormat format, int width, int height, int levels, uint64_t bytes,
                  bool dynamic);
    OpenGLTexture(const OpenGLTexture&) = delete;
    OpenGLTexture& operator=(const OpenGLTexture&) = delete;

    int GetWidth() const override { return m_width; }
    int GetHeight() const override { return m_height; }
    RenderTextureFormat GetFormat() const override { return m_format; }
    int GetLevelCount() const override { return m_levels; }
    unsigned int GetMemoryUsage() const override;
    // 32-bit colour textures only: the top level as packed texels (bytes blue, green, red, alpha),
    // read back from the texture; Unlock uploads it and rebuilds the smaller levels. A draw of the
    // main thread finds the old texels or the new ones, whole, whichever thread unlocks: off the
    // main thread the chain goes up in bands into a second texture of the same size, made for the
    // purpose, which either is copied over (with the fence) in one hold of the GL lock, or, while
    // the main context has draws of the texture not yet behind its fence, takes its place (see
    // FillAgain in OpenGLResources.cpp).
    void* Lock(int& pitch) override;
    void Unlock() override;

    // Read under the GL lock, or where no other thread can fill the texture (its lock state held).
    uint32_t GetName() const { return m_name.load(std::memory_order_relaxed); }
    // Under the GL lock, off the main thread: the texture's content is now the GL texture given;
    // the old name is returned, for the main thread to delete once its draws are done with it.
    uint32_t TakeName(uint32_t name) { return m_name.exchange(name, std::memory_order_relaxed); }
    uint32_t GetEpoch() const { return m_epoch; }
    TextureKind GetKind() const { return m_kind; }
    bool IsRenderable() const { return m_kind == TextureKind::Color || m_kind == TextureKind::Target; }
    uint64_t GetBytes() const { return m_bytes; }
    bool IsLocked() const;
    // Under the GL lock.
    WorkerFence& GetFence() const { return m_fence; }

private:
    OpenGLDevice& m_device;
    mutable WorkerFence m_fence;
    std::atomic<uint32_t> m_name;
    const uint32_t m_epoch;
    const TextureKind m_kind;
    const RenderTextureFormat m_format;
    const int m_width;
    const int m_height;
    const int m_levels;
    const uint64_t m_bytes;
    const bool m_dynamic;

    mutable std::mutex m_lockState;
    bool m_locked = false;
    std::vector<uint32_t> m_staging; // kept between locks for dynamic textures
};

class OpenGLSurface final : public RenderSurface
{
public:
    // color may be null (depth only); depthName 0 without depth.
    OpenGLSurface(OpenGLDevice& device, int width, int height, OpenGLTexture* color, bool ownsColor,
                  bool primary, uint32_t depthName, RenderTextureFormat depthFormat, uint64_t depthBytes);
    ~OpenGLSurface() override;
    OpenGLSurface(const OpenGLSurface&) = delete;
    OpenGLSurface& operator=(const OpenGLSurface&) = delete;

    RenderTexture* GetTexture() const override;
    int GetWidth() const override { return m_width; }
    int GetHeight() const override { return m_height; }
    bool CopyToTexture(RenderTexture* destination, const Rect& sourceRect) override;

    bool IsPrimary() const { return m_primary; }
    bool OwnsColor() const { return m_ownsColor; }
    OpenGLTexture* GetColor() const { return m_color; }
    uint32_t GetColorName() const;
    uint32_t GetDepthName() const { return m_depthName; }
    uint32_t GetDepthEpoch() const { return m_depthEpoch; }
    RenderTextureFormat GetDepthFormat() const { return m_depthFormat; }
    uint64_t GetDepthBytes() const { return m_depthBytes; }
    // The texture drawn into is gone: the surface keeps drawing into nothing.
    void DetachColor();
    // Primary surface only: new attachments of a new size (the old ones are the caller's to free).
    void Replace(int width, int height, OpenGLTexture* color, uint32_t depthName, uint64_t depthBytes);

    // Anti-aliased primary surface: drawing goes into a multisampled colour texture (and the depth
    // texture is multisampled alike); the colour texture receives the resolved picture whenever it
    // is read (presenting, read-back, copies). samples 0: none (the colour texture is drawn into).
    void SetMultisample(uint32_t colorName, int samples, uint64_t bytes);
    int GetSamples() const { return m_samples; }
    uint32_t GetMultisampleColorName() const { return m_samples ? m_msColor : 0; }
    uint64_t GetMultisampleBytes() const { return m_samples ? m_msBytes : 0; }
    // The texture draws go into: the multisampled one when there is one.
    uint32_t GetDrawColorName() const;
    // Drawn into since the last resolve.
    bool NeedsResolve() const { return m_samples && m_drawnSinceResolve; }
    void SetDrawnSinceResolve(bool drawn) { m_drawnSinceResolve = drawn; }
    // The attachments the surface made itself (under the GL lock).
    WorkerFence& GetFence() const { return m_fence; }

private:
    OpenGLDevice& m_device;
    mutable WorkerFence m_fence;
    int m_width;
    int m_height;
    OpenGLTexture* m_color;
    bool m_ownsColor;
    const bool m_primary;
    uint32_t m_depthName;
    uint32_t m_depthEpoch;
    const RenderTextureFormat m_depthFormat;
    uint64_t m_depthBytes;
    uint32_t m_msColor = 0;
    int m_samples = 0;
    uint64_t m_msBytes = 0;
    bool m_drawnSinceResolve = false;
};

// What a static buffer shares between its vertex and index forms.
class StaticBufferStore
{
public:
    StaticBufferStore(OpenGLDevice& device, uint32_t name, uint32_t epoch, unsigned int bytes);
    // The buffer's bytes, read back from it once it has been filled; Unlock uploads them. A draw of
    // the main thread finds the old bytes or the new ones, whole, whichever thread unlocks: off the
    // main thread a buffer of more than one band (uploadBandBytes) goes up in bands into a second
    // buffer, made for the purpose, which is copied over (with the fence) in one hold of the GL
    // lock or takes the buffer's place, as a texture's does.
    void* Lock();
    void Unlock();
    // As OpenGLTexture's.
    uint32_t GetName() const { return m_name.load(std::memory_order_relaxed); }
    uint32_t TakeName(uint32_t name) { return m_name.exchange(name, std::memory_order_relaxed); }
    uint32_t GetEpoch() const { return m_epoch; }
    unsigned int GetBytes() const { return m_bytes; }
    bool IsLocked() const;
    // Under the GL lock.
    WorkerFence& GetFence() const { return m_fence; }

private:
    OpenGLDevice& m_device;
    mutable WorkerFence m_fence;
    std::atomic<uint32_t> m_name;
    const uint32_t m_epoch;
    const unsigned int m_bytes;
    mutable std::mutex m_lockState;
    bool m_locked = false;
    bool m_filled = false; // the buffer holds data a new lock must start from
    std::unique_ptr<uint8_t[]> m_staging;
};

class OpenGLVertexBuffer final : public RenderVertexBuffer
{
public:
    OpenGLVertexBuffer(OpenGLDevice& device, uint32_t name, uint32_t epoch, unsigned int size)
        : m_store(device, name, epoch, size)
    {
    }
    void* Lock() override { return m_store.Lock(); }
    void Unlock() override { m_store.Unlock(); }
    unsigned int GetSize() const override { return m_store.GetBytes(); }
    const StaticBufferStore& GetStore() const { return m_store; }

private:
    StaticBufferStore m_store;
};

class OpenGLIndexBuffer final : public RenderIndexBuffer
{
public:
    OpenGLIndexBuffer(OpenGLDevice& device, uint32_t name, uint32_t epoch, unsigned int numIndices,
                      unsigned int bytesPerIndex)
        : m_store(device, name, epoch, numIndices * bytesPerIndex), m_numIndices(numIndices),
          m_bytesPerIndex(bytesPerIndex)
    {
    }
    void* Lock() override { return m_store.Lock(); }
    void Unlock() override { m_store.Unlock(); }
    unsigned int GetNumIndices() const override { return m_numIndices; }
    unsigned int GetBytesPerIndex() const { return m_bytesPerIndex; }
    const StaticBufferStore& GetStore() const { return m_store; }

private:
    StaticBufferStore m_store;
    const unsigned int m_numIndices;
    const unsigned int m_bytesPerIndex;
};

// The streaming part shared by the dynamic vertex and index buffers: appends fresh space lock by
// lock, and takes another store when the buffer wraps or is discarded, the draws that read the
// old one keeping it. It has two stores of its own and takes them in turn: the one set aside is
// fenced, and taken again as it is once those draws are done, so that the driver makes no new
// store (on a software driver, several megabytes to allocate and give back) at every wrap. Only
// when they are not done yet (a frame that wraps twice) does it ask the driver for a fresh one.
// Main thread.
class StreamStore
{
public:
    StreamStore(OpenGLDevice& device, uint32_t name, uint32_t epoch, unsigned int bytes, unsigned int unit);
    // bytes fresh bytes (a multiple of the unit); null when they do not fit the buffer at all,
    // when the buffer is locked already, or off the main thread.
    void* Lock(unsigned int bytes, const char* operation);
    void Unlock(const char* operation);
    void Discard() { m_discard = true; }
    // The store locks write into now (binds read the last locked space, so they name this one).
    uint32_t GetName() const { return m_names[m_current]; }
    // Both stores' names, the second 0 until the buffer first wraps; and the fences left on them.
    const uint32_t* GetNames() const { return m_names; }
    void* const* GetFences() const { return m_fences; }
    uint32_t GetEpoch() const { return m_epoch; }
    unsigned int GetBytes() const { return m_bytes; }
    unsigned int GetLockedOffset() const { return m_lockedOffset; }

private:
    void TakeOtherStore();

    OpenGLDevice& m_device;
    uint32_t m_names[2];
    void* m_fences[2] = {nullptr, nullptr}; // GLsync: the draws that read a store set aside
    unsigned int m_current = 0;
    const uint32_t m_epoch;
    const unsigned int m_bytes;
    const unsigned int m_unit;
    unsigned int m_cursor = 0;
    unsigned int m_lockedOffset = 0;
    bool m_discard = false;
    bool m_locked = false;
};

class OpenGLDynamicVertexBuffer final : public RenderDynamicVertexBuffer
{
public:
    OpenGLDynamicVertexBuffer(OpenGLDevice& device, uint32_t name, uint32_t epoch, unsigned int size);
    unsigned int GetSize() const override { return m_store.GetBytes(); }
    void Discard() override { m_store.Discard(); }
    void* Lock(unsigned int byteCount) override;
    void Unlock() override;
    void SetAsStream(unsigned int offset, unsigned int stride) override;
    unsigned int GetLockedOffset() const override { return m_store.GetLockedOffset(); }
    const StreamStore& GetStore() const { return m_store; }

private:
    OpenGLDevice& m_device;
    StreamStore m_store;
};

class OpenGLDynamicIndexBuffer final : public RenderDynamicIndexBuffer
{
public:
    // size in bytes; the buffer holds size / 4 indices of 32 bits.
    OpenGLDynamicIndexBuffer(OpenGLDevice& device, uint32_t name, uint32_t epoch, unsigned int size);
    unsigned int GetSize() const override { return m_store.GetBytes() / 4; }
    uint32_t* Lock(unsigned int indexCount) override;
    void Unlock() override;
    void SetAsIndices() override;
    RenderDrawRange GetDrawRange(unsigned int indexCount, unsigned int primitiveCount, int baseVertex,
                                 unsigned int minVertex) const override;
    void Discard() override { m_store.Discard(); }
    unsigned int GetLockedOffset() const override { return m_store.GetLockedOffset() / 4; }
    const StreamStore& GetStore() const { return m_store; }

private:
    OpenGLDevice& m_device;
    StreamStore m_store;
};

// A vertex layout: elements at their usage codes' attribute locations, packed per stream in
// array order. Its vertex array object lives in the main context and is made on first use.
class OpenGLVertexDeclaration final : public RenderVertexDeclaration
{
public:
    OpenGLVertexDeclaration(const VertexElement* elements, int count);
    unsigned int GetStride() const override { return m_strides[0]; }

    // Whether the elements make a layout: 1 to 64 of them, known types, usages below 15, streams
    // below 16, no usage twice.
    static bool IsValid(const VertexElement* elements, int count);

    const std::vector<VertexElement>& GetElements() const { return m_elements; }
    const std::vector<uint32_t>& GetOffsets() const { return m_offsets; }
    unsigned int GetStreamStride(int stream) const { return m_strides[stream]; }
    uint32_t GetStreamMask() const { return m_streamMask; }
    bool HasUsage(uint32_t usage) const { return (m_usageMask >> usage) & 1; }

    // Main thread: the vertex array object and what it has bound.
    struct Binding
    {
        uint32_t buffer = ~0u;
        uint64_t offset = 0;
        uint32_t stride = 0;
    };
    uint32_t vertexArray = 0;
    uint32_t vertexArrayEpoch = 0;
    Binding bindings[maxStreams];
    uint32_t elementBuffer = ~0u;
    uint32_t foreignWrites = 0; // the device's count of other threads' writes when last bound

private:
    std::vector<VertexElement> m_elements;
    std::vector<uint32_t> m_offsets;
    unsigned int m_strides[maxStreams] = {};
    uint32_t m_streamMask = 0;
    uint32_t m_usageMask = 0;
};

// A compiled vertex or pixel program: one separable GL program object.
struct ProgramObject
{
    uint32_t name = 0;
    uint32_t epoch = 0;
    int constantCount = 0;    // registers of vc / pc the program reads (0 when it reads none)
    bool alphaTested = false; // a pixel program ending with the device's alpha test
    // Main thread: what the program's uniforms hold.
    uint64_t constantsStamp = 0;
    uint64_t deviceStamp = ~0ull;
};

class OpenGLVertexProgram final : public RenderVertexShader
{
public:
    using Interface = RenderVertexShader;
    explicit OpenGLVertexProgram(const ProgramObject& program) : object(program) {}
    ProgramObject object;
    WorkerFence fence;
};

// Two GL programs of one pixel program: with the device's alpha test and without it (name 0 when
// it could not be made), for draws whose test passes everything.
class OpenGLPixelProgram final : public RenderPixelShader
{
public:
    using Interface = RenderPixelShader;
    OpenGLPixelProgram(const ProgramObject& tested, const ProgramObject& untested_)
        : object(tested), untested(untested_)
    {
    }
    ProgramObject object;
    ProgramObject untested;
    WorkerFence fence; // of both
};

} // namespace GAME::OpenGL
