#pragma once

#include <sys/inotify.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "link.h"

// An ILinkListener that counts data notices and records errors, safe to call
// from any thread; the test's thread waits on it as an owner would.
class ListenerRecorder : public ILinkListener {
public:
    struct Error {
        std::string text;
        bool lineLost;
        bool operator==(const Error&) const = default;
    };

    void OnLinkDataReady() override {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_notices;
        m_changed.notify_all();
    }
    void OnLinkError(const std::string& text, bool lineLost) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_errors.push_back({text, lineLost});
        m_changed.notify_all();
    }
    void OnLinkReady() override {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_ready;
        m_changed.notify_all();
    }
    // Waits (guard time-out only) until the link has reported n devices ready.
    bool WaitForReady(int n) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::seconds(20), [&] { return m_ready >= n; });
    }

    std::size_t Notices() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_notices;
    }
    std::vector<Error> Errors() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_errors;
    }
    // Waits (guard time-out only) until more than seen notices have come.
    bool WaitForNoticeAfter(std::size_t seen) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::seconds(20), [&] { return m_notices > seen; });
    }
    bool WaitForErrors(std::size_t count) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::seconds(20),
                                  [&] { return m_errors.size() >= count; });
    }

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::size_t m_notices = 0;
    int m_ready = 0;
    std::vector<Error> m_errors;
};

// Takes everything the link holds, as an owner does on a notice.
inline std::size_t DrainLink(ILink& link, std::vector<std::uint8_t>* out) {
    std::uint8_t chunk[1024];
    std::size_t total = 0;
    while (const std::size_t n = link.Read(chunk, sizeof chunk)) {
        out->insert(out->end(), chunk, chunk + n);
        total += n;
    }
    return total;
}

// Sees every open of the files it watches (inotify), so a test can tell that
// a device was never opened without waiting for anything.
class OpenWatch {
public:
    OpenWatch() : m_fd(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {}
    ~OpenWatch() {
        if (m_fd >= 0) ::close(m_fd);
    }
    OpenWatch(const OpenWatch&) = delete;
    OpenWatch& operator=(const OpenWatch&) = delete;

    // A watch id, or -1.
    int Watch(const std::string& path) {
        return m_fd < 0 ? -1 : ::inotify_add_watch(m_fd, path.c_str(), IN_OPEN);
    }
    // Ids of the watched files opened since the last call. The kernel queues
    // the event within the open itself.
    std::vector<int> Opened() {
        std::vector<int> ids;
        alignas(inotify_event) char buffer[4096];
        for (;;) {
            const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
            if (n <= 0) return ids;
            for (ssize_t at = 0; at < n;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                ids.push_back(event->wd);
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            }
        }
    }

private:
    int m_fd;
};
