#include "world/GameInfo.h"

#include "data/LocalizationManager.h"

#include <algorithm>

namespace GAME {

GameInfo::GameInfo()
{
    SetGameName(std::string("Marrowdeep Server"));
}

void GameInfo::SetGameName(const std::string& name)
{
    m_gameName = name.substr(0, gameNameSize - 1);
}

void GameInfo::SetGameName(const std::u16string& name)
{
    char narrow[gameNameSize] = {};
    LocalizationManager::ToChar(name.c_str(), narrow, sizeof(narrow));
    SetGameName(std::string(narrow));
}

void GameInfo::GetGameName(std::u16string& name) const
{
    name = LocalizationManager::ToWChar(m_gameName);
}

void GameInfo::SetLevelName(const std::u16string& name)
{
    m_levelName = LocalizationManager::ToChar(name);
}

void GameInfo::GetLevelName(std::u16string& name) const
{
    name = LocalizationManager::ToWChar(m_levelName);
}

void GameInfo::SetModName(const std::u16string& name)
{
    m_modName = LocalizationManager::ToChar(name);
}

void GameInfo::GetModName(std::u16string& name) const
{
    name = LocalizationManager::ToWChar(m_modName);
}

void GameInfo::SetPlayerName(const std::u16string& name)
{
    m_playerName = LocalizationManager::ToChar(name);
}

void GameInfo::GetPlayerName(std::u16string& name) const
{
    name = LocalizationManager::ToWChar(m_playerName);
}

void GameInfo::RemovePlayer(const std::u16string& name)
{
    auto it = std::find(m_players.begin(), m_players.end(), name);
    if (it != m_players.end())
        m_players.erase(it);
}

unsigned int GameInfo::GetMinLevel() const
{
    const long long level = static_cast<long long>(m_playerLevel) - static_cast<long long>(m_levelRange);
    return level < 2 ? 1u : static_cast<unsigned int>(level);
}

unsigned int GameInfo::GetMaxLevel() const
{
    const unsigned long long level = static_cast<unsigned long long>(m_playerLevel) + m_levelRange;
    return level > maxLevel ? maxLevel : static_cast<unsigned int>(level);
}

} // namespace GAME
