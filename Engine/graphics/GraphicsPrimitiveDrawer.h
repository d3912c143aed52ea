// The immediate-mode drawer of lines and triangles for debug shapes, editor gizmos, path meshes,
// sector layers, terrain borders and water curves. A caller begins a primitive, sets vertices one
// by one (position with the current normal, texture coordinate and colour) and ends it; the drawer
// gathers primitives into a batch in the canvas's shared dynamic buffers and draws the batch with
// one indexed draw through its shader when something forces a flush: a change of primitive kind,
// shader, style, texture, camera or matrix, a full batch, Flush, or destruction. A colour change
// does not flush (the colour travels with each vertex).
//
// Positions are in the camera region's space (SetRegion adds the offset of another region), or
// screen pixels in 2-D mode (screen x is world x, screen y is world z). The vertex is the graphics
// engine's basic vertex (36 bytes); a primitive keeps at most 1,000 vertices (more are dropped), a
// batch at most 1,000 vertices and 1,000 indices.
//
// The free functions below build common shapes on a drawer. It is also the world folder's drawer
// (WorldPrimitiveDrawer), through which portals, sector layers and instance groups draw. Made on
// the stack or as a member wherever debug or editor drawing happens; main thread only.
#pragma once

#include "core/Color.h"
#include "core/Mat4.h"
#include "core/Name.h"
#include "core/Vec2.h"
#include "core/Vec3.h"
#include "graphics/Camera.h"
#include "graphics/Viewport.h"
#include "graphics/WorldPrimitiveDrawer.h"

#include <cstdint>

namespace GAME {

class ABBox;
class GraphicsCanvas;
class GraphicsShader2;
class OBBox;
class Region;
class RenderDevice;
class RenderTexture;

class GraphicsPrimitiveDrawer : public WorldPrimitiveDrawer
{
public:
    enum PrimitiveType : int32_t
    {
        TRIANGLES = 0,
        LINES = 1,
    };

    static constexpr int maxVertices = 1000;
    static constexpr int maxIndices = 1000;
    static constexpr unsigned int vertexSize = 36;

    struct Vertex
    {
        float position[3];
        float normal[3];
        float texCoord[2];
        uint32_t color; // alpha in the top byte, then red, green, blue
    };

    // Draws with the graphics engine's basic shader (style "normal") until told otherwise.
    explicit GraphicsPrimitiveDrawer(GraphicsCanvas& canvas);
    // Flushes what is gathered.
    ~GraphicsPrimitiveDrawer() override;
    GraphicsPrimitiveDrawer(const GraphicsPrimitiveDrawer&) = delete;
    GraphicsPrimitiveDrawer& operator=(const GraphicsPrimitiveDrawer&) = delete;

    // Starts a primitive of the type (other values are kept as they are and draw nothing); a batch
    // of another kind is flushed first.
    void Begin(int type) override;
    void SetVertex(const Vec3& position) override;
    // (p.x, 0, p.y): in 2-D mode the screen point p.
    void SetVertex(const Vec2& position);
    void SetColor(const Color& color) override { m_color = color; }
    const Color& GetColor() const { return m_color; }
    void SetNormal(const Vec3& normal) { m_normal = normal; }
    void SetTexCoord(const Vec2& texCoord) { m_texCoord = texCoord; }
    // Moves the primitive into the batch (flushing first when it would not fit).
    void End() override;
    // Draws and closes the batch.
    void Flush() override;

    void SetShader(GraphicsShader2* shader, const Name& style);
    void SetShader(GraphicsShader2* shader);
    GraphicsShader2* GetShader() const { return m_shader; }
    const Name& GetStyle() const { return m_style; }
    void SetTexture0(const RenderTexture* texture);
    void SetTexture1(const RenderTexture* texture);
    // The camera (copied), its region and viewport; world to screen = the camera's projection
    // times the inverse of its placement.
    void SetCamera(Region* region, const Camera& camera, const Viewport& viewport);
    void SetWorldToScreenMatrix(const Mat4& matrix);
    const Mat4& GetWorldToScreenMatrix() const { return m_worldToScreen; }
    // Positions that follow are in that region's space (null: the camera region's).
    void SetRegion(Region* region) override;
    // An orthographic camera over the viewport: screen x is world x, screen y is world z.
    void Enable2DMode(const Viewport& viewport);

    // The world folder's drawing: the graphics engine's overlay shader (style "normal"), the shapes
    // below in the current colour (arrows lie flat, facing up), and boxes for the debug render
    // manager.
    void SetOverlayShader() override;
    void DrawSolidCircle(const Vec3& center, float radius, int segments) override;
    void DrawArrow(const Vec3& from, const Vec3& to) override;
    void RenderDebugBox(Region* region, const ABBox& box, const Color& color) override;

    bool Is2DMode() const { return m_2DMode; }
    GraphicsCanvas& GetCanvas() const { return m_canvas; }
    const Camera& GetCamera() const { return m_camera; }
    Region* GetCameraRegion() const { return m_cameraRegion; }
    const Viewport& GetViewport() const { return m_viewport; }
    int GetNumLocalVertices() const { return m_numLocalVertices; }
    int GetNumBatchVertices() const { return m_batchVertexCount; }

private:
    bool m_2DMode = false;
    GraphicsCanvas& m_canvas;
    RenderDevice* m_device;
    int m_batchKind = 0;
    const RenderTexture* m_texture0 = nullptr;
    const RenderTexture* m_texture1 = nullptr;
    GraphicsShader2* m_shader = nullptr;
    Name m_style;
    Vertex* m_batchVertices = nullptr;
    uint32_t* m_batchIndices = nullptr;
    int m_batchVertexCount = 0;
    int m_batchIndexCount = 0;
    Color m_color = Color(1.0f, 1.0f, 1.0f, 1.0f);
    Vec3 m_normal = Vec3(0.0f, 1.0f, 0.0f);
    Vec2 m_texCoord;
    Camera m_camera;
    Region* m_cameraRegion = nullptr;
    Viewport m_viewport;
    Vec3 m_regionOffset;
    int m_primitiveType = TRIANGLES;
    Vertex m_localVertices[maxVertices];
    int m_numLocalVertices = 0;
    Mat4 m_worldToScreen;
};

// The 12 edges of the box (24 vertices, lines).
void DrawWireframeBox(GraphicsPrimitiveDrawer& drawer, const ABBox& box);
void DrawWireframeBox(GraphicsPrimitiveDrawer& drawer, const OBBox& box);
// The 6 faces as 12 triangles.
void DrawSolidBox(GraphicsPrimitiveDrawer& drawer, const ABBox& box);
void DrawSolidBox(GraphicsPrimitiveDrawer& drawer, const OBBox& box);
// n - 1 segments between n points round a circle in the plane y = centre.y; nothing for n <= 1.
void DrawWireframeCircle(GraphicsPrimitiveDrawer& drawer, const Vec3& center, float radius, int n);
// n - 1 triangles from the centre over the same points; nothing for n <= 1.
void DrawSolidCircle(GraphicsPrimitiveDrawer& drawer, const Vec3& center, float radius, int n);
// A flat arrow from `from` to `to` facing up: filled shaft and head with outlines; the outline
// colour stays current. Nothing for an arrow of no length or one parallel to up.
void DrawArrow(GraphicsPrimitiveDrawer& drawer, const Vec3& from, const Vec3& to, const Color& fillColor,
               const Color& outlineColor, const Vec3& up);
// A textured quad on the ground plane (y = 0), centred on centre (x, z), its length axis pointing at
// toward; size is (width across, length along). Nothing when toward is centre.
void Draw2DOrientedQuad(GraphicsPrimitiveDrawer& drawer, const Vec2& center, const Vec2& toward,
                        const Vec2& size);

} // namespace GAME
