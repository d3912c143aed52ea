// The world's answers to the floors below it about its own objects, one class for each floor's
// interface: WorldRegionHooks for core's RegionServices, WorldGraphicsHooks for graphics'
// GraphicsWorldServices, WorldNavigationHooks for navigation's NavigationServices, WorldSceneHooks
// for scene's SceneWorldServices and WorldNetworkHooks for network's NetworkWorldServices. Regions,
// levels and entities exist without an engine (tools, tests that build a world by hand), so these
// answers are not the engine's: one WorldHooks, made when the library is loaded, installs them then
// and removes them when the library goes away (WorldHooks.cpp). What the floors below need of the
// engine itself comes from EngineHooks.
//
// Threads: Install and Remove while nothing else runs; each answer follows the threading rules of
// the object it reads (regions and the world: main thread).
#pragma once

#include "world/WorldGraphicsHooks.h"
#include "world/WorldNavigationHooks.h"
#include "world/WorldNetworkHooks.h"
#include "world/WorldRegionHooks.h"
#include "world/WorldSceneHooks.h"

namespace GAME {

class WorldHooks
{
public:
    WorldHooks() = default;
    WorldHooks(const WorldHooks&) = delete;
    WorldHooks& operator=(const WorldHooks&) = delete;

    void Install();
    // Leaves in place what another implementation put there since.
    void Remove();

private:
    WorldRegionHooks m_region;
    WorldGraphicsHooks m_graphics;
    WorldNavigationHooks m_navigation;
    WorldSceneHooks m_scene;
    WorldNetworkHooks m_network;
};

} // namespace GAME
