// The whole Halvorne program, built with the demo key, downloading a signed
// documentation file (256 MiB unless told) over HTTPS from nginx on
// loopback as the host runs it (start to exit, task "dokum": the signed
// version file, the signatures, the file hashed as it arrives, flushed and
// saved), against what a careful user does by hand with the same server and
// disk: curl fetching the file and its .minisig, an fsync of the file, then
// `minisign -V` with the demo public key. Alternating, in one run; prints
// every round's ratio, their spread and median, and Halvorne's peak
// resident memory. The goal (at least as fast) holds only when it holds in
// every round.
//
//   signed_download_bench [size in MiB, default 256] [rounds, default 5]
#include "bench/support/SideBySide.h"
#include "tests/support/Minisign.h"
#include "tests/support/NoiseFile.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestPki.h"
#include "tests/support/WebServers.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
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

constexpr const char* kFileName = "DOKUMENTACE.PDF";

uint64_t FileSize(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

// Empties dir; every run starts with nothing left to write.
void Empty(const std::string& dir) {
    for (const auto& e : fs::directory_iterator(dir))
        fs::remove_all(e.path());
    ::sync();
}

void CheckSize(TimedRun& r, const std::string& file, uint64_t size) {
    if (r.ok && FileSize(file) != size) {
        r.ok = false;
        r.note = "the saved file has the wrong size";
    }
}

struct Setup {
    std::string program, home, caFile, publicKeyFile;
};

TimedRun RunHalvorne(const Setup& s, const std::string& target, uint64_t size) {
    Empty(target);
    TimedRun r = RunTimed(bench::support::Wrapped({s.program, "+@+", "dokum", "/p:" + target, "auto"}),
        {{"QT_QPA_PLATFORM", "offscreen"}, {"SSL_CERT_FILE", s.caFile}, {"HOME", s.home}, {"XDG_CONFIG_HOME", s.home}},
        21);
    CheckSize(r, target + kFileName, size);
    return r;
}

// curl fetches the file and its signature over one connection, the file is
// made durable, and minisign checks it: the time of all three.
TimedRun RunCurlFsyncMinisign(const Setup& s, const std::string& url, const std::string& dir, uint64_t size) {
    Empty(dir);
    const std::string file = dir + kFileName;
    const auto start = Clock::now();
    TimedRun r = RunTimed(
        {"curl", "-s", "-f", "--cacert", s.caFile, "-o", file, url, "-o", file + ".minisig", url + ".minisig"}, {}, 0);
    const int fd = ::open(file.c_str(), O_RDONLY);
    if (fd < 0 || ::fsync(fd) != 0) {
        r.ok = false;
        r.note = "fsync failed";
    }
    if (fd >= 0)
        ::close(fd);
    if (r.ok) {
        const TimedRun verify = RunTimed({"minisign", "-V", "-q", "-p", s.publicKeyFile, "-m", file}, {}, 0);
        if (!verify.ok) {
            r.ok = false;
            r.note = "minisign -V: " + verify.note;
        }
    }
    r.seconds = bench::support::Seconds(start, Clock::now());
    CheckSize(r, file, size);
    return r;
}

} // namespace

int main(int argc, char** argv) {
    const uint64_t mib = argc >= 2 ? std::strtoull(argv[1], nullptr, 10) : 256;
    const int rounds = argc >= 3 ? std::atoi(argv[2]) : 5;
    if (mib == 0 || rounds <= 0) {
        std::fprintf(stderr, "usage: signed_download_bench [size in MiB] [rounds]\n");
        return 1;
    }
    const uint64_t size = mib << 20;
    const tests::support::TempDir tmp("signed-download-bench-");
    const std::string work = tmp.path().string();
    // The workers of nginx run as nobody and read the certificate from here.
    fs::permissions(work, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                              fs::perms::others_read | fs::perms::others_exec);
    tests::support::TestPki pki(work);
    const tests::support::CertificateFiles cert = pki.Loopback();

    const std::string keys = DEMO_KEY_DIR;
    const tests::support::minisign::KeyPair demo{keys + "/halvorne-demo.pub", keys + "/halvorne-demo.key", ""};
    const std::string www = work + "/www", served = www + "/halvorne";
    fs::create_directories(served);
    if (!tests::support::WriteNoiseFile(served + "/" + kFileName, size)) {
        std::fprintf(stderr, "cannot create the %llu MiB file\n", static_cast<unsigned long long>(mib));
        return 1;
    }
    tests::support::minisign::Sign(demo, served + "/" + kFileName);
    // The version file vouches for the file by its hash, as a publisher's does.
    tests::support::WriteFile(
        served + "/verze.txt", "5.30\r\n" + tests::support::minisign::HashLine(served, kFileName));
    tests::support::minisign::Sign(demo, served + "/verze.txt");

    const Setup setup{work + "/prog/Halvorne", work + "/home", pki.CaFile(), demo.PublicKeyFile};
    const std::string target = work + "/target/", curlDir = work + "/curl/";
    for (const auto& d : {work + "/prog", setup.home, target, curlDir})
        fs::create_directories(d);
    fs::copy_file(BENCH_PROGRAM, setup.program);
    tests::support::WriteFile(
        work + "/prog/Halvorne.INI", "[Proxy Server]\r\nUseProxy=0\r\nProxyName=\r\nProxyPort=0\r\n");

    // The program's stored address names this port.
    tests::support::NginxServer nginx(
        www, {.fixedPort = BENCH_PORT, .certFile = cert.CertFile, .keyFile = cert.KeyFile});
    if (!nginx.Running()) {
        std::fprintf(stderr, "nginx did not start: %s\n", nginx.Error().c_str());
        return 1;
    }
    const std::string url = nginx.Address("halvorne") + kFileName;
    // Both read the served file from the page cache.
    RunTimed({"curl", "-s", "--cacert", pki.CaFile(), "-o", "/dev/null", url}, {}, 0);

    std::printf("load average at start: %s\n", bench::support::LoadAverage().c_str());
    bench::support::RatioRounds results;
    for (int i = 0; i < rounds; ++i) {
        TimedRun h, c;
        if (i % 2 == 0) {
            c = RunCurlFsyncMinisign(setup, url, curlDir, size);
            h = RunHalvorne(setup, target, size);
        } else {
            h = RunHalvorne(setup, target, size);
            c = RunCurlFsyncMinisign(setup, url, curlDir, size);
        }
        results.Add(h, c);
        std::printf("round %d: Halvorne %.3f s (peak RSS %.1f MiB)%s   curl+fsync+minisign %.3f s%s   ratio %.3f   "
                    "load %s\n",
            i + 1, h.seconds, h.peakKiB / 1024.0, h.ok ? "" : (" [FAILED: " + h.note + "]").c_str(), c.seconds,
            c.ok ? "" : (" [FAILED: " + c.note + "]").c_str(), c.seconds / h.seconds,
            bench::support::LoadAverage().c_str());
        std::fflush(stdout);
    }
    Empty(target);
    Empty(curlDir);
    std::printf("\nload average at end: %s\n", bench::support::LoadAverage().c_str());
    std::printf("%d rounds; ratio = (curl + fsync + minisign -V) / Halvorne\n", rounds);
    const std::string what = std::to_string(mib) + " MiB signed dokum over HTTPS against curl + fsync + minisign -V";
    return results.Print(what.c_str(), "curl + fsync + minisign", 1.0, 64 * 1024) ? 0 : 1;
}
