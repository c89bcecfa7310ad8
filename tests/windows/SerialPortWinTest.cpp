// The Windows serial port and clock, on COM1 and COM2 joined by a null
// modem: the null-modem script links both to the two ends of one pty pair
// before this program runs, so whatever goes out of one port comes in at
// the other.
#include "WindowsHelpers.h"

#include "platform/serial/Clock.h"
#include "platform/serial/SerialPort.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <memory>
#include <vector>

namespace {

using platform::serial::ReadStatus;
using platform::serial::WindowsSerialPort;
using Bytes = std::vector<std::uint8_t>;

HANDLE Handle(const WindowsSerialPort& port) { return static_cast<HANDLE>(port.NativeHandle()); }

// Reads what arrives until the line stays quiet for a read time-out.
Bytes ReadAll(WindowsSerialPort& port, std::size_t atMost) {
    Bytes got;
    std::uint8_t byte = 0;
    while (got.size() < atMost && port.ReadByte(byte, platform::serial::kReadTimeoutMs) == ReadStatus::Byte)
        got.push_back(byte);
    return got;
}

class RawPort {
public:
    explicit RawPort(const char* name)
        : h_(::CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr)) {}
    ~RawPort() {
        if (h_ != INVALID_HANDLE_VALUE)
            ::CloseHandle(h_);
    }
    RawPort(const RawPort&) = delete;
    RawPort& operator=(const RawPort&) = delete;
    HANDLE get() const { return h_; }

private:
    HANDLE h_;
};

TEST(WindowsSerialPort, SetsTheLineAndSoftwareFlowControlAndKeepsTheRest) {
    DCB before{};
    {
        // The driver's settings as some other program left them.
        RawPort raw("COM1");
        ASSERT_NE(raw.get(), INVALID_HANDLE_VALUE) << ::GetLastError();
        before.DCBlength = sizeof before;
        ASSERT_TRUE(::GetCommState(raw.get(), &before));
        before.BaudRate = CBR_9600;
        before.ByteSize = 7;
        before.Parity = EVENPARITY;
        before.StopBits = TWOSTOPBITS;
        before.fRtsControl = RTS_CONTROL_DISABLE;
        before.fDtrControl = DTR_CONTROL_DISABLE;
        before.fOutX = TRUE;
        before.fInX = TRUE;
        ASSERT_TRUE(::SetCommState(raw.get(), &before));
        ASSERT_TRUE(::GetCommState(raw.get(), &before));
        ASSERT_EQ(before.BaudRate, static_cast<DWORD>(CBR_9600));
        ASSERT_TRUE(before.fOutX && before.fInX);
    }
    auto port = WindowsSerialPort::Open("COM1");
    ASSERT_TRUE(port->IsValid());

    DCB after{};
    after.DCBlength = sizeof after;
    ASSERT_TRUE(::GetCommState(Handle(*port), &after));
    EXPECT_EQ(after.BaudRate, static_cast<DWORD>(CBR_19200));
    EXPECT_EQ(after.ByteSize, 8);
    EXPECT_EQ(after.Parity, NOPARITY);
    EXPECT_EQ(after.StopBits, ONESTOPBIT);
    // XON and XOFF are data bytes of a frame: no software flow control.
    EXPECT_FALSE(after.fOutX);
    EXPECT_FALSE(after.fInX);
    // Everything else as it was.
    EXPECT_EQ(after.fBinary, before.fBinary);
    EXPECT_EQ(after.fParity, before.fParity);
    EXPECT_EQ(after.fOutxCtsFlow, before.fOutxCtsFlow);
    EXPECT_EQ(after.fOutxDsrFlow, before.fOutxDsrFlow);
    EXPECT_EQ(after.fDtrControl, before.fDtrControl);
    EXPECT_EQ(after.fRtsControl, before.fRtsControl);
    EXPECT_EQ(after.XonChar, before.XonChar);
    EXPECT_EQ(after.XoffChar, before.XoffChar);
    EXPECT_EQ(after.EofChar, before.EofChar);

    COMMTIMEOUTS t{};
    ASSERT_TRUE(::GetCommTimeouts(Handle(*port), &t));
    EXPECT_EQ(t.ReadIntervalTimeout, 500u);
    EXPECT_EQ(t.ReadTotalTimeoutMultiplier, 500u);
    EXPECT_EQ(t.ReadTotalTimeoutConstant, 500u);
    EXPECT_EQ(t.WriteTotalTimeoutMultiplier, 50u);
    EXPECT_EQ(t.WriteTotalTimeoutConstant, 50u);
}

TEST(WindowsSerialPort, IsHeldExclusivelyUntilClosed) {
    auto port = WindowsSerialPort::Open("COM1");
    ASSERT_TRUE(port->IsValid());
    // wine lets a second program open a port that is held without sharing
    // (WineQuirk.PortOpenedWithoutSharingOpensAgain); Windows refuses it.
    if (!wintest::RunningUnderWine()) {
        auto second = WindowsSerialPort::Open("COM1");
        EXPECT_FALSE(second->IsValid());
        std::uint8_t byte = 0;
        EXPECT_EQ(second->ReadByte(byte, platform::serial::kReadTimeoutMs), ReadStatus::Failed);
    }
    port->Close();
    EXPECT_TRUE(WindowsSerialPort::Open("COM1")->IsValid());
}

// Windows gives ERROR_ACCESS_DENIED to any open of a communications device
// that another handle holds without sharing; wine opens it a second time.
// When this test fails, wine has learnt it: the check above can go back in.
TEST(WineQuirk, PortOpenedWithoutSharingOpensAgain) {
    if (!wintest::RunningUnderWine())
        GTEST_SKIP() << "only wine does this";
    RawPort first("COM1");
    ASSERT_NE(first.get(), INVALID_HANDLE_VALUE) << ::GetLastError();
    RawPort second("COM1");
    EXPECT_NE(second.get(), INVALID_HANDLE_VALUE);
    // Files, unlike ports, are held exclusively by wine too.
    const std::wstring file = std::wstring(L"exclusive-") + std::to_wstring(::GetCurrentProcessId()) + L".tmp";
    wintest::Handle one(::CreateFileW(
        file.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_FLAG_DELETE_ON_CLOSE, nullptr));
    ASSERT_NE(one.h, INVALID_HANDLE_VALUE);
    wintest::Handle two(::CreateFileW(file.c_str(), GENERIC_READ,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_EQ(two.h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
}

TEST(WindowsSerialPort, EveryByteValuePassesBothWays) {
    auto one = WindowsSerialPort::Open("COM1");
    auto two = WindowsSerialPort::Open("COM2");
    ASSERT_TRUE(one->IsValid());
    ASSERT_TRUE(two->IsValid());
    Bytes all;
    for (int v = 0; v < 256; ++v)
        all.push_back(static_cast<std::uint8_t>(v));
    for (std::uint8_t b : all)
        ASSERT_TRUE(one->WriteByte(b));
    EXPECT_EQ(ReadAll(*two, all.size()), all);
    for (auto it = all.rbegin(); it != all.rend(); ++it)
        ASSERT_TRUE(two->WriteByte(*it));
    EXPECT_EQ(ReadAll(*one, all.size()), Bytes(all.rbegin(), all.rend()));
}

TEST(WindowsSerialPort, ReadsTimeOutAfterTheirWait) {
    auto one = WindowsSerialPort::Open("COM1");
    ASSERT_TRUE(one->IsValid());
    platform::serial::MonotonicClock clock;
    std::uint8_t byte = 0;
    // The port's own time-out: 500 + 500 ms for one byte.
    std::int64_t start = clock.NowMs();
    EXPECT_EQ(one->ReadByte(byte, platform::serial::kReadTimeoutMs), ReadStatus::TimedOut);
    std::int64_t waited = clock.NowMs() - start;
    EXPECT_GE(waited, 900);
    EXPECT_LT(waited, 2000);
    // A shorter wait ends on time without touching the port's time-outs.
    start = clock.NowMs();
    EXPECT_EQ(one->ReadByte(byte, 150), ReadStatus::TimedOut);
    waited = clock.NowMs() - start;
    EXPECT_GE(waited, 140);
    EXPECT_LT(waited, 800);
    COMMTIMEOUTS t{};
    ASSERT_TRUE(::GetCommTimeouts(Handle(*one), &t));
    EXPECT_EQ(t.ReadTotalTimeoutConstant, 500u);
}

TEST(WindowsSerialPort, ShortWaitReturnsAByteThatArrives) {
    auto one = WindowsSerialPort::Open("COM1");
    auto two = WindowsSerialPort::Open("COM2");
    ASSERT_TRUE(one->IsValid() && two->IsValid());
    ASSERT_TRUE(one->WriteByte(0x5A));
    std::uint8_t byte = 0;
    ReadStatus status = ReadStatus::TimedOut;
    for (int i = 0; i < 20 && status == ReadStatus::TimedOut; ++i)
        status = two->ReadByte(byte, 50);
    EXPECT_EQ(status, ReadStatus::Byte);
    EXPECT_EQ(byte, 0x5A);
}

TEST(WindowsSerialPort, DiscardInputDropsWhatArrived) {
    auto one = WindowsSerialPort::Open("COM1");
    auto two = WindowsSerialPort::Open("COM2");
    ASSERT_TRUE(one->IsValid() && two->IsValid());
    for (std::uint8_t b : {1, 2, 3, 4})
        ASSERT_TRUE(one->WriteByte(b));
    ::Sleep(200);
    two->DiscardInput();
    std::uint8_t byte = 0;
    EXPECT_EQ(two->ReadByte(byte, 300), ReadStatus::TimedOut);
    ASSERT_TRUE(one->WriteByte(9));
    EXPECT_EQ(two->ReadByte(byte, platform::serial::kReadTimeoutMs), ReadStatus::Byte);
    EXPECT_EQ(byte, 9);
}

TEST(WindowsSerialPort, PortsThatCannotBeOpenedFailAtOnce) {
    // COM3 is not linked in the test prefix; "" and other names are no port.
    EXPECT_EQ(platform::serial::DevicePathForPortName("COM1"), "COM1");
    EXPECT_EQ(platform::serial::DevicePathForPortName("COM2"), "COM2");
    EXPECT_EQ(platform::serial::DevicePathForPortName("COM3"), "");
    EXPECT_EQ(platform::serial::DevicePathForPortName("com1"), "");
    for (const char* name : {"COM3", ""}) {
        auto port = WindowsSerialPort::Open(name);
        EXPECT_FALSE(port->IsValid()) << name;
        std::uint8_t byte = 0;
        platform::serial::MonotonicClock clock;
        const std::int64_t start = clock.NowMs();
        EXPECT_EQ(port->ReadByte(byte, platform::serial::kReadTimeoutMs), ReadStatus::Failed);
        EXPECT_EQ(port->ReadByte(byte, 10), ReadStatus::Failed);
        EXPECT_LT(clock.NowMs() - start, 200);
        EXPECT_FALSE(port->WriteByte(1));
        port->DiscardInput();
    }
}

TEST(MonotonicClock, SleepsAtLeastWhatIsAskedAndNeverGoesBack) {
    platform::serial::MonotonicClock clock;
    std::int64_t last = clock.NowMs();
    for (int ms : {1, 5, 16, 30, 30, 45}) {
        const std::int64_t start = clock.NowMs();
        clock.SleepMs(ms);
        const std::int64_t now = clock.NowMs();
        EXPECT_GE(now - start, ms);
        EXPECT_LT(now - start, ms + 200);
        EXPECT_GE(now, last);
        last = now;
    }
    const std::int64_t start = clock.NowMs();
    clock.SleepMs(0);
    clock.SleepMs(-5);
    EXPECT_LT(clock.NowMs() - start, 50);
}

} // namespace
