// The start-up sequence run in-process: exit codes, message boxes, windows
// shown, parameters handed to the transfer window, the configuration file.
// Message boxes are answered from a timer; the program's own texts come from
// startup_gui_texts (see CMakeLists.txt): marker #;" and a server on a
// closed loopback port.
#include "platform/ini/PrivateProfile.h"
#include "startup/gui/Form_Main.h"
#include "startup/gui/Form_Set.h"
#include "startup/core/CommandLine.h"
#include "startup/gui/Form_Master.h"
#include "startup/gui/HalvorneWindows.h"
#include "startup/gui/Startup.h"
#include "transfer/gui/FormDownloadSet.h"
#include "transfer/gui/Form_Run.h"

#include "tests/support/TempDir.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>

#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <optional>
#include <set>

using namespace tests::support;

namespace {

const std::string kMarker = "#;\"";
const std::string kDir = "http://127.0.0.1:1/srv/";
const std::string kVersionFile = "verze.txt";
const std::string kNewFile = "SETUP.ZIP";
const std::string kDokumFile = "DOKUMENTACE.PDF";

struct SeenBox {
    QString title, text;
    QMessageBox::Icon icon;
    QStringList buttons;
};

// Answers every message box that becomes modal by pressing its one button,
// and notes which of the program's windows were shown.
class Observer : public QObject {
public:
    Observer() {
        qApp->installEventFilter(this);
        timer_.setInterval(5);
        QObject::connect(&timer_, &QTimer::timeout, [this] { AnswerBox(); });
        timer_.start();
    }
    ~Observer() override { qApp->removeEventFilter(this); }

    std::vector<SeenBox> boxes;
    std::set<std::string> shown; // class names of windows shown

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Show && watched->isWidgetType() && static_cast<QWidget*>(watched)->isWindow())
            shown.insert(watched->metaObject()->className());
        return false;
    }

private:
    void AnswerBox() {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || box == answered_)
            return;
        answered_ = box;
        SeenBox seen{box->windowTitle(), box->text(), box->icon(), {}};
        for (QAbstractButton* b : box->buttons())
            seen.buttons << b->text();
        boxes.push_back(seen);
        if (!box->buttons().isEmpty())
            box->buttons().first()->click();
    }
    QTimer timer_;
    QPointer<QMessageBox> answered_;
};

// Ends a run that is still going once the event loop has it: first as the
// user would (closing the main window), then through EndProgram. The
// transfer window's own closing may have ended it before.
class RunFinisher {
public:
    RunFinisher() {
        timer_.setInterval(50);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            if (!Form_Master || Form_Master->Run().ProcessEnded || Form_Master->Run().QuitRequested)
                return;
            if (ticks_++ == 0) {
                if (Form_Main && Form_Main->isVisible()) {
                    closedMainWindow = true;
                    Form_Main->close();
                    return;
                }
                if (Form_Run && Form_Run->isVisible()) {
                    closedTransferWindow = true;
                    Form_Run->close();
                    return;
                }
            }
            usedEndProgram = true;
            Form_Master->Run().EndProgram();
        });
        timer_.start();
    }
    bool closedMainWindow = false;
    bool closedTransferWindow = false;
    bool usedEndProgram = false;

private:
    QTimer timer_;
    int ticks_ = 0;
};

class StartupTest : public ::testing::Test {
protected:
    void TearDown() override { DestroyHalvorneWindows(); }

    int Run(std::vector<std::string> args, std::string programFile = {}) {
        if (programFile.empty())
            programFile = dir.file("Halvorne");
        args.insert(args.begin(), programFile);
        TStartupOptions options;
        options.TerminateProcess = [this](int code) { terminatedWith = code; };
        return RunHalvorne(args, programFile, options);
    }

    TempDir dir;
    std::string ini = dir.file("Halvorne.INI");
    std::optional<int> terminatedWith;
};

struct RejectedCase {
    const char* name;
    std::vector<std::string> args;
    int exitCode;
};

void PrintTo(const RejectedCase& c, std::ostream* os) { *os << c.name; }

class StartupRejectedTest : public StartupTest, public ::testing::WithParamInterface<RejectedCase> {};

TEST_P(StartupRejectedTest, EndsWithMessageAndExitCode) {
    const RejectedCase& c = GetParam();
    Observer seen;
    const int code = Run(c.args);
    EXPECT_EQ(code, c.exitCode);
    ASSERT_EQ(seen.boxes.size(), 1u);
    const SeenBox& box = seen.boxes[0];
    EXPECT_EQ(box.buttons, QStringList{"OK"});
    if (c.exitCode == 0) {
        EXPECT_EQ(box.title, QString::fromUtf8("Upozornění"));
        EXPECT_EQ(box.icon, QMessageBox::Warning);
        EXPECT_EQ(
            box.text, QString::fromUtf8("Program Halvorne verze 1.10 je určen k použití pouze z evidence majetku!"));
        // Ends quietly: no process end with a code, no configuration file.
        EXPECT_FALSE(terminatedWith.has_value());
        EXPECT_TRUE(Form_Master->Run().QuitRequested);
        EXPECT_FALSE(platform::ini::FileExists(ini));
        EXPECT_EQ(Form_Master->Run().RunParameters.IniFileName, "");
    } else {
        EXPECT_EQ(box.title, QString::fromUtf8("Chyba"));
        EXPECT_EQ(box.icon, QMessageBox::Critical);
        EXPECT_EQ(box.text, QString::fromUtf8("Chybné parametry programu"));
        EXPECT_EQ(terminatedWith, 99);
        EXPECT_EQ(Form_Master->Run().RunParameters.ExitCode, 99);
        // The host started it, so the configuration file was read (created).
        EXPECT_EQ(ReadFile(ini), "[Proxy Server]\nUseProxy=0\nProxyName=\nProxyPort=0\n");
    }
    // No window of the program appeared, only the box.
    std::set<std::string> windows = seen.shown;
    windows.erase("QMessageBox");
    EXPECT_TRUE(windows.empty()) << *windows.begin();
    // Only the master and the transfer window were made: the dialogs and
    // the main window wait until a run needs them.
    EXPECT_TRUE(Form_Master && Form_Run);
    EXPECT_FALSE(Form_Main || Form_Set || FormDownloadSet);
}

INSTANTIATE_TEST_SUITE_P(Cases, StartupRejectedTest,
    ::testing::Values(RejectedCase{"NoArguments", {}, 0},
        RejectedCase{"WrongMarker", {"+@+", "dokum", "/p:/tmp/x/", "auto"}, 0},
        RejectedCase{"MarkerWithExtraCharacter", {kMarker + "!", "dokum", "/p:/tmp/x/"}, 0},
        RejectedCase{"MarkerFirstTwoCharacters", {"#;", "dokum", "/p:/tmp/x/"}, 0},
        RejectedCase{"MarkerAlone", {kMarker}, 99}, RejectedCase{"MarkerAndAuto", {kMarker, "auto"}, 99},
        RejectedCase{"ChkverWithoutTargetDir", {kMarker, "chkver", "/v:5.20", "auto"}, 99},
        RejectedCase{"ChkverWithoutVersion", {kMarker, "chkver", "/p:/tmp/x/", "auto"}, 99},
        RejectedCase{"DokumWithEmptyTargetDir", {kMarker, "dokum", "/p:"}, 99}),
    [](const ::testing::TestParamInfo<RejectedCase>& testInfo) { return std::string(testInfo.param.name); });

TEST_F(StartupTest, InteractiveDokumShowsMainWindowAndHandsOverVersionParams) {
    Observer seen;
    RunFinisher finisher;
    const std::string target = dir.file("out dir"); // no trailing separator typed
    const int code = Run({kMarker, "DOKUM", "/P:" + target, "/v:5.20"});
    EXPECT_EQ(code, 0);
    EXPECT_FALSE(terminatedWith.has_value());
    EXPECT_TRUE(seen.boxes.empty());
    EXPECT_TRUE(seen.shown.count("TForm_Main"));
    EXPECT_FALSE(seen.shown.count("TForm_Run"));
    ASSERT_TRUE(Form_Run);
    // The main window was made when it was to be shown; nothing opened the
    // dialogs.
    EXPECT_FALSE(Form_Set || FormDownloadSet);
    // The main window's version check and the connection test use this run.
    EXPECT_EQ(Form_Run->Flow().TestSet.CurrentVersion, "");
    EXPECT_EQ(Form_Run->Flow().TestSet.ServerDirAddress, kDir);
    EXPECT_EQ(Form_Run->Flow().TestSet.VersionFileName, kVersionFile);
    EXPECT_EQ(Form_Run->Flow().TestSet.NewFileName, "");
    EXPECT_EQ(Form_Run->Flow().TestSet.TargetDir, "");
    EXPECT_EQ(Form_Run->Flow().MainSet.CurrentVersion, "5.20");
    EXPECT_EQ(Form_Run->Flow().MainSet.ServerDirAddress, kDir);
    EXPECT_EQ(Form_Run->Flow().MainSet.VersionFileName, kVersionFile);
    EXPECT_EQ(Form_Run->Flow().MainSet.NewFileName, kNewFile);
    EXPECT_EQ(Form_Run->Flow().MainSet.TargetDir, target + "/");
    // The master was complete before the later windows were created: they
    // took its caption. The master itself never appears.
    const QString caption =
        QString::fromUtf8("Stažení dokumentace evidence majetku  - verze 1.10  (c) Test s.r.o. 2011");
    EXPECT_EQ(QString::fromStdString(Form_Master->Run().RunParameters.CaptionText), caption);
    EXPECT_EQ(Form_Main->windowTitle(), caption);
    EXPECT_EQ(Form_Run->windowTitle(), caption);
    EXPECT_FALSE(seen.shown.count("TForm_Master"));
    EXPECT_FALSE(Form_Master->isEnabled());
    // Closing the main window ended the program.
    EXPECT_TRUE(finisher.closedMainWindow);
    EXPECT_FALSE(finisher.usedEndProgram);
}

TEST_F(StartupTest, AutoDokumRunsTheDownloadWithItsParams) {
    Observer seen;
    RunFinisher finisher;
    const std::string target = dir.prefix() + "Docs/";
    const int code = Run({kMarker, "dokum", "/p:" + target, "auto"});
    EXPECT_TRUE(seen.shown.count("TForm_Run"));
    EXPECT_FALSE(seen.shown.count("TForm_Main"));
    ASSERT_TRUE(Form_Run);
    EXPECT_EQ(Form_Run->Flow().MainSet.ServerDirAddress, kDir);
    EXPECT_EQ(Form_Run->Flow().MainSet.NewFileName, kDokumFile);
    EXPECT_EQ(Form_Run->Flow().MainSet.TargetDir, target);
    // A run the host starts shows none of the other windows, so none was
    // made.
    EXPECT_FALSE(Form_Main || Form_Set || FormDownloadSet);
    // Nothing reachable on the closed port means "not found": the window
    // closed itself and so ended the program with 29.
    EXPECT_EQ(code, 29);
    EXPECT_EQ(terminatedWith, 29);
    EXPECT_FALSE(finisher.usedEndProgram);
}

TEST_F(StartupTest, AutoVersionCheckRunsWithVersionParams) {
    Observer seen;
    RunFinisher finisher;
    const std::string target = dir.prefix() + "Prog/";
    const int code = Run({kMarker, "chkver", "/v:5.20", "/p:" + target, "auto"});
    EXPECT_TRUE(seen.shown.count("TForm_Run"));
    EXPECT_FALSE(seen.shown.count("TForm_Main"));
    ASSERT_TRUE(Form_Run);
    EXPECT_EQ(Form_Run->Flow().TestSet.ServerDirAddress, kDir);
    EXPECT_EQ(Form_Run->Flow().TestSet.VersionFileName, kVersionFile);
    EXPECT_EQ(Form_Run->Flow().TestSet.CurrentVersion + Form_Run->Flow().TestSet.NewFileName +
                  Form_Run->Flow().TestSet.TargetDir,
        "");
    EXPECT_EQ(Form_Run->Flow().MainSet.CurrentVersion, "5.20");
    EXPECT_EQ(Form_Run->Flow().MainSet.ServerDirAddress, kDir);
    EXPECT_EQ(Form_Run->Flow().MainSet.VersionFileName, kVersionFile);
    EXPECT_EQ(Form_Run->Flow().MainSet.NewFileName, kNewFile);
    EXPECT_EQ(Form_Run->Flow().MainSet.TargetDir, target);
    EXPECT_FALSE(Form_Main || Form_Set || FormDownloadSet);
    // A refused connection is "no connection" (55); the window stays open
    // with its message until it is closed, and closing it ends the program.
    EXPECT_EQ(code, 55);
    EXPECT_EQ(terminatedWith, 55);
    EXPECT_TRUE(finisher.closedTransferWindow);
    EXPECT_FALSE(finisher.usedEndProgram);
}

TEST_F(StartupTest, ProxySettingsAreReadAtStart) {
    WriteFile(ini, "[Proxy Server]\nUseProxy=1\nProxyName=proxy.local\nProxyPort=70000\n");
    Observer seen;
    RunFinisher finisher;
    EXPECT_EQ(Run({kMarker, "dokum", "/p:/tmp/x/"}), 0);
    EXPECT_TRUE(seen.boxes.empty());
    const TRunParameters& p = Form_Master->Run().RunParameters;
    EXPECT_EQ(p.IniFileName, ini);
    EXPECT_TRUE(p.UseProxy);
    EXPECT_EQ(p.ProxyName, "proxy.local");
    EXPECT_EQ(p.ProxyPort, 70000);
}

TEST_F(StartupTest, UnwritableConfigurationIsReportedAndStartGoesOn) {
    Observer seen;
    RunFinisher finisher;
    const std::string program = dir.file("gone/Halvorne");
    EXPECT_EQ(Run({kMarker, "dokum", "/p:/tmp/x/"}, program), 0);
    ASSERT_GE(seen.boxes.size(), 1u);
    EXPECT_EQ(seen.boxes[0].title, QString::fromUtf8("Chyba"));
    EXPECT_EQ(seen.boxes[0].icon, QMessageBox::Critical);
    EXPECT_EQ(seen.boxes[0].text, QString::fromStdString("Unable to write to " + dir.file("gone/Halvorne.INI")));
    EXPECT_TRUE(seen.shown.count("TForm_Main"));
    EXPECT_FALSE(Form_Master->Run().RunParameters.UseProxy);
    EXPECT_EQ(Form_Master->Run().RunParameters.ProxyPort, 0);
}

// ---- Form_Master on its own ----

class FormMasterTest : public StartupTest {
protected:
    void SetUp() override {
        Observer quiet; // no box expected for a valid start
        THalvorneWindowsOptions options;
        options.TerminateProcess = [this](int code) { terminatedWith = code; };
        windows_ = std::make_unique<THalvorneWindows>(
            std::vector<std::string>{dir.file("Halvorne"), kMarker, "chkver", "/v:1", "/p:/t/"}, dir.file("Halvorne"),
            options);
        ASSERT_TRUE(quiet.boxes.empty());
    }
    std::unique_ptr<THalvorneWindows> windows_;
};

TEST_F(FormMasterTest, MessageDialogKinds) {
    struct Case {
        startup::flow::MessageKind kind;
        const char* caption;
        QMessageBox::Icon icon;
    };
    const Case cases[] = {{startup::flow::MessageKind::Warning, "Upozornění", QMessageBox::Warning},
        {startup::flow::MessageKind::Error, "Chyba", QMessageBox::Critical},
        {startup::flow::MessageKind::Information, "Informace", QMessageBox::Information}};
    for (const Case& c : cases) {
        Observer seen;
        Form_Master->ShowMessage(c.kind, "Soubor se nepodařilo uložit!\r\n/tmp/<b>x</b>");
        ASSERT_EQ(seen.boxes.size(), 1u);
        EXPECT_EQ(seen.boxes[0].title, QString::fromUtf8(c.caption));
        EXPECT_EQ(seen.boxes[0].icon, c.icon);
        EXPECT_EQ(seen.boxes[0].buttons, QStringList{"OK"});
        EXPECT_EQ(seen.boxes[0].text, QString::fromUtf8("Soubor se nepodařilo uložit!\n/tmp/<b>x</b>"));
    }
}

TEST_F(FormMasterTest, EndProgramWithZeroAsksTheLoopToStop) {
    Form_Master->Run().RunParameters.ExitCode = 0;
    Form_Master->Run().EndProgram();
    EXPECT_TRUE(Form_Master->Run().QuitRequested);
    EXPECT_FALSE(terminatedWith.has_value());
    EXPECT_FALSE(Form_Master->Run().ProcessEnded);
}

TEST_F(FormMasterTest, EndProgramWithCodeEndsTheProcess) {
    for (int code : {21, 25, 29, 55, 99}) {
        terminatedWith.reset();
        Form_Master->Run().RunParameters.ExitCode = code;
        Form_Master->Run().EndProgram();
        EXPECT_EQ(terminatedWith, code);
        EXPECT_TRUE(Form_Master->Run().ProcessEnded);
        EXPECT_EQ(Form_Master->Run().EndedExitCode, code);
        EXPECT_FALSE(Form_Master->Run().QuitRequested);
    }
}

TEST_F(FormMasterTest, EndProgramStopsARunningEventLoop) {
    for (int code : {0, 29}) {
        terminatedWith.reset();
        Form_Master->Run().QuitRequested = false;
        QTimer::singleShot(0, [code] {
            Form_Master->Run().RunParameters.ExitCode = code;
            Form_Master->Run().EndProgram();
        });
        QTimer safety;
        safety.setSingleShot(true);
        QObject::connect(&safety, &QTimer::timeout, [] { QCoreApplication::exit(-1); });
        safety.start(5000);
        EXPECT_EQ(QApplication::exec(), code);
        EXPECT_EQ(Form_Master->Run().QuitRequested, code == 0);
        EXPECT_EQ(terminatedWith.has_value(), code != 0);
    }
}

TEST_F(FormMasterTest, StoredTextGettersReturnThisProgramsTexts) {
    EXPECT_EQ(Form_Master->Run().GetVersionDirAddress(), kDir);
    EXPECT_EQ(Form_Master->Run().GetDokumDirAddress(), kDir);
    EXPECT_EQ(Form_Master->Run().GetVersionFileName(), kVersionFile);
    EXPECT_EQ(Form_Master->Run().GetNewVersionFileName(), kNewFile);
    EXPECT_EQ(Form_Master->Run().GetDokumFileName(), kDokumFile);
    EXPECT_EQ(Form_Master->Run().GetChangesHtmlAddress(), kDir + "zmeny.html");
    EXPECT_EQ(Form_Master->Run().GetChangesPdfAddress(), kDir + "zmeny.pdf");
    // Each call is a fresh copy.
    std::string a = Form_Master->Run().GetVersionFileName();
    a[0] = 'X';
    EXPECT_EQ(Form_Master->Run().GetVersionFileName(), kVersionFile);
    EXPECT_EQ(Form_Master->Run().RunParameters.CaptionText,
        "Kontrola verzí evidence majetku  - verze 1.10  (c) Test s.r.o. 2011");
}

TEST_F(FormMasterTest, ParameterTablesComeFromRunAndStoredTexts) {
    using A = std::array<std::string, 10>;
    const startup::flow::VersionParamSets sets = startup::flow::MakeVersionParamSets(Form_Master->Run());
    const VersionParamSet& t = sets.TestSet;
    const VersionParamSet& m = sets.MainSet;
    EXPECT_EQ((A{t.CurrentVersion, t.ServerDirAddress, t.VersionFileName, t.NewFileName, t.TargetDir, m.CurrentVersion,
                  m.ServerDirAddress, m.VersionFileName, m.NewFileName, m.TargetDir}),
        (A{"", kDir, kVersionFile, "", "", "1", kDir, kVersionFile, kNewFile, "/t/"}));
    const DokumParamSet d = startup::flow::MakeDokumParams(Form_Master->Run());
    EXPECT_EQ((std::array<std::string, 3>{d.ServerDirAddress, d.FileName, d.TargetDir}),
        (std::array<std::string, 3>{kDir, kDokumFile, "/t/"}));
}

TEST_F(FormMasterTest, ExtractParamValueIsCaseExact) {
    std::string v;
    EXPECT_TRUE(startup::ExtractParamValue("/p:/Data/", "/p:", v));
    EXPECT_EQ(v, "/Data/");
    EXPECT_FALSE(startup::ExtractParamValue("/P:/Data/", "/p:", v));
    EXPECT_EQ(v, "");
}

TEST_F(FormMasterTest, ReadProxySettingsAgainPicksUpChanges) {
    EXPECT_FALSE(Form_Master->Run().RunParameters.UseProxy);
    WriteFile(ini, "[Proxy Server]\nUseProxy=1\nProxyName=p\nProxyPort=3128\n");
    Form_Master->Run().ReadProxySettings();
    EXPECT_TRUE(Form_Master->Run().RunParameters.UseProxy);
    EXPECT_EQ(Form_Master->Run().RunParameters.ProxyName, "p");
    EXPECT_EQ(Form_Master->Run().RunParameters.ProxyPort, 3128);
}

} // namespace
