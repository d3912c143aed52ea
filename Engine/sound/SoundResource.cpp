#include "sound/SoundResource.h"

#include "data/File.h"
#include "data/ResourceLoader.h"
#include "sound/SoundDevice.h"
#include "sound/SoundManager.h"

#include <cstdio>

namespace GAME {

SoundResource::SoundResource(BaseResourceManager* manager, const std::string& fileName)
    : Resource(manager, fileName)
{
}

SoundResource::~SoundResource()
{
    // Out of the loader's hands first: a load running on the loader thread finishes before the
    // contents go.
    if (ResourceLoader* loader = GetResourceLoader())
        loader->DetachResource(this, true);
    SetResourceLoader(nullptr);
    Destroy();
}

SoundManager* SoundResource::GetSoundManager() const
{
    auto* manager = static_cast<SoundResourceManager*>(GetResourceManager());
    return manager ? manager->GetOwner() : nullptr;
}

int SoundResource::GetLoadSize(File* file)
{
    const unsigned length = file ? file->GetLength() : 0;
    m_oversized = length > SoundDecoder::kMaxFileBytes;
    return m_oversized ? 0 : static_cast<int>(length);
}

Resource::InitResult SoundResource::Initialize(const void* data, int size)
{
    m_samples = SoundSamples();
    m_playable.store(false, std::memory_order_release);
    if (m_oversized) {
        m_error = "file too large";
        return INIT_INVALID_DATA;
    }
    SoundSamples decoded;
    if (size <= 0 || !SoundDecoder::Decode(data, static_cast<size_t>(size), true, decoded, m_error)) {
        if (size <= 0)
            m_error = "empty file";
        return INIT_INVALID_DATA;
    }
    m_error.clear();
    m_bytes = static_cast<unsigned>(decoded.samples.size() * sizeof(int16_t));
    m_durationMs.store(
        static_cast<int>((static_cast<int64_t>(decoded.GetFrames()) * 1000 + decoded.rate / 2) /
                         decoded.rate),
        std::memory_order_relaxed);
    m_samples = std::move(decoded);
    if (BaseResourceManager* manager = GetResourceManager())
        manager->IncrementMemoryUsage(m_bytes);
    m_playable.store(true, std::memory_order_release);
    return INIT_SUCCESS;
}

void SoundResource::InitializeDefault()
{
    // A failed sound keeps nothing: no half-decoded samples, no buffer.
    m_samples = SoundSamples();
    m_playable.store(false, std::memory_order_release);
    m_durationMs.store(0, std::memory_order_relaxed);
}

void SoundResource::Destroy()
{
    m_playable.store(false, std::memory_order_release);
    m_samples = SoundSamples();
    m_durationMs.store(0, std::memory_order_relaxed);
    if (m_bytes) {
        if (BaseResourceManager* manager = GetResourceManager())
            manager->DecrementMemoryUsage(m_bytes);
        m_bytes = 0;
    }
    if (m_buffer) {
        if (SoundManager* owner = GetSoundManager())
            owner->ReleaseBuffer(m_buffer);
        m_buffer = 0;
    }
}

std::string SoundResource::GetDebugInfo() const
{
    if (!IsReady())
        return "not loaded";
    if (!m_playable.load(std::memory_order_acquire))
        return m_error.empty() ? std::string("failed") : "failed: " + m_error;
    char text[64];
    std::snprintf(text, sizeof(text), "%d ms", GetDurationMs());
    return text;
}

unsigned SoundResource::GetBuffer(SoundDevice& device)
{
    if (!IsPlayable())
        return 0;
    if (m_buffer)
        return m_buffer;
    Lock();
    if (!m_buffer && !m_samples.samples.empty()) {
        m_buffer = device.CreateBuffer(m_samples.samples.data(), m_samples.GetFrames(), m_samples.channels,
                                       m_samples.rate);
        if (m_buffer)
            m_samples = SoundSamples(); // the device holds them now
    }
    Unlock();
    return m_buffer;
}

} // namespace GAME
