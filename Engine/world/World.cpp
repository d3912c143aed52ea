#include "world/World.h"

#include "core/MathUtil.h"
#include "core/WorldRay.h"
#include "core/WorldVec3.h"
#include "world/Region.h"

#include <atomic>
#include <cmath>
#include <cstdint>

namespace GAME {

namespace {

std::atomic<World*> sCurrentWorld{nullptr};

// |p - centre| < half-extent on every axis: a point on a face belongs to no region, so two
// touching regions never both claim it.
bool StrictlyContains(const ABBox& box, const Vec3& p)
{
    const Vec3 r = p - box.center;
    return std::fabs(r.x) < box.extents.x && std::fabs(r.y) < box.extents.y && std::fabs(r.z) < box.extents.z;
}

} // namespace

World::~World()
{
    World* self = this;
    sCurrentWorld.compare_exchange_strong(self, nullptr);
    Unload();
}

void World::Unload()
{
    for (Region* region : m_regions)
        delete region;
    m_regions.clear();
}

void World::Update(const std::vector<WorldFrustum>&) {}

void World::GetEntitiesInFrustum(std::vector<Entity*>&, const WorldFrustum&, bool, int, bool) const {}

void World::SetCurrent(World* world)
{
    sCurrentWorld.store(world);
}

World* World::GetCurrent()
{
    return sCurrentWorld.load();
}

Region* World::GetRegion(int index) const
{
    if (index < 0 || index >= GetNumRegions())
        return nullptr;
    return m_regions[static_cast<size_t>(index)];
}

int World::GetRegionIndex(const Region* region) const
{
    for (size_t i = 0; i < m_regions.size(); ++i)
        if (m_regions[i] == region)
            return static_cast<int>(i);
    return -1;
}

int World::AddRegion(const char* name, const IntVec3& offset, const ABBox& box, const RegionId& id)
{
    const int index = GetNumRegions();
    m_regions.push_back(new Region(this, index, name ? name : "", box, offset, id, 0, 0));
    return index;
}

Region* World::GetRegionById(const RegionId& id, bool) const
{
    if (id.IsInvalid())
        return nullptr;
    for (Region* region : m_regions)
        if (region && region->GetId() == id)
            return region;
    return nullptr;
}

Region* World::GetRegionContainingPoint(const Region* from, const Vec3& p) const
{
    for (Region* region : m_regions) {
        if (region &&
            StrictlyContains(region->GetBoundingBox(), p + Region::GetOffsetDifference(from, region)))
            return region;
    }
    return nullptr;
}

Region* World::GetRegionContainingPoint(const IntVec3& p) const
{
    for (Region* region : m_regions) {
        if (!region)
            continue;
        const IntVec3& o = region->GetOffsetFromWorld();
        const Vec3 local(static_cast<float>(static_cast<int64_t>(p.x) - o.x),
                         static_cast<float>(static_cast<int64_t>(p.y) - o.y),
                         static_cast<float>(static_cast<int64_t>(p.z) - o.z));
        if (StrictlyContains(region->GetBoundingBox(), local))
            return region;
    }
    return nullptr;
}

float World::GetNearestFloorHeight(const WorldVec3& p) const
{
    Region* region = p.GetRegion();
    if (!region)
        return -gInfinity;
    const Vec3& pos = p.GetRegionPosition();
    const float down =
        CastRay(WorldRay(WorldVec3(region, pos + Vec3(0.0f, 2.5f, 0.0f)), Vec3(0.0f, -1.0f, 0.0f)));
    if (down < gInfinity)
        return (pos.y + 2.5f) - down;
    const float up =
        CastRay(WorldRay(WorldVec3(region, pos - Vec3(0.0f, 2.5f, 0.0f)), Vec3(0.0f, 1.0f, 0.0f)));
    if (up < gInfinity)
        return (pos.y - 2.5f) + up;
    return -gInfinity;
}

float World::CastRay(const WorldRay&) const
{
    return gInfinity;
}

} // namespace GAME
