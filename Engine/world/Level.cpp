#include "world/Level.h"

#include "graphics/WorldPrimitiveDrawer.h"
#include "network/NetworkControllerBase.h"

#include "core/Color.h"
#include "core/Intersect.h"
#include "core/Log.h"
#include "core/MathUtil.h"
#include "core/ObjectManager.h"
#include "core/WorldFrustum.h"
#include "core/WorldVec3.h"
#include "data/BinaryReader.h"
#include "data/BinaryWriter.h"
#include "data/EngineDataServices.h"
#include "data/FileSystem.h"
#include "navigation/CollisionContact.h"
#include "navigation/GridPathMeshCalculator.h"
#include "navigation/ImpassableData.h"
#include "navigation/PathFaceConnector.h"
#include "navigation/PathFinder.h"
#include "navigation/PhysicsEngine.h"
#include "navigation/PhysicsMesh.h"
#include "navigation/TerrainPathMeshCalculator.h"
#include "network/NetworkControllerBase.h"
#include "terrain/GridRegion.h"
#include "terrain/Terrain.h"
#include "terrain/TerrainRT.h"
#include "terrain/Water.h"
#include "world/Entity.h"
#include "world/Region.h"
#include "world/SectorLayers.h"
#include "world/World.h"
#include "world/WorldServices.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <unordered_map>

namespace GAME {

namespace {

enum LevelChunk : uint32_t
{
    CHUNK_IMPASSABLE = 3,
    CHUNK_ENTITIES = 5,
    CHUNK_GROUND = 6,
    CHUNK_WATER = 9,
    CHUNK_PATH_MESH = 10,
    CHUNK_EXTRA_DATA = 20,
    CHUNK_SECTOR_LAYERS = 23,
};

enum GroundKind : uint32_t
{
    GROUND_TERRAIN = 0,
    GROUND_GRID = 1,
    GROUND_TERRAIN_RT = 2,
};

// A frame read from a file; false when any component is not finite.
bool IsFiniteCoords(const Coords& c)
{
    return IsFiniteVec3(c.xAxis) && IsFiniteVec3(c.yAxis) && IsFiniteVec3(c.zAxis) && IsFiniteVec3(c.origin);
}

// An entity's frame is rigid (axes of unit length at right angles, mirrored or not): the entities'
// queries carry rays and boxes into it through its transpose. A flattened or stretched frame would
// have them answer for places where the entity is not.
bool IsRigidFrame(const Coords& c)
{
    constexpr float tolerance = 1e-3f;
    const Vec3 axes[3] = {c.xAxis, c.yAxis, c.zAxis};
    for (int i = 0; i < 3; ++i) {
        if (!(std::fabs(axes[i].LengthSquared() - 1.0f) <= tolerance))
            return false;
        if (!(std::fabs(Vec3::Dot(axes[i], axes[(i + 1) % 3])) <= tolerance))
            return false;
    }
    return true;
}

// Whether a ground of the size fits a level (a size that is not a number does not); one log line
// naming what was measured when it does not.
bool GroundFitsLevel(float width, float depth, const char* what)
{
    if (width <= Level::maxGroundExtent && depth <= Level::maxGroundExtent)
        return true;
    LogPrintf(1, "Level: %s is %g x %g units, wider than a level may be (%g a side)", what,
              static_cast<double>(width), static_cast<double>(depth),
              static_cast<double>(Level::maxGroundExtent));
    return false;
}

// A size in whole units from an extent (trunc), clamped to what an unsigned holds.
unsigned Units(float extent)
{
    if (!(extent > 0.0f))
        return 0;
    return extent >= 4294967040.0f ? 0xFFFFFF00u : static_cast<unsigned>(extent);
}

// Sector layers beyond this many cells (a ground of 4096 x 4096 units) are not made.
constexpr uint64_t kMaxSectorCells = uint64_t(1) << 24;

// The object of the record, kept only when it is an entity.
Entity* CreateEntity(const std::string& recordName, unsigned id)
{
    Object* object = ObjectManager::Get()->CreateObjectFromFile(recordName, id, false);
    if (!object)
        return nullptr;
    if (!Entity::IsEntity(object)) {
        ObjectManager::Get()->DestroyObjectEx(object, __FILE__, __LINE__);
        return nullptr;
    }
    return static_cast<Entity*>(object);
}

} // namespace

Level::Level(Region* region) : m_region(region)
{
    m_pathMesh.SetRegion(region);
}

Level::~Level()
{
    if (m_loaded)
        Unload(false);
    FreeContents();
}

Terrain* Level::GetEditableTerrain()
{
    return m_terrain && m_terrain->IsEditable() ? static_cast<Terrain*>(m_terrain) : nullptr;
}

const Terrain* Level::GetEditableTerrain() const
{
    return m_terrain && m_terrain->IsEditable() ? static_cast<const Terrain*>(m_terrain) : nullptr;
}

void Level::MakeTree(float x, float z, float hx, float hz)
{
    delete m_tree;
    m_tree = new EntityTree(x, z, hx, hz);
}

void Level::FreeContents()
{
    if (m_tree) {
        std::vector<Entity*> entities;
        EntityTree::GetAllObjects(m_tree->GetRoot(), entities);
        for (Entity* entity : entities) {
            m_tree->Remove(entity);
            entity->SetCoords(WorldCoords());
            ObjectManager::Get()->DestroyObjectEx(entity, __FILE__, __LINE__);
        }
    }
    delete m_tree;
    m_tree = nullptr;
    delete m_gridRegion;
    m_gridRegion = nullptr;
    delete m_terrain;
    m_terrain = nullptr;
    // Swapped out, not cleared: a cleared vector would keep its bytes.
    std::vector<uint8_t>().swap(m_runTimeGround);
    delete m_water;
    m_water = nullptr;
    ClearPathMesh();
    std::vector<PathFace>().swap(m_pathFaces);
    std::vector<OBBox>().swap(m_pathObstacles);
    m_sectorLayers.Destroy();
    m_sectorLayers.SetHeightCallbacks(nullptr, nullptr);
    m_networkList.clear();
    m_numEntities = 0;
    m_loaded = false;
    m_renderDataLoaded = false;
    // What the next load reads is completed anew.
    m_postLoadDone = false;
    m_postLoadStarted = false;
    m_postLoadStep = 0;
}

// ---- Reading ------------------------------------------------------------------------------------

bool Level::Load(const char* fileName, bool restoringState)
{
    FileSystem* files = EngineDataServices::Files();
    File* file = files && fileName ? files->OpenFile(fileName, FILE_MODE_READ) : nullptr;
    if (!file) {
        LogPrintf(1, "Level: cannot open %s", fileName ? fileName : "(null)");
        return false;
    }
    const unsigned size = file->GetLength();
    const void* data = size ? file->Lock(0, size) : nullptr;
    const bool loaded = data && size <= 0x7FFFFFFF && Load(data, static_cast<int>(size), restoringState);
    if (data)
        file->Unlock();
    files->CloseFile(file);
    return loaded;
}

bool Level::Load(const void* data, int size, bool restoringState)
{
    if (!data || size < 4) {
        LogPrintf(1, "Level: no level data");
        return false;
    }
    BinaryReader reader(data, static_cast<unsigned>(size));
    char header[3];
    reader.ReadBytes(header, 3);
    const int fileVersion = reader.ReadInt8();
    if (std::memcmp(header, magic, 3) != 0 || fileVersion < minVersion || fileVersion > version) {
        LogPrintf(1, "Level: not a level file of version %d to %d", minVersion, version);
        return false;
    }
    if (m_loaded)
        Unload(false);
    FreeContents();

    ImpassableData impassable;
    bool haveEntities = false, haveExtra = false, layersRead = false;
    BinaryReader entities, extra;
    bool ok = true;
    while (ok && reader.GetPosition() < reader.GetSize()) {
        uint32_t id = 0;
        BinaryReader chunk;
        if (!reader.ReadBlock(id, chunk)) {
            LogPrintf(1, "Level: chunk at %u runs past the end of the file", reader.GetPosition());
            ok = false;
            break;
        }
        switch (id) {
        case CHUNK_ENTITIES:
            entities = std::move(chunk);
            haveEntities = true;
            break;
        case CHUNK_EXTRA_DATA:
            extra = std::move(chunk);
            haveExtra = true;
            break;
        case CHUNK_PATH_MESH:
            if (!m_pathMesh.Read(chunk))
                LogPrintf(2, "Error loading path mesh");
            break;
        case CHUNK_GROUND: {
            if (chunk.GetSize() == 0)
                break; // a level without ground
            const uint32_t kind = fileVersion >= 11 ? chunk.ReadUInt32() : GROUND_TERRAIN;
            BinaryReader body(chunk.GetCursor(), chunk.GetRemaining());
            if (m_terrain || m_gridRegion) {
                LogPrintf(1, "Level: a second ground chunk is skipped");
                break;
            }
            if (kind == GROUND_TERRAIN || kind == GROUND_TERRAIN_RT) {
                m_terrain = kind == GROUND_TERRAIN ? static_cast<TerrainBase*>(new Terrain(m_region))
                                                   : static_cast<TerrainBase*>(new TerrainRT(m_region));
                if (chunk.Failed() || !m_terrain->Load(body, fileVersion)) {
                    LogPrintf(1, "Level: the terrain cannot be loaded");
                    ok = false;
                } else if (kind == GROUND_TERRAIN_RT && WorldServices::EditorMode()) {
                    // Nothing writes the run-time form from a TerrainRT: the editor, which saves
                    // levels, keeps the body as read so that a save writes the same ground back.
                    // A game never saves a level, and keeps no second copy of its ground.
                    m_runTimeGround.assign(body.GetData(), body.GetData() + body.GetPosition());
                }
            } else if (kind == GROUND_GRID) {
                m_gridRegion = new GridRegion(m_region);
                if (chunk.Failed() || !m_gridRegion->Load(body)) {
                    LogPrintf(1, "Level: the grid region cannot be loaded");
                    ok = false;
                }
            } else {
                LogPrintf(1, "Level: unknown ground kind %u is skipped", kind);
            }
            break;
        }
        case CHUNK_WATER:
            NewWater()->Load(chunk);
            break;
        case CHUNK_IMPASSABLE:
            impassable.Load(chunk);
            break;
        case CHUNK_SECTOR_LAYERS:
            layersRead = m_sectorLayers.Load(chunk);
            break;
        default:
            break;
        }
    }

    if (ok && (m_terrain || m_gridRegion)) {
        // What the ground declares must be a ground a world can hold.
        const ABBox ground = m_terrain ? m_terrain->GetBoundingBox() : m_gridRegion->GetBoundingBox();
        if (!GroundFitsLevel(2.0f * ground.extents.x, 2.0f * ground.extents.z, "a ground"))
            ok = false;
    }
    if (ok) {
        const ABBox box = GetBoundingBox();
        if (!layersRead) {
            // The layers cover the ground the file holds: a grid without a cell (a count of 0 in
            // any direction) holds none, whatever its other counts say.
            if (m_gridRegion && (m_gridRegion->GetXNumCells() == 0 || m_gridRegion->GetYNumCells() == 0 ||
                                 m_gridRegion->GetZNumCells() == 0)) {
                if (m_gridRegion->GetXNumCells() != 0 || m_gridRegion->GetZNumCells() != 0)
                    LogPrintf(1,
                              "Level: a grid of %d x %d x %d cells holds no ground; it has no sector layers",
                              m_gridRegion->GetXNumCells(), m_gridRegion->GetYNumCells(),
                              m_gridRegion->GetZNumCells());
                InitSectorLayers(0, 0);
            } else {
                InitSectorLayers(Units(2.0f * box.extents.x), Units(2.0f * box.extents.z));
            }
        }
        MakeTree(box.extents.x, box.extents.z, std::max(box.extents.x, box.extents.z),
                 std::max(box.extents.x, box.extents.z));
        // Only a level its region already holds: one a loading thread is reading is handed its
        // region on the main thread, which takes the box then.
        if (m_region && m_region->GetLevelPtr() == this)
            m_region->UpdateBoundingBox();

        std::vector<Entity*> slots;
        if (haveEntities && !ReadEntityList(entities, fileVersion, restoringState, slots))
            ok = false;
        if (ok && haveExtra && !ReadExtraData(extra, slots))
            ok = false;
    }
    if (!ok) {
        FreeContents();
        return false;
    }

    if (Terrain* terrain = GetEditableTerrain()) {
        terrain->SetImpassableData(impassable);
        if (WorldServices::EditorMode())
            terrain->ProcessDirtyRects();
    }
    m_sectorLayers.SetHeightCallbacks(m_terrain, m_gridRegion);
    m_loaded = true;
    return true;
}

bool Level::KeepsLoadedEntity(Entity* entity, bool restoringState) const
{
    // The server re-creates saved entities from their state; a client gets the server's.
    if (WorldServices::NetworkServer())
        return !(restoringState && entity->ShouldSaveState());
    if (WorldServices::NetworkClient())
        return !entity->ShouldServerSpawn();
    if (WorldServices::EditorMode())
        return true;
    return !(restoringState && entity->ShouldSaveState());
}

bool Level::ReadEntityList(BinaryReader& reader, int fileVersion, bool restoringState,
                           std::vector<Entity*>& slots)
{
    // The names by position, as stored (a name stored twice keeps both positions).
    const uint32_t nameCount = reader.ReadUInt32();
    if (reader.Failed() || !reader.CheckCount(nameCount, 4, "entity record names")) {
        LogPrintf(1, "Level: the entity names cannot be read");
        return false;
    }
    std::vector<std::string> names(nameCount);
    for (std::string& name : names) {
        if (!reader.ReadString(name)) {
            LogPrintf(1, "Level: the entity names cannot be read");
            return false;
        }
    }
    const bool withIds = fileVersion >= 12;
    const uint32_t count = reader.ReadUInt32();
    if (reader.Failed() || !reader.CheckCount(count, withIds ? 56 : 52, "entity records")) {
        LogPrintf(1, "Level: the entity records do not fit the chunk");
        return false;
    }
    slots.assign(count, nullptr);
    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t nameIndex = reader.ReadUInt32();
        const Coords frame = reader.ReadCoords();
        bool hasId = false;
        UniqueId id;
        if (withIds) {
            hasId = reader.ReadUInt32() != 0;
            if (hasId)
                id = reader.ReadUniqueId();
        }
        if (reader.Failed()) {
            LogPrintf(1, "Level: entity record %u is cut short", i);
            return false;
        }
        const std::string* name = nameIndex < names.size() ? &names[nameIndex] : nullptr;
        if (!IsFiniteCoords(frame)) {
            LogPrintf(1, "Entity '%s' has non-finite coords, skipping", name ? name->c_str() : "");
            continue;
        }
        if (!IsRigidFrame(frame)) {
            LogPrintf(1, "Entity '%s' has a frame whose axes are not of unit length at right angles, skipping",
                      name ? name->c_str() : "");
            continue;
        }
        if (!name)
            continue;
        Entity* entity = CreateEntity(*name, 0);
        if (!entity)
            continue;
        if (!KeepsLoadedEntity(entity, restoringState)) {
            ObjectManager::Get()->DestroyObjectEx(entity, __FILE__, __LINE__);
            continue;
        }
        if (hasId)
            entity->SetUniqueID(id);
        entity->SetCoords(WorldCoords(m_region, frame));
        ObjectManager::Get()->LoadObjectData(entity);
        entity->UpdateBoundingBox();
        m_tree->Insert(entity);
        ++m_numEntities;
        slots[i] = entity;
    }
    return true;
}

bool Level::ReadExtraData(BinaryReader& reader, const std::vector<Entity*>& slots)
{
    while (!reader.AtEnd()) {
        const uint32_t index = reader.ReadUInt32();
        const uint32_t size = reader.ReadUInt32();
        if (reader.Failed() || size > reader.GetRemaining()) {
            LogPrintf(1, "Level: entity data record runs past its chunk");
            return false;
        }
        BinaryReader record(reader.GetCursor(), size);
        reader.Skip(size);
        if (index < slots.size() && slots[index])
            slots[index]->Read(record);
    }
    return true;
}

// ---- Writing ------------------------------------------------------------------------------------

bool Level::SaveToMemory(BinaryWriter& writer, bool runTimeFormat) const
{
    if (m_terrain && !m_terrain->IsEditable() && m_runTimeGround.empty()) {
        LogPrintf(1, "Level: a run-time ground is kept for saving in editor mode only; not saved");
        return false;
    }
    std::vector<Entity*> entities;
    if (m_tree)
        EntityTree::GetAllObjects(m_tree->GetRoot(), entities);
    std::vector<const std::string*> names;
    std::unordered_map<std::string, uint32_t> nameIndex;
    std::vector<uint32_t> recordNames;
    recordNames.reserve(entities.size());
    for (Entity* entity : entities) {
        auto [it, added] = nameIndex.emplace(entity->GetObjectName(), static_cast<uint32_t>(names.size()));
        if (added)
            names.push_back(&it->first);
        recordNames.push_back(it->second);
    }

    writer.WriteBytes(magic, 3);
    writer.WriteInt8(static_cast<int8_t>(version));

    writer.BeginBlock(CHUNK_ENTITIES);
    writer.WriteUInt32(static_cast<uint32_t>(names.size()));
    for (const std::string* name : names)
        writer.WriteString(*name);
    writer.WriteUInt32(static_cast<uint32_t>(entities.size()));
    for (size_t i = 0; i < entities.size(); ++i) {
        Entity* entity = entities[i];
        writer.WriteUInt32(recordNames[i]);
        writer.WriteCoords(entity->GetCoords().GetRegionCoords());
        writer.WriteUInt32(entity->HasUniqueID() ? 1u : 0u);
        if (entity->HasUniqueID())
            writer.WriteUniqueId(entity->GetUniqueID());
    }
    writer.EndBlock();

    writer.BeginBlock(CHUNK_EXTRA_DATA);
    for (size_t i = 0; i < entities.size(); ++i) {
        BinaryWriter data(0x400);
        entities[i]->Write(data);
        if (data.GetSize() == 0)
            continue;
        writer.WriteUInt32(static_cast<uint32_t>(i));
        writer.WriteUInt32(data.GetSize());
        writer.WriteBytes(data.GetBuffer(), data.GetSize());
    }
    writer.EndBlock();

    writer.BeginBlock(CHUNK_GROUND);
    if (const Terrain* terrain = GetEditableTerrain()) {
        BinaryWriter runTime(0x400);
        if (runTimeFormat && terrain->SaveRunTimeFormat(runTime)) {
            writer.WriteUInt32(GROUND_TERRAIN_RT);
            writer.WriteBytes(runTime.GetBuffer(), runTime.GetSize());
        } else {
            if (runTimeFormat)
                LogPrintf(1, "Level: the terrain has no run-time form; saving the editable form");
            writer.WriteUInt32(GROUND_TERRAIN);
            terrain->Save(writer);
        }
    } else if (m_terrain && !m_runTimeGround.empty()) {
        writer.WriteUInt32(GROUND_TERRAIN_RT);
        writer.WriteBytes(m_runTimeGround.data(), static_cast<unsigned>(m_runTimeGround.size()));
    } else if (m_gridRegion) {
        writer.WriteUInt32(GROUND_GRID);
        m_gridRegion->Save(writer);
    }
    writer.EndBlock();

    if (m_water) {
        writer.BeginBlock(CHUNK_WATER);
        m_water->Save(writer);
        writer.EndBlock();
    }
    // A mesh of another path-finding library is written back as it was read.
    if (m_pathMesh.HasData()) {
        writer.BeginBlock(CHUNK_PATH_MESH);
        m_pathMesh.Write(writer);
        writer.EndBlock();
    }

    writer.BeginBlock(CHUNK_SECTOR_LAYERS);
    m_sectorLayers.Save(writer);
    writer.EndBlock();
    return !writer.Failed();
}

bool Level::Save(const char* fileName, bool runTimeFormat)
{
    BinaryWriter writer(0x400);
    // A level that could not be put into bytes leaves the file on disk alone.
    if (!SaveToMemory(writer, runTimeFormat)) {
        LogPrintf(1, "Level: writing %s failed: the level could not be put into bytes",
                  fileName ? fileName : "(null)");
        return false;
    }
    FileSystem* files = EngineDataServices::Files();
    File* file = files && fileName ? files->OpenFile(fileName, FILE_MODE_WRITE) : nullptr;
    if (!file) {
        LogPrintf(1, "Level: cannot open %s for writing", fileName ? fileName : "(null)");
        return false;
    }
    bool written = file->Write(0, writer.GetBuffer(), writer.GetSize());
    // The file on disk is replaced only as it closes.
    written = files->CloseFile(file) && written;
    if (!written)
        LogPrintf(1, "Level: writing %s failed", fileName);
    return written;
}

// ---- Saved state --------------------------------------------------------------------------------

bool Level::SaveState(BinaryWriter* writer) const
{
    if (!writer)
        return false;
    writer->BeginBlock(CHUNK_ENTITIES);
    std::vector<Entity*> entities;
    if (m_tree)
        EntityTree::GetAllObjects(m_tree->GetRoot(), entities);
    for (Entity* entity : entities) {
        if (!entity->ShouldSaveState())
            continue;
        writer->WriteString(entity->GetObjectName());
        writer->WriteUInt32(entity->GetObjectId());
        writer->WriteCoords(entity->GetCoords().GetRegionCoords());
        writer->WriteUInt32(entity->HasUniqueID() ? 1u : 0u);
        if (entity->HasUniqueID())
            writer->WriteUniqueId(entity->GetUniqueID());
        entity->SaveState(*writer);
    }
    writer->EndBlock();
    return true;
}

bool Level::RestoreState(const void* data, unsigned size, unsigned renumberedSince)
{
    if (!data)
        return size == 0;
    if (!m_tree) {
        LogPrintf(1, "Level: state cannot be restored into a level that is not loaded");
        return false;
    }
    BinaryReader reader(data, size);
    while (!reader.AtEnd()) {
        uint32_t id = 0;
        BinaryReader chunk;
        if (!reader.ReadBlock(id, chunk)) {
            LogPrintf(1, "Level: the saved state is cut short");
            return false;
        }
        if (id != CHUNK_ENTITIES)
            continue;
        while (!chunk.AtEnd()) {
            std::string name;
            chunk.ReadString(name);
            const uint32_t objectId = chunk.ReadUInt32();
            const Coords frame = chunk.ReadCoords();
            const bool hasId = chunk.ReadUInt32() != 0;
            const UniqueId uniqueId = hasId ? chunk.ReadUniqueId() : UniqueId();
            if (chunk.Failed() || !IsFiniteCoords(frame) || !IsRigidFrame(frame)) {
                LogPrintf(1, "Level: a saved entity record is damaged");
                return false;
            }
            const unsigned id = renumberedSince == ~0u
                                    ? objectId
                                    : ObjectManager::Get()->GetRenumberedId(objectId, renumberedSince, true);
            Entity* entity = CreateEntity(name, id);
            if (!entity) {
                LogPrintf(1, "Failed to create entity '%s' while restoring level state", name.c_str());
                return false;
            }
            entity->SetRestored(true);
            if (hasId)
                entity->SetUniqueID(uniqueId);
            ObjectManager::Get()->LoadObjectData(entity);

            Object* existing =
                entity->UseExistingObjectForRestore() ? ObjectManager::Get()->GetObjectByName(name) : nullptr;
            if (existing && existing != entity && Entity::IsEntity(existing)) {
                ObjectManager::Get()->DestroyObjectEx(entity, __FILE__, __LINE__);
                Entity* target = static_cast<Entity*>(existing);
                target->RestoreState(chunk);
                if (m_tree->Contains(target))
                    MoveEntity(target, frame);
                else if (!target->GetRegion())
                    target->SetCoords(WorldCoords(m_region, frame));
            } else {
                entity->SetCoords(WorldCoords(m_region, frame));
                entity->UpdateBoundingBox();
                m_tree->Insert(entity);
                ++m_numEntities;
                entity->RestoreState(chunk);
            }
            if (chunk.Failed()) {
                LogPrintf(1, "Level: the saved state of '%s' is cut short", name.c_str());
                return false;
            }
        }
    }
    return true;
}

// ---- Life cycle ---------------------------------------------------------------------------------

bool Level::PostLoadStep()
{
    switch (m_postLoadStep) {
    case 0:
        if (m_pathMesh.HasMesh())
            PathFinder::Get()->AddMesh(&m_pathMesh);
        break;
    case 1:
        if (m_gridRegion)
            m_gridRegion->PostLoad();
        break;
    case 2:
        if (m_tree) {
            std::vector<Entity*> entities;
            EntityTree::GetAllObjects(m_tree->GetRoot(), entities);
            for (Entity* entity : entities)
                entity->OnAddToLevel(this);
        }
        break;
    case 3:
        if (Terrain* terrain = GetEditableTerrain())
            if (WorldServices::EditorMode())
                terrain->ProcessDirtyRects();
        break;
    default:
        m_postLoadDone = true;
        break;
    }
    ++m_postLoadStep;
    return m_postLoadDone;
}

bool Level::PostLoad(bool incremental)
{
    if (m_postLoadDone)
        return true;
    if (!m_postLoadStarted) {
        m_postLoadStarted = true;
        if (incremental)
            m_postLoadStep = 0;
    }
    if (incremental)
        return PostLoadStep();
    while (!PostLoadStep()) {
    }
    return true;
}

bool Level::LoadRenderData()
{
    if (m_renderDataLoaded)
        return true;
    if (m_terrain)
        m_terrain->LoadRenderData();
    m_renderDataLoaded = true;
    return true;
}

bool Level::UnloadStep()
{
    switch (m_unloadStep) {
    case 0:
        if (DestroyAllEntities(8))
            m_unloadStep = 1;
        return false;
    case 1:
        ClearPathMesh();
        m_unloadStep = 2;
        return false;
    default:
        // Everything the load made goes: the grounds with their kept bytes, the water and the
        // sector layers (read again by the next load).
        FreeContents();
        m_unloadStarted = false;
        m_unloadStep = 0;
        return true;
    }
}

bool Level::Unload(bool incremental)
{
    if (!m_loaded)
        return true;
    if (!m_unloadStarted) {
        m_unloadStarted = true;
        m_unloadStep = 0;
    }
    if (incremental)
        return UnloadStep();
    // At once: the entities in one walk of the tree, not a walk for every eight of them.
    if (m_unloadStep == 0) {
        DestroyAllEntities(-1);
        m_unloadStep = 1;
    }
    while (!UnloadStep()) {
    }
    return true;
}

bool Level::DestroyAllEntities(int maximum)
{
    if (!m_tree)
        return true;
    std::vector<Entity*> entities;
    EntityTree::GetAllObjects(m_tree->GetRoot(), entities);
    size_t count = entities.size();
    if (maximum >= 0)
        count = std::min(count, static_cast<size_t>(maximum));
    for (size_t i = 0; i < count; ++i) {
        Entity* entity = entities[i];
        if (WorldServices::IsEntityOnClients(entity)) {
            LogPrintf(1, "Level destroying entity on client list: '%s' (%i)", entity->GetObjectName().c_str(),
                      static_cast<int>(entity->GetObjectId()));
            WorldServices::RemoveEntityFromAllClients(entity);
        }
        entity->OnRemoveFromLevel(this);
        m_tree->Remove(entity);
        if (m_numEntities)
            --m_numEntities;
        RemoveEntityFromNetworkList(entity);
        entity->SetCoords(WorldCoords());
        if (PhysicsEngine* physics = WorldServices::Physics())
            physics->RemoveEntityFromSimulation(entity);
        ObjectManager::Get()->DestroyObjectEx(entity, __FILE__, __LINE__);
    }
    return !(maximum >= 0 && count > 0);
}

// ---- Entities -----------------------------------------------------------------------------------

bool Level::AddEntity(Entity* entity, const Coords& coords)
{
    if (!entity || !m_tree)
        return false;
    entity->SetCoords(WorldCoords(m_region, coords));
    entity->UpdateBoundingBox();
    m_tree->Insert(entity);
    ++m_numEntities;
    entity->OnAddToLevel(this);
    return true;
}

void Level::RemoveEntity(Entity* entity)
{
    if (!entity)
        return;
    entity->OnRemoveFromLevel(this);
    if (entity->IsInSpace() && m_tree && m_tree->Contains(entity)) {
        m_tree->Remove(entity);
        if (m_numEntities)
            --m_numEntities;
    }
    entity->SetCoords(WorldCoords());
}

void Level::MoveEntity(Entity* entity, const Coords& coords)
{
    if (!entity)
        return;
    // The tree's lines come from memory while the entity takes its place and box.
    if (m_tree)
        EntityTree::PrefetchMove(entity);
    entity->SetCoords(WorldCoords(m_region, coords));
    entity->UpdateBoundingBox();
    if (m_tree)
        m_tree->UpdateObject(entity);
    entity->OnMoveInLevel(this);
}

void Level::ForgetEntity(Entity* entity)
{
    RemoveEntityFromNetworkList(entity);
    if (m_tree && m_tree->Contains(entity)) {
        m_tree->Remove(entity);
        if (m_numEntities)
            --m_numEntities;
    }
}

void Level::AddEntityToNetworkList(Entity* entity)
{
    if (!entity)
        return;
    const bool listed = IsInNetworkList(entity);
    if (!listed)
        m_networkList.push_back(entity);
    const std::string& name = entity->GetObjectName();
    if (name == "Records/Creature/PC/FemalePC01.dbr" || name == "Records/Creature/PC/MalePC01.dbr") {
        if (listed)
            LogPrintf(2, "Level: Player %d added to NetworkUpdateList more than once!.",
                      static_cast<int>(entity->GetObjectId()));
        else
            LogPrintf(2, "Level: Player %d added to NetworkUpdateList.",
                      static_cast<int>(entity->GetObjectId()));
    }
}

void Level::RemoveEntityFromNetworkList(Entity* entity)
{
    auto it = std::find(m_networkList.begin(), m_networkList.end(), entity);
    if (it != m_networkList.end())
        m_networkList.erase(it);
}

bool Level::IsInNetworkList(Entity* entity) const
{
    return std::find(m_networkList.begin(), m_networkList.end(), entity) != m_networkList.end();
}

// ---- Frame --------------------------------------------------------------------------------------

void Level::PreLoad(const Frustum* frusta, unsigned count, bool all)
{
    if (m_terrain)
        m_terrain->PreLoad(frusta, count);
    if (!m_tree)
        return;
    std::vector<Entity*> found;
    std::vector<bool> inFirst;
    m_tree->GetObjectsInFrusta(
        found, frusta, count,
        [](const Entity* e, const ABBox& box, const SpaceFrustum& frustum) {
            return EntityInFrustum(e, box, frustum, false, true);
        },
        &inFirst);
    for (size_t i = 0; i < found.size(); ++i) {
        if (inFirst[i])
            found[i]->SetInRenderPreLoadFrustum();
        if (all || found[i]->GetObjectId() % 10 == m_preLoadRotation)
            found[i]->PreLoad(inFirst[i]);
    }
    if (!all)
        m_preLoadRotation = (m_preLoadRotation + 1) % 10;
}

void Level::UpdateEntity(Entity* entity, int elapsed)
{
    const bool noted = entity->IsInWorld();
    const Vec3 before = noted ? entity->GetRegionBoundingBox().extents : Vec3();
    if (!entity->HasDoneInitialUpdate())
        entity->InitialUpdate();
    entity->Update(elapsed);
    if (!noted || !entity->IsInSpace())
        return;
    const Vec3 after = entity->GetRegionBoundingBox().extents;
    if (std::fabs(after.x - before.x) > 1.0f || std::fabs(after.y - before.y) > 1.0f ||
        std::fabs(after.z - before.z) > 1.0f) {
        Region* region = entity->GetRegion();
        Level* level = region ? region->GetLevel() : nullptr;
        if (level && level->m_tree)
            level->m_tree->UpdateObject(entity);
    }
}

void Level::Update(const Frustum* frusta, unsigned count, int elapsed)
{
    if (m_terrain)
        m_terrain->Update(frusta, count, elapsed);
    if (m_gridRegion)
        m_gridRegion->Update(frusta, count, elapsed);
    if (m_water)
        m_water->Update(elapsed);
    if (elapsed < 1 || !m_tree || !frusta)
        return;
    const float inflation = WorldServices::EntityUpdateInflation();
    std::vector<Frustum> widened;
    widened.reserve(count);
    for (unsigned i = 0; i < count; ++i)
        widened.push_back(frusta[i].GetExpanded(inflation));
    std::vector<Entity*> found;
    GetEntitiesInFrustum(found, widened.data(), count, false, ENTITY_LIST_ALL, false);
    const bool client = WorldServices::NetworkClient();
    std::vector<Entity*> serverSpawned;
    for (Entity* entity : found) {
        if (!entity->IsInWorld())
            continue;
        if (client && entity->ShouldServerSpawn()) {
            entity->Activate(true);
            serverSpawned.push_back(entity);
        } else {
            UpdateEntity(entity, elapsed);
        }
    }
    if (client) {
        // Copy: an update may take entities out of the list.
        const std::vector<Entity*> listed = m_networkList;
        for (Entity* entity : listed)
            if (IsInNetworkList(entity) && entity->IsActivated())
                UpdateEntity(entity, elapsed);
        NetworkControllerBase* controller = WorldServices::NetworkController();
        const unsigned generation = controller ? controller->GetGeneration() : 0;
        if (generation > m_lastNetworkGeneration) {
            std::sort(serverSpawned.begin(), serverSpawned.end());
            const std::vector<Entity*> current = m_networkList;
            for (Entity* entity : current)
                if (IsInNetworkList(entity) && entity->IsActivated() &&
                    !std::binary_search(serverSpawned.begin(), serverSpawned.end(), entity))
                    entity->Activate(false);
            m_lastNetworkGeneration = generation;
        }
    }
}

void Level::AddToScene(GraphicsSceneRenderer& renderer, const Frustum& frustum,
                       const WorldFrustum* worldFrustum)
{
    Frustum relative;
    if (worldFrustum)
        worldFrustum->GetRelativeFrustum(m_region, relative);
    if (m_tree) {
        std::vector<Entity*> found;
        GetEntitiesInFrustum(found, &frustum, 1, false, ENTITY_LIST_ALL, false);
        const FilterFunction<Entity>* filter = WorldServices::EntityRenderFilter();
        for (Entity* entity : found) {
            if (filter && !(*filter)(entity))
                continue;
            if (worldFrustum)
                entity->SetTransparency(relative);
            entity->AddToScene(renderer, &frustum);
        }
    }
    if (m_terrain)
        m_terrain->AddToScene(renderer, frustum);
    if (m_gridRegion)
        m_gridRegion->AddToScene(renderer, frustum, worldFrustum ? &relative : nullptr);
    if (m_water)
        m_water->AddToScene(renderer, frustum);
}

void Level::AddReflectionPlanes(GraphicsReflectionManager& manager, const Frustum& frustum)
{
    if (m_water)
        m_water->AddReflectionPlanes(manager, m_region, frustum);
}

void Level::RebuildMapData()
{
    std::vector<Entity*> entities;
    GetEntities(entities, ENTITY_LIST_ALL);
    for (Entity* entity : entities)
        if (entity->IsInWorld() && entity->IncludeInMinimap())
            entity->Update(10);
}

// ---- Editor -------------------------------------------------------------------------------------

void Level::InitSectorLayers(unsigned width, unsigned height)
{
    if (static_cast<uint64_t>(width) * height > kMaxSectorCells) {
        LogPrintf(1, "Level: sector layers of %u x %u cells are too large; the level has none", width,
                  height);
        m_sectorLayers.Destroy();
        return;
    }
    m_sectorLayers.Initialize(width, height);
}

bool Level::NewTerrain(unsigned width, unsigned height)
{
    if (m_loaded)
        Unload(false);
    FreeContents();
    Terrain* terrain = new Terrain(m_region);
    // The terrain counts cells, the level samples.
    if (width < 2 || height < 2 || !terrain->New(width - 1, height - 1)) {
        LogPrintf(1, "Level: no terrain of %u x %u samples", width, height);
        delete terrain;
        return false;
    }
    const float w = static_cast<float>(width), h = static_cast<float>(height);
    MakeTree(w / 2.0f, h / 2.0f, std::max(w, h) / 2.0f, std::max(w, h) / 2.0f);
    m_terrain = terrain;
    InitSectorLayers(width ? width - 1 : 0, height ? height - 1 : 0);
    m_sectorLayers.SetHeightCallbacks(m_terrain, nullptr);
    m_loaded = m_renderDataLoaded = m_postLoadDone = true;
    return true;
}

bool Level::NewRunTimeTerrain(const std::vector<uint8_t>& body)
{
    if (m_loaded)
        Unload(false);
    FreeContents();
    auto* terrain = new TerrainRT(m_region);
    BinaryReader reader(body.data(), static_cast<unsigned>(body.size()));
    if (body.size() > 0xFFFFFFFFu || !terrain->Load(reader, version)) {
        LogPrintf(1, "Level: the run-time terrain cannot be loaded");
        delete terrain;
        return false;
    }
    m_terrain = terrain;
    m_runTimeGround = body;
    const ABBox box = GetBoundingBox();
    MakeTree(box.extents.x, box.extents.z, std::max(box.extents.x, box.extents.z),
             std::max(box.extents.x, box.extents.z));
    InitSectorLayers(Units(2.0f * box.extents.x), Units(2.0f * box.extents.z));
    m_sectorLayers.SetHeightCallbacks(m_terrain, nullptr);
    m_loaded = m_renderDataLoaded = m_postLoadDone = true;
    return true;
}

namespace {

// The editor makes no grid that Load would refuse: x and z cells at the grid's spacing stay within
// maxGroundExtent (one log line otherwise).
bool GridFitsLevel(const GridRegion& grid, int x, int z)
{
    const Vec3 s = grid.GetCellSpacing();
    const std::string what = "a grid of " + std::to_string(x) + " x " + std::to_string(z) + " cells";
    return GroundFitsLevel(static_cast<float>(x) * s.x, static_cast<float>(z) * s.z, what.c_str());
}

} // namespace

void Level::NewGrid(int x, int y, int z)
{
    // Checked at the new grid's spacing before the level lets go of what it holds.
    auto* grid = new GridRegion(m_region);
    if (!GridFitsLevel(*grid, x, z)) {
        delete grid;
        return;
    }
    if (m_loaded)
        Unload(false);
    FreeContents();
    m_gridRegion = grid;
    m_gridRegion->Resize(x, y, z);
    const Vec3 s = m_gridRegion->GetCellSpacing();
    const float w = static_cast<float>(m_gridRegion->GetXNumCells()) * s.x;
    const float d = static_cast<float>(m_gridRegion->GetZNumCells()) * s.z;
    InitSectorLayers(Units(w), Units(d));
    m_sectorLayers.SetHeightCallbacks(nullptr, m_gridRegion);
    MakeTree(w / 2.0f, d / 2.0f, std::max(w, d) / 2.0f, std::max(w, d) / 2.0f);
    m_loaded = m_renderDataLoaded = m_postLoadDone = true;
}

void Level::NewSpace(const Vec2& halfSize)
{
    if (m_loaded)
        Unload(false);
    FreeContents();
    MakeTree(0.0f, 0.0f, halfSize.x, halfSize.y);
    m_loaded = m_renderDataLoaded = true;
}

Water* Level::NewWater()
{
    delete m_water;
    unsigned width = 0, height = 0;
    if (m_terrain) {
        width = m_terrain->GetNumXSamples() ? m_terrain->GetNumXSamples() - 1 : 0;
        height = m_terrain->GetNumYSamples() ? m_terrain->GetNumYSamples() - 1 : 0;
    } else if (m_gridRegion) {
        const ABBox box = m_gridRegion->GetBoundingBox();
        width = Units(2.0f * box.extents.x);
        height = Units(2.0f * box.extents.z);
    }
    m_water = new Water(m_region);
    m_water->Initialize(width, height, m_terrain, m_gridRegion);
    return m_water;
}

void Level::ResizeGrid(int x, int y, int z)
{
    if (!m_gridRegion || !GridFitsLevel(*m_gridRegion, x, z))
        return;
    const int oldY = m_gridRegion->GetYNumCells();
    m_gridRegion->Resize(x, y, z);
    // A size the grid refused (it logged why) leaves the level as it was: nothing moves.
    if (m_gridRegion->GetXNumCells() != x || m_gridRegion->GetYNumCells() != y ||
        m_gridRegion->GetZNumCells() != z)
        return;
    if (m_region)
        m_region->UpdateBoundingBox();
    const Vec3 s = m_gridRegion->GetCellSpacing();
    if (y > oldY && m_tree) {
        const float up = std::trunc(static_cast<float>(y - oldY) * s.y);
        std::vector<Entity*> entities;
        GetEntities(entities, ENTITY_LIST_ALL);
        World* world = m_region ? m_region->GetWorld() : nullptr;
        for (Entity* entity : entities) {
            WorldCoords coords = entity->GetCoords();
            coords.Translate(Vec3(0.0f, up, 0.0f));
            if (world)
                world->SetCoords(entity, coords);
            else
                MoveEntity(entity, coords.GetRegionCoords());
        }
    }
    InitSectorLayers(Units(static_cast<float>(x) * s.x), Units(static_cast<float>(z) * s.z));
}

void Level::ResizeSectorLayers()
{
    unsigned width = 0, height = 0;
    if (m_terrain) {
        width = m_terrain->GetNumXSamples() ? m_terrain->GetNumXSamples() - 1 : 0;
        height = m_terrain->GetNumYSamples() ? m_terrain->GetNumYSamples() - 1 : 0;
    } else if (m_gridRegion) {
        const Vec3 s = m_gridRegion->GetCellSpacing();
        width = Units(static_cast<float>(m_gridRegion->GetXNumCells()) * s.x);
        height = Units(static_cast<float>(m_gridRegion->GetZNumCells()) * s.z);
    } else {
        return;
    }
    if (width != m_sectorLayers.GetWidth() || height != m_sectorLayers.GetHeight())
        InitSectorLayers(width, height);
}

// ---- Path mesh ----------------------------------------------------------------------------------

namespace {

// The build box reaches this far past the level's box on every side.
constexpr double kPathMeshMargin = 8.0;
// Contacts a static entity's box may find before it counts as resting on something.
constexpr int kObstacleContacts = 100;

// The corners of an oriented box as ABBox::GetCorners orders them.
void BoxTriangles(const std::array<Vec3, 8>& c, std::vector<Vec3>& out)
{
    static const int kTriangles[12][3] = {{0, 1, 2}, {0, 2, 3}, {4, 6, 5}, {4, 7, 6}, {0, 4, 5}, {0, 5, 1},
                                          {1, 5, 6}, {1, 6, 2}, {2, 6, 7}, {2, 7, 3}, {3, 7, 4}, {3, 4, 0}};
    for (const auto& t : kTriangles)
        for (int k : t)
            out.push_back(c[static_cast<size_t>(k)]);
}

void BoxEdges(const std::array<Vec3, 8>& c, std::vector<Vec3>& out)
{
    static const int kEdges[12][2] = {{0, 1}, {1, 2}, {2, 3}, {3, 0}, {4, 5}, {5, 6},
                                      {6, 7}, {7, 4}, {0, 4}, {1, 5}, {2, 6}, {3, 7}};
    for (const auto& e : kEdges) {
        out.push_back(c[static_cast<size_t>(e[0])]);
        out.push_back(c[static_cast<size_t>(e[1])]);
    }
}

// Sends vertices as primitives of one kind and colour, flushing the drawer every few hundred.
void DrawBatched(WorldPrimitiveDrawer& drawer, int primitive, const Color& color,
                 const std::vector<Vec3>& vertices, int perPrimitive)
{
    constexpr size_t kFlushVertices = 300;
    if (vertices.empty())
        return;
    size_t inBatch = 0;
    drawer.Begin(primitive);
    drawer.SetColor(color);
    for (size_t i = 0; i < vertices.size(); ++i) {
        drawer.SetVertex(vertices[i]);
        if (++inBatch >= kFlushVertices && (i + 1) % static_cast<size_t>(perPrimitive) == 0) {
            drawer.End();
            drawer.Flush();
            drawer.Begin(primitive);
            drawer.SetColor(color);
            inBatch = 0;
        }
    }
    drawer.End();
}

} // namespace

void Level::ClearPathMesh()
{
    // Only a registered mesh reaches the path finder: a level that a loading thread is reading (or
    // discarding) was never registered and must not touch it.
    if (m_pathMesh.IsRegistered())
        PathFinder::Get()->RemoveMesh(&m_pathMesh);
    m_pathMesh.Clear();
}

IntSpaceBox Level::GetPathMeshBuildBox() const
{
    // Whole units that hold the level's box and the margin, with the box's centre in the middle
    // (the centre rounded to a whole unit, the half-size rounded up to cover it).
    const ABBox box = GetBoundingBox();
    const IntVec3 o = m_region ? m_region->GetOffsetFromWorld() : IntVec3();
    const double offset[3] = {double(o.x), double(o.y), double(o.z)};
    const double centre[3] = {box.center.x, box.center.y, box.center.z};
    const double half[3] = {box.extents.x, box.extents.y, box.extents.z};
    int32_t c[3], h[3];
    for (int axis = 0; axis < 3; ++axis) {
        const double lo = std::floor(offset[axis] + centre[axis] - std::fabs(half[axis]) - kPathMeshMargin);
        const double hi = std::ceil(offset[axis] + centre[axis] + std::fabs(half[axis]) + kPathMeshMargin);
        const double middle = std::floor(0.5 * (lo + hi));
        if (!(lo >= INT32_MIN && hi <= INT32_MAX)) {
            c[axis] = h[axis] = 0;
            continue;
        }
        c[axis] = static_cast<int32_t>(middle);
        h[axis] = static_cast<int32_t>(hi - middle);
    }
    return IntSpaceBox(IntVec3(c[0], c[1], c[2]), IntVec3(h[0], h[1], h[2]));
}

void Level::AddPathObstacles(const Level& level, const IntSpaceBox& box)
{
    Region* region = level.GetRegion();
    if (!region)
        return;
    const Vec3 shift = BuildFrameShift(region->GetOffsetFromWorld(), box);
    const ABBox query(-shift, Vec3(static_cast<float>(box.halfSize.x), static_cast<float>(box.halfSize.y),
                                   static_cast<float>(box.halfSize.z)));
    std::vector<Entity*> entities;
    level.GetEntitiesInBox(entities, query, ENTITY_LIST_ALL);
    World* world = m_region ? m_region->GetWorld() : nullptr;
    const WorldVec3 reference(m_region, Vec3());
    // From the entity's region into this level's region, where the collision test is asked.
    const Vec3 toHere = Region::GetOffsetDifference(region, m_region);
    CollisionContact contacts[kObstacleContacts];
    for (Entity* entity : entities) {
        if (const PhysicsMesh* mesh = entity->GetPhysicsMesh()) {
            const Coords frame = entity->GetCoords().GetRegionCoords();
            for (int i = 0; i < mesh->GetNumFaces(); ++i) {
                int corners[3] = {0, 0, 0};
                unsigned flags = 0;
                mesh->GetFace(i, corners, flags);
                if (flags == 0)
                    continue;
                m_pathFaces.emplace_back(frame.TransformPoint(mesh->GetVertex(corners[0])) + shift,
                                         frame.TransformPoint(mesh->GetVertex(corners[1])) + shift,
                                         frame.TransformPoint(mesh->GetVertex(corners[2])) + shift,
                                         PATH_FACE_OBSTACLE);
            }
        }
        if (!entity->IsStatic() || !entity->OccludesPathing())
            continue;
        std::vector<OBBox> boxes;
        for (int i = 0; i < entity->GetNumCollisionBoxes(); ++i)
            boxes.push_back(entity->GetCollisionBox(i));
        OBBox proxy;
        if (boxes.empty() && entity->GetCollisionProxy(proxy))
            boxes.push_back(proxy);
        for (const OBBox& solid : boxes) {
            // A box that rests on something (ground, water or another entity) blocks the way; one
            // that touches nothing, such as a canopy overhead, does not. Its bounds reach 1 unit
            // down so that a box standing just above the ground still meets it.
            ABBox test = ABBox::FromOBBox(solid);
            test.center.y -= 0.5f;
            test.extents.y += 0.5f;
            test.center += toHere;
            const OBBox tested(test);
            const int found = world ? world->FindCollisions(entity, tested, contacts, kObstacleContacts,
                                                            reference, ENTITY_LIST_LEVEL, 0)
                                    : FindCollisions(entity, tested, contacts, kObstacleContacts, reference,
                                                     ENTITY_LIST_LEVEL, 0);
            if (found <= 0)
                continue;
            OBBox placed = solid;
            placed.coords.origin += shift;
            m_pathObstacles.push_back(placed);
        }
    }
}

bool Level::CreatePathMesh()
{
    ClearPathMesh();
    m_pathFaces.clear();
    m_pathObstacles.clear();
    if (!m_region) {
        LogPrintf(1, "Level: a level without region has no path mesh");
        return false;
    }
    const IntSpaceBox box = GetPathMeshBuildBox();
    m_pathBuildBox = box;
    if (box.halfSize.x <= 0 || box.halfSize.y <= 0 || box.halfSize.z <= 0) {
        LogPrintf(1, "Level: the level's box leaves no room for a path mesh");
        return false;
    }

    // The regions the box meets, each with its level in for the build.
    std::vector<Region*> regions;
    const Vec3 shift = BuildFrameShift(m_region->GetOffsetFromWorld(), box);
    if (World* world = m_region->GetWorld())
        world->GetRegionsInBox(regions, m_region,
                               ABBox(-shift, Vec3(static_cast<float>(box.halfSize.x) + 1.0f,
                                                  static_cast<float>(box.halfSize.y) + 1.0f,
                                                  static_cast<float>(box.halfSize.z) + 1.0f)));
    if (std::find(regions.begin(), regions.end(), m_region) == regions.end())
        regions.push_back(m_region);
    struct Loaded
    {
        Region* region;
        bool keepState;
    };
    std::vector<Loaded> loadedForBuild;
    std::vector<Region*> joined;
    for (Region* region : regions) {
        if (region == m_region) {
            joined.push_back(region);
            continue;
        }
        const bool wasIn = region->GetLevelPtr() || region->IsLoadUnderWay();
        // A level whose state was kept at its last unload gets it back, and keeps it again.
        const bool keepState = region->HasKeptState();
        // The engine's own ask: a neighbour whose level failed to load is not read again, and the
        // mesh is built without its ground.
        if (region->GetLevelUnlessBroken(false)) {
            joined.push_back(region);
            if (!wasIn)
                loadedForBuild.push_back({region, keepState});
        } else if (region->IsLevelBroken()) {
            LogPrintf(1, "Level: the path mesh of %s leaves %s out, its level could not be loaded: %s",
                      m_region->GetName().c_str(), region->GetName().c_str(),
                      region->GetLoadFailure().c_str());
        }
    }
    regions.swap(joined);
    // Levels loaded for the build go again before the answer, whatever it is.
    const auto answer = [&](bool result) {
        for (const Loaded& loaded : loadedForBuild)
            loaded.region->UnloadLevel(loaded.keepState);
        return result;
    };

    TerrainPathMeshCalculator::CreateNavigationMesh(regions, box, m_pathFaces);
    GridPathMeshCalculator::CreateNavigationMesh(regions, box, m_pathFaces);
    for (Region* region : regions)
        if (const Level* level = region == m_region ? this : region->GetLevel(true))
            AddPathObstacles(*level, box);
    PathFaceConnector::Connect(m_pathFaces, 0.0f);
    if (std::none_of(m_pathFaces.begin(), m_pathFaces.end(),
                     [](const PathFace& f) { return f.IsWalkable(); }))
        return answer(true); // no ground to walk on: no mesh, and nothing wrong

    if (!m_pathMesh.Create(m_pathFaces, m_pathObstacles, box)) {
        LogPrintf(1, "Level: the path mesh of %s could not be built", m_region->GetName().c_str());
        return answer(false);
    }
    PathFinder::Get()->AddMesh(&m_pathMesh);
    return answer(true);
}

void Level::RenderPathMeshes(WorldPrimitiveDrawer& drawer, const Coords& frame) const
{
    if (m_pathFaces.empty() && m_pathObstacles.empty())
        return;
    // From the build frame into the region's space.
    const IntVec3 o = m_region ? m_region->GetOffsetFromWorld() : IntVec3();
    const Vec3 move(static_cast<float>(static_cast<int64_t>(m_pathBuildBox.center.x) - o.x),
                    static_cast<float>(static_cast<int64_t>(m_pathBuildBox.center.y) - o.y),
                    static_cast<float>(static_cast<int64_t>(m_pathBuildBox.center.z) - o.z));
    const Coords placed = frame * Coords::Translation(move);

    std::vector<Vec3> joined, loose;
    for (const PathFace& face : m_pathFaces) {
        std::vector<Vec3>& lines = face.group != -1 ? joined : loose;
        for (int k = 0; k < 3; ++k) {
            lines.push_back(placed.TransformPoint(face.corners[k]));
            lines.push_back(placed.TransformPoint(face.corners[(k + 1) % 3]));
        }
    }
    DrawBatched(drawer, WorldPrimitiveDrawer::PRIMITIVE_LINE_LIST, Color(0.0f, 0.0f, 1.0f, 1.0f), joined, 6);
    DrawBatched(drawer, WorldPrimitiveDrawer::PRIMITIVE_LINE_LIST, Color(1.0f, 1.0f, 1.0f, 1.0f), loose, 6);

    std::vector<Vec3> solid, wire;
    for (const OBBox& box : m_pathObstacles) {
        std::array<Vec3, 8> corners = box.GetCorners();
        for (Vec3& corner : corners)
            corner = placed.TransformPoint(corner);
        BoxTriangles(corners, solid);
        BoxEdges(corners, wire);
    }
    DrawBatched(drawer, WorldPrimitiveDrawer::PRIMITIVE_TRIANGLE_LIST, Color(1.0f, 1.0f, 0.0f, 0.2f), solid,
                3);
    DrawBatched(drawer, WorldPrimitiveDrawer::PRIMITIVE_LINE_LIST, Color(1.0f, 1.0f, 0.0f, 1.0f), wire, 2);
    drawer.Flush();
}

void Level::PreDeviceReset()
{
    if (m_terrain)
        m_terrain->PreDeviceReset();
    if (m_water)
        m_water->PreDeviceReset();
}

void Level::PostDeviceReset()
{
    if (m_terrain)
        m_terrain->PostDeviceReset();
    if (m_water)
        m_water->PostDeviceReset();
    std::vector<Entity*> entities;
    GetEntities(entities, ENTITY_LIST_ALL);
    for (Entity* entity : entities)
        entity->SetCoords(entity->GetCoords());
}

void Level::ReloadGenerationDependentData()
{
    if (m_terrain)
        m_terrain->ReloadGenerationDependentData();
}

// ---- Accessors ----------------------------------------------------------------------------------

ABBox Level::GetBoundingBox() const
{
    if (m_terrain) {
        ABBox box = m_terrain->GetBoundingBox();
        box.extents.y += 30.0f;
        return box;
    }
    if (m_gridRegion)
        return m_gridRegion->GetBoundingBox();
    if (m_tree)
        return m_tree->GetRootBox();
    return ABBox(Vec3(), Vec3(100.0f, 100.0f, 100.0f));
}

float Level::GetGroundHeight(float x, float z) const
{
    if (m_terrain)
        return m_terrain->GetHeightInterpolated(x, z);
    if (m_gridRegion)
        return m_gridRegion->GetGroundHeight(x, z);
    return 0.0f;
}

// ---- Queries ------------------------------------------------------------------------------------

void Level::FilterByListType(std::vector<Entity*>& out, size_t from, EntityListType type)
{
    if (type != ENTITY_LIST_UPDATED && type != ENTITY_LIST_LEVEL)
        return;
    auto keep = [type](const Entity* e) {
        return e->HasDoneInitialUpdate() && (type != ENTITY_LIST_LEVEL || e->GetIsPartOfLevel());
    };
    out.erase(std::stable_partition(out.begin() + static_cast<ptrdiff_t>(from), out.end(), keep), out.end());
}

bool Level::EntityInFrustum(const Entity* entity, const ABBox& treeBox, const SpaceFrustum& frustum,
                            bool alternate, bool exact)
{
    // The tree's copy of the region box spares a visit to the entity unless its alternate box
    // is asked for.
    if (!exact)
        return alternate ? ABBoxInFrustum(entity->GetRegionBoundingBox(true), frustum.GetFrustum())
                         : frustum.BoxInFrustum(treeBox);
    const ABBox& box = alternate ? entity->GetRegionBoundingBox(true) : treeBox;
    return frustum.BoxInFrustum(treeBox) && ABBoxInFrustumExact(box, frustum.GetFrustum());
}

void Level::GetEntities(std::vector<Entity*>& out, EntityListType type) const
{
    if (!m_tree)
        return;
    const size_t from = out.size();
    EntityTree::GetAllObjects(m_tree->GetRoot(), out);
    FilterByListType(out, from, type);
}

void Level::GetEntities(std::vector<Entity*>& out, const FilterFunction<Entity>& filter,
                        EntityListType type) const
{
    if (!m_tree)
        return;
    const size_t from = out.size();
    std::vector<Entity*> all;
    EntityTree::GetAllObjects(m_tree->GetRoot(), all);
    for (Entity* entity : all)
        if (filter(entity))
            out.push_back(entity);
    FilterByListType(out, from, type);
}

void Level::GetEntitiesInSphere(std::vector<Entity*>& out, const Sphere& sphere, bool alternate,
                                EntityListType type) const
{
    if (!m_tree)
        return;
    const size_t from = out.size();
    const float r2 = sphere.radius * sphere.radius;
    EntityTree::WalkEager(
        m_tree->GetRoot(),
        [&](const EntityTree::Node* node) {
            const Vec3 lo = node->center - node->half, hi = node->center + node->half;
            const Vec3 closest = Vec3::Max(lo, Vec3::Min(hi, sphere.center));
            return (closest - sphere.center).LengthSquared() < r2;
        },
        [&](Entity* entity, const ABBox& box) {
            if (ABBoxIntersectsSphere(alternate ? entity->GetRegionBoundingBox(true) : box, sphere))
                out.push_back(entity);
        });
    FilterByListType(out, from, type);
}

void Level::GetEntitiesInBox(std::vector<Entity*>& out, const ABBox& box, EntityListType type) const
{
    if (!m_tree)
        return;
    const size_t from = out.size();
    EntityTree::GetObjectsInBox(m_tree->GetRoot(), out, box);
    FilterByListType(out, from, type);
}

void Level::GetEntitiesInFrustum(std::vector<Entity*>& out, const Frustum* frusta, unsigned count,
                                 bool alternate, EntityListType, bool exact) const
{
    if (!m_tree)
        return;
    m_tree->GetObjectsInFrusta(out, frusta, count,
                               [alternate, exact](const Entity* e, const ABBox& box, const SpaceFrustum& frustum) {
                                   return EntityInFrustum(e, box, frustum, alternate, exact);
                               });
}

bool Level::HasEntity(const Entity* entity) const
{
    return entity && m_tree && m_tree->Contains(const_cast<Entity*>(entity));
}

Entity* Level::PickEntity(const Ray& ray) const
{
    if (!m_loaded || !m_tree)
        return nullptr;
    Intersection best;
    return EntityTree::GetIntersection(
        m_tree->GetRoot(), ray, best,
        [](Entity* e, const Ray& r, Intersection& i) { e->GetIntersection(r, i, physicsSurfaceAny); });
}

Entity* Level::PickEntity(const Ray& ray, const FilterFunction<Entity>& filter) const
{
    if (!m_loaded || !m_tree)
        return nullptr;
    float best = gInfinity;
    Entity* hit = nullptr;
    EntityTree::Walk(
        m_tree->GetRoot(),
        [&](const EntityTree::Node* node) { return node->GetBox().GetIntersection(ray) < best; },
        [&](Entity* entity, const ABBox&) {
            if (!filter(entity))
                return;
            Intersection scratch;
            entity->GetIntersection(ray, scratch, physicsSurfaceAny);
            if (scratch.distance < best) {
                best = scratch.distance;
                hit = entity;
            }
        });
    return hit;
}

void Level::PickEntities(const Ray& ray, std::vector<Entity*>& out, bool alternate) const
{
    if (!m_loaded)
        return;
    GetAllIntersections(ray, out, alternate, gInfinity);
}

void Level::GetAllIntersections(const Ray& ray, std::vector<Entity*>& out, bool alternate,
                                float maxDistance) const
{
    if (!m_tree)
        return;
    EntityTree::Walk(
        m_tree->GetRoot(),
        [&](const EntityTree::Node* node) { return node->GetBox().GetIntersection(ray) < maxDistance; },
        [&](Entity* entity, const ABBox& box) {
            if (!((alternate ? entity->GetRegionBoundingBox(true) : box).GetIntersection(ray) < maxDistance))
                return;
            Intersection scratch;
            entity->GetIntersection(ray, scratch, physicsSurfaceAny);
            if (scratch.distance < maxDistance)
                out.push_back(entity);
        });
}

void Level::GetIntersection(const Ray& ray, Intersection& intersection, PhysicsSurface surface,
                            bool excludeEntities) const
{
    if (m_terrain)
        m_terrain->GetIntersection(ray, intersection, surface);
    else if (m_gridRegion)
        m_gridRegion->GetIntersection(ray, intersection, surface);
    if (!excludeEntities && m_tree) {
        EntityTree::GetIntersection(
            m_tree->GetRoot(), ray, intersection,
            [](Entity* e, const Ray& r, Intersection& i) { e->GetIntersection(r, i, physicsSurfaceAny); });
    }
    if (m_water) {
        Intersection water = intersection;
        if (m_water->GetIntersection(ray, water, surface) && water.distance < intersection.distance)
            intersection = water;
    }
}

int Level::CollideWithEntity(const OBBox& box, const Entity* other, const WorldVec3& reference,
                             CollisionContact* contacts, int capacity) const
{
    if (capacity <= 0)
        return 0;
    Region* otherRegion = other->GetRegion();
    const Vec3 ref = otherRegion ? otherRegion->GetRelativePosition(reference) : Vec3();
    if (const PhysicsMesh* mesh = other->GetPhysicsMesh()) {
        Coords frame = other->GetCoords().GetRegionCoords();
        frame.origin -= ref;
        const int n = mesh->FindCollisions(TransformOBBox(frame.Inverse(), box), contacts, capacity);
        for (int i = 0; i < n; ++i) {
            contacts[i].position = frame.TransformPoint(contacts[i].position);
            contacts[i].normal = frame.TransformVector(contacts[i].normal);
        }
        return std::clamp(n, 0, capacity);
    }
    int count = 0;
    const int boxes = other->GetNumCollisionBoxes();
    for (int i = 0; i < boxes && count < capacity; ++i) {
        OBBox otherBox = other->GetCollisionBox(i);
        otherBox.coords.origin -= ref;
        count += CollideBoxes(box, otherBox, contacts + count, capacity - count);
    }
    return count;
}

int Level::FindCollisions(const Entity* entity, CollisionContact* contacts, int capacity,
                          const WorldVec3& reference, EntityListType type, PhysicsSurface surface) const
{
    if (!entity || !contacts || capacity <= 0)
        return 0;
    Region* region = entity->GetRegion();
    if (!region)
        return 0;
    int count = 0;
    if (m_terrain)
        count = m_terrain->FindCollisions(entity, contacts, capacity, region, surface);
    else if (m_gridRegion)
        count = m_gridRegion->FindCollisions(entity, contacts, capacity, region, surface);
    if (m_water && count < capacity)
        count += m_water->FindCollisions(entity, contacts + count, capacity - count, region, surface);
    const Vec3 ref = m_region ? m_region->GetRelativePosition(reference) : Vec3();
    for (int i = 0; i < count; ++i)
        contacts[i].position -= ref;

    std::vector<Entity*> others;
    if (World* world = region->GetWorld())
        world->GetEntitiesInBox(others, entity->GetRegionBoundingBox(), region, false, type);
    else
        GetEntitiesInBox(others, entity->GetRegionBoundingBox(), type);
    OBBox proxy;
    const bool hasProxy = entity->GetCollisionProxy(proxy);
    proxy.coords.origin -= region->GetRelativePosition(reference);
    for (const Entity* other : others) {
        if (count >= capacity)
            break;
        if (!other || other == entity)
            continue;
        if (!entity->CanCollide(other) || !other->CanCollide(entity))
            continue;
        if (!(entity < other) && other->IsSimulationEnabled())
            continue; // a simulated pair is handled once
        if (other->GetPhysicsType() == PHYSICS_TYPE_NO_COLLISION || !hasProxy)
            continue;
        count += CollideWithEntity(proxy, other, reference, contacts + count, capacity - count);
    }
    return count;
}

int Level::FindCollisions(const Entity* entity, const OBBox& box, CollisionContact* contacts, int capacity,
                          const WorldVec3& reference, EntityListType type, PhysicsSurface surface) const
{
    if (!contacts || capacity <= 0)
        return 0;
    const Vec3 ref = m_region ? m_region->GetRelativePosition(reference) : Vec3();
    OBBox moved = box;
    moved.coords.origin += ref;
    int count = 0;
    if (m_terrain)
        count = m_terrain->FindCollisions(moved, contacts, capacity, surface);
    else if (m_gridRegion)
        count = m_gridRegion->FindCollisions(moved, contacts, capacity, surface);
    if (m_water && count < capacity)
        count += m_water->FindCollisions(moved, contacts + count, capacity - count, surface);
    for (int i = 0; i < count; ++i)
        contacts[i].position -= ref;

    std::vector<Entity*> others;
    GetEntitiesInBox(others, ABBox::FromOBBox(moved), type);
    for (const Entity* other : others) {
        if (count >= capacity)
            break;
        if (!other || other == entity || other->GetPhysicsType() == PHYSICS_TYPE_NO_COLLISION ||
            other->GetPhysicsType() == PHYSICS_TYPE_RAG_DOLL)
            continue;
        count += CollideWithEntity(box, other, reference, contacts + count, capacity - count);
    }
    return count;
}

void Level::FindCollisions(std::vector<CollisionBox>& boxes, const ABBox& enclosing,
                           const WorldVec3& reference, EntityListType type, PhysicsSurface surface) const
{
    const Vec3 ref = m_region ? m_region->GetRelativePosition(reference) : Vec3();
    const ABBox moved(enclosing.center + ref, enclosing.extents);
    for (CollisionBox& box : boxes)
        box.Move(ref);
    if (m_terrain)
        m_terrain->FindCollisions(boxes, moved, surface);
    if (m_gridRegion)
        m_gridRegion->FindCollisions(boxes, moved, surface);
    if (m_water)
        m_water->FindCollisions(boxes, moved, surface);
    for (CollisionBox& box : boxes)
        box.Move(-ref);

    std::vector<Entity*> others;
    GetEntitiesInBox(others, moved, type);
    CollisionContact scratch[32];
    for (const Entity* other : others) {
        if (!other || other->GetPhysicsType() == PHYSICS_TYPE_NO_COLLISION ||
            other->GetPhysicsType() == PHYSICS_TYPE_RAG_DOLL)
            continue;
        for (CollisionBox& box : boxes) {
            const int n = CollideWithEntity(box.GetBox(), other, reference, scratch, 32);
            for (int i = 0; i < n; ++i)
                box.AddContact(scratch[i]);
        }
    }
}

} // namespace GAME
