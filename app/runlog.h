#pragma once

#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QObject>
#include <QString>
#include <optional>
#include <utility>
#include <vector>

#include "engineevent.h"

class UpdateEngine;

// $XDG_STATE_HOME/quorvexupdate/logs, or ~/.local/state/quorvexupdate/logs
// when the variable is unset or not an absolute path.
QString RunLogFolder();
// "2026-12-08_09-39-56.123_COM3-dev-ttyUSB0.log": the time first, so names
// sort oldest first; the port (and, once known, "SN" and the receiver's serial
// number) made safe for a file name.
QString RunLogFileName(const QDateTime& when, const QString& port);
// Whether a file name is one RunLogFileName gives.
bool IsRunLogFileName(const QString& name);
// Removes the oldest run logs in folder, by the time in their names, until
// at most keep are left. Only files named as RunLogFileName names them are
// counted or removed, never current (the file name of the run being
// written): after the clock was set back the newest run has the oldest name.
void PruneRunLogs(const QString& folder, int keep, const QString& current = {});

// Writes one file per update run of an engine: every line of its message
// list with a time stamp (a message over several lines on one), the port,
// the package, the SHA-256 of each image sent, the receiver's part and
// serial numbers, the outcome and how long the run took. The file is named
// at the start by the port and renamed with the serial number once the
// loader has told it.
//
// A run starts with Update (or with a transfer the receiver starts on its
// own, as after a boot update) and ends with the outcome, a Disconnect, the
// face's own verdict (End) or the engine going away. Its file also holds the
// lines the list got before the start since Connect: the receiver's
// identification and what happened between runs.
//
// The list's last line is held until the next one comes, since the address
// line is replaced with every block: the file reads as the list does. Each
// line is one unbuffered write and never synced; a file that cannot be
// written is reported once per run through unwritable() and the run goes on
// without it.
class CRunLog : public QObject {
    Q_OBJECT

public:
    static constexpr int kKeep = 200;

    explicit CRunLog(UpdateEngine& engine, QString folder = RunLogFolder(),
                     QObject* parent = nullptr);
    ~CRunLog() override;

    // Ends the open run, if any, with this outcome.
    void End(const QString& outcome);
    bool IsRunning() const { return m_bRunning; }
    // The file of the open run, or of the last one.
    QString Path() const { return m_file.fileName(); }
    QString Folder() const { return m_folder; }

signals:
    // One line for the operator's message list.
    void unwritable(const QString& line);

private:
    using Line = std::pair<QDateTime, QString>;

    void OnEvent(const EngineEvent& event);
    void OnListCleared();
    void OnLineAdded(const QString& line);
    void OnLastLineReplaced(const QString& line);
    void OnStateChanged();
    void OnFinished(UpdateOutcome outcome, const QString& message);
    // The loader answered: its part and serial numbers belong to this run.
    void TakeReceiver();
    void LogImages(const std::vector<ev::SentImage>& images);
    // Adds the receiver's serial number to the open file's name.
    void NameBySerial(const std::string& serial);
    void Begin();
    void Hold(const QDateTime& when, const QString& text);
    void Write(const QDateTime& when, const QString& text);
    void Fail(const QString& reason);
    QString PortText() const;

    UpdateEngine* m_pEngine;  // null once the engine is gone
    QString m_folder;
    QFile m_file;
    std::vector<Line> m_identification;  // before the first run since Connect
    std::vector<Line> m_between;         // since the last run ended
    std::optional<Line> m_held;          // the list's last line, while a run is open
    QString m_receiver;                  // part and serial numbers, once the loader answered
    QDateTime m_begun;                   // the run's start, which names its file
    QString m_port;                      // the port, as the file name has it
    QElapsedTimer m_clock;               // the run's duration
    bool m_bNamedBySerial = false;
    bool m_bRunning = false;
    bool m_bWasSending = false;
    bool m_bRunSinceConnect = false;
    bool m_bFailed = false;  // this run's file is lost; said once
    // Confirmed by the receiver; the check of its versions still runs.
    std::optional<QString> m_pendingOutcome;
};
