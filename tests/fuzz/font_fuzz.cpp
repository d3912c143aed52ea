// Font files and the texts drawn with them, over both render devices. The input's head picks the
// drawing options and holds a font file, which a font resource of each device's graphics engine
// loads through the file system: the software device keeps the bytes, the OpenGL device (headless,
// as the pixel tests draw) reads them with FreeType as a TrueType or OpenType face, or as the old
// format's face name through fontconfig. Its tail is a text drawn (with and without the drop
// shadow) and measured run by run, once as 8-bit and once as 16-bit characters, inline colour and
// weight codes and all; on the OpenGL device inside a frame, so glyphs are rendered into its atlas
// and drawn. Drawing and measuring walk the text alike, so without a shadow they must answer the
// same width on either device.
//
// Layout: options byte (bit 0 shadow, bits 1-2 weight), font size and shadow distance (each 32-bit,
// signed, little-endian: styles read both from records), font file length n (one byte; 255 is
// followed by the length in two bytes, little-endian, for TrueType files), n bytes of font file,
// then the text.
#include "common/FuzzSeeds.h"
#include "common/SoftwareGraphics.h"
#include "common/WorldFuzzServices.h"
#include "core/Color.h"
#include "core/Rect.h"
#include "data/ResourceLoader.h"
#include "graphics/GraphicsCanvas.h"
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
constexpr uint8_t kLongFont = 255; // the length byte that announces a 16-bit length

GAME::GraphicsEngine* SoftwareEngine()
{
    static std::unique_ptr<GAME::GraphicsEngine> engine = FuzzGraphics::StartSoftwareEngine();
    return engine.get();
}

// A small primary surface: the text is drawn at (10, 20) into a rectangle 300 wide.
GAME::GraphicsEngine* OpenGLEngine()
{
    static std::unique_ptr<GAME::GraphicsEngine> engine = FuzzGraphics::StartEngine("OpenGL", 320, 64);
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
    if (font.size() < kLongFont) {
        bytes.push_back(static_cast<uint8_t>(font.size()));
    } else {
        bytes.push_back(kLongFont);
        bytes.push_back(static_cast<uint8_t>(font.size()));
        bytes.push_back(static_cast<uint8_t>(font.size() >> 8));
    }
    bytes.insert(bytes.end(), font.begin(), font.end());
    bytes.insert(bytes.end(), text.begin(), text.end());
    return bytes;
}

struct Parsed
{
    uint8_t options = 0;
    int fontSize = 0;
    int shadowDistance = 0;
    const uint8_t* font = nullptr;
    size_t fontLength = 0;
    const uint8_t* tail = nullptr;
    size_t tailSize = 0;
};

Parsed Parse(const uint8_t* data, size_t size)
{
    Parsed in;
    in.options = data[0];
    in.fontSize = Int32(data + 1);
    in.shadowDistance = Int32(data + 5);
    size_t at = kHeader;
    size_t length = data[9];
    if (length == kLongFont && size >= kHeader + 2) {
        length = data[10] | static_cast<size_t>(data[11]) << 8;
        at += 2;
    }
    in.font = data + at;
    in.fontLength = std::min(length, size - at);
    in.tail = in.font + in.fontLength;
    in.tailSize = size - at - in.fontLength;
    return in;
}

// Loads the font file into a font resource of the engine and draws and measures the tail with it.
// Returns whether the device made a font of the file.
bool DrawWith(GAME::GraphicsEngine& engine, const Parsed& in)
{
    const bool shadow = in.options & 1;
    const auto weight = static_cast<GAME::RenderFontStyle>((in.options >> 1) & 3);
    FuzzWorld::Services services;
    services.source->Put(kFontName, std::vector<uint8_t>(in.font, in.font + in.fontLength));
    GAME::ResourceLoader loader;
    GAME::GraphicsFont font(engine.GetFontManager(), kFontName, &engine);
    font.SetResourceLoader(&loader);
    font.EnsureAvailable();

    // Texts end at their first zero, as the callers' strings do.
    std::string narrow(reinterpret_cast<const char*>(in.tail), in.tailSize);
    narrow.resize(std::char_traits<char>::length(narrow.c_str()));
    DrawAndMeasure(font, narrow, in.fontSize, weight, shadow, in.shadowDistance);
    std::u16string wide(in.tailSize / 2, u'\0');
    for (size_t i = 0; i < wide.size(); ++i)
        wide[i] = static_cast<char16_t>(in.tail[2 * i] | (in.tail[2 * i + 1] << 8));
    wide.resize(std::char_traits<char16_t>::length(wide.c_str()));
    DrawAndMeasure(font, wide, in.fontSize, weight, shadow, in.shadowDistance);
    return font.GetRenderFont() != nullptr;
}

// A TrueType file of the least FreeType reads as a scalable face, with outlines to render: a
// square (A to Z), a triangle (a to z), a composite of the two (0 to 9), an empty space and a
// kerning pair. Big-endian throughout, tables four-byte aligned; checksums are left 0 (FreeType
// does not check them).
class TrueTypeWriter
{
public:
    std::string Write()
    {
        std::vector<std::pair<std::string, std::vector<uint8_t>>> tables = {
            {"cmap", Cmap()}, {"glyf", m_glyf}, {"head", Head()}, {"hhea", Hhea()}, {"hmtx", Hmtx()},
            {"kern", Kern()}, {"loca", m_loca}, {"maxp", Maxp()}, {"name", Name()}, {"post", Post()}};
        std::vector<uint8_t> out;
        Put32(out, 0x00010000u);
        Put16(out, static_cast<uint16_t>(tables.size()));
        Put16(out, 128); // search range: 16 x the largest power of two <= 10
        Put16(out, 3);
        Put16(out, static_cast<uint16_t>(tables.size() * 16 - 128));
        size_t offset = 12 + 16 * tables.size();
        for (const auto& [tag, bytes] : tables) {
            out.insert(out.end(), tag.begin(), tag.end());
            Put32(out, 0);
            Put32(out, static_cast<uint32_t>(offset));
            Put32(out, static_cast<uint32_t>(bytes.size()));
            offset += (bytes.size() + 3) & ~size_t{3};
        }
        for (const auto& [tag, bytes] : tables) {
            out.insert(out.end(), bytes.begin(), bytes.end());
            out.resize((out.size() + 3) & ~size_t{3}, 0);
        }
        return std::string(out.begin(), out.end());
    }

    TrueTypeWriter()
    {
        AddGlyph({}); // .notdef
        AddGlyph({}); // space
        AddGlyph(Simple({{100, 0}, {100, 700}, {600, 700}, {600, 0}}));
        AddGlyph(Simple({{50, 0}, {300, 500}, {550, 0}}));
        std::vector<uint8_t> composite;
        Put16(composite, 0xFFFFu); // -1 contours: a composite
        for (int16_t v : {0, 0, 600, 900})
            Put16(composite, static_cast<uint16_t>(v));
        Put16(composite, 0x0001 | 0x0002 | 0x0020); // words, x and y, more components
        Put16(composite, 2);
        Put16(composite, 0);
        Put16(composite, 0);
        Put16(composite, 0x0001 | 0x0002);
        Put16(composite, 3);
        Put16(composite, 0);
        Put16(composite, 400);
        AddGlyph(composite);
    }

private:
    static void Put16(std::vector<uint8_t>& out, uint16_t v)
    {
        out.push_back(static_cast<uint8_t>(v >> 8));
        out.push_back(static_cast<uint8_t>(v));
    }
    static void Put32(std::vector<uint8_t>& out, uint32_t v)
    {
        Put16(out, static_cast<uint16_t>(v >> 16));
        Put16(out, static_cast<uint16_t>(v));
    }

    // One contour of on-curve points, coordinates as 16-bit deltas.
    static std::vector<uint8_t> Simple(const std::vector<std::pair<int16_t, int16_t>>& points)
    {
        std::vector<uint8_t> g;
        Put16(g, 1);
        int16_t xMin = 0x7FFF, yMin = 0x7FFF, xMax = -0x7FFF, yMax = -0x7FFF;
        for (const auto& [x, y] : points) {
            xMin = std::min(xMin, x), yMin = std::min(yMin, y);
            xMax = std::max(xMax, x), yMax = std::max(yMax, y);
        }
        for (int16_t v : {xMin, yMin, xMax, yMax})
            Put16(g, static_cast<uint16_t>(v));
        Put16(g, static_cast<uint16_t>(points.size() - 1)); // the contour's last point
        Put16(g, 0);                                        // no instructions
        for (size_t i = 0; i < points.size(); ++i)
            g.push_back(0x01); // on the curve
        int16_t last = 0;
        for (const auto& point : points) {
            Put16(g, static_cast<uint16_t>(point.first - last));
            last = point.first;
        }
        last = 0;
        for (const auto& point : points) {
            Put16(g, static_cast<uint16_t>(point.second - last));
            last = point.second;
        }
        return g;
    }

    void AddGlyph(std::vector<uint8_t> glyph)
    {
        glyph.resize((glyph.size() + 1) & ~size_t{1}, 0); // short offsets count words
        if (m_loca.empty())
            Put16(m_loca, 0);
        m_glyf.insert(m_glyf.end(), glyph.begin(), glyph.end());
        Put16(m_loca, static_cast<uint16_t>(m_glyf.size() / 2));
        ++m_glyphs;
    }

    std::vector<uint8_t> Head() const
    {
        std::vector<uint8_t> t;
        Put32(t, 0x00010000u);
        Put32(t, 0x00010000u);
        Put32(t, 0);           // checksum adjustment
        Put32(t, 0x5F0F3CF5u); // magic
        Put16(t, 0x000B);
        Put16(t, 1000); // units per em
        for (int i = 0; i < 4; ++i)
            Put32(t, 0); // created, modified
        for (int16_t v : {0, 0, 600, 900})
            Put16(t, static_cast<uint16_t>(v));
        Put16(t, 0);
        Put16(t, 8);
        Put16(t, 2);
        Put16(t, 0); // short loca
        Put16(t, 0);
        return t;
    }
    std::vector<uint8_t> Hhea() const
    {
        std::vector<uint8_t> t;
        Put32(t, 0x00010000u);
        for (int16_t v : {800, -200, 0, 700, 0, 0, 600, 1, 0, 0, 0, 0, 0, 0, 0})
            Put16(t, static_cast<uint16_t>(v));
        Put16(t, static_cast<uint16_t>(m_glyphs));
        return t;
    }
    std::vector<uint8_t> Maxp() const
    {
        std::vector<uint8_t> t;
        Put32(t, 0x00010000u);
        Put16(t, static_cast<uint16_t>(m_glyphs));
        for (uint16_t v : {4, 1, 7, 2, 2, 0, 0, 0, 0, 0, 0, 2, 1})
            Put16(t, v);
        return t;
    }
    std::vector<uint8_t> Hmtx() const
    {
        std::vector<uint8_t> t;
        for (int g = 0; g < m_glyphs; ++g) {
            Put16(t, g == 1 ? 300 : 700);
            Put16(t, g >= 2 ? 50 : 0);
        }
        return t;
    }
    static std::vector<uint8_t> Cmap()
    {
        // Format 4: space to glyph 1 by delta; digits, capitals and small letters through the glyph
        // id array; the closing 0xFFFF segment.
        struct Segment
        {
            uint16_t start, end, glyph;
        };
        const Segment segments[] = {{0x20, 0x20, 1}, {0x30, 0x39, 4}, {0x41, 0x5A, 2}, {0x61, 0x7A, 3}};
        const uint16_t count = 5;
        std::vector<uint8_t> sub;
        std::vector<uint16_t> ends, starts, deltas, rangeOffsets, ids;
        for (size_t i = 0; i < std::size(segments); ++i) {
            const Segment& segment = segments[i];
            ends.push_back(segment.end);
            starts.push_back(segment.start);
            if (segment.start == segment.end) {
                deltas.push_back(static_cast<uint16_t>(segment.glyph - segment.start));
                rangeOffsets.push_back(0);
            } else {
                deltas.push_back(0);
                rangeOffsets.push_back(static_cast<uint16_t>(2 * (count - i) + 2 * ids.size()));
                for (uint16_t c = segment.start; c <= segment.end; ++c)
                    ids.push_back(segment.glyph);
            }
        }
        ends.push_back(0xFFFF);
        starts.push_back(0xFFFF);
        deltas.push_back(1);
        rangeOffsets.push_back(0);
        Put16(sub, 4);
        Put16(sub, static_cast<uint16_t>(16 + 8 * count + 2 * ids.size()));
        Put16(sub, 0);
        Put16(sub, 2 * count);
        Put16(sub, 8); // search range: 2 x the largest power of two <= 5
        Put16(sub, 2);
        Put16(sub, 2 * count - 8);
        for (uint16_t v : ends)
            Put16(sub, v);
        Put16(sub, 0);
        for (const auto* list : {&starts, &deltas, &rangeOffsets, &ids})
            for (uint16_t v : *list)
                Put16(sub, v);
        std::vector<uint8_t> t;
        Put16(t, 0);
        Put16(t, 1);
        Put16(t, 3); // Windows
        Put16(t, 1); // Unicode BMP
        Put32(t, 12);
        t.insert(t.end(), sub.begin(), sub.end());
        return t;
    }
    static std::vector<uint8_t> Kern()
    {
        std::vector<uint8_t> t;
        Put16(t, 0);
        Put16(t, 1);
        Put16(t, 0);
        Put16(t, 6 + 8 + 6);
        Put16(t, 0x0001); // horizontal
        Put16(t, 1);
        Put16(t, 6);
        Put16(t, 0);
        Put16(t, 0);
        Put16(t, 2); // square, triangle: closer
        Put16(t, 3);
        Put16(t, static_cast<uint16_t>(-120));
        return t;
    }
    static std::vector<uint8_t> Name()
    {
        const std::u16string family = u"Fuzz";
        std::vector<uint8_t> t;
        Put16(t, 0);
        Put16(t, 1);
        Put16(t, 18);
        for (uint16_t v : {3, 1, 0x409, 1})
            Put16(t, v);
        Put16(t, static_cast<uint16_t>(2 * family.size()));
        Put16(t, 0);
        for (char16_t c : family)
            Put16(t, c);
        return t;
    }
    static std::vector<uint8_t> Post()
    {
        std::vector<uint8_t> t;
        Put32(t, 0x00030000u);
        Put32(t, 0);
        Put16(t, static_cast<uint16_t>(-100));
        Put16(t, 50);
        for (int i = 0; i < 5; ++i)
            Put32(t, 0);
        return t;
    }

    std::vector<uint8_t> m_glyf;
    std::vector<uint8_t> m_loca;
    int m_glyphs = 0;
};

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // The devices start before the first input, so the coverage of the OpenGL module, which loads
    // with its device, is counted from the start.
    SoftwareEngine();
    OpenGLEngine();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < kHeader || size > (1u << 20))
        return 0;
    const Parsed in = Parse(data, size);
    // A file of four bytes or more always makes a software font; fewer never do.
    if (DrawWith(*SoftwareEngine(), in) != (in.fontLength > 3))
        std::abort();
    // The OpenGL device draws only inside a frame.
    GAME::GraphicsEngine& gl = *OpenGLEngine();
    if (!gl.GetCanvas()->BeginFrame())
        std::abort();
    // Taken: the OpenGL device made a face of the file (FreeType or fontconfig found one).
    if (DrawWith(gl, in))
        FuzzAccepted();
    gl.GetCanvas()->EndFrame();
    return 0;
}

void EngineFuzzSeeds(FuzzSeedSink& sink)
{
    const std::string face = TrueTypeWriter().Write();
    // Files the software device keeps but that hold no face for the OpenGL device.
    sink.AddRefused("codes",
             Input(1, 16, 2, "TESTFONT", "^Rred ^gGreen ^^caret ^x &Bbold&s plain &Iitalic &x {braces} ^"));
    sink.Add("old-format", Input(2, 12, 0, std::string("FNT\x01rest", 8), "plain text"));
    // Three bytes: no font on either device.
    sink.AddRefused("short-file", Input(0, 8, 1, "FNT", "&b"));
    sink.AddRefused("long-run", Input(1, 24, -3, "TESTFONT", std::string(1200, 'w') + "^Y" + std::string(600, 'y')));
    std::string wide;
    for (char c : std::string("^Bwide &Itext^")) {
        wide.push_back(c);
        wide.push_back('\0');
    }
    wide += std::string("\xAC\x20\x00\x00", 4); // a euro sign, then the end
    sink.AddRefused("wide", Input(5, -3, 1, "TESTFONT", wide));
    // TrueType faces the OpenGL device reads with FreeType: its glyphs, kerning and the synthesised
    // weights at a few sizes, and a face named in the old format that fontconfig finds.
    sink.Add("truetype", Input(1, 16, 2, face, "AV av 09 &Bbold&b &Iitalic&i ^Rred"));
    sink.Add("truetype-large", Input(6, 90, 3, face, "Zz 7"));
    sink.Add("truetype-wide", Input(0, 12, 0, face, wide));
    sink.Add("old-format-named", Input(0, 14, 1, std::string("FNT\x01", 4), "Named face"));
}
