#include "core/Geometry2D.h"

#include "core/Intersect.h"
#include "core/MathUtil.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <map>
#include <set>
#include <utility>

namespace GAME {

namespace {

bool SamePosition(const PolygonVertex& v, const PolygonVertex& w)
{
    return v.x == w.x && v.y == w.y;
}

// Angle at the corner c between the directions to a and b.
float CornerAngle(const Vec2& c, const Vec2& a, const Vec2& b)
{
    const float d = Vec2::Dot((a - c).Unit(), (b - c).Unit());
    return std::acos(std::clamp(d, -1.0f, 1.0f));
}

} // namespace

float Orient2D(const Vec2& a, const Vec2& b, const Vec2& c)
{
    return (b.x - a.x) * (c.y - a.y) - (b.y - a.y) * (c.x - a.x);
}

float DistancePointToSegment2D(const Vec2& a, const Vec2& b, const Vec2& p, float& t)
{
    const Vec2 ab = b - a, ap = p - a;
    const float lengthSquared = Vec2::Dot(ab, ab);
    if (lengthSquared == 0.0f) {
        // A point, not a segment: its distance rather than the 0/0 of the projection.
        t = 0.0f;
        return std::sqrt(Vec2::Dot(ap, ap));
    }
    t = Vec2::Dot(ap, ab) / lengthSquared;
    if (t < 0.0f) {
        t = 0.0f;
        return std::sqrt(Vec2::Dot(ap, ap));
    }
    if (t > 1.0f) {
        t = 1.0f;
        const Vec2 bp = p - b;
        return std::sqrt(Vec2::Dot(bp, bp));
    }
    const Vec2 offset = p - (a + ab * t);
    return std::sqrt(Vec2::Dot(offset, offset));
}

Vec2 SnapToGrid(const Vec2& point, double spacing)
{
    if (spacing == 0.0)
        return point;
    return Vec2(static_cast<float>(std::floor(point.x / spacing + 0.5) * spacing),
                static_cast<float>(std::floor(point.y / spacing + 0.5) * spacing));
}

void SnapTriangle(PolygonTriangle& triangle, double spacing)
{
    for (PolygonVertex& v : triangle.v) {
        const Vec2 snapped = SnapToGrid(v.Position(), spacing);
        v.x = snapped.x;
        v.y = snapped.y;
    }
}

bool PointStrictlyInTriangle2D(const PolygonTriangle& triangle, const Vec2& p)
{
    const Vec2 a = triangle.v[0].Position();
    const Vec2 e0 = triangle.v[1].Position() - a, e1 = triangle.v[2].Position() - a, ap = p - a;
    const float denominator = Vec2::Cross(e0, e1);
    if (denominator == 0.0f)
        return false;
    const float beta = Vec2::Cross(ap, e1) / denominator;
    const float gamma = Vec2::Cross(e0, ap) / denominator;
    // Written as "not above zero" so that NaN counts as outside.
    return beta > 0.0f && gamma > 0.0f && 1.0f - beta - gamma > 0.0f;
}

bool TriangleLeftOfLine(const PolygonTriangle& triangle, const Vec2& a, const Vec2& b)
{
    for (const PolygonVertex& v : triangle.v) {
        const Vec2 p = v.Position();
        if (p == a || p == b)
            continue;
        if (!(Orient2D(a, b, p) > 0.0f))
            return false;
    }
    return true;
}

bool TrianglesOverlap2D(const PolygonTriangle& t0, const PolygonTriangle& t1)
{
    for (int i = 0; i < 3; ++i) {
        const Vec2 a0 = t0.v[i].Position(), a1 = t0.v[(i + 1) % 3].Position();
        for (int j = 0; j < 3; ++j) {
            float s = 0.0f, t = 0.0f;
            if (IntersectSegments2D(a0, a1, t1.v[j].Position(), t1.v[(j + 1) % 3].Position(), s, t) &&
                s != 0.0f && s != 1.0f && t != 0.0f && t != 1.0f)
                return true;
        }
    }
    for (int i = 0; i < 3; ++i)
        if (PointStrictlyInTriangle2D(t0, t1.v[i].Position()) ||
            PointStrictlyInTriangle2D(t1, t0.v[i].Position()))
            return true;
    return false;
}

float PolygonArea2D(const SimplePolygon& polygon)
{
    const int n = polygon.GetNumVertices();
    double sum = 0.0;
    for (int i = 0; i < n; ++i) {
        const PolygonVertex& prev = polygon.GetVertex((i + n - 1) % n);
        const PolygonVertex& cur = polygon.GetVertex(i);
        sum += double(prev.x) * cur.y - double(cur.x) * prev.y;
    }
    return static_cast<float>(0.5 * sum);
}

bool InsideTriangle2D(float ax, float ay, float bx, float by, float cx, float cy, float px, float py)
{
    const float sideOfBC = (cx - bx) * (py - by) - (cy - by) * (px - bx);
    const float sideOfCA = (ax - cx) * (py - cy) - (ay - cy) * (px - cx);
    const float sideOfAB = (bx - ax) * (py - ay) - (by - ay) * (px - ax);
    return sideOfBC >= 0.0f && sideOfCA >= 0.0f && sideOfAB >= 0.0f;
}

bool IsEar(const SimplePolygon& polygon, int u, int v, int w, int n, const int* V)
{
    const PolygonVertex& A = polygon.GetVertex(V[u]);
    const PolygonVertex& B = polygon.GetVertex(V[v]);
    const PolygonVertex& C = polygon.GetVertex(V[w]);
    if (!(Orient2D(A.Position(), B.Position(), C.Position()) > 0.0f))
        return false;
    for (int p = 0; p < n; ++p) {
        const PolygonVertex& P = polygon.GetVertex(V[p]);
        // By position, so that a vertex the outline visits twice is not its own obstacle.
        if (SamePosition(P, A) || SamePosition(P, B) || SamePosition(P, C))
            continue;
        if (InsideTriangle2D(A.x, A.y, B.x, B.y, C.x, C.y, P.x, P.y))
            return false;
    }
    return true;
}

void EarClipTriangulate(const SimplePolygon& polygon, std::vector<PolygonTriangle>& triangles)
{
    const int n = polygon.GetNumVertices();
    if (n < 3)
        return;
    std::vector<int> V(static_cast<size_t>(n));
    const bool counterClockwise = PolygonArea2D(polygon) > 0.0f;
    for (int i = 0; i < n; ++i)
        V[i] = counterClockwise ? i : n - 1 - i;

    int nv = n;
    int count = 2 * nv;
    for (int v = nv - 1; nv >= 3;) {
        // Every corner tried twice without an ear: the outline crosses itself.
        if (count-- <= 0)
            return;
        int u = v;
        if (u >= nv)
            u = 0;
        v = u + 1;
        if (v >= nv)
            v = 0;
        int w = v + 1;
        if (w >= nv)
            w = 0;
        if (IsEar(polygon, u, v, w, nv, V.data())) {
            triangles.push_back(
                PolygonTriangle{{polygon.GetVertex(V[u]), polygon.GetVertex(V[v]), polygon.GetVertex(V[w])}});
            V.erase(V.begin() + v);
            --nv;
            count = 2 * nv;
        }
    }
}

void FlipTriangleEdges(std::vector<PolygonTriangle>& triangles)
{
    const int n = static_cast<int>(triangles.size());
    if (n < 2)
        return;

    // neighbour[t][i]: the triangle across edge i (vertex i -> i + 1) of triangle t, or -1.
    std::vector<std::array<int, 3>> neighbour(static_cast<size_t>(n), {-1, -1, -1});
    {
        std::map<std::pair<PolygonVertex, PolygonVertex>, int> edges;
        for (int t = 0; t < n; ++t)
            for (int i = 0; i < 3; ++i)
                edges.emplace(std::make_pair(triangles[t].v[i], triangles[t].v[(i + 1) % 3]), t);
        for (int t = 0; t < n; ++t)
            for (int i = 0; i < 3; ++i) {
                auto found = edges.find(std::make_pair(triangles[t].v[(i + 1) % 3], triangles[t].v[i]));
                if (found != edges.end() && found->second != t)
                    neighbour[t][i] = found->second;
            }
    }

    std::set<std::pair<int, int>> work;
    auto enter = [&work](int a, int b) {
        if (a >= 0 && b >= 0 && a != b)
            work.emplace(std::min(a, b), std::max(a, b));
    };
    for (int t = 0; t < n; ++t)
        for (int i = 0; i < 3; ++i)
            enter(t, neighbour[t][i]);

    // Finds the edge of triangle t that leads to other and runs from a to b.
    auto edgeTowards = [&](int t, int other, const PolygonVertex& a, const PolygonVertex& b) {
        for (int k = 0; k < 3; ++k)
            if (neighbour[t][k] == other && triangles[t].v[k] == a && triangles[t].v[(k + 1) % 3] == b)
                return k;
        return -1;
    };

    const float limit = DegreesToRadians(181.0f);
    // Flipping by angle sums always ends in exact arithmetic; the cap keeps rounding on wild input
    // from cycling forever.
    const uint64_t maxFlips = 4ull * uint64_t(n) * uint64_t(n) + 64;
    uint64_t flips = 0;
    while (!work.empty() && flips < maxFlips) {
        const auto [t1, t2] = *work.begin();
        work.erase(work.begin());

        int i = -1, j = -1;
        for (int k = 0; k < 3 && j < 0; ++k) {
            if (neighbour[t1][k] != t2)
                continue;
            i = k;
            j = edgeTowards(t2, t1, triangles[t1].v[(k + 1) % 3], triangles[t1].v[k]);
        }
        if (j < 0)
            continue;

        const PolygonVertex u = triangles[t1].v[i], v = triangles[t1].v[(i + 1) % 3];
        const PolygonVertex p = triangles[t1].v[(i + 2) % 3], q = triangles[t2].v[(j + 2) % 3];
        const float angleP = CornerAngle(p.Position(), u.Position(), v.Position());
        const float angleQ = CornerAngle(q.Position(), u.Position(), v.Position());
        if (!(angleP + angleQ > limit))
            continue;

        const int nVP = neighbour[t1][(i + 1) % 3], nPU = neighbour[t1][(i + 2) % 3];
        const int nUQ = neighbour[t2][(j + 1) % 3], nQV = neighbour[t2][(j + 2) % 3];
        if (nVP == t1 || nVP == t2 || nPU == t1 || nPU == t2 || nUQ == t1 || nUQ == t2 || nQV == t1 ||
            nQV == t2)
            continue;

        // The quadrilateral u, q, v, p is convex (the two other corners sum to under 180 degrees),
        // so the other diagonal p-q gives two triangles of the same orientation.
        triangles[t1] = PolygonTriangle{{u, q, p}};
        triangles[t2] = PolygonTriangle{{q, v, p}};
        neighbour[t1] = {nUQ, t2, nPU};
        neighbour[t2] = {nQV, nVP, t1};
        if (nUQ >= 0)
            if (int k = edgeTowards(nUQ, t2, q, u); k >= 0)
                neighbour[nUQ][k] = t1;
        if (nVP >= 0)
            if (int k = edgeTowards(nVP, t1, p, v); k >= 0)
                neighbour[nVP][k] = t2;
        enter(t1, nUQ);
        enter(t1, nPU);
        enter(t2, nQV);
        enter(t2, nVP);
        ++flips;
    }
}

} // namespace GAME
