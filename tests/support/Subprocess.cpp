#include "tests/support/Subprocess.h"

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <stdexcept>

namespace tests::support {

Subprocess::Subprocess(const std::vector<std::string>& argv, const SubprocessOptions& options) {
    if (argv.empty())
        throw std::runtime_error("Subprocess: no program");
    // Everything the child needs is prepared before fork: after it, only
    // async-signal-safe calls are allowed.
    std::vector<char*> args;
    for (const auto& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    int out[2] = {-1, -1};
    if (options.logFile.empty() && options.captureOutput && ::pipe2(out, O_CLOEXEC) != 0)
        throw std::runtime_error("Subprocess: pipe failed");
    const pid_t parent = ::getpid();
    started_ = std::chrono::steady_clock::now();
    pid_ = ::fork();
    if (pid_ < 0)
        throw std::runtime_error("Subprocess: fork failed");
    if (pid_ == 0) {
        // Dies with the test, even when the test itself is killed; and not
        // started at all when the test died before this line.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent)
            ::_exit(127);
        const int devnull = ::open("/dev/null", O_RDWR);
        ::dup2(devnull, STDIN_FILENO);
        if (options.inheritOutput) {
            // Standard output and error stay those of the test.
        } else if (!options.logFile.empty()) {
            const int log = ::open(options.logFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            ::dup2(log >= 0 ? log : devnull, STDOUT_FILENO);
            ::dup2(log >= 0 ? log : devnull, STDERR_FILENO);
        } else {
            ::dup2(out[1] >= 0 ? out[1] : devnull, STDOUT_FILENO);
            ::dup2(devnull, STDERR_FILENO);
        }
        for (const auto& [key, value] : options.env)
            ::setenv(key.c_str(), value.c_str(), 1);
        if (!options.workDir.empty() && ::chdir(options.workDir.c_str()) != 0)
            ::_exit(127);
        if (options.fileSizeLimit > 0) {
            // The program copes with the default action itself.
            std::signal(SIGXFSZ, SIG_DFL);
            const rlimit lim{static_cast<rlim_t>(options.fileSizeLimit), static_cast<rlim_t>(options.fileSizeLimit)};
            ::setrlimit(RLIMIT_FSIZE, &lim);
        }
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    if (out[0] >= 0) {
        ::close(out[1]);
        outFd_ = out[0];
        reader_ = std::thread([this] {
            char buf[4096];
            ssize_t n;
            while ((n = ::read(outFd_, buf, sizeof buf)) > 0) {
                std::lock_guard<std::mutex> lock(mutex_);
                output_.append(buf, static_cast<std::size_t>(n));
            }
        });
    }
}

Subprocess::~Subprocess() {
    Kill();
    if (reader_.joinable())
        reader_.join();
    if (outFd_ >= 0)
        ::close(outFd_);
}

bool Subprocess::Reap(int flags) {
    if (ended_)
        return true;
    int status = 0;
    if (::wait4(pid_, &status, flags, &usage_) != pid_)
        return false;
    ended_ = true;
    ended_at_ = std::chrono::steady_clock::now();
    exited_ = WIFEXITED(status);
    code_ = exited_ ? WEXITSTATUS(status) : -1;
    signal_ = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    // The pipe closes with the child (unless a grandchild holds it).
    if (reader_.joinable())
        reader_.join();
    return true;
}

bool Subprocess::Finished() { return Reap(WNOHANG); }

bool Subprocess::WaitFor(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!Reap(WNOHANG)) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

void Subprocess::Kill() {
    if (pid_ <= 0 || ended_)
        return;
    if (!Reap(WNOHANG)) {
        ::kill(pid_, SIGKILL);
        killedByUs_ = true;
        Reap(0);
    }
}

void Subprocess::Stop(std::chrono::milliseconds grace) {
    if (pid_ <= 0 || Finished())
        return;
    ::kill(pid_, SIGTERM);
    if (!WaitFor(grace))
        Kill();
}

std::string Subprocess::Output() {
    std::lock_guard<std::mutex> lock(mutex_);
    return output_;
}

double Subprocess::CpuSeconds() const {
    return static_cast<double>(usage_.ru_utime.tv_sec + usage_.ru_stime.tv_sec) +
           static_cast<double>(usage_.ru_utime.tv_usec + usage_.ru_stime.tv_usec) / 1e6;
}

std::chrono::milliseconds Subprocess::Elapsed() const {
    const auto end = ended_ ? ended_at_ : std::chrono::steady_clock::now();
    return std::chrono::duration_cast<std::chrono::milliseconds>(end - started_);
}

int RunInChild(const std::function<int()>& body) {
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid < 0)
        throw std::runtime_error("RunInChild: fork failed");
    if (pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent)
            ::_exit(127);
        ::_exit(body());
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            throw std::runtime_error("RunInChild: waitpid failed");
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
}

} // namespace tests::support
