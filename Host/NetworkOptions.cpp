#include "NetworkOptions.h"

#include "network/ClientConnectionManager.h"
#include "network/ServerConnectionManager.h"
#include "world/Engine.h"

#include <charconv>
#include <cstdio>
#include <cstring>

namespace SampleHost {

namespace {

bool ParsePort(const std::string& text, int& port)
{
    int value = 0;
    const char* end = text.data() + text.size();
    const auto [next, error] = std::from_chars(text.data(), end, value);
    if (error != std::errc() || next != end || value < 1 || value > 65535)
        return false;
    port = value;
    return true;
}

bool IsOption(const char* argument)
{
    return std::strncmp(argument, "--", 2) == 0;
}

} // namespace

bool TakeNetworkOptions(int& argc, char** argv, NetworkOptions& options)
{
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--server") {
            options.role = NetworkOptions::ROLE_SERVER;
            if (i + 1 < argc && !IsOption(argv[i + 1]) && ParsePort(argv[i + 1], options.port))
                ++i;
        } else if (argument == "--connect") {
            if (i + 1 >= argc || IsOption(argv[i + 1])) {
                std::printf("EngineHost: --connect needs a server address\n");
                return false;
            }
            std::string address = argv[++i];
            const size_t colon = address.rfind(':');
            if (colon != std::string::npos) {
                if (!ParsePort(address.substr(colon + 1), options.port)) {
                    std::printf("EngineHost: '%s' is no address:port\n", address.c_str());
                    return false;
                }
                address.resize(colon);
            }
            options.role = NetworkOptions::ROLE_CLIENT;
            options.address = address;
        } else if (argument == "--port") {
            if (i + 1 >= argc || !ParsePort(argv[i + 1], options.port)) {
                std::printf("EngineHost: --port needs a port from 1 to 65535\n");
                return false;
            }
            ++i;
        } else {
            argv[kept++] = argv[i];
        }
    }
    argc = kept;
    argv[argc] = nullptr;
    return true;
}

bool StartNetwork(GAME::Engine& engine, const NetworkOptions& options)
{
    switch (options.role) {
    case NetworkOptions::ROLE_NONE:
        return true;
    case NetworkOptions::ROLE_SERVER: {
        engine.SetAsNetworkServer();
        auto* server = static_cast<GAME::ServerConnectionManager*>(engine.GetNetworkConnectionManager());
        if (!server->Listen(nullptr, options.port)) {
            std::printf("EngineHost: cannot host a session on port %d\n", options.port);
            engine.SetAsNetworkStub();
            return false;
        }
        std::printf("EngineHost: hosting a session on port %d\n", server->GetPort());
        return true;
    }
    case NetworkOptions::ROLE_CLIENT: {
        engine.SetAsNetworkClient();
        auto* client = static_cast<GAME::ClientConnectionManager*>(engine.GetNetworkConnectionManager());
        if (!client->Connect(options.address.c_str(), options.port)) {
            std::printf("EngineHost: cannot connect to %s port %d\n", options.address.c_str(), options.port);
            engine.SetAsNetworkStub();
            return false;
        }
        std::printf("EngineHost: joining the session of %s port %d\n", options.address.c_str(), options.port);
        return true;
    }
    }
    return false;
}

std::string DescribeNetwork(GAME::Engine& engine)
{
    if (engine.IsNetworkServer()) {
        auto* server = static_cast<GAME::ServerConnectionManager*>(engine.GetNetworkConnectionManager());
        return "server, " + std::to_string(server->GetNumClients()) + " clients";
    }
    if (engine.IsNetworkClient()) {
        auto* client = static_cast<GAME::ClientConnectionManager*>(engine.GetNetworkConnectionManager());
        if (client->IsConnected())
            return "client, host " + std::to_string(client->GetLocalHostID());
        return client->IsConnecting() ? "client, connecting" : "client, not connected";
    }
    return "stub (no network)";
}

} // namespace SampleHost
