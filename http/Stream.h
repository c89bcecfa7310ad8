// What Get writes a response body into: a sequence of bytes with a
// position, kept in memory (MemoryStream.h) or in a file (FileStream.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

// A stream could not keep what was written to it (a full disk, a
// file-size limit, a file that could not be created). Not a network
// failure: the download operations report it as a failed save.
class EStreamError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class TStream {
public:
    virtual ~TStream() = default;

    uint64_t Position = 0;

    virtual uint64_t Size() const = 0;
    // Writes at Position, growing the stream as needed; advances Position.
    virtual void Write(const uint8_t* bytes, std::size_t n) = 0;
    // Reads up to n bytes from Position; returns how many were read.
    virtual std::size_t Read(uint8_t* out, std::size_t n) = 0;
    // Cuts or extends the stream to n bytes.
    virtual void SetSize(uint64_t n) = 0;

    // The most the stream can hold; a body beyond it is refused.
    virtual uint64_t MaxSize() const { return UINT64_MAX; }
    // Room prepared for bytes to come, and a way to prepare more; a stream
    // that grows without copying has nothing to prepare.
    virtual uint64_t Capacity() const { return UINT64_MAX; }
    virtual void Reserve(uint64_t /*bytes*/) {}

    // Where the bytes that go to Position next may be received directly,
    // saving the copy Write makes: up to room bytes at the result, which
    // Wrote then takes as written. Null when the stream has no such place
    // (then Write is the way).
    virtual uint8_t* WriteBuffer(std::size_t& room) {
        room = 0;
        return nullptr;
    }
    // The first n bytes (n <= room) of the place WriteBuffer gave were
    // received: written at Position, which moves on, as by Write.
    virtual void Wrote(std::size_t /*n*/) {}
};
