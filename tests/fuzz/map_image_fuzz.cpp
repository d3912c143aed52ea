// Reads any bytes as a region's icon image, as a source world file hands it over (the same decoding
// serves the minimaps of a compiled map), over the software device: DDS files go to the device,
// TGA to the engine's own reader, anything else is refused. No crash, no hang; a texture made of a
// DDS file has the file's size, one made of a TGA file holds the picture the reader makes of it,
// texel for texel; releasing the icon releases its texture.
#include "common/FuzzSeeds.h"
#include "common/QuietLog.h"
#include "core/ABBox.h"
#include "core/IntVec3.h"
#include "core/Log.h"
#include "data/BinaryWriter.h"
#include "datakit/TextureWriter.h"
#include "graphics/Image.h"
#include "graphics/RenderDevice.h"
#include "graphics/RenderTexture.h"
#include "world/MapChunkCallback.h"
#include "world/Region.h"
#include "world/RegionId.h"
#include "world/WorldServices.h"

#include <cstdlib>
#include <cstring>

namespace {

// The world's services with the software device and nothing else.
class DeviceServices : public GAME::WorldServices
{
public:
    explicit DeviceServices(GAME::RenderDevice* device) : m_device(device) { Install(this); }
    GAME::SectorDataManager* GetSectorDataManager() override { return nullptr; }
    bool InstallMapChunkCallback(GAME::MapChunkCallback*) override { return false; }
    const GAME::MapChunkCallbackMap& GetChunkCallbackMap() override { return m_callbacks; }
    GAME::RenderDevice* GetRenderDevice() override { return m_device; }

private:
    GAME::RenderDevice* m_device;
    GAME::MapChunkCallbackMap m_callbacks;
};

// A region without a world or level, made once with its device; kept to the process's end.
GAME::Region* TheRegion()
{
    static GAME::Region* region = [] {
        FuzzLog::Silence();
        GAME::RenderDevice* device = GAME::RenderDevice::Create("Software");
        if (!device || !device->Initialize())
            std::abort();
        static DeviceServices services(device);
        return new GAME::Region(nullptr, 0, "levels/fuzz.lvl", GAME::ABBox(), GAME::IntVec3(),
                                GAME::RegionId(), 0, 0);
    }();
    return region;
}

uint32_t Word(const uint8_t* bytes)
{
    return uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 | uint32_t(bytes[3]) << 24;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 1u << 20)
        return 0;
    GAME::Region* region = TheRegion();
    region->SetIcon(1, 0, 0, std::vector<uint8_t>(data, data + size));
    if (GAME::RenderTexture* texture = region->GetIcon()) {
        FuzzAccepted();
        if (size >= 20 && std::memcmp(data, "DDS ", 4) == 0) {
            // The file's own size, its top level kept.
            if (texture->GetWidth() != static_cast<int>(Word(data + 16)) ||
                texture->GetHeight() != static_cast<int>(Word(data + 12)))
                std::abort();
        } else {
            // The picture the TGA reader makes of the bytes, texel for texel (blue, green, red and
            // alpha from the low byte up).
            GAME::Image image;
            if (image.LoadTGA(data, static_cast<uint32_t>(size), GAME::Image::FORMAT_RGBA) !=
                    GAME::Image::ERROR_NONE ||
                texture->GetWidth() != static_cast<int>(image.GetWidth()) ||
                texture->GetHeight() != static_cast<int>(image.GetHeight()))
                std::abort();
            int pitch = 0;
            const auto* texels = static_cast<const uint8_t*>(texture->Lock(pitch));
            if (!texels || pitch < texture->GetWidth() * 4)
                std::abort();
            const uint8_t* pixel = image.GetBuffer();
            for (uint32_t y = 0; y < image.GetHeight(); ++y)
                for (uint32_t x = 0; x < image.GetWidth(); ++x, pixel += 4)
                    if (Word(texels + size_t(y) * size_t(pitch) + 4 * size_t(x)) !=
                        (uint32_t(pixel[2]) | uint32_t(pixel[1]) << 8 | uint32_t(pixel[0]) << 16 |
                         uint32_t(pixel[3]) << 24))
                        std::abort();
            texture->Unlock();
        }
    }
    region->SetIcon(0, 0, 0, {}); // releases the texture
    if (region->GetIcon())
        std::abort();
    return 0;
}

void EngineFuzzSeeds(FuzzSeedSink& sink)
{
    GAME::Image image;
    std::vector<uint8_t> pixels(6 * 3 * 4, 0x40);
    for (GAME::Image::Format format : {GAME::Image::FORMAT_RGB, GAME::Image::FORMAT_RGBA}) {
        GAME::BinaryWriter tga(256);
        if (image.Create(6, 3, format, pixels.data()) && image.WriteTGA(tga))
            sink.Add(format == GAME::Image::FORMAT_RGB ? "rgb.tga" : "rgba.tga",
                     std::vector<uint8_t>(tga.GetBuffer(), tga.GetBuffer() + tga.GetSize()));
    }
    // Run-length encoded, rows from the top: a run of two, then two pixels as they are.
    sink.Add("rle.tga", std::vector<uint8_t>{0, 0,  10,   0,    0, 0, 0,   0,    0, 0,   0, 0,   2, 0, 2,
                                             0, 24, 0x20, 0x81, 0, 0, 255, 0x01, 0, 255, 0, 255, 0, 0});
    sink.AddRefused("png", std::vector<uint8_t>{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13});
    sink.Add("solid.dds", DataKit::TextureWriter::SolidDds(8, 4, 0xFF204080u, true));
    sink.AddRefused("text", std::string("not an image"));
}
