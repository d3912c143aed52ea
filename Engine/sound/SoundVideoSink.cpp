#include "sound/SoundVideoSink.h"

#include "graphics/VideoSoundSink.h"
#include "sound/SoundDecoder.h"
#include "sound/SoundManager.h"
#include "sound/SoundStream.h"

namespace GAME {

static_assert(VideoSoundSink::chunkFrames == SoundStream::kChunkFrames);
static_assert(VideoSoundSink::queueDepth == SoundStream::kQueueDepth);
static_assert(VideoSoundSink::minRate == SoundDecoder::kMinRate);
static_assert(VideoSoundSink::maxRate == SoundDecoder::kMaxRate);

namespace {

class Sink : public VideoSoundSink
{
public:
    bool IsPlaying(SoundManager* sound) override { return sound && sound->IsInitialized(); }
    void Update(SoundManager* sound) override
    {
        if (sound)
            sound->Update();
    }
    SoundStream* OpenFedStream(SoundManager* sound, float gain) override
    {
        return sound ? sound->OpenFedStream(gain) : nullptr;
    }
    void CloseStream(SoundManager* sound, SoundStream*& stream) override
    {
        if (sound)
            sound->CloseStream(stream);
    }
    bool Feed(SoundStream* stream, const int16_t* samples, size_t frames, int channels, int rate) override
    {
        return stream && stream->Feed(samples, frames, channels, rate);
    }
    void EndFeed(SoundStream* stream) override
    {
        if (stream)
            stream->EndFeed();
    }
    int64_t GetPlayedFrames(SoundStream* stream) override { return stream ? stream->GetPlayedFrames() : 0; }
    void Pause(SoundManager* sound, SoundStream* stream, bool pause) override
    {
        if (sound && stream)
            stream->Pause(sound->GetDevice(), pause);
    }
    void Flush(SoundManager* sound, SoundStream* stream) override
    {
        if (sound && stream)
            stream->Flush(sound->GetDevice());
    }
};

Sink s_sink;

const bool s_installed = [] {
    VideoSoundSink::Install(&s_sink);
    return true;
}();

} // namespace

void SoundVideoSink::Install()
{
    (void)s_installed;
    VideoSoundSink::Install(&s_sink);
}

} // namespace GAME
