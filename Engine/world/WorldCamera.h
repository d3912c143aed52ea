// The base of the host's game cameras: an orbit camera that looks at a target position given by
// the derived class, from a distance, a yaw and a pitch, and that turns its render camera
// (scene/Camera.h, a plain value in the target's region space) into region-relative answers: the
// camera's world coordinates, its frustum as a WorldFrustum for the world update, rays through
// screen points and projections of world positions. It also places the sound listener.
//
// Setters only store their value; it reaches the render camera at the next Update. With an
// acceleration the camera approaches its place smoothly: each Update moves it that fraction of the
// way, unless it is 10 units or more away, when it jumps there.
//
// A target that has gone into another region takes the camera with it the way it went: through the
// doorway it passed (the portal pair that maps the region left into the one entered), or across a
// plain border by the regions' offsets, whichever carries the target's last place nearest its new
// one. The view is drawn from the target's region, so near a doorway of that region (the target
// within doorwayReach of it, in front of its plane) the camera never stands across the doorway's
// plane from its target: its place is drawn in along the line to the target until it is in front
// of the plane (see doorwayMargin), and a camera left across the plane (carried through the doorway
// a frame after its target) goes to its place at once instead of gliding through the doorway's
// frame. A camera kept far behind its target is drawn in by that at a doorway; one that wants to
// pass a doorway without that cut comes in close as its target reaches the plane.
//
// Main thread only. Owns its render camera and zoom timer; knows no region beyond the frame (the
// target gives the region each time).
#pragma once

#include "core/Frustum.h"
#include "core/IntVec3.h"
#include "core/Timer.h"
#include "core/Vec2.h"
#include "core/Vec3.h"
#include "core/WorldCoords.h"
#include "core/WorldFrustum.h"
#include "core/WorldRay.h"
#include "core/WorldVec3.h"
#include "data/RegionId.h"
#include "graphics/Camera.h"

namespace GAME {

class Region;
class SoundManager;
class Viewport;

class WorldCamera
{
public:
    // Farther than this from its place, an accelerated camera jumps instead of gliding.
    static constexpr float maxSmoothedDistance = 10.0f;
    // A doorway of the target's region whose plane the target is this near (off the plane, and
    // along it from the doorway's choke point) keeps the camera on the target's side of it: the
    // portal renderer mixes the regions of a doorway the target is this near (its fade end).
    static constexpr float doorwayReach = 11.0f;
    // How far in front of such a doorway's plane the camera keeps at least: half its target's own
    // distance from the plane, between doorwayClearance (even past its target, so that no opening
    // is ever all but in the camera's eye) and doorwayMargin.
    static constexpr float doorwayMargin = 0.25f;
    static constexpr float doorwayClearance = 0.02f;
    // Within this distance of its target the camera turns toward the way its orbit looks.
    static constexpr float closeLook = 1.0f;

    WorldCamera();
    virtual ~WorldCamera() = default;
    WorldCamera(const WorldCamera&) = default;
    WorldCamera& operator=(const WorldCamera&) = default;

    // Hands field of view and planes to the render camera, then (when the target has a region)
    // places it to look at the target from the view position, moved by the camera offset.
    virtual void Update();
    // The position the camera looks at.
    virtual void GetTargetPosition(WorldVec3& out) = 0;

protected:
    // The target plus GetOffsetFromTarget(), in the target's region.
    virtual WorldVec3 CalculateViewPosition(const WorldVec3& target);
    // Called by UpdateFromInput.
    virtual void HandleInput() = 0;

    // A position in the target's region drawn in along the line to the target until it stands on
    // the target's side of every doorway of the region the target is near (see the banner).
    static Vec3 KeepOnTargetSide(const Region& region, const Vec3& target, const Vec3& position);

public:
    float GetCameraDistanceDefault() const { return m_cameraDistanceDefault; }
    void SetCameraDistanceDefault(float distance) { m_cameraDistanceDefault = distance; }
    // Degrees.
    float GetCameraPitchDefault() const { return m_cameraPitchDefault; }
    void SetCameraPitchDefault(float degrees) { m_cameraPitchDefault = degrees; }
    float GetCameraDistance() const { return m_cameraDistance; }
    float GetDistance() const { return m_cameraDistance; }
    void SetCameraDistance(float distance) { m_cameraDistance = distance; }
    // Radians, as the field of view.
    float GetCameraYaw() const { return m_cameraYaw; }
    void SetCameraYaw(float yaw) { m_cameraYaw = yaw; }
    float GetCameraPitch() const { return m_cameraPitch; }
    void SetCameraPitch(float pitch) { m_cameraPitch = pitch; }
    float GetCameraFOV() const { return m_cameraFOV; }
    void SetCameraFOV(float fov) { m_cameraFOV = fov; }
    float GetCameraNearPlane() const { return m_cameraNearPlane; }
    void SetCameraNearPlane(float distance) { m_cameraNearPlane = distance; }
    float GetCameraFarPlane() const { return m_cameraFarPlane; }
    void SetCameraFarPlane(float distance) { m_cameraFarPlane = distance; }
    // Added to the view position, in the target's region.
    const Vec3& GetCameraOffset() const { return m_cameraOffset; }
    Vec3& GetCameraOffset() { return m_cameraOffset; }
    // The fraction of the way an Update moves the camera; 0 places it at once.
    void SetAcceleration(float acceleration) { m_acceleration = acceleration; }
    float GetAcceleration() const { return m_acceleration; }
    SystemTimer& GetZoomTimer() { return m_zoomTimer; }
    const Camera& GetRegionCamera() const { return m_regionCamera; }
    // Copies the whole camera; its coordinates count as being in the target's region.
    void SetRegionCamera(const Camera& camera);

    // (cos p sin y, sin p, cos p cos y), for yaw y and pitch p: where the camera stands from its
    // target, a unit away.
    Vec3 GetDirectionFromTarget() const;
    // The same times the distance.
    Vec3 GetOffsetFromTarget() const;
    // The target's region (null when the target has none).
    Region* GetRegion();
    // The render camera's coordinates in the target's region.
    WorldCoords GetCoords();
    // The render camera's frustum for the viewport, in the target's region.
    WorldFrustum GetFrustum(const Viewport& viewport);
    Frustum GetRegionFrustum(const Viewport& viewport) const;
    WorldFrustum GetSubFrustum(const Vec2& min, const Vec2& max, const Viewport& viewport);
    WorldFrustum GetSubFrustum(const Vec2& min, const Vec2& max, float farPlane, const Viewport& viewport);
    WorldVec3 GetImagePoint(const Vec2& screen, const Viewport& viewport);
    // From the camera's position through the image point, direction of unit length.
    WorldRay GetRayThroughImagePoint(const Vec2& screen, const Viewport& viewport);
    // The position carried into the target's region, then projected to viewport pixels; (0, 0)
    // when the target has no region.
    Vec2 Project(const WorldVec3& position, const Viewport& viewport);

    void UpdateFromInput() { HandleInput(); }
    // Places the engine's sound listener at the target (nothing when the target has no region or
    // there is no sound manager): raised by the manager's camera lerp value, facing the camera's
    // forward axis flattened to the ground.
    void SetListenerPosition();
    // The same for the given sound manager.
    void SetListenerPosition(SoundManager& sound);

private:
    float m_cameraDistanceDefault = 40.0f;
    float m_cameraPitchDefault = 40.0f;
    float m_cameraDistance = 40.0f;
    float m_cameraYaw = 50.0f * 0.017453292f;
    float m_cameraPitch = 40.0f * 0.017453292f;
    float m_cameraFOV = 30.0f * 0.017453292f;
    float m_cameraFarPlane = 750.0f;
    float m_cameraNearPlane = 1.0f;
    Vec3 m_cameraOffset;
    Camera m_regionCamera;
    SystemTimer m_zoomTimer;
    float m_acceleration = 0.0f;
    // Carries the render camera from the region Update last placed it in into the target's
    // region, the way the target went.
    void CarryInto(Region& region, const Vec3& target);

    // The region whose space Update last placed the render camera in (its offset and id) and the
    // target's place there: a target that has crossed into another region since is approached from
    // where the camera really is.
    IntVec3 m_placedOffset;
    RegionId m_placedRegionId;
    Vec3 m_placedTarget;
    bool m_placed = false;
};

} // namespace GAME
