#include "network/NetworkConnection.h"

#include "network/NetPacket.h"

#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/kdf.h>
#include <openssl/params.h>

#include <cstring>
#include <utility>

namespace GAME {

namespace {

constexpr size_t keySize = 32;
constexpr unsigned char kdfSalt[] = "Marrow link session keys v1";

void PutWord(uint8_t* out, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        out[i] = static_cast<uint8_t>(value >> (8 * i));
}

uint32_t GetWord(const uint8_t* in)
{
    return static_cast<uint32_t>(in[0]) | (static_cast<uint32_t>(in[1]) << 8) |
           (static_cast<uint32_t>(in[2]) << 16) | (static_cast<uint32_t>(in[3]) << 24);
}

bool IsZero(const uint8_t* data, size_t size)
{
    uint8_t any = 0;
    for (size_t i = 0; i < size; ++i)
        any |= data[i];
    return any == 0;
}

} // namespace

void NetworkLinkStats::Add(const NetworkLinkStats& other)
{
    packetsSent += other.packetsSent;
    bytesSent += other.bytesSent;
    sendsLost += other.sendsLost;
    packetsReceived += other.packetsReceived;
    bytesReceived += other.bytesReceived;
    droppedMalformed += other.droppedMalformed;
    droppedOversized += other.droppedOversized;
    droppedBadAuth += other.droppedBadAuth;
    droppedReplay += other.droppedReplay;
    droppedUnexpected += other.droppedUnexpected;
    droppedUnreadable += other.droppedUnreadable;
}

// The link's secrets and OpenSSL objects. Everything secret is wiped when it is no longer needed.
struct NetworkConnection::Crypto
{
    EVP_PKEY* ownKey = nullptr; // ephemeral X25519 pair, until the keys are derived
    uint8_t clientShare[keyShareSize] = {};
    uint8_t serverShare[keyShareSize] = {};
    EVP_MAC* mac = nullptr;
    EVP_MAC_CTX* sendMac = nullptr;
    EVP_MAC_CTX* receiveMac = nullptr;

    Crypto() = default;
    Crypto(const Crypto&) = delete;
    Crypto& operator=(const Crypto&) = delete;
    ~Crypto() { Clear(); }

    void ForgetOwnKey()
    {
        EVP_PKEY_free(ownKey);
        ownKey = nullptr;
    }
    void Clear()
    {
        ForgetOwnKey();
        EVP_MAC_CTX_free(sendMac);
        EVP_MAC_CTX_free(receiveMac);
        EVP_MAC_free(mac);
        sendMac = receiveMac = nullptr;
        mac = nullptr;
        OPENSSL_cleanse(clientShare, sizeof(clientShare));
        OPENSSL_cleanse(serverShare, sizeof(serverShare));
    }

    // A new pair; its public half goes to `share`.
    bool MakeKeyPair(uint8_t* share)
    {
        ForgetOwnKey();
        ownKey = EVP_PKEY_Q_keygen(nullptr, nullptr, "X25519");
        size_t length = keyShareSize;
        return ownKey && EVP_PKEY_get_raw_public_key(ownKey, share, &length) == 1 && length == keyShareSize;
    }

    EVP_MAC_CTX* MakeMac(const uint8_t* key)
    {
        if (!mac)
            mac = EVP_MAC_fetch(nullptr, "HMAC", nullptr);
        if (!mac)
            return nullptr;
        EVP_MAC_CTX* context = EVP_MAC_CTX_new(mac);
        char digest[] = "SHA256";
        const OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, digest, 0),
                                     OSSL_PARAM_construct_end()};
        if (context && EVP_MAC_init(context, key, keySize, params) == 1)
            return context;
        EVP_MAC_CTX_free(context);
        return nullptr;
    }

    // Both directions' authentication contexts, made for one handshake and freed unless used.
    struct Macs
    {
        EVP_MAC_CTX* send = nullptr;
        EVP_MAC_CTX* receive = nullptr;
        Macs() = default;
        Macs(const Macs&) = delete;
        Macs& operator=(const Macs&) = delete;
        ~Macs()
        {
            EVP_MAC_CTX_free(send);
            EVP_MAC_CTX_free(receive);
        }
    };

    // The session keys of this end (`side`) from the own key pair and the handshake's shares.
    bool Derive(Side side, const uint8_t* clientShare, const uint8_t* serverShare, uint32_t version,
                Macs& out)
    {
        Crypto& c = *this;
        const uint8_t* peerShare = side == SIDE_CLIENT ? serverShare : clientShare;
        uint8_t secret[keySize];
        uint8_t keys[2 * keySize];
        size_t secretLength = sizeof(secret);
        size_t keysLength = sizeof(keys);
        bool ok = false;
        EVP_PKEY* peer = EVP_PKEY_new_raw_public_key(EVP_PKEY_X25519, nullptr, peerShare, keyShareSize);
        EVP_PKEY_CTX* agree = c.ownKey ? EVP_PKEY_CTX_new(c.ownKey, nullptr) : nullptr;
        // X25519 refuses an all-zero secret (a low-order share), so a hostile share fails here.
        if (peer && agree && EVP_PKEY_derive_init(agree) == 1 && EVP_PKEY_derive_set_peer(agree, peer) == 1 &&
            EVP_PKEY_derive(agree, secret, &secretLength) == 1 && secretLength == keySize) {
            // The whole handshake goes into the keys: the protocol and version the client asked for
            // and both key shares. A request altered on its way (another version, another share) or
            // an answer to another request derives other keys, and its authentication fails.
            uint8_t info[8 + 2 * keyShareSize];
            PutWord(info, protocolMagic);
            PutWord(info + 4, version);
            std::memcpy(info + 8, clientShare, keyShareSize);
            std::memcpy(info + 8 + keyShareSize, serverShare, keyShareSize);
            EVP_PKEY_CTX* kdf = EVP_PKEY_CTX_new_id(EVP_PKEY_HKDF, nullptr);
            ok = kdf && EVP_PKEY_derive_init(kdf) == 1 && EVP_PKEY_CTX_set_hkdf_md(kdf, EVP_sha256()) == 1 &&
                 EVP_PKEY_CTX_set1_hkdf_salt(kdf, kdfSalt, sizeof(kdfSalt) - 1) == 1 &&
                 EVP_PKEY_CTX_set1_hkdf_key(kdf, secret, static_cast<int>(keySize)) == 1 &&
                 EVP_PKEY_CTX_add1_hkdf_info(kdf, info, static_cast<int>(sizeof(info))) == 1 &&
                 EVP_PKEY_derive(kdf, keys, &keysLength) == 1 && keysLength == sizeof(keys);
            EVP_PKEY_CTX_free(kdf);
        }
        EVP_PKEY_CTX_free(agree);
        EVP_PKEY_free(peer);
        if (ok) {
            // Keys 0..31 authenticate what the client sends, 32..63 what the server sends.
            const uint8_t* clientKey = keys;
            const uint8_t* serverKey = keys + keySize;
            out.send = c.MakeMac(side == SIDE_CLIENT ? clientKey : serverKey);
            out.receive = c.MakeMac(side == SIDE_CLIENT ? serverKey : clientKey);
            ok = out.send && out.receive;
        }
        OPENSSL_cleanse(secret, sizeof(secret));
        OPENSSL_cleanse(keys, sizeof(keys));
        return ok;
    }

    // The session keys from now on; the own key pair is forgotten.
    void Use(Macs& macs)
    {
        std::swap(sendMac, macs.send);
        std::swap(receiveMac, macs.receive);
        ForgetOwnKey();
    }

    // The first 8 bytes of HMAC-SHA256 over the header (its authentication field zero) and body.
    static bool Authenticate(EVP_MAC_CTX* context, const uint8_t* header, const uint8_t* body, size_t size,
                             uint8_t* out)
    {
        uint8_t zeroed[NetPacketHeader::headerSize];
        std::memcpy(zeroed, header, sizeof(zeroed));
        std::memset(zeroed + 8, 0, NetPacketHeader::authSize);
        uint8_t digest[EVP_MAX_MD_SIZE];
        size_t length = 0;
        // A null key reuses the key the context was made with.
        if (!context || EVP_MAC_init(context, nullptr, 0, nullptr) != 1 ||
            EVP_MAC_update(context, zeroed, sizeof(zeroed)) != 1 ||
            (size && EVP_MAC_update(context, body, size) != 1) ||
            EVP_MAC_final(context, digest, &length, sizeof(digest)) != 1 ||
            length < NetPacketHeader::authSize)
            return false;
        std::memcpy(out, digest, NetPacketHeader::authSize);
        OPENSSL_cleanse(digest, sizeof(digest));
        return true;
    }
};

NetworkConnection::NetworkConnection(Side side)
    : m_side(side), m_localHost(side == SIDE_SERVER ? 0 : NetPacketHeader::unknownHost),
      m_remoteHost(side == SIDE_CLIENT ? 0 : NetPacketHeader::unknownHost), m_crypto(new Crypto)
{
}

NetworkConnection::~NetworkConnection() = default;

void NetworkConnection::Reset()
{
    m_crypto->Clear();
    m_keyed = false;
    m_requestSeen = false;
    m_localHost = m_side == SIDE_SERVER ? 0 : NetPacketHeader::unknownHost;
    m_remoteHost = m_side == SIDE_CLIENT ? 0 : NetPacketHeader::unknownHost;
    m_sendSequence = 0;
    m_receiveSequence = 0;
}

const char* NetworkConnection::GetResultText(Result result)
{
    switch (result) {
    case RESULT_OK:
        return "accepted";
    case RESULT_MALFORMED:
        return "malformed";
    case RESULT_OVERSIZED:
        return "oversized";
    case RESULT_BAD_AUTH:
        return "failed authentication";
    case RESULT_REPLAY:
        return "replayed";
    case RESULT_UNEXPECTED:
        return "unexpected";
    }
    return "?";
}

bool NetworkConnection::MakeConnectRequest(std::vector<uint8_t>& datagram)
{
    if (m_side != SIDE_CLIENT)
        return false;
    Reset();
    if (!m_crypto->MakeKeyPair(m_crypto->clientShare))
        return false;
    datagram.assign(NetPacketHeader::headerSize + connectRequestBodySize, 0);
    NetPacketHeader header;
    header.size = static_cast<uint16_t>(datagram.size());
    header.type = PACKET_TYPE_CONNECT_REQUEST;
    header.hostId = NetPacketHeader::unknownHost;
    header.sequence = 0;
    header.Write(datagram.data());
    uint8_t* body = datagram.data() + NetPacketHeader::headerSize;
    PutWord(body, protocolMagic);
    PutWord(body + 4, protocolVersion);
    std::memcpy(body + 8, m_crypto->clientShare, keyShareSize);
    m_stats.packetsSent++;
    m_stats.bytesSent += datagram.size();
    return true;
}

NetworkConnection::Result NetworkConnection::AcceptConnectRequest(const uint8_t* body, size_t size,
                                                                  uint8_t hostId,
                                                                  std::vector<uint8_t>& datagram,
                                                                  RefuseReason* refusal)
{
    if (refusal)
        *refusal = REFUSE_HANDSHAKE_FAILED;
    if (m_side != SIDE_SERVER || m_keyed)
        return RESULT_UNEXPECTED;
    if (!body || size != connectRequestBodySize || GetWord(body) != protocolMagic)
        return RESULT_MALFORMED;
    if (GetWord(body + 4) != protocolVersion) {
        if (refusal)
            *refusal = REFUSE_PROTOCOL_VERSION;
        return RESULT_MALFORMED;
    }
    Crypto& c = *m_crypto;
    std::memcpy(c.clientShare, body + 8, keyShareSize);
    Crypto::Macs macs;
    if (!c.MakeKeyPair(c.serverShare) ||
        !c.Derive(m_side, c.clientShare, c.serverShare, protocolVersion, macs)) {
        c.Clear();
        return RESULT_MALFORMED;
    }
    c.Use(macs);
    m_keyed = true;
    m_remoteHost = hostId;
    uint8_t reply[connectAcceptBodySize];
    reply[0] = hostId;
    std::memcpy(reply + 1, c.serverShare, keyShareSize);
    if (!Seal(PACKET_TYPE_CONNECT_ACCEPT, reply, sizeof(reply), datagram)) {
        Reset();
        return RESULT_MALFORMED;
    }
    return RESULT_OK;
}

bool NetworkConnection::RefuseConnectRequest(const uint8_t* body, size_t size, RefuseReason reason,
                                             std::vector<uint8_t>& datagram)
{
    MakeRefusal(reason, datagram);
    if (m_side != SIDE_SERVER || m_keyed || !body || size != connectRequestBodySize ||
        GetWord(body) != protocolMagic || GetWord(body + 4) != protocolVersion)
        return false;
    // The keys the request would have had, used once for this answer and forgotten.
    Crypto& c = *m_crypto;
    std::memcpy(c.clientShare, body + 8, keyShareSize);
    Crypto::Macs macs;
    bool ok =
        c.MakeKeyPair(c.serverShare) && c.Derive(m_side, c.clientShare, c.serverShare, protocolVersion, macs);
    if (ok) {
        std::vector<uint8_t> signedRefusal(NetPacketHeader::headerSize + authenticatedRefusalBodySize, 0);
        NetPacketHeader header;
        header.size = static_cast<uint16_t>(signedRefusal.size());
        header.type = PACKET_TYPE_CONNECT_REFUSE;
        header.hostId = 0;
        header.sequence = 1;
        header.Write(signedRefusal.data());
        uint8_t* reply = signedRefusal.data() + NetPacketHeader::headerSize;
        reply[0] = reason;
        std::memcpy(reply + 1, c.serverShare, keyShareSize);
        ok = Crypto::Authenticate(macs.send, signedRefusal.data(), reply, authenticatedRefusalBodySize,
                                  signedRefusal.data() + 8);
        if (ok) {
            datagram.swap(signedRefusal);
            m_stats.packetsSent++;
            m_stats.bytesSent += datagram.size();
        }
    }
    c.Clear();
    return ok;
}

void NetworkConnection::MakeRefusal(RefuseReason reason, std::vector<uint8_t>& datagram)
{
    datagram.assign(NetPacketHeader::headerSize + 1, 0);
    NetPacketHeader header;
    header.size = static_cast<uint16_t>(datagram.size());
    header.type = PACKET_TYPE_CONNECT_REFUSE;
    header.hostId = 0;
    header.Write(datagram.data());
    datagram[NetPacketHeader::headerSize] = reason;
}

bool NetworkConnection::Seal(uint8_t type, const uint8_t* body, size_t size, std::vector<uint8_t>& datagram)
{
    if (!m_keyed || size > NetPacketHeader::maxBodySize || (size && !body) || type > PACKET_TYPE_LAST ||
        m_sendSequence == 0xFFFFFFFFu)
        return false;
    datagram.resize(NetPacketHeader::headerSize + size);
    NetPacketHeader header;
    header.size = static_cast<uint16_t>(datagram.size());
    header.type = type;
    header.hostId = m_localHost;
    header.sequence = m_sendSequence + 1;
    header.Write(datagram.data());
    if (size)
        std::memcpy(datagram.data() + NetPacketHeader::headerSize, body, size);
    if (!Crypto::Authenticate(m_crypto->sendMac, datagram.data(),
                              datagram.data() + NetPacketHeader::headerSize, size, datagram.data() + 8))
        return false;
    ++m_sendSequence;
    m_stats.packetsSent++;
    m_stats.bytesSent += datagram.size();
    return true;
}

NetworkConnection::Result NetworkConnection::Count(Result result, size_t size)
{
    switch (result) {
    case RESULT_OK:
        m_stats.packetsReceived++;
        m_stats.bytesReceived += size;
        break;
    case RESULT_MALFORMED:
        m_stats.droppedMalformed++;
        break;
    case RESULT_OVERSIZED:
        m_stats.droppedOversized++;
        break;
    case RESULT_BAD_AUTH:
        m_stats.droppedBadAuth++;
        break;
    case RESULT_REPLAY:
        m_stats.droppedReplay++;
        break;
    case RESULT_UNEXPECTED:
        m_stats.droppedUnexpected++;
        break;
    }
    return result;
}

NetworkConnection::Result NetworkConnection::OpenAnswer(const uint8_t* data, size_t size,
                                                        const NetPacketHeader& header)
{
    const bool accept = header.type == PACKET_TYPE_CONNECT_ACCEPT;
    const uint8_t* body = data + NetPacketHeader::headerSize;
    const size_t bodySize = size - NetPacketHeader::headerSize;
    if (bodySize != (accept ? connectAcceptBodySize : authenticatedRefusalBodySize) || header.sequence != 1 ||
        header.hostId != 0)
        return RESULT_MALFORMED;
    // Object ids keep the host in 4 bits; 0 is the server's.
    const uint8_t hostId = body[0];
    if ((accept && (hostId == 0 || hostId > 15)) || !m_crypto->ownKey)
        return RESULT_MALFORMED;
    // Checked with keys of its own before anything of the join is touched: an answer that does
    // not come from the server that read our request leaves the join as it was, so the genuine
    // answer, arriving later, is still taken.
    Crypto::Macs macs;
    if (!m_crypto->Derive(m_side, m_crypto->clientShare, body + 1, protocolVersion, macs))
        return RESULT_BAD_AUTH;
    uint8_t expected[NetPacketHeader::authSize];
    if (!Crypto::Authenticate(macs.receive, data, body, bodySize, expected) ||
        CRYPTO_memcmp(expected, header.auth, sizeof(expected)) != 0)
        return RESULT_BAD_AUTH;
    if (!accept) {
        // The server refused us: the join is over.
        m_crypto->Clear();
        return RESULT_OK;
    }
    std::memcpy(m_crypto->serverShare, body + 1, keyShareSize);
    m_crypto->Use(macs);
    m_keyed = true;
    m_localHost = hostId;
    m_receiveSequence = header.sequence;
    return RESULT_OK;
}

NetworkConnection::Result NetworkConnection::Open(const uint8_t* data, size_t size, NetPacketHeader& header,
                                                  const uint8_t*& body, size_t& bodySize)
{
    body = nullptr;
    bodySize = 0;
    if (size > NetPacketHeader::maxPacketSize)
        return Count(RESULT_OVERSIZED, size);
    if (!data || !header.Read(data, size) || header.size != size || header.type > PACKET_TYPE_LAST)
        return Count(RESULT_MALFORMED, size);
    const bool handshake = header.type == PACKET_TYPE_CONNECT_REQUEST ||
                           header.type == PACKET_TYPE_CONNECT_ACCEPT ||
                           header.type == PACKET_TYPE_CONNECT_REFUSE;
    const uint8_t* payload = data + NetPacketHeader::headerSize;
    const size_t payloadSize = size - NetPacketHeader::headerSize;

    if (!m_keyed) {
        if (!handshake)
            return Count(RESULT_BAD_AUTH, size); // nothing is trusted before the session key
        if (m_side == SIDE_SERVER) {
            if (header.type != PACKET_TYPE_CONNECT_REQUEST || m_requestSeen)
                return Count(RESULT_UNEXPECTED, size);
            if (header.sequence != 0 || !IsZero(header.auth, NetPacketHeader::authSize))
                return Count(RESULT_MALFORMED, size);
            m_requestSeen = true;
        } else if (header.type == PACKET_TYPE_CONNECT_ACCEPT ||
                   (header.type == PACKET_TYPE_CONNECT_REFUSE &&
                    payloadSize == authenticatedRefusalBodySize)) {
            const Result result = OpenAnswer(data, size, header);
            if (result != RESULT_OK)
                return Count(result, size);
        } else if (header.type == PACKET_TYPE_CONNECT_REFUSE) {
            // A refusal without authentication: the caller cannot trust it (see the banner).
            if (payloadSize != 1 || header.sequence != 0 || !IsZero(header.auth, NetPacketHeader::authSize))
                return Count(RESULT_MALFORMED, size);
        } else {
            return Count(RESULT_UNEXPECTED, size);
        }
        body = payload;
        bodySize = payloadSize;
        return Count(RESULT_OK, size);
    }

    if (handshake)
        return Count(RESULT_UNEXPECTED, size);
    uint8_t expected[NetPacketHeader::authSize];
    if (!Crypto::Authenticate(m_crypto->receiveMac, data, payload, payloadSize, expected) ||
        CRYPTO_memcmp(expected, header.auth, sizeof(expected)) != 0)
        return Count(RESULT_BAD_AUTH, size);
    if (header.sequence <= m_receiveSequence)
        return Count(RESULT_REPLAY, size);
    if (header.hostId != m_remoteHost)
        return Count(RESULT_UNEXPECTED, size);
    m_receiveSequence = header.sequence;
    body = payload;
    bodySize = payloadSize;
    return Count(RESULT_OK, size);
}

} // namespace GAME
