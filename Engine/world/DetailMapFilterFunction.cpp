#include "world/DetailMapFilterFunction.h"

#include "world/Entity.h"

namespace GAME {

bool DetailMapFilterFunction::operator()(const Entity* entity) const
{
    return entity && entity->IncludeInMinimap();
}

} // namespace GAME
