// How a text is drawn: a font and its file name, colour, size, weight, drop shadow and filtering,
// read from a font style record by the style manager. A plain value; copying copies every field
// (the font is shared, not owned).
#pragma once

#include "core/Color.h"
#include "graphics/RenderTypes.h"

#include <string>

namespace GAME {

class GraphicsFont;

class FontStyle
{
public:
    FontStyle() = default;
    FontStyle(const FontStyle&) = default;
    FontStyle& operator=(const FontStyle&) = default;

    GraphicsFont* font = nullptr;
    std::string fontName;
    Color color = Color(1.0f, 1.0f, 1.0f, 1.0f);
    int size = 12;
    RenderFontStyle weight = RENDER_FONT_NORMAL;
    bool dropShadow = true;
    int shadowDistance = 1;
    bool filter = false;
};

} // namespace GAME
