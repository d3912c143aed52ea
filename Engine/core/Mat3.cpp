#include "core/Mat3.h"

#include "core/Quat.h"

#include <cmath>

namespace GAME {

Mat3 Mat3::FromQuaternion(const Quat& q)
{
    const float x = q.x, y = q.y, z = q.z, w = q.w;
    return Mat3(1.0f - 2.0f * (y * y + z * z), 2.0f * x * y - 2.0f * z * w, 2.0f * x * z + 2.0f * y * w,
                2.0f * x * y + 2.0f * z * w, 1.0f - 2.0f * (x * x + z * z), 2.0f * y * z - 2.0f * x * w,
                2.0f * x * z - 2.0f * y * w, 2.0f * y * z + 2.0f * x * w, 1.0f - 2.0f * (x * x + y * y));
}

Mat3 Mat3::Inverse() const
{
    const float det = Determinant();
    if (std::fabs(det) < 0.0001f)
        return Mat3();
    const float k = 1.0f / det;
    return Mat3(
        (m[4] * m[8] - m[5] * m[7]) * k, (m[2] * m[7] - m[1] * m[8]) * k, (m[1] * m[5] - m[2] * m[4]) * k,
        (m[5] * m[6] - m[3] * m[8]) * k, (m[0] * m[8] - m[2] * m[6]) * k, (m[2] * m[3] - m[0] * m[5]) * k,
        (m[3] * m[7] - m[4] * m[6]) * k, (m[1] * m[6] - m[0] * m[7]) * k, (m[0] * m[4] - m[1] * m[3]) * k);
}

Vec2 Mat3::TransformPoint2D(const Vec2& p) const
{
    const Vec3 h = *this * Vec3(p.x, p.y, 1.0f);
    const float k = 1.0f / h.z;
    return Vec2(h.x * k, h.y * k);
}

Mat3 SquareToQuadTransform(const Vec2 quad[4])
{
    const float x0 = quad[0].x, y0 = quad[0].y, x1 = quad[1].x, y1 = quad[1].y;
    const float x2 = quad[2].x, y2 = quad[2].y, x3 = quad[3].x, y3 = quad[3].y;
    const float sx = x0 - x1 + x2 - x3;
    const float sy = y0 - y1 + y2 - y3;
    if (std::fabs(sx) < 0.0001f && std::fabs(sy) < 0.0001f)
        return Mat3(x1 - x0, x2 - x1, x0, y1 - y0, y2 - y1, y0, 0.0f, 0.0f, 1.0f);

    const float dx1 = x1 - x2, dx2 = x3 - x2, dy1 = y1 - y2, dy2 = y3 - y2;
    const float den = dx1 * dy2 - dy1 * dx2;
    const float g = (sx * dy2 - dx2 * sy) / den;
    const float h = (dx1 * sy - dy1 * sx) / den;
    return Mat3(x1 - x0 + g * x1, x3 - x0 + h * x3, x0, y1 - y0 + g * y1, y3 - y0 + h * y3, y0, g, h, 1.0f);
}

Mat3 QuadToRectTransform(float x0, float y0, float x1, float y1, const Vec2 quad[4])
{
    Mat3 rectToQuad = SquareToQuadTransform(quad);
    const float u = 1.0f / (x1 - x0);
    const float v = 1.0f / (y1 - y0);
    for (int row = 0; row < 3; ++row) {
        float* r = &rectToQuad.m[3 * row];
        const float pu = r[0] * u;
        const float qv = r[1] * v;
        r[2] = r[2] - pu * x0 - qv * y0;
        r[0] = pu;
        r[1] = qv;
    }
    return rectToQuad.Inverse();
}

void WriteTransposed3x4(const float rows[9], float out[12])
{
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c)
            out[4 * r + c] = rows[3 * c + r];
        out[4 * r + 3] = 0.0f;
    }
}

} // namespace GAME
