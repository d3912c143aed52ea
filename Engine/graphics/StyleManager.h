// The font styles by record name: a lazily made singleton that reads each style record on first
// use (font name, size, colour, shadow, weight and filtering), loads its font through the graphics
// engine and keeps the style until the manager is destroyed (the first singleton the engine's
// shut-down destroys), when every style's font is unloaded. The canvas's style-based text, the
// engine's utility text and the debug renderer take their styles from it.
//
// Screens lower than 768 pixels scale size and shadow distance by height / 768; a size that falls
// below the record's "lowResMinimumFontSize" (12) is raised to it and the font becomes the
// record's low-resolution font ("lowResFontName" in English, "lowResFontNameForeign" otherwise).
// A language with a special font of its own uses that font in place of "fontName".
//
// A record that does not exist gives a style of the defaults below, loaded once like any other.
// Main thread only.
#pragma once

#include "core/Singleton.h"

#include <map>
#include <string>

namespace GAME {

class FontStyle;

class StyleManager : public Singleton<StyleManager>
{
public:
    static constexpr const char* defaultFontName = "Fonts/Albertus MT.fnt";
    static constexpr int defaultFontSize = 16;
    static constexpr int defaultLowResMinimumFontSize = 12;
    // Screens below this height scale the sizes down.
    static constexpr int fullHeight = 768;

    StyleManager() = default;
    // Unloads every style's font and deletes the styles.
    ~StyleManager() override;

    // The style of the record, read on first use; never null (null only when out of memory).
    FontStyle* GetStyle(const std::string& recordName);
    int GetNumStyles() const { return static_cast<int>(m_styles.size()); }

private:
    FontStyle* LoadStyle(const std::string& recordName);

    std::map<std::string, FontStyle*> m_styles;
};

} // namespace GAME
