// Collects one frame's scene and draws it style by style. A frame is built by setting the viewer
// (region, camera, viewport, frustum), adding regions, which add their renderables and lights, and
// then drawing named styles. Scene space is the viewer region's space; for every region added this
// frame the renderer keeps the placement of that region's space in scene space.
//
// Drawing a style: every queued renderable is asked for its passes of the style (GatherPasses);
// each pass that has a sort order in the accepted range, a shader and the shader style becomes a
// RenderablePass record; the records are sorted stably by (sort order, shader, shader style,
// texture) and drawn with one Begin/End of a shader per run of equal (shader, style)
// (RenderPasses), the frame's shader parameters set after each Begin (SetSceneShaderParameters).
//
// The base of the normal renderer (the lit frame) and the shadow-map renderer. One object serves
// one frame: construct, fill, render, destroy. Renderables and regions must outlive it. Main
// thread only.
#pragma once

#include "core/ABBox.h"
#include "core/Coords.h"
#include "core/Frustum.h"
#include "core/Mat4.h"
#include "core/Name.h"
#include "core/Sphere.h"
#include "core/WorldFrustum.h"
#include "graphics/Camera.h"
#include "graphics/RenderTypes.h"
#include "graphics/Viewport.h"
#include "scene/GraphicsLight.h"
#include "scene/RenderablePass.h"

#include <cstdint>
#include <map>
#include <vector>

namespace GAME {

class GraphicsCanvas;
class GraphicsEngine;
class GraphicsRenderable;
class GraphicsShader2;
class Region;

// The air a renderer's fog leaves clear, in scene space: nearer to the eye than the depth fog's
// start and above the height fog's top (a fog of density 0 leaves all the air clear). That is what
// the fog parameters mean: a "fogStyle" pass draws a fog amount of 0 there (the sample shaders'
// do), so a box wholly inside it would leave the picture as it was and is left out of the fog.
struct ClearAir
{
    bool any = false; // false: no air is known to be clear
    Vec3 eye;
    float reach = 0.0f; // clear nearer than this to the eye (infinite without a depth fog)
    float above = 0.0f; // clear above this height (minus infinity without a height fog)

    bool Contains(const ABBox& sceneBox) const;
    // A box of a region's space, placed in the scene.
    bool Contains(const ABBox& regionBox, const Coords& regionToScene) const;
};

class GraphicsSceneRenderer
{
public:
    // Render flags: what the renderables' AddToScene operations include (they test the flags; the
    // renderer never does).
    enum RenderFlag : uint32_t
    {
        RENDER_TERRAIN = 1,
        RENDER_GRASS = 2,
        RENDER_GRID_TILES = 4,
        RENDER_MESHES = 8,
        RENDER_EFFECTS = 16,
        RENDER_DECALS = 32,
        RENDER_WATER = 64,
        RENDER_BOUNDING_BOXES = 128,
    };
    static constexpr uint32_t defaultRenderFlags = 127;
    // The accepted sort orders of a whole style.
    static constexpr int lowestSortOrder = -1;
    static constexpr int highestSortOrder = 20000;
    static constexpr const char* portalMaskShaderName = "Shaders/PortalMask.ssh";

    using RegionToSceneMap = std::map<Region*, Coords>;

    // One accepted AddRenderable.
    struct QueuedRenderable
    {
        GraphicsRenderable* renderable = nullptr;
        Region* region = nullptr;
        const Coords* regionToScene = nullptr; // inside the region-to-scene map
        ABBox bounds;                          // in scene space
    };

    GraphicsSceneRenderer();
    virtual ~GraphicsSceneRenderer();
    GraphicsSceneRenderer(const GraphicsSceneRenderer&) = delete;
    GraphicsSceneRenderer& operator=(const GraphicsSceneRenderer&) = delete;

    virtual const Camera& GetCamera() const { return m_camera; }
    virtual const Viewport& GetViewport() const { return m_viewport; }
    virtual const Mat4& GetWorldToScreenMatrix() const { return m_worldToScreen; }
    // Sets the frame's parameters on a shader that has just been begun.
    virtual bool SetSceneShaderParameters(GraphicsCanvas& canvas, GraphicsShader2& shader) = 0;
    virtual bool IsShadowOnly() const { return false; }
    // Where the fog this renderer draws is known to be 0; none here.
    virtual ClearAir GetClearAir() const { return ClearAir(); }
    // Adds what a region holds; the base adds nothing.
    virtual void AddRegionContents(Region* region, const Coords& regionToScene, const Frustum& regionFrustum,
                                   const WorldFrustum* transparencyFrustum);

    // The portal mask shader shared by every renderer, loaded and released with the device's
    // resources by the graphics engine.
    static void CreateResources(GraphicsEngine& graphics);
    static void DestroyResources(GraphicsEngine& graphics);
    static GraphicsShader2* GetPortalMaskShader() { return s_portalMaskShader; }

    // World-to-camera = inverse of the camera's placement; world-to-screen = camera-to-screen x
    // world-to-camera (left as it was when the camera cannot project).
    void SetViewer(Region* region, const Camera& camera, const Viewport& viewport, const Frustum& frustum);
    Region* GetViewerRegion() const { return m_viewerRegion; }
    void SetWorldToScreenMatrix(const Mat4& matrix) { m_worldToScreen = matrix; }
    const Coords& GetWorldToCameraCoords() const { return m_worldToCamera; }
    const Frustum& GetFrustum() const { return m_frustum; }
    void SetViewport(const Viewport& viewport) { m_viewport = viewport; }
    void SetGenerationId(RenderGenerationId id) { m_generationId = id; }
    RenderGenerationId GetGenerationId() const { return m_generationId; }

    // Stores the value; with a frustum that has a region, transparency is on with that frustum.
    void SetTransparency(const WorldFrustum& frustum, float value);
    bool IsTransparencyOn() const { return m_transparencyOn; }
    float GetTransparencyValue() const { return m_transparencyValue; }

    void SetRenderFlags(uint32_t flags) { m_renderFlags = flags; }
    uint32_t GetRenderFlags() const { return m_renderFlags; }
    bool IsRenderFlagSet(uint32_t flag) const { return (m_renderFlags & flag) != 0; }
    void EnableTerrain(bool enable) { SetFlag(RENDER_TERRAIN, enable); }
    void EnableGrass(bool enable) { SetFlag(RENDER_GRASS, enable); }
    void EnableGridTiles(bool enable) { SetFlag(RENDER_GRID_TILES, enable); }
    void EnableMeshes(bool enable) { SetFlag(RENDER_MESHES, enable); }
    void EnableEffects(bool enable) { SetFlag(RENDER_EFFECTS, enable); }
    void EnableDecals(bool enable) { SetFlag(RENDER_DECALS, enable); }
    void EnableWater(bool enable) { SetFlag(RENDER_WATER, enable); }
    void EnableBoundingBoxes(bool enable) { SetFlag(RENDER_BOUNDING_BOXES, enable); }

    // Enters the pair (an entry already there stays).
    void SetRegionToSceneCoords(Region* region, const Coords& regionToScene);
    // The region's placement; the identity, with a log line, for a region not entered this frame.
    const Coords& GetRegionToSceneCoords(Region* region) const;
    // Null for a region not entered this frame.
    const Coords* FindRegionToSceneCoords(Region* region) const;
    const RegionToSceneMap& GetRegionToSceneCoordsMap() const { return m_regionToScene; }

    // Enters the region (an entry already there stays), carries the frustum into its space and
    // has it add its contents. The third argument is not used.
    void AddRegionToScene(Region* region, const Coords& regionToScene, Region* unused);
    // With its offset from the viewer region; null or a region already entered does nothing.
    void AddRegionToScene(Region* region);

    // Queues the renderable with the region's placement and its box in scene space. A null
    // argument does nothing; a region not entered this frame, or a box that is not finite, is
    // refused with log lines.
    void AddRenderable(GraphicsRenderable* renderable, Region* region);
    // A light whose red, green and blue are all 0 is ignored.
    void AddLight(const GraphicsLight& light);
    const std::vector<GraphicsLight>& GetLights() const { return m_lights; }
    const std::vector<QueuedRenderable>& GetRenderables() const { return m_renderables; }

    int GetNumPassesWithStyle(const Name& style) const;
    // Camera-space bounds of everything with passes of the empty style; +inf / -inf when none.
    void GetViewSpaceExtents(Vec3& min, Vec3& max) const;

    // Appends the style's passes with sort orders in [low, high] (both included); with a light
    // sphere (scene space) only renderables whose box meets it.
    void GatherPasses(std::vector<RenderablePass>& list, const Name& style, int low, int high,
                      const Sphere* lightSphere) const;
    // Sorts (unless asked not to: transparent runs keep their far-to-near order) and draws the
    // list, one Begin of a shader per run of records of equal (shader, style).
    void RenderPasses(GraphicsCanvas& canvas, std::vector<RenderablePass>& list, const Name& style,
                      bool sort = true);
    void RenderStyle(GraphicsCanvas& canvas, const Name& style, int low, int high, const Sphere* lightSphere);
    void RenderStyle(GraphicsCanvas& canvas, const Name& style);

    // Stable order by (sort order, shader address, style index, texture address).
    static void SortPasses(std::vector<RenderablePass>& list);
    // Fills the record for pass i; false when the pass is rejected.
    bool FillPass(RenderablePass& pass, const QueuedRenderable& entry, int index, const Name& style, int low,
                  int high, const Sphere* lightSphere) const;

protected:
    void SetFlag(uint32_t flag, bool enable)
    {
        if (enable)
            m_renderFlags |= flag;
        else
            m_renderFlags &= ~flag;
    }

    std::vector<QueuedRenderable> m_renderables;
    std::vector<GraphicsLight> m_lights;
    Camera m_camera;
    Region* m_viewerRegion = nullptr;
    Frustum m_frustum;
    bool m_transparencyOn = false;
    WorldFrustum m_transparencyFrustum;
    float m_transparencyValue = 0.0f;
    Viewport m_viewport;
    Coords m_worldToCamera;
    Mat4 m_worldToScreen;
    RegionToSceneMap m_regionToScene;
    RenderGenerationId m_generationId = RENDER_GENERATION_UNKNOWN;
    uint32_t m_renderFlags = defaultRenderFlags;

    static GraphicsShader2* s_portalMaskShader;
};

// Squared distance from the point to the box; 0 inside.
float BoxPointDistanceSquared(const ABBox& box, const Vec3& point);

} // namespace GAME
