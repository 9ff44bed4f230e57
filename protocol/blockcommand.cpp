#include "blockcommand.h"

#include <charconv>

#include "blocksource.h"

std::size_t AppendByteTokens(std::string& out, const std::uint8_t* bytes, std::string_view prefix,
                             std::size_t count) {
    const std::size_t before = out.size();
    char digits[4];
    for (std::size_t i = 0; i < count; ++i) {
        out.append(prefix);
        auto [end, ec] = std::to_chars(digits, digits + sizeof digits, bytes[i]);
        out.append(digits, end);
    }
    return out.size() - before;
}

std::string BuildBlockCommand(std::uint32_t b2, std::uint32_t offset, const std::uint8_t* block) {
    std::string text;
    text.reserve(32 + kBlockSize * 5);
    text = "SX, B0, B0, B";
    text += std::to_string(b2);
    text += ", B";
    text += std::to_string(offset >> 8);
    text += ", B";
    text += std::to_string(offset % 256);
    AppendByteTokens(text, block, ",B", kBlockSize);
    return text;
}
