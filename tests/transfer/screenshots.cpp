// Renders Halvorne's windows and dialogs in their typical states to PNG
// files, off screen, so that anyone can look at them without a desktop.
// Every state is reached the way the program reaches it: the real
// operations run against servers on the loopback interface, the next-step
// dialog is answered with its buttons, and a picture is taken at the moment
// the state is on the screen. Nothing on a window is set by hand, so the
// pictures cannot show what the program never shows.
// Usage: halvorne_screenshots OUTPUT_DIR
#include "startup/core/StoredTextValues.h"
#include "startup/gui/Form_Main.h"
#include "startup/gui/Form_Master.h"
#include "startup/gui/Form_Set.h"
#include "startup/gui/HalvorneWindows.h"
#include "transfer/gui/FormDownloadSet.h"
#include "transfer/gui/Form_Run.h"
#include "tests/support/LoopbackServer.h"
#include "tests/support/Ports.h"

#include <QAction>
#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QEvent>
#include <QMessageBox>
#include <QMovie>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

using tests::support::ScriptedHttpServer;
using tests::support::ScriptedReply;

// The version the pictures' runs have installed, and the newer one the
// server offers.
const char* const kInstalled = "5.10";
const char* const kOffered = "5.23\r\n";
// The new-version file arrives in pieces with pauses between them, so the
// window can be pictured with the first piece in: 40 % of it.
constexpr std::size_t kNewFileSize = 2500000;
constexpr std::size_t kNewFilePiece = 1000000;
constexpr int kNewFilePauseMs = 500;

bool g_ok = true;
QDir g_out;

void Save(QWidget* w, const QString& name) {
    // The animation would otherwise be caught at whatever frame it is in.
    for (QMovie* movie : w->findChildren<QMovie*>())
        movie->jumpToFrame(0);
    const QString path = g_out.filePath(name + QStringLiteral(".png"));
    if (!w->grab().save(path)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        g_ok = false;
        return;
    }
    std::printf("%s\n", qPrintable(path));
}

// Steps run one after another, each as soon as its condition holds. They
// are checked from a timer, which fires whenever the program lets events
// run: inside a transfer's idle slices and inside modal dialogs.
class Moments {
public:
    Moments() {
        timer_.setInterval(10);
        QObject::connect(&timer_, &QTimer::timeout, [this] { Poll(); });
        timer_.start();
    }
    ~Moments() {
        if (!steps_.empty()) {
            std::fprintf(stderr, "a picture was never taken: %s\n", steps_.front().what);
            g_ok = false;
        }
    }
    Moments& Then(const char* what, std::function<bool()> when, std::function<void()> act) {
        steps_.push_back({what, std::move(when), std::move(act)});
        return *this;
    }

private:
    struct Step {
        const char* what;
        std::function<bool()> when;
        std::function<void()> act;
    };
    void Poll() {
        if (busy_ || steps_.empty() || !steps_.front().when())
            return;
        const Step step = steps_.front();
        steps_.pop_front();
        // A step may open a modal box, whose loop runs this timer again.
        busy_ = true;
        step.act();
        busy_ = false;
    }
    QTimer timer_;
    std::deque<Step> steps_;
    bool busy_ = false;
};

// A loopback port whose listener takes no further connection for now (its
// queue holds one that is never accepted), so a connection to it stays
// "being made": the client's request goes unanswered until it gives up.
class PendingConnectPort {
public:
    PendingConnectPort() {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        socklen_t len = sizeof a;
        if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
            ::listen(listener_, 0) != 0 || ::getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len) != 0)
            return;
        port_ = ntohs(a.sin_port);
        filler_ = ::socket(AF_INET, SOCK_STREAM, 0);
        if (filler_ < 0 || ::connect(filler_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
            port_ = 0;
    }
    ~PendingConnectPort() {
        if (filler_ >= 0)
            ::close(filler_);
        if (listener_ >= 0)
            ::close(listener_);
    }
    PendingConnectPort(const PendingConnectPort&) = delete;
    PendingConnectPort& operator=(const PendingConnectPort&) = delete;
    std::string Address() const { return "http://127.0.0.1:" + std::to_string(port_) + "/halvorne/"; }

private:
    int listener_ = -1;
    int filler_ = -1;
    int port_ = 0;
};

// The five windows as start-up creates them, for one run of the program.
struct Windows {
    Windows(const std::string& dir, bool autoMode) : target(dir + "/cil/") {
        QDir().mkpath(QString::fromStdString(target));
        const std::string marker{startup::stored::LaunchMarkerFirst(), startup::stored::LaunchMarkerSecond(),
            startup::stored::LaunchMarkerThird()};
        std::vector<std::string> args{
            dir + "/Halvorne", marker, "chkver", std::string("/v:") + kInstalled, "/p:" + target};
        if (autoMode)
            args.push_back("auto");
        THalvorneWindowsOptions options;
        options.CreateAllAtStart = true;
        // Pictures only: the program never ends from here.
        options.TerminateProcess = [](int) {};
        windows = std::make_unique<THalvorneWindows>(args, dir + "/Halvorne", options);
    }
    // Both parameter sets aimed at `server` (a server directory address),
    // as start-up fills them from the stored texts.
    void AimAt(const std::string& server, const std::string& targetDir) const {
        Form_Run->Flow().SetCheckAndDownloadVersionParams(
            VersionParamSet{"", server, Form_Master->Run().GetVersionFileName(), "", ""},
            VersionParamSet{kInstalled, server, Form_Master->Run().GetVersionFileName(),
                Form_Master->Run().GetNewVersionFileName(), targetDir});
    }
    std::string target;
    std::unique_ptr<THalvorneWindows> windows;
};

bool DialogUp() {
    return FormDownloadSet && QApplication::activeModalWidget() == FormDownloadSet && FormDownloadSet->isVisible();
}

QMessageBox* BoxUp() { return qobject_cast<QMessageBox*>(QApplication::activeModalWidget()); }

// Runs fn when the transfer window is about to close, while it still
// shows what it showed last.
class OnClose : public QObject {
public:
    OnClose(QWidget* w, std::function<void()> fn) : w_(w), fn_(std::move(fn)) { w_->installEventFilter(this); }
    ~OnClose() override { w_->removeEventFilter(this); }
    bool eventFilter(QObject* o, QEvent* e) override {
        if (o == w_ && e->type() == QEvent::Close && fn_) {
            auto fn = std::move(fn_);
            fn_ = nullptr;
            fn();
        }
        return false;
    }

private:
    QWidget* w_;
    std::function<void()> fn_;
};

// The host's automatic run that finds a newer version: the next-step dialog,
// the change notes that cannot be shown, the dialog again with "pdf", the
// download at 40 %, and the window as it closes after the file was saved.
void NewVersionDownloaded(const std::string& dir) {
    Windows w(dir, /*autoMode=*/true);
    ScriptedHttpServer server;
    server.Set("/halvorne/" + Form_Master->Run().GetVersionFileName(), kOffered);
    server.Set("/halvorne/" + Form_Master->Run().GetNewVersionFileName(),
        ScriptedReply{200, "OK", std::string(kNewFileSize, 'z'), kNewFilePiece, kNewFilePauseMs});
    w.AimAt(server.Address("halvorne"), w.target);

    auto atForty = [] {
        const QProgressBar* g = Form_Run->Gauge1;
        return g->isVisible() && g->maximum() > 0 && qint64(g->value()) * 100 / g->maximum() == 40;
    };
    Moments moments;
    moments
        .Then("next-step", DialogUp,
            [] {
                Save(FormDownloadSet, QStringLiteral("next-step"));
                FormDownloadSet->RadioButtonHtml->click();
                FormDownloadSet->BitBtnChanges->click();
            })
        .Then(
            "viewer-warning", [] { return BoxUp() != nullptr; },
            [] {
                QMessageBox* box = BoxUp();
                Save(box, QStringLiteral("viewer-warning"));
                box->buttons().first()->click();
            })
        .Then("next-step-pdf", DialogUp,
            [] {
                FormDownloadSet->RadioButtonPdf->click();
                FormDownloadSet->BitBtnLoad->setFocus();
                Save(FormDownloadSet, QStringLiteral("next-step-pdf"));
                FormDownloadSet->BitBtnLoad->click();
            })
        .Then("transfer-downloading-40", atForty, [] { Save(Form_Run, QStringLiteral("transfer-downloading-40")); });
    OnClose finished(Form_Run, [] { Save(Form_Run, QStringLiteral("transfer-finished")); });
    Form_Run->show();
    Form_Run->Flow().CheckAndDownloadVersionFiles(false);
}

// The first moments of a run: the connection is being made.
void Connecting(const std::string& dir) {
    Windows w(dir, /*autoMode=*/true);
    PendingConnectPort server;
    w.AimAt(server.Address(), w.target);
    Moments moments;
    moments.Then(
        "transfer-connecting", [] { return true; },
        [] {
            Save(Form_Run, QStringLiteral("transfer-connecting"));
            // Storno would end the run; cutting the connection ends only the wait.
            Form_Run->Flow().Http.Disconnect();
        });
    Form_Run->show();
    Form_Run->Flow().CheckAndDownloadVersionFiles(false);
}

// No server answers: the window stays with the hint for the user.
void NoConnection(const std::string& dir) {
    Windows w(dir, /*autoMode=*/true);
    w.AimAt("http://127.0.0.1:" + std::to_string(tests::support::FreeLoopbackPort()) + "/halvorne/", w.target);
    Form_Run->show();
    Form_Run->Flow().CheckAndDownloadVersionFiles(false);
    Save(Form_Run, QStringLiteral("transfer-message"));
}

// The download is chosen, but the target directory does not exist.
void SaveFailed(const std::string& dir) {
    Windows w(dir, /*autoMode=*/true);
    ScriptedHttpServer server;
    server.Set("/halvorne/" + Form_Master->Run().GetVersionFileName(), kOffered);
    server.Set("/halvorne/" + Form_Master->Run().GetNewVersionFileName(), std::string(20000, 'z'));
    w.AimAt(server.Address("halvorne"), dir + "/chybi/");
    Moments moments;
    moments.Then("download chosen", DialogUp, [] { FormDownloadSet->BitBtnLoad->click(); });
    Form_Run->show();
    Form_Run->Flow().CheckAndDownloadVersionFiles(false);
    Save(Form_Run, QStringLiteral("transfer-save-failed"));
}

// Without "auto": the main window, its settings dialog, and its check
// while it connects.
void MainWindow(const std::string& dir) {
    Windows w(dir, /*autoMode=*/false);
    PendingConnectPort server;
    w.AimAt(server.Address(), w.target);
    Form_Main->show();
    QCoreApplication::processEvents();
    Save(Form_Main, QStringLiteral("main-window"));
    Form_Main->Menu_Nastaveni->trigger();
    QCoreApplication::processEvents();
    Save(Form_Set, QStringLiteral("settings"));
    Form_Set->BitBtn_Storno->click();

    Moments moments;
    moments.Then(
        "transfer-main-window-mode", [] { return Form_Run->isVisible(); },
        [] {
            Save(Form_Run, QStringLiteral("transfer-main-window-mode"));
            Form_Run->Flow().Http.Disconnect();
        });
    Form_Main->Menu_Akce->trigger();
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_DIR\n", argv[0]);
        return 2;
    }
    g_out = QDir(QString::fromLocal8Bit(argv[1]));
    if (!g_out.mkpath(QStringLiteral("."))) {
        std::fprintf(stderr, "cannot create %s\n", argv[1]);
        return 1;
    }
    QTemporaryDir programDir;
    if (!programDir.isValid()) {
        std::fprintf(stderr, "no temporary folder\n");
        return 1;
    }
    const std::string dir = programDir.path().toStdString();
    // An empty desktop: no browser is registered, so the change notes
    // cannot be shown and no real browser is ever started from here.
    for (const char* var : {"HOME", "XDG_CONFIG_HOME", "XDG_CONFIG_DIRS", "XDG_DATA_HOME", "XDG_DATA_DIRS"})
        qputenv(var, QByteArray::fromStdString(dir + "/empty-desktop"));

    Connecting(dir);
    NewVersionDownloaded(dir);
    NoConnection(dir);
    SaveFailed(dir);
    MainWindow(dir);
    return g_ok ? 0 : 1;
}
