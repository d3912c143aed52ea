// The software render device of Software.so: the recording, counting, failure-injecting device
// of the unit tests. It records and does not draw: the device that draws is OpenGL.so
// (Devices/OpenGL), and pixel tests go through it. This one needs no graphics hardware. It makes
// its primary surface in main memory, keeps every resource (surfaces, textures, static and
// streaming buffers, declarations, programs, fonts) in memory, checks every pointer handed back to
// it against its own records, counts frames, draw calls and faces, and carries the controls of
// SoftwareDeviceControl.h (failure injection, state, call records) for order and state tests.
//
// One lock guards the whole device: the loader threads create, fill and destroy resources while
// the main thread draws. The codes it interprets (blend factors, test functions, write modes,
// primitive types) are the table of graphics/RenderTypes.h.
//
// Draw calls are checked against the bound buffers and counted (those past the draw-call limit
// too, without their faces); Clear fills the target's colour and depth (RENDER_CLEAR_DEPTH or
// RENDER_CLEAR_ZBUFFER), CopyToTexture copies and ReadFrameBuffer reads back (RequestFrameRead
// takes the same pixels as it is called, and CollectFrameRead hands them over at once), but
// triangles, quads, fans and text change no pixel, and presenting shows nothing. The debug switches are
// recorded only. CanRetryCreateTexture answers for the calling thread's last texture creation.
#pragma once

#include "DeviceBase.h"
#include "SoftwareDeviceControl.h"

#include "core/CriticalSection.h"
#include "graphics/RenderDevice.h"

#include <array>
#include <cstdarg>
#include <string>
#include <unordered_map>
#include <vector>

namespace GAME::Software {

class SoftwareTexture;
class SoftwareSurface;

class SoftwareDevice final : public DeviceCommon::DeviceBase, public DeviceControl
{
public:
    static constexpr uint32_t defaultVideoMemory = 256u * 1024u * 1024u;
    static constexpr int maxTextureSize = 16384;
    static constexpr unsigned int maxShaderRegisters = DeviceCommon::constantRegisters;

    SoftwareDevice();
    // Releases every resource still alive.
    ~SoftwareDevice() override;

    // --- RenderDevice ---
    bool Initialize() override;
    void GetSupportedDisplayModes(std::vector<RenderDisplayMode>& modes) override;
    RenderSurface* CreatePrimarySurface(void* window, const RenderDeviceSettings* settings) override;
    RenderSurface* GetPrimarySurface() const override;
    RenderSurface* CreateTextureSurface(int width, int height, const RenderTexture* colorTexture,
                                        RenderTextureFormat depthFormat) override;
    RenderSurface* CreateTextureSurface(int width, int height, RenderTextureFormat colorFormat,
                                        RenderTextureFormat depthFormat) override;
    void DestroySurface(RenderSurface** surface) override;
    void UnregisterVertexDeclaration(RenderVertexDeclaration* declaration) override;
    int GetNumVertexDeclarations() const override;
    bool Supports16bitColorWithDepth() const override { return false; }
    void SetTargetSurface(int index, RenderSurface* surface) override;
    void SetRenderTarget(int index, RenderSurface* surface) override;
    void SetDepthTarget(RenderSurface* surface) override;
    const char* GetStatusText() override;
    int GetWidth() const override;
    int GetHeight() const override;
    bool BeginFrame() override;
    void EndFrame() override;
    void PresentSurface(RenderSurface* surface) override;
    void SetViewport(const Viewport& viewport) override;
    const Viewport& GetViewport() const override;
    void SetScissorRect(const Rect& rect) override;
    void SetClearColor(const Color& color) override;
    const Color& GetClearColor() const override;
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
    void SetShaderState18(uint32_t value) override;
    void SetColorWriteMode(RenderWriteMode mode) override;
    void SetAlphaWriteMode(RenderWriteMode mode) override;
    void SetDepthWriteMode(RenderWriteMode mode) override;
    void SetShaderState20(uint32_t value) override;
    void SetShaderState21(uint32_t value) override;
    void SetSourceBlend(RenderBlendFactor factor) override;
    RenderBlendFactor GetSourceBlend() const override;
    void SetDestinationBlend(RenderBlendFactor factor) override;
    RenderBlendFactor GetDestinationBlend() const override;
    void SetShaderState22(const Vec4& value) override;
    void SetShaderState23(uint32_t value) override;
    void SetTextureStageState(int stage, unsigned int state, uint32_t value) override;
    uint32_t GetTextureStageState(int stage, unsigned int state) const override;
    void SetStreamSource(int stream, RenderVertexBuffer* buffer, unsigned int offset,
                         unsigned int stride) override;
    void SetVertexDeclaration(RenderVertexDeclaration* declaration) override;
    void SetIndices(RenderIndexBuffer* indices) override;
    RenderVertexDeclaration* GetVertexDeclaration() const override;
    RenderIndexBuffer* GetIndices() const override;
    int GetNumFacesRendered() const override;
    int GetNumDrawCalls() const override;
    void SetDrawCallLimit(int limit) override;
    void SetDebugSwitch1(bool on) override;
    void SetDebugSwitch2(bool on) override;
    int GetDrawCallLimit() const override;
    unsigned int GetFreeVideoMemory() const override;
    unsigned int GetTotalVideoMemory() const override;
    const char* GetDeviceName() const override { return "Software"; }
    int GetMaxTextureSize() const override { return maxTextureSize; }
    RenderGenerationId GetGenerationId() const override;
    bool DeviceLost() override;
    void SetFullScreen(bool fullScreen) override;
    bool ResetDevice(const RenderDeviceSettings& settings) override;
    void SetResolution(int width, int height) override;
    bool ReadFrameBuffer(Pixel* pixels, int width, int height) const override;
    bool RequestFrameRead(int width, int height) override;
    RenderFrameRead CollectFrameRead(Pixel* pixels, int width, int height, bool wait) override;

    // --- DeviceControl ---
    void InjectFailure(Failure failure, int count) override;
    void SetDeviceLost(bool lost) override;
    void SetGenerationId(RenderGenerationId id) override;
    void SetTotalVideoMemory(uint32_t bytes) override;
    uint32_t GetResourceCount(ResourceKind kind) const override;
    uint32_t GetTotalResourceCount() const override;
    uint64_t GetResourceBytes() const override;
    uint32_t GetLockedResourceCount() const override;
    uint32_t GetFrameCount() const override;
    uint32_t GetPresentCount() const override;
    uint64_t GetTotalDrawCalls() const override;
    uint64_t GetTotalFaces() const override;
    uint32_t GetRejectedCallCount() const override;
    uint32_t GetResetCount() const override;
    RenderState GetRenderState() const override;
    std::vector<float> GetVertexShaderConstants() const override;
    std::vector<float> GetPixelShaderConstants() const override;
    bool ReadDepthBuffer(const RenderSurface* surface, std::vector<float>& values) const override;
    void SetRecording(bool on) override;
    std::vector<std::string> TakeRecordedCalls() override;

    // --- for the resource classes, under GetLock() ---
    CriticalSection& GetLock() const { return m_lock; }
    // Whether the resource may be locked now (not locked already, no injected failure).
    bool AllowLock(const void* resource, bool alreadyLocked);
    void NoteUnlock(const void* resource, bool wasLocked);
    void NoteBadLockSize(const void* resource, unsigned int count);
    void BindStream(const void* buffer, uint64_t offset, unsigned int stride);
    void BindIndices(const void* buffer);
    // The destination of a surface copy when it is a texture of this device, else null.
    SoftwareTexture* CheckCopyTarget(const SoftwareSurface* surface, RenderTexture* destination);
    void DrawTextRun(const void* font, const std::string& text, int count, const Rect& rect, uint32_t color,
                     RenderFontStyle style);

private:
    struct ResourceRecord
    {
        ResourceKind kind = ResourceKind::Count;
        uint32_t serial = 0;
        uint64_t bytes = 0;
        const void* owner = nullptr; // the surface owning a texture, else null
    };

    bool ShouldFail(Failure failure);
    // Counts the bytes against video memory; false (and a retryable shortage) when they do not fit.
    bool Reserve(uint64_t bytes);
    uint32_t Register(const void* resource, ResourceKind kind, uint64_t bytes, const void* owner = nullptr);
    const ResourceRecord* Find(const void* resource) const;
    bool IsKind(const void* resource, ResourceKind kind) const;
    // Takes the resource out of the records and out of every binding of the state.
    void Forget(const void* resource);
    // Whether a destroy operation may delete the resource (a live resource of the kind that no
    // surface owns); records the call either way.
    bool CheckDestroy(const void* resource, ResourceKind kind, const char* operation);
    // The holder's resource when it may be destroyed; the holder is nulled in any case.
    template <class T> T* TakeFromHolder(T** holder, ResourceKind kind, const char* operation);
    void DeleteResource(const void* resource, ResourceKind kind);
    template <class Interface>
    Interface* CreateProgram(const void* code, unsigned int size, ResourceKind kind, const char* operation);
    // Copies registers into a bank of four-float shader constants.
    void SetConstants(std::vector<float>& bank, unsigned int firstRegister, const float* data,
                      unsigned int registerCount, const char* operation);

    SoftwareSurface* GetColorTarget() const;
    // ReadFrameBuffer under the lock.
    bool ReadTarget(Pixel* pixels, int width, int height) const;
    SoftwareSurface* GetDepthTargetSurface() const;
    // Whether a draw may go ahead now; counts it when it does.
    bool BeginDraw(const char* operation);
    void CountDraw(uint64_t faces);
    bool IsValidSettings(const RenderDeviceSettings& settings) const;
    SoftwareTexture* MakeTexture(RenderTextureFormat format, bool dynamic, int width, int height,
                                 int levelCount, std::vector<uint32_t> top, const char* operation);

    void Record(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void Reject(const char* format, ...) __attribute__((format(printf, 2, 3)));
    std::string Name(const void* resource) const;

    mutable CriticalSection m_lock;
    bool m_initialized = false;
    bool m_lost = false;
    bool m_inFrame = false;
    RenderGenerationId m_generation = RENDER_GENERATION_GEFORCE6;
    uint32_t m_totalVideoMemory = defaultVideoMemory;
    uint64_t m_resourceBytes = 0;
    RenderDeviceSettings m_settings;
    SoftwareSurface* m_primary = nullptr;
    RenderState m_state;
    std::vector<float> m_vertexConstants;
    std::vector<float> m_pixelConstants;
    std::string m_statusText;

    std::unordered_map<const void*, ResourceRecord> m_resources;
    std::array<uint32_t, size_t(ResourceKind::Count)> m_counts{};
    uint32_t m_nextSerial = 1;
    std::array<int, size_t(Failure::Count)> m_failures{};

    int m_drawCallsThisFrame = 0;
    int m_facesThisFrame = 0;
    uint32_t m_frames = 0;
    uint32_t m_presents = 0;
    uint64_t m_totalDrawCalls = 0;
    uint64_t m_totalFaces = 0;
    uint32_t m_rejected = 0;
    uint32_t m_resets = 0;

    bool m_recording = false;
    std::vector<std::string> m_records;

    // The pixels RequestFrameRead took, until CollectFrameRead hands them over.
    bool m_frameReadPending = false;
    int m_frameReadWidth = 0;
    int m_frameReadHeight = 0;
    std::vector<Pixel> m_frameRead;
};

} // namespace GAME::Software
