// Terrain type records: surfaces by name, the minimum blade opacity as a byte, and the blade
// variation a seed picks.
#include "TerrainFixtures.h"

#include <functional>

namespace GAME {
namespace {

using namespace TerrainTest;

class TerrainTypeTest : public ::testing::Test
{
protected:
    // The type of a record made of the given fields (class "TerrainType").
    TerrainType* Make(const std::string& name, const std::function<void(DataKit::ArzWriter::Record&)>& fields)
    {
        DataKit::ArzWriter::Record& record = m_database.AddRecord(name).String("Class", "TerrainType");
        fields(record);
        EXPECT_TRUE(m_services.Load(m_database.Build()));
        ObjectManager::Get()->ClearCache();
        TerrainType* type = ObjectManager::Get()->CreateObjectFromFileAs<TerrainType>(name);
        if (type)
            m_made.push_back(type);
        return type;
    }
    void SetUp() override { ObjectManager::Destroy(); }
    void TearDown() override
    {
        for (TerrainType* type : m_made)
            ObjectManager::Get()->DestroyObjectEx(type, __FILE__, __LINE__);
        ObjectManager::Get()->DestroyPendingObjects(UINT_MAX);
        ObjectManager::Destroy();
    }

private:
    std::vector<TerrainType*> m_made;
    DataKit::ArzWriter m_database;
    GAME::Test::RecordServices m_services;
};

TEST_F(TerrainTypeTest, SurfaceNamesGiveTheirCodesAndAnythingElseIs100)
{
    const char* names[] = {"Unwalkable", "Grass", "Dirt", "Sand", "Snow", "Stone", "Wood", "Water"};
    for (PhysicsSurface i = 0; i < 8; ++i)
        EXPECT_EQ(TerrainType::SurfaceFromName(names[i]), i) << names[i];
    for (const char* other : {"grass", "", "Lava", "Stone ", "Wat"})
        EXPECT_EQ(TerrainType::SurfaceFromName(other), 100u) << other;

    TerrainType* snow = Make("records/snow.dbr", [](auto& r) { r.String("surfaceType", "Snow"); });
    ASSERT_NE(snow, nullptr);
    EXPECT_EQ(snow->GetSurface(), 4u);
    // Without the key: 100, and every other field its default.
    TerrainType* bare = Make("records/bare.dbr", [](auto&) {});
    ASSERT_NE(bare, nullptr);
    EXPECT_EQ(bare->GetSurface(), 100u);
    EXPECT_EQ(bare->GetBladeWidth(), 1.0f);
    EXPECT_EQ(bare->GetBladeHeight(), 1.5f);
    EXPECT_EQ(bare->GetNumBladeVariations(), 1u);
    EXPECT_EQ(bare->GetBladeSpacing(), 0u);
    EXPECT_EQ(bare->GetMiniMapColor().a, 1.0f);
    EXPECT_EQ(bare->GetMiniMapColor().r, 0.0f);
    EXPECT_EQ(bare->GetBladeTexture(), nullptr);
    EXPECT_EQ(bare->GetNumTextures(), 0u);
}

TEST_F(TerrainTypeTest, RecordFieldsAndTheMinimumBladeOpacityByte)
{
    TerrainType* type = Make("records/grass.dbr", [](auto& r) {
        r.String("ActorName", "records/grassactor.dbr")
            .Int("MinimumBladeOpacity", 50)
            .Int("minimapRed", 255)
            .Int("minimapGreen", 51)
            .Float("BladeWidth", 0.25f)
            .String("TextureFileName1", "textures/grass.tex")
            .String("surfaceType", "Grass");
    });
    ASSERT_NE(type, nullptr);
    // 50 x 0.01 x 255 falls just below 127.5 in single precision and is truncated.
    EXPECT_EQ(type->GetMinimumBladeOpacity(), 127u);
    EXPECT_EQ(type->GetActorName(), "records/grassactor.dbr");
    EXPECT_FLOAT_EQ(type->GetMiniMapColor().r, 1.0f);
    EXPECT_FLOAT_EQ(type->GetMiniMapColor().g, 0.2f);
    EXPECT_EQ(type->GetBladeWidth(), 0.25f);
    EXPECT_EQ(type->GetTextureFileName(), "textures/grass.tex");
    EXPECT_EQ(type->GetSurface(), 1u);
    // Percentages past 100 still give a byte.
    TerrainType* over = Make("records/over.dbr", [](auto& r) { r.Int("MinimumBladeOpacity", 400); });
    EXPECT_EQ(over->GetMinimumBladeOpacity(), 255u);
}

TEST_F(TerrainTypeTest, SeedsPickVariationsByWeightAndNeverANegativeOne)
{
    // Probabilities 1 and 3 over 2 variations: of every four seeds one picks variation 0.
    TerrainType* weighted = Make("records/weighted.dbr", [](auto& r) {
        r.Int("BladeVariations", 2).Int("VariationProbability", std::vector<int32_t>{1, 3});
    });
    ASSERT_NE(weighted, nullptr);
    for (int seed : {0, 4, 8, -4})
        EXPECT_EQ(weighted->GetRandomTexture(seed), 0u) << seed;
    for (int seed : {1, 2, 3, 5, -1, -2, -3})
        EXPECT_EQ(weighted->GetRandomTexture(seed), 1u) << seed;
    EXPECT_EQ(weighted->GetRandomTexture(INT32_MIN), 0u); // -2^31 is a multiple of 4

    // Probabilities for 3 variations while there are 2: the seed modulo 2 decides.
    TerrainType* mismatched = Make("records/mismatched.dbr", [](auto& r) {
        r.Int("BladeVariations", 2).Int("VariationProbability", std::vector<int32_t>{5, 5, 5});
    });
    EXPECT_EQ(mismatched->GetRandomTexture(7), 1u);
    EXPECT_EQ(mismatched->GetRandomTexture(10), 0u);
    EXPECT_EQ(mismatched->GetRandomTexture(-7), 1u);

    // No variations: always 0, never a division by 0; probabilities that add up to 0: 0.
    TerrainType* none = Make("records/none.dbr", [](auto& r) { r.Int("BladeVariations", 0); });
    EXPECT_EQ(none->GetNumBladeVariations(), 0u);
    EXPECT_EQ(none->GetRandomTexture(12345), 0u);
    TerrainType* zeros = Make("records/zeros.dbr", [](auto& r) {
        r.Int("BladeVariations", 2).Int("VariationProbability", std::vector<int32_t>{0, 0});
    });
    EXPECT_EQ(zeros->GetRandomTexture(3), 0u);

    // Every pick lies among the variations, whatever the seed.
    TerrainType* three = Make("records/three.dbr", [](auto& r) {
        r.Int("BladeVariations", 3).Int("VariationProbability", std::vector<int32_t>{2, 0, 7});
    });
    unsigned counts[3] = {};
    for (int seed = -900; seed < 900; ++seed) {
        const uint32_t pick = three->GetRandomTexture(seed);
        ASSERT_LT(pick, 3u);
        ++counts[pick];
    }
    EXPECT_EQ(counts[1], 0u);
    EXPECT_EQ(counts[0], 400u);
    EXPECT_EQ(counts[2], 1400u);
}

TEST_F(TerrainTypeTest, ANonTypeRecordIsNotKeptAsAType)
{
    DataKit::ArzWriter database;
    database.AddRecord("records/thing.dbr").String("Class", "Object");
    GAME::Test::RecordServices services;
    ASSERT_TRUE(services.Load(database.Build()));
    EXPECT_EQ(ObjectManager::Get()->CreateObjectFromFileAs<TerrainType>("records/thing.dbr"), nullptr);
}

} // namespace
} // namespace GAME
