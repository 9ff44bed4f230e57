#pragma once

// A deliberately tiny updater stand-in for the simulator's own tests: opens
// the device end like the program does, writes texts and frames, reads the
// answers. Its frame code and checksum are written here again, apart from the
// simulator's, so a test does not check the simulator against itself.

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace simtest {

using Bytes = std::vector<std::uint8_t>;

struct Frame {
    std::string type;
    std::uint8_t kind = 0;
    Bytes payload;
};

inline Bytes MakeFrame(std::string_view type, std::uint8_t kind, const Bytes& payload) {
    Bytes f;
    f.reserve(payload.size() + 9);
    f.push_back('$');
    f.push_back('$');
    f.push_back(static_cast<std::uint8_t>(type[0]));
    f.push_back(static_cast<std::uint8_t>(type[1]));
    f.push_back(kind);
    f.push_back(static_cast<std::uint8_t>(payload.size()));
    for (std::uint8_t b : payload) f.push_back(b);
    std::uint8_t x = 0;
    for (std::size_t i = 2; i < f.size(); ++i) x = static_cast<std::uint8_t>(x ^ f[i]);
    f.push_back(x);
    f.push_back('\r');
    f.push_back('\n');
    return f;
}

// Bit by bit, no table: the register form the loader's checksum is defined by.
inline std::uint32_t ReferenceCrc(const std::uint8_t* p, std::size_t n, std::uint32_t start) {
    std::uint32_t c = start;
    for (std::size_t i = 0; i < n; ++i) {
        c ^= p[i];
        for (int k = 0; k < 8; ++k) c = (c & 1u) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
    }
    return ((c & 0xFFu) << 24) | ((c & 0xFF00u) << 8) | ((c >> 8) & 0xFF00u) | (c >> 24);
}

// The block frame payload: B0 B1 B2 B3 B4 and 128 data bytes.
inline Bytes BlockPayload(unsigned offset, const std::uint8_t* data, unsigned b2) {
    Bytes p = {0, 0, static_cast<std::uint8_t>(b2), static_cast<std::uint8_t>((offset >> 8) & 0xFF),
               static_cast<std::uint8_t>(offset & 0xFF)};
    p.insert(p.end(), data, data + 128);
    return p;
}

inline speed_t SpeedOf(int baud) {
    return baud == 9600 ? B9600 : B115200;
}

class Client {
public:
    explicit Client(const std::string& path) {
        m_fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (m_fd < 0) throw std::runtime_error("cannot open " + path);
        SetBaud(115200);
    }
    ~Client() {
        if (m_fd >= 0) close(m_fd);
    }
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    void SetBaud(int baud) {
        termios tio{};
        tcgetattr(m_fd, &tio);
        cfmakeraw(&tio);
        cfsetspeed(&tio, SpeedOf(baud));
        tcsetattr(m_fd, TCSANOW, &tio);
    }

    void Write(std::string_view text) { Write(Bytes(text.begin(), text.end())); }
    void Write(const Bytes& bytes) {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = write(m_fd, bytes.data() + done, bytes.size() - done);
            if (n > 0) {
                done += static_cast<std::size_t>(n);
            } else {
                pollfd p{m_fd, POLLOUT, 0};
                if (poll(&p, 1, 1000) <= 0 || (p.revents & (POLLERR | POLLHUP))) {
                    throw std::runtime_error("write to the device failed");
                }
            }
        }
    }
    void SendFrame(std::string_view type, std::uint8_t kind, const Bytes& payload) {
        Write(MakeFrame(type, kind, payload));
    }

    // Reads until the buffer holds `count` bytes; returns them. Throws after the guard time.
    Bytes ReadBytes(std::size_t count, int guardMs = 10000) {
        while (m_buf.size() < count) Fill(guardMs);
        Bytes out(m_buf.begin(), m_buf.begin() + static_cast<std::ptrdiff_t>(count));
        m_buf.erase(m_buf.begin(), m_buf.begin() + static_cast<std::ptrdiff_t>(count));
        return out;
    }

    // Reads until the text seen so far contains `until`; returns everything up
    // to and including it.
    std::string ReadText(std::string_view until, int guardMs = 10000) {
        for (;;) {
            const std::string seen(m_buf.begin(), m_buf.end());
            const auto at = seen.find(until);
            if (at != std::string::npos) {
                const std::size_t end = at + until.size();
                m_buf.erase(m_buf.begin(), m_buf.begin() + static_cast<std::ptrdiff_t>(end));
                return seen.substr(0, end);
            }
            Fill(guardMs);
        }
    }

    // The next well-formed frame; bytes before it are dropped and kept in Skipped().
    Frame ReadFrame(int guardMs = 10000) {
        for (;;) {
            if (auto f = TakeFrame()) return *f;
            Fill(guardMs);
        }
    }
    const Bytes& Skipped() const { return m_skipped; }

    // True once the far end has closed the line.
    bool WaitHangUp(int guardMs = 10000) {
        pollfd p{m_fd, POLLIN, 0};
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(guardMs);
        while (std::chrono::steady_clock::now() < end) {
            if (poll(&p, 1, 100) > 0) {
                if (p.revents & POLLHUP) return true;
                std::uint8_t b[256];
                const ssize_t n = read(m_fd, b, sizeof b);
                if (n == 0 || (n < 0 && errno == EIO)) return true;
            }
        }
        return false;
    }

    int fd() const { return m_fd; }

private:
    void Fill(int guardMs) {
        pollfd p{m_fd, POLLIN, 0};
        const int r = poll(&p, 1, guardMs);
        if (r <= 0) throw std::runtime_error("nothing arrived within the guard time");
        std::uint8_t b[4096];
        const ssize_t n = read(m_fd, b, sizeof b);
        if (n <= 0) throw std::runtime_error("the line was closed");
        m_buf.insert(m_buf.end(), b, b + n);
    }

    std::optional<Frame> TakeFrame() {
        while (m_buf.size() >= 2) {
            if (m_buf[0] != '$' || m_buf[1] != '$') {
                m_skipped.push_back(m_buf.front());
                m_buf.erase(m_buf.begin());
                continue;
            }
            if (m_buf.size() < 6 || m_buf.size() < 9u + m_buf[5]) return std::nullopt;
            const std::size_t n = m_buf[5];
            std::uint8_t x = 0;
            for (std::size_t i = 2; i < 6 + n; ++i) x = static_cast<std::uint8_t>(x ^ m_buf[i]);
            if (x != m_buf[6 + n] || m_buf[7 + n] != '\r' || m_buf[8 + n] != '\n') {
                m_skipped.push_back(m_buf.front());
                m_buf.erase(m_buf.begin());
                continue;
            }
            Frame f;
            f.type = std::string{static_cast<char>(m_buf[2]), static_cast<char>(m_buf[3])};
            f.kind = m_buf[4];
            f.payload.assign(m_buf.begin() + 6, m_buf.begin() + 6 + static_cast<std::ptrdiff_t>(n));
            m_buf.erase(m_buf.begin(), m_buf.begin() + 9 + static_cast<std::ptrdiff_t>(n));
            return f;
        }
        return std::nullopt;
    }

    int m_fd = -1;
    Bytes m_buf;
    Bytes m_skipped;
};

}  // namespace simtest
