// A streaming index buffer of unsigned 32-bit indices, used with the dynamic vertex buffer:
// indices written into a locked space count from the first vertex of the matching locked vertex
// space. Main thread.
#pragma once

#include "graphics/RenderTypes.h"

namespace GAME {

class RenderDynamicIndexBuffer
{
public:
    virtual ~RenderDynamicIndexBuffer() = default;
    // Capacity in indices.
    virtual unsigned int GetSize() const = 0;
    // indexCount fresh 32-bit indices for writing; null when the buffer cannot hold them.
    virtual uint32_t* Lock(unsigned int indexCount) = 0;
    virtual void Unlock() = 0;
    // Binds the last locked space as the index buffer.
    virtual void SetAsIndices() = 0;
    // The range to hand DrawIndexedPrimitive for indices of the last locked space.
    virtual RenderDrawRange GetDrawRange(unsigned int indexCount, unsigned int primitiveCount, int baseVertex,
                                         unsigned int minVertex) const = 0;
    // Starts the next Lock at the front of the buffer.
    virtual void Discard() = 0;
    // Index offset of the last locked space within the buffer.
    virtual unsigned int GetLockedOffset() const = 0;
};

} // namespace GAME
