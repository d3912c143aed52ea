// A static vertex buffer of the device, filled through Lock and Unlock (meshes, terrain and
// water fill theirs on the loader threads). Safe from any thread; one lock at a time.
#pragma once

namespace GAME {

class RenderVertexBuffer
{
public:
    virtual ~RenderVertexBuffer() = default;
    // The whole buffer for writing; null when it cannot be locked (already locked, device failure).
    virtual void* Lock() = 0;
    virtual void Unlock() = 0;
    // Size in bytes.
    virtual unsigned int GetSize() const = 0;
};

} // namespace GAME
