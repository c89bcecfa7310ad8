#pragma once
// Seeded damage scenarios for a sender and a receiver of ours joined by one
// simulated line: which file goes over, and which bytes the line loses,
// inverts, flips or adds on the way. A scenario is made from its seed alone,
// so a failing one can be run again from the seed that was printed.
#include <cstdint>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "PeerSim.h"
#include "platform/serial/SimulatedLink.h"
#include "serialxfer/Protocol.h"

namespace tests::serialxfer {

using platform::serial::SimulatedLink;

enum class Spot {
    FrameByte, // byte `offset` of the sender's transmission number `index`
    Eot,       // the index-th EOT the sender writes
    Answer,    // the index-th byte the receiver writes ('C', ACK, NAK)
    Quiet,     // noise reaching one side at atMs, wherever the line stands
};
enum class Harm { Drop, Invert, FlipBit, Insert };

struct Fault {
    Spot spot = Spot::FrameByte;
    Harm harm = Harm::Drop;
    std::uint64_t index = 0;
    int offset = 0;
    std::uint8_t mask = 0xFF;                      // Invert: 0xFF; FlipBit: one bit
    Bytes inserted;                                // Insert: put in front of the byte
    SimulatedLink::Side to = SimulatedLink::kEnd1; // Quiet only
    std::int64_t atMs = 0;                         // Quiet only
};

struct Scenario {
    std::uint64_t seed = 0;
    Bytes data;
    std::vector<Fault> faults;

    std::string Describe() const {
        std::ostringstream out;
        out << "seed " << seed << ": " << data.size() << " bytes;";
        static const char* spots[] = {"frame byte", "EOT", "answer", "noise"};
        static const char* harms[] = {"drop", "invert", "flip", "insert"};
        for (const Fault& f : faults) {
            out << " [" << harms[static_cast<int>(f.harm)] << " " << spots[static_cast<int>(f.spot)];
            if (f.spot == Spot::FrameByte)
                out << " tx " << f.index << " offset " << f.offset;
            else if (f.spot == Spot::Quiet)
                out << " to " << (f.to == SimulatedLink::kEnd1 ? "receiver" : "sender") << " at " << f.atMs << " ms";
            else
                out << " " << f.index;
            if (f.harm == Harm::FlipBit)
                out << " mask 0x" << std::hex << int(f.mask) << std::dec;
            if (!f.inserted.empty()) {
                out << " bytes";
                for (std::uint8_t b : f.inserted)
                    out << " 0x" << std::hex << int(b) << std::dec;
            }
            out << "]";
        }
        return out.str();
    }
};

// Data rich in the two byte values a resynchronising receiver can mistake
// for a frame start or an end (0x01, 0x04), and in the values that one
// inversion turns into them (0xFE, 0xFB); a few NULs and fill bytes.
inline Bytes RichData(std::mt19937_64& rng, std::size_t size) {
    static const std::uint8_t special[] = {::serialxfer::kSoh, ::serialxfer::kEot, ::serialxfer::kSoh,
        ::serialxfer::kEot, 0xFE, 0xFB, 0x00, ::serialxfer::kFill, ::serialxfer::kAck, ::serialxfer::kNak};
    Bytes data(size);
    for (auto& b : data) {
        const unsigned pick = static_cast<unsigned>(rng() % 100);
        b = pick < 55 ? special[rng() % (sizeof special)] : static_cast<std::uint8_t>(rng());
    }
    return data;
}

// Bytes that noise adds. Towards the sender never an ACK: a one-byte
// positive answer made by the line cannot be told from the real one by any
// peer, so that is outside what the transfer can defend against.
inline std::uint8_t NoiseByte(std::mt19937_64& rng, bool towardsSender) {
    static const std::uint8_t likely[] = {::serialxfer::kSoh, ::serialxfer::kEot, ::serialxfer::kNak,
        ::serialxfer::kStartRequest, ::serialxfer::kFill, 0x00, 0xFF, ::serialxfer::kAck};
    for (;;) {
        const std::uint8_t b = rng() % 3 == 0 ? static_cast<std::uint8_t>(rng()) : likely[rng() % (sizeof likely)];
        if (!(towardsSender && b == ::serialxfer::kAck))
            return b;
    }
}

inline Scenario MakeScenario(std::uint64_t seed) {
    std::mt19937_64 rng(seed * 0x9E3779B97F4A7C15ull + 12345);
    Scenario s;
    s.seed = seed;
    std::size_t size = 0;
    switch (rng() % 10) {
    case 0: size = rng() % 4 == 0 ? 0 : 1 + rng() % 127; break;
    case 1:
        size = 128 * (1 + rng() % 5); // whole frames, no fill
        break;
    case 2: size = 128 * (6 + rng() % 10) + rng() % 128; break;
    default: size = 1 + rng() % (5 * 128);
    }
    s.data = RichData(rng, size);
    const std::uint64_t frames = (size + 127) / 128;

    const int count = 1 + static_cast<int>(rng() % 3);
    for (int i = 0; i < count; ++i) {
        Fault f;
        // Where: heads, CRC bytes and data of frames, the EOT, the answers,
        // or a byte of noise at any moment.
        const unsigned where = static_cast<unsigned>(rng() % 100);
        // Mostly the first transmissions, where the frames of a clean run
        // are; later ones are repeats.
        const std::uint64_t transmissions = frames + 2;
        if (where < 50) {
            f.spot = Spot::FrameByte;
            f.index = rng() % transmissions;
            const unsigned part = static_cast<unsigned>(rng() % 4);
            f.offset = part == 0   ? static_cast<int>(rng() % 3)       // SOH, number, complement
                       : part == 1 ? 131 + static_cast<int>(rng() % 2) // CRC
                                   : static_cast<int>(rng() % ::serialxfer::kFrameSize);
        } else if (where < 62) {
            f.spot = Spot::Eot;
            f.index = rng() % 3;
        } else if (where < 90) {
            f.spot = Spot::Answer;
            f.index = rng() % (frames + 4);
        } else {
            f.spot = Spot::Quiet;
            f.to = rng() % 2 == 0 ? SimulatedLink::kEnd1 : SimulatedLink::kEnd0;
            f.atMs = static_cast<std::int64_t>(rng() % (static_cast<std::uint64_t>(frames + 2) * 100 + 4000));
        }
        const bool towardsSender = f.spot == Spot::Answer || (f.spot == Spot::Quiet && f.to == SimulatedLink::kEnd0);
        if (f.spot == Spot::Quiet) {
            f.harm = Harm::Insert;
        } else {
            const unsigned harm = static_cast<unsigned>(rng() % 100);
            f.harm = harm < 35 ? Harm::Drop : harm < 60 ? Harm::Invert : harm < 75 ? Harm::FlipBit : Harm::Insert;
        }
        if (f.harm == Harm::FlipBit)
            f.mask = static_cast<std::uint8_t>(1u << (rng() % 8));
        if (f.harm == Harm::Insert || f.spot == Spot::Quiet) {
            const std::size_t n = rng() % 4 == 0 ? 2 : 1;
            for (std::size_t k = 0; k < n; ++k)
                f.inserted.push_back(NoiseByte(rng, towardsSender));
        }
        s.faults.push_back(f);
    }
    return s;
}

// Applies a scenario's faults to the bytes both sides write. The sender's
// stream is cut into its transmissions (a 133-byte frame from its SOH, or a
// lone EOT), which is all our sender ever writes.
class Damager {
public:
    explicit Damager(const Scenario& scenario) : scenario_(scenario) {}

    SimulatedLink::Damage operator()(SimulatedLink::Side from, std::uint64_t, std::uint8_t byte) {
        SimulatedLink::Damage damage;
        if (from == SimulatedLink::kEnd0) {
            int offset = 0;
            if (frameLeft_ > 0) {
                offset = ::serialxfer::kFrameSize - frameLeft_--;
            } else {
                ++transmission_;
                if (byte == ::serialxfer::kSoh)
                    frameLeft_ = ::serialxfer::kFrameSize - 1;
                else if (byte == ::serialxfer::kEot)
                    ++eots_;
            }
            for (const Fault& f : scenario_.faults) {
                const bool hit = (f.spot == Spot::FrameByte && f.index == transmission_ - 1 && f.offset == offset) ||
                                 (f.spot == Spot::Eot && frameLeft_ == 0 && offset == 0 && byte == ::serialxfer::kEot &&
                                     f.index == eots_ - 1);
                if (hit)
                    Apply(f, damage);
            }
        } else {
            ++answers_;
            for (const Fault& f : scenario_.faults) {
                if (f.spot == Spot::Answer && f.index == answers_ - 1) {
                    Apply(f, damage);
                    damagedAnswers_.push_back(answers_ - 1);
                }
            }
        }
        return damage;
    }

    // Indexes of the receiver's bytes that were damaged.
    const std::vector<std::uint64_t>& DamagedAnswers() const { return damagedAnswers_; }

private:
    static void Apply(const Fault& f, SimulatedLink::Damage& damage) {
        switch (f.harm) {
        case Harm::Drop: damage.drop = true; break;
        case Harm::Invert:
        case Harm::FlipBit: damage.xorMask = static_cast<std::uint8_t>(damage.xorMask ^ f.mask); break;
        case Harm::Insert: damage.before.insert(damage.before.end(), f.inserted.begin(), f.inserted.end()); break;
        }
    }

    const Scenario& scenario_;
    int frameLeft_ = 0;
    std::uint64_t transmission_ = 0;
    std::uint64_t eots_ = 0;
    std::uint64_t answers_ = 0;
    std::vector<std::uint64_t> damagedAnswers_;
};

struct Result {
    int sender = 99;
    int receiver = 99;
    Bytes file;             // what the receiver wrote
    Bytes delivered;        // what reached the receiver, damage included
    std::int64_t endMs = 0; // simulated time when both had ended
    bool lastAnswerDamaged = false;
    std::size_t answers = 0;
};

inline Result RunScenario(const Scenario& scenario) {
    SimulatedLink link;
    Damager damager(scenario);
    link.SetDamage(
        [&](SimulatedLink::Side from, std::uint64_t index, std::uint8_t byte) { return damager(from, index, byte); });
    for (const Fault& f : scenario.faults)
        if (f.spot == Spot::Quiet)
            for (std::uint8_t b : f.inserted)
                link.AddNoise(f.to, f.atMs, b);
    Result result;
    ::serialxfer::MemorySink sink;
    ::serialxfer::MemorySource source(scenario.data);
    link.Run(
        [&] {
            result.sender =
                ::serialxfer::RunSender(link.Port(SimulatedLink::kEnd0), link.ClockOf(SimulatedLink::kEnd0), source);
        },
        [&] {
            result.receiver =
                ::serialxfer::RunReceiver(link.Port(SimulatedLink::kEnd1), link.ClockOf(SimulatedLink::kEnd1), sink);
        });
    result.file = sink.bytes;
    result.delivered = link.Delivered(SimulatedLink::kEnd1);
    result.endMs = link.NowMs();
    result.answers = link.Written(SimulatedLink::kEnd1).size();
    for (std::uint64_t i : damager.DamagedAnswers())
        result.lastAnswerDamaged = result.lastAnswerDamaged || i + 1 == result.answers;
    return result;
}

// True when the damage made a well-formed frame (head, complement and CRC
// all right) that carries other data than the sender's block of that number:
// a CRC-16 lets one damaged frame in 65536 through, and no peer can tell it
// from a real one.
inline bool LineForgedAFrame(const Bytes& data, const Bytes& delivered) {
    const std::vector<Bytes> blocks = Blocks(data);
    for (std::size_t at = 0; at + ::serialxfer::kFrameSize <= delivered.size(); ++at) {
        if (delivered[at] != ::serialxfer::kSoh ||
            delivered[at + 2] != static_cast<std::uint8_t>(255 - delivered[at + 1]))
            continue;
        const Bytes block(delivered.begin() + static_cast<long>(at) + 3,
            delivered.begin() + static_cast<long>(at) + 3 + ::serialxfer::kBlockSize);
        const std::uint16_t crc = ::serialxfer::Crc16(block.data(), block.size());
        if (delivered[at + 131] != (crc >> 8) || delivered[at + 132] != (crc & 0xFF))
            continue;
        const std::uint8_t number = delivered[at + 1];
        bool genuine = false;
        for (std::size_t k = 0; k < blocks.size() && !genuine; ++k)
            genuine = static_cast<std::uint8_t>(k + 1) == number && blocks[k] == block;
        if (!genuine)
            return true;
    }
    return false;
}

// What is wrong with a run, or nothing. The receiver's file always holds
// whole accepted frames in order; a side that reports success vouches for
// the whole file on the receiver's disk.
inline std::optional<std::string> Violation(const Scenario& scenario, const Result& result) {
    const Bytes whole = ExpectedReceived(scenario.data);
    auto resultOk = [](int r) { return r == ::serialxfer::kTransferOk || r == ::serialxfer::kTransferFailed; };
    if (!resultOk(result.sender) || !resultOk(result.receiver))
        return "results " + std::to_string(result.sender) + "/" + std::to_string(result.receiver);
    if (result.receiver == ::serialxfer::kTransferOk && result.file != whole)
        return "the receiver reported success with " + std::to_string(result.file.size()) + " of " +
               std::to_string(whole.size()) + " bytes";
    if (result.sender == ::serialxfer::kTransferOk && result.file != whole)
        return "the sender reported success; the receiver holds " + std::to_string(result.file.size()) + " of " +
               std::to_string(whole.size()) + " bytes";
    bool prefix = false;
    const std::vector<Bytes> blocks = Blocks(scenario.data);
    Bytes kept;
    for (std::size_t n = 0; n <= blocks.size() && !prefix; ++n) {
        prefix = kept == result.file;
        if (n < blocks.size())
            for (std::uint8_t b : blocks[n])
                if (b != 0)
                    kept.push_back(b);
    }
    if (!prefix)
        return "the file is not the first frames of the data";
    return std::nullopt;
}

} // namespace tests::serialxfer
