#include "simframe.h"

#include <cstdio>
#include <utility>

namespace qsim {

std::vector<std::uint8_t> WriteFrame(const char* type, std::uint8_t kind,
                                     const std::vector<std::uint8_t>& payload) {
    const std::size_t n = payload.size() > 255 ? 255 : payload.size();
    std::vector<std::uint8_t> out;
    out.reserve(n + 9);
    out.push_back('$');
    out.push_back('$');
    out.push_back(static_cast<std::uint8_t>(type[0]));
    out.push_back(static_cast<std::uint8_t>(type[1]));
    out.push_back(kind);
    out.push_back(static_cast<std::uint8_t>(n));
    out.insert(out.end(), payload.begin(), payload.begin() + static_cast<std::ptrdiff_t>(n));
    std::uint8_t x = 0;
    for (std::size_t i = 2; i < out.size(); ++i) x ^= out[i];
    out.push_back(x);
    out.push_back('\r');
    out.push_back('\n');
    return out;
}

FrameReader::FrameReader(FrameSink onFrame, TextSink onText, BadSink onBad)
    : m_onFrame(std::move(onFrame)), m_onText(std::move(onText)), m_onBad(std::move(onBad)) {}

void FrameReader::Feed(const std::uint8_t* bytes, std::size_t count) {
    m_buf.insert(m_buf.end(), bytes, bytes + count);
    Scan();
}

void FrameReader::Scan() {
    m_reset = false;
    std::size_t pos = 0;
    while (pos < m_buf.size()) {
        if (m_buf[pos] != '$') {
            m_onText(m_buf[pos++]);
            if (m_reset) return;
            continue;
        }
        if (pos + 1 >= m_buf.size()) break;  // a lone "$" at the end: wait for more
        if (m_buf[pos + 1] != '$') {
            m_onText(m_buf[pos++]);
            if (m_reset) return;
            continue;
        }
        if (m_buf.size() - pos < 6) break;
        const std::size_t n = m_buf[pos + 5];
        if (m_buf.size() - pos < n + 9) break;
        const std::uint8_t* f = m_buf.data() + pos;
        std::uint8_t x = 0;
        for (std::size_t i = 2; i < 6 + n; ++i) x ^= f[i];
        if (x != f[6 + n] || f[7 + n] != '\r' || f[8 + n] != '\n') {
            char what[96];
            std::snprintf(what, sizeof what, "bad frame %c%c kind %u length %zu (%s)",
                          static_cast<char>(f[2]), static_cast<char>(f[3]), f[4], n,
                          x != f[6 + n] ? "checksum" : "line end");
            m_onBad(what);
            m_onText(m_buf[pos++]);
            if (m_reset) return;
            continue;
        }
        SimFrame frame;
        frame.type[0] = static_cast<char>(f[2]);
        frame.type[1] = static_cast<char>(f[3]);
        frame.kind = f[4];
        frame.payload.assign(f + 6, f + 6 + n);
        pos += n + 9;
        m_buf.erase(m_buf.begin(), m_buf.begin() + static_cast<std::ptrdiff_t>(pos));
        pos = 0;
        m_onFrame(frame);
        if (m_reset) return;
    }
    m_buf.erase(m_buf.begin(), m_buf.begin() + static_cast<std::ptrdiff_t>(pos));
}

}  // namespace qsim
