#include "msos_descriptor.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace {

std::uint32_t Le32(const std::uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

std::uint16_t Le16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

// UTF-16LE with ASCII content, as the property names and GUIDs are.
std::string Utf16Ascii(const std::uint8_t* p, std::size_t bytes) {
    std::string text;
    for (std::size_t i = 0; i + 1 < bytes; i += 2) {
        const std::uint16_t c = Le16(p + i);
        text.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    }
    return text;
}

std::string GuidCore(const std::string& text) {
    std::string core;
    for (char c : text) {
        if (c == '{' || c == '}' || c == ' ' || c == '\0') continue;
        core.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
    }
    return core;
}

constexpr std::uint8_t kStringDescriptor = 3;
constexpr std::uint16_t kExtendedProperties = 5;  // the descriptor's wIndex

}  // namespace

std::optional<std::uint8_t> MsOsVendorCode(const std::uint8_t* data, std::size_t len) {
    static constexpr std::uint8_t kSignature[] = {'M', 0,   'S', 0,   'F', 0,   'T',
                                                  0,   '1', 0,   '0', 0,   '0', 0};
    // The code is byte 16: within what arrived and within the length the
    // descriptor gives itself.
    if (!data || len < 17 || data[0] < 17 || data[1] != kStringDescriptor ||
        std::memcmp(data + 2, kSignature, sizeof kSignature) != 0)
        return std::nullopt;
    return data[16];
}

std::uint32_t MsOsPropertiesLength(const std::uint8_t* data, std::size_t len, std::uint32_t limit) {
    if (!data || len < 10 || Le16(data + 6) != kExtendedProperties) return 0;
    const std::uint32_t total = Le32(data);
    return total < 10 ? 0 : std::min(total, limit);
}

std::vector<std::string> ParseMsOsExtendedProperties(const std::uint8_t* data, std::size_t len) {
    std::vector<std::string> guids;
    constexpr std::size_t kHeader = 10;
    // A section: size (4), type (4), name length (2), name, value length (4), value.
    constexpr std::uint32_t kSectionFixed = 14;
    if (!data || len < kHeader || Le16(data + 6) != kExtendedProperties) return guids;
    // The descriptor may claim less than arrived, even less than its header.
    len = std::min<std::size_t>(len, Le32(data));
    if (len < kHeader) return guids;
    const unsigned sections = Le16(data + 8);
    std::size_t at = kHeader;
    for (unsigned s = 0; s < sections; ++s) {
        // at <= len holds: each section below was checked to fit.
        if (len - at < kSectionFixed) break;
        const std::uint32_t size = Le32(data + at);
        const std::uint32_t type = Le32(data + at + 4);
        const std::uint16_t nameLength = Le16(data + at + 8);
        // No sum of lengths here can wrap: nameLength is 16 bits, and the
        // value length is compared with what is left, not added to the rest.
        if (size < kSectionFixed + nameLength || size > len - at) break;
        const std::uint8_t* name = data + at + 10;
        const std::uint32_t valueLength = Le32(name + nameLength);
        if (valueLength > size - kSectionFixed - nameLength) break;
        std::string propertyName = Utf16Ascii(name, nameLength);
        propertyName.erase(propertyName.find_last_not_of('\0') + 1);
        const std::string value = Utf16Ascii(name + nameLength + 4, valueLength);
        const bool guidName =
            propertyName == "DeviceInterfaceGUID" || propertyName == "DeviceInterfaceGUIDs";
        if (guidName && (type == 1 || type == 7)) {
            // A string ends at its NUL; a multi-string (type 7) is NUL-separated.
            std::size_t start = 0;
            while (start < value.size()) {
                std::size_t end = value.find('\0', start);
                if (end == std::string::npos) end = value.size();
                if (end > start) guids.push_back(value.substr(start, end - start));
                if (type == 1) break;
                start = end + 1;
            }
        }
        at += size;
    }
    return guids;
}

bool SameInterfaceClass(const std::string& a, const std::string& b) {
    return !GuidCore(a).empty() && GuidCore(a) == GuidCore(b);
}
