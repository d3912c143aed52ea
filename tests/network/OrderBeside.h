// A joined client sending the game's packets in the order of an attack (OrderAttack, HandPeer.h)
// beside an honest client, against a listening server whose frames run at 60 a second, as a
// game's: the scene the guard's thread tests count and bench_network_guard times. The attacker has
// a thread of its own; it sends whole cycles as long as the game will then have no more than
// 40,000 of its packets (1.2 MB) to hand on, well under what the server lets a peer have waiting,
// and keeps its link serviced until the run ends. The honest client sends a packet every 5 ms
// until the caller says it sent enough; then the run goes on until the game has all of both (but
// the flood's, which never come whole). What the caller records of each honest packet, whether
// the attacker pauses beside some, and when enough was sent are its hooks (below).
// Drive owns both peers and the attacker's thread, which has ended when it returns; it and the
// hooks run on the calling thread, which runs the server's frames, but for `body`, which the
// attacker's thread calls too.
#pragma once

#include "HandPeer.h"

#include "network/ServerConnectionManager.h"
#include "network/Socket.h"
#include "platform/Threading.h"

#include <enet/enet.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <thread>
#include <vector>

namespace GAME::Test {

struct OrderBeside
{
    // Only a hang takes longer.
    static constexpr int hangMs = 60000;
    // Of the attacker's packets, the most the game is left to hand on once a cycle is sent.
    static constexpr uint32_t outstanding = 40000;

    // What the attacker did as an honest packet went: sent its order, stood paused with all it
    // sent read by the server, or was pausing still.
    enum Attacker
    {
        Sending,
        Quiet,
        Pausing
    };

    // What a run had handed on, and what the guard saw of ENet meanwhile, read while the attacker
    // still kept its link.
    struct Run
    {
        uint64_t cycles = 0;       // of the attack, sent whole
        uint32_t attackerSent = 0; // packets of whole cycles
        uint32_t attackerHanded = 0;
        uint64_t attackerDatagrams = 0;
        uint32_t honestSent = 0, honestHanded = 0;
        int clients = 0; // joined at the end
        Socket::GuardStats guard;
    };

    // The game's packets both clients send: their type, and packet k's body.
    uint8_t type = 0;
    std::function<std::vector<uint8_t>(uint32_t k)> body;
    // How many of a host's packets the game had handed on in order so far (the caller's
    // controller counts them).
    std::function<uint32_t(int host)> handed;
    // Whether the honest client has sent enough, given its packets and the attack's whole cycles.
    std::function<bool(uint32_t sent, uint64_t cycles)> enough;
    // Optional: once both joined, before any game packet.
    std::function<void(int attackerHost, int honestHost)> joined;
    // Optional: whether the attacker sends beside the honest packet n; when not, it stops before its
    // next datagram until it does, and is quiet once the server read what it sent. Empty: always.
    std::function<bool(uint32_t n)> attackBeside;
    // Optional: called just before the honest packet n is sent.
    std::function<void(uint32_t n, Attacker attacker)> sending;
    // The attacker's thread at the lowest priority, as an attacker on a machine of its own takes no
    // processor from the server; otherwise at the priority of the rest.
    bool attackerLowest = false;

    // The run against `server` (its packet creator and controller set; Drive makes it listen).
    // A server that does not listen, or clients that do not join, give a run of no cycles.
    Run Drive(ServerConnectionManager& server, OrderAttack::Shape shape) const
    {
        using Clock = std::chrono::steady_clock;
        Run run;
        if (!server.Listen("127.0.0.1", 0))
            return run;
        auto pump = [&] { server.Update(5); };
        HandPeer attacker(pump, "127.0.0.10", server.GetPort(), true);
        HandPeer honest(pump, "127.0.0.20", server.GetPort(), true);
        if (!attacker.ready || !honest.ready ||
            !PumpUntil(
                pump, [&] { return server.GetNumClients() == 2; }, hangMs))
            return run;
        const int attackerHost = attacker.link.GetLocalHostId();
        const int honestHost = honest.link.GetLocalHostId();
        if (joined)
            joined(attackerHost, honestHost);
        auto attackingBeside = [&](uint32_t n) { return !attackBeside || attackBeside(n); };

        std::atomic<bool> attacking{attackingBeside(0)}, quiet{false}, finishing{false}, done{false},
            stop{false};
        std::atomic<uint32_t> attackerHanded{0}, sent{0};
        std::atomic<uint64_t> cycles{0}, datagrams{0};
        std::thread attack([&] {
            if (attackerLowest)
                Platform::SetCurrentThreadPriority(Platform::ThreadPriority::Lowest);
            OrderAttack order(attacker, shape, type, body, 74);
            const auto limit = Clock::now() + std::chrono::milliseconds(4 * hangMs);
            // A pause: what was sent read by the server, the link kept.
            auto hold = [&] {
                if (attacking || finishing || stop)
                    return;
                attacker.Flush([] {});
                quiet = true;
                while (!attacking && !finishing && !stop && Clock::now() < limit) {
                    attacker.Service();
                    Platform::SleepMilliseconds(1);
                }
                quiet = false;
            };
            const uint32_t length = OrderAttack::CycleLength(shape);
            while (!finishing && !stop && Clock::now() < limit) {
                hold();
                while (order.Delivers() &&
                       order.Packets() + length > attackerHanded + std::max(outstanding, length) &&
                       !finishing && !stop && Clock::now() < limit) {
                    attacker.Service();
                    Platform::SleepMilliseconds(1);
                    hold();
                }
                if (finishing || stop || !order.SendCycle(hold))
                    break;
                ++cycles;
                sent = order.Packets();
                datagrams = order.Datagrams();
            }
            // Its last cycle whole and read by the server; its link kept until the end.
            attacker.Flush([] {});
            done = true;
            while (!stop && Clock::now() < limit) {
                attacker.Service();
                Platform::SleepMilliseconds(1);
            }
        });

        auto nextFrame = Clock::now();
        auto nextSend = nextFrame;
        auto step = [&] {
            const auto now = Clock::now();
            if (now >= nextFrame) {
                server.Update(5);
                attackerHanded = handed(attackerHost);
                nextFrame = std::max(nextFrame + std::chrono::microseconds(16667), now);
            }
            honest.Service();
            Platform::SleepMilliseconds(1);
        };
        const auto start = Clock::now();
        while (!enough(run.honestSent, cycles) &&
               Clock::now() - start < std::chrono::milliseconds(2 * hangMs)) {
            if (Clock::now() >= nextSend) {
                nextSend += std::chrono::milliseconds(5);
                const uint32_t n = run.honestSent++;
                attacking = attackingBeside(n);
                if (sending)
                    sending(n, attacking ? Sending : quiet ? Quiet : Pausing);
                honest.SendSealed(type, body(n));
                enet_host_flush(honest.host);
            }
            step();
        }
        finishing = true;
        PumpUntil(
            step,
            [&] {
                return done && handed(honestHost) == run.honestSent &&
                       (shape == OrderAttack::Flood || attackerHanded == sent);
            },
            hangMs);
        run.cycles = cycles;
        run.attackerSent = sent;
        run.attackerHanded = handed(attackerHost);
        run.attackerDatagrams = datagrams;
        run.honestHanded = handed(honestHost);
        run.clients = server.GetNumClients();
        run.guard = server.GetGuardStats();
        stop = true;
        attack.join();
        return run;
    }
};

} // namespace GAME::Test
