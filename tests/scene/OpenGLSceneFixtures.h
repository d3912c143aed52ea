// Pieces of the scene pixel tests, which draw through the OpenGL device (OpenGL.so, headless
// through EGL) and read the pixels back: a graphics engine over that device with the sample
// shaders of datakit's shader writer in memory, a box drawn with those shaders (lit, unlit or
// see-through, its placement and colour set by the test), an entity that carries such a box in a
// level (the shadow-map and reflection renderers reach what they draw through the region's
// entities), and a world of regions made in memory.
#pragma once

#include "graphics/GraphicsFixtures.h"
#include "graphics/OpenGLTestSupport.h"

#include "common/RecordServices.h"
#include "core/ObjectManager.h"
#include "core/UniqueIdMap.h"
#include "datakit/ArzWriter.h"
#include "datakit/SampleGameData.h"
#include "datakit/ShaderWriter.h"
#include "datakit/TextureWriter.h"
#include "graphics/GraphicsCanvas.h"
#include "graphics/GraphicsShader2.h"
#include "graphics/RenderIndexBuffer.h"
#include "graphics/RenderVertexBuffer.h"
#include "graphics/RenderVertexDeclaration.h"
#include "platform/Module.h"
#include "scene/GraphicsRenderable.h"
#include "scene/GraphicsSceneRenderer.h"
#include "scene/RenderablePass.h"
#include "world/Entity.h"
#include "world/Level.h"
#include "world/Region.h"
#include "world/World.h"

#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

namespace GAME::ScenePixelTest {

using Pixels = GAME::Test::Image;

// The view's size; small, so that llvmpipe draws it fast.
constexpr int kWidth = 96;
constexpr int kHeight = 64;

// The geometry every box shares: a cube of half size 1 with a normal per face.
struct BoxGeometry
{
    RenderVertexBuffer* vertices = nullptr;
    RenderIndexBuffer* indices = nullptr;
    RenderVertexDeclaration* declaration = nullptr;

    bool Create(RenderDevice& device);
    void Destroy(RenderDevice& device);
};

// A box drawn with one of the sample scene shaders: every style the shader has is one pass of the
// sort order the shader gives it. Its placement (half extents in the axes' lengths) is in its
// region's space; the colour's alpha is its opacity.
class SceneBox : public GraphicsRenderable
{
public:
    SceneBox() = default;
    virtual ~SceneBox() = default;

    void Set(const BoxGeometry* geometry, GraphicsShader2* shader, const Vec3& center,
             const Vec3& halfExtents, const Color& color)
    {
        m_geometry = geometry;
        m_shader = shader;
        m_placement =
            Coords(Vec3(halfExtents.x, 0, 0), Vec3(0, halfExtents.y, 0), Vec3(0, 0, halfExtents.z), center);
        m_box = ABBox(center, halfExtents);
        m_color = color;
    }
    void SetCastsShadows(bool casts) { m_casts = casts; }
    void SetColor(const Color& color) { m_color = color; }
    const ABBox& GetBox() const { return m_box; }

    int GetNumRenderPasses(const Name& style, RenderGenerationId) const override
    {
        return m_shader && m_shader->FindStyleByName(style) >= 0 ? 1 : 0;
    }
    ABBox GetRenderPassBoundingBox() const override { return m_box; }
    int GetRenderPassSortOrder(int, const Name& style, RenderGenerationId) const override
    {
        return m_shader->GetSortOrder(m_shader->FindStyleByName(style));
    }
    const GraphicsShader2* GetShader2(int, const Name&) const override { return m_shader; }
    const Name& GetShaderStyle(int, const Name& style, RenderGenerationId) const override { return style; }
    const GraphicsTexture* GetTexture(int, const Name&) const override { return nullptr; }
    float GetOpacity(int, const Name&) const override { return m_color.a; }
    bool GetCastsShadows() const override { return m_casts; }
    void RenderPass(const RenderablePass& pass, const Name& style, GraphicsCanvas& canvas,
                    const GraphicsSceneRenderer& renderer) override;
    void LogInfo() const override {}

private:
    const BoxGeometry* m_geometry = nullptr;
    GraphicsShader2* m_shader = nullptr;
    Coords m_placement;
    ABBox m_box;
    Color m_color = Color(1.0f, 1.0f, 1.0f, 1.0f);
    bool m_casts = true;
};

// An entity of a level that adds its box to the scene (and nothing else).
class SceneBoxEntity : public Entity
{
    GAME_DECLARE_CLASS(SceneBoxEntity)

public:
    void AddToScene(GraphicsSceneRenderer& renderer, const Frustum* frustum) override
    {
        Entity::AddToScene(renderer, frustum);
        renderer.AddRenderable(&box, GetRegion());
    }
    void UpdateBoundingBox() override { SetRegionBoundingBox(box.GetBox()); }

    SceneBox box;
};

class OpenGLSceneFixture : public GAME::Test::GraphicsFixture
{
protected:
    void SetUp() override;
    void TearDown() override;

    // A level of the world with a region of the box's size at the offset (the level is in).
    Region* AddRegion(const IntVec3& offset, const ABBox& box);
    // A box entity in the region's level, drawn with the shader.
    SceneBoxEntity* AddBox(Region* region, GraphicsShader2* shader, const Vec3& center,
                           const Vec3& halfExtents, const Color& color);
    // A box not in any level (the normal renderer's tests add it by hand).
    SceneBox& MakeBox(GraphicsShader2* shader, const Vec3& center, const Vec3& halfExtents,
                      const Color& color);

    GraphicsCanvas& Canvas() { return *engine->GetCanvas(); }
    RenderDevice& Device() { return *engine->GetRenderDevice(); }
    // The primary surface as the frame left it.
    Pixels ReadScreen() { return GAME::Test::ReadBack(Device(), kWidth, kHeight); }
    // A frame drawn by the renderer (Render()), read back; empty when no frame could begin.
    template <class Renderer> Pixels DrawFrame(Renderer& renderer)
    {
        if (!Canvas().BeginFrame())
            return {};
        renderer.Render();
        Canvas().EndFrame();
        return ReadScreen();
    }
    // A texture surface read back through the canvas (made render target 0 for the read).
    Pixels ReadSurface(RenderSurface* surface, int width, int height);
    // A camera at the eye looking at the target, 60 degrees of view, near 0.5, far 200.
    static Camera LookAt(const Vec3& eye, const Vec3& target);
    // The pixel of the viewport a scene point lands on.
    static std::pair<int, int> PixelOf(const Camera& camera, const Vec3& point);
    // Where the ray through the centre of the pixel meets the plane y = height.
    static Vec3 FloorPoint(const Camera& camera, int x, int y, float height);
    static Viewport View() { return Viewport(0, 0, kWidth, kHeight); }

    GAME::Test::RecordServices records;
    World* world = nullptr;
    BoxGeometry geometry;
    GraphicsShader2* lit = nullptr;
    GraphicsShader2* unlit = nullptr;
    GraphicsShader2* transparent = nullptr;
    std::vector<std::unique_ptr<SceneBox>> boxes;
    bool ready = false;
};

// Red, green and blue within the tolerance; the frame's alpha is the renderers' own business.
inline bool NearRgb(const Pixel& p, int r, int g, int b, int tolerance = 4)
{
    return GAME::Test::Near(p, r, g, b, p.a, tolerance);
}

// Channels 0 to 255 of a colour of floats.
inline int Channel(float value)
{
    return static_cast<int>(value * 255.0f + 0.5f);
}

} // namespace GAME::ScenePixelTest
