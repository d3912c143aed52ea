#include "world/WorldGraphicsHooks.h"

#include "world/Entity.h"
#include "world/World.h"

namespace GAME {

bool WorldGraphicsHooks::SetEntityVisibility(Object* object, bool visible)
{
    if (!object || !object->GetClassInfo().IsA(Entity::GetStaticClassInfo()))
        return false;
    static_cast<Entity*>(object)->SetVisibility(visible);
    return true;
}

void WorldGraphicsHooks::ReloadWorldGenerationData()
{
    if (World* world = World::GetCurrent())
        world->ReloadGenerationDependentData();
}

} // namespace GAME
