#include "common/BenchReport.h"

#include <chrono>
#include <limits>

double BestOf(int rounds, const std::function<void()>& fn)
{
    double best = std::numeric_limits<double>::infinity();
    for (int i = 0; i < rounds; ++i) {
        auto start = std::chrono::steady_clock::now();
        fn();
        double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (seconds < best)
            best = seconds;
    }
    return best;
}
