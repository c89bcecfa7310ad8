// nginx with the demo server's own configuration (on a free or a given
// loopback port) and a private X server, started from a test and stopped by
// their destructors; tinyproxy comes from tests/support (test_servers).
#pragma once

#include "tests/support/TempDir.h"

#include <string>
#include <sys/types.h>
#include <vector>

namespace testsupport {

class ChildProcess {
public:
    ChildProcess() = default;
    ~ChildProcess() { Stop(); }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    // Starts argv[0] (looked up in PATH) with stdout and stderr to logFile.
    void Start(const std::vector<std::string>& argv, const std::string& logFile);
    void Stop();
    bool Running();
private:
    pid_t pid_ = -1;
};

class NginxServer {
public:
    // Serves a copy of rootDir (world-readable, as the workers need) on a
    // free port, or on fixedPort when it is not 0; over HTTPS when a
    // certificate and its key (PEM files) are given.
    explicit NginxServer(const std::string& rootDir, int fixedPort = 0, const std::string& certFile = "",
                         const std::string& keyFile = "");
    int Port() const { return port_; }
    std::string Address(const std::string& dir) const {
        return std::string(https_ ? "https" : "http") + "://127.0.0.1:" + std::to_string(port_) + "/" + dir + "/";
    }
    // Path of the served copy, to add or remove files in a test.
    std::string Root() const { return (tmp_.path() / "www").string(); }
    // nginx's access log: a line per request, written once it is answered.
    std::string AccessLog() const { return (tmp_.path() / "nginx" / "access.log").string(); }
private:
    TempDir tmp_;
    int port_ = 0;
    bool https_ = false;
    ChildProcess proc_;
};

// A private X server (Xvfb) on a free display number, for running the
// program as a user sees it and answering it with xdotool.
class XvfbDisplay {
public:
    XvfbDisplay();
    ~XvfbDisplay();
    // ":<n>"
    const std::string& Name() const { return name_; }
    // Runs xdotool with these arguments on this display; its standard output.
    std::string Xdotool(const std::vector<std::string>& args, int* status = nullptr) const;
    // Ids of the windows whose name matches the pattern (xdotool search --name).
    std::vector<std::string> FindWindows(const std::string& pattern) const;
private:
    TempDir tmp_;
    pid_t pid_ = -1;
    std::string name_;
};

// True once something accepts connections on 127.0.0.1:port (within ~5 s).
bool WaitForListening(int port);

} // namespace testsupport
