// Polling for the thread tests: waits until a condition holds, checking every millisecond. False
// after a minute, which means a hang, not a slow machine; it measures no time.
#pragma once

#include <chrono>
#include <thread>

namespace GAME::Test {

template <typename Condition> bool WaitUntil(Condition condition)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

} // namespace GAME::Test
