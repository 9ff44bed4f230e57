#pragma once

// The figures every benchmark prints: CPU time, peak memory, percentiles,
// and the update started as soon as the receiver has identified itself.
#include <sys/resource.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "updateengine.h"

// CPU seconds, user and system, of the process (RUSAGE_SELF) or of the
// calling thread (RUSAGE_THREAD).
inline double CpuSeconds(int who = RUSAGE_SELF) {
    rusage ru{};
    getrusage(who, &ru);
    return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
           static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

inline long PeakRssKiB() {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return ru.ru_maxrss;
}

// p from 0 to 1; 0 for no samples.
inline double Percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[static_cast<std::size_t>(p * static_cast<double>(v.size() - 1))];
}

// Gives Update once the engine's identification has ended with a record,
// starting clock there; without a record the application exits with 1.
inline void UpdateWhenIdentified(UpdateEngine& engine, QCoreApplication& app,
                                 QElapsedTimer& clock) {
    OnEvent<ev::IdentificationEnded>(engine, &app,
                                     [&engine, &app, &clock](const ev::IdentificationEnded& e) {
                                         if (!e.recordFound) {
                                             std::fprintf(stderr, "no version record\n");
                                             app.exit(1);
                                             return;
                                         }
                                         // Once the engine is done with the bytes that ended it.
                                         QTimer::singleShot(0, &engine, [&engine, &clock] {
                                             clock.start();
                                             engine.OnFirmwareUpdate();
                                         });
                                     });
}
