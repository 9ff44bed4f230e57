#include "protocolpause.h"

#include <utility>

CProtocolPause::CProtocolPause() {
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&m_timer, &QTimer::timeout, [this] { OnTimeout(); });
}

void CProtocolPause::Start(int ms, std::function<void()> then) {
    m_nMs = ms;
    m_then = std::move(then);
    m_started.start();
    m_timer.start(ms);
}

void CProtocolPause::Cancel() {
    m_timer.stop();
    m_then = nullptr;
}

void CProtocolPause::OnTimeout() {
    // A timer may come a fraction early; the receiver counts on the whole pause.
    const qint64 leftNs = qint64{m_nMs} * 1000000 - m_started.nsecsElapsed();
    if (leftNs > 0) {
        m_timer.start(static_cast<int>((leftNs + 999999) / 1000000));
        return;
    }
    auto then = std::exchange(m_then, nullptr);
    if (then) then();
}
