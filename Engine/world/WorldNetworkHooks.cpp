#include "world/WorldNetworkHooks.h"

#include "core/ObjectManager.h"
#include "core/RTTI_ClassInfo.h"
#include "data/DatabaseArchive.h"
#include "data/FileSystem.h"
#include "data/LoadTable.h"
#include "data/TableDepot.h"
#include "navigation/PhysicsEngine.h"
#include "world/Entity.h"
#include "world/Region.h"
#include "world/World.h"
#include "world/WorldServices.h"

#include <cstring>
#include <string_view>

namespace GAME {

namespace {

// The class the object manager makes for the name: the first of that name, depth first in
// registration order (the subtree below a match is not searched). The depth is the code's.
const RTTI_ClassInfo* FindClass(const RTTI_ClassInfo& record, const char* name)
{
    if (std::strcmp(record.GetClassName(), name) == 0)
        return &record;
    for (int i = 0; i < record.GetNumChildren(); ++i)
        if (const RTTI_ClassInfo* child = record.GetChild(i))
            if (const RTTI_ClassInfo* found = FindClass(*child, name))
                return found;
    return nullptr;
}

// A record file's name in one spelling: lower case, backslashes between its parts, none of them
// empty, "." or "..". False for a name that cannot be put so. Every spelling of one file becomes the
// same name, so the records kept for such names are no more than the files.
bool OneSpelling(const std::string& name, std::string& out)
{
    out.clear();
    out.reserve(name.size());
    size_t partStart = 0;
    for (size_t i = 0; i <= name.size(); ++i) {
        const char c = i < name.size() ? name[i] : '/';
        if (c != '/' && c != '\\') {
            out += c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
            continue;
        }
        const std::string_view part(out.data() + partStart, out.size() - partStart);
        if (part.empty() || part == "." || part == "..")
            return false;
        if (i < name.size()) {
            out += '\\';
            partStart = out.size();
        }
    }
    return true;
}

} // namespace

// ---- Regions ------------------------------------------------------------------------------------

RegionId WorldNetworkHooks::GetIdOfRegion(const Region* region)
{
    return region ? region->GetId() : RegionId();
}

std::string WorldNetworkHooks::GetRegionName(const Region* region)
{
    return region ? region->GetName() : std::string();
}

Region* WorldNetworkHooks::FindRegion(const RegionId& id, bool searchLoadedFirst)
{
    World* world = World::GetCurrent();
    return world ? world->GetRegionById(id, searchLoadedFirst) : nullptr;
}

bool WorldNetworkHooks::IsRegionLoaded(const Region* region)
{
    return region && region->IsLevelLoaded();
}

// ---- Records ------------------------------------------------------------------------------------

bool WorldNetworkHooks::FindEntityRecord(const std::string& name, std::string& stored)
{
    // Asked of the database (or the file system) first: the table depot keeps an empty table for
    // every name it was asked for and did not find.
    TableDepotServices* services = TableDepot::GetServices();
    if (!services || name.empty())
        return false;
    if (services->IsLoadingDbFromArchive()) {
        DatabaseArchive* archive = services->GetDatabaseArchive();
        const DatabaseArchive::Record* record = archive ? archive->FindRecord(name) : nullptr;
        const char* text = record ? archive->GetString(record->nameIndex) : nullptr;
        if (!text)
            return false;
        stored = text;
    } else {
        FileSystem* files = services->GetFileSystem();
        if (!files || !OneSpelling(name, stored) || !files->DoesFileExist(stored.c_str()))
            return false;
    }
    LoadTable* table = ObjectManager::Get()->LoadTableFile(stored);
    const char* className = table ? table->GetValue("Class", "") : "";
    const RTTI_ClassInfo* made = FindClass(Object::classInfo, className);
    return made && made->IsA(Entity::classInfo);
}

// ---- Entities -----------------------------------------------------------------------------------

Entity* WorldNetworkHooks::AsEntity(Object* object)
{
    return object && Entity::IsEntity(object) ? static_cast<Entity*>(object) : nullptr;
}

Object* WorldNetworkHooks::AsObject(Entity* entity)
{
    return entity;
}

bool WorldNetworkHooks::IsInWorld(const Entity* entity)
{
    return entity && entity->IsInWorld();
}

WorldCoords WorldNetworkHooks::GetCoords(const Entity* entity)
{
    return entity ? entity->GetCoords() : WorldCoords();
}

void WorldNetworkHooks::WriteReplicationData(Entity* entity, NetPacketOutBuffer& buffer)
{
    if (entity)
        entity->WriteReplicationData(buffer);
}

void WorldNetworkHooks::ReadReplicationData(Entity* entity, NetPacketInBuffer& buffer)
{
    if (entity)
        entity->ReadReplicationData(buffer);
}

void WorldNetworkHooks::ApplyReplicationData(Entity* entity)
{
    if (entity)
        entity->ApplyReplicationData();
}

bool WorldNetworkHooks::AddToWorld(Entity* entity, const WorldCoords& coords)
{
    World* world = World::GetCurrent();
    return world && world->AddEntity(entity, coords, false);
}

void WorldNetworkHooks::SetSpawnVelocity(Entity* entity, const Vec3& velocity)
{
    if (!entity)
        return;
    entity->SetPhysicsType(PHYSICS_TYPE_ACTOR);
    if (PhysicsEngine* physics = WorldServices::Physics())
        physics->SetEntityLinearVelocity(entity, velocity);
}

// ---- What the world reports entities to ---------------------------------------------------------

NetworkControllerBase* WorldNetworkHooks::GetNetworkController()
{
    return WorldServices::NetworkController();
}

NetworkEntityList* WorldNetworkHooks::GetNetworkEntityList()
{
    return WorldServices::EntityList();
}

} // namespace GAME
