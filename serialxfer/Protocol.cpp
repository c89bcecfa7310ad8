#include "serialxfer/Protocol.h"

#include <algorithm>
#include <array>

#include "serialxfer/Crc16.h"

namespace serialxfer {

std::optional<std::uint8_t> Line::ReadAttempt(int timeoutMs) {
    const std::int64_t start = clock_.NowMs();
    std::uint8_t byte = 0;
    switch (port_.ReadByte(byte, timeoutMs)) {
    case platform::serial::ReadStatus::Byte: return byte;
    case platform::serial::ReadStatus::TimedOut: return std::nullopt;
    case platform::serial::ReadStatus::Failed: break;
    }
    const std::int64_t spent = clock_.NowMs() - start;
    if (spent < timeoutMs)
        clock_.SleepMs(timeoutMs - spent);
    return std::nullopt;
}

namespace {

// A read attempt never waits past the end of the wait it belongs to, so a
// wait of N s ends after N s, not up to a read time-out later.
int AttemptTimeout(std::int64_t start, std::int64_t limitMs, std::int64_t now) {
    const std::int64_t left = start + limitMs - now;
    return static_cast<int>(std::clamp<std::int64_t>(left, 1, platform::serial::kReadTimeoutMs));
}

} // namespace

std::optional<std::uint8_t> Line::ReceiveByte(std::int64_t limitMs) {
    const std::int64_t start = clock_.NowMs();
    do {
        if (auto byte = ReadAttempt(AttemptTimeout(start, limitMs, clock_.NowMs())))
            return byte;
    } while (clock_.NowMs() - start < limitMs);
    return std::nullopt;
}

std::optional<std::uint8_t> Line::WaitForEither(std::uint8_t a, std::uint8_t b, std::int64_t limitMs) {
    const std::int64_t start = clock_.NowMs();
    do {
        auto byte = ReadAttempt(AttemptTimeout(start, limitMs, clock_.NowMs()));
        if (byte && (*byte == a || *byte == b))
            return byte;
    } while (clock_.NowMs() - start < limitMs);
    return std::nullopt;
}

namespace {

class Receiver {
public:
    Receiver(platform::serial::BytePort& port, platform::serial::Clock& clock, DataSink& sink)
        : line_(port, clock), sink_(sink) {}

    int Run() {
        Heard heard = AwaitFirstFrame();
        if (!heard.start)
            return kTransferFailed;
        for (;;) {
            switch (Take(heard)) {
            case Outcome::Done: return kTransferOk;
            case Outcome::Accepted: tries_ = kTries; break;
            case Outcome::Continue: break;
            case Outcome::Refused:
                if (--tries_ <= 0)
                    return kTransferFailed;
                break;
            }
            heard = next_;
        }
    }

private:
    enum class Outcome { Done, Accepted, Continue, Refused };

    // What the line brought after an answer: the byte that may start a frame
    // or end the transfer (nothing when the wait ended without one), and how
    // many other bytes came before it.
    struct Heard {
        std::optional<std::uint8_t> start;
        int noise = 0;
    };

    // Sends 'C' every 2 s, ten times at most, until SOH or EOT arrives. The
    // read attempt after the tenth 'C' is the last one; a frame start it
    // brings is still taken (the peer did answer).
    Heard AwaitFirstFrame() {
        line_.SendByte(kStartRequest);
        int sent = 1;
        std::int64_t lastRequest = line_.Now();
        bool lastAttempt = false;
        Heard heard;
        for (;;) {
            if (sent < kStartRequests && line_.Now() - lastRequest >= kStartRequestIntervalMs) {
                line_.SendByte(kStartRequest);
                ++sent;
                lastRequest = line_.Now();
                lastAttempt = sent == kStartRequests;
            }
            // Up to the next request's time, so they go out 2 s apart.
            const int timeout = lastAttempt ? platform::serial::kReadTimeoutMs
                                            : AttemptTimeout(lastRequest, kStartRequestIntervalMs, line_.Now());
            auto byte = line_.ReadAttempt(timeout);
            if (byte && (*byte == kSoh || *byte == kEot)) {
                heard.start = byte;
                return heard;
            }
            // Counted over the whole start: a first frame whose SOH was lost
            // passes here as a long run of other bytes.
            if (byte)
                ++heard.noise;
            if (lastAttempt)
                return heard;
        }
    }

    // Everything read since the last answer belongs to one transmission and
    // gets one answer.
    Outcome Take(const Heard& heard) {
        bytes_ = heard.noise;
        if (heard.noise >= kFrameEvidenceBytes)
            endCredible_ = false;
        if (heard.start == kSoh)
            return TakeFrame();
        if (heard.start == kEot)
            return TakeEnd();
        return Refuse(); // silence, or a run of bytes without a frame start
    }

    // firstAfterStart: the byte after the SOH when the caller has already
    // read it.
    Outcome TakeFrame(std::optional<std::uint8_t> firstAfterStart = std::nullopt) {
        ++bytes_;
        line_.ExpectBytes(kFrameSize - 1);
        const auto number = firstAfterStart ? firstAfterStart : line_.ReceiveByte(kFrameByteLimitMs);
        const auto complement = line_.ReceiveByte(kFrameByteLimitMs);
        bytes_ += static_cast<int>(number.has_value()) + static_cast<int>(complement.has_value());
        const bool expected = number == expected_ && complement == static_cast<std::uint8_t>(255 - expected_);
        const std::uint8_t previous = static_cast<std::uint8_t>(expected_ - 1);
        const bool repeat = !expected && accepted_ > 0 && freeRepeats_ > 0 && number == previous &&
                            complement == static_cast<std::uint8_t>(255 - previous);
        if (!expected && !repeat)
            return RefuseWhenQuiet();

        std::uint16_t crc = 0;
        for (int i = 0; i < kBlockSize; ++i) {
            const auto byte = line_.ReceiveByte(kFrameByteLimitMs);
            if (!byte)
                return RefuseWhenQuiet();
            ++bytes_;
            block_[i] = *byte;
            crc = CrcUpdate(crc, *byte);
        }
        const auto high = line_.ReceiveByte(kCrcByteLimitMs);
        const auto low = line_.ReceiveByte(kCrcByteLimitMs);
        line_.ExpectBytes(0);
        if (high != static_cast<std::uint8_t>(crc >> 8) || low != static_cast<std::uint8_t>(crc & 0xFF))
            return RefuseWhenQuiet();

        // Every frame the sender has sent so far is on disk now, so an EOT
        // is believable again.
        endCredible_ = true;
        if (repeat) {
            // Our ACK of this frame was lost; its data is already on disk.
            --freeRepeats_;
            Answer(kAck);
            next_ = Listen(kResyncLimitMs);
            return Outcome::Continue;
        }

        std::array<std::uint8_t, kBlockSize> kept{};
        std::size_t keptCount = 0;
        for (std::uint8_t byte : block_) {
            if (byte != 0)
                kept[keptCount++] = byte;
        }
        sink_.Write(kept.data(), keptCount);
        Answer(kAck);
        expected_ = static_cast<std::uint8_t>(expected_ + 1);
        ++accepted_;
        freeRepeats_ = kFreeRepeats;
        next_ = Listen(kResyncLimitMs);
        return Outcome::Accepted;
    }

    // A 0x04 where a frame could start. It ends the transfer only when the
    // line stays quiet after it, when nothing since our last ACK could have
    // been a frame we lack, and when the sender confirms it.
    Outcome TakeEnd() {
        ++bytes_;
        if (line_.ReadAttempt(kQuietMs)) {
            // Bytes follow at once: a frame whose SOH was lost (its number
            // may be 4), or noise in front of one.
            ++bytes_;
            return RefuseWhenQuiet();
        }
        if (!endCredible_)
            return Refuse(); // the sender must repeat the frame we refused
        // Before the first frame the sender may not have heard any start
        // request yet: one more 'C' starts it, and ours takes it for a
        // refusal of its EOT as well.
        Answer(accepted_ == 0 && !refusedAny_ ? kStartRequest : kNak);
        const Heard again = Listen(kEndConfirmMs);
        bytes_ = again.noise;
        if (again.start == kEot) {
            ++bytes_;
            if (!line_.ReadAttempt(kQuietMs)) {
                Answer(kAck);
                return Outcome::Done;
            }
            ++bytes_;
            return RefuseWhenQuiet();
        }
        if (again.start == kSoh)
            return TakeFrame(); // the sender still had frames: that 0x04 was noise
        if (again.noise >= kFrameEvidenceBytes)
            return Refuse();
        // No reply: a sender that sends its EOT once and waits 2 s for the ACK.
        Answer(kAck);
        return Linger();
    }

    // After acknowledging an unconfirmed EOT: a sender that was in fact
    // waiting for the answer to a frame takes that ACK for it and sends on,
    // or repeats its frame when its wait runs out; either brings a frame
    // start now, and the transfer goes on. Quiet means the end, and so does
    // a 0x01 with nothing after it: the sender of a frame sends the rest at
    // once, and a receiver that refused noise here would be left refusing
    // a sender that has gone.
    Outcome Linger() {
        for (int round = 1;; ++round) {
            if (accepted_ == 0 && !refusedAny_)
                line_.SendByte(kStartRequest); // a sender that never heard one
            const Heard heard = Listen(kEndLingerMs);
            bytes_ = heard.noise;
            if (heard.start == kSoh) {
                if (const auto next = line_.ReadAttempt(kQuietMs))
                    return TakeFrame(next);
                if (round >= kTries)
                    return Outcome::Done;
                continue;
            }
            if (heard.noise >= kFrameEvidenceBytes)
                return Refuse();
            if (heard.start != kEot || round >= kTries)
                return Outcome::Done;
            ++bytes_;
            if (line_.ReadAttempt(kQuietMs)) {
                ++bytes_;
                return RefuseWhenQuiet();
            }
            Answer(kAck); // our ACK of its EOT was lost
        }
    }

    // Lets the rest of a refused transmission go by, so that the sender
    // hears our NAK only when it waits for it and gets one NAK for it.
    Outcome RefuseWhenQuiet() {
        line_.ExpectBytes(0);
        const std::int64_t start = line_.Now();
        while (line_.Now() - start < kResyncLimitMs && line_.ReadAttempt(kQuietMs))
            ++bytes_;
        return Refuse();
    }

    Outcome Refuse() {
        // What we refuse may have been a frame: until a frame is accepted
        // again, an EOT could come from a sender that took some other answer
        // for the ACK of that frame.
        if (bytes_ >= kFrameEvidenceBytes)
            endCredible_ = false;
        refusedAny_ = true;
        Answer(kNak);
        next_ = Listen(kResyncLimitMs);
        return Outcome::Refused;
    }

    // Whatever is waiting now arrived before the sender could hear this
    // answer, so it is no reply to it.
    void Answer(std::uint8_t byte) {
        line_.DiscardInput();
        line_.SendByte(byte);
        line_.PauseMilliseconds(kPauseMs);
    }

    // Waits for the start of the next transmission. Bytes in front of a
    // frame start are skipped (noise before a frame does not spoil it); a
    // long run of them followed by quiet was a frame that lost its SOH, and
    // is refused without waiting out the limit.
    Heard Listen(std::int64_t limitMs) {
        line_.ExpectBytes(0);
        Heard heard;
        const std::int64_t start = line_.Now();
        for (;;) {
            const std::int64_t now = line_.Now();
            if (now - start >= limitMs)
                return heard;
            int timeout = AttemptTimeout(start, limitMs, now);
            if (heard.noise > 0)
                timeout = std::min(timeout, kQuietMs);
            const auto byte = line_.ReadAttempt(timeout);
            if (!byte) {
                if (heard.noise >= kFrameEvidenceBytes && timeout == kQuietMs)
                    return heard;
                continue;
            }
            if (*byte == kSoh || *byte == kEot) {
                heard.start = byte;
                return heard;
            }
            ++heard.noise;
        }
    }

    Line line_;
    DataSink& sink_;
    std::array<std::uint8_t, kBlockSize> block_{};
    Heard next_;
    std::uint8_t expected_ = 1;
    long accepted_ = 0;
    int tries_ = kTries;
    int freeRepeats_ = kFreeRepeats;
    int bytes_ = 0;           // of the transmission being taken
    bool endCredible_ = true; // every frame the sender may have sent is on disk
    bool refusedAny_ = false;
};

class Sender {
public:
    Sender(platform::serial::BytePort& port, platform::serial::Clock& clock, DataSource& source)
        : line_(port, clock), source_(source) {}

    int Run() {
        if (!line_.WaitForEither(kStartRequest, kStartRequest, kSenderStartLimitMs))
            return kTransferFailed;
        while (!source_.AtEnd()) {
            LoadBlock();
            if (!SendBlock())
                return kTransferFailed;
            number_ = static_cast<std::uint8_t>(number_ + 1);
        }
        return End();
    }

private:
    void LoadBlock() {
        const std::size_t got = source_.Read(block_.data(), block_.size());
        for (std::size_t i = got; i < block_.size(); ++i)
            block_[i] = kFill;
        const std::uint16_t crc = Crc16(block_.data(), block_.size());
        crcHigh_ = static_cast<std::uint8_t>(crc >> 8);
        crcLow_ = static_cast<std::uint8_t>(crc & 0xFF);
    }

    bool SendBlock() {
        for (int tries = kTries; tries > 0; --tries) {
            // Whatever waits now was sent before this frame (a receiver's
            // repeated 'C', a late answer to an earlier frame): read as the
            // answer to this one, it would put every later answer one frame
            // behind.
            line_.DiscardInput();
            const std::int64_t sentAt = line_.Now();
            line_.SendByte(kSoh);
            line_.SendByte(number_);
            line_.SendByte(static_cast<std::uint8_t>(255 - number_));
            for (std::uint8_t byte : block_)
                line_.SendByte(byte);
            line_.SendByte(crcHigh_);
            line_.SendByte(crcLow_);
            line_.PauseMilliseconds(kPauseMs);
            if (AwaitAnswer(sentAt + kFrameLineMs))
                return true;
        }
        return false;
    }

    // True for ACK. A byte that is neither ACK nor NAK is no answer (noise,
    // or a start request sent before our frame arrived), so the wait goes
    // on; the first ACK or NAK decides.
    bool AwaitAnswer(std::int64_t wireEnd) {
        const std::int64_t start = line_.Now();
        while (line_.Now() - start < kAnswerLimitMs) {
            const auto byte = line_.ReadAttempt(AttemptTimeout(start, kAnswerLimitMs, line_.Now()));
            if (byte == kAck)
                return true;
            if (byte == kNak) {
                Settle(wireEnd);
                return false;
            }
        }
        return false;
    }

    // After a refusal: a NAK that came before the frame could have left the
    // wire, or one made by the line, may be followed by the real answer.
    // That answer is let go by with everything else until the frame is out
    // and the line is quiet, so it is never read as the answer to the repeat.
    void Settle(std::int64_t wireEnd) {
        for (std::int64_t now = line_.Now(); now < wireEnd; now = line_.Now())
            line_.ReadAttempt(
                static_cast<int>(std::min<std::int64_t>(wireEnd - now, platform::serial::kReadTimeoutMs)));
        const std::int64_t start = line_.Now();
        while (line_.Now() - start < kResyncLimitMs && line_.ReadAttempt(kQuietMs)) {
        }
    }

    // EOT, then up to 2 s for its ACK. A receiver that refuses it with NAK,
    // or asks with 'C' (to make sure it was no line noise), gets it again
    // once the line is quiet, and so does one that stays silent (the EOT may
    // have been lost); ten EOTs in all. An ACK counts whenever it comes: the
    // receiver leaves right after sending it, so one let go by is lost for good.
    int End() {
        for (int sent = 1; sent <= kTries; ++sent) {
            line_.DiscardInput();
            line_.SendByte(kEot);
            const std::int64_t start = line_.Now();
            bool refused = false;
            while (line_.Now() - start < kEotAnswerLimitMs) {
                const int timeout = AttemptTimeout(start, kEotAnswerLimitMs, line_.Now());
                const auto byte = line_.ReadAttempt(refused ? std::min(timeout, kQuietMs) : timeout);
                if (byte == kAck)
                    return kTransferOk;
                if (byte == kNak || byte == kStartRequest)
                    refused = true;
                else if (!byte && refused)
                    break;
            }
        }
        return kTransferFailed;
    }

    Line line_;
    DataSource& source_;
    std::array<std::uint8_t, kBlockSize> block_{};
    std::uint8_t number_ = 1;
    std::uint8_t crcHigh_ = 0;
    std::uint8_t crcLow_ = 0;
};

} // namespace

int RunReceiver(platform::serial::BytePort& port, platform::serial::Clock& clock, DataSink& sink) {
    return Receiver(port, clock, sink).Run();
}

int RunSender(platform::serial::BytePort& port, platform::serial::Clock& clock, DataSource& source) {
    return Sender(port, clock, source).Run();
}

} // namespace serialxfer
