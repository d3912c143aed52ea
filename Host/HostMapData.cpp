#include "HostMapData.h"

#include "HostOutput.h"

#include "data/BinaryWriter.h"
#include "data/File.h"
#include "data/FileSystem.h"
#include "graphics/Image.h"
#include "platform/PlatformFile.h"
#include "world/MapImage.h"
#include "world/Region.h"
#include "world/World.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace SampleHost {

namespace {

// "Levels/Generated/Field_1_2.lvl" -> "Field_1_2".
std::string RegionShortName(const std::string& name)
{
    const size_t slash = name.find_last_of("/\\");
    std::string text = slash == std::string::npos ? name : name.substr(slash + 1);
    const size_t dot = text.rfind('.');
    return dot == std::string::npos ? text : text.substr(0, dot);
}

// Where the region's minimap is on disk, as the user finds it there: the file the file system
// finds (in the case of its name on disk), else where it makes a new one (its lower-case name,
// inside the run folder).
std::string MinimapPath(GAME::FileSystem& files, const GAME::Region& region,
                        const std::filesystem::path& folder)
{
    std::string name = region.GetMinimapFileName();
    if (name.empty())
        return name;
    std::string found;
    if (files.FindFullFilePath(name, found))
        return found;
    GAME::FileSystem::ConvertFileName(name);
    return (folder / name).string();
}

// An 8-bit RGB PNG of the image (rows from the top), written whole or not at all; false with the
// reason when it cannot be made or written.
bool WritePng(const GAME::Image& image, const std::filesystem::path& path, std::string& reason)
{
    GAME::BinaryWriter png(static_cast<unsigned>(image.GetPitch() * image.GetHeight() + 1024));
    if (image.GetFormat() != GAME::Image::FORMAT_RGB || !image.WritePNG(png)) {
        reason = "the picture could not be made";
        return false;
    }
    std::error_code error;
    std::filesystem::create_directories(path.parent_path(), error);
    return GAME::Platform::WriteWholeFile(path.string(), png.GetBuffer(), png.GetSize(), &reason);
}

// The region's minimap as the rebuild wrote it, decoded.
bool ReadMinimap(GAME::FileSystem& files, const GAME::Region& region, GAME::Image& image)
{
    const std::string name = region.GetMinimapFileName();
    GAME::File* file = name.empty() ? nullptr : files.OpenFile(name.c_str(), GAME::FILE_MODE_READ);
    if (!file)
        return false;
    const unsigned size = file->GetLength();
    const void* bytes = size ? file->Lock(0, size) : nullptr;
    const bool decoded =
        bytes && GAME::MapImage::Decode(bytes, size, image) && image.ChangeFormat(GAME::Image::FORMAT_RGB);
    if (bytes)
        file->Unlock();
    files.CloseFile(file);
    return decoded;
}

} // namespace

std::string RebuildWorldMapData(GAME::World& world, GAME::FileSystem& files,
                                const std::filesystem::path& folder, bool drawsPixels, HostOutput& out)
{
    const auto start = std::chrono::steady_clock::now();
    int rebuilt = 0;
    const GAME::Region* shown = nullptr;
    int notWritten = 0; // the regions' minimaps the engine did not write, and the first
    std::string firstNotWritten;
    std::string firstWhy;
    for (int i = 0; i < world.GetNumRegions(); ++i) {
        GAME::Region* region = world.GetRegion(i);
        if (!region)
            continue;
        // The engine writes the minimap whole or not at all, and says why in its log: one it did
        // not write leaves the file that was there (or none), and is one of the run's files not
        // written.
        const std::string file = MinimapPath(files, *region, folder);
        uint64_t before = 0;
        const bool existed = !file.empty() && GAME::Platform::GetFileLastWriteTime(file, before);
        if (region->RebuildMapData()) {
            ++rebuilt;
            if (!shown)
                shown = region;
            continue;
        }
        uint64_t after = 0;
        if (!file.empty() &&
            (!GAME::Platform::GetFileLastWriteTime(file, after) || (existed && after == before))) {
            // Asked once, of the first: the file itself (read-only, say), else its folder with a
            // file of a minimap's size (a full disk). The minimaps share their folder, and only
            // the first reason is said.
            if (firstWhy.empty())
                firstWhy = WhyFileNotWritten(
                    file, "the engine could not draw or write it (log.html says why)", 64 * 1024);
            out.NoteNotWritten(file, firstWhy);
            if (notWritten++ == 0)
                firstNotWritten =
                    std::filesystem::path(file).lexically_relative(folder).string() + ": " + firstWhy;
        }
    }
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    char line[512];
    std::snprintf(line, sizeof(line),
                  "EngineHost: map data of %d of %d regions rebuilt in %.0f ms (icons and minimaps)\n",
                  rebuilt, world.GetNumRegions(), ms);
    std::string report = line;
    if (notWritten)
        report += "EngineHost: " + Counted(notWritten, "minimap", "minimaps") + " could not be written (" +
                  (notWritten > 1 ? "the first, " : "") + firstNotWritten + "; log.html has the library's " +
                  (notWritten > 1 ? "lines" : "line") + ")\n";

    if (!drawsPixels)
        return report + "EngineHost: no minimap picture: the device draws nothing\n";
    GAME::Image minimap;
    if (!shown || !ReadMinimap(files, *shown, minimap))
        return report + "EngineHost: no minimap to show\n";
    // Named inside the run folder, as the user finds it there.
    const std::filesystem::path name = std::filesystem::path("screenshots") /
                                       ("minimap-" + RegionShortName(shown->GetName()) + ".png");
    std::string reason;
    if (WritePng(minimap, folder / name, reason)) {
        std::snprintf(line, sizeof(line), "  minimap             %u x %u, %s\n", minimap.GetWidth(),
                      minimap.GetHeight(), name.string().c_str());
        return report + line;
    }
    out.NoteNotWritten((folder / name).string(), reason);
    return report + "EngineHost: could not write " + name.string() + ": " + reason + "\n";
}

} // namespace SampleHost
