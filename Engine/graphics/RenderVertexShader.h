// A vertex program of the device, made from the code a shader file carries. No operations of
// its own; the device binds it.
#pragma once

namespace GAME {

class RenderVertexShader
{
public:
    virtual ~RenderVertexShader() = default;
};

} // namespace GAME
