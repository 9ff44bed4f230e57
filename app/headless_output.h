#pragma once

#include <QElapsedTimer>
#include <QString>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "firmwarepackage.h"

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
    void ReplaceLine(const QString& text);  // the address line replaced
    void Progress(std::int64_t position, std::int64_t maximum);
    void RestartProgress();           // a new transfer begins: rate and steps anew
    void Error(const QString& text);  // standard error (and the log)
    void Note(const QString& text);   // standard output, not a list line
    void Flush();                     // the held address line, the live line ended

private:
    void Plain(const QString& text);  // one line to the plain sinks
    void Terminal(const QString& text);
    void Redraw(bool force);
    void ClearLive();
    QString ProgressNow(bool bar) const;

    std::FILE* m_out;
    std::FILE* m_err;
    std::FILE* m_log = nullptr;
    bool m_terminal;
    int m_columns;

    QString m_address;    // the address line not yet printed for good
    bool m_live = false;  // terminal: the live line is on the screen
    std::int64_t m_position = 0;
    std::int64_t m_maximum = 0;
    std::int64_t m_startPosition = 0;
    int m_step = 0;  // 5% steps printed in the plain sinks
    bool m_progressShown = false;
    QElapsedTimer m_transferClock;
    QElapsedTimer m_redrawClock;
};

// "Progress:  45%  1322880/2937712 bytes  612 kB/s  0:03 left", or with a bar
// of barWidth > 0 characters the compact "[#######.........]  45% 1322880/2937712
// B 612 kB/s 0:03 left". Rate and time left only when sent > 0 and seconds > 0.
QString ProgressText(std::int64_t position, std::int64_t maximum, std::int64_t sent, double seconds,
                     int barWidth);

// What --check prints for a usable package: its name and folder, the
// prefixes, one table row per image each part number is given (part number,
// image file, size, SHA-256; columns aligned), then the warnings among
// problems. Lines joined by '\n', no trailing one.
QString PackageSummary(const FirmwarePackage& package, const std::vector<PackageProblem>& problems);
