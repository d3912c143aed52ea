#include "data/InternalParamString.h"

namespace GAME {

bool InternalParamString::Parse(const std::u16string& text, unsigned int position)
{
    if (position >= text.size() || text[position] != u's')
        return false;
    SetEndPos(position + 1);
    return true;
}

void InternalParamString::Set(const std::u16string& text)
{
    int end = 0;
    m_gender = StringToGender(text, end);
    if (m_gender == GENDER_NONE) {
        m_text = text;
        return;
    }
    size_t start = static_cast<size_t>(end);
    while (start < text.size() && IsBlank(text[start]))
        ++start;
    m_text = text.substr(start);
}

void InternalParamString::Reset()
{
    m_text.clear();
    m_gender = GENDER_NONE;
}

} // namespace GAME
