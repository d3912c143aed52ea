#include "TerrainFixtures.h"

#include "data/LoadTable.h"

namespace GAME::TerrainTest {

GAME_REGISTER_CLASS(TestGrassType, TerrainType)

namespace {

// Stands for a texture the test type has; never read through.
alignas(64) unsigned char s_bladeTextureStandIn[64];

} // namespace

void TestGrassType::Load(const LoadTable& constTable)
{
    TerrainType::Load(constTable);
    LoadTable& table = const_cast<LoadTable&>(constTable);
    const std::string name = table.GetValue("TestBladeTexture", "");
    GraphicsEngine* graphics = gEngine ? gEngine->GetGraphicsEngine() : nullptr;
    GraphicsTexture* texture = graphics && !name.empty() ? graphics->LoadTexture(name) : nullptr;
    if (!texture) {
        texture = reinterpret_cast<GraphicsTexture*>(s_bladeTextureStandIn);
        m_standIn = true;
    }
    SetBladeTexture(texture);
}

TestGrassType::~TestGrassType()
{
    if (m_standIn)
        SetBladeTexture(nullptr);
}

TypeRecords::TypeRecords()
{
    ObjectManager::Destroy();
    database.AddRecord(dirtRecord).String("Class", "TerrainType").String("surfaceType", "Dirt");
    database.AddRecord(grassRecord)
        .String("Class", "TestGrassType")
        .String("TestBladeTexture", DataKit::TerrainWriter::grassBladeTexture)
        .String("surfaceType", "Grass")
        .Int("BladeVariations", 2)
        .Int("BladeSpacing", 1)
        .Float("BladeHeight", 2.0f)
        .Float("BladeWidth", 0.4f)
        .Int("MinimumBladeOpacity", 10);
    database.AddRecord(shortGrassRecord)
        .String("Class", "TestGrassType")
        .String("TestBladeTexture", DataKit::TerrainWriter::grassBladeTexture)
        .String("surfaceType", "Grass")
        .Int("BladeVariations", 1)
        .Float("BladeHeight", 1.5f);
    database.AddRecord(stoneRecord).String("Class", "TerrainType").String("surfaceType", "Stone");
    EXPECT_TRUE(services.Load(database.Build()));
}

TypeRecords::~TypeRecords()
{
    ObjectManager::Get()->DestroyPendingObjects(UINT_MAX);
    ObjectManager::Destroy();
}

DataKit::TerrainWriter RollingTerrain(unsigned x, unsigned y, uint32_t seed)
{
    DataKit::TerrainWriter writer(x, y);
    const float a = 0.37f + 0.01f * static_cast<float>(seed % 17),
                b = 0.23f + 0.013f * static_cast<float>(seed % 11);
    for (unsigned j = 0; j < y; ++j)
        for (unsigned i = 0; i < x; ++i)
            writer.Height(i, j) =
                2.0f * std::sin(static_cast<float>(i) * a) * std::cos(static_cast<float>(j) * b) +
                0.5f * std::sin(static_cast<float>(i + 2 * j) * 0.11f);
    return writer;
}

bool LoadBody(TerrainRT& terrain, const std::vector<uint8_t>& body)
{
    BinaryReader reader(body.data(), static_cast<unsigned>(body.size()));
    return terrain.Load(reader, 13);
}

DataKit::TerrainWriter::Plug CellPlug(const DataKit::TerrainWriter& writer, unsigned x, unsigned y,
                                      float lift)
{
    auto vertex = [&](unsigned vx, unsigned vy) {
        TerrainPlug::Vertex v;
        v.position = Vec3(static_cast<float>(vx), static_cast<float>(vy),
                          writer.heights[static_cast<size_t>(vy) * writer.numXSamples + vx] + lift);
        v.normal = Vec3(0.0f, 1.0f, 0.0f);
        return v;
    };
    DataKit::TerrainWriter::Plug plug;
    plug.triangles.push_back({{vertex(x + 1, y + 1), vertex(x, y + 1), vertex(x, y)}});
    plug.triangles.push_back({{vertex(x, y), vertex(x + 1, y), vertex(x + 1, y + 1)}});
    plug.layers = {0};
    return plug;
}

} // namespace GAME::TerrainTest
