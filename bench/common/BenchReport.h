// Figures printed at the end of every benchmark program, one per line:
//   ratio <figure> = <library cost / reference cost>
//   value <figure> = <number> <unit>
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
    void Print() const
    {
        for (const auto& line : m_lines)
            std::printf("%s\n", line.c_str());
        std::fflush(stdout);
    }

private:
    static std::string Format(const char* kind, const std::string& figure, double value, const std::string& unit)
    {
        char buffer[256];
        std::snprintf(buffer, sizeof(buffer), "%s %s = %.4g%s%s", kind, figure.c_str(), value,
                      unit.empty() ? "" : " ", unit.c_str());
        return buffer;
    }
    std::vector<std::string> m_lines;
};

// Runs fn `rounds` times and returns the smallest wall time in seconds (least disturbed run).
double BestOf(int rounds, const std::function<void()>& fn);
