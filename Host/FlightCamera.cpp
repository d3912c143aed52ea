#include "FlightCamera.h"

#include "datakit/WorldGenerator.h"
#include "world/World.h"

#include <cmath>

namespace SampleHost {

namespace {

// Behind and above the target, reaching about 60 units past it: what the view reaches decides
// which regions stream in, so it stays a small part of the world.
constexpr float cameraDistance = 30.0f;
constexpr float cameraFOV = 60.0f * 0.017453292f;
constexpr float cameraFarPlane = cameraDistance + 60.0f;
constexpr float cameraNearPlane = 0.5f;
// Each frame the camera covers half the way to its place.
constexpr float glide = 0.5f;

} // namespace

FlightCamera::FlightCamera(const DataKit::WorldGenerator& generator, GAME::World& world)
    : m_generator(generator), m_world(world)
{
    SetCameraDistance(cameraDistance);
    SetCameraFOV(cameraFOV);
    SetCameraFarPlane(cameraFarPlane);
    SetCameraNearPlane(cameraNearPlane);
}

GAME::WorldFrustum FlightCamera::ViewAt(float seconds, const GAME::Viewport& viewport)
{
    const DataKit::WorldGenerator::View view = m_generator.GetFlightView(seconds);
    m_target = GAME::WorldVec3(m_world.GetRegion(view.region), view.position);
    // The orbit's offset points away from the flight direction: the camera trails the target.
    if (view.direction.x != 0.0f || view.direction.z != 0.0f)
        SetCameraYaw(std::atan2(-view.direction.x, -view.direction.z));
    // The first placement is immediate; from then on the camera glides.
    SetAcceleration(m_placed ? glide : 0.0f);
    Update();
    m_placed = true;
    return GetFrustum(viewport);
}

} // namespace SampleHost
