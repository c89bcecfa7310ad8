// tls_peers_for_wine: starts the peers of the TLS tests on loopback
// (tests/support/TlsPeers.h: nginx with each kind of certificate of a test
// CA made for this run, tinyproxy, scripted servers), has the test CA put
// into the wine prefix's trusted roots, runs the Windows test program with
// the peers' ports in its environment, stops the peers and ends with the
// test program's exit code.
//   tls_peers_for_wine RUNNER TRUST_PROGRAM TEST_PROGRAM [ARGS...]
// RUNNER is wine-run; TRUST_PROGRAM gets the CA file's Windows path.
#include "tests/support/Subprocess.h"
#include "tests/support/TempDir.h"
#include "tests/support/TlsPeers.h"

#include <chrono>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace {

namespace ts = tests::support;

// Under wine the drive Z: is the Linux root.
std::string WindowsPath(const std::string& path) {
    std::string windows = "Z:" + path;
    for (auto& c : windows)
        if (c == '/')
            c = '\\';
    return windows;
}

// Runs argv with its output on ours; its exit code, or 128 + the signal.
int Run(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env) {
    ts::SubprocessOptions o;
    o.inheritOutput = true;
    o.env = env;
    ts::Subprocess command(argv, o);
    // ctest's time-out ends a command that hangs long before this.
    command.WaitFor(std::chrono::hours(1));
    command.Kill();
    return command.Exited() ? command.ExitCode() : 128 + command.TermSignal();
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: tls_peers_for_wine RUNNER TRUST_PROGRAM TEST_PROGRAM [ARGS...]\n");
        return 2;
    }
    const ts::TempDir dir("wine-tls-");
    const ts::TlsPeers peers(dir.path().string());
    if (!peers.Running()) {
        std::fprintf(stderr, "tls_peers_for_wine: %s\n", peers.Error().c_str());
        return 1;
    }
    const int trusted = Run({argv[1], argv[2], WindowsPath(peers.CaFile())}, {});
    if (trusted != 0) {
        std::fprintf(stderr, "tls_peers_for_wine: the test CA could not be trusted (%d)\n", trusted);
        return 1;
    }
    std::vector<std::string> test = {argv[1]};
    test.insert(test.end(), argv + 3, argv + argc);
    const auto env = peers.Environment();
    return Run(test, {env.begin(), env.end()});
}
