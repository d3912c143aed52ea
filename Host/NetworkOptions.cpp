#include "NetworkOptions.h"

#include "HostOutput.h"

#include "core/EventManager.h"
#include "core/Log.h"
#include "network/ClientConnectionManager.h"
#include "network/ServerConnectionManager.h"
#include "world/Engine.h"

#include <chrono>

namespace SampleHost {

namespace {

const char* const sessionEndEvent = "GameEvent_NetworkConnectAbort";

double NowMs()
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

HostSession::HostSession(GAME::Engine& engine, const NetworkOptions& options, HostOutput& out)
    : m_engine(engine), m_options(options), m_out(out)
{
}

HostSession::~HostSession()
{
    // After the engine's shut-down its event manager is gone with what was registered.
    if (GAME::EventManager::HasInstantiated())
        Watch(false);
}

void HostSession::Watch(bool on)
{
    if (on == m_watching)
        return;
    m_watching = on;
    if (on)
        GAME::EventManager::Get()->Register(sessionEndEvent, this);
    else
        GAME::EventManager::Get()->UnRegister(sessionEndEvent, this);
}

std::string HostSession::Server() const
{
    return m_options.address + " port " + std::to_string(m_options.port);
}

bool HostSession::Start()
{
    switch (m_options.role) {
    case NetworkOptions::ROLE_NONE:
        return true;
    case NetworkOptions::ROLE_SERVER: {
        m_engine.SetAsNetworkServer();
        auto* server = static_cast<GAME::ServerConnectionManager*>(m_engine.GetNetworkConnectionManager());
        if (!server->Listen(nullptr, m_options.port)) {
            const std::string& why = server->GetListenError();
            m_out.Errorf("EngineHost: cannot host a session on port %d (%s)", m_options.port,
                         why.empty() ? "the network gave no reason" : why.c_str());
            m_engine.SetAsNetworkStub();
            return false;
        }
        m_state = STATE_SERVING;
        m_out.Printf("EngineHost: hosting a session on port %d", server->GetPort());
        return true;
    }
    case NetworkOptions::ROLE_CLIENT: {
        m_engine.SetAsNetworkClient();
        m_client = static_cast<GAME::ClientConnectionManager*>(m_engine.GetNetworkConnectionManager());
        if (!m_client->Connect(m_options.address.c_str(), m_options.port)) {
            m_state = STATE_NEVER_JOINED;
            m_why = m_client->GetEndReason();
            m_out.Printf("EngineHost: cannot connect to %s (%s); running alone", Server().c_str(),
                         m_why.c_str());
            m_engine.SetAsNetworkStub();
            return false;
        }
        m_state = STATE_JOINING;
        Watch(true);
        m_out.Printf("EngineHost: joining the session of %s", Server().c_str());
        return true;
    }
    }
    return false;
}

bool HostSession::IsJoining() const
{
    return m_state == STATE_JOINING && m_client && m_client->IsConnecting();
}

void HostSession::EndJoining(double waitedMs)
{
    if (m_state == STATE_JOINING && m_engine.IsNetworkClient() && m_client->IsConnected()) {
        m_state = STATE_JOINED;
        m_hostId = m_client->GetLocalHostID();
        m_joinedAtMs = NowMs();
        m_out.Printf("EngineHost: joined the session as host %d after %.0f ms", m_hostId, waitedMs);
        return;
    }
    if (m_state == STATE_JOINING) {
        // Ended without the end's event (the window closed while joining, say).
        m_state = STATE_NEVER_JOINED;
        m_why = m_client->GetEndReason().empty() ? "the join was given up" : m_client->GetEndReason();
    }
    Watch(false);
    m_out.Printf("EngineHost: the session could not be joined (%s; %.0f ms); running alone", m_why.c_str(),
                 waitedMs);
    m_engine.SetAsNetworkStub();
}

void HostSession::HandleEvent(const GAME::GameEvent*)
{
    if (m_state == STATE_JOINING) {
        m_state = STATE_NEVER_JOINED;
        m_why = m_client->GetEndReason();
        Watch(false);
        return; // EndJoining says so
    }
    if (m_state != STATE_JOINED)
        return;
    m_state = STATE_ENDED;
    m_why = m_client->GetEndReason();
    m_lastedMs = NowMs() - m_joinedAtMs;
    Watch(false);
    m_out.Printf("EngineHost: the session ended (%s); running alone", m_why.c_str());
}

std::string HostSession::Describe() const
{
    switch (m_state) {
    case STATE_NONE:
        break;
    case STATE_SERVING: {
        auto* server =
            m_engine.IsNetworkServer()
                ? static_cast<GAME::ServerConnectionManager*>(m_engine.GetNetworkConnectionManager())
                : nullptr;
        return "server on port " + std::to_string(m_options.port) +
               (server ? ", " + Counted(server->GetNumClients(), "client", "clients") : std::string());
    }
    case STATE_JOINING:
        return "client of " + Server() + ": still joining";
    case STATE_JOINED:
        return "client of " + Server() + ": joined as host " + std::to_string(m_hostId) +
               ", the session lasted the run";
    case STATE_NEVER_JOINED:
        return "client of " + Server() + ": never joined (" + m_why + "); ran alone";
    case STATE_ENDED:
        return "client of " + Server() + ": joined as host " + std::to_string(m_hostId) +
               GAME::FormatString("; the session ended after %.1f s (", m_lastedMs / 1000.0) + m_why +
               "), then ran alone";
    }
    return "stub (no network)";
}

int HostSession::GetExitCode() const
{
    return m_state == STATE_NEVER_JOINED || m_state == STATE_ENDED ? exitCodeRanAlone : 0;
}

std::string HostSession::DescribeRanAlone() const
{
    if (m_state == STATE_NEVER_JOINED)
        return "EngineHost: ran alone: the session of " + Server() + " was never joined (" + m_why + ")";
    if (m_state == STATE_ENDED)
        return "EngineHost: ran alone: the session of " + Server() +
               GAME::FormatString(" ended after %.1f s (", m_lastedMs / 1000.0) + m_why + ")";
    return std::string();
}

std::string DescribeNetworkOptions(const NetworkOptions& options)
{
    switch (options.role) {
    case NetworkOptions::ROLE_NONE:
        break;
    case NetworkOptions::ROLE_SERVER:
        return "server on port " + std::to_string(options.port) + " (opens when the world is loaded)";
    case NetworkOptions::ROLE_CLIENT:
        return "client of " + options.address + " port " + std::to_string(options.port) +
               " (joins when the world is loaded)";
    }
    return "stub (no network)";
}

} // namespace SampleHost
