// A tile whose mesh carries one portal: put into a level, it opens a portal of its region that
// leads to a portal of another region (a cave's doorway seen from outside), and it saves that link
// with the level. Its saved block (level chunk 20, after the actor's own data): portal id,
// connected portal id (four u32 each, word 0 first) and connected region id (its four u32 in order).
//
// The ids live in the entrance: an entrance that is not placed, or whose mesh opens no portal (not
// loaded, none or more than one portal), writes the ids it read, so loading and saving never loses
// a link; a placed entrance writes its portal's (which an editor may have changed), and gives them
// back to itself when it leaves the level. A portal without a stored id gets a new unique one.
//
// The tile (its actor) owns the mesh instance (the record's "mesh") and the record's fields, draws
// the mesh, answers rays and collisions through it and, outdoors, makes a terrain tile of it; the
// entrance's level hooks run the tile's first. Where no graphics engine gives the actor its mesh (a
// tool building levels, a test), the mesh comes through the record tables' resources instead.
//
// Registered as "GridEntrance" below "Tile". Main thread, except that a level's loading thread
// creates and reads it; its portal is opened on the main thread when the level places it.
#pragma once

#include "core/UniqueId.h"
#include "data/RegionId.h"
#include "world/Tile.h"

namespace GAME {

class Portal;

class GridEntrance : public Tile
{
    GAME_DECLARE_CLASS(GridEntrance)

public:
    GridEntrance();

    // The tile's fields; the mesh through the record tables' resources when the actor got none.
    void Load(const LoadTable& table) override;
    // The actor's data, then the three ids.
    void Read(BinaryReader& reader) override;
    void Write(BinaryWriter& writer) const override;
    // The tile's, then, with a region and a mesh of exactly one portal: opens the portal with the
    // stored ids, the mesh's portal triangles and "ChokePoint" attach point, at the entrance's frame.
    void OnAddToLevel(Level* level) override;
    // The tile's, then the portal's ids are kept and the portal is destroyed.
    void OnRemoveFromLevel(Level* level) override;
    // The tile's, then the portal follows the entrance.
    void OnMoveInLevel(Level* level) override;

    Portal* GetPortal() const { return m_portal; }
    // The stored ids (a placed entrance's portal holds the current ones).
    const UniqueId& GetPortalId() const { return m_portalId; }
    const UniqueId& GetConnectedPortalId() const { return m_connectedPortalId; }
    const RegionId& GetConnectedRegionId() const { return m_connectedRegionId; }
    // Stored, and handed to the portal when there is one.
    void SetPortalId(const UniqueId& id);
    void SetConnectedPortalId(const UniqueId& id);
    void SetConnectedRegionId(const RegionId& id);

protected:
    ~GridEntrance() override;

private:
    void OpenPortal();
    void ClosePortal();

    Portal* m_portal = nullptr;
    UniqueId m_portalId;
    UniqueId m_connectedPortalId;
    RegionId m_connectedRegionId;
};

} // namespace GAME
