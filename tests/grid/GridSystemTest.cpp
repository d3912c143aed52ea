// Grid systems read from their records: the wall piece a cell gets for its corners and walls and how
// far it is turned, and the pieces placed that way in a room stand where the room's solid corners
// and walls are.
#include "GridFixtures.h"

#include "core/Intersection.h"
#include "core/Ray.h"

#include <algorithm>
#include <cmath>
#include <utility>
#include <gtest/gtest.h>

namespace GAME::GridTest {
namespace {

class GridSystemTest : public ::testing::Test
{
protected:
    GridSystem* Make(const char* record)
    {
        Object* object = ObjectManager::Get()->CreateObjectFromFile(record, 0, true);
        if (!object || !object->GetClassInfo().IsA(GridSystem::GetStaticClassInfo()))
            return nullptr;
        made.push_back(object);
        return static_cast<GridSystem*>(object);
    }
    void TearDown() override
    {
        for (Object* object : made)
            ObjectManager::Get()->DestroyObjectEx(object, __FILE__, __LINE__);
    }
    // The mesh name and turn GetMeshForCell answers.
    std::string Piece(const GridSystem& system, const char* corners, const char* walls, bool base,
                      int& rotation)
    {
        const GraphicsMesh* mesh = system.GetMeshForCell(corners, walls, base, rotation);
        return mesh ? mesh->GetFileNameString() : "(none)";
    }

    GridEnvironment env;
    std::vector<Object*> made;
};

TEST_F(GridSystemTest, CellsGetThePieceOfTheirPatternTurnedToTheCornerItWasFoundFrom)
{
    GridSystem* system = Make(SampleGridKit::systemRecord);
    ASSERT_NE(system, nullptr);
    int rotation = -1;
    // Every corner and wall: N, as it stands.
    EXPECT_EQ(Piece(*system, "1111", "1111", true, rotation), SampleGridKit::WallPieceName(Entry('N'), true));
    EXPECT_EQ(rotation, 0);
    // One solid corner: F; found from the cell's own first corner it needs no turn, found from the
    // second (r = 1) it is turned three quarters.
    EXPECT_EQ(Piece(*system, "1000", "xxxx", true, rotation), SampleGridKit::WallPieceName(Entry('F'), true));
    EXPECT_EQ(rotation, 0);
    EXPECT_EQ(Piece(*system, "0100", "xxxx", true, rotation), SampleGridKit::WallPieceName(Entry('F'), true));
    EXPECT_EQ(rotation, 3);
    EXPECT_EQ(Piece(*system, "0010", "xxxx", true, rotation), SampleGridKit::WallPieceName(Entry('F'), true));
    EXPECT_EQ(rotation, 2);
    // Nothing solid: I; without a floor mark, the mid piece, whose key the sample record leaves out
    // (a missing key is no mesh).
    EXPECT_EQ(Piece(*system, "0000", "xxxx", true, rotation), SampleGridKit::WallPieceName(Entry('I'), true));
    EXPECT_EQ(rotation, 0);
    EXPECT_EQ(Piece(*system, "0000", "xxxx", false, rotation), "(none)");
    // Two walls meeting at the fourth corner (B, 10110011) seen from its second corner.
    EXPECT_EQ(Piece(*system, "1101", "1xx1", true, rotation), SampleGridKit::WallPieceName(Entry('B'), true));
    EXPECT_EQ(rotation, 3);
    // The table's entry D keeps its mid mesh under its doubled key.
    EXPECT_EQ(Piece(*system, "1111", "0111", false, rotation),
              SampleGridKit::WallPieceName(Entry('D'), false));
    // Only '1' counts: another digit is no corner.
    EXPECT_EQ(Piece(*system, "2000", "xxxx", true, rotation), SampleGridKit::WallPieceName(Entry('I'), true));
    // A wall standing from a corner to nothing matches no piece from any corner.
    EXPECT_EQ(Piece(*system, "1000", "1xxx", true, rotation), "(none)");
    EXPECT_EQ(rotation, 0);
}

TEST_F(GridSystemTest, PiecesPlacedInARoomStandOnItsSolidCornersAndWalls)
{
    // Rays from inside a room of 3 x 3 cells meet the walls all round the inner side, whichever
    // piece and turn each border cell got; the corner cells are B, the side cells A, the middle I.
    Region region(ABBox(Vec3(), Vec3(50, 50, 50)));
    GridRegion grid(&region);
    ASSERT_TRUE(LoadBody(grid, Room(3).Write()));
    const float w = SampleGridKit::cellWidth, t = SampleGridKit::wallThickness,
                top = SampleGridKit::cellHeight;
    EXPECT_EQ(grid.GetCellSpacing(), Vec3(w, top, w));
    EXPECT_EQ(PieceOf(grid, 0, 0, 0), Entry('B'));
    EXPECT_EQ(PieceOf(grid, 2, 0, 2), Entry('B'));
    EXPECT_EQ(PieceOf(grid, 1, 0, 0), Entry('A'));
    EXPECT_EQ(PieceOf(grid, 1, 0, 1), Entry('I'));
    EXPECT_EQ(grid.GetCellRotation(0, 0, 0), 3);
    EXPECT_EQ(grid.GetCellRotation(2, 0, 2), 1);
    EXPECT_EQ(grid.GetCellRotation(1, 0, 1), 0);

    const float size = 3 * w;
    const auto hit = [&](const Vec3& from, const Vec3& direction) {
        Intersection intersection;
        grid.GetIntersection(Ray(from, direction), intersection, physicsSurfaceAny);
        return intersection.distance;
    };
    // From the middle to each wall, along each side to the walls at its ends, up and down.
    const Vec3 middle(size / 2, 3, size / 2);
    const float inner = size / 2 - t;
    EXPECT_NEAR(hit(middle, Vec3(-1, 0, 0)), inner, 1e-4f);
    EXPECT_NEAR(hit(middle, Vec3(1, 0, 0)), inner, 1e-4f);
    EXPECT_NEAR(hit(middle, Vec3(0, 0, -1)), inner, 1e-4f);
    EXPECT_NEAR(hit(middle, Vec3(0, 0, 1)), inner, 1e-4f);
    EXPECT_TRUE(std::isinf(hit(middle, Vec3(0, 1, 0)))) << "the pieces have no ceiling";
    EXPECT_NEAR(hit(middle, Vec3(0, -1, 0)), 3, 1e-4f);
    for (float along : {1.0f, size - 1.0f}) {
        EXPECT_NEAR(hit(Vec3(along, 3, size / 2), Vec3(0, 0, -1)), size / 2 - t, 1e-4f) << along;
        EXPECT_NEAR(hit(Vec3(size / 2, 3, along), Vec3(1, 0, 0)), size / 2 - t, 1e-4f) << along;
    }
    // The corner pillars where two walls meet leave no gap: a diagonal ray stops in the corner.
    EXPECT_NEAR(hit(middle, Vec3(-1, 0, -1).Unit()), std::sqrt(2.0f) * inner, 1e-3f);
}

TEST_F(GridSystemTest, NoTwoFacesOfTheBuiltPiecesLieOnOneAnother)
{
    // Faces lying on one another fight over the depth as the view moves and take a further light's
    // pass twice: bright broken stripes along the walls. A room walled all round with a doorway, a
    // wall coming in from the side, a wall standing free and a lone pillar uses pieces of one, two
    // and three walls, corners alone and the doorway, turned every way. The drawn faces are the
    // collision faces, which the grid hands out placed.
    GridWriter file = Room(4);
    for (const auto& [i, k] : {std::pair{4, 1}, {4, 2}, {4, 3}, {4, 4}, {2, 6}, {4, 6}, {5, 6}, {6, 6}})
        file.SetLattice(i, 0, k, 1);
    file.SetFeature(2, 0, 0, SampleGridKit::doorFeature, 2);
    Region region(ABBox(Vec3(), Vec3(50, 50, 50)));
    GridRegion grid(&region);
    ASSERT_TRUE(LoadBody(grid, file.Write()));
    ASSERT_EQ(PieceOf(grid, 2, 0, 0), 15);
    std::vector<GeometryBus::SimpleFace> faces;
    grid.GeometryBusStop(ABBox(Vec3(8, 3, 8), Vec3(20, 20, 20)), faces);
    ASSERT_GT(faces.size(), 16u * 2u);

    // Two triangles overlap when they face the same way in one plane and no edge of either
    // separates them by more than a hair (triangles that only share an edge do not overlap).
    const auto overlap = [](const GeometryBus::SimpleFace& a, const GeometryBus::SimpleFace& b) {
        const Vec3 n = Vec3::Cross(a.vertices[1] - a.vertices[0], a.vertices[2] - a.vertices[0]).Unit();
        const Vec3 m = Vec3::Cross(b.vertices[1] - b.vertices[0], b.vertices[2] - b.vertices[0]).Unit();
        if (Vec3::Dot(n, m) < 0.999f || std::fabs(Vec3::Dot(n, b.vertices[0] - a.vertices[0])) > 1e-3f)
            return false;
        const int drop = std::fabs(n.x) > 0.5f ? 0 : std::fabs(n.y) > 0.5f ? 1 : 2;
        const auto flat = [drop](const Vec3& p) {
            return drop == 0 ? std::pair{p.y, p.z} : drop == 1 ? std::pair{p.x, p.z} : std::pair{p.x, p.y};
        };
        std::pair<float, float> pa[3], pb[3];
        for (int i = 0; i < 3; ++i) {
            pa[i] = flat(a.vertices[i]);
            pb[i] = flat(b.vertices[i]);
        }
        for (const auto* tri : {pa, pb})
            for (int e = 0; e < 3; ++e) {
                const float ax = -(tri[(e + 1) % 3].second - tri[e].second);
                const float az = tri[(e + 1) % 3].first - tri[e].first;
                float loA = 1e9f, hiA = -1e9f, loB = 1e9f, hiB = -1e9f;
                for (int i = 0; i < 3; ++i) {
                    const float da = pa[i].first * ax + pa[i].second * az;
                    const float db = pb[i].first * ax + pb[i].second * az;
                    loA = std::min(loA, da), hiA = std::max(hiA, da);
                    loB = std::min(loB, db), hiB = std::max(hiB, db);
                }
                if (hiA <= loB + 1e-4f || hiB <= loA + 1e-4f)
                    return false;
            }
        return true;
    };
    int overlaps = 0;
    for (size_t i = 0; i < faces.size(); ++i)
        for (size_t j = i + 1; j < faces.size(); ++j)
            if (overlap(faces[i], faces[j]) && overlaps++ < 5) {
                const Vec3 a = (faces[i].vertices[0] + faces[i].vertices[1] + faces[i].vertices[2]) * (1.0f / 3);
                const Vec3 b = (faces[j].vertices[0] + faces[j].vertices[1] + faces[j].vertices[2]) * (1.0f / 3);
                ADD_FAILURE() << "faces about (" << a.x << ", " << a.y << ", " << a.z << ") and (" << b.x << ", "
                              << b.y << ", " << b.z << ") lie on one another";
            }
    EXPECT_EQ(overlaps, 0) << "of " << faces.size() << " faces";
}

TEST_F(GridSystemTest, RecordsGiveSpacingsFeaturesAndTheMinimumOpacityOrTheirDefaults)
{
    GridSystem* sample = Make(SampleGridKit::systemRecord);
    ASSERT_NE(sample, nullptr);
    EXPECT_EQ(sample->GetCellSpacing(),
              Vec3(SampleGridKit::cellWidth, SampleGridKit::cellHeight, SampleGridKit::cellWidth));
    EXPECT_FLOAT_EQ(sample->GetMinWallOpacity(), 0.25f);
    ASSERT_EQ(sample->GetNumFeatures(), 1);
    EXPECT_EQ(sample->GetFeatureName(0), SampleGridKit::doorMesh);
    EXPECT_EQ(sample->GetFeatureMesh(1), nullptr) << "an index equal to the count";
    EXPECT_EQ(sample->GetFeatureMesh(-1), nullptr);
    EXPECT_EQ(sample->GetFeatureName(1), "");

    // No fields: the default spacing, no pieces, no features, opacity 0.
    GridSystem* bare = Make(bareSystem);
    ASSERT_NE(bare, nullptr);
    EXPECT_EQ(bare->GetCellSpacing(), GridSystem::defaultCellSpacing);
    EXPECT_EQ(bare->GetNumFeatures(), 0);
    EXPECT_FLOAT_EQ(bare->GetMinWallOpacity(), 0.0f);
    int rotation = -1;
    EXPECT_EQ(bare->GetMeshForCell("1111", "1111", true, rotation), nullptr);

    // Spacings of 0 or below are refused (a cell of no size puts every point in no cell).
    env.log.Clear();
    GridSystem* bad = Make(badSpacingSystem);
    ASSERT_NE(bad, nullptr);
    EXPECT_EQ(bad->GetCellSpacing(), Vec3(8, 8, 3));
    EXPECT_TRUE(env.log.Contains("cellSpacingX"));
    EXPECT_TRUE(env.log.Contains("cellSpacingY"));

    // Features that cannot be had are skipped: the indices count only the loaded ones.
    GridSystem* features = Make(featureSystem);
    ASSERT_NE(features, nullptr);
    ASSERT_EQ(features->GetNumFeatures(), 2);
    EXPECT_EQ(features->GetFeatureName(1), SampleGridKit::entranceMesh);
}

} // namespace
} // namespace GAME::GridTest
