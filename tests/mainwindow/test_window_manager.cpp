// Halvorne's windows on a real X server, seen and handled the way a window
// manager sees and handles them: a close request sent to the transfer
// window from the desktop, and the owner and layer of every window and box
// that opens while the always-on-top transfer window is up.
#include "WindowsFixture.h"
#include "tests/support/XWindowProbe.h"

#include "startup/gui/Form_Main.h"
#include "startup/gui/Form_Set.h"
#include "transfer/gui/FormDownloadSet.h"
#include "transfer/gui/Form_Run.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QTimer>

#include <filesystem>
#include <memory>

using namespace tests::mainwindow;

namespace {

const char* const kRefused =
    "Chybné nastavení parametrů připojení!\n\nZrušte použití proxy serveru nebo zadejte potřebné údaje!";
const char* const kTestFailed =
    "Připojení k internetu nefunguje - opravte nastavení a případně prověřte firewall a technická zařízení!";

std::string Ini(const std::string& use, const std::string& name, const std::string& port) {
    return "[Proxy Server]\r\nUseProxy=" + use + "\r\nProxyName=" + name + "\r\nProxyPort=" + port + "\r\n";
}

class WindowManagerTest : public WindowsFixture {
protected:
    void SetUp() override {
        probe_ = std::make_unique<tests::support::XWindowProbe>(qEnvironmentVariable("DISPLAY").toStdString());
    }

    static unsigned long Id(QWidget* w) { return static_cast<unsigned long>(w->winId()); }

    // What the X server shows, not what the widget believes.
    bool OnScreen(QWidget* w) { return probe_->Viewable(Id(w)); }
    bool WaitOnScreen(QWidget* w, bool shown) {
        return QTest::qWaitFor([&] { return OnScreen(w) == shown; }, 5000);
    }

    // Activates w as a click on it would under a window manager: the focus
    // leaves whatever window had it, then goes to w at the server's current
    // time. (Qt keeps a hidden window as its focus window until it hears of
    // a focus change, and its own activation request carries the last time
    // it saw, which loses against the server's revert of the focus.)
    bool ActivateOnTheDesktop(QWidget* w) {
        probe_->GiveFocus(0);
        if (!QTest::qWaitFor([] { return QGuiApplication::focusWindow() == nullptr; }, 2000))
            return false;
        probe_->GiveFocus(Id(w));
        return QTest::qWaitFor([w] { return QApplication::activeWindow() == w; }, 5000);
    }

    bool KeptAboveTransferWindow(QWidget* w) { return probe_->KeptAbove(Id(w), Id(Form_Run)); }

    // The close request of the desktop (close box, Alt+F4, the task bar).
    void CloseFromTheDesktop(QWidget* w) { ASSERT_TRUE(probe_->SendDeleteWindow(Id(w))); }

    // Records, for every box answered, whether it was kept above the
    // transfer window once it had reached the screen.
    void RecordBoxesAboveTheTransferWindow() {
        boxes_->BeforeAnswer = [this](QWidget* box) {
            const bool shown = WaitOnScreen(box, true);
            boxAbove_.push_back(shown && KeptAboveTransferWindow(box));
        };
    }

    std::string BrokenProgramFolder() {
        // A file where the program folder was: no write to the configuration
        // file can succeed, not even as root.
        const std::filesystem::path dir = std::filesystem::path(iniFile_).parent_path();
        std::filesystem::remove_all(dir);
        WriteFile(dir.string(), "not a folder\n");
        return "Unable to write to " + iniFile_;
    }

    std::unique_ptr<tests::support::XWindowProbe> probe_;
    std::vector<bool> boxAbove_;
};

// ---- a close request from the desktop ----

// In the interactive mode the transfer window closed from the desktop gives
// the main window back, as its Storno does, whether the check has ended or
// is still waiting for the server; nothing ends.
TEST_F(WindowManagerTest, ClosedFromTheDesktopInTheInteractiveModeTheMainWindowComesBack) {
    for (bool whileWaiting : {false, true}) {
        SCOPED_TRACE(whileWaiting ? "while the check waits for the server" : "after a failed check");
        ScriptedServer silent({ScriptStep::Read(), ScriptStep::HoldOpen()});
        Build();
        AimChecksAt(
            "http://127.0.0.1:" + std::to_string(whileWaiting ? silent.Port() : FreeLoopbackPort()) + "/", "1.10");
        ASSERT_TRUE(Activate(Form_Main));
        ASSERT_TRUE(probe_->TakesDeleteWindow(Id(Form_Main)));
        bool closeSent = false;
        QTimer sendClose, giveUp;
        if (whileWaiting) {
            sendClose.setSingleShot(true);
            QObject::connect(&sendClose, &QTimer::timeout, [&] { closeSent = probe_->SendDeleteWindow(Id(Form_Run)); });
            sendClose.start(300);
            // Should the close never arrive, the check must still end.
            giveUp.setSingleShot(true);
            QObject::connect(&giveUp, &QTimer::timeout, [&] { Form_Run->Flow().Http.Disconnect(); });
            giveUp.start(10000);
        }
        Form_Main->Menu_Akce->trigger();
        if (!whileWaiting) {
            ASSERT_EQ(Params().ExitCode, 55);
            ASSERT_TRUE(WaitOnScreen(Form_Run, true));
            ASSERT_FALSE(OnScreen(Form_Main));
            CloseFromTheDesktop(Form_Run);
        } else {
            EXPECT_TRUE(closeSent);
            EXPECT_EQ(silent.Connections(), 1);
        }
        EXPECT_TRUE(WaitOnScreen(Form_Run, false));
        EXPECT_TRUE(WaitOnScreen(Form_Main, true)) << "the main window is back on the screen";
        EXPECT_TRUE(Form_Main->isVisible());
        EXPECT_TRUE(exitCodes_.empty());
        EXPECT_FALSE(Form_Master->Run().QuitRequested) << "the program goes on";
        // And it is the main window again: its keys work.
        ASSERT_TRUE(ActivateOnTheDesktop(Form_Main));
        QTest::keyClick(Form_Main, Qt::Key_F1);
        EXPECT_EQ(boxes_->Boxes().size(), 1u);
        TearDown();
        exitCodes_.clear();
    }
}

// In the automatic mode the same close ends the program with the run's code.
TEST_F(WindowManagerTest, ClosedFromTheDesktopInTheAutomaticModeTheProgramEndsWithItsCode) {
    Build({.autoMode = true, .iniContent = std::nullopt});
    AimChecksAt("http://127.0.0.1:" + std::to_string(FreeLoopbackPort()) + "/", "1.10");
    Form_Run->show();
    Form_Run->Flow().CheckAndDownloadVersionFiles(false);
    ASSERT_EQ(Params().ExitCode, 55);
    ASSERT_TRUE(WaitOnScreen(Form_Run, true)) << "a failed check stays on the screen";
    CloseFromTheDesktop(Form_Run);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !exitCodes_.empty(); }, 5000));
    ASSERT_FALSE(exitCodes_.empty());
    for (int code : exitCodes_)
        EXPECT_EQ(code, 55);
    EXPECT_TRUE(WaitOnScreen(Form_Run, false));
    EXPECT_FALSE(Form_Main->isVisible()) << "the main window plays no part in the automatic mode";
}

// ---- windows opened over the transfer window ----

// In the automatic mode the settings dialog opened by "Nastavení", and the
// boxes it shows (a refused save, a configuration file that cannot be
// written, when the dialog opens and when it saves), are kept above the
// transfer window by the window manager.
TEST_F(WindowManagerTest, SettingsDialogAndItsBoxesStayAboveTheTransferWindow) {
    Build({.autoMode = true, .iniContent = Ini("0", "", "0")});
    RecordBoxesAboveTheTransferWindow();
    ASSERT_TRUE(Activate(Form_Run));
    ASSERT_TRUE(probe_->HasNetWmState(Id(Form_Run), "_NET_WM_STATE_ABOVE")) << "the transfer window is on top";

    QTest::mouseClick(Form_Run->BitBtn_Set, Qt::LeftButton);
    ASSERT_TRUE(WaitOnScreen(Form_Set, true));
    EXPECT_TRUE(KeptAboveTransferWindow(Form_Set));

    // A checked proxy without a name: refused.
    ASSERT_TRUE(Activate(Form_Set));
    QTest::mouseClick(Form_Set->CheckBox_Set, Qt::LeftButton);
    QTest::mouseClick(Form_Set->BitBtn_Save, Qt::LeftButton);
    // The configuration file cannot be written: once when the dialog
    // opens again, once when it saves.
    QTest::mouseClick(Form_Set->BitBtn_Storno, Qt::LeftButton);
    const std::string unableToWrite = BrokenProgramFolder();
    ASSERT_TRUE(Activate(Form_Run));
    QTest::mouseClick(Form_Run->BitBtn_Set, Qt::LeftButton);
    ASSERT_TRUE(WaitOnScreen(Form_Set, true));
    EXPECT_TRUE(KeptAboveTransferWindow(Form_Set)) << "opened again";
    Form_Set->CheckBox_Set->setChecked(true);
    Form_Set->Flow().OnUseProxyClicked();
    Form_Set->LabeledEdit_ProxyName->setText("proxy.local");
    Form_Set->SpinEdit_ProxyPort->setValue(3128);
    QTest::mouseClick(Form_Set->BitBtn_Save, Qt::LeftButton);

    const std::vector<QString> expected{
        QString::fromUtf8(kRefused), QString::fromStdString(unableToWrite), QString::fromStdString(unableToWrite)};
    EXPECT_EQ(boxes_->Texts(), expected);
    EXPECT_EQ(boxAbove_, std::vector<bool>(expected.size(), true));
}

// The next-step dialog that a check opens over the transfer window.
TEST_F(WindowManagerTest, NextStepDialogStaysAboveTheTransferWindow) {
    ScriptedHttpServer server;
    Build({.autoMode = true, .iniContent = Ini("0", "", "0")});
    server.Set("/" + Form_Master->Run().GetVersionFileName(), "9.99\r\n");
    AimChecksAt(server.Address(), "1.10");
    bool seen = false, above = false;
    boxes_.reset(); // the dialog is answered here
    QTimer poll;
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (seen || QApplication::activeModalWidget() != FormDownloadSet)
            return;
        seen = true;
        above = WaitOnScreen(FormDownloadSet, true) && KeptAboveTransferWindow(FormDownloadSet);
        FormDownloadSet->BitBtnCancel->click();
    });
    poll.start();
    Form_Run->show();
    Form_Run->Flow().CheckAndDownloadVersionFiles(false);
    EXPECT_TRUE(seen);
    EXPECT_TRUE(above);
}

// In the interactive mode a check that failed leaves the transfer window on
// top; the box of a connection test started from the settings dialog (open
// since before the check) must not open under it.
TEST_F(WindowManagerTest, BoxesOfTheSettingsDialogOpenedFromTheMainWindowStayAboveAnOpenTransferWindow) {
    Build({.iniContent = Ini("0", "", "0")});
    RecordBoxesAboveTheTransferWindow();
    AimChecksAt("http://127.0.0.1:" + std::to_string(FreeLoopbackPort()) + "/", "1.10");
    ASSERT_TRUE(Activate(Form_Main));
    QTest::keyClick(Form_Main, Qt::Key_F4);
    ASSERT_TRUE(WaitOnScreen(Form_Set, true));
    ASSERT_TRUE(Activate(Form_Main));
    QTest::keyClick(Form_Main, Qt::Key_F9);
    ASSERT_EQ(Params().ExitCode, 55);
    ASSERT_TRUE(WaitOnScreen(Form_Run, true));
    ASSERT_TRUE(Activate(Form_Set));
    QTest::mouseClick(Form_Set->Button_Test, Qt::LeftButton);
    EXPECT_EQ(boxes_->Texts(), std::vector<QString>{QString::fromUtf8(kTestFailed)});
    EXPECT_EQ(boxAbove_, std::vector<bool>{true});
}

} // namespace
