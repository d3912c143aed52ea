// Short video clips for the video tests, encoded here with libavcodec (MPEG-4 part 2 in an AVI
// file): frame i is split down the middle, its left half a colour that changes from frame to
// frame, its right half always the same blue. Quality is kept high so that flat colours come back
// within a few steps.
#pragma once

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

// Writes the clip; false when any step of the encoding fails.
inline bool WriteClip(const std::string& path, int width, int height, int frames, int framesPerSecond)
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
            ok = ok && avcodec_send_frame(encoder, picture) >= 0 && drain();
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
