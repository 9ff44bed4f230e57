#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qsim {

struct SimOptions;

// The answer to "log version": one "GPSCAR" record line. Tokens are separated
// by single blanks: 2 the quoted serial number, 4 the quoted CPU and FPGA
// versions joined by "-", 5 the quoted boot version; more fields follow so
// that the line is well over 80 characters long.
std::string VersionRecord(const SimOptions& options);

// The loader's identification ("SS" answer payload): part number at 0, serial
// number at 8, a date at 17..24 whose separators at 19 and 22 are "-" when a
// boot update is offered ("." otherwise), filler after that; exactly
// options.ssReplyLength bytes, so a short reply can be made on purpose.
std::vector<std::uint8_t> IdentificationPayload(const SimOptions& options);

// The serial number the loader reports: options.loaderSerial, or a default
// of the width the part number calls for (6 in the loader family, else 8).
std::string LoaderSerial(const SimOptions& options);

// The loader listens at 115200 when the boot version lies strictly between
// "3.000" and "9.999" (compared as byte strings), else at 9600.
int LoaderBaud(const std::string& bootVersion);

}  // namespace qsim
