// Figures printed at the end of every benchmark program, one per line:
//   ratio <figure> = <library cost / reference cost>
//   value <figure> = <number> <unit>        (counts as whole numbers, never in exponent form)
// and the command line every benchmark program shares: no arguments, or --help.
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

class BenchReport
{
public:
    void Ratio(const std::string& figure, double value) { m_lines.push_back(Format("ratio", figure, value, "")); }
    void Value(const std::string& figure, double value, const std::string& unit)
    {
        m_lines.push_back(Format("value", figure, value, unit));
    }
    // Things counted: packets, bodies, frames, regions.
    void Count(const std::string& figure, long long value, const std::string& unit)
    {
        char buffer[256];
        std::snprintf(buffer, sizeof(buffer), "value %s = %lld%s%s", figure.c_str(), value, unit.empty() ? "" : " ",
                      unit.c_str());
        m_lines.push_back(buffer);
    }
    void Print() const
    {
        for (const auto& line : m_lines)
            std::printf("%s\n", line.c_str());
        std::fflush(stdout);
    }

private:
    static std::string Format(const char* kind, const std::string& figure, double value, const std::string& unit)
    {
        // Four significant digits; a figure of 10,000 or more in whole units (rates, large times).
        char buffer[256];
        std::snprintf(buffer, sizeof(buffer), value >= 1e4 || value <= -1e4 ? "%s %s = %.0f%s%s" : "%s %s = %.4g%s%s",
                      kind, figure.c_str(), value, unit.empty() ? "" : " ", unit.c_str());
        return buffer;
    }
    std::vector<std::string> m_lines;
};

// The command line of a benchmark program: with --help (or -h) the help text goes to standard
// output and the answer is 0; any other argument is refused with the help on standard error (2);
// no argument: -1, the benchmark runs. The help says what the program measures, against what
// reference, on which device, and for each figure which way is better.
int BenchCommandLine(int argc, char** argv, const char* help);

// Runs fn `rounds` times and returns the smallest wall time in seconds (least disturbed run).
double BestOf(int rounds, const std::function<void()>& fn);
