#include "world/EffectEntity.h"

#include "core/Intersection.h"
#include "core/ObjectManager.h"
#include "core/Ray.h"
#include "core/Sphere.h"
#include "data/BaseResourceManager.h"
#include "data/EffectResource.h"
#include "data/LoadTable.h"
#include "data/LoadTableResources.h"
#include "graphics/DebugRenderManager.h"
#include "scene/GraphicsMesh.h"
#include "scene/GraphicsMeshInstance.h"
#include "scene/GraphicsSceneRenderer.h"
#include "scene/SkeletalPose.h"
#include "world/Actor.h"
#include "world/Effect.h"
#include "world/EffectData.h"
#include "world/Region.h"
#include "world/World.h"
#include "world/WorldServices.h"

#include <cmath>

namespace GAME {

GAME_REGISTER_CLASS(EffectEntity, Entity)

EffectEntity::EffectEntity()
{
    SetRegionBoundingBox(ABBox(Vec3(), Vec3(1.0f, 1.0f, 1.0f)));
}

EffectEntity::~EffectEntity()
{
    delete m_effect;
    m_effect = nullptr;
    ReleaseResource();
}

void EffectEntity::ReleaseResource()
{
    if (!m_resource)
        return;
    if (BaseResourceManager* manager = m_resource->GetResourceManager())
        manager->UnloadResource(m_resource);
    m_resource = nullptr;
}

void EffectEntity::Load(const LoadTable& constTable)
{
    LoadTable& table = const_cast<LoadTable&>(constTable);
    EffectResource* resource = table.LoadResourceEffect("effectFile");
    ReleaseResource();
    m_resource = resource;

    std::string type = table.GetValue("emitterType", "Standard");
    if (type.empty() || type == "Standard") {
        m_useBones = false;
        m_allBones = false;
    } else if (type == "BoneList") {
        m_useBones = true;
        m_allBones = false;
    } else if (type == "AllBones") {
        m_useBones = true;
        m_allBones = true;
    }
    m_anchored = table.GetBool("Anchored", false);
    std::vector<std::string> names;
    table.GetArrayValue("boneList", names);
    m_boneNames = names;
}

void EffectEntity::Load(const std::string& fileName)
{
    LoadTableResources* resources = LoadTableResources::Get();
    EffectResource* resource =
        resources && !fileName.empty() ? resources->LoadResourceEffect(fileName) : nullptr;
    ReleaseResource();
    m_resource = resource;
    ReLoad();
}

const EffectData* EffectEntity::GetReadyData() const
{
    return m_resource && m_resource->GetIsReadyToUse() ? m_resource->GetEffectData() : nullptr;
}

void EffectEntity::MakeEffect()
{
    delete m_effect;
    m_effect = new Effect(GetReadyData());
    m_effect->SetParentEntity(this);
    m_effect->SetAnchored(m_anchored);
    if (m_emitting)
        m_effect->StartEmitting();
    else
        m_effect->StopEmitting();
}

void EffectEntity::ReLoad()
{
    delete m_effect;
    m_effect = nullptr;
    // A resource still loading gets its effect at the first update after it is ready, so the
    // main thread never waits for the file here.
    if (m_resource && m_resource->GetIsReadyToUse())
        MakeEffect();
}

void EffectEntity::AddToWorld(const WorldCoords& coords, bool selfRemove)
{
    Region* region = coords.GetRegion();
    World* world = region && region->GetWorld() ? region->GetWorld() : World::GetCurrent();
    if (world)
        world->AddEntity(this, coords, false);
    m_selfRemove = selfRemove;
}

void EffectEntity::StartEmitting()
{
    m_emitting = true;
    if (m_effect)
        m_effect->StartEmitting();
}

void EffectEntity::StopEmitting()
{
    m_emitting = false;
    if (m_effect)
        m_effect->StopEmitting();
}

bool EffectEntity::HasActiveParticles() const
{
    return m_effect && m_effect->HasActiveParticles();
}

void EffectEntity::Reset()
{
    if (m_effect)
        m_effect->Reset(GetReadyData());
}

void EffectEntity::PreLoad(bool inFirstFrustum)
{
    Entity::PreLoad(inFirstFrustum);
    if (m_resource)
        if (BaseResourceManager* manager = m_resource->GetResourceManager())
            manager->PreLoadResource(m_resource);
    if (m_effect)
        m_effect->PreLoad(inFirstFrustum);
}

void EffectEntity::AddToScene(GraphicsSceneRenderer& renderer, const Frustum* frustum)
{
    Entity::AddToScene(renderer, frustum);
    if (m_effect)
        m_effect->AddToScene(renderer, frustum);
    if (renderer.IsRenderFlagSet(GraphicsSceneRenderer::RENDER_BOUNDING_BOXES))
        if (DebugRenderManager* debug = DebugRenderManager::Get())
            debug->RenderBox(GetRegion(), GetRegionBoundingBox(), Color(1.0f, 0.0f, 0.0f, 1.0f));
}

void EffectEntity::UpdateBoundingBox()
{
    ABBox box = m_effectBox;
    box.center += GetCoords().GetOrigin().GetRegionPosition();
    SetRegionBoundingBox(box);
}

void EffectEntity::GetIntersection(const Ray& ray, Intersection& intersection, PhysicsSurface surface) const
{
    intersection.distance = gInfinity;
    if (surface == 0 || !WorldServices::EditorMode())
        return;
    const float distance = Sphere(GetCoords().GetOrigin().GetRegionPosition(), 1.0f).IntersectRay(ray);
    intersection.distance = distance;
    if (distance != gInfinity) {
        intersection.point = ray.GetPoint(distance);
        intersection.surface = 0;
    }
}

void EffectEntity::SetDynamicLines(const std::vector<SimpleSeg>& segments, const std::vector<bool>& enabled)
{
    m_dynamicLines = true;
    if (segments.empty()) {
        UpdateBoundingBox();
        return;
    }
    m_bones.clear();
    m_bones.reserve(segments.size());
    for (size_t i = 0; i < segments.size(); ++i) {
        EmitterBone bone;
        bone.end = segments[i].p0;
        bone.start = segments[i].p1;
        if ((bone.start - bone.end).LengthSquared() < 0.001f)
            bone.start = bone.end + Vec3(0.001f, 0.001f, 0.001f);
        bone.lengthWeight = (bone.end - bone.start).Length();
        bone.emitted = 0;
        bone.shouldHaveEmitted = 0.0f;
        bone.emitting = i < enabled.size() && enabled[i];
        m_bones.push_back(bone);
    }
}

bool EffectEntity::PullParentBones(std::vector<EmitterBone>& bones)
{
    const Actor* actor = Actor::Cast(GetParent());
    const GraphicsMesh* mesh = actor ? actor->GetLoadedMesh() : nullptr;
    if (!mesh)
        return false;
    std::vector<int32_t> indices;
    if (m_allBones) {
        for (uint32_t i = 0; i < mesh->GetNumBones(); ++i)
            indices.push_back(static_cast<int32_t>(i));
    } else {
        for (const std::string& name : m_boneNames) {
            const int32_t index = mesh->GetBoneIndex(Name::Create(name.c_str()));
            if (index >= 0)
                indices.push_back(index);
        }
    }
    // Bone emitters start their particles in region space: each bone runs from its parent's posed
    // position to its own, placed where the actor stands and scaled as it is drawn.
    // The emitters draw in this entity's region, which is always the actor's: both are the region
    // of the top-most entity they hang from.
    const SkeletalPose& pose = actor->GetMeshInstance()->GetSkeletalPose();
    const float scale = actor->GetMeshInstance()->GetScale();
    const Coords placement = actor->GetCoords().GetRegionCoords();
    const size_t before = bones.size();
    for (int32_t index : indices) {
        const int32_t parent = mesh->GetBone(static_cast<uint32_t>(index)).parent;
        if (parent < 0)
            continue;
        EmitterBone bone;
        bone.end = placement.TransformPoint(mesh->GetAbsCoords(pose, index).origin * scale);
        bone.start = placement.TransformPoint(mesh->GetAbsCoords(pose, parent).origin * scale);
        bone.lengthWeight = (bone.end - bone.start).Length();
        bone.emitted = 0;
        bone.shouldHaveEmitted = 0.0f;
        bone.emitting = true;
        bones.push_back(bone);
    }
    return bones.size() > before;
}

void EffectEntity::HandBonesToEffect()
{
    // Dynamic lines stay as their owner last set them; a bone effect reads its parent's pose
    // afresh, so its particles start where the bones are in this frame. Without bones to read
    // (no actor parent, its mesh still loading) the effect emits from the entity's frame.
    if (!m_dynamicLines) {
        m_bones.clear();
        if (m_useBones)
            PullParentBones(m_bones);
    }
    m_effect->SetBoneList(m_bones);
}

void EffectEntity::UpdateSelf(int elapsed)
{
    Entity::UpdateSelf(elapsed);

    if (m_lightLevel != m_lightTarget) {
        const float step = static_cast<float>(std::max(elapsed, 0)) * 0.001f;
        const float difference = m_lightTarget - m_lightLevel;
        if (std::fabs(difference) <= step)
            m_lightLevel = m_lightTarget;
        else
            m_lightLevel += difference > 0.0f ? step : -step;
    }

    if (!m_effect && m_resource && m_resource->GetIsReadyToUse())
        MakeEffect();

    if (!GetRegion() || !m_effect)
        return;
    m_effect->SetLightMultiplier(m_lightLevel);
    if (m_anchored) {
        if (Entity* parent = GetParent()) {
            m_anchor1 = parent->GetAttachedCoords(Name::Create("Anchor1")).GetOrigin();
            m_anchor2 = parent->GetAttachedCoords(Name::Create("Anchor2")).GetOrigin();
        } else {
            m_anchor1 = m_anchor2 = GetCoords().GetOrigin();
        }
        m_effect->SetAnchor1(m_anchor1);
        m_effect->SetAnchor2(m_anchor2);
    }
    HandBonesToEffect();
    // The data is fetched every update: the resource may have been evicted and reloaded since.
    m_effect->Update(GetCoords(), GetReadyData(), m_effectBox);
    UpdateBoundingBox();

    if (!m_effect->IsComplete())
        return;
    if (m_selfRemove) {
        if (IsInWorld()) {
            Region* region = GetRegion();
            World* world = region && region->GetWorld() ? region->GetWorld() : World::GetCurrent();
            if (world)
                world->RemoveEntity(this);
        }
        ObjectManager::Get()->DestroyObjectEx(this, __FILE__, __LINE__);
        return;
    }
    if (m_selfDeletingChild) {
        if (Entity* parent = GetParent()) {
            parent->Detach(this);
            ObjectManager::Get()->DestroyObjectEx(this, __FILE__, __LINE__);
        }
    }
}

} // namespace GAME
