// A session of the music director: a playlist of music files read from its database record, with
// a night variant and the cross-fade time with which the jukebox brings it in and out. The ambient,
// boss and event sessions hold the same kind of playlist (SessionPlaylist) under their own classes,
// so that records say which kind they are. Registered with the class registry; the jukebox makes
// them from the records that sector data names and destroys them through the object manager.
//
// Record fields: "soundFiles" (array of file names), "nightSoundFiles" (array; empty: the day list
// plays at night too), "crossFadeSeconds" (default 3).
//
// Main thread only.
#pragma once

#include "core/Object.h"

#include <string>
#include <vector>

namespace GAME {

class SessionPlaylist
{
public:
    static constexpr int kDefaultCrossFadeMs = 3000;

    void Load(const LoadTable& table);
    // The night list when it is night and there is one, else the day list.
    const std::vector<std::string>& GetFiles(bool day) const
    {
        return day || m_nightFiles.empty() ? m_files : m_nightFiles;
    }
    void SetFiles(const std::vector<std::string>& files, const std::vector<std::string>& nightFiles)
    {
        m_files = files;
        m_nightFiles = nightFiles;
    }
    int GetCrossFadeMs() const { return m_crossFadeMs; }
    void SetCrossFadeMs(int milliseconds) { m_crossFadeMs = milliseconds; }

private:
    std::vector<std::string> m_files;
    std::vector<std::string> m_nightFiles;
    int m_crossFadeMs = kDefaultCrossFadeMs;
};

class MusicSession : public Object
{
    GAME_DECLARE_CLASS(MusicSession)

public:
    MusicSession() = default;

    void Load(const LoadTable& table) override { m_playlist.Load(table); }
    const SessionPlaylist& GetPlaylist() const { return m_playlist; }

protected:
    ~MusicSession() override = default;

private:
    SessionPlaylist m_playlist;
};

} // namespace GAME
