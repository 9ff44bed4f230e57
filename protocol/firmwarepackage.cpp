#include "firmwarepackage.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QByteArrayView>
#include <QCryptographicHash>
#include <QtGlobal>
#include <algorithm>
#include <cerrno>
#include <cstring>
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
#include "sha256sums.h"
#include "textescape.h"

namespace {

constexpr const char* kTypes[] = {"CPU", "FPGA", "BOOT"};
constexpr const char* kConfigFile = "images.conf";
constexpr const char* kSumsFile = "SHA256SUMS";
// Both text files are a few kilobytes; a bigger one is not what it claims.
constexpr std::size_t kMaxTextFile = 1u << 20;
constexpr std::uint8_t kCpuMagic[] = {0xEE, 0xBE, 0xAD, 0xDE};
// Files are hashed through one buffer of this size, whatever their size.
constexpr std::size_t kHashBlock = 1u << 20;

std::string Reason(int error) {
    return std::generic_category().message(error);
}

// A descriptor closed with its owner.
class Fd {
public:
    explicit Fd(int fd = -1) : m_fd(fd) {}
    ~Fd() {
        if (m_fd >= 0) ::close(m_fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    Fd& operator=(Fd&& other) noexcept {
        std::swap(m_fd, other.m_fd);
        return *this;
    }
    int Get() const { return m_fd; }
    int Release() { return std::exchange(m_fd, -1); }

private:
    int m_fd;
};

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

std::size_t LineCount(std::string_view text) {
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) +
           (text.empty() || text.back() == '\n' ? 0 : 1);
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

// What the check learnt of one file of the package.
struct FileFacts {
    std::string missing;  // what its absence means
    bool usable = false;  // found and within the limits; hashed once sha256 is set
    dev_t device = 0;
    ino_t inode = 0;
    std::uint64_t size = 0;
    std::string sha256;
    bool cpuMagic = false;
};

class PackageReader {
public:
    enum class Result { kOpened, kMissing, kFailed };

    PackageReader(int folderFd, std::vector<PackageProblem>* problems)
        : m_folder(folderFd), m_problems(problems) {}

    int Folder() const { return m_folder; }

    void Error(std::string file, int line, std::string message) {
        m_problems->push_back(
            {PackageProblem::Severity::Error, std::move(file), line, std::move(message)});
    }
    void Warn(std::string file, int line, std::string message) {
        m_problems->push_back(
            {PackageProblem::Severity::Warning, std::move(file), line, std::move(message)});
    }

    // Opens rel beneath the folder: a regular file of at most limit bytes.
    // Every failure is reported but a plain absence, whose message depends
    // on who wanted the file.
    Result Open(const std::string& rel, std::uint64_t limit, Fd* fd, struct stat* st) {
        // Non-blocking, so that a FIFO in an image's place cannot hold the open.
        Fd opened(OpenBeneath(m_folder, rel, O_RDONLY | O_NONBLOCK));
        if (opened.Get() < 0) {
            const int error = errno;
            if (error == ENOENT) return Result::kMissing;
            if (error == ELOOP) return Failed(rel, LinkRefused(rel));
            if (error == EXDEV) return Failed(rel, "refused: it leads out of the package folder");
            return Failed(rel, "cannot be read: " + Reason(error));
        }
        if (::fstat(opened.Get(), st) != 0) return Failed(rel, "cannot be read: " + Reason(errno));
        if (S_ISDIR(st->st_mode)) return Failed(rel, "cannot be read: " + Reason(EISDIR));
        if (!S_ISREG(st->st_mode)) return Failed(rel, "refused: not a regular file");
        if (static_cast<std::uint64_t>(st->st_size) > limit)
            return Failed(rel, "refused: " + std::to_string(st->st_size) + " bytes, over the " +
                                   std::to_string(limit) + "-byte limit");
        *fd = std::move(opened);
        return Result::kOpened;
    }

    Result ReadText(const std::string& rel, std::string* text) {
        Fd fd;
        struct stat st {};
        const Result result = Open(rel, kMaxTextFile, &fd, &st);
        if (result != Result::kOpened) return result;
        text->assign(static_cast<std::size_t>(st.st_size), '\0');
        std::size_t got = 0;
        while (got < text->size()) {
            const ssize_t n = ::read(fd.Get(), text->data() + got, text->size() - got);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) return Failed(rel, "cannot be read: " + Reason(errno));
            if (n == 0) break;
            got += static_cast<std::size_t>(n);
        }
        text->resize(got);
        if (LineCount(*text) > kMaxPackageLines)
            return Failed(rel, "refused: more than " + std::to_string(kMaxPackageLines) + " lines");
        return Result::kOpened;
    }

    // First look: there, a regular file, not too big. Nothing is read yet,
    // so a package over its limits is refused before any time is spent.
    void Measure(const std::string& rel, FileFacts* facts) {
        Fd fd;
        struct stat st {};
        const Result result = Open(rel, kMaxPackageImage, &fd, &st);
        if (result == Result::kMissing) Error(rel, 0, facts->missing);
        if (result != Result::kOpened) return;
        facts->usable = true;
        facts->device = st.st_dev;
        facts->inode = st.st_ino;
        facts->size = static_cast<std::uint64_t>(st.st_size);
    }

    // Reads the file the first look found, block by block, into its hash.
    void Hash(const std::string& rel, FileFacts* facts) {
        Fd fd;
        struct stat st {};
        const Result result = Open(rel, kMaxPackageImage, &fd, &st);
        facts->usable = result == Result::kOpened && st.st_dev == facts->device &&
                        st.st_ino == facts->inode &&
                        static_cast<std::uint64_t>(st.st_size) == facts->size;
        if (!facts->usable) {
            if (result != Result::kFailed) Changed(rel);
            return;
        }
        QCryptographicHash hash(QCryptographicHash::Sha256);
        m_block.resize(kHashBlock);
        std::uint64_t total = 0;
        for (;;) {
            const ssize_t n = ::read(fd.Get(), m_block.data(), m_block.size());
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) {
                facts->usable = false;
                Error(rel, 0, "cannot be read: " + Reason(errno));
                return;
            }
            if (n == 0) break;
            if (total == 0)
                facts->cpuMagic = n >= 4 && std::memcmp(m_block.data(), kCpuMagic, 4) == 0;
            total += static_cast<std::uint64_t>(n);
            if (total > facts->size) break;
            hash.addData(QByteArrayView(m_block.data(), n));
        }
        if (total != facts->size) {
            facts->usable = false;
            Changed(rel);
            return;
        }
        facts->sha256 = hash.result().toHex().toStdString();
    }

private:
    Result Failed(const std::string& rel, std::string message) {
        Error(rel, 0, std::move(message));
        return Result::kFailed;
    }
    void Changed(const std::string& rel) {
        Error(rel, 0, "changed while the package was being checked");
    }
    std::string LinkRefused(const std::string& rel) const {
        std::string target;
        const std::string link = LinkOnPath(m_folder, rel, &target);
        const std::string why = "; links are not followed in a package";
        if (link.empty()) return "refused: a link on its way" + why;
        return "refused: " + (link == rel ? std::string("a link") : link + " is a link") + " to " +
               target + why;
    }

    int m_folder;
    std::vector<PackageProblem>* m_problems;
    std::vector<char> m_block;
};

void ListTypeFolders(PackageReader& reader, const std::set<std::pair<int, int>>* used) {
    for (int type = 0; type < 3; ++type) {
        const int fd = OpenBeneath(reader.Folder(), kTypes[type], O_RDONLY | O_DIRECTORY);
        if (fd < 0) {
            // Absent, or a link: the images read through it say so.
            if (errno != ENOENT && errno != ELOOP)
                reader.Warn(kTypes[type], 0,
                            errno == ENOTDIR ? "not a folder; ignored"
                                             : "cannot be listed: " + Reason(errno));
            continue;
        }
        DIR* dir = ::fdopendir(fd);
        if (dir == nullptr) {
            reader.Warn(kTypes[type], 0, "cannot be listed: " + Reason(errno));
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
                                              : "cannot be read: " + Reason(errno));
    const std::string rootPath = OpenedPath(root.Get(), folder);
    PackageReader reader(root.Get(), problems);

    ImageConfig config;
    bool configOk = false;
    std::map<std::string, int> rowLines;
    {
        std::string text;
        switch (reader.ReadText(kConfigFile, &text)) {
            case PackageReader::Result::kMissing:
                reader.Error(kConfigFile, 0, "missing");
                break;
            case PackageReader::Result::kFailed:
                break;
            case PackageReader::Result::kOpened: {
                std::vector<std::pair<int, std::string>> errors;
                configOk = ParseImageConfig(text, &config, &errors);
                for (auto& [line, why] : errors) reader.Error(kConfigFile, line, std::move(why));
                rowLines = CpuRowLines(text);
                WarnFpgaRowsWithoutImage(reader, config, rowLines);
                break;
            }
        }
    }

    // (type, id) -> the line of the first row naming it; ordered as images is.
    std::map<std::pair<int, int>, int> named;
    const decltype(config.cpuRows)* rows[] = {&config.cpuRows, &config.fpgaRows, &config.bootRows};
    for (int type = 0; type < 3; ++type)
        for (const auto& [partNumber, id] : *rows[type])
            named.emplace(std::pair(type, id), rowLines[partNumber]);

    // Every file to read, each once: the images, then what SHA256SUMS lists.
    std::map<std::string, FileFacts> files;
    std::vector<std::string> order;
    auto want = [&](const std::string& rel, std::string missing) {
        FileFacts facts;
        facts.missing = std::move(missing);
        if (files.emplace(rel, std::move(facts)).second) order.push_back(rel);
    };
    for (const auto& [key, line] : named)
        want(ImagePath(key.first, key.second),
             "missing, named by images.conf line " + std::to_string(line));

    bool sumsRead = false;
    std::vector<Sha256SumsLine> sums;
    {
        std::string text;
        if (reader.ReadText(kSumsFile, &text) == PackageReader::Result::kOpened) {
            sumsRead = true;
            std::vector<std::pair<int, std::string>> errors;
            ParseSha256Sums(text, &sums, &errors);
            for (auto& [line, why] : errors) reader.Error(kSumsFile, line, std::move(why));
        }
    }
    for (const Sha256SumsLine& sum : sums)
        want(sum.path, "missing, listed in SHA256SUMS line " + std::to_string(sum.line));
    if (files.size() > kMaxPackageFiles) {
        folderError("refused: it names " + std::to_string(files.size()) + " files, more than the " +
                    std::to_string(kMaxPackageFiles) + " a package may hold");
        return std::nullopt;
    }

    std::uint64_t total = 0;
    for (const std::string& rel : order) {
        FileFacts& facts = files[rel];
        reader.Measure(rel, &facts);
        if (facts.usable) total += facts.size;
    }
    if (total > kMaxPackageSize) {
        folderError("refused: its files come to " + std::to_string(total) + " bytes, over the " +
                    std::to_string(kMaxPackageSize) + "-byte limit of a package");
        return std::nullopt;
    }
    for (const std::string& rel : order)
        if (files[rel].usable) reader.Hash(rel, &files[rel]);

    auto store = std::make_shared<CPackageImageStore>(::fcntl(root.Get(), F_DUPFD_CLOEXEC, 0));
    std::vector<PackageImage> images;
    std::set<std::string> listed;
    for (const Sha256SumsLine& sum : sums) listed.insert(sum.path);
    for (const auto& entry : named) {
        const auto [type, id] = entry.first;
        const std::string rel = ImagePath(type, id);
        const FileFacts& facts = files[rel];
        if (!facts.usable) continue;
        if (facts.size == 0) {
            reader.Error(rel, 0, "empty");
            continue;
        }
        if (sumsRead && listed.count(rel) == 0)
            reader.Error(rel, 0,
                         "not listed in SHA256SUMS, which must list every image a row uses");
        if (type == 0 && !facts.cpuMagic)
            reader.Warn(rel, 0,
                        "does not begin with EE BE AD DE; it is sent as it is (the updater does "
                        "not interpret images)");
        const auto size = static_cast<std::size_t>(facts.size);
        images.push_back({kTypes[type], static_cast<std::uint16_t>(id), rel, size, facts.sha256});
        store->Add(kTypes[type], static_cast<std::uint16_t>(id), {rel, size, facts.sha256});
    }
    for (const Sha256SumsLine& sum : sums) {
        const FileFacts& facts = files[sum.path];
        if (facts.usable && facts.sha256 != sum.sha256)
            reader.Error(
                sum.path, 0,
                "does not match its SHA-256 in SHA256SUMS line " + std::to_string(sum.line));
    }

    // Which files are unused is only known when every row was understood.
    std::set<std::pair<int, int>> used;
    for (const auto& entry : named) used.insert(entry.first);
    ListTypeFolders(reader, configOk ? &used : nullptr);

    if (HasErrors(*problems)) return std::nullopt;
    FirmwarePackage package;
    // Only ever shown, in the window, the logs and the message list.
    package.name = EscapedForDisplay(FolderName(folder, rootPath));
    package.folder = rootPath;
    package.config = std::move(config);
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
