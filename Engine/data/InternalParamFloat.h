// Marker 'f': a number with a precision ("%.2f0", 3 decimals when none is given) and, with '+',
// always a sign. Printed in the C locale.
#pragma once

#include "data/InternalParam.h"

namespace GAME {

class InternalParamFloat : public InternalParam
{
public:
    // Decimals beyond this say nothing about a float; a hostile text cannot ask for more.
    static constexpr int maxPrecision = 64;

    bool Parse(const std::u16string& text, unsigned int position) override;
    std::u16string Format() override;
    void Set(float value) override;
    int GetType() const override { return TYPE_FLOAT; }
    void Reset() override;

private:
    float m_value = 0.0f;
    int m_precision = 3;
    bool m_plus = false;
    bool m_hasValue = false;
};

} // namespace GAME
