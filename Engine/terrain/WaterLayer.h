// A sheet of standing water at one height (a lake, a pond, a flooded floor), painted with a round
// brush onto the water's grid of 9 x 9 unit blocks (WaterBlock). A block exists where the layer has
// water; each keeps its coverage map and vertices, filed in the water's tree while it exists.
//
// Record in the water block (Save / Load): type name (string), height (f32), extent (2 x f32, the
// size of the water area it was made for), u32 block count, then per block its u32 index
// (z x blocks X + x) and 100 coverage bytes, in increasing index order.
//
// Owned by its Water. Main thread (a level loading thread loads it).
#pragma once

#include "core/Vec2.h"
#include "core/Vec3.h"
#include "terrain/WaterObject.h"

#include <cstdint>
#include <vector>

namespace GAME {

class Ray;
class RenderVertexBuffer;
class WaterBlock;

class WaterLayer : public WaterObject
{
public:
    WaterLayer(unsigned index, unsigned blocksX, unsigned blocksZ, float blockSize, Space<WaterElement>& tree,
               RenderDevice& device, Water* water);
    ~WaterLayer() override;

    // A new empty block table, the height and extent, and the named type (one reference). Without
    // such a type it logs "Failed to load water type '%s' for water layer." and answers false; the
    // layer stays usable without type.
    bool Initialize(const char* typeName, float height, const Vec2& extent);

    void Update() override;
    // Reads the whole record; false for an unknown type or values that are not numbers (no block
    // is made then). A block index outside the grid is skipped with its bytes.
    bool Load(BinaryReader& reader, unsigned version) override;
    void Save(BinaryWriter& writer) const override;
    void MirrorX(float centre) override;
    void MirrorZ(float centre) override;
    void MirrorXZ() override;

    float GetHeight() const { return m_height; }
    const Vec2& GetExtent() const { return m_extent; }
    unsigned GetNumBlocks() const { return m_numBlocks; }
    unsigned GetNumBlocksX() const { return m_blocksX; }
    unsigned GetNumBlocksZ() const { return m_blocksZ; }
    RenderVertexBuffer* GetVertexBuffer() const { return m_vertexBuffer; }

    // Null outside the grid or where no block is.
    WaterBlock* GetBlock(unsigned x, unsigned z) const;
    // The block (an existing one as it is; a new one dry, boxed and in the tree, without vertices);
    // null outside the grid.
    WaterBlock* AddBlock(unsigned x, unsigned z);
    void RemoveBlock(unsigned x, unsigned z);
    // Whether the ground under the block's 10 x 10 points reaches the surface anywhere.
    bool TestBlockArea(unsigned x, unsigned z) const;
    // The block's box: clipped to the extent, one unit above and below the surface.
    ABBox CalculateBlockBounds(unsigned x, unsigned z) const;
    void DestroyBlocks();
    // Before and after a device reset.
    void DestroyBlockGeometry();
    void ConstructBlockGeometry();
    void UpdateReflectionPlane();

    // Over a block's coverage, inside the grid and the extent.
    bool IsPointInLayer(const Vec3& point) const;
    // Distance along the ray to the surface where the layer has water; +infinity otherwise or at
    // maxDistance and beyond.
    float RayIntersection(const Ray& ray, float maxDistance) const;
    // The type's flow in x and z; untouched without type.
    void CalcSurfaceVelocity(Vec3& velocity) const;

    // The editor's brush: paints water into (add) or out of the circle.
    void UpdateArea(const Vec3& centre, float radius, bool add);
    // Removes the blocks that hold no visible water.
    void Cleanup();

    // The coverage of all blocks as one map of (extent x) x (extent z) bytes (clipped to the
    // grid), and back.
    void SaveToMap(std::vector<uint8_t>& map, unsigned& width, unsigned& depth) const;
    void ConstructFromMap(const std::vector<uint8_t>& map, unsigned width, unsigned depth);

private:
    // Builds the vertices of a block just added or filled.
    void BuildBlock(WaterBlock* block);
    void PaintBlock(WaterBlock* block, const Vec3& centre, float radius, bool add);
    void MapSize(unsigned& width, unsigned& depth) const;

    unsigned m_blocksX;
    unsigned m_blocksZ;
    float m_blockSize;
    float m_height = 0.0f;
    Vec2 m_extent;
    unsigned m_numBlocks = 0;
    RenderVertexBuffer* m_vertexBuffer = nullptr;
    std::vector<WaterBlock*> m_blocks;
};

} // namespace GAME
