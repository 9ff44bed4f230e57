// Fuzzes the frame encoder with arbitrary command text. Input: the kind byte,
// then the text.
//
// Checks the frame's shape (at most 259 bytes, length byte = size - 9,
// checksum, CR LF), compares it with a plain encoder that reads numbers with
// sscanf("%d"), and reads short frames back through the parser.
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "codec_recorder.h"
#include "frameencoder.h"
#include "fuzz_check.h"
#include "navformat.h"

using codec_test::Bytes;

namespace {

// Number of digits a "%d" scan would read at the start of s, blanks and
// sign skipped.
std::size_t DigitRun(const std::string& s) {
    std::size_t i = 0;
    while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i]))) ++i;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    std::size_t n = 0;
    while (i + n < s.size() && std::isdigit(static_cast<unsigned char>(s[i + n]))) ++n;
    return n;
}

// The encoding rules written out plainly. Returns false when the text holds a
// number that overflows a "%d" scan, where no value is defined to compare.
bool ReferenceEncode(std::string_view input, std::uint8_t kind, Bytes* out) {
    const std::string text(input.substr(0, 1023));
    Bytes f{'$', '$'};
    int letters = 0;
    bool separator = false;
    for (std::size_t i = 0; i < text.size() && f.size() < 256; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (letters < 2) {
            if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) {
                f.push_back(c);
                if (++letters == 2) f.insert(f.end(), {0, 0});
            }
            continue;
        }
        if (c == ',' || c == ' ') {
            separator = true;
            continue;
        }
        if (!separator) continue;
        const std::string rest = text.substr(i + 1);
        const int t = std::toupper(c);
        if (t == 'S') {
            f.insert(f.end(), rest.begin(), rest.end());
            if (f.size() > 256) f.resize(256);
            break;
        }
        const int width = t == 'B' ? 1 : t == 'W' ? 2 : t == 'L' ? 4 : 0;
        if (width == 0) continue;
        if (DigitRun(rest) > 18) return false;
        int value = 0;
        // rest is a std::string: sscanf stops at an embedded NUL, as a
        // non-digit stops the encoder.
        if (std::sscanf(rest.c_str(), "%d", &value) != 1) continue;
        for (int b = 0; b < width && f.size() < 256; ++b)
            f.push_back(static_cast<std::uint8_t>(static_cast<std::uint32_t>(value) >> (8 * b)));
        separator = false;
    }
    f.resize(std::max<std::size_t>(f.size(), 6));
    f[4] = kind;
    f[5] = static_cast<std::uint8_t>(f.size() - 6);
    std::uint8_t x = 0;
    for (std::size_t i = 2; i < f.size(); ++i) x ^= f[i];
    f.insert(f.end(), {x, '\r', '\n'});
    *out = f;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::uint8_t kind = data[0];
    const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
    const EncodedFrame f = EncodeCommand(text, kind);

    FUZZ_CHECK(f.size >= 9 && f.size <= 259);
    FUZZ_CHECK(f.bytes[0] == '$' && f.bytes[1] == '$');
    FUZZ_CHECK(f.bytes[4] == kind);
    FUZZ_CHECK(f.bytes[5] == f.size - 9);
    std::uint8_t x = 0;
    for (std::size_t i = 2; i < f.size - 3; ++i) x ^= f.bytes[i];
    FUZZ_CHECK(f.bytes[f.size - 3] == x);
    FUZZ_CHECK(f.bytes[f.size - 2] == '\r' && f.bytes[f.size - 1] == '\n');

    Bytes want;
    if (ReferenceEncode(text, kind, &want)) FUZZ_CHECK(Bytes(f.data(), f.data() + f.size) == want);

    // Frames the parser can hold read back with the same payload; it takes
    // no frame whose kind has bit 3 set. A frame it cannot take is dropped at
    // its length byte, and the parser then hunts through the payload, where
    // text copied by an S token may hold a frame of its own: anything it
    // accepts then must lie inside the payload.
    const unsigned n = f.bytes[5];
    const bool readable = n <= CQuillmereNavFormat::kMaxPayload && (kind & 0x08) == 0;
    CQuillmereNavFormat parser;
    int completed = 0;
    for (std::size_t i = 0; i < f.size; ++i) {
        if (!parser.ParseByte(f.bytes[i])) continue;
        ++completed;
        if (readable) {
            FUZZ_CHECK(i == f.size - 1);
        } else {
            const std::size_t start = i + 1 - (parser.PayloadLen() + 9u);
            FUZZ_CHECK(i + 1 >= parser.PayloadLen() + 9u && start >= 6);
        }
    }
    if (readable) {
        FUZZ_CHECK(completed == 1);
        FUZZ_CHECK(parser.PayloadLen() == n);
        FUZZ_CHECK(Bytes(parser.Payload(), parser.Payload() + n) ==
                   Bytes(f.data() + 6, f.data() + 6 + n));
    }
    return 0;
}
