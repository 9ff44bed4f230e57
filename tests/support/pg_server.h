#pragma once

// A PostgreSQL server of a test's (or a benchmark's) own: a cluster made in
// a temporary folder, listening on a Unix socket there and on no TCP port,
// stopped when the object goes. initdb and pg_ctl refuse to run as root: as
// root they run as the postgres user, whom the package makes.

#include <pwd.h>
#include <unistd.h>

#include <QDir>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

class PgServer {
public:
    ~PgServer() { Stop(); }

    // Makes the cluster the first time, then starts the server and waits
    // until it takes connections. False with the reason.
    bool Start(QString* why) {
        if (m_bRunning) return true;
        const QStringList versions = QDir(QStringLiteral("/usr/lib/postgresql"))
                                         .entryList(QDir::Dirs | QDir::NoDotAndDotDot);
        m_bin = versions.isEmpty()
                    ? QString()
                    : QStringLiteral("/usr/lib/postgresql/%1/bin/").arg(versions.last());
        if (m_bin.isEmpty() || !QDir(m_bin).exists(QStringLiteral("pg_ctl"))) {
            *why = QStringLiteral("PostgreSQL's server programs are not installed (postgresql)");
            return false;
        }
        if (!m_dir.isValid()) {
            *why = QStringLiteral("no temporary folder");
            return false;
        }
        if (::geteuid() == 0) {
            const passwd* pg = ::getpwnam("postgres");
            if (!pg ||
                ::chown(m_dir.path().toLocal8Bit().constData(), pg->pw_uid, pg->pw_gid) != 0) {
                *why = QStringLiteral("no postgres user to run the server as");
                return false;
            }
        }
        if (!m_bMade &&
            !Run(QStringLiteral("initdb"),
                 {QStringLiteral("-D"), Data(), QStringLiteral("-A"), QStringLiteral("trust"),
                  QStringLiteral("-U"), QStringLiteral("postgres")},
                 why))
            return false;
        m_bMade = true;
        m_bRunning = Run(
            QStringLiteral("pg_ctl"),
            {QStringLiteral("-D"), Data(), QStringLiteral("-o"),
             QStringLiteral("-k %1 -p %2 -h ''").arg(m_dir.path()).arg(kPort), QStringLiteral("-w"),
             QStringLiteral("-t"), QStringLiteral("60"), QStringLiteral("-l"),
             m_dir.filePath(QStringLiteral("log")), QStringLiteral("start")},
            why);
        return m_bRunning;
    }

    // A fast shutdown: the connections are cut, as when a server goes down.
    bool Stop() {
        if (!m_bRunning) return true;
        QString why;
        m_bRunning = !Run(QStringLiteral("pg_ctl"),
                          {QStringLiteral("-D"), Data(), QStringLiteral("-m"),
                           QStringLiteral("fast"), QStringLiteral("-w"), QStringLiteral("stop")},
                          &why);
        return !m_bRunning;
    }

    // A database of the server's, made on the first call.
    QString Url(const QString& database) {
        QString why;
        if (!m_made.contains(database) &&
            Run(QStringLiteral("createdb"),
                {QStringLiteral("-h"), m_dir.path(), QStringLiteral("-p"), QString::number(kPort),
                 QStringLiteral("-U"), QStringLiteral("postgres"), database},
                &why))
            m_made << database;
        return QStringLiteral("postgresql:///%1?host=%2&port=%3&user=postgres")
            .arg(database, m_dir.path())
            .arg(kPort);
    }

private:
    // No TCP: the port only names the socket in the folder.
    static constexpr int kPort = 5432;

    QString Data() const { return m_dir.filePath(QStringLiteral("db")); }

    bool Run(const QString& program, const QStringList& args, QString* why) const {
        QProcess p;
        p.setProcessChannelMode(QProcess::MergedChannels);
        if (::geteuid() == 0)
            p.start(QStringLiteral("runuser"),
                    QStringList{QStringLiteral("-u"), QStringLiteral("postgres"),
                                QStringLiteral("--"), m_bin + program} +
                        args);
        else
            p.start(m_bin + program, args);
        if (!p.waitForFinished(120000) || p.exitStatus() != QProcess::NormalExit ||
            p.exitCode() != 0) {
            *why = QStringLiteral("%1 failed: %2")
                       .arg(program, QString::fromLocal8Bit(p.readAll()).trimmed() +
                                         (p.error() == QProcess::UnknownError ? QString()
                                                                              : p.errorString()));
            return false;
        }
        return true;
    }

    QTemporaryDir m_dir;
    QString m_bin;
    QStringList m_made;
    bool m_bMade = false;
    bool m_bRunning = false;
};
