// Fuzzes the receiver frame parser and its dispatcher against a plain model
// of the frame format, joining and dispatch table.
//
// Input: a mode byte, a nesting byte, then the received stream.
//   mode bit 0: the completion flag is set at the start ("AT" sets it again)
//   mode bit 1: handlers feed the next (nesting byte) stream bytes themselves,
//               as the one-message pump of the transfer does
//   mode bits 2 and 3 both set: the next byte is a length L; the L bytes
//               after it are received over and over (about 40 KB), then the
//               rest of the input once, so joined messages can pass the
//               30000-byte limit. Rarer than the other modes: it is slow.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "codec_recorder.h"
#include "fuzz_check.h"
#include "navformat.h"

using codec_test::Bytes;
using codec_test::Dispatch;

namespace {

// Frame format, joining and dispatch written out directly, without the
// parser's fixed buffers.
class Model {
public:
    explicit Model(bool awaiting) : m_awaiting(awaiting) {}
    std::vector<Dispatch> calls;

    void Byte(std::uint8_t b) {
        switch (m_state) {
            case 0:
                if (b == '$') {
                    m_frame.assign(1, b);
                    m_state = 1;
                }
                return;
            case 1:
                if (b == '$') {
                    m_frame.push_back(b);
                    m_state = 2;
                } else {
                    m_state = 0;
                }
                return;
            case 2:
            case 3:
            case 4:
                m_frame.push_back(b);
                ++m_state;
                return;
            case 5:
                m_frame.push_back(b);
                m_state = b > CQuillmereNavFormat::kMaxPayload ? 0 : b == 0 ? 7 : 6;
                return;
            case 6:
                m_frame.push_back(b);
                if (m_frame.size() - 6 == m_frame[5]) m_state = 7;
                return;
            case 7:
                m_frame.push_back(b);
                m_state = 8;
                return;
            case 8:
                m_frame.push_back(b);
                m_state = b == '\r' ? 9 : 0;
                return;
            case 9:
                m_frame.push_back(b);
                m_state = 0;
                if (b == '\n' && Valid()) Join();
                return;
        }
    }

private:
    bool Valid() const {
        std::uint8_t x = 0;
        for (std::size_t i = 2; i + 3 < m_frame.size(); ++i) x ^= m_frame[i];
        return x == m_frame[m_frame.size() - 3] && (m_frame[4] & 0x08) == 0;
    }

    void Join() {
        const std::string type{static_cast<char>(m_frame[2]), static_cast<char>(m_frame[3])};
        const std::size_t n = m_frame[5];
        if (type != m_prevType) {
            m_joined.clear();
            m_dropping = false;
        }
        m_prevType = type;
        if (m_dropping || m_joined.size() + n > CQuillmereNavFormat::kJoinedSize) {
            m_joined.clear();
            m_dropping = n >= CQuillmereNavFormat::kContinues;
            return;
        }
        m_joined.insert(m_joined.end(), m_frame.begin() + 6, m_frame.begin() + 6 + n);
        if (n >= CQuillmereNavFormat::kContinues) return;
        if (type == "SS" || type == "SX") {
            calls.push_back({type, m_joined});
        } else if (type == "AT") {
            calls.push_back({type, {}});
            m_awaiting = true;
        } else if (type == "SV" || type == "VX") {
            calls.push_back({type, {}});
        } else if (type == "SC" && m_awaiting) {
            calls.push_back({type, {}});
            m_awaiting = false;
        }
        m_joined.clear();
    }

    int m_state = 0;
    Bytes m_frame;
    Bytes m_joined;
    std::string m_prevType{'\0', '\0'};
    bool m_dropping = false;
    bool m_awaiting;
};

struct Run {
    CQuillmereNavFormat parser;
    codec_test::RecordingHandler handler;
    Bytes stream;
    std::size_t pos = 0;
};

void CheckCompletedFrame(const CQuillmereNavFormat& p) {
    const unsigned n = p.PayloadLen();
    FUZZ_CHECK(n <= CQuillmereNavFormat::kMaxPayload);
    FUZZ_CHECK((p.Kind() & 0x08) == 0);
    std::uint8_t x = static_cast<std::uint8_t>(p.Type1() ^ p.Type2() ^ p.Kind() ^ n);
    for (unsigned i = 0; i < n; ++i) x ^= p.Payload()[i];
    FUZZ_CHECK(p.Payload()[n] == x);
    FUZZ_CHECK(p.Payload()[n + 1] == '\r');
    FUZZ_CHECK(p.Payload()[n + 2] == '\n');
}

void Pump(Run& r, std::size_t until) {
    while (r.pos < until) {
        if (r.parser.ParseByte(r.stream[r.pos++])) {
            CheckCompletedFrame(r.parser);
            r.parser.DispatchFrame(r.handler);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const std::uint8_t mode = data[0];
    const std::size_t nested = data[1];
    const bool reenter = mode & 2;
    const std::uint8_t* body = data + 2;
    const std::uint8_t* end = data + size;

    auto run = std::make_unique<Run>();  // the parser holds 30 KB: keep it off the stack
    if ((mode & 0x0C) == 0x0C && body < end) {
        const std::size_t want = *body++;
        const std::size_t unit = std::min<std::size_t>(want, static_cast<std::size_t>(end - body));
        const std::size_t repeats = unit ? std::min<std::size_t>(600, 40000 / unit) : 0;
        for (std::size_t i = 0; i < repeats; ++i)
            run->stream.insert(run->stream.end(), body, body + unit);
        body += unit;
    }
    run->stream.insert(run->stream.end(), body, end);
    run->handler.awaiting = mode & 1;

    int depth = 0;
    run->handler.inside = [&](const std::string& type, const std::uint8_t* p, unsigned n) {
        if (type == "AT") run->handler.awaiting = true;  // as the update start does
        // The completion handler does not pump messages, and the dispatcher
        // clears the flag after it returns, so nothing is fed from inside it.
        if (!reenter || depth >= 4 || type == "SC") return;
        const Bytes before = p ? Bytes(p, p + n) : Bytes{};
        ++depth;
        Pump(*run, std::min(run->pos + nested, run->stream.size()));
        --depth;
        // The handler's message must survive whatever the nested bytes did.
        FUZZ_CHECK(n == before.size());
        FUZZ_CHECK(n == 0 || std::memcmp(p, before.data(), n) == 0);
    };
    Pump(*run, run->stream.size());

    Model model(mode & 1);
    for (std::uint8_t b : run->stream) model.Byte(b);
    FUZZ_CHECK(run->handler.calls.size() == model.calls.size());
    for (std::size_t i = 0; i < model.calls.size(); ++i)
        FUZZ_CHECK(run->handler.calls[i] == model.calls[i]);
    return 0;
}
