// Decodes sound files (RIFF WAVE, FLAC, Ogg Vorbis) into 16-bit samples through libsndfile, either
// whole from bytes in memory (sound resources, on the resource loader thread) or piece by piece
// from an open file of the virtual file system (music streams, on the stream thread).
//
// Nothing is trusted: the first bytes must name one of the three containers before the library
// sees them (and an Ogg file's Vorbis headers must read, see SoundDecoder.cpp), and a file must have 1 or 2 channels, a rate of 4 to 192 kHz, at most ten minutes of
// frames at 48 kHz and, read whole, at most kMaxFileBytes. A refused or broken file leaves no
// samples behind; the reason is kept for the caller's one log line.
//
// Threads: one decoder belongs to one thread at a time; decoders on different threads work side by
// side (the library's shared state is touched under one process-wide lock).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace GAME {

class File;

// Decoded sound: interleaved 16-bit samples.
struct SoundSamples
{
    std::vector<int16_t> samples;
    int channels = 0;
    int rate = 0;

    size_t GetFrames() const { return channels > 0 ? samples.size() / static_cast<size_t>(channels) : 0; }
};

class SoundDecoder
{
public:
    static constexpr int kMaxChannels = 2;
    static constexpr int kMinRate = 4000;
    static constexpr int kMaxRate = 192000;
    static constexpr unsigned kMaxFileBytes = 64u << 20;
    static constexpr int64_t kMaxFrames = 48000LL * 600;

    SoundDecoder() = default;
    virtual ~SoundDecoder();
    SoundDecoder(const SoundDecoder&) = delete;
    SoundDecoder& operator=(const SoundDecoder&) = delete;

    // The bytes must stay valid until Close. False (reason kept) for a refused file.
    bool OpenMemory(const void* data, size_t size);
    // Reads through the file (not owned; it must stay open until Close).
    bool OpenFile(File* file);
    void Close();
    bool IsOpen() const { return m_handle != nullptr; }

    int GetChannels() const { return m_channels; }
    int GetRate() const { return m_rate; }
    int64_t GetFrames() const { return m_frames; }
    // Why the last open or read failed.
    const std::string& GetError() const { return m_error; }

    // Up to frames frames of interleaved samples (GetChannels a frame) into out; 0 at the end,
    // -1 when the data is broken (reason kept).
    long Read(int16_t* out, long frames);
    // Back to the first frame; false when the file cannot seek.
    bool Rewind();

    // Decodes a whole file; mono mixes every channel down to one. False (reason in error, out
    // emptied) for a refused or broken file.
    static bool Decode(const void* data, size_t size, bool mono, SoundSamples& out, std::string& error);

    // Whether the bytes begin like one of the accepted containers.
    static bool HasKnownSignature(const void* data, size_t size);

    // Where the virtual I/O reads from; public only for the callbacks in the source file.
    struct Stream
    {
        const uint8_t* memory = nullptr;
        File* file = nullptr;
        int64_t size = 0;
        int64_t position = 0;
    };

private:
    bool OpenStream();

    Stream m_stream;
    void* m_handle = nullptr; // SNDFILE
    int m_channels = 0;
    int m_rate = 0;
    int64_t m_frames = 0;
    int64_t m_framesRead = 0;
    std::string m_error;
};

} // namespace GAME
