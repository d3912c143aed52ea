// The hand-over between a receive thread and the main thread, both ways: records come out whole
// and in order for each link while the producer runs into full shares, a link that fills its
// share holds up no other, and a send the main thread left for the receive thread that ENet then
// cannot take is reported, not dropped. And what the socket asks of the installed ENet beyond its
// API: to keep a peer's packets while the socket has it off ENet's dispatch list, and to take
// connects into slots the socket has left out of ENet's count.
#include "../HandPeer.h"

#include "common/WaitUntil.h"
#include "core/Thread.h"
#include "network/NetworkQueue.h"
#include "network/Socket.h"
#include "platform/Threading.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <map>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

namespace GAME {
namespace {

std::vector<uint8_t> RecordBytes(uint32_t n)
{
    std::vector<uint8_t> bytes((n * 37u) % 301u); // 0 to 300 bytes
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<uint8_t>(n + i);
    return bytes;
}

constexpr uint32_t links = 3;

class Producer : public Thread
{
public:
    Producer(NetworkQueue& queue, uint32_t count) : m_queue(queue), m_count(count) {}
    void Run() override
    {
        for (uint32_t n = 1; n <= m_count; ++n) {
            const std::vector<uint8_t> bytes = RecordBytes(n);
            // A full share refuses the record whole; the producer holds it and tries again.
            while (!m_queue.Put(static_cast<uint8_t>(n % 3 + 1), n % links + 1, bytes.data(), bytes.size())) {
                refusals.fetch_add(1);
                Platform::SleepMilliseconds(0);
            }
        }
    }
    std::atomic<uint32_t> refusals{0};

private:
    NetworkQueue& m_queue;
    uint32_t m_count;
};

TEST(NetworkQueueThreadsTest, RecordsCrossThreadsWholeAndInOrderThroughFullShares)
{
    NetworkQueue queue(4096, 2048); // a few records at a time: the shares fill constantly
    constexpr uint32_t count = 20000;
    Producer producer(queue, count);
    ASSERT_TRUE(producer.Start());
    // The taker starts once the producer has run into a full share.
    ASSERT_TRUE(GAME::Test::WaitUntil([&] { return producer.refusals.load() > 0; }));
    // The producer put record n on link n % 3 + 1: each link's come out in the order put.
    uint32_t next[links + 1] = {0, 3, 1, 2};
    uint32_t taken = 0;
    uint8_t kind = 0;
    uint32_t connection = 0;
    std::vector<uint8_t> data;
    while (taken < count) {
        if (!queue.Take(kind, connection, data)) {
            Platform::SleepMilliseconds(0);
            continue;
        }
        ASSERT_TRUE(connection >= 1 && connection <= links) << connection;
        const uint32_t n = next[connection];
        ASSERT_EQ(kind, n % 3 + 1) << n;
        ASSERT_EQ(data, RecordBytes(n)) << n;
        next[connection] += links;
        ++taken;
    }
    producer.Wait();
    EXPECT_FALSE(queue.Take(kind, connection, data));
    EXPECT_EQ(queue.GetUsed(), 0u);
    EXPECT_GT(producer.refusals.load(), 0u); // the shares were full at times

    // A record that could never fit a share is refused at once; nothing is kept.
    std::vector<uint8_t> huge(2048);
    EXPECT_TRUE(queue.IsTooLarge(huge.size()));
    EXPECT_FALSE(queue.Put(1, 1, huge.data(), huge.size()));
    EXPECT_EQ(queue.GetNumRecords(), 0u);
}

// A link that fills its share is refused while the others are not, and the links take turns: a
// quiet link's record put after four of a busy one's comes out second. All links together hold
// no more than the capacity.
TEST(NetworkQueueThreadsTest, ALinkThatFillsItsShareHoldsUpNoOther)
{
    const size_t record = NetworkQueue::Cost(100);
    NetworkQueue queue(10 * record, 4 * record);
    const std::vector<uint8_t> bytes(100, 7);
    int busy = 0;
    while (busy < 100 && queue.Put(3, 1, bytes.data(), bytes.size()))
        ++busy;
    EXPECT_EQ(busy, 4);
    EXPECT_EQ(queue.GetUsed(1), 4 * record);
    ASSERT_TRUE(queue.Put(3, 2, bytes.data(), bytes.size()));
    uint8_t kind = 0;
    uint32_t connection = 0;
    std::vector<uint8_t> data;
    std::vector<uint32_t> order;
    while (queue.Take(kind, connection, data))
        order.push_back(connection);
    EXPECT_EQ(order, (std::vector<uint32_t>{1, 2, 1, 1, 1}));

    // The capacity: ten such records in all, whatever the links.
    for (uint32_t link = 10; link < 20; ++link)
        EXPECT_TRUE(queue.Put(3, link, bytes.data(), bytes.size())) << link;
    EXPECT_EQ(queue.GetUsed(), 10 * record);
    // A refused record keeps its bytes; one put leaves them with the queue.
    std::vector<uint8_t> moved(100, 9);
    EXPECT_FALSE(queue.Put(3, 30, moved));
    EXPECT_EQ(moved.size(), 100u);
    ASSERT_TRUE(queue.Take(kind, connection, data));
    EXPECT_TRUE(queue.Put(3, 30, moved));
    EXPECT_TRUE(moved.empty());
}

// A send the main thread leaves for the receive thread (which held the host lock) on a connection
// that is going by then: ENet cannot take it, and the main thread hears of it, once for each such
// send Send accepted (one it refused at once it heard of then). A socket serviced without a pause
// by a thread of the test holds its host lock most of the time, so sends are left often.
TEST(NetworkQueueThreadsTest, ASendLeftForTheReceiveThreadThatENetCannotTakeIsReported)
{
    ASSERT_EQ(enet_initialize(), 0);
    Socket server;
    Socket::Limits limits;
    limits.maxConnections = 2;
    ASSERT_TRUE(server.ListenUnthreaded("127.0.0.1", 0, limits));
    ENetHost* client = GAME::Test::MakeHost("127.0.0.1");
    ASSERT_NE(client, nullptr);
    const ENetAddress to = GAME::Test::EnetAddress("127.0.0.1", server.GetPort());
    ASSERT_NE(enet_host_connect(client, &to, 1, 0), nullptr);
    std::atomic<bool> servicing{true};
    std::atomic<uint64_t> turns{0};
    std::thread service([&] {
        while (servicing) {
            server.Service();
            ++turns;
        }
    });
    uint32_t connection = 0;
    ASSERT_TRUE(GAME::Test::PumpUntil(
        [&] {
            ENetEvent event;
            while (enet_host_service(client, &event, 0) > 0)
                if (event.type == ENET_EVENT_TYPE_RECEIVE)
                    enet_packet_destroy(event.packet);
            Socket::Event taken;
            while (server.Receive(taken))
                if (taken.kind == Socket::EVENT_CONNECTED)
                    connection = taken.connection;
        },
        [&] { return connection != 0; }, 60000));

    // Going: every send from now on is one ENet will not take. Sends go on until five were left
    // for the servicing thread (it held the lock), however rarely it gets a processor.
    server.Disconnect(connection);
    const uint8_t bytes[20] = {1, 2, 3};
    int accepted = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (accepted < 5 && std::chrono::steady_clock::now() < deadline)
        accepted += server.Send(connection, bytes, sizeof(bytes)) ? 1 : 0;
    ASSERT_EQ(accepted, 5) << "the servicing thread never held the lock when the main thread sent";
    // Two turns more: whatever was left has been done, and what came of it handed over.
    const uint64_t after = turns + 2;
    while (turns < after)
        Platform::SleepMilliseconds(1);
    int lost = 0;
    Socket::Event event;
    while (server.Receive(event))
        if (event.kind == Socket::EVENT_SEND_LOST) {
            EXPECT_EQ(event.connection, connection);
            ++lost;
        }
    EXPECT_EQ(lost, accepted);
    servicing = false;
    service.join();
    server.Close(0);
    enet_host_destroy(client);
}

// A guarded socket serviced by the test alone (each Service a turn of its receive thread) and
// plain ENet clients of addresses of their own, each connected with the socket's cookie.
struct UnthreadedServer
{
    explicit UnthreadedServer(size_t queueCapacity) : socket(queueCapacity)
    {
        Socket::Limits limits;
        limits.maxConnections = 4;
        limits.maxPending = 4;
        ready = socket.ListenUnthreaded("127.0.0.1", 0, limits);
    }
    ~UnthreadedServer()
    {
        socket.Close(0);
        for (ENetHost* client : clients)
            enet_host_destroy(client);
    }
    // A turn of the socket and of every client; the events the socket hands over go to `taken`
    // while `taking` (a connection is established as it comes, so that it may send anything).
    void Turn()
    {
        socket.Service();
        for (ENetHost* client : clients) {
            ENetEvent event;
            while (enet_host_service(client, &event, 0) > 0)
                if (event.type == ENET_EVENT_TYPE_RECEIVE) {
                    received[client].emplace_back(event.packet->data, event.packet->data + event.packet->dataLength);
                    enet_packet_destroy(event.packet);
                }
            GAME::Test::ServiceCookies(client);
        }
        Socket::Event event;
        while (taking && socket.Receive(event)) {
            if (event.kind == Socket::EVENT_CONNECTED)
                socket.Establish(event.connection);
            taken.push_back(event);
        }
    }
    // A client from the address, connected and established; null when that never happens.
    ENetHost* Connect(const std::string& ip)
    {
        ENetHost* client = GAME::Test::MakeHost(ip);
        if (!client)
            return nullptr;
        clients.push_back(client);
        const ENetAddress to = GAME::Test::EnetAddress("127.0.0.1", socket.GetPort());
        enet_host_connect(client, &to, 1, 0);
        const size_t before = taken.size();
        const bool in = GAME::Test::PumpUntil([&] { Turn(); },
                                              [&] {
                                                  return client->peers[0].state == ENET_PEER_STATE_CONNECTED &&
                                                         taken.size() > before;
                                              },
                                              60000);
        return in ? client : nullptr;
    }
    uint32_t ConnectionOf(size_t index) const { return taken[index].connection; }

    Socket socket;
    bool ready = false;
    bool taking = true;
    std::vector<ENetHost*> clients;
    std::vector<Socket::Event> taken;
    std::map<ENetHost*, std::vector<std::vector<uint8_t>>> received;
};

// A connection whose share of the queue is full is taken off ENet's dispatch list, marked as on
// it, until the main thread has taken some of its records: ENet must keep its packets meanwhile
// (the fault, an ENet that lists a peer again whatever its mark: the receive thread takes them all,
// ENet holds none) and hand them out, in order, once it is back on the list. A connect must find a
// slot though the free ones past the last in use are out of ENet's count (the fault, an ENet that
// looks past its count for a free slot, or takes one of those: the connect, or its traffic,
// never gets through), and a peer in any slot must keep its traffic both ways.
TEST(NetworkQueueThreadsTest, ENetKeepsAPeersPacketsOffItsDispatchListAndTakesConnectsIntoSlotsPastItsCount)
{
    ASSERT_EQ(enet_initialize(), 0);
    // Shares of a largest datagram, some 64 KB: 61 of the packets below.
    UnthreadedServer server(size_t(256) << 10);
    ASSERT_TRUE(server.ready);
    ENetHost* sender = server.Connect("127.0.0.30");
    ASSERT_NE(sender, nullptr);

    // 300 packets of 1,000 bytes while the main thread takes nothing: all are acknowledged, the
    // share's worth waits in the queue and ENet keeps the rest.
    constexpr uint32_t packets = 300;
    server.taking = false;
    for (uint32_t n = 0; n < packets; ++n) {
        std::vector<uint8_t> bytes(1000, static_cast<uint8_t>(n));
        std::memcpy(bytes.data(), &n, sizeof(n));
        enet_peer_send(&sender->peers[0], 0, enet_packet_create(bytes.data(), bytes.size(), ENET_PACKET_FLAG_RELIABLE));
    }
    ASSERT_TRUE(GAME::Test::PumpUntil([&] { server.Turn(); },
                                      [&] {
                                          const ENetPeer& peer = sender->peers[0];
                                          return enet_list_empty(&peer.outgoingCommands) &&
                                                 enet_list_empty(&peer.sentReliableCommands);
                                      },
                                      60000));
    server.Turn();
    EXPECT_GT(server.socket.GetQueueStalls(), 0u);
    EXPECT_GE(server.socket.GetBufferedBytes(), size_t(packets - 70) * 1000u);

    // Taken, every one comes, in order.
    server.taking = true;
    const size_t first = server.taken.size();
    ASSERT_TRUE(GAME::Test::PumpUntil([&] { server.Turn(); }, [&] { return server.taken.size() >= first + packets; },
                                      60000));
    for (uint32_t n = 0; n < packets; ++n) {
        const Socket::Event& event = server.taken[first + n];
        ASSERT_EQ(event.kind, Socket::EVENT_RECEIVED) << n;
        uint32_t sequence = 0;
        ASSERT_EQ(event.data.size(), 1000u);
        std::memcpy(&sequence, event.data.data(), sizeof(sequence));
        EXPECT_EQ(sequence, n);
    }
    EXPECT_EQ(server.socket.GetBufferedBytes(), 0u);

    // Slots: three more clients (four in all, every slot), the last two leave (the slots past the
    // last in use go out of ENet's count), two others connect into them, and each client left
    // hears the server and is heard.
    std::vector<ENetHost*> in = {sender};
    std::vector<size_t> connected = {0}; // where each one's connect is in `taken`
    for (const char* ip : {"127.0.0.31", "127.0.0.32", "127.0.0.33"}) {
        connected.push_back(server.taken.size());
        in.push_back(server.Connect(ip));
        ASSERT_NE(in.back(), nullptr) << ip;
    }
    for (size_t i : {size_t(3), size_t(2)}) {
        enet_peer_disconnect_now(&in[i]->peers[0], 0);
        const uint32_t gone = server.ConnectionOf(connected[i]);
        ASSERT_TRUE(GAME::Test::PumpUntil([&] { server.Turn(); },
                                          [&] {
                                              return std::any_of(server.taken.begin(), server.taken.end(), [&](const Socket::Event& e) {
                                                  return e.kind == Socket::EVENT_DISCONNECTED && e.connection == gone;
                                              });
                                          },
                                          60000));
    }
    in.resize(2);
    connected.resize(2);
    for (const char* ip : {"127.0.0.34", "127.0.0.35"}) {
        connected.push_back(server.taken.size());
        in.push_back(server.Connect(ip));
        ASSERT_NE(in.back(), nullptr) << ip;
    }
    const uint8_t hello[4] = {1, 2, 3, 4};
    for (size_t i = 0; i < in.size(); ++i) {
        EXPECT_TRUE(server.socket.Send(server.ConnectionOf(connected[i]), hello, sizeof(hello)));
        enet_peer_send(&in[i]->peers[0], 0, enet_packet_create(hello, sizeof(hello), ENET_PACKET_FLAG_RELIABLE));
    }
    const size_t before = server.taken.size();
    EXPECT_TRUE(GAME::Test::PumpUntil(
        [&] { server.Turn(); },
        [&] {
            size_t heard = 0;
            for (ENetHost* client : in)
                heard += server.received[client].empty() ? 0 : 1;
            return heard == in.size() && server.taken.size() >= before + in.size();
        },
        60000));
}

} // namespace
} // namespace GAME
