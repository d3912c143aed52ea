#include "core/Coords.h"

#include "core/Mat3.h"
#include "core/Quat.h"

#include <cmath>

namespace GAME {

Coords Coords::Rotation(const Vec3& axis, float angle)
{
    const float c = std::cos(angle);
    const float s = std::sin(angle);
    const float k = 1.0f - c;
    const float x = axis.x, y = axis.y, z = axis.z;
    return Coords(Vec3(x * x * k + c, x * y * k + z * s, x * z * k - y * s),
                  Vec3(x * y * k - z * s, y * y * k + c, y * z * k + x * s),
                  Vec3(x * z * k + y * s, y * z * k - x * s, z * z * k + c), Vec3(0.0f, 0.0f, 0.0f));
}

Coords Coords::LookAt(const Vec3& eye, const Vec3& target, const Vec3& up)
{
    const Vec3 d = target - eye;
    const Vec3 side = Vec3::Cross(up, d);
    return Coords(side.Unit(), Vec3::Cross(d, side).Unit(), d.Unit(), eye);
}

Coords Coords::LookInDirection(const Vec3& position, const Vec3& direction, const Vec3& up)
{
    const Vec3 z = direction.Unit();
    const Vec3 x = Vec3::Cross(up, z).Unit();
    const Vec3 y = Vec3::Cross(z, x).Unit();
    return Coords(x, y, z, position);
}

Coords Coords::FromMatrix(const Vec3& origin, const Mat3& m)
{
    return Coords(Vec3(m.Get(0, 0), m.Get(1, 0), m.Get(2, 0)), Vec3(m.Get(0, 1), m.Get(1, 1), m.Get(2, 1)),
                  Vec3(m.Get(0, 2), m.Get(1, 2), m.Get(2, 2)), origin);
}

Coords Coords::FromQuaternion(const Vec3& origin, const Quat& q)
{
    const float x = q.x, y = q.y, z = q.z, w = q.w;
    return Coords(
        Vec3(1.0f - 2.0f * (y * y + z * z), 2.0f * x * y + 2.0f * z * w, 2.0f * x * z - 2.0f * y * w),
        Vec3(2.0f * x * y - 2.0f * z * w, 1.0f - 2.0f * (x * x + z * z), 2.0f * y * z + 2.0f * x * w),
        Vec3(2.0f * x * z + 2.0f * y * w, 2.0f * y * z - 2.0f * x * w, 1.0f - 2.0f * (x * x + y * y)),
        origin);
}

void Coords::Orthonormalize()
{
    const Vec3 givenZ = zAxis;
    xAxis = xAxis.Unit();
    yAxis = (yAxis - yAxis.ProjectOnto(xAxis)).Unit();
    zAxis = (givenZ - givenZ.ProjectOnto(xAxis) - givenZ.ProjectOnto(yAxis)).Unit();
}

void Coords::WriteAxes3x4(float out[12]) const
{
    const float rows[9] = {xAxis.x, xAxis.y, xAxis.z, yAxis.x, yAxis.y, yAxis.z, zAxis.x, zAxis.y, zAxis.z};
    WriteTransposed3x4(rows, out);
}

} // namespace GAME
