// The sample host's command line: options from one table, then the positional arguments (the run
// folder and the frame count) from another. A row holds the option's names, its argument (none,
// required or optional) and that argument's name in the usage, its text in the usage, and the
// function that stores it in HostOptions; adding an option is adding a field here and a row to the
// table in HostOptions.cpp. The usage (--help) is made from the tables.
//
//   EngineHost [options] [run-folder] [frames]
//
// Options and arguments may come in any order; a whole number is the frame count (one right after
// --server is its port, below) and any other argument the run folder (a folder named by digits
// alone is given as "./300"); "--" ends the options; "--name value" and "--name=value" are the
// same, but a word starting with '-' is taken as an argument only in the second form. An optional
// argument ("--server [port]") is the next word only when that word is such an argument (a whole
// number, which must then be a port from 1 to 65535): "--server run-1" hosts on the default port
// with run-1 as the run folder, "--server 99999" is refused; "--server=<port>" always names it.
// Main thread only.
#pragma once

#include "NetworkOptions.h"

#include <string>

namespace SampleHost {

struct HostOptions
{
    static constexpr const char* defaultDevice = "OpenGL";

    // Receives the game data, the world, the user's settings and log.html; the host runs in it.
    std::string folder = "host-run";
    // 0: the flight in real time; otherwise the whole flight in this many frames.
    int frames = 0;
    // A game window when a display exists (else headless, said once).
    bool window = false;
    // The profiler's panels and the thread monitor on from the start (F3 in the window toggles).
    bool stats = false;
    // The library's info lines printed too (log.html holds them either way).
    bool verbose = false;
    // The render device module: "OpenGL" draws, "Software" records and draws nothing.
    std::string device = defaultDevice;
    // --server, --connect and --port.
    NetworkOptions network;
    bool help = false;
};

// Reads argv[1..argc-1] into options. False, with the reason in error, for an unknown option, an
// option without its argument (or a flag given one), a bad argument, a second run folder or frame
// count, or options that contradict each other (--server with --connect, --port with neither,
// --port with a port given to --server or --connect).
bool ParseHostOptions(int argc, const char* const* argv, HostOptions& options, std::string& error);

// The usage text, every line ending in a line feed.
std::string HostUsage();

} // namespace SampleHost
