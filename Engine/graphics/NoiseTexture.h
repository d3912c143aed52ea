// An animated procedural texture: four octaves of value noise, each cross-fading over time between
// two of the noise generator's 256 tiles, composited into a render surface (optionally turned into
// a normal map). A database object made by record name through the noise generator
// (GraphicsNoiseGen::LoadNoiseTexture), which redraws it once a frame while it needs it. Main
// thread only.
//
// TODO(stand-in): reading the record ("size", "normalMap", "levels", "rates"), the render surface,
// the layer animation and the shader parameters come with the noise generator's drawing.
#pragma once

#include "core/Object.h"

namespace GAME {

class RenderSurface;
class RenderTexture;

class NoiseTexture : public Object
{
    GAME_DECLARE_CLASS(NoiseTexture)

public:
    static constexpr int numLayers = 4;

    NoiseTexture() = default;

    unsigned int GetSize() const { return m_size; }
    bool IsNormalMap() const { return m_normalMap; }
    RenderSurface* GetRenderSurface() const { return m_renderSurface; }
    // The surface's texture, or null.
    RenderTexture* GetTexture() const;
    bool GetNeedsUpdate() const { return m_needsUpdate; }
    void SetNeedsUpdate(bool needsUpdate) { m_needsUpdate = needsUpdate; }

protected:
    ~NoiseTexture() override = default;

private:
    unsigned int m_size = 0;
    bool m_normalMap = false;
    bool m_needsUpdate = true;
    RenderSurface* m_renderSurface = nullptr;
};

} // namespace GAME
