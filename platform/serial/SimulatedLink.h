#pragma once
// Both ends of one simulated null-modem line on one simulated clock, for
// tests and fuzz targets that run a real sender against a real receiver.
// Each end is driven by its own thread (the transfer loops block in their
// reads and pauses), but only one thread runs at a time: a thread that
// waits hands over to the other when the other has something to do sooner,
// and otherwise simply moves the clock on. So a run is deterministic, and
// time-outs of many seconds cost no real time.
//
// Bytes cross the line at the line rate (10 bit times a byte), in order,
// like a real cable. A damage hook sees every byte written and may lose it,
// change it or put bytes in front of it; noise can also arrive at a chosen
// moment, in the middle of traffic or on a quiet line.
#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <limits>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "platform/serial/Clock.h"
#include "platform/serial/SerialPort.h"

namespace platform::serial {

class SimulatedLink {
public:
    // End 0 writes what end 1 reads and the other way round.
    enum Side : int { kEnd0 = 0, kEnd1 = 1 };

    struct Damage {
        bool drop = false;
        std::uint8_t xorMask = 0;         // applied when not dropped
        std::vector<std::uint8_t> before; // arrive ahead of the byte
    };
    // Called for the index-th byte (0-based) written at end `from`.
    using DamageHook = std::function<Damage(Side from, std::uint64_t index, std::uint8_t byte)>;

    explicit SimulatedLink(int baud = kBaudRate) : byteUs_(baud > 0 ? 10LL * 1000000 / baud : 0) {
        for (Side side : {kEnd0, kEnd1}) {
            ends_[side].link = this;
            ends_[side].side = side;
            clocks_[side].link = this;
            clocks_[side].side = side;
        }
    }
    SimulatedLink(const SimulatedLink&) = delete;
    SimulatedLink& operator=(const SimulatedLink&) = delete;

    void SetDamage(DamageHook hook) { damage_ = std::move(hook); }
    // A byte that arrives at the reader of `to` at atMs, whatever the line
    // is doing then (noise on a quiet line, or a stray byte among others).
    void AddNoise(Side to, std::int64_t atMs, std::uint8_t byte) {
        Insert(ends_[to].incoming, atMs * 1000, byte);
        ends_[to].arrived.push_back(Pending{atMs * 1000, byte});
    }

    BytePort& Port(Side side) { return ends_[side]; }
    Clock& ClockOf(Side side) { return clocks_[side]; }
    std::int64_t NowMs() const { return nowUs_ / 1000; }
    // Everything written at an end, before any damage.
    const std::vector<std::uint8_t>& Written(Side side) const { return ends_[side].written; }
    // Everything that reached an end (damaged, with the noise), in the order
    // of arrival, read or not.
    std::vector<std::uint8_t> Delivered(Side to) const {
        std::vector<Pending> all = ends_[to].arrived;
        std::stable_sort(all.begin(), all.end(), [](const Pending& a, const Pending& b) { return a.atUs < b.atUs; });
        std::vector<std::uint8_t> bytes;
        for (const Pending& p : all)
            bytes.push_back(p.byte);
        return bytes;
    }

    // Runs run0 on end 0 and run1 on end 1, each on its own thread, until
    // both have returned.
    void Run(const std::function<void()>& run0, const std::function<void()>& run1) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            turn_ = kEnd0;
            done_[0] = done_[1] = false;
        }
        std::thread second([&] {
            Wait(kEnd1, 0, false);
            run1();
            Finish(kEnd1);
        });
        run0();
        Finish(kEnd0);
        second.join();
    }

private:
    struct Pending {
        std::int64_t atUs;
        std::uint8_t byte;
    };

    class EndPort final : public BytePort {
    public:
        SimulatedLink* link = nullptr;
        Side side = kEnd0;
        std::deque<Pending> incoming; // ordered by arrival
        std::vector<Pending> arrived; // every byte that came, in the order it was sent
        std::vector<std::uint8_t> written;
        std::uint64_t writtenCount = 0;
        std::int64_t lineFreeUs = 0; // when this end's outgoing line is idle

        ReadStatus ReadByte(std::uint8_t& byte, int timeoutMs) override { return link->Read(side, byte, timeoutMs); }
        bool WriteByte(std::uint8_t byte) override {
            link->Write(side, byte);
            return true;
        }
        void DiscardInput() override {
            while (!incoming.empty() && incoming.front().atUs <= link->nowUs_)
                incoming.pop_front();
        }
    };

    class EndClock final : public Clock {
    public:
        SimulatedLink* link = nullptr;
        Side side = kEnd0;
        std::int64_t NowMs() override { return link->nowUs_ / 1000; }
        void SleepMs(std::int64_t ms) override {
            if (ms > 0)
                link->Wait(side, link->nowUs_ + ms * 1000, false);
        }
    };

    static void Insert(std::deque<Pending>& queue, std::int64_t atUs, std::uint8_t byte) {
        auto at = std::upper_bound(
            queue.begin(), queue.end(), atUs, [](std::int64_t t, const Pending& p) { return t < p.atUs; });
        queue.insert(at, Pending{atUs, byte});
    }

    void Write(Side from, std::uint8_t byte) {
        EndPort& out = ends_[from];
        EndPort& in = ends_[1 - from];
        out.written.push_back(byte);
        const std::uint64_t index = out.writtenCount++;
        Damage damage;
        if (damage_)
            damage = damage_(from, index, byte);
        auto send = [&](std::uint8_t b) {
            out.lineFreeUs = std::max(out.lineFreeUs, nowUs_) + byteUs_;
            Insert(in.incoming, out.lineFreeUs, b);
            in.arrived.push_back(Pending{out.lineFreeUs, b});
        };
        for (std::uint8_t extra : damage.before)
            send(extra);
        if (!damage.drop)
            send(static_cast<std::uint8_t>(byte ^ damage.xorMask));
        else
            out.lineFreeUs = std::max(out.lineFreeUs, nowUs_) + byteUs_; // the lost byte took its time
    }

    ReadStatus Read(Side side, std::uint8_t& byte, int timeoutMs) {
        std::deque<Pending>& in = ends_[side].incoming;
        if (in.empty() || in.front().atUs > nowUs_)
            Wait(side, nowUs_ + static_cast<std::int64_t>(std::max(timeoutMs, 0)) * 1000, true);
        if (!in.empty() && in.front().atUs <= nowUs_) {
            byte = in.front().byte;
            in.pop_front();
            return ReadStatus::Byte;
        }
        return ReadStatus::TimedOut;
    }

    // When a waiting end has something to do: its deadline, or the arrival
    // of its next byte when it waits for one.
    std::int64_t WakeOf(Side side) const {
        if (done_[side])
            return std::numeric_limits<std::int64_t>::max();
        std::int64_t wake = wake_[side];
        if (wantsInput_[side] && !ends_[side].incoming.empty())
            wake = std::min(wake, ends_[side].incoming.front().atUs);
        return wake;
    }

    // The calling end (which holds the turn) waits until deadlineUs, or
    // until a byte arrives when wantsInput. The end with the earlier wake-up
    // runs next; on a tie end 0 goes first.
    void Wait(Side side, std::int64_t deadlineUs, bool wantsInput) {
        std::unique_lock<std::mutex> lock(mutex_);
        wake_[side] = deadlineUs;
        wantsInput_[side] = wantsInput;
        const Side other = side == kEnd0 ? kEnd1 : kEnd0;
        for (;;) {
            turnChanged_.wait(lock, [&] { return turn_ == side; });
            const std::int64_t mine = WakeOf(side);
            const std::int64_t theirs = WakeOf(other);
            if (mine < theirs || (mine == theirs && side == kEnd0)) {
                nowUs_ = std::max(nowUs_, mine);
                return;
            }
            turn_ = other;
            turnChanged_.notify_all();
        }
    }

    void Finish(Side side) {
        std::lock_guard<std::mutex> lock(mutex_);
        done_[side] = true;
        turn_ = side == kEnd0 ? kEnd1 : kEnd0;
        turnChanged_.notify_all();
    }

    const std::int64_t byteUs_;
    DamageHook damage_;
    EndPort ends_[2];
    EndClock clocks_[2];
    std::int64_t nowUs_ = 0;
    std::mutex mutex_;
    std::condition_variable turnChanged_;
    Side turn_ = kEnd0; // the end that may run; the other sleeps
    std::int64_t wake_[2] = {0, 0};
    bool wantsInput_[2] = {false, false};
    bool done_[2] = {false, false};
};

} // namespace platform::serial
