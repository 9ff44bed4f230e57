#pragma once

// Test helpers for the frame codec: a handler that records every dispatch,
// a frame builder and a byte feeder. Shared by the unit tests and the fuzz
// harnesses, so it uses no test framework.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "navformat.h"

namespace codec_test {

using Bytes = std::vector<std::uint8_t>;

struct Dispatch {
    std::string handler;  // the frame type whose handler ran: "SS", "AT", "SX", ...
    Bytes payload;        // only for the handlers that get one
    bool operator==(const Dispatch&) const = default;
};

class RecordingHandler : public IFrameHandler {
public:
    std::vector<Dispatch> calls;
    bool awaiting = false;
    int clears = 0;
    // Runs inside the handler after the call was recorded; payload and length
    // are what the dispatcher handed over (null and 0 for handlers without one).
    std::function<void(const std::string&, const std::uint8_t*, unsigned)> inside;

    int OnIdentifyReply(const std::uint8_t* p, unsigned n) override { return Record("SS", p, n); }
    int OnStartReply() override { return Record("AT", nullptr, 0); }
    int OnBlockReply(const std::uint8_t* p, unsigned n) override { return Record("SX", p, n); }
    void OnStopPolling() override { Record("SV", nullptr, 0); }
    int OnCompleteReply() override { return Record("SC", nullptr, 0); }
    int OnVxReply() override { return Record("VX", nullptr, 0); }
    bool IsAwaitingCompletion() const override { return awaiting; }
    void ClearAwaitCompletion() override {
        awaiting = false;
        ++clears;
    }

private:
    int Record(const char* type, const std::uint8_t* p, unsigned n) {
        calls.push_back({type, p ? Bytes(p, p + n) : Bytes{}});
        if (inside) inside(type, p, n);
        return 0;
    }
};

// A receiver frame with a correct checksum unless one is forced.
inline Bytes MakeFrame(const char type[2], std::uint8_t kind, const Bytes& payload,
                       int forcedChecksum = -1) {
    Bytes f{0x24,
            0x24,
            static_cast<std::uint8_t>(type[0]),
            static_cast<std::uint8_t>(type[1]),
            kind,
            static_cast<std::uint8_t>(payload.size())};
    f.insert(f.end(), payload.begin(), payload.end());
    std::uint8_t x = 0;
    for (std::size_t i = 2; i < f.size(); ++i) x ^= f[i];
    f.push_back(forcedChecksum < 0 ? x : static_cast<std::uint8_t>(forcedChecksum));
    f.push_back(0x0D);
    f.push_back(0x0A);
    return f;
}

inline Bytes Filled(std::size_t n, std::uint8_t first = 0) {
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(first + i);
    return b;
}

inline Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

// Feeds bytes as the main frame does and dispatches every completed frame.
// Returns how many frames completed.
inline int Feed(CQuillmereNavFormat& parser, IFrameHandler& handler, const Bytes& bytes) {
    int completed = 0;
    for (std::uint8_t b : bytes) {
        if (parser.ParseByte(b)) {
            ++completed;
            parser.DispatchFrame(handler);
        }
    }
    return completed;
}

}  // namespace codec_test
