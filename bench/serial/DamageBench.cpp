// Puts one fixed set of damage patterns through the paced relay (19200 baud)
// twice, side by side: VELTRIX sending to VELTRIX, and lrzsz's sx sending to
// its rx. Prints, per pattern and in all, which transfers were repaired (both
// programs ended with success and the file arrived whole) and which
// reported success with a file that was not whole.
//   serial_damage_bench [VELTRIX-binary] [--patterns N] [--seed S] [--jobs J]
// The set: the fault that was seen first (one byte of the third frame's head
// lost, then a data byte inverted), then N seeded patterns from seed S on
// (default 30 from 1), each one to three bytes lost, inverted, flipped or
// added, aimed at frame heads, CRC bytes, data, the EOT and the answers.
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <vector>

#include "Processes.h"
#include "tools/serial_relay/DamagePatterns.h"

namespace fs = std::filesystem;
using namespace benchproc;

namespace {

constexpr std::size_t kFileSize = 640; // five frames

struct Result {
    int sender = -1;
    int receiver = -1;
    bool whole = false;
    double seconds = 0;
    bool Repaired() const { return sender == 0 && receiver == 0 && whole; }
    bool WrongSuccess() const { return (sender == 0 || receiver == 0) && !whole; }
    std::string Text() const {
        char text[64];
        std::snprintf(text, sizeof text, "%-8s %3d/%3d %5.1fs",
            Repaired()       ? "repaired"
            : WrongSuccess() ? "WRONG"
                             : "failed",
            sender, receiver, seconds);
        return text;
    }
};

// Rich in 0x01 and 0x04, without NUL (which VELTRIX leaves out and rx keeps).
void WriteData(const std::string& path, std::uint64_t seed) {
    std::mt19937_64 rng(seed);
    std::ofstream out(path, std::ios::binary);
    for (std::size_t i = 0; i < kFileSize; ++i) {
        const unsigned pick = static_cast<unsigned>(rng() % 10);
        out.put(static_cast<char>(pick < 2 ? 0x01 : pick < 4 ? 0x04 : 1 + rng() % 255));
    }
}

bool SameAsSent(const std::string& dir) {
    auto sent = ReadAll(dir + "/in.bin");
    while (sent.size() % 128 != 0)
        sent.push_back(0x1A);
    return ReadAll(dir + "/out.bin") == sent;
}

// VELTRIX on both ends, each on a pty of the relay.
Result RunVeltrix(
    const std::string& veltrix, const std::string& dir, const tools::serial_relay::DamagePattern& pattern) {
    tools::serial_relay::Options options;
    options.a.linkPath = dir + "/ttyA";
    options.b.linkPath = dir + "/ttyB";
    options.faults[0] = pattern.faults[0];
    options.faults[1] = pattern.faults[1];
    tools::serial_relay::PacedRelay line(options);
    Result r;
    if (!line.Start())
        return r;
    const double start = NowS();
    Child sender = Spawn({veltrix, "O", "in.bin", "/1"}, dir, -1, dir + "/ttyA");
    Child receiver = Spawn({veltrix, "I", "out.bin", "/1"}, dir, -1, dir + "/ttyB");
    Reap(sender, 120);
    Reap(receiver, 120);
    line.Stop();
    r.seconds = std::max(sender.end, receiver.end) - start;
    r.sender = sender.status;
    r.receiver = receiver.status;
    r.whole = SameAsSent(dir);
    return r;
}

// sx and rx, each on a socket pair straight to the relay (their fastest
// way; see serial_bench), with their own time-outs.
Result RunLrzsz(const std::string& dir, const tools::serial_relay::DamagePattern& pattern) {
    int senderFds[2] = {-1, -1};
    int receiverFds[2] = {-1, -1};
    socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, senderFds);
    socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, receiverFds);
    tools::serial_relay::Options options;
    options.a.fd = senderFds[0];
    options.b.fd = receiverFds[0];
    options.faults[0] = pattern.faults[0];
    options.faults[1] = pattern.faults[1];
    tools::serial_relay::PacedRelay line(options);
    Result r;
    if (!line.Start())
        return r;
    const double start = NowS();
    Child sender = Spawn({"sx", "-b", "in.bin"}, dir, senderFds[1]);
    Child receiver = Spawn({"rx", "-c", "-b", "out.bin"}, dir, receiverFds[1]);
    close(senderFds[1]);
    close(receiverFds[1]);
    Reap(sender, 120);
    Reap(receiver, 120);
    line.Stop();
    r.seconds = std::max(sender.end, receiver.end) - start;
    r.sender = sender.status;
    r.receiver = receiver.status;
    r.whole = SameAsSent(dir);
    return r;
}

} // namespace

int main(int argc, char** argv) {
    std::string veltrix = VELTRIX_BINARY;
    std::uint64_t count = 30;
    std::uint64_t first = 1;
    int jobs = 2;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--patterns") == 0 && i + 1 < argc)
            count = std::strtoull(argv[++i], nullptr, 10);
        else if (std::strcmp(argv[i], "--seed") == 0 && i + 1 < argc)
            first = std::strtoull(argv[++i], nullptr, 10);
        else if (std::strcmp(argv[i], "--jobs") == 0 && i + 1 < argc)
            jobs = std::max(1, std::atoi(argv[++i]));
        else
            veltrix = argv[i];
    }
    char pattern[] = "/tmp/veltrix-damage-bench-XXXXXX";
    if (mkdtemp(pattern) == nullptr)
        return 1;
    const std::string root = pattern;

    std::vector<tools::serial_relay::DamagePattern> patterns;
    tools::serial_relay::DamagePattern seen;
    seen.faults[0][268] = tools::serial_relay::Fault::Drop();
    seen.faults[0][812] = tools::serial_relay::Fault::Corrupt();
    patterns.push_back(seen);
    for (std::uint64_t seed = first; seed < first + count; ++seed)
        patterns.push_back(tools::serial_relay::MakeDamagePattern(seed, kFileSize / 128));

    std::printf("%zu damage patterns, a %zu-byte file, 19200 baud; both pairs of a pattern run at the same time\n",
        patterns.size(), kFileSize);
    std::printf("%-4s %-54s %-26s %-26s\n", "#", "relay options", "VELTRIX O -> VELTRIX I", "sx -> rx -c");
    std::mutex mutex;
    std::vector<Result> ours(patterns.size()), theirs(patterns.size());
    std::atomic<std::size_t> next{0};
    const double started = NowS();
    auto work = [&] {
        for (std::size_t i = next++; i < patterns.size(); i = next++) {
            const std::string a = root + "/v" + std::to_string(i);
            const std::string b = root + "/l" + std::to_string(i);
            fs::create_directories(a);
            fs::create_directories(b);
            WriteData(a + "/in.bin", patterns[i].seed + 1000);
            WriteData(b + "/in.bin", patterns[i].seed + 1000);
            std::thread other([&, b, i] { theirs[i] = RunLrzsz(b, patterns[i]); });
            ours[i] = RunVeltrix(veltrix, a, patterns[i]);
            other.join();
            std::lock_guard<std::mutex> lock(mutex);
            std::printf("%-4zu %-54s %-26s %-26s\n", i, patterns[i].Describe().c_str(), ours[i].Text().c_str(),
                theirs[i].Text().c_str());
            std::fflush(stdout);
        }
    };
    std::vector<std::thread> workers;
    for (int w = 0; w < jobs; ++w)
        workers.emplace_back(work);
    for (auto& t : workers)
        t.join();

    int repaired[2] = {0, 0};
    int wrong[2] = {0, 0};
    for (std::size_t i = 0; i < patterns.size(); ++i) {
        repaired[0] += ours[i].Repaired();
        repaired[1] += theirs[i].Repaired();
        wrong[0] += ours[i].WrongSuccess();
        wrong[1] += theirs[i].WrongSuccess();
    }
    std::printf("\n%zu patterns in %.0f s\n", patterns.size(), NowS() - started);
    std::printf(
        "repaired:                     VELTRIX %d, lrzsz %d (goal: VELTRIX >= lrzsz)\n", repaired[0], repaired[1]);
    std::printf("success with a wrong file:    VELTRIX %d, lrzsz %d (goal: VELTRIX 0)\n", wrong[0], wrong[1]);
    fs::remove_all(root);
    return wrong[0] == 0 && repaired[0] >= repaired[1] ? 0 : 1;
}
