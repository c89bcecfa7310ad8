// The transfer window driven as the operations and the user drive it.
#include "TransferTestSupport.h"

#include "startup/gui/Form_Main.h"
#include "startup/gui/Form_Master.h"
#include "transfer/gui/Form_Run.h"
#include "transfer/gui/TransferWidgets.h"

#include <QDir>
#include <QIcon>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QLabel>
#include <QMovie>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

using tests::transfer::HalvorneWindows;
using tests::transfer::WindowsOptions;

namespace {

const QColor kGreen(0, 128, 0);
const QColor kBlue(0, 0, 255);
const QColor kRed(255, 0, 0);
const QColor kBlack(0, 0, 0);

QColor TextColour(const QLabel* label) { return label->palette().color(QPalette::WindowText); }

int Percent(const QProgressBar* gauge) { return static_cast<const transfer::gui::TGauge*>(gauge)->PercentDone(); }

// Counts close events that reach a window.
class CloseCounter : public QObject {
public:
    int closes = 0;
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Close)
            ++closes;
        return false;
    }
};

class FormRunTest : public ::testing::Test {
protected:
    void Build(bool autoMode, bool withMain = true) {
        WindowsOptions o;
        o.autoMode = autoMode;
        o.createMain = withMain;
        windows = std::make_unique<HalvorneWindows>(o);
    }
    std::unique_ptr<HalvorneWindows> windows;
};

// ---- layout ----

TEST_F(FormRunTest, WindowIsFixedAlwaysOnTopWithoutTitleBarButtons) {
    Build(false);
    EXPECT_EQ(Form_Run->size(), QSize(571, 126));
    EXPECT_EQ(Form_Run->minimumSize(), QSize(571, 126));
    EXPECT_EQ(Form_Run->maximumSize(), QSize(571, 126));
    const Qt::WindowFlags f = Form_Run->windowFlags();
    EXPECT_TRUE(f.testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_TRUE(f.testFlag(Qt::CustomizeWindowHint));
    EXPECT_FALSE(f.testFlag(Qt::WindowCloseButtonHint));
    EXPECT_FALSE(f.testFlag(Qt::WindowMinimizeButtonHint));
    EXPECT_FALSE(f.testFlag(Qt::WindowMaximizeButtonHint));
    EXPECT_FALSE(f.testFlag(Qt::WindowSystemMenuHint));
    EXPECT_EQ(Form_Run->windowTitle().toStdString(), Form_Master->Run().RunParameters.CaptionText);
    EXPECT_EQ(Form_Run->font().pixelSize(), 11);
}

struct Placement {
    const char* name;
    QRect rect;
};

TEST_F(FormRunTest, ControlsSitWhereTheLayoutPutsThem) {
    Build(true);
    const Placement table[] = {
        {"Label_Top", QRect(0, 0, 571, 17)},
        {"Label_Msg", QRect(0, 24, 569, 33)},
        {"Label_Download", QRect(40, 24, 505, 17)},
        {"Gauge1", QRect(8, 42, 557, 15)},
        {"BitBtn_Storno", QRect(242, 94, 91, 25)},
        {"BitBtn_Set", QRect(474, 92, 91, 25)},
        {"Panel_Img", QRect(8, 85, 36, 36)},
    };
    for (const auto& p : table) {
        auto* w = Form_Run->findChild<QWidget*>(QString::fromLatin1(p.name));
        ASSERT_NE(w, nullptr) << p.name;
        EXPECT_EQ(w->geometry(), p.rect) << p.name;
    }
    EXPECT_EQ(Form_Run->ImageGIf->geometry(), QRect(0, 0, 36, 36));
    EXPECT_EQ(Form_Run->ImageGIf->parentWidget(), Form_Run->Panel_Img);
}

TEST_F(FormRunTest, InitialStateAfterCreation) {
    // The run's flags start as the flow sets them
    // (TransferFlowCases.TheWindowStartsWithTheByteCountLineAndTheModesSettingsButton).
    Build(false);
    EXPECT_TRUE(Form_Run->Label_Msg->isHidden());
    EXPECT_FALSE(Form_Run->Label_Download->isHidden());
    EXPECT_FALSE(Form_Run->Gauge1->isHidden());
    EXPECT_EQ(TextColour(Form_Run->Label_Download), kGreen);
    EXPECT_TRUE(Form_Run->Label_Top->text().isEmpty());
    EXPECT_TRUE(Form_Run->Label_Download->text().isEmpty());
    EXPECT_TRUE(Form_Run->Label_Msg->wordWrap());
    for (QLabel* l : {Form_Run->Label_Top, Form_Run->Label_Msg, Form_Run->Label_Download})
        EXPECT_TRUE(l->font().bold()) << l->objectName().toStdString();
    EXPECT_EQ(Form_Run->Gauge1->minimum(), 0);
    EXPECT_EQ(Form_Run->Gauge1->maximum(), 100);
    EXPECT_EQ(Form_Run->Gauge1->value(), 0);
    EXPECT_EQ(Form_Run->BitBtn_Storno->text(), QStringLiteral("Storno"));
    EXPECT_EQ(Form_Run->BitBtn_Set->text(), QStringLiteral("Nastavení"));
    EXPECT_FALSE(Form_Run->BitBtn_Storno->icon().isNull());
    EXPECT_FALSE(Form_Run->BitBtn_Set->icon().isNull());
}

TEST_F(FormRunTest, SettingsButtonOnlyInAutomaticMode) {
    for (bool autoMode : {false, true}) {
        Build(autoMode);
        EXPECT_EQ(!Form_Run->BitBtn_Set->isHidden(), autoMode);
        EXPECT_EQ(Form_Run->BitBtn_Set->isEnabled(), autoMode);
        windows.reset();
    }
}

TEST_F(FormRunTest, PicturePlaysTheAnimatedAtScaledIntoTheSquare) {
    Build(false);
    // Read only once the window is drawn.
    EXPECT_EQ(Form_Run->GifMovie, nullptr);
    Form_Run->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(Form_Run));
    ASSERT_TRUE(QTest::qWaitFor([] { return Form_Run->GifMovie != nullptr; }, 2000));
    QMovie* movie = Form_Run->GifMovie;
    ASSERT_NE(movie, nullptr);
    EXPECT_TRUE(movie->isValid());
    EXPECT_EQ(Form_Run->ImageGIf->movie(), movie);
    EXPECT_EQ(movie->frameCount(), 9);
    EXPECT_EQ(movie->loopCount(), -1); // endless
    EXPECT_EQ(movie->scaledSize(), QSize(36, 29));
    EXPECT_EQ(movie->state(), QMovie::Running);
    EXPECT_EQ(Form_Run->ImageGIf->movie()->currentImage().size(), QSize(36, 29));
}

TEST(Picture, IsA55By45Gif89aOfNineFramesOf160Milliseconds) {
    const QString path = transfer::gui::FindResourceIgnoringCase(":/gif", "zavinac");
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.read(6), QByteArray("GIF89a"));
    file.close();
    QImageReader reader(path);
    EXPECT_EQ(reader.format(), QByteArray("gif"));
    EXPECT_EQ(reader.size(), QSize(55, 45));
    EXPECT_EQ(reader.imageCount(), 9);
    EXPECT_EQ(reader.loopCount(), -1); // repeats without end
    int frames = 0;
    // The GIF handler knows a frame's delay once the frame has been read.
    while (reader.canRead()) {
        EXPECT_FALSE(reader.read().isNull()) << frames;
        EXPECT_EQ(reader.nextImageDelay(), 160) << frames;
        ++frames;
    }
    EXPECT_EQ(frames, 9);
}

TEST(ResourceLookup, FindsThePictureWhateverTheCase) {
    for (const char* name : {"zavinac", "ZAVINAC", "ZaViNaC"})
        EXPECT_FALSE(transfer::gui::FindResourceIgnoringCase(":/gif", name).isEmpty()) << name;
    EXPECT_TRUE(transfer::gui::FindResourceIgnoringCase(":/gif", "zavina").isEmpty());
    EXPECT_TRUE(transfer::gui::FindResourceIgnoringCase(":/nowhere", "zavinac").isEmpty());
}

// ---- icon from the current directory ----

class IconTest : public ::testing::Test {
protected:
    void SetUp() override { previous = QDir::currentPath(); }
    void TearDown() override { QDir::setCurrent(previous); }
    static QRgb CentreOf(const QIcon& icon) {
        const QImage img = icon.pixmap(16, 16).toImage();
        return img.pixel(img.width() / 2, img.height() / 2);
    }
    QString previous;
};

TEST_F(IconTest, IconFileInCurrentDirectoryReplacesBuiltInIcon) {
    QTemporaryDir dir;
    QImage img(16, 16, QImage::Format_ARGB32);
    img.fill(QColor(0, 200, 0));
    ASSERT_TRUE(img.save(dir.filePath("MIRASTE.ICO"), "ICO"));
    ASSERT_TRUE(QDir::setCurrent(dir.path()));
    HalvorneWindows w;
    EXPECT_EQ(QColor(CentreOf(Form_Run->windowIcon())), QColor(0, 200, 0));
}

TEST_F(IconTest, MissingOrBrokenIconFileKeepsBuiltInIcon) {
    QTemporaryDir dir;
    ASSERT_TRUE(QDir::setCurrent(dir.path()));
    const QRgb builtIn = CentreOf(QIcon(":/glyphs/halvorne.png"));
    {
        HalvorneWindows w;
        EXPECT_FALSE(Form_Run->windowIcon().isNull());
        EXPECT_EQ(CentreOf(Form_Run->windowIcon()), builtIn);
    }
    QFile junk(dir.filePath("MIRASTE.ICO"));
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
    junk.write("not an icon at all");
    junk.close();
    {
        HalvorneWindows w;
        EXPECT_EQ(CentreOf(Form_Run->windowIcon()), builtIn);
    }
}

// ---- display operations ----

TEST_F(FormRunTest, ByteCountTextDelegates) {
    EXPECT_EQ(TForm_Run::FormatByteCount(10241), QStringLiteral("10 kB"));
    EXPECT_EQ(TForm_Run::FormatByteCount(10240), QStringLiteral("10240 B"));
    EXPECT_EQ(TForm_Run::FormatByteCount(2147483647), QStringLiteral("2048 MB"));
}

TEST_F(FormRunTest, StatusLineTakesTextAndColour) {
    Build(false);
    Form_Run->show();
    Form_Run->ShowStatusLine("NAVAZOVÁNÍ SPOJENÍ", transfer::flow::kBlue);
    EXPECT_EQ(Form_Run->Label_Top->text(), QStringLiteral("NAVAZOVÁNÍ SPOJENÍ"));
    EXPECT_EQ(TextColour(Form_Run->Label_Top), kBlue);
    // What is on the screen, not only in the label's state: the status line
    // has been painted in blue without the event loop running.
    const QImage shot = Form_Run->Label_Top->grab().toImage();
    bool blueSeen = false;
    for (int y = 0; y < shot.height() && !blueSeen; ++y)
        for (int x = 0; x < shot.width() && !blueSeen; ++x)
            blueSeen = QColor(shot.pixel(x, y)) == kBlue;
    EXPECT_TRUE(blueSeen);
}

TEST_F(FormRunTest, MessageLineReplacesByteCountLineAndGauge) {
    Build(false);
    for (const QString& text : {QStringLiteral("Soubor se nepodařilo uložit!"), QString()}) {
        Form_Run->Label_Msg->hide();
        Form_Run->Label_Download->show();
        Form_Run->Gauge1->show();
        Form_Run->Flow().ShowMessageLine(
            text.toStdString(), text.isEmpty() ? transfer::flow::kBlack : transfer::flow::kRed);
        EXPECT_EQ(Form_Run->Label_Msg->text(), text);
        EXPECT_EQ(TextColour(Form_Run->Label_Msg), text.isEmpty() ? kBlack : kRed);
        EXPECT_FALSE(Form_Run->Label_Msg->isHidden()) << text.toStdString();
        EXPECT_TRUE(Form_Run->Label_Download->isHidden()) << text.toStdString();
        EXPECT_TRUE(Form_Run->Gauge1->isHidden()) << text.toStdString();
    }
}

TEST_F(FormRunTest, AnimationShowsAndHidesThePanel) {
    Build(false);
    Form_Run->SetPartVisible(transfer::flow::TransferPart::Animation, false);
    EXPECT_TRUE(Form_Run->Panel_Img->isHidden());
    Form_Run->SetPartVisible(transfer::flow::TransferPart::Animation, true);
    EXPECT_FALSE(Form_Run->Panel_Img->isHidden());
}

TEST_F(FormRunTest, ShowFileNameChoosesTheDocumentForm) {
    Build(false);
    EXPECT_EQ(Form_Run->Flow().ShowFileName(true), Form_Master->Run().GetChangesPdfAddress());
    EXPECT_EQ(Form_Run->Flow().ShowFileName(false), Form_Master->Run().GetChangesHtmlAddress());
}

// What the status line says after the client's connection events is the
// flow's: TransferFlowCases.ConnectedInfoSetsTheFlagAndAGreenStatus and
// TransferFlowCases.DisconnectedInfoSaysHowTheConnectionEnded
// (tests/flow).

// ---- progress handlers ----

TEST_F(FormRunTest, WorkBeginWithAnnouncedSize) {
    Build(false);
    Form_Run->Gauge1->setValue(70);
    Form_Run->Flow().WorkBegin(20000);
    EXPECT_TRUE(Form_Run->Panel_Img->isHidden());
    EXPECT_EQ(Form_Run->Gauge1->value(), 0);
    EXPECT_EQ(Form_Run->Gauge1->maximum(), 20000);
    EXPECT_EQ(Form_Run->Label_Download->text(), QStringLiteral("Ke stažení: 20 kB"));
}

TEST_F(FormRunTest, WorkBeginWithoutSizeKeepsTheEarlierText) {
    Build(false);
    Form_Run->Label_Download->setText(QStringLiteral("Staženo: 5 B z celkem 5 B"));
    Form_Run->Gauge1->setValue(100);
    Form_Run->Flow().WorkBegin(0);
    EXPECT_EQ(Form_Run->Gauge1->maximum(), 0);
    EXPECT_EQ(Form_Run->Gauge1->value(), 0);
    EXPECT_EQ(Percent(Form_Run->Gauge1), 0);
    EXPECT_EQ(Form_Run->Gauge1->text(), QStringLiteral("0%"));
    EXPECT_EQ(Form_Run->Label_Download->text(), QStringLiteral("Staženo: 5 B z celkem 5 B"));
    Form_Run->Flow().Work(12345);
    EXPECT_EQ(Form_Run->Label_Download->text(), QStringLiteral("Staženo: 12 kB"));
    EXPECT_EQ(Form_Run->Gauge1->value(), 0);
    EXPECT_EQ(Form_Run->Gauge1->maximum(), 0);
}

TEST_F(FormRunTest, WorkBeginWithNegativeSizeKeepsGaugeRangeSound) {
    Build(false);
    Form_Run->Flow().WorkBegin(-1);
    EXPECT_EQ(Form_Run->Gauge1->minimum(), 0);
    EXPECT_EQ(Form_Run->Gauge1->maximum(), 0);
    EXPECT_EQ(Percent(Form_Run->Gauge1), 0);
}

struct WorkStep {
    int64_t count;
    const char16_t* label;
    int maximum;
    int percent;
};

TEST_F(FormRunTest, WorkMovesGaugeAndNeverPassesHundredPercent) {
    Build(false);
    Form_Run->Flow().WorkBegin(20000);
    const WorkStep steps[] = {
        {0, u"Staženo: 0 B z celkem 20 kB", 20000, 0},
        {8000, u"Staženo: 8000 B z celkem 20 kB", 20000, 40},
        {8199, u"Staženo: 8199 B z celkem 20 kB", 20000, 40}, // rounded down
        {19999, u"Staženo: 20 kB z celkem 20 kB", 20000, 99},
        {20000, u"Staženo: 20 kB z celkem 20 kB", 20000, 100},
        {25000, u"Staženo: 24 kB z celkem 24 kB", 25000, 100}, // above the announced size
        {24000, u"Staženo: 23 kB z celkem 24 kB", 25000, 96},
    };
    for (const auto& s : steps) {
        Form_Run->Flow().Work(s.count);
        EXPECT_EQ(Form_Run->Label_Download->text(), QString::fromUtf16(s.label)) << s.count;
        EXPECT_EQ(Form_Run->Gauge1->maximum(), s.maximum) << s.count;
        EXPECT_EQ(Form_Run->Gauge1->value(), s.count) << s.count;
        EXPECT_EQ(Percent(Form_Run->Gauge1), s.percent) << s.count;
        EXPECT_LE(Form_Run->Gauge1->value(), Form_Run->Gauge1->maximum());
    }
}

TEST_F(FormRunTest, WorkBeyondThirtyTwoBitsClampsGaugeButPrintsTheCount) {
    Build(false);
    Form_Run->Flow().WorkBegin(1000);
    Form_Run->Flow().Work(int64_t{3} * 1024 * 1024 * 1024);
    EXPECT_EQ(Form_Run->Gauge1->maximum(), INT_MAX);
    EXPECT_EQ(Form_Run->Gauge1->value(), INT_MAX);
    EXPECT_EQ(Percent(Form_Run->Gauge1), 100);
    EXPECT_TRUE(Form_Run->Label_Download->text().startsWith(QStringLiteral("Staženo: 3072 MB z celkem ")));
}

// A file beyond 2 GiB: the byte counts are the file's, and the gauge,
// which counts in int, moves in proportion to the whole file.
TEST_F(FormRunTest, WorkBeyondTwoGiBShowsTheWholeFileAndMovesTheGaugeInProportion) {
    Build(false);
    const int64_t gib = int64_t{1024} * 1024 * 1024;
    Form_Run->Flow().WorkBegin(3 * gib);
    EXPECT_EQ(Form_Run->Label_Download->text(), QStringLiteral("Ke stažení: 3072 MB"));
    EXPECT_EQ(Form_Run->Gauge1->maximum(), INT_MAX);
    const struct {
        int64_t count;
        const char16_t* label;
        int percent;
    } steps[] = {
        {gib, u"Staženo: 1024 MB z celkem 3072 MB", 33},
        {2 * gib, u"Staženo: 2048 MB z celkem 3072 MB", 66},
        {3 * gib - 1, u"Staženo: 3072 MB z celkem 3072 MB", 99},
        {3 * gib, u"Staženo: 3072 MB z celkem 3072 MB", 100},
        {4 * gib, u"Staženo: 4096 MB z celkem 4096 MB", 100}, // more than announced
        {2 * gib, u"Staženo: 2048 MB z celkem 4096 MB", 50},
    };
    for (const auto& s : steps) {
        Form_Run->Flow().Work(s.count);
        EXPECT_EQ(Form_Run->Label_Download->text(), QString::fromUtf16(s.label)) << s.count;
        EXPECT_EQ(Percent(Form_Run->Gauge1), s.percent) << s.count;
        EXPECT_LE(Form_Run->Gauge1->value(), Form_Run->Gauge1->maximum());
    }
}

TEST_F(FormRunTest, WorkEndShowsDoneInTheUnchangedColour) {
    Build(false);
    Form_Run->ShowStatusLine("Stahování souboru X", transfer::flow::kBlue);
    Form_Run->SetPartVisible(transfer::flow::TransferPart::Animation, false);
    Form_Run->Flow().WorkEnd();
    EXPECT_TRUE(Form_Run->Gauge1->isHidden());
    EXPECT_FALSE(Form_Run->Panel_Img->isHidden());
    EXPECT_EQ(Form_Run->Label_Top->text(), QStringLiteral("HOTOVO"));
    EXPECT_EQ(TextColour(Form_Run->Label_Top), kBlue);
}

// The HTTP client's events and the anti-freeze belong to the flow:
// TransferFlowCases.ClientEventsReachTheHandlers (tests/flow).

// ---- showing ----

TEST_F(FormRunTest, FirstShowingReportsNoConnectionYet) {
    Build(true);
    Form_Run->SetPartVisible(transfer::flow::TransferPart::Animation, false);
    Form_Run->show();
    EXPECT_FALSE(Form_Run->Flow().FinishedOk);
    EXPECT_EQ(Form_Run->Label_Top->text(), QStringLiteral("SPOJENÍ SE NEPODAŘILO NAVÁZAT"));
    EXPECT_EQ(TextColour(Form_Run->Label_Top), kRed);
    EXPECT_FALSE(Form_Run->Panel_Img->isHidden());
    EXPECT_EQ(Form_Run->focusWidget(), Form_Run->BitBtn_Storno);
}

TEST_F(FormRunTest, ShowingAgainAfterTheChangesReportsTheConnection) {
    Build(true);
    Form_Run->Flow().ReshowConnected = true;
    Form_Run->show();
    EXPECT_TRUE(Form_Run->Flow().ConnectionMade);
    EXPECT_EQ(Form_Run->Label_Top->text(), QStringLiteral("SPOJENÍ NAVÁZÁNO"));
    EXPECT_EQ(TextColour(Form_Run->Label_Top), kGreen);
}

TEST_F(FormRunTest, ShownCentredOnTheScreen) {
    Build(false);
    Form_Run->move(0, 0);
    Form_Run->show();
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_LE(std::abs(Form_Run->frameGeometry().center().x() - screen.center().x()), 1);
    EXPECT_LE(std::abs(Form_Run->frameGeometry().center().y() - screen.center().y()), 1);
}

// ---- Storno, Esc, Nastavení ----

TEST_F(FormRunTest, StornoInMainWindowModeHidesTransferAndShowsMainWindow) {
    Build(false);
    ASSERT_NE(Form_Main, nullptr);
    Form_Run->show();
    Form_Run->Flow().ShowMessageLine("chyba", transfer::flow::kBlack);
    QTest::mouseClick(Form_Run->BitBtn_Storno, Qt::LeftButton);
    EXPECT_FALSE(Form_Run->isVisible());
    EXPECT_TRUE(Form_Main->isVisible());
    EXPECT_TRUE(Form_Run->Label_Msg->isHidden());
    EXPECT_FALSE(Form_Run->Gauge1->isHidden());
    EXPECT_TRUE(windows->TerminatedWith.empty());
}

TEST_F(FormRunTest, StornoInAutomaticModeEndsWithTheCurrentExitCode) {
    Build(true);
    ASSERT_NE(Form_Main, nullptr);
    CloseCounter mainCloses;
    Form_Main->installEventFilter(&mainCloses);
    Form_Run->show();
    Form_Master->Run().RunParameters.ExitCode = 55;
    QTest::mouseClick(Form_Run->BitBtn_Storno, Qt::LeftButton);
    EXPECT_FALSE(Form_Run->isVisible());
    ASSERT_FALSE(windows->TerminatedWith.empty());
    EXPECT_EQ(windows->TerminatedWith.front(), 55);
    EXPECT_EQ(mainCloses.closes, 1);
    EXPECT_FALSE(Form_Main->isVisible());
}

TEST_F(FormRunTest, EscOnStornoActsLikeTheClickInBothModes) {
    for (bool autoMode : {false, true}) {
        Build(autoMode);
        Form_Run->show();
        Form_Master->Run().RunParameters.ExitCode = 29;
        ASSERT_EQ(Form_Run->focusWidget(), Form_Run->BitBtn_Storno);
        QTest::keyClick(Form_Run->BitBtn_Storno, Qt::Key_A);
        EXPECT_TRUE(Form_Run->isVisible()) << "only Esc ends the window";
        QTest::keyClick(Form_Run->BitBtn_Storno, Qt::Key_Escape);
        EXPECT_FALSE(Form_Run->isVisible());
        if (autoMode) {
            ASSERT_FALSE(windows->TerminatedWith.empty());
            EXPECT_EQ(windows->TerminatedWith.front(), 29);
        } else {
            EXPECT_TRUE(windows->TerminatedWith.empty());
            EXPECT_TRUE(Form_Main->isVisible());
        }
        windows.reset();
    }
}

TEST_F(FormRunTest, EscOnTheWindowItselfClosesTheMainWindow) {
    for (bool autoMode : {false, true}) {
        Build(autoMode);
        CloseCounter mainCloses;
        Form_Main->installEventFilter(&mainCloses);
        Form_Run->show();
        Form_Run->BitBtn_Storno->clearFocus();
        ASSERT_EQ(Form_Run->focusWidget(), nullptr);
        QTest::keyClick(Form_Run, Qt::Key_B);
        EXPECT_EQ(mainCloses.closes, 0);
        QTest::keyClick(Form_Run, Qt::Key_Escape);
        EXPECT_EQ(mainCloses.closes, 1) << autoMode;
        Form_Main->removeEventFilter(&mainCloses);
        windows.reset();
    }
}

TEST_F(FormRunTest, EscIgnoredByAFocusedSettingsButtonIsNotTheWindows) {
    Build(true);
    CloseCounter mainCloses;
    Form_Main->installEventFilter(&mainCloses);
    Form_Run->show();
    Form_Run->BitBtn_Set->setFocus();
    QTest::keyClick(Form_Run->BitBtn_Set, Qt::Key_Escape);
    EXPECT_EQ(mainCloses.closes, 0);
    EXPECT_TRUE(Form_Run->isVisible());
    Form_Main->removeEventFilter(&mainCloses);
}

TEST_F(FormRunTest, CloseHandlerRunsOncePerStornoWhetherShownOrHidden) {
    Build(true, /*withMain=*/false);
    Form_Master->Run().RunParameters.ExitCode = 7;
    Form_Run->show();
    Form_Run->Flow().OnStorno();
    EXPECT_EQ(windows->TerminatedWith, std::vector<int>{7});
    windows->TerminatedWith.clear();
    ASSERT_FALSE(Form_Run->isVisible());
    Form_Run->Flow().ShowMessageLine("x", transfer::flow::kBlack);
    Form_Run->Flow().OnStorno();
    EXPECT_EQ(windows->TerminatedWith, std::vector<int>{7});
    EXPECT_TRUE(Form_Run->Label_Msg->isHidden());
    EXPECT_FALSE(Form_Run->Gauge1->isHidden());
}

TEST_F(FormRunTest, StornoWithoutMainWindowIsSafe) {
    Build(false, /*withMain=*/false);
    Form_Run->show();
    Form_Run->Flow().OnStorno();
    EXPECT_FALSE(Form_Run->isVisible());
    EXPECT_TRUE(Form_Run->FormKeyPress(27));
    EXPECT_FALSE(Form_Run->FormKeyPress('x'));
}

TEST_F(FormRunTest, ClosingTheWindowOtherwiseStillRunsTheCloseHandler) {
    Build(true, /*withMain=*/false);
    Form_Master->Run().RunParameters.ExitCode = 21;
    Form_Run->show();
    Form_Run->Flow().ShowMessageLine("x", transfer::flow::kBlack);
    Form_Run->close();
    EXPECT_EQ(windows->TerminatedWith, std::vector<int>{21});
    EXPECT_TRUE(Form_Run->Label_Msg->isHidden());
    EXPECT_FALSE(Form_Run->Gauge1->isHidden());
}

} // namespace
