#include "data/BasicTextParser.h"

#include <gtest/gtest.h>

namespace GAME {
namespace {

std::vector<std::string> Tokens(const std::string& text, bool stripQuotes = false)
{
    TextParser parser(text.data(), text.size());
    parser.SetStripQuotes(stripQuotes);
    std::vector<std::string> tokens;
    for (int guard = 0; guard < 1000; ++guard) {
        std::string token = parser.ReadToken();
        if (token.empty() && parser.AtEnd())
            break;
        tokens.push_back(token);
    }
    return tokens;
}

std::vector<std::string> Lines(const std::string& text)
{
    TextParser parser(text.data(), text.size());
    std::vector<std::string> lines;
    for (int guard = 0; guard < 1000 && !parser.AtEnd(); ++guard) {
        std::string line = parser.ReadLine();
        if (line.empty() && parser.AtEnd())
            break;
        lines.push_back(line);
    }
    return lines;
}

using V = std::vector<std::string>;

TEST(TextParser, PunctuationIsATokenAndWordsKeepDashPointAndUnderscore)
{
    EXPECT_EQ(Tokens("a=b"), (V{"a", "=", "b"}));
    EXPECT_EQ(Tokens("x-1.5_y"), (V{"x-1.5_y"}));
    EXPECT_EQ(Tokens("  key = value ; "), (V{"key", "=", "value", ";"}));
}

TEST(TextParser, QuotedTokensKeepBlanksAndOptionallyTheirQuotes)
{
    EXPECT_EQ(Tokens("k = \"two words\""), (V{"k", "=", "\"two words\""}));
    EXPECT_EQ(Tokens("k = \"two words\"", true), (V{"k", "=", "two words"}));
    // Without a closing quote the token runs to the end of the text.
    EXPECT_EQ(Tokens("k \"open to the end", true), (V{"k", "open to the end"}));
}

TEST(TextParser, CommentsMidLineMultiLineAndUnterminated)
{
    EXPECT_EQ(Tokens("a // rest of line\nb"), (V{"a", "b"}));
    EXPECT_EQ(Tokens("a /* one\ntwo */ b"), (V{"a", "b"}));
    EXPECT_EQ(Tokens("a /**/ b"), (V{"a", "b"}));
    // An unterminated block comment ends at the end of the text.
    EXPECT_EQ(Tokens("a /* never closed"), (V{"a"}));
    EXPECT_EQ(Tokens("a /*"), (V{"a"}));

    std::string text = "a\n/* x\ny */\nb";
    TextParser parser(text.data(), text.size());
    parser.ReadToken();
    EXPECT_EQ(parser.ReadToken(), "b");
    EXPECT_EQ(parser.GetTokenLine(), 4u);
}

TEST(TextParser, LinesDropCommentsAndCarriageReturns)
{
    EXPECT_EQ(Lines("one\r\ntwo // cut\n\n  three /* inline */ end\nlast"),
              (V{"one", "two ", "three  end", "last"}));
    // A block comment that spans a line feed ends the line; the next line starts at its first
    // non-blank character.
    EXPECT_EQ(Lines("a /* x\n y */ b\nc"), (V{"a ", "b", "c"}));
    // Trailing blanks stay in the line.
    EXPECT_EQ(Lines("x = 1   \n"), (V{"x = 1   "}));
}

TEST(TextParser, ConditionalDirectives)
{
    // No symbols are defined: #ifdef blocks are inactive, #ifndef blocks active.
    EXPECT_EQ(Lines("a\n#ifdef SYM\nb\n#endif\nc"), (V{"a", "c"}));
    EXPECT_EQ(Lines("a\n#ifndef SYM\nb\n#endif\nc"), (V{"a", "b", "c"}));
    EXPECT_EQ(Lines("#ifdef SYM\nb\n#else\nc\n#endif\nd"), (V{"c", "d"}));
    EXPECT_EQ(Lines("#ifndef SYM\nb\n#else\nc\n#endif\nd"), (V{"b", "d"}));
    // Nested blocks inside an inactive block are skipped whole, their #else parts too.
    EXPECT_EQ(Lines("#ifdef A\n#ifdef B\nx\n#else\ny\n#endif\nz\n#else\nw\n#endif\nv"), (V{"w", "v"}));
    // A '#' that starts no directive does not stop the skipping.
    EXPECT_EQ(Lines("#ifdef A\n# not a directive\n#endif\nok"), (V{"ok"}));

    std::string text = "#ifdef DEF\nyes\n#endif\n";
    TextParser parser(text.data(), text.size());
    parser.DefineSymbol("DEF");
    EXPECT_EQ(parser.ReadLine(), "yes");
}

TEST(TextParser, DirectiveQuirks)
{
    // An #endif in active text without an open conditional ends the text.
    EXPECT_EQ(Lines("a\n#endif\nb\nc"), (V{"a"}));
    // A second #else on the same level, met while skipping after the active part, ignores the
    // rest of the text.
    EXPECT_EQ(Lines("#ifndef A\nx\n#else\ny\n#else\nz\n#endif\nw"), (V{"x"}));
    // After an inactive part, the #else part is active up to its #endif.
    EXPECT_EQ(Lines("#ifdef A\nx\n#else\ny\n#endif\nw"), (V{"y", "w"}));
    // Unterminated conditionals end at the end of the text.
    EXPECT_EQ(Lines("a\n#ifdef A\nb"), (V{"a"}));
}

TEST(TextParser, HostileDirectiveRunsNeitherRecurseNorHang)
{
    std::string text;
    for (int i = 0; i < 200000; ++i)
        text += "#ifndef #ifndef ";
    text += "end";
    TextParser parser(text.data(), text.size());
    for (int guard = 0; guard < 10000000 && !parser.AtEnd(); ++guard)
        parser.ReadToken();
    EXPECT_TRUE(parser.AtEnd());
}

TEST(TextParser, SixteenBitTextBehavesAlike)
{
    std::u16string text = u"tag=Привет мир // comment\n#ifdef X\nno\n#endif\nnext=1";
    WideTextParser parser(text.data(), text.size());
    EXPECT_EQ(parser.ReadLine(), u"tag=Привет мир ");
    EXPECT_EQ(parser.ReadLine(), u"next=1");
    EXPECT_TRUE(parser.AtEnd());

    WideTextParser tokens(text.data(), text.size());
    EXPECT_EQ(tokens.ReadToken(), u"tag");
    EXPECT_EQ(tokens.ReadToken(), u"=");
    EXPECT_EQ(tokens.ReadToken(), u"Привет");
}

TEST(TextParser, DelimitedTokens)
{
    std::string text = "speed,1.5,\nname, two words ;x,\nlast,";
    TextParser parser(text.data(), text.size());
    std::string value;
    EXPECT_EQ(parser.ReadToken(), "speed");
    parser.ReadDelimitedToken(value, ',', ',', true);
    EXPECT_EQ(value, "1.5");
    EXPECT_EQ(parser.ReadToken(), "name");
    parser.ReadDelimitedToken(value, ',', ',', true);
    EXPECT_EQ(value, " two words ;x");
    EXPECT_EQ(parser.ReadToken(), "last");
    parser.ReadDelimitedToken(value, ',', ',', true);
    EXPECT_EQ(value, "");
    EXPECT_TRUE(parser.AtEnd());
}

} // namespace
} // namespace GAME
