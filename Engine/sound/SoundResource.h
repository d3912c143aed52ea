// One sound file as a resource: decoded on the resource loader thread (through SoundDecoder, mixed
// down to one channel so that it can be placed in 3-D) and handed to the sound device on the main
// thread the first time it plays (GetBuffer), which frees the decoded samples. A file over the size
// bound is refused before its bytes are read; a missing, refused or broken file loads as "failed":
// it keeps no samples and no buffer and never plays (the resource loader logs its one line).
//
// SoundResourceManager is the sound manager's ResourceManager of them; it knows its sound manager,
// to which a resource hands its device buffer back when its contents go.
//
// Threads: Initialize and InitializeDefault run on whichever thread loads (under the resource's
// lock); GetBuffer, Destroy and deletion on the main thread (a buffer released elsewhere waits in
// the sound manager for the main thread).
#pragma once

#include "data/Resource.h"
#include "data/ResourceManager.h"
#include "sound/SoundDecoder.h"

#include <atomic>

namespace GAME {

class SoundDevice;
class SoundManager;

class SoundResource : public Resource
{
public:
    SoundResource(BaseResourceManager* manager, const std::string& fileName);
    ~SoundResource() override;

    // 0 for a file over SoundDecoder::kMaxFileBytes, so nothing of it is read.
    int GetLoadSize(File* file) override;
    InitResult Initialize(const void* data, int size) override;
    void InitializeDefault() override;
    void Destroy() override;
    // "<channels> ch <rate> Hz <seconds> s", or why the file failed.
    std::string GetDebugInfo() const override;

    // Loaded (successfully or not); never waits.
    bool IsReady() const { return GetLoadedState() == LOAD_STATE_LOADED; }
    // Loaded with samples (or their buffer).
    bool IsPlayable() const { return IsReady() && m_playable.load(std::memory_order_acquire); }
    // Main thread, once IsReady: the device buffer (made on the first call); 0 for a failed sound
    // or when the device refused it.
    unsigned GetBuffer(SoundDevice& device);
    // Length in milliseconds; 0 until loaded.
    int GetDurationMs() const { return m_durationMs.load(std::memory_order_relaxed); }

private:
    SoundManager* GetSoundManager() const;

    SoundSamples m_samples;
    unsigned m_buffer = 0;
    std::atomic<bool> m_playable{false};
    std::atomic<int> m_durationMs{0};
    bool m_oversized = false;
    std::string m_error;
    unsigned m_bytes = 0; // counted in the manager's memory usage
};

class SoundResourceManager : public ResourceManager<SoundResource>
{
public:
    SoundResourceManager(ResourceLoader* loader, SoundManager* owner)
        : ResourceManager<SoundResource>(loader), m_owner(owner)
    {
    }
    // The resources go while the owner is still known to them.
    ~SoundResourceManager() override { UnloadAllResources(); }
    SoundManager* GetOwner() const { return m_owner; }

private:
    SoundManager* m_owner;
};

} // namespace GAME
