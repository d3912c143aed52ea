// Markers 'a' and 'A': a word that agrees with another parameter. Its text lists variants by
// gender ("[ms]le [fs]la [mp]les [fp]les"); the variant for the gender of the parameter named by
// the dependency index ("%0a1" follows parameter 0) is chosen. 'A' puts the first character in
// upper case.
#pragma once

#include "data/InternalParam.h"

namespace GAME {

class LocalizationManager;

class InternalParamAgreement : public InternalParam
{
public:
    // The manager answers which parameter received a value for an index.
    InternalParamAgreement(LocalizationManager* owner, bool upperCase);

    bool Parse(const std::u16string& text, unsigned int position) override;
    std::u16string Format() override;
    void Set(const std::u16string& variants) override { m_variants = variants; }
    int GetType() const override { return m_upperCase ? TYPE_AGREEMENT_UPPER : TYPE_AGREEMENT; }
    void Reset() override;

    int GetDependencyIndex() const { return m_dependency; }

private:
    std::u16string Choose();

    LocalizationManager* m_owner;
    bool m_upperCase;
    int m_dependency = -1;
    std::u16string m_variants;
};

} // namespace GAME
