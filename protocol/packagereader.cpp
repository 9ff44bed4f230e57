#include "packagereader.h"

#include <fcntl.h>

#include <QByteArrayView>
#include <QCryptographicHash>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string_view>
#include <system_error>

#include "beneath.h"

namespace {

// Both text files are a few kilobytes; a bigger one is not what it claims.
constexpr std::size_t kMaxTextFile = 1u << 20;
constexpr std::uint8_t kCpuMagic[] = {0xEE, 0xBE, 0xAD, 0xDE};
// Files are hashed through one buffer of this size, whatever their size.
constexpr std::size_t kHashBlock = 1u << 20;

std::size_t LineCount(std::string_view text) {
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) +
           (text.empty() || text.back() == '\n' ? 0 : 1);
}

}  // namespace

std::string ErrnoText(int error) {
    return std::generic_category().message(error);
}

PackageReader::Result PackageReader::Open(const std::string& rel, std::uint64_t limit, Fd* fd,
                                          struct stat* st) {
    // Non-blocking, so that a FIFO in an image's place cannot hold the open.
    Fd opened(OpenBeneath(m_folder, rel, O_RDONLY | O_NONBLOCK));
    if (opened.Get() < 0) {
        const int error = errno;
        if (error == ENOENT) return Result::kMissing;
        if (error == ELOOP) return Failed(rel, LinkRefused(rel));
        if (error == EXDEV) return Failed(rel, "refused: it leads out of the package folder");
        return Failed(rel, "cannot be read: " + ErrnoText(error));
    }
    if (::fstat(opened.Get(), st) != 0) return Failed(rel, "cannot be read: " + ErrnoText(errno));
    if (S_ISDIR(st->st_mode)) return Failed(rel, "cannot be read: " + ErrnoText(EISDIR));
    if (!S_ISREG(st->st_mode)) return Failed(rel, "refused: not a regular file");
    if (static_cast<std::uint64_t>(st->st_size) > limit)
        return Failed(rel, "refused: " + std::to_string(st->st_size) + " bytes, over the " +
                               std::to_string(limit) + "-byte limit");
    *fd = std::move(opened);
    return Result::kOpened;
}

PackageReader::Result PackageReader::ReadText(const std::string& rel, std::string* text) {
    Fd fd;
    struct stat st {};
    const Result result = Open(rel, kMaxTextFile, &fd, &st);
    if (result != Result::kOpened) return result;
    text->assign(static_cast<std::size_t>(st.st_size), '\0');
    std::size_t got = 0;
    while (got < text->size()) {
        const ssize_t n = ::read(fd.Get(), text->data() + got, text->size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return Failed(rel, "cannot be read: " + ErrnoText(errno));
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
    }
    text->resize(got);
    if (LineCount(*text) > kMaxPackageLines)
        return Failed(rel, "refused: more than " + std::to_string(kMaxPackageLines) + " lines");
    return Result::kOpened;
}

void PackageReader::Measure(const std::string& rel, FileFacts* facts) {
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

void PackageReader::Hash(const std::string& rel, FileFacts* facts) {
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
            Error(rel, 0, "cannot be read: " + ErrnoText(errno));
            return;
        }
        if (n == 0) break;
        if (total == 0) facts->cpuMagic = n >= 4 && std::memcmp(m_block.data(), kCpuMagic, 4) == 0;
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

std::string PackageReader::LinkRefused(const std::string& rel) const {
    std::string target;
    const std::string link = LinkOnPath(m_folder, rel, &target);
    const std::string why = "; links are not followed in a package";
    if (link.empty()) return "refused: a link on its way" + why;
    return "refused: " + (link == rel ? std::string("a link") : link + " is a link") + " to " +
           target + why;
}
