// One argument of LocalizationManager::Localize, with its kind: a number, an 8-bit tag whose
// text is used ('s', 'a', 'A' markers) or a literal 16-bit text ('t'). Built implicitly from the
// caller's values by the variadic Localize, so that the manager knows how many arguments there
// are and what each is. Holds pointers to the caller's strings for the span of the call.
#pragma once

#include <string>
#include <type_traits>

namespace GAME {

class LocalizeArgument
{
public:
    enum Kind
    {
        KIND_NONE,
        KIND_INT,
        KIND_DOUBLE,
        KIND_TAG,
        KIND_TEXT,
    };

    LocalizeArgument() = default;
    template <typename T, std::enable_if_t<std::is_integral_v<T> && !std::is_same_v<T, bool>, int> = 0>
    LocalizeArgument(T value) : m_kind(KIND_INT), m_int(static_cast<long long>(value))
    {
    }
    template <typename T, std::enable_if_t<std::is_floating_point_v<T>, int> = 0>
    LocalizeArgument(T value) : m_kind(KIND_DOUBLE), m_double(static_cast<double>(value))
    {
    }
    LocalizeArgument(const char* tag) : m_kind(KIND_TAG), m_tag(tag) {}
    LocalizeArgument(const std::string& tag) : m_kind(KIND_TAG), m_tag(tag.c_str()) {}
    LocalizeArgument(const char16_t* text) : m_kind(KIND_TEXT), m_text(text) {}
    LocalizeArgument(const std::u16string& text) : m_kind(KIND_TEXT), m_text(text.c_str()) {}

    Kind GetKind() const { return m_kind; }
    bool IsNumber() const { return m_kind == KIND_INT || m_kind == KIND_DOUBLE; }
    // Numbers of either kind; integers saturate at the int range and NaN becomes 0.
    int GetInt() const;
    double GetDouble() const { return m_kind == KIND_INT ? static_cast<double>(m_int) : m_double; }
    // Null pointers read as empty.
    const char* GetTag() const { return m_tag ? m_tag : ""; }
    const char16_t* GetText() const { return m_text ? m_text : u""; }

private:
    Kind m_kind = KIND_NONE;
    long long m_int = 0;
    double m_double = 0.0;
    const char* m_tag = nullptr;
    const char16_t* m_text = nullptr;
};

} // namespace GAME
