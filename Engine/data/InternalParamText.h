// Marker 't': a literal 16-bit text handed over by the caller, used as it is.
#pragma once

#include "data/InternalParam.h"

namespace GAME {

class InternalParamText : public InternalParam
{
public:
    bool Parse(const std::u16string& text, unsigned int position) override;
    std::u16string Format() override { return m_text; }
    void Set(const std::u16string& text) override { m_text = text; }
    int GetType() const override { return TYPE_TEXT; }
    void Reset() override { m_text.clear(); }

private:
    std::u16string m_text;
};

} // namespace GAME
