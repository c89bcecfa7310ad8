// The main window: layout, menu, keys, help text and how closing it ends
// the program.
#include "WindowsFixture.h"

#include "startup/gui/Form_Main.h"
#include "startup/gui/Form_Set.h"
#include "transfer/gui/Form_Run.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QTest>
#include <QWindow>

using namespace tests::mainwindow;

namespace {

class MainWindowTest : public WindowsFixture {};

TEST_F(MainWindowTest, LayoutCaptionAndMenuItems) {
    Build();
    EXPECT_EQ(Form_Main->windowTitle().toStdString(), Params().CaptionText);
    EXPECT_FALSE(Params().CaptionText.empty());
    EXPECT_EQ(Form_Main->pos(), QPoint(192, 107));
    Form_Main->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(Form_Main));
    EXPECT_EQ(Form_Main->frameGeometry().size(), QSize(481, 154));
    const QSize frame = Form_Main->frameGeometry().size() - Form_Main->size();
    EXPECT_EQ(Form_Main->minimumSize() + frame, QSize(481, 154));
    // It may grow but not shrink below the designed size.
    Form_Main->resize(Form_Main->width() + 60, Form_Main->height() + 30);
    EXPECT_EQ(Form_Main->frameGeometry().size(), QSize(541, 184));
    Form_Main->resize(200, 80);
    EXPECT_EQ(Form_Main->frameGeometry().size(), QSize(481, 154));

    struct Item {
        QAction* action;
        const char* caption;
        QKeySequence key;
    } items[] = {
        {Form_Main->Menu_Akce, "&Kontrola verze (F9)", QKeySequence(Qt::Key_F9)},
        {Form_Main->Menu_Nastaveni, "&Nastavení (F4)", QKeySequence(Qt::Key_F4)},
        {Form_Main->Menu_Konec, "Konec", QKeySequence()},
        {Form_Main->Menu_Napoveda, "Nápověda (F1)", QKeySequence(Qt::Key_F1)},
    };
    const QList<QAction*> onBar = Form_Main->menuBar()->actions();
    ASSERT_EQ(onBar.size(), 4);
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(items[i].caption);
        ASSERT_NE(items[i].action, nullptr);
        EXPECT_EQ(onBar[i], items[i].action) << "side by side, in this order";
        EXPECT_EQ(items[i].action->text(), QString::fromUtf8(items[i].caption));
        EXPECT_EQ(items[i].action->shortcut(), items[i].key);
        EXPECT_EQ(items[i].action->menu(), nullptr) << "no submenus";
        EXPECT_FALSE(items[i].action->icon().isNull()) << "each item has a picture";
        if (!items[i].key.isEmpty()) {
            EXPECT_EQ(items[i].action->shortcutContext(), Qt::WindowShortcut);
        }
    }
    EXPECT_FALSE(Form_Main->windowIcon().isNull());

    // At the smallest size all four items stand on the bar, none folded
    // away, each wide enough for its picture and caption.
    Form_Main->resize(Form_Main->minimumSize());
    QApplication::processEvents();
    const QMenuBar* bar = Form_Main->menuBar();
    for (const Item& item : items) {
        const QRect r = bar->actionGeometry(item.action);
        EXPECT_FALSE(r.isEmpty()) << item.caption;
        EXPECT_LE(r.right(), bar->width()) << item.caption;
        const int captionWidth = bar->fontMetrics().horizontalAdvance(QString::fromUtf8(item.caption).remove('&'));
        EXPECT_GE(r.width(), captionWidth + 16) << item.caption;
    }
}

TEST_F(MainWindowTest, HelpShowsTheFullPathOfTheIniFile) {
    Build();
    ASSERT_TRUE(Activate(Form_Main));
    QTest::keyClick(Form_Main, Qt::Key_F1);
    const auto boxes = boxes_->Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text.toStdString(), "INI FILE: " + iniFile_);
    EXPECT_EQ(boxes[0].title, QString::fromUtf8("Informace"));
    EXPECT_EQ(Params().IniFileName, iniFile_);
    EXPECT_TRUE(exitCodes_.empty());
    EXPECT_TRUE(Form_Main->isVisible());
}

TEST_F(MainWindowTest, F4OpensTheSettingsModelessAndTheMainWindowStaysUsable) {
    Build();
    ASSERT_TRUE(Activate(Form_Main));
    QTest::keyClick(Form_Main, Qt::Key_F4);
    ASSERT_TRUE(Form_Set->isVisible());
    EXPECT_FALSE(Form_Set->isModal());
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    // The main window still takes its keys while the dialog is open.
    ASSERT_TRUE(Activate(Form_Main));
    QTest::keyClick(Form_Main, Qt::Key_F1);
    EXPECT_EQ(boxes_->Boxes().size(), 1u);
}

TEST_F(MainWindowTest, FunctionKeysActOnlyWhileTheMainWindowIsActive) {
    Build();
    AimChecksAt("http://127.0.0.1:" + std::to_string(FreeLoopbackPort()) + "/", "1.10");
    ASSERT_TRUE(Activate(Form_Main));

    // F9 hides the main window, shows the transfer window and runs the check
    // (here one that cannot connect, so the transfer window stays open).
    QTest::keyClick(Form_Main, Qt::Key_F9);
    EXPECT_FALSE(Form_Main->isVisible());
    EXPECT_TRUE(Form_Run->isVisible());
    EXPECT_EQ(Params().ExitCode, 55);

    // While the main window is hidden its keys do nothing, whether they are
    // typed into another window or sent to the hidden one.
    QWidget other;
    other.setWindowTitle("another window");
    ASSERT_TRUE(Activate(&other));
    const size_t boxesBefore = boxes_->Boxes().size();
    for (Qt::Key k : {Qt::Key_F1, Qt::Key_F4, Qt::Key_F9}) {
        QTest::keyClick(&other, k);
        QTest::keyClick(Form_Main, k);
    }
    EXPECT_EQ(boxes_->Boxes().size(), boxesBefore);
    EXPECT_FALSE(Form_Set->isVisible());
    EXPECT_FALSE(Form_Main->isVisible());
    EXPECT_TRUE(exitCodes_.empty());

    // Shown again but another window active: still nothing.
    Form_Main->show();
    ASSERT_TRUE(Activate(&other));
    QTest::keyClick(&other, Qt::Key_F1);
    EXPECT_EQ(boxes_->Boxes().size(), boxesBefore);

    // Active again: the keys work.
    ASSERT_TRUE(Activate(Form_Main));
    QTest::keyClick(Form_Main, Qt::Key_F1);
    EXPECT_EQ(boxes_->Boxes().size(), boxesBefore + 1);
}

// However the main window closes, the program ends with ExitCode: at once
// with a code other than 0, by stopping the event loop with 0.
TEST_F(MainWindowTest, EveryWayOfClosingEndsTheProgramWithTheExitCode) {
    enum class How { Konec, Escape, CloseBox, CloseWhileHidden, CloseNeverShown };
    const struct {
        How how;
        const char* name;
    } ways[] = {
        {How::Konec, "Konec"},
        {How::Escape, "Esc"},
        {How::CloseBox, "title-bar close box"},
        {How::CloseWhileHidden, "close() while hidden during a check"},
        {How::CloseNeverShown, "close() on a window never shown (automatic mode)"},
    };
    for (const auto& way : ways) {
        for (int code : {0, 29, 55}) {
            SCOPED_TRACE(std::string(way.name) + ", ExitCode " + std::to_string(code));
            Build();
            Params().ExitCode = code;
            switch (way.how) {
            case How::Konec:
                ASSERT_TRUE(Activate(Form_Main));
                Form_Main->Menu_Konec->trigger();
                break;
            case How::Escape:
                ASSERT_TRUE(Activate(Form_Main));
                QTest::keyClick(Form_Main, Qt::Key_Escape);
                break;
            case How::CloseBox:
                ASSERT_TRUE(Activate(Form_Main));
                Form_Main->windowHandle()->close();
                break;
            case How::CloseWhileHidden:
                ASSERT_TRUE(Activate(Form_Main));
                Form_Main->hide();
                Form_Main->close();
                break;
            case How::CloseNeverShown: Form_Main->close(); break;
            }
            EXPECT_FALSE(Form_Main->isVisible());
            if (code != 0) {
                EXPECT_EQ(exitCodes_, std::vector<int>{code});
            } else {
                EXPECT_TRUE(exitCodes_.empty());
                EXPECT_TRUE(Form_Master->Run().QuitRequested);
            }
            TearDown();
            exitCodes_.clear();
        }
    }
}

TEST_F(MainWindowTest, OtherKeysDoNotCloseTheWindow) {
    Build();
    Params().ExitCode = 29;
    ASSERT_TRUE(Activate(Form_Main));
    for (Qt::Key k : {Qt::Key_Return, Qt::Key_Space, Qt::Key_A, Qt::Key_F2})
        QTest::keyClick(Form_Main, k);
    EXPECT_TRUE(Form_Main->isVisible());
    EXPECT_TRUE(exitCodes_.empty());
    EXPECT_FALSE(Form_Main->FormKeyPress('a'));
    EXPECT_TRUE(exitCodes_.empty());
}

// A whole interactive run against a loopback server that publishes a
// version that is not newer: the check ends with 29, the transfer window
// gives way to the main window, and closing it ends the program with 29.
TEST_F(MainWindowTest, ClosingAfterACheckEndingWith29Exits29) {
    ScriptedHttpServer server;
    Build();
    server.Set("/" + Form_Master->Run().GetVersionFileName(), "1.00\r\n");
    AimChecksAt(server.Address(), "1.10");
    ASSERT_TRUE(Activate(Form_Main));
    QTest::keyClick(Form_Main, Qt::Key_F9);
    EXPECT_EQ(Params().ExitCode, 29);
    EXPECT_FALSE(server.RequestLines().empty());
    EXPECT_TRUE(QTest::qWaitFor([] { return Form_Main->isVisible(); }, 2000)) << "back after the check";
    EXPECT_FALSE(Form_Run->isVisible());
    EXPECT_TRUE(exitCodes_.empty()) << "the check alone ends nothing in the interactive mode";
    ASSERT_TRUE(Activate(Form_Main));
    Form_Main->Menu_Konec->trigger();
    EXPECT_EQ(exitCodes_, std::vector<int>{29});
}

TEST_F(MainWindowTest, ClosingBeforeAnyCheckExits0) {
    Build();
    ASSERT_TRUE(Activate(Form_Main));
    EXPECT_EQ(Params().ExitCode, 0);
    Form_Main->Menu_Konec->trigger();
    EXPECT_TRUE(exitCodes_.empty());
    EXPECT_TRUE(Form_Master->Run().QuitRequested);
}

// The transfer window's Storno in the interactive mode gives the main window
// back, with its keys working again.
TEST_F(MainWindowTest, TransferStornoBringsTheMainWindowBack) {
    Build();
    AimChecksAt("http://127.0.0.1:" + std::to_string(FreeLoopbackPort()) + "/", "1.10");
    ASSERT_TRUE(Activate(Form_Main));
    QTest::keyClick(Form_Main, Qt::Key_F9);
    ASSERT_TRUE(Form_Run->isVisible()) << "a failed check leaves the transfer window open";
    ASSERT_FALSE(Form_Main->isVisible());
    QTest::mouseClick(Form_Run->BitBtn_Storno, Qt::LeftButton);
    EXPECT_TRUE(Form_Main->isVisible());
    EXPECT_FALSE(Form_Run->isVisible());
    EXPECT_TRUE(exitCodes_.empty());
    EXPECT_FALSE(Form_Master->Run().QuitRequested);
    ASSERT_TRUE(Activate(Form_Main));
    QTest::keyClick(Form_Main, Qt::Key_F1);
    EXPECT_EQ(boxes_->Boxes().size(), 1u);
}

// Esc in the transfer window closes the main window while it is hidden; that
// alone ends the program, with the code of the failed check.
TEST_F(MainWindowTest, TransferEscEndsTheProgramThroughTheHiddenMainWindow) {
    Build();
    AimChecksAt("http://127.0.0.1:" + std::to_string(FreeLoopbackPort()) + "/", "1.10");
    ASSERT_TRUE(Activate(Form_Main));
    QTest::keyClick(Form_Main, Qt::Key_F9);
    ASSERT_FALSE(Form_Main->isVisible());
    ASSERT_EQ(Params().ExitCode, 55);
    EXPECT_TRUE(Form_Run->FormKeyPress(27));
    EXPECT_EQ(exitCodes_, std::vector<int>{55});
}

// In the automatic mode the transfer window's "Nastavení" opens the settings
// dialog modeless, without its test button.
TEST_F(MainWindowTest, TransferSettingsButtonOpensTheDialogModeless) {
    Build({.extraArgs = {"chkver", "/v:1.10"}, .autoMode = true, .iniContent = std::nullopt});
    ASSERT_TRUE(Activate(Form_Run));
    ASSERT_TRUE(Form_Run->BitBtn_Set->isVisible());
    QTest::mouseClick(Form_Run->BitBtn_Set, Qt::LeftButton);
    EXPECT_TRUE(Form_Set->isVisible());
    EXPECT_FALSE(Form_Set->isModal());
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_FALSE(Form_Set->Button_Test->isVisible());
    EXPECT_FALSE(Form_Main->isVisible()) << "the main window plays no part in the automatic mode";
    // Closing the dialog ends nothing.
    QTest::mouseClick(Form_Set->BitBtn_Storno, Qt::LeftButton);
    EXPECT_FALSE(Form_Set->isVisible());
    EXPECT_TRUE(exitCodes_.empty());
    EXPECT_FALSE(Form_Master->Run().QuitRequested);
}

// A check that closed the transfer window at its end (not newer, or the
// next-step dialog left with Storno) must not make a later check that fails
// before the comparison close it too: the failure stays on the screen, in
// the transfer window, until the user closes it.
TEST_F(MainWindowTest, ALaterCheckThatFailsEarlyStaysOnTheScreen) {
    const struct {
        const char* name;
        const char* serverVersion;
        int exitCode;
    } firsts[] = {{"not newer", "1.00\r\n", 29}, {"newer, left with Storno", "9.99\r\n", 0}};
    enum class Failure { NoConnection, NotFound, TooShort };
    const struct {
        const char* name;
        Failure failure;
        int exitCode;
        QString status;  // null: depends on when the server closes, not checked
        QString message; // null: the message line is not shown
    } laters[] = {
        {"no connection", Failure::NoConnection, 55, QStringLiteral("SPOJENÍ SE NEPODAŘILO NAVÁZAT"),
            QStringLiteral("Zkontrolujte nastavení připojení, firewallu a funkčnost zařízení pro připojení k "
                           "internetu a akci zopakujte!")},
        {"version file missing", Failure::NotFound, 29, QString(), QString("")},
        {"version file of 4 bytes", Failure::TooShort, 29, QStringLiteral("SPOJENÍ NAVÁZÁNO"), QString("")},
    };
    for (const auto& first : firsts) {
        for (const auto& later : laters) {
            SCOPED_TRACE(std::string(first.name) + ", then " + later.name);
            ScriptedHttpServer firstServer, laterServer;
            Build();
            firstServer.Set("/" + Form_Master->Run().GetVersionFileName(), first.serverVersion);
            if (later.failure == Failure::TooShort)
                laterServer.Set("/" + Form_Master->Run().GetVersionFileName(), "5.30");
            AimChecksAt(firstServer.Address(), "1.10");
            ASSERT_TRUE(Activate(Form_Main));
            QTest::keyClick(Form_Main, Qt::Key_F9);
            ASSERT_EQ(Params().ExitCode, first.exitCode);
            ASSERT_TRUE(QTest::qWaitFor([] { return Form_Main->isVisible(); }, 2000)) << "the first check closed";
            ASSERT_FALSE(Form_Run->isVisible());

            AimChecksAt(later.failure == Failure::NoConnection
                            ? "http://127.0.0.1:" + std::to_string(FreeLoopbackPort()) + "/"
                            : laterServer.Address(),
                "1.10");
            ASSERT_TRUE(Activate(Form_Main));
            QTest::keyClick(Form_Main, Qt::Key_F9);
            EXPECT_EQ(Params().ExitCode, later.exitCode);
            QTest::qWait(50);
            EXPECT_TRUE(Form_Run->isVisible()) << "the failure is on the screen";
            EXPECT_FALSE(Form_Main->isVisible());
            if (!later.status.isNull()) {
                EXPECT_EQ(Form_Run->Label_Top->text(), later.status);
            }
            EXPECT_EQ(Form_Run->Label_Msg->isVisible(), !later.message.isNull());
            if (!later.message.isNull()) {
                EXPECT_EQ(Form_Run->Label_Msg->text(), later.message);
            }
            EXPECT_TRUE(exitCodes_.empty());
            TearDown();
        }
    }
}

} // namespace
