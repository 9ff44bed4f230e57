#include "frameencoder.h"

#include <algorithm>
#include <cctype>

#include "blocksource.h"

namespace {

constexpr std::uint8_t kDollar = 0x24;
constexpr std::uint8_t kBlockPayload = 5 + kBlockSize;  // B0..B4, then the block

bool IsLetter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// A "%d" scan of the text after a token letter: blanks, a sign, digits. No
// digit means no number, and the token adds no byte.
bool ScanDecimal(std::string_view text, std::size_t pos, std::uint32_t* value) {
    while (pos < text.size() && std::isspace(static_cast<unsigned char>(text[pos]))) ++pos;
    bool negative = false;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) negative = text[pos++] == '-';
    if (pos >= text.size() || !std::isdigit(static_cast<unsigned char>(text[pos]))) return false;
    std::uint32_t v = 0;  // only the low 32 bits are ever written
    for (; pos < text.size() && std::isdigit(static_cast<unsigned char>(text[pos])); ++pos)
        v = v * 10u + static_cast<std::uint32_t>(text[pos] - '0');
    *value = negative ? 0u - v : v;
    return true;
}

// Kind at 4, length at 5, then the checksum and the line end after the
// payload that ends at `end`.
void CloseFrame(EncodedFrame& f, std::uint8_t kind, std::size_t end) {
    auto& out = f.bytes;
    out[4] = kind;
    out[5] = static_cast<std::uint8_t>(end - 6);
    std::uint8_t x = 0;
    for (std::size_t i = 2; i < end; ++i) x ^= out[i];
    out[end] = x;
    out[end + 1] = 0x0D;
    out[end + 2] = 0x0A;
    f.size = end + 3;
}

}  // namespace

EncodedFrame EncodeCommand(std::string_view text, std::uint8_t kind) {
    // The commands sent as text are a few bytes long; a longer text is cut
    // where its frame is full rather than written past it.
    constexpr std::size_t kEnd = 6 + EncodedFrame::kMaxPayload;
    EncodedFrame f;
    auto& out = f.bytes;
    out[0] = out[1] = kDollar;
    std::size_t pos = 2;
    bool separator = false;
    for (std::size_t i = 0; i < text.size() && pos < kEnd; ++i) {
        const char c = text[i];
        if (pos < 6) {
            if (IsLetter(c)) {
                out[pos++] = static_cast<std::uint8_t>(c);
                if (pos == 4) pos = 6;
            }
            continue;
        }
        if (c == ',' || c == ' ') {
            separator = true;
            continue;
        }
        if (!separator) continue;
        const char t = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        if (t == 'S') {
            // The rest is copied as it stands.
            const std::size_t n = std::min(text.size() - i - 1, kEnd - pos);
            std::copy_n(text.begin() + static_cast<std::ptrdiff_t>(i + 1), n,
                        out.begin() + static_cast<std::ptrdiff_t>(pos));
            pos += n;
            break;
        }
        int width = t == 'B' ? 1 : t == 'W' ? 2 : t == 'L' ? 4 : 0;
        std::uint32_t v = 0;
        if (width == 0 || !ScanDecimal(text, i + 1, &v)) continue;
        for (int b = 0; b < width && pos < kEnd; ++b)
            out[pos++] = static_cast<std::uint8_t>(v >> (8 * b));
        separator = false;
    }
    // A text without two letters still gets its kind and length at 4 and 5.
    CloseFrame(f, kind, std::max<std::size_t>(pos, 6));
    return f;
}

EncodedFrame EncodeBlockFrame(std::uint8_t kind, std::uint32_t b2, std::uint32_t offset,
                              const std::uint8_t* block) {
    EncodedFrame f;
    auto& out = f.bytes;
    out[0] = out[1] = kDollar;
    out[2] = 'S';
    out[3] = 'X';
    // B0 and B1 (offsets 6 and 7) stay 0.
    out[8] = static_cast<std::uint8_t>(b2);
    out[9] = static_cast<std::uint8_t>(offset >> 8);
    out[10] = static_cast<std::uint8_t>(offset);
    std::copy_n(block, kBlockSize, out.begin() + 11);
    CloseFrame(f, kind, 6 + kBlockPayload);
    return f;
}
