#include "settings.h"

#include <QFile>
#include <QLocale>
#include <QSettings>
#include <QVariant>
#include <cctype>
#include <climits>
#include <optional>

#include "appinfo.h"

namespace {

// The maker's key "Software\Quorvex Solution", and the application's profile
// section below it, "<application title>\Quorvex Solution", as QSettings
// paths: the file holds them as [Software] with keys "Quorvex%20Solution\...".
const QString kMakerKey = QStringLiteral("Software/") + QLatin1String(kOrganization);
const QString kLanguageKey = kMakerKey + QLatin1Char('/') + QLatin1String(kAppTitle) +
                             QStringLiteral("/Quorvex Solution/UI");
const QString kPortOfMonitorKey = kMakerKey + QStringLiteral("/PortOfMonitor");

// The notation the maker's tools share for typed values: a 32-bit number is
// "dword:" and eight hex digits; a text that would read as a tagged value
// is stored behind "sz:".
constexpr QLatin1StringView kDwordTag("dword:");
constexpr QLatin1StringView kTextTag("sz:");

std::optional<std::uint32_t> DwordOf(const QString& stored) {
    if (!stored.startsWith(kDwordTag) || stored.size() != kDwordTag.size() + 8) return {};
    bool ok = false;
    const std::uint32_t value = stored.mid(kDwordTag.size()).toUInt(&ok, 16);
    return ok ? std::optional(value) : std::nullopt;
}

// A value as text: an unquoted hand-written one with commas reads as a list.
QString TextOf(const QVariant& value) {
    if (value.typeId() == QMetaType::QStringList) return value.toStringList().join(u',');
    return value.toString();
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

CSettings::CSettings() : m_check(CheckSettingsFile()) {
    if (m_check.refusal.isEmpty())
        m_store =
            std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope,
                                        QLatin1String(kOrganization), QLatin1String(kProductName));
}

CSettings::~CSettings() = default;

QVariant CSettings::Value(const QString& key) const {
    return m_store ? m_store->value(key) : QVariant();
}

// QSettings writes its whole parse back: lines it could not read, or read
// wrongly (a quotation mark left open takes in the lines after it), would be
// lost for good, so such a file is left for the operator to repair.
bool CSettings::Write(const QString& key, const QVariant& value) {
    if (!m_store || !m_check.readable || m_check.damaged) return false;
    m_store->setValue(key, value);
    m_store->sync();
    return m_store->status() == QSettings::NoError;
}

// A file Qt cannot parse may have handed these two values to a group it
// guessed; the language and the start-up port then keep their defaults,
// while the port map and the lists, which the operator is told about line
// by line, are read as far as they go.
bool CSettings::ParsesCleanly() const {
    return m_check.readable && !m_check.malformed;
}

int LanguageOfLocale(const QLocale& locale) {
    return locale.language() == QLocale::Chinese ? 0 : 1;
}

int CSettings::Language() const {
    return Language(QLocale::system());
}

int CSettings::Language(const QLocale& system) const {
    // The receiver tool started in Chinese without a stored choice, whatever
    // the desktop spoke; a new operator meets the desktop's language instead.
    const int fallback = LanguageOfLocale(system);
    if (!ParsesCleanly()) return fallback;
    const std::optional<std::uint32_t> stored = DwordOf(TextOf(Value(kLanguageKey)));
    return stored ? static_cast<int>(*stored) : fallback;
}

bool CSettings::SetLanguage(int language) {
    return Write(kLanguageKey,
                 kDwordTag + QStringLiteral("%1").arg(static_cast<std::uint32_t>(language), 8, 16,
                                                      QLatin1Char('0')));
}

QString CSettings::PortOfMonitor() const {
    if (!ParsesCleanly()) return {};
    const QString stored = TextOf(Value(kPortOfMonitorKey));
    if (stored.startsWith(kTextTag)) return stored.mid(kTextTag.size());
    return DwordOf(stored) ? QString() : stored;  // a number is no text
}

int CSettings::ComPortOfMonitor() const {
    return ParsePortOfMonitor(PortOfMonitor());
}

bool CSettings::SetPortOfMonitor(const QString& text) {
    const bool tagged = text.startsWith(kDwordTag) || text.startsWith(kTextTag);
    return Write(kPortOfMonitorKey, tagged ? kTextTag + text : text);
}

QString CSettings::LinkSetupPort() const {
    return TextOf(Value(QStringLiteral("Link/Port"))).trimmed();
}

bool CSettings::SetLinkSetupPort(const QString& port) {
    return Write(QStringLiteral("Link/Port"), port);
}

QString CSettings::FirmwarePackageFolder() const {
    return Value(QStringLiteral("Firmware/Package")).toString();
}

bool CSettings::SetFirmwarePackageFolder(const QString& folder) {
    return Write(QStringLiteral("Firmware/Package"), folder);
}

QString CSettings::HistoryDatabase() const {
    return Value(QStringLiteral("History/Database")).toString().trimmed();
}

QStringList CSettings::StationPorts() const {
    QStringList ports;
    for (const QString& port : Value(QStringLiteral("Station/Ports")).toStringList())
        if (!port.trimmed().isEmpty()) ports << port.trimmed();
    return ports;
}

bool CSettings::SetStationPorts(const QStringList& ports) {
    return Write(QStringLiteral("Station/Ports"), ports);
}

PortOverrides CSettings::PortMap() const {
    if (!m_store) return {};
    PortOverrides overrides;
    m_store->beginGroup(QStringLiteral("Ports"));
    for (const QString& key : m_store->childKeys()) {
        if (!key.startsWith(QLatin1String("COM"), Qt::CaseInsensitive)) continue;
        bool ok = false;
        const unsigned port = key.mid(3).toUInt(&ok, 10);
        if (!ok || port < 1 || port > MAX_PORT) continue;
        overrides[port] = QFile::encodeName(m_store->value(key).toString()).toStdString();
    }
    m_store->endGroup();
    return overrides;
}

std::vector<UsbId> CSettings::UsbIds() const {
    return ParseUsbIdList(TextOf(Value(QStringLiteral("Usb/Devices"))));
}

int ParsePortOfMonitor(const QString& text) {
    // Bytes, not characters: the three counted are those of the stored text.
    const QByteArray bytes = text.toUtf8();
    long long port = 0;
    if (!bytes.contains("COM") || !ScanDecimal(bytes.constData() + 3, port) || port < 1 ||
        port > 256)
        return 1;
    return static_cast<int>(port);
}
