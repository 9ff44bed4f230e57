#include "settingsfile.h"

#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QStringList>
#include <QTemporaryFile>

#include "appinfo.h"
#include "textescape.h"

namespace {

// A settings file holds a few lines; one this big is something else.
constexpr qint64 kMaxSettingsFile = 1 << 20;
constexpr std::size_t kShownLines = 20;

// The folder QSettings keeps its INI files of a scope in (setPath, else
// XDG_CONFIG_HOME or /etc/xdg), learnt without opening any file that may
// exist: the file of an organisation no one has names it.
QString StoreFolder(QSettings::Scope scope) {
    const QString organization = QStringLiteral("\x01quorvex-probe");
    const QSettings probe(QSettings::IniFormat, scope, organization, QStringLiteral("x"));
    const QString file = probe.fileName();  // <folder>/<organization>/x.ini
    return file.left(file.size() - organization.size() - 6);
}

// Every file QSettings reads for the program, its own first.
QStringList StoreFiles() {
    QStringList files;
    for (const auto scope : {QSettings::UserScope, QSettings::SystemScope}) {
        const QString folder = StoreFolder(scope);
        files << folder + QLatin1String(kOrganization) + QLatin1Char('/') +
                     QLatin1String(kProductName) + QStringLiteral(".ini")
              << folder + QLatin1String(kOrganization) + QStringLiteral(".ini");
    }
    return files;
}

// Why QSettings must not open path; empty when it may, missing included.
QString Refusal(const QString& path) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0) return {};
    const QString what = S_ISDIR(st.st_mode)                          ? QStringLiteral("a folder")
                         : S_ISFIFO(st.st_mode)                       ? QStringLiteral("a FIFO")
                         : S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode) ? QStringLiteral("a device")
                         : S_ISSOCK(st.st_mode)                       ? QStringLiteral("a socket")
                                                                      : QString();
    if (!what.isEmpty()) return QStringLiteral("%1 is %2, not a regular file").arg(path, what);
    if (st.st_size > kMaxSettingsFile)
        return QStringLiteral("%1 is %2 bytes, more than a settings file holds")
            .arg(path)
            .arg(st.st_size);
    return {};
}

QString FirstRefusal() {
    for (const QString& file : StoreFiles())
        if (QString why = Refusal(file); !why.isEmpty()) return why;
    return {};
}

// Whether QSettings finds the text malformed, judged on a private copy:
// QSettings reports a parse error only to the first reader of a file.
bool QtFindsItMalformed(const QByteArray& text) {
    QTemporaryFile copy(QDir::tempPath() + QStringLiteral("/quorvex-check-XXXXXX.ini"));
    if (!copy.open() || copy.write(text) != text.size() || !copy.flush()) return false;
    QSettings check(copy.fileName(), QSettings::IniFormat);
    check.allKeys();
    return check.status() == QSettings::FormatError;
}

QString Shown(const QByteArray& line) {
    constexpr qsizetype kShown = 60;
    const QByteArray cut = line.left(kShown);
    return QString::fromStdString(EscapedForDisplay(cut.toStdString())) +
           (line.size() > kShown ? QStringLiteral("...") : QString());
}

// A logical line from text[at]: where it ends (after its line break), and
// how many line breaks a quotation mark held open, which QSettings reads
// into the value (a backslash before a line break is a continuation).
struct LogicalLine {
    qsizetype end = 0;
    int quotedBreaks = 0;
};

LogicalLine ScanLine(const QByteArray& text, qsizetype at) {
    LogicalLine line{text.size(), 0};
    bool inQuotes = false;
    for (qsizetype i = at; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\\') {
            ++i;
        } else if (c == '"') {
            inQuotes = !inQuotes;
        } else if (c == '\n' && inQuotes) {
            ++line.quotedBreaks;
        } else if (c == '\n') {
            line.end = i + 1;
            break;
        }
    }
    return line;
}

}  // namespace

std::vector<UnreadableSettingsLine> UnreadableIniLines(const QByteArray& text) {
    std::vector<UnreadableSettingsLine> lines;
    QString group;
    qsizetype at = 0;
    int lineNo = 1;
    if (text.startsWith("\xEF\xBB\xBF")) {
        lines.push_back({1, {}, QStringLiteral("<byte-order mark> before the first line")});
        at = 3;
    }
    while (at < text.size()) {
        const int first = lineNo;
        const qsizetype lineEnd = text.indexOf('\n', at);
        const QByteArray physical =
            text.mid(at, lineEnd < 0 ? -1 : lineEnd - at).trimmed();  // also drops a \r
        // A comment ends at the line's end, whatever quotes it holds.
        const bool comment = physical.startsWith(';');
        const LogicalLine logical =
            comment ? LogicalLine{lineEnd < 0 ? text.size() : lineEnd + 1, 0} : ScanLine(text, at);
        // The lines it covers past its first one, the line break ending it aside.
        const int more = static_cast<int>(text.mid(at, logical.end - at).trimmed().count('\n'));
        lineNo += static_cast<int>(text.mid(at, logical.end - at).count('\n'));
        at = logical.end;
        if (physical.isEmpty() || comment) continue;
        auto unreadable = [&](const QString& why) {
            lines.push_back(
                {first, group, QLatin1Char('\'') + Shown(physical) + QLatin1Char('\'') + why});
        };
        if (physical.startsWith('[')) {
            const qsizetype close = physical.indexOf(']');
            if (close < 0) unreadable(QStringLiteral(" (no closing ])"));
            group = Shown(physical.mid(1, close < 0 ? -1 : close - 1).trimmed());
            continue;
        }
        if (logical.quotedBreaks > 0) {
            unreadable(QStringLiteral(" (a quotation mark opened here takes in %1 more line%2)")
                           .arg(more)
                           .arg(more == 1 ? "" : "s"));
            continue;
        }
        // The key ends at the first "=" outside quotes; a ";" outside them ends the line.
        bool inQuotes = false;
        qsizetype equals = -1;
        for (qsizetype i = 0; i < physical.size() && equals < 0; ++i) {
            const char c = physical[i];
            if (c == '\\')
                ++i;
            else if (c == '"')
                inQuotes = !inQuotes;
            else if (c == ';' && !inQuotes)
                break;
            else if (c == '=' && !inQuotes)
                equals = i;
        }
        if (equals < 0)
            unreadable(QStringLiteral(" (no =)"));
        else if (physical.left(equals).trimmed().isEmpty())
            unreadable(QStringLiteral(" (no name before =)"));
    }
    return lines;
}

SettingsFileCheck CheckSettingsFile() {
    SettingsFileCheck check;
    check.path = StoreFiles().front();
    check.refusal = FirstRefusal();
    if (!check.refusal.isEmpty()) return check;
    QFile file(check.path);
    if (!file.open(QIODevice::ReadOnly)) {
        check.readable = !file.exists();  // a missing file is an empty one
        return check;
    }
    const QByteArray text = file.read(kMaxSettingsFile);
    if (file.error() != QFileDevice::NoError) {
        check.readable = false;
        return check;
    }
    check.unreadable = UnreadableIniLines(text);
    check.malformed = QtFindsItMalformed(text);
    check.damaged = !check.unreadable.empty() || check.malformed;
    return check;
}

QString SettingsFileProblem(const SettingsFileCheck& check) {
    if (!check.refusal.isEmpty())
        return QStringLiteral(
                   "The settings file %1, so no settings are read: the program goes on with its "
                   "defaults and writes none.")
            .arg(check.refusal);
    if (!check.damaged) return {};
    QString text =
        QStringLiteral(
            "The settings file %1 is damaged; it is not written to until it is repaired.")
            .arg(check.path);
    if (check.unreadable.empty()) return text;
    text += QStringLiteral(" These lines of it could not be read:");
    for (std::size_t i = 0; i < check.unreadable.size() && i < kShownLines; ++i) {
        const UnreadableSettingsLine& line = check.unreadable[i];
        text +=
            QStringLiteral("\n  line %1%2: %3")
                .arg(line.line)
                .arg(line.group.isEmpty() ? QString() : QStringLiteral(" in [%1]").arg(line.group))
                .arg(line.text);
    }
    if (check.unreadable.size() > kShownLines)
        text += QStringLiteral("\n  ... and %1 more").arg(check.unreadable.size() - kShownLines);
    return text;
}
