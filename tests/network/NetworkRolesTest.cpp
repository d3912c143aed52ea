#include "NetworkTestKit.h"

#include "common/LogCapture.h"
#include "common/MemoryFiles.h"
#include "common/TempDir.h"

#include "core/Plane.h"
#include "network/ClientConnectionManager.h"
#include "network/ClientNetworkShim.h"
#include "network/NetPacket.h"
#include "network/NetworkCommandAccess.h"
#include "network/ServerConnectionManager.h"
#include "network/ServerNetworkShim.h"
#include "network/StubConnectionManager.h"
#include "network/StubNetworkShim.h"

#include <gtest/gtest.h>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace GAME {

class ActorConfigCommand;
class CharacterAction;
class Region;

namespace {

WorldFrustum FrustumWithPlanes(Region* region, size_t planes)
{
    Frustum frustum;
    frustum.SetNumPlanes(planes);
    return WorldFrustum(region, frustum);
}

TEST(NetworkEntityListTest, ClientFrustaAreKeptPerClientAndListedWhenKnown)
{
    GAME::Test::LogCapture log;
    alignas(8) char regionStorage[8];
    Region* region = reinterpret_cast<Region*>(regionStorage); // compared by address only

    NetworkEntityList list;
    EXPECT_TRUE(list.AddClient(3));
    EXPECT_TRUE(list.AddClient(1));
    EXPECT_TRUE(list.AddClient(2));
    EXPECT_FALSE(list.AddClient(3));
    EXPECT_FALSE(list.AddClient(-1));
    EXPECT_EQ(list.GetClient(7), nullptr);

    list.UpdateFrustum(3, FrustumWithPlanes(region, 6));
    list.UpdateFrustum(1, FrustumWithPlanes(nullptr, 4));
    list.UpdateFrustum(1, FrustumWithPlanes(region, 5)); // the latest view counts
    list.UpdateFrustum(7, FrustumWithPlanes(region, 1)); // no such client: ignored
    EXPECT_TRUE(log.Contains("host 7", 1));
    EXPECT_EQ(list.GetClient(7), nullptr);

    NetworkEntityList::Client* client = list.GetClient(2);
    ASSERT_NE(client, nullptr);
    EXPECT_FALSE(client->frustumKnown);
    client->entities[40] = NetworkEntityList::entityPresent;

    std::vector<WorldFrustum> frusta(1); // appended after what the caller has
    list.GetClientFrustumList(frusta);
    ASSERT_EQ(frusta.size(), 3u); // client 2's view is not known
    EXPECT_EQ(frusta[1].GetRegionFrustum().GetNumPlanes(), 5u);
    EXPECT_EQ(frusta[2].GetRegionFrustum().GetNumPlanes(), 6u);
    EXPECT_EQ(frusta[2].GetRegion(), region);

    EXPECT_TRUE(list.RemoveClient(3));
    EXPECT_FALSE(list.RemoveClient(3));
    frusta.clear();
    list.GetClientFrustumList(frusta);
    EXPECT_EQ(frusta.size(), 1u);
    EXPECT_EQ(list.GetClient(2)->entities.at(40), NetworkEntityList::entityPresent);
}

TEST(ConnectionManagerTest, EachRoleKeepsItsOwnBookkeepingWithoutASession)
{
    GAME::Test::LogCapture log;
    StubConnectionManager stub;
    ClientConnectionManager client;
    ServerConnectionManager server;
    EXPECT_EQ(stub.GetLocalHostID(), 0);
    EXPECT_EQ(client.GetLocalHostID(), -1); // no server has given it one
    EXPECT_EQ(server.GetLocalHostID(), ServerConnectionManager::serverHostId);
    EXPECT_EQ(stub.GetNetworkEntityList(), nullptr);
    EXPECT_EQ(client.GetNetworkEntityList(), nullptr);
    ASSERT_NE(server.GetNetworkEntityList(), nullptr);
    EXPECT_FALSE(server.IsListening());
    EXPECT_FALSE(client.IsConnected());

    server.GetNetworkEntityList()->AddClient(1);
    server.DumpHostTable();
    EXPECT_TRUE(log.Contains("Host table (server): local host 0"));
    EXPECT_TRUE(log.Contains("client 1"));
    server.Shutdown(); // the session ends: every client is gone
    EXPECT_EQ(server.GetNetworkEntityList()->GetNumClients(), 0);

    // Nothing reaches a server without a session; that is reported once, then only counted.
    log.Clear();
    NetPacket packet(PACKET_TYPE(40));
    EXPECT_FALSE(client.SendToServer(&packet));
    EXPECT_FALSE(client.SendToServer(&packet));
    EXPECT_FALSE(stub.SendToServer(&packet));
    EXPECT_EQ(log.Count(), 2u);
    EXPECT_EQ(client.GetNumUndeliveredPackets(), 2u);
    client.SetNetworkLogging(true);
    EXPECT_FALSE(client.SendToServer(&packet));
    EXPECT_EQ(log.Count(), 3u);
    EXPECT_FALSE(client.Connect("127.0.0.1", 0));
    EXPECT_FALSE(client.IsConnecting());
    client.Update(16); // idle: nothing happens
    EXPECT_EQ(client.GetNumAborts(), 0u);
}

// A server whose transport is replaced: the links it answered, and its event pump.
class AnsweringServer : public ServerConnectionManager
{
public:
    using ConnectionManager::HandleSocketEvent;
    bool SendDatagram(Link& link, const std::vector<uint8_t>&) override
    {
        answered.push_back(link.socketConnection);
        return true;
    }
    void HangUp(Link&) override {}
    // A peer at the address connects and asks to join.
    void Ask(uint32_t connection, const std::string& address)
    {
        Socket::Event event;
        event.kind = Socket::EVENT_CONNECTED;
        event.connection = connection;
        event.data.assign(address.begin(), address.end());
        HandleSocketEvent(event);
        NetworkConnection link(NetworkConnection::SIDE_CLIENT);
        ASSERT_TRUE(link.MakeConnectRequest(event.data));
        event.kind = Socket::EVENT_RECEIVED;
        HandleSocketEvent(event);
    }
    std::vector<uint32_t> answered;
};

TEST(ConnectionManagerTest, KeyAgreementsAreBoundedInAllAndPerAddressAndAWaitingNewcomerGoesFirst)
{
    GAME::Test::LogCapture log;
    GAME::Test::ManualClock clock;
    AnsweringServer server;
    auto frame = [&](uint32_t ms) {
        clock.Advance(ms);
        server.Update(5);
        return server.answered.size();
    };

    // Eight peers of one address: the address's burst at once, then two a second.
    for (uint32_t id = 1; id <= 8; ++id)
        server.Ask(id, "10.0.1.1:" + std::to_string(4000 + id));
    EXPECT_EQ(frame(0), size_t(ServerConnectionManager::defaultMaxPeersPerAddress));
    EXPECT_EQ(frame(499), 4u);
    EXPECT_EQ(frame(1), 5u);
    EXPECT_EQ(frame(1500), 8u);

    // A hundred peers of 25 other addresses in one frame, the addresses in turn: a second's worth
    // at once, in order.
    frame(1000); // the budget in all refills
    server.answered.clear();
    for (uint32_t id = 101; id <= 200; ++id)
        server.Ask(id, "10.0.2." + std::to_string((id - 101) % 25) + ":" + std::to_string(4000 + id));
    const size_t second = ServerConnectionManager::handshakesPerSecond;
    EXPECT_EQ(frame(0), second);
    for (size_t i = 0; i < second; ++i)
        EXPECT_EQ(server.answered[i], 101 + i);
    // The rest as the budget refills, the address that had the fewest lately first: a newcomer
    // behind 36 waiting goes first, then each address that had two before any that had three.
    server.Ask(201, "10.0.3.1:4000");
    EXPECT_EQ(frame(16), second + 1);
    EXPECT_EQ(server.answered.back(), 201u);
    EXPECT_EQ(frame(500), second + 33);
    EXPECT_EQ(frame(500), 101u);
    std::map<uint32_t, int> had;
    int before = 0;
    for (size_t i = 0; i < server.answered.size(); ++i) {
        if (server.answered[i] == 201)
            continue;
        const int count = had[(server.answered[i] - 101) % 25]++;
        if (i > second) {
            EXPECT_LE(before, count) << "at " << i;
            before = count;
        }
    }
    EXPECT_EQ(server.GetNumClients(), ServerConnectionManager::maxClients);
}

TEST(ConnectionManagerTest, TheServersOwnPacketsReachItsControllerAtTheNextUpdate)
{
    GAME::Test::LogCapture log;
    ServerConnectionManager server;
    GAME::Test::GamePacketCreator creator;
    GAME::Test::RecordingController controller;
    server.SetNetPacketCreator(&creator);
    server.SetNetworkStatisticsGathering(true);
    GAME::Test::GamePacket first(GAME::Test::commandType, 1, "first");
    GAME::Test::GamePacket second(GAME::Test::actionType, 2, "second", GAME::Test::Blob(2, 40));
    NetPacket control(PACKET_TYPE_CLIENT_VIEW); // the engine's own: not the host's to send
    EXPECT_TRUE(server.SendToServer(&first));
    EXPECT_TRUE(server.SendToServer(&second));
    EXPECT_FALSE(server.SendToServer(&control));
    server.Update(16); // no controller yet: the packets are made, read and dropped, once logged
    EXPECT_TRUE(log.Contains("no network controller", 1));
    EXPECT_TRUE(server.SendToServer(&first));
    server.SetNetworkController(&controller);
    EXPECT_TRUE(controller.received.empty()); // not before the pump
    server.Update(16);
    ASSERT_EQ(controller.received.size(), 1u);
    EXPECT_EQ(controller.received[0].host, 0);
    EXPECT_EQ(controller.received[0].text, "first");
    EXPECT_EQ(server.GetTypeCounts().at(40).sent, 2u);
    EXPECT_EQ(server.GetTypeCounts().at(40).received, 2u);
    server.DumpStats();
    EXPECT_TRUE(log.Contains("type 41 (game packet): 1 sent, 1 received"));
    EXPECT_FALSE(server.SendToClient(1, &first)); // no such client
}

// Stands in for the engine's access to actions and commands; its packets count themselves so a
// packet the shim forgets to delete shows.
int g_packetsAlive = 0;

class CountedPacket : public NetPacket
{
public:
    explicit CountedPacket(PACKET_TYPE type) : NetPacket(type) { ++g_packetsAlive; }
    ~CountedPacket() override { --g_packetsAlive; }
    const char* GetTypeName() const override { return "CountedPacket"; }
};

class FakeCommandAccess : public NetworkCommandAccess
{
public:
    NetPacket* GetActionPacket(CharacterAction*) override
    {
        return actionHasPacket ? new CountedPacket(PACKET_TYPE(40)) : nullptr;
    }
    unsigned int GetActionCharacterId(CharacterAction*) override { return 77; }
    bool SupportsNetwork(ActorConfigCommand*) override { return commandSupportsNetwork; }
    NetPacket* GetCommandPacket(ActorConfigCommand*) override { return new CountedPacket(PACKET_TYPE(41)); }
    unsigned int GetCommandParentId(ActorConfigCommand*) override { return 9; }
    void DeleteCommand(ActorConfigCommand* command) override { deleted.push_back(command); }

    bool actionHasPacket = true;
    bool commandSupportsNetwork = true;
    std::vector<ActorConfigCommand*> deleted;
};

TEST(NetworkShimTest, SendingShimsMakeSendAndDeleteWhatTheyAreGiven)
{
    GAME::Test::LogCapture log;
    GAME::Test::TempDir dir;
    alignas(8) char objects[2][8];
    auto* action = reinterpret_cast<CharacterAction*>(objects[0]);
    auto* command = reinterpret_cast<ActorConfigCommand*>(objects[1]);

    ClientConnectionManager manager;
    ClientNetworkShim client;
    client.SetConnectionManager(&manager);
    client.SendConfigCommand(command); // no access installed: nothing happens
    EXPECT_TRUE(log.Contains("no access"));

    FakeCommandAccess access;
    NetworkShim::SetCommandAccess(&access);
    client.SetPacketLogging(true);
    client.SetNetworkStats(true);
    client.SendCharacterAction(action);
    EXPECT_TRUE(log.Contains("CountedPacket (type 40) for character 77"));
    access.actionHasPacket = false;
    client.SendCharacterAction(action); // no packet: neither sent nor logged
    client.SendConfigCommand(command);
    access.commandSupportsNetwork = false;
    client.SendConfigCommand(command); // not sent, but still the shim's to delete
    EXPECT_EQ(g_packetsAlive, 0);
    EXPECT_EQ(manager.GetNumUndeliveredPackets(), 2u); // not connected
    EXPECT_EQ(access.deleted.size(), 2u);
    EXPECT_EQ(client.GetPacketCount(40), 1u);
    EXPECT_EQ(client.GetPacketCount(41), 1u);
    ASSERT_TRUE(client.DumpPacketStatsToFile(dir.File("stats.txt").c_str()));
    EXPECT_EQ(dir.Read("stats.txt"), "type 40: 1 sent\ntype 41: 1 sent\n");

    ServerNetworkShim server; // no connection manager: the packet is still made and deleted
    access.commandSupportsNetwork = true;
    server.SendConfigCommand(command);
    EXPECT_EQ(g_packetsAlive, 0);
    EXPECT_EQ(access.deleted.size(), 3u);

    StubNetworkShim stub; // leaves everything alone
    stub.SendConfigCommand(command);
    stub.SendCharacterAction(action);
    EXPECT_EQ(access.deleted.size(), 3u);
    NetworkShim::SetCommandAccess(nullptr);
}

} // namespace
} // namespace GAME
