// A streaming vertex buffer that immediate-mode drawing appends to frame after frame: each Lock
// hands out fresh space after the previous one and starts over at the front when the buffer is
// full. The canvas owns the shared one. Main thread.
#pragma once

namespace GAME {

class RenderDynamicVertexBuffer
{
public:
    // Size in bytes.
    virtual unsigned int GetSize() const = 0;
    // Starts the next Lock at the front of the buffer.
    virtual void Discard() = 0;
    // byteCount bytes of fresh space for writing; null when the buffer cannot hold them.
    virtual void* Lock(unsigned int byteCount) = 0;
    virtual void Unlock() = 0;
    // Binds the last locked space, from the byte offset on, as vertex stream 0.
    virtual void SetAsStream(unsigned int offset, unsigned int stride) = 0;
    // Byte offset of the last locked space within the buffer.
    virtual unsigned int GetLockedOffset() const = 0;
    virtual ~RenderDynamicVertexBuffer() = default;
};

} // namespace GAME
