#pragma once
// The framed transfer over one serial line: 133-byte frames (SOH, number,
// complement, 128 data bytes, CRC-16 high and low), each answered by ACK or
// NAK; the receiving side starts the exchange with 'C'.
#include <cstdint>
#include <optional>

#include "platform/serial/Clock.h"
#include "platform/serial/SerialPort.h"
#include "serialxfer/DataFile.h"

namespace serialxfer {

inline constexpr std::uint8_t kSoh = 0x01;
inline constexpr std::uint8_t kEot = 0x04;
inline constexpr std::uint8_t kAck = 0x06;
inline constexpr std::uint8_t kNak = 0x15;
inline constexpr std::uint8_t kStartRequest = 'C';
inline constexpr std::uint8_t kFill = 0x1A;

inline constexpr int kBlockSize = 128;
inline constexpr int kFrameSize = 3 + kBlockSize + 2;
inline constexpr int kTries = 10;
inline constexpr int kStartRequests = 10;
// A frame repeated because its ACK was lost is acknowledged again without
// costing a try, but only this many times in a row, so that a peer repeating
// one frame for ever cannot keep the receiver busy for ever.
inline constexpr int kFreeRepeats = 10;

inline constexpr std::int64_t kStartRequestIntervalMs = 2000;
inline constexpr std::int64_t kFrameByteLimitMs = 2000;
inline constexpr std::int64_t kCrcByteLimitMs = 1000;
inline constexpr std::int64_t kResyncLimitMs = 2000;
inline constexpr std::int64_t kSenderStartLimitMs = 30000;
inline constexpr std::int64_t kAnswerLimitMs = 2000;
inline constexpr std::int64_t kEotAnswerLimitMs = 2000;
inline constexpr std::int64_t kPauseMs = 30;

// Keeping both sides in step on a damaged line: each transmission gets one
// answer, and each side reads only the answer to what it just sent.
//
// The bytes of a frame follow each other at once, and a sender sends
// nothing more until it has its answer; so when no byte comes for this long,
// the transmission has ended. A refused transmission is answered only then,
// and an EOT is taken only when the line stays quiet this long after it.
inline constexpr int kQuietMs = 100;
// A frame damaged by a few lost, changed or added bytes still brings well
// over half its bytes; a shorter run of bytes between answers is line noise.
inline constexpr int kFrameEvidenceBytes = kFrameSize / 2;
// How long a frame takes to leave the wire at the line rate (10 bit times a
// byte), rounded up: an answer read earlier cannot have heard all of it.
inline constexpr std::int64_t kFrameLineMs =
    (kFrameSize * 10 * 1000 + platform::serial::kBaudRate - 1) / platform::serial::kBaudRate;
// A single quiet EOT may be noise on a line where the sender waits for an
// answer, so the receiver asks once more (NAK, or 'C' before the first
// frame) and takes a second EOT as the end; ours sends it about 100 ms after
// the question. A sender that sends its EOT only once gets its ACK when this
// window closes, about half a second after its EOT: it may have read the
// question as a byte that ended one of its read attempts of up to 1 s, and
// if it measures its 2 s wait in whole seconds of a clock, the next attempt
// can be its last, so the ACK must come less than 1 s after the question.
inline constexpr std::int64_t kEndConfirmMs = 350;
// After acknowledging such an unconfirmed EOT the receiver listens this long
// before it believes the end: a sender that was in fact waiting for the
// answer to a frame takes that ACK for it and sends on, or, had the ACK been
// lost too, repeats its frame when its 2 s wait runs out. That wait began
// before the EOT-like byte came, so it has run out well before quiet time,
// question, confirmation window and this linger add up (about 2.7 s).
inline constexpr std::int64_t kEndLingerMs = 2200;

enum : int { kTransferOk = 0, kTransferFailed = -1, kNoSuchFile = -2 };

// The timing primitives both sides share, over one port and one clock.
class Line {
public:
    Line(platform::serial::BytePort& port, platform::serial::Clock& clock) : port_(port), clock_(clock) {}

    // One read of one byte: a byte, or nothing within the port's read
    // time-out. A read that fails at once still takes the time-out (sleeping),
    // so a dead port cannot make the waits spin.
    std::optional<std::uint8_t> ReadAttempt(int timeoutMs = platform::serial::kReadTimeoutMs);
    // Read attempts (at least one) until a byte arrives or limitMs elapsed.
    std::optional<std::uint8_t> ReceiveByte(std::int64_t limitMs);
    // Read attempts until a byte equal to a or b arrives (others are dropped)
    // or limitMs elapsed.
    std::optional<std::uint8_t> WaitForEither(std::uint8_t a, std::uint8_t b, std::int64_t limitMs);
    void SendByte(std::uint8_t byte) { port_.WriteByte(byte); }
    void DiscardInput() { port_.DiscardInput(); }
    void ExpectBytes(int count) { port_.ExpectBytes(count); }
    // Sleeps; the written bytes keep going out meanwhile.
    void PauseMilliseconds(std::int64_t ms) {
        port_.Flush();
        clock_.SleepMs(ms);
    }
    std::int64_t Now() { return clock_.NowMs(); }

private:
    platform::serial::BytePort& port_;
    platform::serial::Clock& clock_;
};

// The receiving side (direction I): returns 0 when the EOT was acknowledged,
// -1 otherwise. Writes every accepted frame to sink, leaving out bytes of
// value 0. FileError from the sink passes through.
int RunReceiver(platform::serial::BytePort& port, platform::serial::Clock& clock, DataSink& sink);

// The sending side (direction O): returns 0 when the EOT was acknowledged,
// -1 otherwise. FileError from the source passes through.
int RunSender(platform::serial::BytePort& port, platform::serial::Clock& clock, DataSource& source);

} // namespace serialxfer
