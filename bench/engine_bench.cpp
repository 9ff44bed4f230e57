// A full update of the carried image through the real path: the update
// engine, the serial link, a pseudo-terminal, and the simulated receiver in
// its own process (so the figures are the updater's alone). The simulator
// does not pace the line unless told to: options after its path go to it.
//
// Built twice: engine_bench drives the engine alone under QCoreApplication,
// as the headless mode does; window_bench drives the same engine through the
// window (run it under a real X server, e.g. xvfb-run, to count repaints).
#include <sys/resource.h>

#include <QElapsedTimer>
#include <QProcess>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

#include "bench_figures.h"
#include "firmware.h"
#include "seriallink.h"
#include "updateengine.h"

#ifdef QUORVEX_BENCH_WINDOW
#include <QApplication>

#include "mainframe.h"
using BenchApplication = QApplication;
#else
#include <QCoreApplication>
using BenchApplication = QCoreApplication;
#endif

namespace {

// The simulator in its own process; the device path it serves, or "".
std::string StartSimulator(int argc, char** argv, QProcess& sim) {
    QStringList simArguments{QStringLiteral("--quiet")};
    for (int i = 2; i < argc; ++i) simArguments << QString::fromLocal8Bit(argv[i]);
    sim.start(QString::fromLocal8Bit(argv[1]), simArguments);
    if (!sim.waitForReadyRead(5000)) return {};
    return QString::fromLocal8Bit(sim.readLine()).trimmed().toStdString();
}

// The block phase: each block's round trip, the CPU spent, and how late a
// 10 ms timer on the UI thread fires while blocks go out.
struct BlockPhase {
    std::vector<double> blockUs;
    QElapsedTimer blockClock, lateClock;
    QTimer probe;
    double start = 0, end = 0, cpuStart = 0, cpuEnd = 0, worstLateMs = 0;
    int blocks = 0;
    bool inBlocks = false;

    BlockPhase() {
        probe.setTimerType(Qt::PreciseTimer);
        probe.setInterval(10);
        QObject::connect(&probe, &QTimer::timeout, [this] {
            if (inBlocks)
                worstLateMs = std::max(worstLateMs, lateClock.nsecsElapsed() / 1e6 - 10.0);
            lateClock.restart();
        });
    }
    void Block(const QElapsedTimer& clock) {
        if (!inBlocks) {
            inBlocks = true;
            start = clock.nsecsElapsed() / 1e9;
            cpuStart = CpuSeconds();
            lateClock.restart();
            probe.start();
        } else {
            blockUs.push_back(blockClock.nsecsElapsed() / 1e3);
        }
        blockClock.restart();
        ++blocks;
    }
    void End(const QElapsedTimer& clock) {
        inBlocks = false;
        probe.stop();
        end = clock.nsecsElapsed() / 1e9;
        cpuEnd = CpuSeconds();
    }
};

void PrintFigures(const BlockPhase& p, double total, const char* face) {
    const double phase = p.end - p.start;
    const double medianUs = Percentile(p.blockUs, 0.5);
    const double wireMs = 152.0 * 10.0 / 115200.0 * 1000.0;
    std::printf("full update of the carried image (2937712 bytes, %d block frames), %s\n",
                p.blocks + 1, face);
    std::printf("  total, Update to Completed!:   %.2f s\n", total);
    std::printf("  block phase:                   %.2f s\n", phase);
    std::printf("  blocks per second:             %.0f\n", p.blocks / phase);
    std::printf("  block round trip median / p99: %.0f / %.0f us\n", medianUs,
                Percentile(p.blockUs, 0.99));
    std::printf("  updater CPU per block:         %.1f us\n",
                (p.cpuEnd - p.cpuStart) / p.blocks * 1e6);
    std::printf("  peak RSS:                      %.1f MiB\n", PeakRssKiB() / 1024.0);
    std::printf("  per-block time / wire time:    %.4f (wire: %.2f ms per block at 115200)\n",
                medianUs / 1000.0 / wireMs, wireMs);
    std::printf("  worst 10 ms timer lateness:    %.1f ms\n", p.worstLateMs);
}

}  // namespace

int main(int argc, char** argv) {
    BenchApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s PATH-TO-receiver-sim [SIM-OPTION...]\n", argv[0]);
        return 2;
    }
    QProcess sim;
    const std::string device = StartSimulator(argc, argv, sim);
    if (device.empty()) {
        std::fprintf(stderr, "receiver-sim did not start\n");
        return 1;
    }
    auto serialLink = [device](const CLinkChoice& choice) -> std::unique_ptr<ILink> {
        return std::make_unique<CSerialLink>(
            SerialLinkSettings{static_cast<unsigned>(choice.m_nComPort), device, true});
    };
    CLinkChoice link;
    link.m_nComPort = 200;

#ifdef QUORVEX_BENCH_WINDOW
    CMainFrame frame(FrameStartup{link, false, serialLink});
    frame.show();
    UpdateEngine& engine = frame.Engine();
    const char* face = "window";
#else
    CResourceImageStore store;
    UpdateEngine engine(serialLink, CarriedImageConfig(), store);
    engine.SetLinkChoice(link);
    const char* face = "engine alone";
#endif

    QElapsedTimer clock;
    BlockPhase blocks;
    OnEvent<ev::BlockSent>(engine, &app, [&](const ev::BlockSent& sent) {
        if (!sent.first) blocks.Block(clock);
    });
    OnEvent<ev::AllSent>(engine, &app, [&](const ev::AllSent&) { blocks.End(clock); });
    OnEvent<ev::Finished>(engine, &app, [&](const ev::Finished& finished) {
        app.exit(finished.outcome == UpdateOutcome::Completed ? 0 : 1);
    });
    UpdateWhenIdentified(engine, app, clock);
    QTimer::singleShot(600000, &app, [&] { app.exit(1); });
#ifdef QUORVEX_BENCH_WINDOW
    frame.OnCreate();
#else
    engine.OnConnect();
#endif
    const int rc = app.exec();
    const double total = clock.nsecsElapsed() / 1e9;
    engine.OnDisconnect();
    sim.terminate();
    sim.waitForFinished(2000);
    if (rc != 0) return rc;

    PrintFigures(blocks, total, face);
    return 0;
}
