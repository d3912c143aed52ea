#include "datakit/SoundWriter.h"

#include "datakit/SampleGameData.h"

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace DataKit {

namespace {

constexpr float kPi = 3.14159265358979f;

struct MemoryFile
{
    std::vector<uint8_t>* bytes;
    sf_count_t position = 0;
};

sf_count_t Length(void* user)
{
    return static_cast<sf_count_t>(static_cast<MemoryFile*>(user)->bytes->size());
}

sf_count_t Seek(sf_count_t offset, int whence, void* user)
{
    auto* file = static_cast<MemoryFile*>(user);
    sf_count_t base = whence == SEEK_CUR   ? file->position
                      : whence == SEEK_END ? static_cast<sf_count_t>(file->bytes->size())
                                           : 0;
    file->position = std::max<sf_count_t>(0, base + offset);
    return file->position;
}

sf_count_t Read(void* out, sf_count_t count, void* user)
{
    auto* file = static_cast<MemoryFile*>(user);
    const sf_count_t size = static_cast<sf_count_t>(file->bytes->size());
    const sf_count_t n = std::max<sf_count_t>(0, std::min(count, size - file->position));
    if (n > 0)
        std::memcpy(out, file->bytes->data() + file->position, static_cast<size_t>(n));
    file->position += n;
    return n;
}

sf_count_t Write(const void* data, sf_count_t count, void* user)
{
    auto* file = static_cast<MemoryFile*>(user);
    const size_t end = static_cast<size_t>(file->position + count);
    if (file->bytes->size() < end)
        file->bytes->resize(end);
    std::memcpy(file->bytes->data() + file->position, data, static_cast<size_t>(count));
    file->position += count;
    return count;
}

sf_count_t Tell(void* user)
{
    return static_cast<MemoryFile*>(user)->position;
}

float Ramp(size_t frame, size_t frames, int rate)
{
    const float ramp = 0.005f * static_cast<float>(rate);
    const float fromStart = static_cast<float>(frame) / ramp;
    const float fromEnd = static_cast<float>(frames - 1 - frame) / ramp;
    return std::min({1.0f, fromStart, fromEnd});
}

int16_t Sample(float value)
{
    return static_cast<int16_t>(std::lround(std::clamp(value, -1.0f, 1.0f) * 32767.0f));
}

} // namespace

std::vector<int16_t> SoundWriter::Tone(float frequency, float seconds, int rate, int channels,
                                       float amplitude)
{
    const size_t frames = static_cast<size_t>(std::max(1.0f, seconds * static_cast<float>(rate)));
    std::vector<int16_t> samples(frames * static_cast<size_t>(channels));
    for (size_t f = 0; f < frames; ++f) {
        const float value =
            amplitude * Ramp(f, frames, rate) *
            std::sin(2.0f * kPi * frequency * static_cast<float>(f) / static_cast<float>(rate));
        for (int c = 0; c < channels; ++c)
            samples[f * static_cast<size_t>(channels) + static_cast<size_t>(c)] = Sample(value);
    }
    return samples;
}

std::vector<int16_t> SoundWriter::Noise(float seconds, int rate, int channels, float amplitude)
{
    const size_t frames = static_cast<size_t>(std::max(1.0f, seconds * static_cast<float>(rate)));
    std::vector<int16_t> samples(frames * static_cast<size_t>(channels));
    uint32_t state = 0x1234567u;
    for (size_t f = 0; f < frames; ++f) {
        state = state * 1664525u + 1013904223u;
        const float white = static_cast<float>(state >> 8) / static_cast<float>(1u << 24) * 2.0f - 1.0f;
        const float value = amplitude * Ramp(f, frames, rate) * white;
        for (int c = 0; c < channels; ++c)
            samples[f * static_cast<size_t>(channels) + static_cast<size_t>(c)] = Sample(value);
    }
    return samples;
}

std::vector<int16_t> SoundWriter::Melody(const std::vector<float>& notes, float noteSeconds, int rate,
                                         int channels, float amplitude)
{
    std::vector<int16_t> samples;
    for (float note : notes) {
        const std::vector<int16_t> tone = Tone(note, noteSeconds, rate, channels, amplitude);
        samples.insert(samples.end(), tone.begin(), tone.end());
    }
    return samples;
}

bool SoundWriter::Encode(const std::vector<int16_t>& samples, int channels, int rate, Format format,
                         std::vector<uint8_t>& out)
{
    out.clear();
    if (channels <= 0 || samples.empty() || samples.size() % static_cast<size_t>(channels) != 0)
        return false;
    SF_INFO info = {};
    info.channels = channels;
    info.samplerate = rate;
    info.format = format == FORMAT_FLAC  ? SF_FORMAT_FLAC | SF_FORMAT_PCM_16
                  : format == FORMAT_OGG ? SF_FORMAT_OGG | SF_FORMAT_VORBIS
                                         : SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    MemoryFile file{&out};
    SF_VIRTUAL_IO io = {Length, Seek, Read, Write, Tell};
    SNDFILE* handle = sf_open_virtual(&io, SFM_WRITE, &info, &file);
    if (!handle)
        return false;
    const sf_count_t frames = static_cast<sf_count_t>(samples.size() / static_cast<size_t>(channels));
    const bool written = sf_writef_short(handle, samples.data(), frames) == frames;
    const bool closed = sf_close(handle) == 0;
    if (!written || !closed)
        out.clear();
    return written && closed;
}

bool SoundWriter::WriteFile(const std::string& path, const std::vector<int16_t>& samples, int channels,
                            int rate, Format format)
{
    std::vector<uint8_t> bytes;
    if (!Encode(samples, channels, rate, format, bytes))
        return false;
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        return false;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && written;
}

bool SoundWriter::AddSampleSounds(SampleGameData& data)
{
    const int rate = 22050;
    struct Item
    {
        const char* name;
        std::vector<int16_t> samples;
        int channels;
        Format format;
    };
    const Item items[] = {
        {sampleChime, Tone(880.0f, 0.3f, rate, 1, 0.5f), 1, FORMAT_WAV},
        {sampleClick, Tone(2000.0f, 0.04f, rate, 1, 0.5f), 1, FORMAT_WAV},
        {sampleWhoosh, Noise(0.5f, rate, 1, 0.3f), 1, FORMAT_FLAC},
        // Two seconds each, looping back to their first note.
        {sampleFieldLoop, Melody({523.3f, 659.3f, 784.0f, 659.3f}, 0.5f, rate, 2, 0.3f), 2, FORMAT_OGG},
        {sampleCaveLoop, Melody({110.0f, 130.8f, 110.0f, 98.0f}, 0.5f, rate, 1, 0.4f), 1, FORMAT_FLAC},
    };
    for (const Item& item : items) {
        std::vector<uint8_t> bytes;
        if (!Encode(item.samples, item.channels, rate, item.format, bytes))
            return false;
        data.AddFile(item.name, std::move(bytes));
    }
    ArzWriter& records = data.Database();
    records.AddRecord(NormalizeRecordName(sampleFieldMusicRecord))
        .String("Class", "MusicSession")
        .String("soundFiles", std::vector<std::string>{sampleFieldLoop})
        .Float("crossFadeSeconds", 2.0f);
    records.AddRecord(NormalizeRecordName(sampleCaveMusicRecord))
        .String("Class", "MusicSession")
        .String("soundFiles", std::vector<std::string>{sampleCaveLoop})
        .Float("crossFadeSeconds", 2.0f);
    records.AddRecord(NormalizeRecordName(sampleChimesPakRecord))
        .String("Class", "SoundPak")
        .String("soundFiles", std::vector<std::string>{sampleChime, sampleClick})
        .Float("volume", 0.8f);
    return true;
}

} // namespace DataKit
