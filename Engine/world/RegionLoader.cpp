#include "world/RegionLoader.h"

#include "data/ResourceLoader.h"
#include "world/Engine.h"
#include "world/Region.h"
#include "world/World.h"
#include "world/WorldServices.h"

namespace GAME {

RegionLoader::RegionLoader(ResourceLoader* loader, const std::vector<Region*>& regions, bool renderData)
    : m_loader(loader), m_renderData(renderData)
{
    for (Region* region : regions)
        if (region)
            m_entries.push_back(Entry{region, false, 0});
}

RegionLoader::RegionLoader(const WorldFrustum& frustum, bool renderData)
    : m_loader(WorldServices::Loader()), m_frustum(frustum), m_hasFrustum(true), m_renderData(renderData)
{
    Region* from = frustum.GetRegion();
    World* world = from ? from->GetWorld() : nullptr;
    if (!world)
        return;
    std::vector<Region*> regions;
    world->GetRegionsInFrustum(regions, from, frustum.GetRegionFrustum().GetExpanded(Engine::GetLevelLoadInflation()),
                               false);
    for (Region* region : regions)
        m_entries.push_back(Entry{region, false, 0});
}

void RegionLoader::SetFrustum(const WorldFrustum& frustum)
{
    m_frustum = frustum;
    m_hasFrustum = true;
}

void RegionLoader::StartLoading()
{
    for (const Entry& entry : m_entries)
        entry.region->BackgroundLoadLevel(m_renderData, true);
}

void RegionLoader::PreLoadRegion(Region* region)
{
    if (!m_hasFrustum) {
        region->PreLoad(true);
        return;
    }
    Frustum local;
    m_frustum.GetRelativeFrustum(region, local);
    region->PreLoad(&local, 1, true);
}

void RegionLoader::Update()
{
    if (!m_started) {
        StartLoading();
        m_started = true;
    }
    if (m_isDone) {
        for (const Entry& entry : m_entries) {
            if (!entry.marker && m_loader)
                continue;
            PreLoadRegion(entry.region);
            entry.region->ResetFramesNotUpdated();
        }
        return;
    }
    bool allDone = true;
    bool allLoaded = true;
    for (Entry& entry : m_entries) {
        Region* region = entry.region;
        if (region->IsLevelLoaded()) {
            if (entry.marker)
                PreLoadRegion(region);
            if (!entry.done) {
                if (!m_loader) {
                    // Nothing queues resources: the level is all there is to wait for.
                    PreLoadRegion(region);
                    entry.done = true;
                } else if (entry.marker) {
                    entry.done = m_loader->GetHasMarkerPast(entry.marker);
                } else {
                    PreLoadRegion(region);
                    entry.marker = m_loader->CreateMarker();
                }
            }
            region->GetLevel(false);
        } else {
            allLoaded = false;
        }
        if (!entry.done)
            allDone = false;
    }
    m_isDone = allDone;
    m_areLevelsLoaded = allLoaded;
}

} // namespace GAME
