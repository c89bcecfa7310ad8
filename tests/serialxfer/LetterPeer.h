#pragma once
// A peer device that works exactly as the protocol's rules are written,
// with none of the tolerances our own sides add: waits measured in whole
// seconds of a time-of-day clock, read attempts of up to 1000 ms, the first
// byte after a frame taken as its answer, the EOT sent once and an EOT
// acknowledged at once. Older copies of the tool on the far end of a cable
// behave like this, so ours must finish with it wherever in a clock second
// the end of the transfer falls.
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <vector>

#include "platform/serial/Clock.h"
#include "platform/serial/SerialPort.h"
#include "serialxfer/Crc16.h"
#include "serialxfer/Protocol.h"

namespace tests::serialxfer {

// The time of day in whole seconds, read through an injected clock. The
// phase says where in its clock second the injected clock's zero falls, so
// a test can put any moment at any point of a second.
class WholeSecondClock {
public:
    static constexpr std::int64_t kSecondsPerDay = 24 * 3600;

    explicit WholeSecondClock(platform::serial::Clock& clock, std::int64_t phaseMs = 0)
        : clock_(clock), phaseMs_(phaseMs) {}

    std::int64_t SecondsOfDay() { return ((clock_.NowMs() + phaseMs_) / 1000) % kSecondsPerDay; }
    // Milliseconds into the current clock second.
    int MsOfSecond() { return static_cast<int>((clock_.NowMs() + phaseMs_) % 1000); }
    // Moves the clock so that now is msOfSecond into a second.
    void PlaceNowAt(int msOfSecond) {
        const std::int64_t now = clock_.NowMs() % 1000;
        phaseMs_ = ((msOfSecond - now) % 1000 + 1000) % 1000;
    }
    // The absolute difference from an earlier reading; across midnight it
    // is large, so a wait that spans midnight ends at once.
    std::int64_t SecondsSince(std::int64_t start) { return std::llabs(SecondsOfDay() - start); }
    std::int64_t NowMs() { return clock_.NowMs(); }
    void SleepMs(std::int64_t ms) { clock_.SleepMs(ms); }

private:
    platform::serial::Clock& clock_;
    std::int64_t phaseMs_;
};

// The timing primitives of the peer.
class LetterLine {
public:
    static constexpr int kReadAttemptMs = 1000;
    static constexpr std::int64_t kPauseMs = 30;

    LetterLine(platform::serial::BytePort& port, WholeSecondClock& clock) : port_(port), clock_(clock) {}

    // One read of one byte; a failed read counts as no byte (after the
    // time-out, as a port with time-outs would behave).
    std::optional<std::uint8_t> ReadAttempt() {
        const std::int64_t start = clock_.NowMs();
        std::uint8_t byte = 0;
        switch (port_.ReadByte(byte, kReadAttemptMs)) {
        case platform::serial::ReadStatus::Byte: return byte;
        case platform::serial::ReadStatus::TimedOut: return std::nullopt;
        case platform::serial::ReadStatus::Failed: break;
        }
        clock_.SleepMs(kReadAttemptMs - (clock_.NowMs() - start));
        return std::nullopt;
    }
    // Read attempts (at least one) until a byte, or until limitS whole
    // seconds have elapsed.
    std::optional<std::uint8_t> ReceiveByte(std::int64_t limitS) {
        const std::int64_t start = clock_.SecondsOfDay();
        do {
            if (auto byte = ReadAttempt())
                return byte;
        } while (clock_.SecondsSince(start) < limitS);
        return std::nullopt;
    }
    // Read attempts, dropping other bytes, until `wanted` or limitS seconds.
    bool WaitFor(std::uint8_t wanted, std::int64_t limitS) {
        const std::int64_t start = clock_.SecondsOfDay();
        do {
            if (ReadAttempt() == wanted)
                return true;
        } while (clock_.SecondsSince(start) < limitS);
        return false;
    }
    void SendByte(std::uint8_t byte) {
        port_.WriteByte(byte);
        port_.Flush();
    }
    void Pause() { clock_.SleepMs(kPauseMs); }
    WholeSecondClock& Time() { return clock_; }

private:
    platform::serial::BytePort& port_;
    WholeSecondClock& clock_;
};

// The sending side, step by step.
class LetterSender {
public:
    using Bytes = std::vector<std::uint8_t>;

    LetterSender(platform::serial::BytePort& port, WholeSecondClock& clock, Bytes data)
        : line_(port, clock), data_(std::move(data)) {}

    // When set, the clock is moved just before the EOT so that the EOT
    // leaves this many milliseconds into a clock second.
    std::optional<int> eotAtMsOfSecond;

    // Where in its clock second the EOT left, and how long after it the
    // ACK came (when it came).
    int eotMsOfSecond = -1;
    std::optional<std::int64_t> ackAfterEotMs;

    int Run() {
        if (!line_.WaitFor(::serialxfer::kStartRequest, 30))
            return ::serialxfer::kTransferFailed;
        std::uint8_t number = 1;
        for (std::size_t at = 0; at < data_.size(); at += ::serialxfer::kBlockSize) {
            if (!SendBlock(number, at))
                return ::serialxfer::kTransferFailed;
            number = static_cast<std::uint8_t>(number + 1);
        }
        return End();
    }

private:
    bool SendBlock(std::uint8_t number, std::size_t at) {
        Bytes block(::serialxfer::kBlockSize, ::serialxfer::kFill);
        for (std::size_t i = 0; i < block.size() && at + i < data_.size(); ++i)
            block[i] = data_[at + i];
        const std::uint16_t crc = ::serialxfer::Crc16(block.data(), block.size());
        for (int tries = ::serialxfer::kTries; tries > 0; --tries) {
            line_.SendByte(::serialxfer::kSoh);
            line_.SendByte(number);
            line_.SendByte(static_cast<std::uint8_t>(255 - number));
            for (std::uint8_t b : block)
                line_.SendByte(b);
            line_.SendByte(static_cast<std::uint8_t>(crc >> 8));
            line_.SendByte(static_cast<std::uint8_t>(crc & 0xFF));
            line_.Pause();
            if (line_.ReceiveByte(2) == ::serialxfer::kAck)
                return true;
        }
        return false;
    }

    int End() {
        WholeSecondClock& clock = line_.Time();
        if (eotAtMsOfSecond)
            clock.PlaceNowAt(*eotAtMsOfSecond);
        eotMsOfSecond = clock.MsOfSecond();
        const std::int64_t sentAt = clock.NowMs();
        line_.SendByte(::serialxfer::kEot);
        if (!line_.WaitFor(::serialxfer::kAck, 2))
            return ::serialxfer::kTransferFailed;
        ackAfterEotMs = clock.NowMs() - sentAt;
        return ::serialxfer::kTransferOk;
    }

    LetterLine line_;
    Bytes data_;
};

// The receiving side, step by step; keeps what it accepts.
class LetterReceiver {
public:
    using Bytes = std::vector<std::uint8_t>;

    LetterReceiver(platform::serial::BytePort& port, WholeSecondClock& clock) : line_(port, clock) {}

    Bytes file;
    // Where in its clock second the EOT was read.
    int eotMsOfSecond = -1;

    int Run() {
        std::optional<std::uint8_t> first = AwaitFirst();
        if (!first)
            return ::serialxfer::kTransferFailed;
        int tries = ::serialxfer::kTries;
        std::uint8_t expected = 1;
        for (;;) {
            if (first == ::serialxfer::kEot) {
                eotMsOfSecond = line_.Time().MsOfSecond();
                line_.SendByte(::serialxfer::kAck);
                line_.Pause();
                return ::serialxfer::kTransferOk;
            }
            bool accepted = false;
            resynced_ = false;
            if (first == ::serialxfer::kSoh)
                accepted = TakeFrame(expected);
            else
                Refuse();
            if (accepted) {
                expected = static_cast<std::uint8_t>(expected + 1);
                tries = ::serialxfer::kTries;
            } else if (--tries <= 0) {
                return ::serialxfer::kTransferFailed;
            }
            first = resynced_ ? resyncedFirst_ : WaitForFrameStart();
        }
    }

private:
    std::optional<std::uint8_t> AwaitFirst() {
        WholeSecondClock& clock = line_.Time();
        line_.SendByte(::serialxfer::kStartRequest);
        int sent = 1;
        std::int64_t last = clock.SecondsOfDay();
        for (;;) {
            const bool lastAttempt = sent == ::serialxfer::kStartRequests;
            if (!lastAttempt && clock.SecondsSince(last) >= 2) {
                line_.SendByte(::serialxfer::kStartRequest);
                ++sent;
                last = clock.SecondsOfDay();
            }
            const auto byte = line_.ReadAttempt();
            if (byte == ::serialxfer::kSoh || byte == ::serialxfer::kEot)
                return byte;
            if (lastAttempt)
                return std::nullopt;
        }
    }

    std::optional<std::uint8_t> WaitForFrameStart() {
        const std::int64_t start = line_.Time().SecondsOfDay();
        do {
            const auto byte = line_.ReadAttempt();
            if (byte == ::serialxfer::kSoh || byte == ::serialxfer::kEot)
                return byte;
        } while (line_.Time().SecondsSince(start) < 2);
        return std::nullopt;
    }

    // True when the frame was accepted; every answer is sent here, except
    // after a bad head, where the resynchronisation comes first.
    bool TakeFrame(std::uint8_t expected) {
        const auto number = line_.ReceiveByte(2);
        const auto complement = line_.ReceiveByte(2);
        if (number != expected || complement != static_cast<std::uint8_t>(255 - expected)) {
            resyncedFirst_ = WaitForFrameStart();
            resynced_ = true;
            Refuse();
            return false;
        }
        Bytes block;
        std::uint16_t crc = 0;
        for (int i = 0; i < ::serialxfer::kBlockSize; ++i) {
            const auto byte = line_.ReceiveByte(2);
            if (!byte) {
                Refuse();
                return false;
            }
            block.push_back(*byte);
            crc = ::serialxfer::CrcUpdate(crc, *byte);
        }
        const auto high = line_.ReceiveByte(1);
        const auto low = line_.ReceiveByte(1);
        if (high != static_cast<std::uint8_t>(crc >> 8) || low != static_cast<std::uint8_t>(crc & 0xFF)) {
            Refuse();
            return false;
        }
        for (std::uint8_t b : block)
            if (b != 0)
                file.push_back(b);
        line_.SendByte(::serialxfer::kAck);
        line_.Pause();
        return true;
    }

    void Refuse() {
        line_.SendByte(::serialxfer::kNak);
        line_.Pause();
    }

    LetterLine line_;
    // After a bad head the next frame start is looked for before the NAK.
    bool resynced_ = false;
    std::optional<std::uint8_t> resyncedFirst_;
};

} // namespace tests::serialxfer
