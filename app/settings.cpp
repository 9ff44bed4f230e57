#include "settings.h"

#include <QFile>
#include <QSettings>
#include <QStringList>
#include <cctype>
#include <climits>

#include "appinfo.h"
#include "linksettings.h"
#include "regkeyex.h"
#include "settingsfile.h"

namespace {

// Lines QSettings cannot read, some of which it reads without complaint
// (a quotation mark left open takes in the lines after it), would be lost
// for good by a write: a file with any is left for the operator to repair.
bool MayWrite() {
    const SettingsFileCheck check = CheckSettingsFile();
    return check.refusal.isEmpty() && !check.damaged;
}

QString GetValue(const char* name) {
    if (!SettingsFilesUsable()) return {};
    CRegKeyEx key;
    if (key.Create(HKEY_CURRENT_USER, QString::fromLatin1(kSettingsKey)) != kRegSuccess) return {};
    QString text;
    key.QueryStringValue(name, text);  // empty on any failure
    return text;
}

void SetValue(const char* name, const QString& text) {
    if (!MayWrite()) return;
    CRegKeyEx key;
    if (key.Create(HKEY_CURRENT_USER, QString::fromLatin1(kSettingsKey)) != kRegSuccess) return;
    key.SetStringValue(name, text);
}

// Groups "Ports" and "Usb" sit at the top of the file, beside the
// registry-style keys, and are read with QSettings directly.
constexpr char kOrganization[] = "Quorvex Solution";
constexpr char kApplication[] = "QuorvexUpdate";

QString ProfileKey(const QString& section) {
    return QString::fromLatin1(kSettingsKey) + QLatin1Char('\\') + QString::fromLatin1(kAppTitle) +
           QLatin1Char('\\') + section;
}

// "%d" as sscanf reads it: leading white space, an optional sign, digits.
// Returns false when no digit follows; saturates instead of overflowing.
bool ScanDecimal(const char* p, long long& value) {
    while (*p && std::isspace(static_cast<unsigned char>(*p))) ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = (*p++ == '-');
    if (!std::isdigit(static_cast<unsigned char>(*p))) return false;
    long long number = 0;
    for (; std::isdigit(static_cast<unsigned char>(*p)); ++p) {
        if (number < LLONG_MAX / 10) number = number * 10 + (*p - '0');
    }
    value = negative ? -number : number;
    return true;
}

}  // namespace

QString GetPathOfMonitor() {
    return GetValue("PathOfMonitor");
}
QString GetPortOfMonitor() {
    return GetValue("PortOfMonitor");
}
QString GetBaudRateOfMonitor() {
    return GetValue("BaudRateOfMonitor");
}
QString GetBaudRateOfReceiver() {
    return GetValue("BaudRateOfReceiver");
}
void SetPathOfMonitor(const QString& text) {
    SetValue("PathOfMonitor", text);
}
void SetPortOfMonitor(const QString& text) {
    SetValue("PortOfMonitor", text);
}
void SetBaudRateOfMonitor(const QString& text) {
    SetValue("BaudRateOfMonitor", text);
}
void SetBaudRateOfReceiver(const QString& text) {
    SetValue("BaudRateOfReceiver", text);
}

std::optional<int> PortNumberAfterPrefix(const QString& text) {
    // Bytes, not characters: the three characters counted are those of the
    // stored 8-bit text.
    const QByteArray bytes = text.toUtf8();
    long long port = 0;
    if (bytes.size() < 3 || !ScanDecimal(bytes.constData() + 3, port) || port < 1 || port > 256)
        return std::nullopt;
    return int(port);
}

int ParsePortOfMonitor(const QString& text) {
    if (!text.toUtf8().contains("COM")) return 1;
    return PortNumberAfterPrefix(text).value_or(1);
}

int GetProfileInt(const QString& section, const char* entry, int defaultValue) {
    if (!SettingsFilesUsable()) return defaultValue;
    CRegKeyEx key;
    if (key.Create(HKEY_CURRENT_USER, ProfileKey(section)) != kRegSuccess) return defaultValue;
    std::uint32_t value = 0;
    if (key.QueryDWORDValue(entry, value) != kRegSuccess) return defaultValue;
    return static_cast<int>(value);
}

bool WriteProfileInt(const QString& section, const char* entry, int value) {
    if (!MayWrite()) return false;
    CRegKeyEx key;
    if (key.Create(HKEY_CURRENT_USER, ProfileKey(section)) != kRegSuccess) return false;
    return key.SetDWORDValue(entry, static_cast<std::uint32_t>(value)) == kRegSuccess;
}

QString GetFirmwarePackageFolder() {
    if (!SettingsFilesUsable()) return {};
    const QSettings settings(QSettings::IniFormat, QSettings::UserScope, kOrganization,
                             kApplication);
    return settings.value(QStringLiteral("Firmware/Package")).toString();
}

void SetFirmwarePackageFolder(const QString& folder) {
    if (!MayWrite()) return;
    // The key opens only on a store that reads and parses cleanly.
    CRegKeyEx check;
    if (check.Create(HKEY_CURRENT_USER, QStringLiteral("Firmware")) != kRegSuccess) return;
    check.Close();
    QSettings settings(QSettings::IniFormat, QSettings::UserScope, kOrganization, kApplication);
    settings.setValue(QStringLiteral("Firmware/Package"), folder);
}

QStringList GetStationPorts() {
    if (!SettingsFilesUsable()) return {};
    const QSettings settings(QSettings::IniFormat, QSettings::UserScope, kOrganization,
                             kApplication);
    QStringList ports;
    for (const QString& port : settings.value(QStringLiteral("Station/Ports")).toStringList())
        if (!port.trimmed().isEmpty()) ports << port.trimmed();
    return ports;
}

void SetStationPorts(const QStringList& ports) {
    if (!MayWrite()) return;
    CRegKeyEx check;
    if (check.Create(HKEY_CURRENT_USER, QStringLiteral("Station")) != kRegSuccess) return;
    check.Close();
    QSettings settings(QSettings::IniFormat, QSettings::UserScope, kOrganization, kApplication);
    settings.setValue(QStringLiteral("Station/Ports"), ports);
}

PortOverrides LoadPortOverrides() {
    if (!SettingsFilesUsable()) return {};
    QSettings settings(QSettings::IniFormat, QSettings::UserScope, kOrganization, kApplication);
    settings.beginGroup(QStringLiteral("Ports"));
    PortOverrides overrides;
    const QStringList keys = settings.childKeys();
    for (const QString& key : keys) {
        if (!key.startsWith(QLatin1String("COM"), Qt::CaseInsensitive)) continue;
        bool ok = false;
        const unsigned port = key.mid(3).toUInt(&ok, 10);
        if (!ok || port < 1 || port > MAX_PORT) continue;
        overrides[port] = QFile::encodeName(settings.value(key).toString()).toStdString();
    }
    return overrides;
}

std::vector<UsbId> LoadConfiguredUsbIds() {
    if (!SettingsFilesUsable()) return {};
    const QSettings settings(QSettings::IniFormat, QSettings::UserScope, kOrganization,
                             kApplication);
    // An unquoted "a:b,c:d" in the file reads back as a string list.
    return ParseUsbIdList(settings.value(QStringLiteral("Usb/Devices")).toStringList().join(u','));
}
