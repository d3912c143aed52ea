// The entity filter of map rendering: it keeps the entities that ask to be drawn into the region
// icons and minimaps (Entity::IncludeInMinimap). Region::RebuildMapData installs one as the
// engine's entity render filter while it draws the top views. No state; main thread.
#pragma once

#include "world/FilterFunction.h"

namespace GAME {

class Entity;

class DetailMapFilterFunction : public FilterFunction<Entity>
{
public:
    DetailMapFilterFunction() = default;
    DetailMapFilterFunction(const DetailMapFilterFunction&) = default;
    DetailMapFilterFunction& operator=(const DetailMapFilterFunction&) = default;

    // False for a null entity.
    bool operator()(const Entity* entity) const override;
};

} // namespace GAME
