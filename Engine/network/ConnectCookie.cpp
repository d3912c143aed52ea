#include "network/ConnectCookie.h"

#include "core/Log.h"

#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/params.h>
#include <openssl/rand.h>

#include <cstring>

namespace GAME {

struct ConnectCookie::Impl
{
    EVP_MAC* mac = nullptr;
    EVP_MAC_CTX* keyed = nullptr; // copied for each cookie: a context is used once
    ~Impl()
    {
        EVP_MAC_CTX_free(keyed);
        EVP_MAC_free(mac);
    }
};

ConnectCookie::ConnectCookie() : m_impl(new Impl)
{
    uint8_t key[16];
    size_t size = 8;
    const OSSL_PARAM params[] = {OSSL_PARAM_construct_size_t(OSSL_MAC_PARAM_SIZE, &size), OSSL_PARAM_construct_end()};
    m_impl->mac = EVP_MAC_fetch(nullptr, "SIPHASH", nullptr);
    if (m_impl->mac && RAND_bytes(key, sizeof(key)) == 1)
        m_impl->keyed = EVP_MAC_CTX_new(m_impl->mac);
    if (m_impl->keyed && EVP_MAC_init(m_impl->keyed, key, sizeof(key), params) != 1) {
        EVP_MAC_CTX_free(m_impl->keyed);
        m_impl->keyed = nullptr;
    }
    OPENSSL_cleanse(key, sizeof(key));
    if (!m_impl->keyed)
        LogPrintf(2, "Network: no key for connect cookies could be made");
}

ConnectCookie::~ConnectCookie() = default;

bool ConnectCookie::IsReady() const
{
    return m_impl->keyed != nullptr;
}

uint32_t ConnectCookie::Hash(uint32_t host, uint16_t port, uint32_t period) const
{
    uint8_t message[10];
    std::memcpy(message, &host, 4);
    std::memcpy(message + 4, &port, 2);
    std::memcpy(message + 6, &period, 4);
    uint8_t out[8] = {};
    size_t length = 0;
    EVP_MAC_CTX* context = m_impl->keyed ? EVP_MAC_CTX_dup(m_impl->keyed) : nullptr;
    const bool ok = context && EVP_MAC_update(context, message, sizeof(message)) == 1 &&
                    EVP_MAC_final(context, out, &length, sizeof(out)) == 1 && length == sizeof(out);
    EVP_MAC_CTX_free(context);
    if (!ok)
        return 0;
    uint32_t cookie;
    std::memcpy(&cookie, out, sizeof(cookie));
    return cookie == 0 ? 1 : cookie;
}

uint32_t ConnectCookie::Make(uint32_t host, uint16_t port, uint32_t nowMs) const
{
    return Hash(host, port, nowMs >> periodShift);
}

bool ConnectCookie::Check(uint32_t cookie, uint32_t host, uint16_t port, uint32_t nowMs) const
{
    if (cookie == 0)
        return false;
    // The period before is that of a time one period earlier, on the clock as it wraps.
    return cookie == Hash(host, port, nowMs >> periodShift) ||
           cookie == Hash(host, port, (nowMs - periodMs) >> periodShift);
}

} // namespace GAME
