// Halvorne.exe run under wine as the asset-register application runs it on
// Windows: copied with its configuration file into a temporary folder,
// started with the launch marker and a task, on a private X server where
// xdotool answers its windows as a user would. Its server is nginx on
// loopback, reached as the configured proxy (nginx answers the proxy
// form of a request from its own files), so the program's stored address
// needs no fixed port. The exit code and the target directory are what
// the host sees.
//   halvorne_exe_wine_test   (HALVORNE_WIN_EXE: the program;
//                             HALVORNE_WINE_RUN: tests/windows/wine-run;
//                             HALVORNE_TEST_MARKER: its launch marker;
//                             WINEPREFIX: the test prefix;
//                             HALVORNE_SCREENSHOT_DIR, when set: each
//                             window reached is saved there as a PNG, for
//                             scripts/screenshots)
#include "tests/support/Ports.h"
#include "tests/support/Subprocess.h"
#include "tests/support/TempDir.h"
#include "tests/support/WebServers.h"
#include "tests/support/XWindowProbe.h"
#include "tests/support/XvfbDisplay.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

using namespace tests::support;
namespace fs = std::filesystem;
using Tree = std::set<std::string>;

namespace {

std::string Env(const char* name) {
    const char* v = std::getenv(name);
    if (v == nullptr || *v == '\0')
        throw std::runtime_error(std::string(name) + " is not set");
    return v;
}

// The same folder as wine's drive Z: sees it, with a trailing separator.
std::string WindowsPath(const std::string& unixDir) {
    std::string p = "Z:" + unixDir;
    for (char& c : p)
        if (c == '/')
            c = '\\';
    if (p.back() != '\\')
        p += '\\';
    return p;
}

const std::string kNewVersion = "5.30\r\nNová verze\r\n";
const std::string kSetup(300000, 'z');
const std::string kDokum = "%PDF-1.4 dokumentace";
const Tree kOldTree = {"EVMAJ_OLD.ZIP", "archiv/", "archiv/keep.txt"};

class HalvorneExe : public ::testing::Test {
protected:
    // One X server for the whole program: each wine process that opens a
    // display costs time, a new server more.
    static void SetUpTestSuite() { display_ = new XvfbDisplay(); }
    static void TearDownTestSuite() {
        delete display_;
        display_ = nullptr;
    }

    void SetUp() override {
        program_ = tmp_.prefix() + "Halvorne.exe";
        fs::copy_file(Env("HALVORNE_WIN_EXE"), program_);
        target_ = tmp_.prefix() + "target/";
        fs::create_directories(target_ + "archiv");
        WriteFile(target_ + "EVMAJ_OLD.ZIP", "old");
        WriteFile(target_ + "archiv/keep.txt", "k");
        fs::create_directories(www_ + "/halvorne");
        WriteFile(www_ + "/halvorne/verze.txt", kNewVersion);
        WriteFile(www_ + "/halvorne/EVMAJ_SETUP.ZIP", kSetup);
        WriteFile(www_ + "/halvorne/DOKUMENTACE.PDF", kDokum);
    }
    void TearDown() override { started_.clear(); }

    // The program reaches its server through this loopback port.
    void WriteIni(int proxyPort) {
        WriteFile(tmp_.prefix() + "Halvorne.INI",
            "[Proxy Server]\r\nUseProxy=1\r\nProxyName=127.0.0.1\r\nProxyPort=" + std::to_string(proxyPort) + "\r\n");
    }
    std::unique_ptr<NginxServer> Server(const NginxOptions& options = {}) {
        auto s = std::make_unique<NginxServer>(www_, options);
        if (!s->Running())
            throw std::runtime_error(s->Error());
        WriteIni(s->Port());
        return s;
    }

    Subprocess& Start(std::vector<std::string> args) {
        args.insert(args.begin(), {Env("HALVORNE_WINE_RUN"), program_});
        SubprocessOptions o;
        o.env = {{"DISPLAY", display_->Name()}};
        o.workDir = tmp_.path().string();
        started_.push_back(std::make_unique<Subprocess>(args, o));
        return *started_.back();
    }
    // The exit code, or -1 when the run was still going at the deadline.
    static int Wait(Subprocess& run, int seconds = 30) {
        if (!run.WaitFor(std::chrono::seconds(seconds))) {
            run.Kill();
            return -1;
        }
        return run.Exited() ? run.ExitCode() : -run.TermSignal();
    }

    std::vector<std::string> Task(const std::string& task) {
        std::vector<std::string> a = {Env("HALVORNE_TEST_MARKER"), task};
        if (task == "chkver")
            a.push_back("/v:5.10");
        a.push_back("/p:" + WindowsPath(target_));
        a.push_back("auto");
        return a;
    }

    // The window whose caption matches, mapped, with its program at rest.
    std::string WindowAtRest(Subprocess& run, const std::string& caption) {
        const auto ids = display_->WaitForWindow(caption, std::chrono::seconds(30));
        if (ids.empty())
            return {};
        WaitUntilIdle(run.Pid());
        return ids.front();
    }
    // Whether the window was unmapped within the time-out. Without a
    // window manager to acknowledge it, wine takes about two seconds to
    // withdraw a window it hides.
    // (A window destroyed meanwhile is gone too, hence xdotool, which
    // survives asking about it.)
    bool Gone(const std::string& window, const std::string& caption) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        for (;;) {
            const auto shown = display_->WaitForWindow(caption, std::chrono::milliseconds(0));
            if (std::find(shown.begin(), shown.end(), window) == shown.end())
                return true;
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
    void Key(const std::string& window, const std::string& key) {
        display_->Xdotool({"windowfocus", "--sync", window});
        display_->Xdotool({"key", key});
    }
    // The window as a PNG in HALVORNE_SCREENSHOT_DIR, when that is set.
    static bool TakingShots() {
        const char* dir = std::getenv("HALVORNE_SCREENSHOT_DIR");
        return dir != nullptr && *dir != '\0';
    }
    static void Shot(const std::string& window, const std::string& name) {
        const char* dir = std::getenv("HALVORNE_SCREENSHOT_DIR");
        if (!TakingShots() || window.empty())
            return;
        Subprocess import(
            {"import", "-display", display_->Name(), "-window", window, std::string(dir) + "/" + name + ".png"});
        import.WaitFor(std::chrono::seconds(20));
    }
    void Click(const std::string& window, int x, int y) {
        display_->Xdotool({"mousemove", "--window", window, std::to_string(x), std::to_string(y), "click", "1"});
    }

    static inline XvfbDisplay* display_ = nullptr;
    TempDir tmp_{"halvorne-wine-"};
    std::string www_ = tmp_.prefix() + "www";
    std::string program_;
    std::string target_;
    std::vector<std::unique_ptr<Subprocess>> started_;
};

TEST_F(HalvorneExe, DownloadChosenInTheNextStepDialogSavesTheNewVersionWith21) {
    // For a picture of the gauge on its way, the download takes a while.
    auto nginx = Server(NginxOptions{.rate = TakingShots() ? "64k" : ""});
    Subprocess& run = Start(Task("chkver"));
    const std::string dialog = WindowAtRest(run, "Nastavení dalšího postupu");
    ASSERT_FALSE(dialog.empty()) << "no next-step dialog";
    // The transfer window under it: its caption, and kept above others.
    // (The hidden main window has the same caption.)
    const auto transfer = display_->WaitForWindow("Kontrola verzí evidence majetku", std::chrono::milliseconds(0));
    ASSERT_FALSE(transfer.empty());
    const XWindowProbe probe(display_->Name());
    bool above = false;
    for (const std::string& id : transfer)
        above |= probe.HasNetWmState(std::stoul(id), "_NET_WM_STATE_ABOVE");
    EXPECT_TRUE(above) << "the transfer window is not always on top";
    Shot(dialog, "next-step-dialog");
    Click(dialog, 152 + 124, 112 + 12); // "2. Stahnout novou verzi"
    if (TakingShots()) {
        std::this_thread::sleep_for(std::chrono::seconds(2));
        Shot(transfer.front(), "transfer-downloading");
    }
    EXPECT_EQ(Wait(run), 21);
    EXPECT_EQ(ListTree(target_), (Tree{"EVMAJ_SETUP.ZIP", "archiv/", "archiv/keep.txt"}));
    EXPECT_TRUE(ReadFile(target_ + "EVMAJ_SETUP.ZIP") == kSetup) << "saved bytes differ";
}

TEST_F(HalvorneExe, DocumentationSavedWith21) {
    auto nginx = Server();
    EXPECT_EQ(Wait(Start(Task("dokum"))), 21);
    EXPECT_EQ(ListTree(target_), (Tree{"DOKUMENTACE.PDF", "archiv/", "archiv/keep.txt"}));
    EXPECT_EQ(ReadFile(target_ + "DOKUMENTACE.PDF"), kDokum);
}

TEST_F(HalvorneExe, NoNewerVersionEndsWith29) {
    auto nginx = Server();
    WriteFile(www_ + "/halvorne/verze.txt", "5.10\r\n");
    EXPECT_EQ(Wait(Start(Task("chkver"))), 29);
    EXPECT_EQ(ListTree(target_), kOldTree);
}

// The ends where the transfer window stays open with its message; the user
// closes it with Esc ("Storno" has the focus) and the run ends with the
// code the operation left.
TEST_F(HalvorneExe, WindowLeftOpenEndsWithItsCodeOnEsc) {
    struct Case {
        const char* name;
        bool serverUp;
        const char* task;
        bool missingTarget;
        int code;
    };
    for (const Case c :
        {Case{"no-connection", false, "chkver", false, 55}, Case{"save-failed", true, "dokum", true, 25}}) {
        SCOPED_TRACE(c.name);
        std::unique_ptr<NginxServer> nginx;
        if (c.serverUp)
            nginx = Server();
        else
            WriteIni(FreeLoopbackPort());
        std::vector<std::string> args = Task(c.task);
        if (c.missingTarget)
            args[2] = "/p:" + WindowsPath(target_ + "missing");
        Subprocess& run = Start(args);
        const std::string window = WindowAtRest(run, "evidence majetku");
        ASSERT_FALSE(window.empty()) << "no transfer window";
        Shot(window, std::string("transfer-") + c.name);
        Key(window, "Escape");
        EXPECT_EQ(Wait(run, 20), c.code);
        EXPECT_EQ(ListTree(target_), kOldTree);
    }
}

TEST_F(HalvorneExe, InvalidParametersEndWith99AfterTheErrorBox) {
    Subprocess& run = Start({Env("HALVORNE_TEST_MARKER"), "auto"});
    const std::string box = WindowAtRest(run, "^Chyba$");
    ASSERT_FALSE(box.empty()) << "no error box";
    Shot(box, "message-invalid-parameters");
    EXPECT_FALSE(run.Finished());
    Key(box, "Return");
    EXPECT_EQ(Wait(run), 99);
}

// Without "auto" the main window: F4 opens the settings dialog (Esc closes
// it), F1 shows where the configuration file is, F9 runs the check in the
// transfer window in its place ("Storno", here by Esc, brings it back),
// and the desktop's close request (a window manager's close box) ends the
// program with the exit code the check left: 55, no connection.
TEST_F(HalvorneExe, MainWindowTakesItsKeysAndEndsOnTheDesktopsClose) {
    WriteIni(FreeLoopbackPort());
    Subprocess& run = Start({Env("HALVORNE_TEST_MARKER"), "dokum", "/p:" + WindowsPath(target_)});
    const std::string caption = "^Stažení dokumentace evidence majetku  - verze";
    const std::string main = WindowAtRest(run, caption);
    ASSERT_FALSE(main.empty()) << "no main window";
    Shot(main, "main-window");

    Key(main, "F4");
    const std::string settings = WindowAtRest(run, "^Nastavení$");
    ASSERT_FALSE(settings.empty()) << "F4 opened no settings dialog";
    Shot(settings, "settings-dialog");
    Key(settings, "Escape");
    EXPECT_TRUE(Gone(settings, "^Nastavení$")) << "Esc left it open";

    Key(main, "F1");
    const std::string box = WindowAtRest(run, "^Informace$");
    ASSERT_FALSE(box.empty()) << "F1 showed no information box";
    Shot(box, "message-ini-file");
    Key(box, "Return");
    ASSERT_TRUE(Gone(box, "^Informace$"));

    Key(main, "F9");
    ASSERT_TRUE(Gone(main, caption)) << "the main window stayed during the check";
    // The transfer window has the same caption; it is the one shown now.
    const std::string transfer = WindowAtRest(run, caption);
    ASSERT_FALSE(transfer.empty()) << "F9 showed no transfer window";
    Shot(transfer, "transfer-main-window-mode");
    Key(transfer, "Escape");
    ASSERT_TRUE(Gone(transfer, caption)) << "Storno left the transfer window open";
    ASSERT_EQ(WindowAtRest(run, caption), main) << "the main window did not come back";

    // (While a box or the check were up, the main window would be disabled
    // and the close request would go unanswered.)
    const XWindowProbe probe(display_->Name());
    ASSERT_TRUE(probe.SendDeleteWindow(std::stoul(main)));
    EXPECT_EQ(Wait(run), 55);
    EXPECT_EQ(ListTree(target_), kOldTree);
}

} // namespace
