#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "link.h"
#include "usbupdate.h"

// Stands in for the engine: records what the link's thread tells it, and
// drains the link on its notices as the engine does. Safe to call from any
// thread.
class UsbRecordingListener : public ILinkListener {
public:
    void OnLinkDataReady() override {
        {
            std::lock_guard lock(m_mutex);
            ++m_nNotices;
        }
        m_cv.notify_all();
    }
    void OnLinkError(const std::string& text, bool lineLost) override {
        {
            std::lock_guard lock(m_mutex);
            (lineLost ? m_lost : m_errors).push_back(text);
        }
        m_cv.notify_all();
    }
    void OnLinkReady() override {
        {
            std::lock_guard lock(m_mutex);
            ++m_nReady;
        }
        m_cv.notify_all();
    }

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
    std::size_t Notices() {
        std::lock_guard lock(m_mutex);
        return m_nNotices;
    }

    // Drains the link on each notice into out until it holds at least n
    // bytes; the guard only stops a hang.
    bool Collect(CUsbUpdate& usb, std::vector<std::uint8_t>* out, std::size_t n,
                 std::chrono::milliseconds guard = std::chrono::seconds(20)) {
        const auto until = std::chrono::steady_clock::now() + guard;
        std::uint8_t chunk[4096];
        for (;;) {
            const std::size_t seen = Notices();
            while (const std::size_t got = usb.Read(chunk, sizeof chunk))
                out->insert(out->end(), chunk, chunk + got);
            if (out->size() >= n) return true;
            std::unique_lock lock(m_mutex);
            if (!m_cv.wait_until(lock, until, [&] { return m_nNotices != seen; })) return false;
        }
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::size_t m_nNotices = 0;
    std::vector<std::string> m_errors;
    std::vector<std::string> m_lost;
    int m_nReady = 0;
};
