// The base of every object that lives in the world: actors, lights, decals, effects, the host's
// game objects. An entity is an Object (created by class or from a record through the object
// manager, destroyed late by it) that holds its placement relative to a region, a box in that
// region's space, an optional physics body and unique id, and the entities attached to it, kept
// by object id so that a child destroyed elsewhere never leaves a dangling pointer. Levels place
// entities (SetCoords) and file them in their entity tree; the entity never places itself.
//
// Owns its unique id and its retired physics bodies; not its attached children. Its current
// physics body it deletes only in its destructor (after taking itself out of the simulation).
// Registered as "Entity" below "Object".
//
// The object manager reaches entities through the EntityDestroyHook, and instance groups through
// the WorldEntityAccess, that Entity.cpp installs at static initialisation (InstallHooks installs
// them again, e.g. after a test replaced them).
//
// Main thread, except that a level's loading thread creates, places and restores the entities of
// its level before the level is handed out. Nothing here locks.
#pragma once

#include "core/ABBox.h"
#include "core/Coords.h"
#include "core/Name.h"
#include "core/OBBox.h"
#include "core/Object.h"
#include "core/Space.h"
#include "core/UniqueId.h"
#include "core/WorldCoords.h"
#include "navigation/PhysicsTypes.h"

#include <string>
#include <unordered_map>
#include <vector>

namespace GAME {

class BinaryReader;
class BinaryWriter;
class CollisionData;
class Frustum;
class GraphicsSceneRenderer;
class Intersection;
class Level;
class MinimapGameNugget;
class NetPacket;
class NetPacketInBuffer;
class NetPacketOutBuffer;
class PhysicsMesh;
class PhysicsObject;
class Ray;
class Region;
class World;

class Entity : public Object
{
    GAME_DECLARE_CLASS(Entity)

public:
    Entity();
    Entity(const Entity&) = delete;
    Entity& operator=(const Entity&) = delete;

    // ---- Virtual operations (slot order continues Object's; the destructor is protected) ------
    // The per-entity block of the level file (chunk 20); the base has none.
    virtual void Read(BinaryReader& reader);
    virtual void Write(BinaryWriter& writer) const;
    // Forwarded to the attached entities.
    virtual void PreLoad(bool inFirstFrustum);
    virtual void AppendDetailMapData(std::vector<MinimapGameNugget>& nuggets);
    // False when attached; otherwise whether the coords name a region.
    virtual bool IsInWorld() const;
    virtual void OnAddToLevel(Level* level);
    virtual void OnRemoveFromLevel(Level* level);
    virtual void OnMoveInLevel(Level* level);
    // The object manager's destruction queue calls it (through the destroy hook).
    virtual void OnDestroy();
    virtual void ForcedUpdate(int elapsed);
    // Forwarded to the attached entities.
    virtual void AddToScene(GraphicsSceneRenderer& renderer, const Frustum* frustum);
    virtual PhysicsMesh* GetPhysicsMesh() const;
    virtual bool GetCollisionProxy(OBBox& box) const;
    virtual void UpdateBoundingBox();
    virtual bool OccludesPathing() const;
    virtual int GetNumCollisionBoxes() const;
    virtual OBBox GetCollisionBox(int index) const;
    virtual Vec3 GetCenterOfMass() const;
    virtual void CollisionCallback(const CollisionData& data);
    virtual bool CanCollide(const Entity* other) const;
    // The base is never hit: the distance becomes +infinity.
    virtual void GetIntersection(const Ray& ray, Intersection& intersection, PhysicsSurface surface) const;
    // Subclasses that override it call the base, which marks the initial update as done.
    virtual void InitialUpdate();
    virtual void SetTransparency(const Frustum& frustum);
    virtual bool IsStatic() const;
    // The frame of a named point; the base answers its own coords whatever the name.
    virtual WorldCoords GetAttachedCoords(const Name& attachPoint) const;
    virtual bool DeleteOnEnteringUnloadedLevel() const;
    virtual bool ShouldServerSpawn() const;
    // A new spawn packet naming this entity; the caller owns it.
    virtual NetPacket* CreateSpawnNetPacket();
    virtual void WriteReplicationData(NetPacketOutBuffer& buffer);
    virtual void ReadReplicationData(NetPacketInBuffer& buffer);
    virtual void ApplyReplicationData();
    virtual float GetExtents() const;
    virtual bool ShouldSaveState() const;
    // Words: has unique id, the id (word 3 first) when it has one, visible.
    virtual void SaveState(BinaryWriter& writer) const;
    virtual void RestoreState(BinaryReader& reader);
    virtual void AnimationCallback(int event, const Name& name);
    virtual void SetVisibility(bool visible);
    virtual bool GetVisibility() const;
    virtual void LogInfo() const;
    virtual bool IncludeInMinimap() const;
    virtual bool UseExistingObjectForRestore() const;
    // A rigid body when the entity has no physics body yet.
    virtual void CreatePhysicsObject();
    // False when some attached entity is not ready.
    virtual bool GetIsReadyToRender() const;
    virtual bool GetShouldRenderAcrossPortals() const;
    virtual bool GetIsPartOfLevel() const;

    // ---- Update and placement ---------------------------------------------------------------
    // Initial update once, UpdateSelf, frame stamp, attached entities (while in the world or
    // attached), then the retired physics bodies are deleted.
    void Update(int elapsed);

    // An attached entity's frame is its parent's attach point composed with its offset.
    WorldCoords GetCoords() const;
    // The region of the top-most ancestor.
    Region* GetRegion() const;
    Entity* GetParent() const { return m_parent; }
    bool IsInSpace() const { return m_spaceLinks.node != nullptr; }
    SpaceNode<Entity>* GetSpaceNode() const { return m_spaceLinks.node; }

    // The alternate box when asked for and set, else the region box.
    const ABBox& GetRegionBoundingBox(bool alternate = false) const;
    void SetRegionBoundingBox(const ABBox& box, bool alternate = false);

    // ---- Physics ------------------------------------------------------------------------------
    PhysicsObject* GetPhysicsObject() const { return m_physicsObject; }
    bool IsSimulationEnabled() const { return m_physicsObject != nullptr; }
    // Retires the body: it stays valid until the end of the next Update (or destruction).
    void DestroyPhysicsObject();
    void CleanupPhysicsObjects();
    void SetPhysicsType(PhysicsType type);
    PhysicsType GetPhysicsType() const { return m_physicsType; }
    void SetGravityEnabled(bool enabled) { m_gravityEnabled = enabled; }
    bool GetGravityEnabled() const { return m_gravityEnabled; }

    // ---- Unique id ----------------------------------------------------------------------------
    bool HasUniqueID() const { return m_uniqueId != nullptr; }
    // Made from a fresh GUID and registered in the unique-id map when the entity has none.
    UniqueId& GetUniqueID();
    // Made when absent, registered only when asked; an existing id is kept.
    void EnsureUniqueID(bool registerInMap);
    // The entity leaves the map under its old id (where the map names it) and enters under the new.
    void SetUniqueID(const UniqueId& id);

    // ---- Attachments --------------------------------------------------------------------------
    // Refused (logged) for a null child, the entity itself, or one of its own ancestors; a child
    // that has a parent already is left alone.
    void Attach(Entity* child, const Coords& offset, const char* attachPointName);
    // The child's slot becomes 0 (dropped at the next update).
    void Detach(Entity* child);
    Entity* CreateAttachedEntity(const std::string& recordName, const std::string& attachPointName);
    int GetNumAttachedEntities() const { return static_cast<int>(m_attachedEntities.size()); }
    // Null for an empty slot, a destroyed object or an index out of range.
    Entity* GetAttachedEntity(int index) const;
    // After the object manager renumbered objects (ObjectManager::RenumberHost): the attached
    // entities' ids in the map are their new ones.
    void RenumberObjectIds(const std::unordered_map<unsigned, unsigned>& renumbered);
    void SetAttachOffset(const Coords& offset) { m_attachOffset = offset; }
    const Coords& GetAttachOffset() const { return m_attachOffset; }
    const Name& GetAttachPointName() const { return m_attachPointName; }

    // ---- Flags --------------------------------------------------------------------------------
    void SetRestored(bool restored) { m_restored = restored; }
    bool IsRestored() const { return m_restored; }
    void SetOwnedByClient(bool owned) { m_ownedByClient = owned; }
    bool IsOwnedByClient() const { return m_ownedByClient; }
    void Activate(bool activate) { m_activated = activate; }
    bool IsActivated() const { return m_activated; }
    bool HasDoneInitialUpdate() const { return !m_initialUpdatePending; }
    unsigned GetLastFrameUpdated() const { return m_lastFrameUpdated; }
    // Stamps the current frame here and on the attached entities.
    void SetInRenderPreLoadFrustum();
    bool InRenderPreLoadFrustum() const;

    // The object is an entity (class Entity or below).
    static bool IsEntity(const Object* object);
    // The object manager's destroy hook and the instance groups' entity access (installed at
    // static initialisation).
    static void InstallHooks();

protected:
    // Destroyed through the object manager. An entity still in the world is unlinked from its
    // level first.
    ~Entity() override;
    virtual void UpdateSelf(int elapsed);
    // For CreatePhysicsObject overrides: keeps the body (owned from now on as the current one); a
    // different current body is retired first.
    void SetPhysicsObject(PhysicsObject* object);

private:
    friend class Level;
    friend class Region;
    friend class World;
    friend struct SpaceTraits<Entity>;

    void SetCoords(const WorldCoords& coords);
    SpaceLinks<Entity>& GetSpaceLinks() { return m_spaceLinks; }
    const ABBox& GetSpaceBox() const { return m_regionBoundingBox; }
    // The entity of an attached slot, or null (also for objects that are no longer entities).
    Entity* LookUpAttached(unsigned id) const;
    void UpdateAttachedEntities(int elapsed);
    // Drops the unique-id map's entry for the id when the map names this entity.
    void UnregisterUniqueId();

    // The tree files the entity by this box and keeps a copy of it beside its node entry
    // (SetRegionBoundingBox refreshes it).
    ABBox m_regionBoundingBox;
    SpaceLinks<Entity> m_spaceLinks;
    ABBox m_alternateBoundingBox;
    bool m_hasAlternateBoundingBox = false;
    std::vector<unsigned> m_attachedEntities;
    PhysicsObject* m_physicsObject = nullptr;
    UniqueId* m_uniqueId = nullptr;
    WorldCoords m_coords;
    PhysicsType m_physicsType = PHYSICS_TYPE_DEFAULT;
    bool m_gravityEnabled = true;
    std::vector<PhysicsObject*> m_retiredPhysicsObjects;
    Entity* m_parent = nullptr;
    Name m_attachPointName;
    Coords m_attachOffset;
    bool m_restored = false;
    bool m_initialUpdatePending = true;
    unsigned m_lastFrameUpdated = 0;
    unsigned m_renderPreloadFrame = 0;
    bool m_visible = true;
    bool m_ownedByClient = false;
    bool m_activated = true;
    bool m_replicatedVisibility = true;
};

} // namespace GAME
