// The process-wide index from a unique id to the live entity that bears it. Entities are not
// owned. One instance, made by the first Get and deleted by Destroy (engine shut-down).
//
// Threads: add, remove and look-up hold the map's lock, so region loading threads and the main
// thread may use them together; Get is safe from any thread too.
#pragma once

#include "core/CriticalSection.h"
#include "core/Singleton.h"
#include "core/UniqueId.h"

#include <cstddef>
#include <map>

namespace GAME {

class Entity;

class UniqueIdMap : public Singleton<UniqueIdMap>
{
public:
    UniqueIdMap() = default;
    ~UniqueIdMap() override = default;

    // An id already in the map keeps its first entity.
    void AddEntity(const UniqueId& id, Entity* entity);
    void RemoveEntity(const UniqueId& id);
    // Removes the id only while it names this entity (an entity never drops another's entry);
    // true when it was removed.
    bool RemoveEntity(const UniqueId& id, const Entity* entity);
    // Null when the id is not in the map.
    Entity* GetEntity(const UniqueId& id) const;

    size_t GetNumEntities() const;

private:
    mutable CriticalSection m_lock;
    std::map<UniqueId, Entity*> m_entities;
};

} // namespace GAME
