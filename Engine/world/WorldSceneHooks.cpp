#include "world/WorldSceneHooks.h"

#include "world/Actor.h"
#include "world/DayNightManager.h"
#include "world/EffectEntity.h"
#include "world/Entity.h"
#include "world/Level.h"
#include "world/Portal.h"
#include "world/Region.h"
#include "world/World.h"
#include "world/WorldServices.h"

namespace GAME {

namespace {

// What the region's world says; false when the region is in no world.
template <class T> bool AskWorld(const Region* region, T& out, T (World::*read)() const)
{
    const World* world = region ? region->GetWorld() : nullptr;
    if (!world)
        return false;
    out = (world->*read)();
    return true;
}

} // namespace

// ---- Regions ------------------------------------------------------------------------------------

void WorldSceneHooks::GetRegionsInFrustum(Region* region, const Frustum& frustum, bool connectedOnly,
                                          std::vector<Region*>& out)
{
    if (!region)
        return;
    if (World* world = region->GetWorld())
        world->GetRegionsInFrustum(out, region, frustum, connectedOnly);
    else
        region->GetRegionsInFrustum(out, frustum);
}

bool WorldSceneHooks::IsLevelLoaded(const Region* region)
{
    return region && region->IsLevelLoaded();
}

bool WorldSceneHooks::IsUnderground(const Region* region)
{
    return region && region->IsUnderground();
}

std::string WorldSceneHooks::GetRegionName(const Region* region)
{
    return region ? region->GetName() : std::string();
}

int WorldSceneHooks::GetRegionIndex(const Region* region)
{
    return region ? region->GetRegionIndex() : -1;
}

bool WorldSceneHooks::GetWorldRegionCount(const Region* region, int& count)
{
    return AskWorld(region, count, &World::GetNumRegions);
}

bool WorldSceneHooks::GetShadowSoftness(const Region* region, float& softness)
{
    return AskWorld(region, softness, &World::GetShadowSoftness);
}

void WorldSceneHooks::AddRegionToScene(Region* region, GraphicsSceneRenderer& renderer,
                                       const Coords& regionToScene, const Frustum& frustum,
                                       const WorldFrustum* transparencyFrustum)
{
    if (region)
        region->AddToScene(renderer, regionToScene, frustum, transparencyFrustum);
}

void WorldSceneHooks::AddReflectionPlanes(Region* region, GraphicsReflectionManager& manager,
                                          const Frustum& frustum)
{
    if (Level* level = region ? region->GetLevel(false) : nullptr)
        level->AddReflectionPlanes(manager, frustum);
}

// ---- Portals ------------------------------------------------------------------------------------

int WorldSceneHooks::GetNumPortals(const Region* region)
{
    return region ? region->GetNumPortals() : 0;
}

Portal* WorldSceneHooks::GetPortal(const Region* region, int index)
{
    return region ? region->GetPortal(index) : nullptr;
}

Region* WorldSceneHooks::GetPortalRegion(const Portal* portal)
{
    return portal ? portal->GetRegion() : nullptr;
}

Plane WorldSceneHooks::GetPortalPlane(const Portal* portal)
{
    return portal ? portal->GetPlane() : Plane();
}

bool WorldSceneHooks::IsPortalFrontFacing(const Portal* portal, const Vec3& point)
{
    return portal && portal->IsFrontFacing(point);
}

Vec3 WorldSceneHooks::GetPortalChokePoint(const Portal* portal)
{
    return portal ? portal->GetChokePoint().GetOrigin().GetRegionPosition() : Vec3();
}

OBBox WorldSceneHooks::GetPortalBoundingBox(const Portal* portal)
{
    return portal ? portal->GetRegionBoundingBox() : OBBox();
}

bool WorldSceneHooks::PortalIntersects(const Portal* portal, const Frustum& frustum)
{
    return portal && portal->TestIntersection(frustum);
}

Region* WorldSceneHooks::GetConnectedRegion(const Portal* portal)
{
    return portal ? portal->GetConnectedRegion() : nullptr;
}

bool WorldSceneHooks::GetBackToFrontCoords(const Portal* portal, Coords& out, Region*& other)
{
    return portal && portal->GetBackToFrontCoords(out, other);
}

void WorldSceneHooks::RenderPortal(const Portal* portal, WorldPrimitiveDrawer& drawer, const Coords& frame)
{
    if (portal)
        portal->Render(drawer, frame);
}

// ---- Entities -----------------------------------------------------------------------------------

void WorldSceneHooks::GetLevelEntitiesInFrustum(Region* region, const Frustum& frustum,
                                                std::vector<Entity*>& out)
{
    if (Level* level = region ? region->GetLevelUnlessBroken(true) : nullptr)
        level->GetEntitiesInFrustum(out, &frustum, 1, false, ENTITY_LIST_ALL, false);
}

void WorldSceneHooks::GetUpdatedEntitiesInFrustum(Region* region, const Frustum& frustum,
                                                  std::vector<Entity*>& out)
{
    if (region)
        region->GetEntitiesInFrustum(out, frustum, false, nullptr, ENTITY_LIST_UPDATED, false, false);
}

void WorldSceneHooks::GetUpdatedEntitiesInSphere(Region* region, const Sphere& sphere,
                                                 std::vector<Entity*>& out)
{
    if (region)
        region->GetEntitiesInSphere(out, sphere, false, ENTITY_LIST_UPDATED);
}

Region* WorldSceneHooks::GetEntityRegion(const Entity* entity)
{
    return entity ? entity->GetRegion() : nullptr;
}

ABBox WorldSceneHooks::GetEntityRegionBoundingBox(const Entity* entity)
{
    return entity ? entity->GetRegionBoundingBox() : ABBox();
}

bool WorldSceneHooks::RendersAcrossPortals(const Entity* entity)
{
    return entity && entity->GetShouldRenderAcrossPortals();
}

bool WorldSceneHooks::CastsShadows(const Entity* entity)
{
    const Actor* actor = Actor::Cast(entity);
    return actor && actor->GetVisibility() && actor->GetCastsShadows();
}

bool WorldSceneHooks::PassesRenderFilter(const Entity* entity)
{
    const FilterFunction<Entity>* filter = WorldServices::EntityRenderFilter();
    return !filter || (*filter)(entity);
}

void WorldSceneHooks::AddEntityToScene(Entity* entity, GraphicsSceneRenderer& renderer,
                                       const Frustum* frustum)
{
    if (entity)
        entity->AddToScene(renderer, frustum);
}

void WorldSceneHooks::AnimationCallback(Entity* entity, int channel, const Name& name)
{
    if (entity)
        entity->AnimationCallback(channel, name);
}

void WorldSceneHooks::CreateAnimationEntity(Entity* entity, const std::string& record,
                                            const std::string& attach)
{
    Entity* created = entity ? entity->CreateAttachedEntity(record, attach) : nullptr;
    if (created && created->GetClassInfo().IsA(EffectEntity::GetStaticClassInfo()))
        static_cast<EffectEntity*>(created)->MakeSelfDeletingChild();
}

// ---- The time of day ----------------------------------------------------------------------------

SceneDayLight* WorldSceneHooks::GetDayLight()
{
    m_dayLight.manager = DayNightManager::Get();
    return m_dayLight.manager ? &m_dayLight : nullptr;
}

bool WorldSceneHooks::DayLight::IsDay()
{
    return manager->IsDay();
}

Color WorldSceneHooks::DayLight::GetLightColor()
{
    return manager->GetLightColor();
}

Color WorldSceneHooks::DayLight::GetSkyAmbientColor()
{
    return manager->GetSkyAmbientColor();
}

Color WorldSceneHooks::DayLight::GetGroundAmbientColor()
{
    return manager->GetGroundAmbientColor();
}

Vec3 WorldSceneHooks::DayLight::GetLightDirection()
{
    return manager->GetLightDirection();
}

} // namespace GAME
