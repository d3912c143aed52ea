// The resource of a font file ("Fonts/*.fnt"). The library lays out no glyphs itself: the render
// device builds a device font (RenderFont) from the file's bytes, and this class cuts a text into
// runs of one colour and weight, reads the inline codes, adds the drop shadow and sums the widths
// the device reports. The graphics engine's font manager makes and shares the resources.
//
// File forms: data beginning "FNT" and the byte 1 is the old format, which names a face by the
// file's name alone (the device is handed the name and no data); anything else goes to the device
// whole, and the device parses it.
//
// Inline codes (read only while the engine's character processing is on):
//   ^^        one caret, and the second caret is read again with what follows it
//   ^<letter> the palette colour of the letter (current alpha kept); both characters dropped
//   ^<other>  both characters dropped; a caret ending the text is dropped
//   &B &I &S  bold, italic, normal (either case); both characters dropped
//   &<other>  the ampersand is drawn and the next character read as usual
//   { }       dropped
// A colour or weight code ends the run drawn so far, which keeps the values it was started with.
// Runs hold at most 511 characters.
//
// Threads: the loader thread runs Initialize and Destroy under the resource's lock; drawing and
// measuring run on the main thread (they wait for a load in progress through EnsureAvailable).
#pragma once

#include "core/Color.h"
#include "core/Rect.h"
#include "data/Resource.h"
#include "graphics/RenderTypes.h"

#include <string>

namespace GAME {

class GraphicsEngine;
class RenderFont;

class GraphicsFont : public Resource
{
public:
    // Bits of ProcessCharacter's answer.
    enum : unsigned int
    {
        CHARACTER_OUTPUT = 1,        // the character is drawn
        CHARACTER_CONSUMES_NEXT = 2, // the next character belongs to this one
        CHARACTER_CUTS_RUN = 4,      // colour or weight changed: the run so far is drawn first
    };

    static constexpr int maxRunLength = 511;
    // The shadow is drawn in black at this share of the text's alpha.
    static constexpr float shadowAlpha = 0.66f;
    // Flags of drawing and of measuring.
    static constexpr unsigned int drawFlags = RENDER_TEXT_SINGLE_LINE | RENDER_TEXT_NO_CLIP;
    static constexpr unsigned int measureFlags = drawFlags | RENDER_TEXT_CALC_RECT;
    static constexpr int numPaletteColors = 15;

    // graphics gives the device; null makes a font that never loads (tools).
    GraphicsFont(BaseResourceManager* manager, const std::string& fileName, GraphicsEngine* graphics);
    ~GraphicsFont() override;

    // 0 when a device font exists afterwards (also when it existed already), 4 otherwise: no
    // device, data of 3 bytes or fewer, or a device that cannot build the font.
    InitResult Initialize(const void* data, int size) override;
    // Releases the device font.
    void Destroy() override;

    // The device font, or null (not loaded, or the load failed). Does not load.
    RenderFont* GetRenderFont() const { return m_renderFont; }
    // The font's name: its file name without folders and extension.
    static std::string MakeFontName(const std::string& fileName);

    // Reads one character with the one after it (0 at the end of the text) and answers the bits
    // above; a colour or weight code updates weight and color. processCodes false outputs every
    // character as it is.
    static unsigned int ProcessCharacter(unsigned int character, unsigned int next, RenderFontStyle& weight,
                                         Color& color, bool processCodes);
    // The palette colour of an inline code letter (either case), or false for a letter without one.
    static bool GetPaletteColor(unsigned int letter, Color& color);
    // Whether the engine reads inline codes now (on without an engine).
    static bool IsCharacterProcessingOn();

private:
    GraphicsEngine* m_graphics;
    RenderFont* m_renderFont = nullptr;
};

// Draws the text at the rectangle's top left, run by run (see the banner), with the shadow first
// when asked; answers the total width drawn in pixels (held to the int range). A null font, a font
// that does not load, or a null text draws nothing and answers 0.
int RenderFontText(const GraphicsFont* font, const char16_t* text, const Rect& position, unsigned int flags,
                   int size, const Color& color, bool shadow, int shadowDistance, RenderFontStyle weight,
                   bool filter);
int RenderFontText(const GraphicsFont* font, const char* text, const Rect& position, unsigned int flags,
                   int size, const Color& color, bool shadow, int shadowDistance, RenderFontStyle weight,
                   bool filter);
// The width the text would take, in pixels, by the same walk with nothing drawn.
int MeasureFontText(const GraphicsFont* font, const char16_t* text, int size, RenderFontStyle weight);
int MeasureFontText(const GraphicsFont* font, const char* text, int size, RenderFontStyle weight);

} // namespace GAME
