#pragma once

#include <QObject>
#include <QString>
#include <QThread>
#include <optional>

#include "firmwarepackage.h"
#include "linkchoice.h"
#include "progressfigures.h"
#include "stationworker.h"
#include "updateengine.h"

// One receiver of the station, as the window sees it: the port, the latest
// state its engine reported, the progress figures and how its last run
// ended. The engine itself lives on the row's own thread (CStationWorker);
// commands go there as queued calls and reports come back the same way, so
// a row that fails, hangs or loses its line never holds up another.
class CStationRow : public QObject {
    Q_OBJECT

public:
    // port: "COMn" or a device path, as the operator gave it.
    CStationRow(QString port, const FirmwarePackage& package, UpdateEngine::LinkFactory makeLink,
                int silenceSeconds, int completionSeconds, QObject* parent = nullptr);
    ~CStationRow() override;  // closes the link and joins the row's thread

    const QString& Port() const { return m_strPort; }
    // "COM200 (/dev/pts/3)" or the device path.
    const QString& PortLabel() const { return m_strPortLabel; }

    // Commands. Connect starts a new round: the next Update All includes the row.
    void Connect();
    void Disconnect();
    void Update();
    void SetPackage(const FirmwarePackage& package);
    void SetBootAnswer(bool yes);
    bool BootAnswer() const { return m_bBootAnswer; }

    // Connected, nothing under way, and not updated since it connected.
    bool IsIdle() const;
    // From the restart until the outcome: a Disconnect now cuts off a flash.
    bool IsUnderWay() const { return m_state.connected && m_state.underWay; }
    const StationEngineState& State() const { return m_state; }
    QString StateText() const;
    StationResult Result() const { return m_result; }
    const QString& ResultText() const { return m_strResult; }
    const QString& ResultDetail() const { return m_strResultDetail; }
    int Percent() const { return m_clock.Percent(); }
    QString Figures() const;

signals:
    void changed();
    // A line for the station's note, e.g. the row's log cannot be written.
    void note(const QString& text);

private:
    void OnState(const StationEngineState& state);
    void OnProgress(qint64 position, qint64 maximum);
    void OnResult(StationResult result, const QString& text, const QString& detail);

    QString m_strPort;
    QString m_strPortLabel;
    CLinkChoice m_choice;
    QThread m_thread;
    CStationWorker* m_pWorker = nullptr;  // lives on m_thread
    StationEngineState m_state;
    CProgressClock m_clock;
    StationResult m_result = StationResult::None;
    QString m_strResult;
    QString m_strResultDetail;
    bool m_bConnecting = false;   // Connect given, the engine has not reported yet
    bool m_bUpdateGiven = false;  // since the last Connect
    bool m_bBootAnswer = false;
};

// A port as the operator typed or picked it, as a row keeps it: "COMn"
// ("com5" and "5" too), or an absolute device path. Empty when it is neither.
QString StationPortText(const QString& typed);
// The link of a row's port: "COMn" goes by its number; a device path by the
// COM number the settings or the default map give it, so messages still say
// COMn.
CLinkChoice StationLinkChoice(const QString& port);
