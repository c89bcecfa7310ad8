// The program as its callers see it: arguments, exact console output, exit
// codes, the data file's errors, and the serial port layer on a pty.
#include <gtest/gtest.h>

#include <cerrno>
#include <sys/file.h>
#include <sys/stat.h>

#include "PeerSim.h"
#include "TestSupport.h"
#include "platform/serial/SerialPort.h"
#include "serialxfer/DataFile.h"
#include "serialxfer/Veltrix.h"

using namespace tests::serialxfer;
using tests::serialxfer::Bytes;

namespace {

// Written out here again on purpose, byte by byte as the caller sees it.
const std::string kUsage = " VELTRIX I/O jmeno_souboru [/1] [/2] [/?] \r\n"
                           "      I .... do PC                   \r\n"
                           "      O .... z PC                    \r\n"
                           "     /1 .... komunikace pres COM1    \r\n"
                           "     /2 .... komunikace pres COM2    \r\n"
                           "     /? .... Tato napoveda           \r\n"
                           "\r\n";
const std::string kMissing = "\r\n Ocekavam zadani s nasledujicimi parametry: \r\n";
const std::string kWrong = "\r\n Byl zadan chybny parametr! \r\n";

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t at = 0;
    for (std::size_t end; (end = text.find("\r\n", at)) != std::string::npos; at = end + 2)
        lines.push_back(text.substr(at, end - at));
    return lines;
}

struct RunResult {
    int code;
    std::string output;
};

RunResult RunVeltrix(const std::vector<std::string>& args, const std::map<std::string, std::string>& env = {},
    const std::string& dir = {}, std::int64_t timeoutMs = 10000) {
    std::vector<std::string> argv{VeltrixPath()};
    argv.insert(argv.end(), args.begin(), args.end());
    Process p(argv, env, dir);
    const int code = p.Wait(timeoutMs);
    return {code, p.Output()};
}

} // namespace

// ---------------------------------------------------------------- texts

TEST(UsageText, LinesHaveTheirLengthsAndEnds) {
    EXPECT_EQ(std::string(serialxfer::kUsageText), kUsage);
    const auto lines = Lines(kUsage);
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(lines[0].size(), 42u);
    for (int i = 1; i <= 5; ++i)
        EXPECT_EQ(lines[i].size(), 37u) << i;
    EXPECT_TRUE(lines[6].empty());
    EXPECT_EQ(std::string(serialxfer::kMissingParametersMessage).size(), 44u);
    EXPECT_EQ(std::string(serialxfer::kWrongParameterMessage).size(), 28u);
}

// ---------------------------------------------------------------- arguments

TEST(CommandLine, RejectedArgumentsPrintMessageAndUsage) {
    const struct {
        std::vector<std::string> args;
        std::string message;
    } cases[] = {
        {{}, kMissing},
        {{"I"}, kMissing},
        {{"I", "file"}, kMissing},
        {{"/?"}, kMissing},
        {{"X", "file", "/1"}, kWrong},
        {{"IN", "file", "/1"}, kWrong},
        {{"In", "file", "/1"}, kWrong},
        {{"/?", "file", "/1"}, kWrong},
        {{"", "file", "/1"}, kWrong},
        {{"I", "file", "/3"}, kWrong},
        {{"I", "file", "1"}, kWrong},
        {{"I", "file", "/01"}, kWrong},
        {{"o", "file", "-1"}, kWrong},
        {{"O", "file", "/1 "}, kWrong},
        {{"O", "file", "/?"}, kWrong},
        {{"X", "file", "/9"}, kWrong},
    };
    TempDir dir;
    for (const auto& c : cases) {
        std::string shown;
        for (const auto& a : c.args)
            shown += "[" + a + "]";
        SCOPED_TRACE(shown);
        const RunResult run = RunVeltrix(c.args, {}, dir.path().string());
        EXPECT_EQ(run.code, 1);
        EXPECT_EQ(run.output, c.message + kUsage);
        // No file was touched.
        EXPECT_TRUE(fs::is_empty(dir.path()));
    }
}

TEST(CommandLine, PortDescriptionAndDirection) {
    const struct {
        std::vector<std::string> args;
        serialxfer::Direction direction;
        std::string description;
    } cases[] = {
        {{"I", "a.bin", "/1"}, serialxfer::Direction::Receive, "COM1:19200,n,8,1"},
        {{"i", "a.bin", "/2"}, serialxfer::Direction::Receive, "COM2:19200,n,8,1"},
        {{"O", "a.bin", "/2"}, serialxfer::Direction::Send, "COM2:19200,n,8,1"},
        {{"o", "a.bin", "/1", "extra", "/2"}, serialxfer::Direction::Send, "COM1:19200,n,8,1"},
    };
    for (const auto& c : cases) {
        const auto parsed = serialxfer::ParseCommandLine(c.args);
        EXPECT_TRUE(parsed.valid);
        EXPECT_EQ(parsed.direction, c.direction);
        EXPECT_EQ(parsed.portDescription, c.description);
        EXPECT_EQ(parsed.fileName, "a.bin");
    }
}

TEST(CommandLine, DevicePathsAndOverrides) {
    unsetenv("VELTRIX_COM1");
    unsetenv("VELTRIX_COM2");
    EXPECT_EQ(platform::serial::DevicePathForPortName("COM1"), "/dev/ttyS0");
    EXPECT_EQ(platform::serial::DevicePathForPortName("COM2"), "/dev/ttyS1");
    EXPECT_EQ(platform::serial::DevicePathForPortName("COM3"), "");
    EXPECT_EQ(platform::serial::DevicePathForPortName("com1"), "");
    setenv("VELTRIX_COM1", "/dev/pts/77", 1);
    setenv("VELTRIX_COM2", "", 1);
    EXPECT_EQ(platform::serial::DevicePathForPortName("COM1"), "/dev/pts/77");
    EXPECT_EQ(platform::serial::DevicePathForPortName("COM2"), "/dev/ttyS1");
    unsetenv("VELTRIX_COM1");
    unsetenv("VELTRIX_COM2");
}

// ---------------------------------------------------------------- data file

TEST(DataFile, ErrorTextsAndReport) {
    const struct {
        int code;
        const char* text;
    } cases[] = {
        {ENOENT, "File not found"},
        {ENAMETOOLONG, "Invalid filename"},
        {EMFILE, "Too many open files"},
        {EACCES, "File access denied"},
        {EROFS, "File access denied"},
        {ENOSPC, "Disk full"},
        {EIO, "I/O error 5"},
        {EXDEV, "I/O error 18"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(serialxfer::FileErrorText(c.code), c.text) << c.code;
    const serialxfer::FileError error("ReceiveFile", "creating the file", ENOSPC);
    const auto lines = Lines(serialxfer::FileErrorReport(error));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[0].find("ReceiveFile"), std::string::npos);
    EXPECT_NE(lines[0].find("error"), std::string::npos);
    EXPECT_EQ(lines[1], "Disk full.");
}

TEST(DataFile, OpeningFailures) {
    TempDir dir;
    WriteFile(dir / "ro.bin", Bytes{1, 2, 3});
    chmod((dir / "ro.bin").c_str(), 0444);
    const struct {
        const char* name;
        std::function<void()> action;
        int code;
    } cases[] = {
        {"create in missing folder", [&] { serialxfer::OutputFile f(dir / "no/such.bin", "ReceiveFile"); }, ENOENT},
        {"create over a folder", [&] { serialxfer::OutputFile f(dir.path().string(), "ReceiveFile"); }, EISDIR},
        {"open missing", [&] { serialxfer::InputFile f(dir / "missing.bin", "SendFile"); }, ENOENT},
        {"open read-only", [&] { serialxfer::InputFile f(dir / "ro.bin", "SendFile"); }, EACCES},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        try {
            c.action();
            ADD_FAILURE() << "no error";
        } catch (const serialxfer::FileError& e) {
            EXPECT_EQ(e.Code(), c.code);
        }
    }
    EXPECT_TRUE(serialxfer::FileExists(dir / "ro.bin"));
    EXPECT_FALSE(serialxfer::FileExists(dir.path().string()));
    EXPECT_FALSE(serialxfer::FileExists(dir / "missing.bin"));
}

TEST(DataFile, InputReadsInBlocksAndKnowsItsEnd) {
    TempDir dir;
    for (std::size_t size : {0u, 1u, 128u, 5000u}) {
        Bytes data(size);
        for (std::size_t i = 0; i < size; ++i)
            data[i] = static_cast<std::uint8_t>(i * 7);
        WriteFile(dir / "in.bin", data);
        serialxfer::InputFile in(dir / "in.bin", "SendFile");
        Bytes got;
        std::uint8_t block[128];
        while (!in.AtEnd()) {
            const std::size_t n = in.Read(block, sizeof block);
            ASSERT_GT(n, 0u);
            got.insert(got.end(), block, block + n);
        }
        EXPECT_EQ(got, data);
        EXPECT_EQ(in.Read(block, sizeof block), 0u);
    }
}

// ---------------------------------------------------------------- port

TEST(SerialPort, OpensPtyRawExclusiveAndTimesOut) {
    PtyLine line;
    {
        // The driver's settings as some other program left them: software
        // flow control both ways, which would swallow the data bytes 0x11
        // and 0x13.
        const int fd = open(line.Device().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        ASSERT_GE(fd, 0);
        termios tio{};
        ASSERT_EQ(tcgetattr(fd, &tio), 0);
        tio.c_iflag |= IXON | IXOFF | IXANY;
        tio.c_cflag &= ~static_cast<tcflag_t>(CLOCAL);
        ASSERT_EQ(tcsetattr(fd, TCSANOW, &tio), 0);
        close(fd);
    }
    auto port = platform::serial::PosixSerialPort::Open(line.Device());
    ASSERT_TRUE(port->IsValid());
    // Exclusive: a second opener gets an invalid port.
    auto second = platform::serial::PosixSerialPort::Open(line.Device());
    EXPECT_FALSE(second->IsValid());
    std::uint8_t byte = 0;
    EXPECT_EQ(second->ReadByte(byte, 1000), platform::serial::ReadStatus::Failed);

    // Raw both ways: CR, LF, XON, XOFF, Ctrl-C and 0xFF pass unchanged.
    const Bytes special{'\r', '\n', 0x11, 0x13, 0x03, 0xFF, 0x00, 0x7F};
    line.Write(special);
    Bytes got;
    while (got.size() < special.size() && port->ReadByte(byte, 1000) == platform::serial::ReadStatus::Byte)
        got.push_back(byte);
    EXPECT_EQ(got, special);
    for (std::uint8_t b : special)
        port->WriteByte(b);
    port->Flush();
    EXPECT_EQ(line.Drain(500), special);

    // No byte: the read returns after its time-out.
    const std::int64_t start = NowMs();
    EXPECT_EQ(port->ReadByte(byte, 300), platform::serial::ReadStatus::TimedOut);
    const std::int64_t waited = NowMs() - start;
    EXPECT_GE(waited, 280);
    EXPECT_LT(waited, 1000);

    termios tio{};
    int fd = open(line.Device().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    // (root may open despite TIOCEXCL; then the settings can be checked)
    if (fd >= 0) {
        ASSERT_EQ(tcgetattr(fd, &tio), 0);
        EXPECT_EQ(cfgetospeed(&tio), B19200);
        EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
        EXPECT_EQ(tio.c_cflag & (PARENB | CSTOPB), 0u);
        EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG), 0u);
        EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | IXANY | ICRNL), 0u);
        EXPECT_EQ(tio.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
        close(fd);
    }
    // Closed, it can be opened again.
    port->Close();
    EXPECT_TRUE(platform::serial::PosixSerialPort::Open(line.Device())->IsValid());
}

TEST(SerialPort, MissingDeviceAndNonTerminalAreInvalid) {
    TempDir dir;
    WriteFile(dir / "plain", Bytes{1});
    for (const std::string& path : {std::string("/nonexistent/tty"), dir / "plain", std::string()}) {
        auto port = platform::serial::PosixSerialPort::Open(path);
        EXPECT_FALSE(port->IsValid()) << path;
        std::uint8_t byte;
        EXPECT_EQ(port->ReadByte(byte, 1000), platform::serial::ReadStatus::Failed);
        EXPECT_FALSE(port->WriteByte(1));
    }
}

TEST(SerialPort, LockedByAnotherProgramIsInvalid) {
    PtyLine line;
    const int other = open(line.Device().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(other, 0);
    ASSERT_EQ(flock(other, LOCK_EX | LOCK_NB), 0);
    EXPECT_FALSE(platform::serial::PosixSerialPort::Open(line.Device())->IsValid());
    close(other);
    EXPECT_TRUE(platform::serial::PosixSerialPort::Open(line.Device())->IsValid());
}

// ---------------------------------------------------------------- program

TEST(Program, SendOfMissingFileEndsWith254AfterOpeningThePort) {
    TempDir dir;
    fs::create_directory(dir / "folder");
    for (const std::string name : {"missing.bin", "folder"}) {
        SCOPED_TRACE(name);
        PtyLine line;
        const RunResult run = RunVeltrix({"O", name, "/1"}, {{"VELTRIX_COM1", line.Device()}}, dir.path().string());
        EXPECT_EQ(run.code, 254);
        EXPECT_EQ(run.output, "");
        EXPECT_TRUE(line.Drain(100).empty());
        // The port was closed again: it can be opened.
        EXPECT_TRUE(platform::serial::PosixSerialPort::Open(line.Device())->IsValid());
    }
}

TEST(Program, FileErrorsPrintTheReportBeforeAnyByteIsSent) {
    TempDir dir;
    WriteFile(dir / "ro.bin", Bytes(300, 'r'));
    chmod((dir / "ro.bin").c_str(), 0444);
    const struct {
        std::vector<std::string> args;
        std::string where;
        std::string text;
    } cases[] = {
        {{"O", "ro.bin", "/1"}, "SendFile", "File access denied."},
        {{"I", "no/such/dir/x.bin", "/1"}, "ReceiveFile", "File not found."},
        {{"i", ".", "/1"}, "ReceiveFile", "File access denied."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[1]);
        PtyLine line;
        // A 'C' waits on the line, so a sender that went on would send.
        line.Write(Bytes{'C'});
        const RunResult run = RunVeltrix(c.args, {{"VELTRIX_COM1", line.Device()}}, dir.path().string());
        EXPECT_EQ(run.code, 1);
        const auto lines = Lines(run.output);
        ASSERT_EQ(lines.size(), 2u) << run.output;
        EXPECT_NE(lines[0].find(c.where), std::string::npos) << lines[0];
        EXPECT_EQ(lines[1], c.text);
        EXPECT_EQ(run.output.substr(run.output.size() - 2), "\r\n");
        EXPECT_TRUE(line.Drain(100).empty());
    }
    EXPECT_EQ(ReadFile(dir / "ro.bin"), Bytes(300, 'r'));
}

// A line that brings one EOT and nothing more: the receiver asks for it
// again with 'C', acknowledges it when no second one comes, and gives a
// sender that never heard a start request one more 'C'.
const Bytes kLoneEotAnswers{'C', 'C', serialxfer::kAck, 'C'};

TEST(Program, ReceiveTruncatesAnExistingFile) {
    TempDir dir;
    WriteFile(dir / "old.bin", Bytes(1000, 'o'));
    PtyLine line;
    line.Write(Bytes{serialxfer::kEot});
    const RunResult run = RunVeltrix({"I", "old.bin", "/1"}, {{"VELTRIX_COM1", line.Device()}}, dir.path().string());
    EXPECT_EQ(run.code, 0);
    EXPECT_EQ(run.output, "");
    EXPECT_TRUE(fs::exists(dir / "old.bin"));
    EXPECT_EQ(fs::file_size(dir / "old.bin"), 0u);
    EXPECT_EQ(line.Drain(200), kLoneEotAnswers);
}

TEST(Program, PortSwitchChoosesTheDevice) {
    const struct {
        std::vector<std::string> args;
        const char* variable;
    } cases[] = {
        {{"i", "r.bin", "/2"}, "VELTRIX_COM2"},
        {{"I", "r.bin", "/1", "ignored", "/2"}, "VELTRIX_COM1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.variable);
        TempDir dir;
        PtyLine line;
        line.Write(Bytes{serialxfer::kEot});
        // The other port's variable still names a missing device.
        const RunResult run = RunVeltrix(c.args, {{c.variable, line.Device()}}, dir.path().string());
        EXPECT_EQ(run.code, 0);
        EXPECT_EQ(line.Drain(200), kLoneEotAnswers);
    }
}
