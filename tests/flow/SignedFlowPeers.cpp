// signed_flow_peers: makes the signed-download flow cases' files
// (SignedFlowServed.h) in a temporary folder, serves every case directory
// on loopback, runs a command with the folder and the server's address in
// its environment and ends with its exit code. With --wine the folder is
// given as wine sees it: the command is a Windows program, and minisign a
// Linux one.
//   signed_flow_peers [--wine] COMMAND [ARGS...]
#include "SignedFlowServed.h"

#include "tests/support/LoopbackServer.h"
#include "tests/support/Subprocess.h"
#include "tests/support/TempDir.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

namespace {

namespace ts = tests::support;
namespace ss = tests::flow::signedset;

// Under wine the drive Z: is the Linux root.
std::string WindowsPath(const std::string& path) {
    std::string windows = "Z:" + path;
    for (auto& c : windows)
        if (c == '/')
            c = '\\';
    return windows;
}

void Serve(ts::ScriptedHttpServer& server, const std::string& dir, const ss::ServedDir& d) {
    auto put = [&](const char* served, const char* file) {
        if (file != nullptr)
            server.Set("/" + d.Name + "/" + served, ts::ReadFile(dir + "/" + file));
    };
    put(ss::kServedVerze, d.Verze);
    put((std::string(ss::kServedVerze) + ss::kSigSuffix).c_str(), d.VerzeSig);
    put(ss::kServedZip, d.Zip);
    put((std::string(ss::kServedZip) + ss::kSigSuffix).c_str(), d.ZipSig);
    put(ss::kServedPdf, d.Pdf);
    put((std::string(ss::kServedPdf) + ss::kSigSuffix).c_str(), d.PdfSig);
}

} // namespace

int main(int argc, char** argv) {
    const bool wine = argc > 1 && std::strcmp(argv[1], "--wine") == 0;
    const int first = wine ? 2 : 1;
    if (argc <= first) {
        std::fprintf(stderr, "usage: signed_flow_peers [--wine] COMMAND [ARGS...]\n");
        return 2;
    }
    const ts::TempDir dir("signed-flow-");
    const std::string files = dir.path().string();
    try {
        ss::MakeSignedFlowFiles(files);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "signed_flow_peers: %s\n", e.what());
        return 1;
    }
    ts::ScriptedHttpServer server;
    for (const auto& d : ss::ServedDirs())
        Serve(server, files, d);
    ts::SubprocessOptions o;
    o.inheritOutput = true;
    o.env = {{ss::kFilesVariable, wine ? WindowsPath(files) : files}, {ss::kServerVariable, server.Address()}};
    ts::Subprocess command(std::vector<std::string>(argv + first, argv + argc), o);
    // ctest's time-out ends a command that hangs long before this.
    command.WaitFor(std::chrono::hours(1));
    command.Kill();
    return command.Exited() ? command.ExitCode() : 128 + command.TermSignal();
}
