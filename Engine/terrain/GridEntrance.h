// A placed piece of scenery whose mesh carries one portal: put into a level, it opens a portal of
// its region that leads to a portal of another region (a cave's doorway seen from outside), and it
// saves that link with the level. Its saved block (level chunk 20, after the entity's own data):
// portal id, connected portal id (four u32 each, word 0 first) and connected region id (its four
// u32 in order).
//
// The ids live in the entrance: an entrance that is not placed, or whose mesh opens no portal (not
// loaded, none or more than one portal), writes the ids it read, so loading and saving never loses
// a link; a placed entrance writes its portal's (which an editor may have changed), and gives them
// back to itself when it leaves the level. A portal without a stored id gets a new unique one.
//
// TODO(stand-in): derives from Entity and holds its mesh instance itself (the record's "mesh"),
// drawn with the meshes, hit by rays and collided through its mesh's collision mesh. It is to
// derive from GAME::Tile (world/Tile.h, which came late for this class: its actor owns the mesh
// instance and record fields, and makes a terrain tile of the mesh outdoors), calling the tile's
// OnAddToLevel, OnRemoveFromLevel and OnMoveInLevel first and saving the actor's data before the
// three ids.
//
// Registered as "GridEntrance" below "Entity". Main thread, except that a level's loading thread
// creates and reads it; its portal is opened on the main thread when the level places it.
#pragma once

#include "core/UniqueId.h"
#include "scene/GraphicsMeshInstance.h"
#include "world/Entity.h"
#include "world/RegionId.h"

namespace GAME {

class Portal;

class GridEntrance : public Entity
{
    GAME_DECLARE_CLASS(GridEntrance)

public:
    GridEntrance();

    void Load(const LoadTable& table) override;
    // The entity's data, then the three ids.
    void Read(BinaryReader& reader) override;
    void Write(BinaryWriter& writer) const override;
    void PreLoad(bool inFirstFrustum) override;
    // With a region and a mesh of exactly one portal: opens the portal with the stored ids, the
    // mesh's portal triangles and "ChokePoint" attach point, at the entrance's frame.
    void OnAddToLevel(Level* level) override;
    // The portal's ids are kept, then the portal is destroyed.
    void OnRemoveFromLevel(Level* level) override;
    // The portal follows the entrance.
    void OnMoveInLevel(Level* level) override;
    void AddToScene(GraphicsSceneRenderer& renderer, const Frustum* frustum) override;
    PhysicsMesh* GetPhysicsMesh() const override;
    void UpdateBoundingBox() override;
    void GetIntersection(const Ray& ray, Intersection& intersection, PhysicsSurface surface) const override;
    bool IncludeInMinimap() const override { return true; }
    bool GetIsPartOfLevel() const override { return true; }

    Portal* GetPortal() const { return m_portal; }
    // The stored ids (a placed entrance's portal holds the current ones).
    const UniqueId& GetPortalId() const { return m_portalId; }
    const UniqueId& GetConnectedPortalId() const { return m_connectedPortalId; }
    const RegionId& GetConnectedRegionId() const { return m_connectedRegionId; }
    // Stored, and handed to the portal when there is one.
    void SetPortalId(const UniqueId& id);
    void SetConnectedPortalId(const UniqueId& id);
    void SetConnectedRegionId(const RegionId& id);

    GraphicsMeshInstance& GetMeshInstance() { return m_instance; }
    const GraphicsMeshInstance& GetMeshInstance() const { return m_instance; }

protected:
    ~GridEntrance() override;

private:
    void OpenPortal();
    void ClosePortal();

    GraphicsMeshInstance m_instance;
    Portal* m_portal = nullptr;
    UniqueId m_portalId;
    UniqueId m_connectedPortalId;
    RegionId m_connectedRegionId;
};

} // namespace GAME
