// The resource of a particle effect file: holds the effect's definition (EffectData), made from
// the file's bytes. The effect classes live above the data layer, so the engine installs their
// factory (EffectData::GetResourceFactory) that builds and frees the definitions; without one an
// effect resource loads without effect data. The effect resource manager is
// ResourceManager<EffectResource>.
//
// Threads: as Resource. The factory is installed on the main thread before any effect loads and
// is called on whichever thread loads the resource.
#pragma once

#include "data/Resource.h"
#include "data/ResourceManager.h"

namespace GAME {

class EffectData;

class EffectResource : public Resource
{
public:
    class EffectDataFactory
    {
    public:
        virtual ~EffectDataFactory() = default;
        // A new definition loaded from the file's bytes (EffectData::BufferLoad); null when it
        // could not be made.
        virtual EffectData* CreateEffectData(const void* data, int size) = 0;
        virtual void DeleteEffectData(EffectData* effectData) = 0;
    };

    // Null removes the factory.
    static void SetEffectDataFactory(EffectDataFactory* factory);
    static EffectDataFactory* GetEffectDataFactory();

    EffectResource(BaseResourceManager* manager, const std::string& fileName);
    ~EffectResource() override;

    // Always success: an effect file that does not load leaves an empty definition.
    InitResult Initialize(const void* data, int size) override;
    // A failed effect has no data.
    void InitializeDefault() override { Destroy(); }
    void Destroy() override;

    // Loads the effect first when needed (the caller may block).
    const EffectData* GetEffectData();
    bool GetIsReadyToUse() const { return GetLoadedState() == LOAD_STATE_LOADED; }

private:
    EffectData* m_effectData = nullptr;
};

using EffectResourceManager = ResourceManager<EffectResource>;

} // namespace GAME
