// One end of a link between the server and a client, above the transport: the connect handshake
// with its key agreement, the session keys, the sequence numbers of both directions and the
// link's counters. It turns a packet's type and body into the datagram to send (Seal) and checks
// every received datagram before anything reads it (Open). It owns no socket, so the whole
// receive path can be driven from memory (tests, the packet fuzzer). Main thread only; one object
// per link.
//
// Handshake (see NetPacketHeader.h for the header):
//   client -> server  CONNECT_REQUEST  u32 magic "MRLK", u32 protocol version, 32-byte X25519
//                                      key share; sequence 0, no authentication
//   server -> client  CONNECT_ACCEPT   u8 the client's host id, 32-byte X25519 key share;
//                                      sequence 1, authenticated under the new session key
//   server -> client  CONNECT_REFUSE   u8 reason, 32-byte X25519 key share; sequence 1,
//                                      authenticated under the key the request would have had
//                                      (the server is full), or u8 reason alone, sequence 0,
//                                      no authentication (the request itself was unusable)
// Both ends derive two 32-byte keys with HKDF-SHA256 from the X25519 shared secret (salt a fixed
// label, info the magic, the protocol version the client asked for and both key shares, client's
// first): the first authenticates what the client sends, the second what the server sends, so a
// datagram cannot be reflected back to its sender. A request whose version or share was altered
// on its way, or an answer made for another request, derives other keys and fails
// authentication, so neither a downgrade nor a handshake mixed from two can make a session. A
// client checks an answer with keys of its own before it touches its join: an answer it cannot
// verify is dropped and the genuine one is still taken. A refusal without authentication is
// handed on as such (a body of one byte); whoever joins must not end the join on its word alone.
// Each direction numbers its datagrams 1, 2, 3...; the receiver accepts only numbers above the
// last it accepted, so a replayed datagram is dropped. Key pairs are made for each connection and
// forgotten once the keys are derived; no key or secret is ever logged.
//
// The key agreement is anonymous: it proves that both ends took part in the same handshake, not
// who they are, so a man in the middle of the handshake can make a session with each end and
// read and rewrite what passes. Packets are authenticated, not encrypted.
//
// Open drops, and counts: datagrams larger than the largest packet (oversized); shorter than a
// header, whose size field differs from the datagram's length, of a type above 126 or whose
// handshake body is malformed (malformed); without a valid authentication field (bad auth);
// with a sequence number already seen (replay); handshake packets outside the handshake, or a
// sender host id that is not the link's (unexpected).
#pragma once

#include "network/NetPacketHeader.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace GAME {

// Counters of one link, or summed over a session.
struct NetworkLinkStats
{
    uint64_t packetsSent = 0;
    uint64_t bytesSent = 0;
    // Of those sent, the ones the transport did not take (refused at once, or accepted and then
    // found the link going): they never left.
    uint64_t sendsLost = 0;
    uint64_t packetsReceived = 0; // accepted by Open
    uint64_t bytesReceived = 0;
    uint64_t droppedMalformed = 0;
    uint64_t droppedOversized = 0;
    uint64_t droppedBadAuth = 0;
    uint64_t droppedReplay = 0;
    uint64_t droppedUnexpected = 0;
    // Accepted by Open, but its body did not read (or no packet exists for its type).
    uint64_t droppedUnreadable = 0;

    uint64_t GetDropped() const
    {
        return droppedMalformed + droppedOversized + droppedBadAuth + droppedReplay + droppedUnexpected +
               droppedUnreadable;
    }
    void Add(const NetworkLinkStats& other);
};

class NetworkConnection
{
public:
    enum Side
    {
        SIDE_CLIENT = 0,
        SIDE_SERVER = 1,
    };

    enum Result
    {
        RESULT_OK = 0,
        RESULT_MALFORMED,
        RESULT_OVERSIZED,
        RESULT_BAD_AUTH,
        RESULT_REPLAY,
        RESULT_UNEXPECTED,
    };

    // Reasons of CONNECT_REFUSE.
    enum RefuseReason : uint8_t
    {
        REFUSE_SERVER_FULL = 1,
        REFUSE_PROTOCOL_VERSION = 2,
        REFUSE_HANDSHAKE_FAILED = 3,
    };

    static constexpr uint32_t protocolMagic = 0x4B4C524Du; // "MRLK"
    // 2: the protocol version and magic are part of the key derivation.
    static constexpr uint32_t protocolVersion = 2;
    static constexpr size_t keyShareSize = 32;
    static constexpr size_t connectRequestBodySize = 8 + keyShareSize;
    static constexpr size_t connectAcceptBodySize = 1 + keyShareSize;
    static constexpr size_t authenticatedRefusalBodySize = 1 + keyShareSize;

    explicit NetworkConnection(Side side);
    // Wipes the keys.
    ~NetworkConnection();
    NetworkConnection(const NetworkConnection&) = delete;
    NetworkConnection& operator=(const NetworkConnection&) = delete;

    Side GetSide() const { return m_side; }
    // A session key exists: authenticated packets can be sent and received.
    bool IsKeyed() const { return m_keyed; }
    // The host id the peer sends with (the server: 0; a client: the id it was given), or
    // NetPacketHeader::unknownHost before the handshake fixed it.
    uint8_t GetRemoteHostId() const { return m_remoteHost; }
    // The host id this end sends with (a client learns its own from CONNECT_ACCEPT).
    uint8_t GetLocalHostId() const { return m_localHost; }

    // Client: a fresh key pair and the CONNECT_REQUEST datagram. False when no key could be made.
    bool MakeConnectRequest(std::vector<uint8_t>& datagram);
    // Server, after Open accepted a CONNECT_REQUEST: checks the request's body, derives the
    // session keys, gives the client `hostId` and makes the CONNECT_ACCEPT datagram. Answers
    // RESULT_OK, RESULT_MALFORMED (bad body or key share; *refusal says why) or
    // RESULT_UNEXPECTED (already keyed).
    Result AcceptConnectRequest(const uint8_t* body, size_t size, uint8_t hostId,
                                std::vector<uint8_t>& datagram, RefuseReason* refusal = nullptr);
    // Server, after Open accepted a CONNECT_REQUEST it will not take: the CONNECT_REFUSE datagram,
    // authenticated under the key the request would have had when the request is usable (answers
    // true), else the plain refusal (false). The link stays without a key.
    bool RefuseConnectRequest(const uint8_t* body, size_t size, RefuseReason reason,
                              std::vector<uint8_t>& datagram);
    // A CONNECT_REFUSE datagram without authentication.
    static void MakeRefusal(RefuseReason reason, std::vector<uint8_t>& datagram);

    // A datagram of the type with the body, numbered and authenticated. False without a session
    // key, for a body above NetPacketHeader::maxBodySize or when the numbers ran out.
    bool Seal(uint8_t type, const uint8_t* body, size_t size, std::vector<uint8_t>& datagram);

    // Checks a received datagram (see the banner). On RESULT_OK the header is filled and the body
    // points into `data`. A client's CONNECT_ACCEPT completes the key agreement here, and an
    // authenticated CONNECT_REFUSE (a body of authenticatedRefusalBodySize) ends the join; a
    // refusal of one byte is unauthenticated. A server's CONNECT_REQUEST comes back
    // unauthenticated for AcceptConnectRequest or RefuseConnectRequest.
    Result Open(const uint8_t* data, size_t size, NetPacketHeader& header, const uint8_t*& body,
                size_t& bodySize);

    const NetworkLinkStats& GetStats() const { return m_stats; }
    // A datagram Open accepted was found unreadable by the packet layer.
    void CountUnreadable() { m_stats.droppedUnreadable++; }
    // A datagram Seal made was not taken by the transport.
    void CountSendLost() { m_stats.sendsLost++; }
    // Back to the state of a new object: keys wiped, numbers and host ids cleared (counters kept).
    void Reset();

    static const char* GetResultText(Result result);

private:
    struct Crypto;

    Result Count(Result result, size_t size);
    // A client's CONNECT_ACCEPT or authenticated CONNECT_REFUSE.
    Result OpenAnswer(const uint8_t* data, size_t size, const NetPacketHeader& header);

    Side m_side;
    bool m_keyed = false;
    bool m_requestSeen = false;
    uint8_t m_localHost;
    uint8_t m_remoteHost;
    uint32_t m_sendSequence = 0;
    uint32_t m_receiveSequence = 0;
    NetworkLinkStats m_stats;
    std::unique_ptr<Crypto> m_crypto;
};

} // namespace GAME
