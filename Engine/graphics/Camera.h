// A view in the space of one region: projection kind, placement, field of view or extent, and
// clipping distances. It turns screen points into image-plane points and rays, projects points to
// the screen, builds the camera-to-screen matrix and the camera-to-clip matrix (depth reversed)
// that the scene renderer multiplies into its world-to-screen matrix, and builds view frusta, also
// through a screen sub-rectangle and around a set of boxes. The world camera (world/WorldCamera.h)
// wraps one with a region.
//
// Camera space: the camera looks along +Z with +Y up; +X is the left of the picture. Screen points
// given to or returned by the image operations are normalised: (0, 0) is the top left corner,
// (1, 1) the bottom right, and a point p lies on the image plane at x' = 1 - 2 p.x, y' = 1 - 2 p.y
// (times the half extents of the image plane).
//
// A camera that cannot project (a perspective field of view whose tangent is 0 or not finite, an
// orthographic width or height of 0, a perspective view through a viewport without area, far equal
// to near, an orthographic far plane of 0) is refused by the operations that would divide by those
// values: CanProject says so, the matrix is left as it was, projections answer (0, 0). Frusta need
// no division and are always built. A plain value; copy freely, one thread at a time.
#pragma once

#include "core/ABBox.h"
#include "core/Coords.h"
#include "core/Frustum.h"
#include "core/Mat4.h"
#include "core/Ray.h"
#include "core/Vec2.h"
#include "graphics/Viewport.h"

#include <cstdint>
#include <vector>

namespace GAME {

enum CameraType : int32_t
{
    CAMERA_PERSPECTIVE = 0,
    CAMERA_ORTHOGRAPHIC = 1,
    // Any other value produces no projection.
};

class Camera
{
public:
    Camera() = default;
    Camera(const Camera&) = default;
    Camera& operator=(const Camera&) = default;

    void SetType(int type) { m_type = static_cast<CameraType>(type); }
    CameraType GetType() const { return m_type; }
    void SetCoords(const Coords& coords) { m_coords = coords; }
    const Coords& GetCoords() const { return m_coords; }
    // Full vertical field of view of a perspective camera, radians.
    void SetFOV(float fov) { m_fov = fov; }
    float GetFOV() const { return m_fov; }
    // Full width and height of an orthographic view.
    void SetWidth(float width) { m_width = width; }
    float GetWidth() const { return m_width; }
    void SetHeight(float height) { m_height = height; }
    float GetHeight() const { return m_height; }
    void SetNearPlane(float distance) { m_nearPlane = distance; }
    float GetNearPlane() const { return m_nearPlane; }
    // May be +infinity.
    void SetFarPlane(float distance) { m_farPlane = distance; }
    float GetFarPlane() const { return m_farPlane; }
    // An extra horizontal factor that only the matrix and the frusta apply.
    void SetCameraAspect(float aspect) { m_cameraAspect = aspect; }
    float GetCameraAspect() const { return m_cameraAspect; }

    // Whether the matrix and the projections can be made for the viewport (see the banner).
    bool CanProject(const Viewport& viewport) const;

    // The point of the image plane (one unit in front of the origin along Z) under the screen
    // point; (0, 0, 0) for other camera types.
    Vec3 GetImagePoint(const Vec2& screen, const Viewport& viewport) const;
    // Perspective: from the origin through the image point, direction of unit length;
    // orthographic: from the image point along Z. Other types: a null ray.
    Ray GetRayThroughImagePoint(const Vec2& screen, const Viewport& viewport) const;
    // The point in pixels of the viewport (its x and y offsets not added). (0, 0) when the camera
    // cannot project, or for a perspective camera when the point lies in the camera's own plane.
    Vec2 Project(const Vec3& point, const Viewport& viewport) const;
    // The same in normalised screen space.
    Vec2 ProjectToImageSpace(const Vec3& point, const Viewport& viewport) const;
    // Row-major, for column vectors; depth runs from 0 at the near plane to 1 at the far plane
    // (approached at infinity when far is +infinity). False, m untouched, when the camera cannot
    // project or is of another type.
    bool GetCameraToScreenMatrix(Mat4& m, const Viewport& viewport) const;
    // The matrix the renderers draw with: the same in x, y and w, with the depth reversed, from 1
    // at the near plane to 0 at the far plane (approached at infinity). A floating-point depth
    // buffer then keeps its precision far off however near the near plane comes (the render
    // device stores depth so). False, m untouched, as above.
    bool GetCameraToClipMatrix(Mat4& m, const Viewport& viewport) const;
    // A clip-space matrix made by hand (depth 0 near, 1 far, as above: the shadow maps') with its
    // depth reversed the same way: z' = w - z.
    static Mat4 ReversedDepth(const Mat4& m);

    // The volume seen through the screen rectangle with corners a and b (in either order), in the
    // space the camera is placed in. Perspective: four side planes through the origin, then a far
    // plane unless far is +infinity; orthographic: x, y ranges, z at most far, z at least near.
    // Other types: no planes.
    Frustum GetSubFrustum(const Vec2& a, const Vec2& b, float farPlane, const Viewport& viewport) const;
    Frustum GetSubFrustum(const Vec2& a, const Vec2& b, const Viewport& viewport) const;
    Frustum GetFrustum(const Viewport& viewport) const;
    // The sub-frustum around the boxes (each moved by offset), clamped to the screen; the full
    // frustum without boxes, and also when a box corner lies at or behind the near plane (its
    // projection would be meaningless) or the camera cannot project.
    Frustum GetMinFrustum(const Viewport& viewport, const Vec3& offset,
                          const std::vector<ABBox>& boxes) const;

private:
    // Half extents of the image plane; withCameraAspect for the matrix and frusta.
    bool GetImageScale(const Viewport& viewport, bool withCameraAspect, float& sx, float& sy) const;
    // px, py of the projection; false when refused.
    bool ProjectToImagePlane(const Vec3& point, const Viewport& viewport, Vec2& out) const;

    CameraType m_type = CAMERA_PERSPECTIVE;
    Coords m_coords;
    float m_fov = 60.0f * 0.017453292f;
    float m_width = 1.0f;
    float m_height = 1.0f;
    float m_nearPlane = 1.0f;
    float m_farPlane = 100.0f;
    float m_cameraAspect = 1.0f;
};

} // namespace GAME
