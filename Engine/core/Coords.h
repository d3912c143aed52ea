// Rigid frame: three axes (rows, each an axis of the local frame in the parent frame) and an
// origin. A point p maps to p.x * xAxis + p.y * yAxis + p.z * zAxis + origin; A * B is the frame
// B expressed in A's parent, so (A * B)(p) = A(B(p)). Looking frames put the view direction on
// +Z and up on +Y. A plain value of 12 floats; safe from any thread.
#pragma once

#include "core/Vec3.h"

namespace GAME {

class Mat3;
class Quat;

class Coords
{
public:
    Vec3 xAxis{1.0f, 0.0f, 0.0f};
    Vec3 yAxis{0.0f, 1.0f, 0.0f};
    Vec3 zAxis{0.0f, 0.0f, 1.0f};
    Vec3 origin{0.0f, 0.0f, 0.0f};

    constexpr Coords() = default;
    constexpr Coords(const Vec3& x, const Vec3& y, const Vec3& z, const Vec3& o)
        : xAxis(x), yAxis(y), zAxis(z), origin(o)
    {
    }

    static constexpr Coords Translation(const Vec3& v)
    {
        return Coords(Vec3(1.0f, 0.0f, 0.0f), Vec3(0.0f, 1.0f, 0.0f), Vec3(0.0f, 0.0f, 1.0f), v);
    }
    // Counter-clockwise by angle radians about a unit axis (right-hand rule), origin zero.
    static Coords Rotation(const Vec3& axis, float angle);
    // Z toward the target, X = up x Z, origin at the eye.
    static Coords LookAt(const Vec3& eye, const Vec3& target, const Vec3& up);
    static Coords LookInDirection(const Vec3& position, const Vec3& direction, const Vec3& up);
    // Axes are the columns of m.
    static Coords FromMatrix(const Vec3& origin, const Mat3& m);
    static Coords FromMatrix(const Mat3& m, const Vec3& origin) { return FromMatrix(origin, m); }
    // q is used as given, not normalised.
    static Coords FromQuaternion(const Vec3& origin, const Quat& q);
    static Coords FromQuaternion(const Quat& q, const Vec3& origin) { return FromQuaternion(origin, q); }

    constexpr Vec3 TransformVector(const Vec3& v) const { return xAxis * v.x + yAxis * v.y + zAxis * v.z; }
    constexpr Vec3 TransformPoint(const Vec3& p) const { return TransformVector(p) + origin; }

    constexpr Coords operator*(const Coords& b) const
    {
        return Coords(TransformVector(b.xAxis), TransformVector(b.yAxis), TransformVector(b.zAxis),
                      TransformPoint(b.origin));
    }
    constexpr bool operator==(const Coords& o) const
    {
        return xAxis == o.xAxis && yAxis == o.yAxis && zAxis == o.zAxis && origin == o.origin;
    }
    constexpr bool operator!=(const Coords& o) const { return !(*this == o); }

    // Inverse of a frame with orthonormal axes (transposed axes); no general inverse.
    constexpr Coords Inverse() const
    {
        return Coords(Vec3(xAxis.x, yAxis.x, zAxis.x), Vec3(xAxis.y, yAxis.y, zAxis.y),
                      Vec3(xAxis.z, yAxis.z, zAxis.z),
                      -Vec3(Vec3::Dot(xAxis, origin), Vec3::Dot(yAxis, origin), Vec3::Dot(zAxis, origin)));
    }
    // Classical Gram-Schmidt in the order X, Y, Z; the origin is kept.
    void Orthonormalize();
    // dot(X x Y, Z) < 0; false for NaN.
    constexpr bool IsLeftHanded() const { return Vec3::Dot(Vec3::Cross(xAxis, yAxis), zAxis) < 0.0f; }
    // This frame turned about one of its own (local) unit axes; the origin stays put.
    Coords Rotate(const Vec3& localAxis, float angle) const { return *this * Rotation(localAxis, angle); }

    // The axes as the columns of a 3x4 row-major block (fourth column zero), the layout shader
    // constants take.
    void WriteAxes3x4(float out[12]) const;
};

} // namespace GAME
