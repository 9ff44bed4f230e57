#include "stationrow.h"

#include <QFileInfo>
#include <QTimer>

#include "engineclock.h"
#include "history.h"
#include "historyrecorder.h"
#include "linkfactory.h"
#include "portnames.h"
#include "runlog.h"
#include "settings.h"
#include "sleepinhibitor.h"

QString StationPortText(const QString& typed) {
    const QString text = typed.trimmed();
    if (text.startsWith(QLatin1Char('/'))) return QFileInfo(text).absoluteFilePath();
    const unsigned port = ParseComNumber(text);
    return port ? QStringLiteral("COM%1").arg(port) : QString();
}

namespace {

// What the system said, out of a link's report ("WARNING:  read() Failed with
// the following error: \nInput/output error\nPort: 203\n"): the error's own
// words. Any other text is taken whole, on one line.
QString SystemReport(const QString& linkReport) {
    const QStringList lines = linkReport.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    if (lines.size() >= 2 && lines.front().startsWith(QLatin1String("WARNING:")))
        return lines[1].trimmed();
    return linkReport.simplified();
}

// Eight rows at full speed send thousands of blocks a second between them:
// the window hears of progress no more often than this.
constexpr qint64 kProgressMs = 50;

}  // namespace

CLinkChoice StationLinkChoice(const QString& port) {
    const PortOverrides overrides = CSettings().PortMap();
    CLinkChoice choice;
    ChoosePort(choice, port.startsWith(QLatin1Char('/'))
                           ? ComPortOfDevice(QFileInfo(port).filePath().toStdString(), overrides)
                           : ComPortOf(ParseComNumber(port), overrides));
    return choice;
}

CStationRow::CStationRow(QString port, FirmwarePackage package, UpdateEngine::LinkFactory makeLink,
                         int silenceSeconds, int completionSeconds, QObject* parent)
    : QObject(parent),
      m_strPort(std::move(port)),
      m_choice(StationLinkChoice(m_strPort)),
      m_package(std::move(package)),
      m_engine(std::move(makeLink), m_package.config, *m_package.store) {
    // Made once: the label is shown with every refresh.
    m_strPortLabel = m_strPort.startsWith(QLatin1Char('/'))
                         ? m_strPort
                         : QStringLiteral("%1 (%2)").arg(
                               m_strPort, QString::fromStdString(m_choice.m_strDevice));
    m_engine.SetPackage(m_package);
    m_engine.SetLinkChoice(m_choice);
    m_engine.SetPrompter(this);
    m_engine.SetTimeouts(silenceSeconds * 1000, completionSeconds * 1000);
    connect(&m_engine, &UpdateEngine::happened, this, &CStationRow::OnEvent);
    connect(&m_engine, &UpdateEngine::stateChanged, this, &CStationRow::Changed);
    // Each row keeps its own log and its own hold on sleep.
    m_pRunLog = std::make_unique<CRunLog>(m_engine, RunLogFolder());
    connect(m_pRunLog.get(), &CRunLog::unwritable, this, [this](const QString& line) {
        emit note(m_strPortLabel + QStringLiteral(": ") + line);
    });
    m_pInhibitor = std::make_unique<CSleepInhibitor>(m_engine);
}

CStationRow::~CStationRow() {
    // The station may be part-way through destroying its rows: a hang-up
    // heard now must not reach it, only the run log.
    disconnect(&m_engine, nullptr, this, nullptr);
    m_engine.SetPrompter(nullptr);
    m_engine.OnDisconnect();
}

void CStationRow::SetHistory(CHistory& history) {
    m_pHistory = &history;
    m_pRecorder = std::make_unique<CHistoryRecorder>(m_engine, history, m_pRunLog.get());
    connect(m_pRecorder.get(), &CHistoryRecorder::unwritable, this, [this](const QString& line) {
        emit note(m_strPortLabel + QStringLiteral(": ") + line);
    });
    connect(m_pRecorder.get(), &CHistoryRecorder::recorded, this, [this](const HistoryRun& run) {
        m_strLastRecorded = HistoryRunSummary(run);
        Changed();
    });
}

void CStationRow::LookUpLastRun(const QString& serial) {
    m_strLastRecorded.clear();
    if (!m_pHistory || serial.isEmpty()) return;
    HistoryFilter filter;
    filter.serial = serial;
    filter.limit = 1;
    filter.newestFirst = true;
    m_pHistory->Query(filter, this,
                      [this, serial](const std::vector<HistoryRun>& runs, const QString& error) {
                          // Another receiver may have come meanwhile.
                          if (serial != QString::fromLatin1(m_engine.ReceiverSn())) return;
                          if (!error.isEmpty())
                              m_strLastRecorded = tr("The history cannot be read: %1").arg(error);
                          else if (runs.empty())
                              m_strLastRecorded = tr("No update of %1 recorded").arg(serial);
                          else
                              m_strLastRecorded = HistoryRunSummary(runs.front());
                          Changed();
                      });
}

void CStationRow::Connect() {
    if (m_engine.IsConnected()) return;
    m_bUpdateGiven = false;
    m_bFailed = false;
    m_strLastError.clear();
    m_strRefusal.clear();
    SetResult(StationResult::None, {});
    if (!m_engine.OnConnect()) {
        // The engine says why only when the reason is its own (the console,
        // no permission); otherwise the device is asked.
        Fail(m_strRefusal.isEmpty() ? PortOpenFailure(m_choice.m_nComPort, m_choice.m_strDevice)
                                    : m_strRefusal);
    }
}

void CStationRow::Disconnect() {
    m_engine.OnDisconnect();
}

void CStationRow::Update() {
    if (!m_engine.IsConnected() || m_engine.IsIdentifying()) return;
    m_bUpdateGiven = true;
    m_bFailed = false;
    m_strLastError.clear();
    m_engine.SetPackage(m_package);
    SetResult(StationResult::None, {});
    m_engine.OnFirmwareUpdate();
}

void CStationRow::SetPackage(const FirmwarePackage& package) {
    m_package = package;
    // The engine compares the receiver with it before any Update; a run
    // keeps the images it started with.
    if (!IsUnderWay()) m_engine.SetPackage(m_package);
    Changed();
}

void CStationRow::SetBootAnswer(bool yes) {
    if (m_bBootAnswer == yes) return;
    m_bBootAnswer = yes;
    Changed();
}

bool CStationRow::IsIdle() const {
    return m_engine.Phase() == EnginePhase::Idle && !m_bUpdateGiven;
}

StationEngineState CStationRow::State() const {
    StationEngineState state;
    // A closed engine keeps its flags as the line left them.
    state.connected = m_engine.IsConnected();
    state.identifying = state.connected && m_engine.IsIdentifying();
    state.polling = state.connected && m_engine.IsPolling();
    state.sending = state.connected && m_engine.IsSending();
    state.awaiting = state.connected && m_engine.IsAwaitingCompletion();
    state.underWay = IsUnderWay();
    state.verifying = state.connected && m_engine.IsVerifying();
    state.writingMs = state.awaiting ? m_nWritingMs : -1;
    state.serialNumber = QString::fromLatin1(m_engine.ReceiverSn());
    if (*m_engine.CpuVersion()) {
        state.versions = tr("%1 - %2, boot %3")
                             .arg(QString::fromLatin1(m_engine.CpuVersion()),
                                  QString::fromLatin1(m_engine.FpgaVersion()),
                                  QString::fromLatin1(m_engine.BootVersion()));
        if (const QString step = m_engine.VersionStep(); !step.isEmpty())
            state.versions += QStringLiteral(" (%1)").arg(step);
    }
    return state;
}

QString CStationRow::StateText() const {
    const StationEngineState state = State();
    if (!state.connected) return tr("Disconnected");
    if (state.identifying) return tr("Identifying");
    if (state.polling) return tr("Restarting");
    if (state.sending) return tr("Sending");
    if (state.awaiting)
        return state.writingMs >= 0 ? tr("Writing firmware %1").arg(DurationText(state.writingMs))
                                    : tr("Writing firmware");
    if (state.verifying) return tr("Verifying");
    switch (m_result) {
        case StationResult::Completed:
        case StationResult::BootSent:
            return tr("Done");
        case StationResult::Failed:
            return tr("Failed");
        case StationResult::None:
            break;
    }
    if (m_bUpdateGiven) return tr("Starting");
    return IsUpToDate() ? tr("Up to date") : tr("Ready");
}

QString CStationRow::Figures() const {
    if (m_clock.Maximum() <= 0) return {};
    if (m_engine.IsConnected() && m_engine.IsSending()) return m_clock.Figures();
    // Once blocks stop, a rate and a time left would only mislead.
    return ProgressFigures(m_clock.Position(), m_clock.Maximum(), 0, 0);
}

void CStationRow::OnEvent(const EngineEvent& event) {
    if (const auto* e = std::get_if<ev::BlockSent>(&event)) {
        m_clock.Update(e->done, e->total);
        if (e->done != 0 && e->done != e->total && m_changedClock.isValid() &&
            m_changedClock.elapsed() < kProgressMs)
            return;
        Changed();
    } else if (const auto* e = std::get_if<ev::FlashWriteWaited>(&event)) {
        m_nWritingMs = e->waitedMs;
        Changed();
    } else if (std::holds_alternative<ev::PortRefused>(event)) {
        m_strRefusal = ListLines(event).lines.value(0);
    } else if (const auto* e = std::get_if<ev::Stalled>(&event)) {
        OnStalled(e->phase, e->silentMs);
    } else if (const auto* e = std::get_if<ev::Finished>(&event)) {
        OnFinished(e->outcome, e->detail);
    } else if (std::holds_alternative<ev::Verified>(event)) {
        // The check after the update says what the receiver runs now.
        SetResult(m_result, m_strResult + QLatin1Char(' ') + ListLines(event).lines.value(0),
                  m_strResultDetail);
    } else if (std::holds_alternative<ev::IdentificationEnded>(event)) {
        Changed();
    } else if (const auto* e = std::get_if<ev::ReceiverIdentified>(&event)) {
        if (!m_engine.IsRunUnderWay()) LookUpLastRun(e->serial);
    }
}

void CStationRow::OnFinished(UpdateOutcome outcome, const QString& message) {
    switch (outcome) {
        case UpdateOutcome::Completed:
            SetResult(StationResult::Completed, tr("Completed!"));
            break;
        case UpdateOutcome::BootSent:
            // Yes once: the next run of this receiver is for its CPU firmware.
            m_bBootAnswer = false;
            SetResult(StationResult::BootSent,
                      tr("Boot loader sent: restart the receiver, then Update again to "
                         "send the CPU firmware."));
            break;
        case UpdateOutcome::NoFirmware:
        case UpdateOutcome::Unconfirmed:
            Fail(message);
            break;
        case UpdateOutcome::LinkLost:
            Fail(tr("The line to the receiver was lost"), SystemReport(message));
            break;
        case UpdateOutcome::Interrupted:
            // The close that follows a failure cuts off what was under way;
            // it is no news.
            if (!m_bFailed) Fail(message);
            break;
    }
}

void CStationRow::OnStalled(EnginePhase phase, qint64 silentMs) {
    // Between runs a receiver may stay silent as long as it likes.
    if (phase != EnginePhase::Polling && phase != EnginePhase::AwaitingStart &&
        phase != EnginePhase::Sending)
        return;
    Fail(tr("The receiver sent nothing for %1 s").arg(silentMs / 1000), m_strLastError);
}

void CStationRow::Fail(const QString& text, const QString& detail) {
    m_bFailed = true;
    SetResult(StationResult::Failed, text.simplified(), detail.simplified());
    // Closed once the engine's handler that reported the failure is done.
    QTimer::singleShot(0, this, [this] { m_engine.OnDisconnect(); });
}

void CStationRow::SetResult(StationResult result, const QString& text, const QString& detail) {
    m_result = result;
    m_strResult = text;
    m_strResultDetail = detail;
    Changed();
}

QString CStationRow::ResultLine() const {
    return m_strResultDetail.isEmpty() ? m_strResult
                                       : tr("%1: %2").arg(m_strResult, m_strResultDetail);
}

void CStationRow::Changed() {
    m_changedClock.start();
    emit changed();
}

bool CStationRow::AskYesNo(const QString&, const QString&) {
    return m_bBootAnswer;  // "Update boot?" is the only question the engine asks
}

void CStationRow::ShowError(const QString& caption, const QString& text) {
    // An error that ends the run comes with an outcome that says why; one
    // that does not may explain a silence later.
    Q_UNUSED(caption);
    m_strLastError = SystemReport(text);
}

void CStationRow::ShowInfo(const QString&, const QString&) {}
