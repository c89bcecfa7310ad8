// Moves a 64 KiB file over the paced relay (19200 baud, 10 bits a byte) with
// VELTRIX and with lrzsz, in one run, and compares the times with the line's
// floor (each frame's 133 bytes and its one-byte answer at 1920 bytes a
// second), with each other, and the tool's CPU time with its transfer time.
//   serial_bench [VELTRIX-binary] [--size BYTES] [--rounds N]
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "Processes.h"
#include "tools/serial_relay/PacedRelay.h"

namespace fs = std::filesystem;
using namespace benchproc;

namespace {

struct Row {
    std::string name;
    double transfer = 0; // receiver start to the end of both
    double senderCpu = 0;
    double receiverCpu = 0;
    bool ok = false;
};

// lrzsz talks over a socket pair straight to the relay (its fastest way),
// or with viaPty through socat from a pty of the relay, so its bytes cross
// the same kind of device as VELTRIX's. (Given a pty directly, its flushes
// at the end race with the last answer and can hang it for minutes.)
Row RunPair(const std::string& name, bool veltrixSends, bool veltrixReceives, const std::string& veltrix,
    const std::string& dir, bool viaPty = false) {
    Row row;
    row.name = name;
    fs::remove(dir + "/out.bin");
    tools::serial_relay::Options options;
    int senderFds[2] = {-1, -1};
    int receiverFds[2] = {-1, -1};
    if (veltrixSends || viaPty) {
        options.a.linkPath = dir + "/ttyA";
    } else {
        socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, senderFds);
        options.a.fd = senderFds[0];
    }
    if (veltrixReceives || viaPty) {
        options.b.linkPath = dir + "/ttyB";
    } else {
        socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, receiverFds);
        options.b.fd = receiverFds[0];
    }
    tools::serial_relay::PacedRelay line(options);
    if (!line.Start()) {
        std::fprintf(stderr, "relay: %s\n", line.Error().c_str());
        return row;
    }
    // The sender first: it waits for the receiver's request.
    Child sender = veltrixSends ? Spawn({veltrix, "O", "in.bin", "/1"}, dir, -1, dir + "/ttyA")
                   : viaPty     ? Spawn({"socat", "OPEN:" + dir + "/ttyA,rawer", "EXEC:sx -b in.bin"}, dir, -1)
                                : Spawn({"sx", "-b", "in.bin"}, dir, senderFds[1]);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const double start = NowS();
    Child receiver = veltrixReceives ? Spawn({veltrix, "I", "out.bin", "/1"}, dir, -1, dir + "/ttyB")
                     : viaPty        ? Spawn({"socat", "OPEN:" + dir + "/ttyB,rawer", "EXEC:rx -c -b out.bin"}, dir, -1)
                                     : Spawn({"rx", "-c", "-b", "out.bin"}, dir, receiverFds[1]);
    if (senderFds[1] >= 0)
        close(senderFds[1]);
    if (receiverFds[1] >= 0)
        close(receiverFds[1]);
    Reap(sender);
    Reap(receiver);
    line.Stop();
    row.transfer = std::max(sender.end, receiver.end) - start;
    row.senderCpu = sender.cpu;
    row.receiverCpu = receiver.cpu;
    auto sent = ReadAll(dir + "/in.bin");
    while (sent.size() % 128 != 0)
        sent.push_back(0x1A);
    row.ok = sender.status == 0 && receiver.status == 0 && ReadAll(dir + "/out.bin") == sent;
    return row;
}

} // namespace

int main(int argc, char** argv) {
    std::string veltrix = VELTRIX_BINARY;
    std::size_t size = 64 * 1024;
    int rounds = 1;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--size") == 0 && i + 1 < argc)
            size = static_cast<std::size_t>(std::strtoul(argv[++i], nullptr, 10));
        else if (std::strcmp(argv[i], "--rounds") == 0 && i + 1 < argc)
            rounds = std::max(1, std::atoi(argv[++i]));
        else
            veltrix = argv[i];
    }
    char pattern[] = "/tmp/veltrix-bench-XXXXXX";
    if (mkdtemp(pattern) == nullptr)
        return 1;
    const std::string dir = pattern;
    {
        // No NUL bytes, so every receiver keeps the file as it was sent.
        std::mt19937 rng(42);
        std::ofstream out(dir + "/in.bin", std::ios::binary);
        for (std::size_t i = 0; i < size; ++i) {
            char b = static_cast<char>(rng());
            out.put(b == 0 ? 'z' : b);
        }
    }
    const double frames = static_cast<double>((size + 127) / 128);
    const double floor = frames * 134.0 / 1920.0;
    std::printf(
        "file %zu bytes, %.0f frames, line floor %.2f s (134 bytes a frame at 1920 B/s)\n", size, frames, floor);

    // Rounds of all pairs, interleaved, so a burst of load on the machine
    // hits every pair alike; each pair's best round is compared.
    struct Pair {
        const char* name;
        bool veltrixSends;
        bool veltrixReceives;
        bool viaPty;
    };
    const Pair pairs[] = {
        {"VELTRIX O -> VELTRIX I", true, true, false},
        {"VELTRIX O -> rx -c", true, false, false},
        {"sx -> VELTRIX I", false, true, false},
        {"sx -> rx -c", false, false, false},
        {"sx -> rx -c (ptys+socat)", false, false, true},
    };
    constexpr std::size_t kPairs = sizeof pairs / sizeof pairs[0];
    std::vector<Row> best(kPairs);
    bool ok = true;
    std::printf("%-6s %-26s %9s %9s %12s %12s %s\n", "round", "pair", "time s", "/floor", "sender cpu", "receiver cpu",
        "result");
    for (int round = 1; round <= rounds; ++round) {
        for (std::size_t i = 0; i < kPairs; ++i) {
            const Row r =
                RunPair(pairs[i].name, pairs[i].veltrixSends, pairs[i].veltrixReceives, veltrix, dir, pairs[i].viaPty);
            std::printf("%-6d %-26s %9.2f %9.3f %11.3fs %11.3fs %s\n", round, r.name.c_str(), r.transfer,
                r.transfer / floor, r.senderCpu, r.receiverCpu, r.ok ? "ok" : "FAILED");
            std::fflush(stdout);
            ok = ok && r.ok;
            if (round == 1 || r.transfer < best[i].transfer)
                best[i] = r;
        }
    }
    const Row& both = best[0];
    const Row& send = best[1];
    const Row& receive = best[2];
    const Row& lrzsz = best[3];
    std::printf("\nbest of %d round(s):\n", rounds);
    std::printf("VELTRIX both sides / floor:        %.3f (goal <= 1.05)\n", both.transfer / floor);
    std::printf("lrzsz both sides / floor:          %.3f (socket pairs), %.3f (ptys + socat)\n", lrzsz.transfer / floor,
        best[4].transfer / floor);
    std::printf("VELTRIX both sides / lrzsz:        %.3f (socket pairs), %.3f (ptys + socat)\n",
        both.transfer / lrzsz.transfer, both.transfer / best[4].transfer);
    std::printf("VELTRIX send / sx (receiver rx):   %.3f (goal <= 1)\n", send.transfer / lrzsz.transfer);
    std::printf("VELTRIX receive / rx (sender sx):  %.3f (goal <= 1)\n", receive.transfer / lrzsz.transfer);
    std::printf("VELTRIX CPU share, sending:        %.2f %% (goal < 2 %%)\n", 100.0 * send.senderCpu / send.transfer);
    std::printf(
        "VELTRIX CPU share, receiving:      %.2f %% (goal < 2 %%)\n", 100.0 * receive.receiverCpu / receive.transfer);
    fs::remove_all(dir);
    return ok ? 0 : 1;
}
