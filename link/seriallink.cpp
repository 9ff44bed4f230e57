#include "seriallink.h"

#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <algorithm>
#include <cerrno>
#include <utility>

namespace {

constexpr std::uint32_t kOpenBaud = 115200;
constexpr std::size_t kSendBufferSize = 512;
constexpr std::size_t kKeepChunk = 4096;

bool OutputQueued(int fd) {
    int queued = 0;
    return ::ioctl(fd, TIOCOUTQ, &queued) == 0 && queued > 0;
}

}  // namespace

CSerialLink::CSerialLink(SerialLinkSettings settings, std::string consoleList,
                         SerialFlagsIoctl flagsIoctl)
    : m_settings(std::move(settings)),
      m_consoleList(std::move(consoleList)),
      m_lowLatency(std::move(flagsIoctl)) {}

CSerialLink::~CSerialLink() {
    Close();
}

bool CSerialLink::Open(ILinkListener* listener) {
    if (m_fd >= 0) return true;
    m_pListener = listener;
    m_refusal = LinkRefusal::None;
    // Checked before anything opens the device: even an open and close can
    // disturb a console.
    if (!m_settings.deviceNamed && IsConsoleTty(m_settings.device, m_consoleList)) {
        m_refusal = LinkRefusal::Console;
        return false;
    }
    if (!OpenTty()) return false;
    m_pReadable = std::make_unique<QSocketNotifier>(m_fd, QSocketNotifier::Read);
    QObject::connect(m_pReadable.get(), &QSocketNotifier::activated, m_pReadable.get(),
                     [this] { OnReadable(); });
    m_pWritable = std::make_unique<QSocketNotifier>(m_fd, QSocketNotifier::Write);
    m_pWritable->setEnabled(false);
    QObject::connect(m_pWritable.get(), &QSocketNotifier::activated, m_pWritable.get(),
                     [this] { OnWritable(); });
    return true;
}

// Opens and configures the tty. A configuration step that fails is reported
// and the tty stays open with what was applied so far.
bool CSerialLink::OpenTty() {
    // Refused in every build: a wrong number must not open some other device.
    if (m_settings.comPort == 0 || m_settings.comPort > MAX_PORT || m_settings.device.empty()) {
        qCWarning(lcSerialTrace, "COM%u (%s) refused", m_settings.comPort,
                  m_settings.device.c_str());
        m_refusal = LinkRefusal::Other;
        return false;
    }
    int error = 0;
    m_fd = OpenExclusiveTty(m_settings.device, &error);
    if (m_fd < 0) {
        m_refusal = error == EACCES ? LinkRefusal::PermissionDenied : LinkRefusal::Other;
        return false;
    }
    m_bNotified = m_bLineLost = false;
    if (const char* step = ConfigureRawLine(m_fd, kOpenBaud)) Fail(step, errno);
    m_lowLatency.Set(m_fd, m_settings.comPort);
    ::tcflush(m_fd, TCIOFLUSH);
    qCDebug(lcSerialTrace, "COM%u: %s open", m_settings.comPort, m_settings.device.c_str());
    return true;
}

void CSerialLink::Close() {
    m_pReadable.reset();
    m_pWritable.reset();
    if (m_fd >= 0) {
        m_lowLatency.Restore(m_fd);
        CloseTty(m_fd);
        m_fd = -1;
    }
    m_held.clear();
    m_nHeldPos = 0;
    m_tx.clear();
    m_bNotified = m_bLineLost = false;
}

// ------------------------------------------------------------------ receiving

// The notifier is level-triggered and the owner may leave bytes in the tty
// for a while (the protocol's pauses): one notice per Read, and a second
// wake-up before that Read stops the watch until it comes.
void CSerialLink::OnReadable() {
    if (m_bNotified) {
        m_pReadable->setEnabled(false);
        return;
    }
    m_bNotified = true;
    // Last: the owner may close and delete this link from within the notice.
    if (m_pListener) m_pListener->OnLinkDataReady();
}

std::size_t CSerialLink::Read(std::uint8_t* buffer, std::size_t size) {
    if (m_fd < 0 || size == 0) return 0;
    m_bNotified = false;
    if (m_nHeldPos < m_held.size()) {
        const std::size_t n = std::min(size, m_held.size() - m_nHeldPos);
        std::copy_n(m_held.begin() + static_cast<std::ptrdiff_t>(m_nHeldPos), n, buffer);
        m_nHeldPos += n;
        if (m_nHeldPos == m_held.size()) m_held.clear(), m_nHeldPos = 0;
        return n;
    }
    if (m_bLineLost) return 0;
    if (!m_pReadable->isEnabled()) m_pReadable->setEnabled(true);
    for (;;) {
        const ssize_t n = ::read(m_fd, buffer, size);
        if (n > 0) return static_cast<std::size_t>(n);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return 0;
        // End of file or EIO: the far end hung up (a pulled adapter, a closed
        // pseudo-terminal). Any other read error ends reception the same way
        // rather than repeating itself for ever.
        LoseLine("ReadFile()", n == 0 ? EIO : errno);
        return 0;
    }
}

// ------------------------------------------------------------------- sending

void CSerialLink::Write(const std::uint8_t* bytes, std::size_t length) {
    // After a hang-up (already reported) nothing more goes out.
    if (m_fd < 0 || m_bLineLost || length == 0) return;
    if (m_tx.size() + length > kSendBufferSize) {
        qCWarning(lcSerialTrace, "Write: %zu bytes refused on COM%u", length, m_settings.comPort);
        return;
    }
    // Behind bytes the tty could not take yet, in order, when it has room.
    if (!m_tx.empty()) {
        m_tx.insert(m_tx.end(), bytes, bytes + length);
        return;
    }
    PurgeBeforeWrite();
    if (m_bLineLost) return;
    std::size_t taken = 0;
    if (const int error = Send(bytes, length, &taken)) {
        WriteFailed(error);
        return;
    }
    if (taken == length) return;
    m_tx.assign(bytes + taken, bytes + length);
    m_pWritable->setEnabled(true);
}

// Unread input and unsent output go before every write. The purge never cuts
// the tail of an earlier write still in the driver, and input that came
// before this write stays readable, as if a reader had taken it already.
void CSerialLink::PurgeBeforeWrite() {
    KeepUnreadInput();
    ::tcflush(m_fd, OutputQueued(m_fd) ? TCIFLUSH : TCIOFLUSH);
}

void CSerialLink::KeepUnreadInput() {
    const std::size_t before = m_held.size();
    int lost = 0;
    for (;;) {
        std::uint8_t chunk[kKeepChunk];
        const ssize_t n = ::read(m_fd, chunk, sizeof chunk);
        if (n > 0) {
            m_held.insert(m_held.end(), chunk, chunk + n);
        } else if (n == 0 || (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK)) {
            lost = n == 0 ? EIO : errno;
            break;
        } else if (errno != EINTR) {
            break;
        }
    }
    if (m_held.size() != before && !m_bNotified) {
        // The tty no longer shows these bytes, so its notifier will not; and
        // a notice never comes from within the owner's own call.
        m_bNotified = true;
        QMetaObject::invokeMethod(
            m_pReadable.get(),
            [this] {
                if (m_pListener) m_pListener->OnLinkDataReady();
            },
            Qt::QueuedConnection);
    }
    if (lost != 0) LoseLine("ReadFile()", lost);
}

int CSerialLink::Send(const std::uint8_t* bytes, std::size_t length, std::size_t* taken) {
    *taken = 0;
    while (*taken < length) {
        const ssize_t n = ::write(m_fd, bytes + *taken, length - *taken);
        if (n > 0) {
            *taken += static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n == 0 || errno == EAGAIN || errno == EWOULDBLOCK) {
            break;
        } else {
            return errno;
        }
    }
    return 0;
}

void CSerialLink::OnWritable() {
    std::size_t taken = 0;
    const int error = Send(m_tx.data(), m_tx.size(), &taken);
    m_tx.erase(m_tx.begin(), m_tx.begin() + static_cast<std::ptrdiff_t>(taken));
    if (error != 0) m_tx.clear();
    if (m_tx.empty()) m_pWritable->setEnabled(false);
    if (error != 0) WriteFailed(error);
}

bool CSerialLink::IsWritten() {
    return m_fd < 0 || m_bLineLost || (m_tx.empty() && !OutputQueued(m_fd));
}

// A write the tty refuses is given up; EIO is the line gone.
void CSerialLink::WriteFailed(int error) {
    if (error == EIO)
        LoseLine("WriteFile()", error);
    else
        Fail("WriteFile()", error);
}

void CSerialLink::SetSpeed(std::uint32_t baud) {
    if (m_fd < 0) return;
    if (const char* step = SetLineSpeed(m_fd, baud)) Fail(step, errno);
}

// ------------------------------------------------------------------- reports

void CSerialLink::Fail(const char* step, int error) {
    const std::string text = LinkErrorText(step, error, m_settings.comPort);
    qCDebug(lcSerialTrace, "%s", text.c_str());
    if (m_pListener) m_pListener->OnLinkError(text, false);
}

// Reported once; the tty is no longer watched, and nothing more is received
// or sent until the owner closes the link.
void CSerialLink::LoseLine(const char* step, int error) {
    if (m_bLineLost) return;
    m_bLineLost = true;
    m_tx.clear();
    m_pReadable->setEnabled(false);
    m_pWritable->setEnabled(false);
    const std::string text = LinkErrorText(step, error, m_settings.comPort);
    qCDebug(lcSerialTrace, "%s", text.c_str());
    if (m_pListener) m_pListener->OnLinkError(text, true);
}
