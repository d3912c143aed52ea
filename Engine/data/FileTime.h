// Last-write time of a file: a Windows FILETIME, 100-nanosecond ticks since 1601-01-01 UTC, as
// two 32-bit words (low first), the form archives store. A plain value.
#pragma once

#include <cstdint>

namespace GAME {

struct FileTime
{
    uint32_t low = 0;
    uint32_t high = 0;

    constexpr uint64_t Ticks() const { return (static_cast<uint64_t>(high) << 32) | low; }
    static constexpr FileTime FromTicks(uint64_t ticks)
    {
        return FileTime{static_cast<uint32_t>(ticks), static_cast<uint32_t>(ticks >> 32)};
    }
    constexpr bool operator==(const FileTime& o) const { return low == o.low && high == o.high; }
    constexpr bool operator!=(const FileTime& o) const { return !(*this == o); }
};

// -1 when a is earlier than b, 0 when equal, 1 when later.
constexpr int CompareFileTime(const FileTime& a, const FileTime& b)
{
    return a.Ticks() < b.Ticks() ? -1 : (a.Ticks() > b.Ticks() ? 1 : 0);
}

} // namespace GAME
