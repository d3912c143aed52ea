// What the scene renderers and animation channels need of the world above them, which they may not
// include: the regions a view sees and what each holds (its level's contents, its entities, its
// reflection planes), the portals between regions, the entities that cast shadows or render across
// portals, the time of day's light (through a SceneDayLight), and the entities that hear an
// animation's events. Regions' offsets come from core's RegionServices; the objects named here only
// pass through scene as pointers.
//
// The world implements this interface (world/WorldSceneHooks.h) and installs it for as long as
// the library is loaded (world/WorldHooks.cpp): regions, portals and entities exist without an
// engine. Without an implementation (never the case inside the library) Current() answers for a
// missing world: no region is seen, regions have no name, index, level or portal, nothing is
// underground, portals lead nowhere, there are no entities and no time of day.
//
// Threads: main thread, like the objects it reads; Install while nothing else runs.
#pragma once

#include "core/ABBox.h"
#include "core/Color.h"
#include "core/Coords.h"
#include "core/OBBox.h"
#include "core/Plane.h"
#include "core/Vec3.h"

#include <string>
#include <vector>

namespace GAME {

class Entity;
class Frustum;
class GraphicsReflectionManager;
class GraphicsSceneRenderer;
class Name;
class Portal;
class Region;
class SceneDayLight;
class Sphere;
class WorldFrustum;
class WorldPrimitiveDrawer;
class WorldVec3;

class SceneWorldServices
{
public:
    virtual ~SceneWorldServices() = default;

    // ---- Regions ----
    // The regions a view from the region sees: its world's regions whose box meets the frustum (in
    // the region's space; with connectedOnly only those a few connections away), or the region
    // itself, when it is in no world and its box meets the frustum. Appended to out.
    virtual void GetRegionsInFrustum(Region* region, const Frustum& frustum, bool connectedOnly,
                                     std::vector<Region*>& out) = 0;
    virtual bool IsLevelLoaded(const Region* region) = 0;
    virtual bool IsUnderground(const Region* region) = 0;
    virtual std::string GetRegionName(const Region* region) = 0;
    virtual int GetRegionIndex(const Region* region) = 0;
    // The number of regions in the region's world; false when it is in no world.
    virtual bool GetWorldRegionCount(const Region* region, int& count) = 0;
    // The shadow softness of the region's world; false when it is in no world.
    virtual bool GetShadowSoftness(const Region* region, float& softness) = 0;
    // Region::AddToScene: the region's level (loaded for the asking) adds what the frustum sees.
    virtual void AddRegionToScene(Region* region, GraphicsSceneRenderer& renderer,
                                  const Coords& regionToScene, const Frustum& frustum,
                                  const WorldFrustum* transparencyFrustum) = 0;
    // The region's level (loaded now, when not in yet) adds the reflection planes the frustum sees.
    virtual void AddReflectionPlanes(Region* region, GraphicsReflectionManager& manager,
                                     const Frustum& frustum) = 0;

    // ---- Portals ----
    virtual int GetNumPortals(const Region* region) = 0;
    // Null outside [0, GetNumPortals()).
    virtual Portal* GetPortal(const Region* region, int index) = 0;
    virtual Region* GetPortalRegion(const Portal* portal) = 0;
    virtual Plane GetPortalPlane(const Portal* portal) = 0;
    virtual bool IsPortalFrontFacing(const Portal* portal, const Vec3& point) = 0;
    // The choke point, in the portal's region.
    virtual Vec3 GetPortalChokePoint(const Portal* portal) = 0;
    virtual OBBox GetPortalBoundingBox(const Portal* portal) = 0;
    virtual bool PortalIntersects(const Portal* portal, const Frustum& frustum) = 0;
    // The region behind the portal; null when none.
    virtual Region* GetConnectedRegion(const Portal* portal) = 0;
    // Portal::GetBackToFrontCoords: false, with out and other untouched, when nothing lies behind.
    virtual bool GetBackToFrontCoords(const Portal* portal, Coords& out, Region*& other) = 0;
    virtual void RenderPortal(const Portal* portal, WorldPrimitiveDrawer& drawer, const Coords& frame) = 0;

    // ---- Entities ----
    // The entities of the region's level (loaded with its render data) in the frustum, of every list.
    virtual void GetLevelEntitiesInFrustum(Region* region, const Frustum& frustum,
                                           std::vector<Entity*>& out) = 0;
    // The updated entities the region's world (or the region alone) holds in the frustum or sphere,
    // without crossing portals.
    virtual void GetUpdatedEntitiesInFrustum(Region* region, const Frustum& frustum,
                                             std::vector<Entity*>& out) = 0;
    virtual void GetUpdatedEntitiesInSphere(Region* region, const Sphere& sphere,
                                            std::vector<Entity*>& out) = 0;
    virtual Region* GetEntityRegion(const Entity* entity) = 0;
    virtual ABBox GetEntityRegionBoundingBox(const Entity* entity) = 0;
    virtual bool RendersAcrossPortals(const Entity* entity) = 0;
    // A visible actor that casts shadows.
    virtual bool CastsShadows(const Entity* entity) = 0;
    // Whether the host's entity render filter (when it has one) lets the entity be drawn.
    virtual bool PassesRenderFilter(const Entity* entity) = 0;
    virtual void AddEntityToScene(Entity* entity, GraphicsSceneRenderer& renderer,
                                  const Frustum* frustum) = 0;
    // An animation's named event, heard by the entity playing it.
    virtual void AnimationCallback(Entity* entity, int channel, const Name& name) = 0;
    // Attaches a new entity of the record at the attach point; an effect made so goes away by itself
    // once it has played.
    virtual void CreateAnimationEntity(Entity* entity, const std::string& record,
                                       const std::string& attach) = 0;

    // ---- The time of day ----
    // Its light; null when there is no time of day. Asked again for each picture: what it hands over
    // lasts as long as that time of day.
    virtual SceneDayLight* GetDayLight() = 0;

    // Installs the one implementation (null removes it).
    static void Install(SceneWorldServices* services);
    // Null when none is installed.
    static SceneWorldServices* Get();
    // The installed implementation, or the answers of a missing world.
    static SceneWorldServices& Current();

    // Core's RegionServices::RelativeTransformation and RelativePosition, under the names the
    // renderers use.
    static Coords RelativeTransformation(const Region* region, const Region* other);
    static Vec3 RelativePosition(const Region* region, const WorldVec3& position);
};

} // namespace GAME
