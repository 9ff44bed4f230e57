#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The loader's answer to the "SS" poll.
struct IdentifyReply {
    std::string partNumber;    // "%7s": right-aligned in 7 characters
    std::string serial;        // "%6s" for the loader family, else "%8s"
    std::string tail;          // "%3s" from offset 4
    bool bootOffered = false;  // '-' at offsets 19 and 22
};

inline constexpr unsigned kIdentifyReplyMin = 25;

// Nothing for a payload shorter than 25 bytes.
std::optional<IdentifyReply> ParseIdentifyReply(const std::uint8_t* payload, unsigned length,
                                                std::string_view loaderFamily);

// A "%Ns" scan at payload offset 'from' (leading white space skipped, at most
// width non-blank characters, never past the payload), then "%Ns" formatting.
std::string ScanPadded(const std::uint8_t* payload, unsigned length, unsigned from, unsigned width);
