// 3x3 float matrix, row-major (element (r, c) at index 3r + c), applied to column vectors:
// rotations built from quaternions have the image of the x axis in column 0. Also the projective
// maps between quadrilaterals and rectangles. A plain value; safe from any thread.
#pragma once

#include "core/Vec2.h"
#include "core/Vec3.h"

namespace GAME {

class Quat;

class Mat3
{
public:
    float m[9] = {1.0f, 0.0f, 0.0f, 0.0f, 1.0f, 0.0f, 0.0f, 0.0f, 1.0f};

    constexpr Mat3() = default;
    constexpr Mat3(float m0, float m1, float m2, float m3, float m4, float m5, float m6, float m7, float m8)
        : m{m0, m1, m2, m3, m4, m5, m6, m7, m8}
    {
    }

    static constexpr Mat3 Identity() { return Mat3(); }
    // Column-vector rotation matrix of q, used as given (a zero quaternion gives the identity).
    static Mat3 FromQuaternion(const Quat& q);

    float& At(int row, int column) { return m[3 * row + column]; }
    constexpr float Get(int row, int column) const { return m[3 * row + column]; }

    constexpr Mat3 operator*(const Mat3& o) const
    {
        Mat3 r;
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j)
                r.m[3 * i + j] = m[3 * i] * o.m[j] + m[3 * i + 1] * o.m[3 + j] + m[3 * i + 2] * o.m[6 + j];
        return r;
    }
    // This matrix times the column vector v.
    constexpr Vec3 operator*(const Vec3& v) const
    {
        return Vec3(m[0] * v.x + m[1] * v.y + m[2] * v.z, m[3] * v.x + m[4] * v.y + m[5] * v.z,
                    m[6] * v.x + m[7] * v.y + m[8] * v.z);
    }
    constexpr bool operator==(const Mat3& o) const
    {
        for (int i = 0; i < 9; ++i)
            if (m[i] != o.m[i])
                return false;
        return true;
    }

    constexpr float Determinant() const
    {
        return m[0] * (m[4] * m[8] - m[7] * m[5]) - m[1] * (m[3] * m[8] - m[6] * m[5]) +
               m[2] * (m[7] * m[3] - m[6] * m[4]);
    }
    constexpr Mat3 Transpose() const { return Mat3(m[0], m[3], m[6], m[1], m[4], m[7], m[2], m[5], m[8]); }
    // Adjugate over determinant; the identity when abs(determinant) < 0.0001.
    Mat3 Inverse() const;

    // Projective image of (x, y): (row0 . (x, y, 1), row1 . (x, y, 1)) / row2 . (x, y, 1).
    Vec2 TransformPoint2D(const Vec2& p) const;
};

// Maps the unit-square corners (0,0), (1,0), (1,1), (0,1) onto quad[0..3]; the last element is 1.
// Not guarded against a degenerate quadrilateral (the result is then not finite).
Mat3 SquareToQuadTransform(const Vec2 quad[4]);
// Maps the quadrilateral quad[0..3] onto the rectangle (x0, y0)-(x1, y1), corner i going to the
// rectangle corner that SquareToQuadTransform pairs it with.
Mat3 QuadToRectTransform(float x0, float y0, float x1, float y1, const Vec2 quad[4]);

// Writes a 3x4 row-major block (4 floats a row) whose first three columns are the transpose of the
// 3x3 matrix given row by row and whose fourth column is zero.
void WriteTransposed3x4(const float rows[9], float out[12]);

} // namespace GAME
