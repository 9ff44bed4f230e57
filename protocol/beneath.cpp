#include "beneath.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>
#include <vector>

namespace {

// The names of rel; empty when one is empty, "." or "..", which no path a
// package names needs.
std::vector<std::string> Names(const std::string& rel) {
    std::vector<std::string> names;
    std::string_view rest = rel;
    while (true) {
        const std::size_t slash = rest.find('/');
        const std::string_view name = rest.substr(0, slash);
        if (name.empty() || name == "." || name == "..") return {};
        names.emplace_back(name);
        if (slash == std::string_view::npos) return names;
        rest.remove_prefix(slash + 1);
    }
}

bool IsLink(int dirfd, const std::string& name) {
    struct stat st {};
    return ::fstatat(dirfd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode);
}

}  // namespace

int OpenBeneath(int dirfd, const std::string& rel, int flags) {
    if (Names(rel).empty()) {
        errno = EXDEV;
        return -1;
    }
    open_how how{};
    how.flags = static_cast<std::uint64_t>(flags | O_CLOEXEC | O_NOFOLLOW);
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
    int fd;
    do {
        fd = static_cast<int>(::syscall(SYS_openat2, dirfd, rel.c_str(), &how, sizeof how));
    } while (fd < 0 && errno == EINTR);
    if (fd >= 0 || errno != ENOSYS) return fd;
    return OpenBeneathByWalk(dirfd, rel, flags);
}

int OpenBeneathByWalk(int dirfd, const std::string& rel, int flags) {
    const std::vector<std::string> names = Names(rel);
    if (names.empty()) {
        errno = EXDEV;
        return -1;
    }
    int at = dirfd;
    for (std::size_t i = 0; i < names.size(); ++i) {
        const bool last = i + 1 == names.size();
        const int fd = ::openat(
            at, names[i].c_str(),
            last ? flags | O_CLOEXEC | O_NOFOLLOW : O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        int error = errno;
        // A link opened as a folder fails with ENOTDIR: say what it is.
        if (fd < 0 && error == ENOTDIR && IsLink(at, names[i])) error = ELOOP;
        if (at != dirfd) ::close(at);
        if (fd < 0) {
            errno = error;
            return -1;
        }
        at = fd;
    }
    return at;
}

std::string LinkOnPath(int dirfd, const std::string& rel, std::string* target) {
    std::string path;
    for (const std::string& name : Names(rel)) {
        path += (path.empty() ? "" : "/") + name;
        if (!IsLink(dirfd, path)) continue;
        char buffer[4096];
        const ssize_t n = ::readlinkat(dirfd, path.c_str(), buffer, sizeof buffer);
        target->assign(buffer, n > 0 ? static_cast<std::size_t>(n) : 0);
        return path;
    }
    return {};
}
