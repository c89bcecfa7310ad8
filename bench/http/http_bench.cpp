// Fetches one big file from nginx on loopback with our client and with
// curl, alternating, and prints throughput ratio, our peak memory and the
// longest gap between idle callbacks. Ratios come from one run, side by
// side, so machine load affects both.
//
//   http_bench [size in MiB, default 256] [rounds, default 3]
#include "tests/support/NoiseFile.h"
#include "tests/support/Subprocess.h"
#include "tests/support/TempDir.h"
#include "tests/support/WebServers.h"
#include "http/IdHTTP.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct RunResult {
    bool ok = false;
    double seconds = 0;
    long maxRssKiB = 0;
    double cpuSeconds = 0; // user + system time of the fetching process
    double maxIdleGapMs = 0;
    std::string note;
};

// Child mode: fetch url into memory, report "seconds maxgap bytes checksum".
int FetchMode(const std::string& url, uint64_t expected) {
    TIdHTTP http;
    TIdAntiFreeze freeze;
    http.ProtocolVersion = "1.0";
    http.Request.ContentType = "application";
    http.Request.ProxyPort = 80;
    http.AntiFreeze = &freeze;
    Clock::time_point last;
    double maxGap = 0;
    freeze.OnIdle = [&] {
        auto now = Clock::now();
        maxGap = std::max(maxGap, std::chrono::duration<double, std::milli>(now - last).count());
        last = now;
    };
    TMemoryStream stream;
    auto start = Clock::now();
    last = start;
    try {
        http.Get(url, stream);
    } catch (const EIdException& e) {
        std::fprintf(stderr, "fetch failed: %s\n", e.what());
        return 2;
    }
    auto end = Clock::now();
    maxGap = std::max(maxGap, std::chrono::duration<double, std::milli>(end - last).count());
    double seconds = std::chrono::duration<double>(end - start).count();
    // Touch the data once so a wrong or short body shows up.
    uint64_t sum = 0;
    for (std::size_t i = 0; i < stream.Data.size(); i += 4096)
        sum += stream.Data[i];
    std::printf("%.6f %.3f %llu %llu\n", seconds, maxGap, static_cast<unsigned long long>(stream.Size()),
        static_cast<unsigned long long>(sum));
    return stream.Size() == expected ? 0 : 3;
}

RunResult RunChild(const std::vector<std::string>& argv, bool parseOwnOutput) {
    RunResult r;
    tests::support::SubprocessOptions options;
    options.captureOutput = true;
    auto start = Clock::now();
    tests::support::Subprocess child(argv, options);
    // A fetch that takes this long has hung: it is killed and fails.
    const bool ended = child.WaitFor(std::chrono::minutes(30));
    child.Kill();
    auto end = Clock::now();
    const std::string out = child.Output();
    r.maxRssKiB = child.PeakKb();
    r.cpuSeconds = child.CpuSeconds();
    r.ok = ended && child.Exited() && child.ExitCode() == 0;
    r.seconds = std::chrono::duration<double>(end - start).count();
    r.note = out;
    if (parseOwnOutput) {
        double seconds = 0, gap = 0;
        if (std::sscanf(out.c_str(), "%lf %lf", &seconds, &gap) == 2) {
            r.seconds = seconds;
            r.maxIdleGapMs = gap;
        } else {
            r.ok = false;
        }
    }
    return r;
}

// curl reports its own transfer time, which leaves out process start-up.
RunResult RunCurl(const std::string& url) {
    RunResult r = RunChild({"curl", "-s", "-o", "/dev/null", "-w", "%{time_total} %{size_download}", url}, false);
    double t = 0;
    if (r.ok && std::sscanf(r.note.c_str(), "%lf", &t) == 1 && t > 0)
        r.seconds = t;
    return r;
}

} // namespace

int main(int argc, char** argv) {
    if (argc >= 4 && std::strcmp(argv[1], "--fetch") == 0)
        return FetchMode(argv[2], std::strtoull(argv[3], nullptr, 10));

    uint64_t mib = argc >= 2 ? std::strtoull(argv[1], nullptr, 10) : 256;
    int rounds = argc >= 3 ? std::atoi(argv[2]) : 3;
    if (mib == 0 || rounds <= 0) {
        std::fprintf(stderr, "usage: http_bench [size MiB] [rounds]\n");
        return 1;
    }
    const uint64_t size = mib << 20;
    const tests::support::TempDir rootDir("http-bench-");
    const std::string root = rootDir.path().string();
    if (!tests::support::WriteNoiseFile(root + "/big.bin", size)) {
        std::fprintf(stderr, "cannot create the test file\n");
        return 1;
    }
    int rc = 0;
    {
        tests::support::NginxServer nginx(root);
        if (!nginx.Running()) {
            std::fprintf(stderr, "nginx did not start: %s\n", nginx.Error().c_str());
            return 1;
        }
        std::string url = "http://127.0.0.1:" + std::to_string(nginx.Port()) + "/big.bin";
        std::string self = "/proc/self/exe";
        char exe[4096];
        ssize_t len = readlink(self.c_str(), exe, sizeof exe - 1);
        if (len > 0) {
            exe[len] = '\0';
            self = exe;
        }
        // Warm the page cache and nginx once.
        RunCurl(url);

        double bestOurs = 1e9, bestCurl = 1e9, worstGap = 0;
        std::vector<double> ratios;
        long peakRss = 0;
        bool allOk = true;
        for (int i = 0; i < rounds; ++i) {
            RunResult c = RunCurl(url);
            RunResult o = RunChild({self, "--fetch", url, std::to_string(size)}, true);
            allOk = allOk && c.ok && o.ok;
            std::printf("round %d: curl %.3f s (%.0f MiB/s, cpu %.2f s)   ours %.3f s (%.0f MiB/s, cpu %.2f s), "
                        "peak RSS %.1f MiB, max idle gap %.1f ms%s\n",
                i + 1, c.seconds, mib / c.seconds, c.cpuSeconds, o.seconds, mib / o.seconds, o.cpuSeconds,
                o.maxRssKiB / 1024.0, o.maxIdleGapMs, (c.ok && o.ok) ? "" : "  [FAILED RUN]");
            ratios.push_back(c.seconds / o.seconds);
            bestCurl = std::min(bestCurl, c.seconds);
            bestOurs = std::min(bestOurs, o.seconds);
            worstGap = std::max(worstGap, o.maxIdleGapMs);
            peakRss = std::max(peakRss, o.maxRssKiB);
        }
        double ratio = bestCurl / bestOurs;
        std::sort(ratios.begin(), ratios.end());
        double median = ratios[ratios.size() / 2];
        double rssMiB = peakRss / 1024.0;
        double limitMiB = static_cast<double>(mib) + 32.0;
        std::printf("\nfile %llu MiB, best of %d rounds each\n", static_cast<unsigned long long>(mib), rounds);
        std::printf("throughput ratio ours/curl: %.3f best-to-best, %.3f median of rounds   (goal >= 0.9)  %s\n", ratio,
            median, ratio >= 0.9 ? "ok" : "MISSED");
        std::printf("peak RSS ours: %.1f MiB           (goal <= %.0f MiB)  %s\n", rssMiB, limitMiB,
            rssMiB <= limitMiB ? "ok" : "MISSED");
        std::printf(
            "max idle-callback gap: %.1f ms   (goal <= 300 ms)  %s\n", worstGap, worstGap <= 300 ? "ok" : "MISSED");
        if (!allOk)
            rc = 1;
    }
    return rc;
}
