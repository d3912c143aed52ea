#include "world/StatisticsWidget.h"

#include "core/Rect.h"
#include "graphics/FontStyle.h"
#include "graphics/GraphicsCanvas.h"
#include "graphics/GraphicsFont.h"

#include <algorithm>

namespace GAME {

void StatisticsWidget::AddText(const std::string& text)
{
    CriticalSectionLock lock(m_lock);
    m_entries.push_back(Entry{0.0f, Color(1.0f, 1.0f, 1.0f, 1.0f), text});
}

void StatisticsWidget::AddGraph(const char* name, float value, const Color& color)
{
    CriticalSectionLock lock(m_lock);
    m_entries.push_back(Entry{value, color, name ? name : ""});
}

size_t StatisticsWidget::GetNumEntries() const
{
    CriticalSectionLock lock(m_lock);
    return m_entries.size();
}

std::vector<StatisticsWidget::Entry> StatisticsWidget::TakeEntries() const
{
    std::vector<Entry> taken;
    CriticalSectionLock lock(m_lock);
    taken.swap(m_entries);
    return taken;
}

float StatisticsWidget::GetFontHeight(const FontStyle& style)
{
    return static_cast<float>(style.size);
}

float StatisticsWidget::GetTextWidth(const FontStyle& style, const std::string& text)
{
    return static_cast<float>(MeasureFontText(style.font, text.c_str(), style.size, style.weight));
}

void StatisticsWidget::MeasurePanel(const FontStyle& style, const std::vector<Entry>& entries, float& width,
                                    float& height)
{
    float widest = 0.0f;
    for (const Entry& entry : entries)
        widest = std::max(widest, GetTextWidth(style, entry.text));
    width = widest + 8.0f;
    height = (GetFontHeight(style) + 4.0f) * static_cast<float>(entries.size()) + 8.0f;
}

void StatisticsWidget::Render(GraphicsCanvas& canvas) const
{
    // Taken out under the lock before anything is drawn: other threads keep adding meanwhile, and
    // what they add shows in the next frame.
    const std::vector<Entry> entries = TakeEntries();
    if (!m_style || entries.empty())
        return;
    const float fontHeight = GetFontHeight(*m_style);
    float width = 0.0f, height = 0.0f;
    MeasurePanel(*m_style, entries, width, height);
    canvas.RenderRect(Rect(panelX, panelY, width, height), Color(0.0f, 0.0f, 0.0f, 0.5f));
    float y = firstLineY;
    const Color white(1.0f, 1.0f, 1.0f, 1.0f);
    for (const Entry& entry : entries) {
        if (entry.value > 0.0f)
            canvas.RenderRect(Rect(8.0f, y, entry.value, fontHeight + 2.0f), entry.color);
        canvas.RenderText(10, static_cast<int>(y), white, entry.text.c_str(), m_style->font, m_style->size,
                          GraphicsCanvas::X_ALIGN_LEFT, GraphicsCanvas::Y_ALIGN_TOP, m_style->dropShadow,
                          m_style->shadowDistance, m_style->weight, m_style->filter);
        y += fontHeight + 4.0f;
    }
}

} // namespace GAME
