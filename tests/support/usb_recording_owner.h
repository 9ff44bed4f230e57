#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "linkowner.h"
#include "ringbuffer.h"

// Stands in for the main frame: records the notices the read thread posts and
// drains the receive ring the link points it at, as the frame does.
class UsbRecordingOwner : public ILinkOwner {
public:
    void PostLinkMessage(unsigned message, std::uintptr_t wParam, std::intptr_t lParam) override {
        {
            std::lock_guard lock(m_mutex);
            m_posts.push_back({message, wParam, lParam});
        }
        m_cv.notify_all();
    }
    void ReportLinkError(const std::string& text) override {
        std::lock_guard lock(m_mutex);
        m_errors.push_back(text);
    }
    void ReportLinkLost(const std::string& text) override {
        {
            std::lock_guard lock(m_mutex);
            m_lost.push_back(text);
        }
        m_cv.notify_all();
    }
    void ReportDeviceReady() override {
        {
            std::lock_guard lock(m_mutex);
            ++m_nReady;
        }
        m_cv.notify_all();
    }
    void SetActiveRxRing(RingBuffer* ring) override { m_pRing = ring; }

    // Waits until the link has reported n devices ready / n devices lost.
    bool WaitReady(int n, std::chrono::milliseconds guard = std::chrono::seconds(20)) {
        std::unique_lock lock(m_mutex);
        return m_cv.wait_for(lock, guard, [&] { return m_nReady >= n; });
    }
    bool WaitLost(std::size_t n, std::chrono::milliseconds guard = std::chrono::seconds(20)) {
        std::unique_lock lock(m_mutex);
        return m_cv.wait_for(lock, guard, [&] { return m_lost.size() >= n; });
    }
    std::vector<std::string> Lost() {
        std::lock_guard lock(m_mutex);
        return m_lost;
    }
    int Ready() {
        std::lock_guard lock(m_mutex);
        return m_nReady;
    }

    struct Post {
        unsigned message;
        std::uintptr_t wParam;
        std::intptr_t lParam;
    };
    std::vector<Post> Posts() {
        std::lock_guard lock(m_mutex);
        return m_posts;
    }
    RingBuffer* Ring() const { return m_pRing; }

    // Drains the ring into out until it holds at least n bytes; the guard only
    // stops a hang.
    bool Collect(std::vector<std::uint8_t>* out, std::size_t n,
                 std::chrono::milliseconds guard = std::chrono::seconds(20)) {
        const auto until = std::chrono::steady_clock::now() + guard;
        std::uint8_t chunk[4096];
        for (;;) {
            std::size_t seen;
            {
                std::lock_guard lock(m_mutex);
                seen = m_posts.size();
            }
            if (m_pRing) {
                while (const std::uint32_t got = RingGet(m_pRing, chunk, sizeof chunk)) {
                    out->insert(out->end(), chunk, chunk + got);
                }
            }
            if (out->size() >= n) return true;
            std::unique_lock lock(m_mutex);
            if (!m_cv.wait_until(lock, until, [&] { return m_posts.size() != seen; })) {
                return false;
            }
        }
    }
    bool WaitPosts(std::size_t n, std::chrono::milliseconds guard = std::chrono::seconds(20)) {
        std::unique_lock lock(m_mutex);
        return m_cv.wait_for(lock, guard, [&] { return m_posts.size() >= n; });
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::vector<Post> m_posts;
    std::vector<std::string> m_errors;
    std::vector<std::string> m_lost;
    int m_nReady = 0;
    RingBuffer* m_pRing = nullptr;
};
