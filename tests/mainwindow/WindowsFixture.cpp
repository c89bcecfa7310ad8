#include "WindowsFixture.h"

#include "startup/core/StoredTextValues.h"
#include "startup/gui/Form_Main.h"
#include "startup/gui/Form_Set.h"
#include "startup/gui/Startup.h"
#include "transfer/gui/FormDownloadSet.h"
#include "transfer/gui/Form_Run.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QMessageBox>
#include <QTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace mwtest {

// ---------------------------------------------------------------- boxes

ModalBoxDriver::ModalBoxDriver() {
    timer_.setInterval(15);
    QObject::connect(&timer_, &QTimer::timeout, [this] { Poll(); });
    timer_.start();
}

ModalBoxDriver::~ModalBoxDriver() { timer_.stop(); }

std::vector<QString> ModalBoxDriver::Texts() const {
    std::vector<QString> out;
    for (const SeenBox& b : boxes_)
        out.push_back(b.text);
    return out;
}

void ModalBoxDriver::Poll() {
    // BeforeAnswer may run the event loop, and with it this timer.
    if (answering_)
        return;
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal || !modal->isVisible())
        return;
    if (BeforeAnswer) {
        answering_ = true;
        BeforeAnswer(modal);
        answering_ = false;
    }
    if (auto* box = qobject_cast<QMessageBox*>(modal)) {
        boxes_.push_back({box->windowTitle(), box->text()});
        const auto buttons = box->buttons();
        if (!buttons.isEmpty())
            buttons.first()->click();
        else
            box->done(0);
        return;
    }
    if (auto* dlg = qobject_cast<QDialog*>(modal)) {
        // Some other modal dialog: keep its labels' texts, then cancel it.
        QString text;
        for (QLabel* l : dlg->findChildren<QLabel*>())
            text += l->text() + QLatin1Char('\n');
        boxes_.push_back({dlg->windowTitle(), text});
        dlg->reject();
    }
}

// ------------------------------------------------------------ HTTP peer

LoopbackHttpServer::LoopbackHttpServer() {
    listenFd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    int one = 1;
    ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = 0;
    if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(listenFd_, 16) != 0)
        throw std::runtime_error("loopback server: bind/listen failed");
    socklen_t len = sizeof a;
    ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] { Run(); });
}

LoopbackHttpServer::~LoopbackHttpServer() {
    stop_ = true;
    if (thread_.joinable())
        thread_.join();
    ::close(listenFd_);
}

std::string LoopbackHttpServer::BaseAddress() const {
    return "http://127.0.0.1:" + std::to_string(port_) + "/";
}

void LoopbackHttpServer::Serve(const std::string& suffix, const std::string& body) {
    std::lock_guard<std::mutex> lock(mu_);
    bodies_[suffix] = body;
}

std::vector<std::string> LoopbackHttpServer::RequestLines() const {
    std::lock_guard<std::mutex> lock(mu_);
    return requests_;
}

void LoopbackHttpServer::Run() {
    while (!stop_) {
        pollfd p{listenFd_, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0)
            continue;
        const int fd = ::accept(listenFd_, nullptr, nullptr);
        if (fd < 0)
            continue;
        timeval tv{2, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        std::string req;
        char buf[1024];
        // Read the head of the request, bounded.
        while (req.find("\r\n\r\n") == std::string::npos && req.size() < 65536) {
            const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
            if (n <= 0)
                break;
            req.append(buf, static_cast<size_t>(n));
        }
        const std::string line = req.substr(0, req.find("\r\n"));
        std::string path;
        {
            std::istringstream in(line);
            std::string method;
            in >> method >> path;
        }
        std::string response;
        {
            std::lock_guard<std::mutex> lock(mu_);
            requests_.push_back(line);
            const std::string* body = nullptr;
            for (const auto& [suffix, b] : bodies_)
                if (path.size() >= suffix.size() && path.compare(path.size() - suffix.size(), suffix.size(), suffix) == 0)
                    body = &b;
            if (body)
                response = "HTTP/1.0 200 OK\r\nContent-Type: application/octet-stream\r\nContent-Length: " +
                           std::to_string(body->size()) + "\r\n\r\n" + *body;
            else
                response = "HTTP/1.0 404 Not Found\r\nContent-Length: 0\r\n\r\n";
        }
        size_t sent = 0;
        while (sent < response.size()) {
            const ssize_t n = ::send(fd, response.data() + sent, response.size() - sent, MSG_NOSIGNAL);
            if (n <= 0)
                break;
            sent += static_cast<size_t>(n);
        }
        ::shutdown(fd, SHUT_WR);
        ::close(fd);
    }
}

int ClosedLoopbackPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(fd);
    return ntohs(a.sin_port);
}

// ------------------------------------------------------------------ INI

namespace {
std::string Lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return s;
}
std::string Trim(const std::string& s) {
    const auto b = s.find_first_not_of(" \t");
    if (b == std::string::npos)
        return {};
    const auto e = s.find_last_not_of(" \t");
    return s.substr(b, e - b + 1);
}
} // namespace

std::map<std::string, std::string> ReadIniSection(const std::string& file, const std::string& section) {
    std::map<std::string, std::string> out;
    std::istringstream in(ReadWholeFile(file));
    std::string line;
    bool inside = false;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const std::string t = Trim(line);
        if (!t.empty() && t.front() == '[') {
            const auto close = t.find(']');
            inside = close != std::string::npos && Lower(Trim(t.substr(1, close - 1))) == Lower(section);
            continue;
        }
        const auto eq = line.find('=');
        if (inside && eq != std::string::npos)
            out[Lower(Trim(line.substr(0, eq)))] = line.substr(eq + 1);
    }
    return out;
}

std::string ReadWholeFile(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void WriteWholeFile(const std::string& file, const std::string& content) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << content;
}

// -------------------------------------------------------------- windows

namespace {
// EndProgram with code 0 asks the event loop to stop; with no loop running
// the request stays pending and makes every later modal loop return at
// once, as in a program that is ending. Each test starts as a fresh
// process would: one short run of the application loop clears the request.
void ForgetPendingQuit() {
    QTimer::singleShot(0, QCoreApplication::instance(), [] { QCoreApplication::exit(0); });
    QCoreApplication::exec();
}
} // namespace

void WindowsFixture::Build(const WindowsOptions& options) {
    ForgetPendingQuit();
    tmp_ = std::make_unique<QTemporaryDir>();
    ASSERT_TRUE(tmp_->isValid());
    const std::string root = tmp_->path().toStdString() + "/";
    programDir_ = root + "prog/";
    std::filesystem::create_directories(programDir_);
    iniFile_ = programDir_ + "Halvorne.INI";
    targetDir_ = root + "target/";
    if (options.iniContent)
        WriteWholeFile(iniFile_, *options.iniContent);

    boxes_ = std::make_unique<ModalBoxDriver>();

    std::vector<std::string> args{programDir_ + "Halvorne.exe"};
    args.push_back({halvorne::stored::LaunchMarkerFirst(), halvorne::stored::LaunchMarkerSecond(),
                    halvorne::stored::LaunchMarkerThird()});
    for (const auto& a : options.extraArgs)
        args.push_back(a);
    args.push_back("/p:" + targetDir_);
    if (options.autoMode)
        args.push_back("auto");

    Form_Master = new TForm_Master(args, programDir_ + "Halvorne.exe");
    Form_Master->TerminateProcess = [this](int code) { exitCodes_.push_back(code); };
    Form_Run = new TForm_Run();
    Form_Set = new TForm_Set();
    Form_Main = new TForm_Main();
    FormDownloadSet = new TFormDownloadSet();
}

TRunParameters& WindowsFixture::Params() { return Form_Master->RunParameters; }

void WindowsFixture::AimChecksAt(const std::string& base, const std::string& installed) {
    const std::string ver = Form_Master->GetVersionFileName();
    const std::string newFile = Form_Master->GetNewVersionFileName();
    Form_Run->SetCheckAndDownloadVersionParams(nullptr, VersionParamSet{"", base, ver, "", ""},
                                               VersionParamSet{installed, base, ver, newFile, targetDir_});
}

bool WindowsFixture::Activate(QWidget* w) {
    w->show();
    w->raise();
    // A window hidden just before may still have its deactivation queued,
    // which would take the activation away again: wait until it holds.
    for (int i = 0; i < 200; ++i) {
        w->activateWindow();
        QTest::qWait(5);
        if (QApplication::activeWindow() == w) {
            QTest::qWait(5);
            if (QApplication::activeWindow() == w)
                return true;
        }
    }
    return false;
}

void WindowsFixture::TearDown() {
    for (QWidget* w : std::initializer_list<QWidget*>{FormDownloadSet, Form_Main, Form_Set, Form_Run})
        if (w)
            w->hide();
    DestroyHalvorneWindows();
    boxes_.reset();
    QCoreApplication::processEvents();
}

} // namespace mwtest
