// A surface the device draws into: the primary surface (the back buffer) or a render target
// over a texture, each with an optional depth buffer. Only the device creates and destroys
// surfaces. Main thread.
#pragma once

#include "core/Rect.h"

namespace GAME {

class RenderTexture;

class RenderSurface
{
public:
    virtual ~RenderSurface() = default;
    // The texture the surface draws into; null for the primary surface and depth-only surfaces.
    virtual RenderTexture* GetTexture() const = 0;
    virtual int GetWidth() const = 0;
    virtual int GetHeight() const = 0;
    // Copies the rectangle of this surface's colour into the whole top level of the texture,
    // scaling to fit; false when either side has no colour or the texture is not the device's.
    virtual bool CopyToTexture(RenderTexture* destination, const Rect& sourceRect) = 0;
};

} // namespace GAME
