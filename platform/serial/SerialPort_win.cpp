// The serial port on Windows, as the tool has always used it: the port's own
// device-control record with four fields changed, fixed time-outs, and one
// ReadFile or WriteFile per byte.
#include "platform/serial/SerialPort.h"

#include <windows.h>

namespace platform::serial {

namespace {

// Per byte: a read waits at most 500 + 500 ms for its one byte and returns
// at once once it has it; a write gives up after 50 + 50 ms.
constexpr COMMTIMEOUTS kPortTimeouts{
    500, // ReadIntervalTimeout
    500, // ReadTotalTimeoutMultiplier
    500, // ReadTotalTimeoutConstant
    50,  // WriteTotalTimeoutMultiplier
    50,  // WriteTotalTimeoutConstant
};
static_assert(kPortTimeouts.ReadTotalTimeoutMultiplier + kPortTimeouts.ReadTotalTimeoutConstant == kReadTimeoutMs);
static_assert(kPortTimeouts.WriteTotalTimeoutMultiplier + kPortTimeouts.WriteTotalTimeoutConstant == kWriteTimeoutMs);

// How often a read shorter than the port's time-out looks at the driver's
// queue; well below a byte's time on the line at 19200 baud times a few.
constexpr DWORD kQueuePollMs = 2;

HANDLE AsHandle(void* h) { return static_cast<HANDLE>(h); }

// The four line settings change, and software flow control goes off both
// ways, because the bytes XON (0x11) and XOFF (0x13) are data here. Hardware
// flow control, the DTR and RTS lines and the special characters stay as the
// driver has them.
bool SetLine(HANDLE port) {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!::GetCommState(port, &dcb))
        return false;
    dcb.BaudRate = CBR_19200;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    if (!::SetCommState(port, &dcb))
        return false;
    COMMTIMEOUTS timeouts = kPortTimeouts;
    return ::SetCommTimeouts(port, &timeouts) != 0;
}

// Bytes the driver has received and not yet handed out; -1 when the port
// cannot tell (a failed port).
long QueuedBytes(HANDLE port) {
    DWORD errors = 0;
    COMSTAT status{};
    if (!::ClearCommError(port, &errors, &status))
        return -1;
    return static_cast<long>(status.cbInQue);
}

} // namespace

std::string DevicePathForPortName(const std::string& portName) {
    if (portName == "COM1" || portName == "COM2")
        return portName;
    return {};
}

std::unique_ptr<WindowsSerialPort> WindowsSerialPort::Open(const std::string& portName) {
    HANDLE port = INVALID_HANDLE_VALUE;
    if (!portName.empty()) {
        // No sharing: no other program may use the port during the transfer.
        port = ::CreateFileA(
            portName.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    if (port != INVALID_HANDLE_VALUE && !SetLine(port)) {
        // A port we could not set up would talk at the wrong speed: it
        // counts as one that could not be opened.
        ::CloseHandle(port);
        port = INVALID_HANDLE_VALUE;
    }
    return std::unique_ptr<WindowsSerialPort>(new WindowsSerialPort(port));
}

WindowsSerialPort::~WindowsSerialPort() { Close(); }

bool WindowsSerialPort::IsValid() const { return AsHandle(handle_) != INVALID_HANDLE_VALUE; }

void WindowsSerialPort::Close() {
    if (!IsValid())
        return;
    ::CloseHandle(AsHandle(handle_));
    handle_ = INVALID_HANDLE_VALUE;
}

ReadStatus WindowsSerialPort::ReadByte(std::uint8_t& byte, int timeoutMs) {
    if (!IsValid())
        return ReadStatus::Failed;
    if (timeoutMs < kReadTimeoutMs)
        return ReadQueuedByte(byte, timeoutMs);
    DWORD got = 0;
    if (!::ReadFile(AsHandle(handle_), &byte, 1, &got, nullptr))
        return ReadStatus::Failed;
    return got == 1 ? ReadStatus::Byte : ReadStatus::TimedOut;
}

// A wait shorter than the port's own read time-out: the driver's queue is
// watched until a byte is there (then read with the usual one-byte read,
// which returns at once) or the wait is over. The port's time-outs stay as
// they were set.
ReadStatus WindowsSerialPort::ReadQueuedByte(std::uint8_t& byte, int timeoutMs) {
    const ULONGLONG deadline = ::GetTickCount64() + static_cast<ULONGLONG>(timeoutMs > 0 ? timeoutMs : 0);
    for (;;) {
        const long queued = QueuedBytes(AsHandle(handle_));
        if (queued < 0)
            return ReadStatus::Failed;
        if (queued > 0) {
            DWORD got = 0;
            if (!::ReadFile(AsHandle(handle_), &byte, 1, &got, nullptr))
                return ReadStatus::Failed;
            return got == 1 ? ReadStatus::Byte : ReadStatus::TimedOut;
        }
        if (::GetTickCount64() >= deadline)
            return ReadStatus::TimedOut;
        ::Sleep(kQueuePollMs);
    }
}

bool WindowsSerialPort::WriteByte(std::uint8_t byte) {
    if (!IsValid())
        return false;
    DWORD put = 0;
    return ::WriteFile(AsHandle(handle_), &byte, 1, &put, nullptr) && put == 1;
}

void WindowsSerialPort::DiscardInput() {
    if (IsValid())
        ::PurgeComm(AsHandle(handle_), PURGE_RXCLEAR);
}

} // namespace platform::serial
