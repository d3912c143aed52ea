// Controls of the software render device (Software.so) for tests and tools: failure injection,
// resource bookkeeping, frame and draw counters, the current device state and a record of the
// device calls. Nothing here needs the module linked: load it through the platform layer (or let
// RenderDevice::Create load it), find the export named by moduleControlSymbol and call through
// the interfaces below. Every operation is safe from any thread.
#pragma once

#include "../Common/DeviceLimits.h"

#include "core/Color.h"
#include "core/Plane.h"
#include "core/Rect.h"
#include "core/Vec4.h"
#include "graphics/RenderTypes.h"
#include "graphics/Viewport.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace GAME {
class RenderDevice;
class RenderTexture;
class RenderSurface;
class RenderVertexShader;
class RenderPixelShader;
class RenderVertexDeclaration;
} // namespace GAME

namespace GAME::Software {

// Device operations that can be made to fail.
enum class Failure : uint32_t
{
    Initialize,
    PrimarySurface,
    TextureSurface,
    Texture, // every texture creation
    VertexBuffer,
    IndexBuffer,
    DynamicBuffer, // dynamic vertex and index buffers
    VertexDeclaration,
    Shader, // vertex and pixel shaders
    Font,
    Lock, // Lock of buffers and textures
    BeginFrame,
    ResetDevice,
    Count,
};

enum class ResourceKind : uint32_t
{
    Surface,
    Texture,
    VertexBuffer,
    IndexBuffer,
    DynamicVertexBuffer,
    DynamicIndexBuffer,
    VertexDeclaration,
    VertexShader,
    PixelShader,
    Font,
    Count,
};

using DeviceCommon::maxClipPlanes;
using DeviceCommon::maxRenderTargets;
using DeviceCommon::maxTextureStages;
using DeviceCommon::maxTextureStageStates;

// The device state the library sets, as the device holds it. Not the OpenGL device's state: that one
// holds GL objects to apply, this one records the calls for tests.
struct RenderState
{
    Viewport viewport;
    Rect scissorRect;
    Color clearColor;
    RenderBlendFactor sourceBlend = RENDER_BLEND_ONE;
    RenderBlendFactor destinationBlend = RENDER_BLEND_ZERO;
    RenderTestFunction depthTest = RENDER_TEST_LESS_EQUAL;
    RenderTestFunction alphaTest = RENDER_TEST_ALWAYS;
    float alphaReference = 0.0f;
    RenderWriteMode colorWrite = RENDER_WRITE_ENABLED;
    RenderWriteMode alphaWrite = RENDER_WRITE_ENABLED;
    RenderWriteMode depthWrite = RENDER_WRITE_ENABLED;
    uint32_t shaderState18 = 0;
    uint32_t shaderState20 = 0;
    uint32_t shaderState21 = 0;
    Vec4 shaderState22 = Vec4(1.0f, 1.0f, 1.0f, 1.0f);
    uint32_t shaderState23 = 0;
    const RenderTexture* textures[maxTextureStages] = {};
    uint32_t textureStageStates[maxTextureStages][maxTextureStageStates] = {};
    const RenderVertexShader* vertexShader = nullptr;
    const RenderPixelShader* pixelShader = nullptr;
    const RenderVertexDeclaration* declaration = nullptr;
    const void* streamSource = nullptr; // a static or dynamic vertex buffer
    uint32_t streamOffset = 0;          // bytes
    uint32_t streamStride = 0;
    // Stream 1, which declarations with a second stream read (a static vertex buffer).
    const void* secondStreamSource = nullptr;
    uint32_t secondStreamOffset = 0; // bytes
    uint32_t secondStreamStride = 0;
    const void* indices = nullptr; // a static or dynamic index buffer
    const RenderSurface* renderTargets[maxRenderTargets] = {};
    const RenderSurface* depthTarget = nullptr;
    Plane clippingPlanes[maxClipPlanes];
    bool clippingPlaneSet[maxClipPlanes] = {};
    bool wireframe = false;
    bool verticalSync = false;
    bool debugSwitch1 = false;
    bool debugSwitch2 = false;
    int drawCallLimit = -1;
};

class DeviceControl
{
public:
    // The next `count` calls of the operation fail; a negative count makes every call fail until
    // the failure is set again with 0.
    virtual void InjectFailure(Failure failure, int count) = 0;
    // A lost device refuses frames, surfaces and dynamic buffers until ResetDevice succeeds.
    virtual void SetDeviceLost(bool lost) = 0;
    virtual void SetGenerationId(RenderGenerationId id) = 0;
    // Video memory the device pretends to have; creations beyond it fail and
    // CanRetryCreateTexture then answers true.
    virtual void SetTotalVideoMemory(uint32_t bytes) = 0;

    virtual uint32_t GetResourceCount(ResourceKind kind) const = 0;
    virtual uint32_t GetTotalResourceCount() const = 0;
    // Bytes of video memory the live resources take.
    virtual uint64_t GetResourceBytes() const = 0;
    // Buffers and textures currently locked.
    virtual uint32_t GetLockedResourceCount() const = 0;

    virtual uint32_t GetFrameCount() const = 0; // frames ended
    virtual uint32_t GetPresentCount() const = 0;
    virtual uint64_t GetTotalDrawCalls() const = 0;
    virtual uint64_t GetTotalFaces() const = 0;
    // Calls the device turned down: bad arguments, foreign pointers, draws outside a frame or
    // with nothing bound.
    virtual uint32_t GetRejectedCallCount() const = 0;
    virtual uint32_t GetResetCount() const = 0;

    virtual RenderState GetRenderState() const = 0;
    // The constant registers last set: four floats each, 256 registers.
    virtual std::vector<float> GetVertexShaderConstants() const = 0;
    virtual std::vector<float> GetPixelShaderConstants() const = 0;
    // The depth buffer of a surface of this device, rows from the top; false (values emptied) for
    // a surface without depth or of another device. A new depth buffer holds 0 until something
    // clears it (a real device's holds anything), so a clear that never happens shows.
    virtual bool ReadDepthBuffer(const RenderSurface* surface, std::vector<float>& values) const = 0;

    // While recording, every device call is kept as one line: the operation's name and its
    // arguments, resources named "<kind>#<serial>" (serials count from 1 per device), a failed
    // creation ending in " failed" and a turned-down call in " rejected".
    virtual void SetRecording(bool on) = 0;
    // The lines recorded so far; the record is emptied.
    virtual std::vector<std::string> TakeRecordedCalls() = 0;

protected:
    ~DeviceControl() = default;
};

class ModuleControl
{
public:
    // The next `count` calls of CreateRenderDevice return null (negative: until set with 0).
    virtual void InjectCreateFailure(int count) = 0;
    virtual uint32_t GetLiveDeviceCount() const = 0;
    // The controls of a live device of this module, null for any other pointer.
    virtual DeviceControl* GetDeviceControl(RenderDevice* device) = 0;
    // Called with the controls of each device this module makes from now on, before the device
    // is handed out, so a test can set failures, generation or video memory ahead of the
    // engine's first call. An empty function removes it.
    virtual void SetDeviceCreatedCallback(std::function<void(DeviceControl&)> callback) = 0;

protected:
    ~ModuleControl() = default;
};

// extern "C" ModuleControl* GetSoftwareModuleControl();
using GetModuleControlFunction = ModuleControl* (*)();
inline constexpr const char* moduleControlSymbol = "GetSoftwareModuleControl";

} // namespace GAME::Software
