// Font files and the texts drawn with them, over the software device. The input's head picks the
// drawing options and holds a font file, which the font resource loads through the file system;
// its tail is a text drawn (with and without the drop shadow) and measured run by run, once as
// 8-bit and once as 16-bit characters, inline colour and weight codes and all. Drawing and
// measuring walk the text alike, so without a shadow they must answer the same width.
//
// Layout: options byte (bit 0 shadow, bits 1-2 weight), font size and shadow distance (each 32-bit,
// signed, little-endian: styles read both from records), font file length n, n bytes of font
// file, then the text.
#include "common/FuzzSeeds.h"
#include "common/SoftwareGraphics.h"
#include "common/WorldFuzzServices.h"
#include "core/Color.h"
#include "core/Rect.h"
#include "data/ResourceLoader.h"
#include "graphics/GraphicsEngine.h"
#include "graphics/GraphicsFont.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr const char* kFontName = "Fonts/Fuzz.fnt";
constexpr size_t kHeader = 10;

GAME::GraphicsEngine* Engine()
{
    static std::unique_ptr<GAME::GraphicsEngine> engine = FuzzGraphics::StartSoftwareEngine();
    return engine.get();
}

template <class Char>
void DrawAndMeasure(const GAME::GraphicsFont& font, const std::basic_string<Char>& text, int size,
                    GAME::RenderFontStyle weight, bool shadow, int shadowDistance)
{
    const GAME::Color color(0.5f, 0.75f, 1.0f, 0.5f);
    const GAME::Rect at(10.0f, 20.0f, 300.0f, 40.0f);
    const int drawn = GAME::RenderFontText(&font, text.c_str(), at, GAME::GraphicsFont::drawFlags, size,
                                           color, false, 0, weight, true);
    const int measured = GAME::MeasureFontText(&font, text.c_str(), size, weight);
    if (drawn != measured)
        std::abort(); // one walk, two answers
    if (shadow)
        GAME::RenderFontText(&font, text.c_str(), at, GAME::GraphicsFont::drawFlags, size, color, true,
                             shadowDistance, weight, false);
}

int32_t Int32(const uint8_t* bytes)
{
    return static_cast<int32_t>(static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
                                static_cast<uint32_t>(bytes[2]) << 16 |
                                static_cast<uint32_t>(bytes[3]) << 24);
}

std::vector<uint8_t> Input(uint8_t options, int32_t size, int32_t shadowDistance, const std::string& font,
                           const std::string& text)
{
    std::vector<uint8_t> bytes = {options};
    for (const int32_t value : {size, shadowDistance})
        for (int i = 0; i < 4; ++i)
            bytes.push_back(static_cast<uint8_t>(static_cast<uint32_t>(value) >> (8 * i)));
    bytes.push_back(static_cast<uint8_t>(font.size()));
    bytes.insert(bytes.end(), font.begin(), font.end());
    bytes.insert(bytes.end(), text.begin(), text.end());
    return bytes;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    GAME::GraphicsEngine* engine = Engine();
    if (size < kHeader || size > (1u << 20))
        return 0;
    const uint8_t options = data[0];
    const int fontSize = Int32(data + 1);
    const int shadowDistance = Int32(data + 5);
    const size_t fontLength = std::min<size_t>(data[9], size - kHeader);
    const bool shadow = options & 1;
    const auto weight = static_cast<GAME::RenderFontStyle>((options >> 1) & 3);

    FuzzWorld::Services services;
    services.source->Put(kFontName, std::vector<uint8_t>(data + kHeader, data + kHeader + fontLength));
    GAME::ResourceLoader loader;
    GAME::GraphicsFont font(engine->GetFontManager(), kFontName, engine);
    font.SetResourceLoader(&loader);
    font.EnsureAvailable();
    // A file of four bytes or more always makes a software font; fewer never do.
    if ((font.GetRenderFont() != nullptr) != (fontLength > 3))
        std::abort();

    const uint8_t* tail = data + kHeader + fontLength;
    const size_t tailSize = size - kHeader - fontLength;
    // Texts end at their first zero, as the callers' strings do.
    std::string narrow(reinterpret_cast<const char*>(tail), tailSize);
    narrow.resize(std::char_traits<char>::length(narrow.c_str()));
    DrawAndMeasure(font, narrow, fontSize, weight, shadow, shadowDistance);
    std::u16string wide(tailSize / 2, u'\0');
    for (size_t i = 0; i < wide.size(); ++i)
        wide[i] = static_cast<char16_t>(tail[2 * i] | (tail[2 * i + 1] << 8));
    wide.resize(std::char_traits<char16_t>::length(wide.c_str()));
    DrawAndMeasure(font, wide, fontSize, weight, shadow, shadowDistance);
    return 0;
}

void EngineFuzzSeeds(FuzzSeedSink& sink)
{
    sink.Add("codes",
             Input(1, 16, 2, "TESTFONT", "^Rred ^gGreen ^^caret ^x &Bbold&s plain &Iitalic &x {braces} ^"));
    sink.Add("old-format", Input(2, 12, 0, std::string("FNT\x01rest", 8), "plain text"));
    sink.Add("short-file", Input(0, 8, 1, "FNT", "&b"));
    sink.Add("long-run", Input(1, 24, -3, "TESTFONT", std::string(1200, 'w') + "^Y" + std::string(600, 'y')));
    std::string wide;
    for (char c : std::string("^Bwide &Itext^")) {
        wide.push_back(c);
        wide.push_back('\0');
    }
    wide += std::string("\xAC\x20\x00\x00", 4); // a euro sign, then the end
    sink.Add("wide", Input(5, -3, 1, "TESTFONT", wide));
}
