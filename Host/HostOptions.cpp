#include "HostOptions.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <string_view>

namespace SampleHost {

namespace {

using Apply = bool (*)(HostOptions& options, const char* value, std::string& error);

struct OptionRow
{
    const char* shortName; // "-h", or null
    const char* longName;  // "--help"
    const char* argument;  // the argument's name in the usage ("<address>"); null for a flag
    const char* help;      // may hold line feeds
    Apply apply;
};

struct ArgumentRow
{
    const char* name;
    const char* help;
    Apply apply;
};

bool SetFolder(HostOptions& options, const char* value, std::string& error)
{
    if (!*value) {
        error = "the run folder is empty";
        return false;
    }
    options.folder = value;
    return true;
}

bool SetFrames(HostOptions& options, const char* value, std::string& error)
{
    const char* end = value + std::strlen(value);
    int frames = 0;
    const std::from_chars_result result = std::from_chars(value, end, frames);
    if (result.ec != std::errc() || result.ptr != end || frames < 0) {
        error = std::string("the frame count must be a whole number of 0 or more, not \"") + value + "\"";
        return false;
    }
    options.frames = frames;
    return true;
}

const OptionRow optionTable[] = {
    {"-h", "--help", nullptr, "print this text and exit",
     [](HostOptions& options, const char*, std::string&) {
         options.help = true;
         return true;
     }},
};

const ArgumentRow argumentTable[] = {
    {"run-folder",
     "where the game data, the world, the user's settings and log.html go\n"
     "(default: host-run in the current folder; made when missing)",
     SetFolder},
    {"frames",
     "the whole flight in this many frames, run as fast as they go;\n"
     "0 or none: the flight in real time, at about 100 frames a second",
     SetFrames},
};

const OptionRow* FindOption(std::string_view name)
{
    for (const OptionRow& row : optionTable)
        if ((row.shortName && name == row.shortName) || name == row.longName)
            return &row;
    return nullptr;
}

// "  name   help", the help's further lines under its first.
void AddUsageRow(std::string& text, const std::string& name, const char* help, size_t column)
{
    std::string line = "  " + name;
    line.resize(std::max(column, line.size() + 2), ' ');
    for (const char* start = help;;) {
        const char* end = std::strchr(start, '\n');
        text += line + std::string(start, end ? end : start + std::strlen(start)) + "\n";
        if (!end)
            break;
        start = end + 1;
        line.assign(column, ' ');
    }
}

std::string OptionName(const OptionRow& row)
{
    std::string name = row.shortName ? std::string(row.shortName) + ", " + row.longName : row.longName;
    if (row.argument)
        name += std::string(" ") + row.argument;
    return name;
}

} // namespace

bool ParseHostOptions(int argc, const char* const* argv, HostOptions& options, std::string& error)
{
    size_t positional = 0;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (!optionsEnded && arg == "--") {
            optionsEnded = true;
            continue;
        }
        if (!optionsEnded && arg.size() > 1 && arg[0] == '-') {
            const size_t equals = arg.rfind("--", 0) == 0 ? arg.find('=') : std::string_view::npos;
            const std::string_view name = arg.substr(0, equals);
            const OptionRow* row = FindOption(name);
            if (!row) {
                error = "unknown option " + std::string(name);
                return false;
            }
            const char* value = nullptr;
            if (equals != std::string_view::npos)
                value = argv[i] + equals + 1;
            else if (row->argument && i + 1 < argc)
                value = argv[++i];
            if (row->argument && !value) {
                error = "option " + std::string(name) + " needs its argument " + row->argument;
                return false;
            }
            if (!row->argument && value) {
                error = "option " + std::string(name) + " takes no argument";
                return false;
            }
            if (!row->apply(options, value ? value : "", error))
                return false;
            continue;
        }
        if (positional >= std::size(argumentTable)) {
            error = "one argument too many: " + std::string(arg);
            return false;
        }
        if (!argumentTable[positional++].apply(options, argv[i], error))
            return false;
    }
    return true;
}

std::string HostUsage()
{
    std::string text = "Usage: EngineHost [options]";
    for (const ArgumentRow& row : argumentTable)
        text += std::string(" [") + row.name + "]";
    text += "\n\n"
            "Makes a small game's data and a generated world in the run folder, starts the engine\n"
            "headless over the \"Software\" render device, flies a camera across every region of the\n"
            "world while their levels stream in and out, and shuts the engine down. Every line it\n"
            "prints also goes to log.html in the run folder.\n";

    size_t column = 0;
    for (const ArgumentRow& row : argumentTable)
        column = std::max(column, std::strlen(row.name) + 4);
    for (const OptionRow& row : optionTable)
        column = std::max(column, OptionName(row).size() + 4);
    text += "\nArguments:\n";
    for (const ArgumentRow& row : argumentTable)
        AddUsageRow(text, row.name, row.help, column);
    text += "\nOptions:\n";
    for (const OptionRow& row : optionTable)
        AddUsageRow(text, OptionName(row), row.help, column);
    return text;
}

} // namespace SampleHost
