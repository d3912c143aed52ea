#include "HostPaths.h"

#include "HostOutput.h"

#include "core/WorldVec3.h"
#include "datakit/WorldGenerator.h"
#include "navigation/Path.h"
#include "world/Region.h"
#include "world/World.h"

#include <memory>
#include <string>

namespace SampleHost {

namespace {

std::string ShortName(const GAME::Region* region)
{
    if (!region)
        return "(none)";
    const std::string& name = region->GetName();
    const size_t slash = name.find_last_of("/\\");
    std::string text = slash == std::string::npos ? name : name.substr(slash + 1);
    const size_t dot = text.rfind('.');
    return dot == std::string::npos ? text : text.substr(0, dot);
}

bool LogPath(HostOutput& out, GAME::World& world, const char* what, const GAME::WorldVec3& from,
             const GAME::WorldVec3& to)
{
    // A level registers its path mesh once it is complete: a level the streaming brought in may
    // still be waiting for the frames that complete it.
    for (GAME::Region* region : {from.GetRegion(), to.GetRegion()}) {
        if (!region || !region->GuaranteedGetLevel(false)) {
            out.Printf("EngineHost: %s: a region's level could not be loaded", what);
            return false;
        }
        region->PostLoadLevel(false);
    }
    std::unique_ptr<GAME::Path> path(world.FindPath(0, from, to, GAME::Vec3(), 0.0f, 0.5f, 2.0f, 45.0f, 0));
    if (!path) {
        out.Printf("EngineHost: %s: no path from %s to %s", what, ShortName(from.GetRegion()).c_str(),
                   ShortName(to.GetRegion()).c_str());
        return false;
    }
    out.Printf("EngineHost: %s: path from %s to %s, %s, %.1f units, %s", what,
               ShortName(from.GetRegion()).c_str(), ShortName(to.GetRegion()).c_str(),
               Counted(path->GetNumPoints(), "corner", "corners").c_str(), path->GetLength(),
               Counted(path->GetNumRegionChanges(), "change of region", "changes of region").c_str());
    for (const GAME::WorldVec3& corner : path->GetPoints()) {
        const GAME::Vec3& p = corner.GetRegionPosition();
        out.Detailf("    %-10s (%6.1f, %5.1f, %6.1f)", ShortName(corner.GetRegion()).c_str(), p.x, p.y, p.z);
    }
    return true;
}

} // namespace

int LogPathsAcrossRegions(GAME::World& world, const DataKit::WorldGenerator& generator, HostOutput& out)
{
    int found = 0;
    const auto& regions = generator.GetRegions();
    // Through the first doorway: from in front of the field's door to the middle of the cave.
    for (const DataKit::WorldGenerator::PortalInfo& door : generator.GetPortals()) {
        if (regions[static_cast<size_t>(door.region)].cave)
            continue;
        const float cave = static_cast<float>(generator.GetSettings().caveSize);
        const GAME::WorldVec3 from(world.GetRegion(door.region),
                                   door.coords.TransformPoint(GAME::Vec3(0, 0, 12)));
        const GAME::WorldVec3 to(world.GetRegion(door.connectedRegion),
                                 GAME::Vec3(cave * 0.5f, 0, cave * 0.6f));
        found += LogPath(out, world, "through the doorway", from, to) ? 1 : 0;
        break;
    }
    // From the middle of the first field to the middle of its neighbour along x.
    if (generator.GetSettings().regionsX > 1) {
        const float middle = static_cast<float>(generator.GetSettings().regionSize) * 0.5f;
        const GAME::WorldVec3 from(world.GetRegion(0), GAME::Vec3(middle, 0, middle));
        const GAME::WorldVec3 to(world.GetRegion(1), GAME::Vec3(middle, 0, middle + 10.0f));
        found += LogPath(out, world, "across the border", from, to) ? 1 : 0;
    }
    return found;
}

} // namespace SampleHost
