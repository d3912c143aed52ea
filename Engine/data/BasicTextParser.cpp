#include "data/BasicTextParser.h"

namespace GAME {

namespace {
constexpr const char* kDirectives[4] = {"#ifdef", "#ifndef", "#endif", "#else"};
} // namespace

template <typename Ch>
BasicTextParser<Ch>::BasicTextParser(const Ch* text, size_t length) : m_text(text), m_length(text ? length : 0)
{
}

// Character classes of the C locale, whatever the process locale is; 16-bit characters above
// 255 are word characters.
template <typename Ch>
bool BasicTextParser<Ch>::IsWhitespace(Ch c)
{
    auto u = static_cast<unsigned int>(c);
    return u == ' ' || u == '\t' || u == '\n' || u == '\v' || u == '\f' || u == '\r';
}

template <typename Ch>
bool BasicTextParser<Ch>::IsPunctuation(Ch c)
{
    auto u = static_cast<unsigned int>(static_cast<std::make_unsigned_t<Ch>>(c));
    if (u == '-' || u == '.' || u == '_')
        return false;
    return (u >= 33 && u <= 47) || (u >= 58 && u <= 64) || (u >= 91 && u <= 96) || (u >= 123 && u <= 126);
}

template <typename Ch>
void BasicTextParser<Ch>::NextChar()
{
    if (m_cursor >= m_length)
        return;
    if (m_text[m_cursor] == Ch('\n'))
        ++m_line;
    ++m_cursor;
}

template <typename Ch>
void BasicTextParser<Ch>::Advance(size_t count)
{
    for (size_t i = 0; i < count && m_cursor < m_length; ++i)
        NextChar();
}

template <typename Ch>
bool BasicTextParser<Ch>::StartsWith(size_t at, const char* ascii) const
{
    for (size_t i = 0; ascii[i]; ++i)
        if (PeekChar(at + i) != Ch(static_cast<unsigned char>(ascii[i])))
            return false;
    return true;
}

template <typename Ch>
void BasicTextParser<Ch>::SkipWhitespace()
{
    for (;;) {
        while (m_cursor < m_length && IsWhitespace(m_text[m_cursor]))
            NextChar();
        if (m_length - m_cursor < 2)
            return;
        if (m_text[m_cursor] == Ch('/') && m_text[m_cursor + 1] == Ch('/')) {
            while (m_cursor < m_length && m_text[m_cursor] != Ch('\n'))
                NextChar();
        } else if (m_text[m_cursor] == Ch('/') && m_text[m_cursor + 1] == Ch('*')) {
            // A block comment is at least four characters long ("/**/").
            Advance(4);
            while (m_cursor < m_length && !(m_text[m_cursor - 2] == Ch('*') && m_text[m_cursor - 1] == Ch('/')))
                NextChar();
        } else {
            return;
        }
    }
}

template <typename Ch>
typename BasicTextParser<Ch>::Directive BasicTextParser<Ch>::MatchDirective()
{
    for (int i = 0; i < 4; ++i) {
        if (StartsWith(m_cursor, kDirectives[i])) {
            Advance(std::char_traits<char>::length(kDirectives[i]));
            return static_cast<Directive>(i);
        }
    }
    return Directive::None;
}

template <typename Ch>
bool BasicTextParser<Ch>::IsDefined(const String& symbol) const
{
    for (const auto& defined : m_definedSymbols)
        if (defined == symbol)
            return true;
    return false;
}

template <typename Ch>
typename BasicTextParser<Ch>::SkipStop BasicTextParser<Ch>::SkipInactiveText()
{
    int nesting = 0;
    for (;;) {
        while (m_cursor < m_length && m_text[m_cursor] != Ch('#'))
            NextChar();
        if (m_cursor >= m_length)
            return SkipStop::End;
        switch (MatchDirective()) {
        case Directive::IfDef:
        case Directive::IfNDef:
            ++nesting;
            break;
        case Directive::EndIf:
            if (nesting == 0)
                return SkipStop::EndIf;
            --nesting;
            break;
        case Directive::Else:
            if (nesting == 0)
                return SkipStop::Else;
            break;
        case Directive::None:
            NextChar(); // a '#' that starts no directive is ordinary inactive text
            break;
        }
    }
}

template <typename Ch>
typename BasicTextParser<Ch>::String BasicTextParser<Ch>::ScanToken()
{
    size_t start = m_cursor;
    Ch c = m_text[m_cursor];
    if (c == Ch('"')) {
        NextChar();
        while (m_cursor < m_length && m_text[m_cursor] != Ch('"'))
            NextChar();
        if (m_cursor < m_length)
            NextChar(); // the closing quote
        String token(m_text + start, m_cursor - start);
        if (m_stripQuotes) {
            if (!token.empty() && token.front() == Ch('"'))
                token.erase(0, 1);
            if (!token.empty() && token.back() == Ch('"'))
                token.pop_back();
        }
        return token;
    }
    if (IsPunctuation(c)) {
        NextChar();
        return String(1, c);
    }
    while (m_cursor < m_length && !IsDelimiter(m_text[m_cursor]))
        NextChar();
    return String(m_text + start, m_cursor - start);
}

template <typename Ch>
typename BasicTextParser<Ch>::String BasicTextParser<Ch>::ReadRawToken()
{
    ++m_tokenCount;
    SkipWhitespace();
    if (m_cursor >= m_length)
        return String();
    String token = ScanToken();
    m_tokenLine = m_line;
    SkipWhitespace();
    return token;
}

template <typename Ch>
bool BasicTextParser<Ch>::HandleDirective()
{
    if (PeekChar(m_cursor) != Ch('#') || m_cursor + 1 >= m_length)
        return false;
    size_t before = m_cursor;
    unsigned int lineBefore = m_line;
    Directive directive = MatchDirective();
    switch (directive) {
    case Directive::IfDef:
    case Directive::IfNDef: {
        String symbol = ReadRawToken();
        bool holds = IsDefined(symbol) == (directive == Directive::IfDef);
        if (holds)
            ++m_openConditionals;
        else if (SkipInactiveText() == SkipStop::Else)
            ++m_openConditionals; // the #else part is active
        return true;
    }
    case Directive::Else:
        // The active part of a conditional ends here.
        if (SkipInactiveText() == SkipStop::Else)
            m_cursor = m_length;
        return true;
    case Directive::EndIf:
        if (m_openConditionals > 0)
            --m_openConditionals;
        else
            m_cursor = m_length;
        return true;
    case Directive::None:
        break;
    }
    m_cursor = before;
    m_line = lineBefore;
    return false;
}

template <typename Ch>
typename BasicTextParser<Ch>::String BasicTextParser<Ch>::ReadToken()
{
    for (;;) {
        ++m_tokenCount;
        SkipWhitespace();
        if (m_cursor >= m_length)
            return String();
        if (HandleDirective())
            continue; // the token after the directive
        String token = ScanToken();
        m_tokenLine = m_line;
        SkipWhitespace();
        return token;
    }
}

template <typename Ch>
typename BasicTextParser<Ch>::String BasicTextParser<Ch>::ReadLine()
{
restart:
    SkipWhitespace();
    if (m_cursor >= m_length)
        return String();
    String line;
    while (m_cursor < m_length) {
        if (HandleDirective())
            goto restart; // what was collected before the directive is dropped
        Ch c = m_text[m_cursor];
        if (c == Ch('/') && PeekChar(m_cursor + 1) == Ch('/')) {
            while (m_cursor < m_length && m_text[m_cursor] != Ch('\n'))
                NextChar();
            NextChar();
            break;
        }
        if (c == Ch('/') && PeekChar(m_cursor + 1) == Ch('*')) {
            unsigned int lineBefore = m_line;
            Advance(4);
            while (m_cursor < m_length && !(m_text[m_cursor - 2] == Ch('*') && m_text[m_cursor - 1] == Ch('/')))
                NextChar();
            if (m_line != lineBefore)
                break;
            continue;
        }
        NextChar();
        if (c == Ch('\n'))
            break;
        if (c != Ch('\r'))
            line.push_back(c);
    }
    return line;
}

template <typename Ch>
void BasicTextParser<Ch>::ReadDelimitedToken(String& result, Ch opening, Ch closing, bool strip)
{
    result.clear();
    for (;;) {
        SkipWhitespace();
        if (m_cursor >= m_length)
            return;
        if (!HandleDirective())
            break;
    }
    size_t start = m_cursor;
    Ch c = m_text[m_cursor];
    bool delimited = false;
    if (opening == Ch(0) || c == opening) {
        delimited = true;
        if (opening != Ch(0))
            NextChar();
        while (m_cursor < m_length && m_text[m_cursor] != closing)
            NextChar();
        if (m_cursor < m_length)
            NextChar(); // the closing character is part of the token
    } else if (IsPunctuation(c)) {
        NextChar();
    } else {
        while (m_cursor < m_length && !IsDelimiter(m_text[m_cursor]))
            NextChar();
    }
    result.assign(m_text + start, m_cursor - start);
    SkipWhitespace();
    if (strip && delimited) {
        const size_t originalSize = result.size();
        if (opening != Ch(0) && !result.empty() && result.front() == opening)
            result.erase(0, 1);
        if (originalSize >= 2 && !result.empty() && result.back() == closing)
            result.pop_back();
        if (m_stripQuotes) {
            if (!result.empty() && result.front() == Ch('"'))
                result.erase(0, 1);
            if (!result.empty() && result.back() == Ch('"'))
                result.pop_back();
        }
    }
}

template class BasicTextParser<char>;
template class BasicTextParser<char16_t>;

} // namespace GAME
