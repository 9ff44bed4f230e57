#pragma once

#include <QElapsedTimer>
#include <QTimer>
#include <functional>

// The pauses the receiver relies on: after a speed change or the reset
// text, before a poll, an "AT" or a first block, at the end of a transfer.
// They keep their length on the wire but block no thread: the step after a
// pause runs from the event loop. One pause at a time; the engine reads no
// reply and takes no timer tick while one is pending, as if it had slept.
class CProtocolPause {
public:
    CProtocolPause();

    // then runs once ms have passed, never sooner.
    void Start(int ms, std::function<void()> then);
    void Cancel();
    bool IsPending() const { return static_cast<bool>(m_then); }

private:
    void OnTimeout();

    QTimer m_timer;
    QElapsedTimer m_started;
    int m_nMs = 0;
    std::function<void()> m_then;
};
