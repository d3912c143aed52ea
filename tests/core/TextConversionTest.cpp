#include "core/TextConversion.h"

#include <gtest/gtest.h>

namespace GAME {
namespace {

TEST(TextConversion, Windows1252RoundTripsEveryByte)
{
    std::string all;
    for (int b = 0; b < 256; ++b)
        all.push_back(static_cast<char>(b));
    std::u16string wide;
    ASSERT_TRUE(CodePageToUtf16(all, wide, CODE_PAGE_WINDOWS_1252));
    ASSERT_EQ(wide.size(), 256u);
    EXPECT_EQ(wide[0x80], u'\x20AC');
    EXPECT_EQ(wide[0x9F], u'\x0178');
    EXPECT_EQ(wide[0x81], u'\x0081');
    EXPECT_EQ(wide[0xE9], u'\xE9');
    std::string back;
    ASSERT_TRUE(Utf16ToCodePage(wide, back, CODE_PAGE_WINDOWS_1252));
    EXPECT_EQ(back, all);
    // Unmappable characters and lone surrogates become '?'.
    ASSERT_TRUE(Utf16ToCodePage(u"\x0416\xD800x\xD83D\xDE00", back, CODE_PAGE_WINDOWS_1252));
    EXPECT_EQ(back, "??x?");
    EXPECT_FALSE(CodePageToUtf16("x", wide, 437));
    EXPECT_TRUE(wide.empty());
}

TEST(TextConversion, SystemCodePageCanBeUtf8)
{
    EXPECT_EQ(GetSystemCodePage(), static_cast<unsigned int>(CODE_PAGE_WINDOWS_1252));
    EXPECT_FALSE(SetSystemCodePage(1251));
    ASSERT_TRUE(SetSystemCodePage(CODE_PAGE_UTF8));
    EXPECT_EQ(ToUtf16("caf\xC3\xA9 \xF0\x9F\x98\x80"), u"caf\xE9 \xD83D\xDE00");
    EXPECT_EQ(FromUtf16(u"caf\xE9 \xD83D\xDE00"), "caf\xC3\xA9 \xF0\x9F\x98\x80");
    // Truncated, overlong and surrogate encodings each give U+FFFD.
    EXPECT_EQ(ToUtf16("a\xC3"), u"a\xFFFD");
    EXPECT_EQ(ToUtf16("\xC0\xAF"), u"\xFFFD\xFFFD");
    EXPECT_EQ(ToUtf16("\xED\xA0\x80"), u"\xFFFD\xFFFD\xFFFD");
    ASSERT_TRUE(SetSystemCodePage(CODE_PAGE_WINDOWS_1252));
    EXPECT_EQ(ToUtf16("caf\xE9"), u"caf\xE9");
}

} // namespace
} // namespace GAME
