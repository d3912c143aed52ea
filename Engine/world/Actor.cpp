#include "world/Actor.h"

#include "core/EventManager.h"
#include "core/Intersection.h"
#include "core/Log.h"
#include "core/MathUtil.h"
#include "core/ObjectManager.h"
#include "core/Ray.h"
#include "data/BinaryReader.h"
#include "data/BinaryWriter.h"
#include "data/EngineDataServices.h"
#include "data/LoadTable.h"
#include "data/LocalizationManager.h"
#include "graphics/DebugRenderManager.h"
#include "navigation/PhysicsEngine.h"
#include "navigation/PhysicsRagDoll.h"
#include "navigation/PhysicsRigidBody.h"
#include "scene/GraphicsMesh.h"
#include "scene/GraphicsMeshInstance.h"
#include "scene/GraphicsSceneRenderer.h"
#include "scene/SkeletalPose.h"
#include "sound/SoundManager.h"
#include "world/Engine.h"
#include "world/MinimapGameNugget.h"
#include "world/Region.h"
#include "world/World.h"
#include "world/WorldServices.h"

#include <algorithm>
#include <cmath>

namespace GAME {

GAME_REGISTER_CLASS(Actor, Entity)

namespace {

// The animation events an actor answers itself, made once.
struct EventNames
{
    Name cameraShake = Name::Create("CameraShake");
    Name longCameraShake = Name::Create("LongCameraShake");
    Name displaceGrass = Name::Create("DisplaceGrass");
};

const EventNames& Events()
{
    static const EventNames names;
    return names;
}

void SendCameraShake(float duration, float strength)
{
    GameEvent_CameraShake event(duration, strength);
    if (EventManager* events = EventManager::Get())
        events->Send(&event, "GameEvent_CameraShake");
}

bool IsFiniteFloat(float value)
{
    return std::isfinite(value);
}

// The box's region-space bounds: the centre placed as a point, each half-extent the reach of the
// three placed axes.
ABBox PlaceBox(const Coords& frame, const ABBox& box)
{
    const Vec3 reach = AbsVec3(frame.xAxis) * box.extents.x + AbsVec3(frame.yAxis) * box.extents.y +
                       AbsVec3(frame.zAxis) * box.extents.z;
    return ABBox(frame.TransformPoint(box.center), reach);
}

} // namespace

Actor* Actor::Cast(Entity* entity)
{
    return entity && entity->GetClassInfo().IsA(Actor::GetStaticClassInfo()) ? static_cast<Actor*>(entity)
                                                                             : nullptr;
}

const Actor* Actor::Cast(const Entity* entity)
{
    return Cast(const_cast<Entity*>(entity));
}

Actor::Actor() : m_meshInstance(new GraphicsMeshInstance())
{
    for (int i = 0; i < m_meshInstance->GetNumAnimChannels(); ++i)
        m_meshInstance->GetAnimChannel(i)->SetEntity(i, this);
    SetPhysicsType(PHYSICS_TYPE_ACTOR);
}

Actor::~Actor()
{
    delete m_meshInstance;
    m_meshInstance = nullptr;
}

// ---- Loading -----------------------------------------------------------------------------------

void Actor::Load(const LoadTable& constTable)
{
    LoadTable& table = const_cast<LoadTable&>(constTable);
    m_descriptionTag = table.GetValue("description", "Unknown");

    // A record whose mesh field is present but empty shows the default mesh as well.
    const char* mesh = table.GetValue("mesh", m_defaultMeshName.c_str());
    m_meshName = mesh && *mesh ? mesh : m_defaultMeshName;
    m_meshInstance->SetMesh(m_meshName.c_str());

    float extents = table.GetFloat("unloadedBoundingBoxExtents", 0.0f);
    if (!(extents > 0.0f) || !IsFiniteFloat(extents))
        extents = defaultUnloadedExtents;
    m_meshInstance->SetUnloadedBoundingBoxExtents(extents);

    m_baseTextureName = table.GetValue("baseTexture", "");
    m_bumpTextureName = table.GetValue("bumpTexture", "");
    m_shownOnMinimap = table.GetBool("DisplayAsQuestItem", false);
    if (!m_baseTextureName.empty())
        m_meshInstance->SetBaseTexture(m_baseTextureName.c_str());
    if (!m_bumpTextureName.empty())
        m_meshInstance->SetBumpTexture(m_bumpTextureName.c_str());

    m_castsShadows = table.GetBool("castsShadows", true);
    m_meshInstance->SetCastsShadows(m_castsShadows);
    float bias = table.GetFloat("shadowBias", GraphicsMeshInstance::defaultShadowBias);
    if (!IsFiniteFloat(bias))
        bias = GraphicsMeshInstance::defaultShadowBias;
    m_meshInstance->SetShadowBias(bias);

    m_radius = table.GetFloat("actorRadius", 1.0f);
    m_height = table.GetFloat("actorHeight", 1.0f);

    float scale = table.GetFloat("scale", 1.0f);
    if (!IsFiniteFloat(scale)) {
        LogPrintf(1, "Actor '%s': scale is not a number; 1 is used", GetObjectName().c_str());
        scale = 1.0f;
    }
    m_baseScale = scale;
    SetScale(scale);

    const bool allow = table.GetBool("allowTransparency", false);
    EnableTransparency(allow, table.GetFloat("maxTransparency", 0.5f));
}

void Actor::PreLoad(bool immediate)
{
    Entity::PreLoad(immediate);
    m_meshInstance->PreLoad(immediate);
}

void Actor::EnableTransparency(bool allow, float maxTransparency)
{
    m_allowTransparency = allow;
    // NaN: opaque.
    m_maxTransparency = maxTransparency >= 1.0f ? 1.0f : maxTransparency > 0.0f ? maxTransparency : 0.0f;
}

// ---- Mesh and look -----------------------------------------------------------------------------

GraphicsMesh* Actor::GetLoadedMesh() const
{
    GraphicsMesh* mesh = m_meshInstance ? m_meshInstance->GetMesh() : nullptr;
    return mesh && mesh->GetLoadedState() == Resource::LOAD_STATE_LOADED ? mesh : nullptr;
}

void Actor::SetMesh(const std::string& name)
{
    m_meshInstance->SetMesh(name.c_str());
}

void Actor::RestoreMesh()
{
    m_meshInstance->SetMesh(m_meshName.c_str());
}

void Actor::SetBaseTexture(const char* name)
{
    if (!name && !m_baseTextureName.empty())
        name = m_baseTextureName.c_str();
    m_meshInstance->SetBaseTexture(name);
}

void Actor::SetBumpTexture(const char* name)
{
    if (!name && !m_bumpTextureName.empty())
        name = m_bumpTextureName.c_str();
    m_meshInstance->SetBumpTexture(name);
}

void Actor::SetScale(float scale)
{
    m_currentScale = scale;
    m_meshInstance->SetScale(scale);
}

bool Actor::GetIsDissolved() const
{
    return m_meshInstance && m_meshInstance->GetIsDissolved();
}

Coords Actor::ScaledFrame(const Coords& frame) const
{
    const float s = m_meshInstance->GetScale();
    return Coords(frame.xAxis * s, frame.yAxis * s, frame.zAxis * s, frame.origin * s);
}

// ---- Animation ---------------------------------------------------------------------------------

void Actor::PlayAnimation(int channel, const GraphicsAnim* anim, bool loop, float speed, int blendTimeMs)
{
    if (AnimChannel* c = m_meshInstance->GetAnimChannel(channel))
        c->PlayAnimation(anim, loop, speed, blendTimeMs);
}

void Actor::StopAnimation(int channel)
{
    if (AnimChannel* c = m_meshInstance->GetAnimChannel(channel))
        c->StopAnimation();
}

void Actor::StopAnimations()
{
    for (int i = 0; i < m_meshInstance->GetNumAnimChannels(); ++i)
        StopAnimation(i);
}

void Actor::SetAnimationSpeedMultiplier(int channel, float multiplier)
{
    if (AnimChannel* c = m_meshInstance->GetAnimChannel(channel))
        c->current.speed = multiplier;
}

// ---- Pose --------------------------------------------------------------------------------------

Actor* Actor::GetParentActor() const
{
    return Cast(GetParent());
}

void Actor::UpdatePose(const Actor* parent)
{
    TweakPose();
    m_meshInstance->UpdatePose(parent ? parent->m_meshInstance : nullptr, false);
}

void Actor::GetPose(SkeletalPose& pose)
{
    pose = m_meshInstance->GetSkeletalPose();
}

void Actor::SetPose(const SkeletalPose& pose)
{
    m_meshInstance->SetSkeletalPose(pose);
    UpdatePose(GetParentActor());
}

void Actor::SetObjectSpacePose(const SkeletalPose& pose)
{
    m_meshInstance->SetPoseFromObjectSpace(pose);
    UpdatePose(GetParentActor());
}

WorldCoords Actor::GetBoneCoords(const Name& bone) const
{
    const GraphicsMesh* mesh = GetLoadedMesh();
    const int32_t index = mesh ? mesh->GetBoneIndex(bone) : -1;
    if (index < 0)
        return GetCoords();
    return GetCoords() * ScaledFrame(mesh->GetAbsCoords(m_meshInstance->GetSkeletalPose(), index));
}

int Actor::GetNumSkeletonEmitterBones() const
{
    const GraphicsMesh* mesh = m_meshInstance->GetMesh();
    return mesh ? static_cast<int>(mesh->GetNumSkeletonEmitterBones()) : 0;
}

std::string Actor::GetSkeletonEmitterBone(int index) const
{
    const GraphicsMesh* mesh = m_meshInstance->GetMesh();
    if (!mesh || index < 0 || static_cast<uint32_t>(index) >= mesh->GetNumSkeletonEmitterBones())
        return std::string();
    return mesh->GetSkeletonEmitterBone(static_cast<uint32_t>(index));
}

void Actor::ApplyRagDollPose()
{
    const auto* ragDoll = dynamic_cast<const PhysicsRagDoll*>(GetPhysicsObject());
    const GraphicsMesh* mesh = GetLoadedMesh();
    if (!ragDoll || !ragDoll->IsInSimulation() || !mesh)
        return;
    // Object-space frames, parents before children: a carried bone where its body is, any other
    // bone where its own pose puts it below its parent.
    const uint32_t count = mesh->GetNumBones();
    const SkeletalPose& pose = m_meshInstance->GetSkeletalPose();
    std::vector<Coords> frames(count);
    std::vector<bool> done(count, false);
    std::vector<uint32_t> chain;
    for (uint32_t i = 0; i < count; ++i) {
        chain.clear();
        // The mesh refuses cycles; the bound keeps a bad skeleton from looping all the same.
        for (int32_t b = static_cast<int32_t>(i);
             b >= 0 && !done[static_cast<size_t>(b)] && chain.size() <= count;
             b = mesh->GetBone(static_cast<uint32_t>(b)).parent)
            chain.push_back(static_cast<uint32_t>(b));
        for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
            const GraphicsMesh::Bone& bone = mesh->GetBone(*it);
            Coords frame;
            if (!ragDoll->GetBoneCoords(bone.name, frame)) {
                const Coords parent = bone.parent >= 0 && done[static_cast<size_t>(bone.parent)]
                                          ? frames[static_cast<size_t>(bone.parent)]
                                          : Coords();
                frame = parent * bone.relativeCoords * pose.GetBoneCoords(bone.name);
            }
            frames[*it] = frame;
            done[*it] = true;
        }
    }
    SkeletalPose objectSpace;
    for (uint32_t i = 0; i < count; ++i)
        objectSpace.SetBoneCoords(mesh->GetBone(i).name, frames[i]);
    m_meshInstance->SetPoseFromObjectSpace(objectSpace);
}

// ---- Update ------------------------------------------------------------------------------------

void Actor::OnAddToLevel(Level* level)
{
    Entity::OnAddToLevel(level);
    m_lastFrameRendered = EngineDataServices::FrameCount();
}

void Actor::InitialUpdate()
{
    Entity::InitialUpdate();
    m_lastFrameRendered = EngineDataServices::FrameCount();
}

void Actor::UpdateSelf(int elapsed)
{
    m_updatedSinceShown = true;
    // Attached actors share their parent's skeleton.
    Actor* parent = GetParentActor();
    if (parent)
        m_meshInstance->SetSkeletalPose(parent->m_meshInstance->GetSkeletalPose());
    PreAnimationUpdate(elapsed);

    Vec3 rootMotion;
    if (EngineDataServices::FrameCount() - m_lastFrameRendered <= 1) {
        m_meshInstance->Update(elapsed, rootMotion, false);
        if (GetPhysicsType() == PHYSICS_TYPE_RAG_DOLL)
            ApplyRagDollPose();
        m_meshInstance->UpdateSectionOpacities(elapsed, 1.0f - m_maxTransparency);
        UpdatePose(parent);
    } else {
        // Out of view: the animation and its root motion advance, the pose work waits.
        m_meshInstance->Update(elapsed, rootMotion, true);
    }
    if (!parent && GetRegion())
        m_motion = GetCoords().GetRegionCoords().TransformVector(rootMotion);

    Entity::UpdateSelf(elapsed);

    if (!m_attachmentsCreated && GetLoadedMesh()) {
        CreateAttachmentsFromMesh();
        m_meshInstance->UpdateBoundingBox(false);
        UpdateBoundingBox();
    }
}

void Actor::CreateAttachmentsFromMesh()
{
    m_attachmentsCreated = true;
    const GraphicsMesh* mesh = m_meshInstance->GetMesh();
    if (!mesh)
        return;
    ObjectManager* objects = ObjectManager::Get();
    const uint32_t count = mesh->GetNumCreationData();
    for (uint32_t i = 0; i < count; ++i) {
        std::string record, attachPoint;
        if (!mesh->GetCreationData(i, record, attachPoint))
            continue;
        Object* object = objects->CreateObjectFromFile(record, 0, true);
        if (!object)
            continue;
        if (!Entity::IsEntity(object)) {
            LogPrintf(1, "Actor '%s': the mesh's record '%s' makes no entity", GetObjectName().c_str(),
                      record.c_str());
            objects->DestroyObjectEx(object, __FILE__, __LINE__);
            continue;
        }
        Attach(static_cast<Entity*>(object), Coords(), attachPoint.c_str());
    }
}

// ---- Boxes and queries -------------------------------------------------------------------------

void Actor::UpdateBoundingBox()
{
    ABBox box = PlaceBox(GetCoords().GetRegionCoords(), m_meshInstance->GetObjectSpaceBoundingBox());
    SetRegionBoundingBox(box, true);

    Region* region = GetRegion();
    if (region) {
        for (int i = 0; i < GetNumAttachedEntities(); ++i) {
            Entity* child = GetAttachedEntity(i);
            if (!child)
                continue;
            child->UpdateBoundingBox();
            const ABBox& childBox = child->GetRegionBoundingBox();
            Region* childRegion = child->GetRegion();
            // A child whose box was never placed sits at a zero coordinate: it is left out.
            if (!childRegion || childBox.center.x == 0.0f || childBox.center.y == 0.0f ||
                childBox.center.z == 0.0f)
                continue;
            const Vec3 center = region->GetRelativePosition(WorldVec3(childRegion, childBox.center));
            box = box.Union(ABBox(center, childBox.extents));
        }
    }
    SetRegionBoundingBox(box);
}

PhysicsMesh* Actor::GetPhysicsMesh() const
{
    const GraphicsMesh* mesh = GetLoadedMesh();
    return mesh ? mesh->GetPhysicsMesh() : nullptr;
}

bool Actor::GetCollisionProxy(OBBox& box) const
{
    const GraphicsMesh* mesh = GetLoadedMesh();
    if (!mesh)
        return false;
    const ABBox& bounds = mesh->GetBoundingBox();
    const float s = m_currentScale;
    const Coords frame = GetCoords().GetRegionCoords();
    Vec3 extents = bounds.extents * std::fabs(s);
    extents = Vec3(std::max(extents.x, minProxyExtent), std::max(extents.y, minProxyExtent),
                   std::max(extents.z, minProxyExtent));
    box = OBBox(extents,
                Coords(frame.xAxis, frame.yAxis, frame.zAxis, frame.TransformPoint(bounds.center * s)));
    return true;
}

int Actor::GetNumCollisionBoxes() const
{
    const GraphicsMesh* mesh = GetLoadedMesh();
    return mesh ? static_cast<int>(mesh->GetNumHitBoxes()) : 0;
}

OBBox Actor::GetCollisionBox(int index) const
{
    const GraphicsMesh* mesh = GetLoadedMesh();
    if (!mesh || index < 0 || static_cast<uint32_t>(index) >= mesh->GetNumHitBoxes())
        return OBBox();
    OBBox box = mesh->GetHitBox(static_cast<uint32_t>(index), m_meshInstance->GetSkeletalPose()).box;
    box.extents = box.extents * std::fabs(m_currentScale);
    box.coords.origin = box.coords.origin * m_currentScale;
    return OBBox(box.extents, GetCoords().GetRegionCoords() * box.coords);
}

Vec3 Actor::GetCenterOfMass() const
{
    const GraphicsMesh* mesh = GetLoadedMesh();
    return mesh ? mesh->GetBoundingBox().center : Vec3();
}

void Actor::GetIntersection(const Ray& ray, Intersection& intersection, PhysicsSurface surface) const
{
    intersection.distance = gInfinity;
    if (!GetLoadedMesh())
        return;
    const Coords inverse = GetCoords().GetRegionCoords().Inverse();
    const Ray local(inverse.TransformPoint(ray.origin), inverse.TransformVector(ray.direction));
    Intersection hit;
    m_meshInstance->GetIntersection(local, hit, surface);
    if (hit.distance < gInfinity) {
        intersection = hit;
        intersection.point = ray.GetPoint(hit.distance);
    }
}

WorldCoords Actor::GetAttachedCoords(const Name& attachPoint) const
{
    Coords frame;
    if (const GraphicsMesh* mesh = GetLoadedMesh())
        mesh->GetAttachedCoords(m_meshInstance->GetSkeletalPose(), attachPoint, frame);
    return GetCoords() * ScaledFrame(frame);
}

float Actor::GetExtents() const
{
    if (!m_meshInstance)
        return 0.0f;
    const Vec3& extents = m_meshInstance->GetRegionSpaceBoundingBox().extents;
    return 0.5f * (extents.x + extents.z);
}

// ---- Drawing -----------------------------------------------------------------------------------

void Actor::SetVisibility(bool visible)
{
    m_updatedSinceShown = false;
    Entity::SetVisibility(visible);
}

bool Actor::GetVisibility() const
{
    return Entity::GetVisibility() && m_meshInstance && m_meshInstance->GetDissolveParam() < 1.0f;
}

bool Actor::GetIsReadyToRender() const
{
    return Entity::GetIsReadyToRender() && m_attachmentsCreated && m_meshInstance->GetIsReadyToRender();
}

void Actor::SetTransparency(const Frustum& frustum)
{
    if (m_allowTransparency)
        m_meshInstance->SetTransparency(frustum);
}

void Actor::SetTransparency(float transparency)
{
    m_transparency = transparency;
    for (int i = 0; i < GetNumAttachedEntities(); ++i)
        if (Actor* child = Cast(GetAttachedEntity(i)))
            child->SetTransparency(transparency);
}

void Actor::AddToScene(GraphicsSceneRenderer& renderer, const Frustum* frustum)
{
    if (!GetVisibility())
        return;
    Entity::AddToScene(renderer, frustum);
    if (m_updatedSinceShown && m_meshInstance->IsAnimationValid() &&
        renderer.IsRenderFlagSet(GraphicsSceneRenderer::RENDER_MESHES) &&
        !(renderer.IsShadowOnly() && !m_castsShadows)) {
        m_meshInstance->SetDiffuseColor(m_tintColor);
        m_meshInstance->SetHighlight(GetAmbientHighlight() + (m_highlight ? highlightBoost : 0.0f));
        const WorldCoords coords = GetCoords();
        m_meshInstance->SetObjectToRegionCoords(coords.GetRegionCoords());
        m_meshInstance->PrepareForRendering();
        Region* region = GetRegion();
        renderer.AddRenderable(m_meshInstance, region);
        if (renderer.IsRenderFlagSet(GraphicsSceneRenderer::RENDER_BOUNDING_BOXES))
            if (DebugRenderManager* debug = DebugRenderManager::Get())
                debug->RenderBox(region, GetRegionBoundingBox(), Color(1.0f, 1.0f, 1.0f, 1.0f));
    }
    m_lastFrameRendered = EngineDataServices::FrameCount();
}

// ---- State, events, commands -------------------------------------------------------------------

void Actor::SaveState(BinaryWriter& writer) const
{
    Entity::SaveState(writer);
    const bool withPose = m_meshInstance && (GetPhysicsType() == PHYSICS_TYPE_RAG_DOLL || m_poseRestored);
    writer.WriteUInt32(withPose ? 1u : 0u);
    if (withPose)
        m_meshInstance->SaveState(writer);
}

void Actor::RestoreState(BinaryReader& reader)
{
    Entity::RestoreState(reader);
    if (reader.ReadUInt32() == 0)
        return;
    if (m_meshInstance->RestoreState(reader))
        m_poseRestored = true;
    else
        LogPrintf(1, "Actor '%s': the saved pose is cut short or damaged", GetObjectName().c_str());
}

void Actor::AnimationCallback(int event, const Name& name)
{
    Entity::AnimationCallback(event, name);
    const EventNames& names = Events();
    if (name == names.cameraShake) {
        SendCameraShake(500.0f, 0.5f);
    } else if (name == names.longCameraShake) {
        SendCameraShake(9000.0f, 0.75f);
    } else if (name == names.displaceGrass) {
        Region* region = GetRegion();
        World* world = region && region->GetWorld() ? region->GetWorld() : World::GetCurrent();
        if (world)
            world->CreateDisturbance(GetCoords().GetOrigin(), 2.0f, 5.0f, SPLASH_NONE);
    }
}

std::u16string Actor::GetGameDescription(bool)
{
    return LocalizationManager::Instance()->Localize("SimpleStringFormat", m_descriptionTag.c_str());
}

bool Actor::Enqueue(ActorConfigCommand* command)
{
    return ActorConfigCommand::Dispatch(command, *this);
}

bool Actor::LocalEnqueue(ActorConfigCommand* command)
{
    return ActorConfigCommand::ExecuteAndDelete(command);
}

void Actor::AppendDetailMapData(std::vector<MinimapGameNugget>& nuggets)
{
    if (!m_shownOnMinimap)
        return;
    const WorldCoords coords = GetCoords();
    nuggets.emplace_back(MinimapGameNugget::kindActor, GetGameDescription(true), coords.GetOrigin(),
                         coords.GetZAxis());
}

void Actor::PlaySound(const SoundDescriptor& sound, bool once)
{
    if (sound.GetFileName().size() < 2)
        return;
    SoundDescriptor placed = sound;
    placed.SetPosition(GetCoords().GetOrigin());
    m_lastSoundFlag = once;
    m_lastSound = placed;
    if (SoundManager* sounds = gEngine ? gEngine->GetSoundManager() : nullptr)
        sounds->Play3D(placed, once);
}

// ---- Physics -----------------------------------------------------------------------------------

void Actor::CreatePhysicsObject()
{
    if (GetPhysicsObject())
        return;
    if (GetPhysicsType() == PHYSICS_TYPE_RAG_DOLL) {
        const GraphicsMesh* mesh = GetLoadedMesh();
        SetPhysicsObject(mesh ? new PhysicsRagDoll(this, *mesh, m_meshInstance->GetSkeletalPose())
                              : new PhysicsRagDoll(this));
    } else {
        SetPhysicsObject(new PhysicsRigidBody(this));
    }
}

void Actor::SetVelocity(const Vec3& velocity)
{
    if (PhysicsEngine* physics = WorldServices::Physics())
        physics->SetEntityLinearVelocity(this, velocity);
}

bool Actor::HasRigidBodyData() const
{
    const GraphicsMesh* mesh = GetLoadedMesh();
    return mesh && mesh->HasRigidBodyData();
}

} // namespace GAME
