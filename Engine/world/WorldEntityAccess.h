// What instance groups read of an entity: its unique id, its region, its position and box there,
// and its class record.
//
// Entity.cpp installs the implementation over GAME::Entity at start-up (Entity::InstallHooks);
// tests may install their own. Without one, operations that take an entity do nothing.
//
// Threads: as the entity's; main thread.
#pragma once

#include "core/ABBox.h"
#include "core/UniqueId.h"
#include "core/Vec3.h"

namespace GAME {

class Entity;
class RTTI_ClassInfo;
class Region;

class WorldEntityAccess
{
public:
    virtual ~WorldEntityAccess() = default;

    // Null id for an entity that has none.
    virtual UniqueId GetUniqueId(const Entity* entity) = 0;
    // Null when the entity is not in the world.
    virtual Region* GetRegion(const Entity* entity) = 0;
    // The entity's origin in its region's space.
    virtual Vec3 GetRegionPosition(const Entity* entity) = 0;
    // The entity's own bounding box in its region's space.
    virtual ABBox GetRegionBoundingBox(const Entity* entity) = 0;
    virtual const RTTI_ClassInfo* GetClassInfo(const Entity* entity) = 0;

    static void Install(WorldEntityAccess* access);
    static WorldEntityAccess* Get();
};

} // namespace GAME
