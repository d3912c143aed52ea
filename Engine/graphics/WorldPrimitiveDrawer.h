// What world objects draw their editor overlays through (portals, sector layers, instance groups,
// path meshes): the graphics engine's primitive drawer implements this interface, and the shape
// helpers and debug render manager it names are reached through it too, so an overlay can also be
// drawn into a recorder. Vertices are in the space of the region last set. Main thread, between
// the frame's begin and end.
#pragma once

namespace GAME {

class ABBox;
class Color;
class Region;
class Vec3;

class WorldPrimitiveDrawer
{
public:
    enum Primitive
    {
        PRIMITIVE_TRIANGLE_LIST = 0,
        PRIMITIVE_LINE_LIST = 1,
    };

    virtual ~WorldPrimitiveDrawer() = default;

    virtual void SetRegion(Region* region) = 0;
    virtual void Begin(int primitive) = 0;
    virtual void SetColor(const Color& color) = 0;
    virtual void SetVertex(const Vec3& position) = 0;
    virtual void End() = 0;
    // Submits what was drawn since the last flush.
    virtual void Flush() = 0;
    // Draws with the graphics engine's overlay shader from now on.
    virtual void SetOverlayShader() = 0;

    // A filled disc of the segment count about the centre, in the current region.
    virtual void DrawSolidCircle(const Vec3& center, float radius, int segments) = 0;
    virtual void DrawArrow(const Vec3& from, const Vec3& to) = 0;
    // Queues a box in a region for this frame's debug drawing (the debug render manager).
    virtual void RenderDebugBox(Region* region, const ABBox& box, const Color& color) = 0;
};

} // namespace GAME
