#include "core/NumberParsing.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace GAME {

namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

const char* SkipSpace(const char* p)
{
    while (*p && IsSpace(*p))
        ++p;
    return p;
}

// Reads an integer at p the way %d does; returns the end or null when there is none.
const char* ParseInt(const char* p, int& value)
{
    p = SkipSpace(p);
    errno = 0;
    char* end = nullptr;
    long long v = std::strtoll(p, &end, 10); // integer parsing does not depend on the locale
    if (end == p)
        return nullptr;
    // Out-of-range values keep their low 32 bits, as the C library stores them into an int.
    value = static_cast<int>(static_cast<unsigned int>(static_cast<unsigned long long>(v)));
    return end;
}

bool EqualsNoCase(const char* p, const char* word)
{
    for (; *word; ++p, ++word) {
        char c = *p;
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != *word)
            return false;
    }
    return true;
}

// Reads a float at p the way %f does, with a '.' decimal point.
const char* ParseFloat(const char* p, float& value)
{
    p = SkipSpace(p);
    bool negative = false;
    const char* q = p;
    if (*q == '+' || *q == '-') {
        negative = *q == '-';
        ++q;
    }
    if (EqualsNoCase(q, "inf")) {
        value = negative ? -INFINITY : INFINITY;
        return q + (EqualsNoCase(q, "infinity") ? 8 : 3);
    }
    if (EqualsNoCase(q, "nan")) {
        value = NAN;
        return q + 3;
    }
    if (q[0] == '0' && (q[1] == 'x' || q[1] == 'X')) {
        float magnitude = 0.0f;
        auto result = std::from_chars(q + 2, q + 2 + std::strlen(q + 2), magnitude, std::chars_format::hex);
        if (result.ec == std::errc() || result.ec == std::errc::result_out_of_range) {
            value = negative ? -magnitude : magnitude;
            return result.ptr;
        }
        value = 0.0f; // "0x" alone reads as the 0
        return q + 1;
    }
    float magnitude = 0.0f;
    auto result = std::from_chars(q, q + std::strlen(q), magnitude, std::chars_format::general);
    if (result.ptr == q)
        return nullptr;
    if (result.ec == std::errc::result_out_of_range) {
        // Overflow gives infinity and underflow 0, as the C library does.
        double wide = 0.0;
        std::from_chars(q, result.ptr, wide, std::chars_format::general);
        magnitude = static_cast<float>(wide);
    }
    value = negative ? -magnitude : magnitude;
    return result.ptr;
}

} // namespace

bool ScanInt(const char* text, int& value)
{
    if (!text)
        return false;
    int v = 0;
    if (!ParseInt(text, v))
        return false;
    value = v;
    return true;
}

bool ScanFloat(const char* text, float& value)
{
    if (!text)
        return false;
    float v = 0.0f;
    if (!ParseFloat(text, v))
        return false;
    value = v;
    return true;
}

int AtoI(const char* text)
{
    int v = 0;
    return text && ParseInt(text, v) ? v : 0;
}

float AtoF(const char* text)
{
    float v = 0.0f;
    return text && ParseFloat(text, v) ? v : 0.0f;
}

bool ScanInt2(const char* text, int& a, int& b)
{
    if (!text)
        return false;
    int first = 0, second = 0;
    const char* p = ParseInt(text, first);
    if (!p || !ParseInt(p, second))
        return false;
    a = first;
    b = second;
    return true;
}

} // namespace GAME
