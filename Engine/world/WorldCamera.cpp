#include "world/WorldCamera.h"

#include "graphics/Viewport.h"
#include "sound/SoundManager.h"
#include "world/Engine.h"
#include "world/Portal.h"
#include "world/Region.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace GAME {

namespace {

bool IsFinite(const Vec3& v)
{
    return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

bool IsFinite(const Coords& c)
{
    return IsFinite(c.xAxis) && IsFinite(c.yAxis) && IsFinite(c.zAxis) && IsFinite(c.origin);
}

// from - to as floats, subtracted in 64-bit integers so that distant offsets do not wrap.
Vec3 OffsetDifference(const IntVec3& from, const IntVec3& to)
{
    return Vec3(static_cast<float>(static_cast<int64_t>(from.x) - to.x),
                static_cast<float>(static_cast<int64_t>(from.y) - to.y),
                static_cast<float>(static_cast<int64_t>(from.z) - to.z));
}

} // namespace

WorldCamera::WorldCamera() = default;

void WorldCamera::SetRegionCamera(const Camera& camera)
{
    m_regionCamera = camera;
    m_placed = false;
}

Vec3 WorldCamera::GetDirectionFromTarget() const
{
    const float cosPitch = std::cos(m_cameraPitch);
    return Vec3(cosPitch * std::sin(m_cameraYaw), std::sin(m_cameraPitch), cosPitch * std::cos(m_cameraYaw));
}

Vec3 WorldCamera::GetOffsetFromTarget() const
{
    return GetDirectionFromTarget() * m_cameraDistance;
}

WorldVec3 WorldCamera::CalculateViewPosition(const WorldVec3& target)
{
    return WorldVec3(target.GetRegion(), target.GetRegionPosition() + GetOffsetFromTarget());
}

Vec3 WorldCamera::KeepOnTargetSide(const Region& region, const Vec3& target, const Vec3& position)
{
    Vec3 placed = position;
    for (int i = 0; i < region.GetNumPortals(); ++i) {
        const Portal* portal = region.GetPortal(i);
        if (!portal || portal->GetTriangles().empty())
            continue;
        const Plane plane = portal->GetPlane();
        const float ahead = plane.GetDistance(target);
        if (!(ahead >= 0.0f) || ahead >= doorwayReach)
            continue;
        const Vec3 choke = portal->GetChokePoint().GetOrigin().GetRegionPosition();
        if ((target - choke - plane.normal * ahead).Length() >= doorwayReach)
            continue;
        const float margin = std::clamp(0.5f * ahead, doorwayClearance, doorwayMargin);
        const float behind = plane.GetDistance(placed);
        if (behind >= margin)
            continue;
        if (ahead > margin) {
            // Along the line to the target, to the margin: the distance to the plane changes
            // linearly along it, from behind at the camera to ahead at the target.
            placed = target + (placed - target) * ((ahead - margin) / (ahead - behind));
        } else {
            // The target is on the plane or all but: the camera steps off it, to the front.
            placed += plane.normal * (margin - behind);
        }
    }
    return placed;
}

void WorldCamera::CarryInto(Region& region, const Vec3& target)
{
    if (!m_placed || (m_placedRegionId == region.GetId() && m_placedOffset == region.GetOffsetFromWorld()))
        return;
    // Across a plain border the regions' offsets carry the camera; through a doorway the portal
    // pair does (the caves lie far below their fields). The way that brings the target's last
    // place nearest its new one is the way it went.
    Coords carry = Coords::Translation(OffsetDifference(m_placedOffset, region.GetOffsetFromWorld()));
    float nearest = (carry.TransformPoint(m_placedTarget) - target).Length();
    for (int i = 0; i < region.GetNumPortals(); ++i) {
        const Portal* portal = region.GetPortal(i);
        Coords across;
        Region* other = nullptr;
        if (!portal || portal->GetConnectedRegionId() != m_placedRegionId ||
            !portal->GetBackToFrontCoords(across, other) || !IsFinite(across))
            continue;
        const float distance = (across.TransformPoint(m_placedTarget) - target).Length();
        if (distance < nearest) {
            nearest = distance;
            carry = across;
        }
    }
    m_regionCamera.SetCoords(carry * m_regionCamera.GetCoords());
}

void WorldCamera::Update()
{
    m_regionCamera.SetFOV(m_cameraFOV);
    m_regionCamera.SetFarPlane(m_cameraFarPlane);
    m_regionCamera.SetNearPlane(m_cameraNearPlane);

    WorldVec3 target;
    GetTargetPosition(target);
    Region* region = target.GetRegion();
    if (!region)
        return;
    const Vec3 at = target.GetRegionPosition();
    CarryInto(*region, at);
    Vec3 view = KeepOnTargetSide(*region, at, CalculateViewPosition(target).GetRegionPosition());

    // A camera left across a doorway's plane from its target (carried through the doorway a
    // frame after it) does not glide from there: that way lies through the doorway's frame.
    const Vec3 current = m_regionCamera.GetCoords().origin;
    if (m_acceleration != 0.0f && KeepOnTargetSide(*region, at, current) == current) {
        const Vec3 d = view - current;
        const float distance = d.Length();
        if (distance > 0.0f && distance < maxSmoothedDistance)
            view = current + d * m_acceleration;
    }
    view = KeepOnTargetSide(*region, at, view + m_cameraOffset);

    // Close to its target (a doorway brings it in) the line to the target says little of where
    // to look (a glide's lag, a step off a doorway's plane past the target): within closeLook
    // units the camera turns the way its orbit looks, wholly at the target itself.
    const Vec3 from = view + GetDirectionFromTarget() * std::max(0.0f, closeLook - (at - view).Length());
    const Vec3 up(0.0f, 1.0f, 0.0f);
    const Vec3 look = at - from;
    Coords coords = Coords::LookAt(from, at, up);
    if (!IsFinite(coords) || !(Vec3::Cross(up, look).Length() > 1e-4f * look.Length())) {
        // Looking at the target straight down the up vector (or all but) gives no direction: the
        // camera moves and keeps its axes.
        coords = m_regionCamera.GetCoords();
    }
    coords.origin = view;
    m_regionCamera.SetCoords(coords);
    m_placedOffset = region->GetOffsetFromWorld();
    m_placedRegionId = region->GetId();
    m_placedTarget = at;
    m_placed = true;
}

Region* WorldCamera::GetRegion()
{
    WorldVec3 target;
    GetTargetPosition(target);
    return target.GetRegion();
}

WorldCoords WorldCamera::GetCoords()
{
    return WorldCoords(GetRegion(), m_regionCamera.GetCoords());
}

WorldFrustum WorldCamera::GetFrustum(const Viewport& viewport)
{
    return WorldFrustum(GetRegion(), m_regionCamera.GetFrustum(viewport));
}

Frustum WorldCamera::GetRegionFrustum(const Viewport& viewport) const
{
    return m_regionCamera.GetFrustum(viewport);
}

WorldFrustum WorldCamera::GetSubFrustum(const Vec2& min, const Vec2& max, const Viewport& viewport)
{
    return WorldFrustum(GetRegion(), m_regionCamera.GetSubFrustum(min, max, viewport));
}

WorldFrustum WorldCamera::GetSubFrustum(const Vec2& min, const Vec2& max, float farPlane,
                                        const Viewport& viewport)
{
    return WorldFrustum(GetRegion(), m_regionCamera.GetSubFrustum(min, max, farPlane, viewport));
}

WorldVec3 WorldCamera::GetImagePoint(const Vec2& screen, const Viewport& viewport)
{
    return WorldVec3(GetRegion(), m_regionCamera.GetImagePoint(screen, viewport));
}

WorldRay WorldCamera::GetRayThroughImagePoint(const Vec2& screen, const Viewport& viewport)
{
    const Ray ray = m_regionCamera.GetRayThroughImagePoint(screen, viewport);
    return WorldRay(WorldVec3(GetRegion(), ray.origin), ray.direction);
}

Vec2 WorldCamera::Project(const WorldVec3& position, const Viewport& viewport)
{
    Region* region = GetRegion();
    if (!region)
        return Vec2();
    return m_regionCamera.Project(region->GetRelativePosition(position), viewport);
}

void WorldCamera::SetListenerPosition()
{
    if (SoundManager* sound = gEngine ? gEngine->GetSoundManager() : nullptr)
        SetListenerPosition(*sound);
}

void WorldCamera::SetListenerPosition(SoundManager& soundManager)
{
    SoundManager* sound = &soundManager;
    WorldVec3 target;
    GetTargetPosition(target);
    if (!target.GetRegion())
        return;
    // The ears sit above the target by the sound manager's lerp value and face the camera's forward
    // axis flattened to the ground; the sound library's up is -y.
    WorldVec3 ears = target;
    ears.TranslateInRegion(Vec3(0.0f, sound->GetCameraLerp(), 0.0f));
    sound->SetEarsPosition(ears);
    Vec3 forward = m_regionCamera.GetCoords().zAxis;
    forward.y = 0.0f;
    const float length = forward.Length();
    if (length > 1e-6f)
        sound->SetEarsOrientation(forward * (1.0f / length), Vec3(0.0f, -1.0f, 0.0f));
}

} // namespace GAME
