// What the sound tests share: a folder of sound files behind a file system installed as the
// engine's, a resource loader driven by the test (no thread unless asked) and a sound manager on
// the loopback device, with helpers that pump the loader and the manager and render the mix.
#pragma once

#include "common/TempDir.h"

#include "data/EngineDataServices.h"
#include "data/FileSystem.h"
#include "data/ResourceLoader.h"
#include "datakit/SoundWriter.h"
#include "sound/SoundManager.h"

#include <cmath>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace GAME::Test {

class SoundFiles : public EngineDataServices
{
public:
    SoundFiles()
    {
        files.AddSource(FileSystem::PARTITION_0, dir.Path().c_str(), true, false, false);
        EngineDataServices::Install(this);
    }
    ~SoundFiles() override { EngineDataServices::Install(nullptr); }

    unsigned int GetFrameCount() override { return 1; }
    FileSystem* GetFileSystem() override { return &files; }
    void AddStatisticText(const char*) override {}
    unsigned int GetEngineLogCategory() override { return 0; }
    bool AreGraphicsStatsEnabled() override { return false; }

    bool Put(const std::string& name, const std::vector<uint8_t>& bytes) const
    {
        return dir.Write(name, std::string(bytes.begin(), bytes.end()));
    }
    // A tone of the given length written as the format.
    bool PutTone(const std::string& name, float seconds, float frequency = 440.0f, int channels = 1,
                 DataKit::SoundWriter::Format format = DataKit::SoundWriter::FORMAT_WAV,
                 int rate = 22050) const
    {
        std::vector<uint8_t> bytes;
        return DataKit::SoundWriter::Encode(
                   DataKit::SoundWriter::Tone(frequency, seconds, rate, channels, 0.8f), channels, rate,
                   format, bytes) &&
               Put(name, bytes);
    }

    TempDir dir;
    FileSystem files;
};

// Root mean square of one channel of interleaved stereo.
inline double ChannelLevel(const std::vector<int16_t>& stereo, int channel)
{
    double sum = 0.0;
    size_t n = 0;
    for (size_t i = static_cast<size_t>(channel); i < stereo.size(); i += 2, ++n)
        sum += static_cast<double>(stereo[i]) * stereo[i];
    return n ? std::sqrt(sum / static_cast<double>(n)) : 0.0;
}

class LoopbackSound
{
public:
    explicit LoopbackSound(bool loaderThread = false, bool streamThread = false)
    {
        if (loaderThread)
            loader.StartThread();
        sound = std::make_unique<SoundManager>(&loader);
        sound->SetOutput(SoundDevice::OUTPUT_LOOPBACK);
        sound->EnableStreamThread(streamThread);
        initialized = sound->Initialize(1);
    }
    ~LoopbackSound()
    {
        loader.StopThread();
        sound.reset();
    }

    // Loads what is queued on this thread, then one frame of the manager.
    void Frame()
    {
        while (loader.ProcessNextRequest()) {
        }
        sound->ServiceStreams();
        sound->Update();
    }
    // Renders milliseconds of the mix (stereo), one manager frame every 10 ms.
    std::vector<int16_t> Render(int milliseconds)
    {
        std::vector<int16_t> out;
        const int step = SoundDevice::kLoopbackRate / 100;
        for (int done = 0; done < milliseconds; done += 10) {
            Frame();
            std::vector<int16_t> chunk(static_cast<size_t>(step) * 2);
            sound->RenderLoopback(chunk.data(), step);
            out.insert(out.end(), chunk.begin(), chunk.end());
        }
        return out;
    }

    ResourceLoader loader;
    std::unique_ptr<SoundManager> sound;
    bool initialized = false;
};

} // namespace GAME::Test
