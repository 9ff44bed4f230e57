#include "transferrules.h"

#include <algorithm>
#include <cstring>

#include "imageconfig.h"

bool DecideFpga(const char* fpgaVersion, const char* bootVersion, std::string_view partNumber,
                const std::vector<std::string>& fpgaPrefixes) {
    if (std::strcmp(fpgaVersion, "2.000") <= 0 && std::strcmp(bootVersion, "3.400") < 0 &&
        bootVersion[0] != '\0')
        return true;
    return std::any_of(fpgaPrefixes.begin(), fpgaPrefixes.end(),
                       [&](const std::string& p) { return StartsWith(partNumber, p); });
}

long PatchBootSerial(std::vector<std::uint8_t>& image, std::string_view loaderFamily,
                     std::string_view serial, std::string_view tail) {
    const long limit = static_cast<long>(image.size()) - 32;
    if (loaderFamily.size() != 4) return -1;
    for (long i = 0; i < limit; ++i) {
        auto* p = image.data() + i;
        if (std::memcmp(p, loaderFamily.data(), 4) != 0 || p[16] != '/' || p[19] != '/') continue;
        // A serial or tail shorter than its field writes what it has; the
        // rest of the field keeps the image's own bytes.
        std::copy_n(serial.begin(), std::min<std::size_t>(serial.size(), 6), p + 5);
        std::copy_n(tail.begin(), std::min<std::size_t>(tail.size(), 3), p + 23);
        return i;
    }
    return -1;
}
