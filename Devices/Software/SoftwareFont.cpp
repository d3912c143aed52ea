#include "SoftwareFont.h"

#include "SoftwareDevice.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <type_traits>

namespace GAME::Software {

SoftwareFont::SoftwareFont(SoftwareDevice& device, const char* name, const void* data, unsigned int size)
    : m_device(device), m_name(name ? name : "")
{
    if (data && size)
        m_data.assign(static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + size);
}

namespace {

// The run as the record shows it.
template <class Char> std::string RecordedText(const Char* text, int count)
{
    std::string out;
    out.reserve(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        const auto c = static_cast<uint32_t>(static_cast<std::make_unsigned_t<Char>>(text[i]));
        out.push_back(c >= 0x20 && c < 0x7f ? static_cast<char>(c) : '?');
    }
    return out;
}

} // namespace

int SoftwareFont::DrawText(const char16_t* text, int count, Rect& rect, unsigned int flags, uint32_t color,
                           int size, RenderFontStyle style, bool)
{
    if (!text)
        return 0;
    if (count < 0) // up to the terminator
        for (count = 0; text[count]; ++count) {
        }
    return Run(flags & RENDER_TEXT_CALC_RECT ? std::string() : RecordedText(text, count), count, rect, flags,
               color, size, style);
}

int SoftwareFont::DrawText(const char* text, int count, Rect& rect, unsigned int flags, uint32_t color,
                           int size, RenderFontStyle style, bool)
{
    if (!text)
        return 0;
    if (count < 0)
        count = static_cast<int>(std::strlen(text));
    return Run(flags & RENDER_TEXT_CALC_RECT ? std::string() : RecordedText(text, count), count, rect, flags,
               color, size, style);
}

int SoftwareFont::Run(const std::string& text, int count, Rect& rect, unsigned int flags, uint32_t color,
                      int size, RenderFontStyle style)
{
    const int64_t advance = size > 0 ? (int64_t(size) + 1) / 2 : 0;
    const int width = static_cast<int>(std::min<int64_t>(int64_t(count) * advance, INT32_MAX));
    if (flags & RENDER_TEXT_CALC_RECT) {
        rect.width = static_cast<float>(width);
        rect.height = static_cast<float>(size > 0 ? size : 0);
        return width;
    }
    m_device.DrawTextRun(this, text, count, rect, color, style);
    return width;
}

void SoftwareFont::BeginBatch()
{
    CriticalSectionLock lock(m_device.GetLock());
    ++m_batchDepth;
}

void SoftwareFont::EndBatch()
{
    CriticalSectionLock lock(m_device.GetLock());
    if (m_batchDepth > 0)
        --m_batchDepth;
}

} // namespace GAME::Software
