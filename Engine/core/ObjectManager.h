// Creates registered objects from database records, gives each a 32-bit object id (the network
// host in bits 28-31, a counter in bits 0-27; 0 is no object), finds them by id and by name, and
// destroys them late: DestroyObjectEx only queues an object, and the engine's frame deletes at
// most 20 queued objects (the most recently queued first), all of them at shut-down. Owns the
// record-table cache (the data layer's table depot) that every object made from one record shares.
//
// Threads: any thread may create, look up and destroy objects. The id counter has its own lock and
// the tables and the pending list share the table lock (always taken before the id lock). Both
// are re-entrant, so an object's destructor or an entity's OnDestroy may destroy further objects.
#pragma once

#include "core/CriticalSection.h"
#include "core/Object.h"
#include "core/Singleton.h"

#include <atomic>
#include <cstdint>
#include <map>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace GAME {

class EntityDestroyHook;
class LoadTable;
class LocalHostIdProvider;
class RecordTableCache;

class ObjectManager : public Singleton<ObjectManager>
{
public:
    static constexpr unsigned int kCounterMask = 0x0FFFFFFF;
    static constexpr unsigned int kHostShift = 28;
    // DestroyPendingObjects' allowance per frame.
    static constexpr unsigned int kDestroyPerFrame = 20;

    ObjectManager();
    ~ObjectManager() override;

    // A new id, 0 when none can be made (the network's host id is not known yet). Once the
    // counter has wrapped, and while the host-id provider says ids under the host may be taken
    // (LocalHostIdProvider::IdsMayBeTaken), the ids of objects in the table are skipped.
    unsigned int CreateObjectID();
    // Sets the counter (low 28 bits) the next id is made from; tools and tests use it to reach
    // the wrap. Ids handed out before stay as they are.
    void SetIdCounter(unsigned int counter);

    // Gives every object in the table numbered under host `from` an id under host `to`: its
    // counter bits where that id is free, else the next free one. For a client joining a session
    // that gave it another host id than the one its own objects carry (an earlier session's, which
    // the new server may have given another client, whose objects would then meet them). The
    // entity hook updates the entities' attachments; the ids kept elsewhere (a game's own, a
    // level's kept state) are found again through GetRenumberedId. Answers how many objects took
    // new ids. Any thread (the tables are locked throughout); levels loading meanwhile number
    // their objects under the provider's host id as ever.
    size_t RenumberHost(unsigned int from, unsigned int to);
    // How many renumberings there were so far: kept beside an id, it says which of them the id
    // has yet to go through.
    unsigned int GetRenumberCount();
    // The id that an object whose id was kept before renumbering number `since` (GetRenumberCount
    // then) has now; the id itself when no renumbering since moved it. With `orFree`, an id under
    // a host that such a renumbering left, whose object was not in the table then (a level's kept
    // entity), answers 0: it is to take a new id, not its old one.
    unsigned int GetRenumberedId(unsigned int id, unsigned int since, bool orFree = false);

    // The object of the record's class ("Class" field), entered under `id` (0: a new id) and its
    // name; with `load` it reads its fields from the record. Null when no id can be made, the
    // record is missing or no class below Object has that name.
    Object* CreateObjectFromFile(const std::string& recordName, unsigned int id = 0, bool load = true);
    // As CreateObjectFromFile, then null (and the object destroyed again) unless its class is T or
    // derives from it.
    template <class T>
    T* CreateObjectFromFileAs(const std::string& recordName, unsigned int id = 0, bool load = true);

    // The object of the record's class with its name set, but without id, table entries or data.
    Object* CreateObjectFromFilePartial(const std::string& recordName);
    // Gives a partially created object its id, enters it and loads its data.
    void FinishCreateObjectFromFilePartial(Object* object, unsigned int id);
    // Loads the table of the object's name and hands it to the object's Load.
    bool LoadObjectData(Object* object);

    Object* GetObject(unsigned int id);
    // The first live object entered under the name (case and slashes as given); null when none.
    Object* GetObjectByName(const std::string& name);
    Object* GetObjectByNameHash(unsigned int nameHash);

    // Queues the object for deletion; file and line say who asked. An object queued already stays
    // queued once. Entities are told OnDestroy and their attached entities are queued after them.
    void DestroyObjectEx(Object* object, const char* file, int line);
    // Deletes up to `maximum` queued objects, the most recently queued first; objects queued by
    // those deletions are taken in the same call while the allowance lasts.
    void DestroyPendingObjects(unsigned int maximum);
    bool IsObjectOnDeletedList(Object* object);
    unsigned int GetNumDeletedObjects();
    unsigned int GetNumObjects();

    // One line "Object not destroyed \"%s\"" for every live object.
    void LogLeakedObjects();
    // Writes the names of the live objects, sorted, one a line; false when the file cannot be
    // written.
    bool DumpObjectList(const char* path = "objects.txt");

    LoadTable* GetLoadTable(const std::string& recordName);
    LoadTable* LoadTableFile(const std::string& recordName);
    void ClearCache();
    void TableDepotDumpStats();

    void EnableDebugging(bool enable) { m_debugging = enable; }

    // Hooks of the layers above core; null removes them. They outlive any one manager. The engine
    // installs the host-id provider while it lives; GAME::Entity installs the entity hook when the
    // library loads.
    static void SetLocalHostIdProvider(LocalHostIdProvider* provider);
    static LocalHostIdProvider* GetLocalHostIdProvider();
    static void SetEntityDestroyHook(EntityDestroyHook* hook);

private:
    struct PendingRecord
    {
        Object* object;
        std::string file;
        int line;
    };

    // Enters the object under its id and name unless another object holds the key already.
    void Enter(Object* object);
    // Removes the object's own entries only.
    void Remove(Object* object);

    CriticalSection m_idLock;
    CriticalSection m_tableLock;
    std::unordered_map<unsigned int, Object*> m_idTable;
    // Live objects of each name hash in the order they were entered; lookups give the first. A
    // level's unload removes thousands of one record's objects: each goes in logarithmic time,
    // found through the place it was entered at.
    std::unordered_map<unsigned int, std::map<uint64_t, Object*>> m_nameTable;
    struct NameEntry
    {
        unsigned int hash;
        uint64_t order;
    };
    std::unordered_map<Object*, NameEntry> m_nameEntries;
    uint64_t m_nameOrder = 0;
    std::vector<PendingRecord> m_pending;
    // Queued or being deleted: what "queued once" is checked against.
    std::unordered_set<Object*> m_queued;
    unsigned int m_counter = 1;
    bool m_wrapped = false;
    struct Renumbering
    {
        unsigned int from;
        unsigned int to;
        std::unordered_map<unsigned int, unsigned int> ids; // old id -> new id
    };
    std::vector<Renumbering> m_renumberings; // under the table lock
    RecordTableCache* m_tableDepot;
    std::atomic<bool> m_debugging{false};
};

template <class T>
T* ObjectManager::CreateObjectFromFileAs(const std::string& recordName, unsigned int id, bool load)
{
    Object* object = CreateObjectFromFile(recordName, id, load);
    if (!object)
        return nullptr;
    if (!object->GetClassInfo().IsA(T::GetStaticClassInfo())) {
        DestroyObjectEx(object, __FILE__, __LINE__);
        return nullptr;
    }
    return static_cast<T*>(object);
}

} // namespace GAME
