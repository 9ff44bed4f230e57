#include <gtest/gtest.h>

#include <string_view>
#include <vector>

#include "crc32.h"

namespace {
std::uint32_t Crc(std::string_view s, std::uint32_t start = 0) {
    return UpdateCrc(reinterpret_cast<const std::uint8_t*>(s.data()), s.size(), start);
}
}  // namespace

TEST(Crc, AbcFromZero) {
    EXPECT_EQ(Crc("abc"), 0xD09865CAu);
}

TEST(Crc, EmptyInputReturnsTheStartByteReversed) {
    EXPECT_EQ(Crc("", 0), 0u);
    EXPECT_EQ(Crc("", 0x11223344u), 0x44332211u);
}

TEST(Crc, ChainsThroughTheReversedValue) {
    // Feeding the reversed result back in must continue the same register:
    // over "abcdef" in one go the register equals the chained one.
    const std::uint32_t whole = Crc("abcdef");
    const std::uint32_t first = Crc("abc");
    EXPECT_NE(Crc("def", first), whole)
        << "the chain restarts from the reversed value, not the register";
    EXPECT_EQ(Crc("def", __builtin_bswap32(first)), whole);
}

TEST(Crc, NoInversionMeansZerosKeepAZeroRegister) {
    std::vector<std::uint8_t> zeros(128, 0);
    EXPECT_EQ(UpdateCrc(zeros.data(), zeros.size(), 0), 0u);
}
