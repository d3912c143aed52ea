#include "core/TextConversion.h"

#include <atomic>

namespace GAME {

namespace {

std::atomic<unsigned int> g_systemCodePage{CODE_PAGE_WINDOWS_1252};

// Windows-1252 bytes 0x80-0x9F. The five unassigned bytes map to the C1 control of the same
// value, as the system's own conversion does.
constexpr char16_t kWindows1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

unsigned int Resolve(unsigned int codePage)
{
    return codePage == CODE_PAGE_SYSTEM ? g_systemCodePage.load(std::memory_order_relaxed) : codePage;
}

char ToWindows1252(char32_t c)
{
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF))
        return static_cast<char>(c);
    for (int i = 0; i < 32; ++i)
        if (kWindows1252High[i] == c)
            return static_cast<char>(0x80 + i);
    return '?';
}

void AppendUtf8(std::string& out, char32_t c)
{
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

void AppendUtf16(std::u16string& out, char32_t c)
{
    if (c < 0x10000) {
        out.push_back(static_cast<char16_t>(c));
    } else {
        c -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
    }
}

// Invalid sequences become U+FFFD, one for each byte that cannot start or continue a character.
void DecodeUtf8(std::string_view text, std::u16string& out)
{
    size_t i = 0;
    while (i < text.size()) {
        auto b = static_cast<unsigned char>(text[i]);
        int length = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
        char32_t c = length == 1 ? b : length == 2 ? (b & 0x1F) : length == 3 ? (b & 0x0F) : (b & 0x07);
        bool valid = length != 0 && i + length <= text.size();
        for (int k = 1; valid && k < length; ++k) {
            auto next = static_cast<unsigned char>(text[i + k]);
            valid = (next & 0xC0) == 0x80;
            c = (c << 6) | (next & 0x3F);
        }
        static constexpr char32_t kSmallest[5] = {0, 0, 0x80, 0x800, 0x10000};
        if (valid && (c < kSmallest[length] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)))
            valid = false;
        if (!valid) {
            out.push_back(u'\xFFFD');
            ++i;
            continue;
        }
        AppendUtf16(out, c);
        i += static_cast<size_t>(length);
    }
}

} // namespace

bool IsCodePageSupported(unsigned int codePage)
{
    codePage = Resolve(codePage);
    return codePage == CODE_PAGE_WINDOWS_1252 || codePage == CODE_PAGE_LATIN1 || codePage == CODE_PAGE_UTF8;
}

bool SetSystemCodePage(unsigned int codePage)
{
    if (codePage == CODE_PAGE_SYSTEM || !IsCodePageSupported(codePage))
        return false;
    g_systemCodePage.store(codePage, std::memory_order_relaxed);
    return true;
}

unsigned int GetSystemCodePage()
{
    return g_systemCodePage.load(std::memory_order_relaxed);
}

bool CodePageToUtf16(std::string_view text, std::u16string& out, unsigned int codePage)
{
    out.clear();
    codePage = Resolve(codePage);
    if (!IsCodePageSupported(codePage))
        return false;
    if (codePage == CODE_PAGE_UTF8) {
        DecodeUtf8(text, out);
        return true;
    }
    out.reserve(text.size());
    for (char ch : text) {
        auto b = static_cast<unsigned char>(ch);
        if (codePage == CODE_PAGE_WINDOWS_1252 && b >= 0x80 && b < 0xA0)
            out.push_back(kWindows1252High[b - 0x80]);
        else
            out.push_back(static_cast<char16_t>(b));
    }
    return true;
}

bool Utf16ToCodePage(std::u16string_view text, std::string& out, unsigned int codePage)
{
    out.clear();
    codePage = Resolve(codePage);
    if (!IsCodePageSupported(codePage))
        return false;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = codePage == CODE_PAGE_UTF8 ? 0xFFFD : '?'; // a lone surrogate
        }
        if (codePage == CODE_PAGE_UTF8)
            AppendUtf8(out, c);
        else if (codePage == CODE_PAGE_LATIN1)
            out.push_back(c <= 0xFF ? static_cast<char>(c) : '?');
        else
            out.push_back(ToWindows1252(c));
    }
    return true;
}

std::u16string ToUtf16(std::string_view text)
{
    std::u16string out;
    CodePageToUtf16(text, out);
    return out;
}

std::string FromUtf16(std::u16string_view text)
{
    std::string out;
    Utf16ToCodePage(text, out);
    return out;
}

} // namespace GAME
