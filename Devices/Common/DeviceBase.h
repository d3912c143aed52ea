// What both render devices answer the same way, as the base each derives from: the interface's
// fixed answers (depth render targets, the clip planes of DeviceLimits.h, adapter 0), the bytes a
// texture file needs (a DDS file's whole chain), and whether the calling thread's last texture
// creation on this device may be retried. The devices implement the rest of RenderDevice.
//
// Threads: any. The retry answer is the calling thread's own (the resource loader and the main
// thread create textures at once, and each asks after its own creation), and it belongs to one
// device: a serial tells the devices of a module apart.
#pragma once

#include "DeviceLimits.h"

#include "graphics/RenderDevice.h"

#include <cstdint>

namespace GAME::DeviceCommon {

class DeviceBase : public RenderDevice
{
public:
    bool SupportsDepthRenderTargets() const final { return true; }
    unsigned int GetTextureFileInfo(const void* data, unsigned int size, int reduction) final;
    bool CanRetryCreateTexture() final;
    int GetMaxClippingPlanes() const final { return maxClipPlanes; }
    uint32_t GetAdapterId() const final { return 0; }

protected:
    DeviceBase();
    // What the calling thread's texture creation on this device said: whether a failure may pass
    // (too little video memory) rather than stay (bad data). Every creation notes it.
    void SetTextureRetryable(bool retryable);

private:
    const uint64_t m_serial;
};

} // namespace GAME::DeviceCommon
