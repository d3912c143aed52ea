// Times named blocks of code in processor cycles and sums them per frame: a Profile object made at
// the top of a block records, when it goes out of scope, the cycles the block took under the
// block's name. The profiler widget reads the frame's sums (GetTimeInfo) and starts the next frame
// (Update). With profiling off a Profile costs one flag test on entry and one on exit.
//
// Threads: Enable may be called from any thread. The frame table belongs to the main thread: only
// blocks that end there are recorded, and GetTimeInfo and Update are main-thread calls.
#pragma once

#include <cstdint>
#include <vector>

namespace GAME {

class Profile
{
public:
    struct TimeInfo
    {
        const char* name = nullptr;
        float milliseconds = 0.0f;
        unsigned int calls = 0;
    };

    // name must outlive the frame (as a rule a literal).
    explicit Profile(const char* name);
    ~Profile();
    Profile(const Profile&) = delete;
    Profile& operator=(const Profile&) = delete;

    // The low half of the cycle counter into count; EndCycleCount leaves the cycles since then.
    static void StartCycleCount(unsigned int& count);
    static void EndCycleCount(unsigned int& count);

    static void Enable(bool enable);
    static bool IsEnabled();
    // Empties the frame table for the next frame.
    static void Update();
    // Appends one record per block timed this frame (in no particular order).
    static void GetTimeInfo(std::vector<TimeInfo>& out);
    // The cycle counter's rate, measured once.
    static uint64_t GetCyclesPerSecond();

private:
    const char* m_name;
    uint64_t m_start = 0; // the whole counter: a block may outlast the low half's 2^32 cycles
};

} // namespace GAME
