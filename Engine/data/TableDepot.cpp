#include "data/TableDepot.h"

#include "core/Log.h"
#include "core/Time.h"
#include "data/BasicTextParser.h"
#include "data/BinaryReader.h"
#include "data/DatabaseArchive.h"
#include "data/File.h"
#include "data/FileSystem.h"
#include "data/LoadTable.h"
#include "data/LoadTableBinary.h"

#include <atomic>

namespace GAME {

namespace {

std::atomic<TableDepotServices*> s_services{nullptr};
// Counts the SetServices calls: a depot whose cache was filled under another count retires it.
std::atomic<uint64_t> s_servicesChanges{0};

// The object manager, in core, makes its record cache through this factory.
RecordTableCache* MakeTableDepot()
{
    return new TableDepot;
}

const bool s_factoryInstalled = (SetRecordTableCacheFactory(&MakeTableDepot), true);

} // namespace

size_t TableDepot::NameHash::operator()(const std::string& name) const
{
    size_t h = 0;
    for (unsigned char c : name)
        h = 5 * h + c;
    return h;
}

void TableDepot::SetServices(TableDepotServices* services)
{
    s_services.store(services, std::memory_order_release);
    s_servicesChanges.fetch_add(1, std::memory_order_acq_rel);
}

TableDepotServices* TableDepot::GetServices()
{
    return s_services.load(std::memory_order_acquire);
}

TableDepot::TableDepot()
    : m_servicesChange(s_servicesChanges.load(std::memory_order_acquire)), m_emptyTable(new LoadTable)
{
    (void)s_factoryInstalled;
    m_tables.reserve(100);
}

TableDepot::~TableDepot()
{
    ClearCache();
    delete m_emptyTable;
    m_emptyTable = nullptr;
}

LoadTable* TableDepot::LoadFromDatabase(const std::string& name, TableDepotServices& services)
{
    DatabaseArchive* archive = services.GetDatabaseArchive();
    const void* body = nullptr;
    unsigned size = 0;
    if (!archive || !archive->GetRecord(name, body, size))
        return nullptr;
    auto* table = new LoadTableBinary(archive);
    BinaryReader reader(body, size);
    table->Deserialize(reader);
    return table;
}

LoadTable* TableDepot::LoadFromFile(const std::string& name, TableDepotServices& services)
{
    FileSystem* fileSystem = services.GetFileSystem();
    if (!fileSystem)
        return nullptr;
    File* file = fileSystem->OpenFile(name.c_str(), FILE_MODE_READ);
    if (!file)
        return nullptr;
    auto* table = new LoadTable;
    unsigned length = file->GetLength();
    if (const void* bytes = length ? file->Lock(0, length) : nullptr) {
        BasicTextParser<char> parser(static_cast<const char*>(bytes), length);
        table->Deserialize(parser);
        file->Unlock();
    }
    fileSystem->CloseFile(file);
    return table;
}

void TableDepot::FollowServices()
{
    const uint64_t change = s_servicesChanges.load(std::memory_order_acquire);
    if (change == m_servicesChange)
        return;
    m_servicesChange = change;
    // Tables retired at the change before this one have had the whole life of the services in
    // between to be let go: they go now, so a process that changes services again and again
    // keeps one cache's worth of retired tables, not one per change.
    for (LoadTable* table : m_retired)
        delete table;
    m_retired.clear();
    for (auto& [name, entry] : m_tables)
        m_retired.push_back(entry.table);
    m_tables.clear();
}

TableDepot::Entry& TableDepot::Load(const std::string& name)
{
    FollowServices();
    auto found = m_tables.find(name);
    if (found != m_tables.end()) {
        ++m_stats.duplicateReferences;
        return found->second;
    }

    const int start = GetMachineTime();
    LoadTable* table = nullptr;
    if (TableDepotServices* services = GetServices()) {
        table = services->IsLoadingDbFromArchive() ? LoadFromDatabase(name, *services)
                                                   : LoadFromFile(name, *services);
    } else {
        static std::atomic<bool> s_warned{false};
        if (!s_warned.exchange(true))
            LogPrintf(1, "TableDepot: no engine services are installed; records cannot be loaded");
    }
    const bool missing = table == nullptr;
    if (missing) {
        ++m_stats.missingFiles;
        LogPrintf(1, "TableDepot::Unable to open file (%s)", name.c_str());
        table = new LoadTable;
    }
    Entry& entry = m_tables.emplace(name, Entry{table, missing}).first->second;
    ++m_stats.uniqueFiles;
    const int elapsed = GetMachineTime() - start;
    const unsigned spent = elapsed > 0 ? static_cast<unsigned>(elapsed) : 0u;
    m_stats.totalTime += spent;
    if (spent > m_stats.peakTime)
        m_stats.peakTime = spent;
    return entry;
}

LoadTable* TableDepot::LoadFile(const std::string& name)
{
    CriticalSectionLock lock(m_lock);
    return Load(name).table;
}

LoadTable* TableDepot::LoadRecord(const std::string& name, std::string& className)
{
    CriticalSectionLock lock(m_lock);
    className.clear();
    Entry& entry = Load(name);
    if (entry.missing)
        return nullptr;
    className = entry.table->GetValue("Class", "");
    return entry.table;
}

LoadTable* TableDepot::GetLoadTable(const std::string& name)
{
    CriticalSectionLock lock(m_lock);
    FollowServices();
    auto found = m_tables.find(name);
    return found == m_tables.end() ? m_emptyTable : found->second.table;
}

bool TableDepot::IsMissing(const std::string& name)
{
    CriticalSectionLock lock(m_lock);
    FollowServices();
    auto found = m_tables.find(name);
    return found != m_tables.end() && found->second.missing;
}

void TableDepot::ClearCache()
{
    CriticalSectionLock lock(m_lock);
    for (auto& [name, entry] : m_tables)
        delete entry.table;
    m_tables.clear();
    for (LoadTable* table : m_retired)
        delete table;
    m_retired.clear();
}

TableDepot::Stats TableDepot::GetStats()
{
    CriticalSectionLock lock(m_lock);
    return m_stats;
}

void TableDepot::DumpStats()
{
    CriticalSectionLock lock(m_lock);
    const char* statistics = "Unavailable";
    if (TableDepotServices* services = GetServices())
        if (DatabaseArchive* archive = services->GetDatabaseArchive())
            statistics = archive->GetStatistics();
    const float average =
        m_stats.uniqueFiles ? static_cast<float>(m_stats.totalTime) / static_cast<float>(m_stats.uniqueFiles)
                            : 0.0f;
    LogPrintf(0, "^gTable Depot Statistics:");
    LogPrintf(0, "^g  %u - Unique Files Loaded", m_stats.uniqueFiles);
    LogPrintf(0, "^g  %u - Duplicate Files Referenced", m_stats.duplicateReferences);
    LogPrintf(0, "^g  %u - Missing Files", m_stats.missingFiles);
    LogPrintf(0, "^g  Time:");
    LogPrintf(0, "^g     %u mSec - Total Time loading Unique files", m_stats.totalTime);
    LogPrintf(0, "^g     %f mSec - Average Time loading Unique files", static_cast<double>(average));
    LogPrintf(0, "^g     %u mSec - Peek Time loading Unique files", m_stats.peakTime);
    LogPrintf(0, "^gDB Record Decompression Statistics:");
    LogPrintf(0, "^g  %s", statistics);
}

} // namespace GAME
