// The grid region's stored form (the kind-1 body of a level's ground chunk), built with the sample
// cave pieces: any bytes load or fail without a crash or a hang; what loaded saves, and loads and
// saves again to the same bytes; its ray and box queries agree with the faces it hands the path
// mesh build (see Query); its portals open, its walls fade, it turns; and a level whose ground is
// these bytes loads exactly when the grid does.
#include "common/FuzzSeeds.h"
#include "common/QuietLog.h"
#include "core/Intersect.h"
#include "core/Intersection.h"
#include "core/Log.h"
#include "core/OBBox.h"
#include "core/Ray.h"
#include "core/ObjectManager.h"
#include "core/WorldVec3.h"
#include "data/BinaryReader.h"
#include "data/BinaryWriter.h"
#include "data/DatabaseArchive.h"
#include "data/TableDepot.h"
#include "datakit/ArzWriter.h"
#include "datakit/GridWriter.h"
#include "datakit/SampleGridKit.h"
#include "navigation/CollisionContact.h"
#include "terrain/GridRegion.h"
#include "world/Entity.h"
#include "world/Level.h"
#include "world/Region.h"

#include <climits>
#include <cmath>
#include <iterator>
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

// The grid's ray and box queries, against the faces it hands the path-mesh build (the same
// collision meshes, placed): a ray's hit is the nearest of those faces, on the ray and inside the
// grid's box; a box touches the grid exactly when it touches one of those faces, and its contacts,
// one at a time or gathered for several boxes, lie in the box and in the grid's box, with normals
// of unit length. The places come from the input's first and last bytes.
void Query(const GridRegion& grid, const uint8_t* data, size_t size)
{
    const ABBox bounds = grid.GetBoundingBox();
    std::vector<GeometryBus::SimpleFace> faces;
    grid.GeometryBusStop(ABBox(bounds.center, bounds.extents + Vec3(1.0f, 1.0f, 1.0f)), faces);
    if (faces.size() > 20000)
        return; // every query below walks every face; keep each input quick
    const float slack = 1e-3f * (1.0f + bounds.center.Length() + bounds.extents.Length());
    auto inside = [&](const Vec3& point, const Vec3& center, const Vec3& extents, const Coords& axes) {
        const Vec3 d = point - center;
        return std::fabs(Vec3::Dot(d, axes.xAxis)) <= extents.x + slack &&
               std::fabs(Vec3::Dot(d, axes.yAxis)) <= extents.y + slack &&
               std::fabs(Vec3::Dot(d, axes.zAxis)) <= extents.z + slack;
    };
    const float u = size > 0 ? static_cast<float>(data[0]) / 255.0f : 0.5f;
    const float v = size > 1 ? static_cast<float>(data[size - 1]) / 255.0f : 0.25f;
    const Vec3 low = bounds.GetMin(), high = bounds.GetMax();
    // Off the lattice's planes by odd amounts: a ray starting on an edge, or a box whose face lies
    // in a wall, touches or not by rounding, which differs between the cells' frames and the region.
    auto at = [&](float fx, float fy, float fz) {
        return Vec3(low.x + (high.x - low.x) * fx + 0.0123f, low.y + (high.y - low.y) * fy + 0.0071f,
                    low.z + (high.z - low.z) * fz + 0.0093f);
    };

    const Ray rays[] = {
        Ray(at(u, 1.0f, v) + Vec3(0.0f, 3.0f, 0.0f), Vec3(0.013f, -1.0f, 0.021f)),
        Ray(at(0.0f, 0.37f, v) - Vec3(2.0f, 0.0f, 0.0f), Vec3(1.0f, 0.011f, 0.043f)),
        Ray(at(u, 0.61f, 1.0f) + Vec3(0.0f, 0.0f, 2.0f), Vec3(-0.031f, -0.007f, -1.0f)),
        Ray(at(v, 0.5f, u), Vec3(0.29f, 0.17f, -0.83f)),
    };
    for (const Ray& ray : rays) {
        Intersection hit;
        grid.GetIntersection(ray, hit, physicsSurfaceAny);
        float nearest = gInfinity;
        for (const GeometryBus::SimpleFace& face : faces) {
            Vec3 point;
            const float d =
                IntersectRayTriangle(ray.origin, ray.direction, face.vertices[0], face.vertices[1], face.vertices[2], point);
            if (d >= 0.0f && d < nearest)
                nearest = d;
        }
        if (hit.IsHit() != (nearest < gInfinity))
            std::abort();
        if (hit.IsHit() && (std::fabs(hit.distance - nearest) > slack || !IsFiniteVec3(hit.point) ||
                            (hit.point - ray.GetPoint(hit.distance)).Length() > slack ||
                            !inside(hit.point, bounds.center, bounds.extents, Coords())))
            std::abort();
    }

    const Coords turn = Coords::Rotation(Vec3(0.0f, 1.0f, 0.0f), 0.37f);
    const OBBox boxes[] = {
        OBBox(Vec3(0.61f, 0.83f, 0.47f), Coords(turn.xAxis, turn.yAxis, turn.zAxis, at(u, 0.13f, v))),
        OBBox(Vec3(1.93f, 0.29f, 0.71f), Coords(turn.xAxis, turn.yAxis, turn.zAxis, at(v, 0.07f, u))),
        OBBox(bounds.extents * 0.3f + Vec3(0.11f, 0.13f, 0.17f), Coords(turn.xAxis, turn.yAxis, turn.zAxis, bounds.center)),
    };
    std::vector<CollisionBox> gathered;
    ABBox enclosing = ABBox::FromOBBox(boxes[0]);
    for (const OBBox& box : boxes) {
        gathered.emplace_back(box);
        enclosing = ABBox::FromMinMax(Vec3::Min(enclosing.GetMin(), ABBox::FromOBBox(box).GetMin()),
                                      Vec3::Max(enclosing.GetMax(), ABBox::FromOBBox(box).GetMax()));
    }
    grid.FindCollisions(gathered, enclosing, physicsSurfaceAny);
    for (size_t b = 0; b < std::size(boxes); ++b) {
        const OBBox& box = boxes[b];
        CollisionContact contacts[64];
        const int count = grid.FindCollisions(box, contacts, 64, physicsSurfaceAny);
        bool touches = false;
        for (const GeometryBus::SimpleFace& face : faces) {
            CollisionContact scratch[8];
            touches = touches || CollideOBBoxTriangle(face.vertices, box, scratch, 8) > 0;
        }
        if (count < 0 || count > 64 || (count > 0) != touches || (gathered[b].GetNumContacts() > 0) != touches)
            std::abort();
        auto check = [&](const CollisionContact& contact) {
            if (!IsFiniteVec3(contact.position) || !IsFinite(contact.depth) ||
                std::fabs(contact.normal.Length() - 1.0f) > 1e-3f ||
                !inside(contact.position, box.GetCenter(), box.extents, box.coords) ||
                !inside(contact.position, bounds.center, bounds.extents, Coords()))
                std::abort();
        };
        for (int c = 0; c < count; ++c)
            check(contacts[c]);
        for (int c = 0; c < gathered[b].GetNumContacts(); ++c)
            check(gathered[b].GetContact(c));
    }
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
            FuzzAccepted();
            const ABBox box = grid.GetBoundingBox();
            fitsALevel = 2.0f * box.extents.x <= Level::maxGroundExtent &&
                         2.0f * box.extents.z <= Level::maxGroundExtent;
            grid.PostLoad();
            Query(grid, data, size);
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
