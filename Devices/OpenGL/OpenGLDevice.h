// The OpenGL render device of OpenGL.so: the device that draws. OpenGL 4.5 core profile over
// Mesa, headless through EGL's surfaceless platform or on an SDL window (OpenGLContext.h), GL
// entry points through libepoxy. It is the engine's default device ("OpenGL").
//
// Conventions (Direct3D-style, as the library's callers assume them):
// - Clip space has depth 0 to 1 and y up; the screen has y down. glClipControl(GL_UPPER_LEFT,
//   GL_ZERO_TO_ONE) makes row 0 of every framebuffer the top row: pixel (0, 0) is the top left,
//   viewport and scissor rectangles count from the top, ReadFrameBuffer returns rows from the top.
//   The device always draws into framebuffer objects of its own (the primary surface too);
//   presenting on a window copies the primary surface to the window upside down, once.
// - Depth is reversed in clip space (also in the positions the fixed-function path takes) and in
//   the depth buffer: 1 at the near plane, 0 at the far plane (the engine's projections make it
//   so: Camera::GetCameraToClipMatrix), held as floating point (RENDER_FORMAT_D24 is 32-bit float
//   depth with 8 bits of stencil, D32 float depth; D16 stays 16-bit), so that depth keeps its
//   precision far off with a near plane close to the camera. Everything else keeps the
//   interface's way round and is turned here: depth test functions (LESS passes the nearer
//   fragment: GL_GREATER), depth clears (to the far end: 0), the depth of screen drawing (0 near,
//   1 far) and gl_FragCoord.z as pixel programs read it (0 near, 1 far).
// - Texture coordinate v = 0 is the first (top) row of an uploaded image, and because rendering
//   also puts the top row at row 0, a texture drawn into is sampled the same way round.
// - Colours are packed alpha-high (0xAARRGGBB, bytes blue, green, red, alpha in memory): vertex
//   colours are fetched as GL_BGRA bytes, textures are uploaded and locked as GL_BGRA bytes,
//   ReadFrameBuffer returns bytes red, green, blue, alpha.
// - Pixel centres lie at half-integer positions: the screen rectangle (x, y, w, h) of DrawQuad and
//   DrawTexturedQuad covers pixels x .. x + w - 1, and texels map one to one onto pixels.
// - Programs follow graphics/ShaderInterface.h: a blob is compiled as version line + prelude +
//   "#define main engine_user_main" + blob + "#undef main" + the device's own main (a pixel
//   program's gl_FragCoord turned round for depth before the blob), into separate program objects
//   joined in one program pipeline. The vertex main adds the clip planes
//   (gl_ClipDistance from the planes set, in clip space; a plane not set keeps every point, and
//   the first is on for every program's draw, so that the driver makes one set of programs whether
//   a plane is set or not), the pixel main the alpha test. Constant
//   registers are device state: they survive program changes and reach each program before it
//   draws. A blob that does not compile or link fails its creation with the compiler's log.
// - Fixed function (a null program): the vertex side takes positions as clip coordinates (no
//   transforms exist in the interface, so they are the identity), the vertex colour (white without
//   one) and texture coordinate 0; the pixel side modulates the colour by texture stage 0 when a
//   texture is bound there. DrawQuad, DrawTexturedQuad, DrawFan and text always use these built-in
//   programs over screen pixels, whatever programs are set, without the clip planes.
// - Texture stage states: selectors 0 and 1 are the U and V addressing (0 wrap, 1 clamp, 2
//   mirror), 3, 4 and 5 the magnification, minification and mip filters (0 linear, 1 point; the
//   mip filter also 2, none); see RenderTypes.h. Other selectors are kept and reported only, as
//   are the values of shader states 18 and 20 to 23, which mean nothing to this device.
// - No face culling (the interface has no cull state); the depth test is on whenever the target
//   has depth; SetTargetSurface and SetRenderTarget at index 0 set the viewport and the scissor
//   rectangle to the whole target, as Direct3D does; Clear clears the viewport within the scissor
//   rectangle and ignores the write masks.
// - Video memory: the driver's figures where it reports them (GL_NVX_gpu_memory_info,
//   GL_ATI_meminfo); otherwise 512 MiB in total, less what the device's objects take.
// - Clear takes RENDER_CLEAR_DEPTH and RENDER_CLEAR_ZBUFFER (0x20) alike for the depth buffer.
//
// Settings (CreatePrimarySurface, ResetDevice, SetFullScreen):
// - Full screen (flag bit 0) applies on a window only: the window takes the display mode closest
//   to the settings' size and SDL's full-screen state; clearing the bit leaves full screen and
//   gives the window back the size it had before. Headless, the bit is kept and means nothing.
// - Sync to refresh (bit 1) is the swap interval of the window; headless it means nothing.
// - Headless, PresentSurface holds frames to one in flight (it waits for the frame before), as a
//   window's swap does; the driver would otherwise queue several frames' drawing for the first read
//   of a picture (a composite, a screenshot) to wait for at once.
// - Triple buffering (bit 2) is the driver's choice: EGL offers no say in the number of buffers
//   behind a window, so the bit is kept and reported only.
// - antiAliasing 1 gives the primary surface multisampled colour and depth (4 samples, or what the
//   driver offers below that; none when it offers fewer than 2). Draws go into the multisampled
//   textures; the picture is resolved into the surface's colour texture when it is presented, read
//   back or copied. A render target of one sample drawn with the primary surface's depth draws
//   without depth (the two cannot make one framebuffer).
//
// The render debugger's draw-call limit and switches (RenderDebugger.h): every draw call of a frame
// is counted (GetNumDrawCalls), also those past the limit; faces count for the draws carried out.
// - Switch 1 on (as the device starts, and whenever the debugger is hidden): draws past the limit
//   are skipped. Off: they are drawn in wireframe, so the rest of the frame stays in outline around
//   what the limit lets through.
// - Switch 2 on: every draw samples plain white in place of its textures (untextured), showing the
//   geometry, the vertex colours and the lighting alone; text keeps its glyphs. Off (as the device
//   starts): textures as set.
//
// Threads: state, drawing, frames, surfaces, streaming buffers, fonts and read-back belong to the
// device's main thread, the one that made the primary surface. Textures, static buffers,
// declarations and programs may be created, filled and destroyed on any thread (the resource
// loader's): such a thread runs its GL work on a worker context that shares the main context's
// objects, and leaves a fence (glFenceSync, flushed) on each object it made or filled; the next
// context to use the object waits for the fence first (glWaitSync, or nothing once it has passed),
// so an object handed to another thread is complete where it is used. Objects destroyed on another
// thread are retired to the main thread, which unbinds and deletes them at its next draw or
// frame; so a pointer the main thread still holds is never reused behind its back. The registry of
// live objects has its own lock.
// The GL calls of the contexts never overlap: every GL call of the device is made under the
// device's GL lock (GLWork, OpenGLLock.h). Contexts that share objects may in principle work at
// once, but Mesa's llvmpipe does not survive it: an upload on one context checks whether the other
// contexts' queued scenes use the resource, reading those scenes while their own thread draws into
// them and frees them (a level loading thread's texture upload during a main-thread draw read freed
// memory). The lock is held around GL calls only, never across processor work: a worker decodes a
// file's levels, expands texels and builds mip levels before it takes the lock, and uploads in
// bands of rows or bytes (uploadBandBytes), one upload call a hold; the main thread, which comes
// first, takes the lock call by call, never across a frame. So the main thread waits for one GL
// call of a worker at most (the longest: a large texture's storage, which the driver clears), and
// a worker goes on between the main thread's calls; but for a texture or a buffer a worker fills
// again, whose new content goes up into a second object and comes over under one hold, so that no
// draw finds it half new (FillAgain in OpenGLResources.cpp; a shorter hold than a texture's
// storage). When the main context's queued draws that used the object are all behind its fence
// (the main thread fences at each frame's end), the content is copied in, waiting on the GPU for
// that fence (OrderAfterMainUses). When some are not (the main thread drew with it in the frame
// still open), the worker does not wait for the main thread, which may be waiting for this very
// worker (a load the frame needs now, a join): the second object takes the object's name, and the
// draws queued keep the old one, which the main thread deletes at its next draw or frame end. Only
// without memory for a second object does a worker wait, outside the GL lock, for the main
// thread's fence after its next draw or frame end; the main thread never waits for such a worker
// without giving the fence first (an object's lock state, a rebuild of the contexts), and should
// it wait for one some other way, the worker goes on after mainFenceWaitMs, ordered after the
// latest fence.
// A frame read (RequestFrameRead) is read on a worker context too, by a reader thread of the
// device's own, while the main thread waits for it without the GL lock: the driver then waits
// only for the drawing queued already, not for the main context's frame binned meanwhile.
// Lock order: a texture's or buffer's lock state, then m_contextGuard (shared by a worker for its
// context scope, whole by a reset), then the GL lock, then the retirement lock, then the registry
// lock; a font's own lock before the GL lock and the font library's lock after it; the worker
// pool's lock (OpenGLContext.h) inside the GL lock; m_mainFenceLock innermost; m_readerLock, held
// by the main thread while the reader works, is taken by the reader outside the others.
//
// A lost context (robust contexts report a reset) makes DeviceLost true and BeginFrame false;
// ResetDevice then builds new contexts. Objects made before are dead: the device refuses to bind
// them (one log line a frame) until their holders destroy and recreate them, as every holder
// does around a reset. A ResetDevice that fails returns false and leaves the device as it was.
#pragma once

#include "DeviceBase.h"
#include "OpenGLContext.h"
#include "OpenGLLock.h"
#include "OpenGLResources.h"

#include "core/Color.h"
#include "core/Plane.h"
#include "core/Rect.h"
#include "core/Vec4.h"
#include "graphics/RenderDevice.h"
#include "graphics/RenderFont.h"

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

namespace GAME::OpenGL {

class OpenGLFont;

using DeviceCommon::constantRegisters;
using DeviceCommon::maxClipPlanes;
using DeviceCommon::maxRenderTargets;
using DeviceCommon::maxTextureStages;
using DeviceCommon::maxTextureStageStates;

enum class ResourceKind : uint8_t
{
    Surface,
    Texture,
    VertexBuffer,
    IndexBuffer,
    DynamicVertexBuffer,
    DynamicIndexBuffer,
    VertexDeclaration,
    VertexProgram,
    PixelProgram,
    Font,
};

class OpenGLDevice final : public DeviceCommon::DeviceBase
{
public:
    static constexpr uint64_t fallbackVideoMemory = 512ull * 1024 * 1024;

    OpenGLDevice();
    // Releases every object still alive and closes the contexts.
    ~OpenGLDevice() override;

    // --- RenderDevice ---
    bool Initialize() override;
    void GetSupportedDisplayModes(std::vector<RenderDisplayMode>& modes) override;
    RenderSurface* CreatePrimarySurface(void* window, const RenderDeviceSettings* settings) override;
    RenderSurface* GetPrimarySurface() const override { return m_primary; }
    RenderSurface* CreateTextureSurface(int width, int height, const RenderTexture* colorTexture,
                                        RenderTextureFormat depthFormat) override;
    RenderSurface* CreateTextureSurface(int width, int height, RenderTextureFormat colorFormat,
                                        RenderTextureFormat depthFormat) override;
    void DestroySurface(RenderSurface** surface) override;
    void UnregisterVertexDeclaration(RenderVertexDeclaration* declaration) override;
    int GetNumVertexDeclarations() const override;
    bool Supports16bitColorWithDepth() const override { return true; }
    void SetTargetSurface(int index, RenderSurface* surface) override;
    void SetRenderTarget(int index, RenderSurface* surface) override;
    void SetDepthTarget(RenderSurface* surface) override;
    const char* GetStatusText() override;
    int GetWidth() const override { return m_settings.width; }
    int GetHeight() const override { return m_settings.height; }
    bool BeginFrame() override;
    void EndFrame() override;
    void PresentSurface(RenderSurface* surface) override;
    void SetViewport(const Viewport& viewport) override;
    const Viewport& GetViewport() const override { return m_state.viewport; }
    void SetScissorRect(const Rect& rect) override;
    void SetClearColor(const Color& color) override { m_clearColor = color; }
    const Color& GetClearColor() const override { return m_clearColor; }
    void Clear(unsigned int flags) override;
    RenderVertexBuffer* CreateVertexBuffer(unsigned int usage, unsigned int size) override;
    void DestroyVertexBuffer(RenderVertexBuffer** buffer) override;
    RenderDynamicVertexBuffer* CreateDynamicVertexBuffer(unsigned int size) override;
    void DestroyDynamicVertexBuffer(RenderDynamicVertexBuffer** buffer) override;
    RenderDynamicIndexBuffer* CreateDynamicIndexBuffer(unsigned int size) override;
    void DestroyDynamicIndexBuffer(RenderDynamicIndexBuffer** buffer) override;
    RenderVertexDeclaration* CreateVertexDeclaration(const VertexElement* elements, int count) override;
    void DestroyVertexDeclaration(RenderVertexDeclaration** declaration) override;
    RenderIndexBuffer* CreateIndexBuffer(unsigned int numIndices, unsigned int bytesPerIndex) override;
    void DestroyIndexBuffer(RenderIndexBuffer** buffer) override;
    RenderVertexShader* CreateVertexShader(const void* code, unsigned int size) override;
    void DestroyVertexShader(RenderVertexShader** shader) override;
    RenderPixelShader* CreatePixelShader(const void* code, unsigned int size) override;
    void DestroyPixelShader(RenderPixelShader** shader) override;
    RenderTexture* CreateTextureFromFile(const void* data, unsigned int size, int reduction) override;
    RenderTexture* CreateTexture(int width, int height, const void* texels, int levelCount,
                                 unsigned int usage) override;
    RenderTexture* CreateTextureFromImage(int width, int height, const void* pixels, int levelCount,
                                          unsigned int usage) override;
    RenderTexture* CreateDynamicTexture(int width, int height, int levelCount, unsigned int usage) override;
    void DestroyTexture(RenderTexture** texture) override;
    RenderFont* CreateFont(const char* name, const void* data, unsigned int size) override;
    void DestroyFont(RenderFont** font) override;
    void SetVertexShader(RenderVertexShader* shader) override;
    void SetVertexShaderConstants(unsigned int firstRegister, const float* data,
                                  unsigned int registerCount) override;
    void SetPixelShader(RenderPixelShader* shader) override;
    void SetPixelShaderConstants(unsigned int firstRegister, const float* data,
                                 unsigned int registerCount) override;
    void SetTexture(int stage, const RenderTexture* texture) override;
    const RenderTexture* GetTexture(int stage) const override;
    void SetClippingPlane(int index, const Plane& plane) override;
    void ClearClippingPlane(int index) override;
    bool GetClippingPlane(int index, Plane& plane) const override;
    void DrawIndexedPrimitive(RenderPrimitiveType type, const RenderDrawRange& range) override;
    void DrawQuad(const Vec3* corners, int count, uint32_t color) override;
    void DrawTexturedQuad(const Rect& rect, const Rect& texCoords, uint32_t color, float depth) override;
    void DrawFan(const Vec3* points, int count, uint32_t color) override;
    void EnableVerticalSync(bool enable) override;
    void EnableWireframe(bool enable) override;
    void SetDepthTestFunction(RenderTestFunction function) override;
    void SetAlphaTestFunction(RenderTestFunction function) override;
    void SetAlphaReference(float reference) override;
    void SetShaderState18(uint32_t value) override { m_shaderState18 = value; }
    void SetColorWriteMode(RenderWriteMode mode) override;
    void SetAlphaWriteMode(RenderWriteMode mode) override;
    void SetDepthWriteMode(RenderWriteMode mode) override;
    void SetShaderState20(uint32_t value) override { m_shaderState20 = value; }
    void SetShaderState21(uint32_t value) override { m_shaderState21 = value; }
    void SetSourceBlend(RenderBlendFactor factor) override;
    RenderBlendFactor GetSourceBlend() const override { return m_state.sourceBlend; }
    void SetDestinationBlend(RenderBlendFactor factor) override;
    RenderBlendFactor GetDestinationBlend() const override { return m_state.destinationBlend; }
    void SetShaderState22(const Vec4& value) override { m_shaderState22 = value; }
    void SetShaderState23(uint32_t value) override { m_shaderState23 = value; }
    void SetTextureStageState(int stage, unsigned int state, uint32_t value) override;
    uint32_t GetTextureStageState(int stage, unsigned int state) const override;
    void SetStreamSource(int stream, RenderVertexBuffer* buffer, unsigned int offset,
                         unsigned int stride) override;
    void SetVertexDeclaration(RenderVertexDeclaration* declaration) override;
    void SetIndices(RenderIndexBuffer* indices) override;
    RenderVertexDeclaration* GetVertexDeclaration() const override { return m_state.declaration; }
    RenderIndexBuffer* GetIndices() const override;
    int GetNumFacesRendered() const override { return m_facesThisFrame; }
    int GetNumDrawCalls() const override { return m_drawCallsThisFrame; }
    void SetDrawCallLimit(int limit) override { m_drawCallLimit = limit < 0 ? -1 : limit; }
    void SetDebugSwitch1(bool on) override { m_debugSwitch1 = on; }
    void SetDebugSwitch2(bool on) override;
    int GetDrawCallLimit() const override { return m_drawCallLimit; }
    unsigned int GetFreeVideoMemory() const override;
    unsigned int GetTotalVideoMemory() const override;
    const char* GetDeviceName() const override { return "OpenGL"; }
    int GetMaxTextureSize() const override { return m_maxTextureSize; }
    RenderGenerationId GetGenerationId() const override { return RENDER_GENERATION_GEFORCE6; }
    bool DeviceLost() override;
    void SetFullScreen(bool fullScreen) override;
    bool ResetDevice(const RenderDeviceSettings& settings) override;
    void SetResolution(int width, int height) override;
    bool ReadFrameBuffer(Pixel* pixels, int width, int height) const override;
    // Of the primary surface only (render target 0 must be it; refused otherwise). The picture's
    // texture is set aside with a fence after its drawing, and the surface draws on into another
    // texture of its own, whose content is undefined until drawn (as a swap chain's back buffer
    // after a present): frames draw the whole primary surface. The next EndFrame waits for the
    // picture's drawing (as the present after it would) and has the device's reader thread read it
    // on a context of its own, before the frame's own drawing is queued; a collect before then reads
    // it itself. The texture set aside then serves the next read. With anti-aliasing the request
    // resolves the picture first, which waits for its drawing on llvmpipe.
    bool RequestFrameRead(int width, int height) override;
    RenderFrameRead CollectFrameRead(Pixel* pixels, int width, int height, bool wait) override;

    // Test hook: the device behaves as after a reset of its context (DeviceLost answers true
    // until ResetDevice builds new contexts).
    void SimulateContextLoss() { m_lost = true; }

    // --- for the resource classes ---

    // Makes a context of the device current on the calling thread for its span: the main context
    // on the main thread, a worker context elsewhere (released at the end). It holds no GL lock:
    // the GL calls in its span take GLWork each (a worker holds the context guard shared, so the
    // contexts are not rebuilt under it).
    class ContextScope
    {
    public:
        // reads: the span only reads objects (the main context need not bind them afresh after it).
        explicit ContextScope(OpenGLDevice& device, bool reads = false);
        ~ContextScope();
        ContextScope(const ContextScope&) = delete;
        ContextScope& operator=(const ContextScope&) = delete;
        bool IsReady() const { return m_ready; }

    private:
        OpenGLDevice& m_device;
        void* m_worker = nullptr;
        bool m_ready = false;
        bool m_shared = false;
        bool m_reads = false;
    };

    // Holds the device's GL lock for its span: a GL call of the current context must not overlap
    // another context's (see Threads above). Re-entrant; the main thread's holds come first.
    class GLWork
    {
    public:
        explicit GLWork(const OpenGLDevice& device) : m_lock(device.m_glLock) { m_lock.Lock(device.IsMainThread()); }
        ~GLWork() { m_lock.Unlock(); }
        GLWork(const GLWork&) = delete;
        GLWork& operator=(const GLWork&) = delete;

    private:
        OpenGLLock& m_lock;
    };

    // The bytes of one upload call: a band of a texture level's rows or of a buffer (at least a
    // row or a row of blocks).
    static constexpr size_t uploadBandBytes = 256 * 1024;

    // Off the main thread: a fence after the calling context's commands so far, flushed so that
    // other contexts can wait for it, in place of the object's older one. The main context's own
    // commands are in order: nothing there. Takes the GL lock.
    void FenceWorkerWrites(WorkerFence& fence);
    // Before the calling context uses an object another context made or filled: the GPU waits
    // for the object's fence (nothing once it has passed; a fence seen passed is deleted). Under
    // the GL lock.
    void AwaitWorkerWrites(WorkerFence& fence);
    // With its object, in the main context (a fence of lost contexts went with them).
    void DeleteFence(WorkerFence& fence);
    // A worker's write into an object the main context may have used (a refill's copy) must come
    // after the main context's queued commands that read or wrote it: the main thread counts its
    // commands (draws, clears, copies) and marks the objects each uses; it fences them at the end
    // of every frame, and after each command while a worker waits for a fence.
    // Main thread, under the GL lock: a command begins; NoteMainUse marks what it uses.
    void BeginMainCommand() { ++m_mainCommands; }
    void NoteMainUse(WorkerFence& fence) const { fence.mainUse = m_mainCommands; }
    // Main thread, under the GL lock: a fence after the commands so far, when a worker waits for one
    // (always: whenever commands came since the last).
    void FenceMainCommands(bool always);
    // Off the main thread, under the GL lock: whether the main context's uses of the object are
    // behind its fence (or its contexts are lost or being rebuilt, and none will come).
    bool MainUsesFenced(const WorkerFence& fence) const;
    // Off the main thread, under the GL lock, before a write into the object in place: the calling
    // context's later commands wait for the main context's fence (glWaitSync) when the main context
    // used the object; the count of main commands that fence covers (0: none waited for). Takes
    // back a request for a fence (asked).
    uint64_t OrderAfterMainUses(const WorkerFence& fence, bool& asked);
    // Off the main thread, under the GL lock: the main thread fences after its next command (asked
    // notes it); the caller lets the GL lock go and calls AwaitMainFence.
    void AskForMainFence(bool& asked);
    // Off the main thread, without the GL lock: until the main context's fence covers its command
    // of that count (its next command or the frame's end), or its contexts are lost or rebuilt;
    // false after mainFenceWaitMs without it (said once), so that a main thread waiting for the
    // worker outside the device never hangs the pair.
    bool AwaitMainFence(uint64_t command);
    static constexpr unsigned mainFenceWaitMs = 2000;
    // Off the main thread, under the GL lock: the object filled again has taken the name of a second
    // object that the calling context filled; its old name (a texture's or a buffer's) goes to the
    // main thread, which deletes it at its next draw or frame, its queued draws done with it; the
    // fence is set after the filling. Takes back a request for a fence (asked).
    void ReplaceFilled(WorkerFence& fence, uint32_t oldName, bool texture, bool& asked);
    // Off the main thread, under the GL lock: an object was filled again in place, after the main
    // context's fence covering that many of its commands (OrderAfterMainUses).
    void NoteFilledInPlace(const WorkerFence& fence, uint64_t covered);
    // How the objects filled again off the main thread went (test hooks, with the GL lock's):
    // in place, and of them after a fence that did not cover the main context's last use (a worker
    // that gave up waiting); by replacing the object; and the waits of workers for the main
    // context's fence outside the GL lock, and of them those given up after mainFenceWaitMs.
    struct RefillFigures
    {
        uint64_t inPlace = 0;
        uint64_t unordered = 0;
        uint64_t replaced = 0;
        uint64_t mainFenceWaits = 0;
        uint64_t mainFenceGiveUps = 0;
    };
    RefillFigures GetRefillFigures() const;
    // Uploads one level of a colour texture (packed texels, rows from the top; null: zeros), of
    // DXT blocks (internal a compressed GL format), or bytes of a buffer, in bands of about
    // uploadBandBytes: one upload call under each hold of the GL lock.
    void UploadTexels(uint32_t name, int level, int width, int height, const uint32_t* texels);
    void UploadBlocks(uint32_t name, int level, int width, int height, uint32_t internal, const uint8_t* data,
                      size_t bytes);
    void UploadBytes(uint32_t buffer, size_t bytes, const void* data);
    // Read-back of level 0 of a colour texture or of a buffer, in bands alike.
    void ReadTexels(uint32_t name, int width, int height, uint32_t* texels);
    void ReadBytes(uint32_t buffer, size_t bytes, void* data);
    // Builds the levels below level 0 of packed texels on the processor and uploads the chain
    // (texels null: zeros in every level).
    void UploadColorChain(uint32_t name, int width, int height, int levels, const uint32_t* texels);
    // The GL lock's figures (test hooks).
    OpenGLLock::Figures GetLockFigures() const { return m_glLock.GetFigures(); }
    void ResetLockFigures();

    bool IsMainThread() const { return std::this_thread::get_id() == m_mainThread.load(); }
    uint32_t GetEpoch() const { return m_epoch.load(std::memory_order_acquire); }
    // Logs at most once a frame for each reason (and once between frames).
    void LogOncePerFrame(int reason, const char* format, ...) __attribute__((format(printf, 3, 4)));

    void BindDynamicStream(const OpenGLDynamicVertexBuffer& buffer, uint64_t offset, unsigned int stride);
    void BindDynamicIndices(const OpenGLDynamicIndexBuffer& buffer);
    bool CopySurfaceToTexture(OpenGLSurface& source, RenderTexture* destination, const Rect& sourceRect);
    // Draws screen-space triangles (mode: a GL primitive) with the built-in programs. texture 0
    // draws untextured; text draws alpha-blended without depth, with its own sampling.
    void DrawScreen(const ScreenVertex* vertices, int count, uint32_t mode, uint32_t texture, bool text,
                    bool linear, int faces, const char* operation);
    // Whether drawing is possible now (inside a frame, on the main thread); logs once a frame when not.
    bool CanDraw(const char* operation);
    // The start of every draw: CanDraw, and the limit's flags of the draw before are dropped.
    bool BeginDraw(const char* operation);
    // Asked once the draw's arguments are accepted, before its state is applied: whether it is past
    // the frame's draw call limit. Past it, it is drawn in outline while debug switch 1 is off and
    // not at all while it is on. One rule under and past the limit: a draw the device refuses (its
    // arguments, or the state it would draw with) is no draw call of the frame, and every other
    // draw is one.
    bool PastDrawCallLimit();
    // Counts a draw that was not refused; its faces only when it is under the limit.
    void CountDraw(uint64_t faces);
    // Memory bookkeeping of the device's objects.
    void AddBytes(uint64_t bytes) { m_resourceBytes.fetch_add(bytes, std::memory_order_relaxed); }
    void RemoveBytes(uint64_t bytes) { m_resourceBytes.fetch_sub(bytes, std::memory_order_relaxed); }
    // A thread other than the main one changed the contents of an object: the main context binds
    // its objects afresh before the next draw.
    void NoteForeignWrite() { m_foreignWrites.fetch_add(1, std::memory_order_release); }
    void* GetFontLibrary() const { return m_fontLibrary; }
    std::mutex& GetFontLibraryLock() { return m_fontLibraryLock; }
    bool HasS3tc() const { return m_hasS3tc; }

    // Reasons of LogOncePerFrame.
    enum LogReason
    {
        LOG_NO_FRAME,
        LOG_NO_VERTICES,
        LOG_NO_INDICES,
        LOG_BAD_RANGE,
        LOG_DEAD_OBJECT,
        LOG_NOT_MAIN_THREAD,
        LOG_LOCK,
        LOG_NO_TARGET,
        LOG_REASON_COUNT,
    };

private:
    struct Stream
    {
        const void* owner = nullptr; // the static or dynamic buffer
        WorkerFence* fence = nullptr; // a static buffer's
        const StaticBufferStore* store = nullptr; // a static buffer's, whose name is read as it is bound
        uint32_t buffer = 0;
        uint32_t epoch = 0;
        uint64_t offset = 0;
        uint32_t stride = 0;
        uint64_t bytes = 0;
    };
    struct Indices
    {
        const void* owner = nullptr;
        WorkerFence* fence = nullptr; // a static buffer's
        const StaticBufferStore* store = nullptr;
        bool isStatic = false;
        uint32_t buffer = 0;
        uint32_t epoch = 0;
        uint32_t bytesPerIndex = 0;
        uint64_t capacity = 0; // indices
    };
    // The state the library set; the device applies it to GL before a draw. Not the software
    // device's RenderState: that one records the calls for tests, this one holds GL objects to apply.
    struct State
    {
        OpenGLSurface* targets[maxRenderTargets] = {};
        OpenGLSurface* depthTarget = nullptr;
        Viewport viewport;
        Rect scissor;
        RenderBlendFactor sourceBlend = RENDER_BLEND_ONE;
        RenderBlendFactor destinationBlend = RENDER_BLEND_ZERO;
        RenderTestFunction depthTest = RENDER_TEST_LESS_EQUAL;
        RenderTestFunction alphaTest = RENDER_TEST_ALWAYS;
        float alphaReference = 0.0f;
        bool colorWrite = true;
        bool alphaWrite = true;
        bool depthWrite = true;
        bool wireframe = false;
        const OpenGLTexture* textures[maxTextureStages] = {};
        uint32_t stageStates[maxTextureStages][maxTextureStageStates] = {};
        OpenGLVertexProgram* vertexProgram = nullptr;
        OpenGLPixelProgram* pixelProgram = nullptr;
        OpenGLVertexDeclaration* declaration = nullptr;
        Stream streams[maxStreams];
        Indices indices;
        Plane clipPlanes[maxClipPlanes];
        uint32_t clipMask = 0;
    };
    // What the main context has, as far as the device knows (~0: not known).
    struct Applied
    {
        uint32_t framebuffer = ~0u;
        int viewport[4] = {-1, -1, -1, -1};
        int scissor[4] = {-1, -1, -1, -1};
        int blendEnabled = -1;
        uint32_t blendSource = ~0u;
        uint32_t blendDestination = ~0u;
        uint32_t depthFunction = ~0u;
        int depthMask = -1;
        int colorMask = -1;
        int wireframe = -1;
        uint32_t clipEnables = ~0u;
        uint32_t textures[maxTextureStages];
        uint32_t samplers[maxTextureStages];
        uint32_t vertexProgram = ~0u;
        uint32_t pixelProgram = ~0u;
        uint32_t vertexArray = ~0u;
        Applied();
    };
    enum : uint32_t
    {
        DIRTY_TARGETS = 1u << 0,
        DIRTY_VIEWPORT = 1u << 1,
        DIRTY_SCISSOR = 1u << 2,
        DIRTY_BLEND = 1u << 3,
        DIRTY_DEPTH = 1u << 4,
        DIRTY_MASKS = 1u << 5,
        DIRTY_RASTER = 1u << 6,
        DIRTY_CLIP = 1u << 7,
        DIRTY_PROGRAMS = 1u << 8,
        DIRTY_INPUT = 1u << 9,
        DIRTY_ALL = 0x3FFu,
    };
    struct FramebufferKey
    {
        uint32_t colors[maxRenderTargets] = {};
        uint32_t depth = 0;
        uint32_t depthHasStencil = 0;
        bool operator<(const FramebufferKey& o) const;
    };
    struct Retired
    {
        ResourceKind kind;
        void* object;
    };
    // A GL name an object filled again off the main thread let go (ReplaceFilled).
    struct RetiredName
    {
        bool texture;
        uint32_t name;
        uint32_t epoch;
    };

    // Context and device objects.
    bool OpenContexts(void* window, std::string& error);
    void CloseContexts();
    bool CreateBuiltIns(std::string& error);
    void DeleteBuiltIns();
    void QueryCapabilities();
    void ResetAppliedState();
    bool IsValidSettings(const RenderDeviceSettings& settings, const char* operation) const;
    // The attachments of a primary surface of the size: a colour texture, a depth texture (none for
    // depth format None), and with samples above 1 a multisampled colour texture, the depth
    // texture multisampled alike.
    struct PrimaryAttachments
    {
        OpenGLTexture* color = nullptr;
        uint32_t depthName = 0;
        uint64_t depthBytes = 0;
        uint32_t multisampleName = 0;
        uint64_t multisampleBytes = 0;
        int samples = 0;
    };
    bool MakePrimaryAttachments(int width, int height, RenderTextureFormat depthFormat, int samples,
                                PrimaryAttachments& made);
    // The samples of the primary surface for the settings' anti-aliasing.
    int PrimarySamples(const RenderDeviceSettings& settings);
    // Into the surface's colour texture, when the multisampled picture changed since.
    void Resolve(OpenGLSurface& surface);
    // The window's full-screen state for the settings (window only; main thread).
    void ApplyWindowMode(const RenderDeviceSettings& settings);
    bool MakeTargetTexture(int width, int height, RenderTextureFormat format, uint32_t& name, uint64_t& bytes,
                           TextureKind& kind, int samples = 0);

    // Registry and retirement.
    void Register(const void* object, ResourceKind kind, uint64_t bytes);
    // Takes the object out of the registry; false when it is not a live object of the kind.
    bool Unregister(const void* object, ResourceKind kind, const char* operation);
    // Under the registry lock: a surface leaves m_surfaces.
    void ForgetLiveSurface(const void* object);
    // Takes the object from its holder (nulled) and, when it is a live object of the kind, retires it.
    template <class T> void DestroyHeld(T** holder, ResourceKind kind, const char* operation);
    // Destroys now on the main thread, or hands the object to the main thread.
    void Retire(ResourceKind kind, void* object);
    void ProcessRetired();
    void DeleteObject(ResourceKind kind, void* object);
    // The parts of DeleteObject that the four buffer kinds and the two program kinds share.
    template <class Buffer, class Interface> void DeleteBuffer(void* object, bool gl, uint32_t epoch);
    template <class Program>
    void DeleteProgram(void* object, Program*& set, uint32_t& applied, bool gl, uint32_t epoch);
    // Drops every binding and cached use of the GL names about to be deleted.
    void ForgetTexture(const OpenGLTexture* texture);
    void ForgetBuffer(const void* owner, uint32_t name);
    void ForgetSurface(const OpenGLSurface* surface);
    void ForgetFramebuffersWith(uint32_t textureName);
    void DeleteGLTexture(uint32_t name, uint32_t epoch);
    // The GL name of a static buffer bound (a stream's or the indices'): read as it is bound, a
    // worker's refill may have replaced it.
    template <class Input> static uint32_t BoundName(const Input& input)
    {
        return input.store ? input.store->GetName() : input.buffer;
    }

    // Buffers: a GL buffer of the bytes (usage a GL usage), made into the device's object.
    template <class Buffer, class Interface, class... Sizes>
    Interface* CreateBuffer(ResourceKind kind, unsigned int bytes, uint32_t usage, const char* what,
                            Sizes... sizes);

    // Textures.
    OpenGLTexture* MakeColorTexture(int width, int height, const void* texels, int levelCount, bool dynamic,
                                    const char* operation);
    template <class Program>
    Program* CreateProgram(const void* code, unsigned int size, bool vertex, ResourceKind kind,
                           const char* operation);

    // Applying state, under the GL lock their callers (the draws, Clear, ReadFrameBuffer, Resolve)
    // hold.
    // Applies the state for a draw; false refuses the draw (logged once a frame).
    bool PrepareDraw(bool screen, bool textured, bool text);
    void ApplyTargets();
    uint32_t GetFramebuffer(const FramebufferKey& key);
    void ApplyViewportAndScissor();
    void ApplyBlendDepthMasks(bool text);
    void ApplyTextures(bool text);
    uint32_t GetSampler(const uint32_t* stageStates);
    bool ApplyPrograms(bool screen, bool textured);
    void SyncConstants(ProgramObject& program, bool vertex);
    bool ApplyVertexInput();
    void SetTargetSize(const OpenGLSurface* surface);
    // Main thread, without the GL lock: the picture of the frame read under way into its pixels,
    // by the reader thread, once its fence has passed (wait: waiting for it, without queueing what
    // the main context has not); whether its pixels are in.
    bool ReadPictureAside(bool wait = false);
    void ReaderMain();
    void StopReader();
    // The frame read under way, if any, is over: its fence goes, and its texture is kept as the
    // next read's spare (with the contexts it was made in, when those are gone).
    void EndFrameRead();
    void DeleteFrameReadSpare();
    // AwaitWorkerWrites for what the surface made and the texture it draws into.
    void AwaitSurface(const OpenGLSurface* surface);
    // NoteMainUse for the textures the render targets draw into.
    void NoteTargetUses() const;
    const OpenGLSurface* GetTarget0() const;

    ContextSet m_contexts;
    std::shared_mutex m_contextGuard; // workers share it; rebuilding the contexts takes it whole
    // The GL lock (GLWork; the lock order is in the banner).
    mutable OpenGLLock m_glLock;
    std::atomic<std::thread::id> m_mainThread{};
    std::atomic<uint32_t> m_epoch{1};
    bool m_initialized = false;
    std::atomic<bool> m_lost{false};
    RenderDeviceSettings m_settings;
    OpenGLSurface* m_primary = nullptr;

    // Capabilities.
    std::string m_renderer;
    std::string m_version;
    int m_maxTextureSize = 4096;
    bool m_hasS3tc = false;
    int m_memoryInfo = 0; // 0 none, 1 NVX, 2 ATI
    uint64_t m_totalVideoMemory = fallbackVideoMemory;
    mutable uint64_t m_freeVideoMemory = fallbackVideoMemory;
    int m_maxSamples = 0;
    std::atomic<uint64_t> m_resourceBytes{0};
    std::string m_statusText;

    // State.
    State m_state;
    Applied m_applied;
    uint32_t m_dirty = DIRTY_ALL;
    uint32_t m_dirtyStages = 0xFFFFu;
    Color m_clearColor;
    uint32_t m_shaderState18 = 0;
    uint32_t m_shaderState20 = 0;
    uint32_t m_shaderState21 = 0;
    Vec4 m_shaderState22 = Vec4(1.0f, 1.0f, 1.0f, 1.0f);
    uint32_t m_shaderState23 = 0;
    bool m_verticalSync = false;
    bool m_debugSwitch1 = true;
    bool m_debugSwitch2 = false;
    // The draw in progress is past the draw call limit, and then drawn in outline or not at all.
    bool m_pastDrawCallLimit = false;
    bool m_outlineDraw = false;
    // The window's size before it went full screen (0: it is not full screen by the device's doing).
    int m_windowedWidth = 0;
    int m_windowedHeight = 0;
    // The settings' size and the display mode of the last line about a full-screen mode of another
    // size: logged once while they stay.
    int m_loggedFit[4] = {};
    int m_targetWidth = 0;
    int m_targetHeight = 0;

    // Constant registers and the device's own uniforms, stamped when they change.
    std::vector<float> m_vertexConstants;
    std::vector<float> m_pixelConstants;
    std::vector<uint64_t> m_vertexStamps;
    std::vector<uint64_t> m_pixelStamps;
    uint64_t m_stamp = 1;
    uint64_t m_vertexLatest = 0;
    uint64_t m_pixelLatest = 0;
    uint64_t m_clipStamp = 1;
    uint64_t m_alphaStamp = 1;
    uint64_t m_screenStamp = 1;
    uint64_t m_screenProgramStamp = 0;

    // Built-in objects of the main context.
    uint32_t m_pipeline = 0;
    ProgramObject m_fixedVertex;
    ProgramObject m_screenVertex;
    ProgramObject m_fixedPixelTextured;
    ProgramObject m_fixedPixelPlain;
    ProgramObject m_fixedPixelTexturedUntested; // without the alpha test
    ProgramObject m_fixedPixelPlainUntested;
    int m_fixedColorFlag = -1;
    uint32_t m_screenBuffer = 0;
    uint32_t m_screenBufferCursor = 0;
    uint32_t m_screenVertexArray = 0;
    uint32_t m_copyFramebuffers[2] = {};
    std::map<FramebufferKey, uint32_t> m_framebuffers;
    std::unordered_map<uint32_t, uint32_t> m_samplers;
    uint32_t m_textSamplers[2] = {};
    uint32_t m_whiteTexture = 0; // debug switch 2 draws with it
    uint32_t m_seenForeignWrites = 0;
    std::atomic<uint32_t> m_foreignWrites{0};
    // The main context's commands and its fence after them (FenceMainCommands); under the GL lock
    // but for the count the fence covers, which workers waiting for it read.
    uint64_t m_mainCommands = 0;
    void* m_mainFence = nullptr;
    uint32_t m_mainFenceEpoch = 0;
    // Workers waiting for a fence; changed under the GL lock, read before it after each main
    // command (a worker that asks meanwhile is fenced at the next command or the frame's end).
    std::atomic<int> m_mainFenceWanted{0};
    std::atomic<uint64_t> m_mainFenced{0};
    std::atomic<bool> m_rebuilding{false}; // the main context's commands will never be fenced
    std::atomic<bool> m_mainFenceWaitSaid{false};
    // RefillFigures, any thread.
    std::atomic<uint64_t> m_refillsInPlace{0};
    std::atomic<uint64_t> m_refillsUnordered{0};
    std::atomic<uint64_t> m_refillsReplaced{0};
    std::atomic<uint64_t> m_mainFenceWaits{0};
    std::atomic<uint64_t> m_mainFenceGiveUps{0};
    std::mutex m_mainFenceLock;            // innermost; for the waits on m_mainFenced
    std::condition_variable m_mainFenceGiven;

    // Registry of live objects (any thread) and objects waiting for the main thread.
    mutable std::mutex m_registryLock;
    std::unordered_map<const void*, ResourceKind> m_objects;
    int m_declarationCount = 0;
    // The live declarations (a few), which a deleted buffer's name is cleared from: walking them
    // beats walking every object of the device.
    std::vector<OpenGLVertexDeclaration*> m_declarations;
    // The live surfaces (a few dozen), which a destroyed texture is looked for among: a level going
    // out destroys its textures in its frame, and a walk of every object for each cost that frame
    // a millisecond.
    std::vector<OpenGLSurface*> m_surfaces;
    std::mutex m_retireLock;
    std::vector<Retired> m_retired;
    std::vector<RetiredName> m_retiredNames;
    std::atomic<bool> m_retiredPending{false};

    // Frames and counters.
    bool m_inFrame = false;
    // The last headless frame's fence: the next present waits for it (one frame in flight).
    WorkerFence m_presentFence;
    // A frame read under way (RequestFrameRead): the texture holding the picture (0: none) and the
    // fence after its drawing, of the contexts of that epoch; and a texture of the primary
    // surface's size for the next read's surface to draw into.
    struct FrameRead
    {
        uint32_t texture = 0;
        uint64_t bytes = 0;
        void* sync = nullptr;
        uint32_t epoch = 0;
        int width = 0;
        int height = 0;
        std::vector<Pixel> pixels;
        bool read = false;   // the pixels are in
        bool failed = false; // the reader could not read them
    } m_frameRead;
    // The reader thread (started by the first read) and the job the main thread waits for.
    struct ReaderJob
    {
        uint32_t texture = 0;
        int width = 0;
        int height = 0;
        Pixel* pixels = nullptr;
    };
    std::thread m_reader;
    std::mutex m_readerLock;
    std::condition_variable m_readerWake;
    ReaderJob m_readerJob;
    bool m_readerDone = false;
    bool m_readerRead = false;
    bool m_readerStop = false;
    struct Picture
    {
        uint32_t name = 0;
        uint32_t epoch = 0;
        int width = 0;
        int height = 0;
        uint64_t bytes = 0;
    } m_frameReadSpare;
    static constexpr uint64_t presentWaitLimitNs = 10'000'000'000ull;
    uint64_t m_frameIndex = 1;
    int m_drawCallsThisFrame = 0;
    int m_facesThisFrame = 0;
    int m_drawCallLimit = -1;
    uint64_t m_loggedFrame[LOG_REASON_COUNT] = {};

    // Fonts.
    void* m_fontLibrary = nullptr;
    std::mutex m_fontLibraryLock;
};

} // namespace GAME::OpenGL
