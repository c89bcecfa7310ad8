// The transfer flow against the recording view: what its lines say after
// each event of the HTTP client, what showing and closing the window do,
// and a check that cannot connect. No display and no server: the same
// cases run on Linux and under wine.
#include "tests/support/FakeViews.h"

#include "transfer/core/ErrorClass.h"
#include "transfer/flow/TransferFlow.h"
#include "transfer/flow/TransferTexts.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <random>

namespace {

using namespace transfer::flow;
using tests::support::RecordingTransferHost;
using tests::support::RecordingTransferView;

// Exact products of byte counts and percentages.
__extension__ typedef unsigned __int128 Wide;

class TransferFlowCases : public ::testing::Test {
protected:
    void Build(bool autoMode) {
        host.Auto = autoMode;
        flow = std::make_unique<TransferFlow>(view, host);
        view.Flow = flow.get();
    }
    RecordingTransferView view;
    RecordingTransferHost host;
    std::unique_ptr<TransferFlow> flow;
};

TEST_F(TransferFlowCases, TheWindowStartsWithTheByteCountLineAndTheModesSettingsButton) {
    for (const bool autoMode : {false, true}) {
        SCOPED_TRACE(autoMode);
        view = RecordingTransferView();
        Build(autoMode);
        EXPECT_EQ(view.Caption, host.Caption);
        EXPECT_FALSE(view.IsVisible(TransferPart::MessageLine));
        EXPECT_TRUE(view.IsVisible(TransferPart::ByteCountLine));
        EXPECT_TRUE(view.IsVisible(TransferPart::Gauge));
        EXPECT_EQ(view.ByteCount.Colour, kGreen);
        EXPECT_EQ(view.GaugeMaximum, 100);
        EXPECT_EQ(view.GaugePosition, 0);
        EXPECT_EQ(view.IsVisible(TransferPart::SettingsButton), autoMode);
        EXPECT_FALSE(flow->CloseWhenDone);
        EXPECT_FALSE(flow->ConnectionMade);
        EXPECT_TRUE(flow->FinishedOk);
        EXPECT_FALSE(flow->ReshowConnected);
    }
}

TEST_F(TransferFlowCases, ConnectedInfoSetsTheFlagAndAGreenStatus) {
    Build(false);
    flow->ConnectedInfo();
    EXPECT_TRUE(flow->ConnectionMade);
    EXPECT_EQ(view.Status.Text, texts::kConnected);
    EXPECT_EQ(view.Status.Colour, kGreen);
}

TEST_F(TransferFlowCases, DisconnectedInfoSaysHowTheConnectionEnded) {
    Build(false);
    struct Case {
        bool connectionMade, finishedOk;
        const char* text;
        Rgb colour;
    };
    const Case table[] = {
        {false, false, texts::kNotConnected, kRed},
        {false, true, texts::kNotConnected, kRed},
        {true, true, texts::kEnded, kBlue},
        {true, false, texts::kCancelled, kRed},
    };
    for (const Case& c : table) {
        flow->ConnectionMade = c.connectionMade;
        flow->FinishedOk = c.finishedOk;
        flow->DisconnectedInfo();
        EXPECT_EQ(view.Status.Text, c.text);
        EXPECT_EQ(view.Status.Colour, c.colour);
        EXPECT_EQ(flow->ConnectionMade, c.connectionMade); // only read
        EXPECT_EQ(flow->FinishedOk, c.finishedOk);
    }
}

TEST_F(TransferFlowCases, ShowingTheWindowTellsTheConnectionState) {
    Build(false);
    flow->ReshowConnected = false;
    view.ShowWindow();
    EXPECT_FALSE(flow->FinishedOk);
    EXPECT_EQ(view.Status.Text, texts::kNotConnected);
    EXPECT_TRUE(view.IsVisible(TransferPart::Animation));
    view.HideWindow();
    flow->ReshowConnected = true;
    view.ShowWindow();
    EXPECT_EQ(view.Status.Text, texts::kConnected);
    EXPECT_TRUE(flow->ConnectionMade);
}

TEST_F(TransferFlowCases, AMessageLineTakesThePlaceOfTheByteCountLineAndGauge) {
    Build(false);
    flow->ShowMessageLine("Soubor se nepodařilo uložit!", kRed);
    EXPECT_EQ(view.Message.Text, "Soubor se nepodařilo uložit!");
    EXPECT_EQ(view.Message.Colour, kRed);
    EXPECT_TRUE(view.IsVisible(TransferPart::MessageLine));
    EXPECT_FALSE(view.IsVisible(TransferPart::ByteCountLine));
    EXPECT_FALSE(view.IsVisible(TransferPart::Gauge));
}

TEST_F(TransferFlowCases, WorkBeginEmptiesTheGaugeAndNamesTheSize) {
    Build(false);
    view.SetPartVisible(TransferPart::Animation, true);
    flow->WorkBegin(20000);
    EXPECT_FALSE(view.IsVisible(TransferPart::Animation));
    EXPECT_EQ(view.GaugePosition, 0);
    EXPECT_EQ(view.GaugeMaximum, 20000);
    EXPECT_EQ(view.ByteCount.Text, "Ke stažení: 20 kB");
    // An unknown size keeps the line as it was and empties the range.
    flow->WorkBegin(-1);
    EXPECT_EQ(view.GaugeMaximum, 0);
    EXPECT_EQ(view.ByteCount.Text, "Ke stažení: 20 kB");
}

TEST_F(TransferFlowCases, WorkCountsAgainstTheSizeOrAloneWhenItIsUnknown) {
    Build(false);
    flow->WorkBegin(0);
    flow->Work(5);
    EXPECT_EQ(view.ByteCount.Text, "Staženo: 5 B");
    flow->WorkBegin(20000);
    flow->Work(10240);
    EXPECT_EQ(view.ByteCount.Text, "Staženo: 10240 B z celkem 20 kB");
    EXPECT_EQ(view.GaugePosition, 10240);
    // More than announced: the total grows with the count.
    flow->Work(30000);
    EXPECT_EQ(view.GaugeMaximum, 30000);
    EXPECT_EQ(view.ByteCount.Text, "Staženo: 29 kB z celkem 29 kB");
}

// Whatever the size, the gauge never leaves its range and shows the whole
// percentage of the file that arrived, also beyond 2 GiB where the gauge's
// int range is too small for the byte count.
TEST_F(TransferFlowCases, GaugeStaysInRangeAndProportionalForAnySize) {
    std::mt19937_64 gen(20261208);
    for (int i = 0; i < 20000; ++i) {
        const int64_t total = static_cast<int64_t>(gen() % (int64_t{1} << (1 + gen() % 62))) + 1;
        const int64_t count = static_cast<int64_t>(gen() % static_cast<uint64_t>(total + 1));
        const int max = GaugeMaximum(total);
        const int pos = GaugePosition(count, total);
        ASSERT_GE(pos, 0) << count << "/" << total;
        ASSERT_LE(pos, max) << count << "/" << total;
        const auto percentOfFile = static_cast<int64_t>(static_cast<Wide>(count) * 100 / total);
        const int64_t percentShown = static_cast<int64_t>(int64_t{pos} * 100 / max);
        if (total <= INT_MAX)
            ASSERT_EQ(pos, count);
        else
            ASSERT_EQ(percentShown, percentOfFile) << count << "/" << total;
    }
}

TEST_F(TransferFlowCases, WorkEndSaysDoneInTheColourThatWasThere) {
    Build(false);
    view.ShowStatusLine("Stahování souboru X", kBlue);
    flow->WorkEnd();
    EXPECT_FALSE(view.IsVisible(TransferPart::Gauge));
    EXPECT_TRUE(view.IsVisible(TransferPart::Animation));
    EXPECT_EQ(view.Status.Text, texts::kDone);
    EXPECT_EQ(view.Status.Colour, kBlue);
}

// The client reports into the window, and its waits let window events run.
TEST_F(TransferFlowCases, ClientEventsReachTheHandlers) {
    Build(false);
    TIdHTTP& http = flow->Http;
    ASSERT_TRUE(http.OnConnected);
    ASSERT_TRUE(http.OnWorkBegin);
    EXPECT_EQ(http.AntiFreeze, &flow->AntiFreeze);
    EXPECT_TRUE(flow->AntiFreeze.OnIdle);
    EXPECT_EQ(http.Request.Accept, "text/html, */*");
    EXPECT_EQ(http.Request.UserAgent, "Mozilla/3.0 (compatible; Indy Library)");
    http.OnConnected(&http);
    EXPECT_TRUE(flow->ConnectionMade);
    http.OnWorkBegin(&http, wmRead, 500);
    http.OnWork(&http, wmRead, 200);
    EXPECT_EQ(view.GaugePosition * 100 / view.GaugeMaximum, 40);
    flow->FinishedOk = true;
    http.OnDisconnected(&http);
    EXPECT_EQ(view.Status.Text, texts::kEnded);
    http.OnWorkEnd(&http, wmRead);
    EXPECT_EQ(view.Status.Text, texts::kDone);
    flow->AntiFreeze.DoProcess();
    EXPECT_EQ(view.Pumps, 1);
}

TEST_F(TransferFlowCases, StornoEndsTheAutomaticRunAndReturnsToTheMainWindowOtherwise) {
    for (const bool autoMode : {false, true}) {
        SCOPED_TRACE(autoMode);
        view = RecordingTransferView();
        host = RecordingTransferHost();
        Build(autoMode);
        host.Code = 29;
        view.ShowWindow();
        flow->ShowMessageLine("chyba", kBlack);
        flow->OnStorno();
        EXPECT_FALSE(view.WindowShown);
        EXPECT_EQ(view.Closes, 1);
        EXPECT_FALSE(view.IsVisible(TransferPart::MessageLine));
        EXPECT_TRUE(view.IsVisible(TransferPart::Gauge));
        EXPECT_EQ(host.Endings, autoMode ? std::vector<int>{29} : std::vector<int>{});
        EXPECT_EQ(host.MainClosed, autoMode ? 1 : 0);
        EXPECT_EQ(host.MainShown, autoMode ? 0 : 1);
    }
}

TEST_F(TransferFlowCases, TheDesktopsCloseDoesWhatStornoDoes) {
    Build(true);
    host.Code = 21;
    view.ShowWindow();
    flow->OnDesktopClose();
    EXPECT_FALSE(view.WindowShown);
    EXPECT_EQ(host.Endings, std::vector<int>{21});
    EXPECT_EQ(host.MainClosed, 1);
}

TEST_F(TransferFlowCases, EscOnTheWindowClosesTheMainWindowAndSettingsOpensTheDialog) {
    Build(true);
    flow->OnEscape();
    EXPECT_EQ(host.MainClosed, 1);
    EXPECT_TRUE(host.Endings.empty());
    flow->OnSettings();
    EXPECT_EQ(host.SettingsOpened, 1);
}

// Nothing listens on the port: the check ends as a failed connection with
// the hint, and the window stays open so the user can read it.
TEST_F(TransferFlowCases, ACheckThatCannotConnectEndsWith55AndStaysOpen) {
    Build(true);
    VersionParamSet set;
    set.CurrentVersion = "5.10";
    set.ServerDirAddress = "http://127.0.0.1:1/halvorne/";
    set.VersionFileName = "verze.txt";
    set.NewFileName = "SETUP.ZIP";
    set.TargetDir = "unused/";
    flow->SetCheckAndDownloadVersionParams(set, set);
    view.ShowWindow();
    EXPECT_FALSE(flow->CheckAndDownloadVersionFiles(false));
    EXPECT_EQ(host.Code, transfer::kExitNoConnection);
    EXPECT_EQ(view.Status.Text, texts::kNotConnected);
    EXPECT_EQ(view.Status.Colour, kRed);
    EXPECT_EQ(view.Message.Text, transfer::kConnectionHint);
    EXPECT_TRUE(view.IsVisible(TransferPart::MessageLine));
    EXPECT_TRUE(view.WindowShown);
    EXPECT_EQ(view.Closes, 0);
    EXPECT_TRUE(host.Endings.empty());
    EXPECT_TRUE(view.AskedVersions.empty());
    EXPECT_FALSE(flow->VersionCheckRunning());
    // The run began with the attempt, in blue.
    const auto attempt = std::find_if(view.StatusHistory.begin(), view.StatusHistory.end(),
        [](const tests::support::Line& l) { return l.Text == texts::kConnecting; });
    ASSERT_NE(attempt, view.StatusHistory.end());
    EXPECT_EQ(attempt->Colour, kBlue);
}

} // namespace
