#include "terrain/TerrainBase.h"

#include "core/Intersection.h"

namespace GAME {

void TerrainBase::AddToScene(GraphicsSceneRenderer&, const Frustum&) {}

void TerrainBase::Update(const Frustum*, unsigned, int) {}

void TerrainBase::PreLoad(const Frustum*, unsigned) {}

float TerrainBase::GetHeightInterpolated(float, float) const
{
    return 0.0f;
}

float TerrainBase::GetHeight(int, int) const
{
    return 0.0f;
}

ABBox TerrainBase::GetBoundingBox() const
{
    const float hx = m_numXSamples ? static_cast<float>(m_numXSamples - 1) * 0.5f : 0.0f;
    const float hz = m_numYSamples ? static_cast<float>(m_numYSamples - 1) * 0.5f : 0.0f;
    return ABBox(Vec3(hx, 0.0f, hz), Vec3(hx, 0.0f, hz));
}

void TerrainBase::GetIntersection(const Ray&, Intersection& intersection, PhysicsSurface surface) const
{
    intersection.distance = gInfinity;
    intersection.surface = surface;
}

int TerrainBase::FindCollisions(const Entity*, CollisionContact*, int, Region*, PhysicsSurface) const
{
    return 0;
}

int TerrainBase::FindCollisions(const OBBox&, CollisionContact*, int, PhysicsSurface) const
{
    return 0;
}

void TerrainBase::FindCollisions(std::vector<CollisionBox>&, const ABBox&, PhysicsSurface) const {}

} // namespace GAME
