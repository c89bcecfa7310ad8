// The connection-settings dialog: what it shows, what it saves and refuses,
// the connection test, Storno, Esc, and a second opening.
#include "WindowsFixture.h"

#include "platform/net/SocketErrors.h"
#include "platform/net/TcpSocket.h"
#include "startup/core/ProxySettings.h"
#include "startup/gui/Form_Main.h"
#include "startup/gui/Form_Set.h"
#include "transfer/gui/Form_Run.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>

#include <filesystem>
#include <random>

using namespace tests::mainwindow;

namespace {

// The message box shows the CR LF pairs as line breaks: an empty line
// stands between the two sentences.
const char* const kRefused =
    "Chybné nastavení parametrů připojení!\n\nZrušte použití proxy serveru nebo zadejte potřebné údaje!";
const char* const kTestOk = "Připojení k internetu je fukční, můžete pokračovat.";
const char* const kTestFailed =
    "Připojení k internetu nefunguje - opravte nastavení a případně prověřte firewall a technická zařízení!";
const char* const kCheckRunning = "Právě probíhá kontrola verze - test spojení zopakujte po jejím dokončení!";

std::string Ini(const std::string& use, const std::string& name, const std::string& port) {
    return "[Proxy Server]\r\nUseProxy=" + use + "\r\nProxyName=" + name + "\r\nProxyPort=" + port + "\r\n";
}

class SettingsDialogTest : public WindowsFixture {
protected:
    void Open() {
        Form_Set->Flow().Open();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(Form_Set));
    }
    QLineEdit* PortText() { return Form_Set->SpinEdit_ProxyPort->findChild<QLineEdit*>(); }
    // Types into a field the way a user does: select all, then keys.
    static void TypeInto(QWidget* w, const QString& text) {
        w->setFocus();
        QTest::keyClick(w, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(w, Qt::Key_Delete);
        bool ascii = true;
        for (QChar c : text)
            ascii = ascii && c.unicode() < 128;
        if (ascii)
            QTest::keyClicks(w, text);
        else if (auto* edit = qobject_cast<QLineEdit*>(w))
            edit->insert(text); // the key simulator knows only ASCII
        else
            ADD_FAILURE() << "cannot type non-ASCII text here";
    }
    std::map<std::string, std::string> File() { return ReadIniSection(iniFile_, "Proxy Server"); }
    void ExpectParams(bool use, const std::string& name, int port) {
        EXPECT_EQ(Params().UseProxy, use);
        EXPECT_EQ(Params().ProxyName, name);
        EXPECT_EQ(Params().ProxyPort, port);
    }
};

TEST_F(SettingsDialogTest, LayoutTabOrderAndAnchors) {
    Build();
    Open();
    EXPECT_EQ(Form_Set->windowTitle(), QString::fromUtf8("Nastavení"));
    EXPECT_EQ(Form_Set->frameGeometry().size(), QSize(281, 149));
    EXPECT_FALSE(Form_Set->isModal());
    EXPECT_EQ(Form_Set->CheckBox_Set->text(), QString::fromUtf8("&Použití proxy serveru"));
    EXPECT_EQ(Form_Set->LabeledEdit_ProxyNameLabel->text(), QString::fromUtf8("Proxy server"));
    EXPECT_EQ(Form_Set->StaticText_ProxyPort->text(), QString::fromUtf8("Proxy port"));
    EXPECT_EQ(Form_Set->Button_Test->text(), QString::fromUtf8("&Test spojení"));
    EXPECT_EQ(Form_Set->BitBtn_Save->text(), QString::fromUtf8("&Uložit"));
    EXPECT_EQ(Form_Set->BitBtn_Storno->text(), QString::fromUtf8("&Storno"));
    for (QPushButton* b : {Form_Set->Button_Test, Form_Set->BitBtn_Save, Form_Set->BitBtn_Storno}) {
        EXPECT_FALSE(b->icon().isNull());
        EXPECT_FALSE(b->autoDefault()) << "Enter in a field must not press " << b->text().toStdString();
    }
    EXPECT_GE(Form_Set->StaticText_ProxyPort->width(), Form_Set->StaticText_ProxyPort->sizeHint().width())
        << "the text is not cut short";
    EXPECT_EQ(Form_Set->SpinEdit_ProxyPort->minimum(), 0);
    EXPECT_EQ(Form_Set->SpinEdit_ProxyPort->maximum(), 65535);
    // The label sits above its field, 8 pixels apart.
    const QRect label = Form_Set->LabeledEdit_ProxyNameLabel->geometry();
    EXPECT_EQ(Form_Set->LabeledEdit_ProxyName->geometry().top() - label.bottom() - 1, 8);

    // Tab order: check box, name, port, test, save, storno (the box must be
    // checked for the fields to take the focus).
    Form_Set->CheckBox_Set->setChecked(true);
    Form_Set->Flow().OnUseProxyClicked();
    ASSERT_TRUE(Activate(Form_Set));
    Form_Set->CheckBox_Set->setFocus();
    QWidget* expected[] = {Form_Set->LabeledEdit_ProxyName, Form_Set->SpinEdit_ProxyPort, Form_Set->Button_Test,
        Form_Set->BitBtn_Save, Form_Set->BitBtn_Storno, Form_Set->CheckBox_Set};
    for (QWidget* w : expected) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QWidget* f = QApplication::focusWidget();
        // The spin field's inner text takes the focus on its behalf.
        while (f && f != w && f->parentWidget() && f->parentWidget() != Form_Set->Panel1)
            f = f->parentWidget();
        EXPECT_EQ(f, w) << "expected " << w->objectName().toStdString();
    }

    // Widening: left/right-anchored controls grow, right-anchored ones move,
    // left-anchored ones stay; the height cannot change.
    const QRect check = Form_Set->CheckBox_Set->geometry();
    const QRect name = Form_Set->LabeledEdit_ProxyName->geometry();
    const QRect port = Form_Set->SpinEdit_ProxyPort->geometry();
    const QRect portText = Form_Set->StaticText_ProxyPort->geometry();
    const QRect test = Form_Set->Button_Test->geometry();
    const QRect save = Form_Set->BitBtn_Save->geometry();
    const QRect storno = Form_Set->BitBtn_Storno->geometry();
    EXPECT_EQ(Form_Set->Panel1->width() - storno.right() - 1, 8) << "right-anchored: 8 pixels from the edge";
    EXPECT_EQ(Form_Set->Panel1->height() - storno.bottom() - 1, 11) << "bottom-anchored: 11 pixels from the edge";
    EXPECT_EQ(Form_Set->Panel1->size(), Form_Set->size()) << "the panel fills the window";
    Form_Set->resize(Form_Set->width() + 100, Form_Set->height() + 50);
    EXPECT_EQ(Form_Set->frameGeometry().size(), QSize(381, 149));
    EXPECT_EQ(Form_Set->CheckBox_Set->geometry(), check.adjusted(0, 0, 100, 0));
    EXPECT_EQ(Form_Set->LabeledEdit_ProxyName->geometry(), name.adjusted(0, 0, 100, 0));
    EXPECT_EQ(Form_Set->SpinEdit_ProxyPort->geometry(), port.translated(100, 0));
    EXPECT_EQ(Form_Set->StaticText_ProxyPort->geometry(), portText.translated(100, 0));
    EXPECT_EQ(Form_Set->Button_Test->geometry(), test);
    EXPECT_EQ(Form_Set->BitBtn_Save->geometry(), save.translated(100, 0));
    EXPECT_EQ(Form_Set->BitBtn_Storno->geometry(), storno.translated(100, 0));
    Form_Set->resize(100, 100);
    EXPECT_EQ(Form_Set->frameGeometry().size(), QSize(281, 149)) << "no narrower than designed";
}

TEST_F(SettingsDialogTest, OpensWithTheFileValues) {
    Build({.iniContent = Ini("1", "proxy.example.test", "8080")});
    Open();
    EXPECT_TRUE(Form_Set->CheckBox_Set->isChecked());
    EXPECT_EQ(Form_Set->LabeledEdit_ProxyName->text(), QString("proxy.example.test"));
    EXPECT_EQ(Form_Set->SpinEdit_ProxyPort->value(), 8080);
    EXPECT_TRUE(Form_Set->LabeledEdit_ProxyName->isEnabled());
    EXPECT_TRUE(Form_Set->SpinEdit_ProxyPort->isEnabled());
    EXPECT_TRUE(Form_Set->StaticText_ProxyPort->isEnabled());
    EXPECT_EQ(Form_Set->Flow().SavedUseProxy, true);
    EXPECT_EQ(Form_Set->Flow().SavedProxyName, "proxy.example.test");
    EXPECT_EQ(Form_Set->Flow().SavedProxyPort, 8080);
    EXPECT_TRUE(boxes_->Boxes().empty());
}

TEST_F(SettingsDialogTest, ShowReadsTheFileAgain) {
    Build({.iniContent = Ini("0", "", "0")});
    // Changed by hand after start-up: the dialog shows the file, not the
    // values start-up read.
    WriteFile(iniFile_, Ini("1", "edited.by.hand", "3128"));
    ExpectParams(false, "", 0);
    Open();
    EXPECT_TRUE(Form_Set->CheckBox_Set->isChecked());
    EXPECT_EQ(Form_Set->LabeledEdit_ProxyName->text(), QString("edited.by.hand"));
    ExpectParams(true, "edited.by.hand", 3128);
}

TEST_F(SettingsDialogTest, PortOutsideTheRangeIsClampedInTheRunParametersAtShow) {
    const struct {
        const char* inFile;
        int atStartUp;
        int afterShow;
    } cases[] = {
        {"70000", 70000, 65535},
        {"-5", -5, 0},
        {"65535", 65535, 65535},
        {"65536", 65536, 65535},
        {"0", 0, 0},
        {"3128", 3128, 3128},
        {"-1", -1, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.inFile);
        Build({.iniContent = Ini("1", "p", c.inFile)});
        EXPECT_EQ(Params().ProxyPort, c.atStartUp) << "start-up takes the file as it is";
        Open();
        EXPECT_EQ(Params().ProxyPort, c.afterShow);
        EXPECT_EQ(Form_Set->SpinEdit_ProxyPort->value(), c.afterShow);
        EXPECT_EQ(Form_Set->SpinEdit_ProxyPort->text(), QString::number(c.afterShow));
        EXPECT_EQ(Form_Set->Flow().SavedProxyPort, c.afterShow);
        EXPECT_EQ(File()["proxyport"], c.inFile) << "the show changes nothing in the file";
        TearDown();
    }
}

TEST_F(SettingsDialogTest, CheckBoxEnablesAndClearsTheFields) {
    Build({.iniContent = Ini("1", "proxy.local", "8080")});
    Open();
    const QColor own = Form_Set->palette().color(QPalette::Window);
    ASSERT_NE(Form_Set->SavedColor, own) << "the check below needs two distinct colours";
    EXPECT_EQ(Form_Set->LabeledEdit_ProxyName->palette().color(QPalette::Base), Form_Set->SavedColor);
    EXPECT_EQ(Form_Set->SpinEdit_ProxyPort->palette().color(QPalette::Base), Form_Set->SavedColor);

    QTest::mouseClick(Form_Set->CheckBox_Set, Qt::LeftButton);
    EXPECT_FALSE(Form_Set->CheckBox_Set->isChecked());
    EXPECT_EQ(Form_Set->LabeledEdit_ProxyName->text(), QString());
    EXPECT_FALSE(Form_Set->LabeledEdit_ProxyName->isEnabled());
    EXPECT_EQ(Form_Set->SpinEdit_ProxyPort->value(), 0);
    EXPECT_FALSE(Form_Set->SpinEdit_ProxyPort->isEnabled());
    EXPECT_FALSE(Form_Set->StaticText_ProxyPort->isEnabled());
    EXPECT_EQ(Form_Set->LabeledEdit_ProxyName->palette().color(QPalette::Base), own);
    EXPECT_EQ(Form_Set->SpinEdit_ProxyPort->palette().color(QPalette::Base), own);

    // Checking again does not bring the typed values back.
    QTest::mouseClick(Form_Set->CheckBox_Set, Qt::LeftButton);
    EXPECT_TRUE(Form_Set->CheckBox_Set->isChecked());
    EXPECT_EQ(Form_Set->LabeledEdit_ProxyName->text(), QString());
    EXPECT_EQ(Form_Set->SpinEdit_ProxyPort->value(), 0);
    EXPECT_TRUE(Form_Set->LabeledEdit_ProxyName->isEnabled());
    EXPECT_FALSE(Form_Set->LabeledEdit_ProxyName->isReadOnly());
    EXPECT_TRUE(Form_Set->SpinEdit_ProxyPort->isEnabled());
    EXPECT_FALSE(Form_Set->SpinEdit_ProxyPort->isReadOnly());
    EXPECT_EQ(Form_Set->LabeledEdit_ProxyName->palette().color(QPalette::Base), Form_Set->SavedColor);
    // Only clicks change the file.
    EXPECT_EQ(File()["proxyname"], "proxy.local");
}

// Box checked with values that cannot work: the warning, nothing written,
// the run parameters and the dialog as they were.
TEST_F(SettingsDialogTest, IncompleteProxySettingsAreRefused) {
    const struct {
        const char* what;
        QString name;
        QString port; // typed into the port field
    } cases[] = {
        {"name of blanks only", "   ", "3128"},
        {"empty name", "", "3128"},
        {"port 0", "proxy.local", "0"},
        {"port field holding text", "proxy.local", "abc"},
        {"port field holding text after digits", "proxy.local", "31x"},
        {"port field empty", "proxy.local", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Build({.iniContent = Ini("0", "old.proxy", "8080")});
        const std::string before = ReadFile(iniFile_);
        Open();
        ASSERT_TRUE(Activate(Form_Set));
        QTest::mouseClick(Form_Set->CheckBox_Set, Qt::LeftButton);
        TypeInto(Form_Set->LabeledEdit_ProxyName, c.name);
        TypeInto(PortText(), c.port);
        EXPECT_EQ(PortText()->text(), c.port) << "the field keeps what was typed";
        EXPECT_FALSE(Form_Set->Flow().SaveSettings());
        ASSERT_EQ(boxes_->Boxes().size(), 1u);
        EXPECT_EQ(boxes_->Boxes()[0].text, QString::fromUtf8(kRefused));
        EXPECT_EQ(boxes_->Boxes()[0].title, QString::fromUtf8("Upozornění"));
        EXPECT_EQ(ReadFile(iniFile_), before);
        ExpectParams(false, "old.proxy", 8080);

        // The save button says the same and leaves the dialog open.
        QTest::mouseClick(Form_Set->BitBtn_Save, Qt::LeftButton);
        EXPECT_EQ(boxes_->Boxes().size(), 2u);
        EXPECT_TRUE(Form_Set->isVisible());
        EXPECT_EQ(ReadFile(iniFile_), before);
        TearDown();
    }
}

TEST_F(SettingsDialogTest, AcceptedSettingsAreWrittenAsTyped) {
    const struct {
        const char* what;
        bool check;
        QString name;
        QString port;
        std::string fileUse, fileName, filePort;
        bool use;
        std::string name8;
        int portValue;
    } cases[] = {
        {"name with blanks around it: used and saved without them", true, "  proxy.local  ", "3128", "1", "proxy.local",
            "3128", true, "proxy.local", 3128},
        {"port above the range is pulled in", true, "10.0.0.1", "70000", "1", "10.0.0.1", "65535", true, "10.0.0.1",
            65535},
        {"port with blanks around it", true, "h", " 8080 ", "1", "h", "8080", true, "h", 8080},
        {"name with Czech letters", true, QString::fromUtf8("proxy.žluťoučký.cz"), "80", "1", "proxy.žluťoučký.cz",
            "80", true, "proxy.žluťoučký.cz", 80},
        {"unchecked: off, empty and 0", false, "", "", "0", "", "0", false, "", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Build({.iniContent = Ini("1", "old.proxy", "8080")});
        Open();
        ASSERT_TRUE(Activate(Form_Set));
        if (!c.check) {
            QTest::mouseClick(Form_Set->CheckBox_Set, Qt::LeftButton);
        } else {
            TypeInto(Form_Set->LabeledEdit_ProxyName, c.name);
            TypeInto(PortText(), c.port);
        }
        QTest::mouseClick(Form_Set->BitBtn_Save, Qt::LeftButton);
        EXPECT_TRUE(boxes_->Boxes().empty());
        EXPECT_FALSE(Form_Set->isVisible()) << "a successful save closes the dialog";
        auto f = File();
        EXPECT_EQ(f["useproxy"], c.fileUse);
        EXPECT_EQ(f["proxyname"], c.fileName);
        EXPECT_EQ(f["proxyport"], c.filePort);
        ExpectParams(c.use, c.name8, c.portValue);
        TearDown();
    }
}

TEST_F(SettingsDialogTest, KeysAreWrittenInOrderAndOtherContentIsKept) {
    Build({.iniContent = "[Other]\r\nKeep=me\r\n"});
    Open();
    Form_Set->CheckBox_Set->setChecked(true);
    Form_Set->Flow().OnUseProxyClicked();
    Form_Set->LabeledEdit_ProxyName->setText("p.local");
    Form_Set->SpinEdit_ProxyPort->setValue(8080);
    ASSERT_TRUE(Form_Set->Flow().SaveSettings());
    const std::string text = ReadFile(iniFile_);
    EXPECT_EQ(ReadIniSection(iniFile_, "Other")["keep"], "me");
    const auto u = text.find("UseProxy="), n = text.find("ProxyName="), p = text.find("ProxyPort=");
    ASSERT_NE(u, std::string::npos);
    ASSERT_NE(n, std::string::npos);
    ASSERT_NE(p, std::string::npos);
    EXPECT_LT(u, n);
    EXPECT_LT(n, p);
}

TEST_F(SettingsDialogTest, LineBreaksInTheNameAreRefused) {
    Build({.iniContent = Ini("0", "", "0")});
    Open();
    const std::string before = ReadFile(iniFile_);
    Form_Set->CheckBox_Set->setChecked(true);
    Form_Set->Flow().OnUseProxyClicked();
    // Not typeable, but set through code it must not reach the file, where
    // it would start a line of its own.
    Form_Set->LabeledEdit_ProxyName->setText("p.local\r\nUseProxy=0");
    Form_Set->SpinEdit_ProxyPort->setValue(8080);
    EXPECT_FALSE(Form_Set->Flow().SaveSettings());
    EXPECT_EQ(boxes_->Texts(), std::vector<QString>{QString::fromUtf8(kRefused)});
    EXPECT_EQ(ReadFile(iniFile_), before);
    ExpectParams(false, "", 0);
    // Pasting cannot put one there either (paste inserts at the cursor).
    Form_Set->LabeledEdit_ProxyName->clear();
    Form_Set->LabeledEdit_ProxyName->insert("a\nb");
    EXPECT_FALSE(Form_Set->LabeledEdit_ProxyName->text().contains('\n'));
    Form_Set->LabeledEdit_ProxyName->insert("a\rb");
    EXPECT_FALSE(Form_Set->LabeledEdit_ProxyName->text().contains('\r'));
}

TEST_F(SettingsDialogTest, SaveIntoAFileThatCannotBeWrittenChangesNothing) {
    Build({.iniContent = Ini("0", "old.proxy", "8080")});
    Open();
    const std::string before = ReadFile(iniFile_);
    // Swap the program folder for a regular file: a write to the INI file
    // now fails even for root.
    const std::filesystem::path dir = std::filesystem::path(iniFile_).parent_path();
    const std::filesystem::path moved = dir.string() + ".moved";
    std::filesystem::rename(dir, moved);
    WriteFile(dir.string(), "not a folder\n");

    Form_Set->CheckBox_Set->setChecked(true);
    Form_Set->Flow().OnUseProxyClicked();
    Form_Set->LabeledEdit_ProxyName->setText("new.proxy");
    Form_Set->SpinEdit_ProxyPort->setValue(3128);
    QTest::mouseClick(Form_Set->BitBtn_Save, Qt::LeftButton);

    ASSERT_EQ(boxes_->Boxes().size(), 1u);
    EXPECT_EQ(boxes_->Boxes()[0].text.toStdString(), "Unable to write to " + iniFile_);
    EXPECT_EQ(boxes_->Boxes()[0].title, QString::fromUtf8("Chyba"));
    ExpectParams(false, "old.proxy", 8080);
    EXPECT_TRUE(Form_Set->isVisible()) << "the dialog stays open";
    EXPECT_EQ(ReadFile((moved / "Halvorne.INI").string()), before);

    std::filesystem::remove(dir);
    std::filesystem::rename(moved, dir);
}

// The file vanished and cannot be made again when the dialog opens: the
// error is reported and the dialog shows the settings the program holds.
TEST_F(SettingsDialogTest, ShowWhenTheFileCannotBeCreatedKeepsTheHeldSettings) {
    Build({.iniContent = Ini("1", "held.proxy", "8080")});
    const std::filesystem::path dir = std::filesystem::path(iniFile_).parent_path();
    std::filesystem::remove_all(dir);
    WriteFile(dir.string(), "not a folder\n");
    Open();
    ASSERT_EQ(boxes_->Boxes().size(), 1u);
    EXPECT_EQ(boxes_->Boxes()[0].text.toStdString(), "Unable to write to " + iniFile_);
    EXPECT_EQ(boxes_->Boxes()[0].title, QString::fromUtf8("Chyba"));
    EXPECT_TRUE(Form_Set->CheckBox_Set->isChecked());
    EXPECT_EQ(Form_Set->LabeledEdit_ProxyName->text(), QString("held.proxy"));
    EXPECT_EQ(Form_Set->SpinEdit_ProxyPort->value(), 8080);
    ExpectParams(true, "held.proxy", 8080);
}

TEST_F(SettingsDialogTest, StornoRestoresTheRunParametersButNotTheFile) {
    Build({.iniContent = Ini("1", "first.proxy", "8080")});
    Open();
    Form_Set->LabeledEdit_ProxyName->setText("second.proxy");
    Form_Set->SpinEdit_ProxyPort->setValue(3128);
    ASSERT_TRUE(Form_Set->Flow().SaveSettings());
    ExpectParams(true, "second.proxy", 3128);
    QTest::mouseClick(Form_Set->BitBtn_Storno, Qt::LeftButton);
    EXPECT_FALSE(Form_Set->isVisible());
    ExpectParams(true, "first.proxy", 8080);
    EXPECT_EQ(File()["proxyname"], "second.proxy");
    EXPECT_EQ(File()["proxyport"], "3128");
    // The next show starts from the file.
    Open();
    EXPECT_EQ(Form_Set->LabeledEdit_ProxyName->text(), QString("second.proxy"));
    ExpectParams(true, "second.proxy", 3128);
}

TEST_F(SettingsDialogTest, EscClosesWithoutRestoringWhateverHasTheFocus) {
    enum class Focus { Name, Port, Button, Dialog };
    for (Focus focus : {Focus::Name, Focus::Port, Focus::Button, Focus::Dialog}) {
        SCOPED_TRACE(static_cast<int>(focus));
        Build({.iniContent = Ini("1", "first.proxy", "8080")});
        Open();
        ASSERT_TRUE(Activate(Form_Set));
        Form_Set->LabeledEdit_ProxyName->setText("second.proxy");
        ASSERT_TRUE(Form_Set->Flow().SaveSettings());
        QWidget* target = Form_Set;
        switch (focus) {
        case Focus::Name: target = Form_Set->LabeledEdit_ProxyName; break;
        case Focus::Port: target = PortText(); break;
        case Focus::Button: target = Form_Set->BitBtn_Save; break;
        case Focus::Dialog: target = Form_Set; break;
        }
        target->setFocus();
        QTest::keyClick(target, Qt::Key_Escape);
        EXPECT_FALSE(Form_Set->isVisible());
        ExpectParams(true, "second.proxy", 8080);
        EXPECT_TRUE(exitCodes_.empty()) << "Esc here ends nothing";
        TearDown();
    }
}

TEST_F(SettingsDialogTest, ASecondOpeningOnlyBringsItToTheFront) {
    Build({.iniContent = Ini("1", "first.proxy", "8080")});
    Open();
    Form_Set->LabeledEdit_ProxyName->setText("typed.not.saved");
    WriteFile(iniFile_, Ini("1", "changed.in.file", "1111"));
    QWidget other;
    ASSERT_TRUE(Activate(&other));
    Form_Main->Menu_Nastaveni->trigger();
    EXPECT_TRUE(Form_Set->isVisible());
    EXPECT_TRUE(QTest::qWaitForWindowActive(Form_Set, 2000)) << "brought to the front";
    EXPECT_EQ(Form_Set->LabeledEdit_ProxyName->text(), QString("typed.not.saved"));
    EXPECT_EQ(Form_Set->Flow().SavedProxyName, "first.proxy");
    EXPECT_EQ(Form_Set->Flow().SavedProxyPort, 8080);
    // The file was not read again.
    ExpectParams(true, "first.proxy", 8080);
}

TEST_F(SettingsDialogTest, AutomaticModeHasNoTestButton) {
    for (bool autoMode : {false, true}) {
        SCOPED_TRACE(autoMode);
        Build({.autoMode = autoMode, .iniContent = std::nullopt});
        Open();
        EXPECT_EQ(Form_Set->Button_Test->isVisible(), !autoMode);
        EXPECT_EQ(Form_Set->Button_Test->isEnabled(), !autoMode);
        EXPECT_EQ(Form_Set->BitBtn_Save->isVisible(), true);
        TearDown();
    }
}

// The test button against a proxy on the loopback: it saves, tests, says
// the connection works and runs the full check; Storno afterwards puts the
// run parameters back while the file keeps the tested values.
TEST_F(SettingsDialogTest, SuccessfulTestThenStorno) {
    ScriptedHttpServer proxy;
    Build({.iniContent = Ini("0", "", "0")});
    proxy.Set("/halvorne/" + Form_Master->Run().GetVersionFileName(), "1.00\r\n");
    // Addresses the proxy answers for; the host itself is never dialled.
    AimChecksAt("http://update.example.test/halvorne/", "1.10");
    Open();
    ASSERT_TRUE(Activate(Form_Set));
    QTest::mouseClick(Form_Set->CheckBox_Set, Qt::LeftButton);
    TypeInto(Form_Set->LabeledEdit_ProxyName, "127.0.0.1");
    TypeInto(PortText(), QString::number(proxy.Port()));
    QTest::mouseClick(Form_Set->Button_Test, Qt::LeftButton);

    EXPECT_EQ(boxes_->Texts(), std::vector<QString>{QString::fromUtf8(kTestOk)});
    EXPECT_EQ(boxes_->Boxes().at(0).title, QString::fromUtf8("Informace"));
    // One fetch for the test, one for the full check that follows it.
    const auto requests = proxy.RequestLines();
    EXPECT_EQ(requests.size(), 2u);
    for (const auto& r : requests)
        EXPECT_NE(r.find("update.example.test"), std::string::npos) << r;
    EXPECT_EQ(Params().ExitCode, 29) << "the full check ran: not newer";
    EXPECT_TRUE(Form_Set->isVisible()) << "the dialog stays open";
    ExpectParams(true, "127.0.0.1", proxy.Port());
    EXPECT_EQ(File()["useproxy"], "1");

    QTest::mouseClick(Form_Set->BitBtn_Storno, Qt::LeftButton);
    ExpectParams(false, "", 0);
    EXPECT_EQ(File()["useproxy"], "1");
    EXPECT_EQ(File()["proxyname"], "127.0.0.1");
    EXPECT_EQ(File()["proxyport"], std::to_string(proxy.Port()));
}

// A connection test that reaches the proxy succeeds even when the version
// file is missing; the full check that follows then fails and leaves the
// transfer window open with its outcome, which the user must be able to see.
TEST_F(SettingsDialogTest, FullCheckAfterTheTestReportsInAVisibleTransferWindow) {
    ScriptedHttpServer proxy; // serves nothing: every file is missing
    Build({.iniContent = Ini("0", "", "0")});
    AimChecksAt("http://update.example.test/halvorne/", "1.10");
    Open();
    ASSERT_TRUE(Activate(Form_Set));
    ASSERT_FALSE(Form_Run->isVisible());
    QTest::mouseClick(Form_Set->CheckBox_Set, Qt::LeftButton);
    TypeInto(Form_Set->LabeledEdit_ProxyName, "127.0.0.1");
    TypeInto(PortText(), QString::number(proxy.Port()));
    QTest::mouseClick(Form_Set->Button_Test, Qt::LeftButton);

    EXPECT_EQ(boxes_->Texts(), std::vector<QString>{QString::fromUtf8(kTestOk)});
    EXPECT_EQ(proxy.RequestLines().size(), 2u);
    EXPECT_EQ(Params().ExitCode, 29) << "the version file is missing";
    EXPECT_TRUE(Form_Run->isVisible()) << "a failed full check stays open where the user sees it";
}

TEST_F(SettingsDialogTest, FailedTestWarnsAndKeepsTheSavedSettings) {
    Build({.iniContent = Ini("0", "", "0")});
    AimChecksAt("http://update.example.test/halvorne/", "1.10");
    const int closed = FreeLoopbackPort();
    Open();
    Form_Set->CheckBox_Set->setChecked(true);
    Form_Set->Flow().OnUseProxyClicked();
    Form_Set->LabeledEdit_ProxyName->setText("127.0.0.1");
    Form_Set->SpinEdit_ProxyPort->setValue(closed);
    Form_Set->Flow().OnTest();
    EXPECT_EQ(boxes_->Texts(), std::vector<QString>{QString::fromUtf8(kTestFailed)});
    EXPECT_EQ(boxes_->Boxes().at(0).title, QString::fromUtf8("Upozornění"));
    EXPECT_EQ(Params().ExitCode, 55) << "only the test ran";
    EXPECT_TRUE(Form_Set->isVisible());
    ExpectParams(true, "127.0.0.1", closed);
    EXPECT_EQ(File()["proxyport"], std::to_string(closed));
}

TEST_F(SettingsDialogTest, RefusedSettingsStopTheTestBeforeAnyConnection) {
    ScriptedHttpServer server;
    Build({.iniContent = Ini("0", "", "0")});
    AimChecksAt(server.Address(), "1.10");
    Open();
    Form_Set->CheckBox_Set->setChecked(true);
    Form_Set->Flow().OnUseProxyClicked();
    Form_Set->LabeledEdit_ProxyName->setText("  ");
    Form_Set->SpinEdit_ProxyPort->setValue(3128);
    Form_Set->Flow().OnTest();
    EXPECT_EQ(boxes_->Texts(), std::vector<QString>{QString::fromUtf8(kRefused)});
    EXPECT_TRUE(server.RequestLines().empty());
}

// The settings dialog is open (F4) and a full check (F9) waits for a slow
// server when "Test spojení" is pressed. The test cannot measure anything
// then: it says that a check is running, reports no result, and asks the
// server nothing. Once the check is over the test measures again: every
// result it reports comes with a request of its own.
TEST_F(SettingsDialogTest, ConnectionTestDuringACheckSaysSoAndReportsNothing) {
    const std::string reply = "HTTP/1.0 200 OK\r\nContent-Length: 6\r\n\r\n1.00\r\n";
    ScriptedServer slow({ScriptStep::Read(), ScriptStep::Pause(1000), ScriptStep::Out(reply), ScriptStep::CloseNow()});
    Build({.iniContent = Ini("0", "", "0")});
    AimChecksAt("http://127.0.0.1:" + std::to_string(slow.Port()) + "/", "1.10");
    ASSERT_TRUE(Activate(Form_Main));
    QTest::keyClick(Form_Main, Qt::Key_F4);
    ASSERT_TRUE(Form_Set->isVisible());
    int connectionsWhenPressed = -1;
    QTimer pressTest;
    pressTest.setSingleShot(true);
    QObject::connect(&pressTest, &QTimer::timeout, [&] {
        connectionsWhenPressed = slow.Connections();
        QTest::mouseClick(Form_Set->Button_Test, Qt::LeftButton);
    });
    pressTest.start(300);
    ASSERT_TRUE(Activate(Form_Main));
    QTest::keyClick(Form_Main, Qt::Key_F9);

    ASSERT_EQ(connectionsWhenPressed, 1) << "pressed while the check waited for its answer";
    EXPECT_EQ(boxes_->Texts(), std::vector<QString>{QString::fromUtf8(kCheckRunning)});
    EXPECT_EQ(slow.Connections(), 1) << "the test asked the server nothing";
    EXPECT_EQ(Params().ExitCode, 29) << "the check itself ran to its end";
    EXPECT_TRUE(Form_Set->isVisible());

    // After the check: a real test, then the full check it starts.
    boxes_->Clear();
    QTest::mouseClick(Form_Set->Button_Test, Qt::LeftButton);
    EXPECT_EQ(boxes_->Texts(), std::vector<QString>{QString::fromUtf8(kTestOk)});
    EXPECT_EQ(slow.Connections(), 3) << "one request for the test, one for the check after it";
}

// A proxy name typed with blanks around it: the run that saves it and every
// later start use the same name, without the blanks (the configuration file
// reader drops them, so a name kept with them would work only until the
// next start, if at all). Seeded campaign over names, blanks and quoting.
TEST_F(SettingsDialogTest, ProxyNameIsTheSameTrimmedNameInTheRunThatSavesItAndAfterAStart) {
    Build({.iniContent = Ini("0", "", "0")});
    Open();
    const QString blanks[] = {QStringLiteral(" "), QStringLiteral("\t"), QStringLiteral("  "), QStringLiteral(" \t "),
        QString(QChar(0x00A0))};
    const QString core = QStringLiteral("abcxyz0189.-ž");
    std::mt19937 rng(20240612);
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    for (int i = 0; i < 100; ++i) {
        QString name;
        for (int k = 1 + pick(12); k > 0; --k)
            name += core.at(pick(static_cast<int>(core.size())));
        if (pick(4) == 0) // a blank inside stays where it is
            name.insert(1 + pick(static_cast<int>(name.size())), QLatin1Char(' ') + core.at(pick(3)));
        QString typed = name;
        for (int k = pick(3); k > 0; --k)
            typed.prepend(blanks[pick(5)]);
        for (int k = pick(3); k > 0; --k)
            typed.append(blanks[pick(5)]);
        SCOPED_TRACE("typed \"" + typed.toStdString() + "\"");

        Form_Set->CheckBox_Set->setChecked(true);
        Form_Set->Flow().OnUseProxyClicked();
        Form_Set->LabeledEdit_ProxyName->setText(typed);
        Form_Set->SpinEdit_ProxyPort->setValue(3128);
        ASSERT_TRUE(Form_Set->Flow().SaveSettings());
        const std::string expected = name.trimmed().toStdString();
        ASSERT_EQ(Params().ProxyName, expected) << "this run";
        EXPECT_EQ(File()["proxyname"], expected) << "the file";
        TRunParameters next;
        next.IniFileName = iniFile_;
        std::string error;
        ASSERT_TRUE(startup::LoadProxySettings(next, error)) << error;
        EXPECT_EQ(next.ProxyName, Params().ProxyName) << "the next start";
    }
    EXPECT_TRUE(boxes_->Boxes().empty());

    // A name written by hand in quotes, blanks inside them: the run uses it
    // without the blanks as well.
    WriteFile(iniFile_, Ini("1", "\"  proxy.local \t\"", "8080"));
    TRunParameters started;
    started.IniFileName = iniFile_;
    std::string error;
    ASSERT_TRUE(startup::LoadProxySettings(started, error)) << error;
    EXPECT_EQ(started.ProxyName, "proxy.local");
}

// The connection test with such a name goes through the proxy: the name
// looked up (or read as an address) is the one without blanks.
TEST_F(SettingsDialogTest, ConnectionTestWithBlanksAroundTheProxyNameReachesTheProxy) {
    std::vector<std::string> lookedUp;
    // Names are never resolved here: a lookup is recorded and fails.
    platform::net::SetResolverForTesting([&](const std::string& host, uint32_t&) {
        lookedUp.push_back(host);
        return static_cast<int>(platform::net::kWsaHOST_NOT_FOUND);
    });
    ScriptedHttpServer proxy;
    Build({.iniContent = Ini("0", "", "0")});
    proxy.Set("/halvorne/" + Form_Master->Run().GetVersionFileName(), "1.00\r\n");
    AimChecksAt("http://update.example.test/halvorne/", "1.10");
    Open();
    ASSERT_TRUE(Activate(Form_Set));
    QTest::mouseClick(Form_Set->CheckBox_Set, Qt::LeftButton);
    TypeInto(Form_Set->LabeledEdit_ProxyName, "  127.0.0.1  ");
    TypeInto(PortText(), QString::number(proxy.Port()));
    QTest::mouseClick(Form_Set->Button_Test, Qt::LeftButton);
    platform::net::SetResolverForTesting(nullptr);

    EXPECT_EQ(boxes_->Texts(), std::vector<QString>{QString::fromUtf8(kTestOk)});
    EXPECT_EQ(proxy.RequestLines().size(), 2u) << "the test and the check after it";
    EXPECT_TRUE(lookedUp.empty()) << "looked up: \"" << lookedUp.front() << "\"";
    ExpectParams(true, "127.0.0.1", proxy.Port());
    EXPECT_EQ(File()["proxyname"], "127.0.0.1");
}

} // namespace
