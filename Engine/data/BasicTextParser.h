// Cursor-based scanner over a text held in memory (8-bit or 16-bit characters): tokens, lines,
// line and block comments, and the conditional directives #ifdef, #ifndef, #else and #endif
// tested against a list of defined symbols. Does not own the text; one parser belongs to one
// thread. Every scan stops at the end of the text, and no directive nests a call: hostile text
// cannot hang the parser or grow its stack.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace GAME {

template <typename Ch>
class BasicTextParser
{
public:
    using String = std::basic_string<Ch>;

    BasicTextParser(const Ch* text, size_t length);

    void SkipWhitespace();
    String ReadToken();
    String ReadLine();
    // Reads a token delimited by the opening and closing characters (opening 0: from the cursor
    // through the next closing character); see the source for the exact rules.
    void ReadDelimitedToken(String& result, Ch opening, Ch closing, bool strip);
    bool HandleDirective();

    Ch PeekChar(size_t index) const { return index < m_length ? m_text[index] : Ch(0); }
    void NextChar();
    static bool IsWhitespace(Ch c);
    static bool IsPunctuation(Ch c);
    static bool IsDelimiter(Ch c) { return IsWhitespace(c) || IsPunctuation(c); }

    bool AtEnd() const { return m_cursor >= m_length; }
    size_t GetCursor() const { return m_cursor; }
    unsigned int GetLine() const { return m_line; }
    unsigned int GetTokenLine() const { return m_tokenLine; }
    unsigned int GetTokenCount() const { return m_tokenCount; }
    int GetOpenConditionals() const { return m_openConditionals; }
    void SetStripQuotes(bool strip) { m_stripQuotes = strip; }
    bool GetStripQuotes() const { return m_stripQuotes; }
    void DefineSymbol(const String& symbol) { m_definedSymbols.push_back(symbol); }

private:
    enum class Directive
    {
        None = -1,
        IfDef = 0,
        IfNDef = 1,
        EndIf = 2,
        Else = 3,
    };
    enum class SkipStop
    {
        End,
        EndIf,
        Else,
    };

    Directive MatchDirective(); // moves past a matched directive
    SkipStop SkipInactiveText();
    bool IsDefined(const String& symbol) const;
    bool StartsWith(size_t at, const char* ascii) const;
    void Advance(size_t count);
    // A token without directive handling: the symbol after #ifdef / #ifndef.
    String ReadRawToken();
    String ScanToken();

    std::vector<String> m_definedSymbols;
    unsigned int m_tokenCount = 0;
    bool m_stripQuotes = false;
    const Ch* m_text;
    size_t m_length;
    size_t m_cursor = 0;
    unsigned int m_line = 1;
    unsigned int m_tokenLine = 1;
    int m_openConditionals = 0;
};

using TextParser = BasicTextParser<char>;
using WideTextParser = BasicTextParser<char16_t>;

extern template class BasicTextParser<char>;
extern template class BasicTextParser<char16_t>;

} // namespace GAME
