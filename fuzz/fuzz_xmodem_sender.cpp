// VELTRIX's sending side against a receiver that answers anything, on a
// simulated line with a fake clock.
//
// Input: bytes 0..1 give the file's length (below 2000 bytes), byte 2 seeds
// its content; the rest is the receiver's script, one op per point where a
// receiver speaks (before the start, after each frame, after each EOT):
//   00xxxxxx  the next x+1 script bytes go on the line as they are
//   01xxxxxx  after x * 100 ms: ACK ('C' before the start)
//   10xxxxxx  after x * 100 ms: NAK
//   11xxxxxx  silence
// When the script has run out the receiver answers ACK ('C' at the start).
//
// Invariants: nothing goes out before a 'C' has arrived; the sender sends
// only well-formed frames and EOT; frame numbers start at 1 and either repeat
// (at most ten sendings of one frame) or go up by one, each advance paid for
// by an ACK on the line; each frame carries the file's next 128 bytes, the
// last one filled with 0x1A; EOT comes only after the last block; success
// means every block went out, an EOT went out and an ACK came after it.
#include "common/FuzzCheck.h"
#include "common/XmodemLine.h"

#include "platform/serial/SimulatedLine.h"
#include "serialxfer/Protocol.h"

#include <algorithm>

using namespace fuzz;

namespace {

class ScriptedReceiver final : public platform::serial::LinePeer {
public:
    ScriptedReceiver(
        const Bytes& file, const std::uint8_t* script, std::size_t size, platform::serial::FakeClock& clock)
        : file_(file), script_(script), size_(size), clock_(clock) {
        blocks_ = (file.size() + kBlock - 1) / kBlock;
    }

    // The receiver's first words, before the sender has sent anything.
    void Start(platform::serial::PeerOutput& port) { Answer(port, true); }

    void OnByte(platform::serial::PeerOutput& port, std::uint8_t byte) override {
        FUZZ_CHECK(startSeenAt_ >= 0 && startSeenAt_ <= clock_.NowMs(), "a byte 0x%02X went out before any 'C'", byte);
        ++sentBytes;
        if (!frame_.empty()) {
            frame_.push_back(byte);
            if (frame_.size() == kFrame) {
                CheckFrame();
                frame_.clear();
                Answer(port, false);
            }
            return;
        }
        if (byte == kSoh) {
            frame_.push_back(byte);
            return;
        }
        FUZZ_CHECK(byte == kEot, "a stray byte 0x%02X between frames", byte);
        FUZZ_CHECK(blocks_ == 0 || (current_ == static_cast<long>(blocks_) - 1), "EOT after block %ld of %zu", current_,
            blocks_);
        ++eots;
        FUZZ_CHECK(eots <= 10, "%d EOTs", eots);
        Answer(port, false);
    }

    long current_ = -1; // index of the block last sent
    int eots = 0;
    long acksDelivered = 0;
    long sentBytes = 0;

private:
    void CheckFrame() {
        const std::uint8_t number = frame_[1];
        FUZZ_CHECK(frame_[2] == static_cast<std::uint8_t>(255 - number), "complement 0x%02X of %u", frame_[2], number);
        const std::uint16_t crc = Crc(frame_.data() + 3, kBlock);
        FUZZ_CHECK(frame_[131] == (crc >> 8) && frame_[132] == (crc & 0xFF), "bad CRC on frame %u", number);
        if (current_ >= 0 && number == lastNumber_) {
            FUZZ_CHECK(++sendings_ <= 10, "frame %u sent %d times", number, sendings_);
        } else {
            FUZZ_CHECK(
                number == static_cast<std::uint8_t>(lastNumber_ + 1), "frame %u after frame %u", number, lastNumber_);
            ++current_;
            sendings_ = 1;
            // Each advance past the first frame needs an ACK of the one before.
            FUZZ_CHECK(acksDelivered >= current_, "block %ld sent after only %ld ACKs", current_, acksDelivered);
        }
        lastNumber_ = number;
        FUZZ_CHECK(current_ < static_cast<long>(blocks_), "block %ld of a file of %zu blocks", current_, blocks_);
        for (std::size_t i = 0; i < kBlock; ++i) {
            const std::size_t at = static_cast<std::size_t>(current_) * kBlock + i;
            const std::uint8_t want = at < file_.size() ? file_[at] : kFill;
            FUZZ_CHECK(
                frame_[3 + i] == want, "frame %u byte %zu is 0x%02X, file has 0x%02X", number, i, frame_[3 + i], want);
        }
    }

    void Deliver(platform::serial::PeerOutput& port, std::uint8_t b, std::int64_t delay) {
        port.Deliver(b, delay);
        acksDelivered += b == kAck;
        if (b == kStart && startSeenAt_ < 0)
            startSeenAt_ = clock_.NowMs() + delay;
    }

    void Answer(platform::serial::PeerOutput& port, bool atStart) {
        const std::uint8_t positive = atStart ? kStart : kAck;
        if (pos_ >= size_) {
            Deliver(port, positive, 0);
            return;
        }
        const std::uint8_t op = script_[pos_++];
        const std::int64_t delay = (op & 0x3F) * 100;
        switch (op >> 6) {
        case 0:
            for (int i = 0; i <= (op & 0x3F) && pos_ < size_; ++i)
                Deliver(port, script_[pos_++], 0);
            break;
        case 1: Deliver(port, positive, delay); break;
        case 2: Deliver(port, kNak, delay); break;
        default: break;
        }
    }

    const Bytes& file_;
    const std::uint8_t* script_;
    std::size_t size_;
    std::size_t pos_ = 0;
    platform::serial::FakeClock& clock_;
    std::size_t blocks_ = 0;
    Bytes frame_;
    std::uint8_t lastNumber_ = 0;
    int sendings_ = 0;
    std::int64_t startSeenAt_ = -1;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3)
        return 0;
    const std::size_t length = ((static_cast<std::size_t>(data[0]) << 8) | data[1]) % 2000;
    FuzzRng rng(data[2]);
    Bytes file(length);
    for (std::uint8_t& b : file)
        b = static_cast<std::uint8_t>(rng.Below(4) == 0 ? rng.Below(8) : rng.Next());

    platform::serial::FakeClock clock;
    platform::serial::SimulatedPort port(clock);
    ScriptedReceiver receiver(file, data + 3, size - 3, clock);
    port.SetPeer(&receiver);
    receiver.Start(port);
    serialxfer::MemorySource source(file);
    const int result = serialxfer::RunSender(port, clock, source);
    FUZZ_CHECK(result == serialxfer::kTransferOk || result == serialxfer::kTransferFailed, "result %d", result);

    const std::size_t blocks = (file.size() + kBlock - 1) / kBlock;
    FUZZ_CHECK(
        receiver.sentBytes <= static_cast<long>(blocks * 10 * kFrame + 10), "%ld bytes sent", receiver.sentBytes);
    if (result == serialxfer::kTransferOk) {
        FUZZ_CHECK(receiver.current_ + 1 == static_cast<long>(blocks), "success after %ld of %zu blocks",
            receiver.current_ + 1, blocks);
        FUZZ_CHECK(receiver.eots >= 1, "success without an EOT");
        FUZZ_CHECK(receiver.acksDelivered >= static_cast<long>(blocks) + 1,
            "success with %ld ACKs for %zu blocks and the EOT", receiver.acksDelivered, blocks);
    }
    return 0;
}
