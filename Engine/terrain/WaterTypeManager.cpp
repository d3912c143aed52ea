#include "terrain/WaterTypeManager.h"

#include "core/Log.h"
#include "core/Thread.h"
#include "graphics/GraphicsNoiseGen.h"
#include "terrain/WaterType.h"
#include "world/Engine.h"

#include <cctype>

namespace GAME {

// Instantiated here so the manager's singleton storage is emitted once, in the library.
template class Singleton<WaterTypeManager>;

namespace {

bool SameName(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

} // namespace

WaterTypeManager::~WaterTypeManager()
{
    CriticalSectionLock lock(m_lock);
    for (WaterTypeRef& entry : m_types) {
        if (!entry.type)
            continue;
        if (gEngine)
            LogPrintf(2, "Warning: removing water type '%s' with '%u' references remaining.",
                      entry.type->GetName().c_str(), static_cast<unsigned>(entry.references));
        delete entry.type;
        entry.type = nullptr;
    }
    ReleaseDeferredTextures();
}

WaterTypeManager::WaterTypeRef* WaterTypeManager::FindWaterType(const std::string& name)
{
    for (WaterTypeRef& entry : m_types)
        if (entry.type && SameName(entry.type->GetName(), name))
            return &entry;
    return nullptr;
}

bool WaterTypeManager::IsWaterType(const std::string& name)
{
    CriticalSectionLock lock(m_lock);
    return FindWaterType(name) != nullptr;
}

WaterType* WaterTypeManager::GetWaterType(const std::string& name)
{
    CriticalSectionLock lock(m_lock);
    ReleaseDeferredTextures();
    WaterTypeRef* entry = FindWaterType(name);
    return entry ? Hold(*entry) : nullptr;
}

WaterType* WaterTypeManager::CreateWaterType(const std::string& name)
{
    CriticalSectionLock lock(m_lock);
    if (WaterTypeRef* entry = FindWaterType(name))
        return Hold(*entry);
    return AddWaterTypeReference(new WaterType(name));
}

WaterType* WaterTypeManager::AddWaterType(const WaterType& type)
{
    CriticalSectionLock lock(m_lock);
    if (FindWaterType(type.GetName()))
        return nullptr;
    return AddWaterTypeReference(new WaterType(type));
}

WaterType* WaterTypeManager::HoldWaterType(const WaterType& type)
{
    CriticalSectionLock lock(m_lock);
    if (WaterTypeRef* entry = FindWaterType(type.GetName()))
        return Hold(*entry);
    return AddWaterTypeReference(new WaterType(type));
}

WaterType* WaterTypeManager::Hold(WaterTypeRef& entry)
{
    ++entry.references;
    return entry.type;
}

WaterType* WaterTypeManager::AddWaterTypeReference(WaterType* type)
{
    WaterTypeRef entry;
    entry.type = type;
    entry.references = 1;
    bool placed = false;
    for (WaterTypeRef& slot : m_types)
        if (!slot.type) {
            slot = entry;
            placed = true;
            break;
        }
    if (!placed)
        m_types.push_back(entry);
    type->LoadResources();
    return type;
}

bool WaterTypeManager::ReleaseWaterType(const WaterType* type)
{
    if (!type)
        return false;
    CriticalSectionLock lock(m_lock);
    ReleaseDeferredTextures();
    for (WaterTypeRef& entry : m_types) {
        if (entry.type != type)
            continue;
        if (entry.references > 0)
            --entry.references;
        if (entry.references > 0)
            return false;
        // The noise generator is the main thread's: elsewhere the texture waits for it.
        if (!IsMainThread())
            if (NoiseTexture* bump = entry.type->TakeBumpTexture())
                m_deferredTextures.push_back(bump);
        delete entry.type;
        entry.type = nullptr;
        entry.references = 0;
        return true;
    }
    return false;
}

bool WaterTypeManager::RenameWaterType(const std::string& oldName, const std::string& newName)
{
    CriticalSectionLock lock(m_lock);
    WaterTypeRef* entry = FindWaterType(oldName);
    if (!entry || FindWaterType(newName))
        return false;
    entry->type->SetName(newName);
    return true;
}

void WaterTypeManager::GetWaterTypeNames(std::vector<std::string>& names)
{
    CriticalSectionLock lock(m_lock);
    names.clear();
    for (const WaterTypeRef& entry : m_types)
        if (entry.type)
            names.push_back(entry.type->GetName());
}

int WaterTypeManager::GetReferenceCount(const WaterType* type)
{
    CriticalSectionLock lock(m_lock);
    for (const WaterTypeRef& entry : m_types)
        if (type && entry.type == type)
            return entry.references;
    return 0;
}

int WaterTypeManager::GetNumWaterTypes()
{
    CriticalSectionLock lock(m_lock);
    int count = 0;
    for (const WaterTypeRef& entry : m_types)
        count += entry.type ? 1 : 0;
    return count;
}

void WaterTypeManager::ReleaseDeferredTextures()
{
    if (m_deferredTextures.empty() || !IsMainThread())
        return;
    if (GraphicsNoiseGen::HasInstantiated())
        for (NoiseTexture* texture : m_deferredTextures)
            GraphicsNoiseGen::Get()->UnloadNoiseTexture(texture);
    m_deferredTextures.clear();
}

} // namespace GAME
