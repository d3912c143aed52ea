// What the renderers need for see-through rendering around a target (the player, usually): the
// target position, the transparency frustum the regions get when they add their contents, the
// transparency height handed to shaders, and a blend amount per region that fades the target's
// region in and every other region out over fadeTime milliseconds of game time.
//
// The host owns one and calls SetTargetPosition once a frame; the portal renderer reads it while
// it draws. Main thread only.
#pragma once

#include "core/Timer.h"
#include "core/WorldFrustum.h"
#include "core/WorldVec3.h"

#include <vector>

namespace GAME {

class Region;

class GraphicsTransparencyManager
{
public:
    static constexpr int defaultFadeTime = 350; // ms

    GraphicsTransparencyManager();
    virtual ~GraphicsTransparencyManager() = default;
    GraphicsTransparencyManager(const GraphicsTransparencyManager&) = delete;
    GraphicsTransparencyManager& operator=(const GraphicsTransparencyManager&) = delete;

    // The frame's update: stores the position, advances the timer and, when the position has a
    // region, steps every region's amount by elapsed / fade time (up for the target's region,
    // down for the others), each held in [0, 1]. The amounts are sized to the world's regions.
    void SetTargetPosition(const WorldVec3& position);
    const WorldVec3& GetTargetPosition() const { return m_targetPosition; }
    void SetTransparencyFrustum(const WorldFrustum& frustum) { m_transparencyFrustum = frustum; }
    const WorldFrustum& GetTransparencyFrustum() const { return m_transparencyFrustum; }
    void SetTransparencyHeight(float height) { m_transparencyHeight = height; }
    float GetTransparencyHeight() const { return m_transparencyHeight; }
    void SetFadeTime(int milliseconds) { m_fadeTime = milliseconds; }
    int GetFadeTime() const { return m_fadeTime; }

    // 0 for a null region or one the amounts do not reach yet.
    float GetRegionBlendAmount(const Region* region) const;

private:
    WorldVec3 m_targetPosition;
    std::vector<float> m_blendAmounts;
    float m_transparencyHeight = 0.0f;
    int m_fadeTime = defaultFadeTime;
    GameTimer m_timer;
    WorldFrustum m_transparencyFrustum;
};

} // namespace GAME
