// The guard of one peer's reliable sends on a listening socket: it screens the commands of every
// datagram from the peer before ENet sees them, and files the sends of a joined peer itself, so
// that ENet is handed them in order only and what each costs is the same whatever order the
// datagrams came in. One per ENet slot, owned by the socket's slot record; receive thread only,
// under the host lock (the counters are atomics the main thread reads).
//
// Contract:
// - The engine sends nothing but reliable packets of at least one byte on channel 0, at most
//   ENET_PROTOCOL_MAXIMUM_PACKET_COMMANDS commands a datagram: a datagram with more, with
//   unreliable, unsequenced or empty sends, another channel, fragments from a peer not joined or
//   fragments that lie about their packet (against the one held under its first number, or a send
//   or fragment before it in the datagram) is refused whole: its commands are all looked at before
//   any is filed or acknowledged.
// - A peer that has not joined may send only pendingReliableWindow numbers from the one ENet waits
//   for; further sends are taken out of the datagram unacknowledged (its sender sends them again).
//   ENet files what is left, at once: it holds nothing waiting for such a peer.
// - A joined, connected peer's sends inside ENet's window that ENet has not delivered are taken
//   out of the datagram, acknowledged here as ENet would (with the datagram's sent time) and kept
//   by number (a packet in fragments is joined here under its first number). ENet is handed the
//   one it waits for next, whole, once it is here, and then what follows it here, and so on: its
//   list of commands waiting for an earlier one stays empty, so it never walks it. A send ENet
//   delivered already, or past its window, goes to ENet, which drops it before any walk.
// - A resend of a number held here is acknowledged again and dropped.
//
// Bounds (per peer):
// - what waits, here and in ENet (packets delivered that the receive thread has not taken yet),
//   stays within ENet's maximumWaitingData (4 MB on the server): a new send past it is taken out
//   unacknowledged. Sends held behind a missing one may take seven eighths of it only, each whole
//   within them, so that the missing one always finds room. A packet in fragments counts its whole
//   length from its first fragment; the rest of a packet held always come in;
// - at most one entry per number inside ENet's window (7 x 4,096), about 100 bytes each besides
//   the packets;
// - processor time: a hash look-up and a copy for each command, and ENet's filing at the end of
//   its list for each packet handed on (each packet is handed on once): the same work as those
//   packets coming in order. A run that follows a filled gap (up to the whole cap, some 28,000
//   packets) is handed on feedBatch packets at a time, one batch a turn of the receive thread, so
//   that other peers' datagrams are serviced in between (each turn reads the socket once its batch
//   is handed over).
#pragma once

#include <enet/enet.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <unordered_map>
#include <vector>

namespace GAME {

class SendFiler
{
public:
    // What the screen turned away, kept by the socket for all its peers.
    struct Counters
    {
        std::atomic<uint64_t> refusedFragments{0}; // fragments from peers not joined, or lying ones
        std::atomic<uint64_t> refusedCommands{0};  // commands the engine never sends
        std::atomic<uint64_t> commandsLeftOut{0};  // sends past the peer's window or waiting data
        // Datagrams screened while ENet held sends of their peer waiting for an earlier one: ENet
        // walks past all of those for each send it files below them. The filer keeps that list
        // empty, so none; counted for the tests, which cannot see ENet's lists.
        std::atomic<uint64_t> heldByENet{0};
    };

    // Screens the commands of a datagram from the peer (its slot's), which follow ENet's header:
    // true refuses the datagram whole. Otherwise the commands it took or left out are gone from
    // the datagram, which is closed up in place (`size` becomes what is left); true too when
    // nothing is left. `established`: the peer joined the session.
    bool Screen(ENetPeer& peer, bool established, uint8_t* data, size_t& size, bool hasSentTime,
                enet_uint16 sentTime, Counters& counters);
    // The most packets Feed hands ENet at once.
    static constexpr unsigned feedBatch = 256;
    // Hands ENet up to feedBatch packets held for the peer that come next in order, while ENet
    // takes them (ENet refuses packets while the peer's waiting data is at its cap). The socket
    // calls it each turn while anything is held.
    void Feed(ENetPeer& peer);
    // The packet ENet waits for is here, whole, and ENet would take it now.
    bool IsReady(const ENetPeer& peer) const;
    // Frees what is held: the slot has a new occupant, or none.
    void Clear();
    bool IsEmpty() const { return m_held.empty(); }
    // Bytes of packets held (whole lengths of packets in fragments), and the packets.
    size_t GetHeldBytes() const { return m_bytes; }
    size_t GetHeldCount() const { return m_held.size(); }

    // A field of ENet's wire (network order) at any alignment.
    static uint16_t Read16(const uint8_t* data)
    {
        uint16_t value;
        std::memcpy(&value, data, sizeof(value));
        return ENET_NET_TO_HOST_16(value);
    }
    static uint32_t Read32(const uint8_t* data)
    {
        uint32_t value;
        std::memcpy(&value, data, sizeof(value));
        return ENET_NET_TO_HOST_32(value);
    }

    // The length of the command at `command` with the data it carries, as ENet reads it; 0 where
    // ENet stops reading the datagram (an unknown command, or one longer than the `left` bytes).
    static size_t CommandLength(const uint8_t* command, size_t left);

    // The number comes after `delivered` (within half the circle of numbers).
    static bool Ahead(uint16_t sequence, uint16_t delivered);
    // The number lies in ENet's window from `delivered`: seven of its windows of 4,096, counted
    // from the start of the one `delivered` is in (ENet drops, unacknowledged, what lies past).
    static bool InENetWindow(uint16_t sequence, uint16_t delivered);

private:
    // A send held by its number; a packet in fragments under its first number, with the
    // fragments still missing.
    struct Held
    {
        uint32_t fragmentCount = 0; // 0: a whole send
        uint32_t remaining = 0;
        std::vector<uint32_t> had; // one bit per fragment come
        std::vector<uint8_t> data;
    };

    // The screen's rules over the whole datagram before anything of it is filed, so that one it
    // refuses is refused whole (true, counted). `files`: the peer's sends are filed here.
    bool Refuses(const ENetPeer& peer, bool established, bool files, const uint8_t* data, size_t size,
                 bool hasSentTime, Counters& counters) const;
    // What happens to a send or fragment of a joined peer: false keeps it in the datagram for ENet.
    bool FileSend(ENetPeer& peer, const uint8_t* command, uint16_t sequence, const uint8_t* payload,
                  size_t length, enet_uint16 sentTime, Counters& counters);
    bool FileFragment(ENetPeer& peer, const uint8_t* command, const uint8_t* payload, size_t length,
                      enet_uint16 sentTime, Counters& counters, bool& refuse);
    // Room for a new packet of `length` bytes at `sequence` in what the peer may have waiting.
    bool HasRoom(const ENetPeer& peer, uint16_t sequence, size_t length) const;
    void Erase(std::unordered_map<uint16_t, Held>::iterator it);

    std::unordered_map<uint16_t, Held> m_held;
    size_t m_bytes = 0;
};

} // namespace GAME
