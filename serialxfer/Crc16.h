#pragma once
#include <cstddef>
#include <cstdint>

namespace serialxfer {

// CRC-16/XMODEM: polynomial 0x1021, initial value 0, no reflection, no final
// XOR. Table driven; CrcUpdateBitwise is the plain definition, kept for tests.
std::uint16_t CrcUpdate(std::uint16_t crc, std::uint8_t byte);
std::uint16_t CrcUpdateBitwise(std::uint16_t crc, std::uint8_t byte);
std::uint16_t Crc16(const std::uint8_t* data, std::size_t size);

} // namespace serialxfer
