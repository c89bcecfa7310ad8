#pragma once
// Seeded damage patterns for the paced relay: one to three bytes lost,
// inverted, flipped or added, in either direction, aimed at the places a
// transfer of `frames` frames has on a clean line (frame heads, CRC bytes,
// data, the EOT, the receiver's answers). The same seed gives the same
// pattern, so a campaign and a benchmark can put different programs through
// the same damage, and a failing pattern can be tried again by hand with
// veltrix_relay's options (Describe prints them).
#include <cstdint>
#include <random>
#include <sstream>
#include <string>

#include "tools/serial_relay/PacedRelay.h"

namespace tools::serial_relay {

struct DamagePattern {
    std::uint64_t seed = 0;
    std::map<std::uint64_t, Fault> faults[2]; // [0]: sender to receiver (A to B)

    // As veltrix_relay options.
    std::string Describe() const {
        std::ostringstream out;
        for (int d = 0; d < 2; ++d) {
            for (const auto& [index, fault] : faults[d]) {
                const std::string where = std::string(d == 0 ? "A:" : "B:") + std::to_string(index);
                for (std::uint8_t b : fault.insert)
                    out << " --insert " << where << ":0x" << std::hex << int(b) << std::dec;
                if (fault.drop)
                    out << " --drop " << where;
                else if (fault.xorMask != 0)
                    out << " --corrupt " << where << ":0x" << std::hex << int(fault.xorMask) << std::dec;
            }
        }
        return out.str();
    }
};

inline DamagePattern MakeDamagePattern(std::uint64_t seed, std::uint64_t frames) {
    std::mt19937_64 rng(seed * 0x2545F4914F6CDD1Dull + 99);
    DamagePattern pattern;
    pattern.seed = seed;
    const int count = 1 + static_cast<int>(rng() % 3);
    for (int i = 0; i < count; ++i) {
        // Sender to receiver mostly: that is where the frames are.
        const int d = rng() % 10 < 7 ? 0 : 1;
        std::uint64_t index = 0;
        if (d == 0) {
            const std::uint64_t frame = rng() % (frames + 1); // frames + 1: the EOT's place
            const unsigned part = static_cast<unsigned>(rng() % 5);
            const std::uint64_t offset = frame == frames ? rng() % 2       // the EOT, or what follows
                                         : part == 0     ? rng() % 3       // SOH, number, complement
                                         : part == 1     ? 131 + rng() % 2 // CRC
                                                         : 3 + rng() % 128;    // data
            index = frame * 133 + offset;
        } else {
            index = rng() % (frames + 3); // 'C', the ACKs, what answers the EOT
        }
        Fault& fault = pattern.faults[d][index];
        const unsigned harm = static_cast<unsigned>(rng() % 100);
        if (harm < 35) {
            fault.drop = true;
        } else if (harm < 60) {
            fault.xorMask = 0xFF;
        } else if (harm < 75) {
            fault.xorMask = static_cast<std::uint8_t>(1u << (rng() % 8));
        } else {
            // Noise. Never an ACK towards the sender: a positive answer made
            // by the line cannot be told from the real one.
            static const std::uint8_t likely[] = {0x01, 0x04, 0x15, 'C', 0x1A, 0x00, 0xFF};
            const std::uint8_t b = rng() % 3 == 0 ? static_cast<std::uint8_t>(rng()) : likely[rng() % sizeof likely];
            fault.insert.push_back(d == 1 && b == 0x06 ? 0x15 : b);
        }
    }
    return pattern;
}

} // namespace tools::serial_relay
