#include "pty.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace {

int RemainingMs(std::chrono::steady_clock::time_point deadline) {
    using namespace std::chrono;
    const auto left = duration_cast<milliseconds>(deadline - steady_clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

bool WaitFor(int fd, short events, int timeoutMs) {
    pollfd pfd = {fd, events, 0};
    int ready;
    do {
        ready = ::poll(&pfd, 1, timeoutMs);
    } while (ready < 0 && errno == EINTR);
    return ready > 0;
}

}  // namespace

bool WaitReadable(int fd, std::chrono::milliseconds timeout) {
    return WaitFor(fd, POLLIN, static_cast<int>(timeout.count()));
}

PtyPair::PtyPair() {
    // posix_openpt needs no libutil.
    m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    char name[128] = {};
    if (m_master < 0 || ::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0 ||
        ::ptsname_r(m_master, name, sizeof name) != 0) {
        CloseMaster();
        return;
    }
    m_slavePath = name;
    m_slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios raw = {};
    if (m_slave < 0 || ::tcgetattr(m_slave, &raw) != 0) {
        CloseSlave();
        CloseMaster();
        return;
    }
    cfmakeraw(&raw);
    cfsetspeed(&raw, B38400);
    raw.c_cflag |= CREAD | CLOCAL;
    ::tcsetattr(m_slave, TCSANOW, &raw);
}

PtyPair::~PtyPair() {
    CloseSlave();
    CloseMaster();
}

void PtyPair::CloseMaster() {
    if (m_master >= 0) ::close(m_master);
    m_master = -1;
}

void PtyPair::CloseSlave() {
    if (m_slave >= 0) ::close(m_slave);
    m_slave = -1;
}

bool PtyPair::SetPacketMode(bool on) {
    int flag = on ? 1 : 0;
    return ::ioctl(m_master, TIOCPKT, &flag) == 0;
}

termios PtyPair::MasterTermios() const {
    termios state = {};
    ::tcgetattr(m_master, &state);
    return state;
}

speed_t PtyPair::MasterSpeed() const {
    const termios state = MasterTermios();
    return cfgetospeed(&state);
}

bool PtyPair::Write(const void* data, std::size_t length, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    std::size_t done = 0;
    while (done < length) {
        const ssize_t n = ::write(m_master, bytes + done, length - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
            return false;
        } else if (!WaitFor(m_master, POLLOUT, RemainingMs(deadline))) {
            return false;
        }
    }
    return true;
}

std::vector<std::uint8_t> PtyPair::Read(std::size_t length, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::vector<std::uint8_t> got(length);
    std::size_t done = 0;
    while (done < length) {
        const ssize_t n = ::read(m_master, got.data() + done, length - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
            break;
        } else if (!WaitFor(m_master, POLLIN, RemainingMs(deadline))) {
            break;
        }
    }
    got.resize(done);
    return got;
}

std::vector<std::uint8_t> PtyPair::ReadSome(std::chrono::milliseconds timeout) {
    std::vector<std::uint8_t> got(4096);
    if (!WaitFor(m_master, POLLIN, static_cast<int>(timeout.count()))) return {};
    ssize_t n;
    do {
        n = ::read(m_master, got.data(), got.size());
    } while (n < 0 && errno == EINTR);
    got.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return got;
}
