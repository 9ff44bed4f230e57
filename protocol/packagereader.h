#pragma once

#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "firmwarepackage.h"

// The system's text for an errno value.
std::string ErrnoText(int error);

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

// Opens and reads the files of one package beneath its folder, within the
// package limits, and reports what is wrong with them as problems.
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
    Result Open(const std::string& rel, std::uint64_t limit, Fd* fd, struct stat* st);
    // A text file of the package (images.conf, SHA256SUMS), whole.
    Result ReadText(const std::string& rel, std::string* text);
    // First look: there, a regular file, not too big. Nothing is read yet,
    // so a package over its limits is refused before any time is spent.
    void Measure(const std::string& rel, FileFacts* facts);
    // Reads the file the first look found, block by block, into its hash.
    void Hash(const std::string& rel, FileFacts* facts);

private:
    Result Failed(const std::string& rel, std::string message) {
        Error(rel, 0, std::move(message));
        return Result::kFailed;
    }
    void Changed(const std::string& rel) {
        Error(rel, 0, "changed while the package was being checked");
    }
    std::string LinkRefused(const std::string& rel) const;

    int m_folder;
    std::vector<PackageProblem>* m_problems;
    std::vector<char> m_block;
};
