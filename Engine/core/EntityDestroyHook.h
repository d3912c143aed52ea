// How the object manager destroys an entity without knowing the class: entities live in the world
// layer above core. When an object the hook calls an entity is queued for destruction, the manager
// calls OnDestroy, then detaches each attached entity and queues it too. The world installs its
// implementation with ObjectManager::SetEntityDestroyHook. Called on the destroying thread while the
// manager's table lock is held.
#pragma once

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
};

} // namespace GAME
