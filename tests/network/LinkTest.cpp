// The receive path without sockets: the handshake and key agreement between two link ends, what
// Open lets through and what it drops, packets made from received bytes, the wire forms of
// packet bodies and client views, the connect cookie a listening socket hands out, and what a
// link counts of the sends its transport did not take.
#include "NetworkTestKit.h"

#include "common/LogCapture.h"
#include "core/WorldFrustum.h"
#include "network/ClientView.h"
#include "network/ConnectCookie.h"
#include "network/ConnectionManager.h"
#include "network/NetworkConnection.h"
#include "network/ServerConnectionManager.h"
#include "network/Socket.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

namespace GAME {
namespace {

using Result = NetworkConnection::Result;

// Runs the handshake between the two ends; the client gets `host`.
void Join(NetworkConnection& client, NetworkConnection& server, uint8_t host)
{
    std::vector<uint8_t> request, accept;
    ASSERT_TRUE(client.MakeConnectRequest(request));
    NetPacketHeader header;
    const uint8_t* body = nullptr;
    size_t size = 0;
    ASSERT_EQ(server.Open(request.data(), request.size(), header, body, size), NetworkConnection::RESULT_OK);
    ASSERT_EQ(header.type, PACKET_TYPE_CONNECT_REQUEST);
    ASSERT_EQ(server.AcceptConnectRequest(body, size, host, accept), NetworkConnection::RESULT_OK);
    ASSERT_EQ(client.Open(accept.data(), accept.size(), header, body, size), NetworkConnection::RESULT_OK);
    ASSERT_EQ(header.type, PACKET_TYPE_CONNECT_ACCEPT);
}

Result OpenBytes(NetworkConnection& link, const std::vector<uint8_t>& datagram)
{
    NetPacketHeader header;
    const uint8_t* body = nullptr;
    size_t size = 0;
    return link.Open(datagram.data(), datagram.size(), header, body, size);
}

std::vector<uint8_t> Sealed(NetworkConnection& link, uint8_t type, const std::vector<uint8_t>& body)
{
    std::vector<uint8_t> datagram;
    EXPECT_TRUE(link.Seal(type, body.data(), body.size(), datagram));
    return datagram;
}

TEST(NetworkConnectionTest, HandshakeAgreesOnKeysAndAuthenticatesBothDirections)
{
    NetworkConnection client(NetworkConnection::SIDE_CLIENT), server(NetworkConnection::SIDE_SERVER);
    EXPECT_FALSE(client.IsKeyed());
    EXPECT_EQ(client.GetLocalHostId(), NetPacketHeader::unknownHost);
    Join(client, server, 3);
    EXPECT_TRUE(client.IsKeyed());
    EXPECT_TRUE(server.IsKeyed());
    EXPECT_EQ(client.GetLocalHostId(), 3);
    EXPECT_EQ(server.GetRemoteHostId(), 3);

    // Each direction is numbered on its own; the header says who sent it.
    const std::vector<uint8_t> body = {1, 2, 3, 4, 5};
    for (uint32_t n = 1; n <= 3; ++n) {
        const std::vector<uint8_t> up = Sealed(client, 50, body);
        NetPacketHeader header;
        const uint8_t* got = nullptr;
        size_t size = 0;
        ASSERT_EQ(server.Open(up.data(), up.size(), header, got, size), NetworkConnection::RESULT_OK);
        EXPECT_EQ(header.sequence, n);
        EXPECT_EQ(header.hostId, 3);
        EXPECT_EQ(header.size, up.size());
        EXPECT_EQ(std::vector<uint8_t>(got, got + size), body);
    }
    const std::vector<uint8_t> down = Sealed(server, 51, {});
    EXPECT_EQ(OpenBytes(client, down), NetworkConnection::RESULT_OK);
    EXPECT_EQ(server.GetStats().packetsReceived, 4u); // the request and three packets
    EXPECT_EQ(client.GetStats().packetsSent, 4u);

    // Another session's keys are other keys.
    NetworkConnection otherClient(NetworkConnection::SIDE_CLIENT),
        otherServer(NetworkConnection::SIDE_SERVER);
    Join(otherClient, otherServer, 3);
    EXPECT_EQ(OpenBytes(server, Sealed(otherClient, 50, body)), NetworkConnection::RESULT_BAD_AUTH);
}

TEST(NetworkConnectionTest, ForgedReplayedReflectedAndMisshapenDatagramsAreDroppedAndCounted)
{
    NetworkConnection client(NetworkConnection::SIDE_CLIENT), server(NetworkConnection::SIDE_SERVER);
    // Nothing but a connect request is taken before there is a key.
    std::vector<uint8_t> early(NetPacketHeader::headerSize + 4, 0);
    NetPacketHeader fake;
    fake.size = static_cast<uint16_t>(early.size());
    fake.type = 40;
    fake.Write(early.data());
    EXPECT_EQ(OpenBytes(server, early), NetworkConnection::RESULT_BAD_AUTH);
    Join(client, server, 1);

    const std::vector<uint8_t> good = Sealed(client, 40, {9, 9, 9});
    std::vector<uint8_t> tampered = good;
    tampered.back() ^= 1; // the body
    EXPECT_EQ(OpenBytes(server, tampered), NetworkConnection::RESULT_BAD_AUTH);
    tampered = good;
    tampered[8] ^= 0x80; // the authentication field itself
    EXPECT_EQ(OpenBytes(server, tampered), NetworkConnection::RESULT_BAD_AUTH);
    tampered = good;
    tampered[4] += 1; // the sequence number is covered too
    EXPECT_EQ(OpenBytes(server, tampered), NetworkConnection::RESULT_BAD_AUTH);
    EXPECT_EQ(OpenBytes(server, good), NetworkConnection::RESULT_OK);
    EXPECT_EQ(OpenBytes(server, good), NetworkConnection::RESULT_REPLAY);
    // A datagram of the server's own, sent back to it, does not pass for the client's.
    EXPECT_EQ(OpenBytes(server, Sealed(server, 40, {9, 9, 9})), NetworkConnection::RESULT_BAD_AUTH);
    // An older datagram held back and replayed later is refused too.
    const std::vector<uint8_t> older = Sealed(client, 40, {1});
    EXPECT_EQ(OpenBytes(server, Sealed(client, 40, {2})), NetworkConnection::RESULT_OK);
    EXPECT_EQ(OpenBytes(server, older), NetworkConnection::RESULT_REPLAY);

    std::vector<uint8_t> shape = Sealed(client, 40, {1, 2, 3});
    EXPECT_EQ(OpenBytes(server, std::vector<uint8_t>(shape.begin(), shape.begin() + 10)),
              NetworkConnection::RESULT_MALFORMED); // shorter than a header
    shape.push_back(0);                             // the size field no longer matches
    EXPECT_EQ(OpenBytes(server, shape), NetworkConnection::RESULT_MALFORMED);
    std::vector<uint8_t> badType = Sealed(client, 40, {});
    badType[2] = 127;
    EXPECT_EQ(OpenBytes(server, badType), NetworkConnection::RESULT_MALFORMED);
    EXPECT_EQ(OpenBytes(server, std::vector<uint8_t>(NetPacketHeader::maxPacketSize + 1, 0)),
              NetworkConnection::RESULT_OVERSIZED);
    EXPECT_EQ(OpenBytes(server, {}), NetworkConnection::RESULT_MALFORMED);
    // Handshake packets after the handshake.
    std::vector<uint8_t> request;
    NetworkConnection stranger(NetworkConnection::SIDE_CLIENT);
    ASSERT_TRUE(stranger.MakeConnectRequest(request));
    EXPECT_EQ(OpenBytes(server, request), NetworkConnection::RESULT_UNEXPECTED);

    const NetworkLinkStats& stats = server.GetStats();
    EXPECT_EQ(stats.droppedBadAuth, 5u);
    EXPECT_EQ(stats.droppedReplay, 2u);
    EXPECT_EQ(stats.droppedMalformed, 4u);
    EXPECT_EQ(stats.droppedOversized, 1u);
    EXPECT_EQ(stats.droppedUnexpected, 1u);
    EXPECT_EQ(stats.packetsReceived, 3u); // the request and two packets
    // The session survives all of it.
    EXPECT_EQ(OpenBytes(server, Sealed(client, 40, {7})), NetworkConnection::RESULT_OK);
}

// A server whose socket's events come from the test, and which has no socket to send through.
class TransportlessServer : public ServerConnectionManager
{
public:
    void Hand(Socket::EventKind kind, uint32_t connection, const std::vector<uint8_t>& data = {})
    {
        Socket::Event event;
        event.kind = kind;
        event.connection = connection;
        event.data = data;
        HandleSocketEvent(event);
    }
};

// A datagram sealed for a link that the transport did not take, whether it refused it at once
// (here there is no socket at all) or accepted it and found later that it could not send it
// (EVENT_SEND_LOST, which may come after the link is gone), is counted in the link's figures and
// the session's.
TEST(NetworkConnectionTest, SendsTheTransportDidNotTakeAreCounted)
{
    GAME::Test::LogCapture log;
    TransportlessServer server;
    const std::string address = "10.0.0.1:4000";
    server.Hand(Socket::EVENT_CONNECTED, 7, std::vector<uint8_t>(address.begin(), address.end()));
    NetworkConnection client(NetworkConnection::SIDE_CLIENT);
    std::vector<uint8_t> request;
    ASSERT_TRUE(client.MakeConnectRequest(request));
    server.Hand(Socket::EVENT_RECEIVED, 7, request);
    EXPECT_EQ(server.GetStats().packetsSent, 1u); // the accept was sealed...
    EXPECT_EQ(server.GetStats().sendsLost, 1u);   // ...and never left
    server.Hand(Socket::EVENT_SEND_LOST, 7);
    EXPECT_EQ(server.GetStats().sendsLost, 2u);
    server.Hand(Socket::EVENT_DISCONNECTED, 7);
    server.Hand(Socket::EVENT_SEND_LOST, 7);
    EXPECT_EQ(server.GetStats().sendsLost, 3u);
}

TEST(NetworkConnectionTest, BadHandshakesAreRefusedWithoutASession)
{
    // Another protocol version.
    NetworkConnection client(NetworkConnection::SIDE_CLIENT), server(NetworkConnection::SIDE_SERVER);
    std::vector<uint8_t> request, accept;
    ASSERT_TRUE(client.MakeConnectRequest(request));
    request[NetPacketHeader::headerSize + 4] = 99;
    NetPacketHeader header;
    const uint8_t* body = nullptr;
    size_t size = 0;
    ASSERT_EQ(server.Open(request.data(), request.size(), header, body, size), NetworkConnection::RESULT_OK);
    NetworkConnection::RefuseReason reason = NetworkConnection::REFUSE_SERVER_FULL;
    EXPECT_EQ(server.AcceptConnectRequest(body, size, 1, accept, &reason),
              NetworkConnection::RESULT_MALFORMED);
    EXPECT_EQ(reason, NetworkConnection::REFUSE_PROTOCOL_VERSION);
    EXPECT_FALSE(server.IsKeyed());
    // A second request on the same link is not a second chance.
    EXPECT_EQ(OpenBytes(server, request), NetworkConnection::RESULT_UNEXPECTED);

    // A hostile key share (all zero: a low-order point) agrees on nothing.
    NetworkConnection server2(NetworkConnection::SIDE_SERVER);
    ASSERT_TRUE(client.MakeConnectRequest(request));
    std::fill(request.begin() + NetPacketHeader::headerSize + 8, request.end(), 0);
    ASSERT_EQ(server2.Open(request.data(), request.size(), header, body, size), NetworkConnection::RESULT_OK);
    EXPECT_EQ(server2.AcceptConnectRequest(body, size, 1, accept, &reason),
              NetworkConnection::RESULT_MALFORMED);
    EXPECT_EQ(reason, NetworkConnection::REFUSE_HANDSHAKE_FAILED);
    EXPECT_FALSE(server2.IsKeyed());

    // An accept whose authentication does not match the agreed key is not believed.
    NetworkConnection server3(NetworkConnection::SIDE_SERVER);
    ASSERT_TRUE(client.MakeConnectRequest(request));
    ASSERT_EQ(server3.Open(request.data(), request.size(), header, body, size), NetworkConnection::RESULT_OK);
    ASSERT_EQ(server3.AcceptConnectRequest(body, size, 2, accept), NetworkConnection::RESULT_OK);
    accept[NetPacketHeader::headerSize] = 5; // another host id than the server authenticated
    EXPECT_EQ(OpenBytes(client, accept), NetworkConnection::RESULT_BAD_AUTH);
    EXPECT_FALSE(client.IsKeyed());
    EXPECT_EQ(client.GetLocalHostId(), NetPacketHeader::unknownHost);

    // A refusal is read before any key exists; nothing can be sealed without one.
    NetworkConnection fresh(NetworkConnection::SIDE_CLIENT);
    std::vector<uint8_t> refusal;
    NetworkConnection::MakeRefusal(NetworkConnection::REFUSE_SERVER_FULL, refusal);
    ASSERT_EQ(fresh.Open(refusal.data(), refusal.size(), header, body, size), NetworkConnection::RESULT_OK);
    EXPECT_EQ(header.type, PACKET_TYPE_CONNECT_REFUSE);
    ASSERT_EQ(size, 1u);
    EXPECT_EQ(body[0], NetworkConnection::REFUSE_SERVER_FULL);
    std::vector<uint8_t> out;
    EXPECT_FALSE(fresh.Seal(40, nullptr, 0, out));
}

// The server's side of a handshake for the request: its answer (accept or refusal).
std::vector<uint8_t> Answer(NetworkConnection& server, const std::vector<uint8_t>& request, uint8_t host,
                            bool refuse = false)
{
    NetPacketHeader header;
    const uint8_t* body = nullptr;
    size_t size = 0;
    std::vector<uint8_t> answer;
    EXPECT_EQ(server.Open(request.data(), request.size(), header, body, size), NetworkConnection::RESULT_OK);
    if (refuse)
        EXPECT_TRUE(server.RefuseConnectRequest(body, size, NetworkConnection::REFUSE_SERVER_FULL, answer));
    else
        EXPECT_EQ(server.AcceptConnectRequest(body, size, host, answer), NetworkConnection::RESULT_OK);
    return answer;
}

TEST(NetworkConnectionTest, AJoinSurvivesAnswersItCannotVerifyAndNoMixedOrDowngradedHandshakeMakesASession)
{
    NetworkConnection client(NetworkConnection::SIDE_CLIENT), other(NetworkConnection::SIDE_CLIENT);
    std::vector<uint8_t> request, otherRequest;
    ASSERT_TRUE(client.MakeConnectRequest(request));
    ASSERT_TRUE(other.MakeConnectRequest(otherRequest));

    // Answers made for another client's request, an accept altered on its way and a refusal
    // nobody authenticated: none is taken, none spoils the join.
    NetworkConnection elsewhere(NetworkConnection::SIDE_SERVER), elsewhere2(NetworkConnection::SIDE_SERVER);
    EXPECT_EQ(OpenBytes(client, Answer(elsewhere, otherRequest, 4)), NetworkConnection::RESULT_BAD_AUTH);
    EXPECT_EQ(OpenBytes(client, Answer(elsewhere2, otherRequest, 4, true)),
              NetworkConnection::RESULT_BAD_AUTH);
    NetworkConnection server(NetworkConnection::SIDE_SERVER);
    const std::vector<uint8_t> genuine = Answer(server, request, 6);
    std::vector<uint8_t> altered = genuine;
    altered[NetPacketHeader::headerSize] = 7; // another host id
    EXPECT_EQ(OpenBytes(client, altered), NetworkConnection::RESULT_BAD_AUTH);
    std::vector<uint8_t> plainRefusal;
    NetworkConnection::MakeRefusal(NetworkConnection::REFUSE_SERVER_FULL, plainRefusal);
    NetPacketHeader header;
    const uint8_t* body = nullptr;
    size_t size = 0;
    ASSERT_EQ(client.Open(plainRefusal.data(), plainRefusal.size(), header, body, size),
              NetworkConnection::RESULT_OK);
    EXPECT_EQ(size, 1u); // handed on as unauthenticated: the caller does not end the join for it
    EXPECT_FALSE(client.IsKeyed());
    ASSERT_EQ(OpenBytes(client, genuine), NetworkConnection::RESULT_OK);
    EXPECT_TRUE(client.IsKeyed());
    EXPECT_EQ(client.GetLocalHostId(), 6);
    EXPECT_EQ(OpenBytes(server, Sealed(client, 40, {1})), NetworkConnection::RESULT_OK);

    // A refusal authenticated for our own request is believed, and ends the join.
    NetworkConnection refused(NetworkConnection::SIDE_CLIENT), full(NetworkConnection::SIDE_SERVER);
    ASSERT_TRUE(refused.MakeConnectRequest(request));
    const std::vector<uint8_t> refusal = Answer(full, request, 0, true);
    ASSERT_EQ(refused.Open(refusal.data(), refusal.size(), header, body, size), NetworkConnection::RESULT_OK);
    ASSERT_EQ(size, NetworkConnection::authenticatedRefusalBodySize);
    EXPECT_EQ(body[0], NetworkConnection::REFUSE_SERVER_FULL);
    EXPECT_FALSE(full.IsKeyed());

    // Downgraded: the request rewritten to the version before this one is refused, unauthenticated,
    // and no key exists on either side.
    NetworkConnection downgraded(NetworkConnection::SIDE_CLIENT), strict(NetworkConnection::SIDE_SERVER);
    ASSERT_TRUE(downgraded.MakeConnectRequest(request));
    request[NetPacketHeader::headerSize + 4] = NetworkConnection::protocolVersion - 1;
    ASSERT_EQ(strict.Open(request.data(), request.size(), header, body, size), NetworkConnection::RESULT_OK);
    std::vector<uint8_t> answer;
    NetworkConnection::RefuseReason reason = NetworkConnection::REFUSE_SERVER_FULL;
    EXPECT_EQ(strict.AcceptConnectRequest(body, size, 1, answer, &reason),
              NetworkConnection::RESULT_MALFORMED);
    EXPECT_EQ(reason, NetworkConnection::REFUSE_PROTOCOL_VERSION);
    EXPECT_FALSE(strict.RefuseConnectRequest(body, size, reason, answer));
    EXPECT_EQ(answer.size(), NetPacketHeader::headerSize + 1);
    EXPECT_FALSE(strict.IsKeyed());

    // Mixed: a request whose key share was swapped for another's on its way is accepted by the
    // server, but its accept cannot be verified by the client that asked, which makes no session.
    NetworkConnection mixed(NetworkConnection::SIDE_CLIENT), fooled(NetworkConnection::SIDE_SERVER);
    ASSERT_TRUE(mixed.MakeConnectRequest(request));
    std::copy(otherRequest.end() - NetworkConnection::keyShareSize, otherRequest.end(),
              request.end() - NetworkConnection::keyShareSize);
    EXPECT_EQ(OpenBytes(mixed, Answer(fooled, request, 2)), NetworkConnection::RESULT_BAD_AUTH);
    EXPECT_FALSE(mixed.IsKeyed());
}

TEST(NetworkConnectionTest, ReceivedBytesBecomeTheHostsPacketsOnlyWhenTheWholeBodyReads)
{
    GAME::Test::LogCapture log;
    NetworkConnection client(NetworkConnection::SIDE_CLIENT), server(NetworkConnection::SIDE_SERVER);
    Join(client, server, 2);
    GAME::Test::GamePacketCreator creator;

    GAME::Test::GamePacket sent(GAME::Test::commandType, 7, "equip sword", GAME::Test::Blob(7, 300));
    std::vector<uint8_t> body;
    ASSERT_TRUE(ConnectionManager::WriteBody(&sent, body));
    std::vector<uint8_t> datagram = Sealed(client, GAME::Test::commandType, body);
    Result result = NetworkConnection::RESULT_MALFORMED;
    NetPacket* packet =
        ConnectionManager::ReadPacket(server, datagram.data(), datagram.size(), &creator, &result);
    ASSERT_NE(packet, nullptr);
    EXPECT_EQ(result, NetworkConnection::RESULT_OK);
    auto* got = static_cast<GAME::Test::GamePacket*>(packet);
    EXPECT_EQ(got->sequence, 7u);
    EXPECT_EQ(got->text, "equip sword");
    EXPECT_EQ(got->blob, sent.blob);
    delete packet;

    // A body with a byte too many, or cut short, or a type no one makes: no packet, counted.
    body.push_back(0);
    datagram = Sealed(client, GAME::Test::commandType, body);
    EXPECT_EQ(ConnectionManager::ReadPacket(server, datagram.data(), datagram.size(), &creator, &result),
              nullptr);
    EXPECT_EQ(result, NetworkConnection::RESULT_MALFORMED);
    body.resize(10);
    datagram = Sealed(client, GAME::Test::commandType, body);
    EXPECT_EQ(ConnectionManager::ReadPacket(server, datagram.data(), datagram.size(), &creator, &result),
              nullptr);
    datagram = Sealed(client, 90, {});
    EXPECT_EQ(ConnectionManager::ReadPacket(server, datagram.data(), datagram.size(), &creator, &result),
              nullptr);
    EXPECT_EQ(server.GetStats().droppedUnreadable, 3u);

    // Without the host's creator the engine still knows its spawn packet; a control packet is
    // the manager's and makes no packet.
    SpawnActorPacket spawn;
    spawn.GetEntityId() = 0x10000005u;
    ASSERT_TRUE(ConnectionManager::WriteBody(&spawn, body));
    datagram = Sealed(client, PACKET_TYPE_SPAWN_ACTOR, body);
    packet = ConnectionManager::ReadPacket(server, datagram.data(), datagram.size(), nullptr, &result);
    ASSERT_NE(packet, nullptr);
    EXPECT_EQ(static_cast<SpawnActorPacket*>(packet)->GetEntityId().GetId(), 0x10000005u);
    EXPECT_EQ(static_cast<SpawnActorPacket*>(packet)->GetEntityId().GetRecordName(), ""); // no entity here
    delete packet;
    datagram = Sealed(client, PACKET_TYPE_CLIENT_VIEW, {});
    EXPECT_EQ(ConnectionManager::ReadPacket(server, datagram.data(), datagram.size(), &creator, &result),
              nullptr);
    EXPECT_EQ(result, NetworkConnection::RESULT_OK);

    // A spawn packet must name an object: a null id is refused in the plain form.
    std::vector<uint8_t> nullSpawn = {0, 0, 0, 0, 0};
    datagram = Sealed(client, PACKET_TYPE_SPAWN_ACTOR, nullSpawn);
    EXPECT_EQ(ConnectionManager::ReadPacket(server, datagram.data(), datagram.size(), nullptr, &result),
              nullptr);
}

TEST(NetPacketBufferTest, ValuesRoundTripAndShortOrLyingInputFailsForGood)
{
    NetPacketOutBuffer out;
    bool flag = true;
    uint8_t byte = 0xAB;
    uint16_t half = 0xBEEF;
    uint32_t word = 0xDEADBEEF;
    int32_t negative = -12345;
    float real = -2.5f;
    Vec3 v(1.0f, -2.0f, 3.5f);
    std::string text = "Records/Hero.dbr";
    const std::vector<uint8_t> bytes = {1, 2, 3};
    out.Add(&flag);
    out.Add(&byte);
    out.Add(&half);
    out.Add(&word);
    out.Add(&negative);
    out.Add(&real);
    out.Add(&v);
    out.Add(&text);
    out.AddBytes(bytes.data(), bytes.size());
    EXPECT_FALSE(out.Failed());

    NetPacketInBuffer in(out.GetData());
    bool f = false;
    uint8_t b = 0;
    uint16_t h = 0;
    uint32_t w = 0;
    int32_t n = 0;
    float r = 0;
    Vec3 vv;
    std::string t;
    std::vector<uint8_t> bb;
    in.Remove(&f);
    in.Remove(&b);
    in.Remove(&h);
    in.Remove(&w);
    in.Remove(&n);
    in.Remove(&r);
    in.Remove(&vv);
    in.Remove(&t);
    in.RemoveBytes(&bb, 16);
    EXPECT_FALSE(in.Failed());
    EXPECT_EQ(in.GetRemaining(), 0u);
    EXPECT_TRUE(f);
    EXPECT_EQ(b, 0xAB);
    EXPECT_EQ(h, 0xBEEF);
    EXPECT_EQ(w, 0xDEADBEEFu);
    EXPECT_EQ(n, -12345);
    EXPECT_EQ(r, -2.5f);
    EXPECT_EQ(vv, v);
    EXPECT_EQ(t, text);
    EXPECT_EQ(bb, bytes);

    // A string longer than the reader allows, or a block longer than what is left, fails before
    // anything is made, and every later value fails with it.
    NetPacketInBuffer limited(out.GetData());
    limited.Remove(static_cast<bool*>(nullptr));
    limited.Remove(static_cast<uint8_t*>(nullptr));
    limited.Remove(static_cast<uint16_t*>(nullptr));
    limited.Remove(static_cast<uint32_t*>(nullptr));
    limited.Remove(static_cast<int32_t*>(nullptr));
    limited.Remove(static_cast<float*>(nullptr));
    limited.Remove(static_cast<Vec3*>(nullptr));
    limited.Remove(&t, 4);
    EXPECT_TRUE(limited.Failed());
    EXPECT_EQ(t, "");
    uint32_t after = 1;
    limited.Remove(&after);
    EXPECT_EQ(after, 0u);

    const uint8_t lying[] = {0xFF, 0xFF, 0xFF, 0x7F, 1, 2}; // a block of 2 GB announced
    NetPacketInBuffer liar(lying, sizeof(lying));
    liar.RemoveBytes(&bb, 0xFFFFFFFFu);
    EXPECT_TRUE(liar.Failed());
    EXPECT_TRUE(bb.empty());

    std::string tooLong(NetPacketOutBuffer::maxStringLength + 1, 'x');
    NetPacketOutBuffer big;
    big.Add(&tooLong);
    EXPECT_TRUE(big.Failed());
}

TEST(ClientViewTest, ViewsRoundTripAndBadViewsAreRefused)
{
    Frustum frustum;
    for (int i = 0; i < 6; ++i)
        frustum.AddPlane(Plane(Vec3(0.0f, 0.0f, 1.0f), static_cast<float>(i)));
    std::vector<uint8_t> body;
    ASSERT_TRUE(ClientView::Write(WorldFrustum(nullptr, frustum), body));
    EXPECT_EQ(body.size(), 16u + 1u + 6u * 16u);
    RegionId region(1, 2, 3, 4);
    Frustum read;
    ASSERT_TRUE(ClientView::Read(body.data(), body.size(), region, read));
    EXPECT_TRUE(region.IsInvalid()); // no region
    ASSERT_EQ(read.GetNumPlanes(), 6u);
    EXPECT_EQ(read.GetPlane(5), frustum.GetPlane(5));

    // The count must match the bytes exactly; planes must be finite; counts are bounded.
    EXPECT_FALSE(ClientView::Read(body.data(), body.size() - 1, region, read));
    std::vector<uint8_t> longer = body;
    longer.push_back(0);
    EXPECT_FALSE(ClientView::Read(longer.data(), longer.size(), region, read));
    std::vector<uint8_t> lying = body;
    lying[16] = 200;
    EXPECT_FALSE(ClientView::Read(lying.data(), lying.size(), region, read));
    std::vector<uint8_t> nan = body;
    nan[17 + 3] = 0x7F;
    nan[17 + 2] = 0xC0; // the first plane's normal.x becomes NaN
    EXPECT_FALSE(ClientView::Read(nan.data(), nan.size(), region, read));
    frustum.GetPlane(2).d = std::numeric_limits<float>::infinity();
    EXPECT_FALSE(ClientView::Write(WorldFrustum(nullptr, frustum), body));
    frustum.SetNumPlanes(ClientView::maxPlanes + 1);
    EXPECT_FALSE(ClientView::Write(WorldFrustum(nullptr, frustum), body));
}

// A cookie holds in the period it was made in and the next, whatever the time inside them, and
// then no more; across the millisecond clock's wrap as anywhere else; for its own source only.
TEST(ConnectCookieTest, ACookieHoldsForItsPeriodAndTheNextAcrossTheClocksWrapAndOnlyForItsSource)
{
    ConnectCookie cookies;
    ASSERT_TRUE(cookies.IsReady());
    constexpr uint32_t period = ConnectCookie::periodMs;
    const uint32_t host = 0x0100007F, otherHost = 0x0200007F;
    const uint16_t port = 40000;
    // Made at the first and the last millisecond of a period, checked at the first and the last
    // of the same and the next (the grace) and the first of the one after (expiry); and the same
    // around the wrap, with the period that ends at 2^32 ms and the one that starts at 0.
    for (const uint32_t start : {7 * period, 0u - period, 0u - 2 * period}) {
        for (const uint32_t madeAt : {start, start + period - 1}) {
            const uint32_t cookie = cookies.Make(host, port, madeAt);
            ASSERT_NE(cookie, 0u);
            SCOPED_TRACE(testing::Message() << "made at " << madeAt);
            for (const uint32_t at : {madeAt, start + period - 1, start + period, start + 2 * period - 1})
                EXPECT_TRUE(cookies.Check(cookie, host, port, at)) << "checked at " << at;
            EXPECT_FALSE(cookies.Check(cookie, host, port, start + 2 * period));
            EXPECT_FALSE(cookies.Check(cookie, host, port, start + 3 * period - 1));
            EXPECT_FALSE(cookies.Check(cookie, host, port, start - 1)); // before it was made
            // Bound to its address and port.
            EXPECT_FALSE(cookies.Check(cookie, otherHost, port, madeAt));
            EXPECT_FALSE(cookies.Check(cookie, host, static_cast<uint16_t>(port + 1), madeAt));
        }
    }
    // Made in the last milliseconds before the wrap, shown in the first ones after it.
    EXPECT_TRUE(cookies.Check(cookies.Make(host, port, 0xFFFFFFFFu), host, port, 0u));
    EXPECT_TRUE(cookies.Check(cookies.Make(host, port, 0xFFFFFF00u), host, port, 0x1000u));
    // Another socket's cookies (another key), and none at all, hold nowhere.
    ConnectCookie others;
    EXPECT_FALSE(cookies.Check(others.Make(host, port, 5 * period), host, port, 5 * period));
    EXPECT_FALSE(cookies.Check(0, host, port, 5 * period));
}

} // namespace
} // namespace GAME
