// Shadow maps of one frame. For every shadow-casting light the normal renderer builds one
// GraphicsShadowMap, hands it the passes of the light's casters (AddSurface) and has it draw the
// scene's depth as seen from the light into a shadow surface: RenderDirectional for a directional
// light (focused on what can cast shadows into the camera's view), RenderPoint for a point light.
// Both return the matrix that takes scene-space points to the map ("worldToShadowMatrix").
// Scene space is the space of the map's region. A directional light's frame has its Z axis
// pointing toward the light; the light travels along -Z (called d below).
//
// The drawing is done by a GraphicsShadowMapRenderer, a scene renderer that draws only the shadow
// styles of what is added to it explicitly (its AddRegionContents adds nothing).
//
// A shadow map lives for one light in one frame; the depth lookup texture lives from
// CreateResources to DestroyResources. Main thread only.
#pragma once

#include "core/Coords.h"
#include "core/Frustum.h"
#include "core/Mat4.h"
#include "core/Vec3.h"
#include "scene/GraphicsLight.h"
#include "scene/GraphicsSceneRenderer.h"
#include "scene/RenderablePass.h"

#include <vector>

namespace GAME {

class Camera;
class Entity;
class GraphicsCanvas;
class GraphicsEngine;
class GraphicsTexture;
class Region;
class RenderSurface;

class GraphicsShadowMapRenderer : public GraphicsSceneRenderer
{
public:
    static constexpr const char* depthLookupTextureName = "System/Textures/DepthMapLookup.tex";

    GraphicsShadowMapRenderer(const GraphicsLight& light, Region* region);
    ~GraphicsShadowMapRenderer() override = default;

    // Point light: "lightPosition" (in the renderer's region) and "lightMaxDistance";
    // directional: "lightDirection" (toward the light); generation 6: "depthLookupTexture";
    // always "time" in seconds. The answer of setting "time".
    bool SetSceneShaderParameters(GraphicsCanvas& canvas, GraphicsShader2& shader) override;
    bool IsShadowOnly() const override { return true; }

    static void CreateResources(GraphicsEngine& graphics);
    static void DestroyResources(GraphicsEngine& graphics);

    void SetWorldToScreenMatrix(const Mat4& matrix, const Viewport& viewport);
    // Clears the surface to white (depth included) and draws the style's passes into it; for a
    // directional light also the portal outlines in the style "shadow".
    void Render(GraphicsCanvas& canvas, RenderSurface* surface, const Name& style);

    const GraphicsLight& GetLight() const { return m_light; }

private:
    GraphicsLight m_light;
    static GraphicsTexture* s_depthLookupTexture;
};

class GraphicsShadowMap
{
public:
    enum Algorithm
    {
        Uniform = 0,
        LightSpacePerspective = 1,
        Trapezoidal = 2,
    };
    static constexpr int maxBodyPoints = 200;
    static constexpr float trapezoidFocusDistance = 40.0f;

    GraphicsShadowMap(const GraphicsLight& light, Region* region);
    GraphicsShadowMap(const GraphicsShadowMap&) = delete;
    GraphicsShadowMap& operator=(const GraphicsShadowMap&) = delete;

    // Grows both boxes by the pass's box and keeps the pass; false (nothing changes) for a box
    // that is not finite.
    bool AddSurface(const RenderablePass& pass);
    // Draws the focused directional map into the surface. With no surfaces added the surface is
    // cleared to white and worldToShadow is left as it was. False without a surface, for an
    // unknown algorithm, and when the focus cannot be fitted (a plane that is not finite, a body
    // without extent): the surface is then cleared to white and worldToShadow left as it was.
    bool RenderDirectional(GraphicsCanvas& canvas, const Camera& camera, const Frustum& viewFrustum,
                           int algorithm, RenderSurface* surface, Mat4& worldToShadow);
    // Draws the casters in the light's sphere, seen from the light along direction, into the
    // surface (cleared to white when there are none); worldToScreen is the light's view matrix.
    bool RenderPoint(GraphicsCanvas& canvas, const Vec3& direction, RenderSurface* surface,
                     Mat4& worldToScreen);

    // "numSurfaces", "xSize" and "ySize" into the statistics lines.
    void DebugStatistics() const;
    // The text at the centre of every surface's box.
    void DrawLabels(const char* text, const Color& color) const;

    const std::vector<RenderablePass>& GetSurfaces() const { return m_surfaces; }
    const Coords& GetLightFrame() const { return m_lightFrame; }
    const Coords& GetWorldToLight() const { return m_worldToLight; }
    Vec3 GetSceneMin() const { return m_sceneMin; }
    Vec3 GetSceneMax() const { return m_sceneMax; }
    Vec3 GetLightMin() const { return m_lightMin; }
    Vec3 GetLightMax() const { return m_lightMax; }

    // The view frustum cut by the scene box and swept toward the light: where casters may stand.
    Frustum ComputeSweptVolume(const Frustum& viewFrustum) const;
    // Closes the volume by the plane through the nearest visible shadow-casting actor of the
    // entities (seen from the light); without one, through the scene box.
    void CloseAtNearestCaster(Frustum& volume, const std::vector<Entity*>& entities) const;
    // The swept volume closed through the scene box (no entities asked).
    Frustum ComputeFocusVolume(const Frustum& viewFrustum) const;
    // Fits the projection to the body points (light travelling along d). False, M untouched, when
    // the body has no points or no extent across the light; the light-space perspective fit
    // falls back to the uniform fit when the light runs parallel to the view.
    static bool FitUniform(const Camera& camera, const Vec3& d, const Vec3* points, int count, Mat4& M);
    static bool FitLightSpacePerspective(const Camera& camera, const Vec3& d, const Vec3* points, int count,
                                         Mat4& M);
    bool FitTrapezoidal(const Camera& camera, const Vec3& d, const Vec3* points, int count, Mat4& M);
    // Texture space from clip space: x and y in [-1, 1] to [0, 1], y downward.
    static Mat4 GetBiasMatrix();

private:
    void ClearToWhite(GraphicsCanvas& canvas, RenderSurface* surface) const;
    void ConfigureRenderer(GraphicsShadowMapRenderer& renderer) const;

    std::vector<RenderablePass> m_surfaces;
    GraphicsLight m_light;
    Region* m_region;
    Coords m_worldToLight;
    Coords m_lightFrame;
    Vec3 m_lightMin, m_lightMax;
    Vec3 m_sceneMin, m_sceneMax;
};

} // namespace GAME
