// A vertex layout made by the device from an array of vertex elements. Safe from any thread.
#pragma once

namespace GAME {

class RenderVertexDeclaration
{
public:
    virtual ~RenderVertexDeclaration() = default;
    // Bytes of one vertex of stream 0.
    virtual unsigned int GetStride() const = 0;
};

} // namespace GAME
