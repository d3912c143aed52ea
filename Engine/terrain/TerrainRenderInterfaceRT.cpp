#include "terrain/TerrainRenderInterfaceRT.h"

#include "terrain/TerrainRT.h"

namespace GAME {

TerrainRenderInterfaceRT::TerrainRenderInterfaceRT(TerrainRT* terrain)
    : TerrainRenderInterfaceBase(*terrain), m_terrain(terrain)
{
}

bool TerrainRenderInterfaceRT::IsCellDrawn(unsigned x, unsigned y, int layer) const
{
    if (!m_terrain->IsVisible(x, y))
        return false;
    return layer < 0 || m_terrain->HasLayerAt(x, y, static_cast<unsigned>(layer));
}

} // namespace GAME
