#pragma once

#include <QString>
#include <QStringList>
#include <optional>

// The program's persistent settings in the user's settings store (see
// regkeyex.h). Every accessor opens its own key and closes it before it
// returns; failures are silent: getters give an empty text or the default,
// setters do nothing. None touches a settings file that is not a regular
// file (settingsfile.h); the faces say so once, at start.

// Key shared by the maker's tools.
inline constexpr char kSettingsKey[] = "Software\\Quorvex Solution";

QString GetPathOfMonitor();
QString GetPortOfMonitor();
QString GetBaudRateOfMonitor();
QString GetBaudRateOfReceiver();
void SetPathOfMonitor(const QString& text);
void SetPortOfMonitor(const QString& text);
void SetBaudRateOfMonitor(const QString& text);
void SetBaudRateOfReceiver(const QString& text);

// The COM port number a "PortOfMonitor" text names: the decimal number read
// after the text's first three characters, provided "COM" occurs somewhere in
// it and the number lies in 1..256; 1 otherwise.
int ParsePortOfMonitor(const QString& text);
// The decimal number ("%d") read after a text's first three characters, when
// there is one and it lies in 1..256: "COM12" and "COM12 (ttyS11)" give 12.
std::optional<int> PortNumberAfterPrefix(const QString& text);

// Integers of the application's own profile, section by section, under
// "Software\Quorvex Solution\<application title>\<section>".
int GetProfileInt(const QString& section, const char* entry, int defaultValue);
bool WriteProfileInt(const QString& section, const char* entry, int value);

// The firmware package folder the operator chose in the window, group
// "Firmware", key "Package"; empty when none was chosen. A path may be
// longer than the 200 bytes registry-style values hold, so it has a group
// of its own; a damaged settings file is still never written over.
QString GetFirmwarePackageFolder();
void SetFirmwarePackageFolder(const QString& folder);

// The station's rows, group "Station", key "Ports", in row order: each a COM
// port ("COM200") or a device path. Empty entries are dropped when read; a
// damaged settings file is never written over.
QStringList GetStationPorts();
void SetStationPorts(const QStringList& ports);

// Profile section and entry of the interface language.
inline constexpr char kProfileSection[] = "Quorvex Solution";
inline constexpr char kLanguageEntry[] = "UI";
