#include "data/InternalParamAgreement.h"

#include "data/LocalizationManager.h"

namespace GAME {

InternalParamAgreement::InternalParamAgreement(LocalizationManager* owner, bool upperCase)
    : m_owner(owner), m_upperCase(upperCase)
{
}

bool InternalParamAgreement::Parse(const std::u16string& text, unsigned int position)
{
    m_dependency = ReadInt(text.c_str(), position);
    const char16_t kind = m_upperCase ? u'A' : u'a';
    if (position >= text.size() || text[position] != kind)
        return false;
    SetEndPos(position + 1);
    return true;
}

void InternalParamAgreement::Reset()
{
    m_dependency = -1;
    m_variants.clear();
}

std::u16string InternalParamAgreement::Choose()
{
    if (m_variants.empty() || m_variants[0] != u'[')
        return m_variants;
    const InternalParam* dependency = m_owner ? m_owner->GetInternalParam(m_dependency) : nullptr;
    if (!dependency)
        return u"Invalid Dependency.." + m_variants;
    int gender = dependency->GetGender();
    if (gender == GENDER_NONE)
        gender = GENDER_MASCULINE_SINGULAR;

    size_t position = 0;
    while ((position = m_variants.find(u'[', position)) != std::u16string::npos) {
        int end = 0;
        const int variantGender = StringToGender(m_variants, end, position);
        if (variantGender == gender) {
            size_t start = static_cast<size_t>(end);
            while (start < m_variants.size() && IsBlank(m_variants[start]))
                ++start;
            size_t stop = m_variants.find(u'[', start);
            if (stop == std::u16string::npos) {
                stop = m_variants.size();
            } else {
                while (stop > start && IsBlank(m_variants[stop - 1]))
                    --stop;
            }
            return m_variants.substr(start, stop - start);
        }
        if (variantGender != GENDER_NONE) {
            position = static_cast<size_t>(end);
        } else {
            const size_t close = m_variants.find(u']', position);
            position = close == std::u16string::npos ? position + 1 : close + 1;
        }
    }
    return m_variants + u" - Gender not found.";
}

std::u16string InternalParamAgreement::Format()
{
    std::u16string result = Choose();
    if (m_upperCase && !result.empty()) {
        // Upper case for ASCII and the Latin-1 letters (French and Spanish articles).
        char16_t& c = result[0];
        if ((c >= u'a' && c <= u'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7))
            c = static_cast<char16_t>(c - 0x20);
    }
    return result;
}

} // namespace GAME
