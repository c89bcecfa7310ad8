// VELTRIX's sender and receiver joined by one damaged simulated line, on a
// fake clock: the input chooses the file and up to three faults.
//
// Input: bytes 0..1 give the file's length (below 1500 bytes), byte 2 seeds
// its content (rich in 0x01 and 0x04); then up to three faults of four bytes:
//   spot/harm  bits 7-6: 0 a byte of the sender's transmission number
//                          `index` (a frame from its SOH, or an EOT) at
//                          `offset`; 1 the index-th EOT; 2 the index-th
//                          byte the receiver writes; 3 noise `value`
//                          reaching one side at index * 40 ms (offset bit 0:
//                          the sender's side)
//              bits 5-4: 0 lost, 1 inverted, 2 one bit flipped (bit 2-0),
//                          3 `value` put in front of it
//   index, offset, value
// Towards the sender no fault makes an ACK: a one-byte positive answer made
// by the line cannot be told from the real one.
//
// Invariants: both results are 0 or -1; the receiver's file is always the
// first frames of the data, whole; a side that reports success vouches for
// the whole file on the receiver's disk (unless the damage itself made a
// well-formed frame with a right CRC, which no peer can detect); both sides
// end within a bounded simulated time.
#include "common/FuzzCheck.h"
#include "common/XmodemLine.h"

#include "platform/serial/SimulatedLink.h"
#include "serialxfer/Protocol.h"

#include <vector>

using namespace fuzz;
using platform::serial::SimulatedLink;

namespace {

struct Fault {
    int spot = 0;
    int harm = 0;
    std::uint8_t mask = 0xFF;
    unsigned index = 0;
    unsigned offset = 0;
    std::uint8_t value = 0;
    bool toSender = false; // noise only
};

// What the receiver should end with: the blocks (0x1A filled), NULs left out.
Bytes Kept(const std::vector<Bytes>& blocks, std::size_t count) {
    Bytes out;
    for (std::size_t k = 0; k < count; ++k)
        for (std::uint8_t b : blocks[k])
            if (b != 0)
                out.push_back(b);
    return out;
}

bool ForgedFrame(const std::vector<Bytes>& blocks, const Bytes& delivered) {
    for (std::size_t at = 0; at + kFrame <= delivered.size(); ++at) {
        if (!ValidFrameAt(delivered, at))
            continue;
        const std::uint8_t number = delivered[at + 1];
        bool genuine = false;
        for (std::size_t k = 0; k < blocks.size() && !genuine; ++k)
            genuine = static_cast<std::uint8_t>(k + 1) == number &&
                      std::equal(blocks[k].begin(), blocks[k].end(), delivered.begin() + static_cast<long>(at) + 3);
        if (!genuine)
            return true;
    }
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3)
        return 0;
    const std::size_t length = ((static_cast<std::size_t>(data[0]) << 8) | data[1]) % 1500;
    FuzzRng rng(data[2]);
    Bytes file(length);
    for (std::uint8_t& b : file) {
        const unsigned pick = rng.Below(8);
        b = pick < 2    ? kSoh
            : pick < 4  ? kEot
            : pick == 4 ? static_cast<std::uint8_t>(rng.Below(2) ? 0 : 0xFB)
                        : static_cast<std::uint8_t>(rng.Next());
    }
    std::vector<Bytes> blocks;
    for (std::size_t at = 0; at < file.size(); at += kBlock) {
        Bytes block(
            file.begin() + static_cast<long>(at), file.begin() + static_cast<long>(std::min(file.size(), at + kBlock)));
        block.resize(kBlock, kFill);
        blocks.push_back(block);
    }

    std::vector<Fault> faults;
    for (std::size_t at = 3; at + 4 <= size && faults.size() < 3; at += 4) {
        Fault f;
        f.spot = data[at] >> 6;
        f.harm = (data[at] >> 4) & 3;
        if (f.harm == 2)
            f.mask = static_cast<std::uint8_t>(1u << (data[at] & 7));
        f.index = data[at + 1];
        f.offset = data[at + 2] % kFrame;
        f.value = data[at + 3];
        f.toSender = f.spot == 3 && (data[at + 2] & 1) != 0;
        const bool towardsSender = f.spot == 2 || f.toSender;
        if (towardsSender && f.value == kAck)
            f.value = kNak;
        faults.push_back(f);
    }

    SimulatedLink link;
    int frameLeft = 0;
    unsigned transmission = 0, eots = 0, answers = 0;
    link.SetDamage([&](SimulatedLink::Side from, std::uint64_t, std::uint8_t byte) {
        SimulatedLink::Damage damage;
        unsigned offset = 0;
        if (from == SimulatedLink::kEnd0) {
            if (frameLeft > 0) {
                offset = static_cast<unsigned>(kFrame) - static_cast<unsigned>(frameLeft--);
            } else {
                ++transmission;
                if (byte == kSoh)
                    frameLeft = static_cast<int>(kFrame) - 1;
                else if (byte == kEot)
                    ++eots;
            }
        } else {
            ++answers;
        }
        for (const Fault& f : faults) {
            const bool hit =
                from == SimulatedLink::kEnd0
                    ? (f.spot == 0 && f.index + 1 == transmission && f.offset == offset) ||
                          (f.spot == 1 && offset == 0 && frameLeft == 0 && byte == kEot && f.index + 1 == eots)
                    : f.spot == 2 && f.index + 1 == answers;
            if (!hit)
                continue;
            if (f.harm == 0)
                damage.drop = true;
            else if (f.harm == 3)
                damage.before.push_back(f.value);
            else
                damage.xorMask = static_cast<std::uint8_t>(damage.xorMask ^ f.mask);
        }
        return damage;
    });
    for (const Fault& f : faults)
        if (f.spot == 3)
            link.AddNoise(f.toSender ? SimulatedLink::kEnd0 : SimulatedLink::kEnd1,
                static_cast<std::int64_t>(f.index) * 40, f.value);

    serialxfer::MemorySource source(file);
    serialxfer::MemorySink sink;
    int sent = 99;
    int received = 99;
    link.Run(
        [&] {
            sent = serialxfer::RunSender(link.Port(SimulatedLink::kEnd0), link.ClockOf(SimulatedLink::kEnd0), source);
        },
        [&] {
            received =
                serialxfer::RunReceiver(link.Port(SimulatedLink::kEnd1), link.ClockOf(SimulatedLink::kEnd1), sink);
        });

    FUZZ_CHECK(sent == serialxfer::kTransferOk || sent == serialxfer::kTransferFailed, "sender result %d", sent);
    FUZZ_CHECK(
        received == serialxfer::kTransferOk || received == serialxfer::kTransferFailed, "receiver result %d", received);
    bool prefix = false;
    for (std::size_t n = 0; n <= blocks.size() && !prefix; ++n)
        prefix = Kept(blocks, n) == sink.bytes;
    const Bytes whole = Kept(blocks, blocks.size());
    const bool wrongSuccess =
        (sent == serialxfer::kTransferOk || received == serialxfer::kTransferOk) && sink.bytes != whole;
    if ((!prefix || wrongSuccess) && ForgedFrame(blocks, link.Delivered(SimulatedLink::kEnd1)))
        return 0;
    FUZZ_CHECK(prefix, "the file (%zu bytes) is not the first frames of the data", sink.bytes.size());
    FUZZ_CHECK(!(received == serialxfer::kTransferOk && sink.bytes != whole),
        "the receiver reported success with %zu of %zu bytes", sink.bytes.size(), whole.size());
    FUZZ_CHECK(!(sent == serialxfer::kTransferOk && sink.bytes != whole),
        "the sender reported success; the receiver holds %zu of %zu bytes", sink.bytes.size(), whole.size());
    // Ten tries of a few seconds for each frame at most.
    FUZZ_CHECK(link.NowMs() <= static_cast<std::int64_t>(blocks.size() + 2) * 10 * 6000, "still busy at %lld ms",
        static_cast<long long>(link.NowMs()));
    return 0;
}
