#pragma once

#include <QDateTime>
#include <QString>
#include <optional>
#include <vector>

#include "historyrun.h"

// Where the history is: an SQLite file (the default) or a PostgreSQL
// database that several stations share.
struct HistoryTarget {
    QString driver;    // "QSQLITE" or "QPSQL"
    QString database;  // the file, or the database's name
    QString host;      // a name, an address or a socket folder; empty: libpq's default
    int port = -1;
    QString user, password;
    QString options;  // libpq's own keywords, "sslmode=require;connect_timeout=5"
    QString shown;    // for messages: the file, or the URL without its password
};

// The user's history file: quorvexupdate/history.sqlite in $XDG_DATA_HOME
// (~/.local/share when unset or relative).
QString DefaultHistoryFile();

// A --history-db or settings value: empty for the default file, a path or
// "sqlite:PATH" for another, "postgresql://[user[:password]@][host][:port]/
// database[?key=value&...]" (or "postgres://") for a server. Query keys
// host, port, user and password take the place of the URL's parts (host=
// /run/postgresql names a socket folder); the others go to libpq as they are.
// Nothing, with the reason in *error, for a text that is none of these.
std::optional<HistoryTarget> ParseHistoryUrl(const QString& url, QString* error);

// What the runs are looked for by. Empty fields match everything.
struct HistoryFilter {
    QString serial;  // the version record's serial number or the loader's
    QString partNumber;
    QString outcome;
    QDateTime since;  // runs started at or after this
    int limit = 0;    // at most this many, the newest; 0: all
    bool newestFirst = false;
};

// One connection to the history, for the thread that makes it only (a Qt
// SQL connection may not be used on another). Making it loads the driver;
// opening it connects, and makes the tables, or
// brings tables of an older version of the program up to date, in one
// transaction that other stations wait for.
class CHistoryDb {
public:
    explicit CHistoryDb(HistoryTarget target);
    ~CHistoryDb();
    CHistoryDb(const CHistoryDb&) = delete;
    CHistoryDb& operator=(const CHistoryDb&) = delete;

    bool Open(QString* error);
    bool IsOpen() const;
    void Close();
    const HistoryTarget& Target() const { return m_target; }

    // Writes the runs in one transaction; a run whose id is there already
    // is left as it is. False (nothing written) when the database refused.
    bool Insert(const std::vector<HistoryRun>& runs, QString* error);
    std::optional<std::vector<HistoryRun>> Query(const HistoryFilter& filter, QString* error);
    // The schema version the database holds; 0 before the tables are made.
    int SchemaVersion();

    // What the program makes and reads.
    static constexpr int kSchemaVersion = 1;

private:
    bool Exec(const QString& sql, QString* error);
    bool MakeSchema(QString* error);
    void Rollback();

    HistoryTarget m_target;
    QString m_connection;  // the name Qt knows it by
};
