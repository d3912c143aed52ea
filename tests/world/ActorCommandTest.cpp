// Actor configuration commands and character actions: where Dispatch sends a command (locally or
// to the engine's network shim), who deletes it, and what the engine tells the shims of actions
// and commands; with counting fakes.
#include "EngineFixture.h"

#include "network/NetPacket.h"
#include "network/NetworkShim.h"
#include "world/ActorConfigCommand.h"
#include "world/CharacterAction.h"

namespace GAME {
namespace {

int g_executed = 0;
int g_commandsAlive = 0;
int g_packetsAlive = 0;

class CountedPacket : public NetPacket
{
public:
    explicit CountedPacket(int type) : NetPacket(PACKET_TYPE(type)) { ++g_packetsAlive; }
    ~CountedPacket() override { --g_packetsAlive; }
    const char* GetTypeName() const override { return "CountedPacket"; }
};

class CountingCommand : public ActorConfigCommand
{
public:
    CountingCommand(unsigned parent, bool network, bool packet) : ActorConfigCommand(parent), m_packet(packet)
    {
        SetSupportsNetwork(network);
        ++g_commandsAlive;
    }
    CountingCommand(const CountingCommand& other) : ActorConfigCommand(other), m_packet(other.m_packet)
    {
        ++g_commandsAlive;
    }
    ~CountingCommand() override { --g_commandsAlive; }
    void Execute() override { ++g_executed; }
    NetPacket* GetNetPacket() override { return m_packet ? new CountedPacket(41) : nullptr; }

private:
    bool m_packet;
};

class CountingAction : public CharacterAction
{
public:
    explicit CountingAction(bool packet) : CharacterAction(3), m_packet(packet) {}
    NetPacket* GetNetPacket() override { return m_packet ? new CountedPacket(40) : nullptr; }
    uint32_t GetCharacterId() const override { return 77; }

private:
    bool m_packet;
};

// An actor's local queue as an actor runs it.
class FakeActor : public ActorCommandQueue
{
public:
    bool LocalEnqueue(ActorConfigCommand* command) override
    {
        ++queued;
        return ActorConfigCommand::ExecuteAndDelete(command);
    }
    int queued = 0;
};

class ActorCommandTest : public GAME::Test::EngineTest
{
protected:
    void SetUp() override
    {
        GAME::Test::EngineTest::SetUp();
        g_executed = g_commandsAlive = g_packetsAlive = 0;
    }
    void TearDown() override
    {
        GAME::Test::EngineTest::TearDown();
        EXPECT_EQ(g_commandsAlive, 0) << "every command was deleted";
        EXPECT_EQ(g_packetsAlive, 0) << "every packet was deleted";
    }
};

TEST_F(ActorCommandTest, WithoutAnEngineCommandsRunLocally)
{
    FakeActor actor;
    EXPECT_TRUE(ActorConfigCommand::Dispatch(new CountingCommand(5, true, true), actor));
    EXPECT_EQ(actor.queued, 1);
    EXPECT_EQ(g_executed, 1);
    EXPECT_EQ(g_commandsAlive, 0);
    EXPECT_TRUE(ActorConfigCommand::Dispatch(nullptr, actor));
    EXPECT_EQ(actor.queued, 1);

    CountingCommand copy(9, true, false);
    CountingCommand other(copy);
    EXPECT_EQ(other.GetParentId(), 9u);
    EXPECT_TRUE(other.SupportsNetwork());
    ActorConfigCommand plain(4);
    EXPECT_FALSE(plain.SupportsNetwork());
    EXPECT_EQ(plain.GetNetPacket(), nullptr);
}

TEST_F(ActorCommandTest, TheNetworkTakesOnlyCommandsThatSupportIt)
{
    GAME::Test::TestEngine& e = Start();
    FakeActor actor;

    // The stub role: no network, so even a network command runs here.
    ASSERT_FALSE(e.IsNetworkEnabled());
    ActorConfigCommand::Dispatch(new CountingCommand(5, true, true), actor);
    EXPECT_EQ(actor.queued, 1);
    EXPECT_EQ(g_executed, 1);

    e.SetAsNetworkClient();
    NetworkShim* shim = e.GetNetworkShim();
    ASSERT_NE(shim, nullptr);
    shim->SetNetworkStats(true);
    shim->SetPacketLogging(true);
    ActorConfigCommand::Dispatch(new CountingCommand(5, false, true), actor);
    EXPECT_EQ(actor.queued, 2) << "a command without network support runs locally";
    EXPECT_EQ(g_executed, 2);

    ActorConfigCommand::Dispatch(new CountingCommand(6, true, true), actor);
    EXPECT_EQ(actor.queued, 2) << "sent, not run";
    EXPECT_EQ(g_executed, 2);
    EXPECT_EQ(g_commandsAlive, 0) << "the shim deleted the command";
    EXPECT_EQ(g_packetsAlive, 0) << "and its packet";
    EXPECT_EQ(shim->GetPacketCount(41), 1u);
    EXPECT_TRUE(e.Has("CountedPacket (type 41) for actor 6"));

    ActorConfigCommand::Dispatch(new CountingCommand(7, true, false), actor);
    EXPECT_EQ(g_commandsAlive, 0) << "no packet: not sent, still deleted";
    EXPECT_EQ(shim->GetPacketCount(41), 1u);
    EXPECT_EQ(g_executed, 2);

    // Actions: the packet is made, sent and deleted; the action stays the caller's.
    CountingAction action(true);
    shim->SendCharacterAction(&action);
    EXPECT_EQ(shim->GetPacketCount(40), 1u);
    EXPECT_TRUE(e.Has("CountedPacket (type 40) for character 77"));
    CountingAction silent(false);
    shim->SendCharacterAction(&silent);
    EXPECT_EQ(shim->GetPacketCount(40), 1u);
    EXPECT_EQ(g_packetsAlive, 0);

    e.SetAsNetworkStub();
    ActorConfigCommand::Dispatch(new CountingCommand(8, true, true), actor);
    EXPECT_EQ(actor.queued, 3);
    EXPECT_EQ(g_executed, 3);
}

} // namespace
} // namespace GAME
