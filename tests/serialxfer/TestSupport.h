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
#include "tests/support/Subprocess.h"
#include "tests/support/TempDir.h"

namespace tests::serialxfer {

using Bytes = std::vector<std::uint8_t>;
namespace fs = std::filesystem;

inline std::int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// The shared temporary directory, named for this tool's tests.
class TempDir : public tests::support::TempDir {
public:
    TempDir() : tests::support::TempDir("veltrix-test-") {}
};

inline void WriteFile(const std::string& path, const Bytes& data) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

inline Bytes ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A child process with its standard output captured, on the shared runner.
class Process {
public:
    Process(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env = {},
        const std::string& workDir = {}, bool captureOutput = true)
        : child_(argv, Options(env, workDir, captureOutput)) {}

    // Waits up to timeoutMs; returns the exit code (0..255), or -1000 when
    // the process had to be killed, -2000 for a signal.
    int Wait(std::int64_t timeoutMs) {
        if (!child_.WaitFor(std::chrono::milliseconds(timeoutMs)))
            child_.Kill();
        return Code();
    }
    // True once the process has ended (never kills it).
    bool Finished() { return child_.Finished(); }
    std::string Output() { return child_.Output(); }
    std::int64_t ElapsedMs() const { return child_.Elapsed().count(); }
    double CpuSeconds() const { return child_.CpuSeconds(); }

private:
    static tests::support::SubprocessOptions Options(
        const std::map<std::string, std::string>& env, const std::string& workDir, bool captureOutput) {
        tests::support::SubprocessOptions o;
        // The device names must always come from the test.
        o.env = {
            {"VELTRIX_COM1", "/nonexistent/veltrix-test-com1"}, {"VELTRIX_COM2", "/nonexistent/veltrix-test-com2"}};
        for (const auto& [k, v] : env)
            o.env[k] = v;
        o.workDir = workDir;
        o.captureOutput = captureOutput;
        return o;
    }
    int Code() const {
        if (child_.KilledByUs())
            return -1000;
        return child_.Exited() ? child_.ExitCode() : -2000;
    }

    tests::support::Subprocess child_;
};

inline std::string VeltrixPath() { return VELTRIX_BINARY; }

// A pty pair standing in for a cable: the program opens Device(), the test
// reads and writes Master().
class PtyLine {
public:
    PtyLine() {
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
    ~PtyLine() {
        close(master_);
        close(slave_);
    }
    const std::string& Device() const { return device_; }
    int Master() const { return master_; }
    // Everything readable on the master within waitMs.
    Bytes Drain(int waitMs = 0) {
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
class PtyPeer : public platform::serial::PeerOutput {
public:
    PtyPeer(PtyLine& line, platform::serial::LinePeer& peer) : line_(line), peer_(peer) {
        thread_ = std::thread([this] { Run(); });
    }
    ~PtyPeer() { Stop(); }
    void Stop() {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
    }
    using platform::serial::PeerOutput::Deliver;
    void Deliver(std::uint8_t byte, std::int64_t delayMs) override {
        std::lock_guard<std::recursive_mutex> lock(mutex_);
        std::int64_t at = NowMs() + delayMs;
        if (!pending_.empty() && pending_.back().first > at)
            at = pending_.back().first;
        pending_.emplace_back(at, byte);
    }
    // Every byte the program wrote, with its arrival time.
    std::vector<std::pair<std::int64_t, std::uint8_t>> Received() {
        std::lock_guard<std::recursive_mutex> lock(mutex_);
        return received_;
    }

private:
    void Run() {
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
    platform::serial::LinePeer& peer_;
    std::recursive_mutex mutex_;
    std::deque<std::pair<std::int64_t, std::uint8_t>> pending_;
    std::vector<std::pair<std::int64_t, std::uint8_t>> received_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

} // namespace tests::serialxfer
