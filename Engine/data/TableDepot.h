// Loads record tables by file name and keeps them for the depot's life, so every object made from
// one record shares one table. Records come from the engine's record database (binary tables) or,
// when the engine says the database is not used, from text files through its file system. A
// missing record becomes an empty table, cached like any other so it is looked for only once.
// The cache belongs to the services it was loaded through: once other services are installed
// (another database), the tables found so far are retired and every name is looked for afresh.
// A retired table stays alive for whoever still holds it while the next services are in force,
// and goes when the depot notices the change after that (or at ClearCache, or with the depot):
// callers hold a table while they read it, never across two changes of the engine's services.
// The object manager owns one. Every operation holds the depot's lock: region loading threads
// load records while the main thread does.
#pragma once

#include "core/CriticalSection.h"
#include "core/RecordTableCache.h"

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace GAME {

class DatabaseArchive;
class FileSystem;
class LoadTable;

// What the depot asks of the engine. The engine implements it and installs it while it exists.
class TableDepotServices
{
public:
    virtual ~TableDepotServices() = default;
    // True: records come from the database; false: from text files.
    virtual bool IsLoadingDbFromArchive() = 0;
    virtual DatabaseArchive* GetDatabaseArchive() = 0;
    virtual FileSystem* GetFileSystem() = 0;
};

class TableDepot : public RecordTableCache
{
public:
    struct Stats
    {
        unsigned uniqueFiles = 0;
        unsigned duplicateReferences = 0;
        unsigned missingFiles = 0;
        unsigned totalTime = 0; // milliseconds
        unsigned peakTime = 0;
    };

    TableDepot();
    ~TableDepot() override;
    TableDepot(const TableDepot&) = delete;
    TableDepot& operator=(const TableDepot&) = delete;

    // The cached table (one more duplicate reference) or a newly loaded one; never null.
    LoadTable* LoadFile(const std::string& name) override;
    LoadTable* GetLoadTable(const std::string& name) override;
    void ClearCache() override;
    void DumpStats() override;
    LoadTable* LoadRecord(const std::string& name, std::string& className) override;

    Stats GetStats();
    // Whether the name is cached as a missing record.
    bool IsMissing(const std::string& name);

    // The engine's services, shared by every depot; null removes them (then every record is
    // missing). The engine installs its own while it lives; tests without an engine install theirs.
    static void SetServices(TableDepotServices* services);
    static TableDepotServices* GetServices();

private:
    struct Entry
    {
        LoadTable* table;
        bool missing;
    };
    // h = 5h + c over the bytes: the name exactly as given.
    struct NameHash
    {
        size_t operator()(const std::string& name) const;
    };

    Entry& Load(const std::string& name);
    // Under the lock: retires the cache when the services changed since it was filled.
    void FollowServices();
    LoadTable* LoadFromDatabase(const std::string& name, TableDepotServices& services);
    LoadTable* LoadFromFile(const std::string& name, TableDepotServices& services);

    std::unordered_map<std::string, Entry, NameHash> m_tables;
    std::vector<LoadTable*> m_retired; // tables of the services installed before the current ones
    uint64_t m_servicesChange = 0;     // the SetServices call the cache follows
    LoadTable* m_emptyTable;
    Stats m_stats;
    CriticalSection m_lock;
};

} // namespace GAME
