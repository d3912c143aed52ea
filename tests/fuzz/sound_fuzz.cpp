// Sound files through the file system: the bytes become a file that a sound resource loads (decoded
// whole, as on the resource loader thread) and that a stream decoder reads piece by piece.
#include "common/FuzzSeeds.h"
#include "common/QuietLog.h"
#include "common/WorldFuzzServices.h"

#include "data/File.h"
#include "data/ResourceLoader.h"
#include "datakit/SoundWriter.h"
#include "sound/SoundDecoder.h"
#include "sound/SoundResource.h"

#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzLog::Silence();
    FuzzWorld::Services services;
    services.source->Put("Sounds/Fuzz.wav", std::vector<uint8_t>(data, data + size));

    GAME::ResourceLoader loader;
    {
        GAME::SoundResourceManager sounds(&loader, nullptr);
        GAME::Resource* resource = sounds.LoadResource("Sounds/Fuzz.wav");
        loader.LoadResource(resource);
        sounds.UnloadResource(resource);
    }

    GAME::File* file = services.files.OpenFile("Sounds/Fuzz.wav", GAME::FILE_MODE_READ);
    if (file) {
        GAME::SoundDecoder decoder;
        if (decoder.OpenFile(file)) {
            FuzzAccepted();
            std::vector<int16_t> chunk(4096 * GAME::SoundDecoder::kMaxChannels);
            for (int pass = 0; pass < 2; ++pass) {
                while (decoder.Read(chunk.data(), 4096) > 0) {
                }
                decoder.Rewind();
            }
        }
        decoder.Close();
        services.files.CloseFile(file);
    }
    return 0;
}

void EngineFuzzSeeds(FuzzSeedSink& sink)
{
    using DataKit::SoundWriter;
    const std::vector<int16_t> mono = SoundWriter::Tone(440.0f, 0.05f, 8000, 1, 0.5f);
    const std::vector<int16_t> stereo = SoundWriter::Tone(440.0f, 0.05f, 8000, 2, 0.5f);
    const char* names[] = {"tone.wav", "tone.flac", "tone.ogg"};
    for (int format = 0; format < 3; ++format) {
        std::vector<uint8_t> bytes;
        if (SoundWriter::Encode(format == 1 ? stereo : mono, format == 1 ? 2 : 1, 8000,
                                static_cast<SoundWriter::Format>(format), bytes))
            sink.Add(names[format], bytes);
    }
}
