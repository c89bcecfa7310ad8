#pragma once
// Helpers for tests that run the built program: temporary folders, child
// processes with captured output, pty lines and a real-time peer on a pty.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <stdexcept>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

#include "platform/serial/SimulatedLine.h"

namespace testsupport {

using Bytes = std::vector<std::uint8_t>;
namespace fs = std::filesystem;

inline std::int64_t NowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

class TempDir {
public:
    TempDir()
    {
        std::string pattern = (fs::temp_directory_path() / "veltrix-test-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error("mkdtemp");
        path_ = pattern;
    }
    ~TempDir()
    {
        std::error_code ec;
        fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(path_, ec);
    }
    std::string operator/(const std::string& name) const { return (path_ / name).string(); }
    const fs::path& Path() const { return path_; }

private:
    fs::path path_;
};

inline void WriteFile(const std::string& path, const Bytes& data)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

inline Bytes ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A child process with its standard output captured.
class Process {
public:
    Process(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env = {},
            const std::string& workDir = {}, bool captureOutput = true)
    {
        int out[2] = {-1, -1};
        if (captureOutput && pipe2(out, O_CLOEXEC) != 0)
            throw std::runtime_error("pipe");
        started_ = NowMs();
        pid_ = fork();
        if (pid_ < 0)
            throw std::runtime_error("fork");
        if (pid_ == 0) {
            if (captureOutput)
                dup2(out[1], STDOUT_FILENO);
            int devnull = open("/dev/null", O_RDWR);
            dup2(devnull, STDIN_FILENO);
            if (!captureOutput)
                dup2(devnull, STDOUT_FILENO);
            dup2(devnull, STDERR_FILENO);
            // The device names must always come from the test.
            setenv("VELTRIX_COM1", "/nonexistent/veltrix-test-com1", 1);
            setenv("VELTRIX_COM2", "/nonexistent/veltrix-test-com2", 1);
            for (const auto& [k, v] : env)
                setenv(k.c_str(), v.c_str(), 1);
            if (!workDir.empty() && chdir(workDir.c_str()) != 0)
                _exit(127);
            std::vector<char*> args;
            for (const auto& a : argv)
                args.push_back(const_cast<char*>(a.c_str()));
            args.push_back(nullptr);
            execvp(args[0], args.data());
            _exit(127);
        }
        if (captureOutput) {
            close(out[1]);
            outFd_ = out[0];
            reader_ = std::thread([this] {
                char buf[4096];
                ssize_t n;
                while ((n = read(outFd_, buf, sizeof buf)) > 0) {
                    std::lock_guard<std::mutex> lock(mutex_);
                    output_.append(buf, static_cast<std::size_t>(n));
                }
            });
        }
    }
    ~Process()
    {
        if (pid_ > 0 && !done_) {
            kill(pid_, SIGKILL);
            Wait(10000);
        }
        if (reader_.joinable())
            reader_.join();
        if (outFd_ >= 0)
            close(outFd_);
    }

    // Waits up to timeoutMs; returns the exit code (0..255), or -1000 when
    // the process had to be killed, -2000 for a signal.
    int Wait(std::int64_t timeoutMs)
    {
        if (done_)
            return code_;
        const std::int64_t deadline = NowMs() + timeoutMs;
        int status = 0;
        bool killed = false;
        for (;;) {
            const pid_t r = wait4(pid_, &status, WNOHANG, &usage_);
            if (r == pid_)
                break;
            if (NowMs() > deadline && !killed) {
                kill(pid_, SIGKILL);
                killed = true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        ended_ = NowMs();
        done_ = true;
        if (reader_.joinable())
            reader_.join();
        code_ = killed ? -1000 : (WIFEXITED(status) ? WEXITSTATUS(status) : -2000);
        return code_;
    }
    // True once the process has ended (never kills it).
    bool Finished()
    {
        if (done_)
            return true;
        int status = 0;
        if (wait4(pid_, &status, WNOHANG, &usage_) != pid_)
            return false;
        ended_ = NowMs();
        done_ = true;
        if (reader_.joinable())
            reader_.join();
        code_ = WIFEXITED(status) ? WEXITSTATUS(status) : -2000;
        return true;
    }
    std::string Output()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return output_;
    }
    std::int64_t ElapsedMs() const { return ended_ - started_; }
    double CpuSeconds() const
    {
        return usage_.ru_utime.tv_sec + usage_.ru_stime.tv_sec +
               (usage_.ru_utime.tv_usec + usage_.ru_stime.tv_usec) / 1e6;
    }

private:
    pid_t pid_ = -1;
    int outFd_ = -1;
    std::thread reader_;
    std::mutex mutex_;
    std::string output_;
    bool done_ = false;
    int code_ = 0;
    std::int64_t started_ = 0;
    std::int64_t ended_ = 0;
    rusage usage_{};
};

inline std::string VeltrixPath() { return VELTRIX_BINARY; }

// A pty pair standing in for a cable: the program opens Device(), the test
// reads and writes Master().
class PtyLine {
public:
    PtyLine()
    {
        char name[256] = {};
        termios raw{};
        cfmakeraw(&raw);
        if (openpty(&master_, &slave_, name, &raw, nullptr) != 0)
            throw std::runtime_error("openpty");
        fcntl(master_, F_SETFD, FD_CLOEXEC);
        fcntl(slave_, F_SETFD, FD_CLOEXEC);
        fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
        device_ = name;
    }
    ~PtyLine()
    {
        close(master_);
        close(slave_);
    }
    const std::string& Device() const { return device_; }
    int Master() const { return master_; }
    // Everything readable on the master within waitMs.
    Bytes Drain(int waitMs = 0)
    {
        Bytes got;
        const std::int64_t deadline = NowMs() + waitMs;
        for (;;) {
            std::uint8_t buf[512];
            const ssize_t n = read(master_, buf, sizeof buf);
            if (n > 0) {
                got.insert(got.end(), buf, buf + n);
                continue;
            }
            const std::int64_t left = deadline - NowMs();
            if (left <= 0)
                return got;
            pollfd p{master_, POLLIN, 0};
            poll(&p, 1, static_cast<int>(left));
        }
    }
    void Write(const Bytes& bytes) { [[maybe_unused]] ssize_t n = write(master_, bytes.data(), bytes.size()); }

private:
    int master_ = -1;
    int slave_ = -1;
    std::string device_;
};

// Runs a LinePeer against the program on a pty in real time: bytes the
// program writes go to the peer as they arrive, the peer's answers are
// written when their delay has passed.
class PtyPeer : public serial::PeerOutput {
public:
    PtyPeer(PtyLine& line, serial::LinePeer& peer) : line_(line), peer_(peer)
    {
        thread_ = std::thread([this] { Run(); });
    }
    ~PtyPeer() { Stop(); }
    void Stop()
    {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
    }
    using serial::PeerOutput::Deliver;
    void Deliver(std::uint8_t byte, std::int64_t delayMs) override
    {
        std::lock_guard<std::recursive_mutex> lock(mutex_);
        std::int64_t at = NowMs() + delayMs;
        if (!pending_.empty() && pending_.back().first > at)
            at = pending_.back().first;
        pending_.emplace_back(at, byte);
    }
    // Every byte the program wrote, with its arrival time.
    std::vector<std::pair<std::int64_t, std::uint8_t>> Received()
    {
        std::lock_guard<std::recursive_mutex> lock(mutex_);
        return received_;
    }

private:
    void Run()
    {
        while (!stop_) {
            Bytes out;
            std::int64_t wait = 20;
            {
                std::lock_guard<std::recursive_mutex> lock(mutex_);
                const std::int64_t now = NowMs();
                while (!pending_.empty() && pending_.front().first <= now) {
                    out.push_back(pending_.front().second);
                    pending_.pop_front();
                }
                if (!pending_.empty())
                    wait = std::min<std::int64_t>(wait, pending_.front().first - now);
            }
            if (!out.empty())
                line_.Write(out);
            pollfd p{line_.Master(), POLLIN, 0};
            poll(&p, 1, static_cast<int>(std::max<std::int64_t>(wait, 0)));
            std::uint8_t buf[512];
            const ssize_t n = read(line_.Master(), buf, sizeof buf);
            if (n <= 0) {
                if (n < 0 && errno == EIO)
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
                continue;
            }
            std::lock_guard<std::recursive_mutex> lock(mutex_);
            const std::int64_t now = NowMs();
            for (ssize_t i = 0; i < n; ++i) {
                received_.emplace_back(now, buf[i]);
                peer_.OnByte(*this, buf[i]);
            }
        }
    }

    // The peer calls Deliver from inside Run, with the mutex held.
    PtyLine& line_;
    serial::LinePeer& peer_;
    std::recursive_mutex mutex_;
    std::deque<std::pair<std::int64_t, std::uint8_t>> pending_;
    std::vector<std::pair<std::int64_t, std::uint8_t>> received_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

} // namespace testsupport
