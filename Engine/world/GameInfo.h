// The record of the running game that the host and the network code share: the game's name and
// password, map and mod, the player's name and looks, single or multi-player, server or client,
// player and level limits, difficulty, player-versus-player, times and the players' names. The
// engine holds one (Engine::GetGameInfo). A plain value; one thread at a time.
#pragma once

#include <string>
#include <vector>

namespace GAME {

class GameInfo
{
public:
    static constexpr size_t gameNameSize = 40; // 39 characters and the terminator
    static constexpr unsigned int maxLevel = 65;

    GameInfo();
    virtual ~GameInfo() = default;
    GameInfo(const GameInfo&) = default;
    GameInfo& operator=(const GameInfo&) = default;

    // At most 39 characters are kept.
    void SetGameName(const std::string& name);
    void SetGameName(const std::u16string& name);
    std::string GetGameName() const { return m_gameName; }
    void GetGameName(std::u16string& name) const;

    void SetLevelName(const std::string& name) { m_levelName = name; }
    void SetLevelName(const std::u16string& name);
    const std::string& GetLevelName() const { return m_levelName; }
    void GetLevelName(std::u16string& name) const;
    void SetModName(const std::string& name) { m_modName = name; }
    void SetModName(const std::u16string& name);
    const std::string& GetModName() const { return m_modName; }
    void GetModName(std::u16string& name) const;
    void SetPlayerName(const std::string& name) { m_playerName = name; }
    void SetPlayerName(const std::u16string& name);
    const std::string& GetPlayerName() const { return m_playerName; }
    void GetPlayerName(std::u16string& name) const;

    void SetPassword(const std::u16string& password) { m_password = password; }
    const std::u16string& GetPassword() const { return m_password; }

    // Duplicates are kept; RemovePlayer takes out the first equal name only.
    void AddPlayer(const std::u16string& name) { m_players.push_back(name); }
    void RemovePlayer(const std::u16string& name);
    void ClearPlayerList() { m_players.clear(); }
    const std::vector<std::u16string>& GetPlayers() const { return m_players; }

    void SetIsMultiPlayer(bool multiPlayer) { m_singlePlayer = !multiPlayer; }
    bool GetIsSinglePlayer() const { return m_singlePlayer; }
    bool GetIsMultiPlayer() const { return !m_singlePlayer; }

    // Player level minus the range, but 1 below 2; player level plus the range, at most 65.
    unsigned int GetMinLevel() const;
    unsigned int GetMaxLevel() const;

    void SetGender(bool gender) { m_gender = gender; }
    bool GetGender() const { return m_gender; }
    void SetTunicColorIndex(int index) { m_tunicColorIndex = index; }
    int GetTunicColorIndex() const { return m_tunicColorIndex; }
    void SetPvP(bool pvp) { m_pvp = pvp; }
    bool GetPvP() const { return m_pvp; }
    void SetNumOfPlayers(unsigned int count) { m_numPlayers = count; }
    unsigned int GetNumOfPlayers() const { return m_numPlayers; }
    void SetMaxPlayers(unsigned int count) { m_maxPlayers = count; }
    unsigned int GetMaxPlayers() const { return m_maxPlayers; }
    void SetIsServer(bool server) { m_isServer = server; }
    bool GetIsServer() const { return m_isServer; }
    void SetPlayerLevel(unsigned int level) { m_playerLevel = level; }
    unsigned int GetPlayerLevel() const { return m_playerLevel; }
    void SetLevelRange(unsigned int range) { m_levelRange = range; }
    unsigned int GetLevelRange() const { return m_levelRange; }
    void SetDifficulty(unsigned int difficulty) { m_difficulty = difficulty; }
    unsigned int GetDifficulty() const { return m_difficulty; }
    void SetGameStartTime(unsigned int time) { m_gameStartTime = time; }
    unsigned int GetGameStartTime() const { return m_gameStartTime; }
    void SetElapsedGameTime(unsigned int time) { m_elapsedGameTime = time; }
    unsigned int GetElapsedGameTime() const { return m_elapsedGameTime; }

private:
    std::string m_gameName;
    std::string m_levelName;
    std::string m_modName;
    std::string m_playerName;
    std::vector<std::u16string> m_players;
    bool m_gender = false;
    int m_tunicColorIndex = 0;
    unsigned int m_numPlayers = 0;
    unsigned int m_maxPlayers = 2;
    bool m_singlePlayer = true;
    bool m_isServer = false;
    unsigned int m_playerLevel = 1;
    unsigned int m_levelRange = 5;
    unsigned int m_difficulty = 0;
    std::u16string m_password;
    bool m_pvp = false;
    unsigned int m_gameStartTime = 0;
    unsigned int m_elapsedGameTime = 0;
};

} // namespace GAME
