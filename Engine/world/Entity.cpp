#include "world/Entity.h"

#include "core/EntityDestroyHook.h"
#include "core/Intersection.h"
#include "core/Log.h"
#include "core/ObjectManager.h"
#include "core/UniqueIdMap.h"
#include "data/BinaryReader.h"
#include "data/BinaryWriter.h"
#include "data/EngineDataServices.h"
#include "navigation/PhysicsEngine.h"
#include "navigation/PhysicsRigidBody.h"
#include "network/NetPacketBuffer.h"
#include "network/SpawnActorPacket.h"
#include "world/InstanceGroupManager.h"
#include "world/Level.h"
#include "world/Region.h"
#include "world/WorldEntityAccess.h"
#include "world/WorldServices.h"

namespace GAME {

GAME_REGISTER_CLASS(Entity, Object)

namespace {

// How the object manager, below the world, destroys entities.
class EntityHook : public EntityDestroyHook
{
public:
    bool IsEntity(const Object* object) override { return Entity::IsEntity(object); }
    void OnDestroy(Object* entity) override { static_cast<Entity*>(entity)->OnDestroy(); }
    unsigned GetNumAttachedEntities(Object* entity) override
    {
        return static_cast<unsigned>(static_cast<Entity*>(entity)->GetNumAttachedEntities());
    }
    Object* DetachAttachedEntity(Object* object, unsigned index) override
    {
        Entity* entity = static_cast<Entity*>(object);
        Entity* child = entity->GetAttachedEntity(static_cast<int>(index));
        if (child)
            entity->Detach(child);
        return child;
    }
    void RenumberAttached(Object* entity, const std::unordered_map<unsigned, unsigned>& renumbered) override
    {
        static_cast<Entity*>(entity)->RenumberObjectIds(renumbered);
    }
};

// How instance groups, beside entities in the world folder, read them.
class EntityAccess : public WorldEntityAccess
{
public:
    UniqueId GetUniqueId(const Entity* entity) override
    {
        return entity && entity->HasUniqueID() ? const_cast<Entity*>(entity)->GetUniqueID() : UniqueId();
    }
    Region* GetRegion(const Entity* entity) override { return entity ? entity->GetRegion() : nullptr; }
    Vec3 GetRegionPosition(const Entity* entity) override
    {
        return entity ? entity->GetCoords().GetOrigin().GetRegionPosition() : Vec3();
    }
    ABBox GetRegionBoundingBox(const Entity* entity) override
    {
        return entity ? entity->GetRegionBoundingBox(false) : ABBox();
    }
    const RTTI_ClassInfo* GetClassInfo(const Entity* entity) override
    {
        return entity ? &entity->GetClassInfo() : nullptr;
    }
};

EntityHook s_entityHook;
EntityAccess s_entityAccess;

// The object manager may destroy entities, and instance groups read them, from the first frame
// on: both are installed at start-up.
const bool s_hooksInstalled = [] {
    ObjectManager::SetEntityDestroyHook(&s_entityHook);
    WorldEntityAccess::Install(&s_entityAccess);
    return true;
}();

} // namespace

void Entity::InstallHooks()
{
    (void)s_hooksInstalled;
    ObjectManager::SetEntityDestroyHook(&s_entityHook);
    WorldEntityAccess::Install(&s_entityAccess);
}

bool Entity::IsEntity(const Object* object)
{
    return object && object->GetClassInfo().IsA(Entity::GetStaticClassInfo());
}

Entity::Entity() = default;

Entity::~Entity()
{
    UnregisterUniqueId();

    // Children are separate objects: queue the ones still alive, and let go of them so that none
    // keeps a pointer to this entity.
    std::vector<unsigned> attached;
    attached.swap(m_attachedEntities);
    for (unsigned id : attached) {
        if (Entity* child = LookUpAttached(id)) {
            if (child->m_parent == this) {
                child->m_parent = nullptr;
                child->m_attachOffset = Coords();
                child->m_attachPointName = Name::noName;
            }
            ObjectManager::Get()->DestroyObjectEx(child, __FILE__, __LINE__);
        }
    }

    delete m_uniqueId;
    m_uniqueId = nullptr;
    // Never leave the simulation holding a deleted entity, whether or not the entity is still in
    // the world (levels reset an entity's placement before they destroy it). Nothing else would
    // delete the current body after this, so it goes with the retired ones (its own destructor
    // leaves any simulation it is still in).
    if (PhysicsEngine* physics = WorldServices::Physics())
        physics->RemoveEntityFromSimulation(this);
    DestroyPhysicsObject();
    CleanupPhysicsObjects();

    if (!m_parent && m_coords.GetRegion()) {
        LogPrintf(2, "Entity (%s) is being deleted before it is removed from the world!",
                  GetObjectName().c_str());
    }
    // Never leave the level's tree or lists pointing at a deleted entity.
    Level* level = m_coords.GetRegion() ? m_coords.GetRegion()->GetLevel() : nullptr;
    if (level)
        level->ForgetEntity(this);
    if (m_spaceLinks.node)
        Space<Entity>::RemoveObject(m_spaceLinks.node, this);
}

// ---- Virtual operations -------------------------------------------------------------------------

void Entity::Read(BinaryReader&) {}

void Entity::Write(BinaryWriter&) const {}

void Entity::PreLoad(bool inFirstFrustum)
{
    for (size_t i = 0; i < m_attachedEntities.size(); ++i)
        if (Entity* child = LookUpAttached(m_attachedEntities[i]))
            child->PreLoad(inFirstFrustum);
}

void Entity::AppendDetailMapData(std::vector<MinimapGameNugget>&) {}

bool Entity::IsInWorld() const
{
    return !m_parent && m_coords.GetRegion() != nullptr;
}

void Entity::OnAddToLevel(Level*) {}

void Entity::OnRemoveFromLevel(Level*) {}

void Entity::OnMoveInLevel(Level*) {}

void Entity::OnDestroy() {}

void Entity::ForcedUpdate(int) {}

void Entity::AddToScene(GraphicsSceneRenderer& renderer, const Frustum* frustum)
{
    for (size_t i = 0; i < m_attachedEntities.size(); ++i)
        if (Entity* child = LookUpAttached(m_attachedEntities[i]))
            child->AddToScene(renderer, frustum);
}

PhysicsMesh* Entity::GetPhysicsMesh() const
{
    return nullptr;
}

bool Entity::GetCollisionProxy(OBBox&) const
{
    return false;
}

void Entity::UpdateBoundingBox() {}

bool Entity::OccludesPathing() const
{
    return false;
}

int Entity::GetNumCollisionBoxes() const
{
    return 0;
}

OBBox Entity::GetCollisionBox(int) const
{
    return OBBox();
}

Vec3 Entity::GetCenterOfMass() const
{
    return Vec3();
}

void Entity::CollisionCallback(const CollisionData&) {}

bool Entity::CanCollide(const Entity*) const
{
    return true;
}

void Entity::GetIntersection(const Ray&, Intersection& intersection, PhysicsSurface) const
{
    intersection.distance = gInfinity;
}

void Entity::InitialUpdate()
{
    m_initialUpdatePending = false;
}

void Entity::SetTransparency(const Frustum&) {}

bool Entity::IsStatic() const
{
    return false;
}

WorldCoords Entity::GetAttachedCoords(const Name&) const
{
    return GetCoords();
}

bool Entity::DeleteOnEnteringUnloadedLevel() const
{
    return true;
}

bool Entity::ShouldServerSpawn() const
{
    return false;
}

NetPacket* Entity::CreateSpawnNetPacket()
{
    SpawnActorPacket* packet = new SpawnActorPacket();
    packet->GetEntityId() = GetObjectId();
    return packet;
}

void Entity::WriteReplicationData(NetPacketOutBuffer& buffer)
{
    buffer.Add(&m_visible);
}

void Entity::ReadReplicationData(NetPacketInBuffer& buffer)
{
    buffer.Remove(&m_replicatedVisibility);
}

void Entity::ApplyReplicationData()
{
    m_visible = m_replicatedVisibility;
}

float Entity::GetExtents() const
{
    return 0.0f;
}

bool Entity::ShouldSaveState() const
{
    return false;
}

void Entity::SaveState(BinaryWriter& writer) const
{
    writer.WriteUInt32(m_uniqueId ? 1u : 0u);
    if (m_uniqueId)
        writer.WriteUniqueIdReversed(*m_uniqueId);
    writer.WriteUInt32(m_visible ? 1u : 0u);
}

void Entity::RestoreState(BinaryReader& reader)
{
    if (reader.ReadUInt32() != 0) {
        const UniqueId id = reader.ReadUniqueIdReversed();
        // The restored id is not registered; an earlier registration must not outlive it.
        if (m_uniqueId && *m_uniqueId != id)
            UnregisterUniqueId();
        if (!m_uniqueId)
            m_uniqueId = new UniqueId();
        *m_uniqueId = id;
    }
    m_visible = reader.ReadUInt32() != 0;
}

void Entity::AnimationCallback(int, const Name&) {}

void Entity::SetVisibility(bool visible)
{
    m_visible = visible;
}

bool Entity::GetVisibility() const
{
    return m_visible;
}

void Entity::LogInfo() const
{
    Region* region = GetRegion();
    if (!region) {
        LogPrintf(0, "   region: NULL");
    } else {
        LogPrintf(0, "   region: %s(%u)", region->GetName().c_str(),
                  static_cast<unsigned>(region->GetRegionIndex()));
        const Vec3 p = GetCoords().GetOrigin().GetRegionPosition();
        LogPrintf(0, "   coords position: (%f, %f, %f)", p.x, p.y, p.z);
    }
    const ABBox& box = m_regionBoundingBox;
    LogPrintf(0, "   bounds origin: (%f, %f, %f)", box.center.x, box.center.y, box.center.z);
    LogPrintf(0, "   bounds extents: (%f, %f, %f)", box.extents.x, box.extents.y, box.extents.z);
    LogPrintf(0, "   visible: %u", m_visible ? 1u : 0u);
    LogPrintf(0, "   physicsObject: %p", static_cast<const void*>(m_physicsObject));
    LogPrintf(0, "   space node: %p", static_cast<const void*>(m_spaceLinks.node));
    LogPrintf(0, "   parent: %p", static_cast<const void*>(m_parent));
    if (!m_attachedEntities.empty()) {
        LogPrintf(0, "   attached entities:");
        for (unsigned id : m_attachedEntities)
            LogPrintf(0, "       %u", id);
    }
}

bool Entity::IncludeInMinimap() const
{
    return false;
}

bool Entity::UseExistingObjectForRestore() const
{
    return false;
}

void Entity::CreatePhysicsObject()
{
    if (!m_physicsObject)
        m_physicsObject = new PhysicsRigidBody(this);
}

bool Entity::GetIsReadyToRender() const
{
    for (unsigned id : m_attachedEntities)
        if (Entity* child = LookUpAttached(id))
            if (!child->GetIsReadyToRender())
                return false;
    return true;
}

bool Entity::GetShouldRenderAcrossPortals() const
{
    return false;
}

bool Entity::GetIsPartOfLevel() const
{
    return false;
}

void Entity::UpdateSelf(int) {}

// ---- Update and placement -----------------------------------------------------------------------

void Entity::Update(int elapsed)
{
    if (m_initialUpdatePending)
        InitialUpdate();
    UpdateSelf(elapsed);
    m_lastFrameUpdated = EngineDataServices::FrameCount();
    if (IsInWorld() || m_parent)
        UpdateAttachedEntities(elapsed);
    CleanupPhysicsObjects();
}

void Entity::UpdateAttachedEntities(int elapsed)
{
    // By index: a child's update may attach or detach entities here.
    for (size_t i = 0; i < m_attachedEntities.size(); ++i) {
        if (Entity* child = LookUpAttached(m_attachedEntities[i]))
            child->Update(elapsed);
        else
            m_attachedEntities[i] = 0;
    }
    // Compact: each empty slot takes the current last id (order is not kept).
    size_t count = m_attachedEntities.size();
    for (size_t i = 0; i < count;) {
        if (m_attachedEntities[i] == 0) {
            m_attachedEntities[i] = m_attachedEntities[count - 1];
            --count;
        } else {
            ++i;
        }
    }
    m_attachedEntities.resize(count);
}

WorldCoords Entity::GetCoords() const
{
    if (!m_parent)
        return m_coords;
    return m_parent->GetAttachedCoords(m_attachPointName) * m_attachOffset;
}

Region* Entity::GetRegion() const
{
    const Entity* top = this;
    while (top->m_parent)
        top = top->m_parent;
    return top->m_coords.GetRegion();
}

void Entity::SetCoords(const WorldCoords& coords)
{
    m_coords = coords;
    if (m_uniqueId && WorldServices::EditorMode())
        InstanceGroupManager::Get()->UpdateEntityData(this);
}

const ABBox& Entity::GetRegionBoundingBox(bool alternate) const
{
    return alternate && m_hasAlternateBoundingBox ? m_alternateBoundingBox : m_regionBoundingBox;
}

void Entity::SetRegionBoundingBox(const ABBox& box, bool alternate)
{
    if (alternate) {
        m_alternateBoundingBox = box;
        m_hasAlternateBoundingBox = true;
    } else {
        m_regionBoundingBox = box;
        if (m_spaceLinks.node)
            Space<Entity>::RefreshBox(this);
    }
}

// ---- Physics ------------------------------------------------------------------------------------

void Entity::DestroyPhysicsObject()
{
    if (!m_physicsObject)
        return;
    m_retiredPhysicsObjects.push_back(m_physicsObject);
    m_physicsObject = nullptr;
}

void Entity::SetPhysicsObject(PhysicsObject* object)
{
    if (object == m_physicsObject)
        return;
    DestroyPhysicsObject();
    m_physicsObject = object;
}

void Entity::CleanupPhysicsObjects()
{
    for (PhysicsObject* object : m_retiredPhysicsObjects)
        delete object;
    m_retiredPhysicsObjects.clear();
}

void Entity::SetPhysicsType(PhysicsType type)
{
    PhysicsEngine* physics = IsInWorld() ? WorldServices::Physics() : nullptr;
    if (physics)
        physics->RemoveEntityFromSimulation(this);
    m_physicsType = type;
    if (physics)
        physics->AddEntityToSimulation(this);
}

// ---- Unique id ----------------------------------------------------------------------------------

UniqueId& Entity::GetUniqueID()
{
    if (!m_uniqueId) {
        m_uniqueId = new UniqueId(UniqueId::CreateUnique());
        UniqueIdMap::Get()->AddEntity(*m_uniqueId, this);
    }
    return *m_uniqueId;
}

void Entity::EnsureUniqueID(bool registerInMap)
{
    if (m_uniqueId)
        return;
    m_uniqueId = new UniqueId(UniqueId::CreateUnique());
    if (registerInMap)
        UniqueIdMap::Get()->AddEntity(*m_uniqueId, this);
}

void Entity::SetUniqueID(const UniqueId& id)
{
    if (m_uniqueId && *m_uniqueId != id)
        UnregisterUniqueId();
    if (!m_uniqueId)
        m_uniqueId = new UniqueId();
    *m_uniqueId = id;
    UniqueIdMap::Get()->AddEntity(id, this);
}

void Entity::UnregisterUniqueId()
{
    if (m_uniqueId && UniqueIdMap::HasInstantiated())
        UniqueIdMap::Get()->RemoveEntity(*m_uniqueId, this);
}

// ---- Attachments --------------------------------------------------------------------------------

Entity* Entity::LookUpAttached(unsigned id) const
{
    if (id == 0)
        return nullptr;
    Object* object = ObjectManager::Get()->GetObject(id);
    return IsEntity(object) ? static_cast<Entity*>(object) : nullptr;
}

void Entity::Attach(Entity* child, const Coords& offset, const char* attachPointName)
{
    if (!child) {
        LogPrintf(1, "NULL entity attachment detected.");
        return;
    }
    if (child->m_parent)
        return;
    // A cycle would make every walk up the parents endless.
    for (const Entity* e = this; e; e = e->m_parent) {
        if (e == child) {
            LogPrintf(1, "Entity '%s' cannot be attached to itself or to an entity attached to it.",
                      child->GetObjectName().c_str());
            return;
        }
    }
    m_attachedEntities.push_back(child->GetObjectId());
    child->m_parent = this;
    child->m_attachOffset = offset;
    child->m_attachPointName = Name::Create(attachPointName ? attachPointName : "");
    if (GetRegion())
        child->Update(0);
}

void Entity::Detach(Entity* child)
{
    if (!child)
        return;
    child->m_parent = nullptr;
    child->m_attachOffset = Coords();
    child->m_attachPointName = Name::noName;
    const unsigned id = child->GetObjectId();
    for (unsigned& slot : m_attachedEntities) {
        if (slot == id) {
            slot = 0;
            break;
        }
    }
}

Entity* Entity::CreateAttachedEntity(const std::string& recordName, const std::string& attachPointName)
{
    Object* object = ObjectManager::Get()->CreateObjectFromFile(recordName, 0, true);
    if (!object)
        return nullptr;
    if (!IsEntity(object)) {
        ObjectManager::Get()->DestroyObjectEx(object, __FILE__, __LINE__);
        return nullptr;
    }
    Entity* child = static_cast<Entity*>(object);
    Attach(child, Coords(), attachPointName.c_str());
    return child;
}

void Entity::RenumberObjectIds(const std::unordered_map<unsigned, unsigned>& renumbered)
{
    for (unsigned& id : m_attachedEntities)
        if (const auto it = renumbered.find(id); it != renumbered.end())
            id = it->second;
}

Entity* Entity::GetAttachedEntity(int index) const
{
    if (index < 0 || index >= GetNumAttachedEntities())
        return nullptr;
    return LookUpAttached(m_attachedEntities[static_cast<size_t>(index)]);
}

// ---- Flags --------------------------------------------------------------------------------------

void Entity::SetInRenderPreLoadFrustum()
{
    m_renderPreloadFrame = EngineDataServices::FrameCount();
    for (size_t i = 0; i < m_attachedEntities.size(); ++i)
        if (Entity* child = LookUpAttached(m_attachedEntities[i]))
            child->SetInRenderPreLoadFrustum();
}

bool Entity::InRenderPreLoadFrustum() const
{
    return m_renderPreloadFrame == EngineDataServices::FrameCount();
}

} // namespace GAME
