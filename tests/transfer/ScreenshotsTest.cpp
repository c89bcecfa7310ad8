// The screenshots command run as scripts/screenshots runs it, and its
// pictures read back: each transfer-window picture must show what the
// program shows in that state (the colours of its status line, byte-count
// line, gauge and message line), so the pictures cannot drift from it.
#include "tests/support/Subprocess.h"
#include "tests/support/TempDir.h"

#include <QColor>
#include <QImage>
#include <QRect>
#include <QString>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#ifndef SCREENSHOTS_PROGRAM
#error "SCREENSHOTS_PROGRAM must name the screenshots command"
#endif

namespace {

const QColor kBlue(0, 0, 255);
const QColor kRed(255, 0, 0);
const QColor kGreen(0, 128, 0);
const QColor kBlack(0, 0, 0);

// Bands of the transfer window's client area, as it lays them out.
const QRect kStatusBand(0, 0, 571, 17);
const QRect kByteCountBand(40, 24, 505, 17);
const QRect kMessageBand(0, 24, 569, 33);
// The gauge's bar (inside its one-pixel frame) and a row of it above the
// printed percentage.
const QRect kGaugeInner(9, 43, 555, 13);
constexpr int kGaugeRow = 44;

int CountColour(const QImage& img, const QRect& band, const QColor& colour) {
    int n = 0;
    const QRect r = band.intersected(img.rect());
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            n += QColor(img.pixel(x, y)) == colour;
    return n;
}

struct Band {
    QRect rect;
    QColor colour;
    bool present; // text in this colour is there / is not there
};

struct Picture {
    std::string name;
    std::vector<Band> bands;
    int gaugePercent = -1; // -1: no gauge to read
};

class ScreenshotsTest : public ::testing::Test {
protected:
    // One run of the command, as scripts/screenshots makes it.
    void SetUp() override {
        tests::support::SubprocessOptions options;
        options.env = {{"QT_QPA_PLATFORM", "offscreen"}};
        options.logFile = (out_.path() / "list.txt").string();
        tests::support::Subprocess command({SCREENSHOTS_PROGRAM, out_.path().string()}, options);
        // Bounded well inside the test's own time-out, so a hang still
        // reports what the command printed.
        succeeded_ = command.WaitFor(std::chrono::seconds(90)) && command.Exited() && command.ExitCode() == 0;
        listing_ = tests::support::ReadFile(out_.path() / "list.txt");
    }
    QImage Load(const std::string& name) const {
        return QImage(QString::fromStdString((out_.path() / (name + ".png")).string()));
    }
    tests::support::TempDir out_;
    bool succeeded_ = false;
    std::string listing_;
};

TEST_F(ScreenshotsTest, PicturesShowWhatTheProgramShows) {
    ASSERT_TRUE(succeeded_) << listing_;
    const std::vector<Picture> pictures = {
        // "NAVAZOVÁNÍ SPOJENÍ" while the connection is being made.
        {"transfer-connecting", {{kStatusBand, kBlue, true}, {kStatusBand, kRed, false}, {kStatusBand, kGreen, false}}},
        // While the new version arrives the client's connection event has
        // replaced "Stahování souboru ..." with "SPOJENÍ NAVÁZÁNO" (green);
        // the byte counts and the gauge at 40 %.
        {"transfer-downloading-40",
            {{kStatusBand, kGreen, true}, {kStatusBand, kBlue, false}, {kByteCountBand, kGreen, true}}, 40},
        // "SPOJENÍ UKONČENO" as the window closes after the new version was
        // saved, the byte counts still there.
        {"transfer-finished", {{kStatusBand, kBlue, true}, {kStatusBand, kRed, false}, {kByteCountBand, kGreen, true}}},
        // No connection: "SPOJENÍ SE NEPODAŘILO NAVÁZAT" and the hint in black.
        {"transfer-message", {{kStatusBand, kRed, true}, {kMessageBand, kBlack, true}, {kMessageBand, kRed, false}}},
        // The download ended normally ("SPOJENÍ UKONČENO"); saving it failed (red).
        {"transfer-save-failed", {{kStatusBand, kBlue, true}, {kStatusBand, kRed, false}, {kMessageBand, kRed, true}}},
        // The main window's check while it connects.
        {"transfer-main-window-mode", {{kStatusBand, kBlue, true}, {kStatusBand, kRed, false}}},
    };
    for (const Picture& p : pictures) {
        SCOPED_TRACE(p.name);
        const QImage img = Load(p.name);
        ASSERT_FALSE(img.isNull()) << "no picture";
        EXPECT_EQ(img.size(), QSize(571, 126));
        for (const Band& b : p.bands) {
            const int n = CountColour(img, b.rect, b.colour);
            if (b.present) {
                EXPECT_GT(n, 20) << "text in " << b.colour.name().toStdString() << " at y " << b.rect.top();
            } else {
                EXPECT_EQ(n, 0) << "text in " << b.colour.name().toStdString() << " at y " << b.rect.top();
            }
        }
        if (p.gaugePercent >= 0) {
            const int filled = CountColour(img, QRect(kGaugeInner.left(), kGaugeRow, kGaugeInner.width(), 1), kBlack);
            EXPECT_NEAR(filled, kGaugeInner.width() * p.gaugePercent / 100, 2) << "the gauge's bar";
        }
    }
    // The other windows and dialogs are there too.
    for (const char* name : {"next-step", "next-step-pdf", "viewer-warning", "main-window", "settings"}) {
        const QImage img = Load(name);
        EXPECT_FALSE(img.isNull()) << name;
        EXPECT_NE(listing_.find(std::string(name) + ".png"), std::string::npos) << name;
    }
}

} // namespace
