#include "platform/serial/SerialPort.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace platform::serial {

std::string DevicePathForPortName(const std::string& portName) {
    const char* variable = nullptr;
    const char* fallback = nullptr;
    if (portName == "COM1") {
        variable = "VELTRIX_COM1";
        fallback = "/dev/ttyS0";
    } else if (portName == "COM2") {
        variable = "VELTRIX_COM2";
        fallback = "/dev/ttyS1";
    } else {
        return {};
    }
    const char* overridden = std::getenv(variable);
    if (overridden != nullptr && *overridden != '\0')
        return overridden;
    return fallback;
}

namespace {

std::int64_t MonotonicNowMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// Raw 8N1 at 19200 baud, the receiver on (CREAD) and the modem status lines
// ignored (CLOCAL: no carrier needed, no hang-up on losing it). Software flow
// control is off both ways, because the bytes XON (0x11) and XOFF (0x13) are
// data here. Hardware flow control and the control characters stay as the
// driver has them.
bool ConfigureLine(int fd) {
    termios tio{};
    if (tcgetattr(fd, &tio) != 0)
        return false;
    tio.c_iflag &=
        ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY);
    tio.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    tio.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB);
    tio.c_cflag |= CS8 | CREAD | CLOCAL;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = kReadTimeoutMs / 100;
    if (cfsetispeed(&tio, B19200) != 0 || cfsetospeed(&tio, B19200) != 0)
        return false;
    return tcsetattr(fd, TCSANOW, &tio) == 0;
}

} // namespace

std::unique_ptr<PosixSerialPort> PosixSerialPort::Open(const std::string& devicePath) {
    int fd = -1;
    if (!devicePath.empty())
        fd = ::open(devicePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) {
        // Exclusive use: the advisory lock keeps out other cooperating
        // programs (and root, which TIOCEXCL does not stop); TIOCEXCL keeps
        // out everybody else.
        const bool ok =
            isatty(fd) && flock(fd, LOCK_EX | LOCK_NB) == 0 && ioctl(fd, TIOCEXCL) == 0 && ConfigureLine(fd);
        if (!ok) {
            ::close(fd);
            fd = -1;
        }
    }
    return std::unique_ptr<PosixSerialPort>(new PosixSerialPort(fd));
}

PosixSerialPort::~PosixSerialPort() { Close(); }

void PosixSerialPort::Close() {
    if (fd_ < 0)
        return;
    Flush();
    ioctl(fd_, TIOCNXCL);
    ::close(fd_);
    fd_ = -1;
}

ReadStatus PosixSerialPort::ReadByte(std::uint8_t& byte, int timeoutMs) {
    if (fd_ < 0)
        return ReadStatus::Failed;
    Flush();
    if (bufferedPos_ < bufferedEnd_) {
        byte = buffer_[bufferedPos_++];
        if (expected_ > 0)
            --expected_;
        return ReadStatus::Byte;
    }
    const std::int64_t deadline = MonotonicNowMs() + timeoutMs;
    bool gathered = false;
    for (;;) {
        const ssize_t got = ::read(fd_, buffer_, sizeof buffer_);
        if (got > 0) {
            if (!gathered && expected_ > 1 && got < expected_) {
                // Bytes of a frame arrive one line time apart: let the next
                // ones (at most a buffer's worth) come in before waking up
                // for them. The wait ends before the last of them is due.
                gathered = true;
                const int more = std::min<int>(expected_ - static_cast<int>(got),
                                     static_cast<int>(sizeof buffer_) - static_cast<int>(got)) -
                                 1;
                if (more > 0) {
                    const long waitNs = static_cast<long>(more) * 10L * 1000000000L / kBaudRate;
                    timespec pause{waitNs / 1000000000L, waitNs % 1000000000L};
                    nanosleep(&pause, nullptr);
                    const ssize_t rest = ::read(fd_, buffer_ + got, sizeof buffer_ - static_cast<std::size_t>(got));
                    bufferedEnd_ = static_cast<std::size_t>(got + (rest > 0 ? rest : 0));
                } else {
                    bufferedEnd_ = static_cast<std::size_t>(got);
                }
            } else {
                bufferedEnd_ = static_cast<std::size_t>(got);
            }
            bufferedPos_ = 1;
            byte = buffer_[0];
            if (expected_ > 0)
                --expected_;
            return ReadStatus::Byte;
        }
        if (got < 0 && errno != EAGAIN && errno != EINTR)
            return ReadStatus::Failed;
        const std::int64_t left = deadline - MonotonicNowMs();
        if (left <= 0)
            return ReadStatus::TimedOut;
        pollfd p{fd_, POLLIN, 0};
        const int ready = ::poll(&p, 1, static_cast<int>(left));
        if (ready < 0 && errno != EINTR)
            return ReadStatus::Failed;
        if (ready > 0 && (p.revents & (POLLERR | POLLNVAL)) != 0)
            return ReadStatus::Failed;
        // POLLIN or POLLHUP: the read above tells data from a hang-up.
    }
}

void PosixSerialPort::DiscardInput() {
    bufferedPos_ = bufferedEnd_ = 0;
    Flush();
    if (fd_ >= 0)
        tcflush(fd_, TCIFLUSH);
}

bool PosixSerialPort::WriteByte(std::uint8_t byte) {
    if (fd_ < 0)
        return false;
    if (outCount_ == sizeof outBuffer_)
        Flush();
    outBuffer_[outCount_++] = byte;
    return true;
}

void PosixSerialPort::Flush() {
    if (fd_ < 0 || outCount_ == 0) {
        outCount_ = 0;
        return;
    }
    // Like a write with a time-out: what the driver does not take within
    // the write time-out is lost.
    const std::int64_t deadline = MonotonicNowMs() + kWriteTimeoutMs;
    std::size_t done = 0;
    while (done < outCount_) {
        const ssize_t put = ::write(fd_, outBuffer_ + done, outCount_ - done);
        if (put > 0) {
            done += static_cast<std::size_t>(put);
            continue;
        }
        if (put < 0 && errno != EAGAIN && errno != EINTR)
            break;
        const std::int64_t left = deadline - MonotonicNowMs();
        if (left <= 0)
            break;
        pollfd p{fd_, POLLOUT, 0};
        if (::poll(&p, 1, static_cast<int>(left)) < 0 && errno != EINTR)
            break;
    }
    outCount_ = 0;
}

} // namespace platform::serial
