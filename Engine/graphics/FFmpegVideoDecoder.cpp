// The video decoder over FFmpeg (libavformat demuxes, libavcodec decodes, libswscale turns the
// pictures into 32-bit blue, green, red, alpha pixels). See VideoDecoder.h.

#include "graphics/VideoDecoder.h"

#include "core/Log.h"
#include "core/Time.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cstring>
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

    bool Open(const char* fileName)
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
    }

    void SetSoundOnOff(bool on) override { m_sound = on; }

private:
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
            int read = 0;
            while ((read = av_read_frame(m_format, m_packet)) >= 0 && m_packet->stream_index != m_streamIndex)
                av_packet_unref(m_packet);
            int sent = 0;
            if (read < 0) {
                m_flushed = true;
                sent = avcodec_send_packet(m_codec, nullptr);
            } else {
                sent = avcodec_send_packet(m_codec, m_packet);
                av_packet_unref(m_packet);
            }
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
};

} // namespace

VideoDecoder* VideoDecoder::Open(const char* fileName)
{
    if (!fileName || !*fileName) {
        LogPrintf(1, "VideoPlayer: no video file named");
        return nullptr;
    }
    QuietFFmpeg();
    auto* decoder = new FFmpegVideoDecoder;
    if (!decoder->Open(fileName)) {
        delete decoder;
        return nullptr;
    }
    return decoder;
}

} // namespace GAME
