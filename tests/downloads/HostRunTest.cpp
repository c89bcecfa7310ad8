// Halvorne run from outside, as the asset-register application runs it: a
// program built with its own stored texts (server 127.0.0.1:HOST_RUN_PORT), copied
// with its configuration file into a temporary folder, started with the
// launch marker, the task, "/v:", "/p:" and "auto"; the exit code and the
// target directory are what the host sees.
#include "ScriptedHttpServer.h"
#include "WebServers.h"
#include "LocalServers.h"
#include "tests/support/SmallDisk.h"

#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <optional>
#include <chrono>
#include <filesystem>
#include <sys/prctl.h>
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

    // A run a failed assertion left behind must not outlive the test (it
    // would hold the test's output open).
    void TearDown() override {
        for (pid_t pid : started_) {
            if (::waitpid(pid, nullptr, WNOHANG) == 0) {
                ::kill(pid, SIGKILL);
                ::waitpid(pid, nullptr, 0);
            }
        }
    }

    void WriteIni(const Proxy& p) {
        WriteFile(tmp_.prefix() + "Halvorne.INI", "[Proxy Server]\r\nUseProxy=" + std::string(p.use ? "1" : "0") +
                                                      "\r\nProxyName=127.0.0.1\r\nProxyPort=" +
                                                      std::to_string(p.port) + "\r\n");
    }

    // Starts the program with the host's arguments; fileSizeLimit > 0
    // limits every file it writes. With a display it runs on that X server, else offscreen.
    pid_t Start(std::vector<std::string> args, long fileSizeLimit = 0, const std::string& display = "") {
        args.insert(args.begin(), program_);
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        const std::string home = (tmp_.path() / "home").string();
        pid_t pid = ::fork();
        if (pid == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGKILL); // never outlive a crashed test
            ::setenv("HOME", home.c_str(), 1);
            ::setenv("XDG_CONFIG_HOME", home.c_str(), 1);
            if (display.empty()) {
                ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
            } else {
                ::setenv("QT_QPA_PLATFORM", "xcb", 1);
                ::setenv("DISPLAY", display.c_str(), 1);
            }
            if (fileSizeLimit > 0) {
                std::signal(SIGXFSZ, SIG_DFL); // the program copes with the default action itself
                rlimit lim{static_cast<rlim_t>(fileSizeLimit), static_cast<rlim_t>(fileSizeLimit)};
                ::setrlimit(RLIMIT_FSIZE, &lim);
            }
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        started_.push_back(pid);
        return pid;
    }

    // Waits for the program's end; kills it at the deadline.
    static RunResult Wait(pid_t pid, int seconds) {
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

    RunResult Run(std::vector<std::string> args, int seconds = 30, long fileSizeLimit = 0) {
        return Wait(Start(std::move(args), fileSizeLimit), seconds);
    }

    std::vector<std::string> Chkver(const std::string& installed) {
        return {kMarker, "chkver", "/v:" + installed, "/p:" + target_, "auto"};
    }
    std::vector<std::string> Dokum() { return {kMarker, "dokum", "/p:" + target_, "auto"}; }

    std::vector<pid_t> started_;
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
    testsrv::TinyProxyServer tinyproxy;
    ASSERT_TRUE(tinyproxy.Running()) << tinyproxy.Error();
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
    testsrv::TinyProxyServer tinyproxy;
    ASSERT_TRUE(tinyproxy.Running()) << tinyproxy.Error();
    for (bool viaProxy : {false, true}) {
        SCOPED_TRACE(viaProxy ? "through tinyproxy" : "direct");
        WriteFile(target_ + "EVMAJ_OLD.ZIP", "old");
        WriteIni({viaProxy, tinyproxy.Port()});
        const RunResult r = Run(Dokum());
        EXPECT_EQ(r.code, 21);
        EXPECT_EQ(ListTree(target_), (Tree{"DOKUMENTACE.PDF", "archiv/", "archiv/keep.txt"}));
        EXPECT_TRUE(ReadFile(target_ + "DOKUMENTACE.PDF") == ReadFile(kDemo + "/halvorne/DOKUMENTACE.PDF")) << "saved bytes differ";
    }
}

TEST_F(HostRun, MissingVersionFileEndsTheDocumentationDownloadWith29) {
    auto nginx = DemoServer();
    fs::remove(nginx->Root() + "/halvorne/verze.txt");
    testsrv::TinyProxyServer tinyproxy;
    ASSERT_TRUE(tinyproxy.Running()) << tinyproxy.Error();
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
    // (On a display, closing it then ends the run with 25: see below.)
    EXPECT_EQ(ListTree(target_), kOldTree);
    EXPECT_EQ(ReadFile(target_ + "EVMAJ_OLD.ZIP"), "old");
    bool askedForDok = false;
    for (const auto& l : proxy.RequestLines())
        askedForDok |= l.find("DOKUMENTACE.PDF") != std::string::npos;
    EXPECT_TRUE(askedForDok);
}

// On an X display, answered with xdotool as a user would: the windows that
// stay open are closed with Esc, which ends the program with the exit code
// the operation left.
class HostRunOnDisplay : public HostRun {
protected:
    // Polls until pred holds; false after the deadline.
    static bool WaitUntil(const std::function<bool()>& pred, int seconds = 20) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        while (std::chrono::steady_clock::now() < deadline) {
            if (pred())
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }
    static bool Requested(const ScriptedHttpServer& s, const std::string& what) {
        for (const auto& l : s.RequestLines())
            if (l.find(what) != std::string::npos)
                return true;
        return false;
    }
    // Esc in the transfer window: its "Storno" button has the focus.
    void PressEscInTransferWindow() {
        auto ids = x_.FindWindows("evidence majetku");
        ASSERT_FALSE(ids.empty()) << "no transfer window";
        x_.Xdotool({"windowfocus", "--sync", ids.front()});
        x_.Xdotool({"key", "--window", ids.front(), "Escape"});
    }
    // Clicks a button of the next-step dialog at its place in the dialog.
    void ClickInDialog(int x, int y) {
        std::vector<std::string> ids;
        ASSERT_TRUE(WaitUntil([&] { return !(ids = x_.FindWindows("Nastavení dalšího postupu")).empty(); }))
            << "no next-step dialog";
        std::this_thread::sleep_for(std::chrono::milliseconds(300)); // let it map and paint
        x_.Xdotool({"mousemove", "--window", ids.front(), std::to_string(x), std::to_string(y), "click", "1"});
    }
    void ClickDownload() { ClickInDialog(152 + 124, 112 + 12); }
    void ClickStorno() { ClickInDialog(240 + 40, 152 + 12); }

    XvfbDisplay x_;
};

TEST_F(HostRunOnDisplay, DownloadChosenInTheDialogSavesTheNewVersionWith21) {
    auto nginx = DemoServer();
    WriteIni({false, 0});
    const pid_t pid = Start(Chkver("5.10"), 0, x_.Name());
    ClickDownload();
    const RunResult r = Wait(pid, 60);
    EXPECT_EQ(r.code, 21);
    EXPECT_EQ(ListTree(target_), (Tree{"EVMAJ_SETUP.ZIP", "archiv/", "archiv/keep.txt"}));
    EXPECT_TRUE(ReadFile(target_ + "EVMAJ_SETUP.ZIP") == ReadFile(kDemo + "/halvorne/EVMAJ_SETUP.ZIP")) << "saved bytes differ";
}

TEST_F(HostRunOnDisplay, StornoInTheDialogEndsWith0) {
    auto nginx = DemoServer();
    WriteIni({false, 0});
    const pid_t pid = Start(Chkver("5.10"), 0, x_.Name());
    ClickStorno();
    const RunResult r = Wait(pid, 30);
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(ListTree(target_), kOldTree);
}

TEST_F(HostRunOnDisplay, StornoDuringTheDownloadEndsAtOnceWith25) {
    ScriptedHttpServer proxy;
    proxy.Set("/halvorne/verze.txt", "5.30\r\n");
    // About 20 s at this pace: the Esc comes long before the end.
    proxy.Set("/halvorne/EVMAJ_SETUP.ZIP", ScriptedReply{200, "OK", std::string(1000000, 'z'), 5000, 100});
    WriteIni({true, proxy.Port()});
    const pid_t pid = Start(Chkver("5.10"), 0, x_.Name());
    ClickDownload();
    ASSERT_TRUE(WaitUntil([&] { return Requested(proxy, "EVMAJ_SETUP.ZIP"); }));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const auto pressed = std::chrono::steady_clock::now();
    PressEscInTransferWindow();
    const RunResult r = Wait(pid, 30);
    EXPECT_EQ(r.code, 25);
    EXPECT_LT(std::chrono::steady_clock::now() - pressed, std::chrono::seconds(5)) << "ends at once";
    EXPECT_EQ(ListTree(target_), kOldTree);
}

// The ends where the window stays open, each closed by the user with Esc.
TEST_F(HostRunOnDisplay, WindowsLeftOpenEndWithTheirCodeWhenClosed) {
    struct Case {
        std::string name;
        std::optional<std::string> versionFile; // nullopt: 404
        std::optional<ScriptedReply> newFile;
        bool refused;
        bool dokum;
        std::string lastRequest; // the run has ended once this was asked for
        int code;
    };
    const std::vector<Case> cases = {
        {"version file missing", std::nullopt, std::nullopt, false, false, "verze.txt", 29},
        {"version file of 4 bytes", std::string("5.30"), std::nullopt, false, false, "verze.txt", 29},
        {"no connection", std::nullopt, std::nullopt, true, false, "", 55},
        {"page instead of a version", std::string("<html>"), std::nullopt, false, false, "verze.txt", 99},
        {"documentation missing", std::string("5.30\r\n"), std::nullopt, false, true, "DOKUMENTACE.PDF", 29},
        {"documentation refused with 500", std::string("5.30\r\n"), ScriptedReply{500, "Internal Server Error", ""},
         false, true, "DOKUMENTACE.PDF", 99},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedHttpServer proxy;
        if (c.versionFile)
            proxy.Set("/halvorne/verze.txt", *c.versionFile);
        if (c.newFile)
            proxy.Set("/halvorne/DOKUMENTACE.PDF", *c.newFile);
        WriteIni({true, c.refused ? UnusedLoopbackPort() : proxy.Port()});
        const pid_t pid = Start(c.dokum ? Dokum() : Chkver("5.10"), 0, x_.Name());
        if (!WaitUntil([&] { return !x_.FindWindows("evidence majetku").empty(); })) {
            const RunResult early = Wait(pid, 1);
            FAIL() << "no transfer window; the run " << (early.exited ? "ended with " : "still runs, code ")
                   << early.code;
        }
        if (!c.lastRequest.empty()) {
            ASSERT_TRUE(WaitUntil([&] { return Requested(proxy, c.lastRequest); }));
        }
        // The rest of the run takes milliseconds; a loaded machine gets time
        // to spare. A refused connection has no request to wait for.
        std::this_thread::sleep_for(std::chrono::milliseconds(c.lastRequest.empty() ? 3000 : 1500));
        PressEscInTransferWindow();
        const RunResult r = Wait(pid, 20);
        EXPECT_TRUE(r.exited);
        EXPECT_EQ(r.code, c.code) << "exit code " << r.code;
        EXPECT_EQ(ListTree(target_), kOldTree);
    }
}

TEST_F(HostRunOnDisplay, MissingTargetDirectoryEndsWith25) {
    ScriptedHttpServer proxy;
    proxy.Set("/halvorne/verze.txt", "5.30\r\n");
    proxy.Set("/halvorne/DOKUMENTACE.PDF", "%PDF-1.4 doc");
    WriteIni({true, proxy.Port()});
    const pid_t pid = Start({kMarker, "dokum", "/p:" + target_ + "missing/", "auto"}, 0, x_.Name());
    ASSERT_TRUE(WaitUntil([&] { return Requested(proxy, "DOKUMENTACE.PDF"); }));
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    PressEscInTransferWindow();
    const RunResult r = Wait(pid, 20);
    EXPECT_EQ(r.code, 25);
    EXPECT_EQ(ListTree(target_), kOldTree);
}

TEST_F(HostRunOnDisplay, WriteFailingMidwayEndsWith25AndKeepsTheOldFiles) {
    ScriptedHttpServer proxy;
    proxy.Set("/halvorne/verze.txt", "5.30\r\n");
    proxy.Set("/halvorne/DOKUMENTACE.PDF", std::string(300000, 'p'));
    WriteIni({true, proxy.Port()});
    const pid_t pid = Start(Dokum(), 65536, x_.Name());
    ASSERT_TRUE(WaitUntil([&] { return Requested(proxy, "DOKUMENTACE.PDF"); }));
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    PressEscInTransferWindow();
    const RunResult r = Wait(pid, 20);
    EXPECT_EQ(r.code, 25);
    EXPECT_EQ(ListTree(target_), kOldTree);
    EXPECT_EQ(ReadFile(target_ + "EVMAJ_OLD.ZIP"), "old");
}

// The whole program on a disk too small for the download: a failed save,
// 25 when the window is closed, and the old files stay.
TEST_F(HostRunOnDisplay, FullDiskEndsWith25AndKeepsTheOldFiles) {
    ScriptedHttpServer proxy;
    proxy.Set("/halvorne/verze.txt", "5.30\r\n");
    proxy.Set("/halvorne/DOKUMENTACE.PDF", std::string(1000000, 'p'));
    WriteIni({true, proxy.Port()});
    std::string why;
    if (!MountSmallDisk(target_, 256 * 1024, why))
        GTEST_SKIP() << "no private mounts here: " << why;
    struct Unmount {
        std::string dir;
        ~Unmount() { UnmountSmallDisk(dir); }
    } unmount{target_};
    WriteFile(target_ + "EVMAJ_OLD.ZIP", "old");
    fs::create_directory(target_ + "archiv");
    WriteFile(target_ + "archiv/keep.txt", "k");
    const pid_t pid = Start(Dokum(), 0, x_.Name());
    ASSERT_TRUE(WaitUntil([&] { return Requested(proxy, "DOKUMENTACE.PDF"); }));
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    PressEscInTransferWindow();
    const RunResult r = Wait(pid, 20);
    EXPECT_EQ(r.code, 25);
    EXPECT_EQ(ListTree(target_), kOldTree);
    EXPECT_EQ(ReadFile(target_ + "EVMAJ_OLD.ZIP"), "old");
}
