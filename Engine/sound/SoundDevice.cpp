#include "sound/SoundDevice.h"

#include "core/Log.h"
#include "platform/QuietStandardError.h"

#include <AL/al.h>
#include <AL/alc.h>
#include <AL/alext.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace GAME {

namespace {

ALCdevice* Device(void* device)
{
    return static_cast<ALCdevice*>(device);
}

// Sound space is left-handed; OpenAL's is right-handed.
void ToAL(const Vec3& v, ALfloat* out)
{
    out[0] = v.x;
    out[1] = v.y;
    out[2] = -v.z;
}

bool Finite(const Vec3& v)
{
    return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

} // namespace

SoundDevice::~SoundDevice()
{
    Close();
}

bool SoundDevice::Open(Output output)
{
    Close();
    m_output = output;
    if (output == OUTPUT_NONE) {
        LogPrintf(1, "SoundDevice: no sound output was asked for");
        return false;
    }

    ALCdevice* device = nullptr;
    std::vector<ALCint> attributes;
    if (output == OUTPUT_LOOPBACK) {
        auto open = reinterpret_cast<LPALCLOOPBACKOPENDEVICESOFT>(
            alcIsExtensionPresent(nullptr, "ALC_SOFT_loopback")
                ? alcGetProcAddress(nullptr, "alcLoopbackOpenDeviceSOFT")
                : nullptr);
        m_renderSamples = open ? alcGetProcAddress(nullptr, "alcRenderSamplesSOFT") : nullptr;
        device = open && m_renderSamples ? open(nullptr) : nullptr;
        // Plain stereo panning: the rendered channels must say where a sound is.
        attributes = {ALC_FORMAT_CHANNELS_SOFT,
                      ALC_STEREO_SOFT,
                      ALC_FORMAT_TYPE_SOFT,
                      ALC_SHORT_SOFT,
                      ALC_FREQUENCY,
                      kLoopbackRate,
                      ALC_HRTF_SOFT,
                      ALC_FALSE,
                      0};
        if (!device) {
            LogPrintf(1, "SoundDevice: the loopback device could not be opened");
            m_renderSamples = nullptr;
            return false;
        }
    } else {
        {
            // Without a sound card the audio libraries under OpenAL print a screenful of errors on
            // standard error; the one line below says what matters.
            Platform::QuietStandardError quiet;
            device = alcOpenDevice(nullptr);
        }
        if (!device) {
            LogPrintf(1, "SoundDevice: there is no sound output device; the game runs silent");
            return false;
        }
    }

    ALCcontext* context = alcCreateContext(device, attributes.empty() ? nullptr : attributes.data());
    if (!context || !alcMakeContextCurrent(context)) {
        LogPrintf(1, "SoundDevice: the sound device opened but its context could not be made");
        if (context)
            alcDestroyContext(context);
        alcCloseDevice(device);
        m_renderSamples = nullptr;
        return false;
    }
    m_device = device;
    m_context = context;
    const ALCchar* name = alcGetString(device, ALC_DEVICE_SPECIFIER);
    m_deviceName = name ? name : "";
    alDistanceModel(AL_LINEAR_DISTANCE_CLAMPED);
    const ALfloat origin[3] = {0.0f, 0.0f, 0.0f};
    alListenerfv(AL_POSITION, origin);
    alListenerfv(AL_VELOCITY, origin);
    SetListenerOrientation(Vec3(0.0f, 0.0f, 1.0f), Vec3(0.0f, 1.0f, 0.0f));
    alGetError();
    return true;
}

void SoundDevice::Close()
{
    if (!m_device)
        return;
    alcMakeContextCurrent(static_cast<ALCcontext*>(m_context));
    for (unsigned source : m_sources) {
        ALuint id = source;
        alSourceStop(id);
        alSourcei(id, AL_BUFFER, 0);
        alDeleteSources(1, &id);
    }
    m_sources.clear();
    for (unsigned buffer : m_buffers) {
        ALuint id = buffer;
        alDeleteBuffers(1, &id);
    }
    m_buffers.clear();
    alGetError();
    alcMakeContextCurrent(nullptr);
    alcDestroyContext(static_cast<ALCcontext*>(m_context));
    alcCloseDevice(Device(m_device));
    m_context = nullptr;
    m_device = nullptr;
    m_renderSamples = nullptr;
    m_deviceName.clear();
}

bool SoundDevice::Render(int16_t* out, int frames)
{
    if (!m_device || !m_renderSamples || !out || frames <= 0)
        return false;
    alcMakeContextCurrent(static_cast<ALCcontext*>(m_context));
    reinterpret_cast<LPALCRENDERSAMPLESSOFT>(m_renderSamples)(Device(m_device), out, frames);
    return true;
}

void SoundDevice::SetListenerOrientation(const Vec3& forward, const Vec3& up)
{
    if (!m_device || !Finite(forward) || !Finite(up))
        return;
    ALfloat orientation[6];
    ToAL(forward, orientation);
    ToAL(up, orientation + 3);
    alListenerfv(AL_ORIENTATION, orientation);
}

unsigned SoundDevice::CreateBuffer(const int16_t* samples, size_t frames, int channels, int rate)
{
    if (!m_device || !samples || frames == 0 || (channels != 1 && channels != 2) || rate <= 0)
        return 0;
    const size_t bytes = frames * static_cast<size_t>(channels) * sizeof(int16_t);
    if (bytes > static_cast<size_t>(0x7FFFFFFF))
        return 0;
    alGetError();
    ALuint buffer = 0;
    alGenBuffers(1, &buffer);
    if (alGetError() != AL_NO_ERROR)
        return 0;
    alBufferData(buffer, channels == 1 ? AL_FORMAT_MONO16 : AL_FORMAT_STEREO16, samples,
                 static_cast<ALsizei>(bytes), rate);
    if (alGetError() != AL_NO_ERROR) {
        alDeleteBuffers(1, &buffer);
        alGetError();
        return 0;
    }
    m_buffers.insert(buffer);
    return buffer;
}

void SoundDevice::DeleteBuffer(unsigned& buffer)
{
    if (!buffer)
        return;
    if (m_device && m_buffers.erase(buffer)) {
        for (unsigned source : m_sources) {
            ALint attached = 0;
            alGetSourcei(source, AL_BUFFER, &attached);
            if (static_cast<unsigned>(attached) == buffer) {
                alSourceStop(source);
                alSourcei(source, AL_BUFFER, 0);
            }
        }
        ALuint id = buffer;
        alDeleteBuffers(1, &id);
        alGetError();
    }
    buffer = 0;
}

unsigned SoundDevice::CreateSource()
{
    if (!m_device)
        return 0;
    alGetError();
    ALuint source = 0;
    alGenSources(1, &source);
    if (alGetError() != AL_NO_ERROR)
        return 0;
    m_sources.insert(source);
    return source;
}

void SoundDevice::DeleteSource(unsigned& source)
{
    if (source && m_device && m_sources.erase(source)) {
        ALuint id = source;
        alSourceStop(id);
        alSourcei(id, AL_BUFFER, 0);
        alDeleteSources(1, &id);
        alGetError();
    }
    source = 0;
}

void SoundDevice::SetSourcePosition(unsigned source, const Vec3& position)
{
    if (!m_device || !source || !Finite(position))
        return;
    ALfloat p[3];
    ToAL(position, p);
    alSourcefv(source, AL_POSITION, p);
}

void SoundDevice::SetSourceHeadRelative(unsigned source, bool headRelative)
{
    if (m_device && source)
        alSourcei(source, AL_SOURCE_RELATIVE, headRelative ? AL_TRUE : AL_FALSE);
}

void SoundDevice::SetSourceGain(unsigned source, float gain)
{
    if (m_device && source && std::isfinite(gain))
        alSourcef(source, AL_GAIN, std::clamp(gain, 0.0f, 1.0f));
}

void SoundDevice::SetSourceDistances(unsigned source, float minDistance, float maxDistance)
{
    if (!m_device || !source || !std::isfinite(minDistance) || !std::isfinite(maxDistance))
        return;
    minDistance = std::max(minDistance, 0.01f);
    maxDistance = std::max(maxDistance, minDistance + 0.01f);
    alSourcef(source, AL_REFERENCE_DISTANCE, minDistance);
    alSourcef(source, AL_MAX_DISTANCE, maxDistance);
    alSourcef(source, AL_ROLLOFF_FACTOR, 1.0f);
}

void SoundDevice::PlayBuffer(unsigned source, unsigned buffer)
{
    if (!m_device || !source || !m_buffers.count(buffer))
        return;
    alSourceStop(source);
    alSourcei(source, AL_BUFFER, static_cast<ALint>(buffer));
    alSourcei(source, AL_LOOPING, AL_FALSE);
    alSourcePlay(source);
    alGetError();
}

void SoundDevice::Play(unsigned source)
{
    if (m_device && source)
        alSourcePlay(source);
}

void SoundDevice::Pause(unsigned source)
{
    if (m_device && source)
        alSourcePause(source);
}

void SoundDevice::Stop(unsigned source)
{
    if (m_device && source)
        alSourceStop(source);
}

bool SoundDevice::IsPlaying(unsigned source) const
{
    if (!m_device || !source)
        return false;
    ALint state = AL_STOPPED;
    alGetSourcei(source, AL_SOURCE_STATE, &state);
    return state == AL_PLAYING;
}

int SoundDevice::GetSampleOffset(unsigned source) const
{
    if (!m_device || !source)
        return 0;
    ALint offset = 0;
    alGetSourcei(source, AL_SAMPLE_OFFSET, &offset);
    return std::max(offset, 0);
}

bool SoundDevice::QueueBuffer(unsigned source, unsigned buffer)
{
    if (!m_device || !source || !m_buffers.count(buffer))
        return false;
    alGetError();
    ALuint id = buffer;
    alSourceQueueBuffers(source, 1, &id);
    return alGetError() == AL_NO_ERROR;
}

int SoundDevice::UnqueueProcessed(unsigned source, unsigned* out, int max)
{
    if (!m_device || !source || !out || max <= 0)
        return 0;
    ALint processed = 0;
    alGetSourcei(source, AL_BUFFERS_PROCESSED, &processed);
    const int count = std::min<int>(processed, max);
    std::vector<ALuint> ids(static_cast<size_t>(std::max(count, 0)));
    if (count > 0)
        alSourceUnqueueBuffers(source, count, ids.data());
    for (int i = 0; i < count; ++i)
        out[i] = ids[static_cast<size_t>(i)];
    alGetError();
    return std::max(count, 0);
}

int SoundDevice::GetQueuedCount(unsigned source) const
{
    if (!m_device || !source)
        return 0;
    ALint queued = 0;
    alGetSourcei(source, AL_BUFFERS_QUEUED, &queued);
    return queued;
}

int SoundDevice::UnqueueAll(unsigned source, unsigned* out, int max)
{
    if (!m_device || !source)
        return 0;
    alSourceStop(source);
    return UnqueueProcessed(source, out, max);
}

} // namespace GAME
