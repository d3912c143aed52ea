#include "HostOptions.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

namespace SampleHost {

namespace {

// value is null when the option takes no argument, or when an optional one was not given.
using Apply = bool (*)(HostOptions& options, const char* value, std::string& error);

enum class Argument
{
    NONE,
    REQUIRED,
    OPTIONAL, // taken from the next word only when IsArgument says the word is one
};

struct OptionRow
{
    const char* shortName; // "-h", or null
    const char* longName;  // "--help"
    Argument argument;
    const char* argumentName; // in the usage ("<address>[:port]", "port"); null for a flag
    const char* help;         // may hold line feeds
    Apply apply;
    bool (*isArgument)(const char* word); // for Argument::OPTIONAL
};

struct ArgumentRow
{
    const char* name;
    const char* help;
    Apply apply;
};

// A whole number, every character of text.
bool ParseInt(std::string_view text, int& value)
{
    const char* end = text.data() + text.size();
    const std::from_chars_result result = std::from_chars(text.data(), end, value);
    return !text.empty() && result.ec == std::errc() && result.ptr == end;
}

bool ParsePort(std::string_view text, int& port)
{
    int value = 0;
    if (!ParseInt(text, value) || value < 1 || value > 65535)
        return false;
    port = value;
    return true;
}

// A word that is a whole number is --server's port, good or bad (a bad one is refused, not taken
// for the run folder); any other word is the next argument.
bool IsPortWord(const char* word)
{
    return std::strpbrk(word, "0123456789") && std::strspn(word, "+-0123456789") == std::strlen(word);
}

bool SetPort(int& port, const char* option, const char* value, std::string& error)
{
    if (ParsePort(value, port))
        return true;
    error = std::string(option) + " needs a port from 1 to 65535, not \"" + value + "\"";
    return false;
}

// --port and a port given with --server or --connect: the one read last would win unsaid.
// (--server with --connect is refused as such once all are read.)
bool TakePort(HostOptions& options, const char* option, std::string& error)
{
    const char*& from = options.network.portFrom;
    if (from && std::strcmp(from, option) != 0 &&
        (!std::strcmp(from, "--port") || !std::strcmp(option, "--port"))) {
        error = std::string(from) + " and " + option + " both give the port; give it once";
        return false;
    }
    from = option;
    return true;
}

bool SetFolder(HostOptions& options, const char* value, std::string& error)
{
    if (!*value) {
        error = "the run folder is empty";
        return false;
    }
    options.folder = value;
    return true;
}

// A word of digits alone is a frame count, however large (a folder named by digits is given as
// "./300").
bool IsCountWord(std::string_view word)
{
    return !word.empty() && word.find_first_not_of("0123456789") == std::string_view::npos;
}

bool SetFrames(HostOptions& options, const char* value, std::string& error)
{
    int frames = 0;
    if (IsCountWord(value) && !ParseInt(value, frames)) {
        error = std::string("the frame count \"") + value + "\" is out of range: at most " +
                std::to_string(std::numeric_limits<int>::max());
        return false;
    }
    if (!ParseInt(value, frames) || frames < 0) {
        error = std::string("the frame count must be a whole number of 0 or more, not \"") + value + "\"";
        return false;
    }
    options.frames = frames;
    return true;
}

bool SetHelp(HostOptions& options, const char*, std::string&)
{
    options.help = true;
    return true;
}

bool SetWindow(HostOptions& options, const char*, std::string&)
{
    options.window = true;
    return true;
}

bool SetStats(HostOptions& options, const char*, std::string&)
{
    options.stats = true;
    return true;
}

bool SetVerbose(HostOptions& options, const char*, std::string&)
{
    options.verbose = true;
    return true;
}

bool SetDevice(HostOptions& options, const char* value, std::string& error)
{
    for (const char* device : {"OpenGL", "Software"})
        if (std::strcmp(value, device) == 0) {
            options.device = device;
            return true;
        }
    error = std::string("unknown render device \"") + value + "\" (OpenGL or Software)";
    return false;
}

bool SetServer(HostOptions& options, const char* value, std::string& error)
{
    options.network.role = NetworkOptions::ROLE_SERVER;
    return !value ||
           (TakePort(options, "--server", error) && SetPort(options.network.port, "--server", value, error));
}

bool SetConnect(HostOptions& options, const char* value, std::string& error)
{
    std::string address = value;
    const size_t colon = address.rfind(':');
    if (colon != std::string::npos) {
        if (!TakePort(options, "--connect", error))
            return false;
        if (!ParsePort(std::string_view(address).substr(colon + 1), options.network.port)) {
            error = "--connect needs <address>[:port] with a port from 1 to 65535, not \"" + address + "\"";
            return false;
        }
        address.resize(colon);
    }
    if (address.empty()) {
        error = "--connect needs a server address";
        return false;
    }
    options.network.role = NetworkOptions::ROLE_CLIENT;
    options.network.address = address;
    return true;
}

bool SetNetworkPort(HostOptions& options, const char* value, std::string& error)
{
    return TakePort(options, "--port", error) && SetPort(options.network.port, "--port", value, error);
}

// The usage names the default port.
static_assert(NetworkOptions::defaultPort == 29460);

const OptionRow optionTable[] = {
    {"-h", "--help", Argument::NONE, nullptr, "print this text and exit", SetHelp, nullptr},
    {nullptr, "--window", Argument::NONE, nullptr,
     "run in a game window when a display exists (else headless);\n"
     "Escape or closing the window ends the run",
     SetWindow, nullptr},
    {nullptr, "--stats", Argument::NONE, nullptr,
     "show the engine's statistics from the start: the profiler's panels\n"
     "and the thread monitor (F3 in the window shows or hides them)",
     SetStats, nullptr},
    {"-v", "--verbose", Argument::NONE, nullptr,
     "print the library's info lines too (loads, start-up steps), and the\n"
     "lines for the engine's developers (a path's corners, each screenshot);\n"
     "log.html holds them either way",
     SetVerbose, nullptr},
    {nullptr, "--device", Argument::REQUIRED, "<name>",
     "the render device: OpenGL (the default; draws, headless through EGL\n"
     "or in the window) or Software (records the calls, draws nothing)",
     SetDevice, nullptr},
    {nullptr, "--server", Argument::OPTIONAL, "port",
     "host a network session on every address, on the port given\n"
     "(default 29460); a number right after --server is its port:\n"
     "--server 300 hosts on port 300 (a frame count goes before it)",
     SetServer, IsPortWord},
    {nullptr, "--connect", Argument::REQUIRED, "<address>[:port]",
     "join the session of the server at the address (default port 29460)", SetConnect, nullptr},
    {nullptr, "--port", Argument::REQUIRED, "<port>", "the port for --server or --connect", SetNetworkPort,
     nullptr},
};

const ArgumentRow argumentTable[] = {
    {"run-folder",
     "where the game data, the world, the user's settings and log.html go\n"
     "(default: host-run in the current folder; made when missing); one\n"
     "run's at a time: a folder another run is using is refused; a\n"
     "folder named by digits alone is given as ./300",
     SetFolder},
    {"frames",
     "the whole flight in this many frames, run as fast as they go;\n"
     "0 or none: the flight in real time, one frame every 10 ms at most",
     SetFrames},
};
constexpr size_t folderArgument = 0;
constexpr size_t framesArgument = 1;

const OptionRow* FindOption(std::string_view name)
{
    for (const OptionRow& row : optionTable)
        if ((row.shortName && name == row.shortName) || name == row.longName)
            return &row;
    return nullptr;
}

// What the options say together, once all are read; given holds the long names of those given.
bool CheckTogether(const HostOptions& options, const std::vector<std::string_view>& given, std::string& error)
{
    auto isGiven = [&](std::string_view name) {
        return std::find(given.begin(), given.end(), name) != given.end();
    };
    if (isGiven("--server") && isGiven("--connect")) {
        error = "--server and --connect exclude each other: a host either hosts a session or joins one";
        return false;
    }
    if (isGiven("--port") && options.network.role == NetworkOptions::ROLE_NONE) {
        error = "--port is the port for --server or --connect; neither is given";
        return false;
    }
    return true;
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
    if (row.argument == Argument::REQUIRED)
        name += std::string(" ") + row.argumentName;
    else if (row.argument == Argument::OPTIONAL)
        name += std::string(" [") + row.argumentName + "]";
    return name;
}

} // namespace

bool ParseHostOptions(int argc, const char* const* argv, HostOptions& options, std::string& error)
{
    bool taken[std::size(argumentTable)] = {};
    bool optionsEnded = false;
    std::vector<std::string_view> given;
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
            else if (row->argument == Argument::REQUIRED && i + 1 < argc && argv[i + 1][0] != '-')
                value = argv[++i]; // an option after it is no argument of it ("--name=-x" is)
            else if (row->argument == Argument::OPTIONAL && i + 1 < argc && row->isArgument(argv[i + 1]))
                value = argv[++i];
            if (row->argument == Argument::REQUIRED && !value) {
                error = "option " + std::string(name) + " needs its argument " + row->argumentName;
                return false;
            }
            if (row->argument == Argument::NONE && value) {
                error = "option " + std::string(name) + " takes no argument";
                return false;
            }
            if (!row->apply(options, value, error))
                return false;
            given.push_back(row->longName);
            continue;
        }
        // A whole number is the frame count, any other word the run folder, in either order.
        int number = 0;
        const size_t kind = IsCountWord(arg) || ParseInt(arg, number) ? framesArgument : folderArgument;
        if (taken[kind]) {
            error = std::string(kind == framesArgument ? "a second frame count: " : "a second run folder: ") +
                    std::string(arg);
            return false;
        }
        taken[kind] = true;
        if (!argumentTable[kind].apply(options, argv[i], error))
            return false;
    }
    return CheckTogether(options, given, error);
}

std::string HostUsage()
{
    std::string text = "Usage: EngineHost [options]";
    for (const ArgumentRow& row : argumentTable)
        text += std::string(" [") + row.name + "]";
    text += "\n\n"
            "Makes a small game's data and a generated world in the run folder, starts the engine\n"
            "over a render device (headless, or in a window), flies a camera across every region\n"
            "of the world while their levels stream in and out, and shuts the engine down. Every\n"
            "line it prints also goes to log.html in the run folder.\n";

    size_t column = 0;
    for (const ArgumentRow& row : argumentTable)
        column = std::max(column, std::strlen(row.name) + 4);
    for (const OptionRow& row : optionTable)
        column = std::max(column, OptionName(row).size() + 4);
    text += "\nArguments, in either order (a whole number is the frame count, but one right after\n"
            "--server is its port):\n";
    for (const ArgumentRow& row : argumentTable)
        AddUsageRow(text, row.name, row.help, column);
    text += "\nOptions:\n";
    for (const OptionRow& row : optionTable)
        AddUsageRow(text, OptionName(row), row.help, column);
    text += "\nA server and a client on one machine need a run folder each, e.g.\n"
            "  EngineHost run-server --server        and        EngineHost run-client --connect 127.0.0.1\n";
    return text;
}

} // namespace SampleHost
