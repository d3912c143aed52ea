// A position held relative to one region of the world: the region (not owned; null means no
// region) and a position in that region's space. Keeping positions local keeps floats small and
// precise however large the world is; differences across regions subtract the integer region
// offsets first. A plain value of 16 bytes, copied freely; the conversions call into the region
// and the world, so they follow the world's threading rules (main thread).
//
// Region-relative values inherently ask regions and the world about offsets, bounds, portals,
// floors and ids; they do so through RegionServices, which the world installs. Their binary form
// is read and written through the data layer's readers and writers.
#pragma once

#include "core/Vec3.h"

namespace GAME {

class BinaryReader;
class BinaryWriter;
class ChunkedBinaryWriter;
class Region;

class WorldVec3
{
public:
    // Only the region is set (null); the position is left as Vec3's default.
    WorldVec3() = default;
    WorldVec3(Region* region, const Vec3& position) : m_region(region), m_position(position) {}

    Region* GetRegion() const { return m_region; }
    const Vec3& GetRegionPosition() const { return m_position; }

    // Length of the local position vector.
    float Length() const { return m_position.Length(); }

    // Re-expresses the position in another region's space; nothing happens when either region is
    // null.
    void MakeRelative(Region* region);
    // Moves within the region, never changing it.
    void TranslateInRegion(const Vec3& delta) { m_position += delta; }
    // Moves by delta, passing through a portal the segment crosses (unless ignorePortals) or into
    // the region whose box then holds the position. Nothing happens without a region.
    void Translate(const Vec3& delta, bool ignorePortals);
    // Translate(delta, false), then PutOnFloor.
    bool TranslateToFloor(const Vec3& delta);
    // Drops the position onto the floor below or above it; false (value unchanged) when no floor
    // is found or there is no region.
    bool PutOnFloor();

    // 28 bytes: position (3 floats), then the region id (four words, zero for no region). Reading
    // looks the id up in the engine's world; an unknown id leaves no region. False when the reader
    // ran out.
    bool Read(BinaryReader& reader);
    void Write(BinaryWriter& writer) const;
    void Write(ChunkedBinaryWriter& writer) const;

private:
    Region* m_region = nullptr;
    Vec3 m_position;
};

// a - b in a's space. The integer offset difference of the regions is taken before converting to
// float. (+inf, +inf, +inf) when either region is null.
Vec3 operator-(const WorldVec3& a, const WorldVec3& b);
// Same region and exactly the same position; two values without a region are always equal.
bool operator==(const WorldVec3& a, const WorldVec3& b);
inline bool operator!=(const WorldVec3& a, const WorldVec3& b)
{
    return !(a == b);
}
// a moved by Translate((b - a) * t, false); a itself when the difference is undefined (a region
// is missing).
WorldVec3 Lerp(const WorldVec3& a, const WorldVec3& b, float t);

} // namespace GAME
