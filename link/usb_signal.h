#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

// Manual-reset event between the UI thread and the USB read thread: stays set
// until reset, so a Set that comes before the Wait is not lost.
class LinkEvent {
public:
    void Set();
    void Reset();
    // True when the event was (or became) set within the bound.
    bool WaitFor(std::chrono::milliseconds bound);

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_bSet = false;
};

// The "written" signal. It carries the send ring position the read thread has
// written through instead of a flag: a waiter compares it with the position its
// own bytes end at, so neither a batch of older bytes nor a clear can release or
// strand it.
class WrittenSignal {
public:
    void Publish(std::uint32_t position);
    // True once the published position has reached target (wrap-safe).
    bool WaitReached(std::uint32_t target, std::chrono::milliseconds bound);
    std::uint32_t Position();

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::uint32_t m_position = 0;
};
