#include "core/Quat.h"

#include "core/Coords.h"

namespace GAME {

Quat Quat::FromMatrix(const float m[9])
{
    const float t = m[0] + m[4] + m[8] + 1.0f;
    if (t > 0.0001f) {
        const float s = std::sqrt(t);
        const float k = 1.0f / (2.0f * s);
        return Quat((m[5] - m[7]) * k, (m[6] - m[2]) * k, (m[1] - m[3]) * k, 2.0f * s * 0.25f);
    }
    // m0 == m4 > m8 also takes the x branch: the z branch would take the root of about zero.
    if (m[0] >= m[4] && m[0] > m[8]) {
        const float s = 2.0f * std::sqrt(m[0] + 1.0f - m[4] - m[8]);
        return Quat(0.25f * s, (m[3] + m[1]) / s, (m[6] + m[2]) / s, (m[5] - m[7]) / s);
    }
    if (m[4] > m[0] && m[4] > m[8]) {
        const float s = 2.0f * std::sqrt(m[4] + 1.0f - m[0] - m[8]);
        return Quat((m[3] + m[1]) / s, 0.25f * s, (m[7] + m[5]) / s, (m[6] - m[2]) / s);
    }
    const float s = std::sqrt(m[8] + 1.0f - m[0] - m[4]);
    const float k = 1.0f / (2.0f * s);
    return Quat((m[6] + m[2]) * k, (m[7] + m[5]) * k, 2.0f * s * 0.25f, (m[1] - m[3]) * k);
}

Quat Quat::FromMatrix(const Coords& c)
{
    const float rows[9] = {c.xAxis.x, c.xAxis.y, c.xAxis.z, c.yAxis.x, c.yAxis.y,
                           c.yAxis.z, c.zAxis.x, c.zAxis.y, c.zAxis.z};
    return FromMatrix(rows);
}

} // namespace GAME
