// Fuzzes the SHA256SUMS parser, which reads files from firmware packages
// anyone may hand out: whatever the text, it must not crash, every path it
// accepts must stay inside the package folder, and what it accepts must read
// back the same when written out as sha256sum writes it.
#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "fuzz_check.h"
#include "sha256sums.h"

namespace {

bool StaysInside(const std::string& path) {
    if (path.empty() || path.front() == '/') return false;
    std::string_view rest = path;
    while (true) {
        const std::size_t slash = rest.find('/');
        const std::string_view part = rest.substr(0, slash);
        if (part.empty() || part == "." || part == "..") return false;
        if (slash == std::string_view::npos) return true;
        rest.remove_prefix(slash + 1);
    }
}

// One line as sha256sum writes it.
std::string Written(const Sha256SumsLine& line) {
    std::string path;
    bool escaped = false;
    for (char c : line.path) {
        if (c == '\\' || c == '\n' || c == '\r') {
            escaped = true;
            path += c == '\\' ? "\\\\" : c == '\n' ? "\\n" : "\\r";
        } else {
            path += c;
        }
    }
    return (escaped ? "\\" : "") + line.sha256 + "  " + path + "\n";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::vector<Sha256SumsLine> lines;
    std::vector<std::pair<int, std::string>> errors;
    const bool ok = ParseSha256Sums(text, &lines, &errors);
    FUZZ_CHECK(ok == errors.empty());
    const int count = static_cast<int>(std::count(text.begin(), text.end(), '\n')) + 1;
    int last = 1;
    for (const auto& [line, why] : errors) {
        FUZZ_CHECK(!why.empty());
        FUZZ_CHECK(line >= last && line <= count);
        last = line;
    }
    last = 0;
    std::string again;
    for (const Sha256SumsLine& line : lines) {
        FUZZ_CHECK(line.line > last && line.line <= count);
        last = line.line;
        FUZZ_CHECK(line.sha256.size() == 64);
        FUZZ_CHECK(std::all_of(line.sha256.begin(), line.sha256.end(), [](char c) {
            return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
        }));
        FUZZ_CHECK(StaysInside(line.path));
        again += Written(line);
    }

    std::vector<Sha256SumsLine> reread;
    FUZZ_CHECK(ParseSha256Sums(again, &reread, &errors));
    FUZZ_CHECK(reread.size() == lines.size());
    for (std::size_t i = 0; i < lines.size(); ++i) {
        FUZZ_CHECK(reread[i].line == static_cast<int>(i) + 1);
        FUZZ_CHECK(reread[i].sha256 == lines[i].sha256 && reread[i].path == lines[i].path);
    }
    return 0;
}
