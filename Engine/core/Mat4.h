// 4x4 float matrix, row-major (element (r, c) at index 4r + c), applied to column vectors:
// translation sits in column 3 and a frame's axes become columns 0 to 2. Camera, projection
// and shader matrices. A plain value; safe from any thread.
#pragma once

#include "core/Coords.h"
#include "core/Mat3.h"
#include "core/Vec4.h"

namespace GAME {

class Mat4
{
public:
    float m[16] = {1.0f, 0.0f, 0.0f, 0.0f, 0.0f, 1.0f, 0.0f, 0.0f,
                   0.0f, 0.0f, 1.0f, 0.0f, 0.0f, 0.0f, 0.0f, 1.0f};

    constexpr Mat4() = default;
    // Columns 0, 1, 2 are the axes, column 3 the origin, bottom row 0, 0, 0, 1.
    constexpr explicit Mat4(const Coords& c)
        : m{c.xAxis.x, c.yAxis.x, c.zAxis.x, c.origin.x, c.xAxis.y, c.yAxis.y, c.zAxis.y, c.origin.y,
            c.xAxis.z, c.yAxis.z, c.zAxis.z, c.origin.z, 0.0f,      0.0f,      0.0f,      1.0f}
    {
    }

    static constexpr Mat4 Identity() { return Mat4(); }

    float& At(int row, int column) { return m[4 * row + column]; }
    constexpr float Get(int row, int column) const { return m[4 * row + column]; }

    constexpr Mat4 operator*(const Mat4& o) const
    {
        Mat4 r;
        for (int i = 0; i < 4; ++i)
            for (int j = 0; j < 4; ++j)
                r.m[4 * i + j] = m[4 * i] * o.m[j] + m[4 * i + 1] * o.m[4 + j] + m[4 * i + 2] * o.m[8 + j] +
                                 m[4 * i + 3] * o.m[12 + j];
        return r;
    }
    // This matrix times the column vector v.
    constexpr Vec4 operator*(const Vec4& v) const
    {
        return Vec4(m[0] * v.x + m[1] * v.y + m[2] * v.z + m[3] * v.w,
                    m[4] * v.x + m[5] * v.y + m[6] * v.z + m[7] * v.w,
                    m[8] * v.x + m[9] * v.y + m[10] * v.z + m[11] * v.w,
                    m[12] * v.x + m[13] * v.y + m[14] * v.z + m[15] * v.w);
    }
    // (p, 1) transformed, then divided by its w (no guard for w = 0).
    Vec3 TransformPoint(const Vec3& p) const
    {
        const Vec4 h = *this * Vec4(p, 1.0f);
        const float k = 1.0f / h.w;
        return Vec3(h.x * k, h.y * k, h.z * k);
    }
    // (v, 0) transformed: the upper 3x3 block applied to v.
    constexpr Vec3 TransformVector(const Vec3& v) const
    {
        return Vec3(m[0] * v.x + m[1] * v.y + m[2] * v.z, m[4] * v.x + m[5] * v.y + m[6] * v.z,
                    m[8] * v.x + m[9] * v.y + m[10] * v.z);
    }
    constexpr bool operator==(const Mat4& o) const
    {
        for (int i = 0; i < 16; ++i)
            if (m[i] != o.m[i])
                return false;
        return true;
    }

    Mat4 Transpose() const;
    // The 3x3 matrix left when the given row and column are removed.
    Mat3 GetMinor(int row, int column) const;
    // Cofactor expansion along row 0.
    float Determinant() const;
    // Element (j, i) = (-1)^(i+j) det(minor(i, j)).
    Mat4 Adjugate() const;
    // Adjugate over the determinant; not guarded for a singular matrix (the result is then not
    // finite).
    Mat4 Inverse() const;
};

inline Mat4 MultiplyMat4(const Mat4& a, const Mat4& b)
{
    return a * b;
}

} // namespace GAME
