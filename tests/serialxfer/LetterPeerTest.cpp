// Our sender and our receiver against a peer that follows the protocol's
// rules to the letter (whole-second waits, 1000 ms read attempts, one EOT,
// an EOT acknowledged at once), on a fake clock, with the end of the
// transfer falling at every 10 ms of the peer's clock second: both sides
// must report the same success every time.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>

#include "DamageCampaign.h"
#include "LetterPeer.h"
#include "platform/serial/SimulatedLink.h"

using namespace tests::serialxfer;

namespace {

constexpr int kStepMs = 10;
constexpr int kPositions = 1000 / kStepMs;

// Sizes that take every path to the EOT: no frame (the EOT answers the
// start request), a frame with fill, full frames.
Bytes DataFor(int position) {
    static const std::size_t sizes[] = {0, 129, 300, 640};
    std::mt19937_64 rng(static_cast<std::uint64_t>(position) + 1);
    return RichData(rng, sizes[position % 4]);
}

struct Outcome {
    int peer = 99;
    int ours = 99;
    Bytes file;
    int eotMsOfSecond = -1;
    std::optional<std::int64_t> ackAfterEotMs;
    std::int64_t eotWrittenMs = -1; // our sender's EOT, on the link's clock
};

Outcome LetterSenderToOurReceiver(const Bytes& data, int eotAtMs) {
    SimulatedLink link;
    WholeSecondClock clock(link.ClockOf(SimulatedLink::kEnd0));
    LetterSender peer(link.Port(SimulatedLink::kEnd0), clock, data);
    peer.eotAtMsOfSecond = eotAtMs;
    serialxfer::MemorySink sink;
    Outcome o;
    link.Run([&] { o.peer = peer.Run(); },
        [&] {
            o.ours = serialxfer::RunReceiver(link.Port(SimulatedLink::kEnd1), link.ClockOf(SimulatedLink::kEnd1), sink);
        });
    o.file = sink.bytes;
    o.eotMsOfSecond = peer.eotMsOfSecond;
    o.ackAfterEotMs = peer.ackAfterEotMs;
    return o;
}

Outcome OurSenderToLetterReceiver(const Bytes& data, std::int64_t phaseMs) {
    SimulatedLink link;
    Outcome o;
    link.SetDamage([&](SimulatedLink::Side from, std::uint64_t, std::uint8_t) {
        if (from == SimulatedLink::kEnd0)
            o.eotWrittenMs = link.NowMs(); // the last byte our sender writes is its EOT
        return SimulatedLink::Damage{};
    });
    WholeSecondClock clock(link.ClockOf(SimulatedLink::kEnd1), phaseMs);
    LetterReceiver peer(link.Port(SimulatedLink::kEnd1), clock);
    serialxfer::MemorySource source(data);
    link.Run(
        [&] {
            o.ours = serialxfer::RunSender(link.Port(SimulatedLink::kEnd0), link.ClockOf(SimulatedLink::kEnd0), source);
        },
        [&] { o.peer = peer.Run(); });
    o.file = peer.file;
    o.eotMsOfSecond = peer.eotMsOfSecond;
    const Bytes& written = link.Written(SimulatedLink::kEnd0);
    if (written.empty() || written.back() != serialxfer::kEot)
        o.eotWrittenMs = -1;
    return o;
}

} // namespace

TEST(LetterPeer, SenderGetsItsAckWhereverItsEotFalls) {
    std::int64_t fastest = 1000000, slowest = 0;
    for (int position = 0; position < kPositions; ++position) {
        const int eotAt = position * kStepMs;
        SCOPED_TRACE("EOT at " + std::to_string(eotAt) + " ms of the peer's second");
        const Bytes data = DataFor(position);
        const Outcome o = LetterSenderToOurReceiver(data, eotAt);
        EXPECT_EQ(o.eotMsOfSecond, eotAt);
        EXPECT_EQ(o.peer, serialxfer::kTransferOk);
        EXPECT_EQ(o.ours, serialxfer::kTransferOk);
        EXPECT_TRUE(o.file == ExpectedReceived(data)) << "received " << o.file.size() << " bytes";
        if (!o.ackAfterEotMs)
            continue;
        fastest = std::min(fastest, *o.ackAfterEotMs);
        slowest = std::max(slowest, *o.ackAfterEotMs);
    }
    // Well inside the second after the question that may cut the peer's
    // wait short.
    EXPECT_LE(slowest, 600);
    std::printf("letter-following sender: EOT to ACK %lld..%lld ms over %d positions\n",
        static_cast<long long>(fastest), static_cast<long long>(slowest), kPositions);
}

TEST(LetterPeer, ReceiverTakesOurEotWhereverItFalls) {
    for (int position = 0; position < kPositions; ++position) {
        const Bytes data = DataFor(position);
        // The run does not depend on the peer's clock on a clean line, so a
        // first run tells when our EOT leaves, and the phase puts it there.
        const Outcome probe = OurSenderToLetterReceiver(data, 0);
        ASSERT_GE(probe.eotWrittenMs, 0) << "our sender wrote no EOT last";
        const int eotAt = position * kStepMs;
        const std::int64_t phase = ((eotAt - probe.eotWrittenMs) % 1000 + 1000) % 1000;
        SCOPED_TRACE("EOT at " + std::to_string(eotAt) + " ms of the peer's second");
        const Outcome o = OurSenderToLetterReceiver(data, phase);
        EXPECT_EQ(o.eotWrittenMs, probe.eotWrittenMs);
        // Read when the peer's pause after its last answer is over.
        EXPECT_LT((o.eotMsOfSecond - eotAt + 1000) % 1000, 2 * LetterLine::kPauseMs);
        EXPECT_EQ(o.ours, serialxfer::kTransferOk);
        EXPECT_EQ(o.peer, serialxfer::kTransferOk);
        EXPECT_TRUE(o.file == ExpectedReceived(data)) << "received " << o.file.size() << " bytes";
    }
}

// The peer's own rules, checked against the worst place for an EOT: a peer
// that answers a lone EOT only after 1.1 s (as ours once did) loses the
// ACK when its EOT leaves late in a clock second, so the sweep above can
// fail.
TEST(LetterPeer, LateAckIsLostLateInTheSecond) {
    for (int eotAt : {0, 500, 860, 990}) {
        SCOPED_TRACE(eotAt);
        SimulatedLink link;
        WholeSecondClock clock(link.ClockOf(SimulatedLink::kEnd0));
        LetterSender peer(link.Port(SimulatedLink::kEnd0), clock, {});
        peer.eotAtMsOfSecond = eotAt;
        int result = 99;
        link.Run([&] { result = peer.Run(); },
            [&] {
                platform::serial::BytePort& port = link.Port(SimulatedLink::kEnd1);
                platform::serial::Clock& own = link.ClockOf(SimulatedLink::kEnd1);
                port.WriteByte(serialxfer::kStartRequest);
                std::uint8_t byte = 0;
                while (port.ReadByte(byte, 1000) != platform::serial::ReadStatus::Byte || byte != serialxfer::kEot) {
                }
                own.SleepMs(100);
                port.WriteByte(serialxfer::kNak); // read and dropped by the peer
                own.SleepMs(1060);
                port.WriteByte(serialxfer::kAck);
            });
        EXPECT_EQ(result, eotAt >= 900 ? serialxfer::kTransferFailed : serialxfer::kTransferOk);
    }
}
