// The sample host's map data: once, as the world editor does, every region of the loaded world
// draws its icon and its minimap from above (Region::RebuildMapData; the minimaps go through the
// file system beside the level names, "<name less extension>.tga" in the work folder), and the
// minimap of the first region that has one is copied into the run's screenshots folder as
// "minimap-<region>.png", so that it is listed with the screenshots.
#pragma once

#include <filesystem>
#include <string>

namespace GAME {
class FileSystem;
class World;
} // namespace GAME

namespace SampleHost {

class HostOutput;

// Main thread, between frames. The report for the host's output: a line of how many regions were
// rebuilt and one of where the minimap went (or why none did), each ended by a line feed. Without
// drawsPixels (a device that draws nothing) no minimap picture is copied: it would be blank. The
// picture is written whole or not at all; one that could not be written is noted in `out`, and so
// is each region's minimap the engine did not write (a line of the report says which).
std::string RebuildWorldMapData(GAME::World& world, GAME::FileSystem& files,
                                const std::filesystem::path& folder, bool drawsPixels, HostOutput& out);

} // namespace SampleHost
