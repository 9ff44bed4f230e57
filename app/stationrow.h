#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <memory>

#include "engineevent.h"
#include "firmwarepackage.h"
#include "iprompter.h"
#include "linkchoice.h"
#include "progressfigures.h"
#include "updateengine.h"

class CHistory;
class CHistoryRecorder;
class CRunLog;
class CSleepInhibitor;

// What a station row shows of its engine.
struct StationEngineState {
    bool connected = false;
    bool identifying = false;
    bool polling = false;
    bool sending = false;
    bool awaiting = false;
    bool underWay = false;   // from the restart until the outcome
    bool verifying = false;  // confirmed; the receiver is asked for its versions
    qint64 writingMs = -1;   // the receiver writes its flash, this long so far
    QString serialNumber;    // from the version record
    QString versions;

    bool IsQuiet() const { return connected && !identifying && !polling && !sending && !awaiting; }
};

// How a row's last run ended.
enum class StationResult { None, Completed, BootSent, Failed };

// One receiver of the station: its port, its engine, link, run log and hold
// on sleep, its answer to "Update boot?", the progress figures and how its
// last run ended. Every row's engine runs on the window's thread: the engine
// never blocks it (its pauses are timer steps), so a row that fails, hangs or
// loses its line holds up no other, and removing a row waits for nothing.
class CStationRow : public QObject, private IPrompter {
    Q_OBJECT

public:
    // port: "COMn" or a device path, as the operator gave it.
    CStationRow(QString port, FirmwarePackage package, UpdateEngine::LinkFactory makeLink,
                int silenceSeconds, int completionSeconds, QObject* parent = nullptr);
    ~CStationRow() override;  // closes the link

    const QString& Port() const { return m_strPort; }
    // "COM200 (/dev/pts/3)" or the device path.
    const QString& PortLabel() const { return m_strPortLabel; }

    // Commands. Connect starts a new round: the next Update All includes the row.
    void Connect();
    void Disconnect();
    void Update();
    // The images of the next Update.
    void SetPackage(const FirmwarePackage& package);
    // Records the row's runs in history, which outlives the row, and looks up
    // the last run recorded for each receiver the row identifies.
    void SetHistory(CHistory& history);
    // That run, in words; empty without a history or a serial number.
    const QString& LastRecorded() const { return m_strLastRecorded; }
    // The answer the next "Update boot?" gets.
    void SetBootAnswer(bool yes);
    bool BootAnswer() const { return m_bBootAnswer; }

    // Connected, nothing under way, and not updated since it connected.
    bool IsIdle() const;
    // Its record shows every version the package states: Update All leaves it.
    bool IsUpToDate() const { return m_engine.IsReceiverUpToDate(); }
    // From the restart until the outcome: a Disconnect now cuts off a flash.
    bool IsUnderWay() const { return m_engine.IsConnected() && m_engine.IsRunUnderWay(); }
    StationEngineState State() const;
    QString StateText() const;
    StationResult Result() const { return m_result; }
    // What happened, in plain words ("The line to the receiver was lost").
    const QString& ResultText() const { return m_strResult; }
    // The system's own report of it, when there is one ("Input/output error").
    const QString& ResultDetail() const { return m_strResultDetail; }
    // Both, as the row shows them: "The line to the receiver was lost:
    // Input/output error".
    QString ResultLine() const;
    int Percent() const { return m_clock.Percent(); }
    QString Figures() const;
    UpdateEngine& Engine() { return m_engine; }

signals:
    // At most a few times a second while blocks go out, and at every change
    // of state.
    void changed();
    // A line for the station's note, e.g. the row's log cannot be written.
    void note(const QString& text);

private:
    void OnEvent(const EngineEvent& event);
    void OnFinished(UpdateOutcome outcome, const QString& message);
    void OnStalled(EnginePhase phase, qint64 silentMs);
    void LookUpLastRun(const QString& serial);
    // Ends the run as failed and closes the line, so that Connect tries again.
    void Fail(const QString& text, const QString& detail = {});
    void SetResult(StationResult result, const QString& text, const QString& detail = {});
    void Changed();

    // IPrompter: the engine's questions and boxes, never shown.
    bool AskYesNo(const QString& caption, const QString& text) override;
    void ShowError(const QString& caption, const QString& text) override;
    void ShowInfo(const QString& caption, const QString& text) override;

    QString m_strPort;
    QString m_strPortLabel;
    CLinkChoice m_choice;
    FirmwarePackage m_package;
    UpdateEngine m_engine;
    std::unique_ptr<CRunLog> m_pRunLog;
    CHistory* m_pHistory = nullptr;
    std::unique_ptr<CHistoryRecorder> m_pRecorder;  // after the run log: it names its file
    QString m_strLastRecorded;
    std::unique_ptr<CSleepInhibitor> m_pInhibitor;
    CProgressClock m_clock;
    QElapsedTimer m_changedClock;
    StationResult m_result = StationResult::None;
    QString m_strResult;
    QString m_strResultDetail;
    QString m_strRefusal;    // why the port did not open, when the engine knew
    QString m_strLastError;  // the latest error box of this run, not shown
    qint64 m_nWritingMs = -1;
    bool m_bUpdateGiven = false;  // since the last Connect
    bool m_bBootAnswer = false;
    bool m_bFailed = false;  // this run's result is out; the close that follows says nothing
};

// How the station's rows stand, for its summary line.
struct StationCounts {
    int done = 0;  // completed, or boot loader sent
    int failed = 0;
    int running = 0;  // from Update until the outcome
    int waiting = 0;  // the rest: ready, identifying, disconnected
};

// A port as the operator typed or picked it, as a row keeps it: "COMn"
// ("com5" and "5" too), or an absolute device path. Empty when it is neither.
QString StationPortText(const QString& typed);
// The link of a row's port: "COMn" goes by its number; a device path by the
// COM number the settings or the default map give it, so messages still say
// COMn.
CLinkChoice StationLinkChoice(const QString& port);
