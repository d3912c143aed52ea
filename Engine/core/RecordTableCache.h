// What the object manager needs of the record tables: load a record's table by name, keep it, and
// say which class the record makes. The table depot of the data layer implements it and installs
// a factory here when the library loads; the object manager makes its own cache through it.
// Implementations lock for themselves: any thread may call them.
#pragma once

#include <string>

namespace GAME {

class LoadTable;

class RecordTableCache
{
public:
    virtual ~RecordTableCache() = default;

    // The record's table, loaded on first use and kept; a missing record gives an empty table.
    virtual LoadTable* LoadFile(const std::string& name) = 0;
    // The kept table, or an empty one when the name was never loaded; never loads.
    virtual LoadTable* GetLoadTable(const std::string& name) = 0;
    virtual void ClearCache() = 0;
    virtual void DumpStats() = 0;
    // As LoadFile, but null when the record is missing; className receives its "Class" field
    // (empty when it has none).
    virtual LoadTable* LoadRecord(const std::string& name, std::string& className) = 0;
};

using RecordTableCacheFactory = RecordTableCache* (*)();

// Installed once by the data layer at static initialisation; null when none is installed.
void SetRecordTableCacheFactory(RecordTableCacheFactory factory);
RecordTableCacheFactory GetRecordTableCacheFactory();

} // namespace GAME
