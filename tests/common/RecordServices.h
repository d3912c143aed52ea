// The engine's part for the table depot in tests: owns a record database (and optionally a file
// system for text tables) and installs itself as the depot's services while it lives.
#pragma once

#include "data/DatabaseArchive.h"
#include "data/FileSystem.h"
#include "data/TableDepot.h"

#include <atomic>
#include <cstdint>
#include <vector>

namespace GAME::Test {

class RecordServices : public TableDepotServices
{
public:
    RecordServices() { TableDepot::SetServices(this); }
    ~RecordServices() override { TableDepot::SetServices(nullptr); }
    RecordServices(const RecordServices&) = delete;
    RecordServices& operator=(const RecordServices&) = delete;

    bool Load(const std::vector<uint8_t>& image)
    {
        return archive.Load(image.data(), static_cast<unsigned>(image.size()), false);
    }

    bool IsLoadingDbFromArchive() override { return fromArchive.load(); }
    DatabaseArchive* GetDatabaseArchive() override { return &archive; }
    FileSystem* GetFileSystem() override { return &fileSystem; }

    DatabaseArchive archive;
    FileSystem fileSystem;
    std::atomic<bool> fromArchive{true};
};

} // namespace GAME::Test
