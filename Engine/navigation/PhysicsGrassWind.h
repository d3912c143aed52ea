// A gust of wind over the grass: where it blows (a region and a position in that region's space),
// how far it reaches and how hard it pushes, and the way it blows. The physics side makes it; the
// world hands a copy, moved into each region's space, to every terrain it reaches, whose blocks
// push their grass away from the centre along the direction. A plain value; any thread.
#pragma once

namespace GAME {

class Region;

struct PhysicsGrassWind
{
    // The region whose space x and z are in; null for a wind that is nowhere.
    Region* region = nullptr;
    float strength = 0.0f;
    float radius = 0.0f;
    float x = 0.0f;
    float z = 0.0f;
    // The way the wind blows over the ground; need not be of unit length.
    float directionX = 0.0f;
    float directionZ = 0.0f;
};

} // namespace GAME
