// Fuzzes the parsing of the Microsoft OS descriptors that discovery asks
// every vendor-class USB device on the bus for. The input is exactly the
// bytes a device returned, handed over as an exact-size copy, so a read past
// them trips the sanitizer; whatever they say, nothing read comes from
// beyond them.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "msos_descriptor.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto code = MsOsVendorCode(data, size);
    FUZZ_CHECK(!code || (size > 16 && *code == data[16]));

    constexpr std::uint32_t kLimit = 4096;
    const std::uint32_t total = MsOsPropertiesLength(data, size, kLimit);
    FUZZ_CHECK(total == 0 || (total >= 10 && total <= kLimit && size >= 10));

    // Each GUID is text of two bytes per character the device sent.
    const std::vector<std::string> guids = ParseMsOsExtendedProperties(data, size);
    std::size_t characters = 0;
    for (const std::string& guid : guids) {
        FUZZ_CHECK(!guid.empty() && guid.find('\0') == std::string::npos);
        characters += guid.size();
    }
    FUZZ_CHECK(characters * 2 <= size);
    // What lies past the announced length is never looked at.
    if (size >= 10) {
        const std::size_t announced =
            data[0] | (data[1] << 8) | (data[2] << 16) | (static_cast<std::size_t>(data[3]) << 24);
        if (announced < size) {
            auto* cut = new std::uint8_t[announced];
            std::copy(data, data + announced, cut);
            FUZZ_CHECK(ParseMsOsExtendedProperties(cut, announced) == guids);
            delete[] cut;
        }
    }
    return 0;
}
