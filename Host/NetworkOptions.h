// The sample host's network session: the role and address its options name (--server [port],
// --connect <address>[:port], --port <port>: rows of the option table in HostOptions.cpp), and
// the session itself from its start to what the summary and the exit code say of it. Without them
// the host runs alone (the engine's stub network). Main thread.
#pragma once

#include "core/GameEvent.h"

#include <string>

namespace GAME {
class ClientConnectionManager;
class Engine;
} // namespace GAME

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

// The run's network session, from its start to the summary: switches the engine to the role and
// opens the session (Start), follows the client's join (IsJoining, EndJoining) and the end of a
// joined session, as the engine tells it (closed by the server, lost, timed out: said once, and
// the host runs alone), and says what became of it in the summary's network line and the run's
// exit code. Main thread; made once the engine has started, used until before its shut-down.
class HostSession : public GAME::EventHandlerInterface
{
public:
    HostSession(GAME::Engine& engine, const NetworkOptions& options, HostOutput& out);
    ~HostSession() override;
    HostSession(const HostSession&) = delete;
    HostSession& operator=(const HostSession&) = delete;

    // Opens the session, saying so through out; false when it could not, the engine then back on
    // its stub network. A server that cannot serve (its port taken, say) is the run's end: it says
    // why on standard error, the library's reason quoted. A client that cannot start joining (an
    // address that does not resolve) says so and runs alone.
    bool Start();
    // A client still waiting for the server's answer (the handshake gives up on its own).
    bool IsJoining() const;
    // Once the client stopped waiting: says how the join went. A client the server did not let in
    // runs alone on the stub network (the engine went back to it when the join failed).
    void EndJoining(double waitedMs);
    void HandleEvent(const GAME::GameEvent* event) override;

    // The summary's network line: "stub (no network)", "server on port 29460, 2 clients", "client
    // of 127.0.0.1 port 29460: joined as host 1, the session lasted the run", "...: joined as host
    // 1; the session ended after 12.4 s (the server ended its session), then ran alone", "...:
    // never joined (no answer in time); ran alone".
    std::string Describe() const;
    // 0, or exitCodeRanAlone (HostOutput.h) for a client that never joined or whose session did not
    // last the run.
    int GetExitCode() const;
    // For standard error at the run's end when the exit code is exitCodeRanAlone ("EngineHost: ran
    // alone: the session of 127.0.0.1 port 29460 ended after 12.4 s (...)"); empty otherwise.
    std::string DescribeRanAlone() const;

private:
    enum State
    {
        STATE_NONE,    // no network asked for
        STATE_SERVING, // a server whose session is open
        STATE_JOINING,
        STATE_JOINED,
        STATE_NEVER_JOINED,
        STATE_ENDED, // joined, then the session ended before the run
    };
    void Watch(bool on);
    std::string Server() const;

    GAME::Engine& m_engine;
    const NetworkOptions m_options;
    HostOutput& m_out;
    GAME::ClientConnectionManager* m_client = nullptr; // the engine's, once it is a client
    State m_state = STATE_NONE;
    int m_hostId = -1;
    std::string m_why; // why the client never joined, or why its session ended
    double m_joinedAtMs = 0.0;
    double m_lastedMs = 0.0;
    bool m_watching = false;
};

// What the options ask for, before the session starts: "stub (no network)", "server on port 29460
// (opens when the world is loaded)", "client of 127.0.0.1 port 29460 (joins when the world is loaded)".
std::string DescribeNetworkOptions(const NetworkOptions& options);

} // namespace SampleHost
