#include "tools/serial_relay/PacedRelay.h"

#include <cerrno>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/socket.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace tools::serial_relay {

namespace {

// An end may be a socket whose program has exited: writing to it must fail
// with EPIPE rather than raise SIGPIPE, which would end the whole process
// the relay runs in.
ssize_t WriteEnd(int fd, const std::uint8_t* bytes, std::size_t count) {
    const ssize_t put = ::send(fd, bytes, count, MSG_NOSIGNAL);
    if (put < 0 && errno == ENOTSOCK)
        return ::write(fd, bytes, count);
    return put;
}

std::int64_t NowNs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

void SetNonBlocking(int fd) {
    const int flags = fcntl(fd, F_GETFL);
    fcntl(fd, F_SETFL, flags | O_NONBLOCK);
}

} // namespace

PacedRelay::PacedRelay(Options options) : options_(std::move(options)) {}

PacedRelay::~PacedRelay() { Stop(); }

bool PacedRelay::OpenEnd(const EndSetting& setting, End& end) {
    if (setting.fd >= 0) {
        end.fd = setting.fd;
        SetNonBlocking(end.fd);
        return true;
    }
    int master = -1;
    int slave = -1;
    char name[256] = {};
    termios raw{};
    cfmakeraw(&raw);
    cfsetispeed(&raw, B19200);
    cfsetospeed(&raw, B19200);
    if (openpty(&master, &slave, name, &raw, nullptr) != 0) {
        error_ = std::string("openpty: ") + std::strerror(errno);
        return false;
    }
    fcntl(master, F_SETFD, FD_CLOEXEC);
    fcntl(slave, F_SETFD, FD_CLOEXEC);
    SetNonBlocking(master);
    end.fd = master;
    end.holdFd = slave;
    end.device = name;
    if (!setting.linkPath.empty()) {
        ::unlink(setting.linkPath.c_str());
        if (::symlink(name, setting.linkPath.c_str()) != 0) {
            error_ = "symlink " + setting.linkPath + ": " + std::strerror(errno);
            return false;
        }
        end.link = setting.linkPath;
    }
    return true;
}

bool PacedRelay::Start() {
    if (!OpenEnd(options_.a, ends_[0]) || !OpenEnd(options_.b, ends_[1]))
        return false;
    if (pipe2(wakePipe_, O_CLOEXEC | O_NONBLOCK) != 0) {
        error_ = "pipe";
        return false;
    }
    thread_ = std::thread([this] { Run(); });
    return true;
}

void PacedRelay::Stop() {
    if (thread_.joinable()) {
        stop_ = true;
        const char wake = 1;
        [[maybe_unused]] ssize_t ignored = ::write(wakePipe_[1], &wake, 1);
        thread_.join();
    }
    for (End& end : ends_) {
        if (!end.link.empty())
            ::unlink(end.link.c_str());
        if (end.fd >= 0)
            ::close(end.fd);
        if (end.holdFd >= 0)
            ::close(end.holdFd);
        end = End{};
    }
    for (int& fd : wakePipe_) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
}

std::string PacedRelay::DevicePath(Direction from) const { return ends_[static_cast<int>(from)].device; }

void PacedRelay::AddFault(Direction d, std::uint64_t index, Fault fault) {
    std::lock_guard<std::mutex> lock(faultMutex_);
    options_.faults[static_cast<int>(d)][index] = fault;
}

void PacedRelay::Run() {
    // Line time of one byte: start bit, 8 data bits, stop bit.
    const std::int64_t byteNs = options_.baud > 0 ? 10LL * 1000000000LL / options_.baud : 0;
    struct Pending {
        std::int64_t due;
        std::uint8_t byte;
    };
    std::deque<Pending> queues[2];
    std::int64_t lineFree[2] = {0, 0};
    bool open[2] = {true, true};
    std::uint8_t buffer[4096];
    std::vector<std::uint8_t> out;

    while (!stop_) {
        std::int64_t now = NowNs();
        // Deliver what has finished crossing the line.
        for (int d = 0; d < 2; ++d) {
            out.clear();
            while (!queues[d].empty() && queues[d].front().due <= now) {
                out.push_back(queues[d].front().byte);
                queues[d].pop_front();
            }
            if (!out.empty()) {
                const ssize_t put = WriteEnd(ends_[1 - d].fd, out.data(), out.size());
                if (put > 0)
                    delivered_[d] += static_cast<std::uint64_t>(put);
            }
        }

        std::int64_t waitNs = 50 * 1000000LL;
        for (const auto& q : queues)
            if (!q.empty())
                waitNs = std::min(waitNs, std::max<std::int64_t>(0, q.front().due - now));
        pollfd fds[3] = {{ends_[0].fd, static_cast<short>(open[0] ? POLLIN : 0), 0},
            {ends_[1].fd, static_cast<short>(open[1] ? POLLIN : 0), 0}, {wakePipe_[0], POLLIN, 0}};
        timespec timeout{static_cast<time_t>(waitNs / 1000000000), static_cast<long>(waitNs % 1000000000)};
        if (ppoll(fds, 3, &timeout, nullptr) < 0 && errno != EINTR)
            break;
        now = NowNs();
        for (int d = 0; d < 2; ++d) {
            if (!open[d] || (fds[d].revents & (POLLIN | POLLHUP | POLLERR)) == 0)
                continue;
            const ssize_t got = ::read(ends_[d].fd, buffer, sizeof buffer);
            if (got == 0 && ends_[d].holdFd < 0) {
                open[d] = false; // a child process closed its end
                continue;
            }
            if (got <= 0)
                continue;
            std::lock_guard<std::mutex> lock(faultMutex_);
            for (ssize_t i = 0; i < got; ++i) {
                const std::uint64_t index = seen_[d]++;
                std::uint8_t byte = buffer[i];
                auto send = [&](std::uint8_t b) {
                    lineFree[d] = std::max(lineFree[d], now) + byteNs;
                    queues[d].push_back({lineFree[d], b});
                };
                const auto fault = options_.faults[d].find(index);
                if (fault != options_.faults[d].end()) {
                    for (std::uint8_t noise : fault->second.insert)
                        send(noise);
                    if (fault->second.drop)
                        continue;
                    byte ^= fault->second.xorMask;
                }
                send(byte);
            }
        }
    }
}

} // namespace tools::serial_relay
