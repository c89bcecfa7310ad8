// Signed updates over HTTPS, measured side by side in one run:
//   1. a big file over HTTPS from nginx on loopback, our client against
//      curl (both trusting the same test CA): throughput ratio;
//   2. what checking the file's minisign signature adds: hashed while the
//      bytes arrive, as the program does it (the download with the check
//      against the same download without), and checked only after the
//      download, for comparison;
//   3. Halvorne itself, built with the demo key and an https address, run
//      as the host runs it against a file whose signature is wrong, with
//      the target directory watched by inotify from start to end: nothing
//      may show there under any name (the body is received into a file of
//      that directory without a name; a run with the right signature shows
//      that the watch sees a save).
//
//   trust_bench [size in MiB, default 256] [rounds, default 3]
#include "tests/support/NoiseFile.h"
#include "tests/support/DirectoryWatch.h"
#include "tests/support/Minisign.h"
#include "tests/support/Subprocess.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestPki.h"
#include "tests/support/WebServers.h"
#include "http/IdHTTP.h"
#include "signature/SignatureCheck.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <signal.h>
#include <string>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

double Seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Child: fetch url into memory; with a signature, check it the way asked.
// Prints "fetch_seconds verify_seconds problem".
int FetchMode(const std::string& url, uint64_t expected, const std::string& sigFile, const std::string& name,
    const std::string& how) {
    TIdHTTP http;
    TIdAntiFreeze freeze;
    http.ProtocolVersion = "1.0";
    http.Request.ContentType = "application";
    http.Request.ProxyPort = 80;
    http.AntiFreeze = &freeze;
    TMemoryStream stream;
    std::unique_ptr<signature::SignatureCheck> check;
    std::string keyLine;
    if (!sigFile.empty()) {
        std::ifstream pub(std::string(DEMO_KEY_DIR) + "/halvorne-demo.pub");
        std::getline(pub, keyLine);
        std::getline(pub, keyLine);
        check = std::make_unique<signature::SignatureCheck>(keyLine, ReadAll(sigFile), name);
    }
    // As the program does it: each piece is hashed as soon as it is in.
    std::size_t hashed = 0;
    if (check && how == "stream")
        http.OnWork = [&](TIdHTTP*, TWorkMode, int64_t) {
            check->Update(stream.Data.data() + hashed, stream.Position - hashed);
            hashed = stream.Position;
        };
    const auto start = Clock::now();
    try {
        http.Get(url, stream);
    } catch (const EIdException& e) {
        std::fprintf(stderr, "fetch failed: %s\n", e.what());
        return 2;
    }
    const auto fetched = Clock::now();
    signature::Problem problem = signature::Problem::None;
    if (check)
        problem = how == "stream" ? check->Finish() : check->FinishWhole(stream.Data.data(), stream.Size());
    const auto verified = Clock::now();
    std::printf("%.6f %.6f %d\n", Seconds(start, fetched), Seconds(fetched, verified), static_cast<int>(problem));
    return stream.Size() == expected && problem == signature::Problem::None ? 0 : 3;
}

struct Child {
    bool ok = false;
    std::string out;
};

Child Run(const std::vector<std::string>& argv) {
    Child c;
    tests::support::SubprocessOptions o;
    o.captureOutput = true;
    tests::support::Subprocess child(argv, o);
    const bool ended = child.WaitFor(std::chrono::minutes(10));
    child.Kill();
    c.out = child.Output();
    c.ok = ended && child.Exited() && child.ExitCode() == 0;
    return c;
}

void FlipByte(const std::string& path, uint64_t at) {
    const int fd = ::open(path.c_str(), O_RDWR);
    unsigned char b = 0;
    if (fd >= 0 && ::pread(fd, &b, 1, static_cast<off_t>(at)) == 1) {
        b ^= 0x20;
        (void)::pwrite(fd, &b, 1, static_cast<off_t>(at));
    }
    if (fd >= 0)
        ::close(fd);
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// user + system CPU ticks of a process, -1 when it is gone.
long CpuTicks(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), {});
    const std::size_t close = text.rfind(')');
    if (close == std::string::npos)
        return -1;
    std::vector<std::string> fields;
    std::size_t pos = close + 2;
    while (pos < text.size()) {
        std::size_t sp = text.find(' ', pos);
        fields.push_back(text.substr(pos, sp - pos));
        if (sp == std::string::npos)
            break;
        pos = sp + 1;
    }
    return fields.size() > 12 ? std::stol(fields[11]) + std::stol(fields[12]) : -1;
}

struct HostRun {
    int exitCode = -1; // -1: still open at the end (killed)
    double seconds = 0;
    std::vector<std::string> changes; // visible under a name in the target directory
    std::size_t anonymousWrites = 0;  // into the received file, which has no name there
    std::set<std::string> tree;
};

// Runs the program's documentation download as the host does and watches
// the target directory. A run that stays open (a refused file) is ended
// once the server has sent the whole file and the program has gone idle.
HostRun RunProgram(
    const std::string& work, const std::string& caFile, const std::string& accessLog, std::size_t requestsBefore) {
    HostRun r;
    const std::string target = work + "/target/";
    fs::remove_all(target);
    fs::create_directories(target);
    tests::support::WriteFile(target + "DOKUMENTACE_OLD.PDF", "old");
    tests::support::DirectoryWatch watch(target);
    const std::string program = work + "/Halvorne";
    const auto start = Clock::now();
    tests::support::SubprocessOptions o;
    o.env = {{"QT_QPA_PLATFORM", "offscreen"}, {"SSL_CERT_FILE", caFile}, {"HOME", work + "/home"},
        {"XDG_CONFIG_HOME", work + "/home"}};
    tests::support::Subprocess run({program, "+@+", "dokum", "/p:" + target, "auto"}, o);
    const pid_t pid = run.Pid();
    auto countRequests = [&] {
        const std::string log = ReadAll(accessLog);
        std::size_t n = 0;
        for (std::size_t at = 0; (at = log.find("GET /halvorne/DOKUMENTACE.PDF ", at)) != std::string::npos; ++at)
            ++n;
        return n;
    };
    long lastTicks = -2;
    auto idleSince = Clock::now();
    for (;;) {
        if (run.Finished()) {
            r.exitCode = run.Exited() ? run.ExitCode() : -1;
            break;
        }
        if (countRequests() > requestsBefore) {
            const long ticks = CpuTicks(pid);
            if (ticks != lastTicks) {
                lastTicks = ticks;
                idleSince = Clock::now();
            } else if (Clock::now() - idleSince > std::chrono::seconds(2)) {
                run.Kill();
                break;
            }
        }
        if (Clock::now() - start > std::chrono::minutes(5)) {
            run.Kill();
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    r.seconds = Seconds(start, Clock::now());
    r.changes = watch.VisibleChanges();
    r.anonymousWrites = watch.AnonymousWrites();
    r.tree = tests::support::ListTree(target);
    return r;
}

} // namespace

int main(int argc, char** argv) {
    if (argc >= 4 && std::strcmp(argv[1], "--fetch") == 0)
        return FetchMode(argv[2], std::strtoull(argv[3], nullptr, 10), argc >= 6 ? argv[4] : "",
            argc >= 6 ? argv[5] : "", argc >= 7 ? argv[6] : "whole");

    const uint64_t mib = argc >= 2 ? std::strtoull(argv[1], nullptr, 10) : 256;
    const int rounds = argc >= 3 ? std::atoi(argv[2]) : 3;
    if (mib == 0 || rounds <= 0) {
        std::fprintf(stderr, "usage: trust_bench [size MiB] [rounds]\n");
        return 1;
    }
    const uint64_t size = mib << 20;
    tests::support::TempDir tmp;
    const std::string work = tmp.path().string();
    fs::permissions(work, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                              fs::perms::others_read | fs::perms::others_exec);
    tests::support::TestPki pki(work);
    const tests::support::CertificateFiles cert = pki.Loopback();
    setenv("SSL_CERT_FILE", pki.CaFile().c_str(), 1);

    const std::string keys = DEMO_KEY_DIR;
    const tests::support::minisign::KeyPair demo{keys + "/halvorne-demo.pub", keys + "/halvorne-demo.key", ""};
    const std::string www = work + "/www";
    fs::create_directories(www + "/halvorne");
    const std::string big = www + "/halvorne/DOKUMENTACE.PDF";
    if (!tests::support::WriteNoiseFile(big, size)) {
        std::fprintf(stderr, "cannot create the test file\n");
        return 1;
    }
    tests::support::minisign::Sign(demo, big);
    // The version file vouches for the file by its hash, as a publisher's does.
    tests::support::WriteFile(www + "/halvorne/verze.txt",
        "5.30\r\n" + tests::support::minisign::HashLine(www + "/halvorne", "DOKUMENTACE.PDF"));
    tests::support::minisign::Sign(demo, www + "/halvorne/verze.txt");

    char exe[4096];
    const ssize_t len = readlink("/proc/self/exe", exe, sizeof exe - 1);
    const std::string self = len > 0 ? std::string(exe, static_cast<std::size_t>(len)) : "/proc/self/exe";
    int rc = 0;

    // 1. and 2. on an nginx of their own.
    {
        tests::support::NginxServer nginx(www, {.certFile = cert.CertFile, .keyFile = cert.KeyFile});
        if (!nginx.Running()) {
            std::fprintf(stderr, "nginx did not start: %s\n", nginx.Error().c_str());
            return 1;
        }
        const std::string url = "https://127.0.0.1:" + std::to_string(nginx.Port()) + "/halvorne/DOKUMENTACE.PDF";
        const std::vector<std::string> curl = {
            "curl", "-s", "--cacert", pki.CaFile(), "-o", "/dev/null", "-w", "%{time_total}", url};
        Run(curl); // warm the page cache and nginx
        std::vector<double> curlTimes, ourTimes, verifyWhole, ratios, inLine, leftAfter;
        bool allOk = true;
        auto fetch = [&](const char* how, double& fetchSeconds, double& verifySeconds) {
            const Child c = Run({self, "--fetch", url, std::to_string(size), big + ".minisig", "DOKUMENTACE.PDF", how});
            int problem = -1;
            return c.ok && std::sscanf(c.out.c_str(), "%lf %lf %d", &fetchSeconds, &verifySeconds, &problem) == 3 &&
                   fetchSeconds > 0;
        };
        for (int i = 0; i < rounds; ++i) {
            const Child c = Run(curl);
            double ct = 0, ft = 0, vt = 0, st = 0, sv = 0;
            const bool ok = c.ok && std::sscanf(c.out.c_str(), "%lf", &ct) == 1 && ct > 0 && fetch("whole", ft, vt) &&
                            fetch("stream", st, sv);
            allOk = allOk && ok;
            std::printf("round %d: curl %.3f s (%.0f MiB/s)   ours %.3f s (%.0f MiB/s), then checked %.3f s   "
                        "ours hashing as it arrives %.3f s + %.4f s%s\n",
                i + 1, ct, mib / ct, ft, mib / ft, vt, st, sv, ok ? "" : "  [FAILED RUN]");
            if (!ok)
                continue;
            curlTimes.push_back(ct);
            ourTimes.push_back(ft);
            verifyWhole.push_back(vt);
            inLine.push_back(st + sv);
            leftAfter.push_back(sv);
            ratios.push_back(ct / ft);
        }
        if (curlTimes.empty()) {
            std::fprintf(stderr, "no round succeeded\n");
            return 1;
        }
        const double best =
            *std::min_element(curlTimes.begin(), curlTimes.end()) / *std::min_element(ourTimes.begin(), ourTimes.end());
        std::printf("\nHTTPS, %llu MiB, %d rounds\n", static_cast<unsigned long long>(mib), rounds);
        std::printf("throughput ratio ours/curl: %.3f best-to-best, %.3f median of rounds   (goal >= 0.8)  %s\n", best,
            Median(ratios), best >= 0.8 ? "ok" : "MISSED");
        const double added = Median(inLine) - Median(ourTimes);
        std::printf("signature check as the program does it (prehashed kind, hashed while the bytes arrive): "
                    "download + check %.3f s against %.3f s without, adds %.3f s, %.4f s of it after the last byte   "
                    "(goal < 0.5 s)  %s\n",
            Median(inLine), Median(ourTimes), added, Median(leftAfter), added < 0.5 ? "ok" : "MISSED");
        std::printf("checked only after the download instead: %.3f s (the hash of the whole file on this machine)\n",
            Median(verifyWhole));
        // The hash the version file lists is compared with the digest the
        // signature check has already made: 64 bytes, nothing more to hash.
        std::printf("the version file's hash of the file: compared with the signature check's own digest, "
                    "adds nothing measurable\n");
        if (!allOk)
            rc = 1;
    }

    // 3. The program itself against a wrong signature.
    {
        fs::create_directories(work + "/home");
        fs::copy_file(BENCH_PROGRAM, work + "/Halvorne");
        tests::support::WriteFile(
            work + "/Halvorne.INI", "[Proxy Server]\r\nUseProxy=0\r\nProxyName=\r\nProxyPort=0\r\n");
        tests::support::NginxServer server(
            www, {.fixedPort = BENCH_PORT, .copyRoot = true, .certFile = cert.CertFile, .keyFile = cert.KeyFile});
        const std::string served = server.Root() + "/halvorne/DOKUMENTACE.PDF";
        const HostRun good = RunProgram(work, pki.CaFile(), server.AccessLog(), 0);
        FlipByte(served, size / 2);
        const HostRun bad = RunProgram(work, pki.CaFile(), server.AccessLog(), 1);
        std::printf("\nHalvorne dokum, %llu MiB, the right signature: exit code %d in %.1f s, %zu changes seen in "
                    "the target directory (the watch works: > 0)  %s\n",
            static_cast<unsigned long long>(mib), good.exitCode, good.seconds, good.changes.size(),
            good.exitCode == 21 && !good.changes.empty() ? "ok" : "MISSED");
        std::printf("Halvorne dokum, one byte changed on the server: %s after %.1f s, %zu changes in the target "
                    "directory under any name (goal 0; %zu writes went into the received file, which never had "
                    "a name there), left holding:",
            bad.exitCode == -1 ? "window open with its message" : ("exit code " + std::to_string(bad.exitCode)).c_str(),
            bad.seconds, bad.changes.size(), bad.anonymousWrites);
        for (const auto& f : bad.tree)
            std::printf(" %s", f.c_str());
        const bool untouched = bad.changes.empty() && bad.tree == std::set<std::string>{"DOKUMENTACE_OLD.PDF"};
        std::printf("  %s\n", untouched ? "ok" : "MISSED");
        for (const auto& c : bad.changes)
            std::printf("  change: %s\n", c.c_str());
        if (!untouched || good.exitCode != 21)
            rc = 1;
    }
    return rc;
}
