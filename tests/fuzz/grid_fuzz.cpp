// The grid region's stored form (the kind-1 body of a level's ground chunk), built with the sample
// cave pieces: any bytes load or fail without a crash or a hang; what loaded saves, and loads and
// saves again to the same bytes; its portals open, its walls fade, it turns; and a level whose
// ground is these bytes loads exactly when the grid does.
#include "common/FuzzSeeds.h"
#include "common/QuietLog.h"
#include "core/Log.h"
#include "core/ObjectManager.h"
#include "core/WorldVec3.h"
#include "data/BinaryReader.h"
#include "data/BinaryWriter.h"
#include "data/DatabaseArchive.h"
#include "data/TableDepot.h"
#include "datakit/ArzWriter.h"
#include "datakit/GridWriter.h"
#include "datakit/SampleGridKit.h"
#include "terrain/GridRegion.h"
#include "world/Entity.h"
#include "world/Level.h"
#include "world/Region.h"

#include <climits>
#include <cstdlib>
#include <vector>

namespace {

using namespace GAME;
using DataKit::GridWriter;
using DataKit::SampleGridKit;

class Records : public TableDepotServices
{
public:
    Records()
    {
        DataKit::ArzWriter writer(true);
        SampleGridKit::AddRecords(writer);
        const std::vector<uint8_t> image = writer.Build();
        archive.Load(image.data(), static_cast<unsigned>(image.size()), false);
    }
    bool IsLoadingDbFromArchive() override { return true; }
    DatabaseArchive* GetDatabaseArchive() override { return &archive; }
    FileSystem* GetFileSystem() override { return nullptr; }
    DatabaseArchive archive;
};

std::vector<uint8_t> Saved(const GridRegion& grid)
{
    BinaryWriter writer(256);
    grid.Save(writer);
    return std::vector<uint8_t>(writer.GetBuffer(), writer.GetBuffer() + writer.GetSize());
}

// A room of n x n cells walled all round with a doorway on its -z side and the doorway's link.
GridWriter Cave(int n)
{
    GridWriter grid(SampleGridKit::systemRecord, n, 1, n);
    for (int i = 0; i <= 2 * n; ++i)
        for (int k = 0; k <= 2 * n; ++k)
            if ((i % 2 == 1 && k % 2 == 1) || i == 0 || k == 0 || i == 2 * n || k == 2 * n)
                grid.SetLattice(i, 0, k, 1);
    grid.SetFeature(n / 2, 0, 0, SampleGridKit::doorFeature, 2);
    GridWriter::Link link;
    link.portalId = UniqueId(1, 2, 3, 4);
    link.connectedPortalId = UniqueId(5, 6, 7, 8);
    link.connectedRegionId = RegionId(9, 10, 11, 12);
    link.x = static_cast<uint32_t>(n / 2);
    grid.links.push_back(link);
    return grid;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // The records are installed once, as an engine installs its own at start: every input reads
    // the same database, and the depot's cache serves them all.
    static Records* records = [] {
        auto* made = new Records();
        TableDepot::SetServices(made);
        return made;
    }();
    static DataKit::GridPieceResources* pieces = new DataKit::GridPieceResources();
    static Region* region = new Region(ABBox(Vec3(), Vec3(100, 100, 100)));
    (void)records;
    (void)pieces;
    FuzzLog::Silence();
    Entity::InstallHooks();

    bool loaded = false;
    bool fitsALevel = false;
    {
        GridRegion grid(region);
        BinaryReader reader(data, static_cast<unsigned>(size));
        loaded = grid.Load(reader);
        if (loaded) {
            const ABBox box = grid.GetBoundingBox();
            fitsALevel = 2.0f * box.extents.x <= Level::maxGroundExtent &&
                         2.0f * box.extents.z <= Level::maxGroundExtent;
            grid.PostLoad();
            const std::vector<uint8_t> first = Saved(grid);
            GridRegion again(nullptr);
            BinaryReader second(first.data(), static_cast<unsigned>(first.size()));
            if (!again.Load(second) || Saved(again) != first)
                std::abort();
            // Walls fade between two points the input names; the grid turns and keeps its size.
            const float a = size > 0 ? static_cast<float>(data[0] % 64) : 1.0f;
            const float b = size > 1 ? static_cast<float>(data[size - 1] % 64) - 16.0f : -5.0f;
            grid.UpdateTransparency(WorldVec3(region, Vec3(a, 1, b)), WorldVec3(region, Vec3(b, 1, a)), 16);
            const int x = grid.GetXNumCells(), z = grid.GetZNumCells();
            grid.Rotate();
            if (grid.GetXNumCells() != z || grid.GetZNumCells() != x)
                std::abort();
        }
    }
    if (region->GetNumPortals() != 0)
        std::abort(); // the grid closed its portals when it went

    // The same body as a level's ground: the level loads exactly when the grid does and is no
    // wider than a level may be.
    const std::vector<uint8_t> image = GridWriter::LevelImage(std::vector<uint8_t>(data, data + size));
    {
        Level level(region);
        if (level.Load(image.data(), static_cast<int>(image.size()), false) != (loaded && fitsALevel))
            std::abort();
    }
    ObjectManager::Get()->DestroyPendingObjects(UINT_MAX);
    SetProcessLogSink(nullptr);
    return 0;
}

void EngineFuzzSeeds(FuzzSeedSink& sink)
{
    sink.Add("cave", Cave(4).Write(2));
    sink.Add("cave_v1", Cave(3).Write(1));
    GridWriter extra = Cave(2);
    extra.extraBlocks = {{77, {1, 2, 3}}};
    sink.Add("extra_block", extra.Write(2));
    GridWriter floors(SampleGridKit::systemRecord, 2, 3, 1);
    floors.SetLattice(1, 2, 1, 1);
    sink.Add("floors", floors.Write(2));
}
