#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

// One encoded frame: "$$", two type letters, kind, length N, N payload bytes,
// the XOR of the bytes from the letters to the payload's end, CR, LF.
struct EncodedFrame {
    static constexpr std::size_t kMaxPayload = 255;  // what the length byte can say
    std::array<std::uint8_t, 6 + kMaxPayload + 3> bytes{};
    std::size_t size = 0;
    const std::uint8_t* data() const { return bytes.data(); }
};

// Encodes a text command ("SS, B49,B54,", "AT": two type letters, then
// B/W/L/S tokens) into a frame with the given kind byte.
EncodedFrame EncodeCommand(std::string_view text, std::uint8_t kind);

// The "SX" frame of one 128-byte block: header bytes 0, 0, b2, offset >> 8
// and offset, then the block. b2 is the address before the block was taken,
// shifted right by 8. Each header byte is the low byte of its value, as the
// block's text command gave it: b2 and offset >> 8 pass 255 beyond 64 KiB.
EncodedFrame EncodeBlockFrame(std::uint8_t kind, std::uint32_t b2, std::uint32_t offset,
                              const std::uint8_t* block);
