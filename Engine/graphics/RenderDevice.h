// The only way from the library to the graphics hardware. RenderDevice is an abstract
// interface; a device module ("<name>.so", loaded at run time by name) implements it and hands
// out device objects through its exports "CreateRenderDevice" and "DestroyRenderDevice". The
// static operations keep the process-wide table of loaded device modules (at most 32 entries),
// which any thread may use.
//
// The graphics engine owns the one device. Drawing and state run on the main thread; the
// resource loader thread creates and fills textures, buffers, declarations and shaders, so
// creation and destruction of those resources must be safe from any thread in every device.
// Every resource a device operation makes is released by the matching destroy operation, which
// takes the holder by address and sets it to null.
#pragma once

#include "core/Color.h"
#include "core/Plane.h"
#include "core/Rect.h"
#include "core/Vec3.h"
#include "core/Vec4.h"
#include "graphics/RenderDeviceSettings.h"
#include "graphics/RenderTypes.h"
#include "graphics/Viewport.h"

#include <vector>

namespace GAME {

class RenderTexture;
class RenderSurface;
class RenderVertexBuffer;
class RenderIndexBuffer;
class RenderDynamicVertexBuffer;
class RenderDynamicIndexBuffer;
class RenderVertexDeclaration;
class RenderVertexShader;
class RenderPixelShader;
class RenderFont;
class RenderDevice;

// What CollectFrameRead found.
enum RenderFrameRead
{
    RENDER_READ_DONE,    // the pixels are handed over; the read is over
    RENDER_READ_PENDING, // not there yet (asked without waiting); the read goes on
    RENDER_READ_FAILED,  // no pixels: see CollectFrameRead
};

// The exports of a device module (extern "C" there).
using CreateRenderDeviceFunction = RenderDevice* (*)();
using DestroyRenderDeviceFunction = void (*)(RenderDevice* device);

class RenderDevice
{
public:
    static constexpr int maxDeviceLibraries = 32;
    // The device module that draws (Devices/OpenGL); "Software" is the recording device of the
    // unit tests.
    static constexpr const char* defaultDeviceName = "OpenGL";

    // Loads the module "<name>.so" and returns the device its "CreateRenderDevice" makes, or null
    // (module missing, no export, no device, table full; each with a log line).
    static RenderDevice* Create(const char* name);
    // Releases the device through its module's "DestroyRenderDevice". A device that no entry
    // holds, or whose module lacks the export, is not released. The pointer is null afterwards.
    static void Destroy(RenderDevice*& device);
    // Index of the table entry holding the device, or -1.
    static int FindDeviceLibrary(const RenderDevice* device);
    // Unloads every recorded module and empties the table; call it after the last device is
    // destroyed.
    static void UnloadLibraries();
    // "Unknown", "GeForce3", ... ; "Unknown" for ids outside the table.
    static const char* GetNameForGeneration(RenderGenerationId id);
    // The id whose name equals the text exactly (case matters); RENDER_GENERATION_UNKNOWN when
    // none does.
    static RenderGenerationId GetGenerationForName(const char* name);

    RenderDevice() = default;
    RenderDevice(const RenderDevice&) = delete;
    RenderDevice& operator=(const RenderDevice&) = delete;

    // Called after creation and again before each retry of the primary surface.
    virtual bool Initialize() = 0;
    virtual void GetSupportedDisplayModes(std::vector<RenderDisplayMode>& modes) = 0;
    // window is the system window the host made: the SDL_Window* of the game window
    // (GAME::Window::GetSystemWindow), null for a headless surface. Null on failure.
    virtual RenderSurface* CreatePrimarySurface(void* window, const RenderDeviceSettings* settings) = 0;
    virtual RenderSurface* GetPrimarySurface() const = 0;
    // A render target drawing into an existing texture of this device.
    virtual RenderSurface* CreateTextureSurface(int width, int height, const RenderTexture* colorTexture,
                                                RenderTextureFormat depthFormat) = 0;
    // A render target with a texture of its own (colour format NONE: depth only).
    virtual RenderSurface* CreateTextureSurface(int width, int height, RenderTextureFormat colorFormat,
                                                RenderTextureFormat depthFormat) = 0;
    virtual void DestroySurface(RenderSurface** surface) = 0;
    // Forgets any cached use of the declaration (the engine's export of the same name).
    virtual void UnregisterVertexDeclaration(RenderVertexDeclaration* declaration) = 0;
    virtual int GetNumVertexDeclarations() const = 0;
    virtual bool SupportsDepthRenderTargets() const = 0;
    virtual bool Supports16bitColorWithDepth() const = 0;
    // Binds the surface (null: the primary surface) at the target index together with its depth.
    virtual void SetTargetSurface(int index, RenderSurface* surface) = 0;
    // Binds the surface's colour only.
    virtual void SetRenderTarget(int index, RenderSurface* surface) = 0;
    virtual void SetDepthTarget(RenderSurface* surface) = 0;
    // One line of device information.
    virtual const char* GetStatusText() = 0;
    virtual int GetWidth() const = 0;
    virtual int GetHeight() const = 0;
    // False skips the frame.
    virtual bool BeginFrame() = 0;
    virtual void EndFrame() = 0;
    virtual void PresentSurface(RenderSurface* surface) = 0;
    virtual void SetViewport(const Viewport& viewport) = 0;
    virtual const Viewport& GetViewport() const = 0;
    // x, y, width, height in pixels.
    virtual void SetScissorRect(const Rect& rect) = 0;
    virtual void SetClearColor(const Color& color) = 0;
    virtual const Color& GetClearColor() const = 0;
    // RENDER_CLEAR_... flags.
    virtual void Clear(unsigned int flags) = 0;
    virtual RenderVertexBuffer* CreateVertexBuffer(unsigned int usage, unsigned int size) = 0;
    virtual void DestroyVertexBuffer(RenderVertexBuffer** buffer) = 0;
    virtual RenderDynamicVertexBuffer* CreateDynamicVertexBuffer(unsigned int size) = 0;
    virtual void DestroyDynamicVertexBuffer(RenderDynamicVertexBuffer** buffer) = 0;
    virtual RenderDynamicIndexBuffer* CreateDynamicIndexBuffer(unsigned int size) = 0;
    virtual void DestroyDynamicIndexBuffer(RenderDynamicIndexBuffer** buffer) = 0;
    virtual RenderVertexDeclaration* CreateVertexDeclaration(const VertexElement* elements, int count) = 0;
    virtual void DestroyVertexDeclaration(RenderVertexDeclaration** declaration) = 0;
    // bytesPerIndex 2 or 4.
    virtual RenderIndexBuffer* CreateIndexBuffer(unsigned int numIndices, unsigned int bytesPerIndex) = 0;
    virtual void DestroyIndexBuffer(RenderIndexBuffer** buffer) = 0;
    virtual RenderVertexShader* CreateVertexShader(const void* code, unsigned int size) = 0;
    virtual void DestroyVertexShader(RenderVertexShader** shader) = 0;
    virtual RenderPixelShader* CreatePixelShader(const void* code, unsigned int size) = 0;
    virtual void DestroyPixelShader(RenderPixelShader** shader) = 0;
    // Given the first bytes of an image file (size of them available), the bytes of the file that
    // CreateTextureFromFile needs at the reduction; 0 when it cannot tell (read the whole file).
    virtual unsigned int GetTextureFileInfo(const void* data, unsigned int size, int reduction) = 0;
    // A texture from an image file's bytes, its largest `reduction` levels dropped; null on failure.
    virtual RenderTexture* CreateTextureFromFile(const void* data, unsigned int size, int reduction) = 0;
    // A texture from one byte per texel (an intensity, used for colour and alpha alike), or
    // uninitialised without texels. levelCount 0 means a full chain.
    virtual RenderTexture* CreateTexture(int width, int height, const void* texels, int levelCount,
                                         unsigned int usage) = 0;
    // A texture from four bytes per texel in the device's packed order (blue, green, red, alpha).
    virtual RenderTexture* CreateTextureFromImage(int width, int height, const void* pixels, int levelCount,
                                                  unsigned int usage) = 0;
    // A texture the caller rewrites every frame through Lock and Unlock; null on failure.
    virtual RenderTexture* CreateDynamicTexture(int width, int height, int levelCount,
                                                unsigned int usage) = 0;
    virtual void DestroyTexture(RenderTexture** texture) = 0;
    // Asked after a failed CreateTextureFromFile: true when a later retry may succeed.
    virtual bool CanRetryCreateTexture() = 0;
    // An old-format font file passes (name, null, 0).
    virtual RenderFont* CreateFont(const char* name, const void* data, unsigned int size) = 0;
    virtual void DestroyFont(RenderFont** font) = 0;
    // Null selects fixed function.
    virtual void SetVertexShader(RenderVertexShader* shader) = 0;
    // registerCount registers of four floats each.
    virtual void SetVertexShaderConstants(unsigned int firstRegister, const float* data,
                                          unsigned int registerCount) = 0;
    virtual void SetPixelShader(RenderPixelShader* shader) = 0;
    virtual void SetPixelShaderConstants(unsigned int firstRegister, const float* data,
                                         unsigned int registerCount) = 0;
    virtual void SetTexture(int stage, const RenderTexture* texture) = 0;
    virtual const RenderTexture* GetTexture(int stage) const = 0;
    virtual void SetClippingPlane(int index, const Plane& plane) = 0;
    virtual void ClearClippingPlane(int index) = 0;
    // False when the plane of that index is not set.
    virtual bool GetClippingPlane(int index, Plane& plane) const = 0;
    virtual int GetMaxClippingPlanes() const = 0;
    // Draws over the bound declaration, vertex stream 0 and indices.
    virtual void DrawIndexedPrimitive(RenderPrimitiveType type, const RenderDrawRange& range) = 0;
    // Untextured quads in one colour: count corners (four a quad) in screen pixels, z the depth.
    virtual void DrawQuad(const Vec3* corners, int count, uint32_t color) = 0;
    // One quad over the screen rectangle with the texture coordinates of texCoords, texture stage 0.
    virtual void DrawTexturedQuad(const Rect& rect, const Rect& texCoords, uint32_t color, float depth) = 0;
    // A triangle fan in screen pixels (the first point is the hub) in one colour.
    virtual void DrawFan(const Vec3* points, int count, uint32_t color) = 0;
    virtual void EnableVerticalSync(bool enable) = 0;
    virtual void EnableWireframe(bool enable) = 0;
    virtual void SetDepthTestFunction(RenderTestFunction function) = 0;
    virtual void SetAlphaTestFunction(RenderTestFunction function) = 0;
    virtual void SetAlphaReference(float reference) = 0;
    // The values of the pass states 18, 20, 21, 22 and 23 that shader files carry.
    virtual void SetShaderState18(uint32_t value) = 0;
    virtual void SetColorWriteMode(RenderWriteMode mode) = 0;
    virtual void SetAlphaWriteMode(RenderWriteMode mode) = 0;
    virtual void SetDepthWriteMode(RenderWriteMode mode) = 0;
    virtual void SetShaderState20(uint32_t value) = 0;
    virtual void SetShaderState21(uint32_t value) = 0;
    virtual void SetSourceBlend(RenderBlendFactor factor) = 0;
    virtual RenderBlendFactor GetSourceBlend() const = 0;
    virtual void SetDestinationBlend(RenderBlendFactor factor) = 0;
    virtual RenderBlendFactor GetDestinationBlend() const = 0;
    virtual void SetShaderState22(const Vec4& value) = 0;
    virtual void SetShaderState23(uint32_t value) = 0;
    // stage 0 to 15.
    virtual void SetTextureStageState(int stage, unsigned int state, uint32_t value) = 0;
    virtual uint32_t GetTextureStageState(int stage, unsigned int state) const = 0;
    // stream 0; offset in bytes.
    virtual void SetStreamSource(int stream, RenderVertexBuffer* buffer, unsigned int offset,
                                 unsigned int stride) = 0;
    virtual void SetVertexDeclaration(RenderVertexDeclaration* declaration) = 0;
    virtual void SetIndices(RenderIndexBuffer* indices) = 0;
    virtual RenderVertexDeclaration* GetVertexDeclaration() const = 0;
    virtual RenderIndexBuffer* GetIndices() const = 0;
    // Faces drawn since the last frame began.
    virtual int GetNumFacesRendered() const = 0;
    // Draw calls of the frame.
    virtual int GetNumDrawCalls() const = 0;
    // Draws past the limit in a frame are skipped; -1 means no limit.
    virtual void SetDrawCallLimit(int limit) = 0;
    virtual void SetDebugSwitch1(bool on) = 0;
    virtual void SetDebugSwitch2(bool on) = 0;
    virtual int GetDrawCallLimit() const = 0;
    virtual unsigned int GetFreeVideoMemory() const = 0;
    virtual unsigned int GetTotalVideoMemory() const = 0;
    virtual const char* GetDeviceName() const = 0;
    virtual int GetMaxTextureSize() const = 0;
    virtual RenderGenerationId GetGenerationId() const = 0;
    virtual uint32_t GetAdapterId() const = 0;
    virtual bool DeviceLost() { return false; }
    virtual void SetFullScreen(bool) {}
    virtual bool ResetDevice(const RenderDeviceSettings&) { return false; }
    virtual void SetResolution(int, int) {}
    // Reads render target 0 back into width x height pixels, rows from the top.
    virtual bool ReadFrameBuffer(Pixel*, int, int) const { return false; }
    // A read of the primary surface that does not hold the frame up. RequestFrameRead takes what
    // has been drawn there so far (render target 0 must be the primary surface; width x height its
    // size) and returns at once; what is drawn after it is not in the picture. The surface's
    // content is undefined after it until drawn again (the device may draw on into another
    // buffer, as a swap chain's back buffer after a present): frames draw the whole surface.
    // False (one log line) when the target is not the primary surface, the size differs, or a
    // read is pending already: one read at a time. A device without such reads answers false.
    // Main thread.
    virtual bool RequestFrameRead(int, int) { return false; }
    // The pixels of the read RequestFrameRead started, rows from the top as ReadFrameBuffer gives
    // them, once the device has them: without wait, PENDING while the device is still at it; with
    // wait, after waiting for it. FAILED (one log line): no read is pending, the pixels are null or
    // of another size than the read's (the read goes on), or the device lost it (the read is
    // over). Main thread.
    virtual RenderFrameRead CollectFrameRead(Pixel*, int, int, bool) { return RENDER_READ_FAILED; }
    virtual ~RenderDevice() = default;
};

} // namespace GAME
