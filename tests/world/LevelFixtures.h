// Shared fixtures of the level and entity tests: a record database of test entity classes, a world with one
// region whose level is an empty space, engine roles that tests switch, and a builder for level
// files written by hand.
#pragma once

#include "common/RecordServices.h"
#include "core/ObjectManager.h"
#include "core/UniqueIdMap.h"
#include "data/BinaryReader.h"
#include "data/BinaryWriter.h"
#include "datakit/ArzWriter.h"
#include "world/Entity.h"
#include "world/Level.h"
#include "world/MapChunkCallback.h"
#include "world/Region.h"
#include "world/World.h"
#include "world/WorldServices.h"

#include <climits>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace GAME::WorldTest {

// An entity whose box is a cube of half size `half` around its origin (set by UpdateBoundingBox),
// that counts its level hooks and carries a few bytes of extra data.
class TestEntity : public Entity
{
    GAME_DECLARE_CLASS(TestEntity)

public:
    void Load(const LoadTable& table) override;
    void UpdateBoundingBox() override
    {
        const Vec3 origin = GetCoords().GetOrigin().GetRegionPosition();
        SetRegionBoundingBox(ABBox(origin, Vec3(half, half, half)));
    }
    void Write(BinaryWriter& writer) const override
    {
        if (!extra.empty())
            writer.WriteString(extra);
    }
    void Read(BinaryReader& reader) override { reader.ReadString(extra); }
    void OnAddToLevel(Level*) override { ++added; }
    void OnRemoveFromLevel(Level*) override { ++removed; }
    void OnDestroy() override { ++destroyed; }
    void GetIntersection(const Ray& ray, Intersection& intersection, PhysicsSurface) const override
    {
        intersection.distance = GetRegionBoundingBox().GetIntersection(ray);
        intersection.point = ray.GetPoint(intersection.distance);
    }
    bool ShouldSaveState() const override { return saveState; }
    bool ShouldServerSpawn() const override { return serverSpawn; }
    void SaveState(BinaryWriter& writer) const override
    {
        Entity::SaveState(writer);
        writer.WriteUInt32(static_cast<uint32_t>(hp));
    }
    void RestoreState(BinaryReader& reader) override
    {
        Entity::RestoreState(reader);
        hp = static_cast<int>(reader.ReadUInt32());
    }
    bool GetIsPartOfLevel() const override { return partOfLevel; }

    float half = 1.0f;
    std::string extra;
    int hp = 0;
    bool saveState = false;
    bool serverSpawn = false;
    bool partOfLevel = false;
    int added = 0;
    int removed = 0;
    int destroyed = 0;
};

// Entities whose class asks for saved state, or to be spawned by the server.
class TestSaverEntity : public TestEntity
{
    GAME_DECLARE_CLASS(TestSaverEntity)

public:
    TestSaverEntity() { saveState = true; }
};

class TestSpawnedEntity : public TestEntity
{
    GAME_DECLARE_CLASS(TestSpawnedEntity)

public:
    TestSpawnedEntity() { serverSpawn = true; }
};

// Roles the tests switch.
class TestServices : public WorldServices
{
public:
    TestServices() { Install(this); }
    ~TestServices() override { Install(nullptr); }
    SectorDataManager* GetSectorDataManager() override { return nullptr; }
    bool InstallMapChunkCallback(MapChunkCallback*) override { return false; }
    const MapChunkCallbackMap& GetChunkCallbackMap() override { return callbacks; }
    bool IsEditorMode() override { return editor; }
    bool IsNetworkServer() override { return server; }
    bool IsNetworkClient() override { return client; }
    float GetEntityUpdateInflation() override { return defaultEntityUpdateInflation; }
    const FilterFunction<Entity>* GetEntityRenderFilter() override { return nullptr; }
    PhysicsEngine* GetPhysicsEngine() override { return nullptr; }
    NetworkControllerBase* GetNetworkController() override { return controller; }
    NetworkEntityList* GetNetworkEntityList() override { return entityList; }

    MapChunkCallbackMap callbacks;
    NetworkControllerBase* controller = nullptr;
    NetworkEntityList* entityList = nullptr;
    bool editor = false;
    bool server = false;
    bool client = false;
};

// Records: "records/box.dbr" (TestEntity, half 1), "records/big.dbr" (TestEntity, half 30),
// "records/saver.dbr" (TestSaverEntity), "records/spawned.dbr" (TestSpawnedEntity),
// "records/object.dbr" (a plain Object).
std::vector<uint8_t> BuildTestDatabase();

class WorldFixture : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    // A TestEntity of the record, not yet placed.
    TestEntity* Make(const char* record = "records/box.dbr");
    // Placed in the level at the position (identity axes).
    TestEntity* Place(const Vec3& position, const char* record = "records/box.dbr");
    // Deletes everything queued.
    void Flush() { ObjectManager::Get()->DestroyPendingObjects(UINT_MAX); }

    GAME::Test::RecordServices records;
    TestServices services;
    World* world = nullptr;
    Region* region = nullptr;
    Level* level = nullptr;
};

// Writes a level file chunk by chunk.
class LevelFileBuilder
{
public:
    explicit LevelFileBuilder(int version);
    // Chunk 5: the names, then records of (name index, origin, optional unique id).
    struct Record
    {
        Record(uint32_t name_, const Coords& frame_, bool hasId_ = false, const UniqueId& id_ = UniqueId())
            : name(name_), frame(frame_), hasId(hasId_), id(id_)
        {
        }
        uint32_t name;
        Coords frame;
        bool hasId;
        UniqueId id;
    };
    void Entities(const std::vector<std::string>& names, const std::vector<Record>& records);
    void Chunk(uint32_t id, const std::vector<uint8_t>& body);
    std::vector<uint8_t> Bytes() const;

private:
    int m_version;
    BinaryWriter m_writer{256};
};

std::vector<uint8_t> Bytes(const BinaryWriter& writer);

} // namespace GAME::WorldTest
