#include "data/EffectResource.h"

#include <atomic>

namespace GAME {

namespace {
std::atomic<EffectResource::EffectDataFactory*> g_factory{nullptr};
} // namespace

void EffectResource::SetEffectDataFactory(EffectDataFactory* factory)
{
    g_factory.store(factory);
}

EffectResource::EffectDataFactory* EffectResource::GetEffectDataFactory()
{
    return g_factory.load();
}

EffectResource::EffectResource(BaseResourceManager* manager, const std::string& fileName)
    : Resource(manager, fileName)
{
}

EffectResource::~EffectResource()
{
    Unload();
}

Resource::InitResult EffectResource::Initialize(const void* data, int size)
{
    Destroy();
    if (EffectDataFactory* factory = g_factory.load())
        m_effectData = factory->CreateEffectData(data, size);
    return INIT_SUCCESS;
}

void EffectResource::Destroy()
{
    if (!m_effectData)
        return;
    if (EffectDataFactory* factory = g_factory.load())
        factory->DeleteEffectData(m_effectData);
    m_effectData = nullptr;
}

const EffectData* EffectResource::GetEffectData()
{
    EnsureAvailable();
    return m_effectData;
}

} // namespace GAME
