#include "simcrc.h"

#include <array>

namespace qsim {
namespace {

std::array<std::uint32_t, 256> MakeTable() {
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t n = 0; n < 256; ++n) {
        std::uint32_t c = n;
        for (int bit = 0; bit < 8; ++bit) c = (c & 1u) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[n] = c;
    }
    return table;
}

std::uint32_t Reverse(std::uint32_t v) {
    return (v >> 24) | ((v >> 8) & 0x0000FF00u) | ((v << 8) & 0x00FF0000u) | (v << 24);
}

}  // namespace

std::uint32_t BlockCrc(const std::uint8_t* bytes, std::size_t length, std::uint32_t start) {
    static const std::array<std::uint32_t, 256> table = MakeTable();
    std::uint32_t c = start;
    for (std::size_t i = 0; i < length; ++i) c = (c >> 8) ^ table[(c ^ bytes[i]) & 0xFFu];
    return Reverse(c);
}

}  // namespace qsim
