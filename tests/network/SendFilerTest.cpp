// The guard's filer of a joined peer's reliable sends against ENet's own state of a peer, without
// traffic (GAME::Test::UnwiredHost): its window against ENet's for every number, and what it does
// with resends, fragments that lie about their packet, and numbers inside a packet in fragments.
#include "UnwiredHost.h"

#include "network/SendFiler.h"

#include <enet/enet.h>

#include <gtest/gtest.h>

namespace GAME {
namespace {

using GAME::Test::AppendFragment;
using GAME::Test::AppendReliable;
using GAME::Test::UnwiredHost;

constexpr size_t cap = size_t(4) << 20;
constexpr enet_uint16 sentTime = 1234;

// Screens the commands as a datagram's from the joined peer; true when the screen refused them whole
// or left nothing for ENet.
bool Screen(SendFiler& filer, ENetPeer& peer, std::vector<uint8_t> commands, SendFiler::Counters& counters)
{
    size_t size = commands.size();
    return filer.Screen(peer, true, commands.data(), size, true, sentTime, counters);
}

size_t Acknowledgements(ENetPeer& peer)
{
    return enet_list_size(&peer.acknowledgements);
}

std::vector<uint8_t> Bytes(size_t count, uint8_t value)
{
    return std::vector<uint8_t>(count, value);
}

// ENet's own answer, from its filing of a reliable send on a peer whose waiting data is full:
// a number it drops gets its stand-in command, one it would file is refused (null) for want of room.
bool ENetTakes(ENetPeer& peer, uint16_t number, uint16_t delivered)
{
    peer.channels[0].incomingReliableSequenceNumber = delivered;
    peer.totalWaitingData = peer.host->maximumWaitingData;
    ENetProtocol command = {};
    command.header.command = ENET_PROTOCOL_COMMAND_SEND_RELIABLE;
    command.header.channelID = 0;
    command.header.reliableSequenceNumber = number;
    const uint8_t byte = 0;
    const bool takes =
        enet_peer_queue_incoming_command(&peer, &command, &byte, 1, ENET_PACKET_FLAG_RELIABLE, 0) == nullptr;
    peer.totalWaitingData = 0;
    return takes;
}

// The numbers the filer holds for ENet, of every number against delivered ones at the edges of
// ENet's windows, of half the circle and of its end: exactly those ENet would file itself.
TEST(SendFilerTest, TheNumbersHeldAreThoseENetWouldFileForEveryDeliveredNumber)
{
    UnwiredHost unwired(1, cap);
    ASSERT_NE(unwired.host, nullptr);
    ENetPeer& peer = unwired.Peer(0);
    for (const uint16_t delivered : {0, 1, 4095, 4096, 4097, 12287, 0x7FFF, 0x8000, 0x9001, 0xA000, 0xBFFF,
                                     0xE123, 0xF000, 0xFFFE, 0xFFFF}) {
        int wrong = 0;
        uint32_t firstWrong = 0;
        for (uint32_t number = 0; number <= 0xFFFF; ++number) {
            const auto n = static_cast<uint16_t>(number);
            const bool filed = SendFiler::Ahead(n, delivered) && SendFiler::InENetWindow(n, delivered);
            if (filed != ENetTakes(peer, n, delivered) && wrong++ == 0)
                firstWrong = number;
        }
        EXPECT_EQ(wrong, 0) << "delivered " << delivered << ": " << wrong << " numbers, the first "
                            << firstWrong;
    }
}

// A resend of a number held is acknowledged again (its sender lost the first acknowledgement) and
// not held twice; once the one ENet waits for comes, both go to ENet, in order.
TEST(SendFilerTest, AResendOfAHeldNumberIsAcknowledgedAgain)
{
    UnwiredHost unwired(1, cap);
    ASSERT_NE(unwired.host, nullptr);
    ENetPeer& peer = unwired.Peer(0);
    SendFiler filer;
    SendFiler::Counters counters;
    std::vector<uint8_t> ahead;
    AppendReliable(ahead, 2, Bytes(8, 2));
    EXPECT_TRUE(Screen(filer, peer, ahead, counters));
    EXPECT_EQ(Acknowledgements(peer), 1u);
    EXPECT_TRUE(Screen(filer, peer, ahead, counters));
    EXPECT_EQ(Acknowledgements(peer), 2u);
    EXPECT_EQ(filer.GetHeldBytes(), 8u);
    EXPECT_TRUE(UnwiredHost::Take(peer).empty());

    std::vector<uint8_t> next;
    AppendReliable(next, 1, Bytes(5, 1));
    EXPECT_TRUE(Screen(filer, peer, next, counters));
    EXPECT_EQ(Acknowledgements(peer), 3u);
    const std::vector<UnwiredHost::Delivery> taken = UnwiredHost::Take(peer);
    ASSERT_EQ(taken.size(), 2u);
    EXPECT_EQ(taken[0].number, 1u);
    EXPECT_EQ(taken[0].data, Bytes(5, 1));
    EXPECT_EQ(taken[1].number, 2u);
    EXPECT_EQ(taken[1].data, Bytes(8, 2));
    EXPECT_TRUE(filer.IsEmpty());
    EXPECT_EQ(counters.commandsLeftOut.load(), 0u);
}

// A fragment under the first number of a packet held that gives another fragment count or total
// length is not of that packet: its datagram is refused and nothing of it is copied (its offset
// lies past the bytes held). The packet, once whole, is the honest fragments' bytes.
TEST(SendFilerTest, AFragmentThatLiesAboutThePacketHeldUnderItsNumberIsRefused)
{
    UnwiredHost unwired(1, cap);
    ASSERT_NE(unwired.host, nullptr);
    ENetPeer& peer = unwired.Peer(0);
    SendFiler filer;
    SendFiler::Counters counters;
    std::vector<uint8_t> first;
    AppendFragment(first, 2, 0, 2, 16, 0, Bytes(8, 0xA1));
    EXPECT_TRUE(Screen(filer, peer, first, counters));
    EXPECT_EQ(filer.GetHeldBytes(), 16u);

    std::vector<uint8_t> longer, moreFragments;
    AppendFragment(longer, 2, 1, 2, 4096, 4000, Bytes(96, 0xEE));
    AppendFragment(moreFragments, 2, 2, 3, 16, 8, Bytes(8, 0xEE));
    for (const std::vector<uint8_t>* lie : {&longer, &moreFragments}) {
        const uint64_t refused = counters.refusedFragments;
        EXPECT_TRUE(Screen(filer, peer, *lie, counters));
        EXPECT_EQ(counters.refusedFragments.load(), refused + 1);
    }
    EXPECT_EQ(filer.GetHeldBytes(), 16u);

    std::vector<uint8_t> rest;
    AppendFragment(rest, 2, 1, 2, 16, 8, Bytes(8, 0xB2));
    AppendReliable(rest, 1, Bytes(3, 1));
    EXPECT_TRUE(Screen(filer, peer, rest, counters));
    const std::vector<UnwiredHost::Delivery> taken = UnwiredHost::Take(peer);
    ASSERT_EQ(taken.size(), 2u);
    EXPECT_EQ(taken[1].number, 2u);
    std::vector<uint8_t> whole = Bytes(8, 0xA1);
    whole.resize(16, 0xB2);
    EXPECT_EQ(taken[1].data, whole);
    EXPECT_TRUE(filer.IsEmpty());
}

// Sends behind a missing one may fill seven eighths of what a peer may have waiting, the whole of
// each within it, so that the missing one always finds room: on a cap of 16 KB, a second send of
// 10,000 bytes behind the gap is left out, and the missing one then goes, with the first (the
// fault, room looked at before the send's bytes: 20,000 held, past the cap, and the missing one
// left out each time it comes).
TEST(SendFilerTest, TheMissingSendFindsRoomWhateverTheSendsHeldBehindIt)
{
    UnwiredHost unwired(1, 16384);
    ASSERT_NE(unwired.host, nullptr);
    ENetPeer& peer = unwired.Peer(0);
    SendFiler filer;
    SendFiler::Counters counters;
    std::vector<uint8_t> behind;
    AppendReliable(behind, 2, Bytes(10000, 2));
    AppendReliable(behind, 3, Bytes(10000, 3));
    EXPECT_TRUE(Screen(filer, peer, behind, counters));
    EXPECT_EQ(counters.commandsLeftOut.load(), 1u);
    EXPECT_EQ(filer.GetHeldBytes(), 10000u);

    std::vector<uint8_t> missing;
    AppendReliable(missing, 1, Bytes(100, 1));
    EXPECT_TRUE(Screen(filer, peer, missing, counters));
    const std::vector<UnwiredHost::Delivery> taken = UnwiredHost::Take(peer);
    ASSERT_EQ(taken.size(), 2u);
    EXPECT_EQ(taken[0].number, 1u);
    EXPECT_EQ(taken[1].number, 2u);
    EXPECT_TRUE(filer.IsEmpty());
}

// A datagram the screen refuses is refused whole: sends before the command that refuses it are
// neither filed, acknowledged nor handed to ENet (the fault, rules looked at command by command:
// the sends before an unreliable one, or before a fragment that disagrees with a send or fragment
// before it about their packet, taken and acknowledged from a datagram counted as refused).
TEST(SendFilerTest, ADatagramRefusedIsRefusedWhole)
{
    UnwiredHost unwired(1, cap);
    ASSERT_NE(unwired.host, nullptr);
    ENetPeer& peer = unwired.Peer(0);
    SendFiler filer;
    SendFiler::Counters counters;
    std::vector<uint8_t> unreliable;
    AppendReliable(unreliable, 2, Bytes(8, 2));
    AppendReliable(unreliable, 1, Bytes(8, 1));
    ENetProtocolSendUnreliable loose = {};
    loose.header.command = ENET_PROTOCOL_COMMAND_SEND_UNRELIABLE;
    loose.dataLength = ENET_HOST_TO_NET_16(1);
    const auto* bytes = reinterpret_cast<const uint8_t*>(&loose);
    unreliable.insert(unreliable.end(), bytes, bytes + sizeof(loose));
    unreliable.push_back(0x55);
    EXPECT_TRUE(Screen(filer, peer, unreliable, counters));
    EXPECT_EQ(counters.refusedCommands.load(), 1u);

    std::vector<uint8_t> disagreeing;
    AppendFragment(disagreeing, 3, 0, 2, 16, 0, Bytes(8, 3));
    AppendReliable(disagreeing, 1, Bytes(8, 1));
    AppendFragment(disagreeing, 3, 1, 3, 16, 8, Bytes(8, 3));
    EXPECT_TRUE(Screen(filer, peer, disagreeing, counters));
    EXPECT_EQ(counters.refusedFragments.load(), 1u);
    std::vector<uint8_t> wholeThenFragment;
    AppendReliable(wholeThenFragment, 6, Bytes(8, 6));
    AppendReliable(wholeThenFragment, 1, Bytes(8, 1));
    AppendFragment(wholeThenFragment, 6, 0, 2, 16, 0, Bytes(8, 6));
    EXPECT_TRUE(Screen(filer, peer, wholeThenFragment, counters));
    EXPECT_EQ(counters.refusedFragments.load(), 2u);

    EXPECT_TRUE(filer.IsEmpty());
    EXPECT_EQ(Acknowledgements(peer), 0u);
    EXPECT_TRUE(UnwiredHost::Take(peer).empty());
    EXPECT_EQ(peer.channels[0].incomingReliableSequenceNumber, 0u);
}

// A packet in fragments takes the numbers of its fragments: a send held under one of them (a
// sender that lies) can never go to ENet, and goes when the packet does; what follows the
// packet goes on.
TEST(SendFilerTest, ASendHeldUnderANumberInsideAPacketInFragmentsGoesWithThePacket)
{
    UnwiredHost unwired(1, cap);
    ASSERT_NE(unwired.host, nullptr);
    ENetPeer& peer = unwired.Peer(0);
    SendFiler filer;
    SendFiler::Counters counters;
    std::vector<uint8_t> held;
    for (uint32_t index = 0; index < 3; ++index)
        AppendFragment(held, 2, index, 3, 12, 4 * index, Bytes(4, static_cast<uint8_t>(0x20 + index)));
    AppendReliable(held, 3, Bytes(6, 3));
    AppendReliable(held, 5, Bytes(7, 5));
    EXPECT_TRUE(Screen(filer, peer, held, counters));
    EXPECT_EQ(filer.GetHeldBytes(), 12u + 6u + 7u);

    std::vector<uint8_t> next;
    AppendReliable(next, 1, Bytes(2, 1));
    EXPECT_TRUE(Screen(filer, peer, next, counters));
    const std::vector<UnwiredHost::Delivery> taken = UnwiredHost::Take(peer);
    ASSERT_EQ(taken.size(), 3u);
    EXPECT_EQ(taken[1].number, 2u);
    EXPECT_EQ(taken[1].fragmentCount, 3u);
    EXPECT_EQ(taken[2].number, 5u);
    EXPECT_EQ(peer.channels[0].incomingReliableSequenceNumber, 5u);
    EXPECT_TRUE(filer.IsEmpty());
    EXPECT_EQ(filer.GetHeldBytes(), 0u);
}

} // namespace
} // namespace GAME
