// The Win32 view on its own, in-process under wine: what only the view can
// get wrong. Texts reach the windows and come back unchanged through the
// UTF-16 calls, the gauge prints the whole percentage of any range, the
// picture comes from the program's resources with its frames, and the
// next-step dialog reports the button and the format the user chose,
// keeping the format for the next showing. No flow is attached: the
// windows only draw here.
#include "transfer/flow/TransferTexts.h"
#include "winview/TransferWindow.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace {

using transfer::flow::NextStep;
using transfer::flow::TransferPart;

TEST(WinView, TransferWindowTextsSurviveTheWideCalls) {
    winview::TransferWindow window;
    const std::string texts[] = {transfer::flow::texts::kNotConnected, "Stahování souboru ŽLUŤOUČKÝ_KŮŇ.ZIP",
        "Chybný formát čísla verze: <html>", std::string("\xe2\x82\xac 20 % & 5 \xc2\xa7"), ""};
    for (const std::string& t : texts) {
        window.ShowStatusLine(t, transfer::flow::kRed);
        window.SetMessageLine(t + " !", transfer::flow::kBlue);
        window.SetByteCountLine(t + " B", transfer::flow::kGreen);
        EXPECT_EQ(window.StatusText(), t);
        EXPECT_EQ(window.MessageText(), t + " !");
        EXPECT_EQ(window.ByteCountText(), t + " B");
    }
    window.SetStatusText(transfer::flow::texts::kDone);
    EXPECT_EQ(window.StatusText(), transfer::flow::texts::kDone);
}

// The percentage printed is the whole percent done, rounded down, for
// every range up to the largest; an empty range shows 0.
TEST(WinView, GaugePrintsTheWholePercentageOfAnyRange) {
    winview::TransferWindow window;
    std::mt19937 random(20261208);
    std::uniform_int_distribution<int> anyInt(0, 0x7fffffff);
    for (int i = 0; i < 2000; ++i) {
        const int maximum = i % 3 == 0 ? anyInt(random) % 1000 : anyInt(random);
        const int position =
            maximum == 0 ? 0 : static_cast<int>(static_cast<long long>(anyInt(random)) % (maximum + 1LL));
        window.SetGauge(position, maximum);
        const int shown = window.GaugePercent();
        ASSERT_GE(shown, 0);
        ASSERT_LE(shown, 100);
        if (maximum == 0) {
            ASSERT_EQ(shown, 0);
            continue;
        }
        // shown% <= position/maximum < (shown+1)%
        ASSERT_LE(static_cast<long long>(shown) * maximum, 100LL * position) << position << "/" << maximum;
        ASSERT_GT((shown + 1LL) * maximum, 100LL * position) << position << "/" << maximum;
    }
    window.SetGauge(7, 7);
    EXPECT_EQ(window.GaugePercent(), 100);
}

TEST(WinView, AnimatedPictureComesFromTheResources) {
    winview::TransferWindow window;
    EXPECT_TRUE(window.AnimationPlays()) << "the ZAVINAC picture is missing or has a single frame";
    window.SetPartVisible(TransferPart::Animation, false);
    window.SetPartVisible(TransferPart::Animation, true);
}

// Clicks posted before the dialog's own loop starts are what the user
// does while it waits.
TEST(WinView, NextStepDialogReportsTheChoiceAndKeepsTheFormat) {
    winview::TransferWindow window;
    HWND dialog = window.NextStep().Handle();
    auto click = [dialog](int id) { ::PostMessageW(::GetDlgItem(dialog, id), BM_CLICK, 0, 0); };
    using D = winview::NextStepDialog;

    click(D::kChangesId);
    auto choice = window.AskNextStep("5.23");
    EXPECT_EQ(choice.Step, NextStep::ShowChanges);
    EXPECT_FALSE(choice.Pdf) << "the first showing starts with html";
    click(D::kPdfId);
    click(D::kLoadId);
    choice = window.AskNextStep("5.23");
    EXPECT_EQ(choice.Step, NextStep::Download);
    EXPECT_TRUE(choice.Pdf);
    click(D::kCancelId);
    choice = window.AskNextStep("5.23");
    EXPECT_EQ(choice.Step, NextStep::Cancel);
    EXPECT_TRUE(choice.Pdf) << "the format chosen last stays chosen";
}

} // namespace
