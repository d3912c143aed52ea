// What the benchmark programs read of the machine they run on: its load average (printed with
// wall-clock figures, which a busy machine stretches) and the milliseconds between two readings of
// the steady clock.
#pragma once

#include <chrono>
#include <fstream>
#include <string>

// "1.52 1.31 0.98": the load average over 1, 5 and 15 minutes.
inline std::string LoadAverage()
{
    std::ifstream file("/proc/loadavg");
    std::string one, five, fifteen;
    file >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

inline double Milliseconds(std::chrono::steady_clock::time_point from,
                           std::chrono::steady_clock::time_point to)
{
    return std::chrono::duration<double, std::milli>(to - from).count();
}
