// The audio output behind the sound manager: one OpenAL Soft device and context, the listener,
// and the buffers and sources the sound manager and the music streams play through. The output is
// chosen when the device opens: the system's default device, a loopback device that renders into
// memory on request (tests, no sound card needed) or none at all (every call is then a safe no-op).
//
// Space: positions and directions are given in the sound space the engine has always used, which is
// left-handed (x right, y up, z ahead, as the listener is oriented by default); the device turns them
// into OpenAL's right-handed space by negating z. A right-handed world therefore hands the listener
// its up axis negated (as the world camera does), which puts sounds on the correct side.
//
// Owns the device, the context and every buffer and source it made (freed by Close). Threads: the
// thread that opened the device (the main thread) makes every call; decoded samples reach it
// through the sound manager, never from the threads that decode them.
#pragma once

#include "core/Vec3.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_set>

namespace GAME {

class SoundDevice
{
public:
    enum Output
    {
        OUTPUT_DEFAULT = 0,  // the system's default playback device
        OUTPUT_LOOPBACK = 1, // renders into memory through Render (44100 Hz, stereo, 16 bit)
        OUTPUT_NONE = 2,     // no device: opening fails, nothing plays
    };

    static constexpr int kLoopbackRate = 44100;

    SoundDevice() = default;
    virtual ~SoundDevice();
    SoundDevice(const SoundDevice&) = delete;
    SoundDevice& operator=(const SoundDevice&) = delete;

    // Opens the output and makes its context current. False (one log line, device closed) when the
    // output does not exist or cannot be opened; OUTPUT_NONE always answers false.
    bool Open(Output output);
    // Deletes every source and buffer, then the context and the device.
    void Close();
    bool IsOpen() const { return m_device != nullptr; }
    Output GetOutput() const { return m_output; }
    const std::string& GetDeviceName() const { return m_deviceName; }

    // Loopback output only: mixes the next frames into out (interleaved stereo, 2 * frames
    // values). False for any other output.
    bool Render(int16_t* out, int frames);

    // The listener stays at the origin (positions are handed over relative to the ears); only its
    // orientation changes.
    void SetListenerOrientation(const Vec3& forward, const Vec3& up);

    // A buffer of interleaved 16-bit samples (1 or 2 channels); 0 when it could not be made.
    unsigned CreateBuffer(const int16_t* samples, size_t frames, int channels, int rate);
    // Stops the sources that still play the buffer first; the handle becomes 0.
    void DeleteBuffer(unsigned& buffer);

    // 0 when no source could be made (the context's limit is reached).
    unsigned CreateSource();
    void DeleteSource(unsigned& source);
    // Position relative to the listener, in sound space.
    void SetSourcePosition(unsigned source, const Vec3& position);
    // A source that follows the listener (2-D sound: music, interface sounds).
    void SetSourceHeadRelative(unsigned source, bool headRelative);
    void SetSourceGain(unsigned source, float gain);
    // Full volume within minDistance, silent from maxDistance on (linear in between).
    void SetSourceDistances(unsigned source, float minDistance, float maxDistance);
    // Plays the buffer once from its start.
    void PlayBuffer(unsigned source, unsigned buffer);
    void Play(unsigned source);
    // Holds the source where it is; Play goes on from there.
    void Pause(unsigned source);
    void Stop(unsigned source);
    bool IsPlaying(unsigned source) const;
    // Frames of the source's current buffer already played (0 once it stopped).
    int GetSampleOffset(unsigned source) const;

    // Streaming: appends a buffer to the source's queue; takes back up to max buffers the source
    // has finished (written to out), answering how many.
    bool QueueBuffer(unsigned source, unsigned buffer);
    int UnqueueProcessed(unsigned source, unsigned* out, int max);
    int GetQueuedCount(unsigned source) const;
    // Stops the source and takes every queued buffer back (written to out, at most max).
    int UnqueueAll(unsigned source, unsigned* out, int max);

    size_t GetNumBuffers() const { return m_buffers.size(); }
    size_t GetNumSources() const { return m_sources.size(); }

private:
    void* m_device = nullptr;        // ALCdevice
    void* m_context = nullptr;       // ALCcontext
    void* m_renderSamples = nullptr; // alcRenderSamplesSOFT for loopback
    Output m_output = OUTPUT_NONE;
    std::string m_deviceName;
    std::unordered_set<unsigned> m_buffers;
    std::unordered_set<unsigned> m_sources;
};

} // namespace GAME
