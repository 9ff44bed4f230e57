#include "firmwarepackage.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QByteArray>
#include <QByteArrayView>
#include <QCryptographicHash>
#include <QtGlobal>
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string_view>
#include <system_error>

namespace {

constexpr const char* kTypes[] = {"CPU", "FPGA", "BOOT"};
constexpr const char* kConfigFile = "images.conf";
constexpr const char* kSumsFile = "SHA256SUMS";
// Both text files are a few kilobytes; a bigger one is not what it claims.
constexpr std::size_t kMaxTextFile = 1u << 20;
constexpr std::uint8_t kCpuMagic[] = {0xEE, 0xBE, 0xAD, 0xDE};

std::string Reason(int error) {
    return std::generic_category().message(error);
}

std::string Quoted(std::string_view word) {
    constexpr std::size_t kShown = 60;
    return "'" + std::string(word.substr(0, kShown)) + (word.size() > kShown ? "...'" : "'");
}

std::string Sha256Hex(const std::vector<std::uint8_t>& bytes) {
    return QCryptographicHash::hash(
               QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())),
               QCryptographicHash::Sha256)
        .toHex()
        .toStdString();
}

// realpath(3); empty, with errno set, when it fails.
std::string Resolve(const std::string& path) {
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (resolved == nullptr) return {};
    std::string s(resolved);
    std::free(resolved);
    return s;
}

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

// The path a checksum line names, relative to the folder and without "."
// parts; nullopt when it climbs out.
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

class PackageReader {
public:
    enum class Result { kRead, kMissing, kFailed };

    PackageReader(std::string root, std::vector<PackageProblem>* problems)
        : m_root(std::move(root)), m_problems(problems) {}

    const std::string& Root() const { return m_root; }

    void Error(std::string file, int line, std::string message) {
        m_problems->push_back(
            {PackageProblem::Severity::Error, std::move(file), line, std::move(message)});
    }
    void Warn(std::string file, std::string message) {
        m_problems->push_back(
            {PackageProblem::Severity::Warning, std::move(file), 0, std::move(message)});
    }
    bool Inside(const std::string& resolved) const {
        return resolved.size() > m_root.size() && StartsWith(resolved, m_root) &&
               (m_root.back() == '/' || resolved[m_root.size()] == '/');
    }

    // Reads the file at rel, reporting every failure but a plain absence,
    // whose message depends on who wanted the file. Nothing is opened that
    // resolves outside the folder or is bigger than limit.
    Result Read(const std::string& rel, std::size_t limit, std::vector<std::uint8_t>* bytes) {
        const std::string path = m_root + "/" + rel;
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0)
            return errno == ENOENT ? Result::kMissing
                                   : Failed(rel, "cannot be read: " + Reason(errno));
        const std::string resolved = Resolve(path);
        if (resolved.empty()) return Failed(rel, "cannot be read: " + Reason(errno));
        if (!Inside(resolved))
            return Failed(rel, "refused: a link to " + resolved + ", outside the package folder");
        if (::stat(resolved.c_str(), &st) != 0)
            return Failed(rel, "cannot be read: " + Reason(errno));
        if (S_ISDIR(st.st_mode)) return Failed(rel, "cannot be read: " + Reason(EISDIR));
        if (!S_ISREG(st.st_mode)) return Failed(rel, "refused: not a regular file");
        if (static_cast<std::uintmax_t>(st.st_size) > limit) return TooBig(rel, st.st_size, limit);

        // Opened by its resolved name and not followed again, so what was
        // checked above is what gets read.
        const int fd = ::open(resolved.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
        if (fd < 0) return Failed(rel, "cannot be read: " + Reason(errno));
        bytes->clear();
        bytes->reserve(static_cast<std::size_t>(st.st_size));
        std::uint8_t chunk[65536];
        for (;;) {
            const ssize_t n = ::read(fd, chunk, sizeof chunk);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) {
                const int error = errno;
                ::close(fd);
                return Failed(rel, "cannot be read: " + Reason(error));
            }
            if (n == 0) break;
            if (bytes->size() + static_cast<std::size_t>(n) > limit) {
                ::close(fd);
                return TooBig(rel, bytes->size() + static_cast<std::size_t>(n), limit);
            }
            bytes->insert(bytes->end(), chunk, chunk + n);
        }
        ::close(fd);
        return Result::kRead;
    }

private:
    Result Failed(const std::string& rel, std::string message) {
        Error(rel, 0, std::move(message));
        return Result::kFailed;
    }
    Result TooBig(const std::string& rel, std::uintmax_t size, std::size_t limit) {
        return Failed(rel, "refused: " + std::to_string(size) + " bytes, over the " +
                               std::to_string(limit) + "-byte limit");
    }

    std::string m_root;
    std::vector<PackageProblem>* m_problems;
};

// What has been read: each file's SHA-256, or its failure already reported.
struct ReadFiles {
    std::map<std::string, std::string> sha256;
    std::set<std::string> failed;
};

void ListTypeFolders(PackageReader& reader, const std::set<std::pair<int, int>>* used) {
    for (int type = 0; type < 3; ++type) {
        const std::string resolved = Resolve(reader.Root() + "/" + kTypes[type]);
        // A folder leading outside is reported by the images read through it.
        if (resolved.empty() || !reader.Inside(resolved)) continue;
        DIR* dir = ::opendir(resolved.c_str());
        if (dir == nullptr) {
            reader.Warn(kTypes[type], errno == ENOTDIR ? "not a folder; ignored"
                                                       : "cannot be listed: " + Reason(errno));
            continue;
        }
        std::vector<std::string> names;
        while (const dirent* entry = ::readdir(dir)) names.emplace_back(entry->d_name);
        ::closedir(dir);
        std::sort(names.begin(), names.end());
        for (const auto& name : names) {
            if (name == "." || name == "..") continue;
            const std::string rel = std::string(kTypes[type]) + "/" + name;
            if (const int id = ImageFileId(name); id == 0)
                reader.Warn(rel, "not named <id>.bin (id 1..65535); ignored");
            else if (used != nullptr && used->count({type, id}) == 0)
                reader.Warn(rel, "not used by any row of images.conf; ignored");
        }
    }
}

void CheckSums(PackageReader& reader, std::string_view text, ReadFiles* files) {
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
        const bool shaped =
            line.size() > 66 &&
            std::all_of(line.begin(), line.begin() + 64,
                        [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); }) &&
            line[64] == ' ' && (line[65] == ' ' || line[65] == '*');
        const std::optional<std::string> path = !shaped ? std::nullopt
                                                : escaped
                                                    ? Unescaped(line.substr(66))
                                                    : std::optional<std::string>(line.substr(66));
        if (!path) {
            reader.Error(kSumsFile, lineNo, "not '<64 hex digits>  <path>' as sha256sum writes");
            continue;
        }
        if (path->front() == '/') {
            reader.Error(kSumsFile, lineNo, "refused: " + Quoted(*path) + " is an absolute path");
            continue;
        }
        const std::optional<std::string> rel = Normalized(*path);
        if (!rel) {
            reader.Error(kSumsFile, lineNo,
                         "refused: " + Quoted(*path) + " leaves the package folder");
            continue;
        }
        if (rel->empty()) {
            reader.Error(kSumsFile, lineNo, Quoted(*path) + " names no file");
            continue;
        }
        if (files->failed.count(*rel) != 0) continue;
        auto known = files->sha256.find(*rel);
        if (known == files->sha256.end()) {
            std::vector<std::uint8_t> bytes;
            const auto result = reader.Read(*rel, kMaxPackageImage, &bytes);
            if (result == PackageReader::Result::kMissing)
                reader.Error(*rel, 0,
                             "missing, listed in SHA256SUMS line " + std::to_string(lineNo));
            if (result != PackageReader::Result::kRead) {
                files->failed.insert(*rel);
                continue;
            }
            known = files->sha256.emplace(*rel, Sha256Hex(bytes)).first;
        }
        std::string want(line.substr(0, 64));
        std::transform(want.begin(), want.end(), want.begin(),
                       [](char c) { return static_cast<char>(std::tolower(c)); });
        if (known->second != want)
            reader.Error(*rel, 0,
                         "does not match its SHA-256 in SHA256SUMS line " + std::to_string(lineNo));
    }
}

// The folder's last component as the caller named it, links not resolved.
std::string FolderName(const std::string& folder, const std::string& root) {
    std::error_code ec;
    std::filesystem::path p = std::filesystem::absolute(folder, ec).lexically_normal();
    if (!p.has_filename()) p = p.parent_path();
    const std::string name = ec ? std::string() : p.filename().string();
    return name.empty() ? root : name;
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
    // File names come from the package and may hold anything, line breaks too.
    std::replace_if(
        text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; }, '?');
    return text;
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
    const std::string root = Resolve(folder);
    if (root.empty())
        return folderError(errno == ENOENT ? "no such folder" : "cannot be read: " + Reason(errno));
    if (DIR* dir = ::opendir(root.c_str())) {
        ::closedir(dir);
    } else {
        return folderError(errno == ENOTDIR ? "not a folder" : "cannot be read: " + Reason(errno));
    }

    PackageReader reader(root, problems);
    ReadFiles files;
    ImageConfig config;
    bool configOk = false;
    std::map<std::string, int> rowLines;
    std::vector<std::uint8_t> text;
    switch (reader.Read(kConfigFile, kMaxTextFile, &text)) {
        case PackageReader::Result::kMissing:
            reader.Error(kConfigFile, 0, "missing");
            [[fallthrough]];
        case PackageReader::Result::kFailed:
            files.failed.insert(kConfigFile);
            break;
        case PackageReader::Result::kRead: {
            const std::string_view view(reinterpret_cast<const char*>(text.data()), text.size());
            std::vector<std::pair<int, std::string>> errors;
            configOk = ParseImageConfig(view, &config, &errors);
            for (auto& [line, why] : errors) reader.Error(kConfigFile, line, std::move(why));
            rowLines = CpuRowLines(view);
            files.sha256[kConfigFile] = Sha256Hex(text);
            break;
        }
    }

    // (type, id) -> the line of the first row naming it; ordered as images is.
    std::map<std::pair<int, int>, int> named;
    const decltype(config.cpuRows)* rows[] = {&config.cpuRows, &config.fpgaRows, &config.bootRows};
    for (int type = 0; type < 3; ++type)
        for (const auto& [partNumber, id] : *rows[type])
            named.emplace(std::pair(type, id), rowLines[partNumber]);

    auto store = std::make_shared<CMemoryImageStore>();
    std::vector<PackageImage> images;
    for (const auto& [key, line] : named) {
        const auto [type, id] = key;
        const std::string rel = ImagePath(type, id);
        std::vector<std::uint8_t> bytes;
        const auto result = reader.Read(rel, kMaxPackageImage, &bytes);
        if (result == PackageReader::Result::kMissing)
            reader.Error(rel, 0, "missing, named by images.conf line " + std::to_string(line));
        if (result != PackageReader::Result::kRead) {
            files.failed.insert(rel);
            continue;
        }
        const std::string sha256 = Sha256Hex(bytes);
        files.sha256[rel] = sha256;
        if (bytes.empty()) {
            reader.Error(rel, 0, "empty");
            continue;
        }
        if (type == 0 && !std::equal(std::begin(kCpuMagic), std::end(kCpuMagic), bytes.begin(),
                                     bytes.begin() + std::min<std::size_t>(bytes.size(), 4)))
            reader.Warn(rel,
                        "does not begin with EE BE AD DE; it is sent as it is (the updater does "
                        "not interpret images)");
        images.push_back({kTypes[type], static_cast<std::uint16_t>(id), rel, bytes.size(), sha256});
        store->Add(kTypes[type], static_cast<std::uint16_t>(id), std::move(bytes));
    }

    // Which files are unused is only known when every row was understood.
    std::set<std::pair<int, int>> used;
    for (const auto& entry : named) used.insert(entry.first);
    ListTypeFolders(reader, configOk ? &used : nullptr);

    std::vector<std::uint8_t> sums;
    if (reader.Read(kSumsFile, kMaxTextFile, &sums) == PackageReader::Result::kRead)
        CheckSums(reader, {reinterpret_cast<const char*>(sums.data()), sums.size()}, &files);

    if (std::any_of(problems->begin(), problems->end(), [](const PackageProblem& p) {
            return p.severity == PackageProblem::Severity::Error;
        }))
        return std::nullopt;
    FirmwarePackage package;
    package.name = FolderName(folder, root);
    package.folder = root;
    package.config = std::move(config);
    package.store = std::move(store);
    package.images = std::move(images);
    return package;
}

std::vector<std::string> PackageSearchFolders(const std::string& dataDir) {
    std::vector<std::string> folders;
    std::string data = qgetenv("XDG_DATA_HOME").toStdString();
    // A relative value is to be ignored, as for any XDG base directory.
    if (data.empty() || data.front() != '/') {
        const std::string home = qgetenv("HOME").toStdString();
        data = home.empty() ? std::string() : home + "/.local/share";
    }
    if (!data.empty()) folders.push_back(data + "/quorvexupdate/firmware");
    if (!dataDir.empty()) folders.push_back(dataDir + "/firmware");
    return folders;
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
