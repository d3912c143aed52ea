#include "navigation/PathFaceConnector.h"

#include "core/MathUtil.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <unordered_map>

namespace GAME {

namespace {

// Twice the area below which a face counts as a line.
constexpr float kMinDoubleArea = 1e-6f;

struct KeyHash
{
    size_t operator()(const std::array<int64_t, 3>& k) const
    {
        uint64_t h = 1469598103934665603ull;
        for (int64_t v : k)
            h = (h ^ static_cast<uint64_t>(v)) * 1099511628211ull;
        return static_cast<size_t>(h);
    }
};

// Gives every corner the index of its welded point.
class CornerWelder
{
public:
    explicit CornerWelder(float distance)
        : m_distance(distance > 0.0f && IsFinite(distance) ? distance : 0.0f)
    {
    }

    int Add(const Vec3& p)
    {
        if (m_distance == 0.0f) {
            // Exact: the bit patterns, with -0 taken as 0.
            const auto bits = [](float f) {
                f = f == 0.0f ? 0.0f : f;
                uint32_t u;
                std::memcpy(&u, &f, 4);
                return static_cast<int64_t>(u);
            };
            const std::array<int64_t, 3> key{bits(p.x), bits(p.y), bits(p.z)};
            auto [it, added] = m_cells.emplace(key, static_cast<int>(m_points.size()));
            if (added)
                m_points.push_back(p);
            return it->second;
        }
        const std::array<int64_t, 3> cell{Cell(p.x), Cell(p.y), Cell(p.z)};
        for (int64_t dx = -1; dx <= 1; ++dx)
            for (int64_t dy = -1; dy <= 1; ++dy)
                for (int64_t dz = -1; dz <= 1; ++dz) {
                    auto it = m_cells.find({cell[0] + dx, cell[1] + dy, cell[2] + dz});
                    if (it == m_cells.end())
                        continue;
                    const Vec3& q = m_points[static_cast<size_t>(it->second)];
                    if (std::fabs(q.x - p.x) < m_distance && std::fabs(q.y - p.y) < m_distance &&
                        std::fabs(q.z - p.z) < m_distance)
                        return it->second;
                }
        const int index = static_cast<int>(m_points.size());
        m_points.push_back(p);
        m_cells.emplace(cell, index); // the first point of a cell stands for it
        return index;
    }
    const Vec3& Point(int index) const { return m_points[static_cast<size_t>(index)]; }

private:
    int64_t Cell(float v) const
    {
        return static_cast<int64_t>(std::floor(static_cast<double>(v) / m_distance));
    }

    float m_distance;
    std::unordered_map<std::array<int64_t, 3>, int, KeyHash> m_cells;
    std::vector<Vec3> m_points;
};

uint64_t EdgeKey(int a, int b)
{
    const uint32_t lo = static_cast<uint32_t>(std::min(a, b)), hi = static_cast<uint32_t>(std::max(a, b));
    return (static_cast<uint64_t>(hi) << 32) | lo;
}

} // namespace

size_t PathFaceConnector::Connect(std::vector<PathFace>& faces, float weldDistance)
{
    const size_t before = faces.size();
    CornerWelder welder(weldDistance);
    std::vector<std::array<int, 3>> ids;
    ids.reserve(faces.size());
    std::unordered_map<std::array<int64_t, 3>, int, KeyHash> seen; // sorted corner ids and kind

    size_t kept = 0;
    for (size_t i = 0; i < faces.size(); ++i) {
        PathFace face = faces[i];
        if (!face.IsWalkable() && !face.IsObstacle())
            continue;
        if (!IsFiniteVec3(face.corners[0]) || !IsFiniteVec3(face.corners[1]) ||
            !IsFiniteVec3(face.corners[2]))
            continue;
        std::array<int, 3> corner{};
        for (int k = 0; k < 3; ++k) {
            corner[static_cast<size_t>(k)] = welder.Add(face.corners[k]);
            face.corners[k] = welder.Point(corner[static_cast<size_t>(k)]);
        }
        if (corner[0] == corner[1] || corner[1] == corner[2] || corner[0] == corner[2])
            continue;
        const Vec3 normal = Vec3::Cross(face.corners[1] - face.corners[0], face.corners[2] - face.corners[0]);
        if (!(normal.Length() >= kMinDoubleArea))
            continue;
        std::array<int, 3> sorted = corner;
        std::sort(sorted.begin(), sorted.end());
        if (!seen.emplace(std::array<int64_t, 3>{sorted[0], sorted[1],
                                                 static_cast<int64_t>(sorted[2]) * 4 + face.flags},
                          0)
                 .second)
            continue;
        face.group = -1;
        face.neighbours[0] = face.neighbours[1] = face.neighbours[2] = -1;
        faces[kept++] = face;
        ids.push_back(corner);
    }
    faces.resize(kept);

    // Walkable faces across each edge; an edge of more than two stays unjoined.
    std::unordered_map<uint64_t, std::array<int, 3>> edges; // count, then the first two faces
    for (size_t f = 0; f < faces.size(); ++f) {
        if (!faces[f].IsWalkable())
            continue;
        for (int k = 0; k < 3; ++k) {
            auto& entry =
                edges[EdgeKey(ids[f][static_cast<size_t>(k)], ids[f][static_cast<size_t>((k + 1) % 3)])];
            if (entry[0] < 2)
                entry[static_cast<size_t>(1 + entry[0])] = static_cast<int>(f);
            ++entry[0];
        }
    }
    for (size_t f = 0; f < faces.size(); ++f) {
        if (!faces[f].IsWalkable())
            continue;
        for (int k = 0; k < 3; ++k) {
            const auto& entry =
                edges[EdgeKey(ids[f][static_cast<size_t>(k)], ids[f][static_cast<size_t>((k + 1) % 3)])];
            if (entry[0] == 2)
                faces[f].neighbours[k] = entry[1] == static_cast<int>(f) ? entry[2] : entry[1];
        }
    }

    // Walkable surfaces: faces reached from one another across joined edges.
    int32_t groups = 0;
    std::vector<int> stack;
    for (size_t f = 0; f < faces.size(); ++f) {
        if (!faces[f].IsWalkable() || faces[f].group >= 0)
            continue;
        faces[f].group = groups;
        stack.push_back(static_cast<int>(f));
        while (!stack.empty()) {
            const PathFace& face = faces[static_cast<size_t>(stack.back())];
            stack.pop_back();
            for (int32_t next : face.neighbours)
                if (next >= 0 && faces[static_cast<size_t>(next)].group < 0) {
                    faces[static_cast<size_t>(next)].group = groups;
                    stack.push_back(next);
                }
        }
        ++groups;
    }
    return before - faces.size();
}

} // namespace GAME
