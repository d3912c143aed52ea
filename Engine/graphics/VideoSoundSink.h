// What a video's sound track needs of the sound manager it plays through, which lives higher up:
// whether the manager plays (has a device), its update once a frame, and streams the video feeds
// with samples (open, feed, end, pause, flush, close, and how far each has played). Graphics holds
// the sound manager and its streams only as pointers. The sound folder implements this interface
// and installs it when the library is loaded (sound/SoundVideoSink.cpp): sound managers exist
// without an engine. Without an implementation (never the case inside the library) no manager
// plays and videos are silent.
//
// Threads: main thread, like the sound manager's streams.
#pragma once

#include <cstddef>
#include <cstdint>

namespace GAME {

class SoundManager;
class SoundStream;

class VideoSoundSink
{
public:
    // A fed stream's chunk (SoundStream::kChunkFrames) and the chunks it queues on the device
    // (SoundStream::kQueueDepth), and the sample rates the sound layer takes (SoundDecoder::kMinRate,
    // kMaxRate).
    static constexpr int chunkFrames = 4096;
    static constexpr int queueDepth = 4;
    static constexpr int minRate = 4000;
    static constexpr int maxRate = 192000;

    virtual ~VideoSoundSink() = default;

    // SoundManager::IsInitialized.
    virtual bool IsPlaying(SoundManager* sound) = 0;
    virtual void Update(SoundManager* sound) = 0;
    // Null without a device; the manager owns the stream.
    virtual SoundStream* OpenFedStream(SoundManager* sound, float gain) = 0;
    // Stops and deletes the stream; the pointer becomes null.
    virtual void CloseStream(SoundManager* sound, SoundStream*& stream) = 0;
    // False once the feed has ended, or for samples the stream cannot take.
    virtual bool Feed(SoundStream* stream, const int16_t* samples, size_t frames, int channels, int rate) = 0;
    virtual void EndFeed(SoundStream* stream) = 0;
    virtual int64_t GetPlayedFrames(SoundStream* stream) = 0;
    virtual void Pause(SoundManager* sound, SoundStream* stream, bool pause) = 0;
    // Drops everything fed that has not been heard (it counts as played).
    virtual void Flush(SoundManager* sound, SoundStream* stream) = 0;

    // Installs the one implementation (null removes it).
    static void Install(VideoSoundSink* sink);
    static VideoSoundSink* Get();
};

} // namespace GAME
