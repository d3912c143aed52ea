#include "core/SimplePolygon.h"

#include "core/Intersect.h"

#include <algorithm>
#include <cmath>

namespace GAME {

namespace {

constexpr float kPi = 3.1415927f;

} // namespace

void SimplePolygon::Reverse()
{
    std::reverse(m_vertices.begin(), m_vertices.end());
}

int SimplePolygon::GetLeftmostVertex() const
{
    int best = m_vertices.empty() ? -1 : 0;
    for (int i = 1; i < GetNumVertices(); ++i)
        if (m_vertices[i].x < m_vertices[best].x)
            best = i;
    return best;
}

float SimplePolygon::GetSignedArea() const
{
    const size_t n = m_vertices.size();
    double sum = 0.0;
    for (size_t i = 0; i < n; ++i) {
        const PolygonVertex& cur = m_vertices[i];
        const PolygonVertex& prev = m_vertices[(i + n - 1) % n];
        sum += double(cur.x) * prev.y - double(prev.x) * cur.y;
    }
    return static_cast<float>(0.5 * sum);
}

bool SimplePolygon::IsClockwise() const
{
    const int n = GetNumVertices();
    if (n == 0)
        return false;
    const int l = GetLeftmostVertex();
    const Vec2 L = m_vertices[l].Position();
    const Vec2 P = m_vertices[(l + n - 1) % n].Position();
    const Vec2 N = m_vertices[(l + 1) % n].Position();
    return Vec2::Cross(L - P, N - P) < 0.0f;
}

bool SimplePolygon::Contains(const Vec2& p) const
{
    const size_t n = m_vertices.size();
    float total = 0.0f;
    for (size_t i = 0; i < n; ++i) {
        const Vec2 a = m_vertices[i].Position() - p;
        const Vec2 b = m_vertices[(i + 1) % n].Position() - p;
        float change = std::atan2(b.y, b.x) - std::atan2(a.y, a.x);
        if (change > kPi)
            change -= 2.0f * kPi;
        else if (change <= -kPi)
            change += 2.0f * kPi;
        total += change;
    }
    return std::fabs(total) >= kPi;
}

void SimplePolygon::MergeHole(const SimplePolygon& hole)
{
    const int n = GetNumVertices();
    const int holeCount = hole.GetNumVertices();
    if (n == 0 || holeCount == 0)
        return;
    const int h = hole.GetLeftmostVertex();
    const Vec2 H = hole.GetVertex(h).Position();

    for (int i = 0; i < n; ++i) {
        const Vec2 V = m_vertices[i].Position();
        if (!(V.x <= H.x))
            continue;
        const Vec2 P = m_vertices[(i + n - 1) % n].Position();
        const Vec2 N = m_vertices[(i + 1) % n].Position();

        // H must lie inside the cone of the corner at V.
        const float corner = Vec2::Cross(V - P, N - P);
        const float sideOfIncoming = Vec2::Cross(V - P, H - P);
        const float sideOfOutgoing = Vec2::Cross(V - H, N - H);
        if (corner > 0.0f) {
            if (!(sideOfIncoming > 0.0f && sideOfOutgoing > 0.0f))
                continue;
        } else if (corner < 0.0f) {
            if (sideOfIncoming <= 0.0f && sideOfOutgoing <= 0.0f)
                continue;
        } else {
            continue;
        }

        bool blocked = false;
        for (int j = 0; j < n && !blocked; ++j) {
            const int next = (j + 1) % n;
            if (j == i || next == i)
                continue;
            blocked = SegmentsIntersect2D(V, H, m_vertices[j].Position(), m_vertices[next].Position());
        }
        if (blocked)
            continue;

        std::vector<PolygonVertex> merged;
        merged.reserve(static_cast<size_t>(n + holeCount + 2));
        merged.insert(merged.end(), m_vertices.begin(), m_vertices.begin() + i + 1);
        for (int k = 0; k < holeCount; ++k)
            merged.push_back(hole.GetVertex((h + k) % holeCount));
        merged.push_back(hole.GetVertex(h));
        merged.push_back(m_vertices[i]);
        merged.insert(merged.end(), m_vertices.begin() + i + 1, m_vertices.end());
        m_vertices.swap(merged);
        return;
    }
}

} // namespace GAME
