// web_peers_for_wine: starts nginx (serving the files of WebFiles.h),
// tinyproxy and a server that resets its connections in the middle of a
// body, all on loopback; runs a command with their ports in the environment
// (HALVORNE_TEST_NGINX_PORT, HALVORNE_TEST_PROXY_PORT,
// HALVORNE_TEST_RESET_PORT), stops them and ends with the command's exit
// code. The Windows HTTP tests run under wine through it: nginx and
// tinyproxy are Linux programs, and a reset must come from a Linux socket
// (see WineQuirk.LingerZeroCloseSendsNoReset).
//   web_peers_for_wine COMMAND [ARGS...]
#include "LocalServers.h"
#include "WebFiles.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: web_peers_for_wine COMMAND [ARGS...]\n");
        return 2;
    }
    const std::string root = testsrv::MakeTempDir("wine-web-");
    testsrv::WriteFile(root + "/" + webfiles::kBinaryName, webfiles::BinaryContent());
    testsrv::WriteFile(root + "/" + webfiles::kTextName, webfiles::kTextContent);
    testsrv::WriteFile(root + "/" + webfiles::kEmptyName, "");
    int status = 1;
    {
        testsrv::NginxServer nginx(root);
        testsrv::TinyProxyServer proxy;
        testsrv::ScriptedServer reset({testsrv::ScriptStep::Read(),
                                       testsrv::ScriptStep::Out(webfiles::kResetResponseStart),
                                       testsrv::ScriptStep::Pause(100), testsrv::ScriptStep::ResetNow()});
        if (!nginx.Running() || !proxy.Running()) {
            std::fprintf(stderr, "web_peers_for_wine: %s %s\n", nginx.Error().c_str(), proxy.Error().c_str());
        } else {
            ::setenv("HALVORNE_TEST_NGINX_PORT", std::to_string(nginx.Port()).c_str(), 1);
            ::setenv("HALVORNE_TEST_PROXY_PORT", std::to_string(proxy.Port()).c_str(), 1);
            ::setenv("HALVORNE_TEST_RESET_PORT", std::to_string(reset.Port()).c_str(), 1);
            const pid_t child = ::fork();
            if (child == 0) {
                ::execvp(argv[1], argv + 1);
                std::perror(argv[1]);
                ::_exit(127);
            }
            int raw = 0;
            if (child > 0 && ::waitpid(child, &raw, 0) == child)
                status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
        }
    }
    testsrv::RemoveTree(root);
    return status;
}
