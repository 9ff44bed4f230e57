#pragma once

#include <QEventLoop>
#include <QTimer>
#include <functional>

// Runs a real event loop until pred holds or the time is up; true when it
// held. QTest::qWaitFor's processEvents() was seen to leave notices posted
// from link threads undelivered, so tests wait the way the program runs.
inline bool WaitUntil(const std::function<bool()>& pred, int timeoutMs) {
    if (pred()) return true;
    QEventLoop loop;
    QTimer poll, guard;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (pred()) loop.quit();
    });
    QObject::connect(&guard, &QTimer::timeout, &loop, &QEventLoop::quit);
    poll.start(5);
    guard.setSingleShot(true);
    guard.start(timeoutMs);
    loop.exec();
    return pred();
}
