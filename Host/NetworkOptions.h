// The sample host's network options, parsed apart from its other arguments so that they can join
// any argument scheme:
//   --server [port]                 host a session on every address (default port 29460)
//   --connect <address>[:port]      join the session of the server at the address
//   --port <port>                   the port for either
// Without them the host runs alone (the engine's stub network).
#pragma once

#include <string>

namespace GAME {
class Engine;
}

namespace SampleHost {

struct NetworkOptions
{
    enum Role
    {
        ROLE_NONE = 0,
        ROLE_SERVER,
        ROLE_CLIENT,
    };
    static constexpr int defaultPort = 29460;

    Role role = ROLE_NONE;
    std::string address;
    int port = defaultPort;
};

// Takes the network options out of argv (argc shrinks, the other arguments keep their order).
// False, with a message on standard output, for an option given wrongly.
bool TakeNetworkOptions(int& argc, char** argv, NetworkOptions& options);
// Switches the engine to the role and opens the session; false (with a message) when it could not.
bool StartNetwork(GAME::Engine& engine, const NetworkOptions& options);
// "server, 2 clients", "client, host 1 of 127.0.0.1:29460", "connecting to ...", "stub (no network)".
std::string DescribeNetwork(GAME::Engine& engine);

} // namespace SampleHost
