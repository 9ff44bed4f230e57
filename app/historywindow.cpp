#include "historywindow.h"

#include <QComboBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSaveFile>
#include <QTableWidget>
#include <QVBoxLayout>

#include "engineclock.h"
#include "history.h"

CHistoryWindow::CHistoryWindow(CHistory& history, QWidget* parent)
    : QWidget(parent), m_history(history) {
    setWindowFlag(Qt::Window);
    setWindowTitle(tr("History"));
    resize(1200, 500);

    auto* layout = new QVBoxLayout(this);
    auto* bar = new QHBoxLayout;
    bar->addWidget(new QLabel(tr("Serial number:"), this));
    m_serial = new QLineEdit(this);
    bar->addWidget(m_serial);
    bar->addWidget(new QLabel(tr("Part number:"), this));
    m_part = new QLineEdit(this);
    bar->addWidget(m_part);
    bar->addWidget(new QLabel(tr("Outcome:"), this));
    m_outcome = new QComboBox(this);
    m_outcome->addItem(tr("Any"), QString());
    for (const QString& word : HistoryOutcomes()) m_outcome->addItem(word, word);
    bar->addWidget(m_outcome);
    auto* refresh = new QPushButton(tr("Refresh"), this);
    bar->addWidget(refresh);
    bar->addStretch();
    m_export = new QPushButton(tr("Export CSV..."), this);
    bar->addWidget(m_export);
    layout->addLayout(bar);

    m_table = new QTableWidget(0, 11, this);
    m_table->setHorizontalHeaderLabels({tr("Time"), tr("Serial number"), tr("Part number"),
                                        tr("Before"), tr("After"), tr("Outcome"), tr("Took"),
                                        tr("Package"), tr("Station"), tr("Port"), tr("Detail")});
    m_table->verticalHeader()->hide();
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->horizontalHeader()->setStretchLastSection(true);
    layout->addWidget(m_table, 1);
    m_status = new QLabel(this);
    layout->addWidget(m_status);

    connect(m_serial, &QLineEdit::returnPressed, this, &CHistoryWindow::Refresh);
    connect(m_part, &QLineEdit::returnPressed, this, &CHistoryWindow::Refresh);
    connect(m_outcome, &QComboBox::currentIndexChanged, this, &CHistoryWindow::Refresh);
    connect(refresh, &QPushButton::clicked, this, &CHistoryWindow::Refresh);
    connect(m_export, &QPushButton::clicked, this, &CHistoryWindow::OnExport);
}

QString CHistoryWindow::Status() const {
    return m_status->text();
}

void CHistoryWindow::Refresh() {
    HistoryFilter filter;
    filter.serial = m_serial->text().trimmed();
    filter.partNumber = m_part->text().trimmed();
    filter.outcome = m_outcome->currentData().toString();
    filter.limit = kShown;
    filter.newestFirst = true;
    const int asked = ++m_nAsked;
    m_status->setText(tr("Reading %1...").arg(m_history.Shown()));
    m_history.Query(filter, this,
                    [this, asked](const std::vector<HistoryRun>& runs, const QString& error) {
                        if (asked == m_nAsked) Show(runs, error);
                    });
}

void CHistoryWindow::Show(const std::vector<HistoryRun>& runs, const QString& error) {
    m_runs = runs;
    m_table->setRowCount(0);
    m_table->setRowCount(static_cast<int>(runs.size()));
    for (int i = 0; i < m_table->rowCount(); ++i) {
        const HistoryRun& r = runs[static_cast<std::size_t>(i)];
        const QStringList cells{
            r.started.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
            r.serial.isEmpty() ? r.loaderSerial : r.serial,
            r.partNumber,
            VersionsText(r.cpuBefore, r.fpgaBefore, r.bootBefore),
            VersionsText(r.cpuAfter, r.fpgaAfter, r.bootAfter),
            r.outcome,
            DurationText(r.durationMs),
            r.package,
            r.host,
            r.port,
            r.detail};
        for (int c = 0; c < cells.size(); ++c) {
            auto* item = new QTableWidgetItem(cells[c]);
            if (c == 7) item->setToolTip(r.images);  // the images sent, by their SHA-256
            m_table->setItem(i, c, item);
        }
    }
    m_table->resizeColumnsToContents();
    m_export->setEnabled(error.isEmpty());
    if (!error.isEmpty())
        m_status->setText(tr("The history %1 cannot be read: %2").arg(m_history.Shown(), error));
    else if (runs.size() >= static_cast<std::size_t>(kShown))
        m_status->setText(
            tr("The newest %1 runs that match, from %2.").arg(kShown).arg(m_history.Shown()));
    else
        m_status->setText(tr("%n run(s) from %1.", nullptr, static_cast<int>(runs.size()))
                              .arg(m_history.Shown()));
    emit refreshed();
}

void CHistoryWindow::OnExport() {
    const QString path = QFileDialog::getSaveFileName(
        this, tr("Export CSV"), QStringLiteral("history.csv"), tr("CSV files (*.csv)"));
    if (!path.isEmpty()) ExportCsv(path);
}

bool CHistoryWindow::ExportCsv(const QString& path) {
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(HistoryCsv(m_runs)) >= 0 && file.commit()) {
        m_status->setText(
            tr("%n run(s) written to %1.", nullptr, static_cast<int>(m_runs.size())).arg(path));
        return true;
    }
    m_status->setText(tr("%1 cannot be written: %2").arg(path, file.errorString()));
    return false;
}
