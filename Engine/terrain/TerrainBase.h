// The height-field ground of one outdoor region, in its editable form (Terrain) or its run-time
// form (TerrainRT). The region's level owns it, reads it from the ground chunk of the level file
// on the region's loading thread and uses it on the main thread afterwards.
//
// TODO(stand-in): no height field exists yet. Each form keeps its level-file body byte for byte
// (so a level loads and saves unchanged) and reads only the sample counts from it; queries answer
// as flat, empty ground: height 0, no ray hit, no contacts, a flat box over the samples. Missing:
// blocks, tiles, plugs, layers, rendering, device resets and the terrain's own spatial tree.
#pragma once

#include "core/ABBox.h"
#include "core/OBBox.h"
#include "navigation/PhysicsTypes.h"

#include <cstdint>
#include <vector>

namespace GAME {

class BinaryReader;
class CollisionBox;
class Entity;
class Frustum;
class GraphicsSceneRenderer;
class Intersection;
class Ray;
class Region;
struct CollisionContact;

class TerrainBase
{
public:
    explicit TerrainBase(Region* region) : m_region(region) {}
    virtual ~TerrainBase() = default;
    TerrainBase(const TerrainBase&) = delete;
    TerrainBase& operator=(const TerrainBase&) = delete;

    // Whether this is the editable form (Terrain).
    virtual bool IsEditable() const = 0;
    virtual void PreDeviceReset() {}
    virtual void PostDeviceReset() {}
    virtual void ReloadGenerationDependentData() {}
    // Reads exactly the ground body; version is the level file's.
    virtual bool Load(BinaryReader& reader, int version) = 0;
    virtual void LoadRenderData() {}
    virtual void AddToScene(GraphicsSceneRenderer& renderer, const Frustum& frustum);
    virtual void Update(const Frustum* frusta, unsigned count, int elapsed);
    virtual void PreLoad(const Frustum* frusta, unsigned count);
    virtual float GetHeightInterpolated(float x, float z) const;
    virtual float GetHeight(int x, int z) const;

    unsigned GetNumXSamples() const { return m_numXSamples; }
    unsigned GetNumYSamples() const { return m_numYSamples; }
    // In region coordinates: the samples lie one unit apart from the region's origin.
    ABBox GetBoundingBox() const;
    Region* GetRegion() const { return m_region; }

    // The intersection becomes "no hit" (+infinity) on the surface kind asked for.
    void GetIntersection(const Ray& ray, Intersection& intersection, PhysicsSurface surface) const;
    int FindCollisions(const Entity* entity, CollisionContact* contacts, int capacity, Region* region,
                       PhysicsSurface surface) const;
    int FindCollisions(const OBBox& box, CollisionContact* contacts, int capacity,
                       PhysicsSurface surface) const;
    void FindCollisions(std::vector<CollisionBox>& boxes, const ABBox& enclosing,
                        PhysicsSurface surface) const;

protected:
    Region* m_region;
    unsigned m_numXSamples = 0;
    unsigned m_numYSamples = 0;
};

} // namespace GAME
