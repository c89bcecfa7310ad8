// The whole Halvorne program (start to exit, task "dokum") downloading a
// documentation file (1 GiB unless told) from nginx on loopback, against
// curl writing the same file followed by an fsync of it (what
// `curl -o file && sync` costs). Both write into the same file system,
// alternating, in one run, so machine load affects both alike. Prints every
// round's time ratio, their spread and median, and Halvorne's peak resident
// memory per size; the goal (at least as fast as curl + fsync) holds only
// when it holds in every round.
//
//   download_bench [sizes in MiB, default 1024] [rounds, default 5]
#include "bench/support/SideBySide.h"
#include "tests/support/NoiseFile.h"
#include "tests/support/Subprocess.h"
#include "tests/support/TempDir.h"
#include "tests/support/WebServers.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#ifndef BENCH_PROGRAM
#error "BENCH_PROGRAM must name the Halvorne program to run"
#endif

namespace fs = std::filesystem;

namespace {

using bench::support::Clock;
using bench::support::RunTimed;
using bench::support::TimedRun;

uint64_t FileSize(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

void Empty(const std::string& dir) {
    for (const auto& e : fs::directory_iterator(dir))
        fs::remove_all(e.path());
}

// Halvorne as the host starts it; nginx is its proxy.
TimedRun RunHalvorne(const std::string& program, const std::string& target, const std::string& home, uint64_t size) {
    Empty(target);
    ::sync(); // every run starts with nothing left to write
    TimedRun r = RunTimed(bench::support::Wrapped({program, "+@+", "dokum", "/p:" + target, "auto"}),
        {{"QT_QPA_PLATFORM", "offscreen"}, {"HOME", home}, {"XDG_CONFIG_HOME", home}}, 21);
    if (r.ok && FileSize(target + "DOKUMENTACE.PDF") != size) {
        r.ok = false;
        r.note = "saved file has the wrong size";
    }
    return r;
}

// curl writes the file, then it is made durable: the time of both.
TimedRun RunCurlAndFsync(const std::string& url, const std::string& dir, uint64_t size) {
    Empty(dir);
    ::sync();
    const std::string file = dir + "DOKUMENTACE.PDF";
    const auto start = Clock::now();
    TimedRun r = RunTimed({"curl", "-s", "-f", "-o", file, url}, {}, 0);
    const int fd = ::open(file.c_str(), O_RDONLY);
    if (fd < 0 || ::fsync(fd) != 0)
        r.ok = false;
    if (fd >= 0)
        ::close(fd);
    r.seconds = bench::support::Seconds(start, Clock::now());
    if (r.ok && FileSize(file) != size) {
        r.ok = false;
        r.note = "curl's file has the wrong size";
    }
    return r;
}

std::vector<uint64_t> ParseSizes(const char* text) {
    std::vector<uint64_t> sizes;
    std::string s = text;
    std::size_t pos = 0;
    while (pos <= s.size()) {
        const std::size_t comma = s.find(',', pos);
        const std::string part = s.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos);
        if (!part.empty())
            sizes.push_back(std::strtoull(part.c_str(), nullptr, 10));
        if (comma == std::string::npos)
            break;
        pos = comma + 1;
    }
    return sizes;
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<uint64_t> sizes = ParseSizes(argc >= 2 ? argv[1] : "1024");
    const int rounds = argc >= 3 ? std::atoi(argv[2]) : 5;
    if (sizes.empty() || rounds <= 0 || std::count(sizes.begin(), sizes.end(), 0u) > 0) {
        std::fprintf(stderr, "usage: download_bench [sizes in MiB, comma-separated] [rounds]\n");
        return 1;
    }
    const tests::support::TempDir rootDir("download-bench-");
    const std::string root = rootDir.path().string();
    const std::string www = root + "/www", prog = root + "/prog/", home = root + "/home";
    const std::string target = root + "/target/", curlDir = root + "/curl/";
    for (const auto& d : {www + "/halvorne", prog, home, target, curlDir})
        fs::create_directories(d);
    tests::support::WriteFile(www + "/halvorne/verze.txt", "5.30\r\n");
    const std::string program = prog + "Halvorne";
    fs::copy_file(BENCH_PROGRAM, program);

    int rc = 0;
    {
        tests::support::NginxServer nginx(www);
        if (!nginx.Running()) {
            std::fprintf(stderr, "nginx did not start: %s\n", nginx.Error().c_str());
            return 1;
        }
        tests::support::WriteFile(prog + "Halvorne.INI",
            "[Proxy Server]\r\nUseProxy=1\r\nProxyName=127.0.0.1\r\nProxyPort=" + std::to_string(nginx.Port()) +
                "\r\n");
        const std::string url = "http://127.0.0.1:" + std::to_string(nginx.Port()) + "/halvorne/DOKUMENTACE.PDF";
        std::printf("load average at start: %s\n", bench::support::LoadAverage().c_str());

        std::vector<std::pair<uint64_t, bench::support::RatioRounds>> summaries;
        for (uint64_t mib : sizes) {
            const uint64_t size = mib << 20;
            const std::string file = www + "/halvorne/DOKUMENTACE.PDF";
            if (!tests::support::WriteNoiseFile(file, size)) {
                std::fprintf(stderr, "cannot create the %llu MiB file\n", static_cast<unsigned long long>(mib));
                rc = 1;
                break;
            }
            ::chmod(file.c_str(), 0644);
            // Both read the served file from the page cache.
            RunTimed({"curl", "-s", "-o", "/dev/null", url}, {}, 0);

            bench::support::RatioRounds results;
            for (int i = 0; i < rounds; ++i) {
                TimedRun h, c;
                if (i % 2 == 0) {
                    c = RunCurlAndFsync(url, curlDir, size);
                    h = RunHalvorne(program, target, home, size);
                } else {
                    h = RunHalvorne(program, target, home, size);
                    c = RunCurlAndFsync(url, curlDir, size);
                }
                results.Add(h, c);
                std::printf("%5llu MiB round %d: Halvorne %.3f s (peak RSS %.1f MiB)%s   curl+fsync %.3f s%s   "
                            "ratio %.3f   load %s\n",
                    static_cast<unsigned long long>(mib), i + 1, h.seconds, h.peakKiB / 1024.0,
                    h.ok ? "" : (" [FAILED: " + h.note + "]").c_str(), c.seconds,
                    c.ok ? "" : (" [FAILED: " + c.note + "]").c_str(), c.seconds / h.seconds,
                    bench::support::LoadAverage().c_str());
                std::fflush(stdout);
            }
            summaries.emplace_back(mib, results);
            // The copies in the two folders are of no more use; the served
            // file goes with the next size or the folder.
            Empty(target);
            Empty(curlDir);
        }
        std::printf("\nload average at end: %s\n", bench::support::LoadAverage().c_str());
        std::printf("%d rounds; ratio = (curl + fsync) / Halvorne\n", rounds);
        for (const auto& [mib, result] : summaries) {
            const std::string what = std::to_string(mib) + " MiB dokum against curl + fsync";
            if (!result.Print(what.c_str(), "curl + fsync", 1.0, 64 * 1024))
                rc = 1;
        }
    }
    return rc;
}
