#include "progressfigures.h"

#include <QCoreApplication>
#include <algorithm>

namespace {

// The window shows these in its language; a headless run has no catalogue.
QString Tr(const char* text) {
    return QCoreApplication::translate("ProgressFigures", text);
}

QString Duration(double seconds) {
    const auto total = static_cast<long long>(seconds + 0.5);
    return QStringLiteral("%1:%2").arg(total / 60).arg(total % 60, 2, 10, QLatin1Char('0'));
}

}  // namespace

QString ProgressFigures(std::int64_t position, std::int64_t maximum, std::int64_t sent,
                        double seconds) {
    return ProgressText(position, maximum, sent, seconds).mid(Tr("Progress: ").size());
}

QString ProgressText(std::int64_t position, std::int64_t maximum, std::int64_t sent, double seconds,
                     int barWidth) {
    position = std::clamp<std::int64_t>(position, 0, std::max<std::int64_t>(maximum, 0));
    const int percent = maximum > 0 ? static_cast<int>(position * 100 / maximum) : 0;
    // The bar goes on a terminal line beside the address: kept under 80 columns.
    const bool compact = barWidth > 0;
    const QString gap = compact ? QStringLiteral(" ") : QStringLiteral("  ");
    QString text;
    if (compact) {
        const int filled = maximum > 0 ? static_cast<int>(position * barWidth / maximum) : 0;
        text = QLatin1Char('[') + QString(filled, QLatin1Char('#')) +
               QString(barWidth - filled, QLatin1Char('.')) + QStringLiteral("] ");
    } else {
        text = Tr("Progress: ");
    }
    text += QStringLiteral("%1%").arg(percent, 3) + gap +
            QStringLiteral("%1/%2 %3")
                .arg(position)
                .arg(maximum)
                .arg(compact ? QStringLiteral("B") : Tr("bytes"));
    if (seconds > 0 && sent > 0) {
        const double rate = static_cast<double>(sent) / seconds;
        text += gap + Tr("%1 kB/s").arg(rate / 1000.0, 0, 'f', 0);
        text += gap + Tr("%1 left").arg(Duration(static_cast<double>(maximum - position) / rate));
    }
    return text;
}

bool CProgressClock::Update(std::int64_t position, std::int64_t maximum) {
    const bool next = maximum != m_maximum || position < m_position || !m_clock.isValid();
    if (next) {
        m_maximum = maximum;
        m_startPosition = position;
        m_clock.start();
    }
    m_position = position;
    return next;
}

QString CProgressClock::Text(int barWidth) const {
    const double seconds =
        m_clock.isValid() ? static_cast<double>(m_clock.nsecsElapsed()) / 1e9 : 0;
    return ProgressText(m_position, m_maximum, m_position - m_startPosition, seconds, barWidth);
}

QString CProgressClock::Figures() const {
    return Text().mid(Tr("Progress: ").size());
}

int CProgressClock::Percent() const {
    if (m_maximum <= 0) return 0;
    return static_cast<int>(std::clamp<std::int64_t>(m_position, 0, m_maximum) * 100 / m_maximum);
}
