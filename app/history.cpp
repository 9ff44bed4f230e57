#include "history.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QSaveFile>
#include <chrono>

#include "datafolders.h"

namespace {

// Runs written in one transaction when many wait (a database that answers
// again after a day of runs, or another station's spool).
constexpr std::size_t kBatch = 500;

// Tries op on the open database; a connection that broke since it was last
// used (a server restarted) is opened once more before the database counts
// as down.
template <typename Op>
bool Try(CHistoryDb& db, Op op, QString* error) {
    if (db.IsOpen() && op(error)) return true;
    db.Close();
    return db.Open(error) && op(error);
}

}  // namespace

QString HistorySpoolFolder() {
    return UserStateFolder() + QStringLiteral("/history-spool");
}

CHistory::CHistory(const QString& url, QString spoolRoot, QObject* parent) : QObject(parent) {
    m_target = ParseHistoryUrl(url, &m_urlError);
    // One folder per database: a run kept for the shared server is never
    // written into a local file, nor the other way round.
    const QString key = m_target ? m_target->shown : url;
    m_spool =
        spoolRoot + QLatin1Char('/') +
        QString::fromLatin1(
            QCryptographicHash::hash(key.toUtf8(), QCryptographicHash::Sha256).toHex().left(16));
    m_nAsked = 1;  // reading the spool: Drain waits for it too
    m_thread = std::thread([this] { Work(); });
}

CHistory::~CHistory() {
    {
        const std::lock_guard lock(m_mutex);
        m_bStop = true;
    }
    m_wake.notify_all();
    m_thread.join();
}

QString CHistory::Shown() const {
    return m_target ? m_target->shown : QString();
}

void CHistory::Record(const HistoryRun& run, QObject* context, Say say) {
    if (context) {
        m_sayContext = context;
        m_say = std::move(say);
    }
    if (!m_unsaid.isEmpty() && m_sayContext && m_say) m_say(std::exchange(m_unsaid, {}));
    ++m_nUnwritten;
    {
        const std::lock_guard lock(m_mutex);
        m_tasks.push_back({run, {}, 0});
        ++m_nAsked;
    }
    m_wake.notify_one();
}

void CHistory::Query(const HistoryFilter& filter, QObject* context, Answer answer) {
    const int id = ++m_nNextAnswer;
    m_waiting[id] = {context, std::move(answer)};
    {
        const std::lock_guard lock(m_mutex);
        m_tasks.push_back({std::nullopt, filter, id});
        ++m_nAsked;
    }
    m_wake.notify_one();
}

bool CHistory::Drain(int timeoutMs) {
    std::unique_lock lock(m_mutex);
    const std::uint64_t asked = m_nAsked;
    return m_idle.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                           [&] { return m_nDone >= asked; });
}

void CHistory::Tell(const QString& line, bool trouble) {
    if (m_sayContext && m_say)
        m_say(line);
    else  // nobody heard of the trouble: nobody needs to hear it is over
        m_unsaid = trouble ? line : QString();
}

// ------------------------------------------------------ the history's thread

void CHistory::Work() {
    // Made here: a Qt SQL connection belongs to the thread that made it.
    std::optional<CHistoryDb> db;
    if (m_target) db.emplace(*m_target);
    std::deque<Spooled> pending = ReadSpool();
    m_nUnwritten += static_cast<int>(pending.size());
    bool attempt = true;  // the spool's runs, before any wait
    std::uint64_t spoolRead = 1;
    auto retryAt = std::chrono::steady_clock::now();
    for (;;) {
        std::deque<Task> tasks;
        bool stop = false;
        {
            std::unique_lock lock(m_mutex);
            const auto due = [this] { return !m_tasks.empty() || m_bStop; };
            if (!attempt && m_bDown && !pending.empty())
                attempt = !m_wake.wait_until(lock, retryAt, due);
            else if (!attempt)
                m_wake.wait(lock, due);
            tasks.swap(m_tasks);
            stop = m_bStop;
        }
        for (const Task& task : tasks) {
            if (!task.run) continue;
            pending.push_back(Spool(*task.run));
            attempt = true;
        }
        // At the end a database that is down is not waited for: its runs
        // are in the spool.
        if (stop && m_bDown) attempt = false;
        if (attempt && !pending.empty() && !Flush(db ? &*db : nullptr, pending))
            retryAt = std::chrono::steady_clock::now() + std::chrono::milliseconds(m_nRetryMs);
        attempt = false;
        for (const Task& task : tasks) {
            if (task.run) continue;
            QString error = m_urlError;
            std::vector<HistoryRun> runs;
            if (db)
                Try(
                    *db,
                    [&](QString* e) {
                        auto found = db->Query(task.filter, e);
                        if (found) runs = std::move(*found);
                        return found.has_value();
                    },
                    &error);
            QMetaObject::invokeMethod(
                this,
                [this, id = task.answer, runs = std::move(runs), error] {
                    const auto it = m_waiting.find(id);
                    if (it == m_waiting.end()) return;
                    const Waiting waiting = std::move(it->second);
                    m_waiting.erase(it);
                    if (waiting.context) waiting.answer(runs, error);
                },
                Qt::QueuedConnection);
        }
        {
            const std::lock_guard lock(m_mutex);
            m_nDone += tasks.size() + std::exchange(spoolRead, 0);
        }
        m_idle.notify_all();
        if (stop) return;
    }
}

bool CHistory::Flush(CHistoryDb* db, std::deque<Spooled>& pending) {
    QString error = m_urlError;
    while (db && !pending.empty()) {
        const std::size_t n = std::min(pending.size(), kBatch);
        std::vector<HistoryRun> batch;
        for (std::size_t i = 0; i < n; ++i) batch.push_back(pending[i].run);
        if (!Try(
                *db, [&](QString* e) { return db->Insert(batch, e); }, &error))
            break;
        for (std::size_t i = 0; i < n; ++i) {
            if (!pending.front().file.isEmpty()) QFile::remove(pending.front().file);
            pending.pop_front();
        }
        m_nUnwritten -= static_cast<int>(n);
    }
    if (pending.empty()) {
        if (std::exchange(m_bDown, false))
            Post(tr("The history database %1 answers again; the runs kept meanwhile are written.")
                     .arg(Shown()),
                 false);
        return true;
    }
    if (m_bDown) return false;
    m_bDown = true;
    const bool spoolBroken = std::any_of(pending.begin(), pending.end(),
                                         [](const Spooled& s) { return s.file.isEmpty(); });
    QString line = tr("The history database %1 cannot be written (%2); the update goes on, and "
                      "its runs are kept until the database answers.")
                       .arg(m_target ? m_target->shown : QStringLiteral("setting"), error);
    if (spoolBroken)
        line += QLatin1Char(' ') + tr("They cannot be kept in %1 either: they are lost when the "
                                      "program ends.")
                                       .arg(m_spool);
    Post(line, true);
    return false;
}

void CHistory::Post(const QString& line, bool trouble) {
    QMetaObject::invokeMethod(
        this, [this, line, trouble] { Tell(line, trouble); }, Qt::QueuedConnection);
}

std::deque<CHistory::Spooled> CHistory::ReadSpool() const {
    std::deque<Spooled> runs;
    const QDir dir(m_spool);
    // The names begin with the run's start: the oldest is written first.
    for (const QString& name : dir.entryList({QStringLiteral("*.json")}, QDir::Files, QDir::Name)) {
        QFile file(dir.filePath(name));
        HistoryRun run;
        // A file that is not a run is left for the operator to look at.
        if (file.open(QIODevice::ReadOnly) &&
            HistoryRunFromJson(QJsonDocument::fromJson(file.readAll()).object(), &run))
            runs.push_back({run, file.fileName()});
    }
    return runs;
}

CHistory::Spooled CHistory::Spool(const HistoryRun& run) const {
    if (!QDir().mkpath(m_spool)) return {run, {}};
    // Says which database the folder's runs are for, to whoever looks.
    if (QFile target(m_spool + QStringLiteral("/database"));
        !target.exists() && target.open(QIODevice::WriteOnly))
        target.write((m_target ? m_target->shown : m_urlError).toUtf8() + '\n');
    QSaveFile file(m_spool + QLatin1Char('/') +
                   run.started.toUTC().toString(QStringLiteral("yyyyMMddTHHmmsszzz")) +
                   QLatin1Char('-') + run.id + QStringLiteral(".json"));
    if (file.open(QIODevice::WriteOnly) &&
        file.write(QJsonDocument(HistoryRunToJson(run)).toJson(QJsonDocument::Compact)) > 0 &&
        file.commit())
        return {run, file.fileName()};
    return {run, {}};
}
