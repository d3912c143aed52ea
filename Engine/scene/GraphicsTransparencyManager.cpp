#include "scene/GraphicsTransparencyManager.h"

#include "scene/SceneServices.h"
#include "scene/SceneWorldServices.h"

#include <algorithm>

namespace GAME {

GraphicsTransparencyManager::GraphicsTransparencyManager()
{
    m_timer.Reset();
}

void GraphicsTransparencyManager::SetTargetPosition(const WorldVec3& position)
{
    m_targetPosition = position;
    m_timer.Update(false);
    Region* target = position.GetRegion();
    if (!target)
        return;
    SceneWorldServices& world = SceneWorldServices::Current();
    // A region outside any world counts the engine's world's regions, and still gets its own amount.
    int regions = 0;
    if (!world.GetWorldRegionCount(target, regions))
        regions = SceneServices::WorldRegionCount();
    const int targetIndex = world.GetRegionIndex(target);
    const size_t size = static_cast<size_t>(std::max(regions, targetIndex + 1));
    if (m_blendAmounts.size() != size)
        m_blendAmounts.resize(size, 0.0f);
    // A fade time of 0 or less switches at once.
    const float step =
        m_fadeTime > 0 ? static_cast<float>(m_timer.GetElapsedTime()) / static_cast<float>(m_fadeTime) : 1.0f;
    for (size_t i = 0; i < m_blendAmounts.size(); ++i) {
        float& amount = m_blendAmounts[i];
        if (static_cast<int>(i) == targetIndex)
            amount = std::min(amount + step, 1.0f);
        else
            amount = std::max(amount - step, 0.0f);
    }
}

float GraphicsTransparencyManager::GetRegionBlendAmount(const Region* region) const
{
    if (!region)
        return 0.0f;
    const int index = SceneWorldServices::Current().GetRegionIndex(region);
    if (index < 0 || static_cast<size_t>(index) >= m_blendAmounts.size())
        return 0.0f;
    return m_blendAmounts[static_cast<size_t>(index)];
}

} // namespace GAME
