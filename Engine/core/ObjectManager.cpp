#include "core/ObjectManager.h"

#include "core/EntityDestroyHook.h"
#include "core/LocalHostIdProvider.h"
#include "core/Log.h"
#include "core/Name.h"
#include "core/Object.h"
#include "core/RecordTableCache.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <iterator>

namespace GAME {

namespace {

std::atomic<LocalHostIdProvider*> s_hostIdProvider{nullptr};
std::atomic<EntityDestroyHook*> s_entityHook{nullptr};

} // namespace

void ObjectManager::SetLocalHostIdProvider(LocalHostIdProvider* provider)
{
    s_hostIdProvider.store(provider, std::memory_order_release);
}

LocalHostIdProvider* ObjectManager::GetLocalHostIdProvider()
{
    return s_hostIdProvider.load(std::memory_order_acquire);
}

void ObjectManager::SetEntityDestroyHook(EntityDestroyHook* hook)
{
    s_entityHook.store(hook, std::memory_order_release);
}

ObjectManager::ObjectManager()
{
    m_idTable.reserve(100);
    m_nameTable.reserve(100);
    RecordTableCacheFactory factory = GetRecordTableCacheFactory();
    m_tableDepot = factory ? factory() : nullptr;
    if (!m_tableDepot)
        LogPrintf(1,
                  "ObjectManager: no record table cache is installed; objects cannot be made from records");
}

ObjectManager::~ObjectManager()
{
    // Objects still entered are not deleted: the engine deletes the pending ones and reports the
    // rest as leaks before it destroys the manager.
    delete m_tableDepot;
    m_tableDepot = nullptr;
}

unsigned int ObjectManager::CreateObjectID()
{
    unsigned int host = 0;
    bool mayBeTaken = false;
    if (LocalHostIdProvider* provider = s_hostIdProvider.load(std::memory_order_acquire)) {
        int id = provider->GetLocalHostID();
        if (id < 0)
            return 0; // not known yet
        if (id > 15) {
            LogPrintf(1, "ObjectManager: host id %d does not fit the four bits of an object id", id);
            return 0;
        }
        host = static_cast<unsigned int>(id) << kHostShift;
        mayBeTaken = provider->IdsMayBeTaken();
    }

    // After the wrap the id table is searched, so its lock comes first (the table lock is always
    // taken before the id lock).
    CriticalSectionLock tableLock(m_tableLock);
    CriticalSectionLock idLock(m_idLock);
    if ((m_counter & kCounterMask) == kCounterMask) {
        m_counter = 0;
        m_wrapped = true;
    }
    if (!m_wrapped && !mayBeTaken)
        return host | m_counter++;

    // Wrapped, or ids of others under this host may be in the table: skip the ids of live objects
    // (with this host's bits) and 0, and move the counter past the id handed out so a second call
    // before the object is entered gets another.
    for (unsigned int tries = 0; tries < kCounterMask; ++tries) {
        unsigned int id = host | m_counter;
        m_counter = (m_counter + 1) & kCounterMask;
        if (m_counter == kCounterMask) {
            m_counter = 0;
            m_wrapped = true;
        }
        if (id != 0 && m_idTable.find(id) == m_idTable.end())
            return id;
    }
    LogPrintf(1, "ObjectManager: every object id is in use");
    return 0;
}

void ObjectManager::SetIdCounter(unsigned int counter)
{
    CriticalSectionLock idLock(m_idLock);
    m_counter = counter & kCounterMask;
}

size_t ObjectManager::RenumberHost(unsigned int from, unsigned int to)
{
    if (from == to || from > (0xFFFFFFFFu >> kHostShift) || to > (0xFFFFFFFFu >> kHostShift))
        return 0;
    CriticalSectionLock tableLock(m_tableLock);
    CriticalSectionLock idLock(m_idLock);
    std::vector<std::pair<unsigned int, Object*>> moving;
    for (const auto& [id, object] : m_idTable)
        if ((id >> kHostShift) == from)
            moving.emplace_back(id, object);
    // In id order: the same objects get the same new ids however the table is laid out.
    std::sort(moving.begin(), moving.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    Renumbering renumbering{from, to, {}};
    for (const auto& [id, object] : moving)
        m_idTable.erase(id);
    auto isFree = [&](unsigned int id) { return id != 0 && m_idTable.find(id) == m_idTable.end(); };
    for (const auto& [id, object] : moving) {
        unsigned int fresh = (to << kHostShift) | (id & kCounterMask);
        for (unsigned int tries = 0; !isFree(fresh) && tries < kCounterMask; ++tries) {
            fresh = (to << kHostShift) | m_counter;
            m_counter = (m_counter + 1) & kCounterMask;
        }
        if (!isFree(fresh)) {
            LogPrintf(1, "ObjectManager: every object id under host %u is in use; object %u keeps its id", to,
                      id);
            m_idTable.emplace(id, object);
            continue;
        }
        object->SetObjectId(fresh);
        m_idTable.emplace(fresh, object);
        renumbering.ids.emplace(id, fresh);
    }
    // The counter goes on past the ids taken, so that new objects under `to` do not meet them.
    for (const auto& [old, fresh] : renumbering.ids)
        if ((fresh & kCounterMask) >= m_counter && (fresh & kCounterMask) != kCounterMask)
            m_counter = (fresh & kCounterMask) + 1;
    const size_t moved = renumbering.ids.size();
    if (EntityDestroyHook* hook = s_entityHook.load(std::memory_order_acquire))
        for (const auto& [id, object] : m_idTable)
            if (hook->IsEntity(object))
                hook->RenumberAttached(object, renumbering.ids);
    m_renumberings.push_back(std::move(renumbering));
    LogPrintf(0, "ObjectManager: %zu objects of host %u now numbered under host %u", moved, from, to);
    return moved;
}

unsigned int ObjectManager::GetRenumberCount()
{
    CriticalSectionLock lock(m_tableLock);
    return static_cast<unsigned int>(m_renumberings.size());
}

unsigned int ObjectManager::GetRenumberedId(unsigned int id, unsigned int since, bool orFree)
{
    CriticalSectionLock lock(m_tableLock);
    for (size_t i = since; i < m_renumberings.size(); ++i) {
        const Renumbering& renumbering = m_renumberings[i];
        if (const auto it = renumbering.ids.find(id); it != renumbering.ids.end())
            id = it->second;
        else if (orFree && (id >> kHostShift) == renumbering.from)
            return 0;
    }
    return id;
}

void ObjectManager::Enter(Object* object)
{
    m_idTable.try_emplace(object->GetObjectId(), object);
    const NameEntry entry{object->GetObjectNameHash(), m_nameOrder++};
    if (m_nameEntries.try_emplace(object, entry).second)
        m_nameTable[entry.hash].emplace(entry.order, object);
}

void ObjectManager::Remove(Object* object)
{
    auto byId = m_idTable.find(object->GetObjectId());
    if (byId != m_idTable.end() && byId->second == object)
        m_idTable.erase(byId);
    auto entry = m_nameEntries.find(object);
    if (entry == m_nameEntries.end())
        return;
    auto byName = m_nameTable.find(entry->second.hash);
    if (byName != m_nameTable.end()) {
        byName->second.erase(entry->second.order);
        if (byName->second.empty())
            m_nameTable.erase(byName);
    }
    m_nameEntries.erase(entry);
}

Object* ObjectManager::CreateObjectFromFile(const std::string& recordName, unsigned int id, bool load)
{
    if (m_debugging)
        LogPrintf(0, "Creating object from file '%s'", recordName.c_str());
    if (id == 0) {
        id = CreateObjectID();
        if (id == 0) {
            LogPrintf(1, "Unable to spawn object \"%s\".", recordName.c_str());
            return nullptr;
        }
    }
    if (!m_tableDepot)
        return nullptr;
    std::string className;
    LoadTable* table = m_tableDepot->LoadRecord(recordName, className);
    if (!table)
        return nullptr;
    auto* object = static_cast<Object*>(Object::classInfo.CreateInstance(className.c_str()));
    if (!object)
        return nullptr;
    object->SetObjectId(id);
    object->SetObjectName(recordName);
    {
        CriticalSectionLock lock(m_tableLock);
        Enter(object);
    }
    if (load)
        object->Load(*table);
    return object;
}

Object* ObjectManager::CreateObjectFromFilePartial(const std::string& recordName)
{
    if (!m_tableDepot)
        return nullptr;
    std::string className;
    if (!m_tableDepot->LoadRecord(recordName, className))
        return nullptr;
    auto* object = static_cast<Object*>(Object::classInfo.CreateInstance(className.c_str()));
    if (object)
        object->SetObjectName(recordName);
    return object;
}

void ObjectManager::FinishCreateObjectFromFilePartial(Object* object, unsigned int id)
{
    if (!object || id == 0)
        return;
    std::string className;
    LoadTable* table = m_tableDepot ? m_tableDepot->LoadRecord(object->GetObjectName(), className) : nullptr;
    if (!table) {
        LogPrintf(1, "Unable to finish object creation (%s).", object->GetObjectName().c_str());
        return;
    }
    object->SetObjectId(id);
    {
        CriticalSectionLock lock(m_tableLock);
        Enter(object);
    }
    object->Load(*table);
}

bool ObjectManager::LoadObjectData(Object* object)
{
    if (!object || !m_tableDepot)
        return false;
    std::string className;
    LoadTable* table = m_tableDepot->LoadRecord(object->GetObjectName(), className);
    if (!table)
        return false;
    object->Load(*table);
    return true;
}

Object* ObjectManager::GetObject(unsigned int id)
{
    CriticalSectionLock lock(m_tableLock);
    auto it = m_idTable.find(id);
    return it == m_idTable.end() ? nullptr : it->second;
}

Object* ObjectManager::GetObjectByNameHash(unsigned int nameHash)
{
    CriticalSectionLock lock(m_tableLock);
    auto it = m_nameTable.find(nameHash);
    return it == m_nameTable.end() ? nullptr : it->second.begin()->second;
}

Object* ObjectManager::GetObjectByName(const std::string& name)
{
    const unsigned int hash = Name::Create(name.c_str()).Hash();
    CriticalSectionLock lock(m_tableLock);
    auto it = m_nameTable.find(hash);
    if (it == m_nameTable.end())
        return nullptr;
    // Different names may share the hash word: the text decides.
    for (const auto& [order, object] : it->second)
        if (object->GetObjectName() == name)
            return object;
    return nullptr;
}

void ObjectManager::DestroyObjectEx(Object* object, const char* file, int line)
{
    if (!object)
        return;
    CriticalSectionLock lock(m_tableLock);
    if (m_debugging)
        LogPrintf(0, "Destroying object '%s'", object->GetObjectName().c_str());
    if (!m_queued.insert(object).second)
        return;
    Remove(object);
    m_pending.push_back(PendingRecord{object, file ? file : "", line});

    EntityDestroyHook* hook = s_entityHook.load(std::memory_order_acquire);
    if (!hook || !hook->IsEntity(object))
        return;
    hook->OnDestroy(object);
    const unsigned int attached = hook->GetNumAttachedEntities(object);
    for (unsigned int i = 0; i < attached; ++i)
        if (Object* child = hook->DetachAttachedEntity(object, i))
            DestroyObjectEx(child, __FILE__, __LINE__);
}

void ObjectManager::DestroyPendingObjects(unsigned int maximum)
{
    CriticalSectionLock lock(m_tableLock);
    unsigned int deleted = 0;
    std::vector<PendingRecord> batch;
    while (deleted < maximum && !m_pending.empty()) {
        const size_t n = std::min<size_t>(maximum - deleted, m_pending.size());
        batch.assign(std::make_move_iterator(m_pending.end() - static_cast<ptrdiff_t>(n)),
                     std::make_move_iterator(m_pending.end()));
        m_pending.resize(m_pending.size() - n);
        for (PendingRecord& record : batch) {
            // Still marked queued while its destructor runs, so it cannot be queued again.
            delete record.object;
            m_queued.erase(record.object);
        }
        deleted += static_cast<unsigned int>(n);
    }
}

bool ObjectManager::IsObjectOnDeletedList(Object* object)
{
    CriticalSectionLock lock(m_tableLock);
    return m_queued.count(object) != 0;
}

unsigned int ObjectManager::GetNumDeletedObjects()
{
    CriticalSectionLock lock(m_tableLock);
    return static_cast<unsigned int>(m_pending.size());
}

unsigned int ObjectManager::GetNumObjects()
{
    CriticalSectionLock lock(m_tableLock);
    return static_cast<unsigned int>(m_idTable.size());
}

void ObjectManager::LogLeakedObjects()
{
    CriticalSectionLock lock(m_tableLock);
    for (const auto& [id, object] : m_idTable)
        LogPrintf(0, "Object not destroyed \"%s\"", object->GetObjectName().c_str());
}

bool ObjectManager::DumpObjectList(const char* path)
{
    CriticalSectionLock lock(m_tableLock);
    std::FILE* file = std::fopen(path ? path : "objects.txt", "w");
    if (!file)
        return false;
    std::vector<const std::string*> names;
    names.reserve(m_idTable.size());
    for (const auto& [id, object] : m_idTable)
        names.push_back(&object->GetObjectName());
    std::sort(names.begin(), names.end(), [](const std::string* a, const std::string* b) { return *a < *b; });
    for (const std::string* name : names)
        std::fprintf(file, "%s\n", name->c_str());
    return std::fclose(file) == 0;
}

LoadTable* ObjectManager::GetLoadTable(const std::string& recordName)
{
    return m_tableDepot ? m_tableDepot->GetLoadTable(recordName) : nullptr;
}

LoadTable* ObjectManager::LoadTableFile(const std::string& recordName)
{
    return m_tableDepot ? m_tableDepot->LoadFile(recordName) : nullptr;
}

void ObjectManager::ClearCache()
{
    if (m_tableDepot)
        m_tableDepot->ClearCache();
}

void ObjectManager::TableDepotDumpStats()
{
    if (m_tableDepot)
        m_tableDepot->DumpStats();
}

} // namespace GAME
