#include "graphics/RenderDevice.h"

#include "core/Log.h"
#include "platform/Module.h"

#include <cstring>
#include <mutex>
#include <string>

namespace GAME {

namespace {

// Shader files select their section by these names.
struct GenerationName
{
    char name[20];
    RenderGenerationId id;
};

const GenerationName g_generationNames[RENDER_GENERATION_COUNT] = {
    {"Unknown", RENDER_GENERATION_UNKNOWN},   {"GeForce3", RENDER_GENERATION_GEFORCE3},
    {"GeForce4", RENDER_GENERATION_GEFORCE4}, {"GeForce5", RENDER_GENERATION_GEFORCE5},
    {"GeForce6", RENDER_GENERATION_GEFORCE6}, {"Radeon9000", RENDER_GENERATION_RADEON9000},
    {"R200", RENDER_GENERATION_R200},
};

struct DeviceLibrary
{
    RenderDevice* device = nullptr; // null once destroyed
    Platform::ModuleHandle module = nullptr;
};

struct DeviceLibraryTable
{
    std::recursive_mutex mutex;
    DeviceLibrary entries[RenderDevice::maxDeviceLibraries];
    int count = 0;

    int Find(const RenderDevice* device) const
    {
        if (!device)
            return -1;
        for (int i = 0; i < count; ++i)
            if (entries[i].device == device)
                return i;
        return -1;
    }
};

DeviceLibraryTable& Table()
{
    static DeviceLibraryTable table;
    return table;
}

} // namespace

RenderDevice* RenderDevice::Create(const char* name)
{
    if (!name || !*name) {
        LogPrintf(1, "RenderDevice: no device module name given");
        return nullptr;
    }

    DeviceLibraryTable& table = Table();
    std::lock_guard<std::recursive_mutex> lock(table.mutex);

    // Entries of destroyed devices are taken again once the table has filled up, so a run that
    // recreates its device many times never runs out of entries.
    int slot = table.count;
    if (slot == maxDeviceLibraries) {
        slot = -1;
        for (int i = 0; i < table.count && slot < 0; ++i)
            if (!table.entries[i].device)
                slot = i;
        if (slot < 0) {
            LogPrintf(1, "RenderDevice: device module table is full (%d devices); cannot create '%s'",
                      maxDeviceLibraries, name);
            return nullptr;
        }
    }

    std::string reason;
    Platform::ModuleHandle module = Platform::LoadModule(name, &reason);
    if (!module) {
        LogPrintf(1, "RenderDevice: couldn't load device module '%s.so': %s", name, reason.c_str());
        return nullptr;
    }
    auto create = reinterpret_cast<CreateRenderDeviceFunction>(
        Platform::FindModuleSymbol(module, "CreateRenderDevice"));
    if (!create) {
        LogPrintf(1, "RenderDevice: device module '%s.so' has no CreateRenderDevice", name);
        Platform::UnloadModule(module);
        return nullptr;
    }
    RenderDevice* device = create();
    if (!device) {
        LogPrintf(1, "RenderDevice: device module '%s.so' did not create a device", name);
        Platform::UnloadModule(module);
        return nullptr;
    }

    const int existing = table.Find(device);
    if (existing >= 0) {
        // A module that hands out the same device again: the entry keeps one module reference.
        DeviceLibrary& entry = table.entries[existing];
        if (entry.module)
            Platform::UnloadModule(entry.module);
        entry.module = module;
        return device;
    }

    DeviceLibrary& entry = table.entries[slot];
    // The module of a destroyed device stays loaded until its entry is taken again.
    if (entry.module)
        Platform::UnloadModule(entry.module);
    entry.device = device;
    entry.module = module;
    if (slot == table.count)
        ++table.count;
    return device;
}

void RenderDevice::Destroy(RenderDevice*& device)
{
    if (!device)
        return;
    DeviceLibraryTable& table = Table();
    std::lock_guard<std::recursive_mutex> lock(table.mutex);

    const int index = table.Find(device);
    if (index < 0) {
        LogPrintf(1, "RenderDevice: device %p was not made by a loaded device module; not released",
                  static_cast<void*>(device));
        device = nullptr;
        return;
    }
    DeviceLibrary& entry = table.entries[index];
    auto destroy = reinterpret_cast<DestroyRenderDeviceFunction>(
        Platform::FindModuleSymbol(entry.module, "DestroyRenderDevice"));
    if (!destroy) {
        LogPrintf(1, "RenderDevice: device module has no DestroyRenderDevice; device not released");
        device = nullptr;
        return;
    }
    destroy(device);
    entry.device = nullptr;
    device = nullptr;
}

int RenderDevice::FindDeviceLibrary(const RenderDevice* device)
{
    DeviceLibraryTable& table = Table();
    std::lock_guard<std::recursive_mutex> lock(table.mutex);
    return table.Find(device);
}

void RenderDevice::UnloadLibraries()
{
    DeviceLibraryTable& table = Table();
    std::lock_guard<std::recursive_mutex> lock(table.mutex);
    for (int i = 0; i < table.count; ++i) {
        DeviceLibrary& entry = table.entries[i];
        if (entry.device)
            LogPrintf(1, "RenderDevice: unloading the module of a device that was not destroyed");
        if (entry.module)
            Platform::UnloadModule(entry.module);
        // Emptied so that a second unload frees nothing twice and no later Destroy calls into
        // an unloaded module.
        entry = DeviceLibrary();
    }
    table.count = 0;
}

const char* RenderDevice::GetNameForGeneration(RenderGenerationId id)
{
    if (id < 0 || id >= RENDER_GENERATION_COUNT)
        return g_generationNames[RENDER_GENERATION_UNKNOWN].name;
    return g_generationNames[id].name;
}

RenderGenerationId RenderDevice::GetGenerationForName(const char* name)
{
    if (!name)
        return RENDER_GENERATION_UNKNOWN;
    for (const GenerationName& row : g_generationNames)
        if (std::strcmp(row.name, name) == 0)
            return row.id;
    return RENDER_GENERATION_UNKNOWN;
}

} // namespace GAME
