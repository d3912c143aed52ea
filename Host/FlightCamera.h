// The sample host's camera: the engine's world camera following a target that moves along the
// generated world's scripted flight. The camera keeps behind and above the target, gliding toward
// its place from frame to frame and jumping where frames lie far apart. Near a doorway it comes in
// closer, and as its target walks through a doorway it comes in to the target and passes the
// doorway's plane with it, in the opening: the view is drawn from the target's region, which a
// camera left across the doorway from its target would see cut at it. In a cave it keeps inside
// the walls and under their top. Main thread only.
#pragma once

#include "core/WorldFrustum.h"
#include "core/WorldVec3.h"
#include "graphics/Viewport.h"
#include "world/WorldCamera.h"

namespace DataKit {
class WorldGenerator;
}

namespace GAME {
class Region;
class World;
} // namespace GAME

namespace SampleHost {

class FlightCamera : public GAME::WorldCamera
{
public:
    FlightCamera(const DataKit::WorldGenerator& generator, GAME::World& world);

    // Moves the target to that time of the flight, turns the camera behind it and places it; the
    // camera's view frustum for the viewport, in the target's region.
    GAME::WorldFrustum ViewAt(float seconds, const GAME::Viewport& viewport);

    // The next ViewAt places the camera at once, as the first does, instead of gliding there.
    void Jump() { m_placed = false; }

    void GetTargetPosition(GAME::WorldVec3& out) override { out = m_target; }

protected:
    // The flight is scripted: no input.
    void HandleInput() override {}

private:
    // The camera's distance for a target at that place in the region, near its doorways, the
    // camera standing `away` from it (a unit away).
    float DistanceNearDoorways(const GAME::Region* region, const GAME::Vec3& target, const GAME::Vec3& away) const;
    // The same inside a cave (the region by index).
    float DistanceInCave(int region, const GAME::Vec3& target, const GAME::Vec3& away) const;

    const DataKit::WorldGenerator& m_generator;
    GAME::World& m_world;
    GAME::WorldVec3 m_target;
    bool m_placed = false;
};

} // namespace SampleHost
