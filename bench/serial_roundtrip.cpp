// Round trip of one 142-byte block frame out and a 10-byte acknowledgement
// back, through CSerialLink and a pseudo-terminal whose far end a peer thread
// answers. Prints median and p99 wall time and CPU time per round trip.
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

#include "seriallink.h"
#include "support/pty.h"

namespace {

constexpr unsigned kPort = 200;
constexpr int kWarmUp = 200;
constexpr int kRounds = 5000;
constexpr std::size_t kFrameLength = 142;  // "$$", type, kind, length, 133 payload, xor, CR LF
constexpr std::size_t kAckLength = 10;     // "$$", type, kind, length, 1 payload, xor, CR LF

class BenchListener : public ILinkListener {
public:
    void OnLinkDataReady() override {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            ++m_notices;
        }
        m_arrived.notify_one();
    }
    void OnLinkError(const std::string& text, bool) override { std::fputs(text.c_str(), stderr); }

    // Waits for the notice after the handled ones, as an owner's queue would.
    void WaitForNotice(std::uint64_t handled) {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_arrived.wait(lock, [&] { return m_notices > handled; });
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_arrived;
    std::uint64_t m_notices = 0;
};

double CpuSeconds() {
    rusage usage = {};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

std::vector<std::uint8_t> Frame(std::size_t length, char type2) {
    std::vector<std::uint8_t> frame(length, 0x5A);
    frame[0] = frame[1] = '$';
    frame[2] = 'S';
    frame[3] = static_cast<std::uint8_t>(type2);
    frame[4] = 21;
    frame[5] = static_cast<std::uint8_t>(length - 9);
    frame[length - 2] = '\r';
    frame[length - 1] = '\n';
    return frame;
}

}  // namespace

int main() {
    PtyPair pty;
    if (!pty.IsOpen()) return 1;

    BenchListener listener;
    CSerialLink link({kPort, pty.SlavePath(), true});
    if (!link.Open(&listener)) {
        std::fprintf(stderr, "cannot open %s\n", pty.SlavePath().c_str());
        return 1;
    }

    const auto frame = Frame(kFrameLength, 'X');
    const auto ack = Frame(kAckLength, 'X');
    std::thread peer([&] {
        for (int i = 0; i < kWarmUp + kRounds; ++i) {
            if (pty.Read(kFrameLength).size() != kFrameLength || !pty.Write(ack)) {
                std::fprintf(stderr, "peer: round %d lost\n", i);
                std::fflush(stderr);
                std::exit(1);
            }
        }
    });

    std::vector<double> micros;
    micros.reserve(kRounds);
    std::uint8_t reply[kAckLength];
    std::uint64_t handled = 0;
    double cpuStart = 0;
    for (int i = 0; i < kWarmUp + kRounds; ++i) {
        if (i == kWarmUp) cpuStart = CpuSeconds();
        const auto start = std::chrono::steady_clock::now();
        link.Write(frame.data(), frame.size());
        // Each notice is drained whole; the ack may take more than one.
        for (std::size_t got = 0; got < kAckLength;) {
            listener.WaitForNotice(handled++);
            while (const std::size_t n = link.Read(reply, sizeof reply)) got += n;
        }
        const auto stop = std::chrono::steady_clock::now();
        if (i >= kWarmUp)
            micros.push_back(std::chrono::duration<double, std::micro>(stop - start).count());
    }
    const double cpu = CpuSeconds() - cpuStart;
    peer.join();
    link.Close();

    std::sort(micros.begin(), micros.end());
    std::printf("serial round trip (%zu-byte frame, %zu-byte ack, %d rounds)\n", kFrameLength,
                kAckLength, kRounds);
    std::printf("  median %.1f us  p99 %.1f us  max %.1f us\n", micros[micros.size() / 2],
                micros[micros.size() * 99 / 100], micros.back());
    std::printf("  CPU (all threads) %.1f us per round trip\n", cpu * 1e6 / kRounds);
    return 0;
}
