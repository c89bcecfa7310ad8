// Shared scaffolding for the main-window and settings-dialog tests: the five
// real windows built as start-up builds them, in a temporary program folder;
// a driver that answers message boxes; a loopback HTTP peer; INI reading.
#pragma once

#include "startup/gui/Form_Master.h"

#include <QString>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <ostream>

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

// Readable failure messages for Qt strings.
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace mwtest {

// One message box as the user saw it.
struct SeenBox {
    QString title;
    QString text;
};

// Answers every modal box that comes up (its first button) and remembers
// what it said. Runs on a timer, so it works inside the boxes' own loops.
class ModalBoxDriver {
public:
    ModalBoxDriver();
    ~ModalBoxDriver();
    std::vector<SeenBox> Boxes() const { return boxes_; }
    void Clear() { boxes_.clear(); }
    // Texts only, for compact assertions.
    std::vector<QString> Texts() const;
    // Called with each box before it is answered; it may wait for the box
    // to reach the screen.
    std::function<void(QWidget*)> BeforeAnswer;

private:
    void Poll();
    QTimer timer_;
    std::vector<SeenBox> boxes_;
    bool answering_ = false;
};

// A peer that answers each HTTP request with a fixed response chosen by
// the request's path suffix, then closes. Listens on 127.0.0.1, a free port.
class LoopbackHttpServer {
public:
    LoopbackHttpServer();
    ~LoopbackHttpServer();
    int Port() const { return port_; }
    std::string BaseAddress() const; // "http://127.0.0.1:PORT/"
    // Requests whose path ends with suffix get status 200 and this body;
    // everything else gets 404.
    void Serve(const std::string& suffix, const std::string& body);
    std::vector<std::string> RequestLines() const;

private:
    void Run();
    int listenFd_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    mutable std::mutex mu_;
    std::map<std::string, std::string> bodies_;
    std::vector<std::string> requests_;
    std::thread thread_;
};

// A loopback port with nothing listening on it.
int ClosedLoopbackPort();

// Raw key=value pairs of one section (names compared without case); values
// exactly as they stand after '=', so blanks around them survive.
std::map<std::string, std::string> ReadIniSection(const std::string& file, const std::string& section);
std::string ReadWholeFile(const std::string& file);
void WriteWholeFile(const std::string& file, const std::string& content);

struct WindowsOptions {
    std::vector<std::string> extraArgs{"chkver", "/v:1.10"}; // "/p:" is added
    bool autoMode = false;
    // Content of the INI file before start-up; nullopt: no file.
    std::optional<std::string> iniContent;
};

// The five windows of Halvorne, in start-up order, with a process end that
// only records its exit code.
class WindowsFixture : public ::testing::Test {
protected:
    void TearDown() override;

    void Build(const WindowsOptions& options = {});
    TRunParameters& Params();

    // Makes w the active window and waits for it.
    static bool Activate(QWidget* w);

    // Points both parameter sets of the transfer window at base, so a check
    // or a connection test never leaves the machine.
    void AimChecksAt(const std::string& base, const std::string& installed);

    std::string programDir_;
    std::string iniFile_;
    std::string targetDir_;
    std::unique_ptr<QTemporaryDir> tmp_;
    std::unique_ptr<ModalBoxDriver> boxes_;
    std::vector<int> exitCodes_;
};

} // namespace mwtest
