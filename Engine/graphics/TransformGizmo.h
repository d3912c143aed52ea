// The editor's on-screen handle for moving and rotating a selected object. It owns a frame (three
// axes and an origin), draws three coloured arrows (translate mode) or three axis circles (rotate
// mode) at that frame, picks the axis under the mouse, and while the left button is held turns
// mouse movement into a translation along the picked axes (the offset snapped to a grid) or a
// rotation about the picked axis. The editor reads the resulting frame back with GetCoords.
//
// Mouse positions are normalised image coordinates (0, 0 top left to 1, 1 bottom right) of the
// viewport; picking measures in the viewport's pixels, within pickDistance. The frame and the
// camera are in the same space (the camera's region). Every move while dragging recomputes the
// frame from the frame at the press, so a drag never accumulates error. A rotation turns about the
// side of the picked axis that faces the camera, so the grabbed point follows the mouse whichever
// side the circle is seen from.
//
// A plain value (copy freely); main thread only.
#pragma once

#include "core/Coords.h"
#include "core/Vec2.h"
#include "core/Vec3.h"

#include <cstdint>

namespace GAME {

class Camera;
class Color;
class GraphicsCanvas;
class GraphicsPrimitiveDrawer;
class Viewport;

class TransformGizmo
{
public:
    enum Mode : int32_t
    {
        MODE_TRANSLATE = 0,
        MODE_ROTATE = 1,
    };

    // Pixels between the mouse and a handle that still pick it.
    static constexpr float pickDistance = 10.0f;
    // A circle is 31 segments between 32 points (the last on the first).
    static constexpr int circleSegments = 31;
    // A circle segment faces the camera when the viewing axis and the direction from the centre
    // to the segment meet at a dot product of at most this.
    static constexpr float frontFacingLimit = 0.2f;
    static constexpr float defaultRotationRate = 100.0f; // degrees per world unit along the tangent

    TransformGizmo() = default;
    TransformGizmo(const TransformGizmo&) = default;
    TransformGizmo& operator=(const TransformGizmo&) = default;

    // Length of the arrows and radius of the circles, world units.
    void SetSize(float size) { m_size = size; }
    float GetSize() const { return m_size; }
    // Snap step per world axis; snapping is off unless all three are non-zero.
    void SetGridSpacing(const Vec3& spacing) { m_gridSpacing = spacing; }
    const Vec3& GetGridSpacing() const { return m_gridSpacing; }
    void SetCoords(const Coords& coords) { m_coords = coords; }
    const Coords& GetCoords() const { return m_coords; }
    Mode GetMode() const { return m_mode; }
    // Ends any drag.
    void SetMode(Mode mode);

    // Translate mode: the three arrows, yellow when selected. Rotate mode: grey axis lines, a grey
    // circle facing the camera and the front halves of the three axis circles; while dragging
    // also the swept sector and the two tangent arrows at the grab point.
    void Render(GraphicsCanvas& canvas, const Camera& camera, const Viewport& viewport) const;

    // Only button 0 is handled. Released (state 0): the drag ends, true. Pressed (state 1): the
    // axes under the mouse are picked; none: false; otherwise the drag starts, true. Other
    // buttons and states: false.
    bool HandleMouseButton(const Camera& camera, const Viewport& viewport, int button, int state,
                           const Vec2& position);
    // Not dragging: picks the axes under the mouse (hover) and answers whether any is. Dragging:
    // moves or turns the frame, true.
    bool HandleMouseMove(const Camera& camera, const Viewport& viewport, const Vec2& position);

    // With all three spacings non-zero, each component rounded to the nearest multiple of its
    // spacing; otherwise the vector unchanged.
    Vec3 SnapToGrid(const Vec3& v) const;

    // 0 x, 1 y, 2 z; false for another index.
    bool IsAxisSelected(int axis) const { return axis >= 0 && axis < 3 && m_selected[axis]; }
    bool IsDragging() const { return m_dragging; }
    // Rotate mode: the rotation of the drag so far, radians, right-handed about the picked axis's
    // side facing the camera.
    float GetAngle() const { return m_angle; }

    // Closest points of the lines p1 -> p2 and p3 -> p4: pa = p1 + mua (p2 - p1), pb = p3 + mub
    // (p4 - p3). False when either direction is shorter than 0.0001 in every component or the
    // lines are parallel.
    static bool GetLineLineClosestPoints(const Vec3& p1, const Vec3& p2, const Vec3& p3, const Vec3& p4,
                                         Vec3& pa, Vec3& pb, float& mua, float& mub);

private:
    Vec3 GetAxis(int axis) const;
    // The two axes spanning the circle of an axis (the plane across it).
    void GetCircleAxes(const Coords& coords, int axis, Vec3& a, Vec3& b) const;
    void UpdateAxisSelection(const Camera& camera, const Viewport& viewport, const Vec2& position);
    // Pixel distance from the mouse (pixels) to the camera-facing half of the circle centre +
    // size (cos t a + sin t b); the circle point nearest the mouse goes to point. gInfinity when
    // no segment faces the camera.
    float GetDistanceToCircle(const Vec2& mouse, const Vec3& center, const Vec3& a, const Vec3& b,
                              const Camera& camera, const Viewport& viewport, Vec3& point) const;
    void DragTranslate(const Camera& camera, const Viewport& viewport, const Vec2& position);
    void DragRotate(const Camera& camera, const Viewport& viewport, const Vec2& position);
    // The unit normal of the selected axis's plane turned toward the camera, and the tangent of
    // the circle at the grab point that goes with it; false without a selected axis.
    bool GetRotationFrame(const Camera& camera, int& axis, Vec3& normal, Vec3& tangent) const;
    int GetSelectedAxis() const;

    void RenderArrow(GraphicsPrimitiveDrawer& drawer, const Camera& camera, const Vec3& from, const Vec3& to,
                     const Color& color) const;
    // The camera-facing part of the circle of radius size in the plane of a and b (all of a circle
    // across the viewing axis).
    void RenderCircle(GraphicsPrimitiveDrawer& drawer, const Camera& camera, const Vec3& a, const Vec3& b,
                      const Color& color) const;

    Mode m_mode = MODE_TRANSLATE;
    float m_size = 1.0f;
    Vec3 m_gridSpacing;
    Coords m_coords;
    bool m_selected[3] = {false, false, false};
    bool m_dragging = false;
    Vec2 m_dragStart;
    Coords m_startCoords;
    Vec3 m_grabPoint;
    float m_angle = 0.0f;
    float m_rotationRate = defaultRotationRate;
};

} // namespace GAME
