#include "sound/SoundManager.h"

#include "core/Log.h"
#include "data/ResourceLoader.h"
#include "sound/SoundDescriptor.h"
#include "sound/SoundResource.h"
#include "sound/SoundStream.h"
#include "world/Region.h"

#include <algorithm>
#include <atomic>
#include <cmath>

namespace GAME {

namespace {

std::atomic<SoundDevice::Output> g_defaultOutput{SoundDevice::OUTPUT_DEFAULT};

} // namespace

void SoundManager::SetDefaultOutput(SoundDevice::Output output)
{
    g_defaultOutput.store(output);
}

SoundDevice::Output SoundManager::GetDefaultOutput()
{
    return g_defaultOutput.load();
}

SoundManager::SoundManager(ResourceLoader* resourceLoader)
    : m_resourceLoader(resourceLoader), m_resources(new SoundResourceManager(resourceLoader, this)),
      m_output(g_defaultOutput.load()), m_ownerThread(std::this_thread::get_id())
{
}

SoundManager::~SoundManager()
{
    if (m_streamer) {
        m_streamer->StopThread();
    }
    for (SoundStream*& stream : m_streams) {
        stream->Release(m_device);
        delete stream;
    }
    m_streams.clear();
    delete m_streamer;
    m_streamer = nullptr;
    for (Voice& voice : m_voices)
        EndVoice(voice);
    m_voices.clear();
    // The resources hand their buffers back while the device is still open.
    delete m_resources;
    m_resources = nullptr;
    FreeReleasedBuffers();
    m_device.Close();
}

bool SoundManager::Initialize(int)
{
    if (m_device.IsOpen())
        return true;
    if (!m_device.Open(m_output))
        return false;
    if (!m_resourceLoader)
        LogPrintf(1, "SoundManager: no resource loader; sound effects cannot load");
    m_device.SetListenerOrientation(m_earsForward, m_earsUp);
    m_streamer = new SoundStreamer;
    if (m_streamThreadEnabled)
        m_streamer->StartThread();
    return true;
}

void SoundManager::Play3D(const SoundDescriptor& sound, bool)
{
    if (!m_device.IsOpen() || !m_resourceLoader || sound.GetFileName().empty())
        return;
    if (static_cast<int>(m_voices.size()) >= SOUND_MAX_CONCURRENT)
        return;
    auto* resource = static_cast<SoundResource*>(m_resources->LoadResource(sound.GetFileName()));
    if (!resource)
        return;
    if (!resource->GetIsNotUnloaded() && !resource->GetInLoadingQueue())
        m_resourceLoader->EnqueueResource(resource, RESOURCE_PRIORITY_HIGH, false);
    Voice voice;
    voice.resource = resource;
    voice.position = sound.GetPosition();
    voice.volume = std::isfinite(sound.GetVolume()) ? std::clamp(sound.GetVolume(), 0.0f, 1.0f) : 1.0f;
    voice.minDistance = sound.GetMinDistance();
    voice.maxDistance = sound.GetMaxDistance();
    m_voices.push_back(voice);
}

void SoundManager::SetEarsOrientation(const Vec3& forward, const Vec3& up)
{
    m_earsForward = forward;
    m_earsUp = up;
    m_device.SetListenerOrientation(forward, up);
}

Vec3 SoundManager::RelativeToEars(const WorldVec3& position) const
{
    Region* ears = m_ears.GetRegion();
    if (ears && position.GetRegion())
        return ears->GetRelativePosition(position) - m_ears.GetRegionPosition();
    // Without regions both positions are taken in one space.
    return position.GetRegionPosition() - m_ears.GetRegionPosition();
}

void SoundManager::EndVoice(Voice& voice)
{
    m_device.DeleteSource(voice.source);
    if (voice.resource && m_resources)
        m_resources->UnloadResource(voice.resource);
    voice.resource = nullptr;
}

void SoundManager::Update()
{
    FreeReleasedBuffers();
    for (size_t i = 0; i < m_voices.size();) {
        Voice& voice = m_voices[i];
        bool ended = false;
        if (!voice.source) {
            if (voice.resource->IsReady()) {
                const unsigned buffer = voice.resource->GetBuffer(m_device);
                voice.source = buffer ? m_device.CreateSource() : 0;
                if (voice.source) {
                    m_device.SetSourceHeadRelative(voice.source, false);
                    m_device.SetSourceDistances(voice.source, voice.minDistance, voice.maxDistance);
                    m_device.SetSourceGain(voice.source, voice.volume);
                    m_device.SetSourcePosition(voice.source, RelativeToEars(voice.position));
                    m_device.PlayBuffer(voice.source, buffer);
                } else {
                    ended = true; // a failed decode (already logged) or no voice free
                }
            } else if (++voice.waited > kMaxWaitUpdates) {
                ended = true; // too late to be heard
            }
        } else if (m_device.IsPlaying(voice.source)) {
            m_device.SetSourcePosition(voice.source, RelativeToEars(voice.position));
        } else {
            ended = true;
        }
        if (ended) {
            EndVoice(voice);
            m_voices[i] = m_voices.back();
            m_voices.pop_back();
        } else {
            ++i;
        }
    }

    for (size_t i = 0; i < m_streams.size(); ++i)
        m_streams[i]->Update(m_device);
    if (m_streamer && m_streamer->IsRunning() && !m_streams.empty())
        m_streamer->Wake();
}

int SoundManager::GetNumPlayingSounds() const
{
    int count = 0;
    for (const Voice& voice : m_voices)
        count += voice.source && m_device.IsPlaying(voice.source) ? 1 : 0;
    return count;
}

void SoundManager::UnloadUnreferencedResources()
{
    if (m_resources)
        m_resources->UnloadUnreferencedResources();
}

void SoundManager::WriteResourceLog(std::FILE* file) const
{
    if (file && m_resources)
        m_resources->WriteResourceLog("Sounds", file);
}

SoundStream* SoundManager::OpenStream(const std::vector<std::string>& playlist, bool loop, float gain)
{
    if (!m_device.IsOpen() || !m_streamer || playlist.empty())
        return nullptr;
    auto* stream = new SoundStream(playlist, loop);
    stream->SetGain(gain);
    m_streams.push_back(stream);
    m_streamer->Add(stream->GetFeed());
    return stream;
}

SoundStream* SoundManager::OpenFedStream(float gain)
{
    if (!m_device.IsOpen())
        return nullptr;
    auto* stream = new SoundStream;
    stream->SetGain(gain);
    m_streams.push_back(stream);
    return stream;
}

void SoundManager::CloseStream(SoundStream*& stream)
{
    if (!stream)
        return;
    auto it = std::find(m_streams.begin(), m_streams.end(), stream);
    if (it != m_streams.end()) {
        m_streams.erase(it);
        stream->Release(m_device);
        delete stream;
    }
    stream = nullptr;
}

bool SoundManager::ServiceStreams()
{
    if (!m_streamer || m_streamer->IsRunning())
        return false;
    return m_streamer->Service();
}

bool SoundManager::RenderLoopback(int16_t* out, int frames)
{
    return m_device.Render(out, frames);
}

void SoundManager::ReleaseBuffer(unsigned buffer)
{
    if (!buffer)
        return;
    if (std::this_thread::get_id() == m_ownerThread) {
        m_device.DeleteBuffer(buffer);
        return;
    }
    std::lock_guard<std::mutex> lock(m_releasedLock);
    m_released.push_back(buffer);
}

void SoundManager::FreeReleasedBuffers()
{
    std::vector<unsigned> released;
    {
        std::lock_guard<std::mutex> lock(m_releasedLock);
        released.swap(m_released);
    }
    for (unsigned buffer : released)
        m_device.DeleteBuffer(buffer);
}

} // namespace GAME
