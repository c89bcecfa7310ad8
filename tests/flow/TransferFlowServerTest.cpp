// The transfer flow's operations against servers on the loopback interface,
// watched through the recording view: the version check's outcomes, the
// next-step loop, the documentation download, and what a second request
// while one waits does.
#include "tests/support/FakeViews.h"
#include "tests/support/LoopbackServer.h"
#include "tests/support/TempDir.h"

#include "FakeDesktop.h"

#include "transfer/core/ErrorClass.h"
#include "transfer/flow/TransferFlow.h"
#include "transfer/flow/TransferTexts.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

namespace {

using namespace transfer::flow;
using tests::support::RecordingTransferHost;
using tests::support::RecordingTransferView;
using tests::support::ScriptedHttpServer;
using tests::support::ScriptedServer;
using tests::support::ScriptStep;
using tests::support::TempDir;

class TransferFlowServer : public ::testing::Test {
protected:
    void SetUp() override {
        flow = std::make_unique<TransferFlow>(view, host);
        view.Flow = flow.get();
    }
    void Aim(const std::string& serverDir, const std::string& installed = "5.10") {
        VersionParamSet set;
        set.CurrentVersion = installed;
        set.ServerDirAddress = serverDir;
        set.VersionFileName = "verze.txt";
        set.NewFileName = "SETUP.ZIP";
        set.TargetDir = target.prefix();
        flow->SetCheckAndDownloadVersionParams(set, set);
    }
    std::string Saved() const { return tests::support::ReadFile(target.path() / "SETUP.ZIP"); }

    TempDir target;
    ScriptedHttpServer server;
    RecordingTransferView view;
    RecordingTransferHost host;
    std::unique_ptr<TransferFlow> flow;
};

TEST_F(TransferFlowServer, ANewerVersionAskedForIsDownloadedAndTheWindowCloses) {
    server.Set("/halvorne/verze.txt", "5.12\r\nnov\xE1 verze");
    server.Set("/halvorne/SETUP.ZIP", std::string(30000, 'z'));
    Aim(server.Address("halvorne"));
    view.Answers.push_back({NextStep::Download, false});
    view.ShowWindow();
    EXPECT_TRUE(flow->CheckAndDownloadVersionFiles(false));
    EXPECT_EQ(view.AskedVersions, std::vector<std::string>{"5.12"});
    EXPECT_EQ(host.Code, transfer::kExitSaved);
    EXPECT_EQ(Saved(), std::string(30000, 'z'));
    EXPECT_EQ(view.ByteCount.Text, "Staženo: 29 kB z celkem 29 kB");
    EXPECT_EQ(view.GaugePosition, view.GaugeMaximum);
    // Saved: the window goes and the automatic run ends with 21.
    EXPECT_EQ(view.Closes, 1);
    EXPECT_EQ(host.Endings, std::vector<int>{transfer::kExitSaved});
}

TEST_F(TransferFlowServer, StornoInTheDialogEndsWith0AndKeepsTheOldFiles) {
    server.Set("/halvorne/verze.txt", "5.12\r\n");
    Aim(server.Address("halvorne"));
    tests::support::WriteFile(target.path() / "SETUP.ZIP", "old");
    view.ShowWindow();
    flow->CheckAndDownloadVersionFiles(false);
    EXPECT_EQ(view.AskedVersions.size(), 1u);
    EXPECT_EQ(host.Code, transfer::kExitNone);
    EXPECT_EQ(Saved(), "old");
    EXPECT_FALSE(server.Answered("SETUP.ZIP"));
    EXPECT_EQ(view.Closes, 1);
    EXPECT_EQ(host.Endings, std::vector<int>{0});
}

TEST_F(TransferFlowServer, NothingNewerEndsWith29WithoutAsking) {
    for (const std::string installed : {"5.12", "6.00"}) {
        SCOPED_TRACE(installed);
        host.Endings.clear();
        server.Set("/halvorne/verze.txt", "5.12\r\n");
        Aim(server.Address("halvorne"), installed);
        view.ShowWindow();
        flow->CheckAndDownloadVersionFiles(false);
        EXPECT_TRUE(view.AskedVersions.empty());
        EXPECT_EQ(host.Code, transfer::kExitNothingToDownload);
        EXPECT_EQ(host.Endings, std::vector<int>{29});
        EXPECT_EQ(view.Status.Text, texts::kEnded);
    }
}

TEST_F(TransferFlowServer, AVersionTextThatIsNoVersionEndsWith99AndStaysOpen) {
    server.Set("/halvorne/verze.txt", "<html>");
    Aim(server.Address("halvorne"));
    view.ShowWindow();
    flow->CheckAndDownloadVersionFiles(false);
    EXPECT_EQ(host.Code, transfer::kExitOtherFailure);
    EXPECT_EQ(view.Message.Text, std::string(texts::kBadVersion) + "<html"); // the first five bytes
    EXPECT_EQ(view.Message.Colour, kRed);
    EXPECT_EQ(view.Closes, 0);
    EXPECT_TRUE(host.Endings.empty());
    // And the installed one: an empty "/v:" is named as such.
    server.Set("/halvorne/verze.txt", "5.12\r\n");
    Aim(server.Address("halvorne"), "");
    flow->CheckAndDownloadVersionFiles(false);
    EXPECT_EQ(view.Message.Text, std::string(texts::kBadVersion) + texts::kEmptyText);
}

// The next-step dialog comes back after the change notes until the user
// chooses; the notes' address follows the chosen format.
TEST_F(TransferFlowServer, TheDialogComesBackAfterTheChangeNotes) {
    server.Set("/halvorne/verze.txt", "5.12\r\n");
    Aim(server.Address("halvorne"));
    tests::transfer::FakeDesktop desktop;
    const std::string log = desktop.Root() + "/browser.log";
    desktop.RegisterBrowser("web", "echo \"$1\" >> '" + log + "'\nexit 0");
    view.Answers = {{NextStep::ShowChanges, true}, {NextStep::ShowChanges, false}, {NextStep::Cancel, false}};
    view.ShowWindow();
    flow->CheckAndDownloadVersionFiles(false);
    EXPECT_EQ(view.AskedVersions.size(), 3u);
    EXPECT_EQ(tests::transfer::FakeDesktop::ReadFile(log), host.PdfAddress + "\n" + host.HtmlAddress + "\n");
    EXPECT_TRUE(host.Messages.empty());
    // The window went away for each look and came back connected.
    EXPECT_EQ(std::count(view.Log.begin(), view.Log.end(), "hide"), 2);
    EXPECT_FALSE(flow->ReshowConnected);
    EXPECT_EQ(host.Code, transfer::kExitNone);
}

TEST_F(TransferFlowServer, TheDocumentationIsFetchedWhenTheDirectoryAnswers) {
    server.Set("/halvorne/verze.txt", "5.12\r\n");
    server.Set("/halvorne/DOKUMENTACE.PDF", "%PDF-1.4 dokumentace");
    DokumParamSet set{server.Address("halvorne"), "DOKUMENTACE.PDF", target.prefix()};
    flow->SetCheckAndDownloadDokumParams(set);
    view.ShowWindow();
    flow->CheckAndDownloadDokumFiles();
    EXPECT_EQ(host.Code, transfer::kExitSaved);
    EXPECT_EQ(tests::support::ReadFile(target.path() / "DOKUMENTACE.PDF"), "%PDF-1.4 dokumentace");
    EXPECT_EQ(host.Endings, std::vector<int>{21});
    // Without the version file: nothing to download, and the window goes.
    host.Endings.clear();
    DokumParamSet missing{server.Address("elsewhere"), "DOKUMENTACE.PDF", target.prefix()};
    flow->SetCheckAndDownloadDokumParams(missing);
    view.ShowWindow();
    flow->CheckAndDownloadDokumFiles();
    EXPECT_EQ(host.Code, transfer::kExitNothingToDownload);
    EXPECT_EQ(host.Endings, std::vector<int>{29});
}

// While a check waits for the server, window events run; a second check
// asked for meanwhile runs nothing and answers with the running one's state.
TEST_F(TransferFlowServer, ASecondCheckWhileOneWaitsRunsNothing) {
    ScriptedServer silent({ScriptStep::Read(), ScriptStep::HoldOpen()});
    Aim("http://127.0.0.1:" + std::to_string(silent.Port()) + "/halvorne/");
    int inner = 0;
    bool innerResult = false;
    view.OnPump = [&] {
        if (inner++ == 0) {
            EXPECT_TRUE(flow->VersionCheckRunning());
            innerResult = flow->CheckAndDownloadVersionFiles(true);
            // Ends the wait: the socket goes, the request fails.
            flow->Http.Disconnect();
        }
    };
    view.ShowWindow();
    flow->CheckAndDownloadVersionFiles(false);
    EXPECT_GE(inner, 1);
    EXPECT_TRUE(innerResult); // the running check had its connection
    EXPECT_EQ(silent.Connections(), 1);
    EXPECT_FALSE(flow->VersionCheckRunning());
}

} // namespace
