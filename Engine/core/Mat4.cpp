#include "core/Mat4.h"

namespace GAME {

Mat4 Mat4::Transpose() const
{
    Mat4 r;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            r.m[4 * j + i] = m[4 * i + j];
    return r;
}

Mat3 Mat4::GetMinor(int row, int column) const
{
    Mat3 r;
    int k = 0;
    for (int i = 0; i < 4; ++i) {
        if (i == row)
            continue;
        for (int j = 0; j < 4; ++j)
            if (j != column)
                r.m[k++] = m[4 * i + j];
    }
    return r;
}

float Mat4::Determinant() const
{
    float det = 0.0f;
    for (int j = 0; j < 4; ++j) {
        const float term = m[j] * GetMinor(0, j).Determinant();
        det += (j & 1) ? -term : term;
    }
    return det;
}

Mat4 Mat4::Adjugate() const
{
    Mat4 r;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) {
            const float minor = GetMinor(i, j).Determinant();
            r.m[4 * j + i] = ((i + j) & 1) ? -minor : minor;
        }
    return r;
}

Mat4 Mat4::Inverse() const
{
    Mat4 r = Adjugate();
    float det = 0.0f;
    for (int k = 0; k < 4; ++k)
        det += m[k] * r.m[4 * k];
    const float inv = 1.0f / det;
    for (float& e : r.m)
        e *= inv;
    return r;
}

} // namespace GAME
