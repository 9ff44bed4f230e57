#include "imageconfig.h"

#include <algorithm>
#include <map>
#include <sstream>

namespace {

bool IsPartNumberText(const std::string& s) {
    return std::all_of(s.begin(), s.end(),
                       [](char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z'); });
}

// Decimal 1..65535, digits only; 0 for anything else.
int ParseImageId(std::string_view s) {
    if (s.empty() || s.size() > 5) return 0;
    int id = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return 0;
        id = id * 10 + (c - '0');
    }
    return id <= 65535 ? id : 0;
}

// Words come from an untrusted file: keep the messages short.
std::string Quoted(const std::string& word) {
    constexpr std::size_t kShown = 40;
    return "'" + (word.size() > kShown ? word.substr(0, kShown) + "..." : word) + "'";
}

}  // namespace

bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
}

bool ParseImageConfig(std::string_view text, ImageConfig* config,
                      std::vector<std::pair<int, std::string>>* errors) {
    ImageConfig c;
    errors->clear();
    std::map<std::string, int> partLines;  // where each part number was first given
    std::string line;
    int lineNo = 0;
    // Where each was first given: a malformed one is reported once, not as
    // missing too, and a second one is an error rather than the winner.
    int familyLine = 0;
    int seriesLine = 0;
    bool cpuGiven = false;
    auto fail = [&](std::string why) { errors->emplace_back(lineNo, std::move(why)); };
    // Invisible in an editor, and it would make the first word unknown.
    constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
    if (text.starts_with(kByteOrderMark)) {
        lineNo = 1;
        fail("begins with a byte-order mark; save the file as UTF-8 without one");
        lineNo = 0;
        text.remove_prefix(kByteOrderMark.size());
    }
    std::istringstream in{std::string(text)};
    while (std::getline(in, line)) {
        ++lineNo;
        if (auto hash = line.find('#'); hash != std::string::npos) line.erase(hash);
        std::istringstream words(line);
        std::string key;
        if (!(words >> key)) continue;
        std::vector<std::string> args;
        for (std::string w; words >> w;) args.push_back(w);
        if (key == "loader-family" || key == "series") {
            const bool family = key == "loader-family";
            int& first = family ? familyLine : seriesLine;
            const std::size_t size = family ? 4 : 2;
            if (first != 0)
                fail(key + " given twice (first on line " + std::to_string(first) + ")");
            else if (args.size() != 1 || args[0].size() != size || !IsPartNumberText(args[0]))
                fail(key + " takes one " + std::to_string(size) + "-character prefix");
            else
                (family ? c.loaderFamily : c.seriesPrefix) = args[0];
            if (first == 0) first = lineNo;
        } else if (key == "fpga") {
            if (args.empty()) fail("fpga takes prefixes");
            for (const auto& p : args) {
                if (p.size() < 5 || p.size() > 7 || !IsPartNumberText(p))
                    fail("fpga prefix " + Quoted(p) + " is not 5 to 7 digits or capitals");
                else
                    c.fpgaPrefixes.push_back(p);
            }
        } else if (key == "cpu") {
            cpuGiven = true;
            if (args.size() < 2) {
                fail("cpu takes a 7-character part number and an id");
                continue;
            }
            const std::size_t before = errors->size();
            const std::string& pn = args[0];
            if (pn.size() != 7 || !IsPartNumberText(pn)) {
                fail("part number " + Quoted(pn) + " is not 7 digits or capitals");
            } else if (auto [at, fresh] = partLines.emplace(pn, lineNo); !fresh) {
                fail("part number " + pn + " given twice (first on line " +
                     std::to_string(at->second) + ")");
            }
            const int cpuId = ParseImageId(args[1]);
            if (cpuId == 0) fail("image id " + Quoted(args[1]) + " must be 1..65535");
            int fpgaId = 0;
            int bootId = 0;
            for (std::size_t i = 2; i < args.size(); ++i) {
                const std::string& w = args[i];
                const bool isFpga = StartsWith(w, "fpga=");
                if (!isFpga && !StartsWith(w, "boot=")) {
                    fail(Quoted(w) + " is neither fpga=<id> nor boot=<id>");
                    continue;
                }
                int& slot = isFpga ? fpgaId : bootId;
                const std::string name = isFpga ? "fpga=" : "boot=";
                if (slot != 0) {
                    fail(name + " given twice");
                } else if ((slot = ParseImageId(std::string_view(w).substr(5))) == 0) {
                    slot = -1;  // a second one is still "given twice"
                    fail(name + " image id " + Quoted(w.substr(5)) + " must be 1..65535");
                }
            }
            if (errors->size() != before) continue;
            c.cpuRows.emplace_back(pn, cpuId);
            if (fpgaId > 0) c.fpgaRows.emplace_back(pn, fpgaId);
            if (bootId > 0) c.bootRows.emplace_back(pn, bootId);
        } else {
            fail("unknown entry " + Quoted(key));
        }
    }
    lineNo = 0;
    if (familyLine == 0) fail("loader-family is required");
    if (seriesLine == 0) fail("series is required");
    // Without one the update would restart the receiver into its loader
    // only to find nothing to send.
    if (!cpuGiven) fail("no cpu row: the package serves no receiver");
    *config = std::move(c);
    return errors->empty();
}

bool ParseImageConfig(std::string_view text, ImageConfig* config, std::string* error) {
    ImageConfig c;
    std::vector<std::pair<int, std::string>> errors;
    if (ParseImageConfig(text, &c, &errors)) {
        *config = std::move(c);
        return true;
    }
    const auto& [line, why] = errors.front();
    *error = line > 0 ? "line " + std::to_string(line) + ": " + why : why;
    return false;
}
