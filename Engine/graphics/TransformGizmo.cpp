#include "graphics/TransformGizmo.h"

#include "core/Color.h"
#include "core/MathUtil.h"
#include "core/Plane.h"
#include "core/Ray.h"
#include "graphics/Camera.h"
#include "graphics/GraphicsPrimitiveDrawer.h"
#include "graphics/Viewport.h"

#include <cmath>

namespace GAME {
namespace {

constexpr float kTwoPi = 6.2831853f;
constexpr float kEpsilon = 0.0001f;

// Distance from p to the segment a -> b, and the segment's parameter (0 at a, 1 at b) of the
// nearest point.
float DistanceToSegment(const Vec2& p, const Vec2& a, const Vec2& b, float& parameter)
{
    const Vec2 ab = b - a;
    const float lengthSquared = ab.LengthSquared();
    parameter = 0.0f;
    if (lengthSquared > 0.0f) {
        parameter = Vec2::Dot(p - a, ab) / lengthSquared;
        parameter = parameter < 0.0f ? 0.0f : (parameter > 1.0f ? 1.0f : parameter);
    }
    return (p - (a + ab * parameter)).Length();
}

// The mouse position in pixels of the viewport.
Vec2 ToPixels(const Vec2& position, const Viewport& viewport)
{
    return Vec2(static_cast<float>(viewport.width) * position.x,
                static_cast<float>(viewport.height) * position.y);
}

Vec3 UnitOrZero(const Vec3& v)
{
    const float length = v.Length();
    return length > 0.0f ? v * (1.0f / length) : Vec3();
}

const Vec3 kLocalAxes[3] = {Vec3(1.0f, 0.0f, 0.0f), Vec3(0.0f, 1.0f, 0.0f), Vec3(0.0f, 0.0f, 1.0f)};

} // namespace

void TransformGizmo::SetMode(Mode mode)
{
    m_mode = mode;
    m_dragging = false;
}

Vec3 TransformGizmo::SnapToGrid(const Vec3& v) const
{
    const Vec3& s = m_gridSpacing;
    if (s.x == 0.0f || s.y == 0.0f || s.z == 0.0f)
        return v;
    return Vec3(std::floor(v.x / s.x + 0.5f) * s.x, std::floor(v.y / s.y + 0.5f) * s.y,
                std::floor(v.z / s.z + 0.5f) * s.z);
}

Vec3 TransformGizmo::GetAxis(int axis) const
{
    return axis == 0 ? m_coords.xAxis : axis == 1 ? m_coords.yAxis : m_coords.zAxis;
}

void TransformGizmo::GetCircleAxes(const Coords& coords, int axis, Vec3& a, Vec3& b) const
{
    // Cyclic: the circle of x spans y and z, of y spans z and x, of z spans x and y.
    const Vec3 axes[3] = {coords.xAxis, coords.yAxis, coords.zAxis};
    a = axes[(axis + 1) % 3];
    b = axes[(axis + 2) % 3];
}

int TransformGizmo::GetSelectedAxis() const
{
    for (int axis = 0; axis < 3; ++axis)
        if (m_selected[axis])
            return axis;
    return -1;
}

bool TransformGizmo::HandleMouseButton(const Camera& camera, const Viewport& viewport, int button, int state,
                                       const Vec2& position)
{
    if (button != 0)
        return false;
    if (state == 0) {
        m_dragging = false;
        return true;
    }
    if (state != 1)
        return false;
    UpdateAxisSelection(camera, viewport, position);
    if (GetSelectedAxis() < 0)
        return false;
    m_dragging = true;
    m_dragStart = position;
    m_startCoords = m_coords;
    m_angle = 0.0f;
    return true;
}

bool TransformGizmo::HandleMouseMove(const Camera& camera, const Viewport& viewport, const Vec2& position)
{
    if (!m_dragging) {
        UpdateAxisSelection(camera, viewport, position);
        return GetSelectedAxis() >= 0;
    }
    if (m_mode == MODE_TRANSLATE)
        DragTranslate(camera, viewport, position);
    else if (m_mode == MODE_ROTATE)
        DragRotate(camera, viewport, position);
    return true;
}

void TransformGizmo::UpdateAxisSelection(const Camera& camera, const Viewport& viewport, const Vec2& position)
{
    const Vec2 mouse = ToPixels(position, viewport);
    if (m_mode == MODE_TRANSLATE) {
        const Vec2 origin = camera.Project(m_coords.origin, viewport);
        for (int axis = 0; axis < 3; ++axis) {
            const Vec2 tip = camera.Project(m_coords.origin + GetAxis(axis) * m_size, viewport);
            float parameter;
            // An arrow seen end-on projects to a point, which is still picked near the origin.
            m_selected[axis] = DistanceToSegment(mouse, origin, tip, parameter) < pickDistance;
        }
        return;
    }
    if (m_mode != MODE_ROTATE)
        return;

    float distances[3];
    Vec3 points[3];
    for (int axis = 0; axis < 3; ++axis) {
        m_selected[axis] = false;
        Vec3 a, b;
        GetCircleAxes(m_coords, axis, a, b);
        distances[axis] = GetDistanceToCircle(mouse, m_coords.origin, a, b, camera, viewport, points[axis]);
    }
    for (int axis = 0; axis < 3; ++axis) {
        const float d = distances[axis];
        if (d < pickDistance && d < distances[(axis + 1) % 3] && d < distances[(axis + 2) % 3]) {
            m_selected[axis] = true;
            m_grabPoint = points[axis];
        }
    }
}

float TransformGizmo::GetDistanceToCircle(const Vec2& mouse, const Vec3& center, const Vec3& a, const Vec3& b,
                                          const Camera& camera, const Viewport& viewport, Vec3& point) const
{
    const Vec3 viewAxis = camera.GetCoords().zAxis;
    float best = gInfinity;
    Vec3 previous = center + a * m_size;
    for (int k = 1; k <= circleSegments; ++k) {
        const float t = static_cast<float>(k) * kTwoPi / static_cast<float>(circleSegments);
        const Vec3 next = center + (a * std::cos(t) + b * std::sin(t)) * m_size;
        const Vec3 toward = UnitOrZero((previous + next) * 0.5f - center);
        if (Vec3::Dot(viewAxis, toward) <= frontFacingLimit) {
            float parameter;
            const float distance = DistanceToSegment(mouse, camera.Project(previous, viewport),
                                                     camera.Project(next, viewport), parameter);
            if (distance < best) {
                best = distance;
                point = previous + (next - previous) * parameter;
            }
        }
        previous = next;
    }
    return best;
}

bool TransformGizmo::GetLineLineClosestPoints(const Vec3& p1, const Vec3& p2, const Vec3& p3, const Vec3& p4,
                                              Vec3& pa, Vec3& pb, float& mua, float& mub)
{
    auto tiny = [](const Vec3& v) {
        return std::fabs(v.x) < kEpsilon && std::fabs(v.y) < kEpsilon && std::fabs(v.z) < kEpsilon;
    };
    const Vec3 p13 = p1 - p3;
    const Vec3 p43 = p4 - p3;
    const Vec3 p21 = p2 - p1;
    if (tiny(p43) || tiny(p21))
        return false;
    const float d1343 = Vec3::Dot(p13, p43);
    const float d4321 = Vec3::Dot(p43, p21);
    const float d1321 = Vec3::Dot(p13, p21);
    const float d4343 = Vec3::Dot(p43, p43);
    const float d2121 = Vec3::Dot(p21, p21);
    const float denominator = d2121 * d4343 - d4321 * d4321;
    if (std::fabs(denominator) < kEpsilon)
        return false;
    mua = (d1343 * d4321 - d1321 * d4343) / denominator;
    mub = (d1343 + d4321 * mua) / d4343;
    pa = p1 + p21 * mua;
    pb = p3 + p43 * mub;
    return true;
}

void TransformGizmo::DragTranslate(const Camera& camera, const Viewport& viewport, const Vec2& position)
{
    m_coords = m_startCoords;
    const Vec3 origin = m_startCoords.origin;
    const Vec2 screenOrigin = camera.Project(origin, viewport);
    const Vec2 movement = ToPixels(position, viewport) - ToPixels(m_dragStart, viewport);
    const Vec3 axes[3] = {m_startCoords.xAxis, m_startCoords.yAxis, m_startCoords.zAxis};
    Vec3 offset;
    for (int axis = 0; axis < 3; ++axis) {
        if (!m_selected[axis])
            continue;
        const Vec2 direction = camera.Project(origin + axes[axis], viewport) - screenOrigin;
        const float length = direction.Length();
        if (!(length > 0.0f) || viewport.width <= 0 || viewport.height <= 0)
            continue; // seen end-on: the mouse cannot move along it
        const Vec2 unit = direction / length;
        const Vec2 moved = screenOrigin + unit * Vec2::Dot(movement, unit);
        const Vec2 image(moved.x / static_cast<float>(viewport.width),
                         moved.y / static_cast<float>(viewport.height));
        const Ray ray = camera.GetRayThroughImagePoint(image, viewport);
        Vec3 pa, pb;
        float mua, mub;
        if (GetLineLineClosestPoints(ray.origin, ray.origin + ray.direction, origin, origin + axes[axis], pa,
                                     pb, mua, mub))
            offset += axes[axis] * mub;
    }
    m_coords.origin = origin + SnapToGrid(offset);
}

bool TransformGizmo::GetRotationFrame(const Camera& camera, int& axis, Vec3& normal, Vec3& tangent) const
{
    axis = GetSelectedAxis();
    if (axis < 0)
        return false;
    const Vec3 axes[3] = {m_startCoords.xAxis, m_startCoords.yAxis, m_startCoords.zAxis};
    normal = UnitOrZero(axes[axis]);
    if (Vec3::Dot(camera.GetCoords().origin - m_startCoords.origin, normal) < 0.0f)
        normal = -normal;
    tangent = UnitOrZero(Vec3::Cross(normal, m_grabPoint - m_startCoords.origin));
    return normal.LengthSquared() > 0.0f && tangent.LengthSquared() > 0.0f;
}

void TransformGizmo::DragRotate(const Camera& camera, const Viewport& viewport, const Vec2& position)
{
    int axis;
    Vec3 normal, tangent;
    if (!GetRotationFrame(camera, axis, normal, tangent))
        return;
    const Plane plane(normal, m_startCoords.origin);
    const Ray ray = camera.GetRayThroughImagePoint(position, viewport);
    const float distance = plane.IntersectRay(ray);
    if (!std::isfinite(distance))
        return;
    const Vec3 hit = ray.GetPoint(distance);
    const float d = Vec3::Dot(tangent, hit - m_grabPoint);
    m_angle = DegreesToRadians(d * m_rotationRate);
    // The angle turns about the plane's facing normal, so the grab point follows the mouse from
    // either side of the plane.
    const Vec3 startAxes[3] = {m_startCoords.xAxis, m_startCoords.yAxis, m_startCoords.zAxis};
    const Vec3 localAxis = Vec3::Dot(normal, startAxes[axis]) < 0.0f ? -kLocalAxes[axis] : kLocalAxes[axis];
    m_coords = m_startCoords.Rotate(localAxis, m_angle);
}

void TransformGizmo::Render(GraphicsCanvas& canvas, const Camera& camera, const Viewport& viewport) const
{
    const Color axisColors[3] = {Color(1.0f, 0.0f, 0.0f, 1.0f), Color(0.0f, 1.0f, 0.0f, 1.0f),
                                 Color(0.0f, 0.0f, 1.0f, 1.0f)};
    const Color yellow(1.0f, 1.0f, 0.0f, 1.0f);
    const Color grey(0.5f, 0.5f, 0.5f, 1.0f);
    GraphicsPrimitiveDrawer drawer(canvas);
    drawer.SetOverlayShader();
    drawer.SetCamera(nullptr, camera, viewport);
    const Vec3& origin = m_coords.origin;

    if (m_mode == MODE_TRANSLATE) {
        for (int axis = 0; axis < 3; ++axis)
            RenderArrow(drawer, camera, origin, origin + GetAxis(axis) * m_size,
                        m_selected[axis] ? yellow : axisColors[axis]);
        return;
    }
    if (m_mode != MODE_ROTATE)
        return;

    drawer.Begin(GraphicsPrimitiveDrawer::LINES);
    drawer.SetColor(grey);
    for (int axis = 0; axis < 3; ++axis) {
        drawer.SetVertex(origin);
        drawer.SetVertex(origin + GetAxis(axis) * m_size);
    }
    drawer.End();
    // Across the viewing axis every segment faces the camera: the whole circle is drawn.
    RenderCircle(drawer, camera, camera.GetCoords().xAxis, camera.GetCoords().yAxis, grey);
    for (int axis = 0; axis < 3; ++axis) {
        Vec3 a, b;
        GetCircleAxes(m_coords, axis, a, b);
        RenderCircle(drawer, camera, a, b, m_selected[axis] ? yellow : axisColors[axis]);
    }

    int axis;
    Vec3 normal, tangent;
    if (!m_dragging || !GetRotationFrame(camera, axis, normal, tangent))
        return;
    // The swept sector, from the grab direction through the angle so far.
    const Vec3 start = UnitOrZero(m_grabPoint - origin);
    const float sweep = m_angle < -kTwoPi ? -kTwoPi : (m_angle > kTwoPi ? kTwoPi : m_angle);
    Color fill = axisColors[axis];
    fill.a = 0.25f;
    drawer.Begin(GraphicsPrimitiveDrawer::TRIANGLES);
    drawer.SetColor(fill);
    auto sectorPoint = [&](int k) {
        const float t = sweep * static_cast<float>(k) / static_cast<float>(circleSegments);
        return origin + (start * std::cos(t) + tangent * std::sin(t)) * m_size;
    };
    for (int k = 0; k < circleSegments; ++k) {
        drawer.SetVertex(origin);
        drawer.SetVertex(sectorPoint(k));
        drawer.SetVertex(sectorPoint(k + 1));
    }
    drawer.End();
    // Arrows along the tangent at the grab point; the one the rotation goes is yellow.
    const bool forward = m_angle >= 0.0f;
    RenderArrow(drawer, camera, m_grabPoint, m_grabPoint + tangent * (m_size * 0.5f),
                forward ? yellow : grey);
    RenderArrow(drawer, camera, m_grabPoint, m_grabPoint - tangent * (m_size * 0.5f),
                forward ? grey : yellow);
}

void TransformGizmo::RenderArrow(GraphicsPrimitiveDrawer& drawer, const Camera& camera, const Vec3& from,
                                 const Vec3& to, const Color& color) const
{
    const Vec3 direction = to - from;
    const float length = direction.Length();
    if (!(length > 0.0f))
        return;
    const Vec3 unit = direction * (1.0f / length);
    const Vec3 viewAxis = camera.GetCoords().zAxis;
    if (std::fabs(Vec3::Dot(viewAxis, unit)) >= 1.0f - kEpsilon)
        return; // seen end-on
    const Vec3 back = to - unit * (0.1f * length);
    const Vec3 side = UnitOrZero(Vec3::Cross(viewAxis, unit)) * (0.05f * length);
    drawer.Begin(GraphicsPrimitiveDrawer::LINES);
    drawer.SetColor(color);
    drawer.SetVertex(from);
    drawer.SetVertex(to);
    drawer.SetVertex(to);
    drawer.SetVertex(back + side);
    drawer.SetVertex(to);
    drawer.SetVertex(back - side);
    drawer.End();
}

void TransformGizmo::RenderCircle(GraphicsPrimitiveDrawer& drawer, const Camera& camera, const Vec3& a,
                                  const Vec3& b, const Color& color) const
{
    const Vec3& center = m_coords.origin;
    const Vec3 viewAxis = camera.GetCoords().zAxis;
    drawer.Begin(GraphicsPrimitiveDrawer::LINES);
    drawer.SetColor(color);
    Vec3 previous = center + a * m_size;
    for (int k = 1; k <= circleSegments; ++k) {
        const float t = static_cast<float>(k) * kTwoPi / static_cast<float>(circleSegments);
        const Vec3 next = center + (a * std::cos(t) + b * std::sin(t)) * m_size;
        if (Vec3::Dot(viewAxis, UnitOrZero((previous + next) * 0.5f - center)) <= frontFacingLimit) {
            drawer.SetVertex(previous);
            drawer.SetVertex(next);
        }
        previous = next;
    }
    drawer.End();
}

} // namespace GAME
