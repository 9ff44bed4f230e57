#include "stationwindow.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "firmware.h"
#include "progressfigures.h"
#include "prompter.h"
#include "settings.h"
#include "stationrow.h"

namespace {

constexpr char kConnectButton[] = "connect";
constexpr char kRemoveButton[] = "remove";

}  // namespace

CStationWindow::CStationWindow(StationSetup setup, QWidget* parent)
    : QWidget(parent), m_setup(std::move(setup)) {
    if (!m_setup.makeLink) m_setup.makeLink = RealLinks();
    setWindowFlag(Qt::Window);
    setWindowTitle(tr("Station"));

    auto* layout = new QVBoxLayout(this);
    auto* bar = new QHBoxLayout;
    // First, so that it stays in reach however narrow the window is.
    m_updateAll = new QPushButton(tr("Update All"), this);
    bar->addWidget(m_updateAll);
    m_includeCurrent = new QCheckBox(tr("Include receivers that are up to date"), this);
    bar->addWidget(m_includeCurrent);
    bar->addSpacing(16);
    bar->addWidget(new QLabel(tr("Serial port or device:"), this));
    m_portCombo = new QComboBox(this);
    m_portCombo->setEditable(true);
    m_portCombo->setInsertPolicy(QComboBox::NoInsert);
    m_portCombo->setMinimumContentsLength(16);
    m_portCombo->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    SetPorts(m_setup.ports);
    m_portCombo->lineEdit()->setPlaceholderText(tr("COMn or /dev/..."));
    bar->addWidget(m_portCombo, 1);
    m_addButton = new QPushButton(tr("Add"), this);
    bar->addWidget(m_addButton);
    layout->addLayout(bar);

    m_table = new QTableWidget(0, kColumns, this);
    m_table->setHorizontalHeaderLabels({tr("Port"), tr("Serial number"), tr("Versions"),
                                        tr("State"), tr("Progress"), tr("Result"),
                                        tr("Update boot?"), QString()});
    m_table->verticalHeader()->hide();
    m_table->setSelectionMode(QAbstractItemView::NoSelection);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setFocusPolicy(Qt::NoFocus);
    // Every column as wide as what it holds; the result takes the rest and
    // wraps a long reason onto a second line rather than cut it off.
    QHeaderView* header = m_table->horizontalHeader();
    header->setSectionResizeMode(QHeaderView::ResizeToContents);
    header->setSectionResizeMode(kColProgress, QHeaderView::Interactive);
    m_table->setColumnWidth(
        kColProgress,
        fontMetrics().horizontalAdvance(ProgressFigures(9999999, 9999999, 9999999, 1.0)) + 24);
    header->setSectionResizeMode(kColResult, QHeaderView::Stretch);
    header->setMinimumSectionSize(60);
    m_table->setWordWrap(true);
    m_table->verticalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    layout->addWidget(m_table, 1);

    m_summary = new QLabel(this);
    m_summary->setObjectName(QStringLiteral("summary"));
    m_packageLabel = new QLabel(this);
    m_note = new QLabel(this);
    m_note->setObjectName(QStringLiteral("note"));
    m_note->setWordWrap(true);
    auto* foot = new QHBoxLayout;
    foot->addWidget(m_summary);
    foot->addSpacing(24);
    foot->addWidget(m_packageLabel);
    foot->addWidget(m_note, 1);
    layout->addLayout(foot);

    connect(m_addButton, &QPushButton::clicked, this, &CStationWindow::OnAddClicked);
    connect(m_portCombo->lineEdit(), &QLineEdit::returnPressed, this,
            &CStationWindow::OnAddClicked);
    connect(m_updateAll, &QPushButton::clicked, this, &CStationWindow::UpdateAll);
    connect(m_includeCurrent, &QCheckBox::toggled, this, &CStationWindow::RefreshUpdateAll);

    ShowPackage();
    // A hand-edited file may repeat a port or hold one that is none.
    for (const QString& saved : CSettings().StationPorts()) {
        const QString port = StationPortText(saved);
        if (!port.isEmpty() && !HasRow(port)) AddRow(port);
    }
    RefreshUpdateAll();
    FitScreen();
}

CStationWindow::~CStationWindow() = default;

void CStationWindow::FitScreen() {
    // Room for the columns and a readable result, but never wider or taller
    // than the screen leaves free (1280 x 800 at 1x, or 2560 x 1600 at 2x).
    QSize size(1400, 420);
    if (const QScreen* screen = (parentWidget() ? parentWidget()->screen() : this->screen()))
        size = size.boundedTo(screen->availableGeometry().size() * 0.95);
    resize(size);
}

// ----------------------------------------------------------------- rows

bool CStationWindow::AddPort(const QString& typed) {
    const QString port = StationPortText(typed);
    if (port.isEmpty()) {
        m_note->setText(tr("%1 is neither COMn nor a device path.").arg(typed.trimmed()));
        return false;
    }
    if (HasRow(port)) {
        m_note->setText(tr("%1 has a row already.").arg(port));
        return false;
    }
    m_note->clear();
    AddRow(port);
    SaveRows();
    return true;
}

void CStationWindow::OnAddClicked() {
    // A picked entry gives its port; anything else is what was typed.
    const int index = m_portCombo->findText(m_portCombo->currentText());
    const QString port =
        index >= 0 ? m_portCombo->itemData(index).toString() : m_portCombo->currentText();
    if (AddPort(port)) m_portCombo->setCurrentIndex(-1);
}

void CStationWindow::AddRow(const QString& port) {
    // Rows are made before a package is chosen too; they send only after
    // one is (Update All stays off until then).
    auto row = std::make_unique<CStationRow>(
        port, m_setup.package.value_or(BuiltinFirmwarePackage()), m_setup.makeLink,
        m_setup.silenceSeconds, m_setup.completionSeconds);
    CStationRow* r = row.get();
    connect(r, &CStationRow::note, m_note, &QLabel::setText);
    if (m_setup.history) r->SetHistory(*m_setup.history);
    const int index = RowCount();
    m_rows.push_back(std::move(row));
    m_table->insertRow(index);
    for (int c = 0; c < kColumns; ++c) m_table->setItem(index, c, new QTableWidgetItem);

    // In the middle of its cell at its own height: a row that a long
    // reason makes tall would stretch the bar into an empty box.
    auto* progressCell = new QWidget(m_table);
    auto* progressBox = new QVBoxLayout(progressCell);
    progressBox->setContentsMargins(1, 0, 1, 0);
    auto* progress = new QProgressBar(progressCell);
    progress->setRange(0, 100);
    progress->setValue(0);
    progressBox->addWidget(progress, 0, Qt::AlignVCenter);
    m_table->setCellWidget(index, kColProgress, progressCell);

    // Widgets in the rows never take the focus: the table would scroll to
    // whichever got it when Update All turns off.
    auto* boot = new QCheckBox(m_table);
    boot->setFocusPolicy(Qt::NoFocus);
    boot->setToolTip(tr("The answer this row gives when its receiver offers a boot update"));
    connect(boot, &QCheckBox::toggled, r, &CStationRow::SetBootAnswer);
    m_table->setCellWidget(index, kColBoot, boot);

    auto* buttons = new QWidget(m_table);
    auto* box = new QHBoxLayout(buttons);
    box->setContentsMargins(2, 0, 2, 0);
    auto* connectButton = new QPushButton(buttons);
    connectButton->setObjectName(QLatin1String(kConnectButton));
    connectButton->setFocusPolicy(Qt::NoFocus);
    // An icon rather than a word: the width goes to the Result column.
    auto* removeButton =
        new QPushButton(style()->standardIcon(QStyle::SP_DialogCloseButton), QString(), buttons);
    removeButton->setToolTip(tr("Remove"));
    removeButton->setObjectName(QLatin1String(kRemoveButton));
    removeButton->setFocusPolicy(Qt::NoFocus);
    box->addWidget(connectButton);
    box->addWidget(removeButton);
    m_table->setCellWidget(index, kColButtons, buttons);
    connect(connectButton, &QPushButton::clicked, r, [this, r] {
        if (!r->State().connected) {
            r->Connect();
            return;
        }
        if (MayInterrupt(*r, tr("Disconnect anyway?"))) r->Disconnect();
    });
    connect(removeButton, &QPushButton::clicked, this, [this, r] {
        if (MayInterrupt(*r, tr("Remove the row anyway?"))) RemoveRow(IndexOf(r));
    });
    connect(r, &CStationRow::changed, this, [this, r] { OnRowChanged(r); });

    ShowRow(index);
    r->Connect();
}

void CStationWindow::RemoveRow(int index) {
    if (index < 0 || index >= RowCount()) return;
    m_table->removeRow(index);
    m_rows.erase(m_rows.begin() + index);  // disconnects and joins the row's thread
    SaveRows();
    RefreshUpdateAll();
}

bool CStationWindow::MayInterrupt(const CStationRow& row, const QString& question) {
    if (!row.IsUnderWay()) return true;
    return Prompter().AskYesNoDefaultNo(
        tr("Station"),
        tr("The receiver on %1 is being updated. Stopping now interrupts the update: a receiver "
           "whose firmware is cut off in the middle may not start again until it is updated "
           "from its loader. %2")
            .arg(row.PortLabel(), question));
}

bool CStationWindow::IsAnyRowUnderWay() const {
    return std::any_of(m_rows.begin(), m_rows.end(),
                       [](const auto& row) { return row->IsUnderWay(); });
}

bool CStationWindow::HasRow(const QString& port) const {
    return std::any_of(m_rows.begin(), m_rows.end(),
                       [&](const auto& row) { return row->Port() == port; });
}

int CStationWindow::IndexOf(const CStationRow* row) const {
    for (int i = 0; i < RowCount(); ++i)
        if (m_rows[static_cast<std::size_t>(i)].get() == row) return i;
    return -1;
}

void CStationWindow::SaveRows() const {
    QStringList ports;
    for (const auto& row : m_rows) ports << row->Port();
    CSettings().SetStationPorts(ports);
}

int CStationWindow::UpdateAll() {
    if (!m_setup.package) return 0;
    int started = 0;
    for (const auto& row : m_rows) {
        if (!WouldUpdate(*row)) continue;
        row->Update();
        ++started;
    }
    RefreshUpdateAll();
    return started;
}

void CStationWindow::SetPackage(std::optional<FirmwarePackage> package) {
    m_setup.package = std::move(package);
    if (m_setup.package)
        for (const auto& row : m_rows) row->SetPackage(*m_setup.package);
    ShowPackage();
    RefreshUpdateAll();
}

void CStationWindow::SetPorts(const std::vector<ComPort>& ports) {
    m_setup.ports = ports;
    // What the operator is typing or has picked stays in the field.
    const QString text = m_portCombo->currentText();
    m_portCombo->clear();
    // The probe's entries carry their port; a typed text is taken as it is.
    for (const ComPort& p : ports)
        m_portCombo->addItem(
            QStringLiteral("COM%1 (%2)").arg(p.number).arg(QString::fromStdString(p.device)),
            QStringLiteral("COM%1").arg(p.number));
    m_portCombo->setCurrentIndex(m_portCombo->findText(text));
    if (m_portCombo->currentIndex() < 0) m_portCombo->setEditText(text);
}

// --------------------------------------------------------------- display

void CStationWindow::OnRowChanged(CStationRow* row) {
    const int index = IndexOf(row);
    if (index < 0) return;
    ShowRow(index);
    RefreshUpdateAll();
}

void CStationWindow::ShowRow(int index) {
    const CStationRow& row = Row(index);
    const StationEngineState state = row.State();
    // A long device path (/dev/serial/by-id/...) would push the Result out
    // of sight: its middle gives way, the tool tip keeps it whole.
    QTableWidgetItem* port = m_table->item(index, kColPort);
    port->setText(fontMetrics().elidedText(row.PortLabel(), Qt::ElideMiddle,
                                           fontMetrics().averageCharWidth() * 24));
    port->setToolTip(row.PortLabel());
    m_table->item(index, kColSerial)->setText(state.serialNumber);
    m_table->item(index, kColSerial)->setToolTip(row.LastRecorded());
    m_table->item(index, kColVersions)->setText(state.versions);
    m_table->item(index, kColState)->setText(row.StateText());
    QTableWidgetItem* result = m_table->item(index, kColResult);
    result->setText(row.ResultLine());
    result->setToolTip(
        row.ResultDetail().isEmpty()
            ? row.ResultText()
            : tr("%1.\nThe system reported: %2").arg(row.ResultText(), row.ResultDetail()));
    // A failed row stands out by more than a colour: an icon, and a bar
    // that no longer shows a figure it will not reach.
    const bool failed = row.Result() == StationResult::Failed;
    const bool done =
        row.Result() == StationResult::Completed || row.Result() == StationResult::BootSent;
    const QBrush colour = failed ? QBrush(Qt::darkRed) : done ? QBrush(Qt::darkGreen) : QBrush();
    result->setForeground(colour);
    m_table->item(index, kColState)->setForeground(colour);
    result->setIcon(failed ? style()->standardIcon(QStyle::SP_MessageBoxCritical)
                    : done ? style()->standardIcon(QStyle::SP_DialogApplyButton)
                           : QIcon());

    auto* progress = ProgressBar(index);
    const QString figures = failed ? QString() : row.Figures();
    progress->setValue(failed ? 0 : row.Percent());
    // The figures carry their own percent; QProgressBar only expands %p, %v and %m.
    progress->setFormat(figures);
    progress->setTextVisible(!figures.isEmpty());
    progress->setToolTip(failed ? row.Figures() : QString());

    auto* boot = static_cast<QCheckBox*>(m_table->cellWidget(index, kColBoot));
    if (boot->isChecked() != row.BootAnswer()) boot->setChecked(row.BootAnswer());
    ConnectButton(index)->setText(state.connected ? tr("Disconnect") : tr("Connect"));
}

QProgressBar* CStationWindow::ProgressBar(int index) const {
    return m_table->cellWidget(index, kColProgress)->findChild<QProgressBar*>();
}

QPushButton* CStationWindow::ConnectButton(int index) const {
    return m_table->cellWidget(index, kColButtons)
        ->findChild<QPushButton*>(QLatin1String(kConnectButton));
}

QPushButton* CStationWindow::RemoveButton(int index) const {
    return m_table->cellWidget(index, kColButtons)
        ->findChild<QPushButton*>(QLatin1String(kRemoveButton));
}

QString CStationWindow::Note() const {
    return m_note->text();
}

StationCounts CStationWindow::Counts() const {
    StationCounts counts;
    for (const auto& row : m_rows) {
        if (row->IsUnderWay())
            ++counts.running;
        else if (row->Result() == StationResult::Failed)
            ++counts.failed;
        else if (row->Result() == StationResult::Completed ||
                 row->Result() == StationResult::BootSent)
            ++counts.done;
        else
            ++counts.waiting;
    }
    return counts;
}

QString CStationWindow::Summary() const {
    const StationCounts c = Counts();
    return tr("%1 done, %2 failed, %3 running, %4 waiting")
        .arg(c.done)
        .arg(c.failed)
        .arg(c.running)
        .arg(c.waiting);
}

bool CStationWindow::WouldUpdate(const CStationRow& row) const {
    // A receiver that runs the package's versions already is left alone
    // unless the operator asks for it.
    return row.IsIdle() && (m_includeCurrent->isChecked() || !row.IsUpToDate());
}

void CStationWindow::RefreshUpdateAll() {
    m_summary->setText(Summary());
    m_updateAll->setEnabled(m_setup.package &&
                            std::any_of(m_rows.begin(), m_rows.end(),
                                        [this](const auto& row) { return WouldUpdate(*row); }));
}

void CStationWindow::ShowPackage() {
    const std::optional<FirmwarePackage>& p = m_setup.package;
    if (!p)
        m_packageLabel->setText(
            tr("Firmware: none chosen; choose one in the main window (App > Firmware Package...)"));
    else if (p->builtin)
        m_packageLabel->setText(tr("Firmware: built-in test image"));
    else
        m_packageLabel->setText(tr("Firmware: %1").arg(QString::fromStdString(p->name)));
}
