// All audio: the engine creates the sound manager at start-up over its resource loader, calls
// Initialize, then Update and UnloadUnreferencedResources every frame, moves the listener with
// SetEarsPosition and SetEarsOrientation, and deletes it at shut-down.
//
// Output: OpenAL Soft through a SoundDevice: the system's default device, a loopback device that
// renders into memory (tests), or none. The choice is made before Initialize, for every manager
// made afterwards with SetDefaultOutput or for one manager with SetOutput. Without a device
// Initialize answers false (the engine logs "Couldn't initialize MILES Sound Device." and runs on);
// every call stays safe and nothing plays, but the ears are still kept (the ambiance manager reads
// them).
//
// 3-D sounds: Play3D takes a reference on the file's SoundResource, which the resource loader
// thread decodes; the sound starts at the first Update after the decode, relative to the ears:
// positions in other regions are carried into the ears' region (Region::GetRelativePosition), so
// they are placed however far the regions lie from the world's origin. A sound plays once; its
// reference goes when it ends, and UnloadUnreferencedResources deletes sounds nobody has used for a
// while. At most SOUND_MAX_CONCURRENT sounds play or wait at once; more are dropped. A sound whose
// file is missing or broken plays nothing (the loader logs one line for it).
//
// Music and ambient loops: OpenStream plays a playlist through a SoundStream decoded on the stream
// thread ("Sound Stream Thread"), started by Initialize. OpenFedStream plays samples its caller
// hands over on the main thread (a video's sound track).
//
// Threads: the thread that made the manager (the main thread) makes every call, except
// ReleaseBuffer (any thread; a buffer released elsewhere is freed at the next Update). The device is touched
// by the main thread only.
#pragma once

#include "core/Vec3.h"
#include "core/WorldVec3.h"
#include "sound/SoundDevice.h"

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace GAME {

class ResourceLoader;
class SoundDescriptor;
class SoundResource;
class SoundResourceManager;
class SoundStream;
class SoundStreamer;

class SoundManager
{
public:
    static constexpr int SOUND_MAX_CONCURRENT = 32;
    // Updates a sound may wait for its decode before it is dropped as too late.
    static constexpr int kMaxWaitUpdates = 120;

    // resourceLoader: the engine's (not owned); sounds load through it.
    explicit SoundManager(ResourceLoader* resourceLoader);
    // Stops the stream thread, frees every sound, stream and resource, then closes the device.
    virtual ~SoundManager();
    SoundManager(const SoundManager&) = delete;
    SoundManager& operator=(const SoundManager&) = delete;

    // The output of managers made from now on (process-wide; OUTPUT_DEFAULT at first).
    static void SetDefaultOutput(SoundDevice::Output output);
    static SoundDevice::Output GetDefaultOutput();
    // This manager's output; takes effect at Initialize.
    void SetOutput(SoundDevice::Output output) { m_output = output; }
    SoundDevice::Output GetOutput() const { return m_output; }
    // Whether Initialize starts the stream thread (on by default). Without it, the owner drives
    // the streams with ServiceStreams.
    void EnableStreamThread(bool enable) { m_streamThreadEnabled = enable; }

    // providerSet: the group of 3-D providers to try; OpenAL Soft has one. Opens the output; false
    // (logged) when there is none.
    bool Initialize(int providerSet);
    bool IsInitialized() const { return m_device.IsOpen(); }

    // Plays a positioned sound once (actors pass true for once; other callers false: the sound
    // plays once either way). Nothing plays without a device, without a file name, or when
    // SOUND_MAX_CONCURRENT sounds are already under way.
    void Play3D(const SoundDescriptor& sound, bool once);

    // The listener. A default position (no region, origin) is what the engine sets when the world
    // unloads.
    void SetEarsPosition(const WorldVec3& position) { m_ears = position; }
    const WorldVec3& GetEarsPosition() const { return m_ears; }
    // In sound space (left-handed, see SoundDevice): a right-handed world passes its up axis
    // negated.
    void SetEarsOrientation(const Vec3& forward, const Vec3& up);
    const Vec3& GetEarsForward() const { return m_earsForward; }
    const Vec3& GetEarsUp() const { return m_earsUp; }
    // How far above the camera's target the world camera places the ears.
    float GetCameraLerp() const { return m_cameraLerp; }
    void SetCameraLerp(float height) { m_cameraLerp = height; }

    // Once per frame: starts decoded sounds, moves playing ones with the ears, ends finished ones,
    // feeds the streams and frees buffers released elsewhere.
    void Update();
    void UnloadUnreferencedResources();
    // The loaded sounds, into an open stream.
    void WriteResourceLog(std::FILE* file) const;

    // A playlist streamed from its first file (looping back to it when asked), at the gain given,
    // head-relative (no position). Null without a device or files. The manager owns the stream.
    SoundStream* OpenStream(const std::vector<std::string>& playlist, bool loop, float gain);
    // A stream its caller feeds with samples (SoundStream::Feed), at the gain given, head-relative.
    // Null without a device. The manager owns the stream and updates it with the others.
    SoundStream* OpenFedStream(float gain);
    // Stops and deletes the stream; the pointer becomes null.
    void CloseStream(SoundStream*& stream);
    // One pass of the stream thread's work on the calling thread, when the thread is not running.
    bool ServiceStreams();

    // Loopback output only: mixes the next frames (interleaved stereo) into out.
    bool RenderLoopback(int16_t* out, int frames);

    // Any thread: a resource's device buffer whose contents went.
    void ReleaseBuffer(unsigned buffer);

    ResourceLoader* GetResourceLoader() const { return m_resourceLoader; }
    SoundResourceManager* GetResourceManager() const { return m_resources; }
    SoundDevice& GetDevice() { return m_device; }
    // Sounds waiting for their decode or playing.
    int GetNumSounds() const { return static_cast<int>(m_voices.size()); }
    int GetNumPlayingSounds() const;
    int GetNumStreams() const { return static_cast<int>(m_streams.size()); }

private:
    struct Voice
    {
        SoundResource* resource = nullptr;
        unsigned source = 0;
        WorldVec3 position;
        float volume = 1.0f;
        float minDistance = 0.0f;
        float maxDistance = 0.0f;
        int waited = 0;
    };

    Vec3 RelativeToEars(const WorldVec3& position) const;
    void EndVoice(Voice& voice);
    void FreeReleasedBuffers();

    ResourceLoader* m_resourceLoader;
    SoundResourceManager* m_resources;
    SoundDevice m_device;
    SoundDevice::Output m_output;
    bool m_streamThreadEnabled = true;
    SoundStreamer* m_streamer = nullptr;
    WorldVec3 m_ears;
    Vec3 m_earsForward = Vec3(0.0f, 0.0f, 1.0f);
    Vec3 m_earsUp = Vec3(0.0f, 1.0f, 0.0f);
    float m_cameraLerp = 0.0f;
    std::vector<Voice> m_voices;
    std::vector<SoundStream*> m_streams;
    std::thread::id m_ownerThread; // the thread that made the manager, which alone uses the device
    std::mutex m_releasedLock;
    std::vector<unsigned> m_released;
};

} // namespace GAME
