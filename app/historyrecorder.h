#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <optional>

#include "engineevent.h"
#include "historyrun.h"

class CHistory;
class CRunLog;
class UpdateEngine;

// Follows one engine through its runs, as its run log does (runlog.h says
// what a run is), and hands each run to the history when it ends: the
// station, the receiver as its version record and its loader gave it, the
// package and the images sent, the outcome and how long it took, and the
// run log's file name.
class CHistoryRecorder : public QObject {
    Q_OBJECT

public:
    // runLog, when given, is the same engine's and outlives the recorder.
    CHistoryRecorder(UpdateEngine& engine, CHistory& history, const CRunLog* runLog = nullptr,
                     QObject* parent = nullptr);
    ~CHistoryRecorder() override;

    // The face's own verdict (a headless run gave up) ends the open run, if
    // any, as failed.
    void End(const QString& detail);

signals:
    // A line for the message list: the database stopped taking runs, or
    // takes them again.
    void unwritable(const QString& line);
    // Each run as it was handed to the history.
    void recorded(const HistoryRun& run);

private:
    void OnEvent(const EngineEvent& event);
    void OnStateChanged();
    void Begin();
    // The part and serial numbers the loader gave this run.
    void TakeLoader();
    void TakeImages(const ev::TransferStarted& started);
    void Finish(const QString& outcome, const QString& detail);

    UpdateEngine* m_pEngine;  // null once the engine is gone
    CHistory& m_history;
    const CRunLog* m_pRunLog;
    ev::ReceiverIdentified m_record;  // this connection's version record
    std::optional<HistoryRun> m_run;  // the open run
    // Confirmed by the receiver; the check of its versions still runs.
    std::optional<QString> m_pendingOutcome;
    QElapsedTimer m_clock;
};
