#include "updateview.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QVBoxLayout>

#include "engineclock.h"
#include "updateengine.h"

namespace {
// About one frame of a 60 Hz display.
constexpr int kRepaintMs = 16;
}  // namespace

CUpdateView::CUpdateView(UpdateEngine& engine, QWidget* parent)
    : QWidget(parent), m_engine(engine) {
    auto* layout = new QVBoxLayout(this);
    // What an Update would change on the receiver, once both sides are known.
    m_versions = new QLabel(this);
    m_versions->setObjectName(QStringLiteral("versions"));
    m_versions->hide();
    layout->addWidget(m_versions);
    layout->addWidget(new QLabel(tr("Message:"), this));
    m_list = new QListWidget(this);
    m_list->setObjectName(QStringLiteral("messageList"));
    m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    // Keyboard focus on an empty list makes its first row current, which
    // paints like a selection; the list takes focus only when clicked.
    m_list->setFocusPolicy(Qt::ClickFocus);
    m_list->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // Every row is one line of text: rewriting the address line need not
    // measure the whole list again.
    m_list->setUniformItemSizes(true);
    layout->addWidget(m_list, 1);
    m_progress = new QProgressBar(this);
    m_progress->setObjectName(QStringLiteral("progress"));
    m_progress->setRange(0, 100);
    m_progress->setValue(0);
    m_progress->setTextVisible(false);
    layout->addWidget(m_progress);
    m_figures = new QLabel(this);
    m_figures->setObjectName(QStringLiteral("figures"));
    m_guard = new QLabel(this);
    m_guard->setObjectName(QStringLiteral("guard"));
    m_guard->setStyleSheet(QStringLiteral("color: #a04000; font-weight: bold;"));
    auto* below = new QHBoxLayout;
    below->addWidget(m_figures, 1);
    below->addWidget(m_guard);
    layout->addLayout(below);
    // The end of a run, where it cannot be missed.
    m_outcome = new QLabel(this);
    m_outcome->setObjectName(QStringLiteral("outcome"));
    m_outcome->setWordWrap(true);
    m_outcome->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_outcome->hide();
    layout->addWidget(m_outcome);

    m_repaint.setSingleShot(true);
    m_repaint.setInterval(kRepaintMs);
    connect(&m_repaint, &QTimer::timeout, this, &CUpdateView::Flush);
    connect(&engine, &UpdateEngine::happened, this, &CUpdateView::OnEvent);
    connect(&engine, &UpdateEngine::stateChanged, this, &CUpdateView::OnStateChanged);
}

void CUpdateView::OnEvent(const EngineEvent& event) {
    const ListChange change = ListLines(event);
    switch (change.op) {
        case ListChange::Op::Clear:
            ClearList();
            m_outcome->hide();
            break;
        case ListChange::Op::Append:
            for (const QString& line : change.lines) AddLine(line);
            break;
        case ListChange::Op::ReplaceLast:
            ReplaceLastLine(change.lines.value(0));
            break;
        case ListChange::Op::None:
            break;
    }
    if (const auto* e = std::get_if<ev::BlockSent>(&event))
        SetProgress(static_cast<int>(e->done), static_cast<int>(e->total));
    else if (const auto* e = std::get_if<ev::FlashWriteWaited>(&event))
        OnFlashWrite(e->waitedMs);
    else if (const auto* e = std::get_if<ev::Stalled>(&event))
        OnStalled(e->phase, e->silentMs);
    else if (const auto* e = std::get_if<ev::Finished>(&event))
        OnFinished(e->outcome, e->detail);
    else if (std::holds_alternative<ev::Restarting>(event))
        m_outcome->hide();
}

// ------------------------------------------------------------ the run's end

QString CUpdateView::GuardText() const {
    return m_guard->text();
}

QString CUpdateView::OutcomeText() const {
    return m_outcome->isHidden() ? QString() : m_outcome->text();
}

void CUpdateView::ShowVersionStep() {
    const QString step = m_engine.VersionStep();
    m_versions->setText(tr("Receiver firmware: %1").arg(step));
    m_versions->setVisible(!step.isEmpty() && m_engine.IsConnected());
}

QString CUpdateView::VersionStepText() const {
    return m_versions->isHidden() ? QString() : m_versions->text();
}

void CUpdateView::OnStateChanged() {
    ShowVersionStep();
    if (!m_engine.IsRunUnderWay())
        m_guard->clear();
    else if (m_engine.Phase() != EnginePhase::FlashWrite)
        m_guard->setText(tr("Do not unplug or power off the receiver"));
}

void CUpdateView::OnFlashWrite(qint64 waitedMs) {
    m_guard->setText(tr("The receiver is writing its firmware (%1). Do not unplug or power off "
                        "the receiver")
                         .arg(DurationText(waitedMs)));
}

void CUpdateView::OnStalled(EnginePhase phase, qint64 silentMs) {
    const QString port = m_engine.PortText();
    const QString seconds = QString::number(silentMs / 1000);
    QString line;
    switch (phase) {
        case EnginePhase::Polling:
        case EnginePhase::AwaitingStart:
            line = tr("The receiver on %1 has not answered the loader poll for %2 s. Check the "
                      "cable and the receiver's power; a receiver left in its loader may need "
                      "Manual Update in Link Setup. Update tries again.")
                       .arg(port, seconds);
            break;
        case EnginePhase::Sending:
            line = tr("The receiver on %1 has sent nothing for %2 s in the middle of the "
                      "transfer. Check the cable and the receiver's power, then Update to start "
                      "again.")
                       .arg(port, seconds);
            break;
        default:
            line = tr("The receiver on %1 has sent nothing for %2 s. Check the cable, the "
                      "receiver's power and the port in Link Setup.")
                       .arg(port, seconds);
            break;
    }
    m_engine.AddNote(line);
}

void CUpdateView::OnFinished(UpdateOutcome outcome, const QString& message) {
    const QString took = DurationText(m_engine.RunElapsedMs());
    switch (outcome) {
        case UpdateOutcome::Completed:
            ShowOutcome(
                tr("Completed in %1. The receiver restarts with its new firmware.").arg(took),
                true);
            return;
        case UpdateOutcome::BootSent:
            ShowOutcome(tr("Boot loader sent in %1. Restart the receiver, then Update again to "
                           "send the CPU firmware.")
                            .arg(took),
                        true);
            return;
        case UpdateOutcome::NoFirmware:
            ShowOutcome(tr("Nothing was sent: %1 Choose the firmware package for this receiver "
                           "in App > Firmware Package.")
                            .arg(message),
                        false);
            return;
        case UpdateOutcome::Unconfirmed:
            ShowOutcome(tr("Not confirmed after %1: %2").arg(took, message), false);
            return;
        case UpdateOutcome::LinkLost:
        case UpdateOutcome::Interrupted:
            ResetProgress();
            ShowOutcome(tr("Failed after %1: %2 Check the cable and the receiver's power, then "
                           "Connect and Update again; a receiver that no longer starts needs "
                           "Manual Update in Link Setup.")
                            .arg(took, message.trimmed()),
                        false);
            return;
    }
}

void CUpdateView::ShowOutcome(const QString& text, bool good) {
    m_outcome->setText(text);
    m_outcome->setStyleSheet(good ? QStringLiteral("background: #dff0d8; color: #1e4620; "
                                                   "padding: 6px; font-weight: bold;")
                                  : QStringLiteral("background: #f8d7da; color: #58151c; "
                                                   "padding: 6px; font-weight: bold;"));
    m_outcome->show();
    m_guard->clear();
}

void CUpdateView::ResetProgress() {
    // An aborted run's last figures would read as if it were still going.
    m_pendingProgress.reset();
    m_progress->setValue(0);
    m_clock = CProgressClock();
    m_figures->clear();
    emit percentChanged(0);
}

// ------------------------------------------------------------ message list

void CUpdateView::AddLine(const QString& line) {
    Flush();
    // Appending neither selects nor scrolls: the operator scrolls by hand.
    m_list->addItem(line);
}

void CUpdateView::ReplaceLastLine(const QString& line) {
    m_pendingLastLine = line;
    Schedule();
}

void CUpdateView::ClearList() {
    m_pendingLastLine.reset();
    m_list->clear();
}

void CUpdateView::SetProgress(int position, int maximum) {
    m_pendingProgress = {position, maximum};
    Schedule();
}

void CUpdateView::Schedule() {
    if (!m_repaint.isActive()) m_repaint.start();
}

void CUpdateView::Flush() {
    m_repaint.stop();
    if (m_pendingLastLine) {
        // Rewriting the row in place repaints one row; removing and appending
        // would lay out the whole list again.
        if (QListWidgetItem* last = m_list->item(m_list->count() - 1))
            last->setText(*m_pendingLastLine);
        else
            m_list->addItem(*m_pendingLastLine);
        m_pendingLastLine.reset();
    }
    if (m_pendingProgress) {
        const auto [position, maximum] = *m_pendingProgress;
        if (m_progress->maximum() != maximum) m_progress->setRange(0, maximum);
        m_progress->setValue(position);
        m_pendingProgress.reset();
        const int before = m_clock.Percent();
        const bool next = m_clock.Update(position, maximum);
        m_figures->setText(m_clock.Text());
        if (next || m_clock.Percent() != before) emit percentChanged(m_clock.Percent());
    }
}

QStringList CUpdateView::Lines() {
    Flush();
    QStringList lines;
    for (int i = 0; i < m_list->count(); ++i) lines << m_list->item(i)->text();
    return lines;
}

QString CUpdateView::Figures() {
    Flush();
    return m_figures->text();
}

int CUpdateView::ProgressValue() {
    Flush();
    return m_progress->value();
}

int CUpdateView::ProgressMaximum() {
    Flush();
    return m_progress->maximum();
}
