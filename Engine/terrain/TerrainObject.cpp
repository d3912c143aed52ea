#include "terrain/TerrainObject.h"

#include "core/Intersection.h"
#include "data/EngineDataServices.h"

namespace GAME {

GAME_REGISTER_ROOT_CLASS(TerrainObject)

TerrainObject::TerrainObject() : m_lastFrameUsed(EngineDataServices::FrameCount()) {}

TerrainObject::~TerrainObject()
{
    // An owner that forgot to take the object out of its tree must not leave the tree pointing
    // at freed memory.
    if (m_spaceLinks.node)
        Space<TerrainObject>::RemoveObject(m_spaceLinks.node, this);
}

void TerrainObject::GetIntersection(const Ray&, Intersection& intersection, PhysicsSurface) const
{
    intersection.distance = gInfinity;
}

void TerrainObject::AddToScene(GraphicsSceneRenderer&, TerrainBase&) {}

void TerrainObject::Update(TerrainBase&, int) {}

void TerrainObject::Unload()
{
    m_loadState = LOAD_STATE_NONE;
}

void TerrainObject::PreLoad(bool immediate)
{
    m_loadState = immediate ? LOAD_STATE_IMMEDIATE : LOAD_STATE_PRELOADED;
}

void TerrainObject::FindCollisionBoxes(TerrainBase&, std::vector<CollisionBox>&, PhysicsSurface) {}

int TerrainObject::FindCollisions(TerrainBase&, const OBBox&, CollisionContact*, int, PhysicsSurface)
{
    return 0;
}

void TerrainObject::OnHeightsChanged() {}

void TerrainObject::OnLayersChanged() {}

void TerrainObject::DisplaceGrass(float, float, float, float) {}

void TerrainObject::CreateGrassWind(const PhysicsGrassWind&) {}

void TerrainObject::RemoveGrassWind() {}

bool TerrainObject::IsAvailable() const
{
    return true;
}

void TerrainObject::PreDeviceReset() {}

void TerrainObject::PostDeviceReset() {}

void TerrainObject::MarkUsed()
{
    m_lastFrameUsed = EngineDataServices::FrameCount();
}

bool TerrainObject::IsPreLoaded(bool immediate) const
{
    if (immediate)
        return m_loadState == LOAD_STATE_IMMEDIATE;
    return m_loadState == LOAD_STATE_PRELOADED || m_loadState == LOAD_STATE_IMMEDIATE;
}

void TerrainObject::SetBoundingBox(const ABBox& box)
{
    m_box = box;
    if (m_spaceLinks.node)
        Space<TerrainObject>::RefreshBox(this);
}

} // namespace GAME
