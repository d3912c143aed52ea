// The world's zones: named areas grouped into four map pages, which page a region belongs to, a
// tint per zone for map displays and a colour key of all zones. A lazily made process-wide
// instance (Get, Destroy); the engine destroys it at shut-down.
//
// TODO(stand-in): the zone lists of the teleport map record, the zone records with their tints,
// the page of a region and the colour key come with the zone work; until then the manager knows no
// zones and every region is on page 0. Main thread only.
#pragma once

#include <string>
#include <vector>

namespace GAME {

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
    // Made on first use.
    static ZoneManager* Get();
    static bool HasInstance();
    static void Destroy();

    ZoneManager() = default;
    virtual ~ZoneManager() = default;
    ZoneManager(const ZoneManager&) = default;
    ZoneManager& operator=(const ZoneManager&) = default;

    // Pages 0 to 2; any other value gives page 3.
    const std::vector<std::string>& GetZoneList(int page) const;
    ZonePage GetActFromRegion(const Region* region) const;

private:
    std::vector<std::string> m_zoneLists[4];
};

} // namespace GAME
