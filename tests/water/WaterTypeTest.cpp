// Water types: their formulas, their record, and the manager that shares them by name.
#include "WaterFixtures.h"

#include <cmath>

namespace GAME::WaterTest {
namespace {

class WaterTypeTest : public WaterTestBase
{
};

TEST_F(WaterTypeTest, OpacityAndVelocityFollowTheTypesValues)
{
    WaterType type("Pond");
    type.MinDepth() = 0.0f;
    type.MaxDepth() = 0.5f;
    type.MinDepthOpacity() = 0.2f;
    type.MaxDepthOpacity() = 1.0f;
    // A range below 1 counts as 1: a depth of 0.25 is a quarter of the way.
    EXPECT_FLOAT_EQ(type.CalculateOpacity(0.25f), 0.2f + 0.25f * 0.8f);
    EXPECT_FLOAT_EQ(type.CalculateOpacity(-3.0f), 0.2f);
    EXPECT_FLOAT_EQ(type.CalculateOpacity(100.0f), 1.0f);

    type.ScrollSpeed() = 2.0f;
    type.Direction() = 90.0f;
    const Vec2 v = type.CalculateVelocity();
    EXPECT_NEAR(v.x, 0.0f, 1e-5f);
    EXPECT_NEAR(v.y, 2.0f, 1e-5f);
}

TEST_F(WaterTypeTest, TheRecordRoundTripsAndACopyCarriesNoTextures)
{
    WaterType type("Swamp");
    type.MinDepthOpacity() = 0.1f;
    type.MaxDepthOpacity() = 0.7f;
    type.MinDepth() = 0.5f;
    type.MaxDepth() = 6.0f;
    type.ScrollSpeed() = 1.5f;
    type.Smoothness() = 3.0f;
    type.Specularity() = 50.0f;
    type.Reflectivity() = 0.4f;
    type.Direction() = 45.0f;
    type.TextureScale() = Vec2(8.0f, 4.0f);
    type.WaterColor() = Vec3(0.2f, 0.5f, 0.1f);
    type.SetSkyTextureFile("Sky/Grey.tex");
    type.SetNoiseTextureRecord("Records/Noise/Slow.dbr");
    BinaryWriter writer(64);
    type.Save(writer);
    const std::vector<uint8_t> bytes = Bytes(writer);
    // u32 1, fourteen floats, three strings.
    EXPECT_EQ(bytes.size(), 4u + 14u * 4u + (4u + 5u) + (4u + 12u) + (4u + 22u));

    WaterType loaded;
    BinaryReader reader(bytes.data(), static_cast<unsigned>(bytes.size()));
    ASSERT_TRUE(loaded.Load(reader));
    EXPECT_TRUE(reader.AtEnd());
    BinaryWriter again(64);
    loaded.Save(again);
    EXPECT_EQ(Bytes(again), bytes);
    EXPECT_EQ(loaded.GetName(), "Swamp");

    const WaterType copy(loaded);
    EXPECT_EQ(copy.GetSkyTexture(), nullptr);
    EXPECT_EQ(copy.GetBumpTexture(), nullptr);
    EXPECT_EQ(copy.TextureScale(), Vec2(8.0f, 4.0f));

    // Cut short, the record fails.
    BinaryReader cut(bytes.data(), static_cast<unsigned>(bytes.size() - 3));
    WaterType partial;
    EXPECT_FALSE(partial.Load(cut));
}

TEST_F(WaterTypeTest, TypesAreSharedByNameIgnoringCaseWithReferenceCounts)
{
    WaterTypeManager& manager = *WaterTypeManager::Get();
    WaterType* river = manager.CreateWaterType("River");
    ASSERT_NE(river, nullptr);
    EXPECT_EQ(manager.GetReferenceCount(river), 1);
    EXPECT_TRUE(manager.IsWaterType("RIVER"));
    EXPECT_EQ(manager.GetWaterType("rIvEr"), river);
    EXPECT_EQ(manager.CreateWaterType("river"), river);
    EXPECT_EQ(manager.GetReferenceCount(river), 3);
    EXPECT_EQ(manager.GetWaterType("Lake"), nullptr);

    // Released as often as taken, the type goes with its last reference, and only then.
    EXPECT_FALSE(manager.ReleaseWaterType(river));
    EXPECT_FALSE(manager.ReleaseWaterType(river));
    EXPECT_TRUE(manager.ReleaseWaterType(river));
    EXPECT_FALSE(manager.IsWaterType("River"));
    // A second release of a type that is gone, and a type the manager never held, change nothing.
    EXPECT_FALSE(manager.ReleaseWaterType(river));
    const WaterType foreign("Foreign");
    EXPECT_FALSE(manager.ReleaseWaterType(&foreign));
    EXPECT_FALSE(manager.ReleaseWaterType(nullptr));
    EXPECT_EQ(manager.GetNumWaterTypes(), 0);
}

TEST_F(WaterTypeTest, TheFirstDefinitionWinsAndRenamesKeepNamesUnique)
{
    WaterTypeManager& manager = *WaterTypeManager::Get();
    WaterType first("Lake");
    first.ScrollSpeed() = 3.0f;
    WaterType* registered = manager.AddWaterType(first);
    ASSERT_NE(registered, nullptr);
    EXPECT_NE(registered, &first); // a copy of its own

    WaterType second("LAKE");
    second.ScrollSpeed() = 9.0f;
    EXPECT_EQ(manager.AddWaterType(second), nullptr);
    EXPECT_EQ(manager.GetReferenceCount(registered), 1);
    EXPECT_FLOAT_EQ(registered->ScrollSpeed(), 3.0f);

    ASSERT_NE(manager.CreateWaterType("Sea"), nullptr);
    EXPECT_FALSE(manager.RenameWaterType("Sea", "lake"));  // taken, whatever the case
    EXPECT_FALSE(manager.RenameWaterType("Ocean", "Bay")); // nothing to rename
    EXPECT_TRUE(manager.RenameWaterType("sea", "Bay"));
    EXPECT_TRUE(manager.IsWaterType("bay"));
    EXPECT_FALSE(manager.IsWaterType("Sea"));

    // A freed entry is reused: names come in entry order.
    manager.ReleaseWaterType(registered);
    ASSERT_NE(manager.CreateWaterType("Pond"), nullptr);
    std::vector<std::string> names = {"stale"};
    manager.GetWaterTypeNames(names);
    EXPECT_EQ(names, (std::vector<std::string>{"Pond", "Bay"}));
}

} // namespace
} // namespace GAME::WaterTest
