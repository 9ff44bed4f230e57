#pragma once

#include <string>
#include <string_view>

// What the "GPSCAR" version record tells about a receiver. Each text is a
// zero-terminated 16-byte field as the main frame keeps it.
struct VersionRecord {
    char sn[16] = {};
    char cpu[16] = {};
    char fpga[16] = {};
    char boot[16] = {};
    bool loader115200 = false;  // boot version strictly between "3.000" and "9.999"
};

// Scans the collected text for a record whose "GPSCAR" starts more than 80
// characters before the end; tokens are split at every single blank (empty
// tokens count). Returns false when no complete record is there yet.
bool ParseVersionRecord(std::string_view text, VersionRecord* record);
