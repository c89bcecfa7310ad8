#include "LocalServers.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace testsrv {

namespace {

sockaddr_in Loopback(int port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    return a;
}

pid_t Spawn(const std::vector<std::string>& argv, const std::string& logPath) {
    pid_t pid = fork();
    if (pid != 0)
        return pid;
    // Dies with the test even when the test itself is killed.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    int log = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (log >= 0) {
        dup2(log, 1);
        dup2(log, 2);
    }
    int devnull = ::open("/dev/null", O_RDONLY);
    if (devnull >= 0)
        dup2(devnull, 0);
    std::vector<char*> args;
    for (const auto& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
}

bool Exited(pid_t pid) {
    int status = 0;
    return waitpid(pid, &status, WNOHANG) == pid;
}

void StopProcess(pid_t& pid) {
    if (pid <= 0)
        return;
    kill(pid, SIGTERM);
    for (int i = 0; i < 300; ++i) {
        if (Exited(pid)) {
            pid = -1;
            return;
        }
        usleep(10 * 1000);
    }
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    pid = -1;
}

// Starts a server on a free port, retrying when the port was taken between
// choosing and binding it. start(port) returns the pid.
template <class StartFn>
pid_t StartOnFreePort(StartFn start, int& portOut, std::string& error) {
    for (int attempt = 0; attempt < 5; ++attempt) {
        int port = PickFreePort();
        if (port <= 0)
            continue;
        pid_t pid = start(port);
        if (pid < 0) {
            error = "fork failed";
            return -1;
        }
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < deadline) {
            if (Exited(pid))
                break;
            if (WaitForPort(port, 50)) {
                portOut = port;
                return pid;
            }
        }
        if (!Exited(pid)) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
    }
    error = "server did not start";
    return -1;
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

} // namespace

int PickFreePort() {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_in a = Loopback(0);
    int port = -1;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
        socklen_t len = sizeof a;
        if (getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
            port = ntohs(a.sin_port);
    }
    ::close(fd);
    return port;
}

bool WaitForPort(int port, int timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    do {
        int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a = Loopback(port);
        bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
        ::close(fd);
        if (ok)
            return true;
        usleep(10 * 1000);
    } while (std::chrono::steady_clock::now() < deadline);
    return false;
}

std::string MakeTempDir(const std::string& prefix) {
    std::string tmpl = (fs::temp_directory_path() / (prefix + "XXXXXX")).string();
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    if (!mkdtemp(buf.data()))
        return std::string();
    return std::string(buf.data());
}

void RemoveTree(const std::string& path) {
    std::error_code ec;
    if (!path.empty())
        fs::remove_all(path, ec);
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    chmod(path.c_str(), 0644);
}

NginxServer::NginxServer(const std::string& rootDir, const NginxOptions& options) {
    const bool tls = !options.CertFile.empty() && !options.KeyFile.empty();
    prefix_ = MakeTempDir("nginx-test-");
    if (prefix_.empty()) {
        error_ = "no temporary folder";
        return;
    }
    chmod(rootDir.c_str(), 0755);
    std::error_code ec;
    for (auto& entry : fs::recursive_directory_iterator(rootDir, ec))
        chmod(entry.path().c_str(), entry.is_directory() ? 0755 : 0644);
    fs::create_directories(prefix_ + "/tmp", ec);
    pid_ = StartOnFreePort(
        [&](int port) {
            std::ofstream conf(prefix_ + "/nginx.conf");
            conf << "master_process off;\n"
                 << "pid " << prefix_ << "/nginx.pid;\n"
                 << "error_log " << prefix_ << "/error.log;\n"
                 << "events { worker_connections 64; }\n"
                 << "http {\n"
                 << "  access_log off;\n"
                 << "  client_body_temp_path " << prefix_ << "/tmp/body;\n"
                 << "  proxy_temp_path " << prefix_ << "/tmp/proxy;\n"
                 << "  fastcgi_temp_path " << prefix_ << "/tmp/fastcgi;\n"
                 << "  uwsgi_temp_path " << prefix_ << "/tmp/uwsgi;\n"
                 << "  scgi_temp_path " << prefix_ << "/tmp/scgi;\n"
                 << "  default_type application/octet-stream;\n"
                 << "  sendfile on;\n"
                 << "  server {\n"
                 << "    listen 127.0.0.1:" << port << (tls ? " ssl" : "") << ";\n"
                 << "    root " << rootDir << ";\n";
            if (tls)
                conf << "    ssl_certificate " << options.CertFile << ";\n"
                     << "    ssl_certificate_key " << options.KeyFile << ";\n";
            if (!options.Rate.empty())
                conf << "    limit_rate " << options.Rate << ";\n";
            conf << "  }\n"
                 << "}\n";
            conf.close();
            return Spawn({"nginx", "-p", prefix_, "-c", prefix_ + "/nginx.conf", "-e", prefix_ + "/error.log",
                          "-g", "daemon off;"},
                         prefix_ + "/stdout.log");
        },
        port_, error_);
    if (pid_ < 0)
        error_ += ": " + ReadAll(prefix_ + "/error.log") + ReadAll(prefix_ + "/stdout.log");
}

NginxServer::~NginxServer() {
    StopProcess(pid_);
    RemoveTree(prefix_);
}

TinyProxyServer::TinyProxyServer() {
    prefix_ = MakeTempDir("tinyproxy-test-");
    if (prefix_.empty()) {
        error_ = "no temporary folder";
        return;
    }
    // tinyproxy may drop to an unprivileged user that must write its log.
    chmod(prefix_.c_str(), 0777);
    pid_ = StartOnFreePort(
        [&](int port) {
            std::ofstream conf(prefix_ + "/tinyproxy.conf");
            conf << "Port " << port << "\n"
                 << "Listen 127.0.0.1\n"
                 << "Timeout 30\n"
                 << "MaxClients 20\n"
                 << "Allow 127.0.0.1\n"
                 << "PidFile \"" << prefix_ << "/tinyproxy.pid\"\n"
                 << "LogFile \"" << prefix_ << "/tinyproxy.log\"\n"
                 << "LogLevel Warning\n";
            conf.close();
            return Spawn({"tinyproxy", "-d", "-c", prefix_ + "/tinyproxy.conf"}, prefix_ + "/stdout.log");
        },
        port_, error_);
    if (pid_ < 0)
        error_ += ": " + ReadAll(prefix_ + "/tinyproxy.log") + ReadAll(prefix_ + "/stdout.log");
}

TinyProxyServer::~TinyProxyServer() {
    StopProcess(pid_);
    RemoveTree(prefix_);
}

ScriptedServer::ScriptedServer(std::vector<ScriptStep> script) : script_(std::move(script)) {
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = Loopback(0);
    if (listenFd_ < 0 || ::bind(listenFd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::listen(listenFd_, 8) != 0) {
        if (listenFd_ >= 0)
            ::close(listenFd_);
        listenFd_ = -1;
        return;
    }
    socklen_t len = sizeof a;
    getsockname(listenFd_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] { Run(); });
}

ScriptedServer::~ScriptedServer() { Stop(); }

void ScriptedServer::Stop() {
    stop_ = true;
    if (thread_.joinable())
        thread_.join();
    if (listenFd_ >= 0) {
        ::close(listenFd_);
        listenFd_ = -1;
    }
}

std::vector<std::string> ScriptedServer::Requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

std::string ScriptedServer::FirstRequest() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_.empty() ? std::string() : requests_.front();
}

void ScriptedServer::Run() {
    while (!StopRequested()) {
        pollfd p{listenFd_, POLLIN, 0};
        if (::poll(&p, 1, 20) <= 0)
            continue;
        int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            requests_.emplace_back();
        }
        ++connections_;
        Serve(fd);
    }
}

void ScriptedServer::Serve(int fd) {
    auto record = [&](const char* data, std::size_t n) {
        std::lock_guard<std::mutex> lock(mutex_);
        requests_.back().append(data, n);
    };
    auto sendAll = [&](const char* data, std::size_t n) {
        while (n > 0) {
            ssize_t k = ::send(fd, data, n, MSG_NOSIGNAL);
            if (k <= 0)
                return;
            data += k;
            n -= static_cast<std::size_t>(k);
        }
    };
    auto sleepMs = [&](int ms) {
        auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (!StopRequested() && std::chrono::steady_clock::now() < until)
            usleep(2000);
    };
    bool open = true;
    for (const ScriptStep& step : script_) {
        if (!open || StopRequested())
            break;
        switch (step.kind) {
        case ScriptStep::ReadRequest: {
            std::string seen;
            auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
            while (seen.find("\r\n\r\n") == std::string::npos && !StopRequested() &&
                   std::chrono::steady_clock::now() < deadline) {
                pollfd p{fd, POLLIN, 0};
                if (::poll(&p, 1, 20) <= 0)
                    continue;
                char buf[4096];
                ssize_t k = ::recv(fd, buf, sizeof buf, 0);
                if (k <= 0)
                    break;
                seen.append(buf, static_cast<std::size_t>(k));
                record(buf, static_cast<std::size_t>(k));
            }
            break;
        }
        case ScriptStep::Send:
            sendAll(step.Data.data(), step.Data.size());
            break;
        case ScriptStep::SendSlowly:
            for (std::size_t i = 0; i < step.Data.size() && !StopRequested(); i += step.Count) {
                sendAll(step.Data.data() + i, std::min(step.Count, step.Data.size() - i));
                sleepMs(step.Millis);
            }
            break;
        case ScriptStep::Sleep:
            sleepMs(step.Millis);
            break;
        case ScriptStep::Hold:
            while (!StopRequested()) {
                pollfd p{fd, POLLIN, 0};
                if (::poll(&p, 1, 20) <= 0)
                    continue;
                char buf[4096];
                ssize_t k = ::recv(fd, buf, sizeof buf, 0);
                if (k <= 0)
                    break;
                record(buf, static_cast<std::size_t>(k));
            }
            break;
        case ScriptStep::Close:
            ::shutdown(fd, SHUT_WR);
            ::close(fd);
            open = false;
            break;
        case ScriptStep::Reset: {
            linger l{1, 0};
            setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
            ::close(fd);
            open = false;
            break;
        }
        }
    }
    if (open)
        ::close(fd);
}

} // namespace testsrv
