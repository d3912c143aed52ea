// The sample host's look at path finding: once the generated world is loaded, finds a way from a
// field into the cave below it through the doorway, and one from a field into its neighbour across
// their border, and prints each through the host's output, its corners as lines for the engine's
// developers (--verbose). Main thread.
#pragma once

namespace GAME {
class World;
}
namespace DataKit {
class WorldGenerator;
}

namespace SampleHost {

class HostOutput;

// The levels the ways cross are loaded and completed first (the path finder searches the meshes of
// complete levels).
// Answers the number of ways found.
int LogPathsAcrossRegions(GAME::World& world, const DataKit::WorldGenerator& generator, HostOutput& out);

} // namespace SampleHost
