// signed_set_for_wine: makes the signature tests' files with the real
// minisign (tests/signature/SignedSet.h) in a temporary folder, runs the
// Windows test program with that folder's Windows path in its environment,
// removes the folder and ends with the program's exit code. minisign is a
// Linux program, so the set is made on this side of wine.
//   signed_set_for_wine COMMAND [ARGS...]
#include "tests/support/Subprocess.h"
#include "tests/support/TempDir.h"
#include "../signature/SignedSet.h"

#include <chrono>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: signed_set_for_wine COMMAND [ARGS...]\n");
        return 2;
    }
    namespace ts = tests::support;
    const ts::TempDir dir("wine-signed-");
    try {
        tests::signature::MakeSignedSet(dir.path().string());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "signed_set_for_wine: %s\n", e.what());
        return 1;
    }
    // Under wine the drive Z: is the Linux root.
    std::string windowsPath = "Z:" + dir.path().string();
    for (auto& c : windowsPath)
        if (c == '/')
            c = '\\';
    ts::SubprocessOptions o;
    o.inheritOutput = true;
    o.env = {{tests::signature::kSetVariable, windowsPath}};
    ts::Subprocess command(std::vector<std::string>(argv + 1, argv + argc), o);
    // ctest's time-out ends a command that hangs long before this.
    command.WaitFor(std::chrono::hours(1));
    command.Kill();
    return command.Exited() ? command.ExitCode() : 128 + command.TermSignal();
}
