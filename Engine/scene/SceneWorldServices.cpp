#include "scene/SceneWorldServices.h"

#include "core/RegionServices.h"

#include <atomic>

namespace GAME {

namespace {

std::atomic<SceneWorldServices*> g_services{nullptr};

// The answers of a missing world.
class MissingWorld final : public SceneWorldServices
{
public:
    void GetRegionsInFrustum(Region*, const Frustum&, bool, std::vector<Region*>&) override {}
    bool IsLevelLoaded(const Region*) override { return false; }
    bool IsUnderground(const Region*) override { return false; }
    std::string GetRegionName(const Region*) override { return std::string(); }
    int GetRegionIndex(const Region*) override { return -1; }
    bool GetWorldRegionCount(const Region*, int&) override { return false; }
    bool GetShadowSoftness(const Region*, float&) override { return false; }
    void AddRegionToScene(Region*, GraphicsSceneRenderer&, const Coords&, const Frustum&,
                          const WorldFrustum*) override
    {
    }
    void AddReflectionPlanes(Region*, GraphicsReflectionManager&, const Frustum&) override {}
    int GetNumPortals(const Region*) override { return 0; }
    Portal* GetPortal(const Region*, int) override { return nullptr; }
    Region* GetPortalRegion(const Portal*) override { return nullptr; }
    Plane GetPortalPlane(const Portal*) override { return Plane(); }
    bool IsPortalFrontFacing(const Portal*, const Vec3&) override { return false; }
    Vec3 GetPortalChokePoint(const Portal*) override { return Vec3(); }
    OBBox GetPortalBoundingBox(const Portal*) override { return OBBox(); }
    bool PortalIntersects(const Portal*, const Frustum&) override { return false; }
    Region* GetConnectedRegion(const Portal*) override { return nullptr; }
    bool GetBackToFrontCoords(const Portal*, Coords&, Region*&) override { return false; }
    void RenderPortal(const Portal*, WorldPrimitiveDrawer&, const Coords&) override {}
    void GetLevelEntitiesInFrustum(Region*, const Frustum&, std::vector<Entity*>&) override {}
    void GetUpdatedEntitiesInFrustum(Region*, const Frustum&, std::vector<Entity*>&) override {}
    void GetUpdatedEntitiesInSphere(Region*, const Sphere&, std::vector<Entity*>&) override {}
    Region* GetEntityRegion(const Entity*) override { return nullptr; }
    ABBox GetEntityRegionBoundingBox(const Entity*) override { return ABBox(); }
    bool RendersAcrossPortals(const Entity*) override { return false; }
    bool CastsShadows(const Entity*) override { return false; }
    bool PassesRenderFilter(const Entity*) override { return true; }
    void AddEntityToScene(Entity*, GraphicsSceneRenderer&, const Frustum*) override {}
    void AnimationCallback(Entity*, int, const Name&) override {}
    void CreateAnimationEntity(Entity*, const std::string&, const std::string&) override {}
    SceneDayLight* GetDayLight() override { return nullptr; }
};

} // namespace

void SceneWorldServices::Install(SceneWorldServices* services)
{
    g_services.store(services, std::memory_order_release);
}

SceneWorldServices* SceneWorldServices::Get()
{
    return g_services.load(std::memory_order_acquire);
}

SceneWorldServices& SceneWorldServices::Current()
{
    // Never destroyed: renderers may still ask while the library's statics go.
    static MissingWorld* const missing = new MissingWorld;
    SceneWorldServices* services = Get();
    return services ? *services : *missing;
}

Coords SceneWorldServices::RelativeTransformation(const Region* region, const Region* other)
{
    return RegionServices::RelativeTransformation(region, other);
}

Vec3 SceneWorldServices::RelativePosition(const Region* region, const WorldVec3& position)
{
    return RegionServices::RelativePosition(region, position);
}

} // namespace GAME
