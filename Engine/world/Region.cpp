#include "world/Region.h"

#include "core/MathUtil.h"
#include "core/Ray.h"
#include "core/UniqueId.h"
#include "core/WorldVec3.h"
#include "world/Portal.h"

#include <algorithm>
#include <cstdint>

namespace GAME {

Region::Region(World* world, int index, const std::string& name, const ABBox& box, const IntVec3& offset,
               const RegionId& id, unsigned levelOffset, unsigned levelSize)
    : m_world(world), m_index(index), m_id(id), m_offset(offset), m_name(name), m_box(box),
      m_levelOffset(levelOffset), m_levelSize(levelSize)
{
    if (m_id.IsInvalid())
        m_id.CreateUnique();
}

Region::~Region()
{
    for (Portal* portal : m_portals)
        delete portal;
}

Vec3 Region::GetOffsetDifference(const Region* from, const Region* to)
{
    const IntVec3 a = from ? from->m_offset : IntVec3();
    const IntVec3 b = to ? to->m_offset : IntVec3();
    // 64-bit: offsets of opposite sign near the 32-bit limits must not wrap.
    return Vec3(static_cast<float>(static_cast<int64_t>(a.x) - b.x),
                static_cast<float>(static_cast<int64_t>(a.y) - b.y),
                static_cast<float>(static_cast<int64_t>(a.z) - b.z));
}

Coords Region::GetRelativeTransformation(const Region* other) const
{
    if (!other)
        return Coords();
    return Coords::Translation(GetOffsetDifference(this, other));
}

Vec3 Region::GetRelativePosition(const WorldVec3& position) const
{
    if (!position.GetRegion())
        return Vec3();
    return position.GetRegionPosition() + GetOffsetDifference(position.GetRegion(), this);
}

Level* Region::GuaranteedGetLevel(bool) const
{
    return nullptr;
}

Portal* Region::CreatePortal()
{
    Portal* portal = new Portal();
    portal->SetRegion(this);
    m_portals.push_back(portal);
    return portal;
}

void Region::DestroyPortal(Portal* portal)
{
    auto it = std::find(m_portals.begin(), m_portals.end(), portal);
    if (it == m_portals.end())
        return;
    m_portals.erase(it);
    delete portal;
}

Portal* Region::GetPortal(const UniqueId& id) const
{
    for (Portal* portal : m_portals)
        if (portal->GetId() == id)
            return portal;
    return nullptr;
}

Portal* Region::GetPortal(int index) const
{
    if (index < 0 || index >= GetNumPortals())
        return nullptr;
    return m_portals[static_cast<size_t>(index)];
}

Portal* Region::TraceSegmentAgainstPortals(const Ray& ray, float& distance, bool bothSides) const
{
    Portal* nearest = nullptr;
    for (Portal* portal : m_portals) {
        const float t = portal->GetIntersection(ray, bothSides);
        if (t < distance) {
            distance = t;
            nearest = portal;
        }
    }
    return nearest;
}

} // namespace GAME
