// A static index buffer of the device, filled through Lock and Unlock. Safe from any thread; one
// lock at a time.
#pragma once

namespace GAME {

class RenderIndexBuffer
{
public:
    // The whole buffer for writing (indices of the size it was made with); null when it cannot be
    // locked.
    virtual void* Lock() = 0;
    virtual void Unlock() = 0;
    virtual unsigned int GetNumIndices() const = 0;
    virtual ~RenderIndexBuffer() = default;
};

} // namespace GAME
