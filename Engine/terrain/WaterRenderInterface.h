// The renderable that carries a level's water into the scene: each frame the Water hands it the
// elements of its tree inside the view (Update), and it draws them in five passes of the frame's
// emissive style (and, for layers and rivers, its fog style), sort order 1001:
//   0  layer blocks with the water shader, "waterBlockReflectStyle" when reflections are on, else
//      "waterBlockStyle";
//   1  river segments, "waterPathReflectStyle" or "waterPathStyle";
//   2-4  wave segments with the waves shader, wave pass 0 to 2 ("blendStyle", "bumpStyle",
//      "blendStyle"; not in the fog style).
// Elements are sorted by water type, so that the type's shader parameters change once per type,
// and each vertex buffer is bound once per run.
//
// Owns the water vertex declaration (position 3 floats, texture coordinate 2 floats, a two-float
// normal slot, packed colour: the 32-byte WaterVertex). Held by value by its Water. Main thread.
#pragma once

#include "core/ABBox.h"
#include "core/IntVec3.h"
#include "scene/GraphicsRenderable.h"
#include "terrain/WaterElement.h"

#include <vector>

namespace GAME {

class Frustum;
class GraphicsShader2;
class RenderDevice;
class RenderVertexDeclaration;
class Water;

class WaterRenderInterface : public GraphicsRenderable
{
public:
    static constexpr int numPasses = 5;
    static constexpr int sortOrder = 1001;

    WaterRenderInterface() = default;
    // Releases the vertex declaration.
    ~WaterRenderInterface();
    WaterRenderInterface(const WaterRenderInterface&) = delete;
    WaterRenderInterface& operator=(const WaterRenderInterface&) = delete;

    void SetWater(Water* water) { m_water = water; }
    // Makes the vertex declaration on the device.
    void Initialize(RenderDevice* device);
    void Destroy();

    // The frame's visible elements from the water's tree, their bounds, sorted by type; false
    // (nothing to draw) when none is in the frustum.
    bool Update(const IntVec3& regionOffset, const Frustum& frustum);

    int GetNumRenderPasses(const Name& style, RenderGenerationId generation) const override;
    ABBox GetRenderPassBoundingBox() const override;
    int GetRenderPassSortOrder(int pass, const Name& style, RenderGenerationId generation) const override;
    const GraphicsShader2* GetShader2(int pass, const Name& style) const override;
    const Name& GetShaderStyle(int pass, const Name& style, RenderGenerationId generation) const override;
    const GraphicsTexture* GetTexture(int pass, const Name& style) const override;
    void RenderPass(const RenderablePass& pass, const Name& style, GraphicsCanvas& canvas,
                    const GraphicsSceneRenderer& renderer) override;
    void LogInfo() const override;

    const std::vector<WaterElement*>& GetVisibleElements() const { return m_visible; }
    RenderVertexDeclaration* GetVertexDeclaration() const { return m_declaration; }
    // Insertion sort by the water type's address, stable.
    static void StortElementList(std::vector<WaterElement*>& elements);

private:
    void RenderVisibleElements(WaterElement::ElementType type, GraphicsCanvas& canvas, bool reflect);
    void RenderElements(const std::vector<WaterElement*>& elements, WaterElement::ElementType type,
                        RenderDevice* device, bool reflect);
    void RenderWaveElements(const std::vector<WaterElement*>& elements, RenderDevice* device, int wavePass);
    static bool ReflectionsEnabled();

    Water* m_water = nullptr;
    IntVec3 m_regionOffset;
    ABBox m_bounds;
    std::vector<WaterElement*> m_visible;
    RenderDevice* m_device = nullptr;
    RenderVertexDeclaration* m_declaration = nullptr;
};

} // namespace GAME
