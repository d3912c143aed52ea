#include "data/InternalParam.h"

#include <climits>

namespace GAME {

void InternalParam::Init()
{
    m_startPos = 0;
    m_endPos = 0;
    Reset();
}

int InternalParam::ReadInt(const char16_t* text, unsigned int& position)
{
    if (!text)
        return 0;
    long long value = 0;
    while (text[position] >= u'0' && text[position] <= u'9') {
        value = value * 10 + (text[position] - u'0');
        if (value > INT_MAX)
            value = INT_MAX;
        ++position;
    }
    return static_cast<int>(value);
}

int InternalParam::StringToGender(const std::u16string& text, int& end, size_t start)
{
    if (start + 2 >= text.size() || text[start] != u'[')
        return GENDER_NONE;
    static const char16_t kCodes[6][2] = {{u'm', u's'}, {u'm', u'p'}, {u'f', u's'},
                                          {u'f', u'p'}, {u'n', u's'}, {u'n', u'p'}};
    int gender = GENDER_NONE;
    for (int i = 0; i < 6; ++i)
        if (text[start + 1] == kCodes[i][0] && text[start + 2] == kCodes[i][1])
            gender = i;
    size_t close = text.find(u']', start);
    if (gender == GENDER_NONE || close == std::u16string::npos)
        return GENDER_NONE;
    end = static_cast<int>(close + 1);
    return gender;
}

} // namespace GAME
