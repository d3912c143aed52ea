// How the object manager destroys an entity without knowing the class: entities live in the world
// layer above core. When an object the hook calls an entity is queued for destruction, the manager
// calls OnDestroy, then detaches each attached entity and queues it too; when it renumbers objects,
// every entity hears the ids that changed. The world installs its implementation with
// ObjectManager::SetEntityDestroyHook. Called on the destroying (renumbering) thread while the
// manager's table lock is held.
#pragma once

#include <unordered_map>

namespace GAME {

class Object;

class EntityDestroyHook
{
public:
    virtual ~EntityDestroyHook() = default;
    // Whether the object's class is Entity or derives from it.
    virtual bool IsEntity(const Object* object) = 0;
    // The entity's OnDestroy.
    virtual void OnDestroy(Object* entity) = 0;
    // Number of attachment slots of the entity (some may be empty).
    virtual unsigned GetNumAttachedEntities(Object* entity) = 0;
    // Detaches the entity in the slot from its parent and returns it; null for an empty slot.
    virtual Object* DetachAttachedEntity(Object* entity, unsigned index) = 0;
    // The ids the entity keeps of other objects (its attached entities), after a renumbering
    // (ObjectManager::RenumberHost): each id in the map is the object's new id now.
    virtual void RenumberAttached(Object* entity, const std::unordered_map<unsigned, unsigned>& renumbered)
    {
        (void)entity;
        (void)renumbered;
    }
};

} // namespace GAME
