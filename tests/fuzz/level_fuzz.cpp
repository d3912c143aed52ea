// Loads a level file image into a level of a small world (its entities made from a record
// database through the object manager: a test entity of its own and the engine's actors, tiles,
// grid entrances, lights, decals and effects), saves what loaded and loads that again, then hands
// the input to RestoreState as a saved-state block and updates what it restored. What loaded is
// asked as a frame asks it (see Query), and a round trip must keep it (see below). The actors wear
// the sample character's skinned mesh (a software graphics engine loads it), so a restored pose is
// turned into bone frames of a real skeleton. Every object made is destroyed again.
#include "common/FuzzSeeds.h"
#include "common/QuietLog.h"
#include "common/SoftwareGraphics.h"
#include "common/WorldFuzzServices.h"
#include "core/Intersection.h"
#include "core/Log.h"
#include "core/OBBox.h"
#include "core/Ray.h"
#include "core/WorldVec3.h"
#include "navigation/CollisionContact.h"
#include "core/ObjectManager.h"
#include "core/UniqueIdMap.h"
#include "data/BinaryReader.h"
#include "data/BinaryWriter.h"
#include "data/DatabaseArchive.h"
#include "data/FileSystem.h"
#include "data/ResourceLoader.h"
#include "data/TableDepot.h"
#include "datakit/ArzWriter.h"
#include "datakit/CharacterGenerator.h"
#include "graphics/GraphicsServices.h"
#include "scene/GraphicsMesh.h"
#include "scene/GraphicsMeshInstance.h"
#include "scene/SkeletalPose.h"
#include "terrain/GridEntrance.h"
#include "terrain/Water.h"
#include "world/Actor.h"
#include "world/Entity.h"
#include "world/FilterFunction.h"
#include "world/Level.h"
#include "world/Region.h"
#include "world/World.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <memory>
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

// The engine's entity classes whose per-entity data and saved state the input reaches, each named
// by a record "records/fuzz/<class>.dbr".
const char* const kEngineClasses[] = {"Actor", "Tile",         "GridEntrance", "Light",
                                      "Decal", "EffectEntity", "ChaosBeam"};

class Records : public TableDepotServices
{
public:
    Records()
    {
        DataKit::ArzWriter writer(true);
        writer.AddRecord("records/fuzz/a.dbr").String("Class", "FuzzEntity");
        writer.AddRecord("records/fuzz/b.dbr").String("Class", "FuzzEntity");
        writer.AddRecord("records/fuzz/plain.dbr").String("Class", "Object");
        for (const char* name : kEngineClasses) {
            DataKit::ArzWriter::Record& record =
                writer.AddRecord(std::string("records/fuzz/") + name + ".dbr");
            record.String("Class", name);
            if (std::string(name) == "Actor")
                record.String("mesh", DataKit::CharacterGenerator::characterMesh);
        }
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

// The engine's part for the actors' meshes: the files (the sample character's mesh) and the graphics
// engine in use, a software one whose resources load on the calling thread. The mesh is loaded
// once and held, so every actor made from the record wears it loaded.
class Graphics : public EngineDataServices, public GraphicsServices
{
public:
    Graphics()
    {
        source->Put(DataKit::CharacterGenerator::characterMesh,
                    DataKit::CharacterGenerator::MakeCharacter().Write(11));
        files.AddSource(FileSystem::PARTITION_0, source);
        EngineDataServices::Install(this);
        engine = FuzzGraphics::StartEngine("Software", 1024, 768, &loader);
        GraphicsServices::Install(this);
        mesh = engine->LoadMesh(DataKit::CharacterGenerator::characterMesh);
        if (mesh)
            mesh->EnsureAvailable();
        if (!mesh || mesh->GetLoadedState() != Resource::LOAD_STATE_LOADED || mesh->GetNumBones() == 0)
            std::abort(); // the actors would have no skeleton to pose
    }
    ~Graphics() override
    {
        engine->UnloadMesh(mesh);
        GraphicsServices::Install(nullptr);
        EngineDataServices::Install(nullptr);
    }
    Graphics(const Graphics&) = delete;
    Graphics& operator=(const Graphics&) = delete;

    unsigned int GetFrameCount() override { return 1; }
    FileSystem* GetFileSystem() override { return &files; }
    void AddStatisticText(const char*) override {}
    unsigned int GetEngineLogCategory() override { return 0; }
    bool AreGraphicsStatsEnabled() override { return false; }

    GraphicsEngine* GetGraphicsEngine() override { return engine.get(); }
    unsigned int GetGraphicsLogCategory() override { return 0; }
    int GetUpdateTime() override { return 0; }
    bool DoCharacterProcessing() override { return true; }
    std::string GetUtilityFontStyle() override { return defaultUtilityFontStyle; }
    SoundManager* GetSoundManager() override { return nullptr; }
    BaseResourceManager* GetEffectResourceManager() override { return nullptr; }

private:
    FileSystem files;
    FuzzWorld::MemoryFileSource* source = new FuzzWorld::MemoryFileSource; // owned by the file system
    ResourceLoader loader;
    std::unique_ptr<GraphicsEngine> engine;
    GraphicsMesh* mesh = nullptr;
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
    Graphics graphics;
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

// The engine's entities, one of each, with a saved pose and ids where the class keeps them.
void PopulateEngineClasses(Level& level)
{
    for (size_t i = 0; i < std::size(kEngineClasses); ++i) {
        Object* object = ObjectManager::Get()->CreateObjectFromFile(std::string("records/fuzz/") +
                                                                    kEngineClasses[i] + ".dbr");
        if (!Entity::IsEntity(object))
            continue;
        auto* entity = static_cast<Entity*>(object);
        if (auto* entrance = dynamic_cast<GridEntrance*>(entity)) {
            entrance->SetPortalId(UniqueId(4, 5, 6, 7));
            entrance->SetConnectedPortalId(UniqueId(7, 6, 5, 4));
            entrance->SetConnectedRegionId(RegionId(1, 1, 2, 3));
        }
        entity->SetUniqueID(UniqueId(9, 9, 9, static_cast<uint32_t>(i)));
        level.AddEntity(entity, Coords::Translation(Vec3(3.0f * static_cast<float>(i), 0.5f, 6.0f)));
    }
}

// A saved-state block of one entity record of each engine class: the frame and id the level
// reads, then the entity's words (actors with a pose of three of the character's bones and one it
// does not have).
std::vector<uint8_t> EngineClassesState()
{
    SkeletalPose pose;
    pose.SetBoneCoords(Name::Create("Pelvis"), Coords::Translation(Vec3(0.0f, 1.0f, 0.0f)));
    pose.SetBoneCoords(Name::Create("Head"), Coords::Translation(Vec3(0.0f, 0.1f, 0.05f)));
    SkeletalPose::AffineParts stretched;
    stretched.t = Vec3(0.12f, 0.0f, 0.0f);
    stretched.k = Vec3(1.5f, 0.5f, 1.0f);
    pose.SetBone(Name::Create("UpperArm"), stretched);
    pose.SetBoneCoords(Name::Create("Bone02"), Coords::Translation(Vec3(0.5f, 2.0f, 0.0f)));
    BinaryWriter writer(0x400);
    writer.BeginBlock(5);
    for (size_t i = 0; i < std::size(kEngineClasses); ++i) {
        const std::string name = kEngineClasses[i];
        writer.WriteString("records/fuzz/" + name + ".dbr");
        writer.WriteUInt32(0); // object id: a new one
        writer.WriteCoords(Coords::Translation(Vec3(2.0f * static_cast<float>(i), 0.0f, 4.0f)));
        writer.WriteUInt32(i % 2);
        if (i % 2)
            writer.WriteUniqueId(UniqueId(8, 8, 8, static_cast<uint32_t>(i)));
        writer.WriteUInt32(1); // the entity's own unique id
        writer.WriteUniqueIdReversed(UniqueId(8, 8, 8, static_cast<uint32_t>(i)));
        writer.WriteUInt32(i % 3 != 0); // visible
        if (name == "Actor" || name == "Tile" || name == "GridEntrance") {
            writer.WriteUInt32(1); // with a pose
            pose.WriteData(writer, name != "Tile");
        }
    }
    writer.EndBlock();
    return std::vector<uint8_t>(writer.GetBuffer(), writer.GetBuffer() + writer.GetSize());
}

// Each entity's record, frame and unique id (if it has one), sorted.
std::vector<std::string> Entities(const Level& level)
{
    std::vector<Entity*> entities;
    level.GetEntities(entities, ENTITY_LIST_ALL);
    std::vector<std::string> out;
    for (Entity* entity : entities) {
        BinaryWriter writer(128);
        writer.WriteString(entity->GetObjectName());
        writer.WriteCoords(entity->GetCoords().GetRegionCoords());
        writer.WriteUInt32(entity->HasUniqueID()); // asking for the id would make one
        if (entity->HasUniqueID())
            writer.WriteUniqueId(entity->GetUniqueID());
        out.emplace_back(reinterpret_cast<const char*>(writer.GetBuffer()), writer.GetSize());
    }
    std::sort(out.begin(), out.end());
    return out;
}

bool Near(const ABBox& a, const ABBox& b)
{
    const float slack = 1e-5f * (1.0f + a.center.Length() + a.extents.Length());
    return (a.center - b.center).Length() <= slack && (a.extents - b.extents).Length() <= slack;
}

class TakeAll : public FilterFunction<Entity>
{
public:
    bool operator()(const Entity*) const override { return true; }
};

// Rays across a loaded level and its entities' collisions, before and after a frame over a view
// of the whole level: a ray's hit lies on the ray and is never farther with the entities than
// without them; the entity picked is among the entities picked all at once (there is one exactly
// when the list is not empty), and the same with a filter that takes every entity; each entity's
// contacts, and those of boxes gathered at once, are finite. A frame keeps every entity filed.
void Query(Level& level, const uint8_t* data, size_t size)
{
    const ABBox box = level.GetBoundingBox();
    const float u = size > 0 ? static_cast<float>(data[0]) / 255.0f : 0.5f;
    const float v = size > 1 ? static_cast<float>(data[size - 1]) / 255.0f : 0.25f;
    const Vec3 low = box.GetMin(), high = box.GetMax();
    auto at = [&](float fx, float fy, float fz) {
        return Vec3(low.x + (high.x - low.x) * fx, low.y + (high.y - low.y) * fy, low.z + (high.z - low.z) * fz);
    };
    const Ray rays[] = {
        Ray(at(u, 1.0f, v) + Vec3(0.0f, 5.0f, 0.0f), Vec3(0.011f, -1.0f, 0.017f)),
        Ray(at(0.0f, 0.3f, v) - Vec3(1.0f, 0.0f, 0.0f), Vec3(1.0f, -0.013f, 0.031f)),
        Ray(at(v, 0.5f, u), Vec3(-0.37f, -0.41f, 0.53f)),
    };
    auto check = [&](const CollisionContact* contacts, int count, int capacity) {
        if (count < 0 || count > capacity)
            std::abort();
        for (int i = 0; i < count; ++i)
            if (!IsFiniteVec3(contacts[i].position) || !IsFiniteVec3(contacts[i].normal) || !IsFinite(contacts[i].depth))
                std::abort();
    };
    for (int pass = 0; pass < 2; ++pass) {
        for (const Ray& ray : rays) {
            Intersection all, ground;
            level.GetIntersection(ray, all, physicsSurfaceAny, false);
            level.GetIntersection(ray, ground, physicsSurfaceAny, true);
            if (!(all.distance >= 0.0f) || all.distance > ground.distance)
                std::abort();
            const float slack = 1e-3f * (1.0f + ray.origin.Length() + all.distance);
            if (all.IsHit() && (!IsFiniteVec3(all.point) || (all.point - ray.GetPoint(all.distance)).Length() > slack))
                std::abort();
            Entity* picked = level.PickEntity(ray);
            std::vector<Entity*> every;
            level.PickEntities(ray, every, false);
            if ((picked != nullptr) != !every.empty() ||
                (picked && std::find(every.begin(), every.end(), picked) == every.end()) ||
                level.PickEntity(ray, TakeAll()) != picked)
                std::abort();
        }
        std::vector<Entity*> entities;
        level.GetEntities(entities, ENTITY_LIST_ALL);
        if (entities.size() != level.GetNumEntities())
            std::abort();
        std::vector<CollisionBox> boxes;
        for (size_t i = 0; i < entities.size() && i < 64; ++i) {
            Entity* entity = entities[i];
            if (!level.HasEntity(entity))
                std::abort();
            CollisionContact contacts[16];
            const WorldVec3 reference = entity->GetCoords().GetOrigin();
            check(contacts, level.FindCollisions(entity, contacts, 16, reference, ENTITY_LIST_ALL, physicsSurfaceAny), 16);
            const OBBox around(Vec3(0.7f, 1.1f, 0.9f), Coords::Translation(Vec3(0.3f, 0.5f, -0.2f)));
            check(contacts,
                  level.FindCollisions(entity, around, contacts, 16, reference, ENTITY_LIST_ALL, physicsSurfaceAny), 16);
            boxes.emplace_back(OBBox(Vec3(0.6f, 0.9f, 0.8f), entity->GetCoords().GetRegionCoords()));
        }
        boxes.emplace_back(OBBox(box.extents * 0.4f + Vec3(0.1f, 0.1f, 0.1f), Coords::Translation(at(u, 0.4f, v))));
        level.FindCollisions(boxes, box, WorldVec3(level.GetRegion(), Vec3()), ENTITY_LIST_ALL, physicsSurfaceAny);
        for (const CollisionBox& gathered : boxes)
            for (int i = 0; i < gathered.GetNumContacts(); ++i)
                check(&gathered.GetContact(i), 1, 1);
        if (pass == 0) {
            const Frustum view = Region::GetBoxFrustum(ABBox(box.center, box.extents + Vec3(10.0f, 10.0f, 10.0f)));
            level.Update(&view, 1, 16);
            level.Update(&view, 1, 250);
        }
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
        PopulateEngineClasses(level);
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
    sink.Add("engine-classes-state.bin", EngineClassesState());
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
            FuzzAccepted();
            level.PostLoad(false);
            const std::vector<uint8_t> image = Image(level);
            Level again(setting.region);
            if (!again.Load(image.data(), static_cast<int>(image.size()), false))
                __builtin_trap(); // what the level wrote it must read
            // A round trip keeps the level: its entities, its ground and water, its box (a level
            // without ground has its entity tree's, which grows as the entities come in, in
            // another order the second time) and as much to write (the entities in another order,
            // the water's unusable pieces left out already).
            again.PostLoad(false);
            if (again.GetNumEntities() != level.GetNumEntities() ||
                (again.GetTerrain() == nullptr) != (level.GetTerrain() == nullptr) ||
                (again.GetGridRegion() == nullptr) != (level.GetGridRegion() == nullptr) ||
                (again.GetWater() == nullptr) != (level.GetWater() == nullptr) ||
                !Near(again.GetBoundingBox(), level.GetBoundingBox()) || Entities(again) != Entities(level) ||
                Image(again).size() != image.size())
                std::abort();
            Query(level, data, size);
        }
        Level restored(setting.region);
        restored.NewSpace(Vec2(64.0f, 64.0f));
        const bool restoredAll = restored.RestoreState(data, static_cast<unsigned>(size));
        // What the restored state set (poses, visibility, ids) in use for a frame: an actor turns
        // its pose into the bone frames of its skeleton.
        std::vector<Entity*> entities;
        restored.GetEntitiesInBox(entities, restored.GetBoundingBox(), ENTITY_LIST_ALL);
        if (restoredAll && !entities.empty())
            FuzzAccepted();
        for (Entity* entity : entities) {
            entity->Update(16);
            if (Actor* actor = Actor::Cast(entity)) {
                if (!actor->GetLoadedMesh())
                    std::abort(); // an actor without its skeleton reaches nothing here
                actor->GetMeshInstance()->PrepareForRendering();
                actor->GetBoneCoords(Name::Create("Head"));
            }
        }
    }
    Clean();
    UniqueIdMap::Destroy();
    return 0;
}
