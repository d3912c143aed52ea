#include "core/RegionServices.h"

#include "core/WorldVec3.h"

#include <atomic>

namespace GAME {

namespace {
std::atomic<RegionServices*> g_services{nullptr};
} // namespace

void RegionServices::Install(RegionServices* services)
{
    g_services.store(services, std::memory_order_release);
}

RegionServices* RegionServices::Get()
{
    return g_services.load(std::memory_order_acquire);
}

IntVec3 RegionServices::OffsetFromWorld(const Region* region)
{
    RegionServices* services = Get();
    return services ? services->GetOffsetFromWorld(region) : IntVec3();
}

Vec3 RegionServices::OffsetDifference(const Region* from, const Region* to)
{
    RegionServices* services = Get();
    return services ? services->GetOffsetDifference(from, to) : Vec3();
}

ABBox RegionServices::BoundingBox(const Region* region)
{
    RegionServices* services = Get();
    return services ? services->GetBoundingBox(region) : ABBox();
}

Coords RegionServices::RelativeTransformation(const Region* region, const Region* other)
{
    if (!other)
        return Coords();
    return Coords::Translation(OffsetDifference(region, other));
}

Vec3 RegionServices::RelativePosition(const Region* region, const WorldVec3& position)
{
    if (!position.GetRegion())
        return Vec3();
    return position.GetRegionPosition() + OffsetDifference(position.GetRegion(), region);
}

} // namespace GAME
