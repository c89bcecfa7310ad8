#include "serialxfer/Protocol.h"

#include <algorithm>
#include <array>

#include "serialxfer/Crc16.h"

namespace veltrix {

std::optional<std::uint8_t> Line::ReadAttempt(int timeoutMs)
{
    const std::int64_t start = clock_.NowMs();
    std::uint8_t byte = 0;
    switch (port_.ReadByte(byte, timeoutMs)) {
    case serial::ReadStatus::Byte:
        return byte;
    case serial::ReadStatus::TimedOut:
        return std::nullopt;
    case serial::ReadStatus::Failed:
        break;
    }
    const std::int64_t spent = clock_.NowMs() - start;
    if (spent < timeoutMs)
        clock_.SleepMs(timeoutMs - spent);
    return std::nullopt;
}

namespace {

// A read attempt never waits past the end of the wait it belongs to, so a
// wait of N s ends after N s, not up to a read time-out later.
int AttemptTimeout(std::int64_t start, std::int64_t limitMs, std::int64_t now)
{
    const std::int64_t left = start + limitMs - now;
    return static_cast<int>(std::clamp<std::int64_t>(left, 1, serial::kReadTimeoutMs));
}

} // namespace

std::optional<std::uint8_t> Line::ReceiveByte(std::int64_t limitMs)
{
    const std::int64_t start = clock_.NowMs();
    do {
        if (auto byte = ReadAttempt(AttemptTimeout(start, limitMs, clock_.NowMs())))
            return byte;
    } while (clock_.NowMs() - start < limitMs);
    return std::nullopt;
}

std::optional<std::uint8_t> Line::WaitForEither(std::uint8_t a, std::uint8_t b, std::int64_t limitMs)
{
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
    Receiver(serial::BytePort& port, serial::Clock& clock, DataSink& sink) : line_(port, clock), sink_(sink) {}

    int Run()
    {
        std::optional<std::uint8_t> first = AwaitFirstFrame();
        if (!first)
            return kTransferFailed;
        for (;;) {
            switch (Decide(first)) {
            case Outcome::Done:
                return kTransferOk;
            case Outcome::Accepted:
                tries_ = kTries;
                break;
            case Outcome::Repeated:
                break;
            case Outcome::Refused:
                if (--tries_ <= 0)
                    return kTransferFailed;
                break;
            }
            first = next_;
        }
    }

private:
    enum class Outcome { Done, Accepted, Repeated, Refused };

    // Sends 'C' every 2 s, ten times at most, until SOH or EOT arrives. The
    // read attempt after the tenth 'C' is the last one; a frame start it
    // brings is still taken (the peer did answer).
    std::optional<std::uint8_t> AwaitFirstFrame()
    {
        line_.SendByte(kStartRequest);
        int sent = 1;
        std::int64_t lastRequest = line_.Now();
        bool lastAttempt = false;
        for (;;) {
            if (sent < kStartRequests && line_.Now() - lastRequest >= kStartRequestIntervalMs) {
                line_.SendByte(kStartRequest);
                ++sent;
                lastRequest = line_.Now();
                lastAttempt = sent == kStartRequests;
            }
            // Up to the next request's time, so they go out 2 s apart.
            const int timeout = lastAttempt ? serial::kReadTimeoutMs
                                            : AttemptTimeout(lastRequest, kStartRequestIntervalMs, line_.Now());
            auto byte = line_.ReadAttempt(timeout);
            if (byte && (*byte == kSoh || *byte == kEot))
                return byte;
            if (lastAttempt)
                return std::nullopt;
        }
    }

    void Refuse()
    {
        line_.SendByte(kNak);
        line_.PauseMilliseconds(kPauseMs);
    }

    void Resynchronise()
    {
        line_.ExpectBytes(0);
        next_ = line_.WaitForEither(kSoh, kEot, kResyncLimitMs);
    }

    // first: the byte that may start a frame, or nothing (silence).
    Outcome Decide(std::optional<std::uint8_t> first)
    {
        // Resynchronisation stops at any 0x04, also one inside the data of a
        // frame it skips; taken as EOT, that would end the transfer with
        // success and a truncated file. The sender waits after a real EOT.
        if (first == kEot && !line_.ReadAttempt(kEotQuietMs)) {
            line_.SendByte(kAck);
            line_.PauseMilliseconds(kPauseMs);
            return Outcome::Done;
        }
        if (first != kSoh) {
            // Nothing, noise, or an 0x04 with bytes after it.
            Refuse();
            Resynchronise();
            return Outcome::Refused;
        }

        line_.ExpectBytes(kFrameSize - 1);
        const auto number = line_.ReceiveByte(kFrameByteLimitMs);
        const auto complement = line_.ReceiveByte(kFrameByteLimitMs);
        const bool expected = number == expected_ && complement == static_cast<std::uint8_t>(255 - expected_);
        const std::uint8_t previous = static_cast<std::uint8_t>(expected_ - 1);
        const bool repeat = !expected && accepted_ > 0 && freeRepeats_ > 0 && number == previous &&
                            complement == static_cast<std::uint8_t>(255 - previous);
        if (!expected && !repeat) {
            // The rest of the frame is still arriving: skip it before refusing.
            // The sender sends nothing more until it has our answer, so when
            // the skipping found no frame start, wait for the repeat after the
            // NAK; otherwise the next round would refuse the silence once more
            // (a second try and a second NAK for one damaged frame).
            Resynchronise();
            Refuse();
            if (!next_)
                Resynchronise();
            return Outcome::Refused;
        }

        std::uint16_t crc = 0;
        for (int i = 0; i < kBlockSize; ++i) {
            const auto byte = line_.ReceiveByte(kFrameByteLimitMs);
            if (!byte) {
                Refuse();
                Resynchronise();
                return Outcome::Refused;
            }
            block_[i] = *byte;
            crc = CrcUpdate(crc, *byte);
        }
        const auto high = line_.ReceiveByte(kCrcByteLimitMs);
        const auto low = line_.ReceiveByte(kCrcByteLimitMs);
        line_.ExpectBytes(0);
        if (high != static_cast<std::uint8_t>(crc >> 8) || low != static_cast<std::uint8_t>(crc & 0xFF)) {
            Refuse();
            Resynchronise();
            return Outcome::Refused;
        }

        if (repeat) {
            // Our ACK of this frame was lost; its data is already on disk.
            --freeRepeats_;
            line_.SendByte(kAck);
            line_.PauseMilliseconds(kPauseMs);
            Resynchronise();
            return Outcome::Repeated;
        }

        std::array<std::uint8_t, kBlockSize> kept{};
        std::size_t keptCount = 0;
        for (std::uint8_t byte : block_) {
            if (byte != 0)
                kept[keptCount++] = byte;
        }
        sink_.Write(kept.data(), keptCount);
        line_.SendByte(kAck);
        line_.PauseMilliseconds(kPauseMs);
        expected_ = static_cast<std::uint8_t>(expected_ + 1);
        ++accepted_;
        freeRepeats_ = kFreeRepeats;
        Resynchronise();
        return Outcome::Accepted;
    }

    Line line_;
    DataSink& sink_;
    std::array<std::uint8_t, kBlockSize> block_{};
    std::optional<std::uint8_t> next_;
    std::uint8_t expected_ = 1;
    long accepted_ = 0;
    int tries_ = kTries;
    int freeRepeats_ = kFreeRepeats;
};

class Sender {
public:
    Sender(serial::BytePort& port, serial::Clock& clock, DataSource& source) : line_(port, clock), source_(source) {}

    int Run()
    {
        if (!line_.WaitForEither(kStartRequest, kStartRequest, kSenderStartLimitMs))
            return kTransferFailed;
        // A receiver started well before us has repeated its 'C' meanwhile.
        // Nothing has been sent yet, so nothing waiting can be an answer; left
        // there, the next 'C' would be taken as the refusal of frame 1 and
        // every later answer as the answer to the frame after its own.
        line_.DiscardInput();
        while (!source_.AtEnd()) {
            LoadBlock();
            if (!SendBlock())
                return kTransferFailed;
            number_ = static_cast<std::uint8_t>(number_ + 1);
        }
        return End();
    }

private:
    void LoadBlock()
    {
        const std::size_t got = source_.Read(block_.data(), block_.size());
        for (std::size_t i = got; i < block_.size(); ++i)
            block_[i] = kFill;
        const std::uint16_t crc = Crc16(block_.data(), block_.size());
        crcHigh_ = static_cast<std::uint8_t>(crc >> 8);
        crcLow_ = static_cast<std::uint8_t>(crc & 0xFF);
    }

    bool SendBlock()
    {
        for (int tries = kTries; tries > 0; --tries) {
            line_.SendByte(kSoh);
            line_.SendByte(number_);
            line_.SendByte(static_cast<std::uint8_t>(255 - number_));
            for (std::uint8_t byte : block_)
                line_.SendByte(byte);
            line_.SendByte(crcHigh_);
            line_.SendByte(crcLow_);
            line_.PauseMilliseconds(kPauseMs);
            if (line_.ReceiveByte(kAnswerLimitMs) == kAck)
                return true;
        }
        return false;
    }

    // EOT once, then up to 2 s for its ACK. A receiver that refuses the first
    // EOT with NAK (to make sure it was no line noise) gets it again.
    int End()
    {
        for (int sent = 1;; ++sent) {
            line_.SendByte(kEot);
            const auto answer = line_.WaitForEither(kAck, kNak, kEotAnswerLimitMs);
            if (answer == kAck)
                return kTransferOk;
            if (!answer || sent >= kTries)
                return kTransferFailed;
        }
    }

    Line line_;
    DataSource& source_;
    std::array<std::uint8_t, kBlockSize> block_{};
    std::uint8_t number_ = 1;
    std::uint8_t crcHigh_ = 0;
    std::uint8_t crcLow_ = 0;
};

} // namespace

int RunReceiver(serial::BytePort& port, serial::Clock& clock, DataSink& sink)
{
    return Receiver(port, clock, sink).Run();
}

int RunSender(serial::BytePort& port, serial::Clock& clock, DataSource& source)
{
    return Sender(port, clock, source).Run();
}

} // namespace veltrix
