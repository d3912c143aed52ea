#include "sound/SoundDecoder.h"

#include "data/File.h"

#include <ogg/ogg.h>
#include <sndfile.h>
#include <vorbis/codec.h>

#include <algorithm>
#include <cstring>
#include <mutex>

namespace GAME {

namespace {

// libsndfile keeps the error of a failed open in process-wide state.
std::mutex& LibraryLock()
{
    static std::mutex lock;
    return lock;
}

using Stream = SoundDecoder::Stream;

sf_count_t GetLength(void* user)
{
    return static_cast<Stream*>(user)->size;
}

sf_count_t Seek(sf_count_t offset, int whence, void* user)
{
    Stream* s = static_cast<Stream*>(user);
    int64_t base = 0;
    if (whence == SEEK_CUR)
        base = s->position;
    else if (whence == SEEK_END)
        base = s->size;
    else if (whence != SEEK_SET)
        return -1;
    // Offsets come from file data: keep the sum from overflowing.
    if ((offset > 0 && base > INT64_MAX - offset) || base + offset < 0)
        return -1;
    s->position = std::min<int64_t>(base + offset, s->size);
    return s->position;
}

sf_count_t ReadBytes(void* out, sf_count_t count, void* user)
{
    Stream* s = static_cast<Stream*>(user);
    if (count <= 0 || s->position >= s->size)
        return 0;
    const int64_t n = std::min<int64_t>(count, s->size - s->position);
    if (s->memory) {
        std::memcpy(out, s->memory + s->position, static_cast<size_t>(n));
    } else {
        const void* bytes = s->file->Lock(static_cast<unsigned>(s->position), static_cast<unsigned>(n));
        if (!bytes)
            return 0;
        std::memcpy(out, bytes, static_cast<size_t>(n));
        s->file->Unlock();
    }
    s->position += n;
    return n;
}

sf_count_t Write(const void*, sf_count_t, void*)
{
    return 0;
}

sf_count_t Tell(void* user)
{
    return static_cast<Stream*>(user)->position;
}

// The three Vorbis headers that open an Ogg file (identification, comments, codebooks), read here
// with libogg and libvorbis before libsndfile sees the file, and as strictly as it reads them: the
// first page begins the stream and holds the identification alone, the pages after it belong to
// that stream without a hole, and each header is one libvorbis takes. libsndfile (1.2) keeps the
// Vorbis information it has begun for a file whose headers then fail, so each damaged file it
// opened would keep its memory for good. True when the headers can be read and a decoder made of
// them; the stream is left where it was.
bool VorbisHeadersReadable(Stream& stream)
{
    const int64_t start = stream.position;
    stream.position = 0;
    ogg_sync_state sync;
    ogg_sync_init(&sync);
    ogg_stream_state logical;
    bool haveStream = false;
    vorbis_info info;
    vorbis_comment comment;
    vorbis_info_init(&info);
    vorbis_comment_init(&comment);
    int headers = 0;
    bool ok = true;
    while (ok && headers < 3) {
        ogg_page page;
        const int paged = ogg_sync_pageout(&sync, &page);
        if (paged == 0) {
            char* buffer = ogg_sync_buffer(&sync, 4096);
            const sf_count_t got = buffer ? ReadBytes(buffer, 4096, &stream) : 0;
            ok = got > 0 && ogg_sync_wrote(&sync, static_cast<long>(got)) == 0;
            continue;
        }
        if (paged < 0 || (!haveStream && !ogg_page_bos(&page)) || (haveStream && ogg_page_bos(&page))) {
            ok = false;
            break;
        }
        if (!haveStream) {
            ogg_stream_init(&logical, ogg_page_serialno(&page));
            haveStream = true;
        }
        if (ogg_stream_pagein(&logical, &page) != 0) {
            ok = false;
            break;
        }
        const bool first = headers == 0;
        ogg_packet packet;
        int out = 0;
        while (ok && headers < 3 && (out = ogg_stream_packetout(&logical, &packet)) == 1) {
            ok = vorbis_synthesis_headerin(&info, &comment, &packet) == 0;
            // The identification header is the first page's only packet.
            if (ok && ++headers == 1)
                ok = packet.b_o_s && ogg_stream_packetpeek(&logical, nullptr) == 0;
        }
        ok = ok && out >= 0 && (!first || headers == 1);
    }
    if (ok) {
        vorbis_dsp_state dsp;
        ok = vorbis_synthesis_init(&dsp, &info) == 0;
        if (ok)
            vorbis_dsp_clear(&dsp);
    }
    vorbis_comment_clear(&comment);
    vorbis_info_clear(&info);
    if (haveStream)
        ogg_stream_clear(&logical);
    ogg_sync_clear(&sync);
    stream.position = start;
    return ok;
}

} // namespace

SoundDecoder::~SoundDecoder()
{
    Close();
}

bool SoundDecoder::HasKnownSignature(const void* data, size_t size)
{
    const auto* b = static_cast<const uint8_t*>(data);
    if (!b || size < 12)
        return false;
    return (std::memcmp(b, "RIFF", 4) == 0 && std::memcmp(b + 8, "WAVE", 4) == 0) ||
           std::memcmp(b, "fLaC", 4) == 0 || std::memcmp(b, "OggS", 4) == 0;
}

bool SoundDecoder::OpenMemory(const void* data, size_t size)
{
    Close();
    if (!data || size == 0) {
        m_error = "empty file";
        return false;
    }
    if (size > kMaxFileBytes) {
        m_error = "file too large";
        return false;
    }
    m_stream = Stream();
    m_stream.memory = static_cast<const uint8_t*>(data);
    m_stream.size = static_cast<int64_t>(size);
    return OpenStream();
}

bool SoundDecoder::OpenFile(File* file)
{
    Close();
    if (!file) {
        m_error = "no file";
        return false;
    }
    m_stream = Stream();
    m_stream.file = file;
    m_stream.size = file->GetLength();
    return OpenStream();
}

bool SoundDecoder::OpenStream()
{
    // The container is recognised here, before the library parses anything.
    uint8_t head[12] = {};
    const int64_t headSize = std::min<int64_t>(m_stream.size, sizeof(head));
    if (ReadBytes(head, headSize, &m_stream) != headSize || !HasKnownSignature(head, sizeof(head))) {
        m_error = "not a WAVE, FLAC or Ogg Vorbis file";
        m_stream = Stream();
        return false;
    }
    m_stream.position = 0;
    if (std::memcmp(head, "OggS", 4) == 0 && !VorbisHeadersReadable(m_stream)) {
        m_error = "not an Ogg Vorbis file, or its Vorbis headers are damaged";
        m_stream = Stream();
        return false;
    }

    SF_VIRTUAL_IO io = {GetLength, Seek, ReadBytes, Write, Tell};
    SF_INFO info = {};
    SNDFILE* handle = nullptr;
    {
        std::lock_guard<std::mutex> lock(LibraryLock());
        handle = sf_open_virtual(&io, SFM_READ, &info, &m_stream);
        if (!handle)
            m_error = sf_strerror(nullptr);
    }
    if (!handle) {
        m_stream = Stream();
        return false;
    }
    const int major = info.format & SF_FORMAT_TYPEMASK;
    const char* refusal = nullptr;
    if (major != SF_FORMAT_WAV && major != SF_FORMAT_WAVEX && major != SF_FORMAT_FLAC &&
        major != SF_FORMAT_OGG)
        refusal = "not a WAVE, FLAC or Ogg Vorbis file";
    else if (info.channels < 1 || info.channels > kMaxChannels)
        refusal = "unsupported channel count";
    else if (info.samplerate < kMinRate || info.samplerate > kMaxRate)
        refusal = "unsupported sample rate";
    else if (info.frames < 0 || info.frames > kMaxFrames)
        refusal = "too long";
    if (refusal) {
        m_error = refusal;
        std::lock_guard<std::mutex> lock(LibraryLock());
        sf_close(handle);
        m_stream = Stream();
        return false;
    }
    m_handle = handle;
    m_channels = info.channels;
    m_rate = info.samplerate;
    m_frames = info.frames;
    m_framesRead = 0;
    m_error.clear();
    return true;
}

void SoundDecoder::Close()
{
    if (m_handle) {
        std::lock_guard<std::mutex> lock(LibraryLock());
        sf_close(static_cast<SNDFILE*>(m_handle));
    }
    m_handle = nullptr;
    m_stream = Stream();
    m_channels = m_rate = 0;
    m_frames = m_framesRead = 0;
}

long SoundDecoder::Read(int16_t* out, long frames)
{
    if (!m_handle || !out || frames <= 0)
        return m_handle ? 0 : -1;
    // Never past the length the header announced, however the data goes on.
    frames = static_cast<long>(std::min<int64_t>(frames, m_frames - m_framesRead));
    if (frames <= 0)
        return 0;
    SNDFILE* handle = static_cast<SNDFILE*>(m_handle);
    const sf_count_t got = sf_readf_short(handle, out, frames);
    if (got < 0 || (got < frames && sf_error(handle) != SF_ERR_NO_ERROR)) {
        m_error = sf_strerror(handle);
        return -1;
    }
    m_framesRead += got;
    return static_cast<long>(got);
}

bool SoundDecoder::Rewind()
{
    if (!m_handle || sf_seek(static_cast<SNDFILE*>(m_handle), 0, SEEK_SET) != 0)
        return false;
    m_framesRead = 0;
    return true;
}

bool SoundDecoder::Decode(const void* data, size_t size, bool mono, SoundSamples& out, std::string& error)
{
    out = SoundSamples();
    SoundDecoder decoder;
    if (!decoder.OpenMemory(data, size)) {
        error = decoder.GetError();
        return false;
    }
    const int channels = decoder.GetChannels();
    const int64_t frames = decoder.GetFrames();
    if (frames == 0) {
        error = "no samples";
        return false;
    }
    // Grown as frames arrive: a header may announce more than the data holds.
    std::vector<int16_t> samples;
    samples.reserve(static_cast<size_t>(std::min<int64_t>(frames, static_cast<int64_t>(size) * 4)) *
                    static_cast<size_t>(channels));
    int64_t done = 0;
    while (done < frames) {
        const long chunk = static_cast<long>(std::min<int64_t>(frames - done, 65536));
        samples.resize(static_cast<size_t>(done + chunk) * static_cast<size_t>(channels));
        const long got = decoder.Read(samples.data() + done * channels, chunk);
        if (got < 0) {
            error = decoder.GetError();
            return false;
        }
        done += got;
        if (got < chunk)
            break;
    }
    if (done == 0) {
        error = "no samples";
        return false;
    }
    samples.resize(static_cast<size_t>(done) * static_cast<size_t>(channels));
    if (mono && channels > 1) {
        for (int64_t f = 0; f < done; ++f) {
            int sum = 0;
            for (int c = 0; c < channels; ++c)
                sum += samples[static_cast<size_t>(f * channels + c)];
            samples[static_cast<size_t>(f)] = static_cast<int16_t>(sum / channels);
        }
        samples.resize(static_cast<size_t>(done));
        out.channels = 1;
    } else {
        out.channels = channels;
    }
    out.samples = std::move(samples);
    out.rate = decoder.GetRate();
    return true;
}

} // namespace GAME
