#pragma once

#include <QElapsedTimer>
#include <QString>
#include <QTimer>
#include <cstdint>
#include <functional>

// The engine's time for the waits the receiver decides: how long it has been
// silent, and how long it takes to write its flash. Those run to minutes, so
// a test gives the engine a clock it moves by hand instead of waiting them out.
class EngineClock {
public:
    EngineClock();
    virtual ~EngineClock() = default;

    // Milliseconds on a monotonic clock.
    virtual std::int64_t NowMs() const;
    // fn runs once, on the owner's thread, when NowMs() has reached dueMs. A
    // later call replaces the earlier one.
    virtual void WakeAt(std::int64_t dueMs, std::function<void()> fn);
    virtual void Cancel();

private:
    QElapsedTimer m_since;
    QTimer m_timer;
    std::function<void()> m_fn;
};

// "0:45", "10:00", "1:02:03": how long something took, for the operator.
QString DurationText(std::int64_t ms);
