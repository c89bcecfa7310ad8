#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace platform::serial {

enum class ReadStatus {
    Byte,     // a byte arrived
    TimedOut, // the port's read time-out passed without a byte
    Failed,   // the read failed at once (invalid handle, device gone)
};

// One end of the serial line as the transfer sees it: one byte in, one byte
// out. The protocol runs over this interface only, so tests and fuzz targets
// can put a simulated line in place of a device.
class BytePort {
public:
    virtual ~BytePort() = default;
    // Waits at most timeoutMs (the port's read time-out is kReadTimeoutMs)
    // for one byte.
    virtual ReadStatus ReadByte(std::uint8_t& byte, int timeoutMs) = 0;
    // Queues one byte for sending; never waits for it to leave the line.
    // Returns false when the byte was lost (the caller may ignore it).
    virtual bool WriteByte(std::uint8_t byte) = 0;
    // Hands queued bytes to the driver now (a read does so by itself). Only
    // the hand-over: it does not wait for the bytes to leave the line.
    virtual void Flush() {}
    // Drops the bytes that have arrived but were not read yet.
    virtual void DiscardInput() = 0;
    // A hint: about count bytes follow back to back (the rest of a frame).
    // A port may then let them gather before it wakes the reader, instead
    // of waking once per byte; each byte's own time-out still holds.
    virtual void ExpectBytes(int count) { (void)count; }
};

// Line settings the tool always uses.
inline constexpr int kBaudRate = 19200;
// Longest wait of one read attempt and of one write.
inline constexpr int kReadTimeoutMs = 1000;
inline constexpr int kWriteTimeoutMs = 100;

// Device path for a port name: "COM1" and "COM2" are /dev/ttyS0 and
// /dev/ttyS1 unless the environment variable VELTRIX_COM1 / VELTRIX_COM2
// names another device (a USB adapter, a pty). On Windows the port name is
// the device's own name. Any other name maps to "".
std::string DevicePathForPortName(const std::string& portName);

#ifdef _WIN32

// A Windows communications device ("COM1", "COM2") held for exclusive use:
// its device-control record is read and written back with only the baud
// rate (19200), data bits (8), parity (none), stop bits (one) and software
// flow control (off, fOutX and fInX) changed, and its time-outs are set so that a one-byte read returns after at most
// 1000 ms and a one-byte write after at most 100 ms. Every byte goes through
// its own ReadFile or WriteFile. When the device cannot be opened or set up
// the object is still returned but invalid: every read and write on it
// fails at once.
class WindowsSerialPort final : public BytePort {
public:
    static std::unique_ptr<WindowsSerialPort> Open(const std::string& portName);
    ~WindowsSerialPort() override;
    WindowsSerialPort(const WindowsSerialPort&) = delete;
    WindowsSerialPort& operator=(const WindowsSerialPort&) = delete;

    bool IsValid() const;
    ReadStatus ReadByte(std::uint8_t& byte, int timeoutMs) override;
    bool WriteByte(std::uint8_t byte) override;
    void DiscardInput() override;
    void Close();
    // The device's HANDLE, for tests that read its settings back.
    void* NativeHandle() const { return handle_; }

private:
    explicit WindowsSerialPort(void* handle) : handle_(handle) {}
    ReadStatus ReadQueuedByte(std::uint8_t& byte, int timeoutMs);
    void* handle_; // the device's HANDLE, INVALID_HANDLE_VALUE when not open
};

using SystemSerialPort = WindowsSerialPort;

#else

// A POSIX terminal device set to 19200 baud, 8 data bits, no parity, one
// stop bit, raw mode, software flow control off (IXON, IXOFF, IXANY), the
// receiver on and the modem status lines ignored (CREAD, CLOCAL), every other
// setting (hardware flow control among them) left as the driver has it, and
// held for exclusive use. When the device cannot be opened or set up the object is
// still returned but invalid: every read and write on it fails at once.
class PosixSerialPort final : public BytePort {
public:
    static std::unique_ptr<PosixSerialPort> Open(const std::string& devicePath);
    ~PosixSerialPort() override;
    PosixSerialPort(const PosixSerialPort&) = delete;
    PosixSerialPort& operator=(const PosixSerialPort&) = delete;

    bool IsValid() const { return fd_ >= 0; }
    ReadStatus ReadByte(std::uint8_t& byte, int timeoutMs) override;
    bool WriteByte(std::uint8_t byte) override;
    void DiscardInput() override;
    void ExpectBytes(int count) override { expected_ = count; }
    void Flush() override;
    void Close();

private:
    explicit PosixSerialPort(int fd) : fd_(fd) {}
    int fd_;
    // Bytes the driver already had when we last read; handed out one by one.
    std::uint8_t buffer_[256]{};
    std::size_t bufferedPos_ = 0;
    std::size_t bufferedEnd_ = 0;
    int expected_ = 0;
    // Bytes written but not yet handed to the driver: a frame goes to the
    // driver in one call, so the line never idles in the middle of it while
    // this process waits for the processor.
    std::uint8_t outBuffer_[256]{};
    std::size_t outCount_ = 0;
};

using SystemSerialPort = PosixSerialPort;

#endif

} // namespace platform::serial
