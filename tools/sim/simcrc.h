#pragma once

#include <cstddef>
#include <cstdint>

namespace qsim {

// The loader's block checksum, written apart from the updater's so that both
// sides cannot share one mistake: reflected CRC-32 register (0xEDB88320), no
// inversion, result returned byte-reversed; that reversed value starts the
// next block.
std::uint32_t BlockCrc(const std::uint8_t* bytes, std::size_t length, std::uint32_t start);

}  // namespace qsim
