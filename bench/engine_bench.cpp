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

int main(int argc, char** argv) {
    BenchApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s PATH-TO-receiver-sim [SIM-OPTION...]\n", argv[0]);
        return 2;
    }
    QStringList simArguments{QStringLiteral("--quiet")};
    for (int i = 2; i < argc; ++i) simArguments << QString::fromLocal8Bit(argv[i]);
    QProcess sim;
    sim.start(QString::fromLocal8Bit(argv[1]), simArguments);
    if (!sim.waitForReadyRead(5000)) {
        std::fprintf(stderr, "receiver-sim did not start\n");
        return 1;
    }
    const std::string device = QString::fromLocal8Bit(sim.readLine()).trimmed().toStdString();
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

    std::vector<double> blockUs;
    QElapsedTimer clock, blockClock, lateClock;
    double blockPhaseStart = 0, blockPhaseEnd = 0, cpuStart = 0, cpuEnd = 0;
    double worstLateMs = 0;
    int blocks = 0;
    bool inBlocks = false;

    // A 10 ms timer on the UI thread: how late does it fire while blocks go out?
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    probe.setInterval(10);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        if (inBlocks) worstLateMs = std::max(worstLateMs, lateClock.nsecsElapsed() / 1e6 - 10.0);
        lateClock.restart();
    });
    OnEvent<ev::BlockSent>(engine, &app, [&](const ev::BlockSent& sent) {
        if (sent.first) return;
        if (!inBlocks) {
            inBlocks = true;
            blockPhaseStart = clock.nsecsElapsed() / 1e9;
            cpuStart = CpuSeconds();
            lateClock.restart();
            probe.start();
        } else {
            blockUs.push_back(blockClock.nsecsElapsed() / 1e3);
        }
        blockClock.restart();
        ++blocks;
    });
    OnEvent<ev::AllSent>(engine, &app, [&](const ev::AllSent&) {
        inBlocks = false;
        probe.stop();
        blockPhaseEnd = clock.nsecsElapsed() / 1e9;
        cpuEnd = CpuSeconds();
    });
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

    const double phase = blockPhaseEnd - blockPhaseStart;
    const double medianUs = Percentile(blockUs, 0.5);
    const double wireMs = 152.0 * 10.0 / 115200.0 * 1000.0;
    std::printf("full update of the carried image (2937712 bytes, %d block frames), %s\n",
                blocks + 1, face);
    std::printf("  total, Update to Completed!:   %.2f s\n", total);
    std::printf("  block phase:                   %.2f s\n", phase);
    std::printf("  blocks per second:             %.0f\n", blocks / phase);
    std::printf("  block round trip median / p99: %.0f / %.0f us\n", medianUs,
                Percentile(blockUs, 0.99));
    std::printf("  updater CPU per block:         %.1f us\n", (cpuEnd - cpuStart) / blocks * 1e6);
    std::printf("  peak RSS:                      %.1f MiB\n", PeakRssKiB() / 1024.0);
    std::printf("  per-block time / wire time:    %.4f (wire: %.2f ms per block at 115200)\n",
                medianUs / 1000.0 / wireMs, wireMs);
    std::printf("  worst 10 ms timer lateness:    %.1f ms\n", worstLateMs);
    return 0;
}
