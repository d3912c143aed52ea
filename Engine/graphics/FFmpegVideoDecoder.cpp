// The video decoder over FFmpeg (libavformat demuxes, libavcodec decodes, libswscale turns the
// pictures into 32-bit blue, green, red, alpha pixels, libswresample turns the sound track into
// 16-bit stereo for a fed stream of the sound manager, reached through VideoSoundSink). See
// VideoDecoder.h.

#include "graphics/VideoDecoder.h"

#include "core/Log.h"
#include "core/Time.h"
#include "graphics/VideoSoundSink.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace GAME {

namespace {

std::string ErrorText(int error)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(error, text, sizeof(text));
    return text;
}

// FFmpeg's own chatter stays out of the engine's output; errors are logged by the decoder.
void QuietFFmpeg()
{
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_level(AV_LOG_QUIET); });
}

// The packets of the video stream: the frames a decoder will give.
int CountFrames(const char* fileName, int streamIndex)
{
    AVFormatContext* format = nullptr;
    if (avformat_open_input(&format, fileName, nullptr, nullptr) < 0)
        return 0;
    int frames = 0;
    if (avformat_find_stream_info(format, nullptr) >= 0) {
        AVPacket* packet = av_packet_alloc();
        while (packet && av_read_frame(format, packet) >= 0) {
            if (packet->stream_index == streamIndex)
                ++frames;
            av_packet_unref(packet);
        }
        av_packet_free(&packet);
    }
    avformat_close_input(&format);
    return frames;
}

// Hands the decoder the stream's next packet, or (at the end of the file) the flush that asks for
// what it holds back, setting `flushed`: what avcodec_send_packet answered.
int SendNextPacket(AVFormatContext* format, AVCodecContext* codec, AVPacket* packet, int streamIndex, bool& flushed)
{
    int read = 0;
    while ((read = av_read_frame(format, packet)) >= 0 && packet->stream_index != streamIndex)
        av_packet_unref(packet);
    if (read < 0) {
        flushed = true;
        return avcodec_send_packet(codec, nullptr);
    }
    const int sent = avcodec_send_packet(codec, packet);
    av_packet_unref(packet);
    return sent;
}

// The first audio stream of a file; -1 when it has none.
int FindSoundStream(const AVFormatContext* format)
{
    for (unsigned i = 0; i < format->nb_streams; ++i)
        if (format->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO)
            return static_cast<int>(i);
    return -1;
}

// The rate the sound track is handed over at: its own where the sound layer takes it.
int OutputRate(int rate)
{
    return rate >= VideoSoundSink::minRate && rate <= VideoSoundSink::maxRate ? rate : 48000;
}

// Seconds from a stream's time stamp; 0 without one.
double StartSeconds(const AVStream* stream)
{
    if (stream->start_time == AV_NOPTS_VALUE || stream->time_base.den <= 0)
        return 0.0;
    return static_cast<double>(stream->start_time) * av_q2d(stream->time_base);
}

// The sound track of an open video, decoded from a reader of its own (so it can run ahead of the
// pictures however the file interleaves them) into a fed stream of the sound manager. Feed keeps
// the stream a little ahead of the video's clock and in step with it: where the sound heard
// falls behind the clock (a starved source, a stalled frame), the samples of the time missed are
// skipped; where it runs ahead, silence is put in. Everything happens on the thread that drives
// the video, which is the sound manager's.
class SoundTrack
{
public:
    // How far ahead of the clock the stream is fed, how far sound and clock may drift apart before
    // they are put back in step, and the most handed over at once.
    static constexpr int kLeadMs = 500;
    static constexpr int kSlackMs = 100;
    static constexpr int kFeedStep = 4096;
    // Enough for the stream to keep its queue full, whatever the rate.
    static constexpr int kLeadChunks = VideoSoundSink::queueDepth + 1;

    SoundTrack(VideoSoundSink& sink, SoundManager& sound, std::string fileName)
        : m_sink(sink), m_sound(sound), m_fileName(std::move(fileName))
    {
    }
    ~SoundTrack()
    {
        m_sink.CloseStream(&m_sound, m_stream);
        swr_free(&m_resampler);
        av_frame_free(&m_frame);
        av_packet_free(&m_packet);
        avcodec_free_context(&m_codec);
        avformat_close_input(&m_format);
    }
    SoundTrack(const SoundTrack&) = delete;
    SoundTrack& operator=(const SoundTrack&) = delete;

    // The track at the video's clock time; false (logged) when it cannot be decoded, and quietly
    // when the sound manager has no device.
    bool Open(double videoStart, int64_t clockMs)
    {
        const char* name = m_fileName.c_str();
        int error = avformat_open_input(&m_format, name, nullptr, nullptr);
        if (error >= 0)
            error = avformat_find_stream_info(m_format, nullptr);
        m_streamIndex = error >= 0 ? FindSoundStream(m_format) : -1;
        if (m_streamIndex < 0) {
            LogPrintf(1, "VideoPlayer: the sound of '%s' can't be read (%s)", name,
                      error < 0 ? ErrorText(error).c_str() : "no sound track");
            return false;
        }
        const AVStream* stream = m_format->streams[m_streamIndex];
        const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
        m_codec = codec ? avcodec_alloc_context3(codec) : nullptr;
        error = AVERROR_DECODER_NOT_FOUND;
        if (!m_codec || (error = avcodec_parameters_to_context(m_codec, stream->codecpar)) < 0 ||
            (error = avcodec_open2(m_codec, codec, nullptr)) < 0) {
            LogPrintf(1, "VideoPlayer: can't decode the sound of '%s' (%s)", name, ErrorText(error).c_str());
            return false;
        }
        if (m_codec->sample_rate <= 0 || m_codec->ch_layout.nb_channels <= 0) {
            LogPrintf(1, "VideoPlayer: the sound of '%s' has %d channels at %d Hz", name,
                      m_codec->ch_layout.nb_channels, m_codec->sample_rate);
            return false;
        }
        m_rate = OutputRate(m_codec->sample_rate);
        m_packet = av_packet_alloc();
        m_frame = av_frame_alloc();
        if (!m_packet || !m_frame ||
            !MakeResampler(m_codec->ch_layout, m_codec->sample_fmt, m_codec->sample_rate))
            return false;
        m_stream = m_sink.OpenFedStream(&m_sound, 1.0f);
        if (!m_stream)
            return false; // no sound device: the video plays silent
        // The first sample lies at this frame of the video's clock; the clock is at clockMs now.
        m_skew = static_cast<int64_t>(std::llround((StartSeconds(stream) - videoStart) * m_rate));
        Shift(ClockFrames(clockMs) - m_skew);
        return true;
    }

    int GetRate() const { return m_rate; }
    int64_t GetFramesFed() const { return m_fed; }

    void Pause(bool pause)
    {
        if (m_stream)
            m_sink.Pause(&m_sound, m_stream, pause);
    }

    // The video's clock stands at clockMs.
    void Feed(int64_t clockMs)
    {
        if (!m_stream)
            return;
        const int64_t now = ClockFrames(clockMs);
        int64_t played = m_sink.GetPlayedFrames(m_stream);
        // What is heard is known once what was fed before the last correction has played.
        if (played >= m_mark) {
            const int64_t drift = now - (played + m_skew);
            if (drift > ClockFrames(kSlackMs)) {
                // Behind. Where all that is queued is already late (the engine stalled), it goes;
                // otherwise the skip is heard once the queue has played.
                if (now >= m_fed + m_skew) {
                    m_sink.Flush(&m_sound, m_stream);
                    played = m_sink.GetPlayedFrames(m_stream);
                }
                Shift(now - (played + m_skew));
            } else if (drift < -ClockFrames(kSlackMs)) {
                Shift(drift);
            }
        }
        const int64_t lead =
            std::max<int64_t>(ClockFrames(kLeadMs), kLeadChunks * VideoSoundSink::chunkFrames);
        const int64_t target = now + lead;
        // Bounded even when the sound manager stops playing what it gets.
        while (m_fed + m_skew < target && m_fed - played < 2 * lead) {
            const int64_t want = std::min<int64_t>(target - (m_fed + m_skew), kFeedStep);
            if (m_silence > 0) {
                const int64_t frames = std::min(want, m_silence);
                m_zeros.assign(static_cast<size_t>(frames) * 2, 0);
                if (!Hand(m_zeros.data(), frames))
                    return;
                m_silence -= frames;
                continue;
            }
            int64_t available = static_cast<int64_t>((m_pcm.size() - m_pcmStart) / 2);
            if (available == 0) {
                m_pcm.clear();
                m_pcmStart = 0;
                if (!m_ended && DecodeMore())
                    continue;
                if (!m_ended) {
                    m_ended = true;
                    m_sink.EndFeed(m_stream);
                }
                return;
            }
            if (m_drop > 0) {
                const int64_t frames = std::min(m_drop, available);
                m_pcmStart += static_cast<size_t>(frames) * 2;
                m_drop -= frames;
                continue;
            }
            const int64_t frames = std::min(want, available);
            if (!Hand(m_pcm.data() + m_pcmStart, frames))
                return;
            m_pcmStart += static_cast<size_t>(frames) * 2;
        }
    }

private:
    int64_t ClockFrames(int64_t ms) const { return ms * m_rate / 1000; }

    // The sound from the next frame fed on is moved by frames against the clock: later samples
    // (the ones between skipped) for a positive count, silence put in first for a negative one.
    void Shift(int64_t frames)
    {
        if (frames > 0) {
            const int64_t cancelled = std::min(frames, m_silence);
            m_silence -= cancelled;
            m_drop += frames - cancelled;
        } else {
            m_silence += -frames;
        }
        m_skew += frames;
        m_mark = m_fed + m_silence;
    }

    bool Hand(const int16_t* samples, int64_t frames)
    {
        if (!m_sink.Feed(m_stream, samples, static_cast<size_t>(frames), 2, m_rate)) {
            LogPrintf(1, "VideoPlayer: the sound of '%s' can't be played", m_fileName.c_str());
            m_sink.CloseStream(&m_sound, m_stream);
            return false;
        }
        m_fed += frames;
        return true;
    }

    bool MakeResampler(const AVChannelLayout& layout, int format, int rate)
    {
        swr_free(&m_resampler);
        AVChannelLayout in = {};
        if (layout.order == AV_CHANNEL_ORDER_UNSPEC || av_channel_layout_check(&layout) == 0)
            av_channel_layout_default(&in, layout.nb_channels);
        else if (av_channel_layout_copy(&in, &layout) < 0)
            return false;
        AVChannelLayout out = AV_CHANNEL_LAYOUT_STEREO;
        const int error = swr_alloc_set_opts2(&m_resampler, &out, AV_SAMPLE_FMT_S16, m_rate, &in,
                                              static_cast<AVSampleFormat>(format), rate, 0, nullptr);
        av_channel_layout_uninit(&in);
        if (error < 0 || !m_resampler || swr_init(m_resampler) < 0) {
            LogPrintf(1, "VideoPlayer: the sound of '%s' can't be converted", m_fileName.c_str());
            swr_free(&m_resampler);
            return false;
        }
        m_inFormat = format;
        m_inRate = rate;
        m_inChannels = layout.nb_channels;
        return true;
    }

    // Samples of the next decoded frame onto m_pcm; false at the end of the track or when it
    // cannot be decoded further.
    bool DecodeMore()
    {
        for (;;) {
            const int received = avcodec_receive_frame(m_codec, m_frame);
            if (received == 0) {
                const bool converted = Convert(m_frame->extended_data, m_frame->nb_samples);
                av_frame_unref(m_frame);
                if (!converted)
                    return false;
                if (m_pcm.size() > m_pcmStart)
                    return true;
                continue;
            }
            if (received != AVERROR(EAGAIN)) {
                if (received != AVERROR_EOF)
                    LogPrintf(1, "VideoPlayer: the sound of '%s' can't be decoded (%s)", m_fileName.c_str(),
                              ErrorText(received).c_str());
                // What the resampler holds back.
                return Convert(nullptr, 0) && m_pcm.size() > m_pcmStart;
            }
            if (m_flushed)
                return false;
            const int sent = SendNextPacket(m_format, m_codec, m_packet, m_streamIndex, m_flushed);
            // A packet the decoder refuses is passed over; the stream goes on with the next.
            if (sent < 0 && sent != AVERROR(EAGAIN) && sent != AVERROR_EOF && m_flushed)
                return false;
        }
    }

    bool Convert(uint8_t** planes, int samples)
    {
        if (planes && (m_frame->format != m_inFormat || m_frame->sample_rate != m_inRate ||
                       m_frame->ch_layout.nb_channels != m_inChannels)) {
            // The stream changed its layout on the way.
            if (m_frame->sample_rate <= 0 || m_frame->ch_layout.nb_channels <= 0 ||
                !MakeResampler(m_frame->ch_layout, m_frame->format, m_frame->sample_rate))
                return false;
        }
        const int room = swr_get_out_samples(m_resampler, samples);
        if (room < 0)
            return false;
        if (room == 0)
            return true;
        const size_t old = m_pcm.size();
        m_pcm.resize(old + static_cast<size_t>(room) * 2);
        auto* out = reinterpret_cast<uint8_t*>(m_pcm.data() + old);
        const int got = swr_convert(m_resampler, &out, room, const_cast<const uint8_t**>(planes), samples);
        m_pcm.resize(old + static_cast<size_t>(std::max(got, 0)) * 2);
        return got >= 0;
    }

    VideoSoundSink& m_sink;
    SoundManager& m_sound;
    std::string m_fileName;
    SoundStream* m_stream = nullptr;
    AVFormatContext* m_format = nullptr;
    AVCodecContext* m_codec = nullptr;
    AVPacket* m_packet = nullptr;
    AVFrame* m_frame = nullptr;
    SwrContext* m_resampler = nullptr;
    int m_streamIndex = -1;
    int m_rate = 0;
    int m_inFormat = -1;
    int m_inRate = 0;
    int m_inChannels = 0;
    bool m_flushed = false;
    bool m_ended = false;
    std::vector<int16_t> m_pcm; // decoded stereo, from m_pcmStart on not yet handed over
    size_t m_pcmStart = 0;
    std::vector<int16_t> m_zeros;
    int64_t m_fed = 0;     // frames handed to the stream
    int64_t m_skew = 0;    // the clock frame of fed frame n is n + m_skew (from m_mark on)
    int64_t m_mark = 0;    // the first frame fed after the last correction
    int64_t m_silence = 0; // frames of silence still to feed
    int64_t m_drop = 0;    // decoded frames still to skip
};

class FFmpegVideoDecoder final : public VideoDecoder
{
public:
    ~FFmpegVideoDecoder() override
    {
        sws_freeContext(m_scaler);
        av_frame_free(&m_frame);
        av_packet_free(&m_packet);
        avcodec_free_context(&m_codec);
        avformat_close_input(&m_format);
    }

    bool Open(const char* fileName, SoundManager* sound)
    {
        int error = avformat_open_input(&m_format, fileName, nullptr, nullptr);
        if (error < 0) {
            LogPrintf(1, "VideoPlayer: can't open the video '%s' (%s)", fileName, ErrorText(error).c_str());
            return false;
        }
        error = avformat_find_stream_info(m_format, nullptr);
        if (error < 0) {
            LogPrintf(1, "VideoPlayer: '%s' is not a video file FFmpeg reads (%s)", fileName,
                      ErrorText(error).c_str());
            return false;
        }
        const AVCodec* codec = nullptr;
        m_streamIndex = av_find_best_stream(m_format, AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
        if (m_streamIndex < 0 || !codec) {
            LogPrintf(1, "VideoPlayer: '%s' has no video stream that can be decoded", fileName);
            return false;
        }
        const AVStream* stream = m_format->streams[m_streamIndex];
        m_codec = avcodec_alloc_context3(codec);
        if (!m_codec || avcodec_parameters_to_context(m_codec, stream->codecpar) < 0 ||
            (error = avcodec_open2(m_codec, codec, nullptr)) < 0) {
            LogPrintf(1, "VideoPlayer: can't decode the video of '%s' (%s)", fileName,
                      ErrorText(error).c_str());
            return false;
        }
        m_width = m_codec->width;
        m_height = m_codec->height;
        if (m_width <= 0 || m_height <= 0 || m_width > maxSize || m_height > maxSize) {
            LogPrintf(1, "VideoPlayer: the video of '%s' has a size of %d x %d", fileName, m_width, m_height);
            return false;
        }
        AVRational rate = stream->avg_frame_rate;
        if (rate.num <= 0 || rate.den <= 0)
            rate = stream->r_frame_rate;
        m_frameRate = rate.num > 0 && rate.den > 0 ? av_q2d(rate) : 25.0;
        if (!(m_frameRate > 0.1 && m_frameRate < 1000.0))
            m_frameRate = 25.0;
        m_videoStart = StartSeconds(stream);
        m_soundManager = sound;
        const int soundIndex = FindSoundStream(m_format);
        if (soundIndex >= 0) {
            const AVCodecParameters* track = m_format->streams[soundIndex]->codecpar;
            m_hasSound = avcodec_find_decoder(track->codec_id) && track->sample_rate > 0 &&
                         track->ch_layout.nb_channels > 0;
            m_soundRate = m_hasSound ? OutputRate(track->sample_rate) : 0;
        }
        m_frameCount = CountFrames(fileName, m_streamIndex);
        if (m_frameCount <= 0) {
            LogPrintf(1, "VideoPlayer: the video '%s' has no frames", fileName);
            return false;
        }
        m_packet = av_packet_alloc();
        m_frame = av_frame_alloc();
        if (!m_packet || !m_frame)
            return false;
        m_pixels.assign(static_cast<size_t>(m_width) * static_cast<size_t>(m_height) * 4, 0);
        m_fileName = fileName;
        return true;
    }

    int GetWidth() const override { return m_width; }
    int GetHeight() const override { return m_height; }
    int GetFrameCount() const override { return m_frameCount; }
    int GetCurrentFrame() const override { return m_currentFrame; }
    double GetFrameRate() const override { return m_frameRate; }

    bool Wait() override
    {
        const int now = GetMachineTime();
        if (!m_started) {
            m_started = true;
            m_startTime = now;
        }
        if (m_paused)
            return true;
        UpdateSound(now - m_startTime);
        const int due =
            m_startTime + static_cast<int>(static_cast<double>(m_currentFrame - 1) * 1000.0 / m_frameRate);
        return now < due;
    }

    bool DoFrame() override
    {
        if (m_currentFrame > m_frameCount)
            return false; // the end
        while (m_decodedFrame < m_currentFrame) {
            if (!DecodeNext()) {
                // The video ends with the frames that could be decoded.
                m_frameCount = m_decodedFrame;
                m_currentFrame = m_frameCount + 1;
                return false;
            }
        }
        return true;
    }

    bool CopyToBuffer(void* buffer, int pitch, int height, int x, int y, uint32_t flags) const override
    {
        if ((flags & copySurfaceMask) != copySurface32) {
            LogPrintf(1, "VideoPlayer: no copy into a surface of layout %u", flags & copySurfaceMask);
            return false;
        }
        if (!buffer || m_decodedFrame <= 0 || pitch <= 0 || height <= 0 || x < 0 || y < 0)
            return false;
        const int columns = std::min(m_width, pitch / 4 - x);
        const int rows = std::min(m_height, height - y);
        if (columns <= 0 || rows <= 0)
            return true;
        auto* out = static_cast<uint8_t*>(buffer) + static_cast<size_t>(y) * static_cast<size_t>(pitch) +
                    static_cast<size_t>(x) * 4;
        for (int row = 0; row < rows; ++row)
            std::memcpy(out + static_cast<size_t>(row) * static_cast<size_t>(pitch),
                        m_pixels.data() + static_cast<size_t>(row) * static_cast<size_t>(m_width) * 4,
                        static_cast<size_t>(columns) * 4);
        return true;
    }

    void NextFrame() override
    {
        if (m_currentFrame <= m_frameCount)
            ++m_currentFrame;
    }

    void Pause(bool pause) override
    {
        if (pause == m_paused)
            return;
        const int now = GetMachineTime();
        if (pause)
            m_pauseTime = now;
        else if (m_started)
            m_startTime += now - m_pauseTime;
        m_paused = pause;
        if (m_track)
            m_track->Pause(pause);
    }

    void SetSoundOnOff(bool on) override
    {
        m_sound = on;
        if (!on) {
            m_track.reset();
            m_trackFailed = false;
        }
    }

    bool HasSoundTrack() const override { return m_hasSound; }
    int GetSoundRate() const override { return m_soundRate; }
    int64_t GetSoundFramesQueued() const override { return m_track ? m_track->GetFramesFed() : 0; }

private:
    // The sound track follows the clock, which stands at clockMs; it starts with the first Wait
    // that finds the sound on.
    void UpdateSound(int64_t clockMs)
    {
        VideoSoundSink* sink = VideoSoundSink::Get();
        if (!m_sound || !m_hasSound || !m_soundManager || !sink)
            return;
        if (!m_track && !m_trackFailed) {
            m_track = std::make_unique<SoundTrack>(*sink, *m_soundManager, m_fileName);
            if (!m_track->Open(m_videoStart, clockMs)) {
                m_track.reset();
                m_trackFailed = true; // played silent from here on
            }
        }
        if (m_track)
            m_track->Feed(clockMs);
    }

    // The next picture of the stream into m_pixels; false at its end or on a decoding error.
    bool DecodeNext()
    {
        for (;;) {
            const int received = avcodec_receive_frame(m_codec, m_frame);
            if (received == 0) {
                const bool converted = Convert();
                av_frame_unref(m_frame);
                if (!converted)
                    return false;
                ++m_decodedFrame;
                return true;
            }
            if (received != AVERROR(EAGAIN)) {
                if (received != AVERROR_EOF)
                    LogPrintf(1, "VideoPlayer: frame %d of '%s' can't be decoded (%s)", m_decodedFrame + 1,
                              m_fileName.c_str(), ErrorText(received).c_str());
                return false;
            }
            if (m_flushed)
                return false;
            // The decoder wants more: the next packet of the stream, or the end.
            const int sent = SendNextPacket(m_format, m_codec, m_packet, m_streamIndex, m_flushed);
            if (sent < 0 && sent != AVERROR(EAGAIN) && sent != AVERROR_EOF) {
                LogPrintf(1, "VideoPlayer: frame %d of '%s' can't be decoded (%s)", m_decodedFrame + 1,
                          m_fileName.c_str(), ErrorText(sent).c_str());
                return false;
            }
        }
    }

    bool Convert()
    {
        if (m_frame->width <= 0 || m_frame->height <= 0)
            return false;
        m_scaler = sws_getCachedContext(m_scaler, m_frame->width, m_frame->height,
                                        static_cast<AVPixelFormat>(m_frame->format), m_width, m_height,
                                        AV_PIX_FMT_BGRA, SWS_BILINEAR, nullptr, nullptr, nullptr);
        if (!m_scaler) {
            LogPrintf(1, "VideoPlayer: the pictures of '%s' can't be converted", m_fileName.c_str());
            return false;
        }
        uint8_t* planes[4] = {m_pixels.data(), nullptr, nullptr, nullptr};
        const int pitches[4] = {m_width * 4, 0, 0, 0};
        return sws_scale(m_scaler, m_frame->data, m_frame->linesize, 0, m_frame->height, planes, pitches) > 0;
    }

    std::string m_fileName;
    AVFormatContext* m_format = nullptr;
    AVCodecContext* m_codec = nullptr;
    AVPacket* m_packet = nullptr;
    AVFrame* m_frame = nullptr;
    SwsContext* m_scaler = nullptr;
    int m_streamIndex = -1;
    int m_width = 0;
    int m_height = 0;
    int m_frameCount = 0;
    double m_frameRate = 25.0;
    int m_currentFrame = 1;
    int m_decodedFrame = 0; // the number of the frame in m_pixels; 0: none yet
    bool m_flushed = false;
    std::vector<uint8_t> m_pixels;
    bool m_started = false;
    int m_startTime = 0;
    bool m_paused = false;
    int m_pauseTime = 0;
    bool m_sound = true;
    double m_videoStart = 0.0; // seconds of the first picture
    SoundManager* m_soundManager = nullptr;
    bool m_hasSound = false;
    int m_soundRate = 0;
    std::unique_ptr<SoundTrack> m_track;
    bool m_trackFailed = false;
};

} // namespace

VideoDecoder* VideoDecoder::Open(const char* fileName, SoundManager* sound)
{
    if (!fileName || !*fileName) {
        LogPrintf(1, "VideoPlayer: no video file named");
        return nullptr;
    }
    QuietFFmpeg();
    auto* decoder = new FFmpegVideoDecoder;
    if (!decoder->Open(fileName, sound)) {
        delete decoder;
        return nullptr;
    }
    return decoder;
}

} // namespace GAME
