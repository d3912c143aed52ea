// How a terrain reaches the scene renderer: one renderable per terrain that, each frame, is handed
// the terrain objects in view (Update), keeps the visible blocks and their bounds and offers three
// passes: the solid ground (depth and shadow styles, sort order -1), the textured ground drawn
// layer by layer (3) and the grass (1000). Ground indices are built per frame into the canvas's
// dynamic index buffer, for visible blocks and only the cells that carry the layer drawn, and
// drawn from the terrain's own vertex buffer; grass is drawn from each block's grass buffers with
// the terrain's grass index buffer. The editor terrain and the run-time terrain each have their
// own derived interface: how a cell tells whether it is visible and carries a layer differs; the
// passes are drawn here for both.
//
// Owns the grass vertex declaration and its references to the three shaders (the low-quality and
// standard layer shaders and the grass shader, named below); the visible blocks are the
// terrain's. A member of its terrain. Main thread only (render time), but LoadShaders, which the
// run-time terrain's render-data load calls on a level's loading thread.
#pragma once

#include "core/ABBox.h"
#include "core/IntVec3.h"
#include "core/Mat4.h"
#include "core/Name.h"
#include "scene/GraphicsRenderable.h"
#include "scene/GraphicsSceneRenderer.h"
#include "scene/RenderablePass.h"

#include <cstdint>
#include <functional>
#include <vector>

namespace GAME {

class Frustum;
class GraphicsCanvas;
class GraphicsSceneRenderer;
class GraphicsShader2;
class GraphicsTexture;
class RenderDevice;
class RenderIndexBuffer;
class RenderVertexBuffer;
class RenderVertexDeclaration;
class Sphere;
class Vec2;
class TerrainBase;
class TerrainBlock;
class TerrainObject;
class TerrainType;
class Viewport;

// What the passes read of the scene renderer: its render flags (terrain, grass), the
// view-projection, whether the map view is being drawn and, while the fog is drawn, the clear air
// (blocks wholly inside it are left out of the fog).
struct TerrainRenderContext
{
    uint32_t renderFlags = 0;
    Mat4 worldToScreen;
    bool mapRendering = false;
    ClearAir clearAir;
};

class TerrainRenderInterfaceBase : public GraphicsRenderable
{
public:
    static constexpr const char* lowQualityShaderName = "Shaders\\Terrain\\TerrainLowQuality.ssh";
    static constexpr const char* standardShaderName = "Shaders\\Terrain\\TerrainStandard.ssh";
    static constexpr const char* grassShaderName = "Shaders\\Grass.ssh";
    // Indices of one block: 9 x 9 cells of two triangles.
    static constexpr unsigned indicesPerBlock = 486;
    static constexpr unsigned indicesPerCell = 6;

    enum Pass
    {
        PASS_SOLID = 0,
        PASS_GROUND = 1,
        PASS_GRASS = 2,
    };

    // Makes the grass vertex declaration and loads the three shaders (the standard one is current).
    // The terrain is the one whose member the interface is.
    explicit TerrainRenderInterfaceBase(const TerrainBase& terrain);
    virtual ~TerrainRenderInterfaceBase();
    TerrainRenderInterfaceBase(const TerrainRenderInterfaceBase&) = delete;
    TerrainRenderInterfaceBase& operator=(const TerrainRenderInterfaceBase&) = delete;

    // The frame's objects in view: blocks among them get their render data and are kept; every
    // object grows the bounds. Also reads the graphics engine's low-quality terrain switch.
    void Update(const IntVec3& worldOffset, const Frustum& frustum,
                const std::vector<TerrainObject*>& objects);
    // The shaders are queued for the loader thread when the interface is made; what draws through
    // them (the accessors below, the render-data load) loads one that is not in yet, or that was
    // evicted, instead of drawing nothing while it loads.
    const GraphicsShader2* GetLayerShader() const;
    // The three shaders, loaded now where they are not (a level's loading thread may call it).
    void LoadShaders();
    bool LowQuality() const { return m_lowQuality; }
    const std::vector<TerrainBlock*>& GetVisibleBlocks() const { return m_visibleBlocks; }
    const IntVec3& GetWorldOffset() const { return m_worldOffset; }
    RenderVertexDeclaration* GetGrassVertexDeclaration() const { return m_grassDeclaration; }

    // ---- GraphicsRenderable ----
    int GetNumRenderPasses(const Name& style, RenderGenerationId generation) const override;
    ABBox GetRenderPassBoundingBox() const override { return m_bounds; }
    int GetRenderPassSortOrder(int pass, const Name& style, RenderGenerationId generation) const override;
    const GraphicsShader2* GetShader2(int pass, const Name& style) const override;
    const Name& GetShaderStyle(int pass, const Name& style, RenderGenerationId generation) const override;
    const GraphicsTexture* GetTexture(int, const Name&) const override { return nullptr; }
    void RenderPass(const RenderablePass& pass, const Name& style, GraphicsCanvas& canvas,
                    const GraphicsSceneRenderer& renderer) override;
    void LogInfo() const override;

    // The pass drawn with the renderer's state given as a context.
    void RenderPass(const RenderablePass& pass, const Name& style, GraphicsCanvas& canvas,
                    const TerrainRenderContext& context);
    // Editor aid: the number of layers of every visible cell; nothing here.
    virtual void DrawLayerCountLabels(const Coords& terrainFrame);
    // The passes, over the terrain's ground vertices (grass: its grass index buffer); a layer
    // without a terrain type is not drawn.
    virtual void RenderGround(const RenderablePass& pass, GraphicsCanvas& canvas,
                              const TerrainRenderContext& context, bool reverse);
    virtual void RenderGroundSolid(const RenderablePass& pass, GraphicsCanvas& canvas,
                                   const TerrainRenderContext& context);
    virtual void RenderGrass(const RenderablePass& pass, GraphicsCanvas& canvas,
                             const TerrainRenderContext& context);
    // The visible blocks that carry the layer and, when the sphere's radius is above 0, meet it.
    virtual void GetBlocksInLayer(unsigned layer, std::vector<TerrainBlock*>& out, const Sphere& sphere);

    // Whether cell (x, y) is drawn in the pass of the layer (-1: the solid pass, every visible
    // cell).
    virtual bool IsCellDrawn(unsigned x, unsigned y, int layer) const = 0;
    // Writes the indices of the blocks' drawn cells (6 a cell, see WriteCellIndices) for a terrain
    // of numX samples a row; the count written. out holds indicesPerBlock per block.
    unsigned BuildIndices(const std::vector<TerrainBlock*>& blocks, int layer, unsigned numX,
                          uint32_t* out) const;

    // The six indices of cell (x, y) of a terrain of numX samples a row: (x + 1, y + 1), (x, y + 1),
    // (x, y), (x, y), (x + 1, y), (x + 1, y + 1).
    static void WriteCellIndices(uint32_t* out, unsigned x, unsigned y, unsigned numX);
    // The style a pass-0 (solid) pass answers for the asked style; keepFog answers "fogStyle" with
    // itself (the ground and plugs), else with "None" (tiles).
    static const Name& GetSolidPassStyle(const Name& style, bool lowQuality, bool keepFog);
    // (offset X mod 10, offset Z mod 10) x 0.1, the remainders with the offset's sign.
    static Vec2 GetTextureOffset(const IntVec3& worldOffset);
    // Where a block's blades of the type can reach, in the terrain's space: its ground box raised
    // by the type's blade height and widened by a blade's width and the wind's last bend.
    static ABBox GetGrassBox(const TerrainBlock& block, const TerrainType& type);
    // Names used by the terrain's renderables.
    static const Name& ReflectionStyle();
    static const Name& FogStyle();
    static const Name& NoStyle();

protected:
    // Binds the terrain's ground vertices and begins the layer shader with the pass's matrices;
    // false (nothing bound) when the terrain flag, the vertices or the canvas's index buffer are
    // missing.
    bool BeginGround(RenderVertexBuffer* vertices, RenderVertexDeclaration* declaration,
                     const RenderablePass& pass, GraphicsCanvas& canvas, const TerrainRenderContext& context,
                     RenderDevice*& device);
    // Draws the indices of the blocks' cells of the layer in batches the canvas's index buffer
    // holds, rendering the technique before each draw; beforeFirstDraw runs once, before the first
    // draw. The number of triangles drawn; a lock that fails is logged and ends the drawing.
    // With skipCovered, cells that the layers above the layer cover opaquely are left out (see
    // CellIndices).
    int DrawCells(const TerrainBase& terrain, const std::vector<TerrainBlock*>& blocks,
                  GraphicsCanvas& canvas, RenderDevice& device, int layer, const char* technique,
                  const std::function<void()>& beforeFirstDraw, bool skipCovered = false);
    // The indices of the block's drawn cells of the layer (BuildIndices), kept with the block's
    // render data. With skipCovered, a cell is left out when a layer above it that is drawn there
    // (and has a type) is fully opaque over every sample its opacity is filtered from; only cells
    // whose samples lie within the block are judged, so an edit that reaches the block always
    // renews its lists.
    const std::vector<uint32_t>& CellIndices(const TerrainBase& terrain, TerrainBlock& block, int layer,
                                             bool skipCovered) const;
    // Whether the current style of the layer shader lays each layer under the destination's alpha
    // (source factor: one minus destination alpha, destination factor: one), so that what an
    // opaque layer above covers shows nothing of the layers beneath.
    static bool LayersBlendUnderDestination(const GraphicsShader2& shader);
    // Grass is drawn only as near as its blades can still show: with a mip chain, up to the depth
    // (the projection's w) at which a whole blade seen face on maps 2^grassFadedMipLevel of its
    // texels to a pixel (beyond, the minified levels have averaged blades a texel or two wide
    // below the alpha test's reference); without one, up to the depth at which a whole blade
    // spans less than a pixel. 0: no limit (no blade texture size yet, or no perspective).
    static constexpr unsigned grassFadedMipLevel = 2;
    static float GetGrassReach(const TerrainType& type, const Mat4& regionToScreen, const Viewport& viewport);
    // The smallest projection w over the box's corners.
    static float NearestDepth(const Mat4& regionToScreen, const ABBox& box);
    // The light sphere of the pass (radius 0 when it has none).
    static Sphere GetPassSphere(const RenderablePass& pass);
    static void SetPassMatrices(GraphicsShader2& shader, const RenderablePass& pass,
                                const TerrainRenderContext& context);

    const TerrainBase& m_terrainBase;
    bool m_lowQuality = false;
    IntVec3 m_worldOffset;
    std::vector<TerrainBlock*> m_visibleBlocks;
    ABBox m_bounds;
    RenderVertexDeclaration* m_grassDeclaration = nullptr;
    GraphicsShader2* m_lowQualityShader = nullptr;
    GraphicsShader2* m_standardShader = nullptr;
    GraphicsShader2* m_currentShader = nullptr;
    GraphicsShader2* m_grassShader = nullptr;

private:
    unsigned BuildIndices(TerrainBlock* const* blocks, size_t count, int layer, unsigned numX,
                          uint32_t* out) const;
};

} // namespace GAME
