#include "tests/support/XvfbDisplay.h"

#include "tests/support/Subprocess.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace tests::support {

namespace fs = std::filesystem;

XvfbDisplay::XvfbDisplay() {
    // A display number of our own, well away from :0 and the small numbers
    // other tools pick first. Xvfb itself tells when it is ready, through
    // -displayfd, and only once it holds that number's lock: a server of
    // someone else's that holds the number is never mistaken for ours (it
    // would vanish under us when its owner ends).
    //
    // -noreset: by default an X server resets when its last client leaves,
    // and a client that connects during the reset is refused ("could not
    // connect to display"). Between two runs of the program, and between
    // two xdotool calls, there is no client at all.
    std::random_device rd;
    const std::string log = tmp_.file("xvfb.log");
    for (int attempt = 0; attempt < 20; ++attempt) {
        const int n = 300 + static_cast<int>(rd() % 600);
        if (fs::exists("/tmp/.X11-unix/X" + std::to_string(n)) || fs::exists("/tmp/.X" + std::to_string(n) + "-lock"))
            continue;
        const std::string display = ":" + std::to_string(n);
        int ready[2];
        if (::pipe2(ready, O_CLOEXEC) != 0)
            throw std::runtime_error("pipe failed");
        const std::string readyFd = std::to_string(ready[1]);
        const pid_t parent = ::getpid();
        pid_ = ::fork();
        if (pid_ < 0)
            throw std::runtime_error("fork failed");
        if (pid_ == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (::getppid() != parent)
                ::_exit(127);
            ::fcntl(ready[1], F_SETFD, 0); // inherited by Xvfb
            const int l = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (l >= 0) {
                ::dup2(l, 1);
                ::dup2(l, 2);
            }
            ::execlp("Xvfb", "Xvfb", display.c_str(), "-displayfd", readyFd.c_str(), "-noreset", "-screen", "0",
                "1024x768x24", "-nolisten", "tcp", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(ready[1]);
        // The number arrives once the server accepts clients; end of file
        // means it gave up (the number was taken after all).
        std::string got;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (got.find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline) {
            pollfd p{ready[0], POLLIN, 0};
            if (::poll(&p, 1, 100) <= 0)
                continue;
            char buf[32];
            const ssize_t r = ::read(ready[0], buf, sizeof buf);
            if (r <= 0)
                break;
            got.append(buf, static_cast<std::size_t>(r));
        }
        ::close(ready[0]);
        if (got == std::to_string(n) + "\n") {
            name_ = display;
            return;
        }
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
    throw std::runtime_error("Xvfb did not start: " + ReadFile(log));
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
    std::vector<std::string> argv{"xdotool"};
    argv.insert(argv.end(), args.begin(), args.end());
    SubprocessOptions o;
    o.env = {{"DISPLAY", name_}};
    o.captureOutput = true;
    Subprocess xdotool(argv, o);
    // xdotool's own --sync waits are bounded; this only guards a hang.
    const bool ended = xdotool.WaitFor(std::chrono::seconds(60));
    if (status)
        *status = ended && xdotool.Exited() ? xdotool.ExitCode() : -1;
    return xdotool.Output();
}

namespace {
std::vector<std::string> Words(const std::string& text) {
    std::vector<std::string> words;
    std::stringstream s(text);
    std::string w;
    while (s >> w)
        words.push_back(w);
    return words;
}
} // namespace

std::vector<std::string> XvfbDisplay::FindWindows(const std::string& pattern) const {
    return Words(Xdotool({"search", "--name", pattern}));
}

std::vector<std::string> XvfbDisplay::WaitForWindow(
    const std::string& pattern, std::chrono::milliseconds timeout) const {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    do {
        auto ids = Words(Xdotool({"search", "--onlyvisible", "--name", pattern}));
        if (!ids.empty())
            return ids;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    } while (std::chrono::steady_clock::now() < deadline);
    return {};
}

namespace {
// utime + stime of a process in clock ticks; -1 once it is gone.
long CpuTicks(pid_t pid) {
    std::ifstream f("/proc/" + std::to_string(pid) + "/stat");
    std::string stat((std::istreambuf_iterator<char>(f)), {});
    const std::size_t close = stat.rfind(')');
    if (close == std::string::npos)
        return -1;
    std::stringstream rest(stat.substr(close + 2));
    std::string field;
    long utime = 0;
    long stime = 0;
    // Fields after the name: state is the 3rd of the line, utime the 14th.
    for (int i = 3; i <= 15 && rest >> field; ++i) {
        if (i == 3 && field == "Z")
            return -1;
        if (i == 14)
            utime = std::stol(field);
        if (i == 15)
            stime = std::stol(field);
    }
    return utime + stime;
}
} // namespace

bool WaitUntilIdle(pid_t pid, std::chrono::milliseconds timeout, int quietMs) {
    // One tick (10 ms) of slack: the animated picture repaints now and then.
    constexpr long kSlackTicks = 1;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        const long before = CpuTicks(pid);
        if (before < 0)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(quietMs));
        const long after = CpuTicks(pid);
        if (after < 0)
            return false;
        if (after - before <= kSlackTicks)
            return true;
    }
    return false;
}

} // namespace tests::support
