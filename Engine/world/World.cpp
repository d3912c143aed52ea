#include "world/World.h"

#include "core/EventManager.h"
#include "core/GameEvent.h"
#include "core/Intersect.h"
#include "core/Log.h"
#include "core/MathUtil.h"
#include "core/ObjectManager.h"
#include "core/WorldRay.h"
#include "core/WorldVec3.h"
#include "data/BinaryReader.h"
#include "data/ChunkedBinaryWriter.h"
#include "data/EngineDataServices.h"
#include "data/FileSystem.h"
#include "world/Entity.h"
#include "world/InstanceGroupManager.h"
#include "world/Level.h"
#include "world/MapChunkCallback.h"
#include "world/Region.h"
#include "world/SectorDataManager.h"
#include "world/WorldFile.h"
#include "world/WorldServices.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace GAME {

namespace {

std::atomic<World*> sCurrentWorld{nullptr};

// |p - centre| < half-extent on every axis: a point on a face belongs to no region, so two
// touching regions never both claim it.
bool StrictlyContains(const ABBox& box, const Vec3& p)
{
    const Vec3 r = p - box.center;
    return std::fabs(r.x) < box.extents.x && std::fabs(r.y) < box.extents.y && std::fabs(r.z) < box.extents.z;
}

} // namespace

World::~World()
{
    World* self = this;
    sCurrentWorld.compare_exchange_strong(self, nullptr);
    Unload();
}

void World::Update(const std::vector<WorldFrustum>&) {}

void World::GetEntitiesInFrustum(std::vector<Entity*>&, const WorldFrustum&, bool, int, bool) const {}

void World::SetCurrent(World* world)
{
    sCurrentWorld.store(world);
}

World* World::GetCurrent()
{
    return sCurrentWorld.load();
}

Region* World::GetRegion(int index) const
{
    if (index < 0 || index >= GetNumRegions())
        return nullptr;
    return m_regions[static_cast<size_t>(index)];
}

int World::GetRegionIndex(const Region* region) const
{
    for (size_t i = 0; i < m_regions.size(); ++i)
        if (m_regions[i] == region)
            return static_cast<int>(i);
    return -1;
}

int World::AddRegion(const char* name, const IntVec3& offset, const ABBox& box, const RegionId& id)
{
    const int index = GetNumRegions();
    m_regions.push_back(new Region(this, index, name ? name : "", box, offset, id, 0, 0));
    return index;
}

Region* World::GetRegionById(const RegionId& id, bool) const
{
    if (id.IsInvalid())
        return nullptr;
    for (Region* region : m_regions)
        if (region && region->GetId() == id)
            return region;
    return nullptr;
}

Region* World::GetRegionContainingPoint(const Region* from, const Vec3& p) const
{
    for (Region* region : m_regions) {
        if (region &&
            StrictlyContains(region->GetBoundingBox(), p + Region::GetOffsetDifference(from, region)))
            return region;
    }
    return nullptr;
}

Region* World::GetRegionContainingPoint(const IntVec3& p) const
{
    for (Region* region : m_regions) {
        if (!region)
            continue;
        const IntVec3& o = region->GetOffsetFromWorld();
        const Vec3 local(static_cast<float>(static_cast<int64_t>(p.x) - o.x),
                         static_cast<float>(static_cast<int64_t>(p.y) - o.y),
                         static_cast<float>(static_cast<int64_t>(p.z) - o.z));
        if (StrictlyContains(region->GetBoundingBox(), local))
            return region;
    }
    return nullptr;
}

float World::GetNearestFloorHeight(const WorldVec3& p) const
{
    Region* region = p.GetRegion();
    if (!region)
        return -gInfinity;
    const Vec3& pos = p.GetRegionPosition();
    const float down =
        CastRay(WorldRay(WorldVec3(region, pos + Vec3(0.0f, 2.5f, 0.0f)), Vec3(0.0f, -1.0f, 0.0f)));
    if (down < gInfinity)
        return (pos.y + 2.5f) - down;
    const float up =
        CastRay(WorldRay(WorldVec3(region, pos - Vec3(0.0f, 2.5f, 0.0f)), Vec3(0.0f, 1.0f, 0.0f)));
    if (up < gInfinity)
        return (pos.y - 2.5f) + up;
    return -gInfinity;
}

bool World::AddEntity(Entity* entity, const WorldCoords& coords, bool quiet)
{
    if (!entity || !coords.GetRegion() || entity->GetRegion())
        return false;
    return coords.GetRegion()->AddEntity(entity, coords, quiet);
}

void World::RemoveEntity(Entity* entity)
{
    if (entity && entity->GetRegion())
        entity->GetRegion()->RemoveEntity(entity);
}

void World::SetCoords(Entity* entity, const WorldCoords& coords)
{
    if (!entity)
        return;
    Region* from = entity->GetRegion();
    Region* to = coords.GetRegion();
    if (!from || !to)
        return;
    const bool deleteOnUnloaded = entity->DeleteOnEnteringUnloadedLevel();
    if (!deleteOnUnloaded && !to->GuaranteedGetLevel(false))
        return;
    bool wasListed = false;
    if (from != to && from->GetLevel()) {
        Level* old = from->GetLevel();
        wasListed = old->IsInNetworkList(entity);
        if (wasListed)
            old->RemoveEntityFromNetworkList(entity);
        old->RemoveEntity(entity);
    }
    Level* target = to->GuaranteedGetLevel(false);
    if ((!target || !target->IsLoaded()) && deleteOnUnloaded) {
        LogPrintf(2, "Entity '%s' tried to move into an unloaded level.", entity->GetObjectName().c_str());
        ObjectManager::Get()->DestroyObjectEx(entity, __FILE__, __LINE__);
        return;
    }
    if (!target)
        return;
    if (from != to) {
        target->AddEntity(entity, coords.GetRegionCoords());
        if (wasListed)
            target->AddEntityToNetworkList(entity);
    } else {
        target->MoveEntity(entity, coords.GetRegionCoords());
    }
}

void World::UpdateRegionBoundingBox(Level* level)
{
    for (Region* region : m_regions) {
        if (region && region->GetLevel() == level) {
            region->UpdateBoundingBox();
            return;
        }
    }
}

void World::GetEntitiesInBox(std::vector<Entity*>& out, const ABBox& box, Region* from, bool force,
                             EntityListType type) const
{
    if (!from)
        return;
    for (Region* region : m_regions) {
        Level* level = region ? region->GetLevel() : nullptr;
        if (!level || (!force && !level->IsLoaded()))
            continue;
        const ABBox local(box.center + Region::GetOffsetDifference(from, region), box.extents);
        if (!ABBoxesOverlap(local, region->GetBoundingBox()))
            continue;
        level->GetEntitiesInBox(out, local, type);
    }
}

// ---- Files ----------------------------------------------------------------------------------

namespace {

// The map's regions as stored, before any is made.
struct MapRegionRecord
{
    ABBox box;
    IntVec3 offset;
    RegionId id;
    std::string zoneRecord;
    std::string name;
    uint32_t levelOffset = 0;
    uint32_t levelSize = 0;
};

// Smallest region record of a compiled map: box and offset (nine words), id (four), the name's
// length, level offset and size.
constexpr unsigned kMinMapRegionSize = 9 * 4 + 16 + 4 + 8;

bool RangeInFile(uint32_t offset, uint32_t size, unsigned fileLength)
{
    return static_cast<uint64_t>(offset) + size <= fileLength;
}

// A quest file name of the map: a length the data cannot hold leaves the entry empty and the read
// goes on after the length word.
std::string ReadLenientString(BinaryReader& reader)
{
    const uint32_t length = reader.ReadUInt32();
    std::string text;
    if (length <= BinaryReader::kMaxStringLength && length <= reader.GetRemaining()) {
        text.assign(reinterpret_cast<const char*>(reader.GetCursor()), length);
        reader.Skip(length);
    }
    return text;
}

void SendEvent(const char* name)
{
    GameEvent event;
    if (EventManager* events = EventManager::Get())
        events->Send(&event, name);
}

} // namespace

// What a compiled map's chunks leave to be applied after the last one.
struct World::MapReadState
{
    struct SpawnRecord
    {
        uint32_t regionIndex;
        Vec3 position;
    };
    std::vector<SpawnRecord> spawnPoints;
    std::vector<std::pair<uint32_t, uint32_t>> minimaps;
    bool haveMinimaps = false;
    // Instance group and sector data chunks, checked as they are met and handed to their
    // managers only once the whole map has been read, so a refused map changes neither.
    struct Deferred
    {
        Deferred(uint32_t id_, const BinaryReader& chunk)
            : id(id_), data(chunk.GetData()), size(chunk.GetSize())
        {
        }
        uint32_t id;
        const uint8_t* data;
        unsigned size;
    };
    std::vector<Deferred> deferred;
};

bool World::IsValidWorldFile(const char* header)
{
    return header && header[0] == 'W' && header[1] == 'R' && header[2] == 'L' && header[3] == 6;
}

bool World::IsValidMapFile(const char* header)
{
    return header && header[0] == 'M' && header[1] == 'A' && header[2] == 'P' &&
           static_cast<signed char>(header[3]) >= 4;
}

std::string World::GetSectorDataFileName(const std::string& worldFileName)
{
    const size_t dot = worldFileName.rfind('.');
    return (dot == std::string::npos ? worldFileName : worldFileName.substr(0, dot)) + ".sd";
}

void World::SetQuestFile(unsigned index, const std::string& name)
{
    if (index < m_questFiles.size())
        m_questFiles[index] = name;
}

WorldCoords World::GetPlayerSpawnPoint(unsigned n) const
{
    if (m_spawnPoints.empty())
        return WorldCoords();
    return m_spawnPoints[n % m_spawnPoints.size()];
}

void World::SetPlayerSpawnPoint(const WorldCoords& coords)
{
    if (!coords.GetRegion())
        return;
    m_spawnPoints.assign(1, coords);
}

File* World::LockMapFile() const
{
    m_mapFileLock.Enter();
    if (m_mapFileInUse) {
        m_mapFileLock.Exit();
        return nullptr;
    }
    m_mapFileInUse = true;
    return m_mapFile;
}

void World::UnlockMapFile() const
{
    m_mapFileInUse = false;
    m_mapFileLock.Exit();
}

bool World::InstallMapChunkCallback(MapChunkCallback* callback)
{
    if (!callback)
        return false;
    WorldServices* services = WorldServices::Get();
    if (!services) {
        LogPrintf(1, "No engine to hold the map chunk callback for Id %u", callback->GetChunkId());
        return false;
    }
    return services->InstallMapChunkCallback(callback);
}

void World::BuildConnectivity()
{
    for (Region* region : m_regions)
        if (region)
            region->BuildRegionConnectivity(m_regions);
    m_connectivityBuilt = true;
}

void World::CloseMapFile()
{
    CriticalSectionLock lock(m_mapFileLock);
    if (m_mapFile && m_mapFileSystem)
        m_mapFileSystem->CloseFile(m_mapFile);
    m_mapFile = nullptr;
    m_mapFileSystem = nullptr;
}

void World::Unload()
{
    // Group centres point at regions; they are found again from the members once levels load.
    if (InstanceGroupManager::HasInstantiated())
        InstanceGroupManager::Get()->ForgetCenters();
    for (Region* region : m_regions)
        delete region;
    m_regions.clear();
    m_questFiles.clear();
    m_spawnPoints.clear();
    m_regionsLoaded = false;
    CloseMapFile();
}

bool World::Load(const char* fileName, bool buildConnectivity)
{
    Unload();
    SetFileName(fileName);
    FileSystem* files = EngineDataServices::Files();
    if (!files || !fileName)
        return false;
    File* file = files->OpenFile(fileName, FILE_MODE_READ);
    if (!file)
        return false;
    char header[4] = {0, 0, 0, 0};
    if (const void* bytes = file->GetLength() >= 4 ? file->Lock(0, 4) : nullptr) {
        std::memcpy(header, bytes, 4);
        file->Unlock();
    }
    if (IsValidMapFile(header)) {
        {
            CriticalSectionLock lock(m_mapFileLock);
            m_mapFile = file;
            m_mapFileSystem = files;
        }
        if (!LoadMap()) {
            Unload();
            return false;
        }
        if (buildConnectivity)
            BuildConnectivity();
        return true;
    }
    const bool loaded = LoadSourceWorld(file);
    files->CloseFile(file);
    if (!loaded) {
        Unload();
        return false;
    }
    SendEvent("GameEvent_LevelLoad");
    SendEvent("GameEvent_WrlLoad");
    return true;
}

bool World::LoadSourceWorld(File* file)
{
    WorldFile worldFile;
    const unsigned length = file->GetLength();
    const void* bytes = length ? file->Lock(0, length) : nullptr;
    if (!bytes)
        return false;
    BinaryReader reader(bytes, length);
    const bool read = worldFile.Read(reader);
    file->Unlock();
    if (!read)
        return false;

    for (unsigned i = 0; i < worldFile.GetNumQuestFiles(); ++i)
        m_questFiles.push_back(worldFile.GetQuestFile(i));
    m_regions.reserve(worldFile.GetNumRegions());
    for (unsigned i = 0; i < worldFile.GetNumRegions(); ++i) {
        const WorldFile::Region& r = worldFile.GetRegion(i);
        Region* region = new Region(this, static_cast<int>(i), r.name, r.box, r.offset, r.id, 0, 0);
        region->SetZoneRecord(r.zoneRecord);
        m_regions.push_back(region);
    }
    if (worldFile.GetIconData()) {
        BinaryReader icons(worldFile.GetIconData(), worldFile.GetIconDataSize());
        for (Region* region : m_regions)
            if (!region->LoadRegionIcon(icons))
                return false;
    }
    if (worldFile.GetInstanceData()) {
        BinaryReader instances(worldFile.GetInstanceData(), worldFile.GetInstanceDataSize());
        InstanceGroupManager* groups = InstanceGroupManager::Get();
        if (!groups || !groups->Load(instances, false))
            return false;
    }
    // Read last, so a world file that is refused adds no sector data.
    if (SectorDataManager* sectorData = WorldServices::SectorData())
        sectorData->Load(GetSectorDataFileName(m_fileName).c_str());
    return true;
}

bool World::LoadMap()
{
    CriticalSectionLock lock(m_mapFileLock);
    File* file = m_mapFile;
    if (!file)
        return false;
    const unsigned fileLength = file->GetLength();
    const uint8_t* head = fileLength >= 8 ? static_cast<const uint8_t*>(file->Lock(0, 8)) : nullptr;
    if (!head)
        return false;
    char header[4];
    std::memcpy(header, head, 4);
    const uint32_t dataLength = static_cast<uint32_t>(head[4]) | static_cast<uint32_t>(head[5]) << 8 |
                                static_cast<uint32_t>(head[6]) << 16 | static_cast<uint32_t>(head[7]) << 24;
    file->Unlock();
    if (!IsValidMapFile(header))
        return false;
    const int version = static_cast<signed char>(header[3]);
    if (dataLength > fileLength - 8) {
        LogPrintf(1, "World: map %s announces %u bytes of chunks but holds %u", m_fileName.c_str(),
                  dataLength, fileLength - 8);
        return false;
    }
    const void* data = dataLength ? file->Lock(8, dataLength) : nullptr;
    if (dataLength && !data) {
        LogPrintf(1, "World: cannot read map %s", m_fileName.c_str());
        return false;
    }
    BinaryReader reader(data, dataLength);
    MapReadState state;
    const bool read = ReadMapChunks(reader, version, fileLength, state);
    if (read) {
        for (const MapReadState::Deferred& chunk : state.deferred) {
            BinaryReader content(chunk.data, chunk.size);
            if (chunk.id == MAP_CHUNK_INSTANCE_GROUPS) {
                if (InstanceGroupManager* groups = InstanceGroupManager::Get())
                    groups->Load(content, false);
            } else if (SectorDataManager* sectorData = WorldServices::SectorData()) {
                sectorData->Load(content);
            }
        }
    }
    if (data)
        file->Unlock();
    if (!read)
        return false;

    if (state.haveMinimaps && state.minimaps.size() == m_regions.size()) {
        for (size_t i = 0; i < m_regions.size(); ++i)
            m_regions[i]->SetMinimapData(state.minimaps[i].first, state.minimaps[i].second);
    }
    for (const MapReadState::SpawnRecord& spawn : state.spawnPoints) {
        Region* region = GetRegion(static_cast<int>(std::min<uint32_t>(spawn.regionIndex, INT32_MAX)));
        if (!region) {
            LogPrintf(1, "World: map %s puts a spawn point in region %u, which it does not have",
                      m_fileName.c_str(), spawn.regionIndex);
            continue;
        }
        WorldCoords coords(region);
        coords.SetOrigin(WorldVec3(region, spawn.position));
        m_spawnPoints.push_back(coords);
    }
    SendEvent("GameEvent_LevelLoad");
    return true;
}

bool World::ReadMapChunks(BinaryReader& reader, int version, unsigned fileLength, MapReadState& state)
{
    while (!reader.AtEnd()) {
        // Every chunk is read through a reader bounded to its payload, and the next one starts at
        // the announced end whatever its reader took.
        uint32_t id;
        BinaryReader chunk;
        if (!reader.ReadBlock(id, chunk)) {
            LogPrintf(1, "World: map %s has a chunk that runs past its data", m_fileName.c_str());
            return false;
        }
        bool ok = true;
        switch (id) {
        case MAP_CHUNK_REGIONS:
            ok = ReadMapRegions(chunk, version, fileLength);
            break;
        case MAP_CHUNK_SPAWN_POINTS: {
            const int32_t count = chunk.ReadInt32();
            if (count > 0 && chunk.CheckCount(static_cast<uint32_t>(count), 16, "spawn points")) {
                for (int32_t i = 0; i < count; ++i) {
                    MapReadState::SpawnRecord spawn;
                    spawn.regionIndex = chunk.ReadUInt32();
                    spawn.position = chunk.ReadVec3();
                    state.spawnPoints.push_back(spawn);
                }
            }
            ok = !chunk.Failed();
            break;
        }
        case MAP_CHUNK_INSTANCE_GROUPS:
            if (static_cast<int32_t>(chunk.GetSize()) > 0) {
                InstanceGroupManager check;
                ok = check.Load(chunk, false);
                state.deferred.emplace_back(id, chunk);
            }
            break;
        case MAP_CHUNK_OLD_MINIMAP:
            LogPrintf(2, "Map file is using old mini-map data format. Mini-map will not be loaded, please "
                         "rebuild the .wrl file.");
            break;
        case MAP_CHUNK_SECTOR_DATA: {
            SectorDataManager check;
            ok = check.Load(chunk);
            state.deferred.emplace_back(id, chunk);
            break;
        }
        case MAP_CHUNK_MINIMAP: {
            chunk.ReadUInt32(); // carried by the format, unused
            const uint32_t count = chunk.ReadUInt32();
            state.minimaps.clear();
            if (chunk.CheckCount(count, 8, "minimap records")) {
                state.minimaps.resize(count);
                for (auto& entry : state.minimaps) {
                    entry.first = chunk.ReadUInt32();
                    entry.second = chunk.ReadUInt32();
                    if (!RangeInFile(entry.first, entry.second, fileLength)) {
                        LogPrintf(1, "World: a minimap of map %s lies past the end of the file",
                                  m_fileName.c_str());
                        return false;
                    }
                }
            }
            state.haveMinimaps = true;
            ok = !chunk.Failed();
            break;
        }
        case MAP_CHUNK_QUEST_FILES: {
            const uint32_t count = chunk.ReadUInt32();
            if (chunk.CheckCount(count, 4, "quest files")) {
                std::vector<std::string> names;
                names.reserve(count);
                for (uint32_t i = 0; i < count; ++i)
                    names.push_back(ReadLenientString(chunk));
                m_questFiles = std::move(names);
            }
            ok = !chunk.Failed();
            break;
        }
        default: {
            WorldServices* services = WorldServices::Get();
            MapChunkCallback* callback = services ? services->GetChunkCallbackMap().Find(id) : nullptr;
            if (callback) {
                callback->ReadChunk(chunk);
                if (chunk.Failed())
                    LogPrintf(1, "World: the callback for map chunk %u read past the chunk's end", id);
            }
            break;
        }
        }
        if (!ok) {
            LogPrintf(1, "World: chunk %u of map %s is truncated or corrupt", id, m_fileName.c_str());
            return false;
        }
    }
    return true;
}

bool World::ReadMapRegions(BinaryReader& reader, int version, unsigned fileLength)
{
    const uint32_t count = reader.ReadUInt32();
    if (!reader.CheckCount(count, kMinMapRegionSize, "map regions"))
        return false;
    std::vector<MapRegionRecord> records(count);
    for (MapRegionRecord& record : records) {
        Vec3 v[2];
        for (Vec3& vector : v) {
            vector.x = static_cast<float>(reader.ReadInt32());
            vector.y = static_cast<float>(reader.ReadInt32());
            vector.z = static_cast<float>(reader.ReadInt32());
        }
        record.box = ABBox(v[0], v[1]);
        record.offset.x = reader.ReadInt32();
        record.offset.y = reader.ReadInt32();
        record.offset.z = reader.ReadInt32();
        record.id.Read(reader);
        if (version == 5 && !reader.ReadString(record.zoneRecord))
            return false;
        if (!reader.ReadString(record.name))
            return false;
        record.levelOffset = reader.ReadUInt32();
        record.levelSize = reader.ReadUInt32();
        if (reader.Failed())
            return false;
        if (!RangeInFile(record.levelOffset, record.levelSize, fileLength)) {
            LogPrintf(1, "World: the level of region %s lies past the end of map %s", record.name.c_str(),
                      m_fileName.c_str());
            return false;
        }
    }
    if (InstanceGroupManager::HasInstantiated())
        InstanceGroupManager::Get()->ForgetCenters();
    for (Region* region : m_regions)
        delete region;
    m_regions.clear();
    m_regions.reserve(records.size());
    for (size_t i = 0; i < records.size(); ++i) {
        const MapRegionRecord& r = records[i];
        Region* region =
            new Region(this, static_cast<int>(i), r.name, r.box, r.offset, r.id, r.levelOffset, r.levelSize);
        region->SetZoneRecord(r.zoneRecord);
        m_regions.push_back(region);
    }
    m_regionsLoaded = true;
    return true;
}

bool World::Save()
{
    FileSystem* files = EngineDataServices::Files();
    if (!files)
        return false;
    ChunkedBinaryWriter writer(0x100000);
    writer.WriteBytes("WRL", 3);
    writer.WriteUInt8(WorldFile::kVersion);

    writer.BeginBlock(WorldFile::CHUNK_QUEST_FILES);
    writer.WriteUInt32(static_cast<uint32_t>(m_questFiles.size()));
    for (const std::string& name : m_questFiles)
        writer.WriteString(name);
    writer.EndBlock();

    writer.BeginBlock(WorldFile::CHUNK_REGIONS);
    writer.WriteUInt32(static_cast<uint32_t>(m_regions.size()));
    for (const Region* region : m_regions)
        region->Save(writer);
    writer.EndBlock();

    writer.BeginBlock(WorldFile::CHUNK_REGION_ICONS);
    for (const Region* region : m_regions)
        region->SaveRegionIcon(writer);
    writer.EndBlock();

    writer.BeginBlock(WorldFile::CHUNK_INSTANCE_GROUPS);
    if (InstanceGroupManager* groups = InstanceGroupManager::Get())
        groups->Save(writer);
    writer.EndBlock();

    File* file = writer.Failed() ? nullptr : files->OpenFile(m_fileName.c_str(), FILE_MODE_WRITE);
    if (!file) {
        LogPrintf(2, "Could not write %s", m_fileName.c_str());
        return false;
    }
    const bool written = writer.WriteTo(*file);
    files->CloseFile(file);
    if (!written) {
        LogPrintf(2, "Could not write %s", m_fileName.c_str());
        return false;
    }
    SectorDataManager* sectorData = WorldServices::SectorData();
    return sectorData && sectorData->Save(GetSectorDataFileName(m_fileName).c_str());
}

float World::CastRay(const WorldRay&) const
{
    return gInfinity;
}

} // namespace GAME
