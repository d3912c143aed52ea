#include "common/BenchReport.h"

#include <chrono>
#include <cstring>
#include <limits>

int BenchCommandLine(int argc, char** argv, const char* help)
{
    if (argc < 2)
        return -1;
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(help, stdout);
        return 0;
    }
    std::fprintf(stderr, "%s: unknown argument %s (a benchmark takes none but --help)\n\n%s", argv[0], argv[1], help);
    return 2;
}

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
