// The history against real databases: an SQLite file, and a PostgreSQL
// server of the test's own (skipped, and said so, when none can start).
// Runs go through the history's own thread, as every face records them, and
// are read back over a connection of the test's.
#include "history.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QUuid>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "historydb.h"
#include "support/event_wait.h"
#include "support/pg_server.h"

namespace {

constexpr int kGuardMs = 60000;  // only against hangs
constexpr int kChildRuns = 100;

enum class Backend { Sqlite, Postgres };

HistoryRun MakeRun(const QString& serial, int minute) {
    HistoryRun run;
    run.id = QUuid::createUuid().toString(QUuid::WithoutBraces);
    run.started = QDateTime(QDate(2026, 12, 8), QTime(9, minute, 56, 123), Qt::UTC);
    run.host = QStringLiteral("station-2");
    run.port = QStringLiteral("COM3 (/dev/ttyUSB0)");
    run.serial = serial;
    run.loaderSerial = QStringLiteral("123456");
    run.partNumber = QStringLiteral("Q4B1C20");
    run.cpuBefore = QStringLiteral("5.100");
    run.fpgaBefore = QStringLiteral("2.300");
    run.bootBefore = QStringLiteral("3.100");
    run.package = QStringLiteral("z4-2024.1");
    run.images = QStringLiteral("CPU 248 %1").arg(QString(64, QLatin1Char('a')));
    run.outcome = QStringLiteral("Completed");
    run.detail = QStringLiteral("quotes \", commas, and\na second line");
    run.durationMs = 312345;
    run.runLog = QStringLiteral("2026-12-08_09-39-56.123_COM3-dev-ttyUSB0.log");
    return run;
}

std::vector<std::string> Ids(const std::vector<HistoryRun>& runs) {
    std::vector<std::string> ids;
    for (const HistoryRun& r : runs) ids.push_back(r.id.toStdString());
    return ids;
}

class History : public ::testing::TestWithParam<Backend> {
protected:
    static void TearDownTestSuite() { s_server.reset(); }

    void SetUp() override {
        if (GetParam() == Backend::Sqlite) {
            // A lock held by another connection is given up on quickly.
            url = QStringLiteral("sqlite:%1?busy_timeout=50").arg(dir.filePath("history.sqlite"));
            return;
        }
#if defined(__SANITIZE_THREAD__)
        // Seen here: once this process has started one (QProcess, as the
        // server's programs are), TSan no longer sees its locks and reports
        // the history's guarded queue as a race. The SQLite cases start none.
        GTEST_SKIP() << "not under TSan: starting the server's programs blinds it to our locks";
#endif
        if (!s_server) s_server = std::make_unique<PgServer>();
        QString why;
        if (!s_server->Start(&why)) GTEST_SKIP() << "no PostgreSQL server: " << why.toStdString();
        url = s_server->Url(QStringLiteral("t%1").arg(++s_databases));
    }

    // Every run the database holds, oldest first.
    std::vector<HistoryRun> Runs(const HistoryFilter& filter = {}) const {
        QString error;
        CHistoryDb db(*ParseHistoryUrl(url, &error));
        std::optional<std::vector<HistoryRun>> runs;
        if (db.Open(&error)) runs = db.Query(filter, &error);
        EXPECT_TRUE(runs) << error.toStdString();
        return runs.value_or(std::vector<HistoryRun>{});
    }

    // The database stops taking runs: the server goes down, or another
    // connection holds the SQLite file's write lock.
    void Break() {
        if (GetParam() == Backend::Postgres) {
            ASSERT_TRUE(s_server->Stop());
            return;
        }
        QSqlDatabase lock = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), "lock");
        lock.setDatabaseName(dir.filePath("history.sqlite"));
        ASSERT_TRUE(lock.open());
        ASSERT_TRUE(QSqlQuery(lock).exec(QStringLiteral("BEGIN EXCLUSIVE")));
    }
    void Mend() {
        if (GetParam() == Backend::Postgres) {
            QString why;
            ASSERT_TRUE(s_server->Start(&why)) << why.toStdString();
            return;
        }
        QSqlQuery(QSqlDatabase::database("lock")).exec(QStringLiteral("COMMIT"));
        QSqlDatabase::database("lock").close();
        QSqlDatabase::removeDatabase("lock");
    }

    QStringList SpoolFiles() const {
        QStringList files;
        for (const QFileInfo& folder : QDir(spool).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot))
            for (const QString& name : QDir(folder.filePath()).entryList({"*.json"}))
                files << folder.filePath() + '/' + name;
        return files;
    }

    static inline std::unique_ptr<PgServer> s_server;
    static inline int s_databases = 0;
    QTemporaryDir dir;
    QString spool = dir.filePath("spool");
    QString url;
};

}  // namespace

// A run goes in whole and comes back whole, by either serial number and by
// its start; the schema's version is the program's.
TEST_P(History, ARunIsRecordedAndReadBack) {
    const HistoryRun early = MakeRun("Z4A00417", 1), late = MakeRun("Z4A00999", 2);
    {
        CHistory history(url, spool);
        history.Record(late);
        history.Record(early);
        ASSERT_TRUE(history.Drain(kGuardMs));
    }
    const std::vector<HistoryRun> runs = Runs();
    ASSERT_EQ(Ids(runs), Ids({early, late})) << "oldest first";
    EXPECT_EQ(HistoryRunToJson(runs[0]), HistoryRunToJson(early));
    EXPECT_EQ(runs[0].started, early.started);

    HistoryFilter f;
    f.serial = "Z4A00999";
    EXPECT_EQ(Ids(Runs(f)), Ids({late}));
    f.serial = "123456";  // the loader's
    EXPECT_EQ(Runs(f).size(), 2u);
    f.since = late.started;
    EXPECT_EQ(Ids(Runs(f)), Ids({late}));
    f.newestFirst = true;
    f.since = {};
    f.limit = 1;
    EXPECT_EQ(Ids(Runs(f)), Ids({late}));
    f.limit = 0;
    f.outcome = "Failed";
    EXPECT_TRUE(Runs(f).empty());

    QString error;
    CHistoryDb db(*ParseHistoryUrl(url, &error));
    ASSERT_TRUE(db.Open(&error)) << error.toStdString();
    EXPECT_EQ(db.SchemaVersion(), CHistoryDb::kSchemaVersion);
}

// A database that stops taking runs in the middle of a station's work is
// said once; its runs are kept and written when it answers again, by the same
// program or, after that ended, by the next; none twice.
TEST_P(History, ADatabaseThatStopsLosesNoRun) {
    const HistoryRun a = MakeRun("Z4A00001", 1), b = MakeRun("Z4A00002", 2),
                     c = MakeRun("Z4A00003", 3), d = MakeRun("Z4A00004", 4);
    QStringList said;
    QObject face;
    const auto say = [&](const QString& line) { said << line; };
    auto history = std::make_unique<CHistory>(url, spool);
    history->SetRetryMs(20);
    history->Record(a, &face, say);
    ASSERT_TRUE(history->Drain(kGuardMs));
    ASSERT_EQ(Runs().size(), 1u);

    Break();
    history->Record(b, &face, say);
    history->Record(c, &face, say);
    ASSERT_TRUE(WaitUntil([&] { return !said.isEmpty(); }, kGuardMs));
    ASSERT_TRUE(history->Drain(kGuardMs));  // c may come after b's failure is said
    EXPECT_TRUE(said[0].contains("cannot be written")) << said[0].toStdString();
    EXPECT_EQ(history->Unwritten(), 2);
    EXPECT_EQ(SpoolFiles().size(), 2);
    Mend();
    ASSERT_TRUE(WaitUntil([&] { return history->Unwritten() == 0; }, kGuardMs));
    ASSERT_TRUE(WaitUntil([&] { return said.size() == 2; }, kGuardMs));
    EXPECT_TRUE(said[1].contains("answers again")) << said[1].toStdString();

    Break();
    history->Record(d, &face, say);
    ASSERT_TRUE(history->Drain(kGuardMs));
    history.reset();  // the program ends
    Mend();
    QStringList kept = SpoolFiles();
    ASSERT_EQ(kept.size(), 1);
    // As if a run were tried again after the database took it.
    ASSERT_TRUE(QFile::copy(kept[0], QFileInfo(kept[0]).path() + "/again.json"));
    history = std::make_unique<CHistory>(url, spool);
    ASSERT_TRUE(history->Drain(kGuardMs));
    EXPECT_EQ(history->Unwritten(), 0);
    EXPECT_EQ(Ids(Runs()), Ids({a, b, c, d}));
    EXPECT_TRUE(SpoolFiles().isEmpty());
    EXPECT_EQ(said.size(), 2) << said.join('\n').toStdString();
}

// Two stations, two processes, recording at the same moment into one
// history: every run of both is there once.
TEST_P(History, TwoStationsWritingAtOnce) {
    QProcess stations[2];
    for (int i = 0; i < 2; ++i) {
        stations[i].setProcessChannelMode(QProcess::ForwardedChannels);
        stations[i].start(QCoreApplication::applicationFilePath(),
                          {"--record-runs", url, dir.filePath(QStringLiteral("spool%1").arg(i))});
    }
    for (QProcess& station : stations) {
        ASSERT_TRUE(station.waitForFinished(kGuardMs));
        EXPECT_EQ(station.exitCode(), 0);
    }
    const std::vector<std::string> ids = Ids(Runs());
    EXPECT_EQ(ids.size(), 2u * kChildRuns);
    EXPECT_EQ(std::set<std::string>(ids.begin(), ids.end()).size(), 2u * kChildRuns);
}

INSTANTIATE_TEST_SUITE_P(, History, ::testing::Values(Backend::Sqlite, Backend::Postgres),
                         [](const auto& info) {
                             return info.param == Backend::Sqlite ? "Sqlite" : "Postgres";
                         });

// The test program, or one station of TwoStationsWritingAtOnce:
// history_test --record-runs URL SPOOL records kChildRuns runs and ends.
int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc == 4 && QByteArray(argv[1]) == "--record-runs") {
        CHistory history(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]));
        for (int i = 0; i < kChildRuns; ++i) history.Record(MakeRun("Z4A00417", i % 60));
        return history.Drain(kGuardMs) && history.Unwritten() == 0 ? 0 : 1;
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
