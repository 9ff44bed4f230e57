#include "engineclock.h"

#include <algorithm>

EngineClock::EngineClock() {
    m_since.start();
    m_timer.setSingleShot(true);
    QObject::connect(&m_timer, &QTimer::timeout, [this] {
        // The wake-up may arm the next one.
        auto fn = std::move(m_fn);
        m_fn = nullptr;
        if (fn) fn();
    });
}

std::int64_t EngineClock::NowMs() const {
    return m_since.elapsed();
}

void EngineClock::WakeAt(std::int64_t dueMs, std::function<void()> fn) {
    m_fn = std::move(fn);
    m_timer.start(static_cast<int>(std::clamp<std::int64_t>(dueMs - NowMs(), 0, 24 * 3600 * 1000)));
}

void EngineClock::Cancel() {
    m_timer.stop();
    m_fn = nullptr;
}

QString DurationText(std::int64_t ms) {
    const std::int64_t total = std::max<std::int64_t>(ms, 0) / 1000;
    const auto two = [](std::int64_t v) {
        return QStringLiteral("%1").arg(v, 2, 10, QLatin1Char('0'));
    };
    if (total >= 3600)
        return QStringLiteral("%1:%2:%3")
            .arg(total / 3600)
            .arg(two(total / 60 % 60), two(total % 60));
    return QStringLiteral("%1:%2").arg(total / 60).arg(two(total % 60));
}
