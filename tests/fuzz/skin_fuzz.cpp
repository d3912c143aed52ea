// Interface skin files through the engine's file system (a source in memory), with the log
// silenced. An input whose first byte is not 0 is the file's text as it is: loading must end,
// without a crash, whatever the text holds, with no more areas than the text says "Area", none
// without that word, and each area's name written in the text. An input that starts with 0 is a
// list of areas that the target writes out as a skin file (separators, key orders, an unknown key,
// stray tokens between blocks and regions that are not four numbers, as the input says): the skin
// must read back exactly the areas written, the last of each name, with their regions.
//
// Written form: after the 0, records `op name flags x0 x1 y0 y1 w0 w1 h0 h1`. op % 4: 0 an area,
// 1 an area without a name, 2 stray tokens outside any block, 3 an area with an unknown key
// before its own. The name is "Area" + (name % 8) (so names repeat); the region's numbers are
// 16-bit little-endian values over 8, written whole unless flags % 4 makes the region short (1),
// hold a "nan" (2) or a word (3). Bit 2 of flags puts the region first, bit 3
// writes ":" for the separators.
#include "../common/MemoryFiles.h"
#include "common/FuzzSeeds.h"
#include "common/QuietLog.h"

#include "graphics/InterfaceSkin.h"

#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

namespace {

constexpr const char* kSkinName = "ui/fuzz.uis";

struct Expected
{
    float region[4] = {0.0f, 0.0f, 0.0f, 0.0f};
};

// Writes the areas the input lists and what the skin must make of them.
std::string WriteSkin(const uint8_t* data, size_t size, std::map<std::string, Expected>& areas)
{
    std::string text = "// written by the fuzz target\n";
    for (size_t at = 0; at + 11 <= size; at += 11) {
        const uint8_t* r = data + at;
        const int op = r[0] % 4;
        if (op == 2) {
            text += "loose tokens } = { ( 1, 2, 3, 4 ) \"name\" region\n";
            continue;
        }
        const std::string name = "Area" + std::to_string(r[1] % 8);
        const std::string separator = (r[2] & 8) ? " : " : " = ";
        Expected expected;
        char numbers[4][16];
        for (int i = 0; i < 4; ++i) {
            const auto value = static_cast<int16_t>(r[3 + 2 * i] | r[4 + 2 * i] << 8);
            expected.region[i] = static_cast<float>(value) / 8.0f; // exact in a float, and in print
            std::snprintf(numbers[i], sizeof(numbers[i]), "%.9g", static_cast<double>(expected.region[i]));
        }
        std::string region;
        switch (r[2] % 4) {
        case 0:
            region = std::string("( ") + numbers[0] + ", " + numbers[1] + " ," + numbers[2] + " , " + numbers[3] + " )";
            break;
        case 1:
            region = std::string("( ") + numbers[0] + ", " + numbers[1] + ", " + numbers[2] + " )";
            break;
        case 2:
            region = std::string("( ") + numbers[0] + ", nan, " + numbers[2] + ", " + numbers[3] + " )";
            break;
        default:
            region = "none";
            break;
        }
        if (r[2] % 4 != 0)
            expected = Expected(); // not four numbers: the region is zero
        const std::string regionEntry = "    region" + separator + region + "\n";
        text += "Area {\n";
        if (op == 3)
            text += "    flags" + separator + "bitmap" + separator + "\"ui/unknown.tex\"\n";
        if (r[2] & 4)
            text += regionEntry;
        if (op != 1)
            text += "    name" + separator + "\"" + name + "\"\n";
        text += "    bitmap" + separator + "\"ui/buttons.tex\"\n";
        if (!(r[2] & 4))
            text += regionEntry;
        text += "}\n";
        if (op != 1)
            areas[name] = expected; // a later area of a name replaces the earlier one
    }
    return text;
}

size_t Count(const std::string& text, const std::string& word)
{
    size_t count = 0;
    for (size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1))
        ++count;
    return count;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzLog::Silence();
    // The skin file in memory, replaced by each input; the services live for the process.
    static auto* services = new GAME::Test::MemoryDataServices;
    const bool written = size > 0 && data[0] == 0;
    std::map<std::string, Expected> expected;
    const std::string text =
        written ? WriteSkin(data + 1, size - 1, expected) : std::string(reinterpret_cast<const char*>(data), size);
    services->source->Put(kSkinName, text);
    // Without a graphics engine no textures are loaded: the text alone is under test.
    const GAME::InterfaceSkin skin(kSkinName, nullptr);

    if (written) {
        if (!skin.IsLoaded() || skin.GetNumAreas() != expected.size())
            std::abort();
        for (const auto& [name, area] : expected) {
            const GAME::InterfaceSkin::Area* read = skin.GetArea(name.c_str());
            if (!read || read->texture || std::memcmp(read->region, area.region, sizeof(area.region)) != 0)
                std::abort();
        }
        if (!expected.empty())
            FuzzAccepted();
        return 0;
    }
    // Every area began with the word, and is named by a word of the text.
    if (skin.GetNumAreas() > Count(text, "Area"))
        std::abort();
    for (const char* name : {"Ok", "Frame", "Area0"})
        if (skin.GetArea(name) && text.find(name) == std::string::npos)
            std::abort();
    if (skin.GetNumAreas() > 0)
        FuzzAccepted();
    return 0;
}

void EngineFuzzSeeds(FuzzSeedSink& sink)
{
    sink.Add("skin", std::string("// menu skin\n"
                                 "Area {\n    name = \"Ok\"\n    bitmap = \"ui/buttons.tex\"\n"
                                 "    region = ( 0, 16.5, 64, 32 )\n}\n"
                                 "Area { flags = name = \"Frame\" region = (1,2,3,4) }\n"));
    // Dropped for want of a name: nothing is taken.
    sink.AddRefused("nameless", std::string("Area { bitmap = \"a.tex\" region = (1, 2, 3, 4) } loose tokens { }"));
    sink.Add("no_brace", std::string("Area { name = \"Ok\" }\nArea name = \"Frame\" }"));
    sink.AddRefused("unterminated", std::string("Area { name = \"Ok\" region = ( 1, 2"));
    sink.Add("directives", std::string("#ifdef X\nArea {\n#else\nArea { name = \"Ok\" }\n#endif\n/* Area {"));
    // Written: every kind of record, a name twice and an area without one.
    sink.Add("written", std::vector<uint8_t>{0,
                                             0, 1, 0, 16, 0, 32, 0, 0, 2, 0, 1,    // Area1, whole
                                             3, 2, 12, 8, 0, 16, 0, 24, 0, 32, 0,  // Area2, an unknown key
                                             2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,      // stray tokens
                                             1, 3, 0, 1, 0, 1, 0, 1, 0, 1, 0,      // no name
                                             0, 1, 1, 5, 0, 5, 0, 5, 0, 5, 0,      // Area1 again, short
                                             0, 4, 2, 255, 255, 0, 128, 0, 0, 0, 0, // Area4, not a number
                                             0, 5, 3, 9, 0, 9, 0, 9, 0, 9, 0});    // Area5, a word
}
