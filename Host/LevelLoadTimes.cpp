#include "LevelLoadTimes.h"

#include "HostOutput.h"

#include "core/Log.h"
#include "platform/Threading.h"
#include "world/Engine.h"
#include "world/Region.h"
#include "world/RegionLoader.h"

#include <algorithm>

namespace SampleHost {

namespace {

double Median(std::vector<double> values)
{
    if (values.empty())
        return 0.0;
    const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
}

// The load a wait was for: the level's last one under way when it was needed (asked for or begun
// before the wait ended, and not in before it began); null when none was heard of.
const LevelLoadTimes::Load* LoadOf(const std::vector<LevelLoadTimes::Load>& loads,
                                   const LevelLoadTimes::Wait& wait)
{
    const double until = wait.arrived >= 0.0 ? wait.arrived : wait.began;
    for (size_t i = loads.size(); i-- > 0;) {
        const LevelLoadTimes::Load& load = loads[i];
        const double first = load.asked >= 0.0 ? load.asked : load.begun;
        if (load.level != wait.level || first < 0.0 || first > until)
            continue;
        return load.arrived >= 0.0 && load.arrived < wait.began ? nullptr : &load;
    }
    return nullptr;
}

// Asked for (or begun) to in, where both are known.
bool Span(const LevelLoadTimes::Load& load, double& from, double& to)
{
    from = load.asked >= 0.0 ? load.asked : load.begun;
    to = load.arrived >= 0.0 ? load.arrived : load.ended;
    return from >= 0.0 && to >= from;
}

// Why the wait's level came late, from its load's times against the run's usual load.
std::string WhyLate(const std::vector<LevelLoadTimes::Load>& loads, const LevelLoadTimes::Wait& wait,
                    double usualMs, size_t usualOf, float unitsPerSecond)
{
    const std::string name = ShortLevelName(wait.level);
    const LevelLoadTimes::Load* load = LoadOf(loads, wait);
    if (!load)
        return name + " came late: no load of its level was under way, its render data alone was loading on "
                      "its thread";
    const double in = wait.arrived >= 0.0 ? wait.arrived : load->arrived;
    int beside = 0;
    double from = 0.0, to = 0.0;
    if (Span(*load, from, to))
        for (const LevelLoadTimes::Load& other : loads) {
            double otherFrom = 0.0, otherTo = 0.0;
            if (&other != load && Span(other, otherFrom, otherTo) && otherFrom < to && otherTo > from)
                ++beside;
        }
    // No ask seen before the wait: the load was asked for before the flight, or in the very update
    // that then needed it (the host looks after the update).
    if (load->asked < 0.0 || load->asked > wait.began) {
        std::string text = name +
                           " came late: the host saw no ask for its load (asked for before the flight, "
                           "or in the frame that needed it)";
        if (load->begun >= 0.0 && load->begun <= wait.began)
            text += GAME::FormatString(", and its thread had begun reading it %.0f ms before it was needed",
                                       wait.began - load->begun);
        if (in >= 0.0)
            text += GAME::FormatString("; it was in %.0f ms after it was needed", in - wait.began);
        return text + GAME::FormatString(", beside %s", Counted(beside, "other load", "other loads").c_str());
    }
    const double lead = wait.began - load->asked;
    std::string text = GAME::FormatString("%s came late: its load was asked for %.0f ms before it was needed",
                                          name.c_str(), lead);
    if (load->askedPath >= 0.0 && wait.path >= 0.0)
        text += GAME::FormatString(" (with the camera %.0f units back along its path)",
                                   (wait.path - load->askedPath) / 1000.0 * unitsPerSecond);
    if (in < 0.0)
        return text;
    const double took = in - load->asked;
    text += GAME::FormatString(" and was in after %.0f ms, beside %s", took,
                               Counted(beside, "other load", "other loads").c_str());
    if (usualOf < 2 || usualMs <= 0.0)
        return text;
    text += GAME::FormatString(
        "; a load took %.0f ms (the median of the %zu asked for in the flight): ", usualMs, usualOf);
    // Needed sooner than a usual load takes: whatever came to it came too fast for any load; needed
    // later, the load itself was slow. Twice the usual or more is a slow load, whatever else.
    const bool soon = lead < usualMs;
    const bool slow = took > 2.0 * usualMs;
    if (!soon && slow)
        return text +
               GAME::FormatString("this one took %.1f times that, the machine busy (the loading threads "
                                  "short of processor time)",
                                  took / usualMs);
    const std::string reach =
        GAME::FormatString("%.0f units, or %d doorways", GAME::Engine::GetLevelLoadInflation(),
                           GAME::RegionLoader::maxPortalDepth);
    const char* came = soon ? "less than" : "about";
    switch (wait.need) {
    case LevelLoadTimes::NEED_DRAWING:
        text +=
            GAME::FormatString("the camera came within the view's reach of it (%s) %s a load's time before "
                               "the view drew it",
                               reach.c_str(), came);
        break;
    case LevelLoadTimes::NEED_UPDATE:
        text +=
            GAME::FormatString("the world's update (the entities of the levels round the view) needed it %s "
                               "a load's time after the view's reach (%s) had asked for it",
                               came, reach.c_str());
        break;
    case LevelLoadTimes::NEED_OTHER:
        text += GAME::FormatString("it was needed %s a load's time after it was asked for", came);
        break;
    }
    if (slow)
        text += GAME::FormatString(", and this load took %.1f times the usual, the machine busy too",
                                   took / usualMs);
    else if (!soon)
        text += GAME::FormatString(", and this load took a little longer than usual (%.1f times)",
                                   took / usualMs);
    return text;
}

} // namespace

std::string ShortLevelName(const std::string& name)
{
    const size_t slash = name.find_last_of("/\\");
    std::string text = slash == std::string::npos ? name : name.substr(slash + 1);
    const size_t dot = text.rfind('.');
    return dot == std::string::npos ? text : text.substr(0, dot);
}

LevelLoadTimes::LevelLoadTimes() = default;

LevelLoadTimes::~LevelLoadTimes()
{
    Stop();
}

double LevelLoadTimes::Now() const
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - m_start).count();
}

void LevelLoadTimes::Ask(const std::string& level, double ms, double pathMs)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    // A load under way already (begun before the host looked) is that load.
    for (auto it = m_loads.rbegin(); it != m_loads.rend(); ++it)
        if (it->level == level) {
            if (it->arrived < 0.0 && it->ended < 0.0)
                return;
            break;
        }
    Load load;
    load.level = level;
    load.asked = ms;
    load.askedPath = pathMs;
    m_loads.push_back(std::move(load));
}

void LevelLoadTimes::LoadBegan(const std::string& level, double ms)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    // The level's load asked for and not begun yet; otherwise one the host did not see asked for
    // (the main thread's own, or one asked for outside the flight's frames).
    for (auto it = m_loads.rbegin(); it != m_loads.rend(); ++it)
        if (it->level == level) {
            if (it->begun < 0.0 && it->arrived < 0.0) {
                it->begun = ms;
                return;
            }
            break;
        }
    Load load;
    load.level = level;
    load.begun = ms;
    m_loads.push_back(std::move(load));
}

void LevelLoadTimes::LoadEnded(const std::string& level, double ms)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (auto it = m_loads.rbegin(); it != m_loads.rend(); ++it)
        if (it->level == level) {
            if (it->begun >= 0.0 && it->ended < 0.0)
                it->ended = ms;
            return;
        }
}

size_t LevelLoadTimes::WaitBegan(const std::string& level, double ms, double pathMs, Need need,
                                 const std::string& when)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_waits.push_back(Wait{level, ms, -1.0, pathMs, need, when});
    return m_waits.size() - 1;
}

void LevelLoadTimes::Watch(const GAME::Region* region)
{
    if (!region)
        return;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_stop)
        return;
    for (const auto& watched : m_watched)
        if (watched.first == region)
            return;
    m_watched.emplace_back(region, region->GetName());
    if (!m_timer.joinable())
        m_timer = std::thread(&LevelLoadTimes::TimerMain, this);
    m_wake.notify_all();
}

void LevelLoadTimes::Settle()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    // The timer holds the lock through a pass: the next pass begins after this call.
    const uint64_t next = m_passes + 1;
    m_wake.wait(lock, [&] { return m_stop || m_watched.empty() || m_passes >= next; });
}

void LevelLoadTimes::Stop()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
        m_watched.clear();
        m_wake.notify_all();
    }
    if (m_timer.joinable())
        m_timer.join();
}

size_t LevelLoadTimes::GetWaitCount() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_waits.size();
}

std::vector<LevelLoadTimes::Load> LevelLoadTimes::GetLoads() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_loads;
}

std::vector<LevelLoadTimes::Wait> LevelLoadTimes::GetWaits() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_waits;
}

void LevelLoadTimes::Arrived(const std::string& level, double ms)
{
    for (auto it = m_loads.rbegin(); it != m_loads.rend(); ++it)
        if (it->level == level) {
            if (it->arrived < 0.0)
                it->arrived = ms;
            break;
        }
    for (Wait& wait : m_waits)
        if (wait.level == level && wait.arrived < 0.0)
            wait.arrived = ms;
}

void LevelLoadTimes::TimerMain()
{
    // It keeps the main thread's processor and priority, which it is started with: through a wait
    // the main thread sleeps, and the timer wakes as soon as a load is in, not when a busy
    // processor lets it; otherwise it takes the main thread's processor a few microseconds a
    // millisecond.
    GAME::Platform::SetCurrentThreadName("Level Load Timer");
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [&] { return m_stop || !m_watched.empty(); });
        if (m_stop)
            return;
        const double now = Now();
        for (auto it = m_watched.begin(); it != m_watched.end();) {
            if (it->first->IsLoadUnderWay()) {
                ++it;
                continue;
            }
            Arrived(it->second, now);
            it = m_watched.erase(it);
        }
        ++m_passes;
        m_wake.notify_all();
        if (!m_watched.empty()) {
            lock.unlock();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            lock.lock();
        }
    }
}

std::vector<std::string> DescribeLevelWaits(const std::vector<LevelLoadTimes::Load>& loads,
                                            const std::vector<LevelLoadTimes::Wait>& waits,
                                            float unitsPerSecond)
{
    std::vector<std::string> lines;
    if (waits.empty()) {
        lines.push_back("the main thread waited for no level: each was in before anything needed it");
        return lines;
    }
    // The usual load: asked for in the flight, to in.
    std::vector<double> times;
    for (const LevelLoadTimes::Load& load : loads)
        if (load.asked >= 0.0 && load.arrived >= load.asked)
            times.push_back(load.arrived - load.asked);
    const double usualMs = Median(times);
    double total = 0.0;
    std::string list;
    for (const LevelLoadTimes::Wait& wait : waits) {
        list += list.empty() ? "" : "; ";
        list += ShortLevelName(wait.level);
        if (wait.arrived >= 0.0) {
            total += wait.arrived - wait.began;
            list += GAME::FormatString(" %.0f ms", wait.arrived - wait.began);
        } else {
            list += " (not timed)";
        }
        if (!wait.when.empty())
            list += " " + wait.when;
        list += wait.need == LevelLoadTimes::NEED_DRAWING  ? ", for the view's drawing"
                : wait.need == LevelLoadTimes::NEED_UPDATE ? ", for the world's update"
                                                           : "";
    }
    lines.push_back(
        GAME::FormatString("the main thread waited for %s, %.0f ms in all: %s",
                           Counted(static_cast<long long>(waits.size()), "level still loading on its thread",
                                   "levels still loading on their threads")
                               .c_str(),
                           total, list.c_str()));
    for (const LevelLoadTimes::Wait& wait : waits)
        lines.push_back(WhyLate(loads, wait, usualMs, times.size(), unitsPerSecond));
    return lines;
}

} // namespace SampleHost
