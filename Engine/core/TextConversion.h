// Conversions between 8-bit text in a code page and 16-bit text (UTF-16 in char16_t). The
// "system" code page (0) is Windows-1252 unless the host picks another. Unmappable characters
// become '?' on the way to 8 bits; every byte maps to some character on the way to 16 bits.
// Safe from any thread.
#pragma once

#include <string>
#include <string_view>

namespace GAME {

enum : unsigned int
{
    CODE_PAGE_SYSTEM = 0,
    CODE_PAGE_LATIN1 = 28591,
    CODE_PAGE_WINDOWS_1252 = 1252,
    CODE_PAGE_UTF8 = 65001,
};

// Selects the code page that CODE_PAGE_SYSTEM stands for; false (and no change) for one that is
// not supported.
bool SetSystemCodePage(unsigned int codePage);
unsigned int GetSystemCodePage();
bool IsCodePageSupported(unsigned int codePage);

// False only for an unsupported code page; the output is then empty.
bool CodePageToUtf16(std::string_view text, std::u16string& out, unsigned int codePage = CODE_PAGE_SYSTEM);
bool Utf16ToCodePage(std::u16string_view text, std::string& out, unsigned int codePage = CODE_PAGE_SYSTEM);

// Shorthands in the system code page.
std::u16string ToUtf16(std::string_view text);
std::string FromUtf16(std::u16string_view text);

} // namespace GAME
