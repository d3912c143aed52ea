#include "core/Sphere.h"

#include <cmath>

namespace GAME {

float Sphere::IntersectRay(const Ray& ray) const
{
    const Vec3 v = center - ray.origin;
    const float b = Vec3::Dot(v, ray.direction);
    const float s = Vec3::Dot(v, v);
    const float r2 = radius * radius;
    if (b < 0.0f && s > r2)
        return gInfinity;
    if (s < r2)
        return 0.0f;
    const float m = s - b * b;
    if (m > r2)
        return gInfinity;
    const float q = std::sqrt(r2 - m);
    return s == r2 ? b + q : b - q;
}

} // namespace GAME
