// Halvorne's documentation download in-process against misbehaving servers:
// the exit code, what is left in the target folder, how much memory the
// client took, and whether the window kept being served while it waited
// (the longest gap between two idle callbacks of the anti-freeze).
#include "HostileCases.h"

#include "startup/gui/HalvorneWindows.h"
#include "startup/gui/Form_Master.h"
#include "transfer/gui/Form_Run.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <chrono>
#include <cstdio>
#include <unistd.h>

using namespace tests::robustness;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

long ResidentBytes() {
    long pages = 0, resident = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(f);
    }
    return resident * ::sysconf(_SC_PAGESIZE);
}

// The five windows as start-up builds them, for a "dokum" run.
class Windows {
public:
    explicit Windows(const TempDir& tmp) {
        target = tmp.prefix() + "target/";
        fs::create_directory(target);
        FillOldTree(target);
        const std::string program = tmp.prefix() + "Halvorne";
        THalvorneWindowsOptions options;
        options.TerminateProcess = [this](int code) { terminations.push_back(code); };
        windows_ = std::make_unique<THalvorneWindows>(
            std::vector<std::string>{program, "+@+", "dokum", "/p:" + target, "auto"}, program, options);
        Form_Run->show();

        // Watch the anti-freeze: when it runs, and how much memory is held.
        auto serve = Form_Run->Flow().AntiFreeze.OnIdle;
        Form_Run->Flow().AntiFreeze.OnIdle = [this, serve] {
            idleTimes.push_back(Clock::now());
            peakResident = std::max(peakResident, ResidentBytes());
            if (serve)
                serve();
        };
    }

    // Runs the download against http://127.0.0.1:port/halvorne/.
    void Run(int port) {
        baseResident = peakResident = ResidentBytes();
        start = Clock::now();
        Form_Run->Flow().SetCheckAndDownloadDokumParams(
            DokumParamSet{"http://127.0.0.1:" + std::to_string(port) + "/halvorne/", "DOKUMENTACE.PDF", target});
        Form_Run->Flow().CheckAndDownloadDokumFiles();
        end = Clock::now();
        peakResident = std::max(peakResident, ResidentBytes());
    }

    // The longest stretch in which the window was not served.
    long LongestGapMs() const {
        long longest = 0;
        Clock::time_point last = start;
        for (auto t : idleTimes) {
            longest = std::max<long>(longest, std::chrono::duration_cast<std::chrono::milliseconds>(t - last).count());
            last = t;
        }
        return std::max<long>(longest, std::chrono::duration_cast<std::chrono::milliseconds>(end - last).count());
    }
    void Report() const {
        std::printf("%ld ms, %zu idle slices, longest gap %ld ms, memory growth %ld KiB\n", ElapsedMs(),
            idleTimes.size(), LongestGapMs(), (peakResident - baseResident) / 1024);
    }
    long ElapsedMs() const { return std::chrono::duration_cast<std::chrono::milliseconds>(end - start).count(); }

    std::string target;
    std::vector<int> terminations;
    std::vector<Clock::time_point> idleTimes;
    Clock::time_point start, end;
    long baseResident = 0, peakResident = 0;

private:
    std::unique_ptr<THalvorneWindows> windows_;
};

// Idle slices are 250 ms; a loaded machine or a sanitizer build may add to
// that, but a window that is not served for a whole second is frozen.
constexpr long kMaxGapMs = 1000;
constexpr long kMaxGrowth = 100L * 1024 * 1024;

class HostileDocument : public ::testing::TestWithParam<Case> {};

// The version file is served normally; the documentation file is not.
TEST_P(HostileDocument, ExitCodeMemoryResponsivenessAndTarget) {
    const Case& c = GetParam();
    TempDir tmp;
    Server server([&c](Connection& conn, int index) {
        conn.ReadRequest();
        if (index == 0)
            conn.Send(Response(kVersionFile));
        else
            c.play(conn);
    });
    Windows w(tmp);
    w.Run(server.Port());
    w.Report();

    EXPECT_EQ(Form_Master->Run().RunParameters.ExitCode, c.exitCode);
    ASSERT_EQ(server.Connections(), 2);
    EXPECT_EQ(server.RequestLines().at(1), "GET /halvorne/DOKUMENTACE.PDF HTTP/1.0");
    EXPECT_LE(w.LongestGapMs(), kMaxGapMs) << "over " << w.ElapsedMs() << " ms";
    EXPECT_LE(w.peakResident - w.baseResident, kMaxGrowth);
    if (c.saves) {
        std::set<std::string> expected = {"DOKUMENTACE.PDF", "archiv/", "archiv/keep.txt"};
        EXPECT_EQ(ListTree(w.target), expected);
        EXPECT_EQ(ReadFile(w.target + "DOKUMENTACE.PDF"), "%PDF-slow");
        ASSERT_FALSE(w.terminations.empty());
        EXPECT_EQ(w.terminations.front(), 21);
    } else {
        // Nothing deleted, nothing half written; the window stays open with
        // the failure's message.
        EXPECT_EQ(ListTree(w.target), kOldTree);
        EXPECT_TRUE(w.terminations.empty());
        EXPECT_TRUE(Form_Run->isVisible());
        EXPECT_FALSE(Form_Run->Label_Msg->text().isEmpty());
    }
}

INSTANTIATE_TEST_SUITE_P(Servers, HostileDocument, ::testing::ValuesIn(kCases), CaseName);

class HostileVersionFile : public ::testing::TestWithParam<Case> {};

// Whatever answers the version-file request, the run ends with 29 and the
// window closes itself; the target folder is not touched.
TEST_P(HostileVersionFile, EndsWithNothingToDownload) {
    const Case& c = GetParam();
    if (c.saves)
        GTEST_SKIP() << "a slow but correct answer is a normal version file";
    TempDir tmp;
    Server server([&c](Connection& conn, int index) {
        conn.ReadRequest();
        if (index == 0)
            c.play(conn);
    });
    Windows w(tmp);
    w.Run(server.Port());
    w.Report();

    EXPECT_EQ(Form_Master->Run().RunParameters.ExitCode, 29);
    // The window closed itself and so ended the run (a test's end of the
    // process returns, so later closes may follow; the first one counts).
    ASSERT_FALSE(w.terminations.empty());
    EXPECT_EQ(w.terminations.front(), 29);
    EXPECT_EQ(server.Connections(), 1);
    EXPECT_EQ(ListTree(w.target), kOldTree);
    EXPECT_LE(w.LongestGapMs(), kMaxGapMs);
    EXPECT_LE(w.peakResident - w.baseResident, kMaxGrowth);
}

INSTANTIATE_TEST_SUITE_P(Servers, HostileVersionFile, ::testing::ValuesIn(kCases), CaseName);

// A server that accepts and never answers keeps the window served; "Storno"
// during the download ends the run at once with 25, leaving the folder as
// it was.
TEST(StalledServer, StornoDuringTheDownloadEndsWith25) {
    TempDir tmp;
    Server server([](Connection& conn, int index) {
        conn.ReadRequest();
        if (index == 0)
            conn.Send(Response(kVersionFile));
        else
            conn.WaitForClose(30000);
    });
    Windows w(tmp);
    QTimer::singleShot(1500, Form_Run, [] { Form_Run->BitBtn_Storno->click(); });
    w.Run(server.Port());
    w.Report();

    ASSERT_FALSE(w.terminations.empty());
    EXPECT_EQ(w.terminations.front(), 25);
    EXPECT_EQ(ListTree(w.target), kOldTree);
    EXPECT_GE(w.ElapsedMs(), 1400);
    EXPECT_LE(w.LongestGapMs(), kMaxGapMs);
    // About six idle slices in the 1.5 s before the click.
    EXPECT_GE(w.idleTimes.size(), 4u);
}

} // namespace
