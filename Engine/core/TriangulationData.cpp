#include "core/TriangulationData.h"

#include "core/Geometry2D.h"
#include "core/Log.h"
#include "core/MeshGenerator2D.h"
#include "core/PointWelder.h"
#include "core/Vec3.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>
#include <string>

namespace GAME {

namespace {

constexpr float kShortSegment = 0.0001f;

// Truncates toward zero to 64 bits; values a 64-bit integer cannot hold (and NaN) are clamped
// first instead of being converted blindly.
int64_t TruncateToInt64(double value)
{
    if (std::isnan(value))
        return 0;
    return static_cast<int64_t>(std::clamp(value, -9.0e18, 9.0e18));
}

// "%0.20f" of the value, independent of the process locale.
void AppendFixed20(std::string& text, double value)
{
    char buffer[400];
    const auto result = std::to_chars(buffer, buffer + sizeof(buffer), value, std::chars_format::fixed, 20);
    if (result.ec == std::errc())
        text.append(buffer, result.ptr);
    else
        text.append("nan");
}

} // namespace

size_t TriangulationData::PointKeyHash::operator()(const PointKey& key) const
{
    return uint32_t(uint64_t(TruncateToInt64(double(key.y) * 123456.0 + double(key.x))));
}

size_t TriangulationData::SegmentKeyHash::operator()(uint64_t key) const
{
    const uint32_t first = uint32_t(key >> 32), second = uint32_t(key);
    return second * 123456u + first;
}

TriangulationData::TriangulationData()
{
    m_segmentTable.reserve(100);
    m_pointTable.reserve(100);
}

TriangulationData::~TriangulationData() = default;

Vec2 TriangulationData::SnapPoint(float x, float y) const
{
    return SnapToGrid(Vec2(x, y), m_snapSpacing);
}

int32_t TriangulationData::FindPoint(float x, float y) const
{
    const Vec2 snapped = SnapPoint(x, y);
    auto found = m_pointTable.find(PointKey{snapped.x, snapped.y});
    return found == m_pointTable.end() ? -1 : found->second;
}

int32_t TriangulationData::AddPoint(const PolygonVertex& vertex)
{
    const Vec2 snapped = SnapPoint(vertex.x, vertex.y);
    const int32_t index = static_cast<int32_t>(m_points.size());
    // The first vertex to reach a snapped position decides its height and values.
    auto [entry, added] = m_pointTable.emplace(PointKey{snapped.x, snapped.y}, index);
    if (!added)
        return entry->second;
    m_points.push_back(snapped);
    m_heights.push_back(vertex.height);
    m_pointValues.push_back({vertex.values[0], vertex.values[1], vertex.values[2]});
    return index;
}

void TriangulationData::AppendSegment(int32_t first, int32_t second)
{
    m_segmentTable.emplace(SegmentKey(first, second), static_cast<uint32_t>(m_segments.size()));
    m_segments.emplace_back(first, second);
}

void TriangulationData::AddSegment(const PolygonVertex& a, const PolygonVertex& b)
{
    const int32_t first = AddPoint(a);
    const int32_t second = AddPoint(b);
    AppendSegment(first, second);
}

void TriangulationData::ToggleSegment(const PolygonVertex& a, const PolygonVertex& b)
{
    const int32_t first = FindPoint(a.x, a.y);
    const int32_t second = FindPoint(b.x, b.y);
    if (first < 0 || second < 0)
        return;

    auto [begin, end] = m_segmentTable.equal_range(SegmentKey(second, first));
    if (begin == end) {
        AppendSegment(first, second);
        return;
    }
    // Of several equal entries the earliest goes, so the list keeps its order.
    auto earliest = begin;
    for (auto it = begin; it != end; ++it)
        if (it->second < earliest->second)
            earliest = it;
    m_segments[earliest->second] = kRemovedSegment;
    m_segmentTable.erase(earliest);
    ++m_deadSegments;
    // Removed entries are dropped in bulk so that toggling stays constant time on average.
    if (m_deadSegments > 64 && m_deadSegments * 2 > m_segments.size())
        CompactSegments();
}

void TriangulationData::CompactSegments()
{
    if (m_deadSegments != 0) {
        m_segments.erase(std::remove(m_segments.begin(), m_segments.end(), kRemovedSegment),
                         m_segments.end());
        m_deadSegments = 0;
    }
    m_segmentTable.clear();
    for (size_t i = 0; i < m_segments.size(); ++i)
        m_segmentTable.emplace(SegmentKey(m_segments[i].first, m_segments[i].second),
                               static_cast<uint32_t>(i));
}

template <class Predicate> void TriangulationData::RemoveSegmentsIf(Predicate shouldRemove)
{
    for (auto& segment : m_segments) {
        if (segment != kRemovedSegment && shouldRemove(segment)) {
            segment = kRemovedSegment;
            ++m_deadSegments;
        }
    }
    CompactSegments();
}

PolygonVertex TriangulationData::GetVertex(int32_t i) const
{
    PolygonVertex vertex;
    if (i < 0 || i >= GetNumPoints())
        return vertex;
    vertex.x = m_points[i].x;
    vertex.y = m_points[i].y;
    vertex.height = m_heights[i];
    for (int k = 0; k < 3; ++k)
        vertex.values[k] = m_pointValues[i][k];
    return vertex;
}

std::vector<std::pair<int32_t, int32_t>> TriangulationData::GetSegments() const
{
    std::vector<std::pair<int32_t, int32_t>> live;
    live.reserve(m_segments.size() - m_deadSegments);
    for (const auto& segment : m_segments)
        if (segment != kRemovedSegment)
            live.push_back(segment);
    return live;
}

void TriangulationData::Triangulate(std::unique_ptr<int32_t[]>& indices, int32_t& triangleCount)
{
    indices.reset();
    triangleCount = 0;
    if (m_points.empty())
        return;
    CriticalSectionLock lock(m_lock);
    std::vector<int32_t> segments;
    segments.reserve(2 * (m_segments.size() - m_deadSegments));
    for (const auto& segment : m_segments) {
        if (segment == kRemovedSegment)
            continue;
        segments.push_back(segment.first);
        segments.push_back(segment.second);
    }
    TriangulatePoints(m_points.data(), GetNumPoints(), segments.data(),
                      static_cast<int32_t>(segments.size() / 2), indices, triangleCount);
}

void TriangulationData::RemoveShortSegments()
{
    RemoveSegmentsIf([this](const std::pair<int32_t, int32_t>& segment) {
        const Vec2 d = m_points[segment.second] - m_points[segment.first];
        return std::sqrt(d.x * d.x + d.y * d.y) < kShortSegment;
    });
}

void TriangulationData::WeldPoints()
{
    std::vector<Vec3> points;
    points.reserve(m_points.size());
    for (size_t i = 0; i < m_points.size(); ++i)
        points.emplace_back(m_points[i].x, m_heights[i], m_points[i].y);
    PointWelder welder;
    welder.Weld(points);
    for (size_t i = 0; i < m_points.size(); ++i) {
        m_points[i] = Vec2(points[i].x, points[i].z);
        m_heights[i] = points[i].y;
    }
    RemoveSegmentsIf([&points](const std::pair<int32_t, int32_t>& segment) {
        const Vec3 d = points[segment.second] - points[segment.first];
        return std::sqrt(d.LengthSquared()) < kShortSegment;
    });
}

bool TriangulationData::DumpToFile(const char* path)
{
    const char* dashes = "# --------------------\n";
    std::string text = "# Positions\n";
    text += dashes;
    for (const Vec2& p : m_points) {
        text += "# ";
        AppendFixed20(text, p.x);
        text += ' ';
        AppendFixed20(text, p.y);
        text += '\n';
    }
    text += "\n# Segments\n";
    text += dashes;
    const auto segments = GetSegments();
    for (const auto& segment : segments)
        text += "# " + std::to_string(segment.first) + ' ' + std::to_string(segment.second) + '\n';
    text += "\n# GNUPLOT data\n\n";
    for (const auto& segment : segments) {
        for (int32_t index : {segment.first, segment.second}) {
            AppendFixed20(text, m_points[index].x);
            text += ' ';
            AppendFixed20(text, m_points[index].y);
            text += '\n';
        }
        text += '\n';
    }

    std::FILE* file = path ? std::fopen(path, "w") : nullptr;
    if (!file) {
        LogPrintf(1, "TriangulationData: cannot open \"%s\" for writing", path ? path : "");
        return false;
    }
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    const bool closed = std::fclose(file) == 0;
    if (!written || !closed) {
        LogPrintf(1, "TriangulationData: writing \"%s\" failed", path);
        return false;
    }
    return true;
}

bool TriangulatePoints(const Vec2* points, int32_t pointCount, const int32_t* segments, int32_t segmentCount,
                       std::unique_ptr<int32_t[]>& indices, int32_t& triangleCount)
{
    indices.reset();
    triangleCount = 0;
    if (!points || pointCount <= 0)
        return false;
    if (!segments)
        segmentCount = 0;

    MeshGeneratorInput in;
    in.points.reserve(2 * size_t(pointCount));
    for (int32_t i = 0; i < pointCount; ++i) {
        in.points.push_back(points[i].x);
        in.points.push_back(points[i].y);
    }
    in.segments.assign(segments, segments + 2 * size_t(std::max(segmentCount, 0)));
    // Each segment carves the side on its right: the marker names the segment itself.
    in.segmentMarkers.resize(in.segments.size() / 2);
    for (size_t s = 0; s < in.segmentMarkers.size(); ++s)
        in.segmentMarkers[s] = static_cast<int32_t>(s + 1);

    MeshGeneratorOutput out;
    if (!GenerateMesh2D("-pzHQ", in, out))
        return false;

    // Points inserted where segments cross stand for the nearest given point.
    const size_t outCount = out.points.size() / 2;
    std::vector<int32_t> map(outCount);
    for (size_t k = 0; k < outCount; ++k) {
        if (k < size_t(pointCount)) {
            map[k] = static_cast<int32_t>(k);
            continue;
        }
        const double x = out.points[2 * k], y = out.points[2 * k + 1];
        double best = std::numeric_limits<double>::infinity();
        int32_t nearest = 0;
        for (int32_t i = 0; i < pointCount; ++i) {
            const double dx = double(points[i].x) - x, dy = double(points[i].y) - y;
            const double distance = dx * dx + dy * dy;
            if (distance < best) {
                best = distance;
                nearest = i;
            }
        }
        map[k] = nearest;
    }

    const size_t generated = out.triangles.size() / 3;
    std::unique_ptr<int32_t[]> result(new int32_t[3 * std::max<size_t>(generated, 1)]);
    int32_t kept = 0;
    for (size_t t = 0; t < generated; ++t) {
        int32_t corner[3];
        bool valid = true;
        for (int c = 0; c < 3; ++c) {
            const int32_t k = out.triangles[3 * t + c];
            valid = valid && k >= 0 && size_t(k) < outCount;
            corner[c] = valid ? map[size_t(k)] : -1;
        }
        if (!valid || corner[0] == corner[1] || corner[1] == corner[2] || corner[0] == corner[2])
            continue;
        std::copy(corner, corner + 3, &result[3 * size_t(kept)]);
        ++kept;
    }
    if (kept > 0) {
        indices = std::move(result);
        triangleCount = kept;
    }
    return true;
}

} // namespace GAME
