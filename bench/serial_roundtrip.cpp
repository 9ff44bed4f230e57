// Round trip of one 142-byte block frame out and a 10-byte acknowledgement
// back, through CSerialPort and a pseudo-terminal whose far end a peer thread
// answers. Prints median and p99 wall time and CPU time per round trip.
#include <sys/resource.h>
#include <unistd.h>

#include <QSettings>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <thread>
#include <vector>

#include "serialport.h"
#include "support/pty.h"

namespace {

constexpr unsigned kPort = 200;
constexpr int kWarmUp = 200;
constexpr int kRounds = 5000;
constexpr std::size_t kFrameLength = 142;  // "$$", type, kind, length, 133 payload, xor, CR LF
constexpr std::size_t kAckLength = 10;     // "$$", type, kind, length, 1 payload, xor, CR LF

class BenchOwner : public ILinkOwner {
public:
    void PostLinkMessage(unsigned message, std::uintptr_t, std::intptr_t) override {
        if (message != WM_LINK_DATA) return;
        std::lock_guard<std::mutex> lock(m_mutex);
        // Wake the waiting thread once, when the last byte it waits for came.
        if (++m_dataNotices == m_target) m_arrived.notify_one();
    }
    void ReportLinkError(const std::string& text) override { std::fputs(text.c_str(), stderr); }
    void SetActiveRxRing(RingBuffer*) override {}

    void WaitForNotices(std::uint32_t count) {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_target = count;
        m_arrived.wait(lock, [&] { return m_dataNotices >= count; });
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_arrived;
    std::uint32_t m_dataNotices = 0;
    std::uint32_t m_target = 0;
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
    std::string dir = (std::filesystem::temp_directory_path() / "serialbench.XXXXXX").string();
    if (!mkdtemp(dir.data())) return 1;
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, QString::fromStdString(dir));

    PtyPair pty;
    if (!pty.IsOpen()) return 1;
    {
        QSettings settings(QSettings::IniFormat, QSettings::UserScope,
                           QStringLiteral("Quorvex Solution"), QStringLiteral("QuorvexUpdate"));
        settings.setValue(QStringLiteral("Ports/COM%1").arg(kPort),
                          QString::fromStdString(pty.SlavePath()));
    }

    BenchOwner owner;
    auto port = std::make_unique<CSerialPort>();
    RingInit(&port->m_rxRing, 8192, port->m_rxStore);
    if (!port->OpenPort(&owner, kPort, 115200, 'N', 8, 1, EV_RXCHAR | EV_CTS, 512) ||
        !port->StartMonitor()) {
        std::fprintf(stderr, "cannot open %s\n", pty.SlavePath().c_str());
        return 1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // past the start-up purge

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
    std::uint32_t expected = 0;
    double cpuStart = 0;
    for (int i = 0; i < kWarmUp + kRounds; ++i) {
        if (i == kWarmUp) cpuStart = CpuSeconds();
        const auto start = std::chrono::steady_clock::now();
        port->WritePort(frame.data(), static_cast<std::int32_t>(frame.size()));
        expected += kAckLength;
        owner.WaitForNotices(expected);
        RingGet(&port->m_rxRing, reply, kAckLength);
        const auto stop = std::chrono::steady_clock::now();
        if (i >= kWarmUp)
            micros.push_back(std::chrono::duration<double, std::micro>(stop - start).count());
    }
    const double cpu = CpuSeconds() - cpuStart;
    peer.join();
    port.reset();
    std::filesystem::remove_all(dir);

    std::sort(micros.begin(), micros.end());
    std::printf("serial round trip (%zu-byte frame, %zu-byte ack, %d rounds)\n", kFrameLength,
                kAckLength, kRounds);
    std::printf("  median %.1f us  p99 %.1f us  max %.1f us\n", micros[micros.size() / 2],
                micros[micros.size() * 99 / 100], micros.back());
    std::printf("  CPU (all threads) %.1f us per round trip\n", cpu * 1e6 / kRounds);
    return 0;
}
