#include "NetworkOptions.h"

#include "HostOutput.h"

#include "core/EventManager.h"
#include "network/ClientConnectionManager.h"
#include "network/ServerConnectionManager.h"
#include "world/Engine.h"

namespace SampleHost {

bool StartNetwork(GAME::Engine& engine, const NetworkOptions& options, HostOutput& out)
{
    switch (options.role) {
    case NetworkOptions::ROLE_NONE:
        return true;
    case NetworkOptions::ROLE_SERVER: {
        engine.SetAsNetworkServer();
        auto* server = static_cast<GAME::ServerConnectionManager*>(engine.GetNetworkConnectionManager());
        if (!server->Listen(nullptr, options.port)) {
            const std::string& why = server->GetListenError();
            out.Errorf("EngineHost: cannot host a session on port %d (%s)", options.port,
                       why.empty() ? "the network gave no reason" : why.c_str());
            engine.SetAsNetworkStub();
            return false;
        }
        out.Printf("EngineHost: hosting a session on port %d", server->GetPort());
        return true;
    }
    case NetworkOptions::ROLE_CLIENT: {
        engine.SetAsNetworkClient();
        auto* client = static_cast<GAME::ClientConnectionManager*>(engine.GetNetworkConnectionManager());
        if (!client->Connect(options.address.c_str(), options.port)) {
            out.Printf("EngineHost: cannot connect to %s port %d", options.address.c_str(), options.port);
            engine.SetAsNetworkStub();
            return false;
        }
        out.Printf("EngineHost: joining the session of %s port %d", options.address.c_str(), options.port);
        return true;
    }
    }
    return false;
}

bool IsJoiningSession(GAME::Engine& engine)
{
    return engine.IsNetworkClient() &&
           static_cast<GAME::ClientConnectionManager*>(engine.GetNetworkConnectionManager())->IsConnecting();
}

void EndJoining(GAME::Engine& engine, double waitedMs, HostOutput& out)
{
    if (engine.IsNetworkClient() &&
        static_cast<GAME::ClientConnectionManager*>(engine.GetNetworkConnectionManager())->IsConnected()) {
        out.Printf("EngineHost: joined the session as %s after %.0f ms", DescribeNetwork(engine).c_str(),
                   waitedMs);
        return;
    }
    out.Printf("EngineHost: the session could not be joined (%.0f ms); running alone", waitedMs);
    engine.SetAsNetworkStub();
}

namespace {
const char* const sessionEndEvent = "GameEvent_NetworkConnectAbort";
}

SessionEndNotice::SessionEndNotice(GAME::Engine& engine, HostOutput& out) : m_out(out)
{
    m_watching =
        engine.IsNetworkClient() &&
        static_cast<GAME::ClientConnectionManager*>(engine.GetNetworkConnectionManager())->IsConnected();
    if (m_watching)
        GAME::EventManager::Get()->Register(sessionEndEvent, this);
}

SessionEndNotice::~SessionEndNotice()
{
    if (m_watching)
        GAME::EventManager::Get()->UnRegister(sessionEndEvent, this);
}

void SessionEndNotice::HandleEvent(const GAME::GameEvent*)
{
    if (!m_watching)
        return;
    m_watching = false;
    GAME::EventManager::Get()->UnRegister(sessionEndEvent, this);
    m_out.Printf("EngineHost: the session ended; running alone");
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

std::string DescribeNetwork(GAME::Engine& engine)
{
    if (engine.IsNetworkServer()) {
        auto* server = static_cast<GAME::ServerConnectionManager*>(engine.GetNetworkConnectionManager());
        return "server, " + Counted(server->GetNumClients(), "client", "clients");
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
