#include "navigation/Path.h"

namespace GAME {

WorldVec3 Path::GetPoint(int index) const
{
    if (index < 0 || index >= GetNumPoints())
        return WorldVec3(nullptr, Vec3());
    return m_points[static_cast<size_t>(index)];
}

float Path::GetLength() const
{
    float length = 0.0f;
    for (size_t i = 1; i < m_points.size(); ++i)
        if (m_points[i].GetRegion() == m_points[i - 1].GetRegion())
            length += (m_points[i].GetRegionPosition() - m_points[i - 1].GetRegionPosition()).Length();
    return length;
}

int Path::GetNumRegionChanges() const
{
    int changes = 0;
    for (size_t i = 1; i < m_points.size(); ++i)
        if (m_points[i].GetRegion() != m_points[i - 1].GetRegion())
            ++changes;
    return changes;
}

} // namespace GAME
