// A record database image (the input) whose records make the engine's own classes, each then put
// to the work its record's values feed. Every record is made into its object through the object
// manager: entities (actors, tiles, lights, decals, effects, beams, trails) are placed in a level,
// updated over a few frames, moved, asked for their boxes, rays and drawing data, and saved,
// restored and written into a twin made from the same record; terrain types are asked for blade
// variations; sound paks play on a loopback sound manager; music sessions of every kind are played
// and cross-faded by the jukebox; and the zone manager reads the teleport map and its zones.
// Everything made is destroyed again with its world, and the object manager with its tables.
#include "common/FuzzSeeds.h"
#include "common/QuietLog.h"
#include "common/WorldFuzzServices.h"
#include "core/Intersection.h"
#include "core/ObjectManager.h"
#include "core/Ray.h"
#include "core/UniqueIdMap.h"
#include "data/BinaryReader.h"
#include "data/BinaryWriter.h"
#include "data/DatabaseArchive.h"
#include "data/ResourceLoader.h"
#include "data/TableDepot.h"
#include "datakit/ArzWriter.h"
#include "datakit/SoundWriter.h"
#include "scene/GraphicsLight.h"
#include "sound/AmbientSession.h"
#include "sound/BossMusicSession.h"
#include "sound/EventMusicSession.h"
#include "sound/Jukebox.h"
#include "sound/MusicSession.h"
#include "sound/SoundManager.h"
#include "sound/SoundPak.h"
#include "terrain/TerrainType.h"
#include "world/ChaosBeam.h"
#include "world/Decal.h"
#include "world/EffectEntity.h"
#include "world/Entity.h"
#include "world/InstanceGroupManager.h"
#include "world/Level.h"
#include "world/Light.h"
#include "world/LineEffect.h"
#include "world/Region.h"
#include "world/WeaponTrail.h"
#include "world/World.h"
#include "world/ZoneManager.h"

#include <climits>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace GAME;

// Records beyond these are left alone: each costs a level's worth of work.
constexpr size_t kMaxRecords = 40;
constexpr unsigned kMaxImage = 1u << 22;
constexpr const char* kToneFile = "Sounds/Fuzz/Tone.wav";
constexpr const char* kMusicFile = "Music/Fuzz/Loop.wav";

class Records : public TableDepotServices
{
public:
    Records() { TableDepot::SetServices(this); }
    ~Records() override { TableDepot::SetServices(nullptr); }
    Records(const Records&) = delete;
    Records& operator=(const Records&) = delete;

    bool IsLoadingDbFromArchive() override { return true; }
    DatabaseArchive* GetDatabaseArchive() override { return &archive; }
    FileSystem* GetFileSystem() override { return &files; }

    DatabaseArchive archive;
    FileSystem files;
};

// What lives across inputs: the sound manager on the loopback device (streams driven here) and
// the sound files the records may name.
struct Setting
{
    Setting()
    {
        FuzzLog::Silence();
        Entity::InstallHooks();
        sound = std::make_unique<SoundManager>(&loader);
        sound->SetOutput(SoundDevice::OUTPUT_LOOPBACK);
        sound->EnableStreamThread(false);
        if (!sound->Initialize(1))
            std::abort();
        DataKit::SoundWriter::Encode(DataKit::SoundWriter::Tone(440.0f, 0.05f, 8000, 1, 0.5f), 1, 8000,
                                     DataKit::SoundWriter::FORMAT_WAV, tone);
        DataKit::SoundWriter::Encode(DataKit::SoundWriter::Tone(220.0f, 0.2f, 11025, 2, 0.5f), 2, 11025,
                                     DataKit::SoundWriter::FORMAT_WAV, music);
    }
    ResourceLoader loader;
    std::unique_ptr<SoundManager> sound;
    std::vector<uint8_t> tone;
    std::vector<uint8_t> music;
};

Setting& GetSetting()
{
    static Setting setting;
    return setting;
}

Entity* Alive(unsigned id)
{
    Object* object = ObjectManager::Get()->GetObject(id);
    return Entity::IsEntity(object) ? static_cast<Entity*>(object) : nullptr;
}

void Render(SoundManager& sound, int frames)
{
    std::vector<int16_t> mix(static_cast<size_t>(SoundDevice::kLoopbackRate / 100) * 2);
    for (int i = 0; i < frames; ++i) {
        sound.ServiceStreams();
        sound.Update();
        sound.RenderLoopback(mix.data(), SoundDevice::kLoopbackRate / 100);
    }
}

// Everything an entity's record values reach once it stands in the level.
void Exercise(Entity& entity, Level& level)
{
    Intersection hit;
    const Vec3 at = entity.GetCoords().GetOrigin().GetRegionPosition();
    entity.GetIntersection(Ray(at + Vec3(0.5f, 10.0f, 0.25f), Vec3(0.0f, -1.0f, 0.0f)), hit, 1);
    OBBox box;
    entity.GetCollisionProxy(box);
    if (entity.GetNumCollisionBoxes() > 0)
        entity.GetCollisionBox(0);
    entity.GetExtents();
    entity.GetCenterOfMass();
    entity.GetAttachedCoords(Name::Create("Anchor1"));
    entity.GetIsReadyToRender();
    std::vector<Entity*> found;
    level.GetEntitiesInBox(found, ABBox(at, Vec3(4.0f, 4.0f, 4.0f)), ENTITY_LIST_ALL);

    std::vector<EffectVertex> vertices;
    std::vector<uint32_t> indices;
    if (auto* light = dynamic_cast<Light*>(&entity)) {
        GraphicsLight built;
        light->BuildGraphicsLight(nullptr, false, built);
        light->BuildGraphicsLight(nullptr, true, built);
    } else if (auto* decal = dynamic_cast<Decal*>(&entity)) {
        decal->BuildGeometry(Coords(), vertices, indices);
        decal->GetOpacity();
    } else if (auto* trail = dynamic_cast<WeaponTrail*>(&entity)) {
        trail->BuildGeometry(Coords(), vertices, indices);
    } else if (auto* line = dynamic_cast<LineEffect*>(&entity)) {
        std::vector<LineEffect::Batch> batches;
        line->BuildGeometry(Coords(), Coords(), vertices, indices, batches);
    }
}

// Saved state and per-entity data of the entity, handed to a twin made from the same record.
void Twin(Entity& entity, const std::string& record)
{
    Object* object = ObjectManager::Get()->CreateObjectFromFile(record, 0, true);
    if (!Entity::IsEntity(object)) {
        if (object)
            ObjectManager::Get()->DestroyObjectEx(object, __FILE__, __LINE__);
        return;
    }
    Entity& twin = *static_cast<Entity*>(object);
    BinaryWriter state(64);
    entity.SaveState(state);
    BinaryReader stateReader(state.GetBuffer(), state.GetSize());
    twin.RestoreState(stateReader);
    BinaryWriter data(64);
    entity.Write(data);
    BinaryReader dataReader(data.GetBuffer(), data.GetSize());
    twin.Read(dataReader);
    ObjectManager::Get()->DestroyObjectEx(&twin, __FILE__, __LINE__);
}

// Answers how many entities were placed.
size_t PlaceEntities(World& world, Region& region, Level& level, const std::vector<std::string>& names)
{
    std::vector<std::pair<unsigned, std::string>> placed;
    EffectEntity* effect = nullptr;
    for (size_t i = 0; i < names.size(); ++i) {
        Object* object = ObjectManager::Get()->CreateObjectFromFile(names[i], 0, true);
        if (!Entity::IsEntity(object)) {
            if (object)
                ObjectManager::Get()->DestroyObjectEx(object, __FILE__, __LINE__);
            continue;
        }
        Entity* entity = static_cast<Entity*>(object);
        const Vec3 at(8.0f + 6.0f * static_cast<float>(i % 8), 1.0f, 8.0f + 6.0f * static_cast<float>(i / 8));
        level.AddEntity(entity, Coords::Translation(at));
        placed.emplace_back(entity->GetObjectId(), names[i]);
        if (!effect && entity->GetClassInfo().IsA(EffectEntity::GetStaticClassInfo()))
            effect = static_cast<EffectEntity*>(entity);
        if (auto* beam = dynamic_cast<ChaosBeam*>(entity)) {
            beam->SetEndPoints(WorldVec3(&region, at), WorldVec3(&region, at + Vec3(7.0f, 2.0f, -3.0f)));
            beam->SetLinkedEffect(effect);
        } else if (auto* trail = dynamic_cast<WeaponTrail*>(entity)) {
            trail->Start();
        }
    }
    // Two ordinary frames, a move, a long frame (fades and timers run out) and one more; the
    // entities are asked for their work after the first frames and after the last.
    const int frames[] = {16, 16, -1, 0, 1000, 100000, 16, -1};
    for (int elapsed : frames) {
        for (const auto& [id, name] : placed) {
            Entity* entity = Alive(id);
            if (!entity) {
                continue;
            } else if (elapsed < 0) {
                Exercise(*entity, level);
            } else if (elapsed == 0) {
                if (entity->IsInWorld()) {
                    Coords turned(Vec3(0.0f, 0.0f, -1.0f), Vec3(0.0f, 1.0f, 0.0f), Vec3(1.0f, 0.0f, 0.0f),
                                  entity->GetCoords().GetOrigin().GetRegionPosition() +
                                      Vec3(1.5f, 0.0f, 0.5f));
                    world.SetCoords(entity, WorldCoords(&region, turned));
                }
            } else {
                entity->Update(elapsed);
            }
        }
    }
    for (const auto& [id, name] : placed)
        if (Entity* entity = Alive(id))
            Twin(*entity, name);
    return placed.size();
}

void UseOtherObjects(const std::vector<std::string>& names, SoundManager& sound, ResourceLoader& loader)
{
    std::vector<std::string> sessions;
    for (const std::string& name : names) {
        Object* object = ObjectManager::Get()->CreateObjectFromFile(name, 0, true);
        if (!object || Entity::IsEntity(object)) {
            if (object)
                ObjectManager::Get()->DestroyObjectEx(object, __FILE__, __LINE__);
            continue;
        }
        const RTTI_ClassInfo& info = object->GetClassInfo();
        if (info.IsA(TerrainType::GetStaticClassInfo())) {
            const auto* type = static_cast<TerrainType*>(object);
            for (int seed : {0, 1, 7, -1, 12345, INT_MAX, INT_MIN})
                type->GetRandomTexture(seed);
            type->GetMinimumBladeOpacity();
        } else if (info.IsA(SoundPak::GetStaticClassInfo())) {
            auto* pak = static_cast<SoundPak*>(object);
            for (int i = 0; i < 3; ++i)
                pak->Play(WorldVec3(nullptr, Vec3(static_cast<float>(i), 0.0f, 2.0f)), &sound);
            pak->GetSound(WorldVec3());
        } else if (info.IsA(MusicSession::GetStaticClassInfo()) ||
                   info.IsA(AmbientSession::GetStaticClassInfo()) ||
                   info.IsA(BossMusicSession::GetStaticClassInfo()) ||
                   info.IsA(EventMusicSession::GetStaticClassInfo())) {
            sessions.push_back(name);
        }
        ObjectManager::Get()->DestroyObjectEx(object, __FILE__, __LINE__);
    }
    while (loader.ProcessNextRequest()) {
    }
    Render(sound, 3);

    // The jukebox makes the sessions from their records again, and plays and fades them.
    Jukebox& jukebox = *Jukebox::Get();
    jukebox.SetSoundManager(&sound);
    for (size_t i = 0; i < sessions.size(); ++i) {
        const std::string& name = sessions[i];
        jukebox.SetMusicPlaylist(name);
        jukebox.SetAmbientPlaylist(name);
        jukebox.Update(16);
        Render(sound, 2);
        jukebox.SetBossMusic(name);
        jukebox.SetBossArea(i % 2 == 0);
        jukebox.PlayEventMusic(name);
        jukebox.Update(250);
        Render(sound, 2);
        jukebox.SetMusicPlaylist(sessions[(i + 1) % sessions.size()]);
        jukebox.Update(5000);
        Render(sound, 2);
    }
    jukebox.Clean();
    Jukebox::Destroy();
    // The streamer lets go of the closed streams' files while this input's file system lives.
    sound.ServiceStreams();
}

void UseZones(Region& region)
{
    ZoneManager::Destroy();
    const ZoneManager& zones = *ZoneManager::Get();
    for (int page = 0; page < 4; ++page)
        for (const std::string& zone : zones.GetZoneList(page)) {
            zones.GetZoneData(zone);
            region.SetZoneRecord(zone);
            zones.GetActFromRegion(&region);
        }
    ZoneManager::Destroy();
}

std::vector<uint8_t> Database(bool compressed)
{
    DataKit::ArzWriter db(compressed);
    db.AddRecord("records/fuzz/actor.dbr")
        .String("Class", "Actor")
        .String("mesh", "Meshes/Fuzz/None.msh")
        .String("description", "tagFuzz")
        .Float("unloadedBoundingBoxExtents", 2.0f)
        .Float("shadowBias", 0.01f)
        .Float("actorRadius", 0.5f)
        .Float("actorHeight", 2.0f)
        .Float("scale", 1.5f)
        .Bool("allowTransparency", true)
        .Float("maxTransparency", 0.7f)
        .Bool("DisplayAsQuestItem", true)
        .Bool("castsShadows", false);
    db.AddRecord("records/fuzz/tile.dbr").String("Class", "Tile").Float("scale", 2.0f);
    db.AddRecord("records/fuzz/entrance.dbr").String("Class", "GridEntrance");
    db.AddRecord("records/fuzz/light.dbr")
        .String("Class", "Light")
        .Float("radius", 6.0f)
        .Float("color.r", 1.0f)
        .Float("color.g", 0.5f)
        .Float("color.b", 0.25f)
        .Bool("castsShadows", true);
    db.AddRecord("records/fuzz/nightlight.dbr").String("Class", "NightLight").Float("radius", 3.0f);
    db.AddRecord("records/fuzz/decal.dbr")
        .String("Class", "Decal")
        .String("texture", "Textures/Fuzz/Decal.tex")
        .Float("size", 2.5f)
        .Float("beginFadeSeconds", 0.5f)
        .Float("endFadeSeconds", 2.0f)
        .Float("opacity", 0.8f);
    db.AddRecord("records/fuzz/effect.dbr")
        .String("Class", "EffectEntity")
        .String("effectFile", "Effects/Fuzz/None.pfx")
        .String("emitterType", "BoneList")
        .Bool("Anchored", true)
        .String("boneList", std::vector<std::string>{"Bone01", "Bone02"});
    db.AddRecord("records/fuzz/beam.dbr")
        .String("Class", "ChaosBeam")
        .Float("TextureStretch", 3.0f)
        .String("Texture", "Textures/Fuzz/Beam.tex");
    db.AddRecord("records/fuzz/bolt.dbr").String("Class", "FlyingBolt");
    db.AddRecord("records/fuzz/trail.dbr")
        .String("Class", "WeaponTrail")
        .Int("Red256", 255)
        .Int("Green256", 128)
        .Int("Blue256", 0)
        .Int("Alpha256", 200)
        .Int("MSFadeTime", 300)
        .Float("TrailShrinkSpeed", 5.0f)
        .Float("TextureDistance", 2.0f)
        .Bool("TextureRepeat", false);
    db.AddRecord("records/fuzz/grass.dbr")
        .String("Class", "TerrainType")
        .Int("MinimumBladeOpacity", 20)
        .Int("VariationProbability", std::vector<int32_t>{3, 1, 6})
        .Float("VariationClumpiness", std::vector<float>{0.5f, 1.0f, 2.0f})
        .Float("NoiseScale", std::vector<float>{1.0f, 4.0f})
        .Float("BladeWidth", 0.3f)
        .Float("BladeHeight", 0.8f)
        .Int("BladeSpacing", 2)
        .Int("BladeVariations", 3)
        .Int("minimapRed", 40)
        .String("surfaceType", "Grass");
    db.AddRecord("records/fuzz/pak.dbr")
        .String("Class", "SoundPak")
        .String("soundFiles", std::vector<std::string>{kToneFile, "", kToneFile})
        .Float("volume", 0.5f)
        .Float("minDistance", 2.0f)
        .Float("maxDistance", 30.0f);
    db.AddRecord("records/fuzz/music.dbr")
        .String("Class", "MusicSession")
        .String("soundFiles", std::vector<std::string>{kMusicFile, "Music/Fuzz/Missing.wav"})
        .String("nightSoundFiles", std::vector<std::string>{kMusicFile})
        .Float("crossFadeSeconds", 0.5f);
    db.AddRecord("records/fuzz/ambient.dbr")
        .String("Class", "AmbientSession")
        .String("soundFiles", std::vector<std::string>{kMusicFile})
        .Float("crossFadeSeconds", 2.0f);
    db.AddRecord("records/fuzz/boss.dbr")
        .String("Class", "BossMusicSession")
        .String("soundFiles", kMusicFile);
    db.AddRecord("records/fuzz/event.dbr")
        .String("Class", "EventMusicSession")
        .String("soundFiles", kMusicFile);
    db.AddRecord(ZoneManager::teleportMapRecord)
        .String("GreeceZoneList",
                std::vector<std::string>{"records/fuzz/zone1.dbr", "Records\\Fuzz\\Zone2.dbr"})
        .String("EgyptZoneList", std::vector<std::string>{"records/fuzz/zone1.dbr"})
        .String("OlympusZoneList", std::vector<std::string>{"records/fuzz/missing.dbr"});
    db.AddRecord("records/fuzz/zone1.dbr")
        .String("ZoneNameTag", "tagZone1")
        .String("TeleportNameTag", "tagPortal1")
        .Int("mapIndex", 2);
    db.AddRecord("records/fuzz/zone2.dbr").String("ZoneNameTag", "tagZone2").Int("mapIndex", -1);
    return db.Build();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Setting& setting = GetSetting();
    if (size > kMaxImage)
        return 0;
    {
        Records records;
        if (!records.archive.Load(data, static_cast<unsigned>(size), false))
            return 0;
        std::vector<std::string> names;
        records.archive.GetRecordNames(names);
        if (names.size() > kMaxRecords)
            names.resize(kMaxRecords);

        FuzzWorld::Services services;
        services.source->Put(kToneFile, setting.tone);
        services.source->Put(kMusicFile, setting.music);
        {
            World world;
            world.AddRegion("levels/fuzz.lvl", IntVec3(), ABBox(Vec3(), Vec3(64.0f, 64.0f, 64.0f)),
                            RegionId());
            Region& region = *world.GetRegion(0);
            auto* level = new Level(&region);
            level->NewSpace(Vec2(64.0f, 64.0f));
            level->PostLoad(false);
            region.SetLevel(level);
            if (PlaceEntities(world, region, *level, names) > 0)
                FuzzAccepted(); // its records made entities of the engine's classes
            UseOtherObjects(names, *setting.sound, setting.loader);
            UseZones(region);
        }
        ObjectManager::Get()->DestroyPendingObjects(UINT_MAX);
        while (setting.loader.ProcessNextRequest()) {
        }
        setting.sound->Update();
        setting.sound->UnloadUnreferencedResources();
        ObjectManager::Destroy();
    }
    UniqueIdMap::Destroy();
    InstanceGroupManager::Destroy();
    return 0;
}

void EngineFuzzSeeds(FuzzSeedSink& sink)
{
    // Stored records are where the fuzzer changes values directly; a compressed one keeps the
    // other form in the corpus.
    sink.Add("stored.arz", Database(false));
    sink.Add("compressed.arz", Database(true));
}
