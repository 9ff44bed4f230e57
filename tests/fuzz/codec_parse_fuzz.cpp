// Fuzzes the receiver frame parser and its dispatcher against a plain model
// of the frame format, joining and dispatch table.
//
// Input: a mode byte, a nesting byte, then the received stream.
//   mode bit 0: the completion flag is set at the start ("AT" sets it again)
//   mode bit 1: handlers feed the next (nesting byte) stream bytes themselves,
//               as the one-message pump of the transfer does
//   mode bit 2: frames found together are all taken at once with NextFrame;
//               otherwise each waits for the next byte, as the main frame's
//               loop takes them, and the stream's end takes the rest
//   mode bit 3: the stream continues a message 25 bytes short of the joining
//               limit, of type SS, SX, AT or ZZ by bits 4 and 5, so joined
//               messages reach the limit without 30 KB of input
#include <algorithm>
#include <array>
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

struct Frame {
    std::string type;
    std::uint8_t kind;
    Bytes payload;
    std::size_t ready;  // how many stream bytes were in when it was reported
    bool operator==(const Frame&) const = default;
};

enum class Start { kFrame, kNoFrame, kOpen };

// Judges the "$$" at i from its bytes in the order they arrive, setting
// *decided to the index of the byte that settles it: kOpen when the stream
// ends first.
Start Judge(const Bytes& s, std::size_t i, std::size_t* decided) {
    const auto open = [&](std::size_t offset) {
        *decided = i + offset;
        return *decided >= s.size();
    };
    if (open(2)) return Start::kOpen;
    if (s[i + 2] == '$') return Start::kNoFrame;  // no type starts with "$"
    if (open(5)) return Start::kOpen;
    const std::size_t n = s[i + 5];
    if (n > CQuillmereNavFormat::kMaxPayload) return Start::kNoFrame;
    if (open(n + 7)) return Start::kOpen;
    if (s[i + n + 7] != '\r') return Start::kNoFrame;
    if (open(n + 8)) return Start::kOpen;
    std::uint8_t x = 0;
    for (std::size_t k = 2; k < n + 6; ++k) x ^= s[i + k];
    return s[i + n + 6] == x && s[i + n + 8] == '\n' ? Start::kFrame : Start::kNoFrame;
}

// Every "$$" may start a frame. A frame is taken whole and the search goes on
// behind it; a start that is no frame gives way to the very next byte. An open
// start holds everything after it. A frame is known once it and every start
// before it are settled: it is due with that byte.
std::vector<Frame> ModelFrames(const Bytes& s) {
    std::vector<Frame> frames;
    std::size_t known = 0;
    std::size_t i = 0;
    while (i + 1 < s.size()) {
        if (s[i] != '$' || s[i + 1] != '$') {
            ++i;
            continue;
        }
        std::size_t decided = 0;
        const Start start = Judge(s, i, &decided);
        if (start == Start::kOpen) break;
        known = std::max(known, decided);
        if (start == Start::kNoFrame) {
            ++i;
            continue;
        }
        const std::size_t n = s[i + 5];
        if ((s[i + 4] & 0x08) == 0)  // whole, but not for the host
            frames.push_back({{static_cast<char>(s[i + 2]), static_cast<char>(s[i + 3])},
                              s[i + 4],
                              Bytes(s.begin() + static_cast<std::ptrdiff_t>(i + 6),
                                    s.begin() + static_cast<std::ptrdiff_t>(i + 6 + n)),
                              known + 1});
        i += n + 9;
    }
    return frames;
}

// Joining and the dispatch table, written out directly without the parser's
// fixed buffers.
class Joiner {
public:
    std::vector<Dispatch> calls;
    bool awaiting = false;

    void Take(const Frame& f) {
        const std::size_t n = f.payload.size();
        if (f.type != m_prevType) {
            m_joined.clear();
            m_dropping = false;
        }
        m_prevType = f.type;
        if (m_dropping || m_joined.size() + n > CQuillmereNavFormat::kJoinedSize) {
            m_joined.clear();
            m_dropping = n >= CQuillmereNavFormat::kContinues;
            return;
        }
        m_joined.insert(m_joined.end(), f.payload.begin(), f.payload.end());
        if (n >= CQuillmereNavFormat::kContinues) return;
        if (f.type == "SS" || f.type == "SX") {
            calls.push_back({f.type, m_joined});
        } else if (f.type == "AT") {
            calls.push_back({f.type, {}});
            awaiting = true;
        } else if (f.type == "SV" || f.type == "VX") {
            calls.push_back({f.type, {}});
        } else if (f.type == "SC" && awaiting) {
            calls.push_back({f.type, {}});
            awaiting = false;
        }
        m_joined.clear();
    }

private:
    Bytes m_joined;
    std::string m_prevType{'\0', '\0'};
    bool m_dropping = false;
};

// A parser and model that have taken 545 frames of 55 bytes: one more frame of
// 25 bytes makes the longest message that is still dispatched.
struct NearlyFull {
    CQuillmereNavFormat parser;
    Joiner joiner;
};
constexpr int kNearlyFullFrames = 545;
static_assert(kNearlyFullFrames * 55 + 25 == CQuillmereNavFormat::kJoinedSize);

// Made once per type: taking the frames costs as much as thousands of inputs.
const NearlyFull& NearlyFullOf(unsigned which) {
    static const char* const kTypes[] = {"SS", "SX", "AT", "ZZ"};
    static std::array<std::unique_ptr<NearlyFull>, 4> made;
    auto& slot = made[which];
    if (!slot) {
        slot = std::make_unique<NearlyFull>();
        codec_test::RecordingHandler handler;
        for (int i = 0; i < kNearlyFullFrames; ++i) {
            const Frame f{kTypes[which], 0x11, codec_test::Filled(55, static_cast<std::uint8_t>(i)),
                          0};
            codec_test::Feed(slot->parser, handler,
                             codec_test::MakeFrame(kTypes[which], 0x11, f.payload));
            slot->joiner.Take(f);
        }
        FUZZ_CHECK(handler.calls.empty() && slot->joiner.calls.empty());
    }
    return *slot;
}

struct Run {
    Run() = default;
    explicit Run(const CQuillmereNavFormat& from) : parser(from) {}
    CQuillmereNavFormat parser;
    codec_test::RecordingHandler handler;
    Bytes stream;
    std::size_t pos = 0;
    bool drain = false;
    std::vector<Frame> frames;  // as the parser reported them
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

void TakeFrame(Run& r) {
    const CQuillmereNavFormat& p = r.parser;
    CheckCompletedFrame(p);
    r.frames.push_back({{p.Type1(), p.Type2()},
                        p.Kind(),
                        Bytes(p.Payload(), p.Payload() + p.PayloadLen()),
                        r.pos});
    r.parser.DispatchFrame(r.handler);
}

void Pump(Run& r, std::size_t until) {
    while (r.pos < until) {
        if (!r.parser.ParseByte(r.stream[r.pos++])) continue;
        TakeFrame(r);
        while (r.drain && r.parser.NextFrame()) TakeFrame(r);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const std::uint8_t mode = data[0];
    const std::size_t nested = data[1];
    const bool reenter = mode & 2;
    const NearlyFull* nearlyFull = (mode & 8) ? &NearlyFullOf((mode >> 4) & 3u) : nullptr;

    // The parser holds 30 KB: keep it off the stack.
    auto run = nearlyFull ? std::make_unique<Run>(nearlyFull->parser) : std::make_unique<Run>();
    run->stream.assign(data + 2, data + size);
    run->drain = mode & 4;
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
    while (run->parser.NextFrame()) TakeFrame(*run);

    std::vector<Frame> frames = ModelFrames(run->stream);
    // A loop that only feeds bytes gets one frame per byte; the end takes the
    // rest. A handler that feeds bytes itself lets them in before the frames
    // that wait: when they come out is checked only without one.
    for (std::size_t j = 0; j < frames.size(); ++j) {
        if (!run->drain && j > 0)
            frames[j].ready = std::max(frames[j].ready, frames[j - 1].ready + 1);
        frames[j].ready = std::min(frames[j].ready, run->stream.size());
    }
    if (reenter)
        for (auto* list : {&run->frames, &frames})
            for (Frame& f : *list) f.ready = 0;
    FUZZ_CHECK(run->frames == frames);
    Joiner joiner = nearlyFull ? nearlyFull->joiner : Joiner{};
    joiner.awaiting = mode & 1;
    for (const Frame& f : frames) joiner.Take(f);
    FUZZ_CHECK(run->handler.calls == joiner.calls);
    return 0;
}
