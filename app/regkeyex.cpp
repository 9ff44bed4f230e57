#include "regkeyex.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStringList>
#include <QTemporaryFile>
#include <QVariant>

namespace {

constexpr char kOrganization[] = "Quorvex Solution";
constexpr char kApplication[] = "QuorvexUpdate";
constexpr char kDwordTag[] = "dword:";
constexpr char kTextTag[] = "sz:";

std::unique_ptr<QSettings> OpenStore() {
    return std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope, kOrganization,
                                       kApplication);
}

// QSettings keeps one parsed copy of a file per process and reports a parse
// error only to the object that read it first; later objects see "no error"
// and would write the partial parse back over the operator's file. So the
// file is judged afresh, from a private copy that no cache knows.
std::int32_t CheckStoreFile(const QString& path) {
    const QFileInfo info(path);
    if (!info.exists()) return kRegSuccess;  // a missing store is an empty one
    if (!info.isFile()) return kRegAccessDenied;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return kRegAccessDenied;
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) return kRegAccessDenied;
    if (bytes.isEmpty()) return kRegSuccess;

    QTemporaryFile copy;
    copy.setFileTemplate(QDir::tempPath() + QStringLiteral("/quorvex-store-XXXXXX.ini"));
    if (!copy.open() || copy.write(bytes) != bytes.size() || !copy.flush()) {
        // Nothing to judge with: trust the store's own parse.
        return kRegSuccess;
    }
    QSettings check(copy.fileName(), QSettings::IniFormat);
    check.allKeys();  // parse every section, not just the first one asked for
    switch (check.status()) {
        case QSettings::NoError:
            return kRegSuccess;
        case QSettings::FormatError:
            return kRegCorrupt;
        case QSettings::AccessError:
            return kRegAccessDenied;
    }
    return kRegCorrupt;
}

std::int32_t StatusOf(const QSettings& settings) {
    switch (settings.status()) {
        case QSettings::NoError:
            return kRegSuccess;
        case QSettings::AccessError:
            return kRegAccessDenied;
        case QSettings::FormatError:
            return kRegCorrupt;
    }
    return kRegCorrupt;
}

QString EncodeText(const QString& text) {
    if (text.startsWith(QLatin1String(kDwordTag)) || text.startsWith(QLatin1String(kTextTag)))
        return QLatin1String(kTextTag) + text;
    return text;
}

QString EncodeDword(std::uint32_t value) {
    return QLatin1String(kDwordTag) + QStringLiteral("%1").arg(value, 8, 16, QLatin1Char('0'));
}

// Stored text back to a registry type and its data bytes.
void Decode(const QString& stored, std::uint32_t& type, QByteArray& data) {
    if (stored.startsWith(QLatin1String(kDwordTag))) {
        const QString digits = stored.mid(int(sizeof kDwordTag) - 1);
        bool ok = false;
        const std::uint32_t value = digits.toUInt(&ok, 16);
        if (ok && digits.size() == 8) {
            type = kRegDword;
            data.resize(4);
            for (int i = 0; i < 4; ++i) data[i] = char((value >> (8 * i)) & 0xFF);
            return;
        }
    }
    const QString text =
        stored.startsWith(QLatin1String(kTextTag)) ? stored.mid(int(sizeof kTextTag) - 1) : stored;
    type = kRegSz;
    data = text.toUtf8();
    data.append('\0');
}

}  // namespace

CRegKeyEx::CRegKeyEx() = default;

CRegKeyEx::~CRegKeyEx() {
    Close();
}

std::int32_t CRegKeyEx::Create(RegRoot parent, const QString& subKey) {
    Q_ASSERT(!m_hKey);
    Q_UNUSED(parent);  // one root only
    m_strKeyName = subKey;
    Close();

    auto store = OpenStore();
    std::int32_t status = StatusOf(*store);
    if (status == kRegSuccess) status = CheckStoreFile(store->fileName());
    if (status != kRegSuccess) return status;

    // Keys need no creating in a file: a group exists as soon as it holds a
    // value, and an empty one has no form in INI. Nor are keys volatile here,
    // since a value under a volatile key would vanish at the next restart.
    QString group = subKey;
    group.replace(QLatin1Char('\\'), QLatin1Char('/'));
    store->beginGroup(group);
    m_hKey = std::move(store);
    return kRegSuccess;
}

void CRegKeyEx::Close() {
    m_hKey.reset();
}

std::int32_t CRegKeyEx::WriteValue(const char* valueName, const QString& stored) {
    Q_ASSERT(m_hKey && valueName);
    if (!m_hKey || !valueName) return kRegAccessDenied;
    m_hKey->setValue(QString::fromUtf8(valueName), stored);
    m_hKey->sync();
    return StatusOf(*m_hKey);
}

std::int32_t CRegKeyEx::SetStringValue(const char* valueName, const QString& text) {
    return WriteValue(valueName, EncodeText(text));
}

std::int32_t CRegKeyEx::SetDWORDValue(const char* valueName, std::uint32_t value) {
    return WriteValue(valueName, EncodeDword(value));
}

std::int32_t CRegKeyEx::QueryRawValue(const char* valueName, std::uint32_t& type,
                                      QByteArray& data) {
    Q_ASSERT(m_hKey && valueName);
    type = 0;
    data.clear();
    if (!m_hKey || !valueName) return kRegAccessDenied;
    const QVariant value = m_hKey->value(QString::fromUtf8(valueName));
    if (!value.isValid()) return kRegNotFound;
    switch (value.typeId()) {
        case QMetaType::QByteArray:
            type = kRegBinary;
            data = value.toByteArray();
            break;
        case QMetaType::QStringList:
            // An unquoted hand-written value with commas in it.
            Decode(value.toStringList().join(QLatin1Char(',')), type, data);
            break;
        default:
            Decode(value.toString(), type, data);
            break;
    }
    return kRegSuccess;
}

std::int32_t CRegKeyEx::QueryStringValue(const char* valueName, QString& value) {
    value.clear();
    std::uint32_t type = 0;
    QByteArray data;
    const std::int32_t status = QueryRawValue(valueName, type, data);
    if (status != kRegSuccess) return status;
    if (data.size() > kRegStringBufferBytes) return kRegMoreData;
    const qsizetype end = data.indexOf('\0');
    value = QString::fromUtf8(end < 0 ? data : data.left(end));
    return kRegSuccess;
}

std::int32_t CRegKeyEx::QueryDWORDValue(const char* valueName, std::uint32_t& value) {
    value = 0;
    std::uint32_t type = 0;
    QByteArray data;
    const std::int32_t status = QueryRawValue(valueName, type, data);
    if (status != kRegSuccess) return status;
    if (data.size() > 4) return kRegMoreData;
    std::uint32_t number = 0;
    for (qsizetype i = 0; i < data.size(); ++i)
        number |= std::uint32_t(std::uint8_t(data[i])) << (8 * i);
    value = number;
    return kRegSuccess;
}
