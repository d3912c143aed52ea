// The world's zones: named areas, each described by a database record, grouped into four map pages
// by the teleport map record ("Records/InGameUI/TeleportMap/TeleportMap.dbr", array fields
// "GreeceZoneList", "EgyptZoneList", "OrientZoneList", "OlympusZoneList" for pages 0 to 3). It says
// which page a region belongs to (from the region's zone record), gives each zone a tint for map
// displays and draws a colour key of all zones. A lazily made process-wide instance (Get,
// Destroy); the engine destroys it at shut-down. Record names are kept in the file system's
// normalised form.
//
// Tints come from the manager's own generator, seeded the same way for every manager: zones keep
// their colours for the manager's life and from one run of the game to the next, whatever else in
// the process draws random numbers.
//
// Main thread only.
#pragma once

#include "core/Color.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace GAME {

class GraphicsCanvas;
class Region;

enum ZonePage
{
    ZONE_PAGE_0 = 0,
    ZONE_PAGE_1 = 1,
    ZONE_PAGE_2 = 2,
    ZONE_PAGE_3 = 3,
};

class ZoneManager
{
public:
    struct ZoneData
    {
        std::string zoneNameTag;     // "ZoneNameTag"
        std::string teleportNameTag; // "TeleportNameTag"
        int mapIndex = 0;            // "mapIndex"
        Color tint = Color(0.0f, 0.0f, 0.0f, 1.0f);
    };

    static constexpr const char* teleportMapRecord = "Records/InGameUI/TeleportMap/TeleportMap.dbr";
    static constexpr const char* keyFontStyle = "Records/UI/FontStyles/LargeTabText_White.dbr";
    // Rows of the colour key lie this many pixels apart.
    static constexpr int keyRowSpacing = 34;

    // Made on first use.
    static ZoneManager* Get();
    static bool HasInstance();
    static void Destroy();

    // Reads the teleport map record and every zone record it lists (through the object manager's
    // tables); a missing teleport map leaves the manager without zones.
    ZoneManager();
    virtual ~ZoneManager() = default;
    ZoneManager(const ZoneManager&) = default;
    ZoneManager& operator=(const ZoneManager&) = default;

    // Reads the zone record into the zone data under its (normalised) name, replacing any earlier
    // one; the zone gets a new tint.
    void LoadDBR(const std::string& record);

    // Pages 0 to 2; any other value gives page 3.
    const std::vector<std::string>& GetZoneList(int page) const;
    // The first page whose list holds the region's zone record; page 0 for a null region and for
    // a zone in no list.
    ZonePage GetActFromRegion(const Region* region) const;
    // Null when the record is not a known zone.
    const ZoneData* GetZoneData(const std::string& record) const;
    int GetNumZones() const { return static_cast<int>(m_zones.size()); }

    // Every zone in record-name order, one row each (RenderZoneKey at x 0).
    void RenderKey(GraphicsCanvas& canvas) const;
    // A white 30 x 30 square, the zone's tint in a 28 x 28 square inside it, and the zone's name.
    void RenderZoneKey(int x, int y, const ZoneData& zone, GraphicsCanvas& canvas) const;

private:
    // Each channel (n mod 255) / 255 for the next number n of the generator.
    Color NextTint();
    // 0 to 0x7FFF.
    int NextRandom();

    std::vector<std::string> m_zoneLists[4];
    std::map<std::string, ZoneData> m_zones;
    uint32_t m_randomState = 1;
};

} // namespace GAME
