// Grid regions: which cells an edit rebuilds, turning the grid, resizing it, its box, its queries,
// and the portals of its cells with the links they keep.
#include "GridFixtures.h"

#include "core/Frustum.h"
#include "core/Intersection.h"
#include "core/Ray.h"
#include "navigation/CollisionContact.h"
#include "navigation/PhysicsTypes.h"
#include "scene/GraphicsSceneRenderer.h"
#include "world/Portal.h"

#include <array>
#include <gtest/gtest.h>
#include <set>
#include <tuple>

namespace GAME::GridTest {
namespace {

using CellSet = std::set<std::tuple<int, int, int>>;

class GridRegionTest : public ::testing::Test
{
protected:
    // Marks every built cell, so that a rebuilt one (a new instance, or none) can be told apart.
    void Mark(const GridRegion& grid)
    {
        for (int x = 0; x < grid.GetXNumCells(); ++x)
            for (int y = 0; y < grid.GetYNumCells(); ++y)
                for (int z = 0; z < grid.GetZNumCells(); ++z)
                    if (GridWallMeshInstance* instance = grid.GetCellMesh(x, y, z))
                        instance->SetHighlight(1.0f);
    }
    // The cells rebuilt since the last mark (every cell of the rooms here has a piece); marks again.
    CellSet Rebuilt(const GridRegion& grid)
    {
        CellSet cells;
        for (int x = 0; x < grid.GetXNumCells(); ++x)
            for (int y = 0; y < grid.GetYNumCells(); ++y)
                for (int z = 0; z < grid.GetZNumCells(); ++z) {
                    const GridWallMeshInstance* instance = grid.GetCellMesh(x, y, z);
                    if (!instance || instance->GetHighlight() == 0.0f)
                        cells.insert({x, y, z});
                }
        Mark(grid);
        return cells;
    }

    GridEnvironment env;
    Region region{ABBox(Vec3(), Vec3(100, 100, 100))};
};

TEST_F(GridRegionTest, AnEditRebuildsExactlyTheCellsThatUseTheEntry)
{
    GridRegion grid(&region);
    ASSERT_TRUE(LoadBody(grid, Room(3, 2).Write()));
    ASSERT_EQ(grid.GetNumBuiltCells(), 18);
    Mark(grid);

    // An inner corner: the four cells around it, on its floor only.
    grid.SetLatticeValue(2, 0, 2, 1);
    EXPECT_EQ(grid.GetLatticeValue(2, 0, 2), 1);
    EXPECT_EQ(Rebuilt(grid), (CellSet{{0, 0, 0}, {1, 0, 0}, {0, 0, 1}, {1, 0, 1}}));
    // A wall along X: the cells on either side of it; a wall along Z likewise.
    grid.SetLatticeValue(3, 1, 2, 1);
    EXPECT_EQ(Rebuilt(grid), (CellSet{{1, 1, 0}, {1, 1, 1}}));
    grid.SetLatticeValue(2, 1, 3, 1);
    EXPECT_EQ(Rebuilt(grid), (CellSet{{0, 1, 1}, {1, 1, 1}}));
    // A floor mark: its cell.
    grid.SetCellFloor(1, 1, 1, 0);
    EXPECT_EQ(grid.GetLatticeValue(3, 1, 3), 0);
    EXPECT_EQ(Rebuilt(grid), (CellSet{{1, 1, 1}}));
    // Without a floor mark a cell gets the mid piece; the sample system has none for the empty
    // pattern, so that cell stays empty until its floor comes back.
    EXPECT_EQ(grid.GetCellMesh(1, 1, 1), nullptr);
    grid.SetCellFloor(1, 1, 1, 1);
    EXPECT_EQ(Rebuilt(grid), (CellSet{{1, 1, 1}}));
    EXPECT_EQ(PieceOf(grid, 1, 1, 1), Entry('I'));
    grid.SetCellFloor(0, 1, 0, 0);
    EXPECT_EQ(Rebuilt(grid), (CellSet{{0, 1, 0}}));
    bool base = true;
    EXPECT_EQ(PieceOf(grid, 0, 1, 0, &base), Entry('B'));
    EXPECT_FALSE(base) << "a cell without a floor mark gets the mid piece";
    // The grid's own corners have one cell each.
    grid.SetLatticeValue(0, 0, 0, 0);
    EXPECT_EQ(Rebuilt(grid), (CellSet{{0, 0, 0}}));
    grid.SetLatticeValue(6, 1, 6, 0);
    EXPECT_EQ(Rebuilt(grid), (CellSet{{2, 1, 2}}));
    // Outside the lattice nothing is written or rebuilt.
    for (const std::array<int, 3>& at : {std::array<int, 3>{7, 0, 0}, {-1, 0, 0}, {0, 2, 0}, {0, 0, -2}})
        grid.SetLatticeValue(at[0], at[1], at[2], 5);
    grid.SetCellFloor(-1, 0, 0, 1);
    EXPECT_TRUE(Rebuilt(grid).empty());
    EXPECT_EQ(grid.GetLatticeValue(7, 0, 0), 0);

    // A feature: its cell and the eight around it on its floor.
    grid.SetCellFeature(1, 0, 1, SampleGridKit::doorFeature, 1);
    CellSet floor0;
    for (int x = 0; x < 3; ++x)
        for (int z = 0; z < 3; ++z)
            floor0.insert({x, 0, z});
    EXPECT_EQ(Rebuilt(grid), floor0);
    EXPECT_EQ(PieceOf(grid, 1, 0, 1), 15);
    EXPECT_EQ(grid.GetCellRotation(1, 0, 1), 1);
    EXPECT_TRUE(grid.CellContainsFeature(1, 0, 1));
    // Past the last cell the coordinates are clamped to it; negative ones are refused.
    grid.SetCellFeature(10, 1, 10, SampleGridKit::doorFeature, 0);
    EXPECT_TRUE(grid.CellContainsFeature(2, 1, 2));
    EXPECT_EQ(Rebuilt(grid), (CellSet{{1, 1, 1}, {1, 1, 2}, {2, 1, 1}, {2, 1, 2}}));
    env.log.Clear();
    grid.SetCellFeature(-1, 0, 0, SampleGridKit::doorFeature, 0);
    EXPECT_TRUE(Rebuilt(grid).empty());
    EXPECT_FALSE(grid.CellContainsFeature(0, 0, 0));
    EXPECT_TRUE(env.log.Contains("no feature"));
    // A feature beyond the system's gives an empty cell.
    grid.SetCellFeature(0, 0, 2, 9, 0);
    EXPECT_EQ(grid.GetCellMesh(0, 0, 2), nullptr);
}

TEST_F(GridRegionTest, TurningTheGridFourTimesGivesEveryArrayAndPortalBack)
{
    GridRegion grid(&region);
    // 4 x 2 x 3 cells: the room on each floor, odd marks here and there, the doorway on the -z row
    // with its link, and features turned every way.
    GridWriter file = Room(4, 2, 3);
    file.SetLattice(3, 1, 2, 7);
    file.SetLattice(4, 0, 4, 1);
    file.SetFeature(1, 0, 0, SampleGridKit::doorFeature, 2);
    file.SetFeature(3, 1, 1, SampleGridKit::doorFeature, 3);
    file.SetFeature(2, 1, 2, 5, 1);
    GridWriter::Link link;
    link.portalId = UniqueId(1, 2, 3, 4);
    link.connectedPortalId = UniqueId(5, 6, 7, 8);
    link.connectedRegionId = RegionId(9, 10, 11, 12);
    link.x = 1;
    file.links.push_back(link);
    ASSERT_TRUE(LoadBody(grid, file.Write()));
    grid.PostLoad();
    ASSERT_EQ(region.GetNumPortals(), 2);
    const Portal* door = grid.GetCellPortal(1, 0, 0);
    ASSERT_NE(door, nullptr);
    EXPECT_EQ(door->GetId(), link.portalId);
    // Some walls faded, so that the transparency has something to turn.
    grid.UpdateTransparency(WorldVec3(&region, Vec3(6, 1, 2)), WorldVec3(&region, Vec3(6, 1, -20)), 10);
    ASSERT_LT(grid.GetTransparency(3, 0, 0), 1.0f);

    struct Snapshot
    {
        int size[3];
        std::vector<int> lattice;
        std::vector<float> transparency;
        std::vector<std::string> pieces;
        std::vector<int> features;
        std::vector<Vec3> origins;
        std::vector<bool> portals;
    };
    const auto snapshot = [&] {
        Snapshot s{{grid.GetXNumCells(), grid.GetYNumCells(), grid.GetZNumCells()}, {}, {}, {}, {}, {}, {}};
        for (int k = 0; k <= 2 * s.size[2]; ++k)
            for (int y = 0; y < s.size[1]; ++y)
                for (int i = 0; i <= 2 * s.size[0]; ++i) {
                    s.lattice.push_back(grid.GetLatticeValue(i, y, k));
                    s.transparency.push_back(grid.GetTransparency(i, y, k));
                }
        for (int z = 0; z < s.size[2]; ++z)
            for (int y = 0; y < s.size[1]; ++y)
                for (int x = 0; x < s.size[0]; ++x) {
                    int feature, rotation;
                    grid.GetCellFeature(x, y, z, feature, rotation);
                    s.features.push_back(feature);
                    s.features.push_back(rotation);
                    const GridWallMeshInstance* instance = grid.GetCellMesh(x, y, z);
                    s.pieces.push_back(instance ? instance->GetMesh()->GetFileNameString() : "-");
                    s.origins.push_back(instance ? instance->GetObjectToRegionCoords().origin : Vec3());
                    s.portals.push_back(grid.GetCellPortal(x, y, z) != nullptr);
                }
        return s;
    };
    const Snapshot before = snapshot();
    const std::vector<uint8_t> saved = SaveBody(grid);

    // One turn: X and Z change places, new cell (x, y, z) is old (X - 1 - z, y, x) and its
    // feature turns once more, and the doorway (with its portal and link) goes along.
    grid.Rotate();
    EXPECT_EQ(grid.GetXNumCells(), 3);
    EXPECT_EQ(grid.GetZNumCells(), 4);
    int feature, rotation;
    grid.GetCellFeature(0, 0, 4 - 1 - 1, feature, rotation);
    EXPECT_EQ(feature, SampleGridKit::doorFeature);
    EXPECT_EQ(rotation, 3);
    grid.GetCellFeature(1, 1, 0, feature, rotation);
    EXPECT_EQ(feature, SampleGridKit::doorFeature);
    EXPECT_EQ(rotation, 0);
    EXPECT_EQ(grid.GetLatticeValue(2, 1, 8 - 3), 7) << "lattice (i, y, k) is old (2X - k, y, i)";
    EXPECT_EQ(region.GetNumPortals(), 2);
    const Portal* turned = grid.GetCellPortal(0, 0, 2);
    ASSERT_NE(turned, nullptr);
    EXPECT_EQ(turned->GetId(), link.portalId);
    EXPECT_EQ(turned->GetConnectedRegionId(), link.connectedRegionId);

    grid.Rotate();
    grid.Rotate();
    grid.Rotate();
    const Snapshot after = snapshot();
    EXPECT_EQ(std::vector<int>(after.size, after.size + 3), std::vector<int>(before.size, before.size + 3));
    EXPECT_EQ(after.lattice, before.lattice);
    EXPECT_EQ(after.transparency, before.transparency);
    EXPECT_EQ(after.features, before.features);
    EXPECT_EQ(after.pieces, before.pieces);
    EXPECT_EQ(after.origins, before.origins);
    EXPECT_EQ(after.portals, before.portals);
    EXPECT_EQ(SaveBody(grid), saved);
}

TEST_F(GridRegionTest, ResizingKeepsWhatFitsAndRefusesWhatCannotBe)
{
    GridRegion grid(&region);
    grid.SetSystem(bareSystem); // no pieces: only the arrays
    grid.Resize(2, 1, 2);
    for (int i = 0; i <= 4; ++i)
        for (int k = 0; k <= 4; ++k)
            grid.SetLatticeValue(i, 0, k, 10 * i + k);
    grid.SetCellFeature(1, 0, 0, 3, 2);
    grid.SetCellFeature(0, 0, 1, 4, 1);

    grid.Resize(3, 2, 1);
    EXPECT_EQ(grid.GetXNumCells(), 3);
    EXPECT_EQ(grid.GetYNumCells(), 2);
    EXPECT_EQ(grid.GetZNumCells(), 1);
    EXPECT_EQ(grid.GetLatticeValue(4, 0, 2), 42);
    EXPECT_EQ(grid.GetLatticeValue(3, 0, 1), 31);
    EXPECT_EQ(grid.GetLatticeValue(5, 0, 1), 0) << "new entries are 0";
    EXPECT_EQ(grid.GetLatticeValue(4, 1, 2), 0);
    EXPECT_EQ(grid.GetLatticeValue(4, 0, 3), 0) << "outside the lattice now";
    int feature, rotation;
    grid.GetCellFeature(1, 0, 0, feature, rotation);
    EXPECT_EQ(feature, 3);
    EXPECT_EQ(rotation, 2);
    EXPECT_FALSE(grid.CellContainsFeature(0, 0, 1)) << "the cell is gone";
    EXPECT_EQ(grid.GetTransparency(5, 1, 1), 1.0f);

    // Negative counts and grids too large to hold are refused and change nothing.
    env.log.Clear();
    grid.Resize(-1, 2, 2);
    grid.Resize(100000, 100000, 100000);
    EXPECT_EQ(grid.GetXNumCells(), 3);
    EXPECT_EQ(grid.GetLatticeValue(4, 0, 2), 42);
    EXPECT_TRUE(env.log.Contains("refused"));
}

TEST_F(GridRegionTest, TheBoxIsThatOfThePiecesOrOfTheCellsAndAlwaysDefined)
{
    // No cells at all: a box of no size at the origin. A new grid takes the engine's default
    // system, which the sample kit also writes under that name.
    GridRegion empty(nullptr);
    ASSERT_NE(empty.GetSystem(), nullptr);
    EXPECT_EQ(empty.GetSystemFileName(), GridRegion::defaultSystemName);
    EXPECT_EQ(empty.GetCellSpacing(), Vec3(SampleGridKit::cellWidth, SampleGridKit::cellHeight, SampleGridKit::cellWidth));
    EXPECT_EQ(empty.GetBoundingBox(), ABBox(Vec3(), Vec3()));
    EXPECT_EQ(empty.GetGroundHeight(3.0f, -7.0f), 0.0f);

    // Cells without pieces: the box of the cells.
    GridRegion bare(nullptr);
    bare.SetSystem(bareSystem);
    bare.Resize(2, 1, 3);
    EXPECT_EQ(bare.GetBoundingBox(), ABBox::FromMinMax(Vec3(), Vec3(16, 8, 24)));

    // Built pieces: the union of their collision meshes, which fill the cells here.
    GridRegion room(&region);
    ASSERT_TRUE(LoadBody(room, Room(3).Write()));
    EXPECT_EQ(room.GetBoundingBox(), ABBox::FromMinMax(Vec3(), Vec3(12, 6, 12)));
    EXPECT_EQ(room.GetGroundHeight(6.0f, 6.0f), 0.0f);
    // A record that is not a grid system leaves the grid without one (and without pieces).
    env.log.Clear();
    room.SetSystem(entityRecord);
    EXPECT_EQ(room.GetSystem(), nullptr);
    EXPECT_EQ(room.GetCellSpacing(), Vec3(1, 1, 1));
    EXPECT_EQ(room.GetNumBuiltCells(), 0);
    EXPECT_EQ(room.GetBoundingBox(), ABBox::FromMinMax(Vec3(), Vec3(3, 1, 3)));
    EXPECT_TRUE(env.log.Contains("not a grid system"));
}

TEST_F(GridRegionTest, RaysCollisionsFacesAndTheSceneFindThePieces)
{
    GridRegion grid(&region);
    ASSERT_TRUE(LoadBody(grid, Room(3).Write()));

    // A box sunk 0.1 into the floor by the -x wall: pushed up by the floor and off the wall.
    const OBBox box(Vec3(0.5f, 0.5f, 0.5f), Coords::Translation(Vec3(0.9f, 0.4f, 6.0f)));
    CollisionContact contacts[8];
    const int count = grid.FindCollisions(box, contacts, 8, physicsSurfaceAny);
    ASSERT_GT(count, 0);
    bool up = false, fromWall = false;
    for (int i = 0; i < count; ++i) {
        EXPECT_EQ(contacts[i].surface, uint32_t(PHYSICS_SURFACE_STONE));
        up |= contacts[i].normal.y > 0.99f && contacts[i].depth > 0.05f;
        fromWall |= contacts[i].normal.x > 0.99f;
    }
    EXPECT_TRUE(up);
    EXPECT_TRUE(fromWall);
    EXPECT_EQ(grid.FindCollisions(box, contacts, 0, physicsSurfaceAny), 0);
    // In the middle of the room, clear of everything.
    EXPECT_EQ(grid.FindCollisions(OBBox(Vec3(0.5f, 0.5f, 0.5f), Coords::Translation(Vec3(6, 3, 6))), contacts,
                                  8, physicsSurfaceAny),
              0);
    // The list form keeps the nearest contacts of each box.
    std::vector<CollisionBox> boxes = {
        CollisionBox(box), CollisionBox(OBBox(Vec3(0.5f, 0.5f, 0.5f), Coords::Translation(Vec3(6, 3, 6))))};
    grid.FindCollisions(boxes, ABBox::FromMinMax(Vec3(0, 0, 0), Vec3(12, 6, 12)), physicsSurfaceAny);
    EXPECT_GT(boxes[0].GetNumContacts(), 0);
    EXPECT_EQ(boxes[1].GetNumContacts(), 0);

    // A ray down onto the floor of the middle cell.
    Intersection hit;
    grid.GetIntersection(Ray(Vec3(6, 3, 6), Vec3(0, -2, 0)), hit, physicsSurfaceAny);
    EXPECT_NEAR(hit.distance, 1.5f, 1e-5f) << "in units of the direction";
    EXPECT_NEAR(hit.point.y, 0.0f, 1e-5f);
    EXPECT_EQ(hit.surface, uint32_t(PHYSICS_SURFACE_STONE));
    Intersection miss;
    grid.GetIntersection(Ray(Vec3(6, 30, 6), Vec3(0, 1, 0)), miss, physicsSurfaceAny);
    EXPECT_FALSE(miss.IsHit());

    // The faces inside a box over the middle cell's floor: its two floor triangles and no more.
    std::vector<GeometryBus::SimpleFace> faces;
    grid.GeometryBusStop(ABBox(Vec3(6, 0, 6), Vec3(1, 0.5f, 1)), faces);
    ASSERT_EQ(faces.size(), 2u);
    for (const GeometryBus::SimpleFace& face : faces)
        for (const Vec3& corner : face.vertices)
            EXPECT_EQ(corner.y, 0.0f);
    faces.clear();
    grid.GeometryBusStop(ABBox(Vec3(6, 40, 6), Vec3(1, 1, 1)), faces);
    EXPECT_TRUE(faces.empty());

    // Drawn with the grid flag only, each cell as a renderable of the region.
    class Scene : public GraphicsSceneRenderer
    {
    public:
        bool SetSceneShaderParameters(GraphicsCanvas&, GraphicsShader2&) override { return true; }
    } scene;
    scene.SetRegionToSceneCoords(&region, Coords());
    const Frustum everything({Plane(Vec3(0, 1, 0), 100.0f)});
    scene.SetRenderFlags(GraphicsSceneRenderer::defaultRenderFlags &
                         ~GraphicsSceneRenderer::RENDER_GRID_TILES);
    grid.AddToScene(scene, everything, nullptr);
    EXPECT_TRUE(scene.GetRenderables().empty());
    scene.SetRenderFlags(GraphicsSceneRenderer::defaultRenderFlags);
    grid.AddToScene(scene, everything, nullptr);
    EXPECT_EQ(scene.GetRenderables().size(), 9u);
    std::vector<GraphicsMeshInstance*> inBox;
    grid.GetCellMeshesInBox(ABBox(Vec3(2, 3, 2), Vec3(0.5f, 0.5f, 0.5f)), inBox);
    ASSERT_EQ(inBox.size(), 1u);
    EXPECT_EQ(inBox[0], grid.GetCellMesh(0, 0, 0));
}

TEST_F(GridRegionTest, APortalCellKeepsItsLinkThroughRebuildsAndDropsItOnlyWhenEdited)
{
    GridRegion grid(&region);
    GridWriter file = Room(5);
    file.SetFeature(2, 0, 0, SampleGridKit::doorFeature, 2);
    GridWriter::Link link;
    link.portalId = UniqueId(0x11, 0x12, 0x13, 0x14);
    link.connectedPortalId = UniqueId(0x21, 0x22, 0x23, 0x24);
    link.connectedRegionId = RegionId(0x31, 0x32, 0x33, 0x34);
    link.x = 2;
    file.links.push_back(link);
    const std::vector<uint8_t> body = file.Write();
    ASSERT_TRUE(LoadBody(grid, body));

    // Loading opens no portal (it may run on a loading thread); saving keeps the link read.
    EXPECT_EQ(region.GetNumPortals(), 0);
    EXPECT_EQ(grid.GetCellPortal(2, 0, 0), nullptr);
    EXPECT_EQ(SaveBody(grid), body);

    // PostLoad opens it with the link, at the cell's frame, with the doorway's triangles.
    grid.PostLoad();
    ASSERT_EQ(region.GetNumPortals(), 1);
    Portal* portal = grid.GetCellPortal(2, 0, 0);
    ASSERT_NE(portal, nullptr);
    EXPECT_EQ(portal->GetId(), link.portalId);
    EXPECT_EQ(portal->GetConnectedPortalId(), link.connectedPortalId);
    EXPECT_EQ(portal->GetConnectedRegionId(), link.connectedRegionId);
    EXPECT_EQ(portal->GetCoords().origin, Vec3(10, 0, 2));
    EXPECT_EQ(portal->GetCoords().zAxis, Vec3(0, 0, -1)) << "turned half round";
    EXPECT_EQ(portal->GetTriangles().size(), 2u);
    // At the room's -z side, its front faces into the room (looked through from inside).
    EXPECT_FALSE(portal->IsFrontFacing(Vec3(10, 2, -1)));
    EXPECT_TRUE(portal->IsFrontFacing(Vec3(10, 2, 1)));
    EXPECT_EQ(SaveBody(grid), body);

    // The editor links it elsewhere; a neighbour's edit rebuilds the cell: its new portal has the
    // id and the new link.
    portal->SetConnectedRegionId(RegionId(7, 7, 7, 7));
    grid.SetLatticeValue(6, 0, 0, 1);
    ASSERT_EQ(region.GetNumPortals(), 1);
    portal = grid.GetCellPortal(2, 0, 0);
    ASSERT_NE(portal, nullptr);
    EXPECT_EQ(portal->GetId(), link.portalId);
    EXPECT_EQ(portal->GetConnectedPortalId(), link.connectedPortalId);
    EXPECT_EQ(portal->GetConnectedRegionId(), RegionId(7, 7, 7, 7));

    // Taking the doorway out closes the portal and drops the link, saying so.
    env.log.Clear();
    grid.SetCellFeature(2, 0, 0, 0, 0);
    EXPECT_EQ(region.GetNumPortals(), 0);
    EXPECT_TRUE(grid.GetPortalLinks().empty());
    EXPECT_TRUE(env.log.Contains("dropped", 2));
    const std::vector<uint8_t> unlinked = SaveBody(grid);
    GridWriter plain = Room(5);
    EXPECT_EQ(unlinked, plain.Write()) << "no link block";

    // A new doorway's portal gets an id of its own (the region gives none), which a save keeps.
    grid.SetCellFeature(4, 0, 4, SampleGridKit::doorFeature, 0);
    portal = grid.GetCellPortal(4, 0, 4);
    ASSERT_NE(portal, nullptr);
    EXPECT_FALSE(portal->GetId().IsNull());
    GridRegion copy(nullptr);
    ASSERT_TRUE(LoadBody(copy, SaveBody(grid)));
    ASSERT_EQ(copy.GetPortalLinks().size(), 1u);
    EXPECT_EQ(copy.GetPortalLinks()[0].portalId, portal->GetId());
    EXPECT_EQ(copy.GetPortalLinks()[0].x, 4);
    EXPECT_TRUE(copy.GetPortalLinks()[0].connectedRegionId.IsInvalid());

    // The grid's destruction closes its portals.
    {
        GridRegion other(&region);
        ASSERT_TRUE(LoadBody(other, body));
        other.PostLoad();
        EXPECT_EQ(region.GetNumPortals(), 2);
    }
    EXPECT_EQ(region.GetNumPortals(), 1);
}

} // namespace
} // namespace GAME::GridTest
