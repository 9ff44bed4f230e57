#pragma once

#include <QString>
#include <cstdint>
#include <vector>

struct UsbId {
    std::uint16_t vendor = 0;
    std::uint16_t product = 0;
    bool operator==(const UsbId&) const = default;
};

// "1234:5678,abcd:ef01" (hex, spaces allowed around entries). Malformed entries
// are skipped, the rest kept.
std::vector<UsbId> ParseUsbIdList(const QString& text);
