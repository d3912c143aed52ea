#include "NavigationFixtures.h"
#include "common/LogCapture.h"

#include "core/WorldVec3.h"
#include "data/BinaryReader.h"
#include "data/BinaryWriter.h"
#include "navigation/PathMesh.h"

#include <DetourNavMesh.h>

#include <cmath>
#include <cstring>
#include <gtest/gtest.h>

namespace GAME {
namespace {

using NavigationTest::BuildFlatMesh;
using NavigationTest::MakeRegion;

std::vector<uint8_t> Written(const PathMesh& mesh)
{
    BinaryWriter writer(256);
    mesh.Write(writer);
    return std::vector<uint8_t>(writer.GetBuffer(), writer.GetBuffer() + writer.GetSize());
}

bool ReadInto(PathMesh& mesh, const std::vector<uint8_t>& bytes)
{
    BinaryReader reader(bytes.data(), static_cast<unsigned>(bytes.size()));
    const bool read = mesh.Read(reader);
    EXPECT_TRUE(reader.AtEnd()); // the chunk is always consumed
    return read;
}

class PathMeshTest : public ::testing::Test
{
protected:
    // A 40 x 40 region far from the world origin, with a 6 x 6 block in its middle.
    void SetUp() override
    {
        region = MakeRegion(IntVec3(1000000, 40, -2000000), ABBox(Vec3(20, 0, 20), Vec3(20, 10, 20)));
        block = OBBox(ABBox(Vec3(20, 1, 20), Vec3(3, 1, 3)));
        ASSERT_TRUE(BuildFlatMesh(mesh, *region, {block}));
    }

    // A floor point near the position (region space).
    bool Floor(const PathMesh& m, const Vec3& p, Vec3& out, float range = 2.0f)
    {
        WorldVec3 found;
        if (!m.FindFloorPosition(WorldVec3(region.get(), p), range, found))
            return false;
        EXPECT_EQ(found.GetRegion(), region.get());
        out = found.GetRegionPosition();
        return true;
    }

    std::unique_ptr<Region> region;
    OBBox block;
    PathMesh mesh;
};

TEST_F(PathMeshTest, DropsPositionsOntoTheFloorWithinTheRange)
{
    EXPECT_TRUE(mesh.HasMesh());
    EXPECT_GT(mesh.GetNumTiles(), 1); // 56 units of build box take two tiles a side
    const ABBox bounds = mesh.GetBoundingBox();
    EXPECT_EQ(bounds.center, Vec3(1000020, 40, -1999980));
    EXPECT_EQ(bounds.extents, Vec3(28, 18, 28));

    Vec3 floor;
    ASSERT_TRUE(Floor(mesh, Vec3(5, 1.5f, 7), floor));
    EXPECT_NEAR(floor.x, 5.0f, 1e-3f);
    EXPECT_NEAR(floor.z, 7.0f, 1e-3f);
    EXPECT_NEAR(floor.y, 0.0f, 0.25f);
    ASSERT_TRUE(Floor(mesh, Vec3(5, -1.5f, 7), floor)); // below the floor as well
    EXPECT_NEAR(floor.y, 0.0f, 0.25f);
    EXPECT_FALSE(Floor(mesh, Vec3(5, 2.5f, 7), floor)); // the floor is 2.5 away
    EXPECT_TRUE(Floor(mesh, Vec3(5, 2.5f, 7), floor, 3.0f));
    // In the middle of the block the nearest floor lies beyond the block and the agent's radius.
    EXPECT_FALSE(Floor(mesh, Vec3(20, 0.5f, 20), floor));
    EXPECT_TRUE(Floor(mesh, Vec3(20, 0.5f, 20), floor, 5.0f));
    EXPECT_GE(std::max(std::fabs(floor.x - 20), std::fabs(floor.z - 20)), 3.25f);

    // Positions of another region are carried over by the offsets, whole units first.
    auto other = MakeRegion(IntVec3(1000010, 40, -2000000), ABBox(Vec3(20, 0, 20), Vec3(20, 10, 20)));
    WorldVec3 found;
    ASSERT_TRUE(mesh.FindFloorPosition(WorldVec3(other.get(), Vec3(-5, 1, 7)), 2.0f, found));
    EXPECT_EQ(found.GetRegion(), other.get());
    EXPECT_NEAR(found.GetRegionPosition().x, -5.0f, 1e-3f);
    // Far away, without region, or with no range: nothing.
    EXPECT_FALSE(mesh.FindFloorPosition(WorldVec3(region.get(), Vec3(5000, 0, 0)), 2.0f, found));
    EXPECT_FALSE(mesh.FindFloorPosition(WorldVec3(nullptr, Vec3(5, 0, 7)), 2.0f, found));
    EXPECT_FALSE(mesh.FindFloorPosition(WorldVec3(region.get(), Vec3(5, 0, 7)), 0.0f, found));
    EXPECT_FALSE(mesh.FindFloorPosition(WorldVec3(region.get(), Vec3(5, 0, 7)), NAN, found));
    EXPECT_FALSE(PathMesh().FindFloorPosition(WorldVec3(region.get(), Vec3(5, 0, 7)), 2.0f, found));
}

TEST_F(PathMeshTest, WrittenMeshReadsBackTheSame)
{
    const std::vector<uint8_t> bytes = Written(mesh);
    ASSERT_GT(bytes.size(), 48u);
    EXPECT_EQ(std::memcmp(bytes.data(), "PTH\x40", 4), 0);

    PathMesh read;
    read.SetRegion(region.get());
    ASSERT_TRUE(ReadInto(read, bytes));
    EXPECT_TRUE(read.HasMesh());
    EXPECT_EQ(read.GetNumTiles(), mesh.GetNumTiles());
    EXPECT_EQ(read.GetNumPolygons(), mesh.GetNumPolygons());
    EXPECT_EQ(read.GetBuildBox(), mesh.GetBuildBox());
    EXPECT_EQ(Written(read), bytes);
    Vec3 a, b;
    ASSERT_TRUE(Floor(mesh, Vec3(33, 1, 9), a));
    ASSERT_TRUE(Floor(read, Vec3(33, 1, 9), b));
    EXPECT_EQ(a, b);

    // Cleared, it writes nothing and holds nothing.
    read.Clear();
    EXPECT_FALSE(read.HasData());
    EXPECT_TRUE(Written(read).empty());
}

TEST_F(PathMeshTest, ForeignBlocksAreKeptByteForByteAndOthersRefused)
{
    // The original library's layout: "PTH" and version 4, then data this engine cannot use.
    const std::vector<uint8_t> foreign = {'P', 'T', 'H', 4, 't', 'o', 'k', 0, 1, 2, 3, 0xFF, 0xFE};
    GAME::Test::LogCapture log;
    PathMesh kept;
    ASSERT_TRUE(ReadInto(kept, foreign));
    EXPECT_FALSE(kept.HasMesh());
    EXPECT_TRUE(kept.HasData());
    EXPECT_EQ(Written(kept), foreign);
    EXPECT_TRUE(log.Contains("version 4"));
    WorldVec3 found;
    EXPECT_FALSE(kept.FindFloorPosition(WorldVec3(region.get(), Vec3(5, 0, 7)), 2.0f, found));

    // Reading again replaces what was kept; a block that is no path mesh keeps nothing.
    for (const std::vector<uint8_t>& bad : {std::vector<uint8_t>{'P', 'T', 'X', 4, 0},
                                            std::vector<uint8_t>{'P', 'T', 'H'}, std::vector<uint8_t>{}}) {
        EXPECT_FALSE(ReadInto(kept, bad));
        EXPECT_FALSE(kept.HasData());
    }
}

// The first tile's data in a written block, and where its sections lie.
struct TileLayout
{
    size_t tile; // offset of the tile data in the block
    dtMeshHeader header;
    size_t verts, polys, detailMeshes, detailTris, bvTree;
};

TileLayout Layout(const std::vector<uint8_t>& block)
{
    const auto align = [](size_t n) { return (n + 3) & ~size_t(3); };
    TileLayout l{};
    l.tile = 48 + 4;
    std::memcpy(&l.header, block.data() + l.tile, sizeof(dtMeshHeader));
    l.verts = l.tile + align(sizeof(dtMeshHeader));
    l.polys = l.verts + align(12 * static_cast<size_t>(l.header.vertCount));
    const size_t links = l.polys + align(sizeof(dtPoly) * static_cast<size_t>(l.header.polyCount));
    l.detailMeshes = links + align(sizeof(dtLink) * static_cast<size_t>(l.header.maxLinkCount));
    const size_t detailVerts =
        l.detailMeshes + align(sizeof(dtPolyDetail) * static_cast<size_t>(l.header.detailMeshCount));
    l.detailTris = detailVerts + align(12 * static_cast<size_t>(l.header.detailVertCount));
    l.bvTree = l.detailTris + align(4 * static_cast<size_t>(l.header.detailTriCount));
    return l;
}

template <typename T> void Put(std::vector<uint8_t>& bytes, size_t at, T value)
{
    std::memcpy(bytes.data() + at, &value, sizeof(T));
}

TEST_F(PathMeshTest, DamagedBlocksAreRefusedBeforeDetourSeesThem)
{
    const std::vector<uint8_t> good = Written(mesh);
    const TileLayout l = Layout(good);
    ASSERT_EQ(l.header.magic, DT_NAVMESH_MAGIC);
    ASSERT_GT(l.header.bvNodeCount, 0);
    GAME::Test::LogCapture log;

    // Every cut short of the whole block fails, and leaves nothing.
    for (size_t size = 0; size < good.size(); size += size < 200 ? 1 : 61) {
        PathMesh cut;
        EXPECT_FALSE(
            ReadInto(cut, std::vector<uint8_t>(good.begin(), good.begin() + static_cast<long>(size))))
            << size;
        EXPECT_FALSE(cut.HasData());
    }
    std::vector<uint8_t> longer = good;
    longer.push_back(0);
    PathMesh trailing;
    EXPECT_FALSE(ReadInto(trailing, longer));

    const size_t h = l.tile;
    const size_t poly0 = l.polys, detail0 = l.detailMeshes;
    const auto corrupt = [&](const char* what, const std::function<void(std::vector<uint8_t>&)>& change) {
        std::vector<uint8_t> bytes = good;
        change(bytes);
        PathMesh damaged;
        EXPECT_FALSE(ReadInto(damaged, bytes)) << what;
        EXPECT_FALSE(damaged.HasMesh()) << what;
    };
    // The block's own header.
    corrupt("half-size 0", [&](auto& b) { Put<int32_t>(b, 16, 0); });
    corrupt("tile width NaN", [&](auto& b) { Put<float>(b, 28, NAN); });
    corrupt("tiles across 65", [&](auto& b) { Put<uint32_t>(b, 32, 65); });
    corrupt("polygons not a power of two", [&](auto& b) { Put<uint32_t>(b, 40, 3); });
    corrupt("polygons too many for a reference", [&](auto& b) { Put<uint32_t>(b, 40, 1u << 21); });
    corrupt("more tiles than the grid", [&](auto& b) { Put<uint32_t>(b, 44, 1000); });
    corrupt("tile size past the end", [&](auto& b) { Put<uint32_t>(b, 48, 0x7FFFFFFF); });
    // The tile header.
    corrupt("magic", [&](auto& b) { Put<int32_t>(b, h + offsetof(dtMeshHeader, magic), 0); });
    corrupt("version", [&](auto& b) { Put<int32_t>(b, h + offsetof(dtMeshHeader, version), 6); });
    corrupt("tile outside the grid", [&](auto& b) { Put<int32_t>(b, h + offsetof(dtMeshHeader, x), 9); });
    corrupt("negative tile", [&](auto& b) { Put<int32_t>(b, h + offsetof(dtMeshHeader, y), -1); });
    corrupt("layer", [&](auto& b) { Put<int32_t>(b, h + offsetof(dtMeshHeader, layer), 1); });
    corrupt("polygon count",
            [&](auto& b) { Put<int32_t>(b, h + offsetof(dtMeshHeader, polyCount), 0x40000000); });
    corrupt("vertex count", [&](auto& b) { Put<int32_t>(b, h + offsetof(dtMeshHeader, vertCount), -3); });
    corrupt("no links", [&](auto& b) { Put<int32_t>(b, h + offsetof(dtMeshHeader, maxLinkCount), 0); });
    corrupt("off-mesh links",
            [&](auto& b) { Put<int32_t>(b, h + offsetof(dtMeshHeader, offMeshConCount), 1); });
    corrupt("detail meshes", [&](auto& b) {
        Put<int32_t>(b, h + offsetof(dtMeshHeader, detailMeshCount), l.header.polyCount - 1);
    });
    corrupt("bounds", [&](auto& b) { Put<float>(b, h + offsetof(dtMeshHeader, bmax), 1e9f); });
    corrupt("tree factor",
            [&](auto& b) { Put<float>(b, h + offsetof(dtMeshHeader, bvQuantFactor), INFINITY); });
    // The sections.
    corrupt("vertex NaN", [&](auto& b) { Put<float>(b, l.verts + 4, NAN); });
    corrupt("vertex far away", [&](auto& b) { Put<float>(b, l.verts, 5000.0f); });
    corrupt("polygon corner", [&](auto& b) {
        Put<uint16_t>(b, poly0 + offsetof(dtPoly, verts), static_cast<uint16_t>(l.header.vertCount));
    });
    corrupt("polygon neighbour", [&](auto& b) {
        Put<uint16_t>(b, poly0 + offsetof(dtPoly, neis), static_cast<uint16_t>(l.header.polyCount + 1));
    });
    corrupt("outer neighbour side",
            [&](auto& b) { Put<uint16_t>(b, poly0 + offsetof(dtPoly, neis), 0x8009); });
    corrupt("polygon corners", [&](auto& b) { Put<uint8_t>(b, poly0 + offsetof(dtPoly, vertCount), 7); });
    corrupt("polygon kind",
            [&](auto& b) { Put<uint8_t>(b, poly0 + offsetof(dtPoly, areaAndtype), 0x40 | 63); });
    corrupt("detail vertices", [&](auto& b) {
        Put<uint32_t>(b, detail0 + offsetof(dtPolyDetail, vertBase),
                      static_cast<uint32_t>(l.header.detailVertCount));
        Put<uint8_t>(b, detail0 + offsetof(dtPolyDetail, vertCount), 1);
    });
    corrupt("detail triangles", [&](auto& b) {
        Put<uint32_t>(b, detail0 + offsetof(dtPolyDetail, triBase),
                      static_cast<uint32_t>(l.header.detailTriCount));
    });
    corrupt("detail triangle corner", [&](auto& b) {
        dtPolyDetail d;
        std::memcpy(&d, b.data() + detail0, sizeof(d));
        Put<uint8_t>(b, l.detailTris + 4 * d.triBase, 200);
    });
    corrupt("detail mesh without triangles",
            [&](auto& b) { Put<uint8_t>(b, detail0 + offsetof(dtPolyDetail, triCount), 0); });
    corrupt("detail mesh without boundary edges", [&](auto& b) {
        dtPolyDetail d;
        std::memcpy(&d, b.data() + detail0, sizeof(d));
        for (unsigned t = 0; t < d.triCount; ++t)
            Put<uint8_t>(b, l.detailTris + 4 * (d.triBase + t) + 3, 0);
    });
    corrupt("tree leaf", [&](auto& b) {
        for (int i = 0; i < l.header.bvNodeCount; ++i) {
            dtBVNode node;
            std::memcpy(&node, b.data() + l.bvTree + sizeof(dtBVNode) * static_cast<size_t>(i), sizeof(node));
            if (node.i >= 0) {
                node.i = l.header.polyCount;
                std::memcpy(b.data() + l.bvTree + sizeof(dtBVNode) * static_cast<size_t>(i), &node,
                            sizeof(node));
                return;
            }
        }
    });
    corrupt("tree escape", [&](auto& b) {
        dtBVNode node;
        std::memcpy(&node, b.data() + l.bvTree, sizeof(node));
        node.i = -(l.header.bvNodeCount + 1);
        std::memcpy(b.data() + l.bvTree, &node, sizeof(node));
    });
    // Two tiles in one place of the grid.
    corrupt("tile twice", [&](auto& b) {
        uint32_t size;
        std::memcpy(&size, b.data() + 48, 4);
        Put<uint32_t>(b, 44, 2);
        const std::vector<uint8_t> first(b.begin() + 48, b.begin() + 52 + size);
        b.resize(52 + size);
        b.insert(b.end(), first.begin(), first.end());
    });
    EXPECT_TRUE(log.Contains("refused: a polygon names a vertex or neighbour")); // refusals say why
}

} // namespace
} // namespace GAME
