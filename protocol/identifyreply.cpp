#include "identifyreply.h"

#include <cctype>

std::string ScanPadded(const std::uint8_t* payload, unsigned length, unsigned from,
                       unsigned width) {
    auto isBlank = [](std::uint8_t c) { return std::isspace(c) != 0; };
    unsigned i = from;
    while (i < length && isBlank(payload[i])) ++i;
    std::string word;
    // A zero byte ends the text as it would end a C string.
    while (i < length && word.size() < width && payload[i] != 0 && !isBlank(payload[i]))
        word.push_back(static_cast<char>(payload[i++]));
    if (word.size() < width) word.insert(0, width - word.size(), ' ');
    return word;
}

std::optional<IdentifyReply> ParseIdentifyReply(const std::uint8_t* payload, unsigned length,
                                                std::string_view loaderFamily) {
    if (length < kIdentifyReplyMin) return std::nullopt;
    IdentifyReply r;
    r.partNumber = ScanPadded(payload, length, 0, 7);
    const bool family = r.partNumber.compare(0, loaderFamily.size(), loaderFamily) == 0;
    r.serial = ScanPadded(payload, length, 8, family ? 6 : 8);
    r.tail = ScanPadded(payload, length, 4, 3);
    r.bootOffered = payload[19] == '-' && payload[22] == '-';
    return r;
}
