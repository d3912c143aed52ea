#include "core/RTTI_ClassInfo.h"

#include "core/CriticalSection.h"
#include "core/Log.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>
#include <vector>

namespace GAME {

namespace {

struct ClassRegistry
{
    CriticalSection lock;
    std::unordered_map<const RTTI_ClassInfo*, std::vector<RTTI_ClassInfo*>> children;
};

// Never destroyed: records in static storage unlink themselves during static destruction, in any
// order relative to this registry.
ClassRegistry& Registry()
{
    static ClassRegistry* const registry = new ClassRegistry;
    return *registry;
}

// Caller holds the registry lock.
const std::vector<RTTI_ClassInfo*>* ChildrenOf(const RTTI_ClassInfo* record)
{
    const auto& children = Registry().children;
    auto found = children.find(record);
    return found == children.end() ? nullptr : &found->second;
}

// Only the parent's address is used: during static initialisation and destruction the parent's
// record may not be constructed yet, or no longer.
void Link(const RTTI_ClassInfo* parent, RTTI_ClassInfo* child)
{
    ClassRegistry& registry = Registry();
    CriticalSectionLock lock(registry.lock);
    registry.children[parent].push_back(child);
}

void Unlink(const RTTI_ClassInfo* parent, const RTTI_ClassInfo* child)
{
    ClassRegistry& registry = Registry();
    CriticalSectionLock lock(registry.lock);
    auto found = registry.children.find(parent);
    if (found == registry.children.end())
        return;
    auto& list = found->second;
    auto entry = std::find(list.begin(), list.end(), child);
    if (entry != list.end())
        list.erase(entry);
}

// Gathers, depth first in registration order, the records named className; the subtree below a
// match is not searched, as the match answers for it. Caller holds the registry lock.
void FindByName(const RTTI_ClassInfo* record, const char* className,
                std::vector<const RTTI_ClassInfo*>& found)
{
    if (std::strcmp(record->GetClassName(), className) == 0) {
        found.push_back(record);
        return;
    }
    if (const auto* children = ChildrenOf(record))
        for (const RTTI_ClassInfo* child : *children)
            FindByName(child, className, found);
}

} // namespace

RTTI_ClassInfo::RTTI_ClassInfo(const char* name, RTTI_ClassInfo* parent, Factory factory)
    : m_parent(parent), m_factory(factory)
{
    if (!name)
        name = "";
    size_t length = std::strlen(name);
    m_name = new char[length + 1];
    std::memcpy(m_name, name, length + 1);
    if (m_parent == this) {
        LogPrintf(1, "RTTI_ClassInfo: class %s names itself as its parent", m_name);
        m_parent = nullptr;
    }
    if (m_parent)
        Link(m_parent, this);
}

RTTI_ClassInfo::~RTTI_ClassInfo()
{
    if (m_parent)
        Unlink(m_parent, this);
    {
        // A later record at this address must not inherit the children of this one.
        ClassRegistry& registry = Registry();
        CriticalSectionLock lock(registry.lock);
        registry.children.erase(this);
    }
    delete[] m_name;
    m_name = nullptr;
}

int RTTI_ClassInfo::GetNumChildren() const
{
    ClassRegistry& registry = Registry();
    CriticalSectionLock lock(registry.lock);
    const auto* children = ChildrenOf(this);
    return children ? static_cast<int>(children->size()) : 0;
}

const RTTI_ClassInfo* RTTI_ClassInfo::GetChild(int index) const
{
    ClassRegistry& registry = Registry();
    CriticalSectionLock lock(registry.lock);
    const auto* children = ChildrenOf(this);
    if (!children || index < 0 || static_cast<size_t>(index) >= children->size())
        return nullptr;
    return (*children)[static_cast<size_t>(index)];
}

void RTTI_ClassInfo::AddChild(RTTI_ClassInfo* child)
{
    if (child)
        Link(this, child);
}

void RTTI_ClassInfo::RemoveChild(RTTI_ClassInfo* child)
{
    Unlink(this, child);
}

bool RTTI_ClassInfo::IsSameClass(const RTTI_ClassInfo& other) const
{
    return this == &other || std::strcmp(GetClassName(), other.GetClassName()) == 0;
}

bool RTTI_ClassInfo::IsA(const RTTI_ClassInfo& other) const
{
    for (const RTTI_ClassInfo* record = this; record; record = record->m_parent)
        if (record->IsSameClass(other))
            return true;
    return false;
}

void* RTTI_ClassInfo::CreateInstance(const char* className) const
{
    if (!className)
        return nullptr;
    std::vector<const RTTI_ClassInfo*> matches;
    {
        ClassRegistry& registry = Registry();
        CriticalSectionLock lock(registry.lock);
        FindByName(this, className, matches);
    }
    // Factories run outside the registry lock: a constructor may take locks of its own.
    for (const RTTI_ClassInfo* match : matches)
        if (match->m_factory)
            if (void* instance = match->m_factory())
                return instance;
    return nullptr;
}

} // namespace GAME
