#include "textescape.h"

#include <cstdint>
#include <cstdio>

namespace {

void AppendHex(std::string& out, const char* format, unsigned value) {
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, format, value);
    out += buffer;
}

// The length of the well-formed UTF-8 sequence at text[i] and its code
// point; 0 for a byte that begins none (overlong forms and surrogates
// included).
std::size_t Utf8Sequence(std::string_view text, std::size_t i, std::uint32_t* codePoint) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[i + k]); };
    const unsigned char lead = byte(0);
    std::size_t length = 0;
    std::uint32_t value = 0;
    std::uint32_t minimum = 0;
    if (lead < 0x80) {
        *codePoint = lead;
        return 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, value = lead & 0x1F, minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, value = lead & 0x0F, minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, value = lead & 0x07, minimum = 0x10000;
    } else {
        return 0;
    }
    if (text.size() - i < length) return 0;
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(k) & 0xC0) != 0x80) return 0;
        value = (value << 6) | (byte(k) & 0x3F);
    }
    if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
    *codePoint = value;
    return length;
}

}  // namespace

std::string EscapedForDisplay(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        std::uint32_t codePoint = 0;
        const std::size_t length = Utf8Sequence(text, i, &codePoint);
        if (length == 0) {
            AppendHex(out, "\\x%02x", static_cast<unsigned char>(text[i]));
            ++i;
            continue;
        }
        if (codePoint < 0x20 || codePoint == 0x7F)
            AppendHex(out, "\\x%02x", codePoint);
        else if (codePoint >= 0x80 && codePoint <= 0x9F)
            AppendHex(out, "\\u%04x", codePoint);
        else if (codePoint == 0xFEFF)
            out += "<byte-order mark>";
        else
            out.append(text.substr(i, length));
        i += length;
    }
    return out;
}
