// VELTRIX's receiver when the line falls silent after a frame: a read that
// brought no byte must be refused at once like any byte that starts no
// frame, never taken for the byte that started the previous frame.
// (Found by the receiver fuzz target and by the sanitizer build, where the
// stale byte differed and the transfer tests failed.)
#include <gtest/gtest.h>

#include "platform/serial/SimulatedLine.h"
#include "serialxfer/Crc16.h"
#include "serialxfer/Protocol.h"

#include <algorithm>
#include <vector>

using namespace serialxfer;
using Bytes = std::vector<std::uint8_t>;

namespace {

Bytes Frame(std::uint8_t number, std::uint8_t fill) {
    Bytes f(kFrameSize, fill);
    f[0] = kSoh;
    f[1] = number;
    f[2] = static_cast<std::uint8_t>(255 - number);
    const std::uint16_t crc = Crc16(f.data() + 3, kBlockSize);
    f[kFrameSize - 2] = static_cast<std::uint8_t>(crc >> 8);
    f[kFrameSize - 1] = static_cast<std::uint8_t>(crc & 0xFF);
    return f;
}

struct Outcome {
    int result = 99;
    Bytes sent;
    std::vector<std::int64_t> times;
    Bytes file;
    std::int64_t end = 0;
};

// The line carries `frames` and then nothing. Each frame after the first
// arrives 100 ms later, after the answer to the one before, as from a
// sender that waits for its answer (what is waiting when the receiver
// answers is dropped as stale).
Outcome Receive(const std::vector<Bytes>& frames) {
    platform::serial::FakeClock clock;
    platform::serial::SimulatedPort port(clock);
    for (std::size_t i = 0; i < frames.size(); ++i)
        port.Deliver(frames[i], static_cast<std::int64_t>(i) * 100);
    MemorySink sink;
    Outcome o;
    o.result = RunReceiver(port, clock, sink);
    o.sent = port.Written();
    o.times = port.WriteTimes();
    o.file = sink.bytes;
    o.end = clock.NowMs();
    return o;
}

TEST(SilentLine, NoByteAfterAnAcceptedFrameIsRefusedAtOnce) {
    const struct {
        const char* name;
        std::vector<Bytes> frames;
    } cases[] = {
        {"one frame", {Frame(1, 'a')}},
        {"two frames", {Frame(1, 'a'), Frame(2, 'b')}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome o = Receive(c.frames);
        EXPECT_EQ(o.result, kTransferFailed);
        EXPECT_EQ(o.file.size(), c.frames.size() * kBlockSize);
        const auto lastAck = std::find(o.sent.rbegin(), o.sent.rend(), kAck);
        ASSERT_NE(lastAck, o.sent.rend());
        const std::size_t ackAt = static_cast<std::size_t>(o.sent.rend() - lastAck) - 1;
        // After the last ACK only NAKs: ten tries, one NAK each.
        const Bytes after(o.sent.begin() + static_cast<std::ptrdiff_t>(ackAt) + 1, o.sent.end());
        EXPECT_EQ(after, Bytes(kTries, kNak));
        // Each refusal follows the 2 s wait for a frame start that brought
        // nothing: about 2 s apart, not the 8 s of reading a header first.
        for (std::size_t i = ackAt + 1; i < o.times.size(); ++i) {
            const std::int64_t gap = o.times[i] - o.times[i - 1];
            EXPECT_GE(gap, 2000) << "NAK " << i - ackAt;
            EXPECT_LE(gap, 2200) << "NAK " << i - ackAt;
        }
        EXPECT_LE(o.end - o.times[ackAt], 10 * 2200 + 2200);
    }
}

} // namespace
