#include "serialtty.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <utility>

Q_LOGGING_CATEGORY(lcSerialTrace, "quorvex.trace.serial", QtWarningMsg)

namespace {

constexpr struct {
    std::uint32_t baud;
    speed_t speed;
} kSpeeds[] = {
    {1200, B1200},     {2400, B2400},     {4800, B4800},     {9600, B9600},
    {19200, B19200},   {38400, B38400},   {57600, B57600},   {115200, B115200},
    {230400, B230400}, {460800, B460800}, {921600, B921600},
};

std::optional<speed_t> SpeedOf(std::uint32_t baud) {
    for (const auto& entry : kSpeeds)
        if (entry.baud == baud) return entry.speed;
    return std::nullopt;
}

// tcsetattr succeeds when any part of the change took; read back the parts
// the link depends on.
bool ApplyLine(int fd, const termios& state) {
    if (::tcsetattr(fd, TCSANOW, &state) != 0) return false;
    termios applied = {};
    if (::tcgetattr(fd, &applied) != 0) return false;
    constexpr tcflag_t kFrame = CSIZE | PARENB | PARODD | CSTOPB;
    if (cfgetospeed(&applied) != cfgetospeed(&state) ||
        (applied.c_cflag & kFrame) != (state.c_cflag & kFrame)) {
        errno = EINVAL;
        return false;
    }
    return true;
}

// strerror_r comes in a GNU and an XSI flavour; take whichever is declared.
[[maybe_unused]] const char* ErrorTextOf(const char* result, const char*) {
    return result;
}
[[maybe_unused]] const char* ErrorTextOf(int result, const char* buffer) {
    return result == 0 ? buffer : "Unknown error";
}

std::string ErrorText(int error) {
    char buffer[256] = {};
    return ErrorTextOf(strerror_r(error, buffer, sizeof buffer), buffer);
}

}  // namespace

int OpenExclusiveTty(const std::string& path, int* error) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *error = errno;
        return -1;
    }
    if (::isatty(fd) != 1) {
        *error = ENOTTY;
    } else if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        *error = errno == EWOULDBLOCK ? EBUSY : errno;
    } else if (::ioctl(fd, TIOCEXCL) != 0) {
        *error = errno;
    } else {
        return fd;
    }
    ::close(fd);
    return -1;
}

const char* ConfigureRawLine(int fd, std::uint32_t baud) {
    termios state = {};
    if (::tcgetattr(fd, &state) != 0) return "GetCommState()";
    const std::optional<speed_t> speed = SpeedOf(baud);
    cfmakeraw(&state);
    state.c_iflag &= ~(IXON | IXOFF | IXANY | INPCK);
    state.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    state.c_cflag |= CLOCAL | CREAD | CS8;
    state.c_cc[VMIN] = 1;
    state.c_cc[VTIME] = 0;
    if (!speed || cfsetspeed(&state, *speed) != 0) {
        errno = EINVAL;
        return "SetCommState()";
    }
    if (!ApplyLine(fd, state)) return "SetCommState()";
    // A pseudo-terminal has no modem lines (ENOTTY).
    const int rts = TIOCM_RTS;
    if (::ioctl(fd, TIOCMBIS, &rts) != 0 && errno != ENOTTY && errno != EINVAL)
        return "SetCommState()";
    return nullptr;
}

const char* SetLineSpeed(int fd, std::uint32_t baud) {
    termios state = {};
    if (::tcgetattr(fd, &state) != 0) return "GetCommState()";
    const std::optional<speed_t> speed = SpeedOf(baud);
    if (!speed || cfsetspeed(&state, *speed) != 0) {
        errno = EINVAL;
        return "SetCommState()";
    }
    return ApplyLine(fd, state) ? nullptr : "SetCommState()";
}

std::string LinkErrorText(const char* step, int error, unsigned port) {
    return std::string("WARNING:  ") + step + " Failed with the following error: \n" +
           ErrorText(error) + "\nPort: " + std::to_string(port) + "\n";
}

void CloseTty(int fd) {
    ::ioctl(fd, TIOCNXCL);
    ::close(fd);
}

CLowLatency::CLowLatency(SerialFlagsIoctl ioctl) : m_ioctl(std::move(ioctl)) {
    if (!m_ioctl) {
        m_ioctl = [](int fd, unsigned long request, serial_struct* info) {
            return ::ioctl(fd, request, info);
        };
    }
}

void CLowLatency::Set(int fd, unsigned port) {
    m_bRestore = false;
    serial_struct serial = {};
    if (m_ioctl(fd, TIOCGSERIAL, &serial) != 0) {
        qCDebug(lcSerialTrace, "COM%u: no serial flags (%s), latency left as it is", port,
                ErrorText(errno).c_str());
        return;
    }
    // Already set (by udev, setserial or the operator): theirs to keep, so
    // nothing is changed and nothing restored.
    if (serial.flags & ASYNC_LOW_LATENCY) return;
    const serial_struct saved = serial;
    serial.flags |= ASYNC_LOW_LATENCY;
    if (m_ioctl(fd, TIOCSSERIAL, &serial) != 0) {
        qCDebug(lcSerialTrace, "COM%u: low latency refused (%s)", port, ErrorText(errno).c_str());
        return;
    }
    m_saved = saved;
    m_bRestore = true;
}

void CLowLatency::Restore(int fd) {
    if (!std::exchange(m_bRestore, false)) return;
    if (m_ioctl(fd, TIOCSSERIAL, &m_saved) != 0)
        qCDebug(lcSerialTrace, "serial flags not restored (%s)", ErrorText(errno).c_str());
}
