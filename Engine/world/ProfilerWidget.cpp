#include "world/ProfilerWidget.h"

#include "core/Log.h"
#include "core/Rect.h"
#include "graphics/FontStyle.h"
#include "graphics/GraphicsCanvas.h"
#include "graphics/GraphicsFont.h"
#include "graphics/InputDevice.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>

namespace GAME {

namespace {

int Wrap(int index)
{
    return ((index % ProfilerWidget::historySize) + ProfilerWidget::historySize) %
           ProfilerWidget::historySize;
}

} // namespace

ProfilerWidget::ProfilerWidget(const FontStyle* style, InputDevice* input)
    : m_style(style), m_input(input), m_history(historySize)
{
}

void ProfilerWidget::Enable(bool enable)
{
    m_enabled = enable;
    Profile::Enable(enable);
}

void ProfilerWidget::UpdateFrame(unsigned int frameCount)
{
    if (!m_enabled)
        return;
    m_frameTimer.Update(false);
    if (!m_paused) {
        m_newest = Wrap(m_newest + 1);
        FrameRecord& record = m_history[static_cast<size_t>(m_newest)];
        record.frame = frameCount;
        record.milliseconds = m_frameTimer.GetElapsedTime();
        record.blocks.clear();
        Profile::GetTimeInfo(record.blocks);
        m_selected = m_newest;
    }
    Profile::Update();
}

void ProfilerWidget::Update()
{
    if (!m_enabled || !m_input)
        return;
    if (m_keyTimer.GetTotalElapsedTime() > keyRepeatInterval) {
        m_keyTimer.Reset();
        if (m_input->IsKeyDown(keyNextFrame)) {
            m_selected = Wrap(m_selected + 1);
            m_scrollOffset = 0.0f;
        } else if (m_input->IsKeyDown(keyPreviousFrame)) {
            m_selected = Wrap(m_selected - 1);
            m_scrollOffset = 0.0f;
        }
    }
    if (m_input->IsKeyDown(keyScrollUp))
        m_scrollOffset = std::max(0.0f, m_scrollOffset - scrollStep);
    if (m_input->IsKeyDown(keyScrollDown))
        m_scrollOffset += scrollStep;
}

bool ProfilerWidget::HandleKeyEvent(const InputDevice::ButtonEvent& event)
{
    if (!m_enabled || event.state != InputDevice::BUTTON_PRESSED)
        return false;
    if (event.keyCode == keyPause)
        m_paused = !m_paused;
    else if (event.keyCode == keySort)
        m_sortByTime = !m_sortByTime;
    return false;
}

const ProfilerWidget::FrameRecord& ProfilerWidget::GetRecord(int index) const
{
    return m_history[static_cast<size_t>(Wrap(index))];
}

std::vector<ProfilerWidget::ListedBlock> ProfilerWidget::ListBlocks() const
{
    const int frames = m_paused ? 1 : framesAveragedRunning;
    std::map<std::string, ListedBlock> sums;
    for (const Profile::TimeInfo& block : m_history[static_cast<size_t>(m_selected)].blocks)
        sums[block.name ? block.name : ""].name = block.name ? block.name : "";
    for (int back = 0; back < frames; ++back) {
        for (const Profile::TimeInfo& block : GetRecord(m_selected - back).blocks) {
            auto it = sums.find(block.name ? block.name : "");
            if (it == sums.end())
                continue;
            it->second.milliseconds += block.milliseconds;
            it->second.calls += static_cast<float>(block.calls);
        }
    }
    std::vector<ListedBlock> listed;
    for (auto& [name, sum] : sums) {
        sum.milliseconds /= static_cast<float>(frames);
        sum.calls /= static_cast<float>(frames);
        if (sum.milliseconds >= minimumListedMilliseconds)
            listed.push_back(sum);
    }
    // The map gave name order; the slowest block leads when sorted by time.
    if (m_sortByTime)
        std::stable_sort(listed.begin(), listed.end(), [](const ListedBlock& a, const ListedBlock& b) {
            return a.milliseconds > b.milliseconds;
        });
    return listed;
}

std::vector<std::string> ProfilerWidget::GetBlockLines() const
{
    std::vector<std::string> lines;
    for (const ListedBlock& block : ListBlocks())
        lines.push_back(block.name + BlockTimes(block));
    return lines;
}

std::string ProfilerWidget::BlockTimes(const ListedBlock& block)
{
    return FormatString(" (%0.1fms %0.1f calls)", block.milliseconds, block.calls);
}

std::string ProfilerWidget::GetFrameLabel() const
{
    const FrameRecord& record = m_history[static_cast<size_t>(m_selected)];
    return FormatString("Frame %d (%d ms)", static_cast<int>(record.frame), record.milliseconds);
}

std::string ProfilerWidget::FitLine(const FontStyle& style, const std::string& name, const std::string& times,
                                    float width, float& measured)
{
    auto measure = [&style](const std::string& text) {
        return static_cast<float>(MeasureFontText(style.font, text.c_str(), style.size, style.weight));
    };
    std::string line = name + times;
    if ((measured = measure(line)) <= width)
        return line;
    // The longest start of the name that fits with the mark of the cut (block names are ASCII).
    size_t fits = 0, fails = name.size();
    while (fits + 1 < fails) {
        const size_t middle = (fits + fails) / 2;
        (measure(name.substr(0, middle) + "..." + times) <= width ? fits : fails) = middle;
    }
    line = name.substr(0, fits) + "..." + times;
    measured = measure(line);
    return line;
}

void ProfilerWidget::Render(GraphicsCanvas& canvas) const
{
    if (!m_enabled)
        return;
    const float width = static_cast<float>(canvas.GetWidth());
    const float height = static_cast<float>(canvas.GetHeight());
    auto text = [&](float x, float y, const std::string& line) {
        canvas.RenderText(static_cast<int>(x), static_cast<int>(y), m_style->color, line.c_str(),
                          m_style->font, m_style->size, GraphicsCanvas::X_ALIGN_LEFT,
                          GraphicsCanvas::Y_ALIGN_TOP, m_style->dropShadow, m_style->shadowDistance,
                          m_style->weight, m_style->filter);
    };
    const float widest = std::floor(width * maximumWidthShare);

    // The frame graph at the bottom right: one bar per record, oldest at the left, a pixel per
    // millisecond up to the panel's height; the selected frame stands out and is named at the top
    // left. The bars go to the device as one quad list, the selected one as another.
    const float graphWidth = std::min(barWidth * static_cast<float>(historySize), widest);
    const Rect graph(width - panelMargin - graphWidth, height - panelMargin - graphHeight, graphWidth,
                     graphHeight);

    // The block list at the top right, as wide as its longest line and as tall as its lines, down
    // to the graph at most: a line per block (font height + 2 apart, 5 below the top, moved up by
    // the scroll offset); lines that would leave the panel are not drawn.
    if (m_style) {
        const float lineHeight = static_cast<float>(m_style->size) + 2.0f;
        std::vector<std::string> lines;
        float longest = 0.0f;
        for (const ListedBlock& block : ListBlocks()) {
            float measured = 0.0f;
            lines.push_back(FitLine(*m_style, block.name, BlockTimes(block), widest - 2.0f * panelPadding, measured));
            longest = std::max(longest, measured);
        }
        if (!lines.empty()) {
            const float listHeight =
                std::min(lineHeight * static_cast<float>(lines.size()) + 2.0f * panelPadding,
                         graph.y - 2.0f * panelMargin);
            const float listWidth = std::min(longest + 2.0f * panelPadding, widest);
            const Rect list(width - panelMargin - listWidth, panelMargin, listWidth, listHeight);
            canvas.RenderRect(list, m_background);
            float y = list.y + panelPadding - m_scrollOffset;
            for (const std::string& line : lines) {
                if (y >= list.y && y + lineHeight <= list.GetBottom())
                    text(list.x + panelPadding, y, line);
                y += lineHeight;
            }
        }
    }

    canvas.RenderRect(graph, m_background);
    const float barStep = graph.width / static_cast<float>(historySize);
    std::vector<Rect> bars;
    bars.reserve(historySize);
    Rect selected;
    for (int i = 0; i < historySize; ++i) {
        const int index = Wrap(m_newest + 1 + i);
        const FrameRecord& record = m_history[static_cast<size_t>(index)];
        const float barHeight = std::min(static_cast<float>(std::max(record.milliseconds, 0)), graph.height);
        if (barHeight <= 0.0f && index != m_selected)
            continue;
        const Rect bar(graph.x + barStep * static_cast<float>(i),
                       graph.GetBottom() - std::max(barHeight, 1.0f), barStep, std::max(barHeight, 1.0f));
        if (index == m_selected)
            selected = bar;
        else
            bars.push_back(bar);
    }
    canvas.RenderRects(bars, Color(0.2f, 0.6f, 1.0f, 0.8f));
    canvas.RenderRects({selected}, Color(1.0f, 0.2f, 0.2f, 1.0f));
    if (m_style)
        text(graph.x + panelPadding, graph.y + panelPadding, GetFrameLabel());
}

} // namespace GAME
