// The generator's world cut down to one bare 64-unit region: its ground and sky, no caves, no
// entities, no villages, no ridge along its edge (the tests look at it from outside too), the
// ground in the game's form.
#pragma once

#include "datakit/WorldGenerator.h"

namespace GAME::Test {

inline DataKit::WorldGenerator::Settings OneRegionWorld()
{
    DataKit::WorldGenerator::Settings settings;
    settings.regionsX = settings.regionsZ = 1;
    settings.regionSize = 64;
    settings.caves = 0;
    settings.entitiesPerRegion = 0;
    settings.walkersPerRegion = 0;
    settings.villages = 0;
    settings.editorFormRegion = -1;
    settings.borderHeight = 0.0f;
    return settings;
}

} // namespace GAME::Test
