// A frame held relative to one region: the origin as a WorldVec3 (region and local position),
// then the X, Y and Z axes in the region's space. Moving the origin across regions or portals
// never turns the axes. A plain value of 64 bytes; conversions follow the world's threading rules
// (main thread). The source reads and writes through the data layer and asks the world's regions,
// as WorldVec3 does.
#pragma once

#include "core/Coords.h"
#include "core/WorldVec3.h"

namespace GAME {

class WorldCoords
{
public:
    // Only the region is set (null).
    WorldCoords() = default;
    // Origin zero, identity axes.
    explicit WorldCoords(Region* region);
    WorldCoords(Region* region, const Coords& coords);
    WorldCoords(const WorldVec3& origin, const Vec3& xAxis, const Vec3& yAxis, const Vec3& zAxis);

    Region* GetRegion() const { return m_origin.GetRegion(); }
    const WorldVec3& GetOrigin() const { return m_origin; }
    const Vec3& GetXAxis() const { return m_xAxis; }
    const Vec3& GetYAxis() const { return m_yAxis; }
    const Vec3& GetZAxis() const { return m_zAxis; }
    // The frame in its region's space.
    Coords GetRegionCoords() const { return Coords(m_xAxis, m_yAxis, m_zAxis, m_origin.GetRegionPosition()); }

    Vec3 TransformVector(const Vec3& v) const { return m_xAxis * v.x + m_yAxis * v.y + m_zAxis * v.z; }
    // The origin moves as WorldVec3::Translate(delta, false); the axes stay as they are.
    void Translate(const Vec3& delta) { m_origin.Translate(delta, false); }
    void SetOrigin(const WorldVec3& origin) { m_origin = origin; }
    void ClearRotation();
    // Identity axes at the position.
    void Translation(const WorldVec3& position);
    // Gram-Schmidt on the axes, as Coords::Orthonormalize.
    void Orthonormalize();

    // Z toward the target (the cross-region difference), X = unit(up x d), origin at the eye.
    // Identity axes when the direction is undefined (either position without a region).
    static WorldCoords LookAt(const WorldVec3& eye, const WorldVec3& target, const Vec3& up);
    // The same with the direction flattened to the horizontal plane first.
    static WorldCoords LookAtNoLean(const WorldVec3& eye, const WorldVec3& target, const Vec3& up);
    // The frame turned by angle about the axis through the pivot: axes of w * Rotation, origin the
    // pivot moved by the rotated offset. The origin stays w's when the offset is undefined.
    static WorldCoords RotateAroundPoint(const WorldCoords& w, const WorldVec3& pivot, const Vec3& axis,
                                         float angle);

    // 64 bytes: X, Y, Z axes (9 floats), then the origin in WorldVec3's form. False when the
    // reader ran out.
    bool Read(BinaryReader& reader);
    void Write(BinaryWriter& writer) const;
    void Write(ChunkedBinaryWriter& writer) const;

private:
    WorldVec3 m_origin;
    Vec3 m_xAxis{1.0f, 0.0f, 0.0f};
    Vec3 m_yAxis{0.0f, 1.0f, 0.0f};
    Vec3 m_zAxis{0.0f, 0.0f, 1.0f};
};

// Axes composed as in Coords; origin = w's origin plus w's axes applied to c's origin, in w's
// region (no re-homing across regions).
WorldCoords operator*(const WorldCoords& w, const Coords& c);
// Exactly equal axes and equal origins (as WorldVec3).
bool operator==(const WorldCoords& a, const WorldCoords& b);
inline bool operator!=(const WorldCoords& a, const WorldCoords& b)
{
    return !(a == b);
}
// Axes from the normalised blend of the two rotations, origin from Lerp of the origins (which may
// pass portals).
WorldCoords Lerp(const WorldCoords& a, const WorldCoords& b, float t);

} // namespace GAME
