// Round trip of one 142-byte block frame out and a 10-byte acknowledgement
// back, through CSerialLink and a pseudo-terminal whose far end a peer thread
// answers. The owner runs as the engine does: on the event loop, reading on
// each notice and writing the next frame from within it. Prints median and
// p99 wall time, and CPU time per round trip of the owner's thread (the
// link's whole cost) and of the process (the peer's included).
#include <sys/resource.h>
#include <unistd.h>

#include <QCoreApplication>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
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

double CpuSeconds(int who) {
    rusage usage = {};
    getrusage(who, &usage);
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

// Sends a frame, and the next one once the whole ack has come.
class Rounds : public ILinkListener {
public:
    explicit Rounds(ILink& link) : m_link(link), m_frame(Frame(kFrameLength, 'X')) {
        micros.reserve(kRounds);
    }
    void Start() { Send(); }
    void OnLinkDataReady() override {
        std::uint8_t reply[64];
        while (const std::size_t n = m_link.Read(reply, sizeof reply)) m_got += n;
        if (m_got < kAckLength) return;
        const auto stop = std::chrono::steady_clock::now();
        if (m_round >= kWarmUp)
            micros.push_back(std::chrono::duration<double, std::micro>(stop - m_start).count());
        if (++m_round == kWarmUp) {
            threadCpu = CpuSeconds(RUSAGE_THREAD);
            processCpu = CpuSeconds(RUSAGE_SELF);
        }
        if (m_round == kWarmUp + kRounds) {
            threadCpu = CpuSeconds(RUSAGE_THREAD) - threadCpu;
            processCpu = CpuSeconds(RUSAGE_SELF) - processCpu;
            QCoreApplication::quit();
            return;
        }
        Send();
    }
    void OnLinkError(const std::string& text, bool) override { std::fputs(text.c_str(), stderr); }

    std::vector<double> micros;
    double threadCpu = 0, processCpu = 0;

private:
    void Send() {
        m_got = 0;
        m_start = std::chrono::steady_clock::now();
        m_link.Write(m_frame.data(), m_frame.size());
    }

    ILink& m_link;
    const std::vector<std::uint8_t> m_frame;
    std::chrono::steady_clock::time_point m_start;
    std::size_t m_got = 0;
    int m_round = 0;
};

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    PtyPair pty;
    if (!pty.IsOpen()) return 1;

    CSerialLink link({kPort, pty.SlavePath(), true});
    Rounds rounds(link);
    if (!link.Open(&rounds)) {
        std::fprintf(stderr, "cannot open %s\n", pty.SlavePath().c_str());
        return 1;
    }
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
    rounds.Start();
    app.exec();
    peer.join();
    link.Close();

    std::vector<double>& micros = rounds.micros;
    std::sort(micros.begin(), micros.end());
    std::printf("serial round trip (%zu-byte frame, %zu-byte ack, %d rounds)\n", kFrameLength,
                kAckLength, kRounds);
    std::printf("  median %.1f us  p99 %.1f us  max %.1f us\n", micros[micros.size() / 2],
                micros[micros.size() * 99 / 100], micros.back());
    std::printf("  CPU per round trip: owner's thread %.1f us, all threads %.1f us\n",
                rounds.threadCpu * 1e6 / kRounds, rounds.processCpu * 1e6 / kRounds);
    return 0;
}
