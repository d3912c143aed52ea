#include "world/WorldCamera.h"

#include "graphics/Viewport.h"
#include "sound/SoundManager.h"
#include "world/Engine.h"
#include "world/Region.h"

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
    WorldVec3 view = CalculateViewPosition(target);

    if (m_acceleration != 0.0f) {
        Vec3 current = m_regionCamera.GetCoords().origin;
        if (m_placed)
            current += OffsetDifference(m_placedOffset, region->GetOffsetFromWorld());
        const Vec3 d = view.GetRegionPosition() - current;
        const float distance = d.Length();
        if (distance > 0.0f && distance < maxSmoothedDistance)
            view = WorldVec3(region, current + d * m_acceleration);
    }
    view.TranslateInRegion(m_cameraOffset);

    Coords coords =
        Coords::LookAt(view.GetRegionPosition(), target.GetRegionPosition(), Vec3(0.0f, 1.0f, 0.0f));
    if (!IsFinite(coords)) {
        // Looking at the target from its own place, or straight down the up vector, gives no
        // direction: the camera moves and keeps its axes.
        coords = m_regionCamera.GetCoords();
        coords.origin = view.GetRegionPosition();
    }
    m_regionCamera.SetCoords(coords);
    m_placedOffset = region->GetOffsetFromWorld();
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
