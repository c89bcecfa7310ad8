// Halvorne run from outside, as the asset-register application runs it: a
// program built with its own stored texts (server 127.0.0.1:HOST_RUN_PORT), copied
// with its configuration file into a temporary folder, started with the
// launch marker, the task, "/v:", "/p:" and "auto"; the exit code and the
// target directory are what the host sees.
#include "tests/support/LoopbackServer.h"
#include "tests/support/Ports.h"
#include "tests/support/SmallDisk.h"
#include "tests/support/Subprocess.h"
#include "tests/support/TempDir.h"
#include "tests/support/WebServers.h"
#include "tests/support/XvfbDisplay.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <thread>

#ifndef HOST_RUN_PROGRAM
#error "HOST_RUN_PROGRAM must name the program under test"
#endif
#ifndef HOST_RUN_PORT
#error "HOST_RUN_PORT must be the port of the program's stored server address"
#endif

using namespace tests::support;
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
    void TearDown() override { started_.clear(); }

    void WriteIni(const Proxy& p) {
        WriteFile(tmp_.prefix() + "Halvorne.INI", "[Proxy Server]\r\nUseProxy=" + std::string(p.use ? "1" : "0") +
                                                      "\r\nProxyName=127.0.0.1\r\nProxyPort=" + std::to_string(p.port) +
                                                      "\r\n");
    }

    // Starts the program with the host's arguments; fileSizeLimit > 0
    // limits every file it writes. With a display it runs on that X server, else offscreen.
    Subprocess& Start(std::vector<std::string> args, long fileSizeLimit = 0, const std::string& display = "") {
        args.insert(args.begin(), program_);
        SubprocessOptions o;
        const std::string home = (tmp_.path() / "home").string();
        o.env = {{"HOME", home}, {"XDG_CONFIG_HOME", home}};
        if (display.empty()) {
            o.env["QT_QPA_PLATFORM"] = "offscreen";
        } else {
            o.env["QT_QPA_PLATFORM"] = "xcb";
            o.env["DISPLAY"] = display;
        }
        o.fileSizeLimit = fileSizeLimit;
        started_.push_back(std::make_unique<Subprocess>(args, o));
        return *started_.back();
    }

    // Waits for the program's end; kills it at the deadline.
    static RunResult Wait(Subprocess& run, int seconds) {
        RunResult r;
        if (run.WaitFor(std::chrono::seconds(seconds))) {
            r.exited = run.Exited();
            r.code = run.Exited() ? run.ExitCode() : -run.TermSignal();
        } else {
            run.Kill();
        }
        return r;
    }

    RunResult Run(std::vector<std::string> args, int seconds = 30, long fileSizeLimit = 0) {
        return Wait(Start(std::move(args), fileSizeLimit), seconds);
    }

    std::vector<std::string> Chkver(const std::string& installed) {
        return {kMarker, "chkver", "/v:" + installed, "/p:" + target_, "auto"};
    }
    std::vector<std::string> Dokum() { return {kMarker, "dokum", "/p:" + target_, "auto"}; }

    TempDir tmp_;
    std::vector<std::unique_ptr<Subprocess>> started_;
    std::string program_;
    std::string target_;
};

const Tree kOldTree = {"EVMAJ_OLD.ZIP", "archiv/", "archiv/keep.txt"};

// nginx on the program's fixed port, serving a copy of the demo files.
std::unique_ptr<NginxServer> DemoServer() {
    auto s = std::make_unique<NginxServer>(kDemo, NginxOptions{.fixedPort = HOST_RUN_PORT, .copyRoot = true});
    if (!s->Running())
        throw std::runtime_error(s->Error());
    return s;
}

} // namespace

TEST_F(HostRun, NoNewerVersionEndsWith29DirectlyAndThroughTinyproxy) {
    auto nginx = DemoServer();
    TinyProxyServer tinyproxy;
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
    TinyProxyServer tinyproxy;
    ASSERT_TRUE(tinyproxy.Running()) << tinyproxy.Error();
    for (bool viaProxy : {false, true}) {
        SCOPED_TRACE(viaProxy ? "through tinyproxy" : "direct");
        WriteFile(target_ + "EVMAJ_OLD.ZIP", "old");
        WriteIni({viaProxy, tinyproxy.Port()});
        const RunResult r = Run(Dokum());
        EXPECT_EQ(r.code, 21);
        EXPECT_EQ(ListTree(target_), (Tree{"DOKUMENTACE.PDF", "archiv/", "archiv/keep.txt"}));
        EXPECT_TRUE(ReadFile(target_ + "DOKUMENTACE.PDF") == ReadFile(kDemo + "/halvorne/DOKUMENTACE.PDF"))
            << "saved bytes differ";
    }
}

TEST_F(HostRun, MissingVersionFileEndsTheDocumentationDownloadWith29) {
    auto nginx = DemoServer();
    fs::remove(nginx->Root() + "/halvorne/verze.txt");
    TinyProxyServer tinyproxy;
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
    WriteIni({true, FreeLoopbackPort()});
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
    // Esc into a window through the server's own input (XTEST), after giving
    // it the focus. Sent to the window directly instead (xdotool key
    // --window), the release can miss a window that the press has closed:
    // the server then holds the key down and its autorepeat closes the next
    // run's window too, since the display lives on between runs.
    void PressEsc(const std::string& window) {
        x_.Xdotool({"windowfocus", "--sync", window});
        x_.Xdotool({"key", "Escape"});
    }
    // Esc in the transfer window once the run waits for the user (its
    // window is mapped and the program idle in its event loop): the
    // "Storno" button has the focus.
    void PressEscInTransferWindow(Subprocess& run) {
        const auto ids = x_.WaitForWindow("evidence majetku");
        ASSERT_FALSE(ids.empty()) << "no transfer window";
        ASSERT_TRUE(WaitUntilIdle(run.Pid()))
            << "the run did not come to rest" << (run.Finished() ? ": it ended by itself" : "");
        PressEsc(ids.front());
    }
    // Clicks a button of the next-step dialog at its place in the dialog,
    // once the dialog is mapped and the program waits in it.
    void ClickInDialog(const Subprocess& run, int x, int y) {
        const auto ids = x_.WaitForWindow("Nastavení dalšího postupu");
        ASSERT_FALSE(ids.empty()) << "no next-step dialog";
        ASSERT_TRUE(WaitUntilIdle(run.Pid())) << "the dialog did not come to rest";
        x_.Xdotool({"mousemove", "--window", ids.front(), std::to_string(x), std::to_string(y), "click", "1"});
    }
    void ClickDownload(const Subprocess& run) { ClickInDialog(run, 152 + 124, 112 + 12); }
    void ClickStorno(const Subprocess& run) { ClickInDialog(run, 240 + 40, 152 + 12); }

    XvfbDisplay x_;
};

TEST_F(HostRunOnDisplay, DownloadChosenInTheDialogSavesTheNewVersionWith21) {
    auto nginx = DemoServer();
    WriteIni({false, 0});
    Subprocess& run = Start(Chkver("5.10"), 0, x_.Name());
    ClickDownload(run);
    const RunResult r = Wait(run, 60);
    EXPECT_EQ(r.code, 21);
    EXPECT_EQ(ListTree(target_), (Tree{"EVMAJ_SETUP.ZIP", "archiv/", "archiv/keep.txt"}));
    EXPECT_TRUE(ReadFile(target_ + "EVMAJ_SETUP.ZIP") == ReadFile(kDemo + "/halvorne/EVMAJ_SETUP.ZIP"))
        << "saved bytes differ";
}

TEST_F(HostRunOnDisplay, StornoInTheDialogEndsWith0) {
    auto nginx = DemoServer();
    WriteIni({false, 0});
    Subprocess& run = Start(Chkver("5.10"), 0, x_.Name());
    ClickStorno(run);
    const RunResult r = Wait(run, 30);
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(ListTree(target_), kOldTree);
}

TEST_F(HostRunOnDisplay, StornoDuringTheDownloadEndsAtOnceWith25) {
    ScriptedHttpServer proxy;
    proxy.Set("/halvorne/verze.txt", "5.30\r\n");
    // About 20 s at this pace: the Esc comes long before the end.
    proxy.Set("/halvorne/EVMAJ_SETUP.ZIP", ScriptedReply{200, "OK", std::string(1000000, 'z'), 5000, 100});
    WriteIni({true, proxy.Port()});
    Subprocess& run = Start(Chkver("5.10"), 0, x_.Name());
    ClickDownload(run);
    ASSERT_TRUE(WaitUntil([&] { return Requested(proxy, "EVMAJ_SETUP.ZIP"); }));
    // The download is under way (paced by the server) when Esc comes.
    const auto ids = x_.WaitForWindow("evidence majetku");
    ASSERT_FALSE(ids.empty()) << "no transfer window";
    const auto pressed = std::chrono::steady_clock::now();
    PressEsc(ids.front());
    const RunResult r = Wait(run, 30);
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
        WriteIni({true, c.refused ? FreeLoopbackPort() : proxy.Port()});
        Subprocess& run = Start(c.dokum ? Dokum() : Chkver("5.10"), 0, x_.Name());
        if (x_.WaitForWindow("evidence majetku").empty()) {
            const RunResult early = Wait(run, 1);
            FAIL() << "no transfer window; the run "
                   << (early.exited          ? "ended with "
                          : run.TermSignal() ? "died of signal "
                                             : "still runs, code ")
                   << (run.TermSignal() ? run.TermSignal() : early.code);
        }
        if (!c.lastRequest.empty()) {
            ASSERT_TRUE(WaitUntil([&] { return proxy.Answered(c.lastRequest); }));
        }
        PressEscInTransferWindow(run);
        const RunResult r = Wait(run, 20);
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
    Subprocess& run = Start({kMarker, "dokum", "/p:" + target_ + "missing/", "auto"}, 0, x_.Name());
    ASSERT_TRUE(WaitUntil([&] { return proxy.Answered("DOKUMENTACE.PDF"); }));
    PressEscInTransferWindow(run);
    const RunResult r = Wait(run, 20);
    EXPECT_EQ(r.code, 25);
    EXPECT_EQ(ListTree(target_), kOldTree);
}

TEST_F(HostRunOnDisplay, WriteFailingMidwayEndsWith25AndKeepsTheOldFiles) {
    ScriptedHttpServer proxy;
    proxy.Set("/halvorne/verze.txt", "5.30\r\n");
    proxy.Set("/halvorne/DOKUMENTACE.PDF", std::string(300000, 'p'));
    WriteIni({true, proxy.Port()});
    Subprocess& run = Start(Dokum(), 65536, x_.Name());
    ASSERT_TRUE(WaitUntil([&] { return proxy.Answered("DOKUMENTACE.PDF"); }));
    PressEscInTransferWindow(run);
    const RunResult r = Wait(run, 20);
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
    Subprocess& run = Start(Dokum(), 0, x_.Name());
    ASSERT_TRUE(WaitUntil([&] { return Requested(proxy, "DOKUMENTACE.PDF"); }));
    // The disk refuses the body while it arrives; the run then waits for
    // the user with the failed save on the screen.
    PressEscInTransferWindow(run);
    const RunResult r = Wait(run, 20);
    EXPECT_EQ(r.code, 25);
    EXPECT_EQ(ListTree(target_), kOldTree);
    EXPECT_EQ(ReadFile(target_ + "EVMAJ_OLD.ZIP"), "old");
}

// An unsigned program over plain HTTP: a chunked body whose size line is no
// number is a broken response, not the end of the body. The cut-off file is
// not saved (55, a failed connection), where it was once saved with 21.
TEST_F(HostRunOnDisplay, AChunkSizeThatIsNoNumberIsABrokenResponse) {
    LoopbackServer proxy([](Connection& c, int) {
        const std::string request = c.ReadRequest();
        if (request.find("verze.txt") != std::string::npos) {
            c.Send(Response("5.30\r\n"));
        } else {
            c.Send("HTTP/1.0 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\n%PDF-\r\nnot-a-size\r\n\r\n");
        }
        c.Close();
    });
    WriteIni({true, proxy.Port()});
    Subprocess& run = Start(Dokum(), 0, x_.Name());
    PressEscInTransferWindow(run);
    EXPECT_EQ(Wait(run, 20).code, 55);
    EXPECT_EQ(ListTree(target_), kOldTree);
}
