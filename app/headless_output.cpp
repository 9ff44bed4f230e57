#include "headless_output.h"

#include <QFile>
#include <QStringList>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "engineclock.h"

namespace {

constexpr int kSteps = 20;           // plain progress: one line per 5%
constexpr int kRedrawEveryMs = 100;  // terminal: the live line at most 10 times a second
constexpr int kBarWidth = 16;

void Write(std::FILE* file, const QString& text) {
    if (!file) return;
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), file);
    std::fflush(file);
}

}  // namespace

CHeadlessOutput::CHeadlessOutput(std::FILE* out, std::FILE* err, bool terminal, int columns)
    : m_out(out), m_err(err), m_terminal(terminal), m_columns(std::max(columns, 20)) {
    m_redrawClock.start();
}

CHeadlessOutput::~CHeadlessOutput() {
    Flush();
    if (m_log) std::fclose(m_log);
}

bool CHeadlessOutput::OpenLog(const QString& path, QString* error) {
    m_log = std::fopen(QFile::encodeName(path).constData(), "a");
    if (!m_log) {
        *error = QStringLiteral("cannot write the log file %1: %2")
                     .arg(path, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    return true;
}

void CHeadlessOutput::Plain(const QString& text) {
    if (!m_terminal) Write(m_out, text + QLatin1Char('\n'));
    Write(m_log, text + QLatin1Char('\n'));
}

void CHeadlessOutput::Terminal(const QString& text) {
    if (!m_terminal) return;
    ClearLive();
    Write(m_out, text + QLatin1Char('\n'));
}

void CHeadlessOutput::ClearLive() {
    if (!m_live) return;
    Write(m_out, QStringLiteral("\r\x1b[K"));
    m_live = false;
}

void CHeadlessOutput::Line(const QString& text) {
    Flush();
    Plain(text);
    Terminal(text);
}

void CHeadlessOutput::LiveLine(const QString& text) {
    Flush();  // a new list line: the one before it stays
    ReplaceLine(text);
}

void CHeadlessOutput::ReplaceLine(const QString& text) {
    m_address = text;
    Redraw(false);
}

void CHeadlessOutput::RestartProgress() {
    m_step = 0;
    m_progressShown = false;
}

void CHeadlessOutput::Progress(std::int64_t position, std::int64_t maximum) {
    if (m_progress.Update(position, maximum)) RestartProgress();
    if (maximum <= 0) return;
    const int step = static_cast<int>(std::min<std::int64_t>(position, maximum) * kSteps / maximum);
    if (step > m_step) {
        m_step = step;
        const QString text = m_progress.Text();
        if (!m_terminal) Write(m_out, text + QLatin1Char('\n'));
        Write(m_log, text + QLatin1Char('\n'));
    }
    m_progressShown = true;
    Redraw(position >= maximum);
}

void CHeadlessOutput::Redraw(bool force) {
    if (!m_terminal) return;
    if (!force && m_live && m_redrawClock.elapsed() < kRedrawEveryMs) return;
    m_redrawClock.restart();
    QString text = m_address;
    if (m_progressShown && m_progress.Maximum() > 0) {
        if (!text.isEmpty()) text += QStringLiteral("  ");
        text += m_progress.Text(kBarWidth);
    }
    // One screen line, or the carriage return would not reach its start.
    text.truncate(m_columns - 1);
    Write(m_out, QStringLiteral("\r\x1b[K") + text);
    m_live = true;
}

void CHeadlessOutput::Flush() {
    const QString address = std::exchange(m_address, QString());
    if (!address.isEmpty()) Plain(address);
    if (!m_terminal) return;
    // The live line becomes ordinary lines: the address, then the bar.
    const bool wasLive = m_live;
    ClearLive();
    if (!address.isEmpty()) Write(m_out, address + QLatin1Char('\n'));
    if (wasLive && m_progressShown && m_progress.Maximum() > 0)
        Write(m_out, m_progress.Text(kBarWidth) + QLatin1Char('\n'));
}

void CHeadlessOutput::Error(const QString& text) {
    ClearLive();
    Write(m_err, text + QLatin1Char('\n'));
    Write(m_log, text + QLatin1Char('\n'));
}

void CHeadlessOutput::Note(const QString& text) {
    Flush();
    Plain(text);
    Terminal(text);
}

void CHeadlessOutput::FlashWrite(std::int64_t waitedMs) {
    constexpr std::int64_t kPlainEveryMs = 30000;
    if (waitedMs == 0) {
        Flush();
        m_waitStep = -1;
        m_progressShown = false;  // the live line is the wait's now, not the bar's
    }
    const QString text = QStringLiteral(
                             "The receiver is writing its firmware (%1). Do not power it off or "
                             "unplug it.")
                             .arg(DurationText(waitedMs));
    const int step = static_cast<int>(waitedMs / kPlainEveryMs);
    if (step > m_waitStep) {
        m_waitStep = step;
        if (!m_terminal) Write(m_out, text + QLatin1Char('\n'));
        Write(m_log, text + QLatin1Char('\n'));
    }
    if (!m_terminal) return;
    Write(m_out, QStringLiteral("\r\x1b[K") + text.left(m_columns - 1));
    m_live = true;
}
