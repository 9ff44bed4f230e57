#include "historydb.h"

#include <QDir>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QUrl>
#include <QUrlQuery>
#include <atomic>

#include "datafolders.h"

namespace {

constexpr char kSqlite[] = "QSQLITE";
constexpr char kPostgres[] = "QPSQL";
// Another station writing holds the file's lock for milliseconds; this is
// for one that is stuck.
constexpr int kSqliteBusyMs = 10000;
// A server that is down must not keep the history's thread for long.
constexpr char kConnectTimeout[] = "connect_timeout=5";
// Any number will do, as long as it is always the same: it lets one
// station at a time make or upgrade the tables.
constexpr qint64 kSchemaLock = 0x517565727658;

// Step n takes a database from schema version n to n + 1. A step that has
// been released is never changed; a change to the tables is a new step.
QStringList SchemaStep(int from, bool postgres) {
    switch (from) {
        case 0:
            return {
                QStringLiteral("CREATE TABLE quorvex_schema (version INTEGER NOT NULL)"),
                QStringLiteral(
                    "CREATE TABLE quorvex_runs (run_id VARCHAR(64) PRIMARY KEY, started %1 NOT "
                    "NULL, duration_ms BIGINT, host TEXT, port TEXT, serial TEXT, loader_serial "
                    "TEXT, part_number TEXT, cpu_before TEXT, fpga_before TEXT, boot_before TEXT, "
                    "package TEXT, images TEXT, outcome TEXT, detail TEXT, cpu_after TEXT, "
                    "fpga_after TEXT, boot_after TEXT, run_log TEXT)")
                    .arg(postgres ? QStringLiteral("TIMESTAMP WITH TIME ZONE")
                                  : QStringLiteral("TEXT")),
                QStringLiteral(
                    "CREATE INDEX quorvex_runs_serial ON quorvex_runs (serial, started)"),
                QStringLiteral("CREATE INDEX quorvex_runs_loader_serial ON quorvex_runs "
                               "(loader_serial, started)"),
                QStringLiteral("CREATE INDEX quorvex_runs_started ON quorvex_runs (started)"),
            };
        default:
            return {};
    }
}

// Times go in as text, the same for both drivers: SQLite keeps it and
// compares it as text (always UTC, always this form, so text order is time
// order); PostgreSQL reads it into its own time type.
QString TimeText(const QDateTime& when) {
    return when.toUTC().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzzZ"));
}

QDateTime TimeOf(const QVariant& value) {
    if (value.typeId() == QMetaType::QDateTime) return value.toDateTime().toUTC();
    return QDateTime::fromString(value.toString(), Qt::ISODateWithMs).toUTC();
}

QString Columns() {
    QString columns = QStringLiteral("run_id, started, duration_ms");
    for (const HistoryTextField& f : HistoryTextFields())
        columns += QStringLiteral(", ") + QLatin1String(f.name);
    return columns;
}

}  // namespace

QString DefaultHistoryFile() {
    return UserDataFolder() + QStringLiteral("/history.sqlite");
}

std::optional<HistoryTarget> ParseHistoryUrl(const QString& text, QString* error) {
    HistoryTarget t;
    const QString url = text.trimmed();
    const QUrl parsed(url, QUrl::StrictMode);
    const QString scheme = url.contains(QLatin1Char(':')) ? parsed.scheme().toLower() : QString();
    if (scheme == QLatin1String("postgresql") || scheme == QLatin1String("postgres")) {
        if (!parsed.isValid()) {
            *error = QStringLiteral("not a PostgreSQL URL: %1 (%2)").arg(url, parsed.errorString());
            return std::nullopt;
        }
        t.driver = QLatin1String(kPostgres);
        t.database = parsed.path(QUrl::FullyDecoded).mid(1);
        t.host = parsed.host(QUrl::FullyDecoded);
        t.port = parsed.port(-1);
        t.user = parsed.userName(QUrl::FullyDecoded);
        t.password = parsed.password(QUrl::FullyDecoded);
        QStringList options;
        const QUrlQuery query(parsed);
        for (const auto& [key, value] : query.queryItems(QUrl::FullyDecoded)) {
            if (key == QLatin1String("host"))
                t.host = value;
            else if (key == QLatin1String("port"))
                t.port = value.toInt();
            else if (key == QLatin1String("user"))
                t.user = value;
            else if (key == QLatin1String("password"))
                t.password = value;
            else if (key == QLatin1String("dbname"))
                t.database = value;
            else
                options << key + QLatin1Char('=') + value;
        }
        if (!query.hasQueryItem(QStringLiteral("connect_timeout")))
            options << QLatin1String(kConnectTimeout);
        t.options = options.join(QLatin1Char(';'));
        QUrl shown = parsed;
        shown.setPassword({});
        QUrlQuery shownQuery(query);
        shownQuery.removeAllQueryItems(QStringLiteral("password"));
        shown.setQuery(shownQuery);
        t.shown = shown.toString();
        return t;
    }
    t.driver = QLatin1String(kSqlite);
    if (url.isEmpty()) {
        t.database = DefaultHistoryFile();
    } else if (scheme == QLatin1String("sqlite")) {
        t.database = parsed.path(QUrl::FullyDecoded);
        const QUrlQuery query(parsed);
        if (query.hasQueryItem(QStringLiteral("busy_timeout")))
            t.options = QStringLiteral("QSQLITE_BUSY_TIMEOUT=") +
                        query.queryItemValue(QStringLiteral("busy_timeout"));
    } else if (scheme.size() > 1) {  // "C:" is no scheme, but this is not Windows either
        *error = QStringLiteral(
                     "not a history database: %1 (give a file, sqlite:FILE or "
                     "postgresql://[user@]host/database)")
                     .arg(url);
        return std::nullopt;
    } else {
        t.database = url;
    }
    if (t.database.isEmpty()) {
        *error = QStringLiteral("no file in %1").arg(url);
        return std::nullopt;
    }
    t.database = QFileInfo(t.database).absoluteFilePath();
    if (t.options.isEmpty())
        t.options = QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(kSqliteBusyMs);
    t.shown = t.database;
    return t;
}

CHistoryDb::CHistoryDb(HistoryTarget target) : m_target(std::move(target)) {
    static std::atomic<int> serial{0};
    m_connection = QStringLiteral("quorvex-history-%1").arg(++serial);
    // The driver's libraries are loaded here, as the program starts, not at
    // the first run: loaded in the middle of a station's updates, they held
    // the window up once by 60 to 100 ms (bench/history_bench).
    QSqlDatabase::addDatabase(m_target.driver, m_connection);
}

CHistoryDb::~CHistoryDb() {
    Close();
    QSqlDatabase::removeDatabase(m_connection);
}

bool CHistoryDb::IsOpen() const {
    return QSqlDatabase::database(m_connection, false).isOpen();
}

void CHistoryDb::Close() {
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    if (db.isValid()) db.close();
}

bool CHistoryDb::Open(QString* error) {
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    if (!db.isValid()) {
        *error = QStringLiteral("Qt's %1 driver is not installed (%2)")
                     .arg(m_target.driver, m_target.driver == QLatin1String(kPostgres)
                                               ? QStringLiteral("libqt6sql6-psql")
                                               : QStringLiteral("libqt6sql6-sqlite"));
        return false;
    }
    if (db.isOpen()) return true;
    const bool postgres = m_target.driver == QLatin1String(kPostgres);
    if (!postgres && !QDir().mkpath(QFileInfo(m_target.database).path())) {
        *error =
            QStringLiteral("cannot create the folder %1").arg(QFileInfo(m_target.database).path());
        return false;
    }
    db.setDatabaseName(m_target.database);
    db.setHostName(m_target.host);
    db.setPort(m_target.port);
    db.setUserName(m_target.user);
    db.setPassword(m_target.password);
    db.setConnectOptions(m_target.options);
    if (!db.open()) {
        *error = db.lastError().text().simplified();
        return false;
    }
    // Readers do not block the writer, nor the writer them; a commit is
    // not synced until the log is folded back in.
    if (!postgres) {
        QSqlQuery pragma(db);
        pragma.exec(QStringLiteral("PRAGMA journal_mode=WAL"));
        pragma.exec(QStringLiteral("PRAGMA synchronous=NORMAL"));
    }
    if (!MakeSchema(error)) {
        db.close();
        return false;
    }
    return true;
}

bool CHistoryDb::Exec(const QString& sql, QString* error) {
    QSqlQuery query(QSqlDatabase::database(m_connection, false));
    if (query.exec(sql)) return true;
    *error = query.lastError().text().simplified();
    return false;
}

int CHistoryDb::SchemaVersion() {
    const QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    if (!db.tables().contains(QStringLiteral("quorvex_schema"))) return 0;
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("SELECT MAX(version) FROM quorvex_schema")) || !query.next())
        return 0;
    return query.value(0).toInt();
}

bool CHistoryDb::MakeSchema(QString* error) {
    // A database made by a newer program is written all the same: its steps
    // only ever add, and rows name their columns.
    if (SchemaVersion() >= kSchemaVersion) return true;
    const bool postgres = m_target.driver == QLatin1String(kPostgres);
    // Another station may be at the same point: it waits for this
    // transaction and then finds the tables made.
    if (!Exec(postgres ? QStringLiteral("BEGIN") : QStringLiteral("BEGIN IMMEDIATE"), error))
        return false;
    bool ok = !postgres ||
              Exec(QStringLiteral("SELECT pg_advisory_xact_lock(%1)").arg(kSchemaLock), error);
    const int version = ok ? SchemaVersion() : kSchemaVersion;
    for (int v = version; ok && v < kSchemaVersion; ++v)
        for (const QString& sql : SchemaStep(v, postgres)) ok = ok && Exec(sql, error);
    if (ok && version < kSchemaVersion)
        ok = Exec(QStringLiteral("DELETE FROM quorvex_schema"), error) &&
             Exec(QStringLiteral("INSERT INTO quorvex_schema (version) VALUES (%1)")
                      .arg(kSchemaVersion),
                  error);
    if (ok) return Exec(QStringLiteral("COMMIT"), error);
    Rollback();
    return false;
}

void CHistoryDb::Rollback() {
    QString ignored;
    Exec(QStringLiteral("ROLLBACK"), &ignored);
}

bool CHistoryDb::Insert(const std::vector<HistoryRun>& runs, QString* error) {
    const QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    if (!db.isOpen()) {
        *error = QStringLiteral("not open");
        return false;
    }
    if (!Exec(QStringLiteral("BEGIN"), error)) return false;
    QString marks = QStringLiteral("?, ?, ?");
    for (std::size_t i = 0; i < HistoryTextFields().size(); ++i) marks += QStringLiteral(", ?");
    QSqlQuery insert(db);
    bool ok = insert.prepare(
        QStringLiteral("INSERT INTO quorvex_runs (%1) VALUES (%2) ON CONFLICT (run_id) DO NOTHING")
            .arg(Columns(), marks));
    for (auto run = runs.begin(); ok && run != runs.end(); ++run) {
        insert.addBindValue(run->id);
        insert.addBindValue(TimeText(run->started));
        insert.addBindValue(run->durationMs);
        for (const HistoryTextField& f : HistoryTextFields()) insert.addBindValue((*run).*f.member);
        ok = insert.exec();
    }
    if (!ok) {
        *error = insert.lastError().text().simplified();
        Rollback();
        return false;
    }
    return Exec(QStringLiteral("COMMIT"), error);
}

std::optional<std::vector<HistoryRun>> CHistoryDb::Query(const HistoryFilter& filter,
                                                         QString* error) {
    QStringList where;
    QVariantList values;
    if (!filter.serial.isEmpty()) {
        where << QStringLiteral("(serial = ? OR loader_serial = ?)");
        values << filter.serial << filter.serial;
    }
    if (!filter.partNumber.isEmpty()) {
        where << QStringLiteral("part_number = ?");
        values << filter.partNumber;
    }
    if (!filter.outcome.isEmpty()) {
        where << QStringLiteral("outcome = ?");
        values << filter.outcome;
    }
    if (filter.since.isValid()) {
        where << QStringLiteral("started >= ?");
        values << TimeText(filter.since);
    }
    QString sql = QStringLiteral("SELECT %1 FROM quorvex_runs").arg(Columns());
    if (!where.isEmpty()) sql += QStringLiteral(" WHERE ") + where.join(QStringLiteral(" AND "));
    const QString order = filter.newestFirst ? QStringLiteral("DESC") : QStringLiteral("ASC");
    sql += QStringLiteral(" ORDER BY started %1, run_id %1").arg(order);
    if (filter.limit > 0) sql += QStringLiteral(" LIMIT %1").arg(filter.limit);

    QSqlQuery query(QSqlDatabase::database(m_connection, false));
    query.setForwardOnly(true);
    if (!query.prepare(sql)) {
        *error = query.lastError().text().simplified();
        return std::nullopt;
    }
    for (const QVariant& v : values) query.addBindValue(v);
    if (!query.exec()) {
        *error = query.lastError().text().simplified();
        return std::nullopt;
    }
    std::vector<HistoryRun> runs;
    while (query.next()) {
        HistoryRun& run = runs.emplace_back();
        run.id = query.value(0).toString();
        run.started = TimeOf(query.value(1));
        run.durationMs = query.value(2).toLongLong();
        int column = 3;
        for (const HistoryTextField& f : HistoryTextFields())
            run.*f.member = query.value(column++).toString();
    }
    return runs;
}
