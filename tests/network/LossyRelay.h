// A lossy link on the loopback address, for the network tests and the network benchmark: a relay
// between one client and a server that loses each datagram, each way, with a given chance, and
// delays each one it passes by a fixed time and a random extra of up to a given jitter, as network
// emulators do (a burst's datagrams then arrive shuffled, as on a long or crowded link). One seeded
// generator draws both: the same seed loses and delays the same places of the same traffic. It
// counts the client's goodbye and the server's acknowledgements of it, which it can spare. And an
// upload as a game makes one over it (LossyUpload): reliable packets in bursts of 1,000 while ENet
// has fewer than 4,000 commands still to send, then a few a frame.
// The relay's thread is its own; the upload runs on the calling thread, which services its host.
#pragma once

#include "HandPeer.h"

#include <enet/enet.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <queue>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace GAME::Test {

class LossyRelay
{
public:
    // Loses one datagram in `toServerPeriod` of the client's and one in `toClientPeriod` of the
    // server's on average (0: none), and passes each other one on after `delayMs` and a uniform
    // random extra of up to `jitterMs` (to the microsecond), chosen by a generator seeded with
    // `seed`. The client sends to `ip`:port; the server sees the relay's address.
    LossyRelay(int serverPort, int toServerPeriod, int toClientPeriod, uint32_t seed, int delayMs = 0,
               int jitterMs = 0, const std::string& ip = "127.0.0.60")
        : m_server(EnetAddress("127.0.0.1", serverPort)), m_toServer(toServerPeriod),
          m_toClient(toClientPeriod), m_delay(std::chrono::milliseconds(delayMs)),
          m_jitterUs(1000 * jitterMs), m_random(seed)
    {
        m_socket = enet_socket_create(ENET_SOCKET_TYPE_DATAGRAM);
        ENetAddress bind = EnetAddress(ip, 0);
        if (m_socket == ENET_SOCKET_NULL || enet_socket_bind(m_socket, &bind) != 0 ||
            enet_socket_get_address(m_socket, &bind) != 0)
            return;
        port = bind.port;
        enet_socket_set_option(m_socket, ENET_SOCKOPT_NONBLOCK, 1);
        // Room for a burst while the relay's thread waits for a processor: only the chosen
        // datagrams are to be lost.
        enet_socket_set_option(m_socket, ENET_SOCKOPT_RCVBUF, 4 << 20);
        enet_socket_set_option(m_socket, ENET_SOCKOPT_SNDBUF, 4 << 20);
        m_thread = std::thread([this] { Run(); });
    }
    ~LossyRelay()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
        if (m_socket != ENET_SOCKET_NULL)
            enet_socket_destroy(m_socket);
    }
    LossyRelay(const LossyRelay&) = delete;
    LossyRelay& operator=(const LossyRelay&) = delete;

    int port = 0;
    // Whether it loses and delays datagrams (from the start unless told otherwise; a test that must
    // have its client joined first, whatever the link, turns it on after the join).
    std::atomic<bool> impaired{true};
    std::atomic<uint64_t> lostToServer{0}, lostToClient{0};
    // How far past a reliable command the client had gone when it sent that command again.
    std::atomic<int> farthestAheadOfAResend{0};
    // So many of the server's datagrams that answer a connect (ENet's verify) are lost, whether
    // the link is impaired or not: a join on a bad moment, the same in every run.
    std::atomic<int> loseConnectAnswers{0};
    // The client's goodbye as the relay passed it: how often the client sent its disconnect, and
    // the server's acknowledgements of it passed on to the client. With `spareGoodbyeAnswers` none
    // of those acknowledgements is lost (the chance is drawn all the same, so that the rest of the
    // traffic loses what it would): a bare ENet server acknowledges a goodbye once and ignores its
    // resends, so a client whose acknowledgement is lost can only give its link up, and a test of
    // the server's goodbye must not count that as one the server answered.
    std::atomic<uint64_t> goodbyesSent{0}, goodbyesAcknowledged{0};
    std::atomic<bool> spareGoodbyeAnswers{false};

private:
    // The client's disconnect, noted; an acknowledgement of it from the server.
    void NoteGoodbye(const uint8_t* data, size_t length)
    {
        ForEachCommand(data, length, [&](const uint8_t* command) {
            if ((command[0] & ENET_PROTOCOL_COMMAND_MASK) != ENET_PROTOCOL_COMMAND_DISCONNECT)
                return;
            m_goodbye =
                SendFiler::Read16(command + offsetof(ENetProtocolCommandHeader, reliableSequenceNumber));
            m_saidGoodbye = true;
            ++goodbyesSent;
        });
    }
    bool AcknowledgesGoodbye(const uint8_t* data, size_t length) const
    {
        return m_saidGoodbye && AcknowledgesControl(data, length, m_goodbye);
    }
    void Note(const uint8_t* data, size_t length)
    {
        uint16_t peerID;
        std::memcpy(&peerID, data, 2);
        size_t offset = (ENET_NET_TO_HOST_16(peerID) & ENET_PROTOCOL_HEADER_FLAG_SENT_TIME) ? 4 : 2;
        while (offset + sizeof(ENetProtocolCommandHeader) <= length) {
            const uint8_t number = data[offset] & ENET_PROTOCOL_COMMAND_MASK;
            const size_t size = number < ENET_PROTOCOL_COMMAND_COUNT ? enet_protocol_command_size(number) : 0;
            if (size == 0 || offset + size > length)
                return;
            uint16_t value;
            size_t dataLength = 0;
            if (number == ENET_PROTOCOL_COMMAND_SEND_RELIABLE || number == ENET_PROTOCOL_COMMAND_SEND_FRAGMENT) {
                const size_t at = number == ENET_PROTOCOL_COMMAND_SEND_RELIABLE
                                      ? offsetof(ENetProtocolSendReliable, dataLength)
                                      : offsetof(ENetProtocolSendFragment, dataLength);
                std::memcpy(&value, data + offset + at, 2);
                dataLength = ENET_NET_TO_HOST_16(value);
                std::memcpy(&value, data + offset + offsetof(ENetProtocolCommandHeader, reliableSequenceNumber), 2);
                const uint16_t sequence = ENET_NET_TO_HOST_16(value);
                // Numbers wrap: how far ahead is measured from the newest, within half the circle.
                const auto behind = static_cast<uint16_t>(m_highest - sequence);
                if (m_seen[sequence] && behind < 0x8000)
                    farthestAheadOfAResend = std::max<int>(farthestAheadOfAResend, behind);
                m_seen[sequence] = true;
                m_seen[static_cast<uint16_t>(sequence + 0x8000)] = false; // half the circle on: not seen
                if (!m_any || static_cast<uint16_t>(sequence - m_highest) < 0x8000)
                    m_highest = sequence;
                m_any = true;
            }
            offset += size + dataLength;
        }
    }
    static bool AnswersAConnect(const uint8_t* data, size_t length)
    {
        if (length < 2)
            return false;
        uint16_t peerID;
        std::memcpy(&peerID, data, 2);
        size_t offset = (ENET_NET_TO_HOST_16(peerID) & ENET_PROTOCOL_HEADER_FLAG_SENT_TIME) ? 4 : 2;
        while (offset + sizeof(ENetProtocolCommandHeader) <= length) {
            const uint8_t number = data[offset] & ENET_PROTOCOL_COMMAND_MASK;
            if (number == ENET_PROTOCOL_COMMAND_VERIFY_CONNECT)
                return true;
            const size_t size = number < ENET_PROTOCOL_COMMAND_COUNT ? enet_protocol_command_size(number) : 0;
            if (size == 0 || offset + size > length || number == ENET_PROTOCOL_COMMAND_SEND_RELIABLE ||
                number == ENET_PROTOCOL_COMMAND_SEND_FRAGMENT)
                return false; // the server's verify comes before any send
            offset += size;
        }
        return false;
    }
    bool Lose(int period)
    {
        return impaired && period > 0 && std::uniform_int_distribution<int>(0, period - 1)(m_random) == 0;
    }
    using Clock = std::chrono::steady_clock;
    // A datagram passed on once it is due; among those due at once, the earlier received first.
    struct Delayed
    {
        Clock::time_point due;
        uint64_t order;
        bool toServer;
        std::vector<uint8_t> bytes;
        bool operator>(const Delayed& other) const
        {
            return due != other.due ? due > other.due : order > other.order;
        }
    };
    void Pass(bool toServer, const uint8_t* data, size_t length)
    {
        ENetBuffer buffer;
        buffer.data = const_cast<uint8_t*>(data);
        buffer.dataLength = length;
        enet_socket_send(m_socket, toServer ? &m_server : &m_client, &buffer, 1);
    }
    void Forward(bool toServer, const uint8_t* data, size_t length)
    {
        if (!impaired || (m_delay.count() == 0 && m_jitterUs == 0)) {
            Pass(toServer, data, length);
            return;
        }
        auto due = Clock::now() + m_delay;
        if (m_jitterUs > 0)
            due += std::chrono::microseconds(std::uniform_int_distribution<int>(0, m_jitterUs)(m_random));
        m_delayed.push(Delayed{due, m_order++, toServer, std::vector<uint8_t>(data, data + length)});
    }
    void PassDue()
    {
        const auto now = Clock::now();
        while (!m_delayed.empty() && m_delayed.top().due <= now) {
            const Delayed& next = m_delayed.top();
            Pass(next.toServer, next.bytes.data(), next.bytes.size());
            m_delayed.pop();
        }
    }
    void Run()
    {
        std::vector<uint8_t> bytes(ENET_PROTOCOL_MAXIMUM_MTU);
        while (!m_stop) {
            // Until the next datagram is due (a millisecond late at most), or 5 ms.
            enet_uint32 waitMs = 5;
            if (!m_delayed.empty()) {
                const auto until = m_delayed.top().due - Clock::now();
                waitMs = static_cast<enet_uint32>(
                    std::clamp<long long>(std::chrono::ceil<std::chrono::milliseconds>(until).count(), 0, 5));
            }
            enet_uint32 condition = ENET_SOCKET_WAIT_RECEIVE;
            if (waitMs > 0)
                enet_socket_wait(m_socket, &condition, waitMs);
            for (;;) {
                PassDue();
                ENetAddress from;
                ENetBuffer buffer;
                buffer.data = bytes.data();
                buffer.dataLength = bytes.size();
                const int length = enet_socket_receive(m_socket, &from, &buffer, 1);
                if (length <= 0)
                    break;
                const auto size = static_cast<size_t>(length);
                if (from.host == m_server.host && from.port == m_server.port) {
                    if (!m_hasClient)
                        continue;
                    const bool goodbye = AcknowledgesGoodbye(bytes.data(), size);
                    if (loseConnectAnswers > 0 && AnswersAConnect(bytes.data(), size)) {
                        --loseConnectAnswers;
                        ++lostToClient;
                    } else if (Lose(m_toClient) && !(goodbye && spareGoodbyeAnswers)) {
                        ++lostToClient;
                    } else {
                        goodbyesAcknowledged += goodbye ? 1 : 0;
                        Forward(false, bytes.data(), size);
                    }
                    continue;
                }
                m_client = from;
                m_hasClient = true;
                Note(bytes.data(), size);
                NoteGoodbye(bytes.data(), size);
                if (Lose(m_toServer))
                    ++lostToServer;
                else
                    Forward(true, bytes.data(), size);
            }
        }
    }

    ENetAddress m_server;
    ENetAddress m_client{};
    bool m_hasClient = false;
    int m_toServer;
    int m_toClient;
    std::chrono::milliseconds m_delay;
    int m_jitterUs;
    std::mt19937 m_random;
    std::priority_queue<Delayed, std::vector<Delayed>, std::greater<Delayed>> m_delayed;
    uint64_t m_order = 0;
    std::vector<bool> m_seen = std::vector<bool>(65536, false);
    uint16_t m_highest = 0;
    bool m_any = false;
    uint16_t m_goodbye = 0; // the reliable number of the client's disconnect
    bool m_saidGoodbye = false;
    ENetSocket m_socket = ENET_SOCKET_NULL;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

// An upload over a client's ENet host (`host`, its one peer `peer`), as a game uploading its state
// makes one: `packets` reliable packets, made by `make` (packet n's bytes), in bursts of 1,000
// while ENet has fewer than 4,000 commands still to send, then `tail` more at 60 a second. The
// host is serviced throughout (what arrives is dropped) until `done` says the other end has all,
// the link is lost, or `limitMs` (a hang) runs out.
// The client gives its link up when the server has acknowledged nothing for uploadSilenceMs, as a
// game's client that set ConnectionManager::SetTimeout does. ENet's default rule also gives a link
// up once a single command went unacknowledged six times running: at one datagram in ten lost
// each way, 100 ms and up to 20 ms more, that ended 2 of 41 uploads of 10,000 packets to a bare
// ENet server through the same relay, and 2 of some 100 to the engine's: a rule of the sender's,
// which no server changes.
constexpr int uploadSilenceMs = 30000;
struct UploadResult
{
    bool lostLink = false;
    bool finished = false; // `done` held
    double seconds = 0.0;  // from the first send until `done` held
};

inline UploadResult LossyUpload(ENetHost* host, ENetPeer* peer, uint32_t packets, uint32_t tail,
                                const std::function<std::vector<uint8_t>(uint32_t)>& make,
                                const std::function<bool()>& done, int limitMs)
{
    using Clock = std::chrono::steady_clock;
    UploadResult result;
    enet_peer_timeout(peer, 0, uploadSilenceMs, uploadSilenceMs);
    const auto start = Clock::now();
    const auto limit = start + std::chrono::milliseconds(limitMs);
    auto service = [&] {
        ENetEvent event;
        while (enet_host_service(host, &event, 0) > 0) {
            if (event.type == ENET_EVENT_TYPE_DISCONNECT)
                result.lostLink = true;
            else if (event.type == ENET_EVENT_TYPE_RECEIVE)
                enet_packet_destroy(event.packet);
        }
    };
    auto send = [&](uint32_t n) {
        const std::vector<uint8_t> bytes = make(n);
        enet_peer_send(peer, 0, enet_packet_create(bytes.data(), bytes.size(), ENET_PACKET_FLAG_RELIABLE));
    };
    uint32_t n = 0;
    while (n < packets && !result.lostLink && Clock::now() < limit) {
        for (int i = 0; i < 1000 && n < packets; ++i)
            send(n++);
        do {
            service();
            if (enet_list_size(&peer->outgoingCommands) > 4000)
                std::this_thread::sleep_for(std::chrono::microseconds(200));
        } while (enet_list_size(&peer->outgoingCommands) > 4000 && !result.lostLink && Clock::now() < limit);
    }
    auto next = Clock::now();
    while (!result.lostLink && Clock::now() < limit && !(n == packets + tail && done())) {
        if (n < packets + tail && Clock::now() >= next) {
            send(n++);
            next += std::chrono::microseconds(16667);
        }
        service();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    result.finished = n == packets + tail && done();
    result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return result;
}

} // namespace GAME::Test
