#include "simtexts.h"

#include <algorithm>

#include "receiversim.h"

namespace qsim {

std::string VersionRecord(const SimOptions& o) {
    if (!o.recordText.empty()) return o.recordText;
    std::string line = "GPSCAR COM1 \"" + o.serialNumber + "\" Z4OEM \"" + o.cpuVersion + "-" +
                       o.fpgaVersion + "\" \"" + o.bootVersion +
                       "\" \"2024/03/18\" \"09:41:27\" \"Z4 OEM GNSS receiver\" \"" + o.partNumber +
                       "\"";
    line += " *7f3a20c1\r\n";
    return line;
}

std::string LoaderSerial(const SimOptions& o) {
    if (!o.loaderSerial.empty()) return o.loaderSerial;
    const bool family = o.partNumber.compare(0, o.loaderFamily.size(), o.loaderFamily) == 0;
    return family ? "123456" : "12345678";
}

std::vector<std::uint8_t> IdentificationPayload(const SimOptions& o) {
    std::string text(25, ' ');
    std::string part = o.partNumber.substr(0, 7);
    std::copy(part.begin(), part.end(), text.begin());
    const std::string serial = LoaderSerial(o).substr(0, 8);
    std::copy(serial.begin(), serial.end(), text.begin() + 8);
    const std::string date = o.offerBootUpdate ? "24-03-18" : "24.03.18";
    std::copy(date.begin(), date.end(), text.begin() + 17);
    const std::string filler = " BOOT" + o.bootVersion + " CPU" + o.cpuVersion + " FPGA" +
                               o.fpgaVersion + " Z4 loader ready.";
    const std::size_t length = o.ssReplyLength < 0 ? 0 : static_cast<std::size_t>(o.ssReplyLength);
    while (text.size() < length) text += filler;
    text.resize(length);
    return std::vector<std::uint8_t>(text.begin(), text.end());
}

int LoaderBaud(const std::string& bootVersion) {
    // Compared as the quoted record token, so a version with a character
    // below '"' in it orders the same way the record's reader orders it.
    const std::string token = "\"" + bootVersion + "\"";
    return (token > "\"3.000\"" && token < "\"9.999\"") ? 115200 : 9600;
}

}  // namespace qsim
