#include "world/RegionLoader.h"

#include "core/Coords.h"
#include "data/ResourceLoader.h"
#include "world/Engine.h"
#include "world/Portal.h"
#include "world/Region.h"
#include "world/World.h"
#include "world/WorldServices.h"

#include <algorithm>

namespace GAME {

RegionLoader::RegionLoader(ResourceLoader* loader, const std::vector<Region*>& regions, bool renderData)
    : m_loader(loader), m_renderData(renderData)
{
    for (Region* region : regions)
        if (region)
            m_entries.emplace_back(region);
}

RegionLoader::RegionLoader(const WorldFrustum& frustum, bool renderData)
    : m_loader(WorldServices::Loader()), m_frustum(frustum), m_hasFrustum(true), m_followPortals(true),
      m_renderData(renderData)
{
    Region* from = frustum.GetRegion();
    World* world = from ? from->GetWorld() : nullptr;
    if (!world)
        return;
    std::vector<Region*> regions;
    world->GetRegionsInFrustum(regions, from, frustum.GetRegionFrustum().GetExpanded(Engine::GetLevelLoadInflation()),
                               false);
    for (Region* region : regions)
        m_entries.emplace_back(region);
}

Region* RegionLoader::GetRegion(int index) const
{
    return index >= 0 && index < GetNumRegions() ? m_entries[static_cast<size_t>(index)].region : nullptr;
}

void RegionLoader::SetFrustum(const WorldFrustum& frustum)
{
    m_frustum = frustum;
    m_hasFrustum = true;
    for (Entry& entry : m_entries)
        entry.viewKnown = false;
}

void RegionLoader::StartLoading()
{
    for (const Entry& entry : m_entries)
        entry.region->BackgroundLoadLevel(m_renderData, true);
}

bool RegionLoader::GetLocalFrustum(size_t index, Frustum& out)
{
    Entry& entry = m_entries[index];
    if (entry.front < 0) {
        m_frustum.GetRelativeFrustum(entry.region, out);
        return true;
    }
    if (entry.viewKnown) {
        out = entry.view;
        return true;
    }
    // Passing the portal asks for the levels of both sides: only once both are in, so that it
    // never loads one on this thread.
    Region* front = m_entries[static_cast<size_t>(entry.front)].region;
    if (!front->IsLevelLoaded() || !entry.region->IsLevelLoaded())
        return false;
    Frustum view;
    if (!GetLocalFrustum(static_cast<size_t>(entry.front), view))
        return false;
    const Portal* portal = front->GetPortal(entry.portal);
    Coords toBehind;
    Region* behind = nullptr;
    if (!portal || !portal->GetFrontToBackCoords(toBehind, behind) || behind != entry.region)
        return false;
    view.Transform(toBehind);
    entry.view = view;
    entry.viewKnown = true;
    out = view;
    return true;
}

void RegionLoader::FollowPortals(size_t index)
{
    if (m_entries[index].depth >= maxPortalDepth) {
        m_entries[index].portalsFollowed = true;
        return;
    }
    Frustum view;
    if (!GetLocalFrustum(index, view))
        return;
    m_entries[index].portalsFollowed = true;
    const Frustum reach = view.GetExpanded(Engine::GetLevelLoadInflation());
    Region* region = m_entries[index].region;
    for (int i = 0; i < region->GetNumPortals(); ++i) {
        const Portal* portal = region->GetPortal(i);
        if (!portal || !portal->TestIntersection(reach))
            continue;
        Region* behind = portal->GetConnectedRegion();
        if (!behind || std::any_of(m_entries.begin(), m_entries.end(),
                                   [behind](const Entry& entry) { return entry.region == behind; }))
            continue;
        Entry entry(behind);
        entry.front = static_cast<int>(index);
        entry.portal = portal->GetId();
        entry.depth = m_entries[index].depth + 1;
        m_entries.push_back(entry);
        behind->BackgroundLoadLevel(m_renderData, true);
    }
}

void RegionLoader::PreLoadRegion(size_t index)
{
    Region* region = m_entries[index].region;
    Frustum local;
    if (m_hasFrustum && GetLocalFrustum(index, local))
        region->PreLoad(&local, 1, true);
    else
        region->PreLoad(true);
}

void RegionLoader::Update()
{
    if (!m_started) {
        StartLoading();
        m_started = true;
    }
    if (m_isDone) {
        for (size_t i = 0; i < m_entries.size(); ++i) {
            if (!m_entries[i].marker && m_loader)
                continue;
            PreLoadRegion(i);
            m_entries[i].region->ResetFramesNotUpdated();
        }
        return;
    }
    bool allDone = true;
    bool allLoaded = true;
    // By index: following a region's portals appends entries, which this pass visits too.
    for (size_t i = 0; i < m_entries.size(); ++i) {
        Region* region = m_entries[i].region;
        if (region->IsLevelLoaded()) {
            if (m_followPortals && !m_entries[i].portalsFollowed)
                FollowPortals(i);
            Entry& entry = m_entries[i];
            if (entry.marker)
                PreLoadRegion(i);
            if (!entry.done) {
                if (!m_loader) {
                    // Nothing queues resources: the level is all there is to wait for.
                    PreLoadRegion(i);
                    entry.done = true;
                } else if (entry.marker) {
                    entry.done = m_loader->GetHasMarkerPast(entry.marker);
                } else {
                    PreLoadRegion(i);
                    entry.marker = m_loader->CreateMarker();
                }
            }
            region->GetLevel(false);
        } else {
            allLoaded = false;
        }
        if (!m_entries[i].done)
            allDone = false;
    }
    m_isDone = allDone;
    m_areLevelsLoaded = allLoaded;
}

} // namespace GAME
