#include "core/Vec3.h"

#include <charconv>
#include <cstring>
#include <limits>

namespace GAME {
namespace {

bool IsSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

const char* SkipSpace(const char* p)
{
    while (IsSpace(*p))
        ++p;
    return p;
}

// A magnitude that does not fit a float: overflow unless the exponent is negative.
float OutOfRange(const char* begin, const char* end)
{
    for (const char* p = begin; p < end; ++p)
        if ((*p == 'e' || *p == 'E' || *p == 'p' || *p == 'P') && p + 1 < end && p[1] == '-')
            return 0.0f;
    return std::numeric_limits<float>::infinity();
}

// One "%f" conversion in the C locale: leading space, an optional sign, then a decimal or
// hexadecimal number, "inf", "infinity" or "nan". Returns null when nothing parses.
const char* ParseFloat(const char* p, float& out)
{
    p = SkipSpace(p);
    bool negative = false;
    if (*p == '+' || *p == '-') {
        negative = *p == '-';
        ++p;
        if (*p == '+' || *p == '-')
            return nullptr;
    }
    const char* end = p + std::strlen(p);
    float value = 0.0f;
    std::from_chars_result r{nullptr, std::errc::invalid_argument};
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X'))
        r = std::from_chars(p + 2, end, value, std::chars_format::hex);
    if (r.ec == std::errc::invalid_argument)
        r = std::from_chars(p, end, value, std::chars_format::general);
    if (r.ec == std::errc::invalid_argument)
        return nullptr;
    if (r.ec == std::errc::result_out_of_range)
        value = OutOfRange(p, r.ptr);
    out = negative ? -value : value;
    return r.ptr;
}

const char* Expect(const char* p, char c)
{
    p = SkipSpace(p);
    return *p == c ? p + 1 : nullptr;
}

} // namespace

int Vec3::Parse(const char* text)
{
    if (!text)
        return 0;
    float* const fields[3] = {&x, &y, &z};
    const char* p = Expect(text, '(');
    int count = 0;
    for (int i = 0; p && i < 3; ++i) {
        if (i > 0 && !(p = Expect(p, ',')))
            break;
        float value;
        if (!(p = ParseFloat(p, value)))
            break;
        *fields[i] = value;
        ++count;
    }
    return count;
}

} // namespace GAME
