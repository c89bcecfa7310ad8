// web_peers_for_wine: starts nginx (serving the files of WebFiles.h),
// tinyproxy and a server that resets its connections in the middle of a
// body, all on loopback; runs a command with their ports in the environment
// (HALVORNE_TEST_NGINX_PORT, HALVORNE_TEST_PROXY_PORT,
// HALVORNE_TEST_RESET_PORT), stops them and ends with the command's exit
// code. The Windows HTTP tests run under wine through it: nginx and
// tinyproxy are Linux programs, and the resetting peer is a Linux socket
// closed with a zero linger time, as a real server's reset would be.
//   web_peers_for_wine COMMAND [ARGS...]
#include "tests/support/LoopbackServer.h"
#include "tests/support/Subprocess.h"
#include "tests/support/TempDir.h"
#include "tests/support/WebServers.h"
#include "WebFiles.h"

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: web_peers_for_wine COMMAND [ARGS...]\n");
        return 2;
    }
    namespace ts = tests::support;
    const ts::TempDir rootDir("wine-web-");
    const std::string root = rootDir.path().string();
    ts::WriteFile(root + "/" + webfiles::kBinaryName, webfiles::BinaryContent());
    ts::WriteFile(root + "/" + webfiles::kTextName, webfiles::kTextContent);
    ts::WriteFile(root + "/" + webfiles::kEmptyName, "");
    int status = 1;
    {
        ts::NginxServer nginx(root);
        ts::TinyProxyServer proxy;
        ts::ScriptedServer reset({ts::ScriptStep::Read(), ts::ScriptStep::Out(webfiles::kResetResponseStart),
            ts::ScriptStep::Pause(100), ts::ScriptStep::ResetNow()});
        if (!nginx.Running() || !proxy.Running()) {
            std::fprintf(stderr, "web_peers_for_wine: %s %s\n", nginx.Error().c_str(), proxy.Error().c_str());
        } else {
            ts::SubprocessOptions o;
            o.inheritOutput = true;
            o.env = {{"HALVORNE_TEST_NGINX_PORT", std::to_string(nginx.Port())},
                {"HALVORNE_TEST_PROXY_PORT", std::to_string(proxy.Port())},
                {"HALVORNE_TEST_RESET_PORT", std::to_string(reset.Port())}};
            ts::Subprocess command(std::vector<std::string>(argv + 1, argv + argc), o);
            // ctest's time-out ends a command that hangs long before this.
            command.WaitFor(std::chrono::hours(1));
            command.Kill();
            status = command.Exited() ? command.ExitCode() : 128 + command.TermSignal();
        }
    }
    return status;
}
