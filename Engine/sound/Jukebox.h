// The music director: it plays, by sector and time of day, the music playlist, the ambient sound
// playlist, the event music and the boss music that the ambiance manager hands it, each streamed
// through the sound manager, and cross-fades whenever what is to be heard changes (another
// playlist, day turning to night for a session with a night list, a boss area entered or left).
// Event music plays once over the rest, the music fading out under it and back in after it.
//
// A playlist name is either a database record of one of the session classes (MusicSession,
// AmbientSession, BossMusicSession, EventMusicSession: its files and cross-fade time) or one sound
// file played on its own with the default cross-fade. Sessions made from records are kept until
// Clean and destroyed through the object manager.
//
// A lazily made singleton; the engine updates it every frame while game time runs, cleans it when
// the world is unloaded and destroys it at shut-down, after the style manager and before the sound
// manager goes. Its streams belong to the sound manager (the engine's, or the one set here), which
// must outlive them: Clean or destroy the jukebox first. Main thread only.
#pragma once

#include "core/Singleton.h"

#include <map>
#include <string>
#include <vector>

namespace GAME {

class Object;
class SessionPlaylist;
class SoundManager;
class SoundStream;

class Jukebox : public Singleton<Jukebox>
{
public:
    Jukebox() = default;
    ~Jukebox() override;

    // Null (the default) plays through the engine's sound manager.
    void SetSoundManager(SoundManager* soundManager) { m_soundManager = soundManager; }
    SoundManager* GetSoundManager() const;

    // Empty names stop what they named. A name that stays the same changes nothing.
    void SetMusicPlaylist(const std::string& name) { m_musicName = name; }
    const std::string& GetMusicPlaylist() const { return m_musicName; }
    void SetAmbientPlaylist(const std::string& name) { m_ambientName = name; }
    const std::string& GetAmbientPlaylist() const { return m_ambientName; }
    // Starts the event music from its first file (again, when it is the one that played last).
    void PlayEventMusic(const std::string& name);
    // Inside a boss area the boss music (when one is set) takes over from the music playlist.
    void SetBossArea(bool inside) { m_bossArea = inside; }
    bool IsBossArea() const { return m_bossArea; }
    // The game's boss entities name their music here; the library itself sets none.
    void SetBossMusic(const std::string& name) { m_bossName = name; }

    // Once per frame: the machine time since the last call is the fade time.
    void Update();
    // The same with the elapsed milliseconds given.
    void Update(int elapsedMs);
    // Stops every stream and forgets the playlists and sessions of the unloaded world.
    void Clean();

    // What is heard now (null when nothing), for the statistics and the tests.
    SoundStream* GetMusicStream() const { return m_music.current.stream; }
    SoundStream* GetAmbientStream() const { return m_ambient.current.stream; }
    SoundStream* GetEventStream() const { return m_event.current.stream; }
    // Streams fading out after a change.
    int GetNumFadingStreams() const;
    // The gain the stream is at (0 for a stream the jukebox does not hold).
    float GetStreamGain(const SoundStream* stream) const;

private:
    struct Voice
    {
        SoundStream* stream = nullptr;
        float gain = 0.0f;
        float target = 1.0f;
        int fadeMs = 0;
    };
    struct Channel
    {
        std::vector<std::string> files;
        Voice current;
        std::vector<Voice> fading;
        float duck = 1.0f; // under event music
    };

    // The files to play for the name now and its cross-fade; false for a name that names nothing.
    bool Resolve(const std::string& name, bool day, std::vector<std::string>& files, int& crossFadeMs);
    const SessionPlaylist* GetSession(const std::string& record);
    void Select(Channel& channel, const std::vector<std::string>& files, int crossFadeMs, bool loop);
    void Advance(Channel& channel, int elapsedMs, float duckTarget, int duckMs);
    void Stop(Channel& channel);

    SoundManager* m_soundManager = nullptr;
    std::string m_musicName;
    std::string m_ambientName;
    std::string m_bossName;
    std::string m_eventName;
    bool m_eventPending = false;
    bool m_bossArea = false;
    int m_eventFadeMs = 0;
    int m_lastTime = 0;
    bool m_timed = false;
    Channel m_music;
    Channel m_ambient;
    Channel m_event;
    // Records made into sessions (null for a record that made none).
    std::map<std::string, Object*> m_sessions;
};

} // namespace GAME
