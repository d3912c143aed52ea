// Brings a set of regions fully in before play goes on (behind a loading screen, say): starts their
// level loads, then, frame by frame, pre-loads each loaded region's resources and places a marker
// in the resource loader's queue, and is done once the loader has passed every region's marker.
// RegionLoader loads the levels in the background; ForegroundRegionLoader (derived) loads each at
// once on the calling thread. Once done, every Update keeps the regions in use and their resources
// requested, so they never unload while the loader is updated.
//
// The host makes a loader, calls Update once a frame and polls GetIsDone and GetAreLevelsLoaded.
// Without a resource loader there is nothing to wait for: a region is done once its level is.
// Holds its regions and resource loader, owning neither. Main thread.
#pragma once

#include "core/WorldFrustum.h"

#include <vector>

namespace GAME {

class Region;
class ResourceLoader;

class RegionLoader
{
public:
    RegionLoader(ResourceLoader* loader, const std::vector<Region*>& regions, bool renderData);
    // The engine's resource loader and the regions the frustum, grown by the level-load distance,
    // meets; the frustum is kept for pre-loading.
    RegionLoader(const WorldFrustum& frustum, bool renderData);
    virtual ~RegionLoader() = default;
    RegionLoader(const RegionLoader&) = delete;
    RegionLoader& operator=(const RegionLoader&) = delete;

    virtual void Update();
    // Called once, by the first Update: background loads of every region, urgent.
    virtual void StartLoading();

    void SetFrustum(const WorldFrustum& frustum);
    const WorldFrustum& GetFrustum() const { return m_frustum; }
    bool GetIsDone() const { return m_isDone; }
    bool GetAreLevelsLoaded() const { return m_areLevelsLoaded; }
    int GetNumRegions() const { return static_cast<int>(m_entries.size()); }

protected:
    struct Entry
    {
        Region* region = nullptr;
        bool done = false;
        unsigned marker = 0; // 0: none yet
    };

    // The region's resources within the frustum (moved into its space), or all of them.
    void PreLoadRegion(Region* region);

    ResourceLoader* m_loader;
    std::vector<Entry> m_entries;
    WorldFrustum m_frustum;
    bool m_hasFrustum = false;
    bool m_renderData;
    bool m_isDone = false;
    bool m_areLevelsLoaded = false;
    bool m_started = false;
};

} // namespace GAME
