// When the world's levels were asked for, read and in, and how long the main thread waited for the
// ones it needed before their loading threads had finished them: what the host's summary says of
// the waits, and why each level came late. The library's lines carry no times, so they are timed
// here as they arrive ("Begin Loading Level", "End Loading Level", "Main thread sleeping waiting for
// load of level"), a load is asked for when the host first sees its region loading after a frame's
// update (Ask), and a load is in when its region's loading flags clear, which a thread of its own
// ("Level Load Timer") watches every millisecond while some load it was given is under way: the
// main thread sleeps through a wait, so it cannot time its end itself.
//
// Times are milliseconds of the host's clock (and of flight path, where the host was flying).
//
// Threads: Ask, Watch, WaitBegan, Settle and Stop are main-thread calls; LoadBegan and LoadEnded
// come from any thread (the loading threads log those lines); the getters from any thread. The
// watched regions must outlive the timer: Stop ends it before they go.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace GAME {
class Region;
} // namespace GAME

namespace SampleHost {

class LevelLoadTimes
{
public:
    struct Load
    {
        std::string level;   // the region's level, as the library names it
        double asked = -1.0; // -1: not seen asked for (before the flight, or in the update that needed it)
        double askedPath = -1.0;
        double begun = -1.0;   // its thread began reading it
        double ended = -1.0;   // its data read; its render data may follow
        double arrived = -1.0; // in: the region's loading flags clear
    };
    // What needed the level at once.
    enum Need
    {
        NEED_OTHER,
        NEED_UPDATE,  // the world's update (an entity moving into its region, say)
        NEED_DRAWING, // the view's drawing
    };
    struct Wait
    {
        std::string level;
        double began = 0.0;
        double arrived = -1.0; // -1: not timed (the region was not found)
        double path = -1.0;    // ms of flight path; -1: outside the flight
        Need need = NEED_OTHER;
        std::string when; // "at 9800 ms of path, the view in Field_4_5"
    };

    LevelLoadTimes();
    ~LevelLoadTimes();
    LevelLoadTimes(const LevelLoadTimes&) = delete;
    LevelLoadTimes& operator=(const LevelLoadTimes&) = delete;

    // Milliseconds since the record was made.
    double Now() const;

    // A load the host saw begin, at the flight path's time given (-1: not flying).
    void Ask(const std::string& level, double ms, double pathMs);
    void LoadBegan(const std::string& level, double ms);
    void LoadEnded(const std::string& level, double ms);
    // The wait's index; its end comes from the timer watching its region (Watch).
    size_t WaitBegan(const std::string& level, double ms, double pathMs, Need need, const std::string& when);
    // Times the end of the region's load under way: the first moment the timer sees its loading
    // flags clear is its load's arrival, and that of the waits for its level still open.
    void Watch(const GAME::Region* region);
    // Returns once the timer has looked at every region it watches since the call: a load over by
    // then has its arrival.
    void Settle();
    // Ends the timer; the regions may go.
    void Stop();

    size_t GetWaitCount() const;
    std::vector<Load> GetLoads() const;
    std::vector<Wait> GetWaits() const;

private:
    void Arrived(const std::string& level, double ms);
    void TimerMain();

    const std::chrono::steady_clock::time_point m_start = std::chrono::steady_clock::now();
    mutable std::mutex m_mutex;
    std::vector<Load> m_loads;
    std::vector<Wait> m_waits;
    // The timer's: the regions whose loads it times, with their names.
    std::condition_variable m_wake;
    std::vector<std::pair<const GAME::Region*, std::string>> m_watched;
    uint64_t m_passes = 0;
    bool m_stop = false;
    std::thread m_timer;
};

// "Field_5_5" of "Levels/Generated/Field_5_5.lvl".
std::string ShortLevelName(const std::string& name);

// The summary's lines on the main thread's waits: how many, how long in all and for which levels,
// then for each why its level came late, from what the run measured: when its load was asked for
// and when it was needed, how long its load took against the run's usual load (the median of the
// loads asked for in the flight), the loads beside it, and what needed it (the world's update or
// the view's drawing); the camera flies unitsPerSecond along its path.
// One line saying there was none when none.
std::vector<std::string> DescribeLevelWaits(const std::vector<LevelLoadTimes::Load>& loads,
                                            const std::vector<LevelLoadTimes::Wait>& waits,
                                            float unitsPerSecond);

} // namespace SampleHost
