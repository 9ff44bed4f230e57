#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Whether a CPU update also sends the FPGA image: old FPGA with an old, known
// boot loader always; otherwise when the part number has an FPGA prefix.
bool DecideFpga(const char* fpgaVersion, const char* bootVersion, std::string_view partNumber,
                const std::vector<std::string>& fpgaPrefixes);

// Writes the receiver's serial number and part-number tail into the first
// loader-family record of a boot image: the 4-byte prefix at i with '/' at
// i+16 and i+19, searched while i < size - 32. Returns the record's offset,
// or -1 when the image has none (it is then sent unchanged).
long PatchBootSerial(std::vector<std::uint8_t>& image, std::string_view loaderFamily,
                     std::string_view serial, std::string_view tail);
