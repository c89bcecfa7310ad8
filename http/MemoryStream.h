// Growable in-memory byte stream, owned by the caller of Get.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class TMemoryStream {
public:
    std::vector<uint8_t> Data; // the bytes; Data.size() is the stream size
    std::size_t Position = 0;

    std::size_t Size() const { return Data.size(); }
    // Writes at Position, growing the stream as needed; advances Position.
    void Write(const uint8_t* bytes, std::size_t n);
    // Reads up to n bytes from Position; returns how many were read.
    std::size_t Read(uint8_t* out, std::size_t n);
    // Cuts or extends the stream to n bytes.
    void SetSize(std::size_t n);
    void Clear() { Data.clear(); Position = 0; }
};
