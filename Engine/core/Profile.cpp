#include "core/Profile.h"

#include "core/Thread.h"
#include "platform/Clock.h"

#include <atomic>
#include <string_view>
#include <unordered_map>

namespace GAME {

namespace {

struct NameHash
{
    size_t operator()(std::string_view name) const
    {
        size_t h = 0;
        for (char c : name)
            h = h * 5 + static_cast<unsigned char>(c);
        return h;
    }
};

struct Entry
{
    const char* name;
    uint64_t cycles; // a frame's sum may pass 2^32 cycles (about 1.4 s at 3 GHz) in a slow frame
    unsigned int calls;
};

std::atomic<bool> g_enabled{false};

// Keyed by the text, so one name spelt by two literals is one block.
std::unordered_map<std::string_view, Entry, NameHash>& FrameTable()
{
    static std::unordered_map<std::string_view, Entry, NameHash> table;
    return table;
}

unsigned int CycleCountLow()
{
    return static_cast<unsigned int>(Platform::CycleCounter());
}

} // namespace

Profile::Profile(const char* name) : m_name(name)
{
    if (g_enabled.load(std::memory_order_relaxed))
        m_start = Platform::CycleCounter();
}

Profile::~Profile()
{
    // Made while profiling was off: it has no start to count from.
    if (!g_enabled.load(std::memory_order_relaxed) || !m_name || m_start == 0)
        return;
    const uint64_t cycles = Platform::CycleCounter() - m_start;
    if (!IsMainThread())
        return;
    auto [it, added] = FrameTable().try_emplace(std::string_view(m_name), Entry{m_name, cycles, 1});
    if (!added) {
        it->second.cycles += cycles;
        ++it->second.calls;
    }
}

void Profile::StartCycleCount(unsigned int& count)
{
    count = CycleCountLow();
}

void Profile::EndCycleCount(unsigned int& count)
{
    count = CycleCountLow() - count;
}

void Profile::Enable(bool enable)
{
    g_enabled.store(enable, std::memory_order_relaxed);
}

bool Profile::IsEnabled()
{
    return g_enabled.load(std::memory_order_relaxed);
}

void Profile::Update()
{
    FrameTable().clear();
}

void Profile::GetTimeInfo(std::vector<TimeInfo>& out)
{
    const double cyclesPerSecond = static_cast<double>(GetCyclesPerSecond());
    for (const auto& [key, entry] : FrameTable()) {
        TimeInfo info;
        info.name = entry.name;
        info.milliseconds = static_cast<float>(static_cast<double>(entry.cycles) * 1000.0 / cyclesPerSecond);
        info.calls = entry.calls;
        out.push_back(info);
    }
}

uint64_t Profile::GetCyclesPerSecond()
{
    return Platform::CycleCounterRate();
}

} // namespace GAME
