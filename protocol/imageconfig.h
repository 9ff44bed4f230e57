#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// The firmware versions images bring, as a receiver's version record reports
// them ("5.200"); empty where the package does not say.
struct FirmwareVersions {
    std::string cpu, fpga, boot;
    bool Any() const { return !cpu.empty() || !fpga.empty() || !boot.empty(); }
    bool operator==(const FirmwareVersions&) const = default;
};

// Configuration delivered with the firmware images.
struct ImageConfig {
    std::vector<std::pair<std::string, int>> cpuRows;  // part number, CPU image id, in file order
    std::string loaderFamily;                          // 4 characters
    std::string seriesPrefix;                          // 2 characters
    std::vector<std::string> fpgaPrefixes;             // 5, 6 or 7 characters each
    // From "fpga=<id>" and "boot=<id>" on a cpu row: part number, image id, in file order.
    std::vector<std::pair<std::string, int>> fpgaRows;
    std::vector<std::pair<std::string, int>> bootRows;
    // What the images bring: the whole package's, and a row's where it differs.
    FirmwareVersions versions;
    std::vector<std::pair<std::string, FirmwareVersions>> rowVersions;

    // The versions a part number's images bring: its row's over the package's.
    FirmwareVersions VersionsFor(std::string_view partNumber) const;
    // The versions every part number gets alike; nothing when rows differ.
    std::optional<FirmwareVersions> CommonVersions() const;
};

// Parses the configuration text; false with a message naming the line on
// anything malformed, so a broken data file is caught at build-test time.
// The message is the first of those the overload below lists.
bool ParseImageConfig(std::string_view text, ImageConfig* config, std::string* error);

// The same, listing every problem as (line, message); line 0 for what is
// missing from the whole file. Unlike the overload above, config is filled
// even on failure, with whatever was understood, so that a package check
// can go on to the images the good rows name.
bool ParseImageConfig(std::string_view text, ImageConfig* config,
                      std::vector<std::pair<int, std::string>>* errors);

bool StartsWith(std::string_view text, std::string_view prefix);
