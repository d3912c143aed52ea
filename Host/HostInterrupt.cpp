#include "HostInterrupt.h"

#include <csignal>
#include <cstdlib>

namespace SampleHost {

namespace {

volatile std::sig_atomic_t g_interrupt = 0;

extern "C" void OnInterrupt(int signal)
{
    // Only what is safe in a handler: the flag, or, the second time, the end, with the code of
    // the signal that asked the run to end (a SIGTERM, then a Ctrl-C: 143).
    if (g_interrupt != 0)
        std::_Exit(128 + g_interrupt);
    g_interrupt = signal;
}

} // namespace

void CatchInterrupts()
{
    std::signal(SIGINT, OnInterrupt);
    std::signal(SIGTERM, OnInterrupt);
}

int GetInterrupt()
{
    return g_interrupt;
}

std::string DescribeInterrupt()
{
    switch (g_interrupt) {
    case 0:
        return std::string();
    case SIGINT:
        return "interrupted (Ctrl-C, SIGINT)";
    case SIGTERM:
        return "interrupted (SIGTERM)";
    default:
        return "interrupted (signal " + std::to_string(g_interrupt) + ")";
    }
}

int InterruptExitCode(int signal)
{
    return 128 + signal;
}

} // namespace SampleHost
