// What the socket's guard costs an honest client beside a joined client that orders its valid sends
// as an attack, and what a held run costs the receive thread: the timings the guard's tests count
// instead (their verdicts are counts: sends left out, datagrams that found ENet holding sends to
// walk past, packets handed on in order).
//
// Delay beside an order: the server runs 60 frames a second, as a game's; an honest client sends
// a packet every 5 ms; a joined client (tests/network/HandPeer.h, OrderAttack, on a thread of its
// own at the lowest priority, as an attacker on a machine of its own takes no processor from the
// server) sends its sealed packets in the order of an attack at full speed, but for a pause every
// 100 of the honest client's packets, as long again: during a pause it has sent nothing since the
// server read the last it sent. The honest client's delay from its send to the game is taken in
// turns beside the attack and beside the same client idle, in the same run: the ratio of the two
// 99th percentiles. The attacker keeps no more than 40,000 of its packets (1.2 MB) waiting for the
// game, well under what the server lets a peer have waiting.
//
// A held run: a joined client holds a run of 22,000 sealed packets behind one it has not sent
// (4.7 MB, the guard's filer keeps them by number), and sends, a datagram a millisecond, its join
// request again (ENet drops it at once): the server's receive thread's processor time for each,
// beside the run, against the same on the quiet link before the run, each the lower of two
// measures (a busy shared machine now and then charges a thread for others' work).
#include "common/BenchMachine.h"
#include "common/BenchNetwork.h"
#include "common/BenchReport.h"

#include "../tests/network/HandPeer.h"
#include "../tests/network/OrderBeside.h"
#include "../tests/network/ThreadMeasures.h"

#include "core/Log.h"
#include "network/NetPacketHeader.h"
#include "network/ServerConnectionManager.h"
#include "network/Socket.h"
#include "platform/Threading.h"

#include <enet/enet.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using Shape = GAME::Test::OrderAttack::Shape;

constexpr GAME::PACKET_TYPE gameType = GAME::PACKET_TYPE(42);
// What only a hang takes.
constexpr int hangMs = 60000;

std::vector<uint8_t> Body(uint32_t sequence, size_t size = 8)
{
    Bench::SequencedPacket packet(gameType, sequence, size);
    std::vector<uint8_t> body;
    GAME::ConnectionManager::WriteBody(&packet, body);
    return body;
}

// Each host's packets in order, and when the honest client's reached the game.
class OrderController : public Bench::PacketController
{
public:
    void ProcessPacket(int host, GAME::NetPacket* packet) override
    {
        if (packet->GetType() != gameType || host < 0 || host > 15)
            return;
        const uint32_t sequence = static_cast<Bench::SequencedPacket*>(packet)->sequence;
        if (host == honestHost && sequence < handedAt.size())
            handedAt[sequence] = Clock::now();
        if (sequence == next[host])
            ++next[host];
        else
            ++outOfOrder;
    }
    uint32_t next[16] = {};
    uint64_t outOfOrder = 0;
    int honestHost = -1;
    std::vector<Clock::time_point> handedAt;
};

double Percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return -1.0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, static_cast<size_t>(p * static_cast<double>(values.size())))];
}

struct DelayBeside
{
    std::vector<double> idle, beside; // milliseconds from the send to the game
    uint64_t cycles = 0;
    uint32_t honestSent = 0, honestHanded = 0;
    uint64_t outOfOrder = 0;
    uint64_t heldByENet = 0;
};

DelayBeside MeasureDelayBeside(Shape shape)
{
    using GAME::Test::OrderBeside;
    DelayBeside result;
    Bench::SequencedCreator creator;
    OrderController controller;
    GAME::ServerConnectionManager server;
    server.SetNetPacketCreator(&creator);
    server.SetNetworkController(&controller);
    constexpr size_t samples = 400;
    constexpr uint32_t phasePackets = 100;
    constexpr uint32_t maxHonest = 20 * samples;
    controller.handedAt.assign(maxHonest, Clock::time_point());
    std::vector<Clock::time_point> sentAt;
    std::vector<OrderBeside::Attacker> phaseOf; // Sending: beside the attack; Quiet: idle; Pausing: neither
    auto count = [&](OrderBeside::Attacker phase) {
        return static_cast<size_t>(std::count(phaseOf.begin(), phaseOf.end(), phase));
    };
    OrderBeside scene;
    scene.type = static_cast<uint8_t>(gameType);
    scene.body = [](uint32_t k) { return Body(k); };
    scene.handed = [&](int host) { return controller.next[host]; };
    scene.enough = [&](uint32_t sent, uint64_t cycles) {
        return (count(OrderBeside::Quiet) >= samples && count(OrderBeside::Sending) >= samples &&
                cycles >= 2) ||
               sent >= maxHonest;
    };
    scene.joined = [&](int, int honestHost) { controller.honestHost = honestHost; };
    scene.attackBeside = [](uint32_t n) { return (n / phasePackets) % 2 == 1; };
    scene.sending = [&](uint32_t, OrderBeside::Attacker attacker) {
        phaseOf.push_back(attacker);
        sentAt.push_back(Clock::now());
    };
    scene.attackerLowest = true;
    const OrderBeside::Run run = scene.Drive(server, shape);
    result.cycles = run.cycles;
    result.honestSent = run.honestSent;
    result.honestHanded = run.honestHanded;
    result.outOfOrder = controller.outOfOrder;
    result.heldByENet = run.guard.heldByENet;
    for (uint32_t n = 0; n < result.honestHanded; ++n)
        if (phaseOf[n] != OrderBeside::Pausing)
            (phaseOf[n] == OrderBeside::Sending ? result.beside : result.idle)
                .push_back(
                    std::chrono::duration<double, std::milli>(controller.handedAt[n] - sentAt[n]).count());
    return result;
}

// The server, looked at from outside: its socket.
class ProbedServer : public GAME::ServerConnectionManager
{
public:
    GAME::Socket* Transport() const { return GetSocket(); }
};

// A datagram of the peer's carrying a reliable send numbered 1 (its join request, long delivered)
// again: ENet drops it at once.
std::vector<uint8_t> AsFirstSendAgain(const GAME::Test::HandPeer& peer)
{
    std::vector<uint8_t> datagram = peer.Datagram();
    ENetProtocolSendReliable command = {};
    command.header.command = ENET_PROTOCOL_COMMAND_SEND_RELIABLE;
    command.header.reliableSequenceNumber = ENET_HOST_TO_NET_16(1);
    command.dataLength = ENET_HOST_TO_NET_16(16);
    GAME::Test::AppendCommand(datagram, command, 16);
    return datagram;
}

struct HeldRunCost
{
    double quiet = -1.0, holding = -1.0; // microseconds of the receive thread a datagram
    size_t held = 0;                     // bytes the server held while it measured
    uint32_t handed = 0, runLength = 0;  // of the run, once the missing one came
};

HeldRunCost MeasureHeldRun()
{
    HeldRunCost cost;
    Bench::SequencedCreator creator;
    OrderController controller;
    ProbedServer server;
    server.SetNetPacketCreator(&creator);
    server.SetNetworkController(&controller);
    if (!server.Listen("127.0.0.1", 0))
        return cost;
    auto pump = [&] { server.Update(5); };
    GAME::Test::HandPeer client(pump, "127.0.0.30", server.GetPort(), true);
    if (!client.ready || !GAME::Test::PumpUntil(
                             pump, [&] { return server.GetNumClients() == 1; }, hangMs))
        return cost;
    const int host = client.link.GetLocalHostId();
    GAME::Socket& transport = *server.Transport();
    // Reliable sends of packets[from] to packets[to - 1], numbered `first` + i, 16 a datagram; the
    // server reads each 32 before more come (the system drops what overflows its socket's buffer).
    auto sendRun = [&](uint16_t first, const std::vector<std::vector<uint8_t>>& packets, size_t from,
                       size_t to) {
        for (size_t at = from, datagrams = 1; at < to; ++datagrams) {
            std::vector<uint8_t> datagram = client.Datagram();
            for (int c = 0; c < 16 && at < to; ++c, ++at) {
                ENetProtocolSendReliable command = {};
                command.header.command = ENET_PROTOCOL_COMMAND_SEND_RELIABLE;
                command.header.reliableSequenceNumber =
                    ENET_HOST_TO_NET_16(static_cast<uint16_t>(first + at));
                command.dataLength = ENET_HOST_TO_NET_16(static_cast<uint16_t>(packets[at].size()));
                GAME::Test::AppendCommand(datagram, command);
                datagram.insert(datagram.end(), packets[at].begin(), packets[at].end());
            }
            client.Send(datagram);
            if (datagrams % 32 == 0)
                client.Flush(pump);
        }
    };
    // The receive thread's processor time for each of 1,500 datagrams, one a millisecond from a
    // thread of their own; the client's host is serviced meanwhile (a host that answers nothing
    // for some seconds is given up by the server's ENet).
    auto microsecondsEach = [&] {
        const std::vector<uint8_t> datagram = AsFirstSendAgain(client);
        const ENetSocket socket = client.host->socket;
        const ENetAddress to = client.peer->address;
        std::atomic<bool> sending{true};
        std::atomic<uint64_t> sent{0};
        std::thread send([&] {
            const auto limit = Clock::now() + std::chrono::milliseconds(4 * hangMs);
            while (sending && Clock::now() < limit) {
                GAME::Test::SendRaw(socket, to, datagram);
                ++sent;
                GAME::Platform::SleepMilliseconds(1);
            }
        });
        auto serviced = [&] {
            pump();
            client.Service();
        };
        GAME::Test::PumpUntil(
            serviced, [&] { return sent > 200; }, hangMs);
        const double before = GAME::Test::NamedThreadsCpuMs("Receive Thread");
        const uint64_t sentBefore = sent;
        GAME::Test::PumpUntil(
            serviced, [&] { return sent >= sentBefore + 1500; }, hangMs);
        const double each = 1000.0 * (GAME::Test::NamedThreadsCpuMs("Receive Thread") - before) /
                            static_cast<double>(sent - sentBefore);
        sending = false;
        send.join();
        return each;
    };
    cost.quiet = std::min(microsecondsEach(), microsecondsEach());

    constexpr uint32_t runLength = 22000;
    cost.runLength = runLength;
    std::vector<std::vector<uint8_t>> run(runLength);
    for (uint32_t n = 0; n < runLength; ++n) {
        const std::vector<uint8_t> body = Body(n, 190);
        client.link.Seal(static_cast<uint8_t>(gameType), body.data(), body.size(), run[n]);
    }
    const auto first = static_cast<uint16_t>(client.peer->channels[0].outgoingReliableSequenceNumber + 1);
    sendRun(first, run, 1, runLength);
    GAME::Test::PumpUntil(
        [&] {
            pump();
            client.Service();
        },
        [&] { return transport.GetBufferedBytes() >= GAME::ServerConnectionManager::maxWaitingData * 3 / 4; },
        hangMs);
    cost.held = transport.GetBufferedBytes();
    cost.holding = std::min(microsecondsEach(), microsecondsEach());
    // The missing one, then all again until it is in, as ENet resends what was not acknowledged.
    sendRun(first, run, 0, 1);
    for (int pass = 0; pass < 20 && controller.next[host] < runLength; ++pass) {
        sendRun(first, run, 0, runLength);
        GAME::Test::PumpUntil(
            pump, [&] { return controller.next[host] == runLength; }, 500);
    }
    cost.handed = controller.next[host];
    server.Shutdown();
    return cost;
}

} // namespace

const char* const kHelp =
    R"(bench_network_guard: what the socket's guard costs others beside orders of valid sends, and a held run.

Measures, on the loopback address with no render device (under a minute):
  delay beside an order: an honest client's packets, one every 5 ms, to a server running 60 frames
  a second, beside a joined client sending its valid sealed packets at full speed in the order of
  an attack (in-order gap fills under 19,000 held, bank cycles, reversed runs, shuffled bursts,
  the out-of-order flood newest first; tests/network/HandPeer.h), in turns of 100 packets with
  that client idle: the 99th percentile of the delay from the send to the game;
  a held run: the server's receive thread's processor time for each datagram of a client holding
  22,000 packets (4.7 MB) behind one it has not sent.
Reference, in the same run: the same honest client's delay in the turns the attacker is idle; the
same client's datagrams on its quiet link, before it held the run.

Figures (last lines of the output):
  ratio honest_delay_p99_beside_<order>_vs_idle
                                         the honest client's 99th percentile delay beside the
                                         order (gap_fills, bank_cycles, reversed_runs,
                                         shuffled_bursts, out_of_order_flood) / beside the same
                                         client idle; lower is better, 1 is no delay at all, 2 or
                                         more a receive thread kept from others (-1: a packet lost
                                         or out of order)
  ratio receive_thread_beside_held_run_vs_quiet
                                         the receive thread's processor time for each of the
                                         client's datagrams while it holds the run / on its quiet
                                         link; lower is better, 1 costs what a quiet link does (-1:
                                         the run not handed on whole)
)";

int main(int argc, char** argv)
{
    if (const int code = BenchCommandLine(argc, argv, kHelp); code >= 0)
        return code;
    BenchReport report;
    Bench::QuietLog quiet;
    GAME::SetProcessLogSink(&quiet);
    enet_initialize();
    const std::pair<Shape, const char*> shapes[] = {{Shape::GapFills, "gap_fills"},
                                                    {Shape::BankCycles, "bank_cycles"},
                                                    {Shape::ReversedRuns, "reversed_runs"},
                                                    {Shape::ShuffledBursts, "shuffled_bursts"},
                                                    {Shape::Flood, "out_of_order_flood"}};
    for (const auto& [shape, name] : shapes) {
        const std::string load = LoadAverage();
        const DelayBeside run = MeasureDelayBeside(shape);
        const double idle = Percentile(run.idle, 0.99), beside = Percentile(run.beside, 0.99);
        const bool whole = run.cycles >= 2 && run.honestHanded == run.honestSent && run.outOfOrder == 0 &&
                           idle > 0.0 && beside > 0.0;
        std::printf(
            "bench_network_guard: %s: p99 %.1f ms beside it (p50 %.1f, %zu packets), %.1f ms with it idle "
            "(p50 %.1f, %zu), %llu cycles, %u of %u honest packets in order, %llu datagrams found ENet "
            "holding sends; load average %s\n",
            name, beside, Percentile(run.beside, 0.5), run.beside.size(), idle, Percentile(run.idle, 0.5),
            run.idle.size(), static_cast<unsigned long long>(run.cycles), run.honestHanded, run.honestSent,
            static_cast<unsigned long long>(run.heldByENet), load.c_str());
        report.Ratio(std::string("honest_delay_p99_beside_") + name + "_vs_idle",
                     whole ? beside / idle : -1.0);
    }
    const std::string load = LoadAverage();
    const HeldRunCost held = MeasureHeldRun();
    std::printf(
        "bench_network_guard: held run: %.1f us of the receive thread a datagram beside %zu bytes held, "
        "%.1f us on the quiet link; %u of the run's %u packets handed on once the missing one came; load "
        "average %s\n",
        held.holding, held.held, held.quiet, held.handed, held.runLength, load.c_str());
    report.Ratio("receive_thread_beside_held_run_vs_quiet",
                 held.handed == held.runLength && held.quiet > 0.0 ? held.holding / held.quiet : -1.0);
    report.Print();
    return 0;
}
