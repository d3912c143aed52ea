#include "data/InternalParamFloat.h"

#include <charconv>
#include <cmath>
#include <vector>

namespace GAME {

bool InternalParamFloat::Parse(const std::u16string& text, unsigned int position)
{
    if (position < text.size() && text[position] == u'+') {
        m_plus = true;
        ++position;
    }
    if (position < text.size() && text[position] == u'.') {
        ++position;
        m_precision = ReadInt(text.c_str(), position);
        if (m_precision > maxPrecision)
            m_precision = maxPrecision;
    }
    if (position >= text.size() || text[position] != u'f')
        return false;
    SetEndPos(position + 1);
    return true;
}

std::u16string InternalParamFloat::Format()
{
    if (!m_hasValue)
        return std::u16string();
    const double value = m_value;
    std::u16string out;
    if (std::isnan(value) || std::isinf(value)) {
        const char* name = std::isnan(value) ? "nan" : "inf";
        if (std::signbit(value))
            out.push_back(u'-');
        else if (m_plus)
            out.push_back(u'+');
        for (const char* c = name; *c; ++c)
            out.push_back(static_cast<char16_t>(*c));
        return out;
    }
    // A float has at most 39 digits before the point.
    std::vector<char> buffer(48 + static_cast<size_t>(m_precision));
    auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value, std::chars_format::fixed,
                                m_precision);
    if (m_plus && !std::signbit(value))
        out.push_back(u'+');
    for (const char* c = buffer.data(); c < result.ptr; ++c)
        out.push_back(static_cast<char16_t>(*c));
    return out;
}

void InternalParamFloat::Set(float value)
{
    m_value = value;
    m_hasValue = true;
}

void InternalParamFloat::Reset()
{
    m_value = 0.0f;
    m_precision = 3;
    m_plus = false;
    m_hasValue = false;
}

} // namespace GAME
