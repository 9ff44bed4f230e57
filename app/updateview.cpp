#include "updateview.h"

#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QVBoxLayout>

#include "updateengine.h"

namespace {
// About one frame of a 60 Hz display.
constexpr int kRepaintMs = 16;
}  // namespace

CUpdateView::CUpdateView(UpdateEngine& engine, QWidget* parent) : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
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
    layout->addWidget(m_figures);

    m_repaint.setSingleShot(true);
    m_repaint.setInterval(kRepaintMs);
    connect(&m_repaint, &QTimer::timeout, this, &CUpdateView::Flush);
    connect(&engine, &UpdateEngine::listCleared, this, &CUpdateView::ClearList);
    connect(&engine, &UpdateEngine::lineAdded, this, &CUpdateView::AddLine);
    connect(&engine, &UpdateEngine::lastLineReplaced, this, &CUpdateView::ReplaceLastLine);
    connect(&engine, &UpdateEngine::progressChanged, this, &CUpdateView::SetProgress);
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
