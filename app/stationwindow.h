#pragma once

#include <QString>
#include <QWidget>
#include <memory>
#include <optional>
#include <vector>

#include "firmwarepackage.h"
#include "linkfactory.h"
#include "stationrow.h"
#include "updateengine.h"

class CHistory;
class CStationRow;
class QCheckBox;
class QComboBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QTableWidget;

// How a station starts.
struct StationSetup {
    // The serial ports the probe found, offered for new rows.
    std::vector<ComPort> ports;
    // The images every row sends: the main window's package, when the
    // operator chose one. Without it Update All stays off.
    std::optional<FirmwarePackage> package;
    // Where the rows' links come from; empty: the real serial ports.
    UpdateEngine::LinkFactory makeLink;
    // A run whose receiver sends nothing for this long fails.
    int silenceSeconds = 30;
    // How long a receiver may write its flash before its row is unconfirmed.
    int completionSeconds = 600;
    // Where the rows record their runs; none: they are not recorded.
    CHistory* history = nullptr;
};

// Several receivers updated side by side, one row each: the operator adds
// serial ports and removes rows; each row connects when it is added and
// shows its port, serial number, versions, state, progress with figures
// and result. Update All starts every row that is connected and idle. The
// rows and their ports are kept in the settings file and come back when the
// station opens.
class CStationWindow : public QWidget {
    Q_OBJECT

public:
    enum Column {
        kColPort,
        kColSerial,
        kColVersions,
        kColState,
        kColProgress,
        kColResult,
        kColBoot,
        kColButtons,
        kColumns
    };

    explicit CStationWindow(StationSetup setup, QWidget* parent = nullptr);
    ~CStationWindow() override;

    // Adds a row for a port ("COMn" or a device path) and connects it; false,
    // with the reason in the note, when the text names no port or the port
    // has a row already.
    bool AddPort(const QString& typed);
    void RemoveRow(int index);
    // Starts every row that is connected and idle; the number started.
    int UpdateAll();
    void SetPackage(std::optional<FirmwarePackage> package);
    // The serial ports present now, offered for new rows.
    void SetPorts(const std::vector<ComPort>& ports);
    bool IsAnyRowUnderWay() const;

    int RowCount() const { return static_cast<int>(m_rows.size()); }
    CStationRow& Row(int index) const { return *m_rows[static_cast<std::size_t>(index)]; }
    QTableWidget* Table() const { return m_table; }
    QComboBox* PortCombo() const { return m_portCombo; }
    QPushButton* AddButton() const { return m_addButton; }
    QPushButton* UpdateAllButton() const { return m_updateAll; }
    QString Note() const;
    // "2 done, 1 failed, 1 running, 3 waiting": the rows at a glance.
    QString Summary() const;
    StationCounts Counts() const;
    QProgressBar* ProgressBar(int index) const;
    // The button of a row that connects or disconnects it, and the one that removes it.
    QPushButton* ConnectButton(int index) const;
    QPushButton* RemoveButton(int index) const;

private:
    void FitScreen();
    void AddRow(const QString& port);
    // True when the row is not being flashed, or the operator agrees to cut it off.
    bool MayInterrupt(const CStationRow& row, const QString& question);
    void OnAddClicked();
    void OnRowChanged(CStationRow* row);
    void ShowRow(int index);
    int IndexOf(const CStationRow* row) const;
    bool HasRow(const QString& port) const;
    void SaveRows() const;
    void RefreshUpdateAll();
    bool WouldUpdate(const CStationRow& row) const;
    void ShowPackage();

    StationSetup m_setup;
    std::vector<std::unique_ptr<CStationRow>> m_rows;
    QTableWidget* m_table = nullptr;
    QComboBox* m_portCombo = nullptr;
    QPushButton* m_addButton = nullptr;
    QPushButton* m_updateAll = nullptr;
    QCheckBox* m_includeCurrent = nullptr;
    QLabel* m_packageLabel = nullptr;
    QLabel* m_note = nullptr;
    QLabel* m_summary = nullptr;
};
