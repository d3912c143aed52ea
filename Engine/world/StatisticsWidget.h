// The on-screen statistics: lines of text and bar graphs added during a frame (Engine::
// AddStatisticText, AddStatisticGraph, the thread monitor, the tracker's frame statistics) and
// drawn over a translucent panel at the top left. Each draw shows what was added since the draw
// before and empties the list. The engine owns one from start-up to shut-down.
//
// Threads: any thread may add entries (under the widget's lock); the display draws on the main
// thread, taking the list out under the same lock first.
#pragma once

#include "core/Color.h"
#include "core/CriticalSection.h"
#include "graphics/DisplayWidget.h"

#include <string>
#include <vector>

namespace GAME {

class FontStyle;

class StatisticsWidget : public DisplayWidget
{
public:
    struct Entry
    {
        float value = 0.0f;
        Color color;
        std::string text;
    };

    static constexpr float panelX = 4.0f;
    static constexpr float panelY = 46.0f;
    static constexpr float firstLineY = 50.0f;

    // style: the utility font style (not owned); without one nothing is drawn.
    explicit StatisticsWidget(const FontStyle* style) : m_style(style) {}
    ~StatisticsWidget() override = default;
    StatisticsWidget(const StatisticsWidget&) = delete;
    StatisticsWidget& operator=(const StatisticsWidget&) = delete;

    void AddText(const std::string& text);
    void AddGraph(const char* name, float value, const Color& color);
    size_t GetNumEntries() const;

    // Draws the entries added since the last draw and forgets them.
    void Render(GraphicsCanvas& canvas) const override;

    // The entries a draw would show now, taken out of the list.
    std::vector<Entry> TakeEntries() const;
    // The panel the entries take: widest text (measured with the style's font) + 8 by (font height
    // + 4) per entry + 8.
    static void MeasurePanel(const FontStyle& style, const std::vector<Entry>& entries, float& width,
                             float& height);
    static float GetFontHeight(const FontStyle& style);
    static float GetTextWidth(const FontStyle& style, const std::string& text);

private:
    const FontStyle* m_style;
    mutable CriticalSection m_lock;
    // Drawing (a const operation for the display) empties it.
    mutable std::vector<Entry> m_entries;
};

} // namespace GAME
