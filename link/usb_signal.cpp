#include "usb_signal.h"

void LinkEvent::Set() {
    {
        std::lock_guard lock(m_mutex);
        m_bSet = true;
    }
    m_cv.notify_all();
}

void LinkEvent::Reset() {
    std::lock_guard lock(m_mutex);
    m_bSet = false;
}

bool LinkEvent::WaitFor(std::chrono::milliseconds bound) {
    std::unique_lock lock(m_mutex);
    return m_cv.wait_for(lock, bound, [this] { return m_bSet; });
}

static bool Reached(std::uint32_t position, std::uint32_t target) {
    return static_cast<std::int32_t>(position - target) >= 0;
}

void WrittenSignal::Publish(std::uint32_t position) {
    {
        std::lock_guard lock(m_mutex);
        m_position = position;
    }
    m_cv.notify_all();
}

bool WrittenSignal::WaitReached(std::uint32_t target, std::chrono::milliseconds bound) {
    std::unique_lock lock(m_mutex);
    return m_cv.wait_for(lock, bound, [&] { return Reached(m_position, target); });
}

std::uint32_t WrittenSignal::Position() {
    std::lock_guard lock(m_mutex);
    return m_position;
}
