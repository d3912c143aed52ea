// Localized text files from hostile bytes (UTF-16 with FF FE, or 8-bit text), then their texts
// and the input itself run through Localize with every kind of argument, too few of them, and
// more than the markers can take.
#include "common/FuzzSeeds.h"
#include "common/QuietLog.h"

#include "core/Log.h"
#include "data/LocalizationManager.h"

#include <string>
#include <vector>

namespace {

std::string Utf16File(const std::u16string& text)
{
    std::string bytes = "\xFF\xFE";
    for (char16_t c : text) {
        bytes.push_back(static_cast<char>(c & 0xFF));
        bytes.push_back(static_cast<char>(c >> 8));
    }
    return bytes;
}

void LocalizeEveryWay(GAME::LocalizationManager& texts, const char* tag)
{
    texts.Localize(tag);
    texts.Localize(tag, 3);
    texts.Localize(tag, 3, -2.5, "tag1", u"literal", "tag2", 7, "tag0", 0.125, "", u"");
    std::vector<GAME::LocalizeArgument> many;
    for (int i = 0; i < 40; ++i) {
        if (i % 4 == 0)
            many.emplace_back(i);
        else if (i % 4 == 1)
            many.emplace_back(i * 0.5);
        else if (i % 4 == 2)
            many.emplace_back(i % 8 == 2 ? "tag3" : "tag2");
        else
            many.emplace_back(u"text");
    }
    texts.LocalizeList(tag, many.data(), many.size());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzLog::Silence();

    GAME::LocalizationManager texts;
    texts.LoadTextBuffer(data, size, "fuzz.txt", false);
    texts.LoadTextBuffer(data, size, "fuzz.txt", true);
    // A file that names one of the tags gives it a text of its own.
    texts.ShowTagErrors(false);
    for (const char* tag : {"tag0", "tag1", "tag2", "tag3"})
        if (texts.GetText(tag) != GAME::LocalizationManager::ToWChar(tag)) {
            FuzzAccepted();
            break;
        }

    // The input itself as one text, read as UTF-16.
    std::u16string line = u"fuzzText=";
    for (size_t i = 0; i + 1 < size; i += 2)
        line.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
    texts.AddTagToMap(line, "fuzz", false);

    for (const char* tag : {"fuzzText", "tag0", "tag1", "tag2", "tag3"})
        LocalizeEveryWay(texts, tag);
    return 0;
}

void EngineFuzzSeeds(FuzzSeedSink& sink)
{
    sink.Add("utf16", Utf16File(u"tag0=%d0 %+d1 (%s2) %t3 %0a4 %2A5 %.2f6 %+f7\r\n"
                                u"tag1=[fs]maison\n// comment\ntag2=[ms]le [fs]la [mp]les [fp]les\n"
                                u"tag3=%99s0 %d4000000000 %+.99f1 %s\n/* block */ no sign\n"));
    sink.Add("cp1252", std::string("tag0=Caf\xE9 \x80%d0 %s1\ntag1=[mp] amis\ntag2=%1a0 %s1 %+s2 %5d3\n"
                                   "#ifdef X\ntag3=hidden\n#else\ntag3=%t0()%t1 \n#endif\n"));
    std::u16string many = u"tag0=";
    for (int i = 0; i < 40; ++i)
        many += u"%d" + std::u16string(1, static_cast<char16_t>(u'0' + i % 10)) + u" %s1 %a2 ";
    sink.Add("many", Utf16File(many));
    sink.AddRefused("short", std::string("\xFF\xFE", 2));
}
