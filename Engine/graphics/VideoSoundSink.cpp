#include "graphics/VideoSoundSink.h"

#include <atomic>

namespace GAME {

namespace {
std::atomic<VideoSoundSink*> g_sink{nullptr};
} // namespace

void VideoSoundSink::Install(VideoSoundSink* sink)
{
    g_sink.store(sink, std::memory_order_release);
}

VideoSoundSink* VideoSoundSink::Get()
{
    return g_sink.load(std::memory_order_acquire);
}

} // namespace GAME
