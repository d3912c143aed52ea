// All audio: the engine creates the sound manager at start-up over its resource loader, calls
// Initialize, then Update and UnloadUnreferencedResources every frame, moves the listener with
// SetEarsPosition and deletes it at shut-down. Main thread only.
//
// This build has no audio library and no audio device behind it: Initialize answers false (the
// engine logs "Couldn't initialize MILES Sound Device." and runs on), nothing is ever played or
// loaded, and the resource log says there are no sounds. Every call is safe to make regardless.
#pragma once

#include <cstdio>

namespace GAME {

class ResourceLoader;
class SoundDescriptor;
class WorldVec3;

class SoundManager
{
public:
    // resourceLoader: the engine's (not owned; sounds would load through it).
    explicit SoundManager(ResourceLoader* resourceLoader);
    virtual ~SoundManager() = default;
    SoundManager(const SoundManager&) = delete;
    SoundManager& operator=(const SoundManager&) = delete;

    // providerSet: which group of 3-D providers to try. False here: there is no device.
    bool Initialize(int providerSet);
    bool IsInitialized() const { return false; }
    // Plays a positioned sound once; nothing is heard without a device.
    void Play3D(const SoundDescriptor& sound, bool once);
    void SetEarsPosition(const WorldVec3& position);
    void Update();
    void UnloadUnreferencedResources();
    // The loaded sounds, into an open stream.
    void WriteResourceLog(std::FILE* file) const;
    ResourceLoader* GetResourceLoader() const { return m_resourceLoader; }

private:
    ResourceLoader* m_resourceLoader;
};

} // namespace GAME
