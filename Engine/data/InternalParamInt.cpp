#include "data/InternalParamInt.h"

#include <string>

namespace GAME {

bool InternalParamInt::Parse(const std::u16string& text, unsigned int position)
{
    if (position < text.size() && text[position] == u'+') {
        m_plus = true;
        ++position;
    }
    if (position >= text.size() || text[position] != u'd')
        return false;
    SetEndPos(position + 1);
    return true;
}

std::u16string InternalParamInt::Format()
{
    if (!m_hasValue)
        return std::u16string();
    std::string digits = std::to_string(m_value);
    std::u16string out;
    if (m_plus && m_value > 0)
        out.push_back(u'+');
    out.append(digits.begin(), digits.end());
    return out;
}

void InternalParamInt::Set(int value)
{
    m_value = value;
    m_hasValue = true;
}

void InternalParamInt::Reset()
{
    m_value = 0;
    m_plus = false;
    m_hasValue = false;
}

} // namespace GAME
