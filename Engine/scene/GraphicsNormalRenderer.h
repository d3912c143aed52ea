// Draws the lit frame of one region: a transparency mask, the opaque passes lit light by light
// (sky and ground ambient carried by the first light), the emissive passes, the transparent passes
// back to front, and the fog step (the "fogStyle" passes of the shaders that have one; shaders
// that mix the fog into their lit styles have none); optionally a blurred post-process copy (its
// alpha the weight the region composited with it gives this one: none where this one drew
// nothing), and a composite with the frame of a region seen behind a portal. It owns the lighting and fog parameters and hands them to
// every shader it begins (SetSceneShaderParameters). The portal renderer and the reflection
// manager configure one per drawing; the graphics engine makes and frees the render targets all
// of them share (CreateRenderTargets / DestroyRenderTargets).
//
// Sort-order bands of the "ambientLightStyle" passes: -1 to 999 (lit with ambient on the first
// light), 1000 to 9999 (the same, except that a point light first in line gets the ambient passes
// alone), 10000 (transparent, drawn farthest first).
//
// One object serves one drawing. Main thread only.
#pragma once

#include "core/Color.h"
#include "core/Mat4.h"
#include "core/Plane.h"
#include "core/Rect.h"
#include "core/Sphere.h"
#include "scene/GraphicsSceneRenderer.h"

#include <cstdint>
#include <vector>

namespace GAME {

class GraphicsTexture;
class RenderSurface;
class RenderTexture;

class GraphicsNormalRenderer : public GraphicsSceneRenderer
{
public:
    static constexpr int numPointShadowSurfaces = 8;
    static constexpr int whiteSurfaceSize = 16;
    static constexpr const char* inverseTransparencyMaskName = "System/Textures/InvTransparencyMask.tex";
    // Colour and depth: the frame's clears.
    static constexpr unsigned int defaultClearFlags = RENDER_CLEAR_COLOR | RENDER_CLEAR_DEPTH;
    static constexpr int transparentSortOrder = 10000;

    // The frame's style names.
    static const Name& AmbientLightStyle();
    static const Name& DirectionalDiffuseStyle();
    static const Name& PointDiffuseStyle();
    static const Name& DirectionalDiffuseAmbientStyle();
    static const Name& PointDiffuseAmbientStyle();
    static const Name& DepthOnlyStyle();
    static const Name& DepthStyle();
    static const Name& EmissiveStyle();
    static const Name& FogStyle();
    static const Name& ColorStyle();
    static const Name& TransparencyMaskStyle();
    static const Name& MaskStyle();

    // One light of the frame as drawn.
    struct LightElement
    {
        const GraphicsLight* light = nullptr;
        Rect rect;                              // screen rectangle, pixels
        RenderSurface* shadowSurface = nullptr; // the white surface without a shadow
        Mat4 worldToShadow;                     // identity until a shadow map writes it
        Sphere sphere;                          // scene space; zero for non-point lights
    };

    GraphicsNormalRenderer();
    ~GraphicsNormalRenderer() override;

    // The camera, time, fog, transparency and light parameters by name. With the fog off its
    // densities go as 0, so that shaders that carry the fog in their lit styles draw none; the
    // fog step then draws nothing either.
    bool SetSceneShaderParameters(GraphicsCanvas& canvas, GraphicsShader2& shader) override;
    // With fog on: the air nearer to the camera than the depth fog's start and above the height
    // fog's top (both as handed to the shaders). The fog step leaves out the passes of what lies
    // wholly inside it.
    ClearAir GetClearAir() const override;
    // Region::AddToScene with this renderer.
    void AddRegionContents(Region* region, const Coords& regionToScene, const Frustum& regionFrustum,
                           const WorldFrustum* transparencyFrustum) override;

    // The shared targets at the canvas's size and the given shadow sizes (see the .cpp); the
    // inverse transparency mask texture is loaded through the graphics engine.
    static void CreateRenderTargets(GraphicsEngine& graphics, unsigned int shadowSize,
                                    unsigned int pointShadowSize);
    static void DestroyRenderTargets(GraphicsEngine& graphics);
    static bool IsRendering() { return s_rendering; }
    static RenderSurface* GetSceneTarget() { return s_sceneTarget; }
    static RenderSurface* GetDirectionalShadowSurface() { return s_directionalShadowSurface; }
    static RenderSurface* GetPointShadowSurface(int index);
    static RenderSurface* GetWhiteSurface() { return s_whiteSurface; }
    static RenderSurface* GetTransparencyMaskSurface() { return s_transparencyMaskSurface; }

    void SetPortalRegions(const std::vector<Region*>* regions) { m_portalRegions = regions; }
    void SetTransparencyTarget(const Vec3& target) { m_transparencyTarget = target; }
    void SetBackgroundTexture(const GraphicsTexture* texture) { m_backgroundTexture = texture; }
    // Alpha is always stored as 1.
    void SetBackgroundColor(const Color& color)
    {
        m_backgroundColor = Color(color.r, color.g, color.b, 1.0f);
    }
    const Color& GetBackgroundColor() const { return m_backgroundColor; }
    void EnableShadows(bool enable) { m_shadowsOn = enable; }
    void EnableLighting(bool enable) { m_lightingOn = enable; }
    void EnableWireframe(bool enable) { m_wireframe = enable; }
    void EnableRendering(bool enable) { m_renderingOn = enable; }
    void EnableFog(bool enable) { m_fogOn = enable; }
    void ShowLights(bool show) { m_showLights = show; }
    void EnableTransparency(bool enable) { m_transparentPassesOn = enable; }
    void SetSkyAmbientColor(const Color& color) { m_skyAmbient = color; }
    void SetGroundAmbientColor(const Color& color) { m_groundAmbient = color; }
    void SetFogColor(const Color& color) { m_fogColor = color; }
    // Start, 1 / (end - start) and density; equal start and end store 0, not an infinity.
    void SetDepthFogParams(float start, float end, float density);
    // Base, 1 / (top - base) and density; likewise.
    void SetHeightFogParams(float base, float top, float density);
    const float* GetDepthFogParams() const { return m_depthFog; }
    const float* GetHeightFogParams() const { return m_heightFog; }
    void SetShadowSoftness(float softness) { m_shadowSoftness = softness; }
    // Scene space; clipping on from now.
    void SetClippingPlane(const Plane& plane);
    bool IsClippingOn() const { return m_clippingOn != 0; }
    const Plane& GetClippingPlane() const { return m_clippingPlane; }
    void SetClearFlags(unsigned int flags) { m_clearFlags = flags; }

    // The viewer region's regions in the frustum, those with a loaded level (all when asked).
    void BuildScene(bool all);
    // The entities of the region inside the box (region space) that render across portals.
    void AddElementsInBox(Region* region, const OBBox& box, const Coords& regionToScene);
    // The light's style over the whole viewport, without a shadow; clears first when flags != 0.
    void RenderLightStyle(GraphicsCanvas& canvas, const GraphicsLight& light, const Name& style,
                          unsigned int clearFlags);

    // The frame: returns the post-processed texture, or null.
    RenderTexture* Render(GraphicsCanvas& canvas, float blend, RenderTexture* previous, bool postProcess,
                          bool toSharedTarget, RenderSurface* target, bool underground);
    RenderTexture* Render(GraphicsCanvas& canvas, bool postProcess, bool underground);
    RenderTexture* RenderBlended(GraphicsCanvas& canvas, float blend, RenderTexture* previous,
                                 bool postProcess, bool underground);

    // The light elements of the frame while it renders (for tests and statistics).
    const std::vector<LightElement>& GetLightElements() const { return m_lightElements; }
    // Builds the light elements (rectangles, order, shadows) as Render does; for tests.
    void GatherLights(GraphicsCanvas& canvas);
    void FreeLights() { m_lightElements.clear(); }
    // The screen rectangle of a scene-space light sphere (see the .cpp); empty when wholly
    // behind the camera.
    Rect GetLightRect(const Sphere& sphere) const;
    // Number of point lights given a shadow surface this frame.
    int GetPointShadowCount() const { return m_pointShadowCount; }

private:
    void RenderMainPass(GraphicsCanvas& canvas, RenderSurface* target);
    void RenderLightLoop(GraphicsCanvas& canvas, int low, int high, bool withAmbient,
                         const std::vector<RenderablePass>* run);
    void RenderTransparentPasses(GraphicsCanvas& canvas, std::vector<RenderablePass>& list);
    RenderTexture* RenderPostProcess(GraphicsCanvas& canvas);
    void Composite(GraphicsCanvas& canvas, RenderSurface* target, RenderTexture* previous, float blend);
    void BuildShadows(GraphicsCanvas& canvas);
    // The records of the list whose shader has the style, each with its index for it.
    static void ResolveStyle(std::vector<RenderablePass>& list, const Name& style,
                             RenderGenerationId generation);
    Rect ViewportRect() const;

    const std::vector<Region*>* m_portalRegions = nullptr;
    Vec3 m_transparencyTarget;
    RenderTexture* m_alphaMaskTexture = nullptr;
    float m_alphaMaskFactor = 1.0f;
    const GraphicsTexture* m_backgroundTexture = nullptr;
    uint32_t m_frameTime;
    int m_pointShadowCount = 0;
    Color m_backgroundColor = Color(0.0f, 0.0f, 0.0f, 1.0f);
    bool m_shadowsOn = true;
    bool m_lightingOn = true;
    bool m_wireframe = false;
    bool m_renderingOn = true;
    bool m_fogOn = false;
    bool m_showLights = false;
    bool m_transparentPassesOn = true;
    Color m_skyAmbient = Color(0.0f, 0.0f, 0.0f, 1.0f);
    Color m_groundAmbient = Color(0.0f, 0.0f, 0.0f, 1.0f);
    Color m_fogColor = Color(0.0f, 0.0f, 0.0f, 1.0f);
    float m_depthFog[3] = {0.0f, 0.0f, 0.0f};
    float m_heightFog[3] = {0.0f, 0.0f, 0.0f};
    float m_shadowSoftness = 0.0f;
    const LightElement* m_currentLight = nullptr;
    Plane m_clippingPlane;
    Plane m_clipSpaceClippingPlane;
    uint32_t m_clippingOn = 0;
    unsigned int m_clearFlags = defaultClearFlags;
    std::vector<LightElement> m_lightElements;

    static RenderSurface* s_sceneTarget;
    static RenderSurface* s_directionalShadowSurface;
    static RenderSurface* s_pointShadowSurfaces[numPointShadowSurfaces];
    static RenderSurface* s_whiteSurface;
    static RenderSurface* s_transparencyMaskSurface;
    static GraphicsTexture* s_inverseTransparencyMask;
    static bool s_rendering;
};

} // namespace GAME
