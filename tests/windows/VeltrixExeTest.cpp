// VELTRIX.exe as a Windows caller sees it: a command line split by the
// Windows rules, the exact bytes on standard output and the whole 32-bit
// exit code. Runs with COM1 and COM2 joined by a null modem
// (null-modem-run); the peer of a transfer is this program on COM2.
#include "ScratchDir.h"
#include "WindowsHelpers.h"

#include "platform/serial/SerialPort.h"
#include "serialxfer/Protocol.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <string>
#include <vector>

namespace {

using wintest::RunProgram;

const std::string kUsage = " VELTRIX I/O jmeno_souboru [/1] [/2] [/?] \r\n"
                           "      I .... do PC                   \r\n"
                           "      O .... z PC                    \r\n"
                           "     /1 .... komunikace pres COM1    \r\n"
                           "     /2 .... komunikace pres COM2    \r\n"
                           "     /? .... Tato napoveda           \r\n"
                           "\r\n";
const std::string kMissing = "\r\n Ocekavam zadani s nasledujicimi parametry: \r\n" + kUsage;
const std::string kWrong = "\r\n Byl zadan chybny parametr! \r\n" + kUsage;

std::wstring Veltrix() { return wintest::BesideThisProgram(VELTRIX_EXE_RELATIVE); }

struct ArgumentCase {
    const char* arguments; // the command line after the program's name
    const std::string* output;
};

TEST(VeltrixExe, RejectedCommandLinesPrintTheUsageAndEndWith1) {
    const ArgumentCase cases[] = {
        {"", &kMissing},
        {"I", &kMissing},
        {"I file.bin", &kMissing},
        {"/?", &kMissing},
        {"\"I file.bin /1\"", &kMissing}, // one quoted argument
        {"X file.bin /1", &kWrong},
        {"IN file.bin /1", &kWrong},
        {"/? file.bin /1", &kWrong},
        {"I file.bin /3", &kWrong},
        {"I file.bin 1", &kWrong},
        {"I file.bin /01", &kWrong},
        {"I file.bin \"/1 \"", &kWrong},
        {"i file.bin -1", &kWrong},
    };
    crosstest::ScratchDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments);
        const auto run = RunProgram(Veltrix(), c.arguments, dir.path().wstring());
        ASSERT_TRUE(run.started);
        EXPECT_EQ(run.exitCode, 1u);
        EXPECT_EQ(run.output, *c.output);
    }
    // Nothing was created on the way.
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

TEST(VeltrixExe, SendOfNoFileEndsWithMinus2AndPrintsNothing) {
    crosstest::ScratchDir dir;
    std::filesystem::create_directory(dir.path() / "folder");
    // Quotes group a name with a blank; a fourth argument changes nothing;
    // a directory is no file.
    for (const char* arguments : {"O \"no such file.bin\" /1", "o missing.bin /2 extra words", "O folder /1"}) {
        SCOPED_TRACE(arguments);
        const auto run = RunProgram(Veltrix(), arguments, dir.path().wstring());
        ASSERT_TRUE(run.started);
        EXPECT_EQ(run.exitCode, 0xFFFFFFFEu); // -2 in all 32 bits
        EXPECT_EQ(run.output, "");
    }
}

TEST(VeltrixExe, DataFileErrorsPrintTheReportAndEndWith1) {
    crosstest::ScratchDir dir;
    const std::wstring readOnly = (dir.path() / "ro.bin").wstring();
    crosstest::WriteBytes(dir.file("ro.bin"), std::string(300, 'r'));
    ASSERT_TRUE(::SetFileAttributesW(readOnly.c_str(), FILE_ATTRIBUTE_READONLY));
    const struct {
        const char* arguments;
        std::string where;
        std::string text;
    } cases[] = {
        {"O ro.bin /1", "SendFile", "File access denied."},
        {"I \"missing dir\\out.bin\" /2", "ReceiveFile", "File not found."},
        // An empty quoted argument is an argument: a file without a name.
        {"I \"\" /1", "ReceiveFile", "File not found."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments);
        const auto run = RunProgram(Veltrix(), c.arguments, dir.path().wstring());
        ASSERT_TRUE(run.started);
        EXPECT_EQ(run.exitCode, 1u);
        const auto lines = wintest::CrLfLines(run.output);
        ASSERT_EQ(lines.size(), 2u) << run.output;
        EXPECT_NE(lines[0].find(c.where), std::string::npos) << lines[0];
        EXPECT_EQ(lines[1], c.text);
    }
    ::SetFileAttributesW(readOnly.c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST(VeltrixExe, SendWhoseFramesAreAllRefusedEndsWithMinus1) {
    using Frame = std::vector<std::uint8_t>;
    crosstest::ScratchDir dir;
    crosstest::WriteBytes(dir.path() / "in.bin", std::string(200, 'x'));
    auto peer = platform::serial::WindowsSerialPort::Open("COM2");
    ASSERT_TRUE(peer->IsValid());
    // The start request waits on the line until the sender reads it.
    ASSERT_TRUE(peer->WriteByte(serialxfer::kStartRequest));
    wintest::StartedProgram sender(Veltrix(), "O in.bin /1", dir.path().wstring());
    ASSERT_TRUE(sender.Started());

    std::vector<Frame> frames;
    Frame frame;
    int quiet = 0;
    std::uint8_t byte = 0;
    // Every frame is refused; the sender gives up after its tenth.
    while (quiet < 1 && frames.size() < 20) {
        if (peer->ReadByte(byte, platform::serial::kReadTimeoutMs) != platform::serial::ReadStatus::Byte) {
            quiet = sender.Running() ? 0 : quiet + 1;
            continue;
        }
        frame.push_back(byte);
        if (frame.size() == static_cast<std::size_t>(serialxfer::kFrameSize)) {
            frames.push_back(frame);
            frame.clear();
            ASSERT_TRUE(peer->WriteByte(serialxfer::kNak));
        }
    }
    EXPECT_EQ(sender.Wait(30000), 0xFFFFFFFFu); // -1 in all 32 bits
    EXPECT_TRUE(frame.empty()) << frame.size() << " bytes after the last frame (no EOT is sent)";
    ASSERT_EQ(frames.size(), static_cast<std::size_t>(serialxfer::kTries));
    for (const Frame& f : frames)
        EXPECT_EQ(f, frames.front());
    EXPECT_EQ(frames.front()[0], serialxfer::kSoh);
    EXPECT_EQ(frames.front()[1], 1);
    EXPECT_EQ(frames.front()[2], 0xFE);
    EXPECT_EQ(Frame(frames.front().begin() + 3, frames.front().begin() + 131), Frame(128, 'x'));
}

} // namespace
