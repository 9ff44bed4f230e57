#pragma once

#include <QSettings>
#include <QString>
#include <cstdlib>
#include <filesystem>
#include <string>

// Points the settings store of this process at a fresh temporary directory,
// so a test maps COM numbers to its own pseudo-terminals and never sees (or
// changes) the user's settings.
class TempSettings {
public:
    TempSettings() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "serialtest.XXXXXX").string();
        if (::mkdtemp(pattern.data()) != nullptr) m_dir = pattern;
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope,
                           QString::fromStdString(m_dir));
    }
    ~TempSettings() {
        std::error_code ignored;
        if (!m_dir.empty()) std::filesystem::remove_all(m_dir, ignored);
    }
    TempSettings(const TempSettings&) = delete;
    TempSettings& operator=(const TempSettings&) = delete;

    bool IsReady() const { return !m_dir.empty(); }
    const std::string& Dir() const { return m_dir; }

    // Ports/COM<port> = device, as an operator would write it.
    void MapPort(unsigned port, const std::string& device) {
        QSettings settings(QSettings::IniFormat, QSettings::UserScope,
                           QStringLiteral("Quorvex Solution"), QStringLiteral("QuorvexUpdate"));
        settings.setValue(QStringLiteral("Ports/COM%1").arg(port), QString::fromStdString(device));
        settings.sync();
    }

private:
    std::string m_dir;
};
