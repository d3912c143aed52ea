// The stateless cookie of a listening socket: 32 bits that only a source which receives the
// server's datagrams can know. A connect must carry the cookie of its own address and port (in
// the 32 bits of data ENet's connect command carries) before it may take a slot; one without it
// is answered with the cookie and takes nothing, so a forged source address, which never sees the
// answer, never gets past the first datagram. The cookie is a keyed hash (SipHash, a key drawn
// at random for each socket) of the address, the port and the period of time it was made in; it
// holds for that period and the next (periodMs to twice that). The periods are a power of two
// milliseconds long, so that they tile the 32-bit millisecond clock: the last period before the
// clock wraps (every 49.7 days) is whole, and the first after it follows it as any other. Never
// 0, which is what ENet sends when asked for no data. Any thread; it changes nothing once made.
#pragma once

#include <cstdint>
#include <memory>

namespace GAME {

class ConnectCookie
{
public:
    static constexpr unsigned periodShift = 13;
    static constexpr uint32_t periodMs = 1u << periodShift; // 8.192 s

    ConnectCookie();
    ~ConnectCookie();
    ConnectCookie(const ConnectCookie&) = delete;
    ConnectCookie& operator=(const ConnectCookie&) = delete;

    // False when no key or hash could be had (logged once): such a socket cannot listen guarded.
    bool IsReady() const;
    // The cookie of the source (address and port as ENet keeps them) at the time.
    uint32_t Make(uint32_t host, uint16_t port, uint32_t nowMs) const;
    // The cookie was made for the source in this period or the one before.
    bool Check(uint32_t cookie, uint32_t host, uint16_t port, uint32_t nowMs) const;

private:
    uint32_t Hash(uint32_t host, uint16_t port, uint32_t period) const;

    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

} // namespace GAME
