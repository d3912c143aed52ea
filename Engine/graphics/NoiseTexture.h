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
// The texture is drawn into two surfaces in turn, and a drawing is shown from the next drawing on
// (the frame after it was drawn): water samples the surface drawn a frame before while the frame
// draws the other, so neither a redraw nor a read waits on the other (a software rasteriser would
// otherwise finish all it has queued first). The noise moves slowly: a frame late is the same
// picture. The second surface is made at the second drawing; the first drawing is shown at once.
// A normal map keeps its composited heights likewise (see BeginHeights).
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
    // The surface the next drawing goes into: the render surface until it has been drawn once,
    // then the other one of the pair (the render surface when that cannot be made); a drawing of
    // the other one not shown yet is shown first. Hand it to EndDraw once drawn: the render
    // surface at once, the other from the next BeginDraw on.
    RenderSurface* BeginDraw();
    void EndDraw(RenderSurface* drawn);
    // A normal map's heights are composited into one of two surfaces of its own in turn and
    // converted from there a drawing later, so that a conversion never reads what its own frame
    // drew. The surface to composite into now, and in previous the heights of the drawing before
    // (null at the first drawing: it converts its own heights). Null when no surface can be had.
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
    RenderSurface* m_renderSurface = nullptr;
    RenderSurface* m_spareSurface = nullptr; // the other of the pair, once made
    bool m_drawn = false;                    // the render surface holds a drawing
    bool m_spareDrawn = false;               // the spare holds a drawing to show next
    RenderSurface* m_heightSurfaces[2] = {}; // a normal map's composited heights, in turn
    int m_lastHeights = -1;                  // the one drawn last, -1 before the first
};

} // namespace GAME
