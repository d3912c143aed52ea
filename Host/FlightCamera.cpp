#include "FlightCamera.h"

#include "core/OBBox.h"
#include "datakit/WorldGenerator.h"
#include "world/Portal.h"
#include "world/Region.h"
#include "world/World.h"

#include <algorithm>
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
// Near a doorway the camera comes in: this close within doorwayNear units of the doorway's choke
// point, its whole distance from doorwayFar on.
constexpr float doorwayDistance = 8.0f;
constexpr float doorwayNear = 8.0f;
constexpr float doorwayFar = 24.0f;
// The view is drawn from the target's region, so the camera must be on the target's side of a
// doorway the target passes (the world camera draws it in when it is not). The flight passes a
// doorway as a player walks through it, so the camera comes in as the target nears the doorway's
// plane, in step with the target's own distance from it, and passes the plane with its target, in
// the opening: its distance from the target is at most doorwayLead times the target's distance
// from the opening (off the plane, and outside the opening along it) over the share of the
// camera's direction that points off the plane. Before the doorway it stands half as far again off
// the plane as its target, past it half as far; the picture stays whole, for the opening fills the
// view on either side as they pass it. From doorwayNear units of the doorway on, this gives way as
// the whole distance comes back.
constexpr float doorwayLead = 0.5f;
// In a cave the walls bring the camera no closer to its target than this (a doorway does).
constexpr float closestDistance = 0.5f;
// In a cave the camera keeps this far inside its walls and under their top.
constexpr float caveMargin = 1.0f;

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
    GAME::Region* region = m_world.GetRegion(view.region);
    m_target = GAME::WorldVec3(region, view.position);
    // The orbit's offset points away from the flight direction: the camera trails the target.
    if (view.direction.x != 0.0f || view.direction.z != 0.0f)
        SetCameraYaw(std::atan2(-view.direction.x, -view.direction.z));
    const GAME::Vec3 away = GetDirectionFromTarget();
    SetCameraDistance(
        std::min(DistanceNearDoorways(region, view.position, away), DistanceInCave(view.region, view.position, away)));
    // The first placement is immediate; from then on the camera glides.
    SetAcceleration(m_placed ? glide : 0.0f);
    Update();
    m_placed = true;
    return GetFrustum(viewport);
}

float FlightCamera::DistanceInCave(int region, const GAME::Vec3& target, const GAME::Vec3& away) const
{
    const auto& regions = m_generator.GetRegions();
    if (region < 0 || static_cast<size_t>(region) >= regions.size() || !regions[static_cast<size_t>(region)].cave)
        return cameraDistance;
    // From above the walls or behind one, the camera would see the cave as a box standing in the
    // dark (it has no ceiling): it stays inside, however close to its target that brings it.
    const GAME::ABBox& box = regions[static_cast<size_t>(region)].box;
    const float step[3] = {away.x, away.y, away.z};
    const float at[3] = {target.x, target.y, target.z};
    const float center[3] = {box.center.x, box.center.y, box.center.z};
    const float extents[3] = {box.extents.x, box.extents.y, box.extents.z};
    float distance = cameraDistance;
    for (int axis = 0; axis < 3; ++axis) {
        if (step[axis] == 0.0f)
            continue;
        const float wall = center[axis] + (step[axis] > 0.0f ? extents[axis] : -extents[axis]);
        const float room = std::fabs(wall - at[axis]) - caveMargin;
        distance = std::min(distance, std::max(closestDistance, room / std::fabs(step[axis])));
    }
    return distance;
}

float FlightCamera::DistanceNearDoorways(const GAME::Region* region, const GAME::Vec3& target,
                                         const GAME::Vec3& away) const
{
    float distance = cameraDistance;
    if (!region)
        return distance;
    for (int i = 0; i < region->GetNumPortals(); ++i) {
        const GAME::Portal* portal = region->GetPortal(i);
        if (!portal)
            continue;
        const GAME::Vec3 choke = portal->GetChokePoint().GetOrigin().GetRegionPosition();
        const float dx = target.x - choke.x, dz = target.z - choke.z;
        const float reach = std::sqrt(dx * dx + dz * dz);
        if (reach >= doorwayFar)
            continue;
        const float t = std::clamp((reach - doorwayNear) / (doorwayFar - doorwayNear), 0.0f, 1.0f);
        const float farther = t * t * (3.0f - 2.0f * t);
        distance = std::min(distance, doorwayDistance + (cameraDistance - doorwayDistance) * farther);
        const GAME::Plane plane = portal->GetPlane();
        const float toward = std::fabs(GAME::Vec3::Dot(plane.normal, away));
        if (!(toward > 1e-3f))
            continue;
        // How far the target's foot on the doorway's plane lies outside the opening's box.
        const float ahead = plane.GetDistance(target);
        const GAME::OBBox& box = portal->GetRegionBoundingBox();
        const GAME::Vec3 foot = box.coords.Inverse().TransformPoint(target - plane.normal * ahead);
        const GAME::Vec3 outside(std::max(std::fabs(foot.x) - box.extents.x, 0.0f),
                                 std::max(std::fabs(foot.y) - box.extents.y, 0.0f),
                                 std::max(std::fabs(foot.z) - box.extents.z, 0.0f));
        distance = std::min(distance, doorwayLead * (std::fabs(ahead) + outside.Length()) / toward +
                                          cameraDistance * farther);
    }
    return distance;
}

} // namespace SampleHost
