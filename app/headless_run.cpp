#include "headless_run.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QAction>
#include <cerrno>
#include <cstring>

#include "headless_output.h"
#include "mainframe.h"
#include "updateview.h"

namespace {
constexpr int kCheckEveryMs = 100;
}

CHeadlessRun::CHeadlessRun(CMainFrame& frame, const HeadlessOptions& options,
                           CHeadlessOutput& output)
    : m_frame(frame), m_options(options), m_output(output) {
    SetPrompter(this);
    CUpdateView* view = m_frame.GetActiveView();
    connect(view, &CUpdateView::lineAdded, this, [this](const QString& l) { m_output.Line(l); });
    connect(view, &CUpdateView::lastLineReplaced, this,
            [this](const QString& l) { m_output.ReplaceLine(l); });
    connect(view, &CUpdateView::progressChanged, this,
            [this](int position, int maximum) { m_output.Progress(position, maximum); });
    connect(view, &CUpdateView::updateCompleted, this, [this] { Finish(kExitCompleted, {}); });
    connect(view, &CUpdateView::restartRequested, this, &CHeadlessRun::OnRestartRequested);
    connect(view, &CUpdateView::allBlocksSent, this, &CHeadlessRun::OnAllBlocksSent);
    connect(view, &CUpdateView::firmwareMissing, this, [this](const QString& message) {
        Finish(kExitNoFirmware, tr("Error") + QStringLiteral(": ") + message);
    });
    connect(&m_frame, &CMainFrame::identificationEnded, this, &CHeadlessRun::OnIdentificationEnded);
    connect(&m_frame, &CMainFrame::bytesReceived, this, [this] { m_sinceLastByte.restart(); });
    connect(&m_checkTimer, &QTimer::timeout, this, &CHeadlessRun::Check);
}

CHeadlessRun::~CHeadlessRun() {
    SetPrompter(nullptr);
}

QString CHeadlessRun::PortName() const {
    if (m_frame.m_bUsb) return QStringLiteral("USB");
    return QStringLiteral("COM%1 (%2)")
        .arg(m_frame.m_nComPort)
        .arg(QString::fromStdString(ComDevicePath(static_cast<unsigned>(m_frame.m_nComPort))));
}

void CHeadlessRun::Start() {
    m_frame.OnCreate();
    if (!m_frame.IsConnected()) {
        Finish(kExitPortNotOpened,
               PortOpenFailure(m_frame.m_nComPort,
                               ComDevicePath(static_cast<unsigned>(m_frame.m_nComPort))));
        return;
    }
    m_sinceLastByte.start();
    m_checkTimer.start(kCheckEveryMs);
}

void CHeadlessRun::Interrupt() {
    Finish(kExitInterrupted, QStringLiteral("Interrupted; the port was closed."));
}

void CHeadlessRun::OnIdentificationEnded(bool recordFound) {
    m_bRecordFound = m_bRecordFound || recordFound;
    // Without a version record Update is given all the same: the receiver may
    // already sit in its loader, which answers the poll. Given once the frame
    // is done with the bytes that ended the identification.
    QTimer::singleShot(0, this, [this] {
        QAction* update = m_frame.Action(ID_FIRMWARE_UPDATE);
        if (!m_bFinished && update && update->isEnabled()) update->trigger();
    });
}

void CHeadlessRun::OnRestartRequested() {
    m_bBootSent = false;
    const int vxRestarts = m_nRestartRequests++;  // the first is the Update command
    if (vxRestarts > m_options.maxRestarts)
        Finish(kExitTooManyRestarts,
               QStringLiteral("The receiver asked for a restart %1 times (limit %2, "
                              "--max-restarts); giving up.")
                   .arg(vxRestarts)
                   .arg(m_options.maxRestarts));
}

void CHeadlessRun::OnAllBlocksSent() {
    // The view sets the frame's completion flag before it returns to the event
    // loop, so every later check sees it set until the receiver's report
    // ("SC") clears it; a "VX" restarts and clears this mark first.
    if (m_frame.GetActiveView()->m_bBootUpdate) m_bBootSent = true;
}

void CHeadlessRun::Check() {
    if (m_bFinished) return;
    if (m_bBootSent && !m_frame.m_bAwaitCompletion) {
        Finish(kExitBootSent,
               QStringLiteral("The boot loader was sent. Restart the receiver, then run again "
                              "without --boot yes to send the CPU firmware."));
        return;
    }
    const qint64 limitMs = static_cast<qint64>(m_options.timeoutSeconds) * 1000;
    if (m_sinceLastByte.elapsed() < limitMs) return;
    const bool loaderAnswered = !m_frame.GetActiveView()->m_strPartNumber.empty();
    if (!m_bRecordFound && !loaderAnswered)
        Finish(kExitNoAnswer,
               QStringLiteral("No answer from the receiver on %1 within %2 s: neither a version "
                              "record nor a loader identification.")
                   .arg(PortName())
                   .arg(m_options.timeoutSeconds));
    else
        Finish(kExitSilent, QStringLiteral("The receiver on %1 sent nothing for %2 s; giving up.")
                                .arg(PortName())
                                .arg(m_options.timeoutSeconds));
}

void CHeadlessRun::Finish(int code, const QString& message) {
    if (m_bFinished) return;
    m_bFinished = true;
    m_nExitCode = code;
    m_checkTimer.stop();
    m_output.Flush();
    if (!message.isEmpty()) m_output.Error(message);
    // Not from inside the frame's handlers: the link is closed once they are done.
    QTimer::singleShot(0, this, [this] {
        if (m_frame.IsConnected()) m_frame.OnDisconnect();
        emit finished(m_nExitCode);
    });
}

bool CHeadlessRun::AskYesNo(const QString&, const QString& text) {
    // Yes once at most: after a boot update the next identification leads to
    // the CPU firmware.
    const bool answer = m_options.bootAnswer && !m_bBootAsked;
    m_bBootAsked = true;
    m_output.Note(text + (answer ? QStringLiteral(" yes") : QStringLiteral(" no")));
    return answer;
}

void CHeadlessRun::ShowError(const QString& caption, const QString& text) {
    // Once the result is settled, the receiver may drop the line (it restarts
    // after "Completed!"): that report would only contradict the outcome.
    if (m_bFinished) return;
    m_output.Error(caption + QStringLiteral(": ") + text.trimmed());
}

void CHeadlessRun::ShowInfo(const QString& caption, const QString& text) {
    m_output.Note(caption + QStringLiteral(": ") + text.trimmed());
}

QString PortOpenFailure(int comPort, const std::string& device) {
    if (device.empty())
        return QStringLiteral(
                   "Cannot open COM%1: it names no device. Give a device path, or map COM%1 "
                   "in the settings file, group Ports.")
            .arg(comPort);
    const QString head =
        QStringLiteral("Cannot open COM%1 (%2): ").arg(comPort).arg(QString::fromStdString(device));
    struct stat st {};
    if (::stat(device.c_str(), &st) != 0)
        return head + QString::fromLocal8Bit(std::strerror(errno));
    if (!S_ISCHR(st.st_mode)) return head + QStringLiteral("not a serial device");
    if (::access(device.c_str(), R_OK | W_OK) != 0)
        return head + QString::fromLocal8Bit(std::strerror(errno)) +
               QStringLiteral(
                   ". Your user needs access to the device, e.g. membership of the "
                   "dialout group.");
    return head + QStringLiteral("in use by another program, or not a serial port");
}
