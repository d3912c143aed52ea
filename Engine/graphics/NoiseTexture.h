// An animated procedural texture: four octaves of value noise, each cross-fading over time between
// two of the noise generator's 256 tiles, composited into a render surface of its own (optionally
// turned into a normal map). A database object (class "NoiseTexture") made by record name through
// the noise generator (GraphicsNoiseGen::LoadNoiseTexture), which redraws it in a frame when it
// needs it.
//
// Record fields: "size" (the surface's width and height; 0 makes no surface and the texture is
// never drawn), "normalMap", "levels" and "rates" (four reals each: the layers' weights and their
// cross-fades per second).
//
// The texture is drawn into four surfaces in turn, and a drawing is shown two drawings later:
// water samples a surface whose frame the device has finished (frames are held to one in flight)
// while the frame draws into one that no frame still being drawn reads, so neither a redraw nor
// a read waits on the frame before (a software rasteriser would otherwise finish all it has
// queued first, this frame's drawing so far with it). The noise moves slowly: two frames late is
// the same picture. The surfaces are made as the drawings need them; the first drawing is shown
// at once. A normal map keeps its composited heights likewise (see BeginHeights).
//
// Main thread only.
#pragma once

#include "core/Object.h"

#include <cstdint>
#include <vector>

namespace GAME {

class GraphicsShader2;
class RandomUniformLocked;
class RenderSurface;
class RenderTexture;

class NoiseTexture : public Object
{
    GAME_DECLARE_CLASS(NoiseTexture)

public:
    static constexpr int numLayers = 4;

    struct Layer
    {
        float level = 0.0f;
        float rate = 0.0f;  // cross-fades per second
        float phase = 0.0f; // 0 to 1: how far the cross-fade from current to next has come
        uint32_t currentTile = 0;
        uint32_t nextTile = 0;
    };

    NoiseTexture();

    // Reads the record and makes the render surface.
    void Load(const LoadTable& table) override;
    // Makes the render surface (size x size, RGBA, no depth) when there is none; false without one.
    bool InitalizeSurface();
    void ReleaseRenderSurface();
    // Moves each layer's cross-fade on by the elapsed time; a layer that completes it takes the
    // next tile as its current one and picks a new next tile with the generator.
    void UpdateLayers(unsigned int tileCount, float elapsedMilliseconds, RandomUniformLocked& random);
    // "textureOffset" and the layers' tiles, blend factors, levels and scales for the pass: one
    // pass of all four layers for pixel shader version 5 and above, else layers 0 and 1 in pass 0
    // and layers 2 and 3 in pass 1. tiles holds the generator's tiles.
    void SetShaderParams(GraphicsShader2& shader, const std::vector<RenderTexture*>& tiles, int pass) const;

    unsigned int GetSize() const { return m_size; }
    bool IsNormalMap() const { return m_normalMap; }
    const Layer& GetLayer(int index) const { return m_layers[index]; }
    // The surface shown (the one to sample).
    RenderSurface* GetRenderSurface() const { return m_renderSurface; }
    // The surface's texture, or null.
    RenderTexture* GetTexture() const;
    // How many drawings later a drawing is shown (and a normal map's heights converted), and how
    // many surfaces take turns: a surface is drawn into again once no frame still drawn reads it.
    static constexpr int showDelay = 2;
    static constexpr int ringSize = showDelay + 2;
    // The surface the next drawing goes into: the render surface until it has been drawn once,
    // then the next of the ring (the render surface when it cannot be made: shown at once).
    // Hand it to EndDraw once drawn. A drawing into the ring is shown showDelay drawings later,
    // from that drawing's BeginDraw on.
    RenderSurface* BeginDraw();
    void EndDraw(RenderSurface* drawn);
    // A normal map's heights are composited into a ring of surfaces of its own and converted from
    // there showDelay drawings later, so that a conversion never reads what a frame still being
    // drawn drew. The surface to composite into now, and in previous the heights to convert: of
    // showDelay drawings before, or the latest there are (null at the first drawing: it converts
    // its own heights). Null when no surface can be had.
    RenderSurface* BeginHeights(RenderSurface*& previous);
    void EndHeights(RenderSurface* drawn);
    bool GetNeedsUpdate() const { return m_needsUpdate; }
    void SetNeedsUpdate(bool needsUpdate) { m_needsUpdate = needsUpdate; }

protected:
    // Releases the render surface.
    ~NoiseTexture() override;

private:
    unsigned int m_size = 0;
    bool m_normalMap = false;
    bool m_needsUpdate = true;
    Layer m_layers[numLayers];
    // The slot's surface, made if it has none yet (null when none can be made).
    RenderSurface* MakeSurface(RenderSurface*& slot) const;

    RenderSurface* m_renderSurface = nullptr; // the one shown: one of m_surfaces
    RenderSurface* m_surfaces[ringSize] = {};
    unsigned int m_drawings = 0;              // drawings into the ring, the first drawing counted
    bool m_drawn = false;                     // the first drawing is done
    RenderSurface* m_heightSurfaces[ringSize] = {}; // a normal map's composited heights, in turn
    unsigned int m_heightDrawings = 0;
};

} // namespace GAME
