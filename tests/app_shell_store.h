#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QSettings>
#include <QString>
#include <QTemporaryDir>

// A private settings store for one test: the INI file lives in a fresh
// temporary folder, never in the user's own configuration.
class ShellStore {
public:
    ShellStore() { QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_dir.path()); }
    QString Dir() const { return m_dir.path(); }
    QString File() const { return m_dir.path() + "/Quorvex Solution/QuorvexUpdate.ini"; }
    void WriteFile(const QByteArray& bytes) const {
        QDir().mkpath(m_dir.path() + "/Quorvex Solution");
        QFile file(File());
        file.open(QIODevice::WriteOnly | QIODevice::Truncate);
        file.write(bytes);
    }
    QByteArray ReadFile() const {
        QFile file(File());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    // What another component of the program sees in the same file.
    QVariant Raw(const QString& key) const {
        QSettings s(QSettings::IniFormat, QSettings::UserScope, "Quorvex Solution",
                    "QuorvexUpdate");
        return s.value(key);
    }

private:
    QTemporaryDir m_dir;
};
