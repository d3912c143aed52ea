// The network's receive thread against the order in which a client's datagrams come.
//
// A lossy, shuffling link: a joined client uploads as a game does (tests/network/LossyRelay.h:
// reliable packets in bursts of 1,000 while fewer than 4,000 wait to be sent, then 60 a second)
// through a relay that loses datagrams each way and delays each by a fixed time and a random
// extra of up to some milliseconds, as network emulators do, so that a burst's datagrams arrive
// shuffled. The reference is the same upload through the same relay (the same seed) to a bare
// ENet server with ENet's defaults, serviced by a thread of its own, five times each with five
// seeds: the ratio of the median times until the last packet was in.
//
// Orders of valid sends: a joined client (tests/network/HandPeer.h, OrderAttack) sends its sealed
// packets, 32 a datagram, in the order of an attack: in-order gap fills under 19,000 held, bank
// cycles, reversed runs, shuffled bursts, the out-of-order flood newest first. The server's
// receive thread's processor time for each of its datagrams (processor time: load stretches it
// less than wall time), against the same packets sent in order, as many a datagram, to a server
// of their own.
#include "common/BenchMachine.h"
#include "common/BenchNetwork.h"
#include "common/BenchReport.h"

#include "../tests/network/HandPeer.h"
#include "../tests/network/LossyRelay.h"
#include "../tests/network/ThreadMeasures.h"

#include "core/Log.h"
#include "network/NetPacket.h"
#include "network/NetPacketBuffer.h"
#include "network/NetPacketHeader.h"
#include "network/NetworkControllerBase.h"
#include "network/NetworkPacketCreatorBase.h"
#include "network/ServerConnectionManager.h"
#include "network/Socket.h"

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

// Packets of an upload: a sequence number and a block of bytes.
constexpr GAME::PACKET_TYPE uploadType = GAME::PACKET_TYPE(42);
using UploadPacket = Bench::SequencedPacket;
// A server whose socket's queue stalls can be read: times its receive thread left a client's
// datagrams with ENet for want of room in the client's share of the queue.
class StallCountingServer : public GAME::ServerConnectionManager
{
public:
    uint64_t GetQueueStalls() const { return GetSocket() ? GetSocket()->GetQueueStalls() : 0; }
};
class UploadController : public Bench::PacketController
{
public:
    void ProcessPacket(int, GAME::NetPacket* packet) override
    {
        if (packet->GetType() == uploadType && static_cast<UploadPacket*>(packet)->sequence == next)
            ++next;
    }
    uint32_t next = 0;
};

constexpr uint32_t uploadPackets = 10000;
// What a client may take to join through the lossy link (the engine's client waits 10 s, and asks
// again when the server let it go; this one asks once).
constexpr int joinLimitMs = 20000;
// Uploads of each kind for each link: their ends are ENet's resend backoff's luck (a command lost
// four times running holds the last packets back for seconds, to either server), so one pair's
// ratio says little; the medians' do.
constexpr int uploadRuns = 5;
constexpr uint32_t uploadTail = 60;
constexpr uint32_t uploadLargeEvery = 200;
size_t UploadSize(uint32_t n)
{
    return n % uploadLargeEvery == uploadLargeEvery - 1 ? 4000 : 24;
}

// The upload of tests/network/LossyRelay.h (10,000 small game packets, one in 200 of 4 KB, in bursts
// of 1,000, then 60 at 60 a second) through a relay losing one datagram in `period` each way and
// delaying each by `delayMs` and up to `jitterMs` more at random, to the engine's server (a client
// that joined) and to a bare ENet server with ENet's defaults (serviced by a thread of its own,
// waiting in enet_host_service), each from a fresh start with the same seed: seconds until the
// last packet was in, or -1 when the link was lost or not everything came. `why` says what went
// wrong, if anything.
// Each client connects through the relay as it is during the upload, as a game's client joins
// over the link it uploads on. ENet's sender throttles what it has in flight whenever a round trip
// exceeds, by twice its variance, the lowest of the 5 s before (the first measured, at first): a join
// over the bare loopback (2 ms, the session's handshake takes several round trips) followed at
// once by a 100 ms link held the engine's client to one datagram a round trip for the upload's
// first 5 s, while the bare client's connect measures no round trip (ENet's start, 500 ms).
// `engineReferenceMs`, `bareReferenceMs`: the round trip each sender's throttle measured against
// as its upload began; `stalls`: the engine's server's queue stalls during the upload.
void MeasureLossyUpload(int period, int delayMs, int jitterMs, uint32_t seed, double& engineSeconds, double& bareSeconds,
                        uint64_t& leftOut, std::string& why, unsigned& engineReferenceMs,
                        unsigned& bareReferenceMs, uint64_t& stalls)
{
    engineSeconds = bareSeconds = -1.0;
    engineReferenceMs = bareReferenceMs = 0;
    stalls = 0;
    leftOut = 0;
    why.clear();
    // What each sealed packet comes to (its header and body), for the bare run.
    std::vector<size_t> sizes(uploadPackets + uploadTail);
    for (uint32_t n = 0; n < sizes.size(); ++n) {
        UploadPacket packet(uploadType, n, UploadSize(n));
        std::vector<uint8_t> body;
        GAME::ConnectionManager::WriteBody(&packet, body);
        sizes[n] = GAME::NetPacketHeader::headerSize + body.size();
    }
    {
        Bench::SequencedCreator creator;
        UploadController controller;
        StallCountingServer server;
        server.SetNetPacketCreator(&creator);
        server.SetNetworkController(&controller);
        if (!server.Listen("127.0.0.1", 0))
            return;
        auto pump = [&] { server.Update(5); };
        // The client joins through the link it then uploads on, as a game's client does (see
        // MeasureLossyUpload's comment).
        GAME::Test::LossyRelay relay(server.GetPort(), period, period, seed, delayMs, jitterMs);
        GAME::Test::HandPeer sender(pump, "127.0.0.71", relay.port, true, joinLimitMs, "127.0.0.60");
        if (!sender.ready) {
            why = "the client did not join the engine's server";
            return;
        }
        engineReferenceMs = sender.peer->lastRoundTripTime;
        const uint64_t before = server.GetGuardStats().commandsLeftOut,
                       stallsBefore = server.GetQueueStalls();
        std::atomic<uint32_t> delivered{0};
        std::atomic<bool> uploading{true};
        GAME::Test::UploadResult result;
        std::thread send([&] {
            result = GAME::Test::LossyUpload(
                sender.host, sender.peer, uploadPackets, uploadTail,
                [&](uint32_t n) {
                    UploadPacket packet(uploadType, n, UploadSize(n));
                    std::vector<uint8_t> body, datagram;
                    GAME::ConnectionManager::WriteBody(&packet, body);
                    sender.link.Seal(uploadType, body.data(), body.size(), datagram);
                    return datagram;
                },
                [&] { return delivered == uploadPackets + uploadTail; }, 120000);
            uploading = false;
        });
        while (uploading) {
            pump();
            delivered = controller.next;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        send.join();
        leftOut = server.GetGuardStats().commandsLeftOut - before;
        stalls = server.GetQueueStalls() - stallsBefore;
        if (result.finished && !result.lostLink)
            engineSeconds = result.seconds;
        else
            why = result.lostLink ? "the engine's server's link was lost after " + std::to_string(controller.next) +
                                        " packets"
                                  : "the engine's server had " + std::to_string(controller.next) + " packets at the limit";
    }
    ENetAddress address;
    enet_address_set_host_ip(&address, "127.0.0.1");
    address.port = 0;
    ENetHost* bare = enet_host_create(&address, 1, 1, 0, 0);
    if (!bare)
        return;
    std::atomic<uint32_t> received{0};
    std::atomic<bool> serving{true};
    std::thread serve([&] {
        ENetEvent event;
        while (serving)
            if (enet_host_service(bare, &event, 1) > 0 && event.type == ENET_EVENT_TYPE_RECEIVE) {
                if (event.packet->dataLength == sizes[received])
                    ++received;
                enet_packet_destroy(event.packet);
            }
    });
    {
        GAME::Test::LossyRelay relay(bare->address.port, period, period, seed, delayMs, jitterMs);
        // Serviced here until connected; the bare server's own thread answers.
        GAME::Test::HandPeer sender([] {}, "127.0.0.72", relay.port, false, joinLimitMs, "127.0.0.60");
        if (sender.ready) {
            bareReferenceMs = sender.peer->lastRoundTripTime;
            const GAME::Test::UploadResult result = GAME::Test::LossyUpload(
                sender.host, sender.peer, uploadPackets, uploadTail,
                [&](uint32_t n) { return std::vector<uint8_t>(sizes[n], static_cast<uint8_t>(n)); },
                [&] { return received == uploadPackets + uploadTail; }, 120000);
            if (result.finished && !result.lostLink)
                bareSeconds = result.seconds;
            else
                why += (why.empty() ? "" : "; ") + std::string(result.lostLink ? "the bare server's link was lost"
                                                                                : "the bare server had not all");
        } else {
            why += (why.empty() ? "" : "; ") + std::string("the client did not connect to the bare server");
        }
    }
    serving = false;
    serve.join();
    enet_host_destroy(bare);
}

// What the receive thread of a server of its own spends on each datagram of a joined client
// (tests/network/HandPeer.h) sending its packets in the order of a shape, three cycles of it (the
// flood: ten), while the server's frames run on this thread and hand the game what ENet
// delivered; the client keeps no more than 40,000 of its packets waiting for the game, as the
// tests' attacker does. `like`: the packets of that shape's cycle, when `shape` is InOrder.
struct ShapeCost
{
    double microsecondsEach = -1.0;
    uint64_t datagrams = 0;
    uint32_t packets = 0; // sent in whole cycles (the flood's never come whole)
    uint32_t handed = 0;
};
ShapeCost MeasureShape(GAME::Test::OrderAttack::Shape shape,
                       GAME::Test::OrderAttack::Shape like = GAME::Test::OrderAttack::GapFills)
{
    ShapeCost cost;
    Bench::SequencedCreator creator;
    UploadController controller;
    GAME::ServerConnectionManager server;
    server.SetNetPacketCreator(&creator);
    server.SetNetworkController(&controller);
    if (!server.Listen("127.0.0.1", 0))
        return cost;
    {
        GAME::Test::HandPeer attacker([&] { server.Update(0); }, "127.0.0.73", server.GetPort(), true, 10000);
        if (!attacker.ready)
            return cost;
        const auto joined = Clock::now();
        while (server.GetNumClients() < 1 && Clock::now() - joined < std::chrono::seconds(10)) {
            server.Update(0);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        std::atomic<uint32_t> handed{0};
        std::atomic<bool> sending{true};
        std::atomic<uint64_t> datagrams{0};
        std::atomic<uint32_t> packets{0};
        std::thread send([&] {
            GAME::Test::OrderAttack order(
                attacker, shape, static_cast<uint8_t>(uploadType),
                [](uint32_t k) {
                    UploadPacket packet(uploadType, k, 24);
                    std::vector<uint8_t> body;
                    GAME::ConnectionManager::WriteBody(&packet, body);
                    return body;
                },
                74, like);
            const uint32_t length = GAME::Test::OrderAttack::CycleLength(shape == GAME::Test::OrderAttack::InOrder ? like : shape);
            const int cycles = shape == GAME::Test::OrderAttack::Flood ? 10 : 3;
            const auto limit = Clock::now() + std::chrono::seconds(30);
            for (int c = 0; c < cycles && Clock::now() < limit; ++c) {
                while (order.Delivers() && order.Packets() + length > handed + std::max<uint32_t>(40000, length) &&
                       Clock::now() < limit) {
                    attacker.Service();
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                }
                if (!order.SendCycle({}, 10000))
                    break;
                datagrams = order.Datagrams();
                packets = order.Packets();
            }
            sending = false;
        });
        const double before = GAME::Test::NamedThreadsCpuMs("Receive Thread");
        while (sending) {
            server.Update(0);
            handed = controller.next;
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        send.join();
        cost.datagrams = datagrams;
        cost.packets = packets;
        if (cost.datagrams > 0)
            cost.microsecondsEach = 1000.0 * (GAME::Test::NamedThreadsCpuMs("Receive Thread") - before) /
                                    static_cast<double>(cost.datagrams);
        // What the game has by the end, for the record.
        const auto drain = Clock::now();
        while (controller.next < cost.packets && Clock::now() - drain < std::chrono::seconds(10)) {
            server.Update(0);
            attacker.Service();
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        cost.handed = controller.next;
    }
    server.Shutdown();
    return cost;
}

} // namespace

const char* const kHelp = R"(bench_network_order: the network's receive thread against the order of a client's datagrams.

Measures, on the loopback address with no render device (about 3 minutes):
  lossy upload, five times with five seeds: a joined client uploads 10,000 small game packets (one in 200 of 4 KB) in bursts
  of 1,000, then 60 at 60 a second, through a relay losing one datagram in 16 each way and
  delaying each by 50 ms and up to 10 ms more at random (a burst's datagrams arrive shuffled),
  then one in 10 and 100 ms and up to 20 ms more;
  orders of valid sends: a joined client sends its sealed packets, 32 a datagram, in the order of
  an attack (in-order gap fills under 19,000 held, bank cycles, reversed runs, shuffled bursts,
  the out-of-order flood newest first; tests/network/HandPeer.h): the server's receive thread's
  processor time for each of its datagrams.
Reference, in the same run: for the lossy upload, the same sends through the same relay (the same
seeds) to a bare ENet server with ENet's defaults, serviced by a thread of its own (both clients
give their link up after 30 s without an acknowledgement); for an order of
sends, the same packets sent in order, as many a datagram, to a server of their own.

Figures (last lines of the output):
  ratio lossy_upload_1_in_16_50ms_jitter_10ms_vs_bare_enet, lossy_upload_1_in_10_100ms_jitter_20ms_vs_bare_enet
                                         the median of the uploads' times to the engine's server / of
                                         those to the bare ENet server; lower is better, 1 is ENet's
                                         own, at most 1.5 (-1: an upload to the engine's not whole)
  ratio receive_thread_<order>_vs_in_order
                                         the receive thread's processor time for each datagram of the
                                         order (gap_fills, bank_cycles, reversed_runs, shuffled_bursts,
                                         out_of_order_flood) / for each of the same packets' in order;
                                         lower is better, 1 costs what the packets in order do
)";

int main(int argc, char** argv)
{
    if (const int code = BenchCommandLine(argc, argv, kHelp); code >= 0)
        return code;
    BenchReport report;
    Bench::QuietLog quiet;
    GAME::SetProcessLogSink(&quiet);
    enet_initialize();
    struct Link
    {
        int period, delayMs, jitterMs;
    };
    for (const Link link : {Link{16, 50, 10}, Link{10, 100, 20}}) {
        std::vector<double> engineTimes, bareTimes;
        int engineLost = 0, bareLost = 0;
        for (int run = 0; run < uploadRuns; ++run) {
            double engineSeconds = -1.0, bareSeconds = -1.0;
            uint64_t leftOut = 0;
            std::string why;
            const std::string loadAtStart = LoadAverage();
            unsigned engineReferenceMs = 0, bareReferenceMs = 0;
            uint64_t stalls = 0;
            MeasureLossyUpload(link.period, link.delayMs, link.jitterMs, 1234u + 17u * static_cast<uint32_t>(run),
                               engineSeconds, bareSeconds, leftOut, why, engineReferenceMs, bareReferenceMs, stalls);
            std::printf(
                "bench_network_order: an upload losing one datagram in %d each way, delayed %d ms and up to %d "
                "ms more, took %.2f s (bare ENet %.2f s), %llu of its sends left out by the guard, %llu queue "
                "stalls, the sender's throttle measuring against a round trip of %u ms (bare %u ms)%s%s; "
                "load average %s\n",
                link.period, link.delayMs, link.jitterMs, engineSeconds, bareSeconds,
                static_cast<unsigned long long>(leftOut), static_cast<unsigned long long>(stalls),
                engineReferenceMs, bareReferenceMs, why.empty() ? "" : ": ", why.c_str(), loadAtStart.c_str());
            if (engineSeconds > 0.0)
                engineTimes.push_back(engineSeconds);
            else
                ++engineLost;
            if (bareSeconds > 0.0)
                bareTimes.push_back(bareSeconds);
            else
                ++bareLost;
        }
        auto median = [](std::vector<double> values) {
            if (values.empty())
                return -1.0;
            std::sort(values.begin(), values.end());
            return values[values.size() / 2];
        };
        const double engineMedian = median(engineTimes), bareMedian = median(bareTimes);
        std::printf("bench_network_order: %d uploads each, one in %d lost each way, %d ms and up to %d ms more: "
                    "median %.2f s to the engine's server (%d not whole), %.2f s to bare ENet (%d not whole)\n",
                    uploadRuns, link.period, link.delayMs, link.jitterMs, engineMedian, engineLost, bareMedian,
                    bareLost);
        report.Ratio("lossy_upload_1_in_" + std::to_string(link.period) + "_" + std::to_string(link.delayMs) + "ms_jitter_" +
                         std::to_string(link.jitterMs) + "ms_vs_bare_enet",
                     engineLost == 0 && engineMedian > 0.0 && bareMedian > 0.0 ? engineMedian / bareMedian : -1.0);
    }
    using Shape = GAME::Test::OrderAttack::Shape;
    const std::pair<Shape, const char*> shapes[] = {{Shape::GapFills, "gap_fills"},
                                                    {Shape::BankCycles, "bank_cycles"},
                                                    {Shape::ReversedRuns, "reversed_runs"},
                                                    {Shape::ShuffledBursts, "shuffled_bursts"},
                                                    {Shape::Flood, "out_of_order_flood"}};
    for (const auto& [shape, name] : shapes) {
        const ShapeCost ordered = MeasureShape(shape), inOrder = MeasureShape(Shape::InOrder, shape);
        std::printf("bench_network_order: %s: %.1f us of the receive thread a datagram (%llu datagrams, %u of %u packets handed "
                    "on), the same packets in order %.1f us (%llu datagrams, %u of %u)\n",
                    name, ordered.microsecondsEach, static_cast<unsigned long long>(ordered.datagrams), ordered.handed,
                    ordered.packets, inOrder.microsecondsEach, static_cast<unsigned long long>(inOrder.datagrams),
                    inOrder.handed, inOrder.packets);
        report.Ratio(std::string("receive_thread_") + name + "_vs_in_order",
                     ordered.microsecondsEach > 0.0 && inOrder.microsecondsEach > 0.0
                         ? ordered.microsecondsEach / inOrder.microsecondsEach
                         : -1.0);
    }
    report.Print();
    return 0;
}
