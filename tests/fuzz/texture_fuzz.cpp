// Reads any bytes as a texture file (".tex") over the software device, first asking how much of
// the file a reduced texture reads: no crash, no hang, no read past the data; a file that does
// not load answers 2 (the device is short of memory) or 4 and falls back to the engine's
// textures; one that loads has frames unless it is a "TEX" frame table without any.
#include "common/FuzzSeeds.h"
#include "common/SoftwareGraphics.h"
#include "core/Log.h"
#include "data/File.h"
#include "datakit/TextureWriter.h"
#include "graphics/GraphicsEngine.h"
#include "graphics/GraphicsTexture.h"
#include "graphics/RenderTexture.h"

#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

// The input as an open file.
class InputFile : public GAME::File
{
public:
    InputFile(const uint8_t* data, unsigned size) : m_data(data), m_size(size) {}
    GAME::FileSource* GetSource() override { return nullptr; }
    const void* Lock(unsigned offset, unsigned size) override
    {
        return offset <= m_size && size <= m_size - offset ? m_data + offset : nullptr;
    }
    void Unlock() override {}
    bool Write(unsigned, const void*, unsigned) override { return false; }
    unsigned GetLength() override { return m_size; }

private:
    const uint8_t* m_data;
    unsigned m_size;
};

GAME::GraphicsEngine* Engine()
{
    static std::unique_ptr<GAME::GraphicsEngine> engine = [] {
        auto made = FuzzGraphics::StartSoftwareEngine();
        // Textures under "reduced/" drop a level: their reads may stop short of the file.
        made->SetDirectoryTextureReduction("reduced/", 1);
        return made;
    }();
    return engine.get();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    GAME::GraphicsEngine* engine = Engine();
    if (size > 1u << 24)
        return 0;
    for (const char* name : {"whole.tex", "reduced/part.tex"}) {
        GAME::GraphicsTexture texture(engine->GetTextureManager(), name, engine);
        InputFile file(data, static_cast<unsigned>(size));
        const unsigned length = texture.GetDataLength(&file);
        if (length > size)
            std::abort();
        const GAME::Resource::InitResult result = texture.Initialize(data, static_cast<int>(length));
        if (result == GAME::Resource::INIT_SUCCESS && name == std::string("whole.tex"))
            FuzzAccepted();
        if (result != GAME::Resource::INIT_SUCCESS && result != GAME::Resource::INIT_OUT_OF_MEMORY &&
            result != GAME::Resource::INIT_INVALID_DATA)
            std::abort();
        // Only a "TEX" frame table may load without frames.
        const bool frameTable = length >= 8 && std::memcmp(data, "TEX", 3) == 0;
        if (result == GAME::Resource::INIT_SUCCESS && texture.GetNumFrames() == 0 && !frameTable)
            std::abort();
        for (int frame = 0; frame < texture.GetNumFrames(); ++frame)
            if (!texture.GetTexture(frame))
                std::abort();
        (void)texture.GetVideoMemoryUsage();
        if (result != GAME::Resource::INIT_SUCCESS) {
            texture.SetInitResult(result);
            texture.InitializeDefault();
            if (texture.GetNumFrames() != 1 || (texture.GetTexture(0) != engine->GetDefaultTexture() &&
                                                texture.GetTexture(0) != engine->GetEmptyTexture()))
                std::abort();
        }
        texture.Destroy();
    }
    return 0;
}

void EngineFuzzSeeds(FuzzSeedSink& sink)
{
    using DataKit::TextureWriter;
    const std::vector<uint8_t> dds = TextureWriter::SolidDds(8, 4, 0xFF204080u, true);
    sink.Add("plain", dds);
    sink.Add("frames", TextureWriter::Tex(10, {dds, TextureWriter::SolidDds(2, 2, 0x80FFFFFFu), dds}));
    sink.Add("padded", TextureWriter::Tex(15, {TextureWriter::SolidDds(16, 16, 0xFFFFFFFFu)}, 1, 300));
    sink.Add("header", TextureWriter::Tex(0, {}));
}
