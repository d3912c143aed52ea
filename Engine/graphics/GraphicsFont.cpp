#include "graphics/GraphicsFont.h"

#include "core/Log.h"
#include "graphics/GraphicsEngine.h"
#include "graphics/GraphicsServices.h"
#include "graphics/RenderDevice.h"
#include "graphics/RenderFont.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>

namespace GAME {

namespace {

// Red, green and blue of the code letters B G R W Y P O S F C I A M K D, in that order.
struct PaletteEntry
{
    char letter;
    float r, g, b;
};

const PaletteEntry g_palette[GraphicsFont::numPaletteColors] = {
    {'B', 0.224f, 0.667f, 0.808f}, {'G', 0.063f, 0.918f, 0.365f}, {'R', 1.0f, 0.258f, 0.0f},
    {'W', 1.0f, 1.0f, 1.0f},       {'Y', 1.0f, 0.96f, 0.17f},     {'P', 0.738f, 0.579f, 0.776f},
    {'O', 0.95f, 0.64f, 0.3f},     {'S', 0.6f, 0.6f, 0.6f},       {'F', 1.0f, 0.411f, 0.705f},
    {'C', 0.0f, 1.0f, 1.0f},       {'I', 0.35f, 0.01f, 0.6f},     {'A', 0.5f, 1.0f, 0.831f},
    {'M', 0.5f, 0.0f, 0.0f},       {'K', 0.941f, 0.901f, 0.549f}, {'D', 0.1f, 0.1f, 0.1f},
};

bool IsLetter(unsigned int c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// The device font of a font that is (or now gets) loaded; null without one.
RenderFont* AvailableRenderFont(const GraphicsFont* font)
{
    if (!font)
        return nullptr;
    // Loading is no change of what the font is: the resource fills itself on first use.
    const_cast<GraphicsFont*>(font)->EnsureAvailable();
    return font->GetRenderFont();
}

template <class Char> unsigned int Code(Char c)
{
    if constexpr (sizeof(Char) == 1)
        return static_cast<unsigned char>(c);
    else
        return static_cast<unsigned int>(c);
}

// The walk shared by drawing and measuring: runs of one colour and weight go to the device.
template <class Char>
int WalkText(RenderFont& device, const Char* text, const Rect& position, unsigned int flags, int size,
             const Color& color, bool shadow, int shadowDistance, RenderFontStyle weight, bool filter)
{
    const bool processCodes = GraphicsFont::IsCharacterProcessingOn();
    Char run[GraphicsFont::maxRunLength + 1];
    int length = 0;
    float x = position.x;
    // Runs of a huge font (a style record's size) reach the int range on their own.
    int64_t total = 0;
    Color current = color;
    RenderFontStyle currentWeight = weight;
    Color pending = color;
    RenderFontStyle pendingWeight = weight;

    auto drawRun = [&]() {
        if (length == 0)
            return;
        run[length] = 0;
        if (shadow) {
            Color black(0.0f, 0.0f, 0.0f, GraphicsFont::shadowAlpha * current.a);
            Rect shadowRect(x + static_cast<float>(shadowDistance),
                            position.y + static_cast<float>(shadowDistance), position.width, position.height);
            device.DrawText(run, length, shadowRect, flags, black.PackARGB(), size, currentWeight, filter);
        }
        Rect rect(x, position.y, position.width, position.height);
        const int width =
            device.DrawText(run, length, rect, flags, current.PackARGB(), size, currentWeight, filter);
        x += static_cast<float>(width);
        total += width;
        length = 0;
    };

    device.BeginBatch();
    for (size_t i = 0; text[i] != 0;) {
        const unsigned int c = Code(text[i]);
        const unsigned int next = Code(text[i + 1]);
        const unsigned int bits =
            GraphicsFont::ProcessCharacter(c, next, pendingWeight, pending, processCodes);
        if (bits & GraphicsFont::CHARACTER_CUTS_RUN)
            drawRun();
        if (bits & GraphicsFont::CHARACTER_OUTPUT) {
            run[length++] = text[i];
            if (length == GraphicsFont::maxRunLength)
                drawRun();
        }
        current = pending;
        currentWeight = pendingWeight;
        // A pair never reaches past the terminator.
        i += (bits & GraphicsFont::CHARACTER_CONSUMES_NEXT) && next != 0 ? 2 : 1;
    }
    drawRun();
    device.EndBatch();
    return static_cast<int>(std::clamp<int64_t>(total, INT_MIN, INT_MAX));
}

template <class Char>
int DrawRuns(const GraphicsFont* font, const Char* text, const Rect& position, unsigned int flags, int size,
             const Color& color, bool shadow, int shadowDistance, RenderFontStyle weight, bool filter)
{
    if (!text)
        return 0;
    RenderFont* device = AvailableRenderFont(font);
    if (!device)
        return 0;
    return WalkText(*device, text, position, flags, size, color, shadow, shadowDistance, weight, filter);
}

} // namespace

GraphicsFont::GraphicsFont(BaseResourceManager* manager, const std::string& fileName,
                           GraphicsEngine* graphics)
    : Resource(manager, fileName), m_graphics(graphics)
{
}

GraphicsFont::~GraphicsFont()
{
    Unload();
}

std::string GraphicsFont::MakeFontName(const std::string& fileName)
{
    std::string name = fileName;
    const size_t slash = name.rfind('/');
    if (slash != std::string::npos)
        name.erase(0, slash + 1);
    const size_t backslash = name.rfind('\\');
    if (backslash != std::string::npos)
        name.erase(0, backslash + 1);
    const size_t dot = name.rfind('.');
    if (dot != std::string::npos)
        name.erase(dot);
    return name;
}

Resource::InitResult GraphicsFont::Initialize(const void* data, int size)
{
    // A second load while the device font lives has nothing to do: the font is there.
    if (m_renderFont)
        return INIT_SUCCESS;
    RenderDevice* device = m_graphics ? m_graphics->GetRenderDevice() : nullptr;
    if (!device || !data || size <= 3)
        return INIT_INVALID_DATA;
    const std::string name = MakeFontName(GetFileNameString());
    if (size >= 4 && std::memcmp(data, "FNT\x01", 4) == 0) {
        LogPrintf(2, "Font file '%s' is using the old format.", GetFileName());
        m_renderFont = device->CreateFont(name.c_str(), nullptr, 0);
    } else {
        m_renderFont = device->CreateFont(name.c_str(), data, static_cast<unsigned int>(size));
    }
    if (!m_renderFont) {
        LogPrintf(1, "Font '%s' could not be made by the device", GetFileName());
        return INIT_INVALID_DATA;
    }
    return INIT_SUCCESS;
}

void GraphicsFont::Destroy()
{
    if (!m_renderFont)
        return;
    RenderDevice* device = m_graphics ? m_graphics->GetRenderDevice() : nullptr;
    if (device)
        device->DestroyFont(&m_renderFont);
    m_renderFont = nullptr;
}

bool GraphicsFont::IsCharacterProcessingOn()
{
    return GraphicsServices::CharacterProcessing();
}

bool GraphicsFont::GetPaletteColor(unsigned int letter, Color& color)
{
    if (!IsLetter(letter))
        return false;
    const char upper = static_cast<char>(letter >= 'a' ? letter - 'a' + 'A' : letter);
    for (const PaletteEntry& entry : g_palette)
        if (entry.letter == upper) {
            color = Color(entry.r, entry.g, entry.b, color.a);
            return true;
        }
    return false;
}

unsigned int GraphicsFont::ProcessCharacter(unsigned int character, unsigned int next,
                                            RenderFontStyle& weight, Color& color, bool processCodes)
{
    if (!processCodes)
        return CHARACTER_OUTPUT;
    switch (character) {
    case '^':
        if (next == '^')
            return CHARACTER_OUTPUT;
        if (next == 0)
            return 0;
        if (IsLetter(next))
            return GetPaletteColor(next, color) ? CHARACTER_CONSUMES_NEXT | CHARACTER_CUTS_RUN
                                                : CHARACTER_CONSUMES_NEXT;
        return CHARACTER_CONSUMES_NEXT;
    case '&':
        switch (next) {
        case 'B':
        case 'b':
            weight = RENDER_FONT_BOLD;
            return CHARACTER_CONSUMES_NEXT | CHARACTER_CUTS_RUN;
        case 'I':
        case 'i':
            weight = RENDER_FONT_ITALIC;
            return CHARACTER_CONSUMES_NEXT | CHARACTER_CUTS_RUN;
        case 'S':
        case 's':
            weight = RENDER_FONT_NORMAL;
            return CHARACTER_CONSUMES_NEXT | CHARACTER_CUTS_RUN;
        default:
            return CHARACTER_OUTPUT;
        }
    case '{':
    case '}':
        return 0;
    default:
        return CHARACTER_OUTPUT;
    }
}

int RenderFontText(const GraphicsFont* font, const char16_t* text, const Rect& position, unsigned int flags,
                   int size, const Color& color, bool shadow, int shadowDistance, RenderFontStyle weight,
                   bool filter)
{
    return DrawRuns(font, text, position, flags, size, color, shadow, shadowDistance, weight, filter);
}

int RenderFontText(const GraphicsFont* font, const char* text, const Rect& position, unsigned int flags,
                   int size, const Color& color, bool shadow, int shadowDistance, RenderFontStyle weight,
                   bool filter)
{
    return DrawRuns(font, text, position, flags, size, color, shadow, shadowDistance, weight, filter);
}

int MeasureFontText(const GraphicsFont* font, const char16_t* text, int size, RenderFontStyle weight)
{
    return DrawRuns(font, text, Rect(), GraphicsFont::measureFlags, size, Color(1.0f, 1.0f, 1.0f, 1.0f),
                    false, 0, weight, false);
}

int MeasureFontText(const GraphicsFont* font, const char* text, int size, RenderFontStyle weight)
{
    return DrawRuns(font, text, Rect(), GraphicsFont::measureFlags, size, Color(1.0f, 1.0f, 1.0f, 1.0f),
                    false, 0, weight, false);
}

} // namespace GAME
