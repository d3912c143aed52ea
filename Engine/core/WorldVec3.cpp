#include "core/WorldVec3.h"

#include "core/Log.h"
#include "core/Ray.h"
#include "data/BinaryReader.h"
#include "data/BinaryWriter.h"
#include "data/ChunkedBinaryWriter.h"
#include "world/Level.h"
#include "world/Portal.h"
#include "world/Region.h"
#include "world/RegionId.h"
#include "world/World.h"

#include <atomic>

namespace GAME {

namespace {

const Vec3 kUndefined(gInfinity, gInfinity, gInfinity);

template <typename Writer> void WriteWorldVec3(Writer& writer, const Vec3& position, const Region* region)
{
    writer.WriteFloat(position.x);
    writer.WriteFloat(position.y);
    writer.WriteFloat(position.z);
    if (region)
        region->GetId().Write(writer);
    else
        RegionId().Write(writer);
}

} // namespace

Vec3 operator-(const WorldVec3& a, const WorldVec3& b)
{
    if (!a.GetRegion() || !b.GetRegion())
        return kUndefined;
    return (a.GetRegionPosition() - b.GetRegionPosition()) +
           Region::GetOffsetDifference(a.GetRegion(), b.GetRegion());
}

bool operator==(const WorldVec3& a, const WorldVec3& b)
{
    return a.GetRegion() == b.GetRegion() &&
           (!a.GetRegion() || a.GetRegionPosition() == b.GetRegionPosition());
}

WorldVec3 Lerp(const WorldVec3& a, const WorldVec3& b, float t)
{
    WorldVec3 result = a;
    const Vec3 delta = b - a;
    // Without both regions there is no path from a to b; moving by infinity would wreck a.
    if (IsFiniteVec3(delta))
        result.Translate(delta * t, false);
    return result;
}

void WorldVec3::MakeRelative(Region* region)
{
    if (!region || !m_region)
        return;
    m_position = region->GetRelativePosition(*this);
    m_region = region;
}

void WorldVec3::Translate(const Vec3& delta, bool ignorePortals)
{
    if (!m_region)
        return;
    const Portal* portal = nullptr;
    if (!ignorePortals) {
        float distance = 1.0f;
        portal = m_region->TraceSegmentAgainstPortals(Ray(m_position, delta), distance, false);
    }
    m_position += delta;
    Coords through;
    if (portal && portal->GetFrontToBackCoords(through, m_region)) {
        m_position = through.TransformPoint(m_position);
        return;
    }
    if (m_region->GetBoundingBox().ContainsPoint(m_position))
        return;
    World* world = World::GetCurrent();
    if (!world)
        return;
    if (Region* next = world->GetRegionContainingPoint(m_region, m_position)) {
        m_position = next->GetRelativePosition(*this);
        m_region = next;
    }
}

bool WorldVec3::TranslateToFloor(const Vec3& delta)
{
    Translate(delta, false);
    return PutOnFloor();
}

bool WorldVec3::PutOnFloor()
{
    if (!m_region)
        return false;
    if (Level* level = m_region->GuaranteedGetLevel(false)) {
        WorldVec3 floor;
        if (level->GetPathMesh().FindFloorPosition(*this, 2.0f, floor) && floor.GetRegion()) {
            *this = floor;
            return true;
        }
    }
    World* world = World::GetCurrent();
    if (!world)
        return false;
    const float height = world->GetNearestFloorHeight(*this);
    if (!IsFinite(height))
        return false;
    m_position.y = height;
    return true;
}

bool WorldVec3::Read(BinaryReader& reader)
{
    m_position = reader.ReadVec3();
    RegionId id;
    id.Read(reader);
    m_region = nullptr;
    if (id.IsInvalid() || reader.Failed())
        return !reader.Failed();
    if (World* world = World::GetCurrent()) {
        m_region = world->GetRegionById(id, false);
    } else {
        static std::atomic<bool> logged{false};
        if (!logged.exchange(true))
            LogPrintf(1, "WorldVec3: no world to resolve region ids; positions are read without region");
    }
    return true;
}

void WorldVec3::Write(BinaryWriter& writer) const
{
    WriteWorldVec3(writer, m_position, m_region);
}

void WorldVec3::Write(ChunkedBinaryWriter& writer) const
{
    WriteWorldVec3(writer, m_position, m_region);
}

} // namespace GAME
