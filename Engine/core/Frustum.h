// Frustum: a list of planes; inside means in front of every plane. A frustum without planes
// contains nothing. A value that owns its plane list; copy freely, one thread at a time.
#pragma once

#include "core/Plane.h"
#include "core/Sphere.h"

#include <cstddef>
#include <utility>
#include <vector>

namespace GAME {

class Frustum
{
public:
    std::vector<Plane> planes;

    Frustum() = default;
    explicit Frustum(std::vector<Plane> planes_) : planes(std::move(planes_)) {}

    void AddPlane(const Plane& plane) { planes.push_back(plane); }
    // Planes added by growing are zero until the caller fills them.
    void SetNumPlanes(size_t count) { planes.resize(count); }
    size_t GetNumPlanes() const { return planes.size(); }
    Plane& GetPlane(size_t index) { return planes[index]; }
    const Plane& GetPlane(size_t index) const { return planes[index]; }
    void Clear() { planes.clear(); }

    // Every plane carried by the frame, in place.
    void Transform(const Coords& coords);
    // Every plane moved by offset, in place.
    void Translate(const Vec3& offset);
    // A copy with every plane pushed out by distance (grown for positive distances).
    Frustum GetExpanded(float distance) const;

    // False without planes; otherwise false when the sphere, grown by margin, lies wholly behind a
    // plane. A sphere touching a plane from behind is accepted.
    bool IntersectsSphere(const Sphere& sphere, float margin) const;
};

} // namespace GAME
