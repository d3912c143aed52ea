// One span of a wave set (WaterWaveSet) between two neighbouring control points: foam patches that
// pulse along the centre curve and two breaking-wave bands that run up the shore and fade, over
// and over. Each update rewrites the vertices; the water's waves shader and waves index buffer
// draw them in three wave passes: 0 the main bands, 1 the bump bands, 2 the foam.
//
// Vertex buffer: the foam's 4 vertices a patch (q patches), then per band its main band
// (4 vertices a row over s + 1 rows) followed by its bump band (2 vertices a row). Bands exist
// only when both ends are wider than 1.0. The random phases, offsets and length factors are drawn
// once, at the first build, and kept across rebuilds.
//
// Owned by its wave set. Main thread (a level loading thread builds the segments it loads).
#pragma once

#include "graphics/RenderTypes.h"
#include "terrain/WaterCurve.h"
#include "terrain/WaterElement.h"

#include <cstdint>

namespace GAME {

// The look of a wave set's waves.
struct WaveParams
{
    enum Flag : uint32_t
    {
        FLAG_FOAM = 1,
        FLAG_BANDS = 2,
    };

    // Rate at which the bands run in.
    float speed = 1.0f;
    // Shift of a band's texture across the band as it runs in.
    float amplitude = 0.5f;
    // Curve length one foam patch takes, in units of 0.5.
    float spacing = 1.0f;
    uint32_t flags = FLAG_FOAM | FLAG_BANDS;

    // The spacing the waves are built with: not a number counts as 1.
    float UsableSpacing() const { return spacing == spacing ? spacing : 1.0f; }
};

class WaterWaveSegment : public WaterElement
{
public:
    static constexpr unsigned numBands = 2;
    static constexpr unsigned minBandPoints = 8;
    static constexpr unsigned maxBandPoints = 50;
    static constexpr unsigned maxFoamPatches = 100;
    // Where each part's indices start in the water's waves index buffer.
    static constexpr unsigned mainBandStartIndex = 600;
    static constexpr unsigned mainBandStripIndices = 102;
    static constexpr unsigned bumpBandStartIndex = 906;
    static constexpr unsigned numWaveIndices = 1008;

    struct Band
    {
        float offset = 0.0f;
        float lengthFactor = 1.0f;
        float position = 0.0f;
    };

    // The parameters belong to the wave set and outlive the segment.
    WaterWaveSegment(RenderDevice& device, const WaveParams& params);

    // Rebuilds the segment from its two points at the set's height (the waves 0.1 above it).
    void Build(const ControlPoint& a, const ControlPoint& b, float height);
    // Animates the foam and bands by the time (nothing moves for 0 or less) and rewrites the
    // vertices.
    void UpdateWaves(int elapsedMilliseconds);

    // Waves lie on the water: the depth changes nothing.
    bool UpdateDepth(const TerrainBase* terrain, const GridRegion* grid) override;
    // Every wave pass the flags allow.
    void Render(RenderDevice& device) override;
    // One wave pass (0 main bands, 1 bump bands, 2 foam) with the waves index buffer bound.
    void Render(RenderDevice& device, int wavePass);
    const Name& GetStyleName() const override;
    const Name& GetReflectStyleName() const override;

    float GetLength() const { return m_length; }
    unsigned GetNumBandPoints() const { return m_bandPoints; }
    unsigned GetNumFoamPatches() const { return m_foamPatches; }
    bool HasBands() const { return m_bandPoints != 0; }
    unsigned GetNumVertices() const { return m_numVertices; }
    float GetWaveHeight() const { return m_waveHeight; }
    const Band& GetBand(unsigned k) const { return m_bands[k]; }
    float GetFoamPhase(unsigned i) const { return m_phases[i]; }

    // Band points of a centre curve of that length (held to 8 ... 50) and foam patches at a
    // spacing (held to 1 ... 100).
    static unsigned CountBandPoints(float length);
    static unsigned CountFoamPatches(float length, float spacing);

private:
    void DrawBand(Band& band);
    void Animate(float seconds, WaterVertex* vertices);
    void WriteFoam(float seconds, WaterVertex* vertices);
    void WriteBand(unsigned k, float seconds, WaterVertex* vertices);
    unsigned MainBandFirstVertex(unsigned k) const;
    unsigned BumpBandFirstVertex(unsigned k) const { return MainBandFirstVertex(k) + 4 * m_bandPoints + 4; }
    void DrawStrip(RenderDevice& device, unsigned startIndex, unsigned firstVertex, unsigned vertices,
                   RenderPrimitiveType type, uint32_t primitives);

    const WaveParams& m_params;
    unsigned m_foamPatches = 0;
    unsigned m_bandPoints = 0;
    unsigned m_numVertices = 0;
    bool m_initialised = false;
    float m_length = 0.0f;
    float m_waveHeight = 0.0f;
    float m_widths[2] = {0.0f, 0.0f};
    Band m_bands[numBands];
    WaterCurve::Bezier m_centre{};
    float m_phases[maxFoamPatches] = {};
};

} // namespace GAME
