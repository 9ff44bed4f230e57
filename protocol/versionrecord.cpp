#include "versionrecord.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

// Copies the characters at [from, from + count) of the token, or as many as
// the token has: a short or truncated token never reads past its end.
void CopyField(std::string_view token, std::size_t from, std::size_t count, char (&field)[16]) {
    std::memset(field, 0, sizeof field);
    if (from >= token.size()) return;
    const std::size_t n = std::min(count, token.size() - from);
    std::memcpy(field, token.data() + from, n);
}

}  // namespace

bool ParseVersionRecord(std::string_view text, VersionRecord* record) {
    constexpr std::string_view kTag = "GPSCAR";
    // Signed so that a short text simply has no start positions.
    const long long limit = static_cast<long long>(text.size()) - 80;
    for (long long pos = 0; pos < limit; ++pos) {
        const auto p = static_cast<std::size_t>(pos);
        if (text.compare(p, kTag.size(), kTag) != 0) continue;

        std::vector<std::string_view> tokens;
        std::string_view rest = text.substr(p);
        while (tokens.size() < 6) {
            const std::size_t blank = rest.find(' ');
            tokens.push_back(rest.substr(0, blank));
            if (blank == std::string_view::npos) break;
            rest.remove_prefix(blank + 1);
        }
        if (tokens.size() < 6) continue;  // the record is not complete at this match

        VersionRecord r;
        CopyField(tokens[2], 1, 8, r.sn);
        CopyField(tokens[4], 1, 5, r.cpu);
        CopyField(tokens[4], 7, 5, r.fpga);
        CopyField(tokens[5], 1, 5, r.boot);
        r.loader115200 =
            tokens[5] > std::string_view("\"3.000\"") && tokens[5] < std::string_view("\"9.999\"");
        *record = r;
        return true;
    }
    return false;
}
