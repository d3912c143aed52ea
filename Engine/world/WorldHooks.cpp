#include "world/WorldHooks.h"

namespace GAME {

namespace {

// Installs the world's answers while the library is loaded.
struct LibraryWorldHooks
{
    LibraryWorldHooks() { hooks.Install(); }
    ~LibraryWorldHooks() { hooks.Remove(); }
    WorldHooks hooks;
};

LibraryWorldHooks g_libraryWorldHooks;

template <class Services> void RemoveIfInstalled(Services& answers)
{
    if (Services::Get() == &answers)
        Services::Install(nullptr);
}

} // namespace

void WorldHooks::Install()
{
    RegionServices::Install(&m_region);
    GraphicsWorldServices::Install(&m_graphics);
    NavigationServices::Install(&m_navigation);
    SceneWorldServices::Install(&m_scene);
    NetworkWorldServices::Install(&m_network);
}

void WorldHooks::Remove()
{
    RemoveIfInstalled<RegionServices>(m_region);
    RemoveIfInstalled<GraphicsWorldServices>(m_graphics);
    RemoveIfInstalled<NavigationServices>(m_navigation);
    RemoveIfInstalled<SceneWorldServices>(m_scene);
    RemoveIfInstalled<NetworkWorldServices>(m_network);
}

} // namespace GAME
