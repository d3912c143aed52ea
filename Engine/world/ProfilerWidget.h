// The profiler on screen: keeps the per-frame block times (GAME::Profile) of the last 200 frames
// and, while enabled, draws the selected frame's blocks (averaged over 5 frames, 1 while paused)
// and a graph of the frame times. Both panels keep to the right of the screen, clear of the
// statistics panel at the top left (where the thread monitor's lines go), and take no more than
// their lines need, at most 40 % of the screen's width: the block list at the top right (a name
// too long for it is cut), the graph at the bottom right, two pixels a frame. Keys: space pauses,
// S sorts by time, the brackets step through the frames, and two further keys scroll the list.
// The engine owns one from start-up to shut-down, calls UpdateFrame first thing every frame and
// switches it with ShowProfiler. Main thread only.
#pragma once

#include "core/Color.h"
#include "core/Profile.h"
#include "core/Timer.h"
#include "graphics/DisplayWidget.h"

#include <cstdint>
#include <string>
#include <vector>

namespace GAME {

class FontStyle;
class InputDevice;

class ProfilerWidget : public DisplayWidget
{
public:
    static constexpr int historySize = 200;
    static constexpr int keyRepeatInterval = 80; // ms
    static constexpr float scrollStep = 5.0f;
    // Blocks below this average are not listed.
    static constexpr float minimumListedMilliseconds = 0.1f;
    static constexpr int framesAveragedRunning = 5;
    // The panels' layout: their distance from the screen's edges and from each other, the space
    // around their text, the share of the screen's width each takes at most, the graph's height
    // (a pixel a millisecond) and its bars' width.
    static constexpr float panelMargin = 10.0f;
    static constexpr float panelPadding = 5.0f;
    static constexpr float maximumWidthShare = 0.4f;
    static constexpr float graphHeight = 100.0f;
    static constexpr float barWidth = 2.0f;

    struct FrameRecord
    {
        unsigned int frame = 0;
        int milliseconds = 0;
        std::vector<Profile::TimeInfo> blocks;
    };

    // style: the utility font style; input: the engine's input device, polled for the keys. Neither
    // is owned; either may be null.
    ProfilerWidget(const FontStyle* style, InputDevice* input);
    ~ProfilerWidget() override = default;
    ProfilerWidget(const ProfilerWidget&) = delete;
    ProfilerWidget& operator=(const ProfilerWidget&) = delete;

    // Switches the widget and the profiling of blocks together.
    void Enable(bool enable);
    bool IsEnabled() const { return m_enabled; }
    bool IsPaused() const { return m_paused; }
    bool IsSortedByTime() const { return m_sortByTime; }

    // The engine's first step of a frame: while enabled and not paused, the frame just ended goes
    // into the history under frameCount; then the block table starts the new frame.
    void UpdateFrame(unsigned int frameCount);

    // Key polling while enabled.
    void Update() override;
    void Render(GraphicsCanvas& canvas) const override;
    // Space toggles pause and S the sort, while enabled; the event is never consumed.
    bool HandleKeyEvent(const InputDevice::ButtonEvent& event) override;

    int GetNewestIndex() const { return m_newest; }
    int GetSelectedIndex() const { return m_selected; }
    const FrameRecord& GetRecord(int index) const;
    float GetScrollOffset() const { return m_scrollOffset; }
    // "name (x.xms y.y calls)" for each listed block of the selected frame, in drawing order.
    std::vector<std::string> GetBlockLines() const;
    // "Frame n (m ms)" of the selected frame.
    std::string GetFrameLabel() const;

    // Key codes of the input device.
    uint32_t keyPause = 57;
    uint32_t keySort = 30;
    uint32_t keyNextFrame = 27;
    uint32_t keyPreviousFrame = 26;
    uint32_t keyScrollUp = 122;
    uint32_t keyScrollDown = 127;

private:
    struct ListedBlock
    {
        std::string name;
        float milliseconds = 0.0f;
        float calls = 0.0f;
    };
    // The selected frame's blocks, averaged, filtered and in drawing order.
    std::vector<ListedBlock> ListBlocks() const;
    // The block's line, name then times, no wider than width: the name cut short ("...") when not.
    // `measured` receives the line's width.
    static std::string FitLine(const FontStyle& style, const std::string& name, const std::string& times,
                               float width, float& measured);
    // " (1.2ms 3.0 calls)": what follows a block's name on its line.
    static std::string BlockTimes(const ListedBlock& block);

    const FontStyle* m_style;
    InputDevice* m_input;
    bool m_enabled = false;
    bool m_paused = false;
    bool m_sortByTime = false;
    int m_selected = 0;
    int m_newest = 0;
    Color m_background = Color(0.0f, 0.0f, 0.0f, 0.6f);
    SystemTimer m_frameTimer;
    std::vector<FrameRecord> m_history;
    SystemTimer m_keyTimer;
    float m_scrollOffset = 0.0f;
};

} // namespace GAME
