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

// One reading of the text: what it gave, and where each thing was first given.
class ConfigReader {
public:
    explicit ConfigReader(std::vector<std::pair<int, std::string>>* errors) : m_errors(errors) {}

    void Read(std::string_view text);
    ImageConfig& Config() { return m_config; }

private:
    void Fail(std::string why) { m_errors->emplace_back(m_lineNo, std::move(why)); }
    void Line(const std::string& line);
    void Prefix(const std::string& key, const std::vector<std::string>& args);
    void Fpga(const std::vector<std::string>& args);
    void Cpu(const std::vector<std::string>& args);
    // The "fpga=<id>" and "boot=<id>" words of a cpu row, from index 2 on.
    void ImageIds(const std::vector<std::string>& args, int* fpgaId, int* bootId);
    void Versions(const std::vector<std::string>& args);

    std::vector<std::pair<int, std::string>>* m_errors;
    ImageConfig m_config;
    std::map<std::string, int> m_partLines;  // where each part number was first given
    int m_lineNo = 0;
    // Where each was first given: a malformed one is reported once, not as
    // missing too, and a second one is an error rather than the winner.
    int m_familyLine = 0;
    int m_seriesLine = 0;
    bool m_cpuGiven = false;
    int m_versionsLine = 0;
    std::map<std::string, int> m_rowVersionLines;
};

void ConfigReader::Read(std::string_view text) {
    // Invisible in an editor, and it would make the first word unknown.
    constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
    if (text.starts_with(kByteOrderMark)) {
        m_lineNo = 1;
        Fail("begins with a byte-order mark; save the file as UTF-8 without one");
        text.remove_prefix(kByteOrderMark.size());
    }
    std::istringstream in{std::string(text)};
    m_lineNo = 0;
    for (std::string line; std::getline(in, line);) {
        ++m_lineNo;
        Line(line);
    }
    m_lineNo = 0;
    if (m_familyLine == 0) Fail("loader-family is required");
    if (m_seriesLine == 0) Fail("series is required");
    // Without one the update would restart the receiver into its loader
    // only to find nothing to send.
    if (!m_cpuGiven) Fail("no cpu row: the package serves no receiver");
    for (const auto& [pn, line] : m_rowVersionLines) {
        if (m_partLines.count(pn) != 0) continue;
        m_lineNo = line;
        Fail("versions for " + pn + ", which has no cpu row");
    }
    m_lineNo = 0;
}

void ConfigReader::Line(const std::string& text) {
    std::string line = text;
    if (auto hash = line.find('#'); hash != std::string::npos) line.erase(hash);
    std::istringstream words(line);
    std::string key;
    if (!(words >> key)) return;
    std::vector<std::string> args;
    for (std::string w; words >> w;) args.push_back(w);
    if (key == "loader-family" || key == "series")
        Prefix(key, args);
    else if (key == "fpga")
        Fpga(args);
    else if (key == "cpu")
        Cpu(args);
    else if (key == "versions")
        Versions(args);
    else
        Fail("unknown entry " + Quoted(key));
}

void ConfigReader::Prefix(const std::string& key, const std::vector<std::string>& args) {
    const bool family = key == "loader-family";
    int& first = family ? m_familyLine : m_seriesLine;
    const std::size_t size = family ? 4 : 2;
    if (first != 0)
        Fail(key + " given twice (first on line " + std::to_string(first) + ")");
    else if (args.size() != 1 || args[0].size() != size || !IsPartNumberText(args[0]))
        Fail(key + " takes one " + std::to_string(size) + "-character prefix");
    else
        (family ? m_config.loaderFamily : m_config.seriesPrefix) = args[0];
    if (first == 0) first = m_lineNo;
}

void ConfigReader::Fpga(const std::vector<std::string>& args) {
    if (args.empty()) Fail("fpga takes prefixes");
    for (const auto& p : args) {
        if (p.size() < 5 || p.size() > 7 || !IsPartNumberText(p))
            Fail("fpga prefix " + Quoted(p) + " is not 5 to 7 digits or capitals");
        else
            m_config.fpgaPrefixes.push_back(p);
    }
}

void ConfigReader::Cpu(const std::vector<std::string>& args) {
    m_cpuGiven = true;
    if (args.size() < 2) {
        Fail("cpu takes a 7-character part number and an id");
        return;
    }
    const std::size_t before = m_errors->size();
    const std::string& pn = args[0];
    if (pn.size() != 7 || !IsPartNumberText(pn)) {
        Fail("part number " + Quoted(pn) + " is not 7 digits or capitals");
    } else if (auto [at, fresh] = m_partLines.emplace(pn, m_lineNo); !fresh) {
        Fail("part number " + pn + " given twice (first on line " + std::to_string(at->second) +
             ")");
    }
    const int cpuId = ParseImageId(args[1]);
    if (cpuId == 0) Fail("image id " + Quoted(args[1]) + " must be 1..65535");
    int fpgaId = 0;
    int bootId = 0;
    ImageIds(args, &fpgaId, &bootId);
    if (m_errors->size() != before) return;
    m_config.cpuRows.emplace_back(pn, cpuId);
    if (fpgaId > 0) m_config.fpgaRows.emplace_back(pn, fpgaId);
    if (bootId > 0) m_config.bootRows.emplace_back(pn, bootId);
}

void ConfigReader::ImageIds(const std::vector<std::string>& args, int* fpgaId, int* bootId) {
    for (std::size_t i = 2; i < args.size(); ++i) {
        const std::string& w = args[i];
        const bool isFpga = StartsWith(w, "fpga=");
        if (!isFpga && !StartsWith(w, "boot=")) {
            Fail(Quoted(w) + " is neither fpga=<id> nor boot=<id>");
            continue;
        }
        int& slot = isFpga ? *fpgaId : *bootId;
        const std::string name = isFpga ? "fpga=" : "boot=";
        if (slot != 0) {
            Fail(name + " given twice");
        } else if ((slot = ParseImageId(std::string_view(w).substr(5))) == 0) {
            slot = -1;  // a second one is still "given twice"
            Fail(name + " image id " + Quoted(w.substr(5)) + " must be 1..65535");
        }
    }
}

// As the receiver's version record reports them: "5.200".
bool IsVersionText(std::string_view s) {
    return !s.empty() && s.size() <= 16 && std::all_of(s.begin(), s.end(), [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
               c == '.' || c == '-' || c == '_';
    });
}

// "versions [<part number>] cpu=<v> [fpga=<v>] [boot=<v>]": without a part
// number, what every row's images bring; with one, where that row differs.
void ConfigReader::Versions(const std::vector<std::string>& args) {
    std::size_t i = 0;
    std::string pn;
    if (!args.empty() && args[0].find('=') == std::string::npos) pn = args[i++];
    if (!pn.empty() && (pn.size() != 7 || !IsPartNumberText(pn))) {
        Fail("part number " + Quoted(pn) + " is not 7 digits or capitals");
        return;
    }
    int& first = pn.empty() ? m_versionsLine : m_rowVersionLines[pn];
    if (first != 0) {
        Fail((pn.empty() ? std::string("versions") : "versions for " + pn) +
             " given twice (first on line " + std::to_string(first) + ")");
        return;
    }
    first = m_lineNo;
    if (i == args.size()) Fail("versions takes cpu=<version>, fpga=<version> or boot=<version>");
    FirmwareVersions v;
    for (; i < args.size(); ++i) {
        const std::string& w = args[i];
        const auto eq = w.find('=');
        const std::string name = w.substr(0, eq);
        std::string* slot = name == "cpu"    ? &v.cpu
                            : name == "fpga" ? &v.fpga
                            : name == "boot" ? &v.boot
                                             : nullptr;
        if (eq == std::string::npos || slot == nullptr)
            Fail(Quoted(w) + " is none of cpu=, fpga=, boot=");
        else if (!slot->empty())
            Fail(name + "= given twice");
        else if (!IsVersionText(std::string_view(w).substr(eq + 1)))
            Fail(name + " version " + Quoted(w.substr(eq + 1)) +
                 " is not 1 to 16 letters, digits, '.', '-' or '_'");
        else
            *slot = w.substr(eq + 1);
    }
    if (pn.empty())
        m_config.versions = v;
    else
        m_config.rowVersions.emplace_back(pn, v);
}

}  // namespace

bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
}

bool ParseImageConfig(std::string_view text, ImageConfig* config,
                      std::vector<std::pair<int, std::string>>* errors) {
    errors->clear();
    ConfigReader reader(errors);
    reader.Read(text);
    *config = std::move(reader.Config());
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

FirmwareVersions ImageConfig::VersionsFor(std::string_view partNumber) const {
    FirmwareVersions v = versions;
    for (const auto& [part, row] : rowVersions) {
        if (part != partNumber) continue;
        if (!row.cpu.empty()) v.cpu = row.cpu;
        if (!row.fpga.empty()) v.fpga = row.fpga;
        if (!row.boot.empty()) v.boot = row.boot;
    }
    return v;
}

std::optional<FirmwareVersions> ImageConfig::CommonVersions() const {
    // Before the loader names its part number only what all rows share is known.
    for (const auto& [part, row] : rowVersions)
        if (VersionsFor(part) != versions) return std::nullopt;
    return versions;
}
