// Shared pieces of the serial-transfer fuzz targets: an independent CRC-16
// (bit by bit, as the line format defines it) and the frame layout.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace fuzz {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint8_t kSoh = 0x01;
constexpr std::uint8_t kEot = 0x04;
constexpr std::uint8_t kAck = 0x06;
constexpr std::uint8_t kNak = 0x15;
constexpr std::uint8_t kStart = 'C';
constexpr std::uint8_t kFill = 0x1A;
constexpr std::size_t kBlock = 128;
constexpr std::size_t kFrame = 133;

inline std::uint16_t Crc(const std::uint8_t* data, std::size_t size) {
    std::uint16_t crc = 0;
    for (std::size_t i = 0; i < size; ++i) {
        crc = static_cast<std::uint16_t>(crc ^ (data[i] << 8));
        for (int bit = 0; bit < 8; ++bit)
            crc =
                (crc & 0x8000) ? static_cast<std::uint16_t>((crc << 1) ^ 0x1021) : static_cast<std::uint16_t>(crc << 1);
    }
    return crc;
}

inline Bytes Frame(std::uint8_t number, const std::uint8_t* block) {
    Bytes f{kSoh, number, static_cast<std::uint8_t>(255 - number)};
    f.insert(f.end(), block, block + kBlock);
    const std::uint16_t crc = Crc(block, kBlock);
    f.push_back(static_cast<std::uint8_t>(crc >> 8));
    f.push_back(static_cast<std::uint8_t>(crc & 0xFF));
    return f;
}

// A well-formed frame starts at line[at]: SOH, number, its complement, 128
// data bytes and their CRC.
inline bool ValidFrameAt(const Bytes& line, std::size_t at) {
    if (at + kFrame > line.size() || line[at] != kSoh || line[at + 2] != static_cast<std::uint8_t>(255 - line[at + 1]))
        return false;
    const std::uint16_t crc = Crc(line.data() + at + 3, kBlock);
    return line[at + 131] == (crc >> 8) && line[at + 132] == (crc & 0xFF);
}

} // namespace fuzz
