#include "core/WorldVec3.h"

#include "core/Coords.h"
#include "core/Log.h"
#include "core/Ray.h"
#include "core/RegionServices.h"
#include "data/BinaryReader.h"
#include "data/BinaryWriter.h"
#include "data/ChunkedBinaryWriter.h"

#include <atomic>

namespace GAME {

namespace {

const Vec3 kUndefined(gInfinity, gInfinity, gInfinity);

template <typename Writer> void WriteWorldVec3(Writer& writer, const Vec3& position, const Region* region)
{
    writer.WriteFloat(position.x);
    writer.WriteFloat(position.y);
    writer.WriteFloat(position.z);
    RegionServices* services = region ? RegionServices::Get() : nullptr;
    const RegionServices::IdWords id = services ? services->GetRegionId(region) : RegionServices::IdWords{};
    for (uint32_t word : id)
        writer.WriteUInt32(word);
}

} // namespace

Vec3 operator-(const WorldVec3& a, const WorldVec3& b)
{
    if (!a.GetRegion() || !b.GetRegion())
        return kUndefined;
    return (a.GetRegionPosition() - b.GetRegionPosition()) +
           RegionServices::OffsetDifference(a.GetRegion(), b.GetRegion());
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
    m_position = m_position + RegionServices::OffsetDifference(m_region, region);
    m_region = region;
}

void WorldVec3::Translate(const Vec3& delta, bool ignorePortals)
{
    if (!m_region)
        return;
    RegionServices* services = RegionServices::Get();
    Coords through;
    const bool passed =
        !ignorePortals && services && services->PassPortal(m_region, Ray(m_position, delta), through);
    m_position += delta;
    if (passed) {
        m_position = through.TransformPoint(m_position);
        return;
    }
    if (RegionServices::BoundingBox(m_region).ContainsPoint(m_position))
        return;
    if (Region* next = services ? services->GetRegionContainingPoint(m_region, m_position) : nullptr) {
        m_position = m_position + RegionServices::OffsetDifference(m_region, next);
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
    RegionServices* services = RegionServices::Get();
    if (!services)
        return false;
    WorldVec3 floor;
    if (services->FindPathMeshFloor(*this, 2.0f, floor) && floor.GetRegion()) {
        *this = floor;
        return true;
    }
    const float height = services->GetNearestFloorHeight(*this);
    if (!IsFinite(height))
        return false;
    m_position.y = height;
    return true;
}

bool WorldVec3::Read(BinaryReader& reader)
{
    m_position = reader.ReadVec3();
    RegionServices::IdWords id;
    for (uint32_t& word : id)
        word = reader.ReadUInt32();
    m_region = nullptr;
    if (id == RegionServices::IdWords{} || reader.Failed())
        return !reader.Failed();
    RegionServices* services = RegionServices::Get();
    if (!services || !services->FindRegionById(id, m_region)) {
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
