#include "headless_run.h"

#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <algorithm>
#include <utility>

#include "firmware.h"
#include "headless_output.h"
#include "historyrecorder.h"
#include "linkfactory.h"
#include "packagesummary.h"
#include "portnames.h"
#include "settings.h"
#include "textescape.h"
#include "updateengine.h"

namespace {

QString BootSentMessage() {
    return QStringLiteral(
        "The boot loader was sent. Restart the receiver, then run again without --boot yes to "
        "send the CPU firmware.");
}

// A device path goes by the COM number the settings or the default map
// already give it, so messages still say COMn.
CLinkChoice RunLinkChoice(const HeadlessOptions& options, const PortOverrides& overrides) {
    CLinkChoice choice = options.link;
    ChoosePort(choice, options.device.empty()
                           ? ComPortOf(static_cast<unsigned>(choice.m_nComPort), overrides)
                           : ComPortOfDevice(options.device, overrides));
    return choice;
}

}  // namespace

CHeadlessRun::CHeadlessRun(UpdateEngine& engine, const HeadlessOptions& options,
                           CHeadlessOutput& output, std::vector<std::string> searchFolders,
                           CHistory* history)
    : m_engine(engine),
      m_options(options),
      m_output(output),
      m_searchFolders(std::move(searchFolders)),
      m_runLog(engine),
      m_inhibitor(engine) {
    connect(&m_runLog, &CRunLog::unwritable, this, [this](const QString& l) { m_output.Line(l); });
    if (history) {
        m_pRecorder = std::make_unique<CHistoryRecorder>(engine, *history, &m_runLog);
        connect(m_pRecorder.get(), &CHistoryRecorder::unwritable, &engine, &UpdateEngine::AddNote);
    }
    m_options.link = RunLinkChoice(options, CSettings().PortMap());
    m_engine.SetLinkChoice(m_options.link);
    m_engine.SetPrompter(this);
    m_engine.SetTimeouts(m_options.timeoutSeconds * 1000,
                         m_options.completionTimeoutSeconds * 1000);
    m_engine.SetVerify(m_options.verify);
    connect(&m_engine, &UpdateEngine::happened, this, &CHeadlessRun::OnEvent);
}

void CHeadlessRun::OnEvent(const EngineEvent& event) {
    const ListChange change = ListLines(event);
    switch (change.op) {
        case ListChange::Op::Append:
            for (qsizetype i = 0; i < change.lines.size(); ++i) {
                if (change.lastReplaceable && i + 1 == change.lines.size())
                    m_output.LiveLine(change.lines[i]);
                else
                    m_output.Line(change.lines[i]);
            }
            break;
        case ListChange::Op::ReplaceLast:
            m_output.ReplaceLine(change.lines.value(0));
            break;
        default:
            break;
    }
    if (const auto* e = std::get_if<ev::BlockSent>(&event))
        m_output.Progress(e->done, e->total);
    else if (const auto* e = std::get_if<ev::FlashWriteWaited>(&event))
        m_output.FlashWrite(e->waitedMs);
    else if (const auto* e = std::get_if<ev::Stalled>(&event))
        OnStall(e->phase, e->silentMs);
    else if (const auto* e = std::get_if<ev::IdentificationEnded>(&event))
        OnIdentificationEnded(e->recordFound);
    else if (std::holds_alternative<ev::Restarting>(event))
        OnRestartRequested();
    else if (const auto* e = std::get_if<ev::Finished>(&event))
        OnEngineFinished(*e);
    else if (const auto* e = std::get_if<ev::Verified>(&event))
        OnVerified(*e);
}

CHeadlessRun::~CHeadlessRun() {
    m_engine.SetPrompter(nullptr);
}

QString CHeadlessRun::PortName() const {
    if (m_options.link.m_bUsb) return QStringLiteral("USB");
    return QStringLiteral("COM%1 (%2)")
        .arg(m_options.link.m_nComPort)
        .arg(QString::fromStdString(m_options.link.m_strDevice));
}

bool CHeadlessRun::TakePackage() {
    std::vector<PackageProblem> problems;
    QString reason;
    std::optional<FirmwarePackage> package =
        ResolveFirmwarePackage(m_options.firmware, m_searchFolders, &problems, &reason);
    // Warnings too: the operator should see them even when the run goes on.
    for (const std::string& line : DescribeProblems(problems))
        m_output.Error(QString::fromStdString(line));
    if (!package) {
        Finish(kExitBadPackage, reason);
        return false;
    }
    m_engine.SetPackage(std::move(*package));
    return true;
}

void CHeadlessRun::Start() {
    // Before the port: a run that cannot send the right images must not
    // disturb the receiver at all.
    if (!TakePackage()) return;
    if (!m_engine.OnConnect()) {
        Finish(kExitPortNotOpened,
               PortOpenFailure(m_options.link.m_nComPort, m_options.link.m_strDevice));
        return;
    }
}

void CHeadlessRun::Interrupt(bool force) {
    constexpr qint64 kSecondCtrlCMs = 5000;
    if (m_bFinished) return;
    if (!force && m_engine.IsWritingFirmware() &&
        !(m_interruptWarned.isValid() && m_interruptWarned.elapsed() < kSecondCtrlCMs)) {
        m_interruptWarned.start();
        m_output.Error(QStringLiteral(
            "The receiver is being flashed. Stopping now interrupts the transfer or its flash "
            "write, and the receiver may not start again until it is updated again from its "
            "loader (--manual-restart). Press Ctrl-C again within 5 s to stop anyway."));
        return;
    }
    Finish(kExitInterrupted, QStringLiteral("Interrupted; the port was closed."));
}

void CHeadlessRun::OnIdentificationEnded(bool recordFound) {
    m_bRecordFound = m_bRecordFound || recordFound;
    if (m_bUpdateGiven) return;
    m_bUpdateGiven = true;
    if (const QString step = m_engine.VersionStep(); !step.isEmpty())
        m_output.Note(QStringLiteral("Versions: %1").arg(step));
    if (m_engine.IsReceiverUpToDate() && !m_options.force) {
        Finish(kExitUpToDate,
               QStringLiteral("The receiver on %1 already runs the package's firmware; nothing "
                              "was sent. --force updates it all the same.")
                   .arg(PortName()));
        return;
    }
    // Without a version record Update is given all the same: the receiver may
    // already sit in its loader, which answers the poll. Given once the engine
    // is done with the bytes that ended the identification.
    QTimer::singleShot(0, this, [this] {
        if (!m_bFinished && m_engine.IsConnected() && !m_engine.IsIdentifying())
            m_engine.OnFirmwareUpdate();
    });
}

void CHeadlessRun::OnRestartRequested() {
    const int vxRestarts = m_nRestartRequests++;  // the first is the Update command
    if (vxRestarts > m_options.maxRestarts)
        Finish(kExitTooManyRestarts,
               QStringLiteral("The receiver asked for a restart %1 times (limit %2, "
                              "--max-restarts); giving up.")
                   .arg(vxRestarts)
                   .arg(m_options.maxRestarts));
}

void CHeadlessRun::OnEngineFinished(const ev::Finished& finished) {
    const QString& message = finished.detail;
    switch (finished.outcome) {
        case UpdateOutcome::Completed:
            // The run ends with the check of the versions.
            if (!finished.verifying) Finish(kExitCompleted, {});
            break;
        case UpdateOutcome::BootSent:
            Finish(kExitBootSent, BootSentMessage());
            break;
        case UpdateOutcome::NoFirmware:
            Finish(kExitNoFirmware, tr("Error") + QStringLiteral(": ") + message);
            break;
        case UpdateOutcome::LinkLost:
            // Nothing more can come on a lost line: the run ends now, not
            // after the silence.
            Finish(kExitSilent, QStringLiteral("Application Error: ") + message.trimmed());
            break;
        case UpdateOutcome::Unconfirmed:
            Finish(kExitUnconfirmed, message);
            break;
        case UpdateOutcome::Interrupted:
            Finish(kExitInterrupted, message);
            break;
    }
}

void CHeadlessRun::OnVerified(const ev::Verified& verified) {
    using Result = ev::Verified::Result;
    if (verified.result == Result::Matches)
        Finish(kExitCompleted, {});
    else
        Finish(kExitNotVerified,
               verified.result == Result::Differs
                   ? QStringLiteral("The receiver on %1 confirmed the update but runs %2, not the "
                                    "package's %3.")
                         .arg(PortName(), VersionsText(verified.reported),
                              VersionsText(verified.expected))
                   : QStringLiteral("The receiver on %1 confirmed the update but gave no version "
                                    "record within %2 s; check it once it has restarted.")
                         .arg(PortName())
                         .arg(verified.waitedMs / 1000));
}

void CHeadlessRun::OnStall(EnginePhase, qint64) {
    if (m_bFinished) return;
    const bool loaderAnswered = !m_engine.PartNumber().empty();
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
    // The engine's own outcomes have ended the log's run already.
    m_runLog.End(message.isEmpty() ? QStringLiteral("exit status %1").arg(code)
                                   : QStringLiteral("%1 (exit status %2)").arg(message).arg(code));
    if (m_pRecorder) m_pRecorder->End(message);
    m_output.Flush();
    // The engine shows a missing image as an error before it reports the outcome.
    if (!message.isEmpty() && message != m_shownError) m_output.Error(message);
    // Not from inside the engine's handlers: the link is closed once they are done.
    QTimer::singleShot(0, this, [this] {
        if (m_engine.IsConnected()) m_engine.OnDisconnect();
        emit finished(m_nExitCode);
    });
}

bool CHeadlessRun::AskYesNo(const QString&, const QString& text) {
    // A question after the outcome (the loader identifying itself after a
    // boot update) belongs to no run any more.
    if (m_bFinished) return false;
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
    m_shownError = caption + QStringLiteral(": ") + text.trimmed();
    m_output.Error(m_shownError);
}

void CHeadlessRun::ShowInfo(const QString& caption, const QString& text) {
    m_output.Note(caption + QStringLiteral(": ") + text.trimmed());
}

std::optional<FirmwarePackage> ResolveFirmwarePackage(const QString& firmware,
                                                      const std::vector<std::string>& searchFolders,
                                                      std::vector<PackageProblem>* problems,
                                                      QString* reason) {
    if (firmware.isEmpty()) {
        *reason = QStringLiteral(
            "No firmware package given: give its folder with --firmware DIR, or an installed "
            "package's name with --firmware NAME. --firmware builtin sends the built-in test "
            "image, which only the simulated receiver takes.");
        return std::nullopt;
    }
    if (firmware == QLatin1String("builtin")) return BuiltinFirmwarePackage();

    std::string folder;
    if (firmware.contains(QLatin1Char('/')) || QFileInfo::exists(firmware)) {
        folder = QFile::encodeName(firmware).toStdString();
    } else {
        const std::vector<PackageEntry> found = FindPackages(searchFolders);
        const std::string name = QFile::encodeName(firmware).toStdString();
        const auto entry = std::find_if(found.begin(), found.end(),
                                        [&](const PackageEntry& e) { return e.name == name; });
        if (entry == found.end()) {
            QStringList folders;
            for (const std::string& f : searchFolders) folders << QString::fromStdString(f);
            *reason = QStringLiteral(
                          "No firmware package named %1 in %2. Give the package's folder with "
                          "--firmware DIR.")
                          .arg(firmware, folders.join(QStringLiteral(" or ")));
            return std::nullopt;
        }
        folder = entry->folder;
    }
    std::vector<PackageProblem> found;
    std::optional<FirmwarePackage> package = LoadFirmwarePackage(folder, &found);
    const auto errors = std::count_if(found.begin(), found.end(), [](const PackageProblem& p) {
        return p.severity == PackageProblem::Severity::Error;
    });
    problems->insert(problems->end(), found.begin(), found.end());
    if (!package)
        *reason = QStringLiteral("The firmware package %1 is not usable (%2 %3).")
                      .arg(QString::fromStdString(EscapedForDisplay(folder)))
                      .arg(errors)
                      .arg(errors == 1 ? QStringLiteral("error") : QStringLiteral("errors"));
    return package;
}

int CheckFirmwarePackage(const QString& firmware, const std::vector<std::string>& searchFolders,
                         CHeadlessOutput& output) {
    std::vector<PackageProblem> problems;
    QString reason;
    const std::optional<FirmwarePackage> package =
        ResolveFirmwarePackage(firmware, searchFolders, &problems, &reason);
    if (!package) {
        for (const std::string& line : DescribeProblems(problems))
            output.Error(QString::fromStdString(line));
        output.Error(reason);
        return kExitBadPackage;
    }
    output.Note(PackageSummary(*package, problems));
    return kExitCompleted;
}
