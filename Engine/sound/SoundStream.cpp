#include "sound/SoundStream.h"

#include "core/Log.h"
#include "data/EngineDataServices.h"
#include "data/File.h"
#include "data/FileSystem.h"
#include "sound/SoundDecoder.h"
#include "sound/SoundDevice.h"

#include <algorithm>
#include <deque>
#include <set>

namespace GAME {

struct SoundStreamChunk
{
    std::vector<int16_t> samples; // stereo
    int rate = 0;
};

struct SoundStreamFeed
{
    SoundStreamFeed(const std::vector<std::string>& files, bool looping) : playlist(files), loop(looping) {}
    ~SoundStreamFeed() { CloseFile(); }
    SoundStreamFeed(const SoundStreamFeed&) = delete;
    SoundStreamFeed& operator=(const SoundStreamFeed&) = delete;

    void CloseFile()
    {
        decoder.Close();
        if (file && fileSystem)
            fileSystem->CloseFile(file);
        file = nullptr;
        fileSystem = nullptr;
    }

    const std::vector<std::string> playlist;
    const bool loop;
    std::atomic<bool> closed{false};

    // Shared: under the mutex.
    std::mutex mutex;
    std::deque<SoundStreamChunk> chunks;
    bool finished = false;

    // The stream thread's own.
    SoundDecoder decoder;
    FileSystem* fileSystem = nullptr;
    File* file = nullptr;
    size_t index = 0;
    std::set<size_t> failed;      // files that could not be played; logged once, then skipped
    bool playedThisCycle = false; // some file of the playlist gave frames since index 0
};

namespace {

// Moves to the next file; false when the playlist has ended.
bool Advance(SoundStreamFeed& feed)
{
    feed.CloseFile();
    if (feed.index + 1 < feed.playlist.size()) {
        ++feed.index;
        return true;
    }
    if (!feed.loop || !feed.playedThisCycle)
        return false;
    feed.index = 0;
    feed.playedThisCycle = false;
    return true;
}

bool OpenCurrent(SoundStreamFeed& feed)
{
    const std::string& name = feed.playlist[feed.index];
    FileSystem* files = EngineDataServices::Files();
    File* file = files ? files->OpenFile(name.c_str(), FILE_MODE_READ) : nullptr;
    if (!file) {
        LogPrintf(1, "Couldn't open sound stream '%s' (file not found)", name.c_str());
        return false;
    }
    feed.fileSystem = files;
    feed.file = file;
    if (!feed.decoder.OpenFile(file)) {
        LogPrintf(1, "Couldn't open sound stream '%s' (%s)", name.c_str(), feed.decoder.GetError().c_str());
        feed.CloseFile();
        return false;
    }
    return true;
}

// Decodes the next chunk into out; false when the playlist has ended.
bool DecodeChunk(SoundStreamFeed& feed, SoundStreamChunk& out)
{
    std::vector<int16_t> buffer(static_cast<size_t>(SoundStream::kChunkFrames) * SoundDecoder::kMaxChannels);
    // Each file is tried at most once a pass.
    for (size_t attempt = 0; attempt <= feed.playlist.size(); ++attempt) {
        if (feed.failed.count(feed.index)) {
            if (!Advance(feed))
                return false;
            continue;
        }
        if (!feed.decoder.IsOpen() && !OpenCurrent(feed)) {
            feed.failed.insert(feed.index);
            if (!Advance(feed))
                return false;
            continue;
        }
        const long got = feed.decoder.Read(buffer.data(), SoundStream::kChunkFrames);
        if (got < 0) {
            LogPrintf(1, "Couldn't decode sound stream '%s' (%s)", feed.playlist[feed.index].c_str(),
                      feed.decoder.GetError().c_str());
            feed.failed.insert(feed.index);
        }
        if (got <= 0) {
            if (!Advance(feed))
                return false;
            continue;
        }
        feed.playedThisCycle = true;
        const int channels = feed.decoder.GetChannels();
        out.rate = feed.decoder.GetRate();
        out.samples.resize(static_cast<size_t>(got) * 2);
        for (long f = 0; f < got; ++f) {
            const size_t s = static_cast<size_t>(f) * static_cast<size_t>(channels);
            out.samples[static_cast<size_t>(f) * 2] = buffer[s];
            out.samples[static_cast<size_t>(f) * 2 + 1] = buffer[channels == 2 ? s + 1 : s];
        }
        return true;
    }
    return false;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// SoundStream
// ---------------------------------------------------------------------------------------------

SoundStream::SoundStream(const std::vector<std::string>& playlist, bool loop)
    : m_playlist(playlist), m_loop(loop), m_feed(std::make_shared<SoundStreamFeed>(playlist, loop))
{
    // Nothing to play: the stream has ended before it starts.
    m_feed->finished = playlist.empty();
}

SoundStream::SoundStream()
    : m_loop(false), m_fed(true), m_feed(std::make_shared<SoundStreamFeed>(m_playlist, false))
{
}

SoundStream::~SoundStream()
{
    m_feed->closed.store(true, std::memory_order_release);
}

void SoundStream::Update(SoundDevice& device)
{
    if (m_finished || !device.IsOpen())
        return;
    if (!m_source) {
        m_source = device.CreateSource();
        if (!m_source)
            return; // no voice free now; tried again next frame
        device.SetSourceHeadRelative(m_source, true);
        device.SetSourcePosition(m_source, Vec3(0.0f, 0.0f, 0.0f));
    }
    device.SetSourceGain(m_source, m_gain);

    unsigned played[kQueueDepth * 2];
    const int count = device.UnqueueProcessed(m_source, played, kQueueDepth * 2);
    for (int i = 0; i < count; ++i) {
        device.DeleteBuffer(played[i]);
        if (!m_queuedFrames.empty()) {
            m_unqueuedFrames += static_cast<int64_t>(m_queuedFrames.front());
            m_queuedFrames.pop_front();
        }
    }

    bool feedDone = false;
    while (device.GetQueuedCount(m_source) < kQueueDepth) {
        SoundStreamChunk chunk;
        {
            std::lock_guard<std::mutex> lock(m_feed->mutex);
            if (m_feed->chunks.empty()) {
                feedDone = m_feed->finished;
                break;
            }
            // Buffers of one queue share a rate: another rate waits for the queue to run out.
            if (device.GetQueuedCount(m_source) > 0 && m_feed->chunks.front().rate != m_queuedRate)
                break;
            // A fed chunk still being filled waits, unless nothing more comes.
            if (m_fed && m_feed->chunks.size() == 1 && !m_feed->finished &&
                m_feed->chunks.front().samples.size() < static_cast<size_t>(kChunkFrames) * 2)
                break;
            chunk = std::move(m_feed->chunks.front());
            m_feed->chunks.pop_front();
        }
        unsigned buffer = device.CreateBuffer(chunk.samples.data(), chunk.samples.size() / 2, 2, chunk.rate);
        if (!buffer)
            break;
        if (!device.QueueBuffer(m_source, buffer)) {
            device.DeleteBuffer(buffer);
            break;
        }
        m_queuedRate = chunk.rate;
        m_queuedFrames.push_back(chunk.samples.size() / 2);
        m_started = true;
    }
    const int queued = device.GetQueuedCount(m_source);
    if (queued > 0 && !m_paused && !device.IsPlaying(m_source))
        device.Play(m_source); // the start, or the end of a starved moment
    m_playedFrames = m_unqueuedFrames + (queued > 0 ? device.GetSampleOffset(m_source) : 0);
    if (feedDone && queued == 0)
        m_finished = true;
}

bool SoundStream::Feed(const int16_t* samples, size_t frames, int channels, int rate)
{
    if (!m_fed || !samples || frames == 0 || (channels != 1 && channels != 2) ||
        rate < SoundDecoder::kMinRate || rate > SoundDecoder::kMaxRate)
        return false;
    const size_t chunkSamples = static_cast<size_t>(kChunkFrames) * 2;
    std::lock_guard<std::mutex> lock(m_feed->mutex);
    if (m_feed->finished)
        return false;
    for (size_t f = 0; f < frames;) {
        if (m_feed->chunks.empty() || m_feed->chunks.back().rate != rate ||
            m_feed->chunks.back().samples.size() >= chunkSamples) {
            m_feed->chunks.emplace_back();
            m_feed->chunks.back().rate = rate;
            m_feed->chunks.back().samples.reserve(chunkSamples);
        }
        std::vector<int16_t>& out = m_feed->chunks.back().samples;
        const size_t take = std::min(frames - f, (chunkSamples - out.size()) / 2);
        for (size_t i = f; i < f + take; ++i) {
            const size_t s = i * static_cast<size_t>(channels);
            out.push_back(samples[s]);
            out.push_back(samples[channels == 2 ? s + 1 : s]);
        }
        f += take;
    }
    return true;
}

void SoundStream::EndFeed()
{
    if (!m_fed)
        return;
    std::lock_guard<std::mutex> lock(m_feed->mutex);
    m_feed->finished = true;
}

void SoundStream::Pause(SoundDevice& device, bool pause)
{
    m_paused = pause;
    if (!m_source)
        return;
    if (pause)
        device.Pause(m_source);
    else if (device.GetQueuedCount(m_source) > 0 && !device.IsPlaying(m_source))
        device.Play(m_source);
}

void SoundStream::Flush(SoundDevice& device)
{
    if (!m_fed)
        return;
    if (m_source) {
        unsigned buffers[kQueueDepth * 2];
        const int count = device.UnqueueAll(m_source, buffers, kQueueDepth * 2);
        for (int i = 0; i < count; ++i)
            device.DeleteBuffer(buffers[i]);
    }
    for (size_t frames : m_queuedFrames)
        m_unqueuedFrames += static_cast<int64_t>(frames);
    m_queuedFrames.clear();
    {
        std::lock_guard<std::mutex> lock(m_feed->mutex);
        for (const SoundStreamChunk& chunk : m_feed->chunks)
            m_unqueuedFrames += static_cast<int64_t>(chunk.samples.size() / 2);
        m_feed->chunks.clear();
    }
    m_playedFrames = m_unqueuedFrames;
}

void SoundStream::Release(SoundDevice& device)
{
    if (m_source) {
        unsigned buffers[kQueueDepth * 2];
        const int count = device.UnqueueAll(m_source, buffers, kQueueDepth * 2);
        for (int i = 0; i < count; ++i)
            device.DeleteBuffer(buffers[i]);
        device.DeleteSource(m_source);
    }
    m_queuedFrames.clear();
    m_feed->closed.store(true, std::memory_order_release);
}

// ---------------------------------------------------------------------------------------------
// SoundStreamer
// ---------------------------------------------------------------------------------------------

SoundStreamer::~SoundStreamer()
{
    StopThread();
}

void SoundStreamer::Add(const std::shared_ptr<SoundStreamFeed>& feed)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_feeds.push_back(feed);
    }
    Wake();
}

size_t SoundStreamer::GetNumFeeds()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_feeds.size();
}

bool SoundStreamer::StartThread()
{
    if (m_running.load(std::memory_order_acquire))
        return true;
    m_stop.store(false, std::memory_order_release);
    m_running.store(true, std::memory_order_release);
    if (!Start()) {
        m_running.store(false, std::memory_order_release);
        LogPrintf(1, "SoundStreamer: the stream thread could not be started");
        return false;
    }
    return true;
}

void SoundStreamer::StopThread()
{
    if (!m_running.load(std::memory_order_acquire))
        return;
    m_stop.store(true, std::memory_order_release);
    Wake();
    Wait();
    m_running.store(false, std::memory_order_release);
}

bool SoundStreamer::Service()
{
    std::vector<std::shared_ptr<SoundStreamFeed>> feeds;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_feeds.erase(std::remove_if(m_feeds.begin(), m_feeds.end(),
                                     [](const std::shared_ptr<SoundStreamFeed>& feed) {
                                         return feed->closed.load(std::memory_order_acquire);
                                     }),
                      m_feeds.end());
        feeds = m_feeds;
    }
    bool decoded = false;
    for (const std::shared_ptr<SoundStreamFeed>& feed : feeds) {
        if (feed->closed.load(std::memory_order_acquire))
            continue;
        {
            std::lock_guard<std::mutex> lock(feed->mutex);
            // A feed without files is a fed stream's: its samples come from its owner.
            if (feed->playlist.empty() || feed->finished ||
                feed->chunks.size() >= static_cast<size_t>(SoundStream::kFeedAhead))
                continue;
        }
        SoundStreamChunk chunk;
        const bool more = DecodeChunk(*feed, chunk);
        if (!more)
            feed->CloseFile();
        std::lock_guard<std::mutex> lock(feed->mutex);
        if (more) {
            feed->chunks.push_back(std::move(chunk));
            decoded = true;
        } else {
            feed->finished = true;
        }
    }
    return decoded;
}

void SoundStreamer::Run()
{
    SetThreadName("Sound Stream Thread");
    while (!m_stop.load(std::memory_order_acquire)) {
        if (!Service()) {
            m_wake.WaitFor(10);
            m_wake.Reset();
        }
    }
}

} // namespace GAME
