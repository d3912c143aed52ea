#include "network/SendFiler.h"

#include "network/Socket.h"

#include <cstring>

namespace GAME {

namespace {

void Count(std::atomic<uint64_t>& counter)
{
    counter.fetch_add(1, std::memory_order_relaxed);
}

// Acknowledges a send taken out of its datagram as ENet would have (ENet keeps the command's
// number in host order by then), when its sender asked for it.
void Acknowledge(ENetPeer& peer, const uint8_t* command, uint16_t sequence, enet_uint16 sentTime)
{
    if ((command[0] & ENET_PROTOCOL_COMMAND_FLAG_ACKNOWLEDGE) == 0)
        return;
    ENetProtocol copy = {};
    std::memcpy(&copy, command, sizeof(ENetProtocolCommandHeader));
    copy.header.reliableSequenceNumber = sequence;
    enet_peer_queue_acknowledgement(&peer, &copy, sentTime);
}

// Hands ENet a whole packet as the next it waits for: filed at the end of its (empty) list and
// delivered at once. A packet joined here from fragments goes as one ENet joined itself, so that
// ENet moves past all its numbers. False when ENet did not take it.
bool HandToENet(ENetPeer& peer, uint16_t sequence, const uint8_t* data, size_t length, uint32_t fragmentCount)
{
    ENetProtocol command = {};
    command.header.command = static_cast<enet_uint8>(
        int(fragmentCount > 0 ? ENET_PROTOCOL_COMMAND_SEND_FRAGMENT : ENET_PROTOCOL_COMMAND_SEND_RELIABLE) |
        int(ENET_PROTOCOL_COMMAND_FLAG_ACKNOWLEDGE));
    command.header.channelID = 0;
    command.header.reliableSequenceNumber = sequence;
    ENetIncomingCommand* filed = enet_peer_queue_incoming_command(&peer, &command, data, length,
                                                                  ENET_PACKET_FLAG_RELIABLE, fragmentCount);
    if (!filed)
        return false;
    if (fragmentCount > 0) {
        // ENet made it waiting for its fragments: they are all in it.
        filed->fragmentsRemaining = 0;
        enet_peer_dispatch_incoming_reliable_commands(&peer, &peer.channels[0], filed);
    }
    return true;
}

} // namespace

size_t SendFiler::CommandLength(const uint8_t* command, size_t left)
{
    if (left < sizeof(ENetProtocolCommandHeader))
        return 0;
    const uint8_t number = command[0] & ENET_PROTOCOL_COMMAND_MASK;
    if (number >= ENET_PROTOCOL_COMMAND_COUNT)
        return 0;
    const size_t size = enet_protocol_command_size(number);
    if (size == 0 || size > left)
        return 0;
    size_t at = 0;
    switch (number) {
    case ENET_PROTOCOL_COMMAND_SEND_RELIABLE:
        at = offsetof(ENetProtocolSendReliable, dataLength);
        break;
    case ENET_PROTOCOL_COMMAND_SEND_UNRELIABLE:
        at = offsetof(ENetProtocolSendUnreliable, dataLength);
        break;
    case ENET_PROTOCOL_COMMAND_SEND_UNSEQUENCED:
        at = offsetof(ENetProtocolSendUnsequenced, dataLength);
        break;
    case ENET_PROTOCOL_COMMAND_SEND_FRAGMENT:
    case ENET_PROTOCOL_COMMAND_SEND_UNRELIABLE_FRAGMENT:
        at = offsetof(ENetProtocolSendFragment, dataLength);
        break;
    default:
        return size;
    }
    const size_t length = size + Read16(command + at);
    return length <= left ? length : 0;
}

bool SendFiler::Ahead(uint16_t sequence, uint16_t delivered)
{
    const uint16_t ahead = static_cast<uint16_t>(sequence - delivered);
    return ahead != 0 && ahead <= 0x8000;
}

bool SendFiler::InENetWindow(uint16_t sequence, uint16_t delivered)
{
    unsigned window = sequence / ENET_PEER_RELIABLE_WINDOW_SIZE;
    const unsigned current = delivered / ENET_PEER_RELIABLE_WINDOW_SIZE;
    if (sequence < delivered)
        window += ENET_PEER_RELIABLE_WINDOWS;
    return window >= current && window < current + ENET_PEER_FREE_RELIABLE_WINDOWS - 1;
}

void SendFiler::Clear()
{
    // Swapped out, so that a peer that held thousands leaves no large table behind.
    std::unordered_map<uint16_t, Held>().swap(m_held);
    m_bytes = 0;
}

void SendFiler::Erase(std::unordered_map<uint16_t, Held>::iterator it)
{
    m_bytes -= it->second.data.size();
    m_held.erase(it);
}

bool SendFiler::HasRoom(const ENetPeer& peer, uint16_t sequence, size_t length) const
{
    const size_t waiting = m_bytes + peer.totalWaitingData;
    const size_t cap = peer.host->maximumWaitingData;
    const uint16_t next = static_cast<uint16_t>(peer.channels[0].incomingReliableSequenceNumber + 1);
    if (sequence == next)
        return waiting < cap; // as ENet takes it
    // Behind a gap, the whole packet within seven eighths: one let in because what waited was
    // below them may be larger than the last eighth of a small cap, and would shut the one ENet
    // waits for out for good.
    return waiting + length <= cap - cap / 8;
}

bool SendFiler::IsReady(const ENetPeer& peer) const
{
    if (m_held.empty() || peer.state != ENET_PEER_STATE_CONNECTED || peer.channelCount == 0 ||
        !peer.channels || peer.totalWaitingData >= peer.host->maximumWaitingData)
        return false;
    auto it = m_held.find(static_cast<uint16_t>(peer.channels[0].incomingReliableSequenceNumber + 1));
    return it != m_held.end() && it->second.remaining == 0;
}

void SendFiler::Feed(ENetPeer& peer)
{
    for (unsigned fed = 0;
         fed < feedBatch && !m_held.empty() && peer.state == ENET_PEER_STATE_CONNECTED &&
         peer.channelCount > 0 && peer.channels && peer.totalWaitingData < peer.host->maximumWaitingData;
         ++fed) {
        const uint16_t next = static_cast<uint16_t>(peer.channels[0].incomingReliableSequenceNumber + 1);
        auto it = m_held.find(next);
        if (it == m_held.end() || it->second.remaining > 0)
            return;
        const Held& held = it->second;
        const uint32_t fragments = held.fragmentCount;
        if (!HandToENet(peer, next, held.data.data(), held.data.size(), fragments))
            return;
        Erase(it);
        // Numbers inside a packet in fragments are its own: anything else held under one of them
        // (a sender that lies) would never be handed on.
        for (uint32_t k = 1; k < fragments && !m_held.empty(); ++k) {
            auto inside = m_held.find(static_cast<uint16_t>(next + k));
            if (inside != m_held.end())
                Erase(inside);
        }
    }
}

bool SendFiler::FileSend(ENetPeer& peer, const uint8_t* command, uint16_t sequence, const uint8_t* payload,
                         size_t length, enet_uint16 sentTime, Counters& counters)
{
    const uint16_t delivered = peer.channels[0].incomingReliableSequenceNumber;
    if (!Ahead(sequence, delivered) || !InENetWindow(sequence, delivered))
        return false; // ENet drops it before any walk
    if (m_held.find(sequence) != m_held.end()) {
        Acknowledge(peer, command, sequence, sentTime); // a resend
        return true;
    }
    if (!HasRoom(peer, sequence, length)) {
        Count(counters.commandsLeftOut);
        return true;
    }
    if (sequence == static_cast<uint16_t>(delivered + 1)) {
        // The one ENet waits for: straight to ENet, then what follows it here.
        if (!HandToENet(peer, sequence, payload, length, 0)) {
            Count(counters.commandsLeftOut);
            return true;
        }
        Acknowledge(peer, command, sequence, sentTime);
        Feed(peer);
        return true;
    }
    Held& held = m_held[sequence];
    held.data.assign(payload, payload + length);
    m_bytes += length;
    Acknowledge(peer, command, sequence, sentTime);
    return true;
}

bool SendFiler::FileFragment(ENetPeer& peer, const uint8_t* command, const uint8_t* payload, size_t length,
                             enet_uint16 sentTime, Counters& counters, bool& refuse)
{
    const uint16_t sequence =
        SendFiler::Read16(command + offsetof(ENetProtocolCommandHeader, reliableSequenceNumber));
    const uint16_t start =
        SendFiler::Read16(command + offsetof(ENetProtocolSendFragment, startSequenceNumber));
    const uint32_t count = SendFiler::Read32(command + offsetof(ENetProtocolSendFragment, fragmentCount));
    const uint32_t number = SendFiler::Read32(command + offsetof(ENetProtocolSendFragment, fragmentNumber));
    const uint32_t total = SendFiler::Read32(command + offsetof(ENetProtocolSendFragment, totalLength));
    const uint32_t at = SendFiler::Read32(command + offsetof(ENetProtocolSendFragment, fragmentOffset));
    // What ENet refuses of a fragment (and the rest of its datagram with it).
    if (count > ENET_PROTOCOL_MAXIMUM_FRAGMENT_COUNT || number >= count ||
        total > peer.host->maximumPacketSize || total < count || at >= total || length > total - at) {
        refuse = true;
        return true;
    }
    const uint16_t delivered = peer.channels[0].incomingReliableSequenceNumber;
    if (!Ahead(start, delivered) || !InENetWindow(start, delivered))
        return false; // ENet drops it before any walk
    auto it = m_held.find(start);
    if (it == m_held.end()) {
        // ENet makes the whole packet wait from its first fragment on: so is it counted here.
        if (!HasRoom(peer, start, total)) {
            Count(counters.commandsLeftOut);
            return true;
        }
        it = m_held.emplace(start, Held()).first;
        Held& held = it->second;
        held.fragmentCount = count;
        held.remaining = count;
        held.had.assign((count + 31) / 32, 0);
        held.data.assign(total, 0);
        m_bytes += total;
    }
    Held& held = it->second;
    if (held.fragmentCount != count || held.data.size() != total) {
        // Not the packet held under that number (Refuses turned it away first: this bounds the copy).
        refuse = true;
        return true;
    }
    uint32_t& bits = held.had[number / 32];
    const uint32_t bit = uint32_t(1) << (number % 32);
    if ((bits & bit) == 0) {
        bits |= bit;
        --held.remaining;
        std::memcpy(held.data.data() + at, payload, length);
    }
    Acknowledge(peer, command, sequence, sentTime);
    if (held.remaining == 0 && start == static_cast<uint16_t>(delivered + 1))
        Feed(peer);
    return true;
}

bool SendFiler::Refuses(const ENetPeer& peer, bool established, bool files, const uint8_t* data, size_t size,
                        bool hasSentTime, Counters& counters) const
{
    // The packets this datagram's sends and fragments start, to hold each later fragment to them
    // (a whole send: no fragments).
    struct Start
    {
        uint16_t number;
        uint32_t count;
        uint32_t total;
    };
    Start starts[ENET_PROTOCOL_MAXIMUM_PACKET_COMMANDS];
    size_t startCount = 0;
    size_t commands = 0;
    size_t offset = 0;
    while (offset + sizeof(ENetProtocolCommandHeader) <= size) {
        const uint8_t* command = data + offset;
        const uint8_t number = command[0] & ENET_PROTOCOL_COMMAND_MASK;
        if (number >= ENET_PROTOCOL_COMMAND_COUNT)
            return false; // ENet stops here, and so does the screen
        const size_t commandSize = enet_protocol_command_size(number);
        if (commandSize == 0 || offset + commandSize > size)
            return false;
        if (commands++ == ENET_PROTOCOL_MAXIMUM_PACKET_COMMANDS) {
            Count(counters.refusedCommands);
            return true;
        }
        const bool onChannel0 = command[offsetof(ENetProtocolCommandHeader, channelID)] == 0;
        const bool asksAcknowledge = (command[0] & ENET_PROTOCOL_COMMAND_FLAG_ACKNOWLEDGE) != 0;
        size_t dataLength = 0;
        switch (number) {
        case ENET_PROTOCOL_COMMAND_SEND_UNRELIABLE:
        case ENET_PROTOCOL_COMMAND_SEND_UNSEQUENCED:
        case ENET_PROTOCOL_COMMAND_SEND_UNRELIABLE_FRAGMENT:
            Count(counters.refusedCommands);
            return true;
        case ENET_PROTOCOL_COMMAND_SEND_RELIABLE:
            dataLength = Read16(command + offsetof(ENetProtocolSendReliable, dataLength));
            if (dataLength == 0 || !onChannel0 || (files && asksAcknowledge && !hasSentTime)) {
                Count(counters.refusedCommands);
                return true;
            }
            starts[startCount++] =
                Start{Read16(command + offsetof(ENetProtocolCommandHeader, reliableSequenceNumber)), 0,
                      static_cast<uint32_t>(dataLength)};
            break;
        case ENET_PROTOCOL_COMMAND_SEND_FRAGMENT: {
            const uint32_t count = Read32(command + offsetof(ENetProtocolSendFragment, fragmentCount));
            const uint32_t index = Read32(command + offsetof(ENetProtocolSendFragment, fragmentNumber));
            const uint32_t total = Read32(command + offsetof(ENetProtocolSendFragment, totalLength));
            const uint32_t at = Read32(command + offsetof(ENetProtocolSendFragment, fragmentOffset));
            if (!established || count > total || total > peer.host->maximumPacketSize) {
                Count(counters.refusedFragments);
                return true;
            }
            dataLength = Read16(command + offsetof(ENetProtocolSendFragment, dataLength));
            if (dataLength == 0 || !onChannel0 || (files && asksAcknowledge && !hasSentTime)) {
                Count(counters.refusedCommands);
                return true;
            }
            if (offset + commandSize + dataLength > size || !files)
                break;
            // What ENet refuses of a fragment, and one that is not of the packet held under its
            // first number or of the one an earlier send or fragment of the datagram started there
            // (whatever the window: the filing may move it past that number meanwhile).
            bool lies = count > ENET_PROTOCOL_MAXIMUM_FRAGMENT_COUNT || index >= count || total < count ||
                        at >= total || dataLength > total - at;
            const uint16_t start = Read16(command + offsetof(ENetProtocolSendFragment, startSequenceNumber));
            auto held = m_held.find(start);
            lies = lies || (held != m_held.end() &&
                            (held->second.fragmentCount != count || held->second.data.size() != total));
            for (size_t k = 0; k < startCount && !lies; ++k)
                lies = starts[k].number == start && (starts[k].count != count || starts[k].total != total);
            starts[startCount++] = Start{start, count, total};
            if (lies) {
                Count(counters.refusedFragments);
                return true;
            }
            break;
        }
        default:
            break;
        }
        if (offset + commandSize + dataLength > size)
            return false;
        offset += commandSize + dataLength;
    }
    return false;
}

bool SendFiler::Screen(ENetPeer& peer, bool established, uint8_t* data, size_t& size, bool hasSentTime,
                       enet_uint16 sentTime, Counters& counters)
{
    const bool channels = peer.channelCount > 0 && peer.channels;
    // A joined, connected peer's sends are filed here; ENet takes anybody else's at once or drops
    // them (a peer on its way out).
    const bool files = established && channels && peer.state == ENET_PEER_STATE_CONNECTED;
    if (channels && !enet_list_empty(&peer.channels[0].incomingReliableCommands))
        Count(counters.heldByENet);
    if (Refuses(peer, established, files, data, size, hasSentTime, counters))
        return true;
    // A peer not joined: the number ENet waits for next, as the datagram's sends fill it in.
    uint16_t expected =
        channels ? static_cast<uint16_t>(peer.channels[0].incomingReliableSequenceNumber + 1) : 0;
    struct Span
    {
        size_t offset;
        size_t length;
        bool keep;
    };
    Span spans[ENET_PROTOCOL_MAXIMUM_PACKET_COMMANDS];
    size_t spanCount = 0;
    size_t offset = 0;
    bool leftOut = false;
    // Refuses looked at every command already: what is left is to file them. Its walk stops where
    // ENet's does, at most ENET_PROTOCOL_MAXIMUM_PACKET_COMMANDS commands in.
    while (spanCount < ENET_PROTOCOL_MAXIMUM_PACKET_COMMANDS) {
        const size_t length = CommandLength(data + offset, size - offset);
        if (length == 0)
            break; // ENet stops here
        const uint8_t* command = data + offset;
        const uint8_t number = command[0] & ENET_PROTOCOL_COMMAND_MASK;
        const size_t commandSize = enet_protocol_command_size(number);
        const size_t dataLength = length - commandSize;
        bool keep = true;
        if (number == ENET_PROTOCOL_COMMAND_SEND_RELIABLE) {
            const uint16_t sequence =
                Read16(command + offsetof(ENetProtocolCommandHeader, reliableSequenceNumber));
            if (files) {
                keep =
                    !FileSend(peer, command, sequence, command + commandSize, dataLength, sentTime, counters);
            } else {
                const uint16_t pastExpected = static_cast<uint16_t>(sequence - expected);
                if (!established && pastExpected < 0x8000 && pastExpected >= Socket::pendingReliableWindow) {
                    Count(counters.commandsLeftOut);
                    keep = false;
                } else if (sequence == expected) {
                    ++expected;
                }
            }
        } else if (number == ENET_PROTOCOL_COMMAND_SEND_FRAGMENT && files) {
            bool refuse = false;
            keep =
                !FileFragment(peer, command, command + commandSize, dataLength, sentTime, counters, refuse);
            if (refuse) {
                // Refuses holds every fragment to its packet first; this is the copy's own bound.
                Count(counters.refusedFragments);
                return true;
            }
        }
        spans[spanCount++] = Span{offset, length, keep};
        leftOut = leftOut || !keep;
        offset += length;
    }
    if (!leftOut)
        return false;
    size_t write = 0;
    bool anyKept = false;
    for (size_t i = 0; i < spanCount; ++i)
        if (spans[i].keep) {
            std::memmove(data + write, data + spans[i].offset, spans[i].length);
            write += spans[i].length;
            anyKept = true;
        }
    if (!anyKept)
        return true;
    std::memmove(data + write, data + offset, size - offset); // what ENet will stop at, as it came
    size = write + (size - offset);
    return false;
}

} // namespace GAME
