// The datagram screen of a listening socket's guard and its filer of a joined peer's reliable
// sends (Engine/network/SendFiler.h) on datagrams of any commands, against ENet's own state of
// two peers of a host that can send nothing (tests/network/UnwiredHost.h): one joined, whose sends
// the filer files, and one not joined. What the screen leaves of a datagram is handed to ENet as
// its own receive would (reliable sends and fragments, in order, stopping where ENet stops; ENet's
// other commands change nothing the filer looks at).
//
// The input is a sequence of records, each `op length(u16, little-endian) bytes[length]`:
//   0  the bytes as the commands of a datagram from the joined peer, with a sent time
//   1  the same from the peer not joined
//   2  the same from the joined peer without a sent time
//   3  a turn of the receive thread: each filer that holds anything hands ENet what comes next
//   4  the main thread takes what ENet delivered to both peers
//   5  the joined peer's slot gets a new occupant, connected and joined (the filer cleared)
// Nothing may crash, hang or leak. After each record: ENet holds no command waiting for an
// earlier one (the filer hands it only the one it waits for; a peer not joined may send only
// that one); what the joined peer's filer and ENet hold stays within ENet's cap on waiting data
// and one packet, and the other peer's filer holds nothing; what the screen let through has no
// more commands than ENet sends, no unreliable, unsequenced or empty send, nothing on another
// channel and no fragment of a peer not joined, and one it refused changed nothing (nothing of it
// filed, acknowledged or handed on). What ENet delivers comes in order, each number
// once, and is what the peer sent under that number (a packet in fragments: at each offset a byte
// of a fragment of it that covers it, or zero), as this target reads the input itself.
#include "common/FuzzSeeds.h"
#include "common/QuietLog.h"

#include "../network/UnwiredHost.h"

#include "network/SendFiler.h"

#include <enet/enet.h>

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <map>
#include <vector>

namespace {

using namespace GAME;
using GAME::Test::UnwiredHost;

// Small enough that a few claimed packet lengths reach it.
constexpr size_t waitingCap = 16384;
constexpr size_t largestPacket = 0xFFFF;

enum Op : uint8_t
{
    OP_JOINED = 0,
    OP_NOT_JOINED,
    OP_JOINED_NO_TIME,
    OP_TURN,
    OP_TAKE,
    OP_NEW_OCCUPANT,
    OP_COUNT,
};

// What a peer sent, read from the input: whole sends by number, fragments by their packet's
// first number, and the number ENet should deliver next.
struct Sent
{
    struct Fragment
    {
        uint32_t count;
        uint32_t total;
        uint32_t offset;
        std::vector<uint8_t> bytes;
    };
    std::map<uint16_t, std::vector<std::vector<uint8_t>>> sends;
    std::map<uint16_t, std::vector<Fragment>> fragments;
    uint16_t next = 1;
};

void Check(bool condition)
{
    if (!condition)
        std::abort();
}

// The commands of a datagram as ENet reads them: `visit(number, command, size)` for each whole
// command (its data included where ENet checks it against what came), up to where ENet stops.
template <typename Visit> void ForEachCommand(const uint8_t* data, size_t size, Visit visit)
{
    size_t offset = 0;
    while (offset + sizeof(ENetProtocolCommandHeader) <= size) {
        const uint8_t number = data[offset] & ENET_PROTOCOL_COMMAND_MASK;
        if (number >= ENET_PROTOCOL_COMMAND_COUNT)
            return;
        const size_t commandSize = enet_protocol_command_size(number);
        if (commandSize == 0 || offset + commandSize > size)
            return;
        size_t length = commandSize;
        if (number == ENET_PROTOCOL_COMMAND_SEND_RELIABLE)
            length += SendFiler::Read16(data + offset + offsetof(ENetProtocolSendReliable, dataLength));
        else if (number == ENET_PROTOCOL_COMMAND_SEND_FRAGMENT)
            length += SendFiler::Read16(data + offset + offsetof(ENetProtocolSendFragment, dataLength));
        if (offset + length > size)
            return;
        if (!visit(number, data + offset, length))
            return;
        offset += length;
    }
}

void Record(Sent& sent, const std::vector<uint8_t>& commands)
{
    ForEachCommand(
        commands.data(), commands.size(), [&](uint8_t number, const uint8_t* command, size_t length) {
            const uint16_t sequence =
                SendFiler::Read16(command + offsetof(ENetProtocolCommandHeader, reliableSequenceNumber));
            if (number == ENET_PROTOCOL_COMMAND_SEND_RELIABLE) {
                const uint8_t* payload = command + sizeof(ENetProtocolSendReliable);
                sent.sends[sequence].emplace_back(payload, command + length);
            } else if (number == ENET_PROTOCOL_COMMAND_SEND_FRAGMENT) {
                const uint8_t* payload = command + sizeof(ENetProtocolSendFragment);
                sent.fragments[SendFiler::Read16(command +
                                                 offsetof(ENetProtocolSendFragment, startSequenceNumber))]
                    .push_back(Sent::Fragment{
                        SendFiler::Read32(command + offsetof(ENetProtocolSendFragment, fragmentCount)),
                        SendFiler::Read32(command + offsetof(ENetProtocolSendFragment, totalLength)),
                        SendFiler::Read32(command + offsetof(ENetProtocolSendFragment, fragmentOffset)),
                        std::vector<uint8_t>(payload, command + length)});
            }
            return true;
        });
}

// ENet's window for a number, counted from the one it delivered last.
bool InWindow(const ENetPeer& peer, uint16_t sequence)
{
    const uint16_t delivered = peer.channels[0].incomingReliableSequenceNumber;
    unsigned window = sequence / ENET_PEER_RELIABLE_WINDOW_SIZE;
    const unsigned current = delivered / ENET_PEER_RELIABLE_WINDOW_SIZE;
    if (sequence < delivered)
        window += ENET_PEER_RELIABLE_WINDOWS;
    return window >= current && window < current + ENET_PEER_FREE_RELIABLE_WINDOWS - 1;
}

// What the screen left of a datagram, handed to ENet as its receive hands reliable sends and
// fragments on, with the checks of what may be left.
void HandOn(ENetPeer& peer, bool joined, const uint8_t* data, size_t size)
{
    int commands = 0;
    ForEachCommand(data, size, [&](uint8_t number, const uint8_t* command, size_t length) {
        Check(++commands <= ENET_PROTOCOL_MAXIMUM_PACKET_COMMANDS);
        const bool channel0 = command[offsetof(ENetProtocolCommandHeader, channelID)] == 0;
        switch (number) {
        case ENET_PROTOCOL_COMMAND_SEND_UNRELIABLE:
        case ENET_PROTOCOL_COMMAND_SEND_UNSEQUENCED:
        case ENET_PROTOCOL_COMMAND_SEND_UNRELIABLE_FRAGMENT:
            std::abort();
        case ENET_PROTOCOL_COMMAND_SEND_RELIABLE: {
            const size_t dataLength = length - sizeof(ENetProtocolSendReliable);
            Check(channel0 && dataLength > 0);
            ENetProtocol host = {};
            std::memcpy(&host, command, sizeof(ENetProtocolSendReliable));
            host.header.reliableSequenceNumber =
                SendFiler::Read16(command + offsetof(ENetProtocolCommandHeader, reliableSequenceNumber));
            return enet_peer_queue_incoming_command(&peer, &host, command + sizeof(ENetProtocolSendReliable),
                                                    dataLength, ENET_PACKET_FLAG_RELIABLE, 0) != nullptr;
        }
        case ENET_PROTOCOL_COMMAND_SEND_FRAGMENT: {
            Check(joined && channel0 && length > sizeof(ENetProtocolSendFragment));
            const uint16_t start =
                SendFiler::Read16(command + offsetof(ENetProtocolSendFragment, startSequenceNumber));
            // ENet drops a fragment outside its window; inside it, one the filer left (its packet's
            // first number the one delivered) ENet cannot file either and stops there. Any other
            // ENet would hold, waiting.
            if (!InWindow(peer, start))
                return true;
            Check(start == peer.channels[0].incomingReliableSequenceNumber);
            return false;
        }
        default:
            return true; // nothing the filer looks at
        }
    });
}

// Takes what ENet delivered to the peer: in order, each what the peer sent under its number.
size_t Take(ENetPeer& peer, Sent& sent)
{
    const std::vector<UnwiredHost::Delivery> taken = UnwiredHost::Take(peer);
    for (const UnwiredHost::Delivery& delivery : taken) {
        Check(delivery.number == sent.next);
        if (delivery.fragmentCount == 0) {
            const auto& sends = sent.sends[delivery.number];
            bool found = false;
            for (const std::vector<uint8_t>& payload : sends)
                found = found || payload == delivery.data;
            Check(found);
            sent.next = static_cast<uint16_t>(delivery.number + 1);
            continue;
        }
        const std::vector<Sent::Fragment>& fragments = sent.fragments[delivery.number];
        bool announced = false;
        for (const Sent::Fragment& fragment : fragments)
            announced = announced ||
                        (fragment.count == delivery.fragmentCount && fragment.total == delivery.data.size());
        Check(announced);
        for (size_t at = 0; at < delivery.data.size(); ++at) {
            if (delivery.data[at] == 0)
                continue;
            bool covered = false;
            for (const Sent::Fragment& fragment : fragments)
                covered = covered || (fragment.count == delivery.fragmentCount &&
                                      fragment.total == delivery.data.size() && at >= fragment.offset &&
                                      at - fragment.offset < fragment.bytes.size() &&
                                      fragment.bytes[at - fragment.offset] == delivery.data[at]);
            Check(covered);
        }
        sent.next = static_cast<uint16_t>(delivery.number + delivery.fragmentCount);
    }
    return taken.size();
}

// What a datagram may change, as it was before the screen looked at it.
struct Before
{
    Before(const SendFiler& filer, ENetPeer& peer, const SendFiler::Counters& counters)
        : held(filer.GetHeldBytes()), acknowledgements(enet_list_size(&peer.acknowledgements)),
          delivered(peer.channels[0].incomingReliableSequenceNumber), waiting(peer.totalWaitingData),
          refused(counters.refusedCommands + counters.refusedFragments)
    {
    }
    bool Refused(const SendFiler::Counters& counters) const
    {
        return counters.refusedCommands + counters.refusedFragments != refused;
    }
    bool Unchanged(const SendFiler& filer, ENetPeer& peer) const
    {
        return filer.GetHeldBytes() == held && enet_list_size(&peer.acknowledgements) == acknowledgements &&
               peer.channels[0].incomingReliableSequenceNumber == delivered &&
               peer.totalWaitingData == waiting;
    }
    size_t held;
    size_t acknowledgements;
    uint16_t delivered;
    size_t waiting;
    uint64_t refused;
};

// The peer slot's new occupant: connected anew, nothing of the last one's left.
bool Reconnect(ENetHost* host, ENetPeer& peer)
{
    enet_peer_reset(&peer);
    ENetAddress nowhere = {};
    ENetPeer* again = enet_host_connect(host, &nowhere, 1, 0);
    if (again != &peer)
        return false;
    enet_peer_on_connect(again);
    again->state = ENET_PEER_STATE_CONNECTED;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzLog::Silence();
    UnwiredHost unwired(2, waitingCap);
    if (!unwired.host)
        return 0;
    ENetPeer* peers[2] = {&unwired.Peer(0), &unwired.Peer(1)};
    SendFiler filers[2];
    Sent sent[2];
    SendFiler::Counters counters;
    size_t delivered = 0;
    enet_uint16 sentTime = 0;

    size_t offset = 0;
    while (offset + 3 <= size) {
        const uint8_t op = data[offset] % OP_COUNT;
        const size_t length = std::min<size_t>(data[offset + 1] | data[offset + 2] << 8, size - offset - 3);
        std::vector<uint8_t> bytes(data + offset + 3, data + offset + 3 + length);
        offset += 3 + length;
        switch (op) {
        case OP_JOINED:
        case OP_NOT_JOINED:
        case OP_JOINED_NO_TIME: {
            const int who = op == OP_NOT_JOINED ? 1 : 0;
            ENetPeer& peer = *peers[who];
            Record(sent[who], bytes);
            const Before before(filers[who], peer, counters);
            size_t left = bytes.size();
            const bool screened = filers[who].Screen(peer, who == 0, bytes.data(), left,
                                                     op != OP_JOINED_NO_TIME, ++sentTime, counters);
            Check(left <= bytes.size());
            if (before.Refused(counters))
                Check(screened && before.Unchanged(filers[who], peer)); // refused whole
            else if (!screened)
                HandOn(peer, who == 0, bytes.data(), left);
            break;
        }
        case OP_TURN:
            for (int who = 0; who < 2; ++who)
                if (!filers[who].IsEmpty())
                    filers[who].Feed(*peers[who]);
            break;
        case OP_TAKE:
            delivered += Take(*peers[0], sent[0]);
            Take(*peers[1], sent[1]);
            break;
        case OP_NEW_OCCUPANT:
            delivered += Take(*peers[0], sent[0]);
            filers[0].Clear();
            sent[0] = Sent();
            Check(Reconnect(unwired.host, *peers[0]));
            break;
        default:
            break;
        }
        for (int who = 0; who < 2; ++who)
            Check(enet_list_empty(&peers[who]->channels[0].incomingReliableCommands));
        Check(filers[0].GetHeldBytes() + peers[0]->totalWaitingData < waitingCap + largestPacket);
        Check(filers[1].IsEmpty());
    }
    delivered += Take(*peers[0], sent[0]);
    Take(*peers[1], sent[1]);
    if (delivered > 0)
        FuzzAccepted(); // the joined peer's sends went through the filer to ENet
    return 0;
}

void EngineFuzzSeeds(FuzzSeedSink& sink)
{
    using GAME::Test::AppendFragment;
    using GAME::Test::AppendReliable;
    auto record = [](std::vector<uint8_t>& out, Op op, const std::vector<uint8_t>& bytes = {}) {
        out.push_back(op);
        out.push_back(static_cast<uint8_t>(bytes.size() & 0xFF));
        out.push_back(static_cast<uint8_t>(bytes.size() >> 8));
        out.insert(out.end(), bytes.begin(), bytes.end());
    };
    auto payload = [](uint32_t n, size_t length = 4) {
        std::vector<uint8_t> bytes(length);
        for (size_t i = 0; i < length; ++i)
            bytes[i] = static_cast<uint8_t>(n * 7 + i + 1);
        return bytes;
    };
    // Sends first to last (ascending or not), `perDatagram` a datagram, from the peer of `op`.
    auto sends = [&](std::vector<uint8_t>& out, Op op, const std::vector<uint16_t>& numbers,
                     size_t perDatagram) {
        for (size_t i = 0; i < numbers.size(); i += perDatagram) {
            std::vector<uint8_t> datagram;
            for (size_t k = i; k < numbers.size() && k < i + perDatagram; ++k)
                AppendReliable(datagram, numbers[k], payload(numbers[k]));
            record(out, op, datagram);
        }
    };
    auto range = [](uint16_t from, uint16_t to, bool descending = false) {
        std::vector<uint16_t> numbers;
        for (uint32_t n = from; n <= to; ++n)
            numbers.push_back(static_cast<uint16_t>(n));
        if (descending)
            std::reverse(numbers.begin(), numbers.end());
        return numbers;
    };

    std::vector<uint8_t> inOrder;
    sends(inOrder, OP_JOINED, range(1, 40), 8);
    record(inOrder, OP_TAKE);
    sink.Add("in_order", inOrder);

    // Newest first behind the missing one, then it, and a resend of what is held.
    std::vector<uint8_t> reversed;
    sends(reversed, OP_JOINED, range(2, 64, true), 16);
    sends(reversed, OP_JOINED, {10, 11}, 2);
    sends(reversed, OP_JOINED, {1}, 1);
    record(reversed, OP_TAKE);
    sink.Add("reversed", reversed);

    // A run of 600 behind a gap, handed on a batch a turn.
    std::vector<uint8_t> run;
    sends(run, OP_JOINED, range(2, 601), 32);
    sends(run, OP_JOINED, {1}, 1);
    for (int turn = 0; turn < 3; ++turn)
        record(run, OP_TURN);
    record(run, OP_TAKE);
    sink.Add("gap_run", run);

    // Packets in fragments out of order, one held behind a send not yet come, a fragment again,
    // then the send it waits for; a lying fragment of a held packet after that is refused.
    std::vector<uint8_t> fragments, datagram;
    AppendFragment(datagram, 3, 2, 3, 20, 16, payload(3, 4));
    AppendFragment(datagram, 3, 0, 3, 20, 0, payload(1, 8));
    AppendReliable(datagram, 6, payload(6));
    record(fragments, OP_JOINED, datagram);
    datagram.clear();
    AppendFragment(datagram, 3, 0, 3, 20, 0, payload(1, 8));
    AppendFragment(datagram, 3, 1, 3, 20, 8, payload(2, 8));
    AppendReliable(datagram, 2, payload(2));
    AppendReliable(datagram, 1, payload(1));
    record(fragments, OP_JOINED, datagram);
    datagram.clear();
    AppendFragment(datagram, 8, 0, 2, 12, 0, payload(8, 6));
    record(fragments, OP_JOINED, datagram);
    datagram.clear();
    AppendFragment(datagram, 8, 1, 2, 4000, 3990, payload(9, 10));
    record(fragments, OP_JOINED, datagram);
    record(fragments, OP_TAKE);
    sink.Add("fragments", fragments);

    // The peer not joined sends its next, one past it (left out), then the one it waits for; the
    // joined one sends in order without a sent time (refused) and with one.
    std::vector<uint8_t> twoPeers;
    sends(twoPeers, OP_NOT_JOINED, {1}, 1);
    sends(twoPeers, OP_NOT_JOINED, {3, 2}, 2);
    datagram.clear();
    AppendFragment(datagram, 3, 0, 1, 8, 0, payload(3, 8));
    record(twoPeers, OP_NOT_JOINED, datagram);
    sends(twoPeers, OP_JOINED_NO_TIME, {1, 2}, 2);
    sends(twoPeers, OP_JOINED, {1, 2}, 2);
    record(twoPeers, OP_TAKE);
    sink.Add("two_peers", twoPeers);

    // Packets whose claimed lengths fill the cap behind a gap, the one ENet waits for after them
    // while the main thread takes nothing, then a new occupant of the joined peer's slot who
    // starts again.
    std::vector<uint8_t> cap;
    for (uint16_t n = 0; n < 4; ++n) {
        datagram.clear();
        AppendFragment(datagram, static_cast<uint16_t>(10 + 2 * n), 0, 2, 6000, 0, payload(n, 8));
        record(cap, OP_JOINED, datagram);
    }
    sends(cap, OP_JOINED, range(1, 9), 9);
    record(cap, OP_TURN);
    record(cap, OP_NEW_OCCUPANT);
    sends(cap, OP_JOINED, range(1, 3), 3);
    record(cap, OP_TAKE);
    sink.Add("cap_and_new_occupant", cap);

    // Datagrams the screen refuses whole, each of which would have delivered the joined peer's
    // first send: with an unreliable send, with more commands than ENet sends, with an empty send.
    std::vector<uint8_t> unreliable;
    datagram.clear();
    AppendReliable(datagram, 1, payload(1));
    ENetProtocolSendUnreliable loose = {};
    loose.header.command = ENET_PROTOCOL_COMMAND_SEND_UNRELIABLE;
    loose.header.reliableSequenceNumber = ENET_HOST_TO_NET_16(1);
    loose.dataLength = ENET_HOST_TO_NET_16(4);
    const auto* looseBytes = reinterpret_cast<const uint8_t*>(&loose);
    datagram.insert(datagram.end(), looseBytes, looseBytes + sizeof(loose));
    datagram.insert(datagram.end(), 4, 0x55);
    record(unreliable, OP_JOINED, datagram);
    record(unreliable, OP_TAKE);
    sink.AddRefused("unreliable", unreliable);
    std::vector<uint8_t> crowded;
    sends(crowded, OP_JOINED, range(1, ENET_PROTOCOL_MAXIMUM_PACKET_COMMANDS + 1),
          ENET_PROTOCOL_MAXIMUM_PACKET_COMMANDS + 1);
    record(crowded, OP_TAKE);
    sink.AddRefused("too_many_commands", crowded);
    std::vector<uint8_t> empty;
    datagram.clear();
    AppendReliable(datagram, 1, payload(1));
    AppendReliable(datagram, 2, {});
    record(empty, OP_JOINED, datagram);
    record(empty, OP_TAKE);
    sink.AddRefused("empty_send", empty);
}
