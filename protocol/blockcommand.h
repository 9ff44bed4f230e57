#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Appends, for each byte, the prefix and the byte's decimal value ("%s%d");
// returns the number of characters written.
std::size_t AppendByteTokens(std::string& out, const std::uint8_t* bytes, std::string_view prefix,
                             std::size_t count);

// "SX, B0, B0, B<b2>, B<offset>>8>, B<offset%256>" followed by ",B<byte>" for
// each of the 128 bytes. b2 is the address before the block was taken,
// shifted right by 8; offset is the block's offset. Values above 255 are
// written as they are: the frame keeps their low byte.
std::string BuildBlockCommand(std::uint32_t b2, std::uint32_t offset, const std::uint8_t* block);
