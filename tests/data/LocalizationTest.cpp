#include "ResourceFixtures.h"
#include "common/LogCapture.h"
#include "data/InternalParam.h"
#include "data/LocalizationManager.h"

#include <gtest/gtest.h>

namespace GAME {
namespace {

// FF FE and the text as UTF-16 little-endian.
std::string Utf16File(const std::u16string& text)
{
    std::string bytes = "\xFF\xFE";
    for (char16_t c : text) {
        bytes.push_back(static_cast<char>(c & 0xFF));
        bytes.push_back(static_cast<char>(c >> 8));
    }
    return bytes;
}

std::u16string ToWChar(int value)
{
    return LocalizationManager::ToWChar(std::to_string(value));
}

class LocalizationTest : public ::testing::Test
{
protected:
    void Put(const std::string& name, const std::string& bytes) { services.source->Put(name, bytes); }

    GAME::Test::LogCapture log;
    GAME::Test::TestServices services;
    LocalizationManager texts;
};

TEST_F(LocalizationTest, ReadsUtf16AndCodePageFiles)
{
    const std::u16string longText(5000, u'\x0416');
    Put("Text_EN/Dialog.txt", Utf16File(u"tagA=Hello = World\r\n// a comment\n  tagB =x\ntagDup=first\n"
                                        u"no sign here\ntagLong=" +
                                        longText + u"\n"));
    Put("Text_EN/UI.txt", "tagEuro=\x80 caf\xE9\r\ntagDup=second\n/* gone */\ntagSlash=a/b");
    Put("Text_EN/Help.txt", "\xFF\xFE");
    texts.Load("English");

    EXPECT_EQ(texts.GetText("tagA"), u"Hello = World") << "split at the first '='";
    EXPECT_EQ(texts.GetText("tagB "), u"x") << "a blank before '=' belongs to the tag";
    EXPECT_EQ(texts.GetText("tagEuro"), u"\x20AC caf\xE9");
    EXPECT_EQ(texts.GetText("tagSlash"), u"a/b");
    EXPECT_EQ(texts.GetText("tagLong"), longText) << "long lines are read whole";
    EXPECT_EQ(texts.GetText("tagDup"), u"first");
    EXPECT_TRUE(log.Contains(
        "LocalizationManager::Load encountered a duplicate tag: (tagDup) in file Text_EN/UI.txt.", 2));
    EXPECT_TRUE(log.Contains(
        "LocalizationManager::Load encountered a line (no sign here) without an '=' sign in file "
        "Text_EN/Dialog.txt.",
        1));
    EXPECT_TRUE(log.Contains("LocalizationManager::Load failed to read file - Text_EN/Help.txt.", 1));
    EXPECT_TRUE(log.Contains("LocalizationManager::Load could not open file - Text_EN/Tutorial.txt.", 1));

    EXPECT_EQ(texts.GetText("tagNope"), u"Tag not found: tagNope");
    texts.ShowTagErrors(false);
    EXPECT_EQ(texts.GetText("tagNope"), u"tagNope");
    EXPECT_EQ(texts.GetText(nullptr), u"");

    // The same tag in a 16-bit file is reported at priority 1.
    log.Clear();
    texts.AddTagToMap(std::u16string(u"tagA=again"), "extra.txt", false);
    EXPECT_TRUE(log.Contains("duplicate tag: (tagA) in file extra.txt.", 1));
    EXPECT_EQ(texts.GetText("tagA"), u"Hello = World");
}

TEST_F(LocalizationTest, LanguagesFallBackAndModTextsOverride)
{
    Put("Text_FR/Dialog.txt", "tagHello=Bonjour\nSimpleStringFormat=%s0\ntagLanguage02=Fran\xE7"
                              "ais\n");
    texts.Load("English");
    EXPECT_EQ(texts.GetCurrentLanguage(), 1) << "English has no files: the first language that has";
    EXPECT_EQ(texts.GetLanguageName(), "French");
    EXPECT_FALSE(texts.IsEnglish());
    EXPECT_TRUE(texts.HasDialogForLanguage());
    EXPECT_EQ(texts.GetNumLanguages(), 11);
    EXPECT_STREQ(texts.GetLanguageString(u"Fran\xE7"
                                         "ais"),
                 "French");
    EXPECT_STREQ(texts.GetLanguageString(u"Deutsch"), "English");

    Put("Text_EN/Dialog.txt", "tagHello=Hello\n");
    Put("Text_RU/Dialog.txt", "tagHello=Privet\n");
    texts.Load("Klingon");
    EXPECT_EQ(texts.GetCurrentLanguage(), 0);
    EXPECT_EQ(texts.GetText("tagHello"), u"Hello");
    texts.Load("Russian");
    EXPECT_STREQ(texts.GetSpecialFont(), "Fonts/Arial_Russian.fnt");
    EXPECT_EQ(texts.GetText("SimpleStringFormat"), u"Tag not found: SimpleStringFormat")
        << "Load replaces all texts";

    Put("Text/modStrings.txt", Utf16File(u"tagHello=Modded\ntagNew=New\n"));
    texts.LoadModStrings();
    EXPECT_EQ(texts.GetText("tagHello"), u"Modded");
    EXPECT_EQ(texts.GetText("tagNew"), u"New");
    Put("Text/modStrings.txt", "tagNew=Newer\n");
    texts.LoadModStrings();
    EXPECT_EQ(texts.GetText("tagHello"), u"Privet") << "the mod texts are replaced as a whole";
    EXPECT_EQ(texts.GetText("tagNew"), u"Newer");

    EXPECT_STREQ(LocalizationManager::GetLanguageTag(18), "tagLanguage19");
    EXPECT_EQ(LocalizationManager::GetLanguageTag(19), nullptr);
}

class LocalizeTest : public LocalizationTest
{
protected:
    void SetUp() override
    {
        const char16_t* lines[] = {
            u"tagNumbers=%d0|%+d1|%+d2|%+d3|%f4|%.2f5|%+.1f6|%+f7",
            u"tagOrder=%s1 before %s0, %d0 %d2",
            u"tagArticle=[ms]le [fs]la  [mp]les [fp]les",
            u"tagHouse=[fs]  maison",
            u"tagBook=livre",
            u"tagPlural=[fp]choses",
            u"tagOnlyMale=[ms]un",
            u"tagAgree=%0a1 %s0 / %0A2",
            u"tagPlain=100% sure, %x0, %",
            u"tagParens=Item (%s0) and %t1 end",
            u"tagShort=%d0 %d1 %s2 %t3 %2a4.",
            u"tagHuge=[%d4000000000][%s99]",
            u"tagBad=%d0 then %+s1 and %d2",
            u"tagLiteral=%t0",
        };
        for (const char16_t* line : lines)
            texts.AddTagToMap(std::u16string(line), "test", false);
    }
};

TEST_F(LocalizeTest, FormatsEveryKindOfParameter)
{
    EXPECT_EQ(texts.Localize("tagNumbers", 5, 5, -5, 0, 1.5, 2.0f, 2.7, -0.25),
              u"5|+5|-5|0|1.500|2.00|+2.7|-0.250");
    EXPECT_EQ(texts.Localize("tagOrder", "tagBook", "tagHouse", 9), u"maison before livre, %d2")
        << "arguments go by index to the first marker of each; only the first maxIndex + 1 markers are "
           "filled";
    EXPECT_EQ(texts.Localize("tagAgree", "tagHouse", "tagArticle", "tagArticle"), u"la maison / La");
    EXPECT_EQ(texts.Localize("tagAgree", "tagBook", "tagArticle", "tagArticle"), u"le livre / Le")
        << "no gender: masculine singular";
    EXPECT_EQ(texts.Localize("tagAgree", "tagPlural", "tagOnlyMale", "tagBook"),
              u"[ms]un - Gender not found. choses / Livre")
        << "a text without variants stands as it is, 'A' still capitalises it";
    EXPECT_EQ(texts.Localize("tagPlain", 1), u"100% sure, %x0, %");
    EXPECT_EQ(texts.Localize("tagParens", "", u"lit"), u"Item and lit end");
    EXPECT_EQ(texts.Localize("tagLiteral", std::u16string(u"a  b")), u"a b");
    EXPECT_EQ(texts.Localize("tagMissing", 1), u"Tag not found: tagMissing");

    // The agreeing word follows the valued marker of its dependency index.
    texts.Localize("tagAgree", "tagHouse", "tagArticle", "tagArticle");
    ASSERT_NE(texts.GetInternalParam(0), nullptr);
    EXPECT_EQ(texts.GetInternalParam(0)->GetGender(), InternalParam::GENDER_FEMININE_SINGULAR);
    EXPECT_EQ(texts.GetInternalParam(1), nullptr);
    EXPECT_EQ(texts.GetInternalParam(32), nullptr);
}

TEST_F(LocalizeTest, ReadsOnlyTheArgumentsPassed)
{
    // Markers beyond the arguments stay empty; an agreeing word without its dependency says so.
    EXPECT_EQ(texts.Localize("tagShort", 7), u"7 .");
    EXPECT_EQ(texts.Localize("tagShort", 7, 8, "tagBook", u"t", "tagArticle"), u"7 8 livre t le.");
    EXPECT_EQ(texts.Localize("tagShort", 7, 8, 9, 10, "tagArticle"),
              u"7 8 Invalid Dependency..[ms]le [fs]la [mp]les [fp]les.")
        << "numbers where texts belong give nothing";
    EXPECT_TRUE(
        log.Contains("LocalizationManager::Localize argument 2 of tag tagShort does not suit its marker", 1));
    EXPECT_EQ(texts.Localize("tagHuge", 1, 2), u"[][]") << "indices far out of range take no argument";
    EXPECT_EQ(texts.Localize("tagShort"), u" .");

    log.Clear();
    EXPECT_EQ(texts.Localize("tagBad", 1, "x", 3), u"1 then %+s1 and %d2");
    EXPECT_TRUE(log.Contains("LocalizationManager::FindParamTypes encountered a bad token.", 1));

    // 32 markers are filled; the rest stay as written.
    std::string many = "tagMany=";
    std::vector<LocalizeArgument> arguments;
    std::u16string expected;
    for (int i = 0; i < 34; ++i) {
        many += "%d" + std::to_string(i) + " ";
        arguments.emplace_back(i);
        expected +=
            i < 32 ? LocalizationManager::ToWChar(std::to_string(i) + " ") : u"%d" + ToWChar(i) + u" ";
    }
    texts.AddTagToMap(many.c_str(), "test", false);
    EXPECT_EQ(texts.LocalizeList("tagMany", arguments.data(), arguments.size()), expected);
}

TEST(LocalizationConversions, BuffersAreBoundedAndTerminated)
{
    char narrow[4];
    EXPECT_FALSE(LocalizationManager::ToChar(u"caf\xE9s", narrow, sizeof(narrow)));
    EXPECT_STREQ(narrow, "caf");
    EXPECT_TRUE(LocalizationManager::ToChar(u"\x20AC", narrow, sizeof(narrow)));
    EXPECT_STREQ(narrow, "\x80");
    char16_t wide[3];
    EXPECT_TRUE(LocalizationManager::ToWChar("\xE9\x80", wide, 3));
    EXPECT_EQ(std::u16string(wide), u"\xE9\x20AC");
    EXPECT_FALSE(LocalizationManager::ToWChar("abc", wide, 3));
    EXPECT_EQ(std::u16string(wide), u"ab");
    EXPECT_EQ(LocalizationManager::ToChar(std::u16string(u"\x0416")), "?");
}

} // namespace
} // namespace GAME
