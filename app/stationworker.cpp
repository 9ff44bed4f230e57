#include "stationworker.h"

#include "linkfactory.h"
#include "portnames.h"
#include "runlog.h"
#include "sleepinhibitor.h"

namespace {

// Progress reaches the window no more often than this: eight rows at full
// speed send thousands of blocks a second between them.
constexpr qint64 kProgressMs = 50;

}  // namespace

CStationWorker::CStationWorker(UpdateEngine::LinkFactory makeLink, CLinkChoice choice,
                               FirmwarePackage package, int silenceSeconds, int completionSeconds)
    : m_makeLink(std::move(makeLink)),
      m_choice(std::move(choice)),
      m_package(std::move(package)),
      m_nSilenceSeconds(silenceSeconds),
      m_nCompletionSeconds(completionSeconds) {}

CStationWorker::~CStationWorker() {
    if (m_pEngine) m_pEngine->OnDisconnect();
}

UpdateEngine& CStationWorker::Engine() {
    if (!m_pEngine) CreateEngine();
    return *m_pEngine;
}

// The one place a row's engine comes into being, on the row's thread (its
// timers belong to the thread that creates it). Whatever follows an engine
// through its runs is attached here.
void CStationWorker::CreateEngine() {
    m_pEngine = std::make_unique<UpdateEngine>(m_makeLink, m_package.config, *m_package.store);
    UpdateEngine& engine = *m_pEngine;
    engine.SetPackage(m_package);
    engine.SetLinkChoice(m_choice);
    engine.SetPrompter(this);
    engine.SetTimeouts(m_nSilenceSeconds * 1000, m_nCompletionSeconds * 1000);
    connect(&engine, &UpdateEngine::stateChanged, this, &CStationWorker::OnEngineState);
    connect(&engine, &UpdateEngine::stalled, this, &CStationWorker::OnStalled);
    connect(&engine, &UpdateEngine::flashWriteWaited, this, [this](qint64 waitedMs) {
        m_nWritingMs = waitedMs;
        OnEngineState();
    });
    connect(&engine, &UpdateEngine::identificationEnded, this, &CStationWorker::OnEngineState);
    connect(&engine, &UpdateEngine::progressChanged, this, &CStationWorker::OnProgress);
    connect(&engine, &UpdateEngine::finished, this, &CStationWorker::OnFinished);
    connect(&engine, &UpdateEngine::lineAdded, this,
            [this](const QString& line) { m_strLastLine = line; });
    // Each row keeps its own log and its own hold on sleep; both let go of
    // the engine when it goes.
    auto* log = new CRunLog(engine, RunLogFolder(), this);
    connect(log, &CRunLog::unwritable, this, &CStationWorker::logUnwritable);
    new CSleepInhibitor(engine, this);
}

void CStationWorker::Connect() {
    UpdateEngine& engine = Engine();
    if (engine.IsConnected()) return;
    m_bFailed = false;
    m_strLastLine.clear();
    m_strLastError.clear();
    if (!engine.OnConnect()) {
        // The engine says why only when the reason is its own (the console,
        // no permission); otherwise the device is asked.
        Fail(m_strLastLine.isEmpty()
                 ? PortOpenFailure(m_choice.m_nComPort, SerialDeviceOf(m_choice).path)
                 : m_strLastLine);
        return;
    }
}

void CStationWorker::Disconnect() {
    if (m_pEngine) m_pEngine->OnDisconnect();
}

void CStationWorker::Update() {
    UpdateEngine& engine = Engine();
    if (!engine.IsConnected() || engine.IsIdentifying()) return;
    engine.SetPackage(m_package);
    m_progressClock.invalidate();
    m_strLastError.clear();
    m_bFailed = false;
    engine.OnFirmwareUpdate();
}

void CStationWorker::OnEngineState() {
    const UpdateEngine& engine = *m_pEngine;
    StationEngineState state;
    // A closed engine keeps its flags as the line left them.
    state.connected = engine.IsConnected();
    state.identifying = state.connected && engine.IsIdentifying();
    state.polling = state.connected && engine.IsPolling();
    state.sending = state.connected && engine.IsSending();
    state.awaiting = state.connected && engine.IsAwaitingCompletion();
    state.underWay = engine.IsRunUnderWay();
    if (!state.awaiting) m_nWritingMs = -1;
    state.writingMs = m_nWritingMs;
    state.serialNumber = QString::fromLatin1(engine.ReceiverSn());
    if (*engine.CpuVersion())
        state.versions = tr("%1 - %2, boot %3")
                             .arg(QString::fromLatin1(engine.CpuVersion()),
                                  QString::fromLatin1(engine.FpgaVersion()),
                                  QString::fromLatin1(engine.BootVersion()));
    state.position = engine.Transfer().m_nProgress;
    state.maximum = engine.Transfer().m_nTotalSize;
    emit stateChanged(state);
}

void CStationWorker::OnProgress(int position, int maximum) {
    if (position != 0 && position != maximum && m_progressClock.isValid() &&
        m_progressClock.elapsed() < kProgressMs)
        return;
    m_progressClock.start();
    emit progressChanged(position, maximum);
}

void CStationWorker::OnFinished(UpdateOutcome outcome, const QString& message) {
    switch (outcome) {
        case UpdateOutcome::Completed:
            emit resultChanged(StationResult::Completed, tr("Completed!"), {});
            break;
        case UpdateOutcome::BootSent:
            // Yes once: the next run of this receiver is for its CPU firmware.
            m_bBootAnswer = false;
            emit resultChanged(StationResult::BootSent,
                               tr("Boot loader sent: restart the receiver, then Update again to "
                                  "send the CPU firmware."),
                               {});
            break;
        case UpdateOutcome::NoFirmware:
        case UpdateOutcome::Unconfirmed:
            Fail(message);
            break;
        case UpdateOutcome::LinkLost:
            Fail(tr("The line was lost."), message);
            break;
        case UpdateOutcome::Interrupted:
            // The close that follows a failure cuts off what was under way;
            // it is no news.
            if (!m_bFailed) Fail(message);
            break;
    }
}

void CStationWorker::OnStalled(EnginePhase phase, qint64 silentMs) {
    // Between runs a receiver may stay silent as long as it likes.
    if (phase != EnginePhase::Polling && phase != EnginePhase::AwaitingStart &&
        phase != EnginePhase::Sending)
        return;
    QString text = tr("The receiver sent nothing for %1 s.").arg(silentMs / 1000);
    if (!m_strLastError.isEmpty()) text += QLatin1Char(' ') + m_strLastError;
    Fail(text);
}

// A failed row is closed, so that Connect tries again with a fresh line; the
// close waits until the engine's handler that reported the failure is done.
void CStationWorker::Fail(const QString& text, const QString& detail) {
    m_bFailed = true;
    emit resultChanged(StationResult::Failed, text.simplified(), detail.simplified());
    QTimer::singleShot(0, this, &CStationWorker::Disconnect);
}

bool CStationWorker::AskYesNo(const QString&, const QString&) {
    return m_bBootAnswer;  // "Update boot?" is the only question the engine asks
}

void CStationWorker::ShowError(const QString& caption, const QString& text) {
    // An error that ends the run comes with an outcome that says why; one
    // that does not may explain a silence later.
    m_strLastError = caption + QStringLiteral(": ") + text.simplified();
}

void CStationWorker::ShowInfo(const QString&, const QString&) {}
