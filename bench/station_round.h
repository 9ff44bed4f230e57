#pragma once

// A round of the station through the real path, for the benchmarks that
// time it: the station's rows, their engines and serial links,
// pseudo-terminals, each simulated receiver in its own process so that the
// figures are the updater's alone. A 10 ms timer on the window's thread shows
// how late the window gets to its events meanwhile.
#include <QElapsedTimer>
#include <QProcess>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

#include "bench_figures.h"
#include "settings.h"
#include "stationrow.h"
#include "stationwindow.h"
#include "support/event_wait.h"

// A receiver-sim process and the device it serves.
struct SimProcess {
    QProcess process;
    QString device;
};

struct Round {
    double seconds = 0;
    double worstLateMs = 0;
    std::vector<double> lateMs;  // every tick's lateness
    double cpuSeconds = 0;
    std::vector<double> rowSeconds;
};

// One station with a row per simulator: connect them all, Update All, and
// time it until every row has its result.
inline bool RunRound(const std::vector<SimProcess*>& sims, StationSetup setup, Round* round) {
    // The rows of an earlier round would come back from the settings, and a
    // new simulator may have an earlier one's device.
    CSettings().SetStationPorts({});
    CStationWindow window(std::move(setup));
    window.show();
    for (SimProcess* sim : sims)
        if (!window.AddPort(sim->device)) return false;
    const int rows = window.RowCount();
    auto all = [&](const std::function<bool(const CStationRow&)>& pred) {
        for (int i = 0; i < rows; ++i)
            if (!pred(window.Row(i))) return false;
        return true;
    };
    if (!WaitUntil([&] { return all([](const CStationRow& r) { return r.IsIdle(); }); }, 30000)) {
        std::fprintf(stderr, "the receivers did not all identify\n");
        return false;
    }

    QElapsedTimer clock, late;
    round->rowSeconds.assign(static_cast<std::size_t>(rows), 0);
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    probe.setInterval(10);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        round->lateMs.push_back(std::max(0.0, late.nsecsElapsed() / 1e6 - 10.0));
        round->worstLateMs = std::max(round->worstLateMs, round->lateMs.back());
        late.restart();
        for (int i = 0; i < rows; ++i)
            if (round->rowSeconds[static_cast<std::size_t>(i)] == 0 &&
                window.Row(i).Result() != StationResult::None)
                round->rowSeconds[static_cast<std::size_t>(i)] = clock.nsecsElapsed() / 1e9;
    });
    const double cpuStart = CpuSeconds();
    clock.start();
    late.start();
    probe.start();
    window.UpdateAll();
    const bool ended = WaitUntil(
        [&] { return all([](const CStationRow& r) { return r.Result() != StationResult::None; }); },
        600000);
    round->seconds = clock.nsecsElapsed() / 1e9;
    round->cpuSeconds = CpuSeconds() - cpuStart;
    probe.stop();
    for (double& s : round->rowSeconds)
        if (s == 0) s = round->seconds;  // ended after the probe's last tick
    for (int i = 0; i < rows; ++i) {
        if (window.Row(i).Result() != StationResult::Completed) {
            std::fprintf(
                stderr, "row %d: %s\n", i,
                qPrintable(window.Row(i).ResultText().isEmpty() ? window.Row(i).StateText()
                                                                : window.Row(i).ResultText()));
            return false;
        }
    }
    return ended;
}

inline void PrintRound(const char* what, Round r) {
    const auto [fastest, slowest] = std::minmax_element(r.rowSeconds.begin(), r.rowSeconds.end());
    std::sort(r.lateMs.begin(), r.lateMs.end());
    const double p99 = r.lateMs.empty() ? 0 : r.lateMs[(r.lateMs.size() - 1) * 99 / 100];
    const auto over50 = r.lateMs.end() - std::upper_bound(r.lateMs.begin(), r.lateMs.end(), 50.0);
    std::printf("  %s\n", what);
    std::printf("    Update All to the last result:  %.2f s (rows end %.2f .. %.2f s)\n", r.seconds,
                *fastest, *slowest);
    std::printf(
        "    10 ms timer lateness:           worst %.1f ms, p99 %.1f ms, %ld of %zu "
        "ticks over 50 ms\n",
        r.worstLateMs, p99, static_cast<long>(over50), r.lateMs.size());
    std::printf("    updater CPU:                    %.2f s\n", r.cpuSeconds);
}

// Starts count simulators at a lower priority than the station: they stand
// in for receivers, which spend none of this machine's time.
inline std::vector<std::unique_ptr<SimProcess>> StartSims(const char* simPath, int count,
                                                          QStringList arguments) {
    arguments = QStringList{QStringLiteral("-n"), QStringLiteral("5"),
                            QString::fromLocal8Bit(simPath), QStringLiteral("--quiet")} +
                arguments;
    std::vector<std::unique_ptr<SimProcess>> sims;
    for (int i = 0; i < count; ++i) {
        auto sim = std::make_unique<SimProcess>();
        sim->process.start(QStringLiteral("nice"), arguments);
        if (!sim->process.waitForReadyRead(5000)) {
            std::fprintf(stderr, "receiver-sim did not start\n");
            return {};
        }
        sim->device = QString::fromLocal8Bit(sim->process.readLine()).trimmed();
        sims.push_back(std::move(sim));
    }
    return sims;
}

inline void StopSims(std::vector<std::unique_ptr<SimProcess>>& sims) {
    for (auto& sim : sims) {
        sim->process.terminate();
        sim->process.waitForFinished(2000);
    }
}
