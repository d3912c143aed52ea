// Planar reflections for water. Once per region drawn while reflections are on, the portal
// renderer makes a manager; it collects the reflection planes the visible levels' water offers
// (AddReflectionPlane, through Level::AddReflectionPlanes), merges planes that lie on one level
// (normals within a dot product above 0.95, heights within 0.25), renders the mirrored scene of
// each merged plane into a 512 x 512 temporary surface of the canvas, and hands that surface to
// every plane merged into it. Lives for one region render. Main thread only.
#pragma once

#include "core/ABBox.h"
#include "core/Color.h"
#include "core/Name.h"
#include "core/Plane.h"
#include "graphics/Viewport.h"
#include "scene/GraphicsReflectionPlane.h"

#include <vector>

namespace GAME {

class Camera;
class GraphicsCanvas;
class GraphicsLight;
class Region;
class RenderSurface;

class GraphicsReflectionManager
{
public:
    static constexpr int surfaceSize = 512;
    static constexpr float mergeDot = 0.95f;
    static constexpr float mergeHeight = 0.25f;

    // What the reflections are rendered for.
    struct RenderSet
    {
        RenderSet(const Camera* camera_, Region* region_, const Viewport& viewport_,
                  const GraphicsLight* sun_, const Color* skyAmbient_, const Color* groundAmbient_)
            : camera(camera_), region(region_), viewport(viewport_), sun(sun_), skyAmbient(skyAmbient_),
              groundAmbient(groundAmbient_)
        {
        }
        const Camera* camera;
        Region* region;
        Viewport viewport;
        const GraphicsLight* sun;
        const Color* skyAmbient;
        const Color* groundAmbient;
    };

    // One merged plane.
    struct ActivePlane
    {
        Plane plane;
        ABBox bounds; // in its region's space
        Region* region = nullptr;
        RenderSurface* surface = nullptr;
        std::vector<GraphicsReflectionPlane*> planes;
        std::vector<ABBox> elementBoxes;
    };

    static const Name& ReflectionStyle();

    GraphicsReflectionManager() = default;
    ~GraphicsReflectionManager() = default;
    GraphicsReflectionManager(const GraphicsReflectionManager&) = delete;
    GraphicsReflectionManager& operator=(const GraphicsReflectionManager&) = delete;

    // Merges the plane into the first active plane it lies on, or starts a new one; a plane
    // without region is ignored.
    void AddReflectionPlane(GraphicsReflectionPlane& plane);
    // The active plane listing the plane gets the box (centre carried into its region).
    void UpdatePlaneElementBounds(const GraphicsReflectionPlane* plane, ABBox box);
    // Collects the planes in view and renders each active plane; the number of active planes.
    // A set whose viewport has no height renders nothing.
    int RenderReflections(GraphicsCanvas& canvas, const RenderSet& set);
    // Each active plane's bounds and element boxes through the debug render manager.
    void RenderActivePlaneBounds() const;

    const std::vector<ActivePlane>& GetActivePlanes() const { return m_activePlanes; }

private:
    void CollectPlanes(const RenderSet& set);
    void RenderActivePlane(GraphicsCanvas& canvas, const RenderSet& set, ActivePlane& active);

    std::vector<ActivePlane> m_activePlanes;
};

} // namespace GAME
