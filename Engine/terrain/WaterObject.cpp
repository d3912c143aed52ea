#include "terrain/WaterObject.h"

#include "terrain/Water.h"
#include "terrain/WaterType.h"
#include "terrain/WaterTypeManager.h"

namespace GAME {

WaterObject::WaterObject(unsigned index, Space<WaterElement>& tree, RenderDevice& device, Water* water)
    : m_index(index), m_tree(tree), m_device(device), m_water(water)
{
    m_reflectionPlane.normal = Vec3(0.0f, 1.0f, 0.0f);
    m_reflectionPlane.d = 0.0f;
}

WaterObject::~WaterObject()
{
    ReleaseWaterType();
}

Region* WaterObject::GetRegion() const
{
    return m_water ? m_water->GetRegion() : nullptr;
}

const char* WaterObject::GetWaterTypeName() const
{
    return m_waterType ? m_waterType->GetName().c_str() : nullptr;
}

void WaterObject::UpdateWaterType()
{
    if (m_waterType)
        m_waterType->Update();
}

void WaterObject::ReleaseWaterType()
{
    if (m_waterType)
        if (WaterTypeManager* manager = WaterTypeManager::Get())
            manager->ReleaseWaterType(m_waterType);
    m_waterType = nullptr;
}

bool WaterObject::TakeWaterType(const char* typeName)
{
    ReleaseWaterType();
    WaterTypeManager* manager = WaterTypeManager::Get();
    m_waterType = manager && typeName ? manager->GetWaterType(typeName) : nullptr;
    return m_waterType != nullptr;
}

const TerrainBase* WaterObject::GetTerrain() const
{
    return m_water ? m_water->GetTerrain() : nullptr;
}

const GridRegion* WaterObject::GetGridRegion() const
{
    return m_water ? m_water->GetGridRegion() : nullptr;
}

} // namespace GAME
