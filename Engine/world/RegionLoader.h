// Brings a set of regions fully in before play goes on (behind a loading screen, say): starts their
// level loads, then, frame by frame, pre-loads each loaded region's resources and places a marker
// in the resource loader's queue, and is done once the loader has passed every region's marker.
// RegionLoader loads the levels in the background; ForegroundRegionLoader (derived) loads each at
// once on the calling thread. Once done, every Update keeps the regions in use and their resources
// requested, so they never unload while the loader is updated.
//
// A loader made for a view frustum brings in what that view reaches: the regions whose boxes the
// frustum, grown by the level-load distance, meets, and, as their levels come in with their
// portals, the regions behind those portals that the grown frustum meets (the view moved through
// each portal, up to two portals deep, as the world's walk goes), so that a view starting near a
// doorway does not find the region behind it missing.
//
// The host makes a loader, calls Update once a frame and polls GetIsDone and GetAreLevelsLoaded.
// Without a resource loader there is nothing to wait for: a region is done once its level is.
// Holds its regions and resource loader, owning neither. Main thread.
#pragma once

#include "core/Frustum.h"
#include "core/UniqueId.h"
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
    // meets, then those behind their portals that it meets; the frustum is kept for pre-loading.
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
    // The regions it brings in, those found behind portals included.
    int GetNumRegions() const { return static_cast<int>(m_entries.size()); }
    // One of them (null past the count): a host warming up a view lists what it reached.
    Region* GetRegion(int index) const;

    // Portals a frustum loader looks through from the regions it was made with.
    static constexpr int maxPortalDepth = 2;

protected:
    struct Entry
    {
        explicit Entry(Region* region_) : region(region_) {}

        Region* region;
        bool done = false;
        unsigned marker = 0; // 0: none yet
        // Behind a portal: the entry of the region in front of it and the portal's id; -1 for the
        // regions the loader was made with.
        int front = -1;
        UniqueId portal;
        int depth = 0;
        // The frustum in this region's space, once known (behind a portal: both sides are in).
        Frustum view;
        bool viewKnown = false;
        // Its portals were looked through (a frustum loader, once its level is in).
        bool portalsFollowed = false;
    };

    // The region's resources within the frustum (in its space), or all of them.
    void PreLoadRegion(size_t index);
    // The frustum in the entry's region's space: moved by the offsets, or through the portals on
    // the way; false while a region on the way is not in.
    bool GetLocalFrustum(size_t index, Frustum& out);
    // Adds the regions behind the entry's portals that the grown frustum meets and starts their
    // loads; the entry's level is in.
    void FollowPortals(size_t index);

    ResourceLoader* m_loader;
    std::vector<Entry> m_entries;
    WorldFrustum m_frustum;
    bool m_hasFrustum = false;
    // Made for a frustum: follows the portals of its regions.
    bool m_followPortals = false;
    bool m_renderData;
    bool m_isDone = false;
    bool m_areLevelsLoaded = false;
    bool m_started = false;
};

} // namespace GAME
