#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "linkowner.h"

// An ILinkOwner that records what a link thread tells it, safe to call from
// any thread. Tests wait on it for notices to arrive.
class LinkRecorder : public ILinkOwner {
public:
    struct Notice {
        unsigned message;
        std::uintptr_t wParam;
        std::intptr_t lParam;
    };

    void PostLinkMessage(unsigned message, std::uintptr_t wParam, std::intptr_t lParam) override {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_notices.push_back({message, wParam, lParam});
        m_changed.notify_all();
        // A test may hold the link thread here to line up a race on purpose.
        m_changed.wait(lock, [this] { return !m_holdNotices; });
    }
    void ReportLinkError(const std::string& text) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_errors.push_back(text);
        m_changed.notify_all();
    }
    void SetActiveRxRing(RingBuffer* ring) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_activeRing = ring;
    }

    // While held, the next PostLinkMessage call records its notice and then
    // waits until Release().
    void Hold() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_holdNotices = true;
    }
    void Release() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_holdNotices = false;
        m_changed.notify_all();
    }

    std::size_t Count(unsigned message) const {
        std::lock_guard<std::mutex> lock(m_mutex);
        std::size_t n = 0;
        for (const Notice& notice : m_notices) n += notice.message == message ? 1 : 0;
        return n;
    }
    std::vector<Notice> Notices() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_notices;
    }
    std::vector<std::string> Errors() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_errors;
    }

    // Waits (guard time-out only) until message has been posted count times.
    bool WaitForCount(unsigned message, std::size_t count,
                      std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
        return WaitUntil(
            [&] {
                std::size_t n = 0;
                for (const Notice& notice : m_notices) n += notice.message == message ? 1 : 0;
                return n >= count;
            },
            timeout);
    }
    bool WaitForErrors(std::size_t count,
                       std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
        return WaitUntil([&] { return m_errors.size() >= count; }, timeout);
    }

private:
    // pred runs with m_mutex held.
    bool WaitUntil(const std::function<bool()>& pred, std::chrono::milliseconds timeout) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, timeout, pred);
    }

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<Notice> m_notices;
    std::vector<std::string> m_errors;
    RingBuffer* m_activeRing = nullptr;
    bool m_holdNotices = false;
};
