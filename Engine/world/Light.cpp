#include "world/Light.h"

#include "core/Frustum.h"
#include "core/Intersection.h"
#include "core/Ray.h"
#include "core/Sphere.h"
#include "data/LoadTable.h"
#include "graphics/DebugRenderManager.h"
#include "graphics/EditorFilter.h"
#include "graphics/GraphicsEngine.h"
#include "scene/GraphicsLight.h"
#include "scene/GraphicsSceneRenderer.h"
#include "world/Engine.h"
#include "world/WorldServices.h"

namespace GAME {

GAME_REGISTER_CLASS(Light, Entity)

namespace {

// The editor filter's category of lights.
constexpr int kEditorFilterLights = 4;

} // namespace

Light::Light() = default;

Light::~Light()
{
    if (WorldServices::EditorMode())
        EditorFilter::Get()->RemoveFilterObject(GetObjectId());
}

void Light::Load(const LoadTable& constTable)
{
    LoadTable& table = const_cast<LoadTable&>(constTable);
    m_radius = table.GetFloat("radius", 0.0f);
    m_color.r = table.GetFloat("color.r", 0.0f);
    m_color.g = table.GetFloat("color.g", 0.0f);
    m_color.b = table.GetFloat("color.b", 0.0f);
    m_castsShadows = table.GetBool("castsShadows", false);
}

void Light::SetIntensity(float intensity)
{
    if (intensity <= 0.0f)
        m_intensity = 0.0f;
    else if (intensity >= 1.0f)
        m_intensity = 1.0f;
    else if (intensity == intensity)
        m_intensity = intensity;
    else
        m_intensity = 0.0f; // NaN
}

void Light::SetRadius(float radius)
{
    m_radius = radius;
    UpdateBoundingBox();
}

void Light::UpdateBoundingBox()
{
    const Vec3 center = GetCoords().GetOrigin().GetRegionPosition();
    SetRegionBoundingBox(ABBox(center, Vec3(m_radius, m_radius, m_radius)));
}

void Light::InitialUpdate()
{
    Entity::InitialUpdate();
    if (WorldServices::EditorMode())
        EditorFilter::Get()->AddFilterObject(GetObjectId(), kEditorFilterLights);
    UpdateBoundingBox();
}

bool Light::BuildGraphicsLight(const Frustum* frustum, bool lowQualityLighting, GraphicsLight& light) const
{
    return BuildGraphicsLightAt(GetCoords(), frustum,
                                m_castsShadows && (!lowQualityLighting || m_forceShadows), light);
}

bool Light::BuildGraphicsLightAt(const WorldCoords& coords, const Frustum* frustum, bool shadows,
                                 GraphicsLight& light) const
{
    if (!m_enabled)
        return false;
    const Vec3 position = coords.GetOrigin().GetRegionPosition();
    if (frustum && frustum->GetNumPlanes() && !frustum->IntersectsSphere(Sphere(position, m_radius), 0.0f))
        return false;
    light = GraphicsLight();
    light.SetType(GraphicsLight::TYPE_POINT);
    light.SetColor(Color(m_color.r * m_intensity, m_color.g * m_intensity, m_color.b * m_intensity, 1.0f));
    light.SetObjectToWorldCoords(coords);
    light.SetRadius(m_radius);
    light.SetShadowIntensity(m_shadowIntensity);
    light.SetCastsShadows(shadows);
    return true;
}

void Light::AddToScene(GraphicsSceneRenderer& renderer, const Frustum* frustum)
{
    const GraphicsEngine* graphics = gEngine ? gEngine->GetGraphicsEngine() : nullptr;
    GraphicsLight light;
    if (!BuildGraphicsLight(frustum, graphics && graphics->UseLowQualityLighting(), light))
        return;
    renderer.AddLight(light);
    if (renderer.IsRenderFlagSet(GraphicsSceneRenderer::RENDER_BOUNDING_BOXES))
        if (DebugRenderManager* debug = DebugRenderManager::Get())
            debug->RenderSphere(
                light.GetObjectToWorldCoords().GetRegion(),
                Sphere(light.GetObjectToWorldCoords().GetOrigin().GetRegionPosition(), m_radius),
                light.GetColor());
}

void Light::GetIntersection(const Ray& ray, Intersection& intersection, PhysicsSurface surface) const
{
    intersection.distance = gInfinity;
    if (surface == 0 || !WorldServices::EditorMode())
        return;
    const Vec3 position = GetCoords().GetOrigin().GetRegionPosition();
    const float distance = Sphere(position, m_radius).IntersectRay(ray);
    intersection.distance = distance;
    if (distance != gInfinity) {
        intersection.surface = 0;
        intersection.point = ray.GetPoint(distance);
    }
}

} // namespace GAME
