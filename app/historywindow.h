#pragma once

#include <QString>
#include <QWidget>
#include <vector>

#include "historyrun.h"

class CHistory;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;

// The history's runs, newest first, filtered by serial number, part number
// and outcome; what it shows can be saved as CSV. The runs are read on the
// history's thread: a slow or absent database never holds the window up.
class CHistoryWindow : public QWidget {
    Q_OBJECT

public:
    // A window shows this many runs at most: the newest that match.
    static constexpr int kShown = 10000;

    explicit CHistoryWindow(CHistory& history, QWidget* parent = nullptr);

    // Reads the runs that match the filter as it stands now.
    void Refresh();
    // Writes the runs shown to path as CSV; false, with the reason in the
    // status line, when the file cannot be written.
    bool ExportCsv(const QString& path);

    QLineEdit* SerialEdit() const { return m_serial; }
    QLineEdit* PartEdit() const { return m_part; }
    QComboBox* OutcomeCombo() const { return m_outcome; }
    QTableWidget* Table() const { return m_table; }
    QString Status() const;

signals:
    // The answer to the last Refresh is shown.
    void refreshed();

private:
    void Show(const std::vector<HistoryRun>& runs, const QString& error);
    void OnExport();

    CHistory& m_history;
    std::vector<HistoryRun> m_runs;
    int m_nAsked = 0;  // answers to an earlier Refresh are dropped
    QLineEdit* m_serial = nullptr;
    QLineEdit* m_part = nullptr;
    QComboBox* m_outcome = nullptr;
    QTableWidget* m_table = nullptr;
    QPushButton* m_export = nullptr;
    QLabel* m_status = nullptr;
};
