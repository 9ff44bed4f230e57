#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

// One line of a SHA256SUMS file.
struct Sha256SumsLine {
    int line = 0;        // 1-based
    std::string sha256;  // 64 lower-case hex digits
    std::string path;    // relative to the package folder, no ".", ".." or empty parts
};

// Parses a SHA256SUMS file as sha256sum writes it ("<hex>  <path>" or
// "<hex> *<path>", a leading backslash marking an escaped name; CR LF line
// ends accepted). Paths that are absolute or climb out of the folder are
// errors, as is anything else malformed; errors are (line, message) in file
// order. lines holds the good lines, in file order.
bool ParseSha256Sums(std::string_view text, std::vector<Sha256SumsLine>* lines,
                     std::vector<std::pair<int, std::string>>* errors);
