// Tokenizer, line reader and record-table reader over hostile text, 8-bit and 16-bit.
#include "common/FuzzSeeds.h"

#include "data/BasicTextParser.h"
#include "data/ConfigFile.h"
#include "data/LoadTable.h"

#include <string>

namespace {

template <typename Ch> void Drain(const Ch* text, size_t length)
{
    GAME::BasicTextParser<Ch> tokens(text, length);
    tokens.SetStripQuotes(true);
    // Every token consumes at least one character, so the text bounds the loop.
    for (size_t i = 0; i <= length && !tokens.AtEnd(); ++i)
        tokens.ReadToken();

    GAME::BasicTextParser<Ch> lines(text, length);
    for (size_t i = 0; i <= length && !lines.AtEnd(); ++i)
        lines.ReadLine();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const char* text = reinterpret_cast<const char*>(data);
    Drain(text, size);
    std::u16string wide(size / 2, u'\0');
    for (size_t i = 0; i < wide.size(); ++i)
        wide[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
    Drain(wide.data(), wide.size());

    GAME::TextParser parser(text, size);
    GAME::LoadTable table;
    table.Deserialize(parser);
    GAME::ConfigFile config;
    config.ParseText(text, size);
    int a = 0, b = 0;
    config.GetValueAsInt2("resolution", a, b);

    std::vector<int> ints;
    table.GetArrayInt("a", ints);
    table.GetFloat("a", 0.0f);
    // Taken: the record table or the configuration found an entry in the text.
    if (table.GetNumFields() > 0 || config.Begin() != config.End())
        FuzzAccepted();
    return 0;
}

void EngineFuzzSeeds(FuzzSeedSink& sink)
{
    sink.Add("config",
             std::string(
                 "// settings\nmasterVolume = 0.5\nresolution = 1024 768\n"
                 "/* block\n comment */\n#ifdef SYMBOL\nfullscreen = false\n#else\nx = \"a b\"\n#endif\n"));
    sink.Add("table", std::string("speed,1.5,\nlist,3;4;5,\nname,two words,\nempty,,\n"));
    sink.Add("directives", std::string("#ifndef A\nx\n#else\ny\n#else\nz\n#endif\n#endif\nw #"));
    sink.Add("comments", std::string("a /* x\n y */ b // c\n/**/ /*/ /* unterminated"));
}
