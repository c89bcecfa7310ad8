// Halvorne run from outside, as the asset-register application runs it: a
// program built with its own stored texts (server 127.0.0.1:18123), copied
// with its configuration file into a temporary folder, started with the
// launch marker, the task, "/v:", "/p:" and "auto"; the exit code and the
// target directory are what the host sees.
#include "ScriptedHttpServer.h"
#include "WebServers.h"

#include <gtest/gtest.h>

#include <csignal>
#include <chrono>
#include <filesystem>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#ifndef HOST_RUN_PROGRAM
#error "HOST_RUN_PROGRAM must name the program under test"
#endif
#ifndef HOST_RUN_PORT
#error "HOST_RUN_PORT must be the port of the program's stored server address"
#endif

using namespace testsupport;
namespace fs = std::filesystem;
using Tree = std::set<std::string>;

namespace {

const std::string kMarker = "+@+";
const std::string kDemo = std::string(HALVORNE_SOURCE_DIR) + "/demo/www";

struct Proxy {
    bool use = false;
    int port = 0;
};

struct RunResult {
    bool exited = false; // false: still running at the deadline (killed)
    int code = -1;
};

class HostRun : public ::testing::Test {
protected:
    void SetUp() override {
        program_ = tmp_.prefix() + "Halvorne";
        fs::copy_file(HOST_RUN_PROGRAM, program_);
        fs::create_directories(tmp_.path() / "home");
        target_ = tmp_.prefix() + "target/";
        fs::create_directory(target_);
        WriteFile(target_ + "EVMAJ_OLD.ZIP", "old");
        fs::create_directory(target_ + "archiv");
        WriteFile(target_ + "archiv/keep.txt", "k");
    }

    void WriteIni(const Proxy& p) {
        WriteFile(tmp_.prefix() + "Halvorne.INI", "[Proxy Server]\r\nUseProxy=" + std::string(p.use ? "1" : "0") +
                                                      "\r\nProxyName=127.0.0.1\r\nProxyPort=" +
                                                      std::to_string(p.port) + "\r\n");
    }

    // Runs the program with the host's arguments; fileSizeLimit > 0 limits
    // every file it writes (and makes such writes fail instead of killing it).
    RunResult Run(std::vector<std::string> args, int seconds = 30, long fileSizeLimit = 0) {
        args.insert(args.begin(), program_);
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        const std::string home = (tmp_.path() / "home").string();
        pid_t pid = ::fork();
        if (pid == 0) {
            ::setenv("HOME", home.c_str(), 1);
            ::setenv("XDG_CONFIG_HOME", home.c_str(), 1);
            ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
            if (fileSizeLimit > 0) {
                std::signal(SIGXFSZ, SIG_IGN);
                rlimit lim{static_cast<rlim_t>(fileSizeLimit), static_cast<rlim_t>(fileSizeLimit)};
                ::setrlimit(RLIMIT_FSIZE, &lim);
            }
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        RunResult r;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        while (std::chrono::steady_clock::now() < deadline) {
            int status = 0;
            if (::waitpid(pid, &status, WNOHANG) == pid) {
                r.exited = WIFEXITED(status);
                r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
                return r;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        return r;
    }

    std::vector<std::string> Chkver(const std::string& installed) {
        return {kMarker, "chkver", "/v:" + installed, "/p:" + target_, "auto"};
    }
    std::vector<std::string> Dokum() { return {kMarker, "dokum", "/p:" + target_, "auto"}; }

    TempDir tmp_;
    std::string program_;
    std::string target_;
};

const Tree kOldTree = {"EVMAJ_OLD.ZIP", "archiv/", "archiv/keep.txt"};

// nginx on the program's fixed port, serving a copy of the demo files.
std::unique_ptr<NginxServer> DemoServer() {
    auto s = std::make_unique<NginxServer>(kDemo, HOST_RUN_PORT);
    return s;
}

} // namespace

TEST_F(HostRun, NoNewerVersionEndsWith29DirectlyAndThroughTinyproxy) {
    auto nginx = DemoServer();
    TinyProxy tinyproxy;
    for (bool viaProxy : {false, true}) {
        SCOPED_TRACE(viaProxy ? "through tinyproxy" : "direct");
        WriteIni({viaProxy, tinyproxy.Port()});
        for (const std::string installed : {"5.30", "5,30", "6.0"}) {
            const RunResult r = Run(Chkver(installed));
            EXPECT_TRUE(r.exited) << installed;
            EXPECT_EQ(r.code, 29) << installed;
        }
        EXPECT_EQ(ListTree(target_), kOldTree);
    }
}

TEST_F(HostRun, DocumentationSavedWith21DirectlyAndThroughTinyproxy) {
    auto nginx = DemoServer();
    TinyProxy tinyproxy;
    for (bool viaProxy : {false, true}) {
        SCOPED_TRACE(viaProxy ? "through tinyproxy" : "direct");
        WriteFile(target_ + "EVMAJ_OLD.ZIP", "old");
        WriteIni({viaProxy, tinyproxy.Port()});
        const RunResult r = Run(Dokum());
        EXPECT_EQ(r.code, 21);
        EXPECT_EQ(ListTree(target_), (Tree{"DOKUMENTACE.PDF", "archiv/", "archiv/keep.txt"}));
        EXPECT_EQ(ReadFile(target_ + "DOKUMENTACE.PDF"), ReadFile(kDemo + "/halvorne/DOKUMENTACE.PDF"));
    }
}

TEST_F(HostRun, MissingVersionFileEndsTheDocumentationDownloadWith29) {
    auto nginx = DemoServer();
    fs::remove(nginx->Root() + "/halvorne/verze.txt");
    TinyProxy tinyproxy;
    for (bool viaProxy : {false, true}) {
        SCOPED_TRACE(viaProxy ? "through tinyproxy" : "direct");
        WriteIni({viaProxy, tinyproxy.Port()});
        const RunResult r = Run(Dokum());
        EXPECT_EQ(r.code, 29);
        EXPECT_EQ(ListTree(target_), kOldTree);
    }
}

TEST_F(HostRun, RefusedConnectionEndsTheDocumentationDownloadWith29) {
    // Through a "proxy" where nothing listens: the first request fails.
    WriteIni({true, UnusedLoopbackPort()});
    const RunResult r = Run(Dokum());
    EXPECT_EQ(r.code, 29);
    EXPECT_EQ(ListTree(target_), kOldTree);
}

TEST_F(HostRun, ZeroByteDocumentationIsSavedWith21) {
    ScriptedHttpServer proxy; // serves absolute-form requests like a proxy
    proxy.Set("/halvorne/verze.txt", "5.30\r\n");
    proxy.Set("/halvorne/DOKUMENTACE.PDF", "");
    WriteIni({true, proxy.Port()});
    const RunResult r = Run(Dokum());
    EXPECT_EQ(r.code, 21);
    EXPECT_EQ(ListTree(target_), (Tree{"DOKUMENTACE.PDF", "archiv/", "archiv/keep.txt"}));
    EXPECT_EQ(fs::file_size(target_ + "DOKUMENTACE.PDF"), 0u);
}

TEST_F(HostRun, WriteFailingMidwayKeepsTheOldFiles) {
    ScriptedHttpServer proxy;
    proxy.Set("/halvorne/verze.txt", "5.30\r\n");
    proxy.Set("/halvorne/DOKUMENTACE.PDF", std::string(300000, 'p'));
    WriteIni({true, proxy.Port()});
    // Every file the program writes may hold 64 KiB. The run then stays
    // open with its message (exit code 25 when the user closes it); the
    // host would see the files as they are now.
    const RunResult r = Run(Dokum(), 4, 65536);
    EXPECT_FALSE(r.exited) << "the window stays open after a failed save, code " << r.code;
    EXPECT_EQ(ListTree(target_), kOldTree);
    EXPECT_EQ(ReadFile(target_ + "EVMAJ_OLD.ZIP"), "old");
    bool askedForDok = false;
    for (const auto& l : proxy.RequestLines())
        askedForDok |= l.find("DOKUMENTACE.PDF") != std::string::npos;
    EXPECT_TRUE(askedForDok);
}
