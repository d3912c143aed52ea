// The cell grid of one underground region: read from a level file's ground chunk of kind 1,
// written back by Save, resized by the editor. Owned by its level; loading thread, then main
// thread.
//
// TODO(stand-in): no cells exist yet. The body is kept byte for byte and only the cell counts
// are read from it; a new or resized grid writes the body of an empty lattice. The cell spacing is
// the grid system's default (8, 8, 8). Queries answer as empty ground: height 0, no ray hit, no
// contacts, no faces. Missing: the grid system, cells, portals and their links, rendering.
#pragma once

#include "core/ABBox.h"
#include "core/OBBox.h"
#include "navigation/PhysicsTypes.h"

#include <cstdint>
#include <vector>

namespace GAME {

class BinaryReader;
class BinaryWriter;
class CollisionBox;
class Entity;
class Frustum;
class GraphicsSceneRenderer;
class Intersection;
class Ray;
class Region;
class WorldFrustum;
struct CollisionContact;

class GridRegion
{
public:
    explicit GridRegion(Region* region) : m_region(region) {}
    virtual ~GridRegion() = default;
    GridRegion(const GridRegion&) = delete;
    GridRegion& operator=(const GridRegion&) = delete;

    // Reads the body from a reader bounded to it; versions 1 and 2.
    bool Load(BinaryReader& reader);
    // The kind-1 body of the ground chunk.
    void Save(BinaryWriter& writer) const;
    void PostLoad() {}
    void Update(const Frustum* frusta, unsigned count, int elapsed);
    void AddToScene(GraphicsSceneRenderer& renderer, const Frustum& frustum, const Frustum* relative);
    // From the region's origin over the cells.
    ABBox GetBoundingBox() const;
    float GetGroundHeight(float x, float z) const;
    void GetIntersection(const Ray& ray, Intersection& intersection, PhysicsSurface surface) const;
    int FindCollisions(const Entity* entity, CollisionContact* contacts, int capacity, Region* region,
                       PhysicsSurface surface) const;
    int FindCollisions(const OBBox& box, CollisionContact* contacts, int capacity,
                       PhysicsSurface surface) const;
    void FindCollisions(std::vector<CollisionBox>& boxes, const ABBox& enclosing,
                        PhysicsSurface surface) const;
    Vec3 GetCellSpacing() const { return Vec3(8.0f, 8.0f, 8.0f); }
    int GetXNumCells() const { return m_cells[0]; }
    int GetYNumCells() const { return m_cells[1]; }
    int GetZNumCells() const { return m_cells[2]; }
    // The cells are lost: the body becomes an empty lattice of the new size.
    void Resize(int x, int y, int z);
    Region* GetRegion() const { return m_region; }

private:
    Region* m_region;
    int m_cells[3] = {0, 0, 0};
    std::vector<uint8_t> m_body;
};

} // namespace GAME
