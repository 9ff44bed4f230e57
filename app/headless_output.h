#pragma once

#include <QElapsedTimer>
#include <QString>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "progressfigures.h"

// Where a headless run writes what the window would show. Message-list lines
// go to standard output as they are added. On a terminal the address line
// and a progress bar share one line that is redrawn in place; otherwise
// (a pipe, a file, the log) the address line is printed once, when the next
// line follows it, and progress at most once per 5%.
class CHeadlessOutput {
public:
    // terminal: out is a terminal of that many columns.
    CHeadlessOutput(std::FILE* out, std::FILE* err, bool terminal, int columns = 80);
    ~CHeadlessOutput();

    // Appends to path; false with the reason when it cannot be opened.
    bool OpenLog(const QString& path, QString* error);

    void Line(const QString& text);         // a line added to the message list
    void LiveLine(const QString& text);     // the address line added: replaced in place later
    void ReplaceLine(const QString& text);  // the address line replaced
    void Progress(std::int64_t position, std::int64_t maximum);
    void RestartProgress();           // a new transfer begins: rate and steps anew
    void Error(const QString& text);  // standard error (and the log)
    void Note(const QString& text);   // standard output, not a list line
    // The receiver writes its flash and has for waitedMs: a live line on a
    // terminal, otherwise a line at the start and every half minute.
    void FlashWrite(std::int64_t waitedMs);
    void Flush();  // the held address line, the live line ended

private:
    void Plain(const QString& text);  // one line to the plain sinks
    void Terminal(const QString& text);
    void Redraw(bool force);
    void ClearLive();

    std::FILE* m_out;
    std::FILE* m_err;
    std::FILE* m_log = nullptr;
    bool m_terminal;
    int m_columns;

    QString m_address;    // the address line not yet printed for good
    bool m_live = false;  // terminal: the live line is on the screen
    CProgressClock m_progress;
    int m_step = 0;  // 5% steps printed in the plain sinks
    bool m_progressShown = false;
    int m_waitStep = -1;  // half minutes of the flash write printed in the plain sinks
    QElapsedTimer m_redrawClock;
};
