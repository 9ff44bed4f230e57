// The simulated receiver's life: start and stop, the serving thread and its
// timers, the line and what goes out on it, the figures it keeps.
#include "receiversim.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace qsim {

ReceiverSim::ReceiverSim(SimOptions options) : m_options(std::move(options)) {}

ReceiverSim::~ReceiverSim() {
    Stop();
}

bool ReceiverSim::Start(std::string* error) {
    if (m_thread.joinable() || m_fd >= 0) {
        if (error) *error = "already started";
        return false;
    }
    if (!OpenSimPty(&m_pty, error)) return false;
    m_fd = m_pty.master;
    m_stream = false;
    if (!m_options.linkPath.empty()) {
        struct stat st {};
        if (lstat(m_options.linkPath.c_str(), &st) == 0) {
            if (!S_ISLNK(st.st_mode)) {
                if (error) *error = m_options.linkPath + " exists and is not a symbolic link";
                Stop();
                return false;
            }
            unlink(m_options.linkPath.c_str());
        }
        if (symlink(m_pty.path.c_str(), m_options.linkPath.c_str()) != 0) {
            if (error) *error = "symlink " + m_options.linkPath + ": " + std::strerror(errno);
            Stop();
            return false;
        }
    }
    return StartServing(error);
}

bool ReceiverSim::StartOnStream(int fd, std::string* error) {
    if (m_thread.joinable() || m_fd >= 0) {
        if (error) *error = "already started";
        if (fd >= 0) close(fd);
        return false;
    }
    if (fd < 0) {
        if (error) *error = "no stream";
        return false;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    fcntl(fd, F_SETFD, FD_CLOEXEC);
    m_fd = fd;
    m_stream = true;
    return StartServing(error);
}

void ReceiverSim::SetObserver(std::function<void(SimEvent)> observer) {
    m_observer = std::move(observer);
}

bool ReceiverSim::StartServing(std::string* error) {
    m_stopFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (m_stopFd < 0) {
        if (error) *error = std::string("eventfd: ") + std::strerror(errno);
        Stop();
        return false;
    }
    m_reader = std::make_unique<FrameReader>([this](const SimFrame& f) { OnFrame(f); },
                                             [this](std::uint8_t b) { OnText(b); },
                                             [this](const std::string& what) {
                                                 std::lock_guard lock(m_mutex);
                                                 ++m_stats.badFrames;
                                                 if (m_stats.errors.size() < kMaxErrors)
                                                     m_stats.errors.push_back(what);
                                                 Changed();
                                             });
    m_mode = SimMode::Firmware;
    m_listenBaud = 115200;
    m_vxLeft = m_options.forceVx;
    {
        std::lock_guard lock(m_mutex);
        m_stats.mode = m_mode;
        m_stats.listenBaud = m_listenBaud;
    }
    if (m_options.startInLoader) StartLoader();
    m_thread = std::thread([this] { Run(); });
    return true;
}

void ReceiverSim::Stop() {
    if (m_thread.joinable()) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = write(m_stopFd, &one, sizeof one);
        m_thread.join();
    }
    CloseLine();
    if (m_stopFd >= 0) close(m_stopFd);
    m_stopFd = -1;
    if (!m_options.linkPath.empty() && !m_stream) {
        char target[256] = {};
        const ssize_t n = readlink(m_options.linkPath.c_str(), target, sizeof target - 1);
        if (n > 0 && m_pty.path == std::string(target, static_cast<std::size_t>(n))) {
            unlink(m_options.linkPath.c_str());
        }
    }
    std::lock_guard lock(m_mutex);
    if (m_stats.mode != SimMode::HungUp && m_stats.mode != SimMode::NotStarted) {
        m_stats.mode = SimMode::Stopped;
    }
    Changed();
}

void ReceiverSim::CloseLine() {
    if (m_stream) {
        if (m_fd >= 0) close(m_fd);
    } else {
        CloseSimPty(&m_pty);
    }
    m_fd = -1;
}

ssize_t ReceiverSim::WriteLine(const std::uint8_t* bytes, std::size_t count) {
    // A stream whose reader has gone must not raise SIGPIPE in the test.
    return m_stream ? send(m_fd, bytes, count, MSG_NOSIGNAL) : write(m_fd, bytes, count);
}

void ReceiverSim::Notify(SimEvent event) {
    if (m_observer) m_observer(event);
}

SimStats ReceiverSim::Stats() const {
    std::lock_guard lock(m_mutex);
    return m_stats;
}

bool ReceiverSim::WaitFor(const std::function<bool(const SimStats&)>& pred,
                          std::chrono::milliseconds timeout) const {
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] { return pred(m_stats); });
}

void ReceiverSim::Changed() {
    m_changed.notify_all();
}

void ReceiverSim::Error(std::string what) {
    std::lock_guard lock(m_mutex);
    if (m_stats.errors.size() < kMaxErrors) m_stats.errors.push_back(std::move(what));
    Changed();
}

void ReceiverSim::At(Clock::time_point when, std::function<void()> what) {
    m_timers.emplace(when, std::move(what));
}

void ReceiverSim::Run() {
    // Named, so that a benchmark sharing the process can leave it out.
    pthread_setname_np(pthread_self(), "receiver-sim");
    std::uint8_t buf[4096];
    while (m_mode != SimMode::HungUp) {
        int timeout = -1;
        if (!m_timers.empty()) {
            const auto left = m_timers.begin()->first - Clock::now();
            const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
            timeout = ms < 0 ? 0 : static_cast<int>(std::min<long long>(ms, 60000));
        }
        pollfd fds[2] = {{m_stopFd, POLLIN, 0},
                         {m_fd, static_cast<short>(POLLIN | (m_out.empty() ? 0 : POLLOUT)), 0}};
        const int ready = poll(fds, 2, timeout);
        if (ready < 0 && errno != EINTR) break;
        if (ready > 0 && fds[0].revents) break;
        if (ready > 0 && (fds[1].revents & POLLIN)) {
            const ssize_t n = read(m_fd, buf, sizeof buf);
            if (n > 0) {
                OnBytes(buf, static_cast<std::size_t>(n));
            } else if (n == 0 && m_stream) {
                break;  // the transport let go of its end: nobody is left to serve
            } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
                // The master reads EIO only when no slave is open, which our own
                // slave descriptor prevents; back off rather than spin if it happens.
                poll(fds, 1, 10);
            }
        } else if (ready > 0 && (fds[1].revents & (POLLHUP | POLLERR))) {
            poll(fds, 1, 10);
        }
        if (ready > 0 && (fds[1].revents & POLLOUT)) Flush();
        const auto now = Clock::now();
        while (!m_timers.empty() && m_timers.begin()->first <= now && m_mode != SimMode::HungUp) {
            auto what = std::move(m_timers.begin()->second);
            m_timers.erase(m_timers.begin());
            what();
        }
    }
    if (m_mode == SimMode::HungUp) m_finished = true;
}

void ReceiverSim::Send(const std::vector<std::uint8_t>& bytes) {
    // The adapter's hold comes after the wire and does not occupy it.
    const auto hold = std::chrono::milliseconds(
        m_mode == SimMode::Loader ? std::max(m_options.replyDelayMs, 0) : 0);
    if (!m_options.pace) {
        if (hold.count() == 0)
            SendNow(bytes);
        else
            At(Clock::now() + hold, [this, bytes] { SendNow(bytes); });
        return;
    }
    // Replies leave once the line has carried what came in and what went out before.
    const auto wire = std::chrono::microseconds(bytes.size() * 10'000'000 / m_listenBaud);
    m_wireFree = std::max(m_wireFree, Clock::now()) + wire;
    At(m_wireFree + hold, [this, bytes] { SendNow(bytes); });
}

void ReceiverSim::SendNow(const std::vector<std::uint8_t>& bytes) {
    if (m_fd < 0) return;
    m_out.insert(m_out.end(), bytes.begin(), bytes.end());
    Flush();
}

void ReceiverSim::Flush() {
    while (!m_out.empty()) {
        const ssize_t n = WriteLine(m_out.data(), m_out.size());
        if (n > 0) {
            m_out.erase(m_out.begin(), m_out.begin() + n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN) m_out.clear();  // nobody can take it
        return;                                       // the poll loop waits for room
    }
}

}  // namespace qsim
