// Makes sound files for the engine's tests, fuzzers and sample data: synthesised tones, noise
// bursts and short music loops, encoded through libsndfile as RIFF WAVE (16-bit), FLAC or Ogg
// Vorbis, into memory or a file. Also the sample game's sounds (AddSampleSounds).
// Stateless; any thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace DataKit {

class SampleGameData;

class SoundWriter
{
public:
    enum Format
    {
        FORMAT_WAV = 0,
        FORMAT_FLAC = 1,
        FORMAT_OGG = 2,
    };

    // Names of the sample game's sounds.
    static constexpr const char* sampleChime = "Sounds/Sample/Chime.wav";
    static constexpr const char* sampleClick = "Sounds/Sample/Click.wav";
    static constexpr const char* sampleWhoosh = "Sounds/Sample/Whoosh.flac";
    static constexpr const char* sampleFieldLoop = "Sounds/Music/FieldLoop.ogg";
    static constexpr const char* sampleCaveLoop = "Sounds/Music/CaveLoop.flac";
    static constexpr const char* sampleFieldMusicRecord = "Records/Sounds/Music/FieldMusic.dbr";
    static constexpr const char* sampleCaveMusicRecord = "Records/Sounds/Music/CaveMusic.dbr";
    static constexpr const char* sampleChimesPakRecord = "Records/Sounds/Paks/Chimes.dbr";

    // A sine tone of the frequency, with 5 ms ramps at both ends so it starts and ends silently;
    // the same in every channel.
    static std::vector<int16_t> Tone(float frequency, float seconds, int rate, int channels, float amplitude);
    // Noise from a fixed seed, the same ramps.
    static std::vector<int16_t> Noise(float seconds, int rate, int channels, float amplitude);
    // A loop of notes (frequencies), each noteSeconds long, that ends where it began.
    static std::vector<int16_t> Melody(const std::vector<float>& notes, float noteSeconds, int rate,
                                       int channels, float amplitude);

    // Encodes interleaved samples; false when libsndfile refused them.
    static bool Encode(const std::vector<int16_t>& samples, int channels, int rate, Format format,
                       std::vector<uint8_t>& out);
    static bool WriteFile(const std::string& path, const std::vector<int16_t>& samples, int channels,
                          int rate, Format format);

    // Three short sounds, two music loops, a music session record for each loop and a sound pak
    // record, added to the sample data.
    static bool AddSampleSounds(SampleGameData& data);
};

} // namespace DataKit
