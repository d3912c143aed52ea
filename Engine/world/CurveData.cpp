#include "world/CurveData.h"

#include "core/MathUtil.h"
#include "data/BinaryReader.h"
#include "data/BinaryWriter.h"

#include <cmath>

namespace GAME {

namespace {

float Finite(float value)
{
    return IsFinite(value) ? value : 0.0f;
}

// Distance of p from the line through a and b (from a when they coincide).
float DistanceToLine(const Vec2& p, const Vec2& a, const Vec2& b)
{
    const Vec2 ab = b - a;
    const float length = ab.Length();
    if (!(length > 0.0f))
        return (p - a).Length();
    return std::fabs(Vec2::Cross(ab, p - a)) / length;
}

} // namespace

CurveData::CurveData()
{
    m_points.push_back(Vec2(0.0f, 0.0f));
    m_points.push_back(Vec2(10.0f, 1.0f));
    UpdateSegmentList();
}

void CurveData::Copy(const CurveData* other)
{
    if (!other || other == this)
        return;
    m_loop = other->m_loop;
    m_halfGraph = other->m_halfGraph;
    m_color = other->m_color;
    m_restValue = other->m_restValue;
    m_domain = other->m_domain;
    m_inverseDomain = other->m_inverseDomain;
    m_range = other->m_range;
    m_points = other->m_points;
    m_segmentCount = other->m_segmentCount;
    m_segments = other->m_segments;
}

float CurveData::GetY(float x) const
{
    if (m_points.empty())
        return 0.0f;
    if (x > m_domain) {
        if (!m_loop)
            return m_restValue;
        if (m_domain > 0.0f) {
            x -= std::nearbyint(x * m_inverseDomain) * m_domain;
            if (x < 0.0f)
                x += m_domain;
        }
    }
    if (x < 0.0001f)
        return m_points.front().y;

    const Segment* segment = nullptr;
    if (m_cachedSegment < m_segmentCount) {
        const Segment& cached = m_segments[m_cachedSegment];
        if (cached.startX <= x && x <= cached.endX)
            segment = &cached;
    }
    if (!segment) {
        for (uint32_t i = 0; i < m_segmentCount; ++i) {
            if (m_segments[i].endX >= x) {
                m_cachedSegment = i;
                segment = &m_segments[i];
                break;
            }
        }
    }
    if (!segment)
        return m_points.back().y;
    return (x - segment->startX) * segment->slope + segment->startY;
}

float CurveData::GetMaxY() const
{
    if (m_points.empty())
        return 0.0f;
    float largest = m_points.front().y;
    for (const Vec2& p : m_points)
        largest = Max(largest, p.y);
    return largest;
}

void CurveData::SetDomain(float domain)
{
    domain = Finite(domain);
    // Points keep their place in the box; a box of no width has no place to keep.
    const float scale = m_domain != 0.0f ? domain / m_domain : 1.0f;
    m_domain = domain;
    m_inverseDomain = domain != 0.0f ? 1.0f / domain : 0.0f;
    if (!m_points.empty()) {
        for (size_t i = 0; i + 1 < m_points.size(); ++i)
            m_points[i].x = Finite(m_points[i].x * scale);
        m_points.back().x = domain;
    }
    UpdateSegmentList();
}

void CurveData::SetRange(float range)
{
    range = Finite(range);
    const float scale = m_range != 0.0f ? range / m_range : 1.0f;
    for (Vec2& p : m_points)
        p.y = Finite(p.y * scale);
    m_range = range;
    UpdateSegmentList();
}

void CurveData::SetFirstLastY(float first, float last)
{
    if (m_points.size() < 2)
        return;
    m_points.front().y = first;
    m_points.back().y = last;
    UpdateSegmentList();
}

void CurveData::SetHalfGraph(bool halfGraph)
{
    m_halfGraph = halfGraph;
    m_restValue = halfGraph ? m_range * 0.5f : 0.01f;
}

void CurveData::UpdateSegmentList()
{
    if (m_points.size() < 2) {
        m_segmentCount = 0;
        return;
    }
    m_segmentCount = static_cast<uint32_t>(m_points.size() - 1);
    m_segments.resize(m_segmentCount);
    for (uint32_t i = 0; i < m_segmentCount; ++i) {
        const Vec2& a = m_points[i];
        const Vec2& b = m_points[i + 1];
        Segment& s = m_segments[i];
        s.startX = a.x;
        s.endX = b.x;
        // Two points at one x make a step, not an infinite slope.
        const float slope = (b.y - a.y) / (b.x - a.x);
        s.slope = IsFinite(slope) ? slope : 0.0f;
        s.startY = a.y;
    }
    if (m_cachedSegment >= m_segmentCount)
        m_cachedSegment = 0;
}

void CurveData::Simplify(float tolerance)
{
    bool removed = true;
    while (removed && m_points.size() >= 3) {
        removed = false;
        size_t i = 0;
        while (i + 2 < m_points.size()) {
            if (DistanceToLine(m_points[i + 1], m_points[i], m_points[i + 2]) < tolerance) {
                m_points.erase(m_points.begin() + static_cast<std::ptrdiff_t>(i + 1));
                removed = true;
            } else {
                ++i;
            }
        }
    }
    UpdateSegmentList();
}

bool CurveData::BinaryRead(BinaryReader& reader)
{
    const float domain = reader.ReadFloat();
    const float range = reader.ReadFloat();
    const uint32_t count = reader.ReadUInt32();
    m_points.clear();
    if (reader.Failed()) {
        UpdateSegmentList();
        return false;
    }
    SetDomain(domain);
    SetRange(range);
    if (count > maxPoints || !reader.CheckCount(count, 8, "curve points")) {
        reader.Fail();
        UpdateSegmentList();
        return false;
    }
    m_points.reserve(count);
    for (uint32_t i = 0; i < count; ++i) {
        const float x = Finite(reader.ReadFloat());
        const float y = Finite(reader.ReadFloat());
        m_points.push_back(Vec2(x, y));
    }
    UpdateSegmentList();
    return !reader.Failed();
}

void CurveData::BinaryWrite(BinaryWriter& writer) const
{
    writer.WriteFloat(m_domain);
    writer.WriteFloat(m_range);
    writer.WriteUInt32(static_cast<uint32_t>(m_points.size()));
    for (const Vec2& p : m_points) {
        writer.WriteFloat(p.x);
        writer.WriteFloat(p.y);
    }
}

} // namespace GAME
