#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

// Configuration delivered with the firmware images.
struct ImageConfig {
    std::vector<std::pair<std::string, int>> cpuRows;  // part number, CPU image id, in file order
    std::string loaderFamily;                          // 4 characters
    std::string seriesPrefix;                          // 2 characters
    std::vector<std::string> fpgaPrefixes;             // 5, 6 or 7 characters each
};

// Parses the configuration text; false with a message naming the line on
// anything malformed, so a broken data file is caught at build-test time.
bool ParseImageConfig(std::string_view text, ImageConfig* config, std::string* error);

bool StartsWith(std::string_view text, std::string_view prefix);
