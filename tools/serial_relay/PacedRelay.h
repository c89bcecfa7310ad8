#pragma once
// A null-modem cable between two ends (each a pty for a program to open, or
// a file descriptor such as one end of a socket pair given to a child
// process) that delivers bytes no faster than a real line would: one byte per
// 10 bit times at the chosen baud rate. It can damage or drop chosen bytes.
#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace tools::serial_relay {

enum class Direction { AToB = 0, BToA = 1 };

struct Fault {
    bool drop = false;
    std::uint8_t xorMask = 0;         // applied when not dropped
    std::vector<std::uint8_t> insert; // noise that reaches the other end just before the byte

    static Fault Drop() {
        Fault f;
        f.drop = true;
        return f;
    }
    static Fault Corrupt(std::uint8_t mask = 0xFF) {
        Fault f;
        f.xorMask = mask;
        return f;
    }
    static Fault Insert(std::vector<std::uint8_t> bytes) {
        Fault f;
        f.insert = std::move(bytes);
        return f;
    }
};

struct EndSetting {
    // A pty is created and this symlink points at its slave side, unless fd
    // is given (then that descriptor is the end; the relay closes it).
    std::string linkPath;
    int fd = -1;
};

struct Options {
    EndSetting a;
    EndSetting b;
    int baud = 19200; // 0: no pacing
    // Faults by the index of the byte (0-based) in each direction.
    std::map<std::uint64_t, Fault> faults[2];
};

class PacedRelay {
public:
    explicit PacedRelay(Options options);
    ~PacedRelay();
    PacedRelay(const PacedRelay&) = delete;
    PacedRelay& operator=(const PacedRelay&) = delete;

    // Creates the ptys and links and starts relaying; false with a message
    // in Error() when that fails.
    bool Start();
    void Stop();
    const std::string& Error() const { return error_; }
    // The device path of a pty end (the link's target).
    std::string DevicePath(Direction from) const;

    std::uint64_t BytesSeen(Direction d) const { return seen_[static_cast<int>(d)].load(); }
    std::uint64_t BytesDelivered(Direction d) const { return delivered_[static_cast<int>(d)].load(); }

    // Adds a fault while running (index counts from the relay's start).
    void AddFault(Direction d, std::uint64_t index, Fault fault);

private:
    struct End {
        int fd = -1;     // what the relay reads and writes
        int holdFd = -1; // the pty slave kept open so the line survives reopening
        std::string device;
        std::string link;
    };
    bool OpenEnd(const EndSetting& setting, End& end);
    void Run();

    Options options_;
    End ends_[2];
    std::string error_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<std::uint64_t> seen_[2]{};
    std::atomic<std::uint64_t> delivered_[2]{};
    std::mutex faultMutex_;
    int wakePipe_[2]{-1, -1};
};

} // namespace tools::serial_relay
