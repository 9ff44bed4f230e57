// Fuzzes the images.conf parser, which reads files from firmware packages
// anyone may hand out: whatever the text, it must not crash, what it accepts
// must be well formed and read back the same, and its two overloads must
// agree on the verdict and the first error.
#include <algorithm>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include "fuzz_check.h"
#include "imageconfig.h"

namespace {

using Rows = std::vector<std::pair<std::string, int>>;
using Errors = std::vector<std::pair<int, std::string>>;

bool IsPartNumberText(const std::string& s, std::size_t min, std::size_t max) {
    return s.size() >= min && s.size() <= max && std::all_of(s.begin(), s.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z');
           });
}

auto Fields(const ImageConfig& c) {
    return std::tie(c.cpuRows, c.fpgaRows, c.bootRows, c.loaderFamily, c.seriesPrefix,
                    c.fpgaPrefixes);
}

// Every row names a known cpu part number, each at most once.
void CheckRows(const Rows& rows, const std::set<std::string>* cpuParts) {
    std::set<std::string> seen;
    for (const auto& [partNumber, id] : rows) {
        FUZZ_CHECK(IsPartNumberText(partNumber, 7, 7));
        FUZZ_CHECK(id >= 1 && id <= 65535);
        FUZZ_CHECK(seen.insert(partNumber).second);
        FUZZ_CHECK(cpuParts == nullptr || cpuParts->count(partNumber) == 1);
    }
}

std::string IdWord(const char* name, const Rows& rows, const std::string& partNumber) {
    for (const auto& [pn, id] : rows)
        if (pn == partNumber) return std::string(" ") + name + "=" + std::to_string(id);
    return {};
}

// The accepted configuration in the file's own form.
std::string Written(const ImageConfig& c) {
    std::string text = "loader-family " + c.loaderFamily + "\nseries " + c.seriesPrefix + "\n";
    for (const auto& prefix : c.fpgaPrefixes) text += "fpga " + prefix + "\n";
    for (const auto& [partNumber, id] : c.cpuRows)
        text += "cpu " + partNumber + " " + std::to_string(id) +
                IdWord("boot", c.bootRows, partNumber) + IdWord("fpga", c.fpgaRows, partNumber) +
                "\n";
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    ImageConfig all;
    Errors errors;
    const bool ok = ParseImageConfig(text, &all, &errors);
    FUZZ_CHECK(ok == errors.empty());
    const int lines = static_cast<int>(std::count(text.begin(), text.end(), '\n')) + 1;
    int last = 1;
    for (const auto& [line, why] : errors) {
        FUZZ_CHECK(!why.empty());
        // In file order; what the whole file lacks comes last.
        FUZZ_CHECK(line == 0 || (line >= last && line <= lines));
        FUZZ_CHECK(last != 0 || line == 0);
        last = line;
    }

    ImageConfig single;
    single.loaderFamily = "untouched";
    std::string error;
    FUZZ_CHECK(ParseImageConfig(text, &single, &error) == ok);
    if (!ok) {
        const auto& [line, why] = errors.front();
        FUZZ_CHECK(error == (line > 0 ? "line " + std::to_string(line) + ": " + why : why));
        FUZZ_CHECK(single.loaderFamily == "untouched");
        return 0;
    }
    FUZZ_CHECK(Fields(single) == Fields(all));
    FUZZ_CHECK(IsPartNumberText(all.loaderFamily, 4, 4));
    FUZZ_CHECK(IsPartNumberText(all.seriesPrefix, 2, 2));
    for (const auto& prefix : all.fpgaPrefixes) FUZZ_CHECK(IsPartNumberText(prefix, 5, 7));
    CheckRows(all.cpuRows, nullptr);
    std::set<std::string> cpuParts;
    for (const auto& row : all.cpuRows) cpuParts.insert(row.first);
    CheckRows(all.fpgaRows, &cpuParts);
    CheckRows(all.bootRows, &cpuParts);

    ImageConfig again;
    FUZZ_CHECK(ParseImageConfig(Written(all), &again, &errors));
    FUZZ_CHECK(Fields(again) == Fields(all));
    return 0;
}
