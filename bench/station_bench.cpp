// The station updating eight receivers at once against one alone: the
// carried image through the real path (station_round.h). The machine's other
// work competes with all of it: run it on a quiet one.
//
// Run as: station_bench tools/receiver-sim [ROWS] [SIM-OPTION...]
#include <QApplication>
#include <QSettings>
#include <QTemporaryDir>

#include "firmware.h"
#include "station_round.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s PATH-TO-receiver-sim [ROWS] [SIM-OPTION...]\n", argv[0]);
        return 2;
    }
    int rows = 8;
    int firstOption = 2;
    if (argc > 2 && QByteArray(argv[2]).toInt() > 0) rows = QByteArray(argv[firstOption++]).toInt();
    QStringList simArguments;
    for (int i = firstOption; i < argc; ++i) simArguments << QString::fromLocal8Bit(argv[i]);

    // A settings store of its own: the station keeps its rows there.
    QTemporaryDir config;
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, config.path());
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());

    std::vector<std::unique_ptr<SimProcess>> sims = StartSims(argv[1], rows + 1, simArguments);
    if (sims.empty()) return 1;
    Round alone, station;
    const auto setup = [] { return StationSetup{{}, BuiltinFirmwarePackage(), {}, 60}; };
    const bool ok = RunRound({sims[0].get()}, setup(), &alone) && [&] {
        std::vector<SimProcess*> many;
        for (int i = 1; i <= rows; ++i) many.push_back(sims[static_cast<std::size_t>(i)].get());
        return RunRound(many, setup(), &station);
    }();
    StopSims(sims);
    if (!ok) return 1;

    std::printf("station: full updates of the carried image (2937712 bytes each)\n");
    PrintRound("one receiver alone", alone);
    PrintRound(qPrintable(QStringLiteral("%1 receivers at once").arg(rows)), station);
    std::printf("  %d at once / one alone:  %.2f times the time (%.2f per receiver)\n", rows,
                station.seconds / alone.seconds, station.seconds / alone.seconds / rows);
    std::printf("  peak RSS:                 %.1f MiB\n", PeakRssKiB() / 1024.0);
    return 0;
}
