#include "packageimagestore.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QByteArrayView>
#include <QCryptographicHash>
#include <cerrno>

#include "beneath.h"
#include "trace.h"

CPackageImageStore::CPackageImageStore(int folderFd) : m_folderFd(folderFd) {}

CPackageImageStore::~CPackageImageStore() {
    if (m_folderFd >= 0) ::close(m_folderFd);
}

void CPackageImageStore::Add(std::string type, std::uint16_t id, Image image) {
    const std::lock_guard lock(m_mutex);
    m_images[{std::move(type), id}] = Entry{std::move(image), false, {}};
}

ImageBytes CPackageImageStore::Find(std::string_view type, std::uint16_t id) const {
    const std::lock_guard lock(m_mutex);
    const auto it = m_images.find(std::pair<std::string, std::uint16_t>{std::string(type), id});
    if (it == m_images.end()) return {};
    if (!it->second.read) Read(it->second);
    return it->second.bytes;
}

void CPackageImageStore::Read(Entry& entry) const {
    entry.read = true;
    const Image& image = entry.image;
    const int fd = OpenBeneath(m_folderFd, image.file, O_RDONLY | O_NONBLOCK);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
        static_cast<std::uint64_t>(st.st_size) != image.size) {
        qCDebug(lcTrace, "%s: cannot be read again, or its size changed since the check",
                image.file.c_str());
        if (fd >= 0) ::close(fd);
        return;
    }
    std::vector<std::uint8_t> bytes(image.size);
    std::size_t got = 0;
    while (got < bytes.size()) {
        const ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<std::size_t>(n);
    }
    ::close(fd);
    const std::string sha256 =
        QCryptographicHash::hash(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())),
                                 QCryptographicHash::Sha256)
            .toHex()
            .toStdString();
    if (got != bytes.size() || sha256 != image.sha256) {
        qCDebug(lcTrace, "%s: changed since the check; not sent", image.file.c_str());
        return;
    }
    entry.bytes = std::move(bytes);
}
