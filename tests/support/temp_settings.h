#pragma once

#include <QSettings>
#include <QStandardPaths>
#include <QString>
#include <QTemporaryDir>

// Points the settings store at a fresh directory for the life of the object,
// so no test reads or writes the user's own settings.
class TempSettings {
public:
    TempSettings() {
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_dir.path());
        qputenv("XDG_CONFIG_HOME", m_dir.path().toUtf8());
    }
    QString Path() const { return m_dir.path(); }
    // Gives a COM number a device, as an operator would in the settings file.
    void MapPort(int number, const QString& device) {
        QSettings s(QSettings::IniFormat, QSettings::UserScope, "Quorvex Solution",
                    "QuorvexUpdate");
        s.setValue(QStringLiteral("Ports/COM%1").arg(number), device);
        s.sync();
    }

private:
    QTemporaryDir m_dir;
};
