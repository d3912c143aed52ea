// The music stream's chunking over the loopback device: a playlist of the input's files (some
// named twice, some missing) decoded chunk by chunk by the streamer (driven here, no thread) and
// queued by the stream, with the mix rendered between updates; then the same files' bytes fed to
// a fed stream as raw samples in pieces of varying rates and channel counts, with a flush or a
// pause on the way. Checked: a playlist of which no file plays ends; a stream that has finished has
// played every frame it was given, no more and no fewer (the playlist's frames counted by a decoder
// of its own).
//
// Layout: flags byte (bit 0 loop, bit 1 flush the fed stream midway, bit 2 pause it), playlist
// length p (mod 7), p file indexes (mod 5; 4 names a missing file), then up to four files, each a
// 32-bit little-endian length and its bytes.
#include "common/FuzzSeeds.h"
#include "common/QuietLog.h"
#include "common/WorldFuzzServices.h"
#include "data/File.h"
#include "datakit/SoundWriter.h"
#include "sound/SoundDecoder.h"
#include "sound/SoundDevice.h"
#include "sound/SoundStream.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int kMaxFiles = 4;
constexpr int kSteps = 40;
constexpr int kRenderFrames = 2048;
// Frames of a file that the input may ask the streams to play: more would only take time.
constexpr int64_t kMaxFileFrames = 20000;

GAME::SoundDevice& Device()
{
    static GAME::SoundDevice device;
    if (!device.IsOpen()) {
        FuzzLog::Silence();
        if (!device.Open(GAME::SoundDevice::OUTPUT_LOOPBACK))
            std::abort();
    }
    return device;
}

std::string FileName(int index)
{
    return "Music/Track" + std::to_string(index) + ".wav";
}

// What a stream gets from the file: the frames a decoder reads before the end or the first failure.
struct Playable
{
    int64_t frames = 0;
    bool breaks = false;  // a read fails, or the file does not open: it is skipped from then on
    bool tooLong = false; // more than the run should take
};

Playable ReadThrough(FuzzWorld::Services& services, const std::string& name)
{
    Playable playable;
    GAME::File* file = services.files.OpenFile(name.c_str(), GAME::FILE_MODE_READ);
    if (!file) {
        playable.breaks = true;
        return playable;
    }
    GAME::SoundDecoder decoder;
    if (decoder.OpenFile(file)) {
        std::vector<int16_t> buffer(static_cast<size_t>(GAME::SoundStream::kChunkFrames) *
                                    GAME::SoundDecoder::kMaxChannels);
        long got = 0;
        while (!playable.tooLong &&
               (got = decoder.Read(buffer.data(), GAME::SoundStream::kChunkFrames)) > 0) {
            playable.frames += got;
            playable.tooLong = playable.frames > kMaxFileFrames;
        }
        playable.breaks = got < 0;
    } else {
        playable.breaks = true;
    }
    decoder.Close();
    services.files.CloseFile(file);
    return playable;
}

void Step(GAME::SoundStream& stream, GAME::SoundStreamer* streamer, GAME::SoundDevice& device)
{
    if (streamer)
        streamer->Service();
    stream.Update(device);
    std::vector<int16_t> mix(static_cast<size_t>(kRenderFrames) * 2);
    device.Render(mix.data(), kRenderFrames);
    if (stream.GetPlayedFrames() < 0)
        std::abort();
}

// Answers whether the stream played any of the playlist's frames.
bool PlayPlaylist(FuzzWorld::Services& services, const std::vector<std::string>& playlist, bool loop,
                  GAME::SoundDevice& device)
{
    int64_t expected = 0;
    bool plays = false, endless = false;
    for (const std::string& name : playlist) {
        const Playable playable = ReadThrough(services, name);
        if (playable.tooLong)
            return false;
        plays = plays || playable.frames > 0;
        // A looping playlist ends only once every file that played has broken.
        endless = endless || (playable.frames > 0 && !playable.breaks);
        expected += playable.frames;
    }

    GAME::SoundStreamer streamer;
    auto* stream = new GAME::SoundStream(playlist, loop);
    streamer.Add(stream->GetFeed());
    int64_t last = 0;
    for (int step = 0; step < kSteps && !stream->IsFinished(); ++step) {
        Step(*stream, &streamer, device);
        if (stream->GetPlayedFrames() < last)
            std::abort(); // played frames never go back
        last = stream->GetPlayedFrames();
    }
    // Nothing to play: the stream ends at once, looping or not.
    if (!plays && !stream->IsFinished())
        std::abort();
    if (stream->IsFinished() && (loop ? endless : stream->GetPlayedFrames() != expected))
        std::abort();
    const bool played = stream->GetPlayedFrames() > 0;
    stream->Release(device);
    delete stream;
    streamer.Service(); // lets go of the released feed
    if (streamer.GetNumFeeds() != 0 || device.GetNumBuffers() != 0 || device.GetNumSources() != 0)
        std::abort();
    return played;
}

void FeedPieces(const std::vector<std::vector<uint8_t>>& files, uint8_t flags, GAME::SoundDevice& device)
{
    static const int rates[] = {GAME::SoundDecoder::kMinRate - 1,
                                GAME::SoundDecoder::kMinRate,
                                8000,
                                11025,
                                22050,
                                GAME::SoundDevice::kLoopbackRate,
                                GAME::SoundDecoder::kMaxRate,
                                GAME::SoundDecoder::kMaxRate + 1};
    auto* stream = new GAME::SoundStream();
    int64_t fed = 0;
    int piece = 0;
    for (const std::vector<uint8_t>& bytes : files) {
        // Each file's first byte picks the rate and channels; the rest are its samples.
        if (bytes.empty())
            continue;
        const int rate = rates[bytes[0] & 7];
        const int channels = 1 + ((bytes[0] >> 3) & 1);
        std::vector<int16_t> samples((bytes.size() - 1) / 2);
        if (!samples.empty())
            std::memcpy(samples.data(), bytes.data() + 1, samples.size() * 2);
        const size_t frames =
            std::min<size_t>(samples.size() / static_cast<size_t>(channels), kMaxFileFrames);
        const bool taken = stream->Feed(samples.data(), frames, channels, rate);
        const bool valid =
            frames > 0 && rate >= GAME::SoundDecoder::kMinRate && rate <= GAME::SoundDecoder::kMaxRate;
        if (taken != valid)
            std::abort();
        if (taken)
            fed += static_cast<int64_t>(frames);
        Step(*stream, nullptr, device);
        if (++piece == 2) {
            if (flags & 2)
                stream->Flush(device);
            if (flags & 4)
                stream->Pause(device, true);
        }
    }
    stream->Pause(device, false);
    stream->EndFeed();
    for (int step = 0; step < kSteps && !stream->IsFinished(); ++step)
        Step(*stream, nullptr, device);
    // What was flushed counts as played, so a finished stream has played all it was fed.
    if (stream->IsFinished() && stream->GetPlayedFrames() != fed)
        std::abort();
    stream->Release(device);
    delete stream;
    if (device.GetNumBuffers() != 0 || device.GetNumSources() != 0)
        std::abort();
}

std::vector<uint8_t> Encode(float seconds, int rate, int channels, DataKit::SoundWriter::Format format)
{
    std::vector<uint8_t> bytes;
    DataKit::SoundWriter::Encode(DataKit::SoundWriter::Tone(330.0f, seconds, rate, channels, 0.5f), channels,
                                 rate, format, bytes);
    return bytes;
}

void AppendFile(std::vector<uint8_t>& input, const std::vector<uint8_t>& file)
{
    const uint32_t size = static_cast<uint32_t>(file.size());
    for (int i = 0; i < 4; ++i)
        input.push_back(static_cast<uint8_t>(size >> (8 * i)));
    input.insert(input.end(), file.begin(), file.end());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    GAME::SoundDevice& device = Device();
    if (size < 2 || size > (1u << 20))
        return 0;
    const uint8_t flags = data[0];
    size_t at = 2;
    const size_t listed = std::min<size_t>(data[1] % 7, size - at);
    std::vector<int> order(data + at, data + at + listed);
    at += listed;
    std::vector<std::vector<uint8_t>> files;
    while (files.size() < kMaxFiles && size - at >= 4) {
        uint32_t length = 0;
        std::memcpy(&length, data + at, 4);
        at += 4;
        length = static_cast<uint32_t>(std::min<size_t>(length, size - at));
        files.emplace_back(data + at, data + at + length);
        at += length;
    }

    FuzzWorld::Services services;
    for (size_t i = 0; i < files.size(); ++i)
        services.source->Put(FileName(static_cast<int>(i)), files[i]);
    std::vector<std::string> playlist;
    for (int index : order)
        playlist.push_back(FileName(index % (kMaxFiles + 1)));
    if (PlayPlaylist(services, playlist, flags & 1, device))
        FuzzAccepted(); // the streamer decoded a file of the playlist
    FeedPieces(files, flags, device);
    return 0;
}

void EngineFuzzSeeds(FuzzSeedSink& sink)
{
    using DataKit::SoundWriter;
    // Two rates in a row, the first file again, and a missing one.
    std::vector<uint8_t> input = {0, 4, 0, 1, 4, 0};
    AppendFile(input, Encode(0.3f, 8000, 1, SoundWriter::FORMAT_WAV));
    AppendFile(input, Encode(0.2f, 22050, 2, SoundWriter::FORMAT_WAV));
    sink.Add("two-rates", input);

    input = {1, 2, 0, 1};
    AppendFile(input, Encode(0.1f, 11025, 1, SoundWriter::FORMAT_FLAC));
    AppendFile(input, Encode(0.1f, 11025, 2, SoundWriter::FORMAT_OGG));
    sink.Add("looping", input);

    input = {1, 3, 4, 2, 4};
    AppendFile(input, {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E'});
    sink.AddRefused("nothing-plays", input);

    // Raw samples for the fed stream: a rate and channel byte, then 16-bit samples.
    input = {6, 1, 0};
    for (uint8_t head : {uint8_t(2), uint8_t(5 | 8), uint8_t(0), uint8_t(6)}) {
        std::vector<uint8_t> raw(1 + 2 * 3000);
        raw[0] = head;
        for (size_t i = 1; i < raw.size(); ++i)
            raw[i] = static_cast<uint8_t>(i * 37);
        AppendFile(input, raw);
    }
    sink.AddRefused("fed-pieces", input); // only the fed stream plays
}
