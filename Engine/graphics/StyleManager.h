// The font styles by record name: a lazily made singleton that makes each style on first use and
// keeps it until it is destroyed (the first singleton the engine's shut-down destroys). The
// engine's utility text and the debug renderer take their style from it. Main thread only.
//
// TODO(stand-in): reading the style record (font name, size, colour, shadow, weight, filter, the
// low-resolution rules and the language's special font) and loading its font through the graphics
// engine; until then every style holds the defaults of GAME::FontStyle and no font.
#pragma once

#include "core/Singleton.h"

#include <map>
#include <string>

namespace GAME {

class FontStyle;

class StyleManager : public Singleton<StyleManager>
{
public:
    StyleManager() = default;
    ~StyleManager() override;

    // The style of the record, made on first use; never null.
    FontStyle* GetStyle(const std::string& recordName);
    int GetNumStyles() const { return static_cast<int>(m_styles.size()); }

private:
    FontStyle* LoadStyle(const std::string& recordName);

    std::map<std::string, FontStyle*> m_styles;
};

} // namespace GAME
