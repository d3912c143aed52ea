#include "data/InternalParamText.h"

namespace GAME {

bool InternalParamText::Parse(const std::u16string& text, unsigned int position)
{
    if (position >= text.size() || text[position] != u't')
        return false;
    SetEndPos(position + 1);
    return true;
}

} // namespace GAME
