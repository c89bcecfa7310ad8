// Growable in-memory byte stream, owned by the caller of Get.
#pragma once

#include "http/Stream.h"

#include <cstddef>
#include <cstdint>
#include <vector>

class TMemoryStream : public TStream {
public:
    // Memory is not the disk: no body is held beyond this, whatever the
    // server declares or sends.
    static constexpr uint64_t kMaxSize = uint64_t{2048} * 1024 * 1024;

    std::vector<uint8_t> Data; // the bytes; Data.size() is the stream size

    uint64_t Size() const override { return Data.size(); }
    void Write(const uint8_t* bytes, std::size_t n) override;
    std::size_t Read(uint8_t* out, std::size_t n) override;
    void SetSize(uint64_t n) override;
    void Clear() {
        Data.clear();
        Position = 0;
    }

    uint64_t MaxSize() const override { return kMaxSize; }
    uint64_t Capacity() const override { return Data.capacity(); }
    // Moves the bytes into a block of the given capacity, advised for large
    // pages before the copy touches it (a big body is otherwise dominated by
    // page faults). Throws std::bad_alloc or std::length_error.
    void Reserve(uint64_t bytes) override;
};
