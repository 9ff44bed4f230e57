#pragma once

#include <QElapsedTimer>
#include <QMetaType>
#include <QObject>
#include <QString>
#include <QTimer>
#include <atomic>
#include <memory>

#include "firmwarepackage.h"
#include "iprompter.h"
#include "linkchoice.h"
#include "updateengine.h"

// What a station row shows of its engine: copied on the row's thread, read
// on the window's.
struct StationEngineState {
    bool connected = false;
    bool identifying = false;
    bool polling = false;
    bool sending = false;
    bool awaiting = false;
    bool underWay = false;  // from the restart until the outcome
    qint64 writingMs = -1;  // the receiver writes its flash, this long so far
    QString serialNumber;   // from the version record
    QString versions;
    qint64 position = 0;
    qint64 maximum = 0;

    bool IsQuiet() const { return connected && !identifying && !polling && !sending && !awaiting; }
};

// How a row's last run ended.
enum class StationResult { None, Completed, BootSent, Failed };

// One station row's engine and everything that must run on the engine's
// thread: the link and the row's answer to "Update boot?". A receiver that
// stops answering while a run is under way fails the row. Each row has a thread of its own because
// the engine waits the protocol's pauses on its own thread (up to half a
// second at the end of a transfer): in a shared thread one row would hold
// up every other row and the window.
//
// Constructed on the window's thread and moved to the row's; every command
// below runs on the row's thread (the row posts them as queued calls). It
// never waits for the window: what the window shows goes out as signals.
class CStationWorker : public QObject, private IPrompter {
    Q_OBJECT

public:
    CStationWorker(UpdateEngine::LinkFactory makeLink, CLinkChoice choice, FirmwarePackage package,
                   int silenceSeconds, int completionSeconds);
    ~CStationWorker() override;  // disconnects; on the row's thread

    void Connect();
    void Disconnect();
    void Update();
    // The images of the next Update.
    void SetPackage(FirmwarePackage package) { m_package = std::move(package); }

    // Any thread: the answer the next "Update boot?" gets.
    void SetBootAnswer(bool yes) { m_bBootAnswer = yes; }

signals:
    void stateChanged(const StationEngineState& state);
    // At most a few times a second while blocks go out, and always at the
    // start and the end of the range.
    void progressChanged(qint64 position, qint64 maximum);
    // text says how the run ended in a line; detail is the system's own
    // report behind it, when there is one.
    void resultChanged(StationResult result, const QString& text, const QString& detail);
    // The row's run log cannot be written (once per run); the run goes on.
    void logUnwritable(const QString& line);

private:
    UpdateEngine& Engine();
    void CreateEngine();
    void OnEngineState();
    void OnProgress(int position, int maximum);
    void OnFinished(UpdateOutcome outcome, const QString& message);
    void OnStalled(EnginePhase phase, qint64 silentMs);
    void Fail(const QString& text, const QString& detail = {});

    // IPrompter: the engine's questions and boxes, never shown.
    bool AskYesNo(const QString& caption, const QString& text) override;
    void ShowError(const QString& caption, const QString& text) override;
    void ShowInfo(const QString& caption, const QString& text) override;

    UpdateEngine::LinkFactory m_makeLink;
    CLinkChoice m_choice;
    FirmwarePackage m_package;
    std::unique_ptr<UpdateEngine> m_pEngine;
    std::atomic<bool> m_bBootAnswer{false};
    int m_nSilenceSeconds;
    int m_nCompletionSeconds;
    bool m_bFailed = false;  // this run's result is out; the close that follows says nothing
    qint64 m_nWritingMs = -1;
    QElapsedTimer m_progressClock;
    QString m_strLastLine;   // the engine's latest line
    QString m_strLastError;  // the latest error box of this run, not shown
};

Q_DECLARE_METATYPE(StationEngineState)
Q_DECLARE_METATYPE(StationResult)
