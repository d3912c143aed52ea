// One parameter marker of a localized text ("%s0", "%+.1f1", "%0a2"...), as the localization
// manager fills it: where it stands in the text, which argument index it takes, and its value.
// Each kind derives from this class; the manager keeps pools of them and reuses them for every
// Localize. Used only under the localization manager's lock.
#pragma once

#include <string>

namespace GAME {

class InternalParam
{
public:
    // Grammatical gender and number of a text, written "[ms]" ... "[np]" at its start.
    enum Gender
    {
        GENDER_NONE = -1,
        GENDER_MASCULINE_SINGULAR = 0,
        GENDER_MASCULINE_PLURAL = 1,
        GENDER_FEMININE_SINGULAR = 2,
        GENDER_FEMININE_PLURAL = 3,
        GENDER_NEUTER_SINGULAR = 4,
        GENDER_NEUTER_PLURAL = 5,
    };

    enum Type
    {
        TYPE_STRING = 0,          // 's': the text of a tag
        TYPE_AGREEMENT = 1,       // 'a': the variant that agrees with another parameter
        TYPE_AGREEMENT_UPPER = 2, // 'A': as 'a', first character in upper case
        TYPE_FLOAT = 3,           // 'f'
        TYPE_INT = 4,             // 'd'
        TYPE_TEXT = 5,            // 't': a literal 16-bit text
    };

    InternalParam() = default;
    virtual ~InternalParam() = default;
    InternalParam(const InternalParam&) = delete;
    InternalParam& operator=(const InternalParam&) = delete;

    // Reads the marker's optional part and kind character, starting right after the '%', and
    // sets the end position after the kind character. False for a malformed marker.
    virtual bool Parse(const std::u16string& text, unsigned int position) = 0;
    // The value as text; empty when the marker received no value.
    virtual std::u16string Format() = 0;
    virtual void Set(int) {}
    virtual void Set(float) {}
    virtual void Set(const std::u16string&) {}
    virtual int GetType() const = 0;
    virtual int GetGender() const { return GENDER_NONE; }
    // Clears the kind's own fields, the value included.
    virtual void Reset() = 0;

    // Positions 0, then Reset.
    void Init();
    void SetStartPos(unsigned int position) { m_startPos = position; }
    unsigned int GetStartPos() const { return m_startPos; }
    void SetEndPos(unsigned int position) { m_endPos = position; }
    unsigned int GetEndPos() const { return m_endPos; }
    void SetIndex(unsigned int index) { m_index = index; }
    unsigned int GetIndex() const { return m_index; }

    // The decimal digits at position (no sign, no blanks), saturating at INT_MAX; the position
    // moves past them and stays when there is none (the value is then 0).
    static int ReadInt(const char16_t* text, unsigned int& position);
    // The gender code of a '[' at start, -1 when there is none or no ']' follows; end is set to
    // the position after the first ']' from start.
    static int StringToGender(const std::u16string& text, int& end, size_t start = 0);

protected:
    static bool IsBlank(char16_t c) { return c == u' '; }

private:
    unsigned int m_startPos = static_cast<unsigned int>(-1);
    unsigned int m_endPos = static_cast<unsigned int>(-1);
    unsigned int m_index = static_cast<unsigned int>(-1);
};

} // namespace GAME
