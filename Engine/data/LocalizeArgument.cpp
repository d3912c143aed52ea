#include "data/LocalizeArgument.h"

#include <climits>
#include <cmath>

namespace GAME {

int LocalizeArgument::GetInt() const
{
    if (m_kind == KIND_INT)
        return m_int > INT_MAX ? INT_MAX : m_int < INT_MIN ? INT_MIN : static_cast<int>(m_int);
    if (m_kind != KIND_DOUBLE || std::isnan(m_double))
        return 0;
    if (m_double >= static_cast<double>(INT_MAX))
        return INT_MAX;
    if (m_double <= static_cast<double>(INT_MIN))
        return INT_MIN;
    return static_cast<int>(m_double);
}

} // namespace GAME
