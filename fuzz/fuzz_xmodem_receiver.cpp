// VELTRIX's receiving side against whatever a peer puts on the line, on a
// simulated line with a fake clock (a time-out costs no real time).
//
// The input is a little program that builds the line: each op byte is
//   00xxxxxx  the next x+1 input bytes go on the line as they are
//   01dcnnnn  a well-formed frame: number = the next frame number when n is
//             0, else the next input byte; 128 data bytes from the input
//             (zeros when it runs out); c set: one CRC bit flipped; d set:
//             the frame's bytes spread 300 ms apart
//   10tttttt  a gap of t * 150 ms before the next byte
//   11xxxxxx  an EOT
//
// Invariants: the file is always a concatenation of frames that appear on
// the line with a correct CRC, numbered 1, 2, 3, ... in the order they
// appear, each with its zero bytes left out; the receiver only ever sends
// 'C' (ten start requests, and before the first frame one to ask for an EOT
// again and one after acknowledging an unconfirmed one), ACK and NAK;
// success means an EOT was on the line and the last byte sent other than
// 'C' is its ACK; it gives up within a bounded time after the line falls
// silent.
#include "common/FuzzCheck.h"
#include "common/XmodemLine.h"

#include "platform/serial/SimulatedLine.h"
#include "serialxfer/Protocol.h"

#include <algorithm>
#include <cstring>

using namespace fuzz;

namespace {

class FrameSink final : public serialxfer::DataSink {
public:
    void Write(const std::uint8_t* data, std::size_t size) override { writes.emplace_back(data, data + size); }
    std::vector<Bytes> writes;
};

struct Reader {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t pos = 0;
    bool More() const { return pos < size; }
    std::uint8_t Next() { return pos < size ? data[pos++] : 0; }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    platform::serial::FakeClock clock;
    platform::serial::SimulatedPort port(clock);
    Bytes line;
    std::vector<std::int64_t> gaps; // gap before each line byte
    Reader in{data, size};
    std::uint8_t nextNumber = 1;
    std::int64_t pendingGap = 0;
    auto put = [&](std::uint8_t b, std::int64_t gap) {
        line.push_back(b);
        gaps.push_back(gap + pendingGap);
        pendingGap = 0;
    };
    while (in.More() && line.size() < 64 * 1024) {
        const std::uint8_t op = in.Next();
        switch (op >> 6) {
        case 0:
            for (int i = 0; i <= (op & 0x3F) && in.More(); ++i)
                put(in.Next(), 0);
            break;
        case 1: {
            const std::uint8_t number = (op & 0x0F) == 0 ? nextNumber : in.Next();
            std::uint8_t block[kBlock] = {};
            for (std::size_t i = 0; i < kBlock && in.More(); ++i)
                block[i] = in.Next();
            Bytes frame = Frame(number, block);
            if (op & 0x10)
                frame[131 + (op & 1)] ^= static_cast<std::uint8_t>(1u << (op & 7));
            for (std::uint8_t b : frame)
                put(b, (op & 0x20) ? 300 : 0);
            if (number == nextNumber)
                nextNumber = static_cast<std::uint8_t>(nextNumber + 1);
            break;
        }
        case 2: pendingGap += (op & 0x3F) * 150; break;
        default: put(kEot, 0); break;
        }
    }
    std::int64_t lastArrival = 0;
    for (std::size_t i = 0; i < line.size(); ++i) {
        port.Deliver(line[i], gaps[i]);
        lastArrival += gaps[i];
    }

    FrameSink sink;
    const int result = serialxfer::RunReceiver(port, clock, sink);
    FUZZ_CHECK(result == serialxfer::kTransferOk || result == serialxfer::kTransferFailed, "result %d", result);

    // Every write is the data of the next frame in order, found further on.
    std::size_t searchFrom = 0;
    for (std::size_t k = 0; k < sink.writes.size(); ++k) {
        const std::uint8_t number = static_cast<std::uint8_t>(k + 1);
        bool found = false;
        for (std::size_t at = searchFrom; at + kFrame <= line.size(); ++at) {
            if (line[at] != kSoh || line[at + 1] != number || !ValidFrameAt(line, at))
                continue;
            Bytes kept;
            for (std::size_t i = 0; i < kBlock; ++i)
                if (line[at + 3 + i] != 0)
                    kept.push_back(line[at + 3 + i]);
            if (kept == sink.writes[k]) {
                found = true;
                searchFrom = at + kFrame;
                break;
            }
        }
        FUZZ_CHECK(found, "write %zu (%zu bytes) matches no well-formed frame %u after line offset %zu", k,
            sink.writes[k].size(), number, searchFrom);
    }

    const Bytes& sent = port.Written();
    int starts = 0;
    for (std::uint8_t b : sent) {
        FUZZ_CHECK(b == kStart || b == kAck || b == kNak, "the receiver sent 0x%02X", b);
        starts += b == kStart;
    }
    FUZZ_CHECK(starts <= 12, "%d start requests", starts);
    if (result == serialxfer::kTransferOk) {
        FUZZ_CHECK(std::find(line.begin(), line.end(), kEot) != line.end(), "success without an EOT on the line");
        const auto lastAnswer = std::find_if(sent.rbegin(), sent.rend(), [](std::uint8_t b) { return b != kStart; });
        FUZZ_CHECK(lastAnswer != sent.rend() && *lastAnswer == kAck, "success without acknowledging the EOT");
    }
    // Once the line is silent: at most one frame's header and resync (8 s)
    // and nine more refusals of about 2 s each; or the twenty seconds of
    // start requests when no frame ever came.
    FUZZ_CHECK(clock.NowMs() <= lastArrival + 45000, "still busy %lld ms after the line fell silent",
        static_cast<long long>(clock.NowMs() - lastArrival));
    return 0;
}
