#include "HostMapData.h"

#include "HostOutput.h"

#include "data/File.h"
#include "data/FileSystem.h"
#include "graphics/Image.h"
#include "platform/PlatformFile.h"
#include "world/MapImage.h"
#include "world/Region.h"
#include "world/World.h"

#include <zlib.h>

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

void PutU32(std::vector<uint8_t>& out, uint32_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<uint8_t>(value >> shift));
}

void PutChunk(std::vector<uint8_t>& out, const char* type, const std::vector<uint8_t>& data)
{
    PutU32(out, static_cast<uint32_t>(data.size()));
    const size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    PutU32(out, static_cast<uint32_t>(crc32(0, out.data() + start, static_cast<uInt>(out.size() - start))));
}

// An 8-bit RGB PNG of the image (rows from the top), written whole or not at all; false with the
// reason when it cannot be made or written.
bool WritePng(const GAME::Image& image, const std::filesystem::path& path, std::string& reason)
{
    reason = "the picture could not be made";
    if (image.GetFormat() != GAME::Image::FORMAT_RGB || image.GetWidth() == 0 || image.GetHeight() == 0)
        return false;
    const size_t pitch = image.GetPitch();
    std::vector<uint8_t> rows;
    rows.reserve((pitch + 1) * image.GetHeight());
    for (uint32_t y = 0; y < image.GetHeight(); ++y) {
        rows.push_back(0); // no filter
        const uint8_t* row = image.GetBuffer() + y * pitch;
        rows.insert(rows.end(), row, row + pitch);
    }
    uLongf packedSize = compressBound(static_cast<uLong>(rows.size()));
    std::vector<uint8_t> packed(packedSize);
    if (compress2(packed.data(), &packedSize, rows.data(), static_cast<uLong>(rows.size()), 6) != Z_OK)
        return false;
    packed.resize(packedSize);

    std::vector<uint8_t> header;
    PutU32(header, image.GetWidth());
    PutU32(header, image.GetHeight());
    header.insert(header.end(), {8, 2, 0, 0, 0}); // 8 bits, RGB, deflate, no filter, no interlace
    std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    PutChunk(png, "IHDR", header);
    PutChunk(png, "IDAT", packed);
    PutChunk(png, "IEND", {});

    std::error_code error;
    std::filesystem::create_directories(path.parent_path(), error);
    return GAME::Platform::WriteWholeFile(path.string(), png.data(), png.size(), &reason);
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
    for (int i = 0; i < world.GetNumRegions(); ++i) {
        GAME::Region* region = world.GetRegion(i);
        if (region && region->RebuildMapData()) {
            ++rebuilt;
            if (!shown)
                shown = region;
        }
    }
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    char line[512];
    std::snprintf(line, sizeof(line),
                  "EngineHost: map data of %d of %d regions rebuilt in %.0f ms (icons and minimaps)\n",
                  rebuilt, world.GetNumRegions(), ms);
    std::string report = line;

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
