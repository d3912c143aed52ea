// An ENet host that can send and receive nothing (its socket is closed as it is made), with peers
// set connected by hand, for what works on ENet's state of a peer without traffic: the send
// filer's unit test and fuzz target. And ENet's reliable commands as a peer's datagram carries
// them (network order), and what ENet delivered to a peer, with the number it went under.
#pragma once

#include <enet/enet.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace GAME::Test {

struct UnwiredHost
{
    // `peers` peers of one channel each, connected, ENet's waiting data per peer held to
    // `maximumWaitingData` and its packets to the engine's largest.
    UnwiredHost(size_t peers, size_t maximumWaitingData)
    {
        if (enet_initialize() != 0)
            return;
        host = enet_host_create(nullptr, peers, 1, 0, 0);
        if (!host)
            return;
        enet_socket_destroy(host->socket);
        host->socket = ENET_SOCKET_NULL;
        host->maximumWaitingData = maximumWaitingData;
        host->maximumPacketSize = 0xFFFF;
        ENetAddress nowhere = {};
        for (size_t i = 0; i < peers; ++i) {
            ENetPeer* peer = enet_host_connect(host, &nowhere, 1, 0);
            if (!peer) {
                enet_host_destroy(host);
                host = nullptr;
                return;
            }
            enet_peer_on_connect(peer);
            peer->state = ENET_PEER_STATE_CONNECTED;
        }
    }
    ~UnwiredHost()
    {
        if (host)
            enet_host_destroy(host);
    }
    UnwiredHost(const UnwiredHost&) = delete;
    UnwiredHost& operator=(const UnwiredHost&) = delete;

    ENetPeer& Peer(size_t index) { return host->peers[index]; }

    // A packet ENet delivered and the number it went under (a packet in fragments: its first).
    struct Delivery
    {
        uint16_t number;
        uint32_t fragmentCount;
        std::vector<uint8_t> data;
    };
    // Takes what ENet delivered to the peer, in ENet's order.
    static std::vector<Delivery> Take(ENetPeer& peer)
    {
        std::vector<Delivery> taken;
        while (!enet_list_empty(&peer.dispatchedCommands)) {
            const auto* command =
                static_cast<const ENetIncomingCommand*>(enet_list_front(&peer.dispatchedCommands));
            Delivery delivery{command->reliableSequenceNumber, command->fragmentCount, {}};
            enet_uint8 channel = 0;
            ENetPacket* packet = enet_peer_receive(&peer, &channel);
            if (!packet)
                break;
            delivery.data.assign(packet->data, packet->data + packet->dataLength);
            enet_packet_destroy(packet);
            taken.push_back(std::move(delivery));
        }
        return taken;
    }

    ENetHost* host = nullptr;
};

// A reliable send numbered `number` on channel 0 carrying `payload`, asking for an acknowledgement.
inline void AppendReliable(std::vector<uint8_t>& datagram, uint16_t number,
                           const std::vector<uint8_t>& payload)
{
    ENetProtocolSendReliable command = {};
    command.header.command =
        int(ENET_PROTOCOL_COMMAND_SEND_RELIABLE) | int(ENET_PROTOCOL_COMMAND_FLAG_ACKNOWLEDGE);
    command.header.channelID = 0;
    command.header.reliableSequenceNumber = ENET_HOST_TO_NET_16(number);
    command.dataLength = ENET_HOST_TO_NET_16(static_cast<enet_uint16>(payload.size()));
    const size_t at = datagram.size();
    datagram.resize(at + sizeof(command));
    std::memcpy(datagram.data() + at, &command, sizeof(command));
    datagram.insert(datagram.end(), payload.begin(), payload.end());
}

// Fragment `index` of `count` of a packet of `total` bytes that starts at number `start`, its
// bytes at `offset`, numbered start + index as ENet numbers them.
inline void AppendFragment(std::vector<uint8_t>& datagram, uint16_t start, uint32_t index, uint32_t count,
                           uint32_t total, uint32_t offset, const std::vector<uint8_t>& payload)
{
    ENetProtocolSendFragment command = {};
    command.header.command =
        int(ENET_PROTOCOL_COMMAND_SEND_FRAGMENT) | int(ENET_PROTOCOL_COMMAND_FLAG_ACKNOWLEDGE);
    command.header.channelID = 0;
    command.header.reliableSequenceNumber = ENET_HOST_TO_NET_16(static_cast<uint16_t>(start + index));
    command.startSequenceNumber = ENET_HOST_TO_NET_16(start);
    command.dataLength = ENET_HOST_TO_NET_16(static_cast<enet_uint16>(payload.size()));
    command.fragmentCount = ENET_HOST_TO_NET_32(count);
    command.fragmentNumber = ENET_HOST_TO_NET_32(index);
    command.totalLength = ENET_HOST_TO_NET_32(total);
    command.fragmentOffset = ENET_HOST_TO_NET_32(offset);
    const size_t at = datagram.size();
    datagram.resize(at + sizeof(command));
    std::memcpy(datagram.data() + at, &command, sizeof(command));
    datagram.insert(datagram.end(), payload.begin(), payload.end());
}

} // namespace GAME::Test
