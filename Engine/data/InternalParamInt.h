// Marker 'd': an integer; with '+' ("%+d0") positive values carry a plus sign.
#pragma once

#include "data/InternalParam.h"

namespace GAME {

class InternalParamInt : public InternalParam
{
public:
    bool Parse(const std::u16string& text, unsigned int position) override;
    std::u16string Format() override;
    void Set(int value) override;
    int GetType() const override { return TYPE_INT; }
    void Reset() override;

private:
    int m_value = 0;
    bool m_plus = false;
    bool m_hasValue = false;
};

} // namespace GAME
