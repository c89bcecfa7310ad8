#pragma once
// Peer devices for the simulated line: a receiver that checks every frame it
// gets and a sender that serves a file, each with hooks that damage or lose
// chosen bytes, so the tool's side can be tested without a tty and without
// waiting for real time-outs.
#include <algorithm>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "platform/serial/SimulatedLine.h"
#include "serialxfer/Crc16.h"
#include "serialxfer/Protocol.h"

namespace tests::serialxfer {

using Bytes = std::vector<std::uint8_t>;

inline Bytes MakeFrame(std::uint8_t number, const Bytes& block128) {
    Bytes frame(3 + block128.size() + 2);
    frame[0] = ::serialxfer::kSoh;
    frame[1] = number;
    frame[2] = static_cast<std::uint8_t>(255 - number);
    std::copy(block128.begin(), block128.end(), frame.begin() + 3);
    const std::uint16_t crc = ::serialxfer::Crc16(block128.data(), block128.size());
    frame[frame.size() - 2] = static_cast<std::uint8_t>(crc >> 8);
    frame[frame.size() - 1] = static_cast<std::uint8_t>(crc & 0xFF);
    return frame;
}

// Splits data into 128-byte blocks, the last one filled with 0x1A.
inline std::vector<Bytes> Blocks(const Bytes& data) {
    std::vector<Bytes> blocks;
    for (std::size_t at = 0; at < data.size(); at += 128) {
        Bytes block(
            data.begin() + static_cast<long>(at), data.begin() + static_cast<long>(std::min(data.size(), at + 128)));
        block.resize(128, ::serialxfer::kFill);
        blocks.push_back(block);
    }
    return blocks;
}

// What the tool's receiver should leave on disk for data.
inline Bytes ExpectedReceived(const Bytes& data) {
    Bytes out;
    for (const Bytes& block : Blocks(data))
        for (std::uint8_t b : block)
            if (b != 0)
                out.push_back(b);
    return out;
}

// Receives frames from the tool's sender and answers them.
class ReceiverPeer : public platform::serial::LinePeer {
public:
    struct Frame {
        Bytes raw; // all 133 bytes
        bool valid = false;
    };
    // Decides the answer to frame attempt n (0-based over all attempts);
    // nullopt answers nothing. Default: ACK a valid frame, NAK another.
    std::function<std::optional<std::uint8_t>(std::size_t attempt, const Frame&)> answer;
    // Answers to the EOTs in order; after the list, ACK.
    std::vector<std::optional<std::uint8_t>> eotAnswers;
    std::int64_t answerDelayMs = 70;

    std::vector<Frame> frames;
    int eots = 0;
    Bytes stray; // bytes outside frames other than EOT

    void OnByte(platform::serial::PeerOutput& port, std::uint8_t byte) override {
        if (current_.empty() && byte != ::serialxfer::kSoh) {
            if (byte == ::serialxfer::kEot) {
                const std::optional<std::uint8_t> reply =
                    static_cast<std::size_t>(eots) < eotAnswers.size() ? eotAnswers[eots] : ::serialxfer::kAck;
                ++eots;
                if (reply)
                    port.Deliver(*reply, answerDelayMs);
            } else {
                stray.push_back(byte);
            }
            return;
        }
        current_.push_back(byte);
        if (current_.size() < static_cast<std::size_t>(::serialxfer::kFrameSize))
            return;
        Frame frame;
        frame.raw = current_;
        current_.clear();
        const Bytes data(frame.raw.begin() + 3, frame.raw.begin() + 131);
        const std::uint16_t crc = ::serialxfer::Crc16(data.data(), data.size());
        frame.valid = frame.raw[2] == static_cast<std::uint8_t>(255 - frame.raw[1]) && frame.raw[131] == (crc >> 8) &&
                      frame.raw[132] == (crc & 0xFF);
        const std::size_t attempt = frames.size();
        frames.push_back(frame);
        std::optional<std::uint8_t> reply = frame.valid ? ::serialxfer::kAck : ::serialxfer::kNak;
        if (answer)
            reply = answer(attempt, frame);
        if (reply)
            port.Deliver(*reply, answerDelayMs);
    }

private:
    Bytes current_;
};

// Serves data as frames to the tool's receiver.
class SenderPeer : public platform::serial::LinePeer {
public:
    explicit SenderPeer(Bytes data) : blocks_(Blocks(data)) {}

    // May change the frame of an attempt (0-based over all attempts) before
    // it goes out: damage it, shorten it, renumber it.
    std::function<void(std::size_t attempt, std::size_t block, Bytes& frame)> damage;
    // Returns true when the answer to an attempt is lost on the way: the peer
    // then repeats the frame after its own time-out.
    std::function<bool(std::size_t attempt, std::uint8_t answer)> loseAnswer;
    // Stop after this many blocks were acknowledged (as if the device died).
    std::size_t stopAfter = SIZE_MAX;
    std::int64_t frameDelayMs = 1;
    std::int64_t lostAnswerTimeoutMs = 3000;
    // Start requests to let pass before answering one (a late device).
    int ignoreStartRequests = 0;
    // Sends the EOT again when the receiver answers it with NAK or 'C';
    // otherwise it sends it once and waits only for the ACK.
    bool eotAgainWhenAsked = false;

    std::size_t attempts = 0;
    std::size_t acked = 0;
    int startRequests = 0;
    bool eotAcked = false;
    Bytes answers;      // every byte the tool sent after its first 'C'
    Bytes frameAnswers; // the same, up to the peer's EOT

    void OnByte(platform::serial::PeerOutput& port, std::uint8_t byte) override {
        if (!started_) {
            if (byte == ::serialxfer::kStartRequest) {
                if (++startRequests <= ignoreStartRequests)
                    return;
                started_ = true;
                SendCurrent(port, frameDelayMs);
            }
            return;
        }
        answers.push_back(byte);
        if (!eotSent_)
            frameAnswers.push_back(byte);
        if (eotSent_) {
            if (byte == ::serialxfer::kAck)
                eotAcked = true;
            else if (eotAgainWhenAsked && !eotAcked &&
                     (byte == ::serialxfer::kNak || byte == ::serialxfer::kStartRequest))
                port.Deliver(::serialxfer::kEot, frameDelayMs);
            return;
        }
        if (loseAnswer && loseAnswer(attempts - 1, byte)) {
            SendCurrent(port, lostAnswerTimeoutMs);
            return;
        }
        if (byte == ::serialxfer::kAck) {
            ++acked;
            ++block_;
        } else if (byte != ::serialxfer::kNak) {
            return; // not an answer; keep waiting
        }
        SendCurrent(port, frameDelayMs);
    }

private:
    void SendCurrent(platform::serial::PeerOutput& port, std::int64_t delay) {
        if (acked >= stopAfter)
            return;
        if (block_ >= blocks_.size()) {
            eotSent_ = true;
            port.Deliver(::serialxfer::kEot, delay);
            return;
        }
        Bytes frame = MakeFrame(static_cast<std::uint8_t>(block_ + 1), blocks_[block_]);
        if (damage)
            damage(attempts, block_, frame);
        ++attempts;
        port.Deliver(frame, delay);
    }

    std::vector<Bytes> blocks_;
    std::size_t block_ = 0;
    bool started_ = false;
    bool eotSent_ = false;
};

} // namespace tests::serialxfer
