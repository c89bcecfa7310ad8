// The transfer window's buttons and keys acting in the middle of a real
// download: the HTTP client waits on a loopback server that never answers,
// the anti-freeze serves the window, and the user's action cuts the wait.
#include "TransferTestSupport.h"

#include "http/IdExceptions.h"
#include "http/MemoryStream.h"
#include "startup/gui/Form_Main.h"
#include "startup/gui/Form_Master.h"
#include "startup/gui/Form_Set.h"
#include "transfer/gui/Form_Run.h"

#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <functional>
#include <memory>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

using tests::transfer::HalvorneWindows;
using tests::transfer::WindowsOptions;

namespace {

// A loopback listener that completes connections (the kernel does) but never
// accepts or answers them: a request to it waits until someone gives up.
class SilentServer {
public:
    SilentServer() {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = 0;
        if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd_, 4) != 0)
            return;
        socklen_t len = sizeof a;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
    }
    ~SilentServer() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    int Port() const { return port_; }
    std::string Url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/halvorne/verze.txt"; }

private:
    int fd_ = -1;
    int port_ = 0;
};

struct Outcome {
    bool threwSocketError = false;
    bool actionRan = false;
    bool watchdogFired = false;
};

// Runs a Get against the silent server; `action` runs from the event loop
// the anti-freeze serves, a little after the request started waiting. A
// watchdog ends a Get that the action failed to cut.
Outcome GetAndAct(const SilentServer& server, const std::function<void()>& action) {
    Outcome o;
    QTimer::singleShot(400, [&] {
        o.actionRan = true;
        action();
    });
    QTimer::singleShot(15000, [&] {
        o.watchdogFired = true;
        Form_Run->Flow().Http.Disconnect();
    });
    TMemoryStream stream;
    try {
        Form_Run->Flow().Http.Get(server.Url(), stream);
    } catch (const EIdSocketError&) {
        o.threwSocketError = true;
    } catch (const EIdException&) {
    }
    return o;
}

class TransferInProgress : public ::testing::Test {
protected:
    void Build(bool autoMode, bool allAtStart = true) {
        WindowsOptions o;
        o.autoMode = autoMode;
        o.createAllAtStart = allAtStart;
        windows = std::make_unique<HalvorneWindows>(o);
        ASSERT_GT(server.Port(), 0);
        Form_Run->show();
    }
    SilentServer server;
    std::unique_ptr<HalvorneWindows> windows;
};

TEST_F(TransferInProgress, StornoCutsTheWaitAndShowsTheMainWindow) {
    Build(false);
    const Outcome o = GetAndAct(server, [] { QTest::mouseClick(Form_Run->BitBtn_Storno, Qt::LeftButton); });
    EXPECT_TRUE(o.actionRan);
    EXPECT_FALSE(o.watchdogFired);
    EXPECT_TRUE(o.threwSocketError);
    EXPECT_TRUE(Form_Run->Flow().ConnectionMade);
    EXPECT_FALSE(Form_Run->isVisible());
    EXPECT_TRUE(Form_Main->isVisible());
    // The disconnect reached the window while the transfer had not finished.
    EXPECT_EQ(Form_Run->Label_Top->text(), QStringLiteral("SPOJENÍ ZRUŠENO"));
    EXPECT_TRUE(windows->TerminatedWith.empty());
}

TEST_F(TransferInProgress, EscOnStornoInAutomaticModeEndsWithTheExitCode) {
    Build(true);
    Form_Master->Run().RunParameters.ExitCode = 55;
    const Outcome o = GetAndAct(server, [] { QTest::keyClick(Form_Run->BitBtn_Storno, Qt::Key_Escape); });
    EXPECT_TRUE(o.actionRan);
    EXPECT_FALSE(o.watchdogFired);
    EXPECT_TRUE(o.threwSocketError);
    ASSERT_FALSE(windows->TerminatedWith.empty());
    EXPECT_EQ(windows->TerminatedWith.front(), 55);
}

TEST_F(TransferInProgress, SettingsButtonCutsTheWaitAndOpensTheSettings) {
    // As in the program: the dialog does not exist until the button asks
    // for it in the middle of the transfer.
    Build(true, false);
    ASSERT_EQ(Form_Set, nullptr);
    const Outcome o = GetAndAct(server, [] { QTest::mouseClick(Form_Run->BitBtn_Set, Qt::LeftButton); });
    EXPECT_TRUE(o.actionRan);
    EXPECT_FALSE(o.watchdogFired);
    EXPECT_TRUE(o.threwSocketError);
    ASSERT_NE(Form_Set, nullptr);
    EXPECT_TRUE(Form_Set->isVisible());
    // What the flow told the dialog before it existed reached it: the
    // automatic mode has no connection test.
    EXPECT_FALSE(Form_Set->Button_Test->isVisible());
    EXPECT_TRUE(Form_Run->isVisible()); // the transfer window stays
    EXPECT_TRUE(windows->TerminatedWith.empty());
    Form_Set->hide();
}

} // namespace
