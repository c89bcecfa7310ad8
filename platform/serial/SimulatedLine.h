#pragma once
// A serial line without a device and a clock without waiting, for unit tests
// and fuzz targets of the transfer. Time passes only when the code under test
// sleeps or a read attempt runs into its time-out, so waits of many seconds
// cost nothing.
#include <cstdint>
#include <deque>
#include <utility>
#include <vector>

#include "platform/serial/Clock.h"
#include "platform/serial/SerialPort.h"

namespace platform::serial {

class FakeClock final : public Clock {
public:
    std::int64_t NowMs() override { return now_; }
    void SleepMs(std::int64_t ms) override {
        if (ms > 0)
            now_ += ms;
        ++sleeps_;
    }
    void Advance(std::int64_t ms) { now_ += ms; }
    int Sleeps() const { return sleeps_; }

private:
    std::int64_t now_ = 0;
    int sleeps_ = 0;
};

// Where a peer's answers go: the simulated port, or a real line in tests
// that drive the program through a pty.
class PeerOutput {
public:
    virtual ~PeerOutput() = default;
    // Makes byte readable delayMs milliseconds after the later of now and the
    // previous byte's arrival (a byte never overtakes the one before it).
    virtual void Deliver(std::uint8_t byte, std::int64_t delayMs) = 0;
    void Deliver(const std::vector<std::uint8_t>& bytes, std::int64_t delayMs = 0) {
        for (std::uint8_t b : bytes)
            Deliver(b, delayMs);
    }
};

// The far end of a line: sees every byte the code under test writes and may
// answer through its output.
class LinePeer {
public:
    virtual ~LinePeer() = default;
    virtual void OnByte(PeerOutput& out, std::uint8_t byte) = 0;
};

class SimulatedPort final : public BytePort, public PeerOutput {
public:
    using PeerOutput::Deliver;
    explicit SimulatedPort(FakeClock& clock, LinePeer* peer = nullptr) : clock_(clock), peer_(peer) {}

    void SetPeer(LinePeer* peer) { peer_ = peer; }
    // Reads fail at once, like reads on a port that could not be opened.
    void SetBroken(bool broken) { broken_ = broken; }

    void Deliver(std::uint8_t byte, std::int64_t delayMs = 0) override {
        std::int64_t at = clock_.NowMs() + delayMs;
        if (!incoming_.empty() && incoming_.back().first > at)
            at = incoming_.back().first;
        incoming_.emplace_back(at, byte);
    }
    ReadStatus ReadByte(std::uint8_t& byte, int timeoutMs) override {
        ++readAttempts_;
        if (broken_)
            return ReadStatus::Failed;
        if (!incoming_.empty() && incoming_.front().first <= clock_.NowMs() + timeoutMs) {
            const std::int64_t at = incoming_.front().first;
            if (at > clock_.NowMs())
                clock_.Advance(at - clock_.NowMs());
            byte = incoming_.front().second;
            incoming_.pop_front();
            return ReadStatus::Byte;
        }
        clock_.Advance(timeoutMs);
        return ReadStatus::TimedOut;
    }

    bool WriteByte(std::uint8_t byte) override {
        written_.push_back(byte);
        writeTimes_.push_back(clock_.NowMs());
        if (peer_ != nullptr)
            peer_->OnByte(*this, byte);
        return !broken_;
    }

    void DiscardInput() override {
        ++discards_;
        while (!incoming_.empty() && incoming_.front().first <= clock_.NowMs())
            incoming_.pop_front();
    }

    const std::vector<std::uint8_t>& Written() const { return written_; }
    const std::vector<std::int64_t>& WriteTimes() const { return writeTimes_; }
    std::size_t Pending() const { return incoming_.size(); }
    long ReadAttempts() const { return readAttempts_; }
    int Discards() const { return discards_; }
    FakeClock& GetClock() { return clock_; }

private:
    FakeClock& clock_;
    LinePeer* peer_;
    bool broken_ = false;
    std::deque<std::pair<std::int64_t, std::uint8_t>> incoming_;
    std::vector<std::uint8_t> written_;
    std::vector<std::int64_t> writeTimes_;
    long readAttempts_ = 0;
    int discards_ = 0;
};

} // namespace platform::serial
