#include "datakit/WorldGenerator.h"

#include "core/Log.h"
#include "core/ObjectManager.h"
#include "core/Plane.h"
#include "data/BinaryReader.h"
#include "data/BinaryWriter.h"
#include "data/DatabaseArchive.h"
#include "data/LoadTableResources.h"
#include "data/TableDepot.h"
#include "datakit/ArzWriter.h"
#include "datakit/CharacterGenerator.h"
#include "datakit/GridWriter.h"
#include "datakit/MapWriter.h"
#include "datakit/SampleEffects.h"
#include "datakit/SampleGridKit.h"
#include "datakit/SampleWalker.h"
#include "datakit/TerrainWriter.h"
#include "datakit/WaterWriter.h"
#include "graphics/GraphicsEngine.h"
#include "terrain/GridEntrance.h"
#include "terrain/GridRegion.h"
#include "terrain/Terrain.h"
#include "world/Entity.h"
#include "world/FogSectorData.h"
#include "world/Level.h"
#include "world/NameSectorData.h"
#include "world/Portal.h"
#include "world/Region.h"
#include "world/SectorDataManager.h"
#include "world/World.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <memory>
#include <random>

namespace DataKit {

namespace {

using GAME::Coords;
using GAME::Vec3;

// A level's box reaches this far above and below its ground.
constexpr int kGroundHalfHeight = 30;
// The ground is flattened to height 0 within this distance of a doorway (never past a quarter of
// a region, so that borders shared with neighbours keep their heights).
constexpr float kDoorFlatRadius = 10.0f;
// Caves lie this far below the region that holds their doorway, out of touch of every outdoor box.
constexpr int kCaveDepth = 256;
constexpr float kFlightHeight = 12.0f;
constexpr float kCaveFlightHeight = 4.0f;
// The flight walks straight through a doorway, at its own speed, from this far before it to this
// far past it, as a player would (past the distance, 11 units, within which the portal renderer
// mixes the regions of a doorway its target is at).
constexpr float kDoorwayLanding = 12.0f;
// Within this distance of a waypoint the view turns toward the next leg.
constexpr float kTurnDistance = 12.0f;
// The level file's water chunk, which the generator appends to each outdoor level's image (the
// levels are built without a render device, so their water cannot be made in memory).
constexpr uint32_t kWaterChunk = 9;
// Regions smaller than this get no water.
constexpr int kMinWaterRegionSize = 64;
// The surface of every lake and river.
constexpr float kWaterHeight = 1.0f;
constexpr float kTwoPi = 6.2831853f;
// Walkers turn at this rate (radians a second): at the walk's 1.5 units a second they go round a
// circle of about 3 units' radius.
constexpr float kWalkerTurnRate = 0.5f;
constexpr float kWalkerCircle = CharacterGenerator::walkStride / kWalkerTurnRate;
// How far a walker reaches from the middle of its body (its record's actor radius).
constexpr float kWalkerRadius = 0.4f;
constexpr float kLightHeight = 3.0f;
constexpr int kVillageCrates = 6;
constexpr int kVillageLamps = 4;
// Things placed at random keep this far from the water (the largest sample prop reaches 1.5 units
// from its middle), and a spot is drawn again at most this often (the water covers a small part of
// a region, so that a dry one turns up long before).
constexpr float kPropClearance = 2.2f;
constexpr int kPlacementAttempts = 64;
// A scattered prop keeps at least this much further from the water than its own reach, and its
// footprint this far from every other; its spot is drawn at most this often before the prop is
// left out (the region is filled to about a third, so that a free spot turns up long before).
constexpr float kPropWaterGap = 0.7f;
constexpr float kPropGap = 0.1f;
constexpr int kPropAttempts = 400;
// What else stands on the ground and keeps scattered props away: a crate (1.5 units wide, turned
// any way), a fire, and a doorway's frame with the way in and out of it.
constexpr float kCrateReach = 1.1f;
constexpr float kFireReach = 1.0f;
constexpr float kDoorwayReach = 3.0f;
// The river's water goes on this far past the end of its channel, so that it fades out under the
// bank that closes the channel instead of in the channel itself.
constexpr float kRiverFadeLength = 6.0f;
// How far the lakes' shore waves run up toward the shore from their line.
constexpr float kShoreWaveWidth = 2.0f;
// The border ridge rises over this band along the world's outer edge (in worlds of regions with
// water; smaller test worlds keep an open edge). Props and walkers keep out of the band.
constexpr float kBorderWidth = 16.0f;
// Where the ground is closed by a ridge, the flight keeps its target this far inside the world's
// edge: the sample host's camera trails it by about 23 units and glides up to 9 more behind, and
// so stays over the ridge's foot, under the ridge's crest.
constexpr float kFlightBorderMargin = 40.0f;
// Without a ridge the flight runs this close to the edge.
constexpr float kFlightOpenMargin = 8.0f;

// Level entities are the engine's own classes; these only let the generator delete them itself
// once their level image is written, without the object manager.
class GeneratedEntity : public GAME::Entity
{
public:
    ~GeneratedEntity() override = default;
};
class GeneratedEntrance : public GAME::GridEntrance
{
public:
    ~GeneratedEntrance() override = default;
};

// The record database while the levels are built, for callers that have installed none. The
// archive lives for the process: the object manager keeps the tables it read from it.
class GeneratorRecords : public GAME::TableDepotServices
{
public:
    static GeneratorRecords& Get()
    {
        static GeneratorRecords* records = new GeneratorRecords();
        return *records;
    }
    bool IsLoadingDbFromArchive() override { return true; }
    GAME::DatabaseArchive* GetDatabaseArchive() override { return &m_archive; }
    GAME::FileSystem* GetFileSystem() override { return nullptr; }

private:
    GeneratorRecords()
    {
        ArzWriter database;
        WorldGenerator::AddRecords(database);
        const std::vector<uint8_t> image = database.Build();
        m_archive.Load(image.data(), static_cast<unsigned>(image.size()), false);
    }

    GAME::DatabaseArchive m_archive;
};

// Installs the generator's records while it lives, when nobody else's are installed.
class RecordScope
{
public:
    RecordScope()
    {
        if (!GAME::TableDepot::GetServices()) {
            GAME::TableDepot::SetServices(&GeneratorRecords::Get());
            m_installed = true;
        }
    }
    ~RecordScope()
    {
        if (m_installed && GAME::TableDepot::GetServices() == &GeneratorRecords::Get())
            GAME::TableDepot::SetServices(nullptr);
    }
    RecordScope(const RecordScope&) = delete;
    RecordScope& operator=(const RecordScope&) = delete;

private:
    bool m_installed = false;
};

bool IsPowerOfTwo(int value)
{
    return value > 0 && (value & (value - 1)) == 0;
}

GAME::ABBox GroundBox(int size)
{
    const float half = static_cast<float>(size) * 0.5f;
    return GAME::ABBox(Vec3(half, 0.0f, half), Vec3(half, static_cast<float>(kGroundHalfHeight), half));
}

// A cave of n x n cells on one floor: walls all round, open inside, a floor under every cell.
int CaveCells(int caveSize)
{
    return caveSize / static_cast<int>(SampleGridKit::cellWidth);
}

// The cell of the cave's doorway: the middle of its -z row.
int CaveDoorCell(int caveSize)
{
    return CaveCells(caveSize) / 2;
}

// The frame the engine's portal gives a doorway's triangles: its choke point, at the bottom centre
// of their bounds grown by 0.1.
Coords DoorChokePoint(float at)
{
    return Coords::Translation(Vec3(0.0f, -0.1f, at));
}

// Rolling ground over the whole world: the same height at a world position whichever region asks,
// so that neighbouring regions meet without a step.
struct Relief
{
    float phase[5];
};

Relief MakeRelief(uint32_t seed)
{
    std::mt19937 random(seed * 31u + 7u);
    std::uniform_real_distribution<float> angle(0.0f, 6.2831853f);
    Relief relief;
    for (float& phase : relief.phase)
        phase = angle(random);
    return relief;
}

// The rolling waves dip to -0.2, under the lakes' and rivers' surface; below a knee they are lifted
// along a cubic that meets them there with their own height and slope, so that the ground stays
// 0.3 over the surface everywhere but in the bowls and channels carved into it (a dip under the
// surface would show the water's sheet lying on the land where its painted area ends) and still
// rolls in the low parts.
float ReliefHeight(const Relief& r, float x, float z)
{
    const float h = 3.0f + 2.0f * std::sin(x * 0.09f + r.phase[0]) * std::cos(z * 0.07f + r.phase[1]) +
                    1.2f * std::sin((x + z) * 0.043f + r.phase[2]);
    constexpr float kWaveLow = -0.25f, kKnee = 4.5f;
    constexpr float kLowest = kWaterHeight + 0.3f, kLowSlope = 0.3f;
    if (h >= kKnee)
        return h;
    const float span = kKnee - kWaveLow;
    const float t = std::clamp((h - kWaveLow) / span, 0.0f, 1.0f), t2 = t * t, t3 = t2 * t;
    return (2.0f * t3 - 3.0f * t2 + 1.0f) * kLowest + (t3 - 2.0f * t2 + t) * span * kLowSlope +
           (3.0f * t2 - 2.0f * t3) * kKnee + (t3 - t2) * span;
}

// Share of grass at a world position, 0 to 1.
float GrassShare(const Relief& r, float x, float z)
{
    return std::clamp(0.5f + 0.9f * std::sin(x * 0.11f + r.phase[3]) * std::sin(z * 0.13f + r.phase[4]), 0.0f,
                      1.0f);
}

// The smallest box of whole units (with an even sum of its vertical ends, so that its centre is
// whole too) around [low, high] vertically, with a unit to spare.
GAME::ABBox WholeUnitBox(float half, float low, float high)
{
    int bottom = static_cast<int>(std::floor(low)) - 1;
    int top = static_cast<int>(std::ceil(high)) + 1;
    if ((top - bottom) % 2 != 0)
        ++top;
    return GAME::ABBox(Vec3(half, static_cast<float>(top + bottom) * 0.5f, half),
                       Vec3(half, static_cast<float>(top - bottom) * 0.5f, half));
}

// Where an outdoor region's water lies, in its own space, scaled to its size: a lake in a bowl
// west of the middle on the flight's row, shore waves along its west side, and a river leaving it
// eastward in a channel that ends before the region's edge. The bowl and channel stay clear of the
// region's borders, its doorway, its plug and a village's square.
struct WaterLayout
{
    float size = 0.0f;
    float lakeX = 0.0f, lakeZ = 0.0f;
    // The bowl's radius; the shore lies where the bowl's floor meets the surface.
    float bowlRadius = 0.0f;
    float shoreRadius = 0.0f;
    float riverHalfWidth = 2.0f;
    std::vector<std::array<float, 2>> river;
};

WaterLayout MakeWaterLayout(int regionSize)
{
    WaterLayout w;
    if (regionSize < kMinWaterRegionSize)
        return w;
    w.size = static_cast<float>(regionSize);
    const float s = w.size;
    w.lakeX = 0.3f * s;
    w.lakeZ = 0.5f * s;
    w.bowlRadius = 0.2f * s;
    w.shoreRadius = w.bowlRadius * std::sqrt(1.5f / 4.0f);
    w.river = {{w.lakeX + w.shoreRadius - 1.5f, w.lakeZ},
               {0.6f * s, 0.48f * s},
               {0.74f * s, 0.5f * s},
               {0.86f * s, 0.56f * s}};
    return w;
}

// The floor of the bowl at a squared distance q (in bowl radii) from the lake's centre: 1.5 below
// the surface in the middle, rising steeply to meet the rolling ground.
float BowlFloor(float q)
{
    return kWaterHeight - 1.5f + 4.0f * q;
}

// Distance in x-z from a point to the polyline through the points.
float DistanceToLine(const std::vector<std::array<float, 2>>& line, float x, float z)
{
    float best = std::numeric_limits<float>::infinity();
    for (size_t i = 0; i + 1 < line.size(); ++i) {
        const float ax = line[i][0], az = line[i][1];
        const float dx = line[i + 1][0] - ax, dz = line[i + 1][1] - az;
        const float length2 = dx * dx + dz * dz;
        const float t =
            length2 > 0.0f ? std::clamp(((x - ax) * dx + (z - az) * dz) / length2, 0.0f, 1.0f) : 0.0f;
        const float ex = ax + t * dx - x, ez = az + t * dz - z;
        best = std::min(best, std::sqrt(ex * ex + ez * ez));
    }
    return best;
}

// The ground under the water: the rolling height, lowered into the lake's bowl and the river's
// channel (1.0 below the surface along its middle).
float CarveWater(const WaterLayout& w, float x, float z, float height)
{
    if (w.size <= 0.0f)
        return height;
    const float bx = (x - w.lakeX) / w.bowlRadius, bz = (z - w.lakeZ) / w.bowlRadius;
    height = std::min(height, BowlFloor(bx * bx + bz * bz));
    const float d = DistanceToLine(w.river, x, z) / w.riverHalfWidth;
    return std::min(height, kWaterHeight - 1.0f + 1.5f * d * d);
}

// Whether the water of the layout covers the point when the ground there lies under its surface:
// inside the lake's painted circle or the river's band.
bool InWaterArea(const WaterLayout& w, float x, float z)
{
    if (w.size <= 0.0f)
        return false;
    const float dx = x - w.lakeX, dz = z - w.lakeZ;
    return dx * dx + dz * dz < w.bowlRadius * w.bowlRadius ||
           DistanceToLine(w.river, x, z) < w.riverHalfWidth + 0.5f;
}

// The world's border ridge, in world space: whether the world has one, and how high it lifts
// the ground at a point (up to the settings' border height, a little more or less along the
// border so that it reads as hills; steepest halfway up its band).
bool HasBorderRidge(const WorldGenerator::Settings& s)
{
    return s.borderHeight > 0.0f && s.regionSize >= kMinWaterRegionSize;
}

float BorderDistance(const WorldGenerator::Settings& s, float x, float z)
{
    const float width = static_cast<float>(s.regionsX * s.regionSize);
    const float depth = static_cast<float>(s.regionsZ * s.regionSize);
    return std::min(std::min(x, width - x), std::min(z, depth - z));
}

float BorderRise(const WorldGenerator::Settings& s, float x, float z)
{
    if (!HasBorderRidge(s))
        return 0.0f;
    const float d = BorderDistance(s, x, z);
    if (d >= kBorderWidth)
        return 0.0f;
    const float t = 1.0f - std::max(d, 0.0f) / kBorderWidth;
    const float hills = 1.0f + 0.15f * std::sin(x * 0.13f) * std::cos(z * 0.11f);
    return s.borderHeight * hills * t * t * (3.0f - 2.0f * t);
}

// Whether something reaching that far round a world position would stand in the ridge's band.
bool OnBorderRidge(const WorldGenerator::Settings& s, float x, float z, float reach)
{
    return HasBorderRidge(s) && BorderDistance(s, x, z) < kBorderWidth + reach;
}

// Whether anything standing at (x, z) with the clearance round it would reach the water: some
// point of its footprint (the middle and eight points on the clearance's circle) lies inside the
// lake's painted circle or the river's band where the ground there (heightAt) lies under the
// surface. Without heights (heightAt null) every such point counts as wet.
bool ReachesWater(const WaterLayout& w, float x, float z, float clearance,
                  const std::function<float(float, float)>& heightAt)
{
    if (w.size <= 0.0f)
        return false;
    constexpr float kDiagonal = 0.70710678f;
    const float offsets[9][2] = {{0, 0},  {1, 0},  {-1, 0}, {0, 1}, {0, -1}, {kDiagonal, kDiagonal},
                                 {kDiagonal, -kDiagonal}, {-kDiagonal, kDiagonal}, {-kDiagonal, -kDiagonal}};
    for (const auto& o : offsets) {
        const float px = x + o[0] * clearance, pz = z + o[1] * clearance;
        if (InWaterArea(w, px, pz) && (!heightAt || heightAt(px, pz) < kWaterHeight + 0.1f))
            return true;
    }
    return false;
}

// A round footprint in x and z that nothing else placed may enter.
struct Footprint
{
    float x, z, reach;
};

bool Overlaps(const std::vector<Footprint>& taken, float x, float z, float reach)
{
    return std::any_of(taken.begin(), taken.end(), [&](const Footprint& f) {
        const float dx = f.x - x, dz = f.z - z, apart = f.reach + reach + kPropGap;
        return dx * dx + dz * dz < apart * apart;
    });
}

// The middle of the circle a walker placed with the frame walks: it goes forward along the
// frame's z and turns toward its x (the turn increases its angle about y), so the circle's middle
// lies kWalkerCircle along x from where it starts.
Vec3 WalkCentre(const Coords& frame)
{
    return frame.origin + frame.xAxis * kWalkerCircle;
}

Vec3 Normalized(const Vec3& v)
{
    const float length = std::sqrt(Vec3::Dot(v, v));
    return length > 0.0f ? v * (1.0f / length) : Vec3(0.0f, 0.0f, 1.0f);
}

} // namespace

void WorldGenerator::WriteAtmosphere(const Atmosphere& air, GAME::FogSectorData& record)
{
    const float values[9] = {air.fogColor[0],   air.fogColor[1],  air.fogColor[2],
                             air.depthFogStart, air.depthFogEnd,  air.depthFogDensity,
                             air.heightFogBase, air.heightFogTop, air.heightFogDensity};
    for (int i = 0; i < 9; ++i)
        record.SetFloat(i, values[i]);
}

WorldGenerator::Atmosphere WorldGenerator::ReadAtmosphere(const GAME::FogSectorData& record)
{
    Atmosphere air;
    float* const values[9] = {&air.fogColor[0],   &air.fogColor[1],  &air.fogColor[2],
                              &air.depthFogStart, &air.depthFogEnd,  &air.depthFogDensity,
                              &air.heightFogBase, &air.heightFogTop, &air.heightFogDensity};
    for (int i = 0; i < 9; ++i)
        *values[i] = record.GetFloat(i);
    return air;
}

bool WorldGenerator::ApplyAtmosphere(const GAME::SectorDataManager& sectors, GAME::GraphicsEngine& graphics)
{
    const auto* record = static_cast<const GAME::FogSectorData*>(
        sectors.GetSectorData(GAME::SectorDataManager::SECTOR_FOG, 0u));
    if (!record)
        return false;
    const Atmosphere air = ReadAtmosphere(*record);
    graphics.SetFogColor(air.fogColor[0], air.fogColor[1], air.fogColor[2]);
    graphics.SetDepthFog(air.depthFogStart, air.depthFogEnd, air.depthFogDensity);
    graphics.SetHeightFog(air.heightFogBase, air.heightFogTop, air.heightFogDensity);
    graphics.EnableFog(true);
    return true;
}

const std::vector<std::string>& WorldGenerator::EntityRecords()
{
    static const std::vector<std::string> records = {
        "Records/World/Generated/Rock.dbr", "Records/World/Generated/Tree.dbr",
        "Records/World/Generated/Bush.dbr", "Records/World/Generated/Ruin.dbr"};
    return records;
}

float WorldGenerator::EntityReach(const std::string& record)
{
    // Half the width of the square each stands on, times the root of 2: turned any way, it stays
    // inside that circle.
    static const std::pair<const char*, float> halfWidths[] = {
        {"Rock", 0.6f}, {"Tree", 0.4f}, {"Bush", 0.7f}, {"Ruin", 1.5f}};
    for (const auto& [word, half] : halfWidths)
        if (record.find(word) != std::string::npos)
            return half * 1.4142136f;
    return 1.0f;
}

void WorldGenerator::AddRecords(ArzWriter& database)
{
    for (const std::string& record : EntityRecords())
        database.AddRecord(NormalizeRecordName(record)).String("Class", "Entity");
    AddPlacedRecords(database);
}

void WorldGenerator::AddPlacedRecords(ArzWriter& database)
{
    SampleGridKit::AddRecords(database);
    SampleEffects::AddRecords(database);
    database.AddRecord(NormalizeRecordName(walkerRecord))
        .String("Class", SampleWalker::ClassName())
        .String("description", "tagGeneratedWalker")
        .String("mesh", CharacterGenerator::characterMesh)
        .String("animation", CharacterGenerator::walkAnimation)
        .Float("turnRate", kWalkerTurnRate)
        .Float("tintColor.r", walkerTint.r)
        .Float("tintColor.g", walkerTint.g)
        .Float("tintColor.b", walkerTint.b)
        .Float("actorRadius", kWalkerRadius)
        .Float("actorHeight", 1.9f);
    database.AddRecord(NormalizeRecordName(crateRecord))
        .String("Class", "Actor")
        .String("description", "tagGeneratedCrate")
        .String("mesh", CharacterGenerator::propMesh)
        .Float("scale", 1.5f);
    // Warm, the lamps a little more so; both reach a few units.
    database.AddRecord(NormalizeRecordName(caveLightRecord))
        .String("Class", "Light")
        .Float("radius", 10.0f)
        .Float("color.r", 1.0f)
        .Float("color.g", 0.7f)
        .Float("color.b", 0.4f);
    database.AddRecord(NormalizeRecordName(villageLampRecord))
        .String("Class", "NightLight")
        .Float("radius", 9.0f)
        .Float("color.r", 1.0f)
        .Float("color.g", 0.8f)
        .Float("color.b", 0.45f);
    TerrainWriter::AddSampleTypeRecords(database);
}

std::vector<float> WorldGenerator::GroundHeights(const RegionInfo& info, int index) const
{
    const int size = m_settings.regionSize;
    const unsigned samples = static_cast<unsigned>(size + 1);
    const Relief relief = MakeRelief(m_settings.seed);
    std::vector<float> heights(static_cast<size_t>(samples) * samples);
    const float ox = static_cast<float>(info.offset.x), oz = static_cast<float>(info.offset.z);
    // Where this region's doorway stands, the ground is flat at 0.
    const PortalInfo* door = nullptr;
    for (const PortalInfo& portal : m_portals)
        if (portal.region == index)
            door = &portal;
    const float flatRadius = std::min(kDoorFlatRadius, static_cast<float>(size) * 0.25f);
    const WaterLayout water = MakeWaterLayout(size);
    for (unsigned y = 0; y < samples; ++y)
        for (unsigned x = 0; x < samples; ++x) {
            float h = ReliefHeight(relief, ox + static_cast<float>(x), oz + static_cast<float>(y));
            if (door) {
                const float dx = static_cast<float>(x) - door->coords.origin.x;
                const float dz = static_cast<float>(y) - door->coords.origin.z;
                const float share = std::min(1.0f, std::sqrt(dx * dx + dz * dz) / flatRadius);
                h *= share * share * (3.0f - 2.0f * share);
            }
            heights[static_cast<size_t>(y) * samples + x] =
                CarveWater(water, static_cast<float>(x), static_cast<float>(y), h) +
                BorderRise(m_settings, ox + static_cast<float>(x), oz + static_cast<float>(y));
        }
    return heights;
}

void WorldGenerator::MakeGround(const RegionInfo& info, int index, GAME::Terrain& terrain) const
{
    const int size = m_settings.regionSize;
    const unsigned samples = static_cast<unsigned>(size + 1);
    const Relief relief = MakeRelief(m_settings.seed);
    const std::vector<float> heights = GroundHeights(info, index);
    for (unsigned y = 0; y < samples; ++y)
        for (unsigned x = 0; x < samples; ++x)
            terrain.SetBaseHeight(static_cast<int>(x), static_cast<int>(y),
                                  heights[static_cast<size_t>(y) * samples + x]);
    // As the editor applies an edit: vertices, blocks and their boxes follow the new heights.
    terrain.AddDirtyRect(GAME::DirtyRect(0, 0, static_cast<int32_t>(samples), static_cast<int32_t>(samples)));
    terrain.ProcessDirtyRects();

    // Dirt everywhere, grass painted over it by the relief's second pattern, stone on the heights.
    // The records are not asked for here (the game's database need not be loaded yet): the
    // layers keep their record names, and the types are made when the level is loaded.
    const float ox = static_cast<float>(info.offset.x), oz = static_cast<float>(info.offset.z);
    terrain.AddUntypedLayer(TerrainWriter::dirtTypeRecord, nullptr);
    terrain.AddUntypedLayer(TerrainWriter::grassTypeRecord, nullptr);
    terrain.AddUntypedLayer(TerrainWriter::stoneTypeRecord, nullptr);
    // No grass grows where the water covers the ground: a blade takes its size from the opacity
    // of the cells whose middles lie within a unit of it, so a cell is left bare when any ground
    // within that reach of its own lies under the surface in the water's area (the shore is mud).
    const WaterLayout water = MakeWaterLayout(size);
    const auto wetNear = [&](int cx, int cy) {
        for (int y = std::max(cy - 1, 0); y <= std::min(cy + 2, size); ++y)
            for (int x = std::max(cx - 1, 0); x <= std::min(cx + 2, size); ++x)
                if (InWaterArea(water, static_cast<float>(x), static_cast<float>(y)) &&
                    heights[static_cast<size_t>(y) * samples + static_cast<size_t>(x)] < kWaterHeight + 0.1f)
                    return true;
        return false;
    };
    for (unsigned y = 0; y < samples - 1; ++y)
        for (unsigned x = 0; x < samples - 1; ++x) {
            const int ix = static_cast<int>(x), iy = static_cast<int>(y);
            const float cx = static_cast<float>(x) + 0.5f, cz = static_cast<float>(y) + 0.5f;
            const float g = wetNear(ix, iy) ? 0.0f : GrassShare(relief, ox + cx, oz + cz);
            const float h = 0.25f * (terrain.GetHeight(ix, iy) + terrain.GetHeight(ix + 1, iy) +
                                     terrain.GetHeight(ix, iy + 1) + terrain.GetHeight(ix + 1, iy + 1));
            const float st = std::clamp((h - 4.5f) * 0.8f, 0.0f, 1.0f);
            terrain.SetLayerOpacity(1, ix, iy, static_cast<uint8_t>(std::lround(g * 255.0f)));
            terrain.SetLayerOpacity(2, ix, iy, static_cast<uint8_t>(std::lround(st * 255.0f)));
        }
    for (unsigned layer = 1; layer < 3; ++layer)
        terrain.UpdateLayerOpacity(layer);
    terrain.AddOpacityDirtyRect(GAME::DirtyRect(0, 0, size, size));
    terrain.ProcessDirtyOpacityRects();

    // A hole of 2 x 2 cells three quarters into the region, closed by a plug at the ground's
    // heights.
    const int hx = size * 3 / 4, hy = size * 3 / 4;
    for (int y = hy; y < hy + 2; ++y)
        for (int x = hx; x < hx + 2; ++x)
            terrain.SetInvisible(x, y, true);
    GAME::DirtyRectSet hole;
    hole.AddRect(GAME::DirtyRect(hx - 1, hy - 1, 4, 4));
    terrain.BuildPlugs(hole);
}

std::vector<uint8_t> WorldGenerator::MakeWater(const std::vector<float>& heights) const
{
    const WaterLayout w = MakeWaterLayout(m_settings.regionSize);
    if (w.size <= 0.0f)
        return {};
    const unsigned size = static_cast<unsigned>(m_settings.regionSize);
    const unsigned blocks = (size + WaterWriter::blockCells - 1) / WaterWriter::blockCells;
    WaterWriter water;
    water.types = {WaterWriter::LakeType(), WaterWriter::RiverType()};

    // The lake: painted over the bowl wherever its floor lies under the surface, and a little
    // past the shore (the ground hides what lies under it, and the coverage fades to the edge).
    WaterWriter::Layer lake;
    lake.type = WaterWriter::lakeTypeName;
    lake.height = kWaterHeight;
    lake.extent[0] = lake.extent[1] = w.size;
    lake.blocks = WaterWriter::PaintBlocks(blocks, blocks, [&](float x, float z) {
        const float dx = x - w.lakeX, dz = z - w.lakeZ;
        if (x > w.size || z > w.size || dx * dx + dz * dz >= w.bowlRadius * w.bowlRadius)
            return false;
        const unsigned sx = static_cast<unsigned>(x), sz = static_cast<unsigned>(z);
        return heights[static_cast<size_t>(sz) * (size + 1) + sx] < kWaterHeight + 0.5f;
    });
    water.layers.push_back(std::move(lake));

    WaterWriter::Path river;
    river.type = WaterWriter::riverTypeName;
    river.height = kWaterHeight;
    // Past the channel's end along its last leg: the path fades out over its last rows, which then
    // lie under the bank (the surface is below the ground there), so the channel is full to its end.
    std::vector<std::array<float, 2>> course = w.river;
    if (course.size() >= 2) {
        const std::array<float, 2>& a = course[course.size() - 2];
        const std::array<float, 2>& b = course.back();
        const float dx = b[0] - a[0], dz = b[1] - a[1];
        const float length = std::sqrt(dx * dx + dz * dz);
        if (length > 0.0f)
            course.push_back({b[0] + dx / length * kRiverFadeLength, b[1] + dz / length * kRiverFadeLength});
    }
    river.points = WaterWriter::SmoothCurve(course, w.riverHalfWidth);
    water.paths.push_back(std::move(river));

    // Shore waves along the lake's west side; the curve runs clockwise so that its waves run
    // outward, up the shore. Their bands reach the curve's width outward and the foam a little
    // less, and both lie a little over the surface: the curve keeps that far inside the shore, so
    // that nothing of the waves lies over the dry bank (where the ground rises through the
    // surface more slowly than the waves stand over it, they would show as a line on the land).
    WaterWriter::WaveSet shore;
    shore.height = kWaterHeight;
    std::vector<std::array<float, 2>> arc;
    for (float degrees : {250.0f, 215.0f, 180.0f, 145.0f, 110.0f}) {
        const float a = degrees * 3.1415927f / 180.0f;
        const float r = w.shoreRadius - kShoreWaveWidth - 0.5f;
        arc.push_back({w.lakeX + r * std::cos(a), w.lakeZ + r * std::sin(a)});
    }
    shore.points = WaterWriter::SmoothCurve(arc, kShoreWaveWidth);
    water.waveSets.push_back(std::move(shore));
    return water.Build();
}

WorldGenerator::Settings WorldGenerator::SampleWorld()
{
    Settings plan;
    plan.regionsX = 6;
    plan.regionsZ = 6;
    plan.flightSpeed = 120.0f;
    return plan;
}

WorldGenerator::WorldGenerator() = default;

WorldGenerator::WorldGenerator(const Settings& settings) : m_settings(settings) {}

bool WorldGenerator::Generate()
{
    m_stopped = false;
    m_regions.clear();
    m_portals.clear();
    m_sectorData.clear();
    m_flight.clear();
    m_flightDistance.clear();
    const Settings& s = m_settings;
    const int outdoor = s.regionsX * s.regionsZ;
    if (s.regionsX <= 0 || s.regionsZ <= 0 || !IsPowerOfTwo(s.regionSize) || s.regionSize < 8 ||
        s.regionSize > 1024 || !IsPowerOfTwo(s.caveSize) || s.caveSize < 16 || s.caveSize > s.regionSize ||
        s.caves < 0 || s.caves > outdoor || s.entitiesPerRegion < 0 || s.entitiesPerCave < 0 ||
        s.walkersPerRegion < 0 || s.walkersPerCave < 0 || s.villages < 0 || s.lightsPerCave < 0 ||
        !(s.flightSpeed > 0.0f))
        return false;

    for (int z = 0; z < s.regionsZ; ++z) {
        for (int x = 0; x < s.regionsX; ++x) {
            RegionInfo region;
            char name[96];
            std::snprintf(name, sizeof(name), "Levels/Generated/Field_%d_%d.lvl", x, z);
            region.name = name;
            region.offset = GAME::IntVec3(x * s.regionSize, 0, z * s.regionSize);
            region.box = GroundBox(s.regionSize);
            region.entities = static_cast<unsigned>(s.entitiesPerRegion);
            m_regions.push_back(region);
        }
    }
    // Caves go under outdoor regions spread along the flight's order (row by row, serpentine).
    for (int k = 0; k < s.caves; ++k) {
        const int step = (k * outdoor + outdoor / 2) / s.caves;
        const int row = step / s.regionsX, column = step % s.regionsX;
        const int above = OutdoorIndex(row % 2 == 0 ? column : s.regionsX - 1 - column, row);
        RegionInfo cave;
        char name[96];
        std::snprintf(name, sizeof(name), "Levels/Generated/Cave_%d.lvl", k);
        cave.name = name;
        const GAME::IntVec3& top = m_regions[static_cast<size_t>(above)].offset;
        cave.offset = GAME::IntVec3(top.x, top.y - kCaveDepth, top.z);
        // The cells' box: the grid's walls, floors and ceilings fill it.
        const float size = static_cast<float>(s.caveSize);
        cave.box = GAME::ABBox::FromMinMax(Vec3(), Vec3(size, SampleGridKit::cellHeight, size));
        cave.cave = true;
        cave.entities = static_cast<unsigned>(s.entitiesPerCave);
        m_regions.push_back(cave);
        AddDoorway(above, static_cast<int>(m_regions.size()) - 1);
        ++m_regions[static_cast<size_t>(above)].entities; // the entrance
    }
    for (size_t i = 0; i < m_regions.size(); ++i)
        m_regions[i].id = GAME::RegionId(0x57475231u, s.seed, static_cast<uint32_t>(i) + 1, 0x5245u);
    PlaceActorsAndLights();

    if (!BuildLevels()) {
        m_regions.clear();
        m_portals.clear();
        return false;
    }

    // One name sector per region, as the sector layers would name them.
    GAME::SectorDataManager sectors;
    for (size_t i = 0; i < m_regions.size(); ++i) {
        sectors.NewSectorData(GAME::SectorDataManager::SECTOR_NAME);
        auto* record = static_cast<GAME::NameSectorData*>(
            sectors.GetSectorData(GAME::SectorDataManager::SECTOR_NAME, static_cast<unsigned>(i)));
        if (!record)
            return false;
        const std::string& name = m_regions[i].name;
        record->SetName(name.substr(name.rfind('/') + 1, name.size() - name.rfind('/') - 5));
        record->SetId(GAME::UniqueId(0x53454354u, s.seed, static_cast<uint32_t>(i) + 1, 0));
        record->SetTextTag(m_regions[i].cave ? "tagGeneratedCave" : "tagGeneratedField");
        const float shade = static_cast<float>(i % 8) / 8.0f;
        record->SetRenderColorAlpha(GAME::Color(shade, 0.5f, 1.0f - shade, 0.5f));
        record->SetRenderColorOmega(GAME::Color(1.0f - shade, 0.5f, shade, 0.5f));
    }
    sectors.NewSectorData(GAME::SectorDataManager::SECTOR_FOG);
    if (auto* air = static_cast<GAME::FogSectorData*>(
            sectors.GetSectorData(GAME::SectorDataManager::SECTOR_FOG, 0u))) {
        air->SetName("Generated air");
        air->SetId(GAME::UniqueId(0x41495230u, s.seed, 1, 0));
        WriteAtmosphere(s.atmosphere, *air);
    }
    GAME::BinaryWriter sectorBytes(1024);
    sectors.Save(sectorBytes);
    m_sectorData.assign(sectorBytes.GetBuffer(), sectorBytes.GetBuffer() + sectorBytes.GetSize());

    PlanFlight();
    return true;
}

void WorldGenerator::PlaceActorsAndLights()
{
    const Settings& s = m_settings;
    const int outdoor = s.regionsX * s.regionsZ;
    const Vec3 up(0.0f, 1.0f, 0.0f);
    // Villages in outdoor regions spread over the grid, between the caves' doorways; at most one a
    // region.
    const int villages = std::min(s.villages, outdoor);
    for (int k = 0; k < villages; ++k)
        m_regions[static_cast<size_t>((k * outdoor + outdoor / 4) / villages)].village = true;

    for (size_t index = 0; index < m_regions.size(); ++index) {
        RegionInfo& info = m_regions[index];
        const float size = static_cast<float>(info.cave ? s.caveSize : s.regionSize);
        std::mt19937 random(s.seed * 104729u + static_cast<uint32_t>(index));
        std::uniform_real_distribution<float> turn(0.0f, kTwoPi);
        auto place = [&](const char* record, const Vec3& position, float angle) {
            Coords frame = Coords::Rotation(up, angle);
            frame.origin = position;
            info.placements.push_back(Placement{record, frame});
        };

        // What stands on the ground besides the scattered props: the doorways (with the way
        // through them), a cave's fire and sparks, a village's crates round its square and its fire.
        const Vec3 caveFire(size * 0.5f, 0.0f, size * 0.55f), sparks = caveFire + Vec3(2.0f, 1.0f, 0.0f);
        const Vec3 square(size * 0.5f, 0.0f, size * 0.7f), villageFire = square + Vec3(0.0f, 0.0f, -2.0f);
        const float ring = std::min(6.0f, size * 0.18f);
        std::vector<Footprint> fixtures;
        for (const PortalInfo& door : m_portals)
            if (door.region == static_cast<int>(index))
                fixtures.push_back({door.coords.origin.x, door.coords.origin.z, kDoorwayReach});
        if (info.cave) {
            fixtures.push_back({caveFire.x, caveFire.z, kFireReach});
            fixtures.push_back({sparks.x, sparks.z, kFireReach});
        } else if (info.village) {
            for (int i = 0; i < kVillageCrates; ++i) {
                const float a = kTwoPi * static_cast<float>(i) / static_cast<float>(kVillageCrates);
                fixtures.push_back({square.x + ring * std::cos(a), square.z + ring * std::sin(a), kCrateReach});
            }
            fixtures.push_back({villageFire.x, villageFire.z, kFireReach});
        }

        // Walkers keep far enough from the edges for their circles to stay inside the region, out
        // of the lake and the river, and the circle they walk clear of what stands on the ground (a
        // start and heading whose circle could meet either are drawn again; the scattered props
        // keep out of the circles later).
        const float margin = std::min(2.5f * kWalkerCircle, size * 0.45f);
        std::uniform_real_distribution<float> along(margin, size - margin);
        const WaterLayout water = info.cave ? WaterLayout() : MakeWaterLayout(s.regionSize);
        const int walkers = info.cave ? s.walkersPerCave : s.walkersPerRegion;
        const float ox = static_cast<float>(info.offset.x), oz = static_cast<float>(info.offset.z);
        for (int i = 0; i < walkers; ++i) {
            float x = along(random), z = along(random), heading = turn(random);
            const auto blocked = [&] {
                Coords frame = Coords::Rotation(up, heading);
                frame.origin = Vec3(x, 0.0f, z);
                const Vec3 middle = WalkCentre(frame);
                return ReachesWater(water, x, z, 2.0f * kWalkerCircle + 1.0f, nullptr) ||
                       (!info.cave && OnBorderRidge(s, ox + x, oz + z, 2.0f * kWalkerCircle + 1.0f)) ||
                       Overlaps(fixtures, middle.x, middle.z, kWalkerCircle + kWalkerRadius);
            };
            for (int attempt = 0; attempt < kPlacementAttempts && blocked(); ++attempt)
                x = along(random), z = along(random), heading = turn(random);
            place(walkerRecord, Vec3(x, 0.0f, z), heading);
        }

        if (info.cave) {
            // Lights round the cave's middle, above head height.
            const float radius = size * 0.3f;
            for (int i = 0; i < s.lightsPerCave; ++i) {
                const float a = kTwoPi * static_cast<float>(i) / static_cast<float>(s.lightsPerCave);
                place(caveLightRecord,
                      Vec3(size * 0.5f + radius * std::cos(a), kLightHeight,
                           size * 0.55f + radius * std::sin(a)),
                      0.0f);
            }
            // A fire burning in the middle, and a burst of sparks beside it as the cave loads.
            place(SampleEffects::fireRecord, caveFire, 0.0f);
            place(SampleEffects::burstRecord, sparks, 0.0f);
        } else if (info.village) {
            // A square north of the middle (the doorway of a cave stands south of it): crates round
            // it, lamps between them, two walkers on it.
            for (int i = 0; i < kVillageCrates; ++i) {
                const float a = kTwoPi * static_cast<float>(i) / static_cast<float>(kVillageCrates);
                place(crateRecord, square + Vec3(ring * std::cos(a), 0.0f, ring * std::sin(a)), a);
            }
            for (int i = 0; i < kVillageLamps; ++i) {
                const float a = kTwoPi * (static_cast<float>(i) + 0.5f) / static_cast<float>(kVillageLamps);
                place(villageLampRecord,
                      square + Vec3((ring + 1.5f) * std::cos(a), kLightHeight, (ring + 1.5f) * std::sin(a)),
                      0.0f);
            }
            // The two walk one circle round the middle of the square and the fire, half a round
            // apart: inside the crates, outside the fire.
            const Vec3 middle = (square + villageFire) * 0.5f;
            const float heading = turn(random);
            for (float a : {heading, heading + kTwoPi * 0.5f}) {
                const Coords frame = Coords::Rotation(up, a);
                place(walkerRecord, middle - frame.xAxis * kWalkerCircle, a);
            }
            // A fire in the middle of the square.
            place(SampleEffects::fireRecord, villageFire, 0.0f);
        }
        info.entities += static_cast<unsigned>(info.placements.size());
    }
}

void WorldGenerator::AddDoorway(int outdoor, int cave)
{
    const Settings& s = m_settings;
    // The entrance stands a quarter into the outdoor region, facing +z (the flight's row runs
    // along its middle); the cave's doorway is a cell of its -z row turned half round, its portal
    // facing into the cave, so that the space behind the outdoor door lies inside the cave and the
    // space behind the cave's doorway outdoors: each is looked through from its front.
    const float half = SampleGridKit::cellWidth * 0.5f;
    PortalInfo outside;
    outside.region = outdoor;
    outside.id = GAME::UniqueId(0x504F5254u, m_settings.seed, static_cast<uint32_t>(cave), 1);
    outside.coords = Coords::Translation(
        Vec3(static_cast<float>(s.regionSize) * 0.5f, 0.0f, static_cast<float>(s.regionSize) * 0.25f));
    outside.triangles = SampleGridKit::DoorTriangles(0.0f);
    outside.choke = DoorChokePoint(0.0f);
    outside.connectedRegion = cave;

    PortalInfo inside;
    inside.region = cave;
    inside.id = GAME::UniqueId(0x504F5254u, m_settings.seed, static_cast<uint32_t>(cave), 2);
    inside.coords = Coords(
        Vec3(-1.0f, 0.0f, 0.0f), Vec3(0.0f, 1.0f, 0.0f), Vec3(0.0f, 0.0f, -1.0f),
        Vec3((static_cast<float>(CaveDoorCell(s.caveSize)) + 0.5f) * SampleGridKit::cellWidth, 0.0f, half));
    inside.triangles = SampleGridKit::DoorTriangles(half, true);
    inside.choke = DoorChokePoint(half);
    inside.connectedRegion = outdoor;

    outside.connectedPortal = inside.id;
    inside.connectedPortal = outside.id;
    m_portals.push_back(outside);
    m_portals.push_back(inside);
}

std::vector<uint8_t> WorldGenerator::BuildCaveGrid(int cave) const
{
    const int n = CaveCells(m_settings.caveSize);
    GridWriter grid(SampleGridKit::systemRecord, n, 1, n);
    for (int i = 0; i <= 2 * n; ++i) {
        for (int k = 0; k <= 2 * n; ++k) {
            const bool edge = i == 0 || k == 0 || i == 2 * n || k == 2 * n;
            if (i % 2 == 1 && k % 2 == 1)
                grid.SetLattice(i, 0, k, 1); // every cell has a floor
            else if (edge)
                grid.SetLattice(i, 0, k, 1); // the corners and walls all round
        }
    }
    for (const PortalInfo& door : m_portals) {
        if (door.region != cave)
            continue;
        const int x = CaveDoorCell(m_settings.caveSize);
        grid.SetFeature(x, 0, 0, SampleGridKit::doorFeature, 2);
        GridWriter::Link link;
        link.portalId = door.id;
        link.connectedPortalId = door.connectedPortal;
        link.connectedRegionId = m_regions[static_cast<size_t>(door.connectedRegion)].id;
        link.x = static_cast<uint32_t>(x);
        grid.links.push_back(link);
    }
    return grid.Write(2);
}

bool WorldGenerator::BuildLevels()
{
    // Caves are built from the grid pieces' records and meshes: a caller without a record database
    // or without mesh loading for record tables (a tool, a test) gets the generator's own while the
    // levels are built.
    const RecordScope database;
    std::unique_ptr<GridPieceResources> pieces;
    if (!GAME::LoadTableResources::Get())
        pieces = std::make_unique<GridPieceResources>();

    // The levels stand side by side in a world of their own while they are made, so that each
    // builds its path mesh over its neighbours' ground as the editor does (the terrain's walkable
    // cells and plugs, the caves' floors, the entities' solid parts); then each level's image is
    // written with its mesh. Outdoors the ground is run-time terrain, and entities stand on it.
    GAME::World world;
    std::vector<std::vector<GeneratedEntity*>> entities(m_regions.size());
    std::vector<std::vector<uint8_t>> waters(m_regions.size());
    std::vector<GeneratedEntrance*> entrances;
    const std::vector<std::string>& records = EntityRecords();
    bool built = true;
    // Between one region's work and the next, the caller may stop the build.
    auto keepGoing = [this, &built] {
        if (built && m_keepGoing && !m_keepGoing()) {
            m_stopped = true;
            built = false;
        }
        return built;
    };
    for (size_t index = 0; index < m_regions.size() && keepGoing(); ++index) {
        RegionInfo& info = m_regions[index];
        const int size = info.cave ? m_settings.caveSize : m_settings.regionSize;
        const float half = static_cast<float>(size) * 0.5f;
        if (!info.cave) {
            // The terrain's tree starts at height 0 and grows over the ground.
            const std::vector<float> heights = GroundHeights(info, static_cast<int>(index));
            waters[index] = MakeWater(heights);
            const auto [low, high] = std::minmax_element(heights.begin(), heights.end());
            info.box = WholeUnitBox(half, std::min(*low, 0.0f) - static_cast<float>(kGroundHalfHeight),
                                    std::max(*high, 0.0f) + static_cast<float>(kGroundHalfHeight));
        }
        GAME::Region* region =
            world.GetRegion(world.AddRegion(info.name.c_str(), info.offset, info.box, info.id));
        auto* level = new GAME::Level(region);
        if (info.cave) {
            // The cave's box is its cells' (set when it was planned).
            const std::vector<uint8_t> image = GridWriter::LevelImage(BuildCaveGrid(static_cast<int>(index)));
            if (!level->Load(image.data(), static_cast<int>(image.size()), false) ||
                !level->GetGridRegion() || level->GetGridRegion()->GetNumBuiltCells() == 0) {
                GAME::LogPrintf(1, "WorldGenerator: the cave %s cannot be built from its grid pieces",
                                info.name.c_str());
                built = false;
            }
        } else if (!level->NewTerrain(static_cast<unsigned>(size + 1), static_cast<unsigned>(size + 1))) {
            GAME::LogPrintf(1, "WorldGenerator: no ground for %s", info.name.c_str());
            built = false;
        } else {
            MakeGround(info, static_cast<int>(index), *level->GetEditableTerrain());
        }

        std::mt19937 random(m_settings.seed * 7919u + static_cast<uint32_t>(index));
        std::uniform_real_distribution<float> turn(0.0f, 6.2831853f);
        entities[index].reserve(info.entities);
        unsigned doors = 0; // entrances, counted in info.entities
        for (const PortalInfo& door : m_portals) {
            if (door.region != static_cast<int>(index) || info.cave)
                continue;
            // The outdoor side of a doorway: an entrance whose mesh carries the portal.
            auto* entrance = new GeneratedEntrance();
            entrance->SetObjectName(SampleGridKit::entranceRecord);
            GAME::ObjectManager::Get()->LoadObjectData(entrance);
            entrance->SetPortalId(door.id);
            entrance->SetConnectedPortalId(door.connectedPortal);
            entrance->SetConnectedRegionId(m_regions[static_cast<size_t>(door.connectedRegion)].id);
            level->AddEntity(entrance, door.coords);
            entrances.push_back(entrance);
            ++doors;
        }
        const unsigned scattered = info.entities - static_cast<unsigned>(info.placements.size()) - doors;
        // Footprints already taken: the doorways (with the way through them), the crates and fires,
        // the walkers' circles.
        std::vector<Footprint> taken;
        for (const PortalInfo& door : m_portals)
            if (door.region == static_cast<int>(index))
                taken.push_back({door.coords.origin.x, door.coords.origin.z, kDoorwayReach});
        for (const Placement& placement : info.placements) {
            const float reach = placement.record == crateRecord ? kCrateReach
                                : placement.record == SampleEffects::fireRecord ||
                                        placement.record == SampleEffects::burstRecord
                                    ? kFireReach
                                    : 0.0f;
            if (reach > 0.0f)
                taken.push_back({placement.coords.origin.x, placement.coords.origin.z, reach});
            // A walker's whole circle, so that no prop stands in its way.
            if (placement.record == walkerRecord) {
                const Vec3 middle = WalkCentre(placement.coords);
                taken.push_back({middle.x, middle.z, kWalkerCircle + kWalkerRadius});
            }
        }
        // Each scattered prop stands wholly on its own ground: inside the region (a prop across a
        // border would meet its neighbour's unseen) or inside a cave's walls, apart from every
        // footprint taken, and out of the lake and the river (its spot is drawn again until all
        // holds). The largest go first, while there is most room.
        const WaterLayout water = info.cave ? WaterLayout() : MakeWaterLayout(size);
        const std::function<float(float, float)> groundAt = [level](float x, float z) {
            return level->GetGroundHeight(x, z);
        };
        std::vector<const std::string*> props;
        for (unsigned i = 0; i < scattered; ++i)
            props.push_back(&records[i % records.size()]);
        std::stable_sort(props.begin(), props.end(), [](const std::string* a, const std::string* b) {
            return EntityReach(*a) > EntityReach(*b);
        });
        const float wall = info.cave ? SampleGridKit::wallThickness : 0.0f;
        unsigned left = 0;
        for (const std::string* record : props) {
            if (!built)
                break;
            const float reach = EntityReach(*record);
            std::uniform_real_distribution<float> along(wall + reach,
                                                        static_cast<float>(size) - wall - reach);
            bool found = false;
            float x = 0.0f, z = 0.0f;
            for (int attempt = 0; attempt < kPropAttempts && !found; ++attempt) {
                x = along(random), z = along(random);
                found =
                    !Overlaps(taken, x, z, reach) &&
                    !ReachesWater(water, x, z, std::max(kPropClearance, reach + kPropWaterGap), groundAt) &&
                    (info.cave || !OnBorderRidge(m_settings, static_cast<float>(info.offset.x) + x,
                                                 static_cast<float>(info.offset.z) + z, reach));
            }
            if (!found) {
                ++left;
                continue;
            }
            taken.push_back({x, z, reach});
            auto* entity = new GeneratedEntity();
            entity->SetObjectName(*record);
            Coords frame = Coords::Rotation(Vec3(0.0f, 1.0f, 0.0f), turn(random));
            frame.origin = Vec3(x, level->GetGroundHeight(x, z), z);
            level->AddEntity(entity, frame);
            entities[index].push_back(entity);
        }
        if (left > 0)
            GAME::LogPrintf(0, "WorldGenerator: %u of %u props found no free spot in %s", left, scattered,
                            info.name.c_str());
        info.entities -= left;
        // The placements are written by record like the rest: the level image names only records.
        // Their heights are above the ground where they stand.
        for (size_t i = 0; i < info.placements.size() && built; ++i) {
            const Placement& placement = info.placements[i];
            auto* entity = new GeneratedEntity();
            entity->SetObjectName(placement.record);
            Coords frame = placement.coords;
            frame.origin.y += level->GetGroundHeight(frame.origin.x, frame.origin.z);
            level->AddEntity(entity, frame);
            entities[index].push_back(entity);
        }
        region->SetLevel(level);
        region->SetId(info.id); // a region handed a level takes a new id
    }

    for (size_t index = 0; index < m_regions.size() && keepGoing(); ++index) {
        GAME::Level* level = world.GetRegion(static_cast<int>(index))->GetLevelPtr();
        built = level->CreatePathMesh() && level->GetPathMesh().HasMesh();
        if (!built)
            GAME::LogPrintf(1, "WorldGenerator: no path mesh for %s", m_regions[index].name.c_str());
    }
    for (size_t index = 0; index < m_regions.size() && built; ++index) {
        GAME::BinaryWriter writer(0x10000);
        // The editor keeps one region's ground editable; the rest is saved for the game.
        const bool editable =
            !m_regions[index].cave && static_cast<int>(index) == m_settings.editorFormRegion;
        built = world.GetRegion(static_cast<int>(index))->GetLevelPtr()->SaveToMemory(writer, !editable);
        if (built && !m_regions[index].cave) {
            const std::vector<uint8_t>& water = waters[index];
            if (!water.empty()) {
                writer.BeginBlock(kWaterChunk);
                writer.WriteBytes(water.data(), static_cast<unsigned>(water.size()));
                writer.EndBlock();
                built = !writer.Failed();
            }
        }
        m_regions[index].level.assign(writer.GetBuffer(), writer.GetBuffer() + writer.GetSize());
    }
    // The entities are the generator's: out of their levels and deleted before the world goes.
    for (size_t index = 0; index < m_regions.size(); ++index) {
        GAME::Region* region = index < static_cast<size_t>(world.GetNumRegions())
                                   ? world.GetRegion(static_cast<int>(index))
                                   : nullptr;
        GAME::Level* level = region ? region->GetLevelPtr() : nullptr;
        for (GeneratedEntity* entity : entities[index]) {
            if (level)
                level->RemoveEntity(entity);
            delete entity;
        }
    }
    for (GeneratedEntrance* entrance : entrances) {
        if (GAME::Region* region = entrance->GetRegion())
            if (GAME::Level* level = region->GetLevelPtr())
                level->RemoveEntity(entrance);
        delete entrance;
    }
    return built;
}

std::vector<uint8_t> WorldGenerator::BuildMap() const
{
    MapWriter map(4);
    for (const RegionInfo& info : m_regions) {
        MapWriter::Region& region = map.AddRegion(info.name);
        const Vec3& c = info.box.center;
        const Vec3& e = info.box.extents;
        const float centre[3] = {c.x, c.y, c.z}, extents[3] = {e.x, e.y, e.z};
        const int offset[3] = {info.offset.x, info.offset.y, info.offset.z};
        for (int axis = 0; axis < 3; ++axis) {
            region.center[axis] = static_cast<int32_t>(centre[axis]);
            region.extents[axis] = static_cast<int32_t>(extents[axis]);
            region.offset[axis] = offset[axis];
        }
        for (int word = 0; word < 4; ++word)
            region.id[word] = info.id.GetWord(word);
        region.level = info.level;
    }
    if (!m_regions.empty()) {
        const Vec3& c = m_regions.front().box.center;
        map.AddSpawnPoint(0, c.x, 0.0f, c.z);
    }
    map.SetSectorData(m_sectorData);
    // No portal chunk: the doorways' portals come with their levels (the outdoor entrance and the
    // cave's doorway cell).
    return map.Build();
}

std::vector<uint8_t> WorldGenerator::BuildPortalChunk() const
{
    GAME::BinaryWriter writer(1024);
    writer.WriteUInt32(static_cast<uint32_t>(m_portals.size()));
    for (const PortalInfo& portal : m_portals) {
        m_regions[static_cast<size_t>(portal.region)].id.Write(writer);
        writer.WriteUniqueId(portal.id);
        writer.WriteCoords(portal.coords);
        writer.WriteUInt32(static_cast<uint32_t>(portal.triangles.size()));
        for (const GAME::Triangle& triangle : portal.triangles)
            for (const Vec3& corner : triangle.corners)
                writer.WriteVec3(corner);
        m_regions[static_cast<size_t>(portal.connectedRegion)].id.Write(writer);
        writer.WriteUniqueId(portal.connectedPortal);
    }
    return std::vector<uint8_t>(writer.GetBuffer(), writer.GetBuffer() + writer.GetSize());
}

void PortalChunkReader::ReadChunk(GAME::BinaryReader& reader)
{
    m_placed = 0;
    // The smallest record: ids (4 x 16 bytes), frame (48), triangle count (4).
    constexpr unsigned kMinRecord = 4 * 16 + 48 + 4;
    const uint32_t count = reader.ReadUInt32();
    if (!m_world || !reader.CheckCount(count, kMinRecord, "portals"))
        return;
    for (uint32_t i = 0; i < count; ++i) {
        GAME::RegionId regionId;
        regionId.Read(reader);
        const GAME::UniqueId id = reader.ReadUniqueId();
        const Coords coords = reader.ReadCoords();
        const uint32_t triangleCount = reader.ReadUInt32();
        if (!reader.CheckCount(triangleCount, sizeof(GAME::Triangle), "portal triangles"))
            return;
        std::vector<GAME::Triangle> triangles(triangleCount);
        for (GAME::Triangle& triangle : triangles)
            for (Vec3& corner : triangle.corners)
                corner = reader.ReadVec3();
        GAME::RegionId connectedRegion;
        connectedRegion.Read(reader);
        const GAME::UniqueId connectedPortal = reader.ReadUniqueId();
        if (reader.Failed())
            return;
        GAME::Region* region = m_world->GetRegionById(regionId, false);
        if (!region) {
            GAME::LogPrintf(1, "Generated map: portal %u names a region the world does not have", i);
            continue;
        }
        GAME::Portal* portal = region->CreatePortal();
        portal->SetId(id);
        portal->SetTriangles(triangles);
        portal->SetCoords(coords);
        portal->SetConnectedRegionId(connectedRegion);
        portal->SetConnectedPortalId(connectedPortal);
        ++m_placed;
    }
}

std::string WorldGenerator::GetSectorDataName() const
{
    const size_t dot = m_settings.mapName.rfind('.');
    return (dot == std::string::npos ? m_settings.mapName : m_settings.mapName.substr(0, dot)) + ".sd";
}

bool WorldGenerator::Write(const std::string& folder) const
{
    if (m_regions.empty())
        return false;
    auto put = [&](const std::string& name, const std::vector<uint8_t>& bytes) {
        const std::filesystem::path path = std::filesystem::path(folder) / name;
        std::error_code error;
        std::filesystem::create_directories(path.parent_path(), error);
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        out.close();
        return static_cast<bool>(out);
    };
    return put(m_settings.mapName, BuildMap()) && put(GetSectorDataName(), m_sectorData);
}

// ---- The flight --------------------------------------------------------------------------------

void WorldGenerator::AddWaypoint(int region, const Vec3& position, bool jump)
{
    float distance = 0.0f;
    if (!m_flight.empty()) {
        distance = m_flightDistance.back();
        const Waypoint& last = m_flight.back();
        if (!jump && last.region == region) {
            const Vec3 leg = position - last.position;
            distance += std::sqrt(Vec3::Dot(leg, leg));
        }
    }
    m_flight.push_back(Waypoint{region, position, jump});
    m_flightDistance.push_back(distance);
}

void WorldGenerator::PlanFlight()
{
    const Settings& s = m_settings;
    const float size = static_cast<float>(s.regionSize);
    // Inside a ridged border the flight keeps back from it (its edge rows too), never past the
    // world's middle.
    const float width = size * static_cast<float>(s.regionsX);
    const float depth = size * static_cast<float>(s.regionsZ);
    const float margin =
        HasBorderRidge(s) ? std::min(kFlightBorderMargin, 0.5f * std::min(width, depth)) : kFlightOpenMargin;
    auto fly = [&](float x, float z) { AddWaypoint(-1, Vec3(x, kFlightHeight, z)); };

    // Into the cave below outdoor region `above` through its doorway, round the cave and out.
    auto visitCave = [&](int above) {
        const PortalInfo* door = nullptr;
        const PortalInfo* back = nullptr;
        for (const PortalInfo& portal : m_portals)
            if (portal.region == above)
                door = &portal;
        if (!door)
            return;
        for (const PortalInfo& portal : m_portals)
            if (portal.id == door->connectedPortal)
                back = &portal;
        if (!back)
            return;
        // The engine's front-to-back transform of the door pair.
        const Coords frontToBack =
            back->coords * back->choke * door->choke.Inverse() * door->coords.Inverse();
        const Vec3 doorPoint = door->coords.TransformPoint(Vec3(0.0f, kCaveFlightHeight, 0.0f));
        const GAME::IntVec3& o = m_regions[static_cast<size_t>(above)].offset;
        const Vec3 doorWorld =
            doorPoint + Vec3(static_cast<float>(o.x), static_cast<float>(o.y), static_cast<float>(o.z));
        const Vec3 before = doorWorld + Vec3(0.0f, kFlightHeight - kCaveFlightHeight, 14.0f);
        const Vec3 caveDoor = frontToBack.TransformPoint(doorPoint);
        // The flight walks through the doorway and on, straight, for kDoorwayLanding past it (the
        // entrance faces +z: the cave lies behind it, the field before it). At the doorway it
        // changes regions in a step of no length: the same place, named in the other region.
        const Vec3 caveLanding = frontToBack.TransformPoint(doorPoint - Vec3(0.0f, 0.0f, kDoorwayLanding));
        const int cave = door->connectedRegion;
        const float c = static_cast<float>(s.caveSize);
        AddWaypoint(-1, before);
        AddWaypoint(-1, doorWorld + Vec3(0.0f, 0.0f, 6.0f));
        AddWaypoint(-1, doorWorld);
        AddWaypoint(cave, caveDoor, true);
        AddWaypoint(cave, caveLanding);
        AddWaypoint(cave, Vec3(c * 0.5f, kCaveFlightHeight, c * 0.55f));
        AddWaypoint(cave, Vec3(c * 0.8f, kCaveFlightHeight, c * 0.8f));
        AddWaypoint(cave, Vec3(c * 0.2f, kCaveFlightHeight, c * 0.8f));
        AddWaypoint(cave, Vec3(c * 0.5f, kCaveFlightHeight, c * 0.55f));
        AddWaypoint(cave, caveLanding);
        AddWaypoint(cave, caveDoor);
        AddWaypoint(-1, doorWorld, true);
        AddWaypoint(-1, doorWorld + Vec3(0.0f, 0.0f, kDoorwayLanding));
        AddWaypoint(-1, before);
    };

    // Serpentine: each row along its middle (kept back from a ridged border), turning into the next
    // row at the grid's edge; a cave is visited from the middle of the region above it.
    for (int row = 0; row < s.regionsZ; ++row) {
        float z = (static_cast<float>(row) + 0.5f) * size;
        if (HasBorderRidge(s))
            z = std::clamp(z, margin, depth - margin);
        const bool forward = row % 2 == 0;
        fly(forward ? margin : width - margin, z);
        for (int step = 0; step < s.regionsX; ++step) {
            const int column = forward ? step : s.regionsX - 1 - step;
            const int index = OutdoorIndex(column, row);
            const bool hasCave = std::any_of(m_portals.begin(), m_portals.end(),
                                             [&](const PortalInfo& p) { return p.region == index; });
            if (hasCave) {
                const float middle = (static_cast<float>(column) + 0.5f) * size;
                fly(middle, z);
                visitCave(index);
                fly(middle, z);
            }
        }
        fly(forward ? width - margin : margin, z);
    }
}

float WorldGenerator::GetFlightDuration() const
{
    return m_flightDistance.empty() ? 0.0f : m_flightDistance.back() / m_settings.flightSpeed;
}

WorldGenerator::View WorldGenerator::GetFlightView(float seconds) const
{
    View view;
    if (m_flight.empty())
        return view;
    const float distance = std::clamp(seconds, 0.0f, GetFlightDuration()) * m_settings.flightSpeed;
    // The leg (i - 1, i) that holds the distance; a jump (no length) is never current.
    size_t i = 1;
    while (i + 1 < m_flight.size() && (m_flightDistance[i] < distance || m_flight[i].jump))
        ++i;
    int region;
    Vec3 position, direction(0.0f, 0.0f, 1.0f);
    if (m_flight.size() == 1 || m_flight[i].jump) {
        region = m_flight[i].region;
        position = m_flight[i].position;
    } else {
        const Waypoint& from = m_flight[i - 1];
        const Waypoint& to = m_flight[i];
        const float length = m_flightDistance[i] - m_flightDistance[i - 1];
        const float t =
            length > 0.0f ? std::clamp((distance - m_flightDistance[i - 1]) / length, 0.0f, 1.0f) : 1.0f;
        region = to.region;
        position = from.position + (to.position - from.position) * t;
        direction = Normalized(to.position - from.position);
        // Near the end of the leg the view turns toward the next one (when it goes on in this space).
        const float left = m_flightDistance[i] - distance;
        if (left < kTurnDistance && i + 1 < m_flight.size() && !m_flight[i + 1].jump &&
            m_flight[i + 1].region == to.region && m_flightDistance[i + 1] > m_flightDistance[i]) {
            const Vec3 next = Normalized(m_flight[i + 1].position - to.position);
            const float blend = 0.5f * (1.0f - left / kTurnDistance);
            direction = Normalized(direction * (1.0f - blend) + next * blend);
        }
    }
    if (region < 0) {
        // Outdoors: the region under the world position, and a view a little down at the ground.
        const float size = static_cast<float>(m_settings.regionSize);
        const int column =
            std::clamp(static_cast<int>(std::floor(position.x / size)), 0, m_settings.regionsX - 1);
        const int row =
            std::clamp(static_cast<int>(std::floor(position.z / size)), 0, m_settings.regionsZ - 1);
        region = OutdoorIndex(column, row);
        const GAME::IntVec3& o = m_regions[static_cast<size_t>(region)].offset;
        position = position - Vec3(static_cast<float>(o.x), static_cast<float>(o.y), static_cast<float>(o.z));
        direction = Normalized(direction + Vec3(0.0f, -0.25f, 0.0f));
    }
    view.region = region;
    view.position = position;
    view.direction = direction;
    return view;
}

GAME::Frustum WorldGenerator::MakeViewFrustum(const Vec3& eye, const Vec3& direction, float halfAngle,
                                              float nearDistance, float farDistance)
{
    const Vec3 forward = Normalized(direction);
    const Vec3 up = std::fabs(forward.y) > 0.99f ? Vec3(0.0f, 0.0f, 1.0f) : Vec3(0.0f, 1.0f, 0.0f);
    const Coords frame = Coords::LookInDirection(eye, forward, up);
    const Vec3 x = frame.xAxis, y = frame.yAxis, z = frame.zAxis;
    const float c = std::cos(halfAngle), s = std::sin(halfAngle);
    GAME::Frustum frustum;
    frustum.AddPlane(GAME::Plane(z, eye + z * nearDistance));
    frustum.AddPlane(GAME::Plane(-z, eye + z * farDistance));
    frustum.AddPlane(GAME::Plane(x * c + z * s, eye));
    frustum.AddPlane(GAME::Plane(-x * c + z * s, eye));
    frustum.AddPlane(GAME::Plane(y * c + z * s, eye));
    frustum.AddPlane(GAME::Plane(-y * c + z * s, eye));
    return frustum;
}

} // namespace DataKit
