#pragma once

#include <QString>
#include <QStringList>
#include <memory>
#include <vector>

#include "comports.h"
#include "settingsfile.h"
#include "usbid.h"

class QLocale;
class QSettings;
class QVariant;

// The interface language a desktop in this locale speaks: 0 Chinese for
// every zh locale, 1 English for any other.
int LanguageOfLocale(const QLocale& locale);

// The program's settings: the user's INI file that settingsfile.h locates,
// read and written through QSettings, with the key paths and value notation
// the maker's tools share, so a file written by any of them reads the same.
//
// Each object looks at the file once, when it is made; make one where the
// settings are needed rather than keeping one. Values are checked as they
// are read and a value that does not check reads as its default, as does
// every value of a file that is refused (not a regular file). A file that
// is damaged or cannot be read is never written: setters return false.
class CSettings {
public:
    CSettings();
    ~CSettings();
    CSettings(const CSettings&) = delete;
    CSettings& operator=(const CSettings&) = delete;

    // What was found when the file was looked at.
    const SettingsFileCheck& Check() const { return m_check; }

    // "UI" in the application's profile section: 0 Chinese, 1 English; the
    // desktop's language (LanguageOfLocale of system) when missing. Any
    // other stored number is kept as it is.
    int Language() const;
    int Language(const QLocale& system) const;
    bool SetLanguage(int language);

    // "PortOfMonitor" under the maker's key "Software\Quorvex Solution",
    // shared with the maker's other tools: the text, and the COM number it
    // gives the window at start (ParsePortOfMonitor).
    QString PortOfMonitor() const;
    int ComPortOfMonitor() const;
    bool SetPortOfMonitor(const QString& text);

    // The Link Setup choice of the last run, group "Link", key "Port": "COMn"
    // or "USB"; empty when none was made.
    QString LinkSetupPort() const;
    bool SetLinkSetupPort(const QString& port);

    // The firmware package folder chosen in the window, group "Firmware",
    // key "Package"; empty when none was chosen.
    QString FirmwarePackageFolder() const;
    bool SetFirmwarePackageFolder(const QString& folder);

    // Where the history of runs is kept, group "History", key "Database": a
    // file or a PostgreSQL URL (historydb.h); empty for the user's own file.
    // Read only: the operator writes it.
    QString HistoryDatabase() const;

    // The station's rows, group "Station", key "Ports", in row order: each a
    // COM port ("COM200") or a device path. Empty entries are dropped.
    QStringList StationPorts() const;
    bool SetStationPorts(const QStringList& ports);

    // Devices the operator gave COM numbers in group "Ports" (COM1..COM256 =
    // path; an empty path takes the number out of use). Other keys are
    // ignored. Read only: the operator writes them.
    PortOverrides PortMap() const;
    // The receiver's vendor:product ids in group "Usb", key "Devices"
    // ("1234:5678,abcd:ef01"); empty when none are set. Read only.
    std::vector<UsbId> UsbIds() const;

private:
    QVariant Value(const QString& key) const;
    bool Write(const QString& key, const QVariant& value);
    bool ParsesCleanly() const;

    SettingsFileCheck m_check;
    std::unique_ptr<QSettings> m_store;  // none when the file is refused
};

// The COM port number a "PortOfMonitor" text names: the decimal number read
// after the text's first three bytes, provided "COM" occurs somewhere in it
// and the number lies in 1..256; 1 otherwise.
int ParsePortOfMonitor(const QString& text);
