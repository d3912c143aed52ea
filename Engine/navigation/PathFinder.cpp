#include "navigation/PathFinder.h"

#include "core/MathUtil.h"
#include "core/RegionServices.h"
#include "core/WorldVec3.h"
#include "navigation/NavigationServices.h"
#include "navigation/Path.h"
#include "navigation/PathMesh.h"
#include "navigation/PathMeshCompiler.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <queue>
#include <unordered_map>

namespace GAME {

namespace {

// How far a portal's choke point may lie from the floor it stands on.
const Vec3 kChokeExtents(1.5f, 2.0f, 1.5f);
// Gate points and snapped ends are on the mesh already: legs between them look close by only.
const Vec3 kOnMeshExtents(0.5f, 1.0f, 0.5f);
// Samples of a border overlap: one every this many units, at most kMaxBorderSamples.
constexpr float kBorderSpacing = 8.0f;
constexpr int kMaxBorderSamples = 16;

float Distance(const Vec3& a, const Vec3& b)
{
    return (a - b).Length();
}

} // namespace

PathFinder::~PathFinder()
{
    for (PathMesh* mesh : m_meshes)
        mesh->m_registered = false;
}

// ---- Portals and meshes ------------------------------------------------------------------------

void PathFinder::AddPortal(Portal* portal)
{
    if (portal && !HasPortal(portal)) {
        m_portals.push_back(portal);
        m_gatesValid = false;
    }
}

void PathFinder::RemovePortal(Portal* portal)
{
    auto it = std::find(m_portals.begin(), m_portals.end(), portal);
    if (it != m_portals.end()) {
        m_portals.erase(it);
        m_gatesValid = false;
    }
}

bool PathFinder::HasPortal(const Portal* portal) const
{
    return std::find(m_portals.begin(), m_portals.end(), portal) != m_portals.end();
}

void PathFinder::AddMesh(PathMesh* mesh)
{
    if (!mesh || !mesh->GetRegion() || HasMesh(mesh))
        return;
    m_meshes.push_back(mesh);
    mesh->m_registered = true;
    m_gatesValid = false;
}

void PathFinder::RemoveMesh(PathMesh* mesh)
{
    auto it = std::find(m_meshes.begin(), m_meshes.end(), mesh);
    if (it == m_meshes.end())
        return;
    (*it)->m_registered = false;
    m_meshes.erase(it);
    m_gatesValid = false;
}

bool PathFinder::HasMesh(const PathMesh* mesh) const
{
    return std::find(m_meshes.begin(), m_meshes.end(), mesh) != m_meshes.end();
}

PathMesh* PathFinder::GetMesh(const Region* region) const
{
    if (!region)
        return nullptr;
    for (auto it = m_meshes.rbegin(); it != m_meshes.rend(); ++it)
        if ((*it)->GetRegion() == region && (*it)->HasMesh())
            return *it;
    return nullptr;
}

// ---- Gates -------------------------------------------------------------------------------------

int PathFinder::GetNumGates()
{
    BuildGates();
    return static_cast<int>(m_gates.size());
}

void PathFinder::BuildGates()
{
    if (m_gatesValid)
        return;
    m_gates.clear();
    AddPortalGates();
    for (size_t i = 0; i < m_meshes.size(); ++i)
        for (size_t j = i + 1; j < m_meshes.size(); ++j)
            AddBorderGates(m_meshes[i], m_meshes[j]);
    m_gatesValid = true;
}

void PathFinder::AddPortalGates()
{
    NavigationServices* world = NavigationServices::Get();
    if (!world)
        return;
    for (Portal* portal : m_portals) {
        Region* from = world->GetPortalRegion(portal);
        PathMesh* fromMesh = GetMesh(from);
        if (!fromMesh)
            continue;
        // The portal on the far side, among the registered ones: a region whose level is not in
        // has no mesh to walk on, so nothing is loaded for it here.
        Portal* other = nullptr;
        for (Portal* candidate : m_portals)
            if (candidate != portal && world->IsConnectedPortal(portal, candidate)) {
                other = candidate;
                break;
            }
        Region* to = other ? world->GetPortalRegion(other) : nullptr;
        PathMesh* toMesh = other ? GetMesh(to) : nullptr;
        if (!toMesh)
            continue;
        const Vec3 chokeFrom = world->GetPortalChokePoint(portal);
        const Vec3 chokeTo = world->GetPortalChokePoint(other);
        Gate gate{fromMesh, Vec3(), toMesh, Vec3()};
        if (fromMesh->FindNearestPoint(fromMesh->ToMeshFrame(from, chokeFrom), kChokeExtents,
                                       gate.fromPoint) &&
            toMesh->FindNearestPoint(toMesh->ToMeshFrame(to, chokeTo), kChokeExtents, gate.toPoint))
            m_gates.push_back(gate);
    }
}

void PathFinder::AddBorderGates(PathMesh* a, PathMesh* b)
{
    // Only regions that share space: their boxes touch (as region connectivity has it).
    const Region* ra = a->GetRegion();
    const Region* rb = b->GetRegion();
    if (!a->HasMesh() || !b->HasMesh() || ra == rb)
        return;
    const ABBox boxA = RegionServices::BoundingBox(ra);
    const ABBox boxB = RegionServices::BoundingBox(rb);
    const Vec3 centreB = boxB.center + RegionServices::OffsetDifference(rb, ra);
    const Vec3 reach = boxA.extents + boxB.extents + Vec3(2.0f, 2.0f, 2.0f);
    const Vec3 apart = centreB - boxA.center;
    if (std::fabs(apart.x) > reach.x || std::fabs(apart.y) > reach.y || std::fabs(apart.z) > reach.z)
        return;

    // The overlap of the two build boxes, in world units.
    const IntSpaceBox& A = a->GetBuildBox();
    const IntSpaceBox& B = b->GetBuildBox();
    int64_t lo[3], hi[3];
    const int32_t ca[3] = {A.center.x, A.center.y, A.center.z},
                  ha[3] = {A.halfSize.x, A.halfSize.y, A.halfSize.z};
    const int32_t cb[3] = {B.center.x, B.center.y, B.center.z},
                  hb[3] = {B.halfSize.x, B.halfSize.y, B.halfSize.z};
    for (int k = 0; k < 3; ++k) {
        lo[k] = std::max<int64_t>(int64_t(ca[k]) - ha[k], int64_t(cb[k]) - hb[k]);
        hi[k] = std::min<int64_t>(int64_t(ca[k]) + ha[k], int64_t(cb[k]) + hb[k]);
    }
    if (hi[0] - lo[0] < 1 || hi[2] - lo[2] < 1 || hi[1] < lo[1])
        return;
    // Samples along the middle of the overlap's longer side.
    const int along = hi[0] - lo[0] >= hi[2] - lo[2] ? 0 : 2;
    const int across = 2 - along;
    const double length = static_cast<double>(hi[along] - lo[along]);
    const int samples =
        std::clamp(static_cast<int>(std::lround(length / kBorderSpacing)), 1, kMaxBorderSamples);
    const double middle = 0.5 * static_cast<double>(lo[across] + hi[across]);
    const double height = 0.5 * static_cast<double>(lo[1] + hi[1]);
    const Vec3 search(2.0f, static_cast<float>(0.5 * static_cast<double>(hi[1] - lo[1])) + 1.0f, 2.0f);
    for (int i = 0; i < samples; ++i) {
        double world[3];
        world[along] = static_cast<double>(lo[along]) + (i + 0.5) * length / samples;
        world[across] = middle;
        world[1] = height;
        const Vec3 inA(static_cast<float>(world[0] - ca[0]), static_cast<float>(world[1] - ca[1]),
                       static_cast<float>(world[2] - ca[2]));
        Vec3 onA, onB;
        if (!a->FindNearestPoint(inA, search, onA))
            continue;
        const Vec3 inB(static_cast<float>(double(onA.x) + ca[0] - cb[0]),
                       static_cast<float>(double(onA.y) + ca[1] - cb[1]),
                       static_cast<float>(double(onA.z) + ca[2] - cb[2]));
        if (!b->FindNearestPoint(inB, kOnMeshExtents, onB))
            continue;
        const Vec3 gap = onB - inB;
        if (std::hypot(gap.x, gap.z) > 0.6f || std::fabs(gap.y) > PathMeshCompiler::agentClimb)
            continue;
        m_gates.push_back(Gate{a, onA, b, onB});
        m_gates.push_back(Gate{b, onB, a, onA});
    }
}

// ---- Finding paths -----------------------------------------------------------------------------

Path* PathFinder::FindPath(int, const WorldVec3& from, const WorldVec3& to, const Vec3& extents, float range,
                           float, float, float, unsigned int)
{
    Region* startRegion = from.GetRegion();
    Region* goalRegion = to.GetRegion();
    PathMesh* startMesh = GetMesh(startRegion);
    PathMesh* goalMesh = GetMesh(goalRegion);
    if (!startMesh || !goalMesh)
        return nullptr;
    const Vec3 snap(IsFinite(extents.x) && extents.x > 0.0f ? extents.x : defaultExtentXZ,
                    IsFinite(extents.y) && extents.y > 0.0f ? extents.y : defaultExtentY,
                    IsFinite(extents.z) && extents.z > 0.0f ? extents.z : defaultExtentXZ);
    const bool limited = IsFinite(range) && range > 0.0f;
    const Vec3 start = startMesh->ToMeshFrame(startRegion, from.GetRegionPosition());
    const Vec3 goal = goalMesh->ToMeshFrame(goalRegion, to.GetRegionPosition());

    if (startMesh == goalMesh) {
        std::vector<Vec3> corners;
        if (startMesh->FindMeshPath(start, goal, snap, corners)) {
            Path* path = new Path;
            for (const Vec3& corner : corners)
                path->AddPoint(WorldVec3(startRegion, startMesh->FromMeshFrame(startRegion, corner)));
            if (limited && path->GetLength() > range) {
                delete path;
                return nullptr;
            }
            return path;
        }
    }
    // Through the gates, from the ends snapped onto their meshes.
    Vec3 startOn, goalOn;
    if (!startMesh->FindNearestPoint(start, snap, startOn) || !goalMesh->FindNearestPoint(goal, snap, goalOn))
        return nullptr;
    BuildGates();
    if (m_gates.empty())
        return nullptr;
    return SearchThroughGates(startMesh, startOn, goalMesh, goalOn, limited ? range : gInfinity);
}

Path* PathFinder::SearchThroughGates(PathMesh* startMesh, const Vec3& start, PathMesh* goalMesh,
                                     const Vec3& goal, float range)
{
    // Places: 0 the start, 1 the goal, then each gate's entry (2 + 2g) and exit (3 + 2g). A way
    // leaves the start or a gate's exit for the goal or a gate's entry on the same mesh (a leg),
    // and passes from a gate's entry to its exit for nothing.
    struct Place
    {
        PathMesh* mesh;
        Vec3 point;
    };
    std::vector<Place> places{{startMesh, start}, {goalMesh, goal}};
    for (const Gate& gate : m_gates) {
        places.push_back({gate.fromMesh, gate.fromPoint});
        places.push_back({gate.toMesh, gate.toPoint});
    }
    const size_t count = places.size();
    std::unordered_map<const PathMesh*, std::vector<int>> targets;
    targets[goalMesh].push_back(1);
    for (size_t g = 0; g < m_gates.size(); ++g)
        targets[m_gates[g].fromMesh].push_back(static_cast<int>(2 + 2 * g));
    const auto isEntry = [](int place) { return place >= 2 && place % 2 == 0; };

    struct Leg
    {
        bool measured = false;
        float length = 0.0f; // gInfinity when no way was found
        std::vector<Vec3> corners;
    };
    std::unordered_map<uint64_t, Leg> legs;
    const auto legKey = [count](int a, int b) {
        return static_cast<uint64_t>(a) * count + static_cast<uint64_t>(b);
    };
    const auto legLength = [&](int a, int b) {
        auto it = legs.find(legKey(a, b));
        if (it != legs.end() && it->second.measured)
            return it->second.length;
        return Distance(places[static_cast<size_t>(a)].point, places[static_cast<size_t>(b)].point);
    };

    int queries = 0;
    for (;;) {
        // The best route with what is known.
        std::vector<float> best(count, gInfinity);
        std::vector<int> previous(count, -1);
        using Item = std::pair<float, int>;
        std::priority_queue<Item, std::vector<Item>, std::greater<Item>> open;
        best[0] = 0.0f;
        open.push({0.0f, 0});
        while (!open.empty()) {
            const float cost = open.top().first;
            const int place = open.top().second;
            open.pop();
            if (cost > best[static_cast<size_t>(place)] || place == 1)
                continue;
            const auto reach = [&](int next, float step) {
                const float total = cost + step;
                if (total < best[static_cast<size_t>(next)] && total <= range) {
                    best[static_cast<size_t>(next)] = total;
                    previous[static_cast<size_t>(next)] = place;
                    open.push({total, next});
                }
            };
            if (isEntry(place)) {
                reach(place + 1, 0.0f);
                continue;
            }
            auto it = targets.find(places[static_cast<size_t>(place)].mesh);
            if (it == targets.end())
                continue;
            for (int next : it->second)
                if (next != place && next != place - 1) // not straight back through the gate come by
                    reach(next, legLength(place, next));
        }
        if (best[1] == gInfinity)
            return nullptr;

        std::vector<int> route;
        for (int place = 1; place != -1; place = previous[static_cast<size_t>(place)])
            route.push_back(place);
        std::reverse(route.begin(), route.end());
        bool measuredThroughout = true;
        for (size_t i = 0; i + 1 < route.size(); ++i) {
            if (isEntry(route[i]))
                continue;
            Leg& leg = legs[legKey(route[i], route[i + 1])];
            if (leg.measured)
                continue;
            measuredThroughout = false;
            if (queries++ >= maxLegQueries)
                return nullptr;
            const Place& a = places[static_cast<size_t>(route[i])];
            const Place& b = places[static_cast<size_t>(route[i + 1])];
            leg.measured = true;
            leg.length = gInfinity;
            if (a.mesh->FindMeshPath(a.point, b.point, kOnMeshExtents, leg.corners)) {
                leg.length = 0.0f;
                for (size_t c = 1; c < leg.corners.size(); ++c)
                    leg.length += Distance(leg.corners[c], leg.corners[c - 1]);
            }
        }
        if (!measuredThroughout)
            continue;

        Path* path = new Path;
        for (size_t i = 0; i + 1 < route.size(); ++i) {
            if (isEntry(route[i]))
                continue;
            const Leg& leg = legs[legKey(route[i], route[i + 1])];
            PathMesh* mesh = places[static_cast<size_t>(route[i])].mesh;
            Region* region = mesh->GetRegion();
            for (const Vec3& corner : leg.corners)
                path->AddPoint(WorldVec3(region, mesh->FromMeshFrame(region, corner)));
        }
        return path;
    }
}

} // namespace GAME
