// The history under load, into an SQLite file and into a PostgreSQL server
// of the benchmark's own (on a Unix socket; skipped, and said so, when none
// can start):
// - a station of eight updating the carried image and recording each run,
//   against one that records nothing: the window's 10 ms timer lateness, as
//   station_bench measures it;
// - a history of 100,000 runs: the rows a second the database takes in
//   batches, the runs a second the history's thread writes when a burst of
//   them is recorded at once (each through its spool file), the window's
//   lateness meanwhile, and the time of the query for one serial number.
//
// Run as: history_bench tools/receiver-sim [RUNS]
#include <QApplication>
#include <QSettings>
#include <QTemporaryDir>
#include <QUuid>
#include <algorithm>
#include <optional>

#include "firmware.h"
#include "history.h"
#include "historydb.h"
#include "station_round.h"
#include "support/pg_server.h"

namespace {

constexpr int kSerials = 10000;  // ten runs each in a history of 100,000
constexpr int kBurst = 2000;
constexpr int kQueries = 50;

HistoryRun BenchRun(int n) {
    HistoryRun run;
    run.id = QUuid::createUuid().toString(QUuid::WithoutBraces);
    run.started = QDateTime(QDate(2026, 1, 1), QTime(8, 0), Qt::UTC).addSecs(n * 300LL);
    run.host = QStringLiteral("station-%1").arg(n % 4);
    run.port = QStringLiteral("COM%1 (/dev/ttyUSB%2)").arg(33 + n % 8).arg(n % 8);
    run.serial = QStringLiteral("Z4B%1").arg(n % kSerials, 5, 10, QLatin1Char('0'));
    run.loaderSerial = QString::number(100000 + n % kSerials);
    run.partNumber = QStringLiteral("Q4B1C20");
    run.cpuBefore = QStringLiteral("5.100");
    run.fpgaBefore = QStringLiteral("2.300");
    run.bootBefore = QStringLiteral("3.100");
    run.package = QStringLiteral("z4-2024.1");
    run.images = QStringLiteral("CPU 248 %1").arg(QString(64, QLatin1Char('e')));
    run.outcome = n % 20 ? QStringLiteral("Completed") : QStringLiteral("Line lost");
    run.durationMs = 300000 + n % 1000;
    run.runLog = run.started.toString(QStringLiteral("yyyy-MM-dd_HH-mm-ss.zzz_")) +
                 QStringLiteral("COM33-dev-ttyUSB0.log");
    return run;
}

// The window's 10 ms timer, and how late each of its ticks came.
class LateProbe {
public:
    LateProbe() {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(10);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            m_lateMs.push_back(std::max(0.0, m_clock.nsecsElapsed() / 1e6 - 10.0));
            m_clock.restart();
        });
        m_clock.start();
        m_timer.start();
    }
    void Print() {
        m_timer.stop();
        std::sort(m_lateMs.begin(), m_lateMs.end());
        const double p99 = m_lateMs.empty() ? 0 : m_lateMs[(m_lateMs.size() - 1) * 99 / 100];
        std::printf("    10 ms timer lateness meanwhile:  worst %.1f ms, p99 %.1f ms, %zu ticks\n",
                    m_lateMs.empty() ? 0 : m_lateMs.back(), p99, m_lateMs.size());
    }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    std::vector<double> m_lateMs;
};

struct Target {
    const char* name;
    QString url;
};

bool StationRounds(const char* simPath, const std::vector<Target>& targets, const QString& spool) {
    std::printf("a station of eight, full updates of the carried image:\n");
    bool ok = true;
    for (std::size_t i = 0; ok && i <= targets.size(); ++i) {
        // Receivers of their own: an updated one restarts into its firmware.
        std::vector<std::unique_ptr<SimProcess>> sims = StartSims(simPath, 8, {});
        if (sims.empty()) return false;
        std::vector<SimProcess*> rows;
        for (auto& sim : sims) rows.push_back(sim.get());
        std::optional<CHistory> history;
        StationSetup setup{{}, BuiltinFirmwarePackage(), {}, 60};
        if (i > 0) setup.history = &history.emplace(targets[i - 1].url, spool);
        Round round;
        ok = RunRound(rows, setup, &round);
        if (history && (!history->Drain(60000) || history->Unwritten() != 0)) {
            std::fprintf(stderr, "%s did not take the station's runs\n", targets[i - 1].name);
            ok = false;
        }
        if (ok)
            PrintRound(
                i == 0 ? "recording nothing"
                       : qPrintable(QStringLiteral("recording into %1").arg(targets[i - 1].name)),
                round);
        StopSims(sims);
    }
    return ok;
}

bool BigHistory(const Target& target, int runs, const QString& spool) {
    std::printf("%s, a history of %d runs:\n", target.name, runs);
    QString error;
    CHistoryDb db(*ParseHistoryUrl(target.url, &error));
    if (!db.Open(&error)) {
        std::fprintf(stderr, "%s: %s\n", target.name, qPrintable(error));
        return false;
    }
    QElapsedTimer clock;
    clock.start();
    constexpr int kBatch = 1000;
    for (int n = 0; n < runs; n += kBatch) {
        std::vector<HistoryRun> batch;
        for (int i = n; i < std::min(runs, n + kBatch); ++i) batch.push_back(BenchRun(i));
        if (!db.Insert(batch, &error)) {
            std::fprintf(stderr, "%s: %s\n", target.name, qPrintable(error));
            return false;
        }
    }
    std::printf("    written in batches of %d:          %.0f rows/s\n", kBatch,
                runs / (clock.nsecsElapsed() / 1e9));

    {
        CHistory history(target.url, spool);
        LateProbe probe;
        QElapsedTimer recordClock;
        std::vector<HistoryRun> burst;
        for (int i = 0; i < kBurst; ++i) burst.push_back(BenchRun(runs + i));
        recordClock.start();
        for (const HistoryRun& run : burst) history.Record(run);
        const double recordMs = recordClock.nsecsElapsed() / 1e6;
        if (!WaitUntil([&] { return history.Unwritten() == 0; }, 600000)) return false;
        std::printf(
            "    %d runs recorded at once:       Record() %.1f ms on the window's thread,\n"
            "                                       all written in %.2f s, %.0f runs/s\n",
            kBurst, recordMs, recordClock.nsecsElapsed() / 1e9,
            kBurst / (recordClock.nsecsElapsed() / 1e9));
        probe.Print();
    }

    std::vector<double> queryMs;
    std::size_t found = 0;
    for (int q = 0; q < kQueries; ++q) {
        HistoryFilter filter;
        filter.serial = BenchRun(q * 97).serial;
        clock.restart();
        const auto rows = db.Query(filter, &error);
        queryMs.push_back(clock.nsecsElapsed() / 1e6);
        found += rows ? rows->size() : 0;
    }
    std::sort(queryMs.begin(), queryMs.end());
    std::printf(
        "    the runs of one serial number:     median %.2f ms, worst %.2f ms (%zu runs "
        "each)\n",
        queryMs[queryMs.size() / 2], queryMs.back(), found / kQueries);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s PATH-TO-receiver-sim [RUNS]\n", argv[0]);
        return 2;
    }
    const int runs = argc > 2 ? std::max(1, QByteArray(argv[2]).toInt()) : 100000;
    // Settings, run logs and spools of its own.
    QTemporaryDir work;
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, work.filePath("config"));
    qputenv("XDG_CONFIG_HOME", work.filePath("config").toUtf8());
    qputenv("XDG_STATE_HOME", work.filePath("state").toUtf8());
    const QString spool = work.filePath("spool");

    PgServer server;
    QString why;
    std::vector<Target> station{{"SQLite", work.filePath("station.sqlite")}};
    std::vector<Target> big{{"SQLite", work.filePath("big.sqlite")}};
    if (server.Start(&why)) {
        station.push_back({"PostgreSQL", server.Url(QStringLiteral("station"))});
        big.push_back({"PostgreSQL", server.Url(QStringLiteral("big"))});
    } else {
        std::printf("PostgreSQL left out: %s\n", qPrintable(why));
    }

    if (!StationRounds(argv[1], station, spool)) return 1;
    for (const Target& target : big)
        if (!BigHistory(target, runs, spool)) return 1;
    std::printf("peak RSS: %.1f MiB\n", PeakRssKiB() / 1024.0);
    return 0;
}
