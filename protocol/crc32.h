#pragma once

#include <cstddef>
#include <cstdint>

// Block checksum of the loader: reflected CRC-32 (0xEDB88320) without
// inversion; the register is returned byte-reversed, and that reversed value
// is the start value of the next block.
std::uint32_t UpdateCrc(const std::uint8_t* bytes, std::size_t length, std::uint32_t start);
