#pragma once

// Firmware for tests that run whole updates: the loader family's one CPU
// part, and images of pseudo-random bytes, so that a block sent twice or out
// of order shows in the received image.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "imageconfig.h"

// Part Q4B1C20 of loader family Q4B1 takes CPU image 1.
inline ImageConfig OneCpuPartConfig() {
    ImageConfig c;
    c.loaderFamily = "Q4B1";
    c.seriesPrefix = "Q4";
    c.cpuRows = {{"Q4B1C20", 1}};
    return c;
}

inline std::vector<std::uint8_t> RandomImage(std::size_t size, unsigned seed) {
    std::vector<std::uint8_t> b(size);
    std::uint32_t x = seed;
    for (auto& v : b) v = static_cast<std::uint8_t>((x = x * 1664525u + 1013904223u) >> 24);
    return b;
}
