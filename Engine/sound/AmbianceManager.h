// The ambiance of the view's surroundings. Every frame it finds the sectors under the view (the
// sound manager's ears) in the sector layers of the view's level and looks their records up in the
// engine's sector data: entering a name sector shows its localized name as the cinematic text
// (first-visit-only names only on the first visit), entering an ambient sector hands its music
// playlist, ambient playlist and event music to the jukebox (leaving it for no ambient sector keeps
// what plays), and a boss record under the view marks a boss area.
//
// It also answers, by time of day (the day-night manager's sunrise and sunset, with an hour of
// dusk and dawn between), the night-light scale (0 by day, 1 by night) and the shadow strength of
// night lights (the same), and the light, sky ambient and ground ambient tints per environment
// (1 outdoors, 0 underground) that the renderer multiplies its day-night colours by; the tints are
// white: the time of day is already in the day-night colours. With the day-night manager disabled
// the night values are 1 (night lights as placed).
//
// The engine creates it at start-up, updates it every frame, resets it when the world is unloaded
// and deletes it in its destructor. Main thread only.
#pragma once

#include "core/Color.h"
#include "core/UniqueId.h"
#include "core/WorldVec3.h"

#include <set>
#include <string>

namespace GAME {

class Jukebox;
class SectorDataManager;

class AmbianceManager
{
public:
    enum Environment
    {
        ENVIRONMENT_UNDERGROUND = 0,
        ENVIRONMENT_OUTDOORS = 1,
    };

    // How long a sector's name stays at full strength, then how long it fades.
    static constexpr int kNameHoldMs = 3000;
    static constexpr int kNameFadeMs = 2000;

    AmbianceManager() = default;
    virtual ~AmbianceManager() = default;
    AmbianceManager(const AmbianceManager&) = delete;
    AmbianceManager& operator=(const AmbianceManager&) = delete;

    // The view is the engine's sound manager's ears, the sectors the engine's, the music director
    // the jukebox singleton.
    void Update(int elapsedMs);
    // The same with the view, the sector data (null: none) and the jukebox (null: none) given.
    void Update(int elapsedMs, const WorldVec3& view, const SectorDataManager* sectors, Jukebox* jukebox);
    // Forgets the sectors, visits and shown name of the unloaded world.
    void Reset();

    // The record ids of the sectors under the view (kind 1 name, 2 ambient, 3 boss); zero when none.
    const UniqueId& GetCurrentSector(unsigned kind) const;
    bool IsInBossArea() const { return m_bossArea; }

    float GetShadowIntensity() const { return m_shadowIntensity; }
    float GetNightLightScale() const { return m_nightLightScale; }
    const Color& GetLightColor(int environment) const;
    const Color& GetSkyAmbientColor(int environment) const;
    const Color& GetGroundAmbientColor(int environment) const;

private:
    void UpdateTimeOfDay();
    void EnterNameSector(const SectorDataManager* sectors, const UniqueId& id);
    void UpdateNameText(int elapsedMs);

    UniqueId m_current[4];
    bool m_bossArea = false;
    std::set<UniqueId> m_visited;
    // The name shown now and for how long it has been shown; -1 when none.
    std::string m_nameText;
    int m_nameShownMs = -1;
    float m_shadowIntensity = 1.0f;
    float m_nightLightScale = 1.0f;
    Color m_neutral = Color(1.0f, 1.0f, 1.0f, 1.0f);
};

} // namespace GAME
