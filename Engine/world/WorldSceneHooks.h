// The world's answers to scene's SceneWorldServices: the regions a view sees and what each adds to a
// scene (its level's contents, its reflection planes), a region's name, index, world size and
// shadow softness, its portals and what lies behind them, the entities that cast shadows, render
// across portals or pass the host's render filter, the entities that hear an animation's events,
// and the time of day's light (the DayNightManager's, while there is one). WorldHooks installs it.
//
// Threads: main thread, like the regions, entities and time of day it reads.
#pragma once

#include "scene/SceneDayLight.h"
#include "scene/SceneWorldServices.h"

namespace GAME {

class DayNightManager;

class WorldSceneHooks final : public SceneWorldServices
{
public:
    // Regions
    void GetRegionsInFrustum(Region* region, const Frustum& frustum, bool connectedOnly,
                             std::vector<Region*>& out) override;
    bool IsLevelLoaded(const Region* region) override;
    bool IsUnderground(const Region* region) override;
    std::string GetRegionName(const Region* region) override;
    int GetRegionIndex(const Region* region) override;
    bool GetWorldRegionCount(const Region* region, int& count) override;
    bool GetShadowSoftness(const Region* region, float& softness) override;
    void AddRegionToScene(Region* region, GraphicsSceneRenderer& renderer, const Coords& regionToScene,
                          const Frustum& frustum, const WorldFrustum* transparencyFrustum) override;
    void AddReflectionPlanes(Region* region, GraphicsReflectionManager& manager,
                             const Frustum& frustum) override;

    // Portals
    int GetNumPortals(const Region* region) override;
    Portal* GetPortal(const Region* region, int index) override;
    Region* GetPortalRegion(const Portal* portal) override;
    Plane GetPortalPlane(const Portal* portal) override;
    bool IsPortalFrontFacing(const Portal* portal, const Vec3& point) override;
    Vec3 GetPortalChokePoint(const Portal* portal) override;
    OBBox GetPortalBoundingBox(const Portal* portal) override;
    bool PortalIntersects(const Portal* portal, const Frustum& frustum) override;
    Region* GetConnectedRegion(const Portal* portal) override;
    bool GetBackToFrontCoords(const Portal* portal, Coords& out, Region*& other) override;
    void RenderPortal(const Portal* portal, WorldPrimitiveDrawer& drawer, const Coords& frame) override;

    // Entities
    void GetLevelEntitiesInFrustum(Region* region, const Frustum& frustum,
                                   std::vector<Entity*>& out) override;
    void GetUpdatedEntitiesInFrustum(Region* region, const Frustum& frustum,
                                     std::vector<Entity*>& out) override;
    void GetUpdatedEntitiesInSphere(Region* region, const Sphere& sphere, std::vector<Entity*>& out) override;
    Region* GetEntityRegion(const Entity* entity) override;
    ABBox GetEntityRegionBoundingBox(const Entity* entity) override;
    bool RendersAcrossPortals(const Entity* entity) override;
    bool CastsShadows(const Entity* entity) override;
    bool PassesRenderFilter(const Entity* entity) override;
    void AddEntityToScene(Entity* entity, GraphicsSceneRenderer& renderer, const Frustum* frustum) override;
    void AnimationCallback(Entity* entity, int channel, const Name& name) override;
    void CreateAnimationEntity(Entity* entity, const std::string& record, const std::string& attach) override;

    // The time of day
    SceneDayLight* GetDayLight() override;

private:
    // The light of the time of day it was last handed over for.
    class DayLight final : public SceneDayLight
    {
    public:
        bool IsDay() override;
        Color GetLightColor() override;
        Color GetSkyAmbientColor() override;
        Color GetGroundAmbientColor() override;
        Vec3 GetLightDirection() override;

        DayNightManager* manager = nullptr;
    };

    DayLight m_dayLight;
};

} // namespace GAME
