// A texture of the render device. Only the device creates and destroys textures
// (RenderDevice::Create...Texture / DestroyTexture). The resource loader thread creates them
// while the main thread draws; a texture's own operations are safe from any thread, but one
// thread at a time may hold it locked.
#pragma once

#include "graphics/RenderTypes.h"

namespace GAME {

class RenderTexture
{
public:
    // Size of the top level in texels.
    virtual int GetWidth() const = 0;
    virtual int GetHeight() const = 0;
    virtual RenderTextureFormat GetFormat() const = 0;
    virtual int GetLevelCount() const = 0;
    // Bytes of video memory the texture takes.
    virtual unsigned int GetMemoryUsage() const = 0;
    // The top level's texels for writing, 32 bits each (bytes blue, green, red, alpha: the packed
    // colour of the device), and the row pitch in bytes; null when the texture cannot be locked.
    virtual void* Lock(int& pitch) = 0;
    virtual void Unlock() = 0;
    virtual ~RenderTexture() = default;
};

} // namespace GAME
