// Marker 's': the text of a tag. A gender code at the start of the text ("[fs]maison") is taken
// off and kept, so that agreeing words ('a', 'A') can follow it.
#pragma once

#include "data/InternalParam.h"

namespace GAME {

class InternalParamString : public InternalParam
{
public:
    bool Parse(const std::u16string& text, unsigned int position) override;
    std::u16string Format() override { return m_text; }
    void Set(const std::u16string& text) override;
    int GetType() const override { return TYPE_STRING; }
    int GetGender() const override { return m_gender; }
    void Reset() override;

private:
    std::u16string m_text;
    int m_gender = GENDER_NONE;
};

} // namespace GAME
