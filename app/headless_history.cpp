#include "headless_history.h"

#include <QCommandLineParser>
#include <QFileInfo>

#include "historyrun.h"
#include "settings.h"

namespace {

// A day is taken from its local midnight; a time without a zone is local.
QDateTime ParseSince(const QString& text) {
    const QDate day = QDate::fromString(text, Qt::ISODate);
    if (day.isValid()) return day.startOfDay();
    return QDateTime::fromString(text, Qt::ISODate);
}

}  // namespace

bool IsHistoryCommand(const QStringList& args) {
    const qsizetype at = args.value(1) == QLatin1String("--headless") ? 2 : 1;
    return args.value(at) == QLatin1String("history");
}

bool ParseHistoryArguments(const QStringList& args, HistoryCommand* command, QString* error) {
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption headless(QStringLiteral("headless"));
    const QCommandLineOption serial(QStringLiteral("serial"), {}, QStringLiteral("SN"));
    const QCommandLineOption since(QStringLiteral("since"), {}, QStringLiteral("DATE"));
    const QCommandLineOption csv(QStringLiteral("csv"));
    const QCommandLineOption db(QStringLiteral("history-db"), {}, QStringLiteral("URL"));
    parser.addOptions({headless, serial, since, csv, db});
    if (!parser.parse(args)) {
        *error = parser.errorText();
        return false;
    }
    if (parser.positionalArguments() != QStringList{QStringLiteral("history")}) {
        *error = QStringLiteral("history takes no other arguments: %1")
                     .arg(parser.positionalArguments().mid(1).join(QLatin1Char(' ')));
        return false;
    }
    HistoryCommand c;
    c.filter.serial = parser.value(serial);
    c.csv = parser.isSet(csv);
    c.database = parser.value(db);
    if (parser.isSet(since)) {
        c.filter.since = ParseSince(parser.value(since));
        if (!c.filter.since.isValid()) {
            *error = QStringLiteral(
                         "--since takes a date (2026-12-01) or a date and time "
                         "(2026-12-01T08:00), not %1")
                         .arg(parser.value(since));
            return false;
        }
    }
    if (parser.isSet(db) && !ParseHistoryUrl(c.database, error)) return false;
    *command = c;
    return true;
}

int RunHistoryCommand(const QStringList& args, const QString& program, std::FILE* out,
                      std::FILE* err) {
    HistoryCommand command;
    QString error;
    if (!ParseHistoryArguments(args, &command, &error)) {
        std::fprintf(err, "%s: %s\nTry '%s --help'.\n", qPrintable(program), qPrintable(error),
                     qPrintable(program));
        return 2;
    }
    const QString url =
        command.database.isEmpty() ? CSettings().HistoryDatabase() : command.database;
    const std::optional<HistoryTarget> target = ParseHistoryUrl(url, &error);
    if (!target) {
        std::fprintf(err, "%s: the settings file's history database: %s\n", qPrintable(program),
                     qPrintable(error));
        return 1;
    }
    // Reading makes no file: a station that never ran an update has no history.
    if (target->driver == QLatin1String("QSQLITE") && !QFileInfo::exists(target->database)) {
        std::fprintf(err, "No run is recorded yet (%s does not exist).\n",
                     qPrintable(target->database));
        return 0;
    }
    CHistoryDb db(*target);
    std::optional<std::vector<HistoryRun>> runs;
    if (db.Open(&error)) runs = db.Query(command.filter, &error);
    if (!runs) {
        std::fprintf(err, "%s: the history database %s cannot be read: %s\n", qPrintable(program),
                     qPrintable(target->shown), qPrintable(error));
        return 1;
    }
    if (command.csv) {
        const QByteArray csv = HistoryCsv(*runs);
        std::fwrite(csv.constData(), 1, static_cast<std::size_t>(csv.size()), out);
    } else if (runs->empty()) {
        std::fputs("No recorded run matches.\n", err);
    } else {
        std::fputs(HistoryTable(*runs).toUtf8().constData(), out);
    }
    return 0;
}
