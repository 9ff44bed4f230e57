#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "historydb.h"

// $XDG_STATE_HOME/quorvexupdate/history-spool, or
// ~/.local/state/quorvexupdate/history-spool.
QString HistorySpoolFolder();

// The history of every run, kept in a database on a thread of its own, so
// that no update waits for it. Each run is first put in a spool file (a
// folder per database under spoolRoot) and the file is removed once the
// database has taken the run: a database that is down or refuses loses
// nothing, even when the program ends meanwhile. While it does not answer it
// is tried again every RetryMs and at every new run; the next program to use
// it writes what this one could not. A run is written once however often it
// is tried: its id is the table's key.
class CHistory : public QObject {
    Q_OBJECT

public:
    // url as --history-db and the settings file give it (historydb.h).
    explicit CHistory(const QString& url, QString spoolRoot = HistorySpoolFolder(),
                      QObject* parent = nullptr);
    // Writes what is queued if the database answers, then stops; what it
    // does not take stays in the spool.
    ~CHistory() override;

    // The database, as messages name it.
    QString Shown() const;

    // What a recorder is told, on this thread: once when the database stops
    // taking runs, once when it takes them again.
    using Say = std::function<void(const QString& line)>;
    // Queues the run and returns at once. The news about the database goes to
    // the last recorder that recorded, while it lives (context).
    void Record(const HistoryRun& run, QObject* context = nullptr, Say say = {});

    using Answer = std::function<void(const std::vector<HistoryRun>& runs, const QString& error)>;
    // Runs the query on the history's thread; the answer comes on this
    // thread, unless context is gone by then.
    void Query(const HistoryFilter& filter, QObject* context, Answer answer);

    // Waits, at most timeoutMs, until the history's thread has taken up
    // everything asked of it so far, and the runs the spool held at the
    // start: each run written, or kept in the spool and the trouble posted.
    // False when the time ran out.
    bool Drain(int timeoutMs);

    void SetRetryMs(int ms) { m_nRetryMs = ms; }
    // Runs recorded (or found in the spool) and not yet in the database.
    int Unwritten() const { return m_nUnwritten; }

private:
    struct Task {
        std::optional<HistoryRun> run;
        HistoryFilter filter;
        int answer = 0;
    };
    struct Spooled {
        HistoryRun run;
        QString file;  // empty when it could not be written
    };
    struct Waiting {
        QPointer<QObject> context;
        Answer answer;
    };

    // On the history's thread.
    void Work();
    std::deque<Spooled> ReadSpool() const;
    Spooled Spool(const HistoryRun& run) const;
    // Writes what is pending; false when the database did not take it all.
    bool Flush(CHistoryDb* db, std::deque<Spooled>& pending);
    // Hands news about the database to the owner's thread.
    void Post(const QString& line, bool trouble);

    // On the owner's thread.
    void Tell(const QString& line, bool trouble);

    std::optional<HistoryTarget> m_target;
    QString m_urlError;  // why the URL names no database
    QString m_spool;     // this database's spool folder

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    std::deque<Task> m_tasks;                 // under m_mutex
    bool m_bStop = false;                     // under m_mutex
    std::uint64_t m_nAsked = 0, m_nDone = 0;  // tasks, under m_mutex
    std::atomic<int> m_nRetryMs{10000};
    std::atomic<int> m_nUnwritten{0};
    bool m_bDown = false;  // the history's thread only
    std::thread m_thread;

    // The owner's thread only.
    QPointer<QObject> m_sayContext;
    Say m_say;
    QString m_unsaid;  // news that came when no recorder was there to hear it
    std::map<int, Waiting> m_waiting;
    int m_nNextAnswer = 0;
};
