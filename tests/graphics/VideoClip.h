// Short video clips for the video tests, encoded here with libavcodec (MPEG-4 part 2 in an AVI
// file): frame i is split down the middle, its left half a colour that changes from frame to
// frame, its right half always the same blue. Quality is kept high so that flat colours come back
// within a few steps. A clip may carry a sound track (16-bit mono PCM): silence until a given
// time, then a tone to the end of the video.
#pragma once

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

namespace GAME::Test {

struct Rgb
{
    int r, g, b;
};

// The colour of a clip's frame (counted from 0) at a column.
inline Rgb ClipColor(int frame, int x, int width)
{
    if (x < width / 2)
        return Rgb{20 + 35 * (frame % 7), 200, 60};
    return Rgb{30, 30, 220};
}

struct ClipSound
{
    int rate = 0; // 0: no sound track
    double toneFrom = 0.0;
};

// Writes the clip; false when any step of the encoding fails.
inline bool WriteClip(const std::string& path, int width, int height, int frames, int framesPerSecond,
                      ClipSound sound = {})
{
    AVFormatContext* output = nullptr;
    if (avformat_alloc_output_context2(&output, nullptr, "avi", path.c_str()) < 0 || !output)
        return false;
    bool ok = false;
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_MPEG4);
    AVCodecContext* encoder = codec ? avcodec_alloc_context3(codec) : nullptr;
    AVStream* stream = avformat_new_stream(output, nullptr);
    AVFrame* picture = av_frame_alloc();
    AVPacket* packet = av_packet_alloc();
    SwsContext* converter = sws_getContext(width, height, AV_PIX_FMT_RGB24, width, height, AV_PIX_FMT_YUV420P,
                                           SWS_POINT, nullptr, nullptr, nullptr);
    std::vector<uint8_t> rgb(static_cast<size_t>(width) * static_cast<size_t>(height) * 3);
    AVStream* audio = sound.rate > 0 ? avformat_new_stream(output, nullptr) : nullptr;

    // The whole track in one packet per video frame, interleaved with the pictures.
    auto writeSound = [&](int frame) {
        const int64_t from = static_cast<int64_t>(frame) * sound.rate / framesPerSecond;
        const int64_t to = static_cast<int64_t>(frame + 1) * sound.rate / framesPerSecond;
        AVPacket* pcm = av_packet_alloc();
        bool written = pcm && av_new_packet(pcm, static_cast<int>((to - from) * 2)) >= 0;
        for (int64_t i = from; written && i < to; ++i) {
            const double t = static_cast<double>(i) / sound.rate;
            const auto v =
                static_cast<int16_t>(t >= sound.toneFrom ? 12000.0 * std::sin(2.0 * M_PI * 440.0 * t) : 0.0);
            pcm->data[(i - from) * 2] = static_cast<uint8_t>(v & 0xFF);
            pcm->data[(i - from) * 2 + 1] = static_cast<uint8_t>((v >> 8) & 0xFF);
        }
        if (written) {
            pcm->stream_index = audio->index;
            pcm->pts = pcm->dts = av_rescale_q(from, AVRational{1, sound.rate}, audio->time_base);
            pcm->duration = av_rescale_q(to - from, AVRational{1, sound.rate}, audio->time_base);
            written = av_interleaved_write_frame(output, pcm) >= 0;
        }
        av_packet_free(&pcm);
        return written;
    };

    auto drain = [&]() {
        while (avcodec_receive_packet(encoder, packet) == 0) {
            av_packet_rescale_ts(packet, encoder->time_base, stream->time_base);
            packet->stream_index = stream->index;
            if (av_interleaved_write_frame(output, packet) < 0)
                return false;
        }
        return true;
    };

    if (encoder && stream && picture && packet && converter) {
        encoder->width = width;
        encoder->height = height;
        encoder->time_base = AVRational{1, framesPerSecond};
        encoder->framerate = AVRational{framesPerSecond, 1};
        encoder->pix_fmt = AV_PIX_FMT_YUV420P;
        encoder->gop_size = 4;
        encoder->max_b_frames = 0;
        encoder->flags |= AV_CODEC_FLAG_QSCALE;
        encoder->global_quality = FF_QP2LAMBDA * 2;
        if (output->oformat->flags & AVFMT_GLOBALHEADER)
            encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        picture->format = encoder->pix_fmt;
        picture->width = width;
        picture->height = height;
        if (audio) {
            AVCodecParameters* parameters = audio->codecpar;
            parameters->codec_type = AVMEDIA_TYPE_AUDIO;
            parameters->codec_id = AV_CODEC_ID_PCM_S16LE;
            parameters->sample_rate = sound.rate;
            parameters->format = AV_SAMPLE_FMT_S16;
            av_channel_layout_default(&parameters->ch_layout, 1);
            parameters->bits_per_coded_sample = 16;
            parameters->block_align = 2;
            parameters->bit_rate = sound.rate * 16;
            audio->time_base = AVRational{1, sound.rate};
        }
        ok = avcodec_open2(encoder, codec, nullptr) >= 0 &&
             avcodec_parameters_from_context(stream->codecpar, encoder) >= 0 &&
             av_frame_get_buffer(picture, 0) >= 0 &&
             avio_open(&output->pb, path.c_str(), AVIO_FLAG_WRITE) >= 0;
        if (ok) {
            stream->time_base = encoder->time_base;
            ok = avformat_write_header(output, nullptr) >= 0;
        }
        for (int i = 0; ok && i < frames; ++i) {
            for (int y = 0; y < height; ++y)
                for (int x = 0; x < width; ++x) {
                    const Rgb c = ClipColor(i, x, width);
                    uint8_t* p =
                        &rgb[(static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)) *
                             3];
                    p[0] = static_cast<uint8_t>(c.r);
                    p[1] = static_cast<uint8_t>(c.g);
                    p[2] = static_cast<uint8_t>(c.b);
                }
            const uint8_t* source[1] = {rgb.data()};
            const int sourcePitch[1] = {width * 3};
            ok = av_frame_make_writable(picture) >= 0 &&
                 sws_scale(converter, source, sourcePitch, 0, height, picture->data, picture->linesize) > 0;
            picture->pts = i;
            ok = ok && avcodec_send_frame(encoder, picture) >= 0 && drain() && (!audio || writeSound(i));
        }
        ok = ok && avcodec_send_frame(encoder, nullptr) >= 0 && drain() && av_write_trailer(output) >= 0;
    }
    sws_freeContext(converter);
    av_packet_free(&packet);
    av_frame_free(&picture);
    avcodec_free_context(&encoder);
    if (output->pb)
        avio_closep(&output->pb);
    avformat_free_context(output);
    return ok;
}

} // namespace GAME::Test
