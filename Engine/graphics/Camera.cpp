#include "graphics/Camera.h"

#include <algorithm>
#include <cmath>

namespace GAME {

namespace {

bool NonZeroFinite(float value)
{
    return value != 0.0f && std::isfinite(value);
}

// A plane of camera space through the origin, its normal made unit.
Plane SidePlane(const Vec3& normal)
{
    return Plane(normal.Unit(), 0.0f);
}

} // namespace

bool Camera::GetImageScale(const Viewport& viewport, bool withCameraAspect, float& sx, float& sy) const
{
    switch (m_type) {
    case CAMERA_PERSPECTIVE: {
        const float t = std::tan(m_fov * 0.5f);
        sx = viewport.GetAspectRatio() * t * (withCameraAspect ? m_cameraAspect : 1.0f);
        sy = t;
        return true;
    }
    case CAMERA_ORTHOGRAPHIC:
        sx = m_width * 0.5f;
        sy = m_height * 0.5f;
        return true;
    }
    return false;
}

bool Camera::CanProject(const Viewport& viewport) const
{
    if (m_farPlane == m_nearPlane)
        return false;
    switch (m_type) {
    case CAMERA_PERSPECTIVE:
        return viewport.width != 0 && viewport.height != 0 && NonZeroFinite(std::tan(m_fov * 0.5f)) &&
               NonZeroFinite(m_cameraAspect);
    case CAMERA_ORTHOGRAPHIC:
        return NonZeroFinite(m_width) && NonZeroFinite(m_height) && m_farPlane != 0.0f;
    }
    return false;
}

Vec3 Camera::GetImagePoint(const Vec2& screen, const Viewport& viewport) const
{
    float sx, sy;
    if (!GetImageScale(viewport, false, sx, sy))
        return Vec3();
    return m_coords.origin + m_coords.zAxis + m_coords.xAxis * ((1.0f - 2.0f * screen.x) * sx) +
           m_coords.yAxis * ((1.0f - 2.0f * screen.y) * sy);
}

Ray Camera::GetRayThroughImagePoint(const Vec2& screen, const Viewport& viewport) const
{
    const Vec3 point = GetImagePoint(screen, viewport);
    switch (m_type) {
    case CAMERA_PERSPECTIVE:
        return Ray(m_coords.origin, (point - m_coords.origin).Unit());
    case CAMERA_ORTHOGRAPHIC:
        return Ray(point, m_coords.zAxis);
    }
    return Ray();
}

bool Camera::ProjectToImagePlane(const Vec3& point, const Viewport& viewport, Vec2& out) const
{
    if (!CanProject(viewport))
        return false;
    const Vec3 q = m_coords.Inverse().TransformPoint(point);
    float sx, sy;
    GetImageScale(viewport, false, sx, sy);
    if (m_type == CAMERA_PERSPECTIVE) {
        // A point in the camera's own plane has no image.
        if (q.z == 0.0f)
            return false;
        out = Vec2(q.x / (sx * q.z), q.y / (sy * q.z));
    } else {
        out = Vec2(q.x / sx, q.y / sy);
    }
    return true;
}

Vec2 Camera::Project(const Vec3& point, const Viewport& viewport) const
{
    Vec2 p;
    if (!ProjectToImagePlane(point, viewport, p))
        return Vec2();
    return Vec2(static_cast<float>(viewport.width) * (1.0f - p.x) * 0.5f,
                static_cast<float>(viewport.height) * (1.0f - p.y) * 0.5f);
}

Vec2 Camera::ProjectToImageSpace(const Vec3& point, const Viewport& viewport) const
{
    Vec2 p;
    if (!ProjectToImagePlane(point, viewport, p))
        return Vec2();
    return Vec2((1.0f - p.x) * 0.5f, (1.0f - p.y) * 0.5f);
}

bool Camera::GetCameraToScreenMatrix(Mat4& m, const Viewport& viewport) const
{
    if (!CanProject(viewport))
        return false;
    Mat4 r;
    if (m_type == CAMERA_PERSPECTIVE) {
        const float a = viewport.GetAspectRatio() * m_cameraAspect;
        const float t = std::tan(m_fov * 0.5f);
        const float q = std::isinf(m_farPlane) ? 1.0f : m_farPlane / (m_farPlane - m_nearPlane);
        r.At(0, 0) = -1.0f / (t * a);
        r.At(1, 1) = 1.0f / t;
        r.At(2, 2) = q;
        r.At(2, 3) = -q * m_nearPlane;
        r.At(3, 2) = 1.0f;
        r.At(3, 3) = 0.0f;
    } else {
        r.At(0, 0) = -1.0f / (m_width * 0.5f);
        r.At(1, 1) = 1.0f / (m_height * 0.5f);
        r.At(2, 2) = 1.0f / m_farPlane;
    }
    m = r;
    return true;
}

bool Camera::GetCameraToClipMatrix(Mat4& m, const Viewport& viewport) const
{
    Mat4 r;
    if (!GetCameraToScreenMatrix(r, viewport))
        return false;
    if (m_type == CAMERA_PERSPECTIVE) {
        // z' = n (f - z) / (f - n), over w = z: n / z at infinity.
        const bool infinite = std::isinf(m_farPlane);
        const float range = m_farPlane - m_nearPlane;
        r.At(2, 2) = infinite ? 0.0f : -m_nearPlane / range;
        r.At(2, 3) = infinite ? m_nearPlane : m_farPlane * m_nearPlane / range;
    } else {
        r.At(2, 2) = -1.0f / m_farPlane;
        r.At(2, 3) = 1.0f;
    }
    m = r;
    return true;
}

Mat4 Camera::ReversedDepth(const Mat4& m)
{
    Mat4 r = m;
    for (int c = 0; c < 4; ++c)
        r.At(2, c) = m.Get(3, c) - m.Get(2, c);
    return r;
}

Frustum Camera::GetSubFrustum(const Vec2& a, const Vec2& b, float farPlane, const Viewport& viewport) const
{
    float sx, sy;
    Frustum frustum;
    if (!GetImageScale(viewport, true, sx, sy))
        return frustum;
    const float xa = (1.0f - 2.0f * a.x) * sx, xb = (1.0f - 2.0f * b.x) * sx;
    const float ya = (1.0f - 2.0f * a.y) * sy, yb = (1.0f - 2.0f * b.y) * sy;
    const float xMin = std::min(xa, xb), xMax = std::max(xa, xb);
    const float yMin = std::min(ya, yb), yMax = std::max(ya, yb);
    if (m_type == CAMERA_PERSPECTIVE) {
        frustum.AddPlane(SidePlane(Vec3(1.0f, 0.0f, -xMin)));
        frustum.AddPlane(SidePlane(Vec3(-1.0f, 0.0f, xMax)));
        frustum.AddPlane(SidePlane(Vec3(0.0f, 1.0f, -yMin)));
        frustum.AddPlane(SidePlane(Vec3(0.0f, -1.0f, yMax)));
        if (!std::isinf(farPlane))
            frustum.AddPlane(Plane(Vec3(0.0f, 0.0f, -1.0f), farPlane));
    } else {
        frustum.AddPlane(Plane(Vec3(1.0f, 0.0f, 0.0f), -xMin));
        frustum.AddPlane(Plane(Vec3(-1.0f, 0.0f, 0.0f), xMax));
        frustum.AddPlane(Plane(Vec3(0.0f, 1.0f, 0.0f), -yMin));
        frustum.AddPlane(Plane(Vec3(0.0f, -1.0f, 0.0f), yMax));
        frustum.AddPlane(Plane(Vec3(0.0f, 0.0f, -1.0f), farPlane));
        frustum.AddPlane(Plane(Vec3(0.0f, 0.0f, 1.0f), -m_nearPlane));
    }
    frustum.Transform(m_coords);
    return frustum;
}

Frustum Camera::GetSubFrustum(const Vec2& a, const Vec2& b, const Viewport& viewport) const
{
    return GetSubFrustum(a, b, m_farPlane, viewport);
}

Frustum Camera::GetFrustum(const Viewport& viewport) const
{
    return GetSubFrustum(Vec2(0.0f, 0.0f), Vec2(1.0f, 1.0f), m_farPlane, viewport);
}

Frustum Camera::GetMinFrustum(const Viewport& viewport, const Vec3& offset,
                              const std::vector<ABBox>& boxes) const
{
    if (!CanProject(viewport))
        return GetFrustum(viewport);
    const Coords toCamera = m_coords.Inverse();
    Vec2 lo(1.0f, 1.0f), hi(0.0f, 0.0f);
    for (const ABBox& box : boxes) {
        const Vec3 center = box.center + offset;
        for (int corner = 0; corner < 8; ++corner) {
            const Vec3 p(center.x + (corner & 1 ? box.extents.x : -box.extents.x),
                         center.y + (corner & 2 ? box.extents.y : -box.extents.y),
                         center.z + (corner & 4 ? box.extents.z : -box.extents.z));
            // A corner level with or behind the near plane projects mirrored or not at all: the
            // boxes may then cover any part of the picture.
            if (!(toCamera.TransformPoint(p).z > m_nearPlane))
                return GetFrustum(viewport);
            const Vec2 s = ProjectToImageSpace(p, viewport);
            lo = Vec2(std::min(lo.x, s.x), std::min(lo.y, s.y));
            hi = Vec2(std::max(hi.x, s.x), std::max(hi.y, s.y));
        }
    }
    lo = Vec2(std::max(lo.x, 0.0f), std::max(lo.y, 0.0f));
    hi = Vec2(std::min(hi.x, 1.0f), std::min(hi.y, 1.0f));
    return GetSubFrustum(lo, hi, m_farPlane, viewport);
}

} // namespace GAME
