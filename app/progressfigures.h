#pragma once

#include <QElapsedTimer>
#include <QString>
#include <cstdint>

// "Progress:  45%  1322880/2937712 bytes  612 kB/s  0:03 left", or with a bar
// of barWidth > 0 characters the compact "[#######.........]  45% 1322880/2937712
// B 612 kB/s 0:03 left". Rate and time left only when sent > 0 and seconds > 0.
QString ProgressText(std::int64_t position, std::int64_t maximum, std::int64_t sent, double seconds,
                     int barWidth = 0);
// The figures without their label: " 45%  1322880/2937712 bytes  612 kB/s
// 0:03 left", where a column says what they are.
QString ProgressFigures(std::int64_t position, std::int64_t maximum, std::int64_t sent,
                        double seconds);

// The figures of the transfer under way, as the window and the headless run
// both show them: the rate counts from the transfer's own start.
class CProgressClock {
public:
    // True when this is the start of the next transfer: a new range, or a
    // position going back.
    bool Update(std::int64_t position, std::int64_t maximum);
    // ProgressText of the position now.
    QString Text(int barWidth = 0) const;
    // ProgressFigures of the position now.
    QString Figures() const;
    int Percent() const;
    std::int64_t Position() const { return m_position; }
    std::int64_t Maximum() const { return m_maximum; }

private:
    std::int64_t m_position = 0;
    std::int64_t m_maximum = 0;
    std::int64_t m_startPosition = 0;
    QElapsedTimer m_clock;
};
