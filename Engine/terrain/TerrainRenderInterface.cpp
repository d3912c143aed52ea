#include "terrain/TerrainRenderInterface.h"

#include "core/Color.h"
#include "core/Coords.h"
#include "graphics/DebugRenderManager.h"
#include "terrain/Terrain.h"
#include "terrain/TerrainBlock.h"

#include <cstdio>

namespace GAME {

TerrainRenderInterface::TerrainRenderInterface(Terrain* terrain)
    : TerrainRenderInterfaceBase(*terrain), m_terrain(terrain)
{
}

bool TerrainRenderInterface::IsCellDrawn(unsigned x, unsigned y, int layer) const
{
    if (m_terrain->IsInvisible(static_cast<int>(x), static_cast<int>(y)))
        return false;
    return layer < 0 ||
           m_terrain->GetLayerState(static_cast<unsigned>(layer), x, y) > Terrain::STATE_TRANSPARENT;
}

unsigned TerrainRenderInterface::CountLayersAt(unsigned x, unsigned y) const
{
    unsigned count = 0;
    for (unsigned layer = 0; layer < m_terrain->GetNumTextureLayers(); ++layer)
        if (m_terrain->GetLayerState(layer, x, y) > Terrain::STATE_TRANSPARENT)
            ++count;
    return count;
}

void TerrainRenderInterface::DrawLayerCountLabels(const Coords& terrainFrame)
{
    DebugRenderManager* manager = DebugRenderManager::Get();
    if (!manager)
        return;
    const Color white(1.0f, 1.0f, 1.0f, 1.0f);
    char text[16];
    for (const TerrainBlock* block : m_visibleBlocks)
        for (unsigned y = block->GetFirstCellY(); y <= block->GetLastCellY(); ++y)
            for (unsigned x = block->GetFirstCellX(); x <= block->GetLastCellX(); ++x) {
                std::snprintf(text, sizeof(text), "%d", static_cast<int>(CountLayersAt(x, y)));
                const Vec3 sample(static_cast<float>(x),
                                  m_terrain->GetHeight(static_cast<int>(x), static_cast<int>(y)),
                                  static_cast<float>(y));
                manager->RenderText(text, m_terrain->GetRegion(), terrainFrame.TransformPoint(sample), white);
            }
}

} // namespace GAME
