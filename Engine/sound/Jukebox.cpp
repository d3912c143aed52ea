#include "sound/Jukebox.h"

#include "core/Log.h"
#include "core/ObjectManager.h"
#include "core/Time.h"
#include "sound/AmbientSession.h"
#include "sound/BossMusicSession.h"
#include "sound/EventMusicSession.h"
#include "sound/MusicSession.h"
#include "sound/SoundManager.h"
#include "sound/SoundStream.h"
#include "world/DayNightManager.h"
#include "world/Engine.h"

#include <algorithm>
#include <cctype>

namespace GAME {

namespace {

bool IsRecordName(const std::string& name)
{
    if (name.size() < 4)
        return false;
    std::string tail = name.substr(name.size() - 4);
    std::transform(tail.begin(), tail.end(), tail.begin(), [](unsigned char c) { return std::tolower(c); });
    return tail == ".dbr";
}

// Moves value toward target by the share of the fade that elapsed.
float Approach(float value, float target, int elapsedMs, int fadeMs)
{
    if (fadeMs <= 0)
        return target;
    const float step = static_cast<float>(std::max(elapsedMs, 0)) / static_cast<float>(fadeMs);
    return value < target ? std::min(target, value + step) : std::max(target, value - step);
}

} // namespace

Jukebox::~Jukebox()
{
    Clean();
}

SoundManager* Jukebox::GetSoundManager() const
{
    if (m_soundManager)
        return m_soundManager;
    return gEngine ? gEngine->GetSoundManager() : nullptr;
}

const SessionPlaylist* Jukebox::GetSession(const std::string& record)
{
    auto it = m_sessions.find(record);
    if (it == m_sessions.end()) {
        Object* object = ObjectManager::Get()->CreateObjectFromFile(record);
        if (object && !object->GetClassInfo().IsA(MusicSession::GetStaticClassInfo()) &&
            !object->GetClassInfo().IsA(AmbientSession::GetStaticClassInfo()) &&
            !object->GetClassInfo().IsA(BossMusicSession::GetStaticClassInfo()) &&
            !object->GetClassInfo().IsA(EventMusicSession::GetStaticClassInfo())) {
            LogPrintf(1, "Jukebox: '%s' is no music session", record.c_str());
            ObjectManager::Get()->DestroyObjectEx(object, __FILE__, __LINE__);
            object = nullptr;
        } else if (!object) {
            LogPrintf(1, "Jukebox: couldn't make the music session '%s'", record.c_str());
        }
        it = m_sessions.emplace(record, object).first;
    }
    Object* object = it->second;
    if (!object)
        return nullptr;
    const RTTI_ClassInfo& info = object->GetClassInfo();
    if (info.IsA(MusicSession::GetStaticClassInfo()))
        return &static_cast<MusicSession*>(object)->GetPlaylist();
    if (info.IsA(AmbientSession::GetStaticClassInfo()))
        return &static_cast<AmbientSession*>(object)->GetPlaylist();
    if (info.IsA(BossMusicSession::GetStaticClassInfo()))
        return &static_cast<BossMusicSession*>(object)->GetPlaylist();
    return &static_cast<EventMusicSession*>(object)->GetPlaylist();
}

bool Jukebox::Resolve(const std::string& name, bool day, std::vector<std::string>& files, int& crossFadeMs)
{
    files.clear();
    crossFadeMs = SessionPlaylist::kDefaultCrossFadeMs;
    if (name.empty())
        return false;
    if (!IsRecordName(name)) {
        files.push_back(name);
        return true;
    }
    const SessionPlaylist* session = GetSession(name);
    if (!session)
        return false;
    files = session->GetFiles(day);
    crossFadeMs = session->GetCrossFadeMs();
    return !files.empty();
}

void Jukebox::Select(Channel& channel, const std::vector<std::string>& files, int crossFadeMs, bool loop)
{
    if (files == channel.files)
        return;
    if (channel.current.stream) {
        Voice old = channel.current;
        old.target = 0.0f;
        old.fadeMs = crossFadeMs;
        channel.fading.push_back(old);
    }
    channel.current = Voice();
    channel.files = files;
    if (files.empty())
        return;
    SoundManager* sound = GetSoundManager();
    // Nothing is heard without a device; the files are kept so the change is not retried.
    channel.current.stream = sound ? sound->OpenStream(files, loop, 0.0f) : nullptr;
    channel.current.gain = 0.0f;
    channel.current.target = 1.0f;
    channel.current.fadeMs = crossFadeMs;
}

void Jukebox::Advance(Channel& channel, int elapsedMs, float duckTarget, int duckMs)
{
    SoundManager* sound = GetSoundManager();
    channel.duck = Approach(channel.duck, duckTarget, elapsedMs, duckMs);
    Voice& current = channel.current;
    if (current.stream) {
        current.gain = Approach(current.gain, current.target, elapsedMs, current.fadeMs);
        current.stream->SetGain(current.gain * channel.duck);
        if (current.stream->IsFinished()) {
            if (sound)
                sound->CloseStream(current.stream);
            current = Voice();
        }
    }
    for (size_t i = 0; i < channel.fading.size();) {
        Voice& voice = channel.fading[i];
        voice.gain = Approach(voice.gain, 0.0f, elapsedMs, voice.fadeMs);
        voice.stream->SetGain(voice.gain * channel.duck);
        if (voice.gain <= 0.0f || voice.stream->IsFinished()) {
            if (sound)
                sound->CloseStream(voice.stream);
            channel.fading.erase(channel.fading.begin() + static_cast<std::ptrdiff_t>(i));
        } else {
            ++i;
        }
    }
}

void Jukebox::Stop(Channel& channel)
{
    SoundManager* sound = GetSoundManager();
    if (sound) {
        sound->CloseStream(channel.current.stream);
        for (Voice& voice : channel.fading)
            sound->CloseStream(voice.stream);
    }
    channel = Channel();
}

void Jukebox::PlayEventMusic(const std::string& name)
{
    m_eventName = name;
    m_eventPending = !name.empty();
}

void Jukebox::Update()
{
    const int now = GetMachineTime();
    const int elapsed = m_timed ? now - m_lastTime : 0;
    m_lastTime = now;
    m_timed = true;
    Update(std::clamp(elapsed, 0, 1000));
}

void Jukebox::Update(int elapsedMs)
{
    const bool day = DayNightManager::Get()->IsDay();
    std::vector<std::string> files;
    int crossFadeMs = 0;

    if (m_eventPending) {
        m_eventPending = false;
        m_event.files.clear(); // the same event music starts again
        Resolve(m_eventName, day, files, crossFadeMs);
        Select(m_event, files, crossFadeMs, false);
        m_eventFadeMs = crossFadeMs;
    }
    const bool eventPlaying = m_event.current.stream != nullptr;

    const std::string& music = m_bossArea && !m_bossName.empty() ? m_bossName : m_musicName;
    Resolve(music, day, files, crossFadeMs);
    Select(m_music, files, crossFadeMs, true);
    Resolve(m_ambientName, day, files, crossFadeMs);
    Select(m_ambient, files, crossFadeMs, true);

    Advance(m_music, elapsedMs, eventPlaying ? 0.0f : 1.0f, m_eventFadeMs);
    Advance(m_ambient, elapsedMs, 1.0f, 0);
    Advance(m_event, elapsedMs, 1.0f, 0);
    if (!m_event.current.stream)
        m_event.files.clear();
}

void Jukebox::Clean()
{
    Stop(m_music);
    Stop(m_ambient);
    Stop(m_event);
    m_musicName.clear();
    m_ambientName.clear();
    m_bossName.clear();
    m_eventName.clear();
    m_eventPending = false;
    m_bossArea = false;
    m_eventFadeMs = 0;
    if (!m_sessions.empty() && ObjectManager::HasInstantiated()) {
        for (auto& [name, object] : m_sessions)
            if (object)
                ObjectManager::Get()->DestroyObjectEx(object, __FILE__, __LINE__);
    }
    m_sessions.clear();
}

int Jukebox::GetNumFadingStreams() const
{
    return static_cast<int>(m_music.fading.size() + m_ambient.fading.size() + m_event.fading.size());
}

float Jukebox::GetStreamGain(const SoundStream* stream) const
{
    for (const Channel* channel : {&m_music, &m_ambient, &m_event}) {
        if (stream && channel->current.stream == stream)
            return channel->current.gain * channel->duck;
        for (const Voice& voice : channel->fading)
            if (stream && voice.stream == stream)
                return voice.gain * channel->duck;
    }
    return 0.0f;
}

} // namespace GAME
