#include "LevelFixtures.h"

#include "data/LoadTable.h"

namespace GAME::WorldTest {

GAME_REGISTER_CLASS(TestEntity, Entity)
GAME_REGISTER_CLASS(TestSaverEntity, TestEntity)
GAME_REGISTER_CLASS(TestSpawnedEntity, TestEntity)

void TestEntity::Load(const LoadTable& constTable)
{
    LoadTable& table = const_cast<LoadTable&>(constTable);
    half = table.GetFloat("half", 1.0f);
}

std::vector<uint8_t> BuildTestDatabase()
{
    DataKit::ArzWriter writer(true);
    writer.AddRecord("records/box.dbr").String("Class", "TestEntity").Float("half", 1.0f);
    writer.AddRecord("records/big.dbr").String("Class", "TestEntity").Float("half", 30.0f);
    writer.AddRecord("records/saver.dbr").String("Class", "TestSaverEntity");
    writer.AddRecord("records/spawned.dbr").String("Class", "TestSpawnedEntity");
    writer.AddRecord("records/object.dbr").String("Class", "Object");
    return writer.Build();
}

void WorldFixture::SetUp()
{
    ASSERT_TRUE(records.Load(BuildTestDatabase()));
    ObjectManager::Destroy();
    UniqueIdMap::Destroy();
    Entity::InstallHooks();
    world = new World();
    world->AddRegion("levels/test.lvl", IntVec3(), ABBox(), RegionId());
    region = world->GetRegion(0);
    level = new Level(region);
    level->NewSpace(Vec2(100.0f, 100.0f));
    level->PostLoad(false);
    region->SetLevel(level);
}

void WorldFixture::TearDown()
{
    delete world; // unloads the level, queueing its entities
    Flush();
    EXPECT_EQ(ObjectManager::Get()->GetNumObjects(), 0u);
    ObjectManager::Destroy();
    UniqueIdMap::Destroy();
}

TestEntity* WorldFixture::Make(const char* record)
{
    Object* object = ObjectManager::Get()->CreateObjectFromFile(record, 0, true);
    return object && object->GetClassInfo().IsA(TestEntity::GetStaticClassInfo())
               ? static_cast<TestEntity*>(object)
               : nullptr;
}

TestEntity* WorldFixture::Place(const Vec3& position, const char* record)
{
    TestEntity* entity = Make(record);
    if (entity)
        level->AddEntity(entity, Coords::Translation(position));
    return entity;
}

LevelFileBuilder::LevelFileBuilder(int version) : m_version(version)
{
    m_writer.WriteBytes("LVL", 3);
    m_writer.WriteInt8(static_cast<int8_t>(version));
}

void LevelFileBuilder::Entities(const std::vector<std::string>& names, const std::vector<Record>& records)
{
    m_writer.BeginBlock(5);
    m_writer.WriteUInt32(static_cast<uint32_t>(names.size()));
    for (const std::string& name : names)
        m_writer.WriteString(name);
    m_writer.WriteUInt32(static_cast<uint32_t>(records.size()));
    for (const Record& record : records) {
        m_writer.WriteUInt32(record.name);
        m_writer.WriteCoords(record.frame);
        if (m_version >= 12) {
            m_writer.WriteUInt32(record.hasId ? 1u : 0u);
            if (record.hasId)
                m_writer.WriteUniqueId(record.id);
        }
    }
    m_writer.EndBlock();
}

void LevelFileBuilder::Chunk(uint32_t id, const std::vector<uint8_t>& body)
{
    m_writer.BeginBlock(id);
    if (!body.empty())
        m_writer.WriteBytes(body.data(), static_cast<unsigned>(body.size()));
    m_writer.EndBlock();
}

std::vector<uint8_t> LevelFileBuilder::Bytes() const
{
    return WorldTest::Bytes(m_writer);
}

std::vector<uint8_t> Bytes(const BinaryWriter& writer)
{
    return std::vector<uint8_t>(writer.GetBuffer(), writer.GetBuffer() + writer.GetSize());
}

} // namespace GAME::WorldTest
