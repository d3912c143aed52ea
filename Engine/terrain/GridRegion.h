// The ground of an underground region: a box of X x Y x Z cells (Y counts floors) whose walls and
// floors are meshes of a grid system (GridSystem). Designers edit a lattice of small numbers around
// the cells and may drop a feature mesh into a cell; every change rebuilds the cells it touches.
// Each built cell is a mesh instance (GridWallMeshInstance) placed in region space and filed in the
// grid's spatial tree; a piece whose mesh carries exactly one portal opens a portal of the region,
// linked to a portal of another region. The grid answers the level for drawing, ray tests and
// collisions (against the pieces' collision meshes), hands its faces to the path-mesh build
// (GeometryBusStop), and keeps a transparency per wall that fades where the line from a viewer to
// a target crosses walls and recovers over time.
//
// Lattice: (2X + 1) x Y x (2Z + 1) signed bytes. For cell (x, y, z) on floor y its corners lie at
// (2x, 2z), (2x + 2, 2z), (2x + 2, 2z + 2), (2x, 2z + 2), in that order; the walls between them at
// (2x + 1, 2z), (2x + 2, 2z + 1), (2x + 1, 2z + 2), (2x, 2z + 1); the floor mark at (2x + 1, 2z + 1).
// A wall stands when it is not 0 and both of its corners are not 0. Features: X x Y x Z pairs of
// signed bytes (feature number, 0 none, n the system's feature n - 1; rotation in quarter turns).
// Element (a, b, c) of every 3-D array lies at a + sizeA x (b + sizeB x c). A cell's frame is its
// centre (spacing X (x + 0.5), spacing Y y, spacing Z (z + 0.5)) turned about Y by its rotation
// (the spacing is (1, 1, 1) without a system).
//
// Stored form (the kind-1 body of a level's ground chunk), little-endian: u32 version 2, then
// blocks {u32 id, u32 size, body}: block 1 the lattice (string system record name, u32 X, Y, Z,
// the lattice with i outermost then y then k, the features with x outermost then y then z); block 2
// the portal links (u32 count, then 60 bytes each: portal id, connected portal id (word 0 first),
// connected region id (its four words in order), cell x, y, z as u32), written only when a link
// exists; other ids are skipped by their size. Version 1 is a bare lattice body. Bodies of blocks
// 1 and 2 are read by their own counts; the next header follows where the body ended.
//
// Portal links: the ids and connections of the cells' portals are kept per cell, so that a cell
// rebuilt with a portal again gets its old portal's id and link back, and a cell that cannot be
// built (no system, a load not completed yet) still saves the link it was loaded with. An edit that
// leaves a linked cell without a portal drops its link with a log line.
//
// Bad input: sizes are checked against the bytes left before anything is resized, and grids
// larger than maxLatticeEntries are refused; a bad body fails Load (the level load with it)
// leaving the grid as it was (but for its links). Setters refuse negative coordinates; the wall
// fading walks the lattice with an explicit stack.
//
// Threads: Load runs on the region's level loading thread before the level is handed out; it builds
// the cells but opens no portal (regions and the path finder belong to the main thread): PostLoad,
// on the main thread, opens them and applies the links read. Everything else runs on the main
// thread. Owns its cells, their mesh instances and portals, its spatial tree and (through the object
// manager) its grid system.
#pragma once

#include "core/ABBox.h"
#include "core/Coords.h"
#include "core/GeometryBus.h"
#include "core/OBBox.h"
#include "core/UniqueId.h"
#include "data/RegionId.h"
#include "navigation/PhysicsTypes.h"

#include <cstdint>
#include <string>
#include <vector>

namespace GAME {

class BinaryReader;
class BinaryWriter;
class CollisionBox;
class Entity;
class Frustum;
class GraphicsMesh;
class GraphicsMeshInstance;
class GraphicsSceneRenderer;
class GridSystem;
class GridWallMeshInstance;
class Intersection;
class Portal;
class Ray;
class Region;
class WorldVec3;
struct CollisionContact;
struct GridCell;
template <class T> class Space;

class GridRegion
{
public:
    static constexpr const char* defaultSystemName = "Records/Underground/Egypt/EgyptCrypt.dbr";
    static constexpr uint32_t fileVersion = 2;
    static constexpr uint32_t latticeBlockId = 1;
    static constexpr uint32_t linkBlockId = 2;
    static constexpr uint32_t linkSize = 60;
    // Longer system names are read as empty ones.
    static constexpr uint32_t maxSystemNameLength = 1048576;
    // The largest lattice a grid may have (its arrays take six bytes an entry).
    static constexpr uint64_t maxLatticeEntries = uint64_t(1) << 26;
    // Transparency a faded wall regains per millisecond.
    static constexpr float transparencyRecoveryRate = 0.0025f;

    // One cell's portal link as the file stores it.
    struct PortalLink
    {
        UniqueId portalId;
        UniqueId connectedPortalId;
        RegionId connectedRegionId;
        int32_t x = 0;
        int32_t y = 0;
        int32_t z = 0;
    };

    // No cells; the system defaultSystemName is selected.
    explicit GridRegion(Region* region);
    // Destroys every cell and its portal, the spatial tree and (through the object manager) the
    // system.
    virtual ~GridRegion();
    GridRegion(const GridRegion&) = delete;
    GridRegion& operator=(const GridRegion&) = delete;

    // ---- Accessors ----------------------------------------------------------------------------
    Region* GetRegion() const { return m_region; }
    GridSystem* GetSystem() const { return m_system; }
    const std::string& GetSystemFileName() const { return m_systemFileName; }
    Vec3 GetCellSpacing() const;
    int GetXNumCells() const { return m_size[0]; }
    int GetYNumCells() const { return m_size[1]; }
    int GetZNumCells() const { return m_size[2]; }
    Vec3 GetCellCenter(int x, int y, int z) const;
    Coords GetCellCoords(int x, int y, int z, int rotation) const;
    // 0 outside the lattice.
    int GetLatticeValue(int i, int y, int k) const;
    // The cell's floor mark (0 outside the grid).
    int GetCellFloor(int x, int y, int z) const;
    // Feature number and rotation (0, 0 outside the grid).
    void GetCellFeature(int x, int y, int z, int& feature, int& rotation) const;
    bool CellContainsFeature(int x, int y, int z) const;
    void SetHighestVisibleFloor(int floor) { m_highestVisibleFloor = floor; }
    int GetHighestVisibleFloor() const { return m_highestVisibleFloor; }
    // The cell's instance, portal and turn (null, null, 0 for an empty cell or one outside).
    GridWallMeshInstance* GetCellMesh(int x, int y, int z) const;
    Portal* GetCellPortal(int x, int y, int z) const;
    int GetCellRotation(int x, int y, int z) const;
    int GetNumBuiltCells() const;
    // The links kept per cell (see the banner), in no particular order.
    const std::vector<PortalLink>& GetPortalLinks() const { return m_links; }

    void InvalidateBoundingBox() { m_boundingBoxValid = false; }
    // The union of the built pieces' collision meshes, placed; a grid without such pieces answers
    // the box of its cells (from the origin to the counts times the spacing).
    const ABBox& GetBoundingBox() const;
    // A grid has no height field: 0 everywhere.
    float GetGroundHeight(float, float) const { return 0.0f; }
    // Appends the triangles of the pieces' collision meshes that meet the box (region space), each
    // with its surface.
    void GeometryBusStop(const ABBox& box, std::vector<GeometryBus::SimpleFace>& faces) const;

    // ---- Editing ------------------------------------------------------------------------------
    // Stores the name and makes the system from its record (through the object manager; a record
    // that is not a GridSystem leaves the grid without one), then rebuilds every cell.
    void SetSystem(const std::string& fileName);
    // Nothing when unchanged. Otherwise every cell goes, the arrays take the new sizes keeping the
    // elements that still fit (new lattice entries and features 0), every cell is rebuilt and the
    // transparency is cleared. Negative counts and grids beyond maxLatticeEntries are refused.
    void Resize(int x, int y, int z);
    // Ignored outside the lattice; rebuilds every cell that uses the entry.
    void SetLatticeValue(int i, int y, int k, int value);
    void SetCellFloor(int x, int y, int z, int value);
    // Coordinates past the last cell are clamped to it, negative ones refused; rebuilds the cell
    // and its eight horizontal neighbours.
    void SetCellFeature(int x, int y, int z, int feature, int rotation);
    // A quarter turn of the whole grid about Y: new cell (x, y, z) is old cell (X - 1 - z, y, x), X
    // and Z change places and every feature turns once more. Four turns give the grid back.
    void Rotate();
    void UpdateCell(int x, int y, int z);
    void DestroyCell(int x, int y, int z);
    void DestroyCells();

    // ---- File ----------------------------------------------------------------------------------
    bool Load(BinaryReader& reader);
    void Save(BinaryWriter& writer) const;
    // Opens the portals of the cells whose pieces carry one, with the links read.
    void PostLoad();

    // ---- Frame ---------------------------------------------------------------------------------
    // With the renderer's grid flag: every cell in the frustum, prepared, as a renderable of the
    // region. The second frustum is not used.
    void AddToScene(GraphicsSceneRenderer& renderer, const Frustum& frustum, const Frustum* relative);
    // Section fades of the cells in any of the frusta, never below the minimum wall opacity.
    void Update(const Frustum* frusta, unsigned count, int elapsed);
    // Flags the sections of the cells in the frustum for fading (GraphicsMeshInstance).
    void UpdateTransparency(const Frustum& frustum);
    // Every wall recovers elapsed x transparencyRecoveryRate; then the walls standing between the
    // viewer and the target on the viewer's floor fade to the minimum wall opacity, spreading from
    // the viewer's cell along and around the walls it meets; corners take their lowest wall's value.
    void UpdateTransparency(const WorldVec3& viewer, const WorldVec3& target, int elapsed);
    void ClearTransparency();
    // 1 outside the lattice.
    float GetTransparency(int i, int y, int k) const;
    float GetMinWallOpacity() const { return m_minWallOpacity; }

    // ---- Queries -------------------------------------------------------------------------------
    // Cells whose instance's region box lies in at least one frustum (y outermost, then x, then z).
    void GetMeshesInFrustum(std::vector<GraphicsMeshInstance*>& out, const Frustum* frusta,
                            unsigned count) const;
    void GetCellMeshesInBox(const ABBox& box, std::vector<GraphicsMeshInstance*>& out) const;
    // The nearest hit of the pieces' collision meshes nearer than intersection.distance.
    void GetIntersection(const Ray& ray, Intersection& intersection, PhysicsSurface surface) const;
    // The entity's collision proxy, carried from the entity's region into this one.
    int FindCollisions(const Entity* entity, CollisionContact* contacts, int capacity, Region* region,
                       PhysicsSurface surface) const;
    int FindCollisions(const OBBox& box, CollisionContact* contacts, int capacity,
                       PhysicsSurface surface) const;
    void FindCollisions(std::vector<CollisionBox>& boxes, const ABBox& enclosing,
                        PhysicsSurface surface) const;

    // Debug boxes at the nine lattice entries of the cell (solid where not 0), labelled "(%d %d)".
    void RenderLattice(int x, int y, int z, Region* viewer) const;

private:
    bool InGrid(int x, int y, int z) const;
    bool InLattice(int i, int y, int k) const;
    size_t CellIndex(int x, int y, int z) const;
    size_t LatticeIndex(int i, int y, int k) const;
    GridCell& Cell(int x, int y, int z);
    const GridCell& Cell(int x, int y, int z) const;
    // The mesh and turn the cell would be built with (null: an empty cell).
    GraphicsMesh* ChooseMesh(int x, int y, int z, int& rotation) const;
    // SetSystem; report says whether a record that makes no grid system is logged.
    void SelectSystem(const std::string& fileName, bool report);
    void RebuildAll();
    void BuildCellSpace();
    void DestroySpace();
    // The cell's portal, made in the region with the piece's portal and the cell's link.
    void OpenPortal(int x, int y, int z);
    int FindLink(int x, int y, int z) const;
    // The portal's ids into the cell's link (made when missing).
    void KeepLink(int x, int y, int z, const Portal& portal);
    void DropLink(int index, const char* why);
    void PushWallTransparency(int x, int y, int z);
    void DestroySystem();
    // Wall fading: one spread from a wall entry, as far as it goes.
    void SpreadFade(int startI, int y, int startK, const Vec3& viewer, const Vec3& target, float amount);

    Region* m_region;
    Space<GridCell>* m_cellSpace = nullptr;
    std::string m_systemFileName;
    GridSystem* m_system = nullptr;
    int m_size[3] = {0, 0, 0};
    std::vector<GridCell> m_cells;
    std::vector<int8_t> m_lattice;
    std::vector<int8_t> m_features;
    std::vector<float> m_transparency;
    std::vector<uint8_t> m_visited;
    int m_highestVisibleFloor = 0;
    mutable ABBox m_boundingBox;
    mutable bool m_boundingBoxValid = false;
    float m_minWallOpacity = 0.0f;
    std::vector<PortalLink> m_links;
    // False from Load to PostLoad: cells are built without their portals meanwhile.
    bool m_portalsOpen = true;
    // While Load applies what it read: one rebuild at the end instead of one per step.
    bool m_holdRebuilds = false;
};

} // namespace GAME
