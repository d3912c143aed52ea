// What a piece of water puts into the scene: a layer's block, a path's segment or a wave set's
// segment, each a box in the water's loose quadtree with its own vertex buffer of water vertices,
// the water type it draws with and its owner's reflection plane (none for wave segments).
//
// The water vertex (32 bytes, the layout of the water's vertex declaration): position (3 floats),
// texture coordinate (2 floats), a two-float normal slot (the pair (1, 0) for blocks and ripples,
// a direction in the plane for paths and waves), and a packed colour: alpha in bits 24-31, the
// depth of the water over the ground in the low 16 bits (whole units in bits 8-15, the fraction
// times 255 in bits 0-7), bits 16-23 zero.
//
// An element is owned by its piece, which files it in the tree and takes it out again before
// destroying it; the element releases its vertex buffer through the device. Main thread (a level
// loading thread builds the elements of the water it loads).
#pragma once

#include "core/ABBox.h"
#include "core/Space.h"

#include <cstdint>

namespace GAME {

class GridRegion;
class Name;
class RenderDevice;
class RenderVertexBuffer;
class RenderVertexDeclaration;
class TerrainBase;
class WaterType;
struct GraphicsReflectionPlane;

struct WaterVertex
{
    float position[3];
    float texCoord[2];
    float normal[2];
    uint32_t color;
};

static_assert(sizeof(WaterVertex) == 32, "water vertices are 32 bytes");

class WaterElement
{
public:
    enum ElementType : uint32_t
    {
        ELEMENT_BLOCK = 0,
        ELEMENT_PATH_SEGMENT = 1,
        ELEMENT_WAVE_SEGMENT = 2,
    };

    static constexpr unsigned vertexStride = sizeof(WaterVertex);
    // Blocks and path segments draw rows of 10 vertices through the water's shared block index
    // buffer: for each row r below 64 the pairs (10r + c + 10, 10r + c), c = 0 ... 9, as one
    // triangle strip, rows joined by two repeated indices (the last of a row and the first of the
    // next), so that the joins are empty triangles whether or not the device culls faces.
    static constexpr unsigned stripColumns = 10;
    static constexpr unsigned maxStripRows = 64;
    static constexpr unsigned numBlockIndices = maxStripRows * 2 * stripColumns + (maxStripRows - 1) * 2;
    // Triangles of a strip over that many rows of quads (rows + 1 rows of vertices).
    static constexpr uint32_t GetStripTriangleCount(unsigned rows)
    {
        return rows == 0 ? 0u : static_cast<uint32_t>(rows) * (2 * stripColumns + 2) - 4;
    }

    WaterElement(ElementType type, RenderDevice& device);
    // Releases the vertex buffer.
    virtual ~WaterElement();
    WaterElement(const WaterElement&) = delete;
    WaterElement& operator=(const WaterElement&) = delete;

    // Recomputes the depth over the ground (either ground may be null); whether the element holds
    // visible water.
    virtual bool UpdateDepth(const TerrainBase* terrain, const GridRegion* grid) = 0;
    // Draws the element with its vertex buffer and the index buffer and declaration the render
    // interface bound.
    virtual void Render(RenderDevice& device) = 0;
    // The water shader's styles for the element, without and with reflection.
    virtual const Name& GetStyleName() const = 0;
    virtual const Name& GetReflectStyleName() const = 0;

    ElementType GetElementType() const { return m_elementType; }
    const ABBox& GetBoundingBox() const { return m_box; }
    RenderVertexBuffer* GetVertexBuffer() const { return m_vertexBuffer; }
    unsigned GetFirstVertex() const { return m_firstVertex; }
    WaterType* GetWaterType() const { return m_waterType; }
    void SetWaterType(WaterType* type) { m_waterType = type; }
    GraphicsReflectionPlane* GetReflectionPlane() const { return m_reflectionPlane; }
    void SetReflectionPlane(GraphicsReflectionPlane* plane) { m_reflectionPlane = plane; }
    bool IsInTree() const { return m_spaceLinks.node != nullptr; }
    void ReleaseVertexBuffer();

    // The tree's access to the element.
    SpaceLinks<WaterElement>& GetSpaceLinks() { return m_spaceLinks; }
    const ABBox& GetSpaceBox() const { return m_box; }

    // The ground under a point: the terrain's height, else the grid region's, else 0.
    static float GetGroundHeight(const TerrainBase* terrain, const GridRegion* grid, float x, float z);
    // The depth bits of a vertex colour: the depth held to 0 ... 255 (not a number counts as 0).
    static uint32_t EncodeDepth(float depth);
    // A vertex of a flat surface (blocks and ripples): the position, texture coordinate (u, w),
    // the normal slot (1, 0) and the colour.
    static void SetFlatVertex(WaterVertex& v, float x, float y, float z, float u, float w, uint32_t color);
    // The declaration of the water vertex on the device (null when it refuses); the caller
    // destroys it.
    static RenderVertexDeclaration* CreateVertexDeclaration(RenderDevice& device);
    // The alpha bits of a vertex colour for a value of 0 ... 255, truncated (held to the range; not
    // a number counts as 0).
    static uint32_t AlphaBits(float value);

protected:
    // A vertex buffer of the size (the old one released first); null, with the failure logged
    // at priority 1, when the device refuses.
    RenderVertexBuffer* CreateVertexBuffer(unsigned bytes, const char* failure);

    ABBox m_box;
    RenderDevice& m_device;
    RenderVertexBuffer* m_vertexBuffer = nullptr;
    unsigned m_firstVertex = 0;
    WaterType* m_waterType = nullptr;
    GraphicsReflectionPlane* m_reflectionPlane = nullptr;

private:
    SpaceLinks<WaterElement> m_spaceLinks;
    ElementType m_elementType;
};

} // namespace GAME
