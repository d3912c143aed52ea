// Streamed sound: a playlist of sound files (music, ambient loops) played one after the other,
// looping when asked, without ever holding a whole file. The stream thread (SoundStreamer) opens
// the files through the engine's file system and decodes a few chunks ahead into a feed; the main
// thread (SoundStream::Update, from the sound manager) takes finished chunks into device buffers
// queued on the stream's source. The main thread never decodes and never waits for the stream
// thread: it takes what is ready.
//
// Every chunk is stereo (mono files are doubled); a file of another rate waits until the chunks
// queued before it have played. A file that is missing or broken is logged once and skipped; a
// playlist of which no file plays ends (an empty one at once).
//
// A fed stream has no playlist: its owner (a video's sound track) hands it samples with Feed on
// the main thread and says with EndFeed that nothing more comes. The samples are gathered into
// chunks of kChunkFrames; a chunk goes to the device once it is full or the feed has ended.
// GetPlayedFrames tells how far the device has got, so the owner can keep the sound in step with
// its own clock; Pause holds the source.
//
// SoundStream is made, updated and deleted by the sound manager on the main thread; the callers
// (the jukebox, the video player) set its gain and ask whether it has ended. The feed is shared
// with the stream thread and goes with whichever of the two lets go of it last.
#pragma once

#include "core/Event.h"
#include "core/Thread.h"

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace GAME {

class SoundDevice;
struct SoundStreamFeed;

class SoundStream
{
public:
    static constexpr int kChunkFrames = 4096;
    // Device buffers queued on the source, and chunks decoded ahead of them.
    static constexpr int kQueueDepth = 4;
    static constexpr int kFeedAhead = 4;

    SoundStream(const std::vector<std::string>& playlist, bool loop);
    // A fed stream.
    SoundStream();
    // Tells the stream thread to let go of the feed.
    virtual ~SoundStream();
    SoundStream(const SoundStream&) = delete;
    SoundStream& operator=(const SoundStream&) = delete;

    const std::vector<std::string>& GetPlaylist() const { return m_playlist; }
    bool IsLooping() const { return m_loop; }
    // 0 to 1; heard from the next update.
    void SetGain(float gain) { m_gain = gain; }
    float GetGain() const { return m_gain; }
    // Everything decoded has been played and nothing more will come.
    bool IsFinished() const { return m_finished; }
    // Some of it has reached the device.
    bool HasStarted() const { return m_started; }
    bool IsFed() const { return m_fed; }

    // Fed streams, main thread: frames of interleaved samples (1 or 2 channels, mono is doubled)
    // at a rate of SoundDecoder::kMinRate to kMaxRate. False for a playlist stream, after
    // EndFeed, or for samples it cannot take.
    bool Feed(const int16_t* samples, size_t frames, int channels, int rate);
    // What was fed is played to its end, then the stream is finished.
    void EndFeed();
    // Frames the device had played by the last Update (a paused or starved source adds none).
    int64_t GetPlayedFrames() const { return m_playedFrames; }
    // Holds the source, or lets it go on; kept until the next call.
    void Pause(SoundDevice& device, bool pause);
    // Drops everything fed that has not been heard (it counts as played); what is fed next
    // starts the source again.
    void Flush(SoundDevice& device);

    // Main thread: takes back played buffers, queues decoded chunks, keeps the source playing.
    void Update(SoundDevice& device);
    // Main thread: stops and frees the source and its buffers.
    void Release(SoundDevice& device);

    const std::shared_ptr<SoundStreamFeed>& GetFeed() const { return m_feed; }

private:
    std::vector<std::string> m_playlist;
    bool m_loop;
    bool m_fed = false;
    bool m_paused = false;
    float m_gain = 1.0f;
    bool m_finished = false;
    bool m_started = false;
    unsigned m_source = 0;
    int m_queuedRate = 0;
    std::deque<size_t> m_queuedFrames; // of each buffer on the source, oldest first
    int64_t m_unqueuedFrames = 0;      // of the buffers taken back played
    int64_t m_playedFrames = 0;
    std::shared_ptr<SoundStreamFeed> m_feed;
};

// The stream thread ("Sound Stream Thread"): decodes ahead for every open stream.
class SoundStreamer : public Thread
{
public:
    SoundStreamer() = default;
    ~SoundStreamer() override;

    // Any thread: the feed is served from the next pass on.
    void Add(const std::shared_ptr<SoundStreamFeed>& feed);
    bool StartThread();
    // Waits for the pass under way and ends the thread.
    void StopThread();
    bool IsRunning() const { return m_running.load(std::memory_order_acquire); }
    // One pass over the feeds, decoding at most one chunk of each that has room; feeds whose
    // stream is gone are dropped, and a fed stream's feed (no playlist) is left to its owner. True
    // when something was decoded. The thread calls it; without the thread, its owner may (never
    // both).
    bool Service();
    void Wake() { m_wake.SetSignaled(); }
    size_t GetNumFeeds();

    void Run() override;

private:
    std::mutex m_mutex;
    std::vector<std::shared_ptr<SoundStreamFeed>> m_feeds;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_running{false};
    Event m_wake;
};

} // namespace GAME
