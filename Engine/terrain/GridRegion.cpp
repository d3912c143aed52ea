#include "terrain/GridRegion.h"

#include "core/Color.h"
#include "core/Frustum.h"
#include "core/Intersect.h"
#include "core/Intersection.h"
#include "core/Log.h"
#include "core/MathUtil.h"
#include "core/ObjectManager.h"
#include "core/Ray.h"
#include "core/Space.h"
#include "core/WorldVec3.h"
#include "data/BaseResourceManager.h"
#include "data/BinaryReader.h"
#include "data/BinaryWriter.h"
#include "graphics/DebugRenderManager.h"
#include "navigation/CollisionContact.h"
#include "navigation/PhysicsMesh.h"
#include "scene/GraphicsMesh.h"
#include "scene/GraphicsSceneRenderer.h"
#include "terrain/GridSystem.h"
#include "terrain/GridWallMeshInstance.h"
#include "world/Entity.h"
#include "world/Portal.h"
#include "world/Region.h"
#include "world/Triangle.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace GAME {

// One cell as built: its instance (null for an empty cell), floor, turn and portal, and its place
// in the grid's spatial tree (filed by the bounds of the instance's region box).
struct GridCell
{
    GridWallMeshInstance* instance = nullptr;
    int floor = 0;
    int rotation = 0;
    Portal* portal = nullptr;
    // Built during a load: the portal opens at PostLoad.
    bool portalPending = false;
    SpaceLinks<GridCell> links;
    ABBox box;

    SpaceLinks<GridCell>& GetSpaceLinks() { return links; }
    const ABBox& GetSpaceBox() const { return box; }
};

namespace {

using CellSpace = Space<GridCell>;

const Name& ChokePointName()
{
    static const Name name = Name::Create("ChokePoint");
    return name;
}

// A quarter-turn count in 0 to 3.
int Quarter(int rotation)
{
    return ((rotation % 4) + 4) % 4;
}

// Another reference to the mesh, asked of its own manager by its file name.
GraphicsMesh* Reference(GraphicsMesh* mesh)
{
    if (!mesh || !mesh->GetResourceManager())
        return nullptr;
    return static_cast<GraphicsMesh*>(mesh->GetResourceManager()->LoadResource(mesh->GetFileNameString()));
}

// The collision mesh of a built cell, null when it has none.
const PhysicsMesh* CellPhysics(const GridCell& cell)
{
    if (!cell.instance || !cell.instance->GetMesh())
        return nullptr;
    const PhysicsMesh* mesh = cell.instance->GetMesh()->GetPhysicsMesh();
    return mesh && mesh->GetNumFaces() > 0 ? mesh : nullptr;
}

// Lattice and feature bytes of a grid, as 64-bit counts; false when they cannot be had.
bool ArraySizes(uint64_t x, uint64_t y, uint64_t z, uint64_t& lattice, uint64_t& cells)
{
    if (x > 0x7FFFFFFF || y > 0x7FFFFFFF || z > 0x7FFFFFFF)
        return false;
    const unsigned __int128 l = static_cast<unsigned __int128>(2 * x + 1) * y * (2 * z + 1);
    const unsigned __int128 c = static_cast<unsigned __int128>(x) * y * z;
    if (l > GridRegion::maxLatticeEntries)
        return false;
    lattice = static_cast<uint64_t>(l);
    cells = static_cast<uint64_t>(c);
    return true;
}

} // namespace

// ---- Life -------------------------------------------------------------------------------------

GridRegion::GridRegion(Region* region) : m_region(region)
{
    // The default system is only a starting point: most grids are given theirs at once.
    SelectSystem(defaultSystemName, false);
}

GridRegion::~GridRegion()
{
    DestroyCells();
    DestroySpace();
    DestroySystem();
}

void GridRegion::DestroySystem()
{
    if (m_system)
        ObjectManager::Get()->DestroyObjectEx(m_system, __FILE__, __LINE__);
    m_system = nullptr;
}

void GridRegion::DestroySpace()
{
    delete m_cellSpace;
    m_cellSpace = nullptr;
}

// ---- Indexing ---------------------------------------------------------------------------------

bool GridRegion::InGrid(int x, int y, int z) const
{
    return x >= 0 && y >= 0 && z >= 0 && x < m_size[0] && y < m_size[1] && z < m_size[2];
}

bool GridRegion::InLattice(int i, int y, int k) const
{
    return i >= 0 && y >= 0 && k >= 0 && int64_t(i) <= 2 * int64_t(m_size[0]) && y < m_size[1] &&
           int64_t(k) <= 2 * int64_t(m_size[2]);
}

size_t GridRegion::CellIndex(int x, int y, int z) const
{
    return size_t(x) + size_t(m_size[0]) * (size_t(y) + size_t(m_size[1]) * size_t(z));
}

size_t GridRegion::LatticeIndex(int i, int y, int k) const
{
    const size_t sizeI = 2 * size_t(m_size[0]) + 1;
    return size_t(i) + sizeI * (size_t(y) + size_t(m_size[1]) * size_t(k));
}

GridCell& GridRegion::Cell(int x, int y, int z)
{
    return m_cells[CellIndex(x, y, z)];
}

const GridCell& GridRegion::Cell(int x, int y, int z) const
{
    return m_cells[CellIndex(x, y, z)];
}

// ---- Accessors --------------------------------------------------------------------------------

Vec3 GridRegion::GetCellSpacing() const
{
    return m_system ? m_system->GetCellSpacing() : Vec3(1.0f, 1.0f, 1.0f);
}

Vec3 GridRegion::GetCellCenter(int x, int y, int z) const
{
    const Vec3 s = GetCellSpacing();
    return Vec3(s.x * (static_cast<float>(x) + 0.5f), s.y * static_cast<float>(y),
                s.z * (static_cast<float>(z) + 0.5f));
}

Coords GridRegion::GetCellCoords(int x, int y, int z, int rotation) const
{
    // Exact quarter turns about Y (x' = x cos + z sin, z' = z cos - x sin).
    static const float sines[4] = {0.0f, 1.0f, 0.0f, -1.0f};
    static const float cosines[4] = {1.0f, 0.0f, -1.0f, 0.0f};
    const int r = Quarter(rotation);
    const float c = cosines[r], s = sines[r];
    return Coords(Vec3(c, 0.0f, -s), Vec3(0.0f, 1.0f, 0.0f), Vec3(s, 0.0f, c), GetCellCenter(x, y, z));
}

int GridRegion::GetLatticeValue(int i, int y, int k) const
{
    return InLattice(i, y, k) ? m_lattice[LatticeIndex(i, y, k)] : 0;
}

int GridRegion::GetCellFloor(int x, int y, int z) const
{
    return InGrid(x, y, z) ? GetLatticeValue(2 * x + 1, y, 2 * z + 1) : 0;
}

void GridRegion::GetCellFeature(int x, int y, int z, int& feature, int& rotation) const
{
    feature = rotation = 0;
    if (!InGrid(x, y, z))
        return;
    const size_t at = 2 * CellIndex(x, y, z);
    feature = m_features[at];
    rotation = m_features[at + 1];
}

bool GridRegion::CellContainsFeature(int x, int y, int z) const
{
    int feature, rotation;
    GetCellFeature(x, y, z, feature, rotation);
    return feature != 0;
}

GridWallMeshInstance* GridRegion::GetCellMesh(int x, int y, int z) const
{
    return InGrid(x, y, z) ? Cell(x, y, z).instance : nullptr;
}

Portal* GridRegion::GetCellPortal(int x, int y, int z) const
{
    return InGrid(x, y, z) ? Cell(x, y, z).portal : nullptr;
}

int GridRegion::GetCellRotation(int x, int y, int z) const
{
    return InGrid(x, y, z) && Cell(x, y, z).instance ? Cell(x, y, z).rotation : 0;
}

int GridRegion::GetNumBuiltCells() const
{
    return static_cast<int>(
        std::count_if(m_cells.begin(), m_cells.end(), [](const GridCell& cell) { return cell.instance; }));
}

float GridRegion::GetTransparency(int i, int y, int k) const
{
    return InLattice(i, y, k) ? m_transparency[LatticeIndex(i, y, k)] : 1.0f;
}

const ABBox& GridRegion::GetBoundingBox() const
{
    if (m_boundingBoxValid)
        return m_boundingBox;
    Vec3 lo(gInfinity, gInfinity, gInfinity), hi(-gInfinity, -gInfinity, -gInfinity);
    for (const GridCell& cell : m_cells) {
        const PhysicsMesh* physics = CellPhysics(cell);
        if (!physics)
            continue;
        const ABBox placed = ABBox::FromOBBox(
            TransformABBox(cell.instance->GetObjectToRegionCoords(), physics->GetBoundingBox()));
        lo = Vec3::Min(lo, placed.GetMin());
        hi = Vec3::Max(hi, placed.GetMax());
    }
    if (!(lo.x <= hi.x)) {
        // Nothing built: the box of the cells themselves.
        const Vec3 s = GetCellSpacing();
        hi = Vec3(static_cast<float>(m_size[0]) * s.x, static_cast<float>(m_size[1]) * s.y,
                  static_cast<float>(m_size[2]) * s.z);
        lo = Vec3();
    }
    m_boundingBox = ABBox::FromMinMax(lo, hi);
    m_boundingBoxValid = true;
    return m_boundingBox;
}

// ---- System and size --------------------------------------------------------------------------

void GridRegion::SetSystem(const std::string& fileName)
{
    SelectSystem(fileName, true);
}

void GridRegion::SelectSystem(const std::string& fileName, bool report)
{
    m_systemFileName = fileName;
    DestroySystem();
    if (!fileName.empty()) {
        Object* object = ObjectManager::Get()->CreateObjectFromFile(fileName, 0, true);
        if (object && object->GetClassInfo().IsA(GridSystem::GetStaticClassInfo())) {
            m_system = static_cast<GridSystem*>(object);
        } else {
            if (object)
                ObjectManager::Get()->DestroyObjectEx(object, __FILE__, __LINE__);
            if (report)
                LogPrintf(2, "Grid region: '%s' is not a grid system; the grid is built without one",
                          fileName.c_str());
        }
    }
    m_minWallOpacity = m_system ? m_system->GetMinWallOpacity() : 0.0f;
    if (!m_holdRebuilds)
        RebuildAll();
}

void GridRegion::Resize(int x, int y, int z)
{
    if (x == m_size[0] && y == m_size[1] && z == m_size[2])
        return;
    uint64_t latticeEntries = 0, cellCount = 0;
    if (x < 0 || y < 0 || z < 0 ||
        !ArraySizes(uint64_t(x), uint64_t(y), uint64_t(z), latticeEntries, cellCount)) {
        LogPrintf(1, "Grid region: a grid of %d x %d x %d cells is refused", x, y, z);
        return;
    }
    DestroyCells();
    DestroySpace();

    const int old[3] = {m_size[0], m_size[1], m_size[2]};
    std::vector<int8_t> lattice(static_cast<size_t>(latticeEntries), 0);
    std::vector<int8_t> features(static_cast<size_t>(cellCount) * 2, 0);
    if (!m_lattice.empty() && latticeEntries > 0) {
        const int64_t keepI = std::min(2 * int64_t(old[0]), 2 * int64_t(x));
        const int keepY = std::min(old[1], y);
        const int64_t keepK = std::min(2 * int64_t(old[2]), 2 * int64_t(z));
        const size_t oldI = 2 * size_t(old[0]) + 1, newI = 2 * size_t(x) + 1;
        for (int64_t k = 0; k <= keepK; ++k)
            for (int yy = 0; yy < keepY; ++yy)
                for (int64_t i = 0; i <= keepI; ++i)
                    lattice[size_t(i) + newI * (size_t(yy) + size_t(y) * size_t(k))] =
                        m_lattice[size_t(i) + oldI * (size_t(yy) + size_t(old[1]) * size_t(k))];
    }
    if (!m_features.empty() && cellCount > 0) {
        const int keep[3] = {std::min(old[0], x), std::min(old[1], y), std::min(old[2], z)};
        for (int c = 0; c < keep[2]; ++c)
            for (int b = 0; b < keep[1]; ++b)
                for (int a = 0; a < keep[0]; ++a) {
                    const size_t from =
                        2 * (size_t(a) + size_t(old[0]) * (size_t(b) + size_t(old[1]) * size_t(c)));
                    const size_t to = 2 * (size_t(a) + size_t(x) * (size_t(b) + size_t(y) * size_t(c)));
                    features[to] = m_features[from];
                    features[to + 1] = m_features[from + 1];
                }
    }
    m_size[0] = x;
    m_size[1] = y;
    m_size[2] = z;
    m_lattice.swap(lattice);
    m_features.swap(features);
    m_cells.clear();
    m_cells.shrink_to_fit();
    m_cells.resize(static_cast<size_t>(cellCount));
    for (int i = static_cast<int>(m_links.size()) - 1; i >= 0; --i) {
        const PortalLink& link = m_links[static_cast<size_t>(i)];
        if (!InGrid(link.x, link.y, link.z))
            DropLink(i, "lies outside the resized grid");
    }
    m_transparency.assign(m_lattice.size(), 1.0f);
    m_visited.assign(m_lattice.size(), 1);
    m_boundingBoxValid = false;
    BuildCellSpace();
    if (!m_holdRebuilds)
        RebuildAll();
    ClearTransparency();
}

void GridRegion::BuildCellSpace()
{
    if (m_cellSpace)
        return;
    const ABBox& box = GetBoundingBox();
    m_cellSpace = new CellSpace(box.center.x, box.center.z, box.extents.x, box.extents.z);
}

void GridRegion::RebuildAll()
{
    if (m_cells.empty())
        return;
    for (int x = 0; x < m_size[0]; ++x)
        for (int y = 0; y < m_size[1]; ++y)
            for (int z = 0; z < m_size[2]; ++z)
                UpdateCell(x, y, z);
}

// ---- Editing ----------------------------------------------------------------------------------

void GridRegion::SetLatticeValue(int i, int y, int k, int value)
{
    if (!InLattice(i, y, k))
        return;
    m_lattice[LatticeIndex(i, y, k)] = static_cast<int8_t>(value);
    const int x = i / 2, z = k / 2;
    UpdateCell(x, y, z);
    if (k % 2 == 0)
        UpdateCell(x, y, z - 1);
    if (i % 2 == 0)
        UpdateCell(x - 1, y, z);
    if (i % 2 == 0 && k % 2 == 0)
        UpdateCell(x - 1, y, z - 1);
}

void GridRegion::SetCellFloor(int x, int y, int z, int value)
{
    if (!InGrid(x, y, z))
        return;
    m_lattice[LatticeIndex(2 * x + 1, y, 2 * z + 1)] = static_cast<int8_t>(value);
    UpdateCell(x, y, z);
}

void GridRegion::SetCellFeature(int x, int y, int z, int feature, int rotation)
{
    if (x < 0 || y < 0 || z < 0 || m_cells.empty()) {
        LogPrintf(1, "Grid region: no feature can go to cell (%d, %d, %d)", x, y, z);
        return;
    }
    x = std::min(x, m_size[0] - 1);
    y = std::min(y, m_size[1] - 1);
    z = std::min(z, m_size[2] - 1);
    const size_t at = 2 * CellIndex(x, y, z);
    m_features[at] = static_cast<int8_t>(feature);
    m_features[at + 1] = static_cast<int8_t>(rotation);
    // The cell and its neighbours, whose pieces may meet the feature.
    for (int dx = -1; dx <= 1; ++dx)
        for (int dz : {-1, 1, 0})
            UpdateCell(x + dx, y, z + dz);
}

void GridRegion::Rotate()
{
    // Every portal's ids go to its cell's link first: the links turn with the cells.
    DestroyCells();
    DestroySpace();
    const int X = m_size[0], Y = m_size[1], Z = m_size[2];
    const size_t oldI = 2 * size_t(X) + 1, oldK = 2 * size_t(Z) + 1;
    const size_t newI = oldK;
    std::vector<int8_t> lattice(m_lattice.size());
    std::vector<float> transparency(m_transparency.size());
    std::vector<uint8_t> visited(m_visited.size());
    if (!m_lattice.empty()) {
        for (size_t k = 0; k < oldI; ++k)
            for (size_t y = 0; y < size_t(Y); ++y)
                for (size_t i = 0; i < newI; ++i) {
                    // New (i, y, k) is old (2X - k, y, i).
                    const size_t from = (oldI - 1 - k) + oldI * (y + size_t(Y) * i);
                    const size_t to = i + newI * (y + size_t(Y) * k);
                    lattice[to] = m_lattice[from];
                    transparency[to] = m_transparency[from];
                    visited[to] = m_visited[from];
                }
    }
    std::vector<int8_t> features(m_features.size());
    if (!m_features.empty()) {
        for (size_t z = 0; z < size_t(X); ++z)
            for (size_t y = 0; y < size_t(Y); ++y)
                for (size_t x = 0; x < size_t(Z); ++x) {
                    // New (x, y, z) is old (X - 1 - z, y, x).
                    const size_t from = 2 * ((size_t(X) - 1 - z) + size_t(X) * (y + size_t(Y) * x));
                    const size_t to = 2 * (x + size_t(Z) * (y + size_t(Y) * z));
                    features[to] = m_features[from];
                    features[to + 1] = static_cast<int8_t>((m_features[from + 1] + 1) % 4);
                }
    }
    for (PortalLink& link : m_links) {
        const int x = link.x, z = link.z;
        link.x = z;
        link.z = X - 1 - x;
    }
    m_lattice.swap(lattice);
    m_transparency.swap(transparency);
    m_visited.swap(visited);
    m_features.swap(features);
    m_size[0] = Z;
    m_size[2] = X;
    m_boundingBoxValid = false;
    BuildCellSpace();
    RebuildAll();
}

// ---- Cells ------------------------------------------------------------------------------------

GraphicsMesh* GridRegion::ChooseMesh(int x, int y, int z, int& rotation) const
{
    rotation = 0;
    if (!m_system)
        return nullptr;
    int feature, turn;
    GetCellFeature(x, y, z, feature, turn);
    if (feature >= 1) {
        rotation = Quarter(turn);
        return m_system->GetFeatureMesh(feature - 1);
    }
    const int c[4] = {GetLatticeValue(2 * x, y, 2 * z), GetLatticeValue(2 * x + 2, y, 2 * z),
                      GetLatticeValue(2 * x + 2, y, 2 * z + 2), GetLatticeValue(2 * x, y, 2 * z + 2)};
    const int w[4] = {GetLatticeValue(2 * x + 1, y, 2 * z), GetLatticeValue(2 * x + 2, y, 2 * z + 1),
                      GetLatticeValue(2 * x + 1, y, 2 * z + 2), GetLatticeValue(2 * x, y, 2 * z + 1)};
    char corners[4], walls[4];
    for (int n = 0; n < 4; ++n) {
        corners[n] = static_cast<char>('0' + c[n]);
        const int first = c[n], second = c[(n + 1) % 4];
        // A wall stands only between two equal corners that are there.
        walls[n] = first != second || first == 0 ? 'x' : static_cast<char>('0' + w[n]);
    }
    return m_system->GetMeshForCell(corners, walls, GetLatticeValue(2 * x + 1, y, 2 * z + 1) != 0, rotation);
}

void GridRegion::UpdateCell(int x, int y, int z)
{
    if (!InGrid(x, y, z))
        return;
    if (!m_system) {
        // Nothing to build from; a link the cell was loaded with stays.
        DestroyCell(x, y, z);
        m_boundingBoxValid = false;
        return;
    }
    int rotation = 0;
    GraphicsMesh* mesh = Reference(ChooseMesh(x, y, z, rotation));
    DestroyCell(x, y, z);
    GridCell& cell = Cell(x, y, z);
    if (mesh) {
        auto* instance = new GridWallMeshInstance();
        instance->SetMesh(mesh); // takes the reference
        instance->SetObjectToRegionCoords(GetCellCoords(x, y, z, rotation));
        instance->UpdateBoundingBox(true);
        cell.instance = instance;
        cell.floor = y;
        cell.rotation = rotation;
        cell.box = ABBox::FromOBBox(instance->GetRegionSpaceBoundingBox());
        if (!m_cellSpace)
            BuildCellSpace();
        m_cellSpace->Insert(&cell);
        if (mesh->GetNumPortals() == 1) {
            if (m_portalsOpen)
                OpenPortal(x, y, z);
            else
                cell.portalPending = true;
        }
        PushWallTransparency(x, y, z);
    }
    // Outside a load, a linked cell that no longer holds a portal loses its link (a grid without a
    // region opens no portal and drops nothing).
    if (m_portalsOpen && m_region && !cell.portal) {
        const int link = FindLink(x, y, z);
        if (link >= 0)
            DropLink(link, "no longer holds a portal");
    }
    m_boundingBoxValid = false;
}

void GridRegion::DestroyCell(int x, int y, int z)
{
    if (!InGrid(x, y, z))
        return;
    GridCell& cell = Cell(x, y, z);
    cell.portalPending = false;
    if (cell.portal) {
        KeepLink(x, y, z, *cell.portal);
        if (m_region)
            m_region->DestroyPortal(cell.portal);
        cell.portal = nullptr;
    }
    if (m_cellSpace && cell.links.node)
        m_cellSpace->Remove(&cell);
    delete cell.instance;
    cell.instance = nullptr;
}

void GridRegion::DestroyCells()
{
    if (m_cells.empty())
        return;
    for (int x = 0; x < m_size[0]; ++x)
        for (int y = 0; y < m_size[1]; ++y)
            for (int z = 0; z < m_size[2]; ++z)
                DestroyCell(x, y, z);
}

// ---- Portals and links ------------------------------------------------------------------------

int GridRegion::FindLink(int x, int y, int z) const
{
    for (size_t i = 0; i < m_links.size(); ++i)
        if (m_links[i].x == x && m_links[i].y == y && m_links[i].z == z)
            return static_cast<int>(i);
    return -1;
}

void GridRegion::KeepLink(int x, int y, int z, const Portal& portal)
{
    int index = FindLink(x, y, z);
    if (index < 0) {
        m_links.push_back(PortalLink());
        index = static_cast<int>(m_links.size()) - 1;
    }
    PortalLink& link = m_links[static_cast<size_t>(index)];
    link.portalId = portal.GetId();
    link.connectedPortalId = portal.GetConnectedPortalId();
    link.connectedRegionId = portal.GetConnectedRegionId();
    link.x = x;
    link.y = y;
    link.z = z;
}

void GridRegion::DropLink(int index, const char* why)
{
    const PortalLink& link = m_links[static_cast<size_t>(index)];
    if (!link.connectedRegionId.IsInvalid() || !link.connectedPortalId.IsNull())
        LogPrintf(2,
                  "Grid region%s%s: cell (%d, %d, %d) %s; its link to region %08x-%08x-%08x-%08x is dropped",
                  m_region ? " of " : "", m_region ? m_region->GetName().c_str() : "", link.x, link.y, link.z,
                  why, link.connectedRegionId.GetWord(0), link.connectedRegionId.GetWord(1),
                  link.connectedRegionId.GetWord(2), link.connectedRegionId.GetWord(3));
    m_links.erase(m_links.begin() + index);
}

void GridRegion::OpenPortal(int x, int y, int z)
{
    GridCell& cell = Cell(x, y, z);
    cell.portalPending = false;
    if (!m_region || cell.portal || !cell.instance || !cell.instance->GetMesh())
        return;
    const GraphicsMesh& mesh = *cell.instance->GetMesh();
    if (mesh.GetNumPortals() != 1)
        return;
    Portal* portal = m_region->CreatePortal();
    std::vector<Triangle> triangles;
    for (const GraphicsMesh::PortalPoint& point : mesh.GetPortal(0).points)
        triangles.emplace_back(point.values[0], point.values[1], point.values[2]);
    portal->SetTriangles(triangles);
    if (const AttachPoint* choke = mesh.GetAttachPoint(ChokePointName()))
        portal->SetLocalChokePoint(choke->coords);
    // New portals get no id from the region: one of their own when the link has none, so that
    // they can be linked.
    const int index = FindLink(x, y, z);
    const PortalLink* link = index >= 0 ? &m_links[static_cast<size_t>(index)] : nullptr;
    portal->SetId(link && !link->portalId.IsNull() ? link->portalId : UniqueId::CreateUnique());
    if (link) {
        portal->SetConnectedPortalId(link->connectedPortalId);
        portal->SetConnectedRegionId(link->connectedRegionId);
    }
    portal->SetCoords(cell.instance->GetObjectToRegionCoords());
    cell.portal = portal;
    KeepLink(x, y, z, *portal);
}

void GridRegion::PostLoad()
{
    m_portalsOpen = true;
    for (int x = 0; x < m_size[0] && !m_cells.empty(); ++x)
        for (int y = 0; y < m_size[1]; ++y)
            for (int z = 0; z < m_size[2]; ++z)
                if (Cell(x, y, z).portalPending)
                    OpenPortal(x, y, z);
}

// ---- File -------------------------------------------------------------------------------------

namespace {

// What a lattice block holds, read in full before the grid changes.
struct LatticeBody
{
    std::string system;
    int size[3] = {0, 0, 0};
    std::vector<int8_t> lattice; // file order: i outermost, k innermost
    std::vector<int8_t> features;
};

bool ReadLatticeBody(BinaryReader& reader, LatticeBody& body)
{
    const uint32_t length = reader.ReadUInt32();
    if (reader.Failed() || length > reader.GetRemaining()) {
        LogPrintf(1, "Grid region: the grid system's name runs past the block");
        return false;
    }
    // A longer name is read as an empty one.
    if (length <= GridRegion::maxSystemNameLength)
        body.system.assign(reinterpret_cast<const char*>(reader.GetCursor()), length);
    reader.Skip(length);
    uint32_t n[3];
    for (uint32_t& count : n)
        count = reader.ReadUInt32();
    uint64_t latticeEntries = 0, cellCount = 0;
    if (reader.Failed() || !ArraySizes(n[0], n[1], n[2], latticeEntries, cellCount)) {
        LogPrintf(1, "Grid region: the grid's counts cannot be read");
        return false;
    }
    if (latticeEntries + 2 * cellCount > reader.GetRemaining()) {
        LogPrintf(1, "Grid region: a grid of %u x %u x %u cells needs %llu bytes; %u are left", n[0], n[1],
                  n[2], static_cast<unsigned long long>(latticeEntries + 2 * cellCount),
                  reader.GetRemaining());
        return false;
    }
    for (int axis = 0; axis < 3; ++axis)
        body.size[axis] = static_cast<int>(n[axis]);
    body.lattice.resize(static_cast<size_t>(latticeEntries));
    body.features.resize(static_cast<size_t>(cellCount) * 2);
    reader.ReadBytes(body.lattice.data(), static_cast<unsigned>(body.lattice.size()));
    reader.ReadBytes(body.features.data(), static_cast<unsigned>(body.features.size()));
    return !reader.Failed();
}

bool ReadLinks(BinaryReader& reader, std::vector<GridRegion::PortalLink>& links)
{
    const uint32_t count = reader.ReadUInt32();
    if (reader.Failed() || !reader.CheckCount(count, GridRegion::linkSize, "grid portal links"))
        return false;
    links.resize(count);
    for (GridRegion::PortalLink& link : links) {
        link.portalId = reader.ReadUniqueId();
        link.connectedPortalId = reader.ReadUniqueId();
        link.connectedRegionId.Read(reader);
        link.x = static_cast<int32_t>(reader.ReadUInt32());
        link.y = static_cast<int32_t>(reader.ReadUInt32());
        link.z = static_cast<int32_t>(reader.ReadUInt32());
    }
    return !reader.Failed();
}

} // namespace

bool GridRegion::Load(BinaryReader& reader)
{
    m_links.clear();
    const uint32_t version = reader.ReadUInt32();
    if (reader.Failed() || (version != 1 && version != 2)) {
        LogPrintf(1, "Grid region: version %u of the grid block is not read", version);
        return false;
    }
    LatticeBody body;
    bool haveLattice = false;
    std::vector<PortalLink> links;
    if (version == 1) {
        if (!ReadLatticeBody(reader, body))
            return false;
        haveLattice = true;
    } else {
        // Block headers are eight bytes: fewer left end the blocks.
        while (reader.GetRemaining() >= 8) {
            const uint32_t id = reader.ReadUInt32();
            const uint32_t size = reader.ReadUInt32();
            if (id == latticeBlockId) {
                body = LatticeBody();
                if (!ReadLatticeBody(reader, body))
                    return false;
                haveLattice = true;
            } else if (id == linkBlockId) {
                if (!ReadLinks(reader, links))
                    return false;
            } else if (size > reader.GetRemaining()) {
                LogPrintf(1, "Grid region: block %u of %u bytes runs past the grid's %u", id, size,
                          reader.GetRemaining());
                return false;
            } else {
                reader.Skip(size);
            }
        }
    }

    // What was read is whole: the grid takes it. Its portals open at PostLoad.
    m_portalsOpen = false;
    if (haveLattice) {
        m_holdRebuilds = true;
        DestroyCells();
        SetSystem(body.system);
        Resize(body.size[0], body.size[1], body.size[2]);
        m_holdRebuilds = false;
        if (!m_lattice.empty()) {
            size_t at = 0;
            for (int i = 0; i <= 2 * m_size[0]; ++i)
                for (int y = 0; y < m_size[1]; ++y)
                    for (int k = 0; k <= 2 * m_size[2]; ++k)
                        m_lattice[LatticeIndex(i, y, k)] = body.lattice[at++];
        }
        if (!m_features.empty()) {
            size_t at = 0;
            for (int x = 0; x < m_size[0]; ++x)
                for (int y = 0; y < m_size[1]; ++y)
                    for (int z = 0; z < m_size[2]; ++z) {
                        const size_t cell = 2 * CellIndex(x, y, z);
                        m_features[cell] = body.features[at++];
                        m_features[cell + 1] = body.features[at++];
                    }
        }
        m_highestVisibleFloor = m_size[1] - 1;
    }
    DestroyCells();
    m_links = std::move(links);
    for (int i = static_cast<int>(m_links.size()) - 1; i >= 0; --i) {
        const PortalLink& link = m_links[static_cast<size_t>(i)];
        if (!InGrid(link.x, link.y, link.z)) {
            LogPrintf(1, "Grid region: a portal link names cell (%d, %d, %d), outside the grid", link.x,
                      link.y, link.z);
            m_links.erase(m_links.begin() + i);
        }
    }
    RebuildAll();
    ClearTransparency();
    return true;
}

void GridRegion::Save(BinaryWriter& writer) const
{
    writer.WriteUInt32(fileVersion);
    writer.BeginBlock(latticeBlockId);
    writer.WriteString(m_systemFileName);
    for (int count : m_size)
        writer.WriteUInt32(static_cast<uint32_t>(count));
    if (!m_lattice.empty())
        for (int i = 0; i <= 2 * m_size[0]; ++i)
            for (int y = 0; y < m_size[1]; ++y)
                for (int k = 0; k <= 2 * m_size[2]; ++k)
                    writer.WriteInt8(m_lattice[LatticeIndex(i, y, k)]);
    std::vector<PortalLink> links;
    if (!m_cells.empty()) {
        for (int x = 0; x < m_size[0]; ++x)
            for (int y = 0; y < m_size[1]; ++y)
                for (int z = 0; z < m_size[2]; ++z) {
                    const size_t cell = 2 * CellIndex(x, y, z);
                    writer.WriteInt8(m_features[cell]);
                    writer.WriteInt8(m_features[cell + 1]);
                    // A portal's own ids; a cell without one keeps the link it was loaded with.
                    if (const Portal* portal = Cell(x, y, z).portal) {
                        PortalLink link;
                        link.portalId = portal->GetId();
                        link.connectedPortalId = portal->GetConnectedPortalId();
                        link.connectedRegionId = portal->GetConnectedRegionId();
                        link.x = x;
                        link.y = y;
                        link.z = z;
                        links.push_back(link);
                    } else if (const int index = FindLink(x, y, z); index >= 0) {
                        links.push_back(m_links[static_cast<size_t>(index)]);
                    }
                }
    }
    writer.EndBlock();
    if (links.empty())
        return;
    writer.BeginBlock(linkBlockId);
    writer.WriteUInt32(static_cast<uint32_t>(links.size()));
    for (const PortalLink& link : links) {
        writer.WriteUniqueId(link.portalId);
        writer.WriteUniqueId(link.connectedPortalId);
        link.connectedRegionId.Write(writer);
        writer.WriteUInt32(static_cast<uint32_t>(link.x));
        writer.WriteUInt32(static_cast<uint32_t>(link.y));
        writer.WriteUInt32(static_cast<uint32_t>(link.z));
    }
    writer.EndBlock();
}

// ---- Frame ------------------------------------------------------------------------------------

void GridRegion::AddToScene(GraphicsSceneRenderer& renderer, const Frustum& frustum, const Frustum*)
{
    if (!m_region || !m_cellSpace || !renderer.IsRenderFlagSet(GraphicsSceneRenderer::RENDER_GRID_TILES))
        return;
    std::vector<GridCell*> cells;
    m_cellSpace->GetObjectsInFrusta(
        cells, &frustum, 1,
        [](const GridCell*, const ABBox& box, const SpaceFrustum& f) { return f.BoxInFrustum(box); });
    for (GridCell* cell : cells) {
        cell->instance->PrepareForRendering();
        renderer.AddRenderable(cell->instance, m_region);
    }
}

void GridRegion::Update(const Frustum* frusta, unsigned count, int elapsed)
{
    if (!m_cellSpace)
        return;
    std::vector<GridCell*> cells;
    m_cellSpace->GetObjectsInFrusta(
        cells, frusta, count,
        [](const GridCell*, const ABBox& box, const SpaceFrustum& f) { return f.BoxInFrustum(box); });
    for (GridCell* cell : cells)
        cell->instance->UpdateSectionOpacities(elapsed, m_minWallOpacity);
}

void GridRegion::UpdateTransparency(const Frustum& frustum)
{
    if (!m_cellSpace)
        return;
    std::vector<GridCell*> cells;
    m_cellSpace->GetObjectsInFrusta(
        cells, &frustum, 1,
        [](const GridCell*, const ABBox& box, const SpaceFrustum& f) { return f.BoxInFrustum(box); });
    for (GridCell* cell : cells)
        cell->instance->SetTransparency(frustum);
}

void GridRegion::ClearTransparency()
{
    std::fill(m_transparency.begin(), m_transparency.end(), 1.0f);
    if (m_cells.empty())
        return;
    for (GridCell& cell : m_cells)
        if (cell.instance)
            cell.instance->SetWallTransparency(1.0f, 1.0f, 1.0f, 1.0f);
}

void GridRegion::PushWallTransparency(int x, int y, int z)
{
    GridWallMeshInstance* instance = Cell(x, y, z).instance;
    if (!instance)
        return;
    const float walls[4] = {GetTransparency(2 * x + 1, y, 2 * z), GetTransparency(2 * x + 2, y, 2 * z + 1),
                            GetTransparency(2 * x + 1, y, 2 * z + 2), GetTransparency(2 * x, y, 2 * z + 1)};
    // The piece's wall k is the cell's wall (k - rotation) mod 4.
    const int r = Cell(x, y, z).rotation;
    float piece[4];
    for (int k = 0; k < 4; ++k)
        piece[k] = walls[Quarter(k - r)];
    instance->SetWallTransparency(piece[0], piece[1], piece[2], piece[3]);
}

void GridRegion::UpdateTransparency(const WorldVec3& viewerAt, const WorldVec3& targetAt, int elapsed)
{
    if (!m_region || m_lattice.empty())
        return;
    const Vec3 viewer = m_region->GetRelativePosition(viewerAt);
    const Vec3 target = m_region->GetRelativePosition(targetAt);

    // Every wall recovers; the marks of the last spread go.
    const float recovered = static_cast<float>(elapsed) * transparencyRecoveryRate;
    for (int k = 0; k <= 2 * m_size[2]; ++k)
        for (int y = 0; y < m_size[1]; ++y)
            for (int i = 0; i <= 2 * m_size[0]; ++i)
                if (i % 2 == 1 || k % 2 == 1) {
                    float& t = m_transparency[LatticeIndex(i, y, k)];
                    t = std::min(t + recovered, 1.0f);
                }
    std::fill(m_visited.begin(), m_visited.end(), 0);

    const Vec3 s = GetCellSpacing();
    const auto cellOf = [](float position, float spacing) {
        const double cell = std::floor(static_cast<double>(position) / spacing);
        // Far outside the grid either way; kept inside int.
        return static_cast<int64_t>(std::clamp(cell, -1e9, 1e9));
    };
    const int64_t i = 2 * cellOf(viewer.x, s.x) + 1;
    const int64_t y = cellOf(viewer.y, s.y);
    const int64_t k = 2 * cellOf(viewer.z, s.z) + 1;
    const float amount = 2.0f * static_cast<float>(elapsed);
    const Vec3 toTarget = target - viewer;
    if (y >= 0 && y < m_size[1]) {
        const int64_t acrossX = toTarget.x > 0.0f ? i + 1 : i - 1;
        const int64_t acrossZ = toTarget.z > 0.0f ? k + 1 : k - 1;
        if (std::abs(acrossX) < 0x40000000 && std::abs(k) < 0x40000000)
            SpreadFade(static_cast<int>(acrossX), static_cast<int>(y), static_cast<int>(k), viewer, target,
                       amount);
        if (std::abs(i) < 0x40000000 && std::abs(acrossZ) < 0x40000000)
            SpreadFade(static_cast<int>(i), static_cast<int>(y), static_cast<int>(acrossZ), viewer, target,
                       amount);
    }

    // Corners follow the lowest of their walls.
    for (int kk = 0; kk <= 2 * m_size[2]; kk += 2)
        for (int yy = 0; yy < m_size[1]; ++yy)
            for (int ii = 0; ii <= 2 * m_size[0]; ii += 2) {
                float lowest = 1.0f;
                const int around[4][2] = {{ii - 1, kk}, {ii + 1, kk}, {ii, kk - 1}, {ii, kk + 1}};
                for (const auto& n : around)
                    if (InLattice(n[0], yy, n[1]))
                        lowest = std::min(lowest, m_transparency[LatticeIndex(n[0], yy, n[1])]);
                m_transparency[LatticeIndex(ii, yy, kk)] = lowest;
            }
    if (m_cells.empty())
        return;
    for (int x = 0; x < m_size[0]; ++x)
        for (int yy = 0; yy < m_size[1]; ++yy)
            for (int z = 0; z < m_size[2]; ++z)
                PushWallTransparency(x, yy, z);
}

void GridRegion::SpreadFade(int startI, int y, int startK, const Vec3& viewer, const Vec3& target,
                            float amount)
{
    const Vec3 s = GetCellSpacing();
    const auto value = [&](int i, int k) { return GetLatticeValue(i, y, k); };
    // The wall segment at (i, k) and both of its end corners are there.
    const auto stands = [&](int i, int k) {
        if (value(i, k) == 0)
            return false;
        if (i % 2 != 0 && k % 2 == 0)
            return value(i - 1, k) != 0 && value(i + 1, k) != 0;
        if (i % 2 == 0 && k % 2 != 0)
            return value(i, k - 1) != 0 && value(i, k + 1) != 0;
        return false;
    };
    // A wall leaves the corner (ci, ck) one lattice step along (di, dk).
    const auto leaves = [&](int ci, int ck, int di, int dk) {
        return value(ci + di, ck + dk) != 0 && value(ci + 2 * di, ck + 2 * dk) != 0;
    };

    struct Entry
    {
        int i, k;
    };
    std::vector<Entry> stack;
    stack.push_back({startI, startK});
    while (!stack.empty()) {
        const Entry e = stack.back();
        stack.pop_back();
        if (!InLattice(e.i, y, e.k))
            continue;
        uint8_t& mark = m_visited[LatticeIndex(e.i, y, e.k)];
        if (mark)
            continue;
        mark = 1;
        if (!stands(e.i, e.k))
            continue;
        float& t = m_transparency[LatticeIndex(e.i, y, e.k)];
        t = std::max(t - amount, m_minWallOpacity);

        // The wall's direction (du, dv) in lattice steps and the side direction (su, sv); a wall
        // along X runs in i and has its sides in k.
        const bool alongX = e.i % 2 != 0;
        const int du = alongX ? 1 : 0, dv = alongX ? 0 : 1;
        const int su = alongX ? 0 : 1, sv = alongX ? 1 : 0;
        Entry next[6];
        int count = 0;
        // Collinear: past each end (lower end first).
        for (int end : {-1, 1}) {
            const int ei = e.i + end * du, ek = e.k + end * dv; // the end corner E
            const int fi = e.i - end * du, fk = e.k - end * dv; // the other end F
            bool go = true;
            for (int side : {-1, 1}) {
                const bool branch = leaves(ei, ek, side * su, side * sv);
                const bool closed =
                    stands(e.i + 2 * side * su, e.k + 2 * side * sv) && leaves(fi, fk, side * su, side * sv);
                if (branch && !closed)
                    go = false;
            }
            if (go)
                next[count++] = {e.i + 2 * end * du, e.k + 2 * end * dv};
        }
        // Turning at each end toward each side, where the line from the viewer to the target
        // crosses the line through the end across the wall.
        const int row = alongX ? e.k : e.i;
        const int lastRow = alongX ? 2 * m_size[2] : 2 * m_size[0];
        for (int end : {-1, 1}) {
            const int ei = e.i + end * du, ek = e.k + end * dv;
            const float line =
                alongX ? static_cast<float>(ei) * s.x * 0.5f : static_cast<float>(ek) * s.z * 0.5f;
            const float a = (alongX ? viewer.x : viewer.z) - line;
            const float b = (alongX ? target.x : target.z) - line;
            if (!((a < 0.0f && b > 0.0f) || (a > 0.0f && b < 0.0f)))
                continue;
            for (int side : {-1, 1}) {
                if ((side < 0 && row == 0) || (side > 0 && row == lastRow))
                    continue;
                const int pi = ei + side * su, pk = ek + side * sv;
                if (value(pi, pk) != 0)
                    next[count++] = {pi, pk};
            }
        }
        // Taken in the order listed: pushed last to first.
        while (count > 0)
            stack.push_back(next[--count]);
    }
}

// ---- Queries ----------------------------------------------------------------------------------

void GridRegion::GetMeshesInFrustum(std::vector<GraphicsMeshInstance*>& out, const Frustum* frusta,
                                    unsigned count) const
{
    if (m_cells.empty() || !frusta)
        return;
    for (int y = 0; y < m_size[1]; ++y)
        for (int x = 0; x < m_size[0]; ++x)
            for (int z = 0; z < m_size[2]; ++z) {
                GridWallMeshInstance* instance = Cell(x, y, z).instance;
                if (!instance)
                    continue;
                const ABBox box = ABBox::FromOBBox(instance->GetRegionSpaceBoundingBox());
                for (unsigned f = 0; f < count; ++f)
                    if (ABBoxInFrustum(box, frusta[f])) {
                        out.push_back(instance);
                        break;
                    }
            }
}

void GridRegion::GetCellMeshesInBox(const ABBox& box, std::vector<GraphicsMeshInstance*>& out) const
{
    if (!m_cellSpace)
        return;
    std::vector<GridCell*> cells;
    CellSpace::GetObjectsInBox(m_cellSpace->GetRoot(), cells, box);
    for (GridCell* cell : cells)
        out.push_back(cell->instance);
}

void GridRegion::GetIntersection(const Ray& ray, Intersection& intersection, PhysicsSurface surface) const
{
    if (!m_cellSpace)
        return;
    CellSpace::GetIntersection(m_cellSpace->GetRoot(), ray, intersection,
                               [surface](GridCell* cell, const Ray& r, Intersection& hit) {
                                   const PhysicsMesh* physics = CellPhysics(*cell);
                                   if (!physics)
                                       return;
                                   const Coords& frame = cell->instance->GetObjectToRegionCoords();
                                   const Coords inverse = frame.Inverse();
                                   const Ray local(inverse.TransformPoint(r.origin),
                                                   inverse.TransformVector(r.direction));
                                   if (physics->GetIntersection(local, hit, surface))
                                       hit.point = frame.TransformPoint(hit.point);
                               });
}

void GridRegion::GeometryBusStop(const ABBox& box, std::vector<GeometryBus::SimpleFace>& faces) const
{
    if (!m_cellSpace)
        return;
    std::vector<GridCell*> cells;
    CellSpace::GetObjectsInBox(m_cellSpace->GetRoot(), cells, box);
    for (const GridCell* cell : cells) {
        const PhysicsMesh* physics = CellPhysics(*cell);
        if (!physics)
            continue;
        const Coords& frame = cell->instance->GetObjectToRegionCoords();
        for (int f = 0; f < physics->GetNumFaces(); ++f) {
            int corners[3];
            unsigned flags = 0;
            physics->GetFace(f, corners, flags);
            GeometryBus::SimpleFace face;
            for (int c = 0; c < 3; ++c)
                face.vertices[c] = frame.TransformPoint(physics->GetVertex(corners[c]));
            face.surface = flags;
            const ABBox bounds =
                ABBox::FromMinMax(Vec3::Min(Vec3::Min(face.vertices[0], face.vertices[1]), face.vertices[2]),
                                  Vec3::Max(Vec3::Max(face.vertices[0], face.vertices[1]), face.vertices[2]));
            if (ABBoxesOverlap(bounds, box))
                faces.push_back(face);
        }
    }
}

int GridRegion::FindCollisions(const OBBox& box, CollisionContact* contacts, int capacity,
                               PhysicsSurface surface) const
{
    if (!contacts || capacity <= 0 || !m_cellSpace)
        return 0;
    std::vector<GridCell*> cells;
    CellSpace::GetObjectsInBox(m_cellSpace->GetRoot(), cells, ABBox::FromOBBox(box));
    int count = 0;
    for (const GridCell* cell : cells) {
        if (count >= capacity)
            break;
        const PhysicsMesh* physics = CellPhysics(*cell);
        if (!physics)
            continue;
        const Coords& frame = cell->instance->GetObjectToRegionCoords();
        const int found = std::clamp(physics->FindCollisions(TransformOBBox(frame.Inverse(), box),
                                                             contacts + count, capacity - count, surface),
                                     0, capacity - count);
        for (int c = count; c < count + found; ++c) {
            contacts[c].position = frame.TransformPoint(contacts[c].position);
            contacts[c].normal = frame.TransformVector(contacts[c].normal);
        }
        count += found;
    }
    return count;
}

void GridRegion::FindCollisions(std::vector<CollisionBox>& boxes, const ABBox& enclosing,
                                PhysicsSurface surface) const
{
    if (boxes.empty() || !m_cellSpace)
        return;
    std::vector<GridCell*> cells;
    CellSpace::GetObjectsInBox(m_cellSpace->GetRoot(), cells, enclosing);
    CollisionContact scratch[16];
    for (const GridCell* cell : cells) {
        const PhysicsMesh* physics = CellPhysics(*cell);
        if (!physics)
            continue;
        const Coords& frame = cell->instance->GetObjectToRegionCoords();
        const Coords inverse = frame.Inverse();
        for (CollisionBox& box : boxes) {
            if (!ABBoxesOverlap(ABBox::FromOBBox(box.GetBox()), cell->box))
                continue;
            const int found = std::clamp(
                physics->FindCollisions(TransformOBBox(inverse, box.GetBox()), scratch, 16, surface), 0, 16);
            for (int c = 0; c < found; ++c) {
                CollisionContact contact = scratch[c];
                contact.position = frame.TransformPoint(contact.position);
                contact.normal = frame.TransformVector(contact.normal);
                box.AddContact(contact);
            }
        }
    }
}

int GridRegion::FindCollisions(const Entity* entity, CollisionContact* contacts, int capacity, Region* region,
                               PhysicsSurface surface) const
{
    if (!entity || !contacts || capacity <= 0)
        return 0;
    OBBox proxy;
    if (!entity->GetCollisionProxy(proxy))
        return 0;
    // From the entity's region's space into this grid's.
    Region* into = m_region ? m_region : region;
    const WorldVec3 position = entity->GetCoords().GetOrigin();
    if (into)
        proxy.coords.origin += into->GetRelativePosition(position) - position.GetRegionPosition();
    return FindCollisions(proxy, contacts, capacity, surface);
}

// ---- Debug ------------------------------------------------------------------------------------

void GridRegion::RenderLattice(int x, int y, int z, Region*) const
{
    if (!InGrid(x, y, z))
        return;
    DebugRenderManager* debug = DebugRenderManager::Get();
    const Vec3 s = GetCellSpacing();
    for (int i = 2 * x; i <= 2 * x + 2; ++i)
        for (int k = 2 * z; k <= 2 * z + 2; ++k) {
            const Vec3 at(static_cast<float>(i) * s.x * 0.5f, static_cast<float>(y) * s.y,
                          static_cast<float>(k) * s.z * 0.5f);
            const bool set = GetLatticeValue(i, y, k) != 0;
            debug->RenderBox(m_region, ABBox(at, Vec3(0.15f, 0.15f, 0.15f)),
                             set ? Color(1.0f, 0.2f, 0.2f, 1.0f) : Color(0.5f, 0.5f, 0.5f, 1.0f));
            char label[32];
            std::snprintf(label, sizeof(label), "(%d %d)", i, k);
            debug->RenderText(label, m_region, at + Vec3(0.0f, 0.3f, 0.0f), Color(1.0f, 1.0f, 1.0f, 1.0f));
        }
}

} // namespace GAME
