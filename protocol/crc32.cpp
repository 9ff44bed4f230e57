#include "crc32.h"

#include <array>

namespace {

constexpr std::array<std::uint32_t, 256> MakeTable() {
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t c = i;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
        table[i] = c;
    }
    return table;
}

constexpr auto kTable = MakeTable();

}  // namespace

std::uint32_t UpdateCrc(const std::uint8_t* bytes, std::size_t length, std::uint32_t start) {
    std::uint32_t c = start;
    for (std::size_t i = 0; i < length; ++i) c = (c >> 8) ^ kTable[(c ^ bytes[i]) & 0xFF];
    return __builtin_bswap32(c);
}
