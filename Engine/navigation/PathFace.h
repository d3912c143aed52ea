// One triangle handed to the path-mesh build: walkable ground, or part of an obstacle that blocks
// it. The calculators append walkable faces of terrain and grids, the level appends obstacle faces
// of its entities' collision meshes, and the connector joins them edge to edge. Corners are in the
// build frame: relative to the centre of the build box. Plain values; one thread at a time.
#pragma once

#include "core/IntSpaceBox.h"
#include "core/Vec3.h"

#include <cmath>
#include <cstdint>

namespace GAME {

enum PathFaceFlags : uint32_t
{
    PATH_FACE_WALKABLE = 1,
    PATH_FACE_OBSTACLE = 2,
};

struct PathFace
{
    // The walkable surface the connector put the face in (faces joined edge to edge share one);
    // -1 for obstacle faces and faces not joined yet.
    int32_t group = -1;
    Vec3 corners[3];
    // PATH_FACE_WALKABLE or PATH_FACE_OBSTACLE.
    uint32_t flags = 0;
    // The walkable face across edge i (corners i and i + 1), -1 for none; set by the connector.
    int32_t neighbours[3] = {-1, -1, -1};

    PathFace() = default;
    PathFace(const Vec3& a, const Vec3& b, const Vec3& c, uint32_t flags_) : corners{a, b, c}, flags(flags_)
    {
    }

    bool IsWalkable() const { return flags == PATH_FACE_WALKABLE; }
    bool IsObstacle() const { return flags == PATH_FACE_OBSTACLE; }
};

// Ground steeper than this (degrees from level) is not walked on.
constexpr float pathMaxSlopeDegrees = 45.0f;

// Whether the triangle is flat enough to walk on, whichever way it faces.
inline bool IsWalkableSlope(const Vec3& a, const Vec3& b, const Vec3& c)
{
    const Vec3 n = Vec3::Cross(b - a, c - a);
    const float length = n.Length();
    return length > 0.0f && std::fabs(n.y) / length >= std::cos(pathMaxSlopeDegrees * 0.017453292f);
}

// What a position of a space whose origin lies at `origin` (world units) gains on the way into
// the build frame of the box: origin - box centre, subtracted in 64 bits.
inline Vec3 BuildFrameShift(const IntVec3& origin, const IntSpaceBox& box)
{
    return Vec3(static_cast<float>(static_cast<int64_t>(origin.x) - box.center.x),
                static_cast<float>(static_cast<int64_t>(origin.y) - box.center.y),
                static_cast<float>(static_cast<int64_t>(origin.z) - box.center.z));
}

} // namespace GAME
