// Transfers that end only after the long waits: a silent peer, a dead port,
// a peer that stops in the middle. Each runs in real time (19 s to 30 s).
#include <gtest/gtest.h>

#include "PeerSim.h"
#include "TestSupport.h"

using namespace tests::serialxfer;
using tests::serialxfer::Bytes;

namespace {

std::unique_ptr<Process> StartVeltrix(
    const std::string& direction, const std::string& file, const std::string& device, const std::string& dir) {
    return std::make_unique<Process>(std::vector<std::string>{VeltrixPath(), direction, file, "/1"},
        std::map<std::string, std::string>{{"VELTRIX_COM1", device}}, dir);
}

} // namespace

TEST(SlowReceive, SilentSenderGetsTenStartRequestsAndMinusOne) {
    TempDir dir;
    PtyLine line;
    auto veltrix = StartVeltrix("I", "got.bin", line.Device(), dir.path().string());
    std::vector<std::int64_t> times;
    const std::int64_t start = NowMs();
    while (NowMs() - start < 25000 && !veltrix->Finished()) {
        for (std::uint8_t b : line.Drain(100)) {
            EXPECT_EQ(b, 'C');
            times.push_back(NowMs() - start);
        }
    }
    EXPECT_EQ(veltrix->Wait(25000), 255);
    EXPECT_EQ(veltrix->Output(), "");
    ASSERT_EQ(times.size(), 10u);
    for (std::size_t i = 1; i < times.size(); ++i) {
        EXPECT_GE(times[i] - times[i - 1], 1900) << i;
        EXPECT_LE(times[i] - times[i - 1], 2400) << i;
    }
    EXPECT_GE(veltrix->ElapsedMs(), 18000);
    EXPECT_LE(veltrix->ElapsedMs(), 22000);
    EXPECT_TRUE(fs::exists(dir / "got.bin"));
    EXPECT_EQ(fs::file_size(dir / "got.bin"), 0u);
}

TEST(SlowSend, SilentReceiverEndsWithMinusOneAfterThirtySeconds) {
    TempDir dir;
    WriteFile(dir / "out.bin", Bytes(500, 'd'));
    PtyLine line;
    auto veltrix = StartVeltrix("O", "out.bin", line.Device(), dir.path().string());
    EXPECT_EQ(veltrix->Wait(40000), 255);
    EXPECT_GE(veltrix->ElapsedMs(), 29500);
    EXPECT_LE(veltrix->ElapsedMs(), 31500);
    EXPECT_TRUE(line.Drain(100).empty());
    EXPECT_LT(veltrix->CpuSeconds(), 0.5);
}

TEST(SlowReceive, PortThatCannotBeOpenedRunsIntoTheTimeOutsWithoutSpinning) {
    TempDir dir;
    auto veltrix = StartVeltrix("I", "got.bin", "/nonexistent/veltrix-tty", dir.path().string());
    EXPECT_EQ(veltrix->Wait(30000), 255);
    EXPECT_EQ(veltrix->Output(), "");
    EXPECT_GE(veltrix->ElapsedMs(), 17000);
    EXPECT_LE(veltrix->ElapsedMs(), 22000);
    EXPECT_LT(veltrix->CpuSeconds(), 0.5);
}

TEST(SlowReceive, SenderStoppingMidwayLeavesTheAcceptedFrames) {
    TempDir dir;
    PtyLine line;
    Bytes data(6 * 128);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<std::uint8_t>('A' + i % 26);
    tests::serialxfer::SenderPeer peer(data);
    peer.stopAfter = 3;
    PtyPeer driver(line, peer);
    auto veltrix = StartVeltrix("I", "got.bin", line.Device(), dir.path().string());
    EXPECT_EQ(veltrix->Wait(40000), 255);
    driver.Stop();
    EXPECT_EQ(ReadFile(dir / "got.bin"), Bytes(data.begin(), data.begin() + 3 * 128));
    // Ten refusals of the silence, about 2 s apart.
    Bytes naks;
    for (const auto& [t, b] : driver.Received())
        if (b == serialxfer::kNak)
            naks.push_back(b);
    EXPECT_EQ(naks.size(), 10u);
    EXPECT_GE(veltrix->ElapsedMs(), 19000);
}
