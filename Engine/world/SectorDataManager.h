// Holds the sector data records of the loaded world, four lists by kind (0 fog, 1 name, 2 ambient,
// 3 boss), and reads and writes them as the sector data file (".sd", also chunk 0x18 of compiled
// maps). The engine owns one for its whole life; the editor changes records, the ambiance manager
// and the sector layers look them up by id. Owns its records. Main thread only.
#pragma once

#include "core/Color.h"
#include "core/UniqueId.h"

#include <vector>

namespace GAME {

class BinaryReader;
class BinaryWriter;
class SectorData;

class SectorDataManager
{
public:
    enum Kind : unsigned
    {
        SECTOR_FOG = 0,
        SECTOR_NAME = 1,
        SECTOR_AMBIENT = 2,
        SECTOR_BOSS = 3,
        NUM_SECTOR_KINDS = 4,
    };

    SectorDataManager() = default;
    virtual ~SectorDataManager();
    SectorDataManager(const SectorDataManager&) = delete;
    SectorDataManager& operator=(const SectorDataManager&) = delete;

    // Reads the file through the engine's file system. A file that does not open is no error:
    // the manager stays as it was and the answer is false. A bad file is refused (logged).
    bool Load(const char* fileName);
    // Appends the records the data holds and clears the modified flag. Bad data (counts or strings
    // past the end) is refused with a log line and leaves the manager unchanged.
    bool Load(BinaryReader& reader);
    // Writes the file through the engine's file system; false (logged) when it cannot be opened or
    // written.
    bool Save(const char* fileName) const;
    void Save(BinaryWriter& writer) const;

    // Deletes every record (a world that unloads leaves none behind).
    void Clear();
    // A new default record of the kind (none for kinds 4 and above).
    void NewSectorData(unsigned kind);
    // Copies every field of the record into the one at the index; the record must be of the kind.
    void SetSectorData(unsigned kind, unsigned index, const SectorData& record);
    // Deletes the record; later ones move down one index.
    void DeleteSectorData(unsigned kind, unsigned index);

    // The first record of the kind with the id (all four words), or null.
    SectorData* GetSectorData(unsigned kind, const UniqueId& id) const;
    // Null outside the kind's list.
    SectorData* GetSectorData(unsigned kind, unsigned index) const;
    unsigned GetNumSectorData(unsigned kind) const;
    bool IsValidSectorValue(unsigned kind, const UniqueId& id) const;
    // The record's colour; four zeros when no record of the kind has the id.
    Color GetRenderColorAlpha(unsigned kind, const UniqueId& id) const;
    Color GetRenderColorOmega(unsigned kind, const UniqueId& id) const;

    // The sector layer the editor shows.
    int GetCurrentLayer() const { return m_currentLayer; }
    void SetCurrentLayer(int layer) { m_currentLayer = layer; }
    // Set by every change through this interface, cleared by loading.
    bool IsModified() const { return m_modified; }

private:
    int m_currentLayer = 0;
    bool m_modified = false;
    std::vector<SectorData*> m_records[NUM_SECTOR_KINDS];
};

} // namespace GAME
