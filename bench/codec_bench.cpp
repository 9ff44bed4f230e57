// Frame codec figures: parser throughput over a long mixed stream, and the
// cost of encoding one 128-byte block into its frame.
// Targets: at least 50 MB/s parsing, at most 2 us per block.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <random>
#include <vector>

#include "frameencoder.h"
#include "navformat.h"

namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;

class CountingHandler : public IFrameHandler {
public:
    std::uint64_t messages = 0;
    std::uint64_t bytes = 0;
    int OnIdentifyReply(const std::uint8_t*, unsigned n) override { return Count(n); }
    int OnStartReply() override { return Count(0); }
    int OnBlockReply(const std::uint8_t* p, unsigned n) override { return Count(n ? p[0] : 0); }
    void OnStopPolling() override { Count(0); }
    int OnCompleteReply() override { return Count(0); }
    int OnVxReply() override { return Count(0); }
    bool IsAwaitingCompletion() const override { return true; }
    void ClearAwaitCompletion() override {}

private:
    int Count(unsigned n) {
        ++messages;
        bytes += n;
        return 0;
    }
};

void AppendFrame(Bytes& out, const char* type, std::uint8_t kind, const Bytes& payload,
                 bool corrupt) {
    const std::size_t start = out.size();
    out.insert(out.end(),
               {'$', '$', static_cast<std::uint8_t>(type[0]), static_cast<std::uint8_t>(type[1]),
                kind, static_cast<std::uint8_t>(payload.size())});
    out.insert(out.end(), payload.begin(), payload.end());
    std::uint8_t x = 0;
    for (std::size_t i = start + 2; i < out.size(); ++i) x ^= out[i];
    out.insert(out.end(), {static_cast<std::uint8_t>(corrupt ? x ^ 0x5A : x), '\r', '\n'});
}

// Valid replies of every length, joined messages, bad checksums, ignored
// kinds, unknown types, oversized lengths, cut frames and plain text.
Bytes MixedStream(std::size_t size) {
    std::mt19937 rng(7);
    Bytes s;
    s.reserve(size + 256);
    Bytes payload;
    while (s.size() < size) {
        const unsigned pick = rng() % 10;
        payload.resize(rng() % 55);
        for (auto& b : payload) b = static_cast<std::uint8_t>(rng());
        switch (pick) {
            case 0:
            case 1:
                AppendFrame(s, "SX", 0x11, {1}, false);
                break;
            case 2:
            case 3:
                AppendFrame(s, "SS", 0x11, payload, false);
                break;
            case 4: {  // a message over two frames
                Bytes first(55, 0x33);
                AppendFrame(s, "SS", 0x11, first, false);
                AppendFrame(s, "SS", 0x11, payload, false);
                break;
            }
            case 5:
                AppendFrame(s, "SX", 0x11, payload, true);
                break;
            case 6:
                AppendFrame(s, "SX", 0x18, payload, false);
                break;
            case 7:
                AppendFrame(s, "QZ", 0x11, payload, false);
                break;
            case 8: {  // announces too much, or is cut short
                Bytes cut;
                AppendFrame(cut, "SX", 0x11, payload, false);
                if (rng() % 2) cut[5] = 200;
                cut.resize(cut.size() / 2);
                s.insert(s.end(), cut.begin(), cut.end());
                break;
            }
            default: {
                static const char kText[] = "GPSCAR,Q4B1C20,123456,1.2.3\r\n";
                s.insert(s.end(), kText, kText + sizeof kText - 1);
                break;
            }
        }
    }
    s.resize(size);
    return s;
}

double ParseSeconds(const Bytes& stream, CountingHandler& handler) {
    auto parser = std::make_unique<CQuillmereNavFormat>();
    const auto t0 = Clock::now();
    for (std::uint8_t b : stream)
        if (parser->ParseByte(b)) parser->DispatchFrame(handler);
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

}  // namespace

int main() {
    constexpr std::size_t kStreamSize = 64u << 20;
    const Bytes stream = MixedStream(kStreamSize);
    std::vector<double> rates;
    CountingHandler handler;
    for (int run = 0; run < 5; ++run) {
        CountingHandler h;
        rates.push_back(kStreamSize / ParseSeconds(stream, h) / 1e6);
        handler = h;
    }
    std::sort(rates.begin(), rates.end());
    std::printf("parser: %zu MiB mixed stream, %llu messages dispatched\n", kStreamSize >> 20,
                static_cast<unsigned long long>(handler.messages));
    std::printf("parser throughput: median %.1f MB/s, best %.1f MB/s (target >= 50)\n", rates[2],
                rates[4]);

    constexpr int kBlocks = 20000;
    std::mt19937 rng(11);
    std::vector<std::uint8_t> image(128 * 256);
    for (auto& b : image) b = static_cast<std::uint8_t>(rng());
    std::vector<double> times;
    unsigned sink = 0;
    for (int i = 0; i < kBlocks; ++i) {
        const unsigned offset = static_cast<unsigned>(i) * 128u;
        const std::uint8_t* block = image.data() + (offset % image.size());
        const auto t0 = Clock::now();
        const EncodedFrame f = EncodeBlockFrame(21, offset >> 8, offset, block);
        const auto t1 = Clock::now();
        sink += f.bytes[f.size - 3] + static_cast<unsigned>(f.size);
        times.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count());
    }
    std::sort(times.begin(), times.end());
    auto percentile = [&](double p) {
        return times[static_cast<std::size_t>(p * static_cast<double>(times.size() - 1))];
    };
    std::printf(
        "block encode (EncodeBlockFrame, 142-byte frame): median %.3f us, p99 %.3f us over %d "
        "blocks, clock reads included (target <= 2) [%u]\n",
        percentile(0.5), percentile(0.99), kBlocks, sink % 10);
    return 0;
}
