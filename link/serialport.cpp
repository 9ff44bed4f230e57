#include "serialport.h"

#include <fcntl.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <QLoggingCategory>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <system_error>

// Developer trace of the serial link; enable with
// QT_LOGGING_RULES="quorvex.trace*.debug=true".
Q_LOGGING_CATEGORY(lcSerialTrace, "quorvex.trace.serial", QtWarningMsg)

namespace {

constexpr CommTimeouts kCommTimeouts = {
    1,     // ReadIntervalTimeout
    1000,  // ReadTotalTimeoutMultiplier
    1000,  // ReadTotalTimeoutConstant
    1000,  // WriteTotalTimeoutMultiplier
    1000,  // WriteTotalTimeoutConstant
};
constexpr int kWriteRetries = 50;  // after a failed completion
constexpr unsigned kMonitorExitCode = 100;
// Every event class a comm event mask may name.
constexpr std::uint32_t kKnownCommEvents = 0x1FFF;
// Refuses sizes that can only be a caller's mistake.
constexpr unsigned kMaxSendBufferSize = 1u << 20;
// How often a monitor whose receive ring is full looks for room again.
constexpr int kRoomRecheckMs = 10;

constexpr struct {
    std::uint32_t baud;
    speed_t speed;
} kSpeeds[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

std::optional<speed_t> SpeedOf(std::uint32_t baud) {
    for (const auto& entry : kSpeeds)
        if (entry.baud == baud) return entry.speed;
    return std::nullopt;
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

void SignalEvent(int fd) {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(fd, &one, sizeof one);
}

void ResetEvent(int fd) {
    std::uint64_t count = 0;
    [[maybe_unused]] const ssize_t n = ::read(fd, &count, sizeof count);
}

void CloseEvent(int* fd) {
    if (*fd >= 0) ::close(*fd);
    *fd = -1;
}

// Opens the tty for this program alone: the flock keeps out every other
// program that asks for it (root included), TIOCEXCL keeps out plain opens
// by unprivileged ones. Returns -1 with *error set when it cannot.
int OpenDevice(const std::string& path, int* error) {
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

// tcsetattr succeeds when any part of the change took; read back the parts
// the link depends on.
bool SetCommState(int fd, const termios& state) {
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

}  // namespace

bool BuildCommDCB(const char* szDef, termios* pState) {
    unsigned baud = 0, data = 0, stop = 0;
    char parity = 0;
    if (std::sscanf(szDef, "baud=%u parity=%c data=%u stop=%u", &baud, &parity, &data, &stop) !=
        4) {
        errno = EINVAL;
        return false;
    }
    const std::optional<speed_t> speed = SpeedOf(baud);
    static constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
    tcflag_t parityFlags = 0;
    switch (parity) {
        case 'N':
        case 'n':
            break;
        case 'E':
        case 'e':
            parityFlags = PARENB;
            break;
        case 'O':
        case 'o':
            parityFlags = PARENB | PARODD;
            break;
        case 'M':
        case 'm':
            parityFlags = PARENB | CMSPAR | PARODD;
            break;
        case 'S':
        case 's':
            parityFlags = PARENB | CMSPAR;
            break;
        default:
            errno = EINVAL;
            return false;
    }
    if (!speed || data < 5 || data > 8 || (stop != 1 && stop != 2)) {
        errno = EINVAL;
        return false;
    }
    termios state = *pState;
    cfmakeraw(&state);
    state.c_iflag &= ~(IXON | IXOFF | IXANY | INPCK);
    if (parityFlags != 0) state.c_iflag |= INPCK;
    state.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    state.c_cflag |= CLOCAL | CREAD | kSizes[data - 5] | parityFlags | (stop == 2 ? CSTOPB : 0);
    state.c_cc[VMIN] = 1;
    state.c_cc[VTIME] = 0;
    if (cfsetspeed(&state, *speed) != 0) {
        errno = EINVAL;
        return false;
    }
    *pState = state;
    return true;
}

CSerialPort::CSerialPort()
    : m_serialIoctl([](int fd, unsigned long request, serial_struct* info) {
          return ::ioctl(fd, request, info);
      }) {
    // The owner sets the receive ring up again before opening; this only keeps
    // a forgetful owner from a ring without storage.
    RingInit(&m_rxRing, sizeof m_rxStore, m_rxStore);
    RingInit(&m_txRing, 0, nullptr);  // holds nothing until the port opens
}

CSerialPort::~CSerialPort() {
    StopMonitor();
    qCDebug(lcSerialTrace, "Thread ended");
    ClosePort();
    CloseEvent(&m_hStopEvent);
    CloseEvent(&m_hSendEvent);
}

bool CSerialPort::OpenPort(ILinkOwner* pPortOwner, unsigned portnr, const std::string& device,
                           unsigned baud, char parity, unsigned databits, unsigned stopbits,
                           std::uint32_t dwCommEvents, unsigned nSendBufferSize) {
    // Refused in every build: a wrong number must not open some other device.
    if (portnr == 0 || portnr > MAX_PORT || pPortOwner == nullptr || nSendBufferSize == 0 ||
        nSendBufferSize > kMaxSendBufferSize) {
        qCWarning(lcSerialTrace,
                  "OpenPort refused: portnr > 0 && portnr <= MAX_PORT, "
                  "pPortOwner != NULL, send buffer size %u",
                  nSendBufferSize);
        m_nOpenErrno = EINVAL;
        return false;
    }

    if (m_pMonitorThread) {
        StopMonitor();
        qCDebug(lcSerialTrace, "Thread ended");
    }

    // The monitor is gone: the events can be replaced. Their order in
    // m_waitHandles is the order of precedence.
    for (int* event : {&m_hSendEvent, &m_hStopEvent}) {
        CloseEvent(event);
        *event = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (*event < 0) {
            m_nOpenErrno = errno;
            return false;
        }
    }
    m_waitHandles[0] = {m_hStopEvent, POLLIN, 0};
    m_waitHandles[1] = {-1, POLLIN, 0};
    m_waitHandles[2] = {m_hSendEvent, POLLIN, 0};

    m_pOwnerWnd = pPortOwner;

    std::uint32_t txSize = 1;
    while (txSize < nSendBufferSize) txSize <<= 1;
    m_pTxStore = std::make_unique<std::uint8_t[]>(txSize);
    m_pSendBuffer = std::make_unique<std::uint8_t[]>(txSize);
    RingInit(&m_txRing, txSize, m_pTxStore.get());
    m_nSendLength = 0;
    m_nPort = portnr;
    m_nSendBufferSize = nSendBufferSize;
    m_dwEventMask = dwCommEvents;
    m_dwCommMask = 0;
    m_bLinkLost = false;
    m_bRxWaitsForRoom = false;

    std::lock_guard<std::mutex> lock(m_lock);
    ClosePort();

    char def[80];
    std::snprintf(def, sizeof def, "baud=%u parity=%c data=%u stop=%u", baud, parity, databits,
                  stopbits);

    if (device.empty()) {
        m_nOpenErrno = ENODEV;
        return false;
    }
    m_hComm = OpenDevice(device, &m_nOpenErrno);
    if (m_hComm < 0) return false;
    m_waitHandles[1].fd = m_hComm;

    // The first configuration step that fails is reported and the rest are
    // skipped; the port stays open with what was applied so far.
    const char* failedStep = nullptr;
    m_commTimeouts = kCommTimeouts;
    if (dwCommEvents & ~kKnownCommEvents) {
        errno = EINVAL;
        failedStep = "SetCommMask()";
    } else {
        m_dwCommMask = dwCommEvents;
        if (::tcgetattr(m_hComm, &m_commState) != 0) {
            failedStep = "GetCommState()";
        } else {
            termios state = m_commState;
            if (!BuildCommDCB(def, &state)) {
                failedStep = "BuildCommDCB()";
            } else if (!SetCommState(m_hComm, state)) {
                failedStep = "SetCommState()";
            } else {
                m_commState = state;
                // RTS held on. A pseudo-terminal has no modem lines (ENOTTY).
                const int rts = TIOCM_RTS;
                if (::ioctl(m_hComm, TIOCMBIS, &rts) != 0 && errno != ENOTTY && errno != EINVAL)
                    failedStep = "SetCommState()";
            }
        }
    }
    if (failedStep) ReportError(failedStep, errno);
    SetLowLatency();

    ::tcflush(m_hComm, TCIOFLUSH);
    m_nOpenErrno = 0;
    qCDebug(lcSerialTrace,
            "Initialisation for communicationport %u completed.\nUse Startmonitor to communicate.",
            portnr);
    return true;
}

bool CSerialPort::StartMonitor() {
    if (m_pMonitorThread || m_hComm < 0) return false;
    try {
        m_pMonitorThread = std::make_unique<std::thread>(&CSerialPort::MonitorThread, this);
    } catch (const std::system_error&) {
        return false;
    }
    qCDebug(lcSerialTrace, "Thread started");
    return true;
}

void CSerialPort::WritePort(const std::uint8_t* bytes, std::int32_t length) {
    if (m_hComm < 0) {
        qCWarning(lcSerialTrace, "WritePort: m_hComm != 0 failed");
        return;
    }
    if (length <= 0) return;
    // A longer write is refused whole: a truncated frame is only noise to the
    // receiver. So are bytes that find the previous ones still waiting and no
    // room beside them.
    if (static_cast<std::uint32_t>(length) > m_nSendBufferSize ||
        RingPut(&m_txRing, bytes, static_cast<std::uint32_t>(length)) == 0) {
        qCWarning(lcSerialTrace, "WritePort: %d bytes refused on COM%u", length, m_nPort);
        return;
    }
    SignalEvent(m_hSendEvent);
}

void CSerialPort::SetBaudRate(std::uint32_t baud) {
    // No lock and no purge: the monitor keeps running, and the callers wait
    // before they send at the new speed.
    if (::tcgetattr(m_hComm, &m_commState) != 0) {
        ReportError("GetCommState()", errno);
        return;
    }
    termios state = m_commState;
    const std::optional<speed_t> speed = SpeedOf(baud);
    if (!speed || cfsetspeed(&state, *speed) != 0) {
        ReportError("SetCommState()", EINVAL);
        return;
    }
    if (!SetCommState(m_hComm, state)) {
        ReportError("SetCommState()", errno);
        return;
    }
    m_commState = state;
}

unsigned CSerialPort::MonitorThread(CSerialPort* pPort) {
    CSerialPort& port = *pPort;
    port.m_bMonitorAlive = true;
    // A stop requested before this thread ran is not lost by clearing the
    // flag: the stop event stays signalled and wins the first poll.
    port.m_bStopRequested = false;
    if (port.m_hComm >= 0) ::tcflush(port.m_hComm, TCIOFLUSH);
    // Without EV_RXCHAR waiting bytes must not wake the thread; a hang-up
    // still does.
    port.m_waitHandles[1].events = (port.m_dwCommMask & EV_RXCHAR) ? POLLIN : 0;

    for (;;) {
        // The owner takes from the ring without telling this thread, so a
        // monitor waiting for room looks for it again now and then; it does
        // not watch the tty meanwhile, which stays readable and would spin it.
        int timeout = -1;
        if (port.m_bRxWaitsForRoom) {
            if (RingSpace(&port.m_rxRing) == 0) {
                timeout = kRoomRecheckMs;
            } else {
                port.m_bRxWaitsForRoom = false;
                port.m_waitHandles[1].events = POLLIN;
            }
        }
        if (::poll(port.m_waitHandles, 3, timeout) <= 0) continue;
        if (port.m_waitHandles[0].revents != 0) {
            port.m_bMonitorAlive = false;
            qCDebug(lcSerialTrace, "\nStop!");
            return kMonitorExitCode;
        }
        if (port.m_waitHandles[1].revents != 0)
            port.OnCommEvent(port.m_waitHandles[1].revents);
        else if (port.m_waitHandles[2].revents != 0)
            port.SendPending();
    }
}

void CSerialPort::OnCommEvent(short revents) {
    // The mask the port was given, not the events that happened: every class
    // in it is acted on at each wake-up.
    const std::uint32_t mask = m_dwCommMask;
    if (mask & EV_CTS) Post(WM_PORT_CTS, 0);
    if (mask & EV_RXFLAG) Post(WM_PORT_RXFLAG, 0);
    if (mask & EV_BREAK) Post(WM_PORT_BREAK, 0);
    if (mask & EV_ERR) Post(WM_PORT_ERR, 0);
    if (mask & EV_RING) Post(WM_PORT_RING, 0);
    if (mask & EV_RXCHAR) ReceiveBytes();
    if ((revents & (POLLHUP | POLLERR | POLLNVAL)) && !m_bStopRequested)
        LinkLost("WaitCommEvent()", EIO);
}

// Everything the tty holds, up to the room in the ring, goes in with one put
// and one notice. What does not fit stays in the tty, in order, until the
// owner has made room: nothing received is dropped here.
void CSerialPort::ReceiveBytes() {
    if (m_bStopRequested) return;
    const std::uint32_t room = std::min<std::uint32_t>(RingSpace(&m_rxRing), sizeof m_rxScratch);
    if (room == 0) {
        m_bRxWaitsForRoom = true;
        m_waitHandles[1].events = 0;  // a hang-up still wakes the monitor
        return;
    }
    std::uint32_t got = 0;
    int error = 0;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        while (got < room) {
            const ssize_t n = ::read(m_hComm, m_rxScratch + got, room - got);
            if (n > 0) {
                got += static_cast<std::uint32_t>(n);
            } else if (n < 0 && errno == EINTR) {
                continue;
            } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                break;
            } else {
                // End of file or EIO: the far end hung up (a pulled adapter, a
                // closed pseudo-terminal). Any other read error ends reception
                // the same way rather than repeating itself for ever.
                error = n == 0 ? EIO : errno;
                break;
            }
        }
    }
    // Only this thread fills the ring, so the room it saw is still there.
    if (got != 0) {
        RingPut(&m_rxRing, m_rxScratch, got);
        Post(WM_LINK_DATA, got);
    }
    if (error != 0) LinkLost("ReadFile()", error);
}

void CSerialPort::SendPending() {
    ResetEvent(m_hSendEvent);
    m_nSendLength =
        static_cast<std::int32_t>(RingGet(&m_txRing, m_pSendBuffer.get(), m_txRing.mask + 1));
    // After a hang-up (already reported) nothing more goes out.
    if (m_nSendLength == 0 || m_bLinkLost) return;

    for (int attempt = 0; attempt <= kWriteRetries; ++attempt) {
        int error = 0;
        WriteOutcome outcome;
        {
            std::lock_guard<std::mutex> lock(m_lock);
            outcome = WriteAttempt(&error);
        }
        switch (outcome) {
            case WriteOutcome::Done:
            case WriteOutcome::Stopped:
                return;
            case WriteOutcome::Failed:
                if (error == EIO)
                    LinkLost("WriteFile()", error);
                else
                    ReportError("WriteFile()", error);
                return;
            case WriteOutcome::Incomplete:
                break;  // a failed completion: the same bytes again
        }
    }
    qCDebug(lcSerialTrace, "COM%u: write given up after %d retries", m_nPort, kWriteRetries);
}

// One write of m_pSendBuffer. Failed: write() refused the first bytes at once.
// Incomplete: started, but did not finish or drain within the write time-out.
CSerialPort::WriteOutcome CSerialPort::WriteAttempt(int* pError) {
    using std::chrono::milliseconds;
    // Unread input and unsent output go before every write.
    ::tcflush(m_hComm, TCIOFLUSH);
    const auto length = static_cast<std::size_t>(m_nSendLength);
    const auto deadline =
        std::chrono::steady_clock::now() +
        milliseconds(std::uint64_t{m_commTimeouts.WriteTotalTimeoutMultiplier} * length +
                     m_commTimeouts.WriteTotalTimeoutConstant);
    std::size_t done = 0;
    while (done < length) {
        const ssize_t n = ::write(m_hComm, m_pSendBuffer.get() + done, length - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            *pError = errno;
            return done == 0 ? WriteOutcome::Failed : WriteOutcome::Incomplete;
        }
        const WaitResult wait = WaitForPort(POLLOUT, deadline, -1);
        if (wait == WaitResult::Stopped) return WriteOutcome::Stopped;
        if (wait == WaitResult::TimedOut) {
            *pError = ETIMEDOUT;
            return WriteOutcome::Incomplete;
        }
    }
    // Complete once the driver has sent it: the purge before the next write
    // must not cut off the tail of this one.
    int queued = 0;
    while (::ioctl(m_hComm, TIOCOUTQ, &queued) == 0 && queued > 0) {
        const WaitResult wait = WaitForPort(0, deadline, 1);
        if (wait == WaitResult::Stopped) return WriteOutcome::Stopped;
        if (wait == WaitResult::TimedOut && std::chrono::steady_clock::now() >= deadline) {
            *pError = ETIMEDOUT;
            return WriteOutcome::Incomplete;
        }
    }
    return WriteOutcome::Done;
}

// Waits for the port (events) or the stop event until deadline, at most
// maxWaitMs (-1: no limit of its own). Stop wins.
CSerialPort::WaitResult CSerialPort::WaitForPort(short events,
                                                 std::chrono::steady_clock::time_point deadline,
                                                 int maxWaitMs) {
    using namespace std::chrono;
    const auto left = duration_cast<milliseconds>(deadline - steady_clock::now()).count() + 1;
    if (left <= 1) return WaitResult::TimedOut;
    int timeout = left > 1000000 ? 1000000 : static_cast<int>(left);
    if (maxWaitMs >= 0 && maxWaitMs < timeout) timeout = maxWaitMs;
    pollfd fds[2] = {{m_hStopEvent, POLLIN, 0}, {m_hComm, events, 0}};
    const int ready = ::poll(fds, events != 0 ? 2 : 1, timeout);
    if (ready > 0 && fds[0].revents != 0) return WaitResult::Stopped;
    return ready > 0 ? WaitResult::Ready : WaitResult::TimedOut;
}

std::string CSerialPort::ErrorReport(const char* szStep, int nError) const {
    // Composed in full, however long the system's text.
    const std::string text = std::string("WARNING:  ") + szStep +
                             " Failed with the following error: \n" + ErrorText(nError) +
                             "\nPort: " + std::to_string(m_nPort) + "\n";
    qCDebug(lcSerialTrace, "%s", text.c_str());
    return text;
}

void CSerialPort::ReportError(const char* szStep, int nError) {
    const std::string text = ErrorReport(szStep, nError);
    if (m_pOwnerWnd) m_pOwnerWnd->ReportLinkError(text);
}

// Reported once; the monitor then stops watching the tty, receives and sends
// nothing more, and waits for the owner to delete the port.
void CSerialPort::LinkLost(const char* szStep, int nError) {
    if (m_bLinkLost) return;
    m_bLinkLost = true;
    m_waitHandles[1].fd = -1;
    const std::string text = ErrorReport(szStep, nError);
    if (m_pOwnerWnd) m_pOwnerWnd->ReportLinkLost(text);
}

void CSerialPort::Post(unsigned message, std::uintptr_t wParam) {
    if (m_pOwnerWnd) m_pOwnerWnd->PostLinkMessage(message, wParam, m_nPort);
}

// The thread is joined, not only polled for m_bMonitorAlive: a thread that
// has not run yet, or is in the middle of a read or a write, still holds
// this object, and nothing may free it before the thread is gone. The stop
// event interrupts any wait the thread is in.
void CSerialPort::StopMonitor() {
    m_bStopRequested = true;
    if (m_hStopEvent >= 0) SignalEvent(m_hStopEvent);
    if (m_pMonitorThread) {
        m_pMonitorThread->join();
        m_pMonitorThread.reset();
    }
}

// A USB-serial adapter holds received bytes for its latency timer (16 ms by
// default) and the update waits for each block's acknowledgement, so the
// timer would roughly double the time per block; low latency cuts it to 1 ms
// on the common drivers. A tty without it (a pseudo-terminal, a driver that
// refuses) works as before, only slower: no report.
void CSerialPort::SetLowLatency() {
    m_bRestoreSerial = false;
    serial_struct serial = {};
    if (m_serialIoctl(m_hComm, TIOCGSERIAL, &serial) != 0) {
        qCDebug(lcSerialTrace, "COM%u: no serial flags (%s), latency left as it is", m_nPort,
                ErrorText(errno).c_str());
        return;
    }
    // Already set (by udev, setserial or the operator): theirs to keep, so
    // nothing is changed and nothing restored.
    if (serial.flags & ASYNC_LOW_LATENCY) return;
    const serial_struct saved = serial;
    serial.flags |= ASYNC_LOW_LATENCY;
    if (m_serialIoctl(m_hComm, TIOCSSERIAL, &serial) != 0) {
        qCDebug(lcSerialTrace, "COM%u: low latency refused (%s)", m_nPort,
                ErrorText(errno).c_str());
        return;
    }
    m_savedSerial = saved;
    m_bRestoreSerial = true;
}

void CSerialPort::ClosePort() {
    if (m_hComm < 0) return;
    // Best effort: a hung-up or pulled device cannot take it, and has nothing
    // left to restore.
    if (m_bRestoreSerial) {
        m_bRestoreSerial = false;
        if (m_serialIoctl(m_hComm, TIOCSSERIAL, &m_savedSerial) != 0)
            qCDebug(lcSerialTrace, "serial flags not restored (%s)", ErrorText(errno).c_str());
    }
    // The exclusive flag would outlive this close while anyone else has the
    // tty open.
    ::ioctl(m_hComm, TIOCNXCL);
    ::close(m_hComm);  // drops the flock too
    m_hComm = -1;
}
