#include "graphics/StyleManager.h"

#include "graphics/FontStyle.h"

namespace GAME {

StyleManager::~StyleManager()
{
    for (auto& [name, style] : m_styles)
        delete style;
    m_styles.clear();
}

FontStyle* StyleManager::GetStyle(const std::string& recordName)
{
    auto it = m_styles.find(recordName);
    if (it != m_styles.end())
        return it->second;
    return LoadStyle(recordName);
}

FontStyle* StyleManager::LoadStyle(const std::string& recordName)
{
    auto* style = new FontStyle;
    m_styles[recordName] = style;
    return style;
}

} // namespace GAME
