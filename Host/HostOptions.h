// The sample host's command line: options from one table, then the positional arguments (the run
// folder and the frame count) from another. A row holds the option's names, the name of its
// argument when it takes one, its text in the usage, and the function that stores it in
// HostOptions; adding an option is adding a field here and a row to the table in HostOptions.cpp.
//
//   EngineHost [options] [run-folder] [frames]
//
// Options and arguments may come in any order; "--" ends the options; "--name value" and
// "--name=value" are the same. Main thread only.
#pragma once

#include <string>

namespace SampleHost {

struct HostOptions
{
    // Receives the game data, the world, the user's settings and log.html; the host runs in it.
    std::string folder = "host-run";
    // 0: the flight in real time; otherwise the whole flight in this many frames.
    int frames = 0;
    bool help = false;
};

// Reads argv[1..argc-1] into options. False, with the reason in error, for an unknown option, an
// option without its argument (or a flag given one), a bad argument, or one argument too many.
bool ParseHostOptions(int argc, const char* const* argv, HostOptions& options, std::string& error);

// The usage text, every line ending in a line feed.
std::string HostUsage();

} // namespace SampleHost
