#include "stationrow.h"

#include <sys/resource.h>
#include <unistd.h>

#include <QFileInfo>
#include <cerrno>

#include "engineclock.h"
#include "linkfactory.h"
#include "linksettings.h"
#include "portnames.h"

QString StationPortText(const QString& typed) {
    const QString text = typed.trimmed();
    if (text.startsWith(QLatin1Char('/'))) return QFileInfo(text).absoluteFilePath();
    const unsigned port = ParseComNumber(text);
    return port ? QStringLiteral("COM%1").arg(port) : QString();
}

namespace {

// On the row's thread, before anything runs there. Eight busy rows (and the
// link threads they start, which inherit this) would otherwise take their
// full share of the cores from the window's thread and make it late; the
// window needs little CPU, so the rows lose next to nothing. A failure
// leaves the thread as it was.
void BelowTheWindow() {
    errno = 0;
    const int nice = getpriority(PRIO_PROCESS, static_cast<id_t>(gettid()));
    if (errno == 0) setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), nice + 5);
}

}  // namespace

CLinkChoice StationLinkChoice(const QString& port) {
    CLinkChoice choice;
    if (port.startsWith(QLatin1Char('/'))) {
        choice.m_strDevice = QFileInfo(port).filePath().toStdString();
        choice.m_nComPort =
            static_cast<int>(ComNumberForDevice(choice.m_strDevice, LoadPortOverrides()));
    } else {
        choice.m_nComPort = static_cast<int>(ParseComNumber(port));
    }
    return choice;
}

CStationRow::CStationRow(QString port, const FirmwarePackage& package,
                         UpdateEngine::LinkFactory makeLink, int silenceSeconds,
                         int completionSeconds, QObject* parent)
    : QObject(parent), m_strPort(std::move(port)), m_choice(StationLinkChoice(m_strPort)) {
    qRegisterMetaType<StationEngineState>();
    qRegisterMetaType<StationResult>();
    // Read from the settings once: the label is shown with every refresh.
    m_strPortLabel = m_choice.m_strDevice.empty()
                         ? QStringLiteral("%1 (%2)").arg(
                               m_strPort, QString::fromStdString(SerialDeviceOf(m_choice).path))
                         : m_strPort;
    m_thread.setObjectName(QStringLiteral("station ") + m_strPort);
    m_pWorker = new CStationWorker(std::move(makeLink), m_choice, package, silenceSeconds,
                                   completionSeconds);
    m_pWorker->moveToThread(&m_thread);
    // Across threads these are queued: the worker never waits for the window.
    connect(m_pWorker, &CStationWorker::stateChanged, this, &CStationRow::OnState);
    connect(m_pWorker, &CStationWorker::progressChanged, this, &CStationRow::OnProgress);
    connect(m_pWorker, &CStationWorker::resultChanged, this, &CStationRow::OnResult);
    connect(m_pWorker, &CStationWorker::logUnwritable, this, [this](const QString& line) {
        emit note(m_strPortLabel + QStringLiteral(": ") + line);
    });
    connect(&m_thread, &QThread::started, &BelowTheWindow);  // direct: runs on the new thread
    m_thread.start();
}

CStationRow::~CStationRow() {
    // The engine closes its link and goes on its own thread; the window waits
    // at most for a protocol pause the engine is in.
    QMetaObject::invokeMethod(
        m_pWorker, [worker = m_pWorker] { delete worker; }, Qt::BlockingQueuedConnection);
    m_thread.quit();
    m_thread.wait();
}

void CStationRow::Connect() {
    if (m_state.connected || m_bConnecting) return;
    m_bConnecting = true;
    m_bUpdateGiven = false;
    m_result = StationResult::None;
    m_strResult.clear();
    m_strResultDetail.clear();
    QMetaObject::invokeMethod(m_pWorker, &CStationWorker::Connect, Qt::QueuedConnection);
    emit changed();
}

void CStationRow::Disconnect() {
    QMetaObject::invokeMethod(m_pWorker, &CStationWorker::Disconnect, Qt::QueuedConnection);
}

void CStationRow::Update() {
    if (!m_state.connected || m_state.identifying) return;
    m_bUpdateGiven = true;
    m_result = StationResult::None;
    m_strResult.clear();
    m_strResultDetail.clear();
    QMetaObject::invokeMethod(m_pWorker, &CStationWorker::Update, Qt::QueuedConnection);
    emit changed();
}

void CStationRow::SetPackage(const FirmwarePackage& package) {
    QMetaObject::invokeMethod(
        m_pWorker, [worker = m_pWorker, package] { worker->SetPackage(package); },
        Qt::QueuedConnection);
}

void CStationRow::SetBootAnswer(bool yes) {
    m_bBootAnswer = yes;
    m_pWorker->SetBootAnswer(yes);
}

bool CStationRow::IsIdle() const {
    return !m_bConnecting && m_state.IsQuiet() && !m_bUpdateGiven;
}

QString CStationRow::StateText() const {
    if (m_bConnecting) return tr("Connecting");
    if (!m_state.connected) return tr("Disconnected");
    if (m_state.identifying) return tr("Identifying");
    if (m_state.polling) return tr("Restarting");
    if (m_state.sending) return tr("Sending");
    if (m_state.awaiting)
        return m_state.writingMs >= 0
                   ? tr("Writing firmware %1").arg(DurationText(m_state.writingMs))
                   : tr("Writing firmware");
    switch (m_result) {
        case StationResult::Completed:
        case StationResult::BootSent:
            return tr("Done");
        case StationResult::Failed:
            return tr("Failed");
        case StationResult::None:
            break;
    }
    return m_bUpdateGiven ? tr("Starting") : tr("Ready");
}

QString CStationRow::Figures() const {
    if (m_clock.Maximum() <= 0) return {};
    if (m_state.sending) return m_clock.Text();
    // Once blocks stop, a rate and a time left would only mislead.
    return ProgressText(m_clock.Position(), m_clock.Maximum(), 0, 0);
}

void CStationRow::OnState(const StationEngineState& state) {
    m_bConnecting = false;
    m_state = state;
    if (state.maximum > 0) m_clock.Update(state.position, state.maximum);
    emit changed();
}

void CStationRow::OnProgress(qint64 position, qint64 maximum) {
    m_clock.Update(position, maximum);
    emit changed();
}

void CStationRow::OnResult(StationResult result, const QString& text, const QString& detail) {
    m_bConnecting = false;
    m_result = result;
    m_strResult = text;
    m_strResultDetail = detail;
    if (result == StationResult::BootSent) m_bBootAnswer = false;
    emit changed();
}
