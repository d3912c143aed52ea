// The render interface of the run-time terrain (TerrainRT): a cell is drawn in the solid pass when
// its first sample's visible bit is set, and in a layer's pass when that sample also carries the
// layer's bit; only layers with a terrain type are drawn. See TerrainRenderInterfaceBase.
// A member of its terrain; main thread only.
#pragma once

#include "terrain/TerrainRenderInterfaceBase.h"

namespace GAME {

class TerrainRT;

class TerrainRenderInterfaceRT : public TerrainRenderInterfaceBase
{
public:
    explicit TerrainRenderInterfaceRT(TerrainRT* terrain);

    bool IsCellDrawn(unsigned x, unsigned y, int layer) const override;

private:
    TerrainRT* m_terrain;
};

} // namespace GAME
