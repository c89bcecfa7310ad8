// VELTRIX against lrzsz through the paced relay (19200 baud), in real time,
// in both directions, over seeded damage patterns: whichever program
// reports success, the receiver holds the whole file.
//
// VELTRIX_LINE_PATTERNS (default 16) and VELTRIX_LINE_SEED (default 1)
// choose the patterns; a failing one prints the relay options that repeat it.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <random>

#include "PeerSim.h"
#include "TestSupport.h"
#include "tools/serial_relay/DamagePatterns.h"

using namespace tests::serialxfer;

namespace {

constexpr std::size_t kFileSize = 640; // five frames, the last one full

std::uint64_t EnvNumber(const char* name, std::uint64_t fallback) {
    const char* text = std::getenv(name);
    return text != nullptr && *text != '\0' ? std::strtoull(text, nullptr, 10) : fallback;
}

// Rich in 0x01 and 0x04; no NUL, so both programs keep the file as sent.
Bytes RichData(std::uint64_t seed) {
    std::mt19937_64 rng(seed);
    Bytes data(kFileSize);
    for (auto& b : data) {
        const unsigned pick = static_cast<unsigned>(rng() % 10);
        b = pick < 2 ? 0x01 : pick < 4 ? 0x04 : static_cast<std::uint8_t>(1 + rng() % 255);
    }
    return data;
}

Bytes Padded(Bytes data) {
    while (data.size() % 128 != 0)
        data.push_back(0x1A);
    return data;
}

struct Outcome {
    int veltrix = -1;
    int peer = -1;
    Bytes file;
};

// The receiving side's file is always whole frames from the start; a
// program that reports success vouches for the whole file.
std::string Check(const Outcome& o, const Bytes& whole, bool veltrixReceives) {
    if (o.veltrix != 0 && o.veltrix != 255)
        return "VELTRIX ended with " + std::to_string(o.veltrix);
    if (o.veltrix == 0 && o.file != whole)
        return "VELTRIX reported success; the receiver holds " + std::to_string(o.file.size()) + " bytes";
    if (o.peer == 0 && o.file != whole)
        return "lrzsz reported success; the receiver holds " + std::to_string(o.file.size()) + " bytes";
    if (veltrixReceives) {
        bool prefix = false;
        for (std::size_t n = 0; n * 128 <= whole.size() && !prefix; ++n)
            prefix = o.file == Bytes(whole.begin(), whole.begin() + static_cast<long>(n * 128));
        if (!prefix)
            return "VELTRIX's file is not the first frames of the data";
    }
    return {};
}

// The sender is end A of the relay, the receiver end B; lrzsz reaches its
// end through socat, as a device on the same kind of line would.
Outcome Transfer(const Bytes& data, const tools::serial_relay::DamagePattern& pattern, bool veltrixReceives) {
    TempDir dir;
    WriteFile(dir / "in.bin", data);
    tools::serial_relay::Options options;
    options.a.linkPath = dir / "ttyA";
    options.b.linkPath = dir / "ttyB";
    options.faults[0] = pattern.faults[0];
    options.faults[1] = pattern.faults[1];
    tools::serial_relay::PacedRelay line(options);
    Outcome outcome;
    if (!line.Start())
        return outcome;
    const std::map<std::string, std::string> env = {{"VELTRIX_COM1", veltrixReceives ? dir / "ttyB" : dir / "ttyA"}};
    Process veltrix({VeltrixPath(), veltrixReceives ? "I" : "O", veltrixReceives ? "out.bin" : "in.bin", "/1"}, env,
        dir.path().string());
    Process peer({"socat", "OPEN:" + (veltrixReceives ? dir / "ttyA" : dir / "ttyB") + ",rawer",
                     veltrixReceives ? "EXEC:sx -b in.bin" : "EXEC:rx -c -b out.bin"},
        {}, dir.path().string(), false);
    outcome.veltrix = veltrix.Wait(90000);
    // A peer left alone after a failure goes on asking for a long time.
    outcome.peer = peer.Wait(outcome.veltrix == 0 ? 30000 : 12000);
    line.Stop();
    outcome.file = ReadFile(dir / "out.bin");
    return outcome;
}

} // namespace

TEST(LrzszCampaign, NoSuccessWithoutTheWholeFileInEitherDirection) {
    const std::uint64_t count = EnvNumber("VELTRIX_LINE_PATTERNS", 16);
    const std::uint64_t first = EnvNumber("VELTRIX_LINE_SEED", 1);
    const std::uint64_t frames = kFileSize / 128;
    const std::int64_t started = NowMs();

    std::mutex mutex;
    int repaired[2] = {0, 0};
    std::atomic<std::uint64_t> next{0};
    auto work = [&] {
        for (std::uint64_t i = next++; i < 2 * count; i = next++) {
            const std::uint64_t seed = first + i / 2;
            const bool veltrixReceives = i % 2 == 0;
            const tools::serial_relay::DamagePattern pattern = tools::serial_relay::MakeDamagePattern(seed, frames);
            const Bytes data = RichData(seed);
            const Outcome o = Transfer(data, pattern, veltrixReceives);
            const std::string problem = Check(o, Padded(data), veltrixReceives);
            std::lock_guard<std::mutex> lock(mutex);
            repaired[veltrixReceives] += o.veltrix == 0 && o.peer == 0 && o.file == Padded(data);
            EXPECT_EQ(problem, "") << (veltrixReceives ? "sx -> VELTRIX I" : "VELTRIX O -> rx") << ", pattern " << seed
                                   << ":" << pattern.Describe() << " (VELTRIX " << o.veltrix << ", lrzsz " << o.peer
                                   << ")";
        }
    };
    // A few at a time: each waits on its line most of the time.
    std::vector<std::thread> workers;
    for (int w = 0; w < 3; ++w)
        workers.emplace_back(work);
    for (auto& t : workers)
        t.join();
    std::printf("real-time campaign: %llu patterns from seed %llu in %.1f s: repaired sx -> VELTRIX I %d, "
                "VELTRIX O -> rx %d\n",
        static_cast<unsigned long long>(count), static_cast<unsigned long long>(first), (NowMs() - started) / 1000.0,
        repaired[1], repaired[0]);
}
