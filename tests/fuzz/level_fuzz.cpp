// Loads a level file image into a level of a small world (its entities made from a record
// database through the object manager), saves what loaded and loads that again, then hands the
// input to RestoreState as a saved-state block. Every object made is destroyed again.
#include "common/FuzzSeeds.h"
#include "common/QuietLog.h"
#include "core/Log.h"
#include "core/ObjectManager.h"
#include "core/UniqueIdMap.h"
#include "data/BinaryReader.h"
#include "data/BinaryWriter.h"
#include "data/DatabaseArchive.h"
#include "data/FileSystem.h"
#include "data/TableDepot.h"
#include "datakit/ArzWriter.h"
#include "terrain/Water.h"
#include "world/Entity.h"
#include "world/Level.h"
#include "world/Region.h"
#include "world/World.h"

#include <climits>
#include <cstring>
#include <string>
#include <vector>

namespace GAME {

// An entity with per-entity data and saved state of its own.
class FuzzEntity : public Entity
{
    GAME_DECLARE_CLASS(FuzzEntity)

public:
    void UpdateBoundingBox() override
    {
        SetRegionBoundingBox(ABBox(GetCoords().GetOrigin().GetRegionPosition(), Vec3(0.5f, 0.5f, 0.5f)));
    }
    void Read(BinaryReader& reader) override { reader.ReadString(m_note); }
    void Write(BinaryWriter& writer) const override
    {
        if (!m_note.empty())
            writer.WriteString(m_note);
    }
    bool ShouldSaveState() const override { return true; }
    void SaveState(BinaryWriter& writer) const override
    {
        Entity::SaveState(writer);
        writer.WriteString(m_note);
    }
    void RestoreState(BinaryReader& reader) override
    {
        Entity::RestoreState(reader);
        reader.ReadString(m_note);
    }
    void SetNote(const std::string& note) { m_note = note; }

private:
    std::string m_note;
};

GAME_REGISTER_CLASS(FuzzEntity, Entity)

} // namespace GAME

namespace {

using namespace GAME;

class Records : public TableDepotServices
{
public:
    Records()
    {
        DataKit::ArzWriter writer(true);
        writer.AddRecord("records/fuzz/a.dbr").String("Class", "FuzzEntity");
        writer.AddRecord("records/fuzz/b.dbr").String("Class", "FuzzEntity");
        writer.AddRecord("records/fuzz/plain.dbr").String("Class", "Object");
        const std::vector<uint8_t> image = writer.Build();
        m_archive.Load(image.data(), static_cast<unsigned>(image.size()), false);
        TableDepot::SetServices(this);
    }
    bool IsLoadingDbFromArchive() override { return true; }
    DatabaseArchive* GetDatabaseArchive() override { return &m_archive; }
    FileSystem* GetFileSystem() override { return &m_files; }

private:
    DatabaseArchive m_archive;
    FileSystem m_files;
};

struct Setting
{
    Setting()
    {
        FuzzLog::Silence();
        Entity::InstallHooks();
        world.AddRegion("levels/fuzz.lvl", IntVec3(), ABBox(Vec3(), Vec3(512.0f, 512.0f, 512.0f)),
                        RegionId());
        region = world.GetRegion(0);
    }
    Records records;
    World world;
    Region* region = nullptr;
};

Setting& GetSetting()
{
    static Setting setting;
    return setting;
}

std::vector<uint8_t> Image(const Level& level)
{
    BinaryWriter writer(0x400);
    level.SaveToMemory(writer, false);
    return std::vector<uint8_t>(writer.GetBuffer(), writer.GetBuffer() + writer.GetSize());
}

void Populate(Level& level, int count)
{
    for (int i = 0; i < count; ++i) {
        Object* object =
            ObjectManager::Get()->CreateObjectFromFile(i % 2 ? "records/fuzz/a.dbr" : "records/fuzz/b.dbr");
        if (!Entity::IsEntity(object))
            continue;
        FuzzEntity* entity = static_cast<FuzzEntity*>(object);
        if (i % 3 == 0)
            entity->SetNote("note " + std::to_string(i));
        if (i % 2 == 0)
            entity->SetUniqueID(UniqueId(1, 2, 3, static_cast<uint32_t>(i)));
        level.AddEntity(entity, Coords::Translation(Vec3(2.0f * static_cast<float>(i), 1.0f, 3.0f)));
    }
}

void Clean()
{
    ObjectManager::Get()->DestroyPendingObjects(UINT_MAX);
}

} // namespace

void EngineFuzzSeeds(FuzzSeedSink& sink)
{
    Setting& setting = GetSetting();
    {
        Level level(setting.region);
        level.NewTerrain(9, 9);
        level.NewWater();
        Populate(level, 6);
        sink.Add("terrain.lvl", Image(level));
        BinaryWriter state(0x400);
        level.SaveState(&state);
        sink.Add("state.bin", std::vector<uint8_t>(state.GetBuffer(), state.GetBuffer() + state.GetSize()));
    }
    {
        Level level(setting.region);
        level.NewGrid(2, 1, 2);
        Populate(level, 3);
        sink.Add("grid.lvl", Image(level));
    }
    {
        Level level(setting.region);
        level.NewSpace(Vec2(20.0f, 20.0f));
        sink.Add("empty.lvl", Image(level));
    }
    {
        // Version 10: no ground kind word and no unique-id fields.
        BinaryWriter writer(256);
        writer.WriteBytes("LVL", 3);
        writer.WriteInt8(10);
        writer.BeginBlock(6);
        writer.WriteUInt32(3);
        writer.WriteUInt32(3);
        writer.WriteUInt32(0);
        for (int i = 0; i < 9 * 5; ++i)
            writer.WriteUInt32(0);
        writer.EndBlock();
        writer.BeginBlock(5);
        writer.WriteUInt32(1);
        writer.WriteString("records/fuzz/a.dbr");
        writer.WriteUInt32(1);
        writer.WriteUInt32(0);
        writer.WriteCoords(Coords::Translation(Vec3(1.0f, 0.0f, 1.0f)));
        writer.EndBlock();
        writer.BeginBlock(20);
        writer.WriteUInt32(0);
        writer.WriteUInt32(6);
        writer.WriteString("hi");
        writer.EndBlock();
        sink.Add("version10.lvl",
                 std::vector<uint8_t>(writer.GetBuffer(), writer.GetBuffer() + writer.GetSize()));
    }
    Clean();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > (1u << 20))
        return 0;
    Setting& setting = GetSetting();
    {
        Level level(setting.region);
        if (level.Load(data, static_cast<int>(size), false)) {
            level.PostLoad(false);
            const std::vector<uint8_t> image = Image(level);
            Level again(setting.region);
            if (!again.Load(image.data(), static_cast<int>(image.size()), false))
                __builtin_trap(); // what the level wrote it must read
            std::vector<Entity*> found;
            again.GetEntitiesInBox(found, again.GetBoundingBox(), ENTITY_LIST_ALL);
        }
        Level restored(setting.region);
        restored.NewSpace(Vec2(64.0f, 64.0f));
        restored.RestoreState(data, static_cast<unsigned>(size));
    }
    Clean();
    UniqueIdMap::Destroy();
    return 0;
}
