#include "sha256sums.h"

#include <algorithm>
#include <optional>

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

std::string Quoted(std::string_view word) {
    constexpr std::size_t kShown = 60;
    return "'" + std::string(word.substr(0, kShown)) + (word.size() > kShown ? "...'" : "'");
}

bool IsHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// The path relative to the folder and without "." parts; nullopt when it
// climbs out.
std::optional<std::string> Normalized(std::string_view path) {
    std::vector<std::string_view> parts;
    while (!path.empty()) {
        const std::size_t slash = path.find('/');
        const std::string_view part = path.substr(0, slash);
        path = slash == std::string_view::npos ? std::string_view() : path.substr(slash + 1);
        if (part.empty() || part == ".") continue;
        if (part != "..") {
            parts.push_back(part);
        } else if (parts.empty()) {
            return std::nullopt;
        } else {
            parts.pop_back();
        }
    }
    std::string joined;
    for (const auto& part : parts) joined += (joined.empty() ? "" : "/") + std::string(part);
    return joined;
}

// sha256sum escapes a name holding a backslash or a line break and marks
// the line with a leading backslash.
std::optional<std::string> Unescaped(std::string_view path) {
    std::string out;
    for (std::size_t i = 0; i < path.size(); ++i) {
        if (path[i] != '\\') {
            out += path[i];
        } else if (++i < path.size() && (path[i] == '\\' || path[i] == 'n' || path[i] == 'r')) {
            out += path[i] == '\\' ? '\\' : path[i] == 'n' ? '\n' : '\r';
        } else {
            return std::nullopt;
        }
    }
    return out;
}

}  // namespace

bool ParseSha256Sums(std::string_view text, std::vector<Sha256SumsLine>* lines,
                     std::vector<std::pair<int, std::string>>* errors) {
    lines->clear();
    errors->clear();
    if (text.starts_with(kByteOrderMark)) {
        errors->emplace_back(1, "begins with a byte-order mark, which sha256sum never writes");
        text.remove_prefix(kByteOrderMark.size());
    }
    int lineNo = 0;
    while (!text.empty()) {
        ++lineNo;
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (line.ends_with('\r')) line.remove_suffix(1);  // written on Windows
        if (line.empty()) continue;
        const bool escaped = line.front() == '\\';
        if (escaped) line.remove_prefix(1);
        const bool shaped = line.size() > 66 &&
                            std::all_of(line.begin(), line.begin() + 64, IsHexDigit) &&
                            line[64] == ' ' && (line[65] == ' ' || line[65] == '*');
        const std::optional<std::string> path = !shaped ? std::nullopt
                                                : escaped
                                                    ? Unescaped(line.substr(66))
                                                    : std::optional<std::string>(line.substr(66));
        if (!path) {
            errors->emplace_back(lineNo, "not '<64 hex digits>  <path>' as sha256sum writes");
            continue;
        }
        if (path->front() == '/') {
            errors->emplace_back(lineNo, "refused: " + Quoted(*path) + " is an absolute path");
            continue;
        }
        std::optional<std::string> rel = Normalized(*path);
        if (!rel) {
            errors->emplace_back(lineNo,
                                 "refused: " + Quoted(*path) + " leaves the package folder");
            continue;
        }
        if (rel->empty()) {
            errors->emplace_back(lineNo, Quoted(*path) + " names no file");
            continue;
        }
        std::string sha256(line.substr(0, 64));
        std::transform(sha256.begin(), sha256.end(), sha256.begin(),
                       [](char c) { return c >= 'A' && c <= 'F' ? static_cast<char>(c + 32) : c; });
        lines->push_back({lineNo, std::move(sha256), std::move(*rel)});
    }
    return errors->empty();
}
