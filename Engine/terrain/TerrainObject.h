// Anything set into a terrain and kept in its spatial tree: the terrain's blocks (TerrainBlock),
// plugs (TerrainPlug) and placed tiles (TerrainTile). The root of a class tree of its own in the
// class registry, beside Object. An object carries its tree links and box, the frame in which it
// was last used (render data of objects unused for 11 frames is unloaded) and whether it was
// pre-loaded; the virtual operations are what the terrain forwards to the objects it finds (ray,
// collision and grass queries, frame updates, unloading, device resets).
//
// The terrain owns its objects; the tree never does. Whoever changes an object's box while it is
// in a tree goes through SetBoundingBox, which keeps the tree's copy of the box current (the
// object is not moved in the tree; TerrainBase::UpdateObjectInSpace does that).
//
// Threads: built on the region's level loading thread with its terrain, used on the main thread
// afterwards.
#pragma once

#include "core/ABBox.h"
#include "core/RTTI_ClassInfo.h"
#include "core/Space.h"
#include "navigation/PhysicsTypes.h"

#include <cstdint>
#include <vector>

namespace GAME {

class CollisionBox;
class GraphicsSceneRenderer;
class Intersection;
class OBBox;
class Ray;
class TerrainBase;
struct CollisionContact;
struct PhysicsGrassWind;

class TerrainObject
{
    GAME_DECLARE_ROOT_CLASS(TerrainObject)

public:
    enum LoadState : uint32_t
    {
        LOAD_STATE_NONE = 0,
        LOAD_STATE_PRELOADED = 1,
        LOAD_STATE_IMMEDIATE = 2,
    };

    // Last used in the engine's current frame; not pre-loaded; a zero box at the origin.
    TerrainObject();
    virtual ~TerrainObject();
    TerrainObject(const TerrainObject&) = delete;
    TerrainObject& operator=(const TerrainObject&) = delete;

    // The nearest hit of the ray; a miss leaves the distance at +infinity.
    virtual void GetIntersection(const Ray& ray, Intersection& intersection, PhysicsSurface surface) const;
    virtual void AddToScene(GraphicsSceneRenderer& renderer, TerrainBase& terrain);
    virtual void Update(TerrainBase& terrain, int elapsed);
    // Releases render data; the base forgets that it was pre-loaded.
    virtual void Unload();
    virtual void PreLoad(bool immediate);
    // Offers the object's contacts with each box to that box.
    virtual void FindCollisionBoxes(TerrainBase& terrain, std::vector<CollisionBox>& boxes,
                                    PhysicsSurface surface);
    // Contacts with the box written into contacts (at most maximum); the count.
    virtual int FindCollisions(TerrainBase& terrain, const OBBox& box, CollisionContact* contacts,
                               int maximum, PhysicsSurface surface);
    virtual void OnHeightsChanged();
    virtual void OnLayersChanged();
    virtual void DisplaceGrass(float x, float z, float radius, float strength);
    virtual void CreateGrassWind(const PhysicsGrassWind& wind);
    virtual void RemoveGrassWind();
    virtual bool IsAvailable() const;
    virtual void PreDeviceReset();
    virtual void PostDeviceReset();

    // Region space: terrain X on X, heights on Y, terrain Y on Z.
    const ABBox& GetBoundingBox() const { return m_box; }
    // Stamps the engine's current frame.
    void MarkUsed();
    uint32_t GetLastFrameUsed() const { return m_lastFrameUsed; }
    // With immediate: pre-loaded for immediate use; without: pre-loaded at all.
    bool IsPreLoaded(bool immediate) const;
    bool IsInSpace() const { return m_spaceLinks.node != nullptr; }
    SpaceNode<TerrainObject>* GetSpaceNode() const { return m_spaceLinks.node; }

protected:
    // Sets the box and, when the object is in a tree, that tree's copy of it.
    void SetBoundingBox(const ABBox& box);

    uint32_t m_loadState = LOAD_STATE_NONE;

private:
    friend struct SpaceTraits<TerrainObject>;
    SpaceLinks<TerrainObject>& GetSpaceLinks() { return m_spaceLinks; }
    const ABBox& GetSpaceBox() const { return m_box; }

    SpaceLinks<TerrainObject> m_spaceLinks;
    ABBox m_box;
    uint32_t m_lastFrameUsed;
};

} // namespace GAME
