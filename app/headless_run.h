#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engineevent.h"
#include "firmwarepackage.h"
#include "headless_options.h"
#include "iprompter.h"
#include "runlog.h"
#include "sleepinhibitor.h"

class CHeadlessOutput;
class CHistory;
class CHistoryRecorder;
class UpdateEngine;

// Drives one update through the engine, the way an operator would: take the
// firmware package, connect, wait for the identification, give Update, and
// follow the engine's signals
// until it reports the outcome. It adds no protocol of its own; it only
// decides when the run is over and with which exit status. It is the
// engine's prompter: "Update boot?" is answered from the options, errors are
// printed. Each run leaves a run log and keeps the machine awake while it
// updates.
class CHeadlessRun : public QObject, public IPrompter {
    Q_OBJECT

public:
    // Gives the engine the options' link and itself as the prompter.
    // Installed packages are looked for by name in searchFolders, first
    // match first. The run is recorded in history, when given.
    CHeadlessRun(UpdateEngine& engine, const HeadlessOptions& options, CHeadlessOutput& output,
                 std::vector<std::string> searchFolders, CHistory* history = nullptr);
    ~CHeadlessRun() override;

    // Gives the engine the package, then connects. Without a usable package,
    // or when the port does not open, the run is over at once.
    void Start();
    // The operator asked to stop: the port is closed, the run ends. While
    // the receiver is being flashed a Ctrl-C (not forced) only warns, and a
    // second one within a few seconds stops.
    void Interrupt(bool force = true);

    bool IsFinished() const { return m_bFinished; }
    int ExitCode() const { return m_nExitCode; }

    // IPrompter
    bool AskYesNo(const QString& caption, const QString& text) override;
    void ShowError(const QString& caption, const QString& text) override;
    void ShowInfo(const QString& caption, const QString& text) override;

signals:
    // After the link was closed; emitted once.
    void finished(int exitCode);

private:
    bool TakePackage();
    void Finish(int code, const QString& message);
    void OnEvent(const EngineEvent& event);
    void OnIdentificationEnded(bool recordFound);
    void OnRestartRequested();
    void OnEngineFinished(const ev::Finished& finished);
    void OnVerified(const ev::Verified& verified);
    void OnStall(EnginePhase phase, qint64 silentMs);
    QString PortName() const;

    UpdateEngine& m_engine;
    HeadlessOptions m_options;
    CHeadlessOutput& m_output;
    std::vector<std::string> m_searchFolders;
    CRunLog m_runLog;
    std::unique_ptr<CHistoryRecorder> m_pRecorder;
    CSleepInhibitor m_inhibitor;
    QString m_shownError;
    QElapsedTimer m_interruptWarned;  // the first Ctrl-C during a flash
    bool m_bRecordFound = false;
    bool m_bUpdateGiven = false;
    bool m_bBootAsked = false;
    int m_nRestartRequests = 0;  // the Update command counts as the first
    bool m_bFinished = false;
    int m_nExitCode = -1;
};

// The package --firmware names: "builtin", else a folder when the text has a
// slash or names an existing path, else an installed package of that name
// (the first of searchFolders that holds one).
// Every problem found is added to problems; nothing, with *reason saying why
// in one line, when there is no usable package.
std::optional<FirmwarePackage> ResolveFirmwarePackage(const QString& firmware,
                                                      const std::vector<std::string>& searchFolders,
                                                      std::vector<PackageProblem>* problems,
                                                      QString* reason);

// --check: the package's summary on standard output, or its problems on
// standard error. Opens nothing else. The exit status.
int CheckFirmwarePackage(const QString& firmware, const std::vector<std::string>& searchFolders,
                         CHeadlessOutput& output);
