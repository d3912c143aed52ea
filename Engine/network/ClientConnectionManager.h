// The connection manager of a game that joins a server. Connect opens the session; once the
// server's CONNECT_ACCEPT sets the session key the client is connected and knows its host id
// (-1 until then). While connected it reports the camera's view (SetLocalView, from the engine's
// frame) whenever the view changed, at most once every viewReportIntervalMs, and sends what its
// shim hands it to the server. It has no entity list. Main thread only, but for the host ids and
// IsConnected, which any thread may read (the object manager numbers objects on the level loading
// threads too).
//
// A connection that fails (no answer, refused, no CONNECT_ACCEPT within handshakeTimeoutMs) or a
// session that ends without this side asking (the server left or went silent past the timeout)
// is logged (priority 2) and sent as the event "GameEvent_NetworkConnectAbort"; the manager is
// then idle and the engine runs on. While joining, an answer that does not verify is dropped
// and the join waits on, and so does a refusal without authentication (anyone could have sent
// it): it is logged once and named when the join ends by timeout or hang-up. Only a refusal
// authenticated under the handshake's keys ends the join at once. A connection that ends before
// the server answered, whether or not the transport had connected (a busy server pushes out peers
// that have not asked yet, and tells them; one on a long lossy link may not have had the
// transport's answer yet), is asked again at once, up to maxJoinRetries times within the
// handshake's time.
//
// A session that ends, by either side or lost, whether it was joined or still joining, counts in
// GetNumSessionsEnded; the engine, whose current manager this is, then goes on as a game of its
// own (Engine.h). The host id the session gave stays: objects made while joined keep their ids,
// and the game numbers its new objects under it (GetSessionHostID outlives a later Connect).
//
// For a game, the objects around a join (Engine.h says more): while joining, no object id can be
// made (the host id is -1), so a level loaded meanwhile gets none of its objects, even if the join
// fails. A later session that lets this client in under another host id than the earlier one
// moves the objects numbered under the earlier id under the new one as its CONNECT_ACCEPT is read
// (ObjectManager::RenumberHost), before any of its packets: the new server may have given the
// earlier id to another client, whose objects would otherwise meet them.
#pragma once

#include "network/ConnectionManager.h"

#include <atomic>
#include <string>
#include <vector>

namespace GAME {

class ClientConnectionManager : public ConnectionManager
{
public:
    static constexpr int handshakeTimeoutMs = 10000;
    static constexpr int viewReportIntervalMs = 100;
    static constexpr int maxJoinRetries = 5;

    enum State
    {
        STATE_IDLE = 0,
        STATE_CONNECTING = 1,
        STATE_CONNECTED = 2,
    };

    ClientConnectionManager() : ConnectionManager(-1) {}
    ~ClientConnectionManager() override;

    Role GetRole() const override { return ROLE_CLIENT; }
    const char* GetRoleName() const override { return "client"; }
    void Update(int elapsedMs) override;
    // Hangs up on the server once it has everything sent to it (within the shutdown linger, see
    // ConnectionManager::Shutdown) and closes the socket.
    void Shutdown() override;
    bool SendToServer(NetPacket* packet) override;
    void DumpHostTable() const override;
    void SetLocalView(const WorldFrustum& view) override;

    // Starts connecting to the server (a session already open is closed first). False when the
    // address does not resolve or no socket could be opened.
    bool Connect(const char* address, int port);
    bool IsConnected() const { return m_state.load(std::memory_order_acquire) == STATE_CONNECTED; }
    bool IsConnecting() const { return m_state == STATE_CONNECTING; }
    State GetState() const { return m_state; }
    // Sessions that ended without this side asking (lost, refused, never answered).
    unsigned GetNumAborts() const { return m_aborts; }
    // Sessions that ended, joined or still joining, whoever ended them (Shutdown, a new Connect,
    // an abort).
    unsigned GetNumSessionsEnded() const { return m_sessionsEnded; }
    // The host id of the last session that let this client in, -1 when none has; unlike
    // GetLocalHostID it stays while a later Connect joins again. Any thread.
    int GetSessionHostID() const { return m_sessionHostId.load(std::memory_order_acquire); }
    // Why the last session ended or the last join failed, as its log line says ("no answer in
    // time", "the server ended its session", "the server address 'x' does not resolve"), or "this
    // game closed it" (Shutdown); empty while a session is under way (Connect clears it) or before
    // any. Main thread.
    const std::string& GetEndReason() const { return m_endReason; }
    // Reports a view to the server now; false when not connected or the view cannot be sent.
    bool SendViewFrustum(const WorldFrustum& view);

protected:
    void OnLinkConnected(Link& link) override;
    void OnLinkDisconnected(Link& link) override;
    void OnControlPacket(Link& link, const NetPacketHeader& header, const uint8_t* body,
                         size_t size) override;

private:
    void Abort(const char* why);
    // The session under way (joining or joined) is over: the manager is idle.
    void EndSession();
    // Abort while joining, naming an unverified refusal received meanwhile.
    void AbortJoin(const char* why);
    // Opens a new connection to the server for the join under way; false (logged) when it fails.
    bool OpenConnection();

    std::atomic<State> m_state{STATE_IDLE};
    std::string m_server;
    std::string m_serverAddress;
    int m_serverPort = 0;
    int m_joinRetries = 0;
    bool m_retryJoin = false;
    int m_stateSince = 0;
    bool m_closeSession = false;
    unsigned m_aborts = 0;
    unsigned m_sessionsEnded = 0;
    std::atomic<int> m_sessionHostId{-1};
    std::string m_endReason;
    int m_unverifiedRefusal = 0; // the reason of an unauthenticated refusal received; 0 none
    std::vector<uint8_t> m_view; // the latest view's CLIENT_VIEW body
    std::vector<uint8_t> m_reportedView;
    int m_lastViewReport = 0;
};

} // namespace GAME
