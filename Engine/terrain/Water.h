// The water of one region's level: layers of standing water, rivers and shore waves, stored as
// the level file's water chunk (magic 0xFEEDCBA9). Owned by its level; loading thread, then main
// thread.
//
// TODO(stand-in): no water pieces exist yet. The block is kept byte for byte (a new water writes
// an empty block of version 2); queries answer as no water: no ray hit, no contacts, no
// reflection planes. Missing: layers, paths, wave sets, types, ripples and rendering.
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
class GraphicsReflectionManager;
class GraphicsSceneRenderer;
class GridRegion;
class Intersection;
class Ray;
class Region;
class TerrainBase;
struct CollisionContact;

class Water
{
public:
    static constexpr uint32_t magic = 0xFEEDCBA9;

    explicit Water(Region* region) : m_region(region) {}
    virtual ~Water() = default;
    Water(const Water&) = delete;
    Water& operator=(const Water&) = delete;

    // Size in cells of the ground it lies on; either ground may be null.
    void Initialize(unsigned width, unsigned height, TerrainBase* terrain, GridRegion* grid);
    // Reads the block from a reader bounded to it; false when the magic is wrong.
    bool Load(BinaryReader& reader);
    void Save(BinaryWriter& writer) const;
    void Update(int elapsed);
    void AddToScene(GraphicsSceneRenderer& renderer, const Frustum& frustum);
    void AddReflectionPlanes(GraphicsReflectionManager& manager, Region* region, const Frustum& frustum);
    // Whether the water was hit nearer than the intersection's distance (it then holds the hit).
    bool GetIntersection(const Ray& ray, Intersection& intersection, PhysicsSurface surface) const;
    int FindCollisions(const Entity* entity, CollisionContact* contacts, int capacity, Region* region,
                       PhysicsSurface surface) const;
    int FindCollisions(const OBBox& box, CollisionContact* contacts, int capacity,
                       PhysicsSurface surface) const;
    void FindCollisions(std::vector<CollisionBox>& boxes, const ABBox& enclosing,
                        PhysicsSurface surface) const;
    void PreDeviceReset() {}
    void PostDeviceReset() {}

    unsigned GetWidth() const { return m_width; }
    unsigned GetHeight() const { return m_height; }
    Region* GetRegion() const { return m_region; }

private:
    Region* m_region;
    unsigned m_width = 0;
    unsigned m_height = 0;
    std::vector<uint8_t> m_body;
};

} // namespace GAME
