#include "imageconfig.h"

#include <algorithm>
#include <cstdlib>
#include <sstream>

namespace {

bool IsPartNumberText(const std::string& s) {
    return std::all_of(s.begin(), s.end(),
                       [](char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z'); });
}

}  // namespace

bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
}

bool ParseImageConfig(std::string_view text, ImageConfig* config, std::string* error) {
    ImageConfig c;
    std::istringstream in{std::string(text)};
    std::string line;
    int lineNo = 0;
    auto fail = [&](const std::string& why) {
        *error = "line " + std::to_string(lineNo) + ": " + why;
        return false;
    };
    while (std::getline(in, line)) {
        ++lineNo;
        if (auto hash = line.find('#'); hash != std::string::npos) line.erase(hash);
        std::istringstream words(line);
        std::string key;
        if (!(words >> key)) continue;
        std::vector<std::string> args;
        for (std::string w; words >> w;) args.push_back(w);
        if (key == "loader-family") {
            if (args.size() != 1 || args[0].size() != 4 || !IsPartNumberText(args[0]))
                return fail("loader-family takes one 4-character prefix");
            c.loaderFamily = args[0];
        } else if (key == "series") {
            if (args.size() != 1 || args[0].size() != 2 || !IsPartNumberText(args[0]))
                return fail("series takes one 2-character prefix");
            c.seriesPrefix = args[0];
        } else if (key == "fpga") {
            if (args.empty()) return fail("fpga takes prefixes");
            for (const auto& p : args) {
                if (p.size() < 5 || p.size() > 7 || !IsPartNumberText(p))
                    return fail("fpga prefix '" + p + "' is not 5 to 7 digits or capitals");
                c.fpgaPrefixes.push_back(p);
            }
        } else if (key == "cpu") {
            if (args.size() != 2 || args[0].size() != 7 || !IsPartNumberText(args[0]))
                return fail("cpu takes a 7-character part number and an id");
            char* end = nullptr;
            const long id = std::strtol(args[1].c_str(), &end, 10);
            if (*end != '\0' || id <= 0 || id > 65535) return fail("image id must be 1..65535");
            c.cpuRows.emplace_back(args[0], static_cast<int>(id));
        } else {
            return fail("unknown entry '" + key + "'");
        }
    }
    if (c.loaderFamily.empty() || c.seriesPrefix.empty()) {
        *error = "loader-family and series are required";
        return false;
    }
    *config = std::move(c);
    return true;
}

