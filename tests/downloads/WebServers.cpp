#include "WebServers.h"
#include "ScriptedHttpServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <thread>

#ifndef HALVORNE_SOURCE_DIR
#error "HALVORNE_SOURCE_DIR must name the source tree"
#endif

namespace testsupport {
namespace fs = std::filesystem;

void ChildProcess::Start(const std::vector<std::string>& argv, const std::string& logFile) {
    std::vector<char*> args;
    for (const auto& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_ = ::fork();
    if (pid_ < 0)
        throw std::runtime_error("fork failed");
    if (pid_ == 0) {
        // A test that crashes must not leave its server running.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        int log = ::open(logFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (log >= 0) {
            ::dup2(log, 1);
            ::dup2(log, 2);
        }
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
}

bool ChildProcess::Running() {
    if (pid_ <= 0)
        return false;
    int status;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return false;
    }
    return true;
}

void ChildProcess::Stop() {
    if (pid_ <= 0)
        return;
    ::kill(pid_, SIGTERM);
    for (int i = 0; i < 100; ++i) {
        int status;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
}

bool WaitForListening(int port) {
    for (int i = 0; i < 250; ++i) {
        int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(static_cast<uint16_t>(port));
        bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
        ::close(fd);
        if (ok)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

namespace {
std::string ReadText(const fs::path& p) {
    std::ifstream f(p);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}
void ReplaceAll(std::string& s, const std::string& from, const std::string& to) {
    for (std::size_t pos = 0; (pos = s.find(from, pos)) != std::string::npos; pos += to.size())
        s.replace(pos, from.size(), to);
}
} // namespace

NginxServer::NginxServer(const std::string& rootDir, int fixedPort, const std::string& certFile,
                         const std::string& keyFile)
    : https_(!certFile.empty()) {
    fs::permissions(tmp_.path(), fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                     fs::perms::others_read | fs::perms::others_exec);
    const fs::path www = tmp_.path() / "www";
    fs::copy(rootDir, www, fs::copy_options::recursive);
    for (auto& e : fs::recursive_directory_iterator(www))
        fs::permissions(e.path(), e.is_directory() ? fs::perms::all & ~fs::perms::group_write & ~fs::perms::others_write
                                                   : fs::perms::owner_read | fs::perms::owner_write |
                                                         fs::perms::group_read | fs::perms::others_read);
    const fs::path prefix = tmp_.path() / "nginx";
    fs::create_directory(prefix);
    const std::string tmpl = ReadText(fs::path(HALVORNE_SOURCE_DIR) / "demo" / "nginx.conf.in");
    // A port picked free may be taken before nginx binds it: try a few. A
    // fixed port may be held for a while by the same test of another build
    // tree: wait for it.
    const int attempts = fixedPort ? 40 : 5;
    for (int attempt = 0; attempt < attempts; ++attempt) {
        if (fixedPort && attempt > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
        port_ = fixedPort ? fixedPort : UnusedLoopbackPort();
        std::string conf = tmpl;
        ReplaceAll(conf, "@PREFIX@", prefix.string());
        ReplaceAll(conf, "@PORT@", std::to_string(port_));
        ReplaceAll(conf, "@ROOT@", www.string());
        ReplaceAll(conf, "@RATE@", "0");
        ReplaceAll(conf, "@SSL@", https_ ? " ssl" : "");
        ReplaceAll(conf, "@CERTIFICATE@",
                   https_ ? "ssl_certificate " + certFile + "; ssl_certificate_key " + keyFile + ";" : "");
        std::ofstream(prefix / "nginx.conf") << conf;
        proc_.Start({"nginx", "-p", prefix.string(), "-c", (prefix / "nginx.conf").string(),
                     "-e", (prefix / "error.log").string(), "-g", "daemon off;"},
                    (prefix / "stdout.log").string());
        if (WaitForListening(port_) && proc_.Running())
            return;
        proc_.Stop();
    }
    throw std::runtime_error("nginx did not start on 127.0.0.1:" + std::to_string(port_) + ": " +
                             ReadText(prefix / "error.log"));
}

XvfbDisplay::XvfbDisplay() {
    // A display number of our own, well away from :0 and the small numbers
    // that other tools pick first, so no one else's server or clean-up
    // meets ours. Xvfb refuses a number whose lock file exists; then retry.
    std::random_device rd;
    const std::string log = (tmp_.path() / "xvfb.log").string();
    for (int attempt = 0; attempt < 20; ++attempt) {
        const int n = 300 + static_cast<int>(rd() % 600);
        const std::string socket = "/tmp/.X11-unix/X" + std::to_string(n);
        if (fs::exists(socket) || fs::exists("/tmp/.X" + std::to_string(n) + "-lock"))
            continue;
        name_ = ":" + std::to_string(n);
        pid_ = ::fork();
        if (pid_ < 0)
            throw std::runtime_error("fork failed");
        if (pid_ == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGTERM);
            int l = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (l >= 0) {
                ::dup2(l, 1);
                ::dup2(l, 2);
            }
            ::execlp("Xvfb", "Xvfb", name_.c_str(), "-screen", "0", "1024x768x24", "-nolisten", "tcp",
                     static_cast<char*>(nullptr));
            ::_exit(127);
        }
        // Ready once its socket exists and a client can talk to it.
        for (int i = 0; i < 100; ++i) {
            if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
                pid_ = -1;
                break;
            }
            int status = 1;
            if (fs::exists(socket)) {
                Xdotool({"getdisplaygeometry"}, &status);
                if (status == 0)
                    return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
    }
    throw std::runtime_error("Xvfb did not start: " + ReadText(log));
}

XvfbDisplay::~XvfbDisplay() {
    if (pid_ <= 0)
        return;
    ::kill(pid_, SIGTERM);
    for (int i = 0; i < 100; ++i) {
        if (::waitpid(pid_, nullptr, WNOHANG) == pid_)
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
}

std::string XvfbDisplay::Xdotool(const std::vector<std::string>& args, int* status) const {
    int out[2];
    if (::pipe(out) != 0)
        throw std::runtime_error("pipe failed");
    pid_t pid = ::fork();
    if (pid == 0) {
        ::close(out[0]);
        ::dup2(out[1], 1);
        int devnull = ::open("/dev/null", O_WRONLY);
        if (devnull >= 0)
            ::dup2(devnull, 2);
        ::setenv("DISPLAY", name_.c_str(), 1);
        std::vector<char*> argv{const_cast<char*>("xdotool")};
        for (const auto& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execvp("xdotool", argv.data());
        ::_exit(127);
    }
    ::close(out[1]);
    std::string text;
    char buf[4096];
    ssize_t r;
    while ((r = ::read(out[0], buf, sizeof buf)) > 0)
        text.append(buf, static_cast<std::size_t>(r));
    ::close(out[0]);
    int st = 0;
    ::waitpid(pid, &st, 0);
    if (status)
        *status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return text;
}

std::vector<std::string> XvfbDisplay::FindWindows(const std::string& pattern) const {
    std::vector<std::string> ids;
    std::stringstream s(Xdotool({"search", "--name", pattern}));
    std::string id;
    while (s >> id)
        ids.push_back(id);
    return ids;
}

} // namespace testsupport
