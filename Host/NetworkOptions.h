// The sample host's network session: the role and address its options name (--server [port],
// --connect <address>[:port], --port <port>: rows of the option table in HostOptions.cpp), and
// starting and describing the session. Without them the host runs alone (the engine's stub
// network). Main thread.
#pragma once

#include "core/GameEvent.h"

#include <string>

namespace GAME {
class Engine;
}

namespace SampleHost {

class HostOutput;

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
    // The option that gave the port ("--server", "--connect" or "--port"), null for the default.
    const char* portFrom = nullptr;
};

// Switches the engine to the role and opens the session, saying so through out; false when it
// could not, the engine then back on its stub network. A server that cannot serve (its port taken,
// say) is the run's end: it says why on standard error, the library's reason quoted. A client that
// cannot start joining says so and runs alone.
bool StartNetwork(GAME::Engine& engine, const NetworkOptions& options, HostOutput& out);
// Whether the engine is a client still waiting for the server's answer.
bool IsJoiningSession(GAME::Engine& engine);
// Once the client stopped waiting: says how the join went; a client the server did not let in
// goes back to the stub network (the engine has done so already when the join failed), and the
// host runs alone.
void EndJoining(GAME::Engine& engine, double waitedMs, HostOutput& out);

// Says once, as the engine tells it, that the session the client joined ended (closed by the
// server, lost, timed out) and that the host runs alone: the engine goes on as a game of its own
// from that frame. Silent unless the engine was joined when it was made. Main thread.
class SessionEndNotice : public GAME::EventHandlerInterface
{
public:
    SessionEndNotice(GAME::Engine& engine, HostOutput& out);
    ~SessionEndNotice() override;
    SessionEndNotice(const SessionEndNotice&) = delete;
    SessionEndNotice& operator=(const SessionEndNotice&) = delete;
    void HandleEvent(const GAME::GameEvent* event) override;

private:
    HostOutput& m_out;
    bool m_watching = false;
};

// What the options ask for, before the session starts: "stub (no network)", "server on port 29460
// (opens when the world is loaded)", "client of 127.0.0.1 port 29460 (joins when the world is loaded)".
std::string DescribeNetworkOptions(const NetworkOptions& options);
// "server, 2 clients", "client, host 1", "client, connecting", "client, not connected" or
// "stub (no network)".
std::string DescribeNetwork(GAME::Engine& engine);

} // namespace SampleHost
