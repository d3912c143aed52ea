#include "graphics/StyleManager.h"

#include "core/ObjectManager.h"
#include "data/LoadTable.h"
#include "data/LocalizationManager.h"
#include "graphics/FontStyle.h"
#include "graphics/GraphicsEngine.h"
#include "graphics/GraphicsServices.h"
#include "graphics/RenderDevice.h"

#include <cmath>
#include <new>

namespace GAME {

namespace {

GraphicsEngine* Graphics()
{
    return GraphicsServices::Graphics();
}

} // namespace

StyleManager::~StyleManager()
{
    GraphicsEngine* graphics = Graphics();
    for (auto& [name, style] : m_styles) {
        if (graphics && style->font)
            graphics->UnloadFont(style->font);
        delete style;
    }
    m_styles.clear();
}

FontStyle* StyleManager::GetStyle(const std::string& recordName)
{
    auto it = m_styles.find(recordName);
    if (it != m_styles.end())
        return it->second;
    // One load: a record that is missing becomes a style of defaults, so it is never looked for
    // again.
    return LoadStyle(recordName);
}

FontStyle* StyleManager::LoadStyle(const std::string& recordName)
{
    LoadTable* table = nullptr;
    if (ObjectManager* objects = ObjectManager::Get()) {
        objects->LoadTableFile(recordName);
        table = objects->GetLoadTable(recordName);
    }
    auto* style = new (std::nothrow) FontStyle;
    if (!style)
        return nullptr;

    auto text = [table](const char* key, const std::string& fallback) {
        const char* value = table ? table->GetValue(key, fallback.c_str()) : nullptr;
        return std::string(value ? value : fallback.c_str());
    };
    auto number = [table](const char* key, int fallback) {
        return table ? table->GetInt(key, fallback) : fallback;
    };
    auto real = [table](const char* key, float fallback) {
        return table ? table->GetFloat(key, fallback) : fallback;
    };
    auto flag = [table](const char* key, bool fallback) {
        return table ? table->GetBool(key, fallback) : fallback;
    };

    LocalizationManager* localization = LocalizationManager::Instance();
    const char* specialFont = localization ? localization->GetSpecialFont() : nullptr;
    std::string fontName =
        specialFont && *specialFont ? std::string(specialFont) : text("fontName", defaultFontName);
    int size = number("fontSize", defaultFontSize);
    int shadowDistance = number("fontShadowDistance", 1);

    GraphicsEngine* graphics = Graphics();
    RenderDevice* device = graphics ? graphics->GetRenderDevice() : nullptr;
    const int height = device ? device->GetHeight() : fullHeight;
    if (height < fullHeight) {
        const float scale = static_cast<float>(height) * 0.0013020834f;
        size = static_cast<int>(std::floor(static_cast<float>(size) * scale));
        shadowDistance = static_cast<int>(std::floor(static_cast<float>(shadowDistance) * scale));
        const int minimum = number("lowResMinimumFontSize", defaultLowResMinimumFontSize);
        if (size < minimum) {
            const bool english = !localization || localization->IsEnglish();
            fontName = text(english ? "lowResFontName" : "lowResFontNameForeign", fontName);
            size = minimum;
        }
    }

    style->fontName = fontName;
    style->size = size;
    style->shadowDistance = shadowDistance;
    style->font = graphics ? graphics->LoadFont(fontName) : nullptr;
    style->color =
        Color(real("fontColorRed", 1.0f), real("fontColorGreen", 1.0f), real("fontColorBlue", 1.0f), 1.0f);
    style->dropShadow = flag("fontDropShadow", false);
    const bool bold = flag("fontAttribBold", false);
    const bool italic = flag("fontAttribItalic", false);
    if (bold && italic)
        style->weight = RENDER_FONT_BOLD_ITALIC;
    else if (bold)
        style->weight = RENDER_FONT_BOLD;
    else if (italic)
        style->weight = RENDER_FONT_ITALIC;
    style->filter = flag("fontFilter", false);

    m_styles[recordName] = style;
    return style;
}

} // namespace GAME
