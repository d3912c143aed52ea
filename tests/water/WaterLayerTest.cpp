// Water layers: painting blocks with the brush, their vertices and depth colours, the edges of the
// water area, cleanup and mirroring.
#include "WaterFixtures.h"

#include "terrain/WaterBlock.h"
#include "terrain/WaterLayer.h"

#include <cmath>
#include <limits>

namespace GAME::WaterTest {
namespace {

class WaterLayerTest : public WaterTestBase
{
protected:
    // Every block's coverage, by block index.
    static std::vector<std::vector<uint8_t>> Coverage(const WaterLayer& layer)
    {
        std::vector<std::vector<uint8_t>> out;
        for (unsigned z = 0; z < layer.GetNumBlocksZ(); ++z)
            for (unsigned x = 0; x < layer.GetNumBlocksX(); ++x) {
                const WaterBlock* block = layer.GetBlock(x, z);
                out.push_back(block ? std::vector<uint8_t>(block->GetCoverage(), block->GetCoverage() + 100)
                                    : std::vector<uint8_t>());
            }
        return out;
    }
};

TEST_F(WaterLayerTest, VertexColoursCarryCoverageAndTheDepthOverTheGround)
{
    EXPECT_EQ(WaterElement::EncodeDepth(300.0f), 0xFF00u);
    EXPECT_EQ(WaterElement::EncodeDepth(255.0f), 0xFF00u);
    EXPECT_EQ(WaterElement::EncodeDepth(2.5f), (2u << 8) | 127u);
    EXPECT_EQ(WaterElement::EncodeDepth(-4.0f), 0u);
    EXPECT_EQ(WaterElement::EncodeDepth(std::numeric_limits<float>::quiet_NaN()), 0u);

    // Ground 300 below the surface on the left half, above it on the right.
    Water& water = MakeWater(18, [](float x, float) { return x < 9.0f ? -290.0f : 12.0f; });
    Type("Lake");
    WaterLayer* layer = water.AddWaterLayer("Lake", 10.0f);
    ASSERT_NE(layer, nullptr);
    layer->UpdateArea(Vec3(4.0f, 10.0f, 4.0f), 3.0f, true);
    const WaterBlock* block = layer->GetBlock(0, 0);
    ASSERT_NE(block, nullptr);
    const std::vector<WaterVertex> vertices = Vertices(*block);
    ASSERT_EQ(vertices.size(), 100u);
    const WaterVertex& centre = vertices[4 * 10 + 4];
    EXPECT_EQ(centre.color, 0xFF00FF00u);      // covered, 255 deep (held), no fraction
    EXPECT_EQ(vertices[0].color, 0x0000FF00u); // outside the brush: dry, depth still there
    EXPECT_FLOAT_EQ(centre.position[0], 4.0f);
    EXPECT_FLOAT_EQ(centre.position[1], 10.0f);
    EXPECT_FLOAT_EQ(centre.texCoord[1], 4.0f);
    EXPECT_FLOAT_EQ(centre.normal[0], 1.0f);
    // The ground above the surface gives no depth: the block there is never made.
    layer->UpdateArea(Vec3(13.0f, 10.0f, 4.0f), 3.0f, true);
    EXPECT_EQ(layer->GetBlock(1, 0), nullptr);
    EXPECT_EQ(layer->GetNumBlocks(), 1u);
}

TEST_F(WaterLayerTest, PaintingMakesAndRemovesBlocksAndCleanupDropsDryOnes)
{
    Water& water = MakeWater(36, [](float, float) { return 0.0f; });
    Type("Lake");
    WaterLayer* layer = water.AddWaterLayer("Lake", 2.0f);
    ASSERT_NE(layer, nullptr);
    EXPECT_EQ(layer->GetNumBlocksX(), 4u);

    // Removing where nothing is makes nothing.
    layer->UpdateArea(Vec3(18.0f, 0.0f, 18.0f), 8.0f, false);
    EXPECT_EQ(layer->GetNumBlocks(), 0u);
    EXPECT_EQ(TreeCount(water), 0u);

    // A circle over the corner of four blocks.
    layer->UpdateArea(Vec3(18.0f, 0.0f, 18.0f), 5.0f, true);
    EXPECT_EQ(layer->GetNumBlocks(), 4u);
    EXPECT_EQ(TreeCount(water), 4u);
    EXPECT_TRUE(layer->IsPointInLayer(Vec3(18.0f, 0.0f, 18.0f)));
    EXPECT_TRUE(layer->IsPointInLayer(Vec3(15.5f, 0.0f, 20.0f)));
    EXPECT_FALSE(layer->IsPointInLayer(Vec3(10.0f, 0.0f, 10.0f)));
    // The reflection plane spans the blocks at the surface.
    const GraphicsReflectionPlane& plane = layer->GetReflectionPlane();
    EXPECT_FLOAT_EQ(plane.d, -2.0f);
    EXPECT_EQ(plane.box.center, Vec3(18.0f, 2.0f, 18.0f));
    EXPECT_EQ(plane.box.extents, Vec3(9.0f, 0.0f, 9.0f));

    // Painted out again, the blocks go and leave the tree.
    layer->UpdateArea(Vec3(18.0f, 0.0f, 18.0f), 6.0f, false);
    EXPECT_EQ(layer->GetNumBlocks(), 0u);
    EXPECT_EQ(TreeCount(water), 0u);

    // Ground that rises over the surface after painting: cleanup drops the blocks, and the water
    // drops the layer left without blocks.
    layer->UpdateArea(Vec3(4.0f, 0.0f, 4.0f), 3.0f, true);
    ASSERT_EQ(layer->GetNumBlocks(), 1u);
    ASSERT_TRUE(ShapeGround(*grounds.back(), 36, [](float, float) { return 5.0f; }));
    water.Cleanup();
    EXPECT_EQ(water.GetLayer(0), nullptr);
    EXPECT_EQ(water.GetNumLayers(), 0u);
    EXPECT_EQ(TreeCount(water), 0u);
}

TEST_F(WaterLayerTest, TheFarEdgeIsClippedToTheWaterArea)
{
    // 40 units: five blocks, the last reaching 36 ... 45 clipped to 40.
    Water& water = MakeWater(40);
    Type("Lake");
    WaterLayer* layer = water.AddWaterLayer("Lake", 1.0f);
    ASSERT_NE(layer, nullptr);
    ASSERT_EQ(layer->GetNumBlocksX(), 5u);
    layer->UpdateArea(Vec3(39.0f, 0.0f, 2.0f), 2.5f, true);
    const WaterBlock* block = layer->GetBlock(4, 0);
    ASSERT_NE(block, nullptr);
    EXPECT_FLOAT_EQ(block->GetBoundingBox().GetMax().x, 40.0f);
    EXPECT_FLOAT_EQ(block->GetBoundingBox().GetMin().x, 36.0f);
    const std::vector<WaterVertex> vertices = Vertices(*block);
    ASSERT_EQ(vertices.size(), 100u);
    EXPECT_FLOAT_EQ(vertices[3].position[0], 39.0f);
    EXPECT_FLOAT_EQ(vertices[4].position[0], 40.0f);
    EXPECT_FLOAT_EQ(vertices[9].position[0], 40.0f);

    // The grid ends at blocks x 9 = 45 and the water area at 40: a point painted past 40 lies
    // outside, where nothing is drawn (a ray hit water there, over no element of the tree), and
    // one just before inside.
    EXPECT_FALSE(layer->IsPointInLayer(Vec3(45.0f, 0.0f, 2.0f)));
    EXPECT_FALSE(layer->IsPointInLayer(Vec3(41.0f, 0.0f, 2.0f)));
    EXPECT_FALSE(layer->IsPointInLayer(Vec3(-0.01f, 0.0f, 2.0f)));
    EXPECT_TRUE(layer->IsPointInLayer(Vec3(39.0f, 0.0f, 2.0f)));
}

TEST_F(WaterLayerTest, MirroringTwiceRestoresEveryBlock)
{
    Water& water = MakeWater(45);
    Type("Lake");
    WaterLayer* layer = water.AddWaterLayer("Lake", 1.0f);
    ASSERT_NE(layer, nullptr);
    layer->UpdateArea(Vec3(12.0f, 0.0f, 20.0f), 6.0f, true);
    layer->UpdateArea(Vec3(20.0f, 0.0f, 30.0f), 4.0f, true);
    const auto original = Coverage(*layer);
    const unsigned blocks = layer->GetNumBlocks();

    layer->MirrorX(22.5f);
    EXPECT_NE(Coverage(*layer), original);
    EXPECT_FALSE(layer->IsPointInLayer(Vec3(12.0f, 0.0f, 20.0f)));
    EXPECT_TRUE(layer->IsPointInLayer(Vec3(45.0f - 12.0f - 1.0f, 0.0f, 20.0f)));
    layer->MirrorX(22.5f);
    EXPECT_EQ(Coverage(*layer), original);
    EXPECT_EQ(layer->GetNumBlocks(), blocks);
    EXPECT_EQ(TreeCount(water), blocks);

    layer->MirrorXZ();
    EXPECT_TRUE(layer->IsPointInLayer(Vec3(20.0f, 0.0f, 12.0f)));
    layer->MirrorXZ();
    EXPECT_EQ(Coverage(*layer), original);
}

} // namespace
} // namespace GAME::WaterTest
