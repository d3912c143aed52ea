// The render interface of the editable terrain (Terrain): a cell is drawn in the solid pass when
// its first sample is not cut away, and in a layer's pass when the layer's visibility state at the
// cell is partly visible or opaque. Layers without a terrain type are not drawn. It can also label
// every visible cell with the number of layers drawn there (DrawLayerCountLabels), which the
// terrain asks for while texture complexity is shown. See TerrainRenderInterfaceBase.
// A member of its terrain; main thread only.
#pragma once

#include "terrain/TerrainRenderInterfaceBase.h"

namespace GAME {

class Terrain;

class TerrainRenderInterface : public TerrainRenderInterfaceBase
{
public:
    explicit TerrainRenderInterface(Terrain* terrain);

    void DrawLayerCountLabels(const Coords& terrainFrame) override;
    bool IsCellDrawn(unsigned x, unsigned y, int layer) const override;

    // The number of layers drawn at the cell (state partly visible or opaque).
    unsigned CountLayersAt(unsigned x, unsigned y) const;

private:
    Terrain* m_terrain;
};

} // namespace GAME
