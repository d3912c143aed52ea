// Generates a world to stream: a grid of outdoor regions side by side (each an editable terrain of
// regionSize units of rolling ground with three painted layers, grass, a plug in a hole and
// entities standing on it apart from one another (none in the water), saved for the game in the
// run-time form, except one region kept in the editor form; from 64 units on also a lake with
// shore waves in a bowl of the ground and a river leaving it in a channel; along the world's outer
// border the ground rises into a ridge, so that the edge is closed) and, below some of
// them, caves: grid regions of the sample grid system (SampleGridKit) walled all round, reached
// through a doorway. The doorway is a pair of portals that come with the levels: outdoors a grid
// entrance (an entity whose mesh carries the portal, saving its link with the level), in the cave
// a doorway feature cell whose mesh carries the other, its link kept in the grid's link block. All
// is written as one compiled map with each region's level image (made by the engine's own Level
// writer, with the path mesh each level builds over its neighbours' ground as the editor does) and
// the sector data beside it (".sd"). Besides the scattered
// entities each region has walkers (the sample character walking its animation), some outdoor
// regions a village (crates round a square, lamps that light at night, a fire) and the caves point
// lights, a fire and a burst of sparks (the sample effects). Also the records its entities, ground
// and caves are made from, and a scripted camera flight that crosses every outdoor region and
// enters and leaves every cave.
//
// The sample host and the streaming benchmark make their worlds here. Levels are built with the
// engine's Level, Entity, GridRegion and GridEntrance classes, so the engine library must be
// loaded, and the caves' records and meshes must be reachable: through the installed record
// database and record-table mesh loading when there are (an engine's, whose data holds
// AddRecords' records and SampleGridKit' files), otherwise through the generator's own, installed
// only while it builds. Nothing else global is changed (the entities live only while their level
// image is written, and the levels' path meshes and portals leave the path finder again with
// them). To load the generated world without an engine, install the records and a
// GridPieceResources. One thread at a time.
#pragma once

#include "core/ABBox.h"
#include "core/Color.h"
#include "core/Coords.h"
#include "core/Frustum.h"
#include "core/IntVec3.h"
#include "core/UniqueId.h"
#include "core/Vec3.h"
#include "world/MapChunkCallback.h"
#include "world/RegionId.h"
#include "world/Triangle.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace GAME {
class FogSectorData;
class GraphicsEngine;
class SectorDataManager;
class Terrain;
class World;
} // namespace GAME

namespace DataKit {

class ArzWriter;
class TerrainWriter;

class WorldGenerator
{
public:
    // The outdoor air: the fog's colour (which the sky takes too: the portal renderer clears an
    // outdoor region's background to it, so that the far ground fades into the sky), the depth fog
    // (full at its end, just short of the sample host's far plane) and the height fog (a haze over
    // the low ground and the water). The generator keeps it in the world's first fog sector record
    // (fog records mean what their host makes of them; this is the sample's reading): floats 0 to 2
    // the colour, 3 to 5 the depth fog's start, end and density, 6 to 8 the height fog's base, top
    // and density (world heights).
    struct Atmosphere
    {
        float fogColor[3] = {0.62f, 0.73f, 0.86f};
        float depthFogStart = 35.0f, depthFogEnd = 85.0f, depthFogDensity = 1.0f;
        float heightFogBase = 0.5f, heightFogTop = 4.0f, heightFogDensity = 0.3f;
    };
    static void WriteAtmosphere(const Atmosphere& air, GAME::FogSectorData& record);
    static Atmosphere ReadAtmosphere(const GAME::FogSectorData& record);
    // Turns the graphics engine's fog on with the air of the manager's first fog record (a loaded
    // world's); false, the fog left as it was, when there is none.
    static bool ApplyAtmosphere(const GAME::SectorDataManager& sectors, GAME::GraphicsEngine& graphics);

    struct Settings
    {
        int regionsX = 4;
        int regionsZ = 4;
        // Units along x and z; a power of two (the terrain has regionSize + 1 samples a side).
        int regionSize = 64;
        int entitiesPerRegion = 200;
        // Caves lie under outdoor regions spread along the flight, one under each; at most one per
        // outdoor region.
        int caves = 2;
        int caveSize = 32;
        int entitiesPerCave = 60;
        // Walkers (the sample character walking in small circles) in every outdoor region and cave.
        int walkersPerRegion = 3;
        int walkersPerCave = 2;
        // Villages: outdoor regions spread over the grid (at most one each; more villages than
        // outdoor regions make one in every region), with a ring of crates, lamps that light up
        // at night and walkers among them.
        int villages = 2;
        // Point lights in every cave.
        int lightsPerCave = 3;
        uint32_t seed = 1;
        // Inside the folder given to Write; the sector data file takes the same name with ".sd".
        std::string mapName = "Worlds/Generated.map";
        // Camera speed along the flight, units a second.
        float flightSpeed = 80.0f;
        // The world's edge is closed as a game's would be: along the outer border of a world of
        // regions of 64 units or more the ground rises over a band of 16 units into a ridge about
        // this much higher (more than the sample host's camera flies over the ground, so that no
        // view of the flight looks past the edge), and the flight keeps back from it. 0 (or
        // smaller regions): the ground ends at the border.
        float borderHeight = 40.0f;
        // The outdoor region (index in the grid, row by row) whose level keeps its terrain in the
        // editor form, as the editor saves it; every other ground is saved for the game in the
        // run-time form. -1: none.
        int editorFormRegion = 0;
        Atmosphere atmosphere;
    };

    // The sample host's world: 6 x 6 fields with their caves, wide enough that the view's reach (its
    // far plane and the level-load distance) covers a small part of it, flown fast enough that
    // regions left behind go unused long enough to unload. The host, its benchmarks and the tests
    // that look at its pictures fly this one.
    static Settings SampleWorld();

    // An actor or light placed by record (the scattered entities are not listed).
    struct Placement
    {
        std::string record;
        GAME::Coords coords; // in the region's space
    };

    // A region as written, in map order: the outdoor grid row by row (x fastest), then the caves.
    // entities counts the scattered entities and a doorway region's entrance.
    struct RegionInfo
    {
        std::string name;
        GAME::IntVec3 offset;
        // Whole units round the level's box.
        GAME::ABBox box;
        GAME::RegionId id;
        bool cave = false;
        bool village = false;
        // All of the level's entities, placements included (a scattered one that finds no free spot
        // is left out).
        unsigned entities = 0;
        std::vector<Placement> placements; // walkers, crates and lights, after the scattered ones
        std::vector<uint8_t> level;        // the level file image
    };

    // One side of a doorway as the engine's portal will have it: placed in its region, leading to
    // the connected region's portal.
    struct PortalInfo
    {
        int region = -1;
        GAME::UniqueId id;
        GAME::Coords coords;
        std::vector<GAME::Triangle> triangles;
        // The local choke point the portal gives its triangles.
        GAME::Coords choke;
        int connectedRegion = -1;
        GAME::UniqueId connectedPortal;
    };

    // Where the camera is: a region of the map (by index), the eye in that region's space and the
    // direction it looks in.
    struct View
    {
        int region = -1;
        GAME::Vec3 position;
        GAME::Vec3 direction;
    };

    // A map chunk of portals, which PortalChunkReader places: u32 count, then per portal its
    // region's id, its own id (four u32 each), its frame (axes and origin, twelve f32), u32
    // triangle count and the triangles (nine f32 each), the connected region's id and the
    // connected portal's id. The generated maps carry none (their portals come with the levels).
    static constexpr uint32_t portalChunkId = 0x54524F50; // "PORT"

    // The colour the walkers wear (their record's tint of the sample character, whose mesh is
    // white): a light cloth that keeps room below white for the light, so that a walker shows its
    // shape in a cave's full ambient as in the sun.
    static constexpr GAME::Color walkerTint = GAME::Color(0.72f, 0.64f, 0.55f, 1.0f);

    // The placements' records: the sample character as a SampleWalker (its walk), the sample crate
    // as an Actor, a point Light for caves and a NightLight for villages.
    static constexpr const char* walkerRecord = "Records/World/Generated/Walker.dbr";
    static constexpr const char* crateRecord = "Records/World/Generated/Crate.dbr";
    static constexpr const char* caveLightRecord = "Records/World/Generated/CaveLight.dbr";
    static constexpr const char* villageLampRecord = "Records/World/Generated/VillageLamp.dbr";

    // Records the scattered entities name (class "Entity").
    static const std::vector<std::string>& EntityRecords();
    // How far a scattered entity of the record reaches from its middle in x and z, however it is
    // turned: the circle round the square the sample host draws it on (a rock 1.2 units wide, a
    // tree 0.8, a bush 1.4, a ruin 3). The generator keeps these circles apart, inside their region
    // (a cave's inside its walls), out of the water and out of the circles the walkers walk (whose
    // starts and headings it draws so that their rounds keep clear of doorways, crates and fires);
    // entities drawn larger may meet.
    static float EntityReach(const std::string& record);
    // Adds those records and AddPlacedRecords' to a database being written.
    static void AddRecords(ArzWriter& database);
    // Adds the placements' records (the sample effects' among them; their files are in the sample
    // data, SampleEffects::Write), the terrain types the ground's layers name (their textures are in
    // the sample data, TerrainWriter::AddSampleTextures) and the caves' grid system and entrance:
    // what a host that makes the scattered entities' records of its own classes adds besides.
    static void AddPlacedRecords(ArzWriter& database);

    WorldGenerator();
    explicit WorldGenerator(const Settings& settings);

    // Lays the regions, portals and flight out and writes every level image. False (nothing kept)
    // for settings that make no world: an empty grid, a region size that is not a power of two
    // between 8 and 1024, more caves than outdoor regions.
    bool Generate();
    // Asked between one region's level and the next while Generate builds them (a few seconds
    // in all), so that a host with a window can answer it; a false answer stops Generate, which
    // then fails with WasStopped true.
    void SetKeepGoing(std::function<bool()> keepGoing) { m_keepGoing = std::move(keepGoing); }
    bool WasStopped() const { return m_stopped; }

    const Settings& GetSettings() const { return m_settings; }
    const std::vector<RegionInfo>& GetRegions() const { return m_regions; }
    const std::vector<PortalInfo>& GetPortals() const { return m_portals; }
    // The sector data block: one name record per region and the air's fog record, as the ".sd"
    // file and the map carry it.
    const std::vector<uint8_t>& GetSectorData() const { return m_sectorData; }

    // The compiled map image ("MAP" version 4).
    std::vector<uint8_t> BuildMap() const;
    // The doorways' portals as a portal chunk would carry them.
    std::vector<uint8_t> BuildPortalChunk() const;
    // The stored grid of a cave (by region index): walls all round, a floor in every cell, the
    // doorway cell with its link.
    std::vector<uint8_t> BuildCaveGrid(int cave) const;
    // Writes the map and the sector data file under folder (made when missing). False when a file
    // could not be written or nothing was generated.
    bool Write(const std::string& folder) const;
    // The sector data file's name: the map name up to its last '.', then ".sd".
    std::string GetSectorDataName() const;

    // ---- The scripted flight ----------------------------------------------------------------
    // Seconds from the first waypoint to the last at the flight speed.
    float GetFlightDuration() const;
    // The view at that time of the flight (clamped to the flight).
    View GetFlightView(float seconds) const;
    // A view frustum (six planes, inside in front of each) from an eye and a direction.
    static GAME::Frustum MakeViewFrustum(const GAME::Vec3& eye, const GAME::Vec3& direction,
                                         float halfAngleRadians, float nearDistance, float farDistance);

private:
    struct Waypoint
    {
        // -1: outdoors, the position in world space (the region is the one under it); otherwise a
        // cave, the position in its space.
        int region;
        GAME::Vec3 position;
        // The flight changes regions here, from the previous waypoint to this one at once: at a
        // doorway, the same place named in the other region.
        bool jump;
    };

    int OutdoorIndex(int x, int z) const { return z * m_settings.regionsX + x; }
    // Makes every region's level, builds its path mesh and writes its image.
    bool BuildLevels();
    // The heights of an outdoor region's samples (y outer).
    std::vector<float> GroundHeights(const RegionInfo& region, int index) const;
    // Shapes and paints the flat editable terrain of an outdoor region and cuts its hole.
    void MakeGround(const RegionInfo& region, int index, GAME::Terrain& terrain) const;
    // The water block of an outdoor region over those heights; empty for regions too small.
    std::vector<uint8_t> MakeWater(const std::vector<float>& heights) const;
    void AddDoorway(int outdoor, int cave);
    // The walkers, villages and cave lights of every region.
    void PlaceActorsAndLights();
    void PlanFlight();
    void AddWaypoint(int region, const GAME::Vec3& position, bool jump = false);

    Settings m_settings;
    std::vector<RegionInfo> m_regions;
    std::vector<PortalInfo> m_portals;
    std::vector<uint8_t> m_sectorData;
    std::vector<Waypoint> m_flight;
    std::vector<float> m_flightDistance; // along the flight to each waypoint
    std::function<bool()> m_keepGoing;
    bool m_stopped = false;
};

// Places the portals of the map's portal chunk in the world's regions as the map loads. Install one
// per engine (World::InstallMapChunkCallback; the engine owns it then). A record whose region is
// not in the world is skipped with a log line; a truncated chunk places what came before.
class PortalChunkReader : public GAME::MapChunkCallback
{
public:
    explicit PortalChunkReader(GAME::World* world)
        : GAME::MapChunkCallback(WorldGenerator::portalChunkId), m_world(world)
    {
    }
    void ReadChunk(GAME::BinaryReader& reader) override;
    // Portals placed by the last chunk read.
    int GetNumPlaced() const { return m_placed; }

private:
    GAME::World* m_world;
    int m_placed = 0;
};

} // namespace DataKit
