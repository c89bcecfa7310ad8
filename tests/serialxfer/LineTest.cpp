// The built program moving files over pty lines in real time: against our
// own peer devices, against a second copy of itself through the relay (with
// damaged and lost bytes), and against lrzsz's sx and rx.
#include <gtest/gtest.h>

#include <random>
#include <sys/socket.h>

#include "LetterPeer.h"
#include "PeerSim.h"
#include "TestSupport.h"
#include "platform/serial/Clock.h"
#include "platform/serial/SerialPort.h"
#include "tools/serial_relay/PacedRelay.h"

using namespace tests::serialxfer;
using tests::serialxfer::Bytes;

namespace {

Bytes Pattern(std::size_t size, std::uint32_t seed, bool withNul = true) {
    std::mt19937 rng(seed);
    Bytes data(size);
    for (auto& b : data) {
        b = static_cast<std::uint8_t>(rng());
        if (!withNul && b == 0)
            b = 0x1A;
    }
    return data;
}

std::unique_ptr<Process> StartVeltrix(
    const std::string& direction, const std::string& file, const std::string& device, const std::string& dir) {
    return std::make_unique<Process>(std::vector<std::string>{VeltrixPath(), direction, file, "/1"},
        std::map<std::string, std::string>{{"VELTRIX_COM1", device}}, dir);
}

bool WaitForPath(const std::string& path, int ms = 5000) {
    for (int waited = 0; waited < ms; waited += 10) {
        if (fs::exists(path))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

Bytes PaddedTo128(Bytes data) {
    while (data.size() % 128 != 0)
        data.push_back(0x1A);
    return data;
}

} // namespace

// ---------------------------------------------------------------- our peers

TEST(LineReceive, FromPeerDevice) {
    Bytes mixed(300);
    for (std::size_t i = 0; i < mixed.size(); ++i)
        mixed[i] = static_cast<std::uint8_t>(i % 4 == 0 ? 0 : (i % 4 == 1 ? 0x1A : i));
    const struct {
        const char* name;
        Bytes data;
        std::function<void(tests::serialxfer::SenderPeer&)> setup;
    } cases[] = {
        // A device that sends its EOT once and waits 2 s for the ACK.
        {"empty", {}, {}},
        {"128 bytes", Pattern(128, 1), {}},
        // The others send it again when asked.
        {"129 bytes", Pattern(129, 2), [](tests::serialxfer::SenderPeer& p) { p.eotAgainWhenAsked = true; }},
        {"NUL dropped, 0x1A kept", mixed, [](tests::serialxfer::SenderPeer& p) { p.eotAgainWhenAsked = true; }},
        {"damaged byte refused then accepted", Pattern(3 * 128, 3),
            [](tests::serialxfer::SenderPeer& p) {
                p.eotAgainWhenAsked = true;
                p.damage = [](std::size_t attempt, std::size_t, Bytes& f) {
                    if (attempt == 1)
                        f[77] ^= 0x04;
                };
            }},
        {"lost ACK", Pattern(3 * 128, 4),
            [](tests::serialxfer::SenderPeer& p) {
                p.eotAgainWhenAsked = true;
                p.lostAnswerTimeoutMs = 1500;
                p.loseAnswer = [](std::size_t attempt, std::uint8_t a) {
                    return attempt == 1 && a == serialxfer::kAck;
                };
            }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        PtyLine line;
        tests::serialxfer::SenderPeer peer(c.data);
        if (c.setup)
            c.setup(peer);
        PtyPeer driver(line, peer);
        auto veltrix = StartVeltrix("I", "got.bin", line.Device(), dir.path().string());
        EXPECT_EQ(veltrix->Wait(20000), 0);
        driver.Stop();
        EXPECT_EQ(veltrix->Output(), "");
        EXPECT_EQ(ReadFile(dir / "got.bin"), tests::serialxfer::ExpectedReceived(c.data));
        EXPECT_TRUE(peer.eotAcked);
    }
}

TEST(LineSend, ToPeerDevice) {
    const struct {
        const char* name;
        Bytes data;
        std::function<void(tests::serialxfer::ReceiverPeer&)> setup;
        std::size_t attempts;
        int eots;
    } cases[] = {
        {"empty", {}, {}, 0, 1},
        {"129 bytes", Pattern(129, 5), {}, 2, 1},
        {"refused frame repeated", Pattern(300, 6),
            [](tests::serialxfer::ReceiverPeer& p) {
                p.answer = [](std::size_t attempt,
                               const tests::serialxfer::ReceiverPeer::Frame&) -> std::optional<std::uint8_t> {
                    return attempt == 1 ? serialxfer::kNak : serialxfer::kAck;
                };
            },
            4, 1},
        {"EOT refused once", Pattern(100, 7),
            [](tests::serialxfer::ReceiverPeer& p) { p.eotAnswers = {serialxfer::kNak}; }, 1, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        WriteFile(dir / "out.bin", c.data);
        PtyLine line;
        tests::serialxfer::ReceiverPeer peer;
        if (c.setup)
            c.setup(peer);
        PtyPeer driver(line, peer);
        driver.Deliver(serialxfer::kStartRequest, 0);
        auto veltrix = StartVeltrix("O", "out.bin", line.Device(), dir.path().string());
        EXPECT_EQ(veltrix->Wait(20000), 0);
        driver.Stop();
        EXPECT_EQ(veltrix->Output(), "");
        ASSERT_EQ(peer.frames.size(), c.attempts);
        Bytes sent;
        for (const auto& f : peer.frames) {
            EXPECT_TRUE(f.valid);
            if (c.attempts != 4 || &f != &peer.frames[1])
                sent.insert(sent.end(), f.raw.begin() + 3, f.raw.begin() + 131);
        }
        EXPECT_EQ(sent, PaddedTo128(c.data));
        EXPECT_EQ(peer.eots, c.eots);
        EXPECT_TRUE(peer.stray.empty());
    }
}

// ---------------------------------------------------------------- two copies

struct Pair {
    TempDir dir;
    std::unique_ptr<tools::serial_relay::PacedRelay> line;
    std::unique_ptr<Process> receiver;
    std::unique_ptr<Process> sender;

    void Start(
        const Bytes& data, int baud, std::map<std::uint64_t, tools::serial_relay::Fault> senderToReceiverFaults = {}) {
        WriteFile(dir / "in.bin", data);
        tools::serial_relay::Options options;
        options.a.linkPath = dir / "ttyA";
        options.b.linkPath = dir / "ttyB";
        options.baud = baud;
        options.faults[0] = std::move(senderToReceiverFaults);
        line = std::make_unique<tools::serial_relay::PacedRelay>(options);
        ASSERT_TRUE(line->Start()) << line->Error();
        receiver = StartVeltrix("I", "out.bin", dir / "ttyB", dir.path().string());
        sender = StartVeltrix("O", "in.bin", dir / "ttyA", dir.path().string());
    }
};

TEST(TwoCopies, FrameNumbersWrapAndDamageIsRepaired) {
    const Bytes data = Pattern(257 * 128 + 10, 8);
    std::map<std::uint64_t, tools::serial_relay::Fault> faults;
    faults[133 * 3 + 40] = tools::serial_relay::Fault::Corrupt(0x20); // a data byte of frame 4
    faults[133 * 300 + 2] = tools::serial_relay::Fault::Drop();       // the complement of frame 300... after one repeat
    faults[133 * 200 + 131] = tools::serial_relay::Fault::Corrupt(1); // a CRC byte
    Pair pair;
    pair.Start(data, 0, faults);
    EXPECT_EQ(pair.sender->Wait(60000), 0);
    EXPECT_EQ(pair.receiver->Wait(10000), 0);
    EXPECT_EQ(ReadFile(pair.dir / "out.bin"), tests::serialxfer::ExpectedReceived(data));
}

TEST(TwoCopies, TenDamagedFramesEndBothSidesWithMinusOne) {
    const Bytes data = Pattern(5 * 128, 9);
    std::map<std::uint64_t, tools::serial_relay::Fault> faults;
    for (std::uint64_t attempt = 0; attempt < 10; ++attempt)
        faults[133 * (2 + attempt) + 60] = tools::serial_relay::Fault::Corrupt(0x81); // frame 3, every try
    Pair pair;
    pair.Start(data, 0, faults);
    EXPECT_EQ(pair.sender->Wait(60000), 255);
    EXPECT_EQ(pair.receiver->Wait(10000), 255);
    // Exactly the two accepted frames were kept.
    EXPECT_EQ(
        ReadFile(pair.dir / "out.bin"), tests::serialxfer::ExpectedReceived(Bytes(data.begin(), data.begin() + 256)));
}

// A program on a socket end (lrzsz in the benchmarks) may exit while bytes
// for it are still on the line: the relay's write then fails, and must not
// raise SIGPIPE, which would end the process the relay runs in.
TEST(Relay, OutlivesASocketEndThatClosed) {
    TempDir dir;
    int fds[2] = {-1, -1};
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
    tools::serial_relay::Options options;
    options.a.linkPath = dir / "ttyA";
    options.b.fd = fds[0];
    options.baud = 0;
    tools::serial_relay::PacedRelay line(options);
    ASSERT_TRUE(line.Start()) << line.Error();
    close(fds[1]);
    auto port = platform::serial::PosixSerialPort::Open(dir / "ttyA");
    ASSERT_TRUE(port->IsValid());
    for (int round = 0; round < 5; ++round) {
        for (std::uint8_t b : Pattern(64, static_cast<std::uint32_t>(round)))
            port->WriteByte(b);
        port->Flush();
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    for (int i = 0; i < 100 && line.BytesSeen(tools::serial_relay::Direction::AToB) < 320; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(line.BytesSeen(tools::serial_relay::Direction::AToB), 320u);
    EXPECT_EQ(line.BytesDelivered(tools::serial_relay::Direction::AToB), 0u);
}

TEST(TwoCopies, PacedLineKeepsItsPace) {
    // 40 frames at 19200 baud: the line floor is 40 * 134 / 1920 s = 2.79 s.
    const Bytes data = Pattern(40 * 128, 10);
    Pair pair;
    pair.Start(data, 19200);
    EXPECT_EQ(pair.sender->Wait(60000), 0);
    EXPECT_EQ(pair.receiver->Wait(10000), 0);
    EXPECT_EQ(ReadFile(pair.dir / "out.bin"), tests::serialxfer::ExpectedReceived(data));
    EXPECT_GE(pair.sender->ElapsedMs(), 2790);
    // The frames, the EOT, and the EOT once more when the receiver asks.
    EXPECT_EQ(pair.line->BytesSeen(tools::serial_relay::Direction::AToB), 40u * 133u + 2u);
}

// ------------------------------------------------- a peer kept to the letter

// The peer on one end of the paced relay in this process, VELTRIX on the
// other; the peer's clock second is placed so that its EOT leaves late in it.
TEST(LetterPeerLine, SenderGetsItsAckLateInItsSecond) {
    for (int eotAt : {0, 900, 990}) {
        SCOPED_TRACE("EOT at " + std::to_string(eotAt) + " ms of the peer's second");
        const Bytes data = Pattern(300 + static_cast<std::size_t>(eotAt), 20, false);
        TempDir dir;
        tools::serial_relay::Options options;
        options.a.linkPath = dir / "ttyA";
        options.b.linkPath = dir / "ttyB";
        tools::serial_relay::PacedRelay line(options);
        ASSERT_TRUE(line.Start()) << line.Error();
        auto veltrix = StartVeltrix("I", "out.bin", dir / "ttyB", dir.path().string());
        auto port = platform::serial::PosixSerialPort::Open(dir / "ttyA");
        ASSERT_TRUE(port->IsValid());
        platform::serial::MonotonicClock clock;
        WholeSecondClock seconds(clock);
        LetterSender peer(*port, seconds, data);
        peer.eotAtMsOfSecond = eotAt;
        EXPECT_EQ(peer.Run(), 0);
        port->Close();
        EXPECT_EQ(veltrix->Wait(20000), 0);
        EXPECT_EQ(ReadFile(dir / "out.bin"), tests::serialxfer::ExpectedReceived(data));
        if (peer.ackAfterEotMs)
            std::printf("letter-following sender, real time: EOT at %d ms of its second, ACK after %lld ms\n", eotAt,
                static_cast<long long>(*peer.ackAfterEotMs));
    }
}

TEST(LetterPeerLine, ReceiverTakesOurFile) {
    for (std::int64_t phase : {0, 330, 660}) {
        SCOPED_TRACE("clock phase " + std::to_string(phase));
        const Bytes data = Pattern(200 + static_cast<std::size_t>(phase), 21, false);
        TempDir dir;
        WriteFile(dir / "in.bin", data);
        tools::serial_relay::Options options;
        options.a.linkPath = dir / "ttyA";
        options.b.linkPath = dir / "ttyB";
        tools::serial_relay::PacedRelay line(options);
        ASSERT_TRUE(line.Start()) << line.Error();
        auto port = platform::serial::PosixSerialPort::Open(dir / "ttyB");
        ASSERT_TRUE(port->IsValid());
        auto veltrix = StartVeltrix("O", "in.bin", dir / "ttyA", dir.path().string());
        platform::serial::MonotonicClock clock;
        WholeSecondClock seconds(clock, phase);
        LetterReceiver peer(*port, seconds);
        EXPECT_EQ(peer.Run(), 0);
        port->Close();
        EXPECT_EQ(veltrix->Wait(20000), 0);
        EXPECT_TRUE(peer.file == tests::serialxfer::ExpectedReceived(data)) << "received " << peer.file.size();
    }
}

// ---------------------------------------------------------------- lrzsz

TEST(Lrzsz, SxToVeltrix) {
    for (std::size_t size : {1u, 128u, 129u, 20000u}) {
        SCOPED_TRACE(size);
        TempDir dir;
        const Bytes data = Pattern(size, 11, false);
        WriteFile(dir / "in.bin", data);
        Process sx({"socat", "pty,raw,echo=0,link=" + (dir / "tty"), "EXEC:sx -b -t 20 in.bin"}, {},
            dir.path().string(), false);
        ASSERT_TRUE(WaitForPath(dir / "tty"));
        auto veltrix = StartVeltrix("I", "out.bin", dir / "tty", dir.path().string());
        EXPECT_EQ(veltrix->Wait(60000), 0);
        EXPECT_EQ(sx.Wait(10000), 0);
        EXPECT_EQ(ReadFile(dir / "out.bin"), tests::serialxfer::ExpectedReceived(data));
    }
}

TEST(Lrzsz, VeltrixToRx) {
    for (std::size_t size : {1u, 128u, 129u, 20000u}) {
        SCOPED_TRACE(size);
        TempDir dir;
        const Bytes data = Pattern(size, 12, true);
        WriteFile(dir / "in.bin", data);
        Process rx(
            {"socat", "pty,raw,echo=0,link=" + (dir / "tty"), "EXEC:rx -c -b out.bin"}, {}, dir.path().string(), false);
        ASSERT_TRUE(WaitForPath(dir / "tty"));
        auto veltrix = StartVeltrix("O", "in.bin", dir / "tty", dir.path().string());
        EXPECT_EQ(veltrix->Wait(60000), 0);
        EXPECT_EQ(rx.Wait(10000), 0);
        EXPECT_EQ(ReadFile(dir / "out.bin"), PaddedTo128(data));
    }
}

TEST(Lrzsz, LateStartedVeltrixSenderAndDamagedLine) {
    // rx asks more than once before the sender runs; one byte of the third
    // frame is damaged on a paced line.
    TempDir dir;
    const Bytes data = Pattern(6 * 128, 13, true);
    WriteFile(dir / "in.bin", data);
    tools::serial_relay::Options options;
    options.a.linkPath = dir / "ttyA";
    options.b.linkPath = dir / "ttyB";
    options.faults[0][133 * 2 + 90] = tools::serial_relay::Fault::Corrupt(0x10);
    tools::serial_relay::PacedRelay line(options);
    ASSERT_TRUE(line.Start()) << line.Error();
    Process rx({"socat", "OPEN:" + (dir / "ttyB") + ",rawer", "EXEC:rx -c -b out.bin"}, {}, dir.path().string(), false);
    // Wait for rx's second start request.
    for (int i = 0; i < 300 && line.BytesSeen(tools::serial_relay::Direction::BToA) < 2; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ASSERT_GE(line.BytesSeen(tools::serial_relay::Direction::BToA), 2u);
    auto veltrix = StartVeltrix("O", "in.bin", dir / "ttyA", dir.path().string());
    EXPECT_EQ(veltrix->Wait(60000), 0);
    EXPECT_EQ(rx.Wait(10000), 0);
    EXPECT_EQ(ReadFile(dir / "out.bin"), data);
}
