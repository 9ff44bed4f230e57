#include "firmwarepackage.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QtGlobal>
#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string_view>
#include <system_error>
#include <utility>

#include "beneath.h"
#include "packageimagestore.h"
#include "packagereader.h"
#include "sha256sums.h"
#include "textescape.h"

namespace {

constexpr const char* kTypes[] = {"CPU", "FPGA", "BOOT"};
constexpr const char* kConfigFile = "images.conf";
constexpr const char* kSumsFile = "SHA256SUMS";

std::string ImagePath(int type, int id) {
    return std::string(kTypes[type]) + "/" + std::to_string(id) + ".bin";
}

// The id of "<id>.bin" written the one way a row's id maps to, else 0.
int ImageFileId(std::string_view name) {
    if (name.size() < 5 || name.size() > 9 || !name.ends_with(".bin")) return 0;
    const std::string_view digits = name.substr(0, name.size() - 4);
    if (digits[0] == '0') return 0;
    int id = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return 0;
        id = id * 10 + (c - '0');
    }
    return id <= 65535 ? id : 0;
}

// The line of the first cpu row of each part number. The parser keeps no
// lines, and a part number given twice is an error anyway.
std::map<std::string, int> CpuRowLines(std::string_view text) {
    std::map<std::string, int> lines;
    std::istringstream in{std::string(text)};
    int lineNo = 0;
    for (std::string line; std::getline(in, line);) {
        ++lineNo;
        if (auto hash = line.find('#'); hash != std::string::npos) line.erase(hash);
        std::istringstream words(line);
        std::string key, partNumber;
        if (words >> key >> partNumber && key == "cpu") lines.emplace(partNumber, lineNo);
    }
    return lines;
}

// The folder as opened, for the summary and the settings; the name given
// when the system cannot say.
std::string OpenedPath(int fd, const std::string& folder) {
    std::error_code ec;
    const auto path = std::filesystem::read_symlink("/proc/self/fd/" + std::to_string(fd), ec);
    if (!ec && path.is_absolute()) return path.string();
    const auto absolute = std::filesystem::absolute(folder, ec);
    return ec ? folder : absolute.lexically_normal().string();
}

void ListTypeFolders(PackageReader& reader, const std::set<std::pair<int, int>>* used) {
    for (int type = 0; type < 3; ++type) {
        const int fd = OpenBeneath(reader.Folder(), kTypes[type], O_RDONLY | O_DIRECTORY);
        if (fd < 0) {
            // Absent, or a link: the images read through it say so.
            if (errno != ENOENT && errno != ELOOP)
                reader.Warn(kTypes[type], 0,
                            errno == ENOTDIR ? "not a folder; ignored"
                                             : "cannot be listed: " + ErrnoText(errno));
            continue;
        }
        DIR* dir = ::fdopendir(fd);
        if (dir == nullptr) {
            reader.Warn(kTypes[type], 0, "cannot be listed: " + ErrnoText(errno));
            ::close(fd);
            continue;
        }
        std::vector<std::string> names;
        while (const dirent* entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            if (name == "." || name == "..") continue;
            if (names.size() == kMaxPackageFiles) {
                reader.Warn(kTypes[type], 0,
                            "holds more than " + std::to_string(kMaxPackageFiles) +
                                " files; only some were looked at");
                break;
            }
            names.push_back(name);
        }
        ::closedir(dir);
        std::sort(names.begin(), names.end());
        for (const auto& name : names) {
            const std::string rel = std::string(kTypes[type]) + "/" + name;
            if (const int id = ImageFileId(name); id == 0)
                reader.Warn(rel, 0, "not named <id>.bin (id 1..65535); ignored");
            else if (used != nullptr && used->count({type, id}) == 0)
                reader.Warn(rel, 0, "not used by any row of images.conf; ignored");
        }
    }
}

// A row whose part number the FPGA prefixes select is sent the FPGA image
// it names; without one it gets the CPU image alone, which is seldom meant.
void WarnFpgaRowsWithoutImage(PackageReader& reader, const ImageConfig& config,
                              const std::map<std::string, int>& rowLines) {
    std::set<std::string> withFpga;
    for (const auto& row : config.fpgaRows) withFpga.insert(row.first);
    for (const auto& [partNumber, id] : config.cpuRows) {
        if (withFpga.count(partNumber) != 0) continue;
        for (const std::string& prefix : config.fpgaPrefixes) {
            if (!StartsWith(partNumber, prefix)) continue;
            const auto line = rowLines.find(partNumber);
            reader.Warn(kConfigFile, line == rowLines.end() ? 0 : line->second,
                        "part number " + partNumber + " begins with the FPGA prefix " + prefix +
                            " but its row names no fpga= image: its update sends the CPU "
                            "image alone");
            break;
        }
    }
}

bool HasErrors(const std::vector<PackageProblem>& problems) {
    return std::any_of(problems.begin(), problems.end(), [](const PackageProblem& p) {
        return p.severity == PackageProblem::Severity::Error;
    });
}

// The folder's last component as the caller named it, links not resolved.
std::string FolderName(const std::string& folder, const std::string& root) {
    std::error_code ec;
    std::filesystem::path p = std::filesystem::absolute(folder, ec).lexically_normal();
    if (!p.has_filename()) p = p.parent_path();
    const std::string name = ec ? std::string() : p.filename().string();
    return name.empty() ? root : name;
}

// One check of a package, step by step: what its images.conf names and its
// SHA256SUMS lists, and what was learnt of each file they name.
class PackageCheck {
public:
    PackageCheck(int folderFd, std::vector<PackageProblem>* problems)
        : m_reader(folderFd, problems) {}

    void ReadConfig();
    void ReadSums();
    // Every file to read, each once: the images, then what SHA256SUMS lists.
    // Returns why the whole package is refused; empty when it is not.
    std::string CollectFiles();
    // A first look at every file, then their hashes once the package's size
    // is known to be within its limit. Returns why the package is refused.
    std::string ReadFiles();
    // The images the rows name, each checked against what was read and listed.
    std::vector<PackageImage> TakeImages(CPackageImageStore& store);
    void CheckSums();
    // Which files are unused is only known when every row was understood.
    void ListFolders();
    ImageConfig TakeConfig() { return std::move(m_config); }

private:
    PackageReader m_reader;
    ImageConfig m_config;
    bool m_configOk = false;
    std::map<std::string, int> m_rowLines;
    // (type, id) -> the line of the first row naming it; ordered as images is.
    std::map<std::pair<int, int>, int> m_named;
    bool m_sumsRead = false;
    std::vector<Sha256SumsLine> m_sums;
    std::map<std::string, FileFacts> m_files;
    std::vector<std::string> m_order;
};

void PackageCheck::ReadConfig() {
    std::string text;
    switch (m_reader.ReadText(kConfigFile, &text)) {
        case PackageReader::Result::kMissing:
            m_reader.Error(kConfigFile, 0, "missing");
            break;
        case PackageReader::Result::kFailed:
            break;
        case PackageReader::Result::kOpened: {
            std::vector<std::pair<int, std::string>> errors;
            m_configOk = ParseImageConfig(text, &m_config, &errors);
            for (auto& [line, why] : errors) m_reader.Error(kConfigFile, line, std::move(why));
            m_rowLines = CpuRowLines(text);
            WarnFpgaRowsWithoutImage(m_reader, m_config, m_rowLines);
            break;
        }
    }
    const decltype(m_config.cpuRows)* rows[] = {&m_config.cpuRows, &m_config.fpgaRows,
                                                &m_config.bootRows};
    for (int type = 0; type < 3; ++type)
        for (const auto& [partNumber, id] : *rows[type])
            m_named.emplace(std::pair(type, id), m_rowLines[partNumber]);
}

void PackageCheck::ReadSums() {
    std::string text;
    if (m_reader.ReadText(kSumsFile, &text) != PackageReader::Result::kOpened) return;
    m_sumsRead = true;
    std::vector<std::pair<int, std::string>> errors;
    ParseSha256Sums(text, &m_sums, &errors);
    for (auto& [line, why] : errors) m_reader.Error(kSumsFile, line, std::move(why));
}

std::string PackageCheck::CollectFiles() {
    auto want = [&](const std::string& rel, std::string missing) {
        FileFacts facts;
        facts.missing = std::move(missing);
        if (m_files.emplace(rel, std::move(facts)).second) m_order.push_back(rel);
    };
    for (const auto& [key, line] : m_named)
        want(ImagePath(key.first, key.second),
             "missing, named by images.conf line " + std::to_string(line));
    for (const Sha256SumsLine& sum : m_sums)
        want(sum.path, "missing, listed in SHA256SUMS line " + std::to_string(sum.line));
    if (m_files.size() <= kMaxPackageFiles) return {};
    return "refused: it names " + std::to_string(m_files.size()) + " files, more than the " +
           std::to_string(kMaxPackageFiles) + " a package may hold";
}

std::string PackageCheck::ReadFiles() {
    std::uint64_t total = 0;
    for (const std::string& rel : m_order) {
        FileFacts& facts = m_files[rel];
        m_reader.Measure(rel, &facts);
        if (facts.usable) total += facts.size;
    }
    if (total > kMaxPackageSize) {
        return "refused: its files come to " + std::to_string(total) + " bytes, over the " +
               std::to_string(kMaxPackageSize) + "-byte limit of a package";
    }
    for (const std::string& rel : m_order)
        if (m_files[rel].usable) m_reader.Hash(rel, &m_files[rel]);
    return {};
}

std::vector<PackageImage> PackageCheck::TakeImages(CPackageImageStore& store) {
    std::vector<PackageImage> images;
    std::set<std::string> listed;
    for (const Sha256SumsLine& sum : m_sums) listed.insert(sum.path);
    for (const auto& entry : m_named) {
        const auto [type, id] = entry.first;
        const std::string rel = ImagePath(type, id);
        const FileFacts& facts = m_files[rel];
        if (!facts.usable) continue;
        if (facts.size == 0) {
            m_reader.Error(rel, 0, "empty");
            continue;
        }
        if (m_sumsRead && listed.count(rel) == 0)
            m_reader.Error(rel, 0,
                           "not listed in SHA256SUMS, which must list every image a row uses");
        if (type == 0 && !facts.cpuMagic)
            m_reader.Warn(rel, 0,
                          "does not begin with EE BE AD DE; it is sent as it is (the updater does "
                          "not interpret images)");
        const auto size = static_cast<std::size_t>(facts.size);
        images.push_back({kTypes[type], static_cast<std::uint16_t>(id), rel, size, facts.sha256});
        store.Add(kTypes[type], static_cast<std::uint16_t>(id), {rel, size, facts.sha256});
    }
    return images;
}

void PackageCheck::CheckSums() {
    for (const Sha256SumsLine& sum : m_sums) {
        const FileFacts& facts = m_files[sum.path];
        if (facts.usable && facts.sha256 != sum.sha256)
            m_reader.Error(
                sum.path, 0,
                "does not match its SHA-256 in SHA256SUMS line " + std::to_string(sum.line));
    }
}

void PackageCheck::ListFolders() {
    std::set<std::pair<int, int>> used;
    for (const auto& entry : m_named) used.insert(entry.first);
    ListTypeFolders(m_reader, m_configOk ? &used : nullptr);
}

}  // namespace

std::string DescribeProblem(const PackageProblem& problem) {
    std::string text = problem.severity == PackageProblem::Severity::Warning ? "warning: " : "";
    if (!problem.file.empty()) {
        text += problem.file;
        if (problem.line > 0) text += ":" + std::to_string(problem.line);
        text += ": ";
    }
    text += problem.message;
    // File names and words come from the package and may hold anything.
    return EscapedForDisplay(text);
}

std::vector<std::string> DescribeProblems(const std::vector<PackageProblem>& problems,
                                          std::size_t shown) {
    std::vector<std::string> lines;
    for (std::size_t i = 0; i < problems.size() && i < shown; ++i)
        lines.push_back(DescribeProblem(problems[i]));
    if (problems.size() > shown)
        lines.push_back("... and " + std::to_string(problems.size() - shown) + " more not shown");
    return lines;
}

std::optional<FirmwarePackage> LoadFirmwarePackage(const std::string& folder,
                                                   std::vector<PackageProblem>* problems) {
    std::vector<PackageProblem> dropped;
    if (problems == nullptr) problems = &dropped;
    problems->clear();
    auto folderError = [&](const std::string& why) {
        problems->push_back({PackageProblem::Severity::Error, "", 0, folder + ": " + why});
        return std::nullopt;
    };
    // The folder is taken as the operator named it, links and all; beneath
    // it nothing is followed.
    Fd root(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (root.Get() < 0)
        return folderError(errno == ENOENT    ? "no such folder"
                           : errno == ENOTDIR ? "not a folder"
                                              : "cannot be read: " + ErrnoText(errno));
    const std::string rootPath = OpenedPath(root.Get(), folder);

    PackageCheck check(root.Get(), problems);
    check.ReadConfig();
    check.ReadSums();
    if (const std::string refused = check.CollectFiles(); !refused.empty())
        return folderError(refused);
    if (const std::string refused = check.ReadFiles(); !refused.empty())
        return folderError(refused);
    auto store = std::make_shared<CPackageImageStore>(::fcntl(root.Get(), F_DUPFD_CLOEXEC, 0));
    std::vector<PackageImage> images = check.TakeImages(*store);
    check.CheckSums();
    check.ListFolders();

    if (HasErrors(*problems)) return std::nullopt;
    FirmwarePackage package;
    // Only ever shown, in the window, the logs and the message list.
    package.name = EscapedForDisplay(FolderName(folder, rootPath));
    package.folder = rootPath;
    package.config = check.TakeConfig();
    package.store = std::move(store);
    package.images = std::move(images);
    return package;
}

std::vector<PackageEntry> FindPackages(const std::vector<std::string>& searchFolders) {
    std::map<std::string, std::string> found;
    for (const auto& search : searchFolders) {
        DIR* dir = ::opendir(search.c_str());
        if (dir == nullptr) continue;
        while (const dirent* entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            if (name.empty() || name.front() == '.') continue;  // also hidden folders
            const std::string folder = search + "/" + name;
            struct stat st {};
            if (::stat((folder + "/" + kConfigFile).c_str(), &st) == 0 && S_ISREG(st.st_mode))
                found.emplace(name, folder);
        }
        ::closedir(dir);
    }
    std::vector<PackageEntry> entries;
    for (auto& [name, folder] : found) entries.push_back({name, std::move(folder)});
    return entries;
}
