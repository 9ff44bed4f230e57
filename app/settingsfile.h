#pragma once

#include <QByteArray>
#include <QString>
#include <vector>

// The settings file seen as a file, before QSettings reads it: QSettings
// opens whatever is there and blocks for good on a FIFO, and a file it
// cannot parse only makes its values vanish. Nothing here goes through
// QSettings' reading.

// A line of the settings file that QSettings cannot read as it was meant.
struct UnreadableSettingsLine {
    int line = 0;   // 1-based, in the file
    QString group;  // the group it stands in, as written ("Ports"); empty before the first
    QString text;   // the line, escaped for display and cut short
};

struct SettingsFileCheck {
    QString path;            // the program's own file
    QString refusal;         // why no settings file is read at all; empty when they can be
    bool readable = true;    // false: the file is there but cannot be read
    bool malformed = false;  // QSettings reports a format error
    bool damaged = false;    // malformed, or lines QSettings reads past
    std::vector<UnreadableSettingsLine> unreadable;  // of a damaged file, when they can be told
};

// Looks at the settings file and the organisation's one that QSettings also
// reads, with stat: one that exists but is not a regular file, or is bigger
// than a settings file ever is, is refused, and then no setting may be read
// or written. Then reads the program's own file as bytes for damage.
SettingsFileCheck CheckSettingsFile();

// What the operator is told about the settings file, empty when it is fine.
QString SettingsFileProblem(const SettingsFileCheck& check);

// The lines of an INI text that QSettings cannot read as entries: a line
// with no "=", an empty key, a group without "]", a quotation mark that is
// never closed (the lines after it become part of the value), a byte-order
// mark.
std::vector<UnreadableSettingsLine> UnreadableIniLines(const QByteArray& text);
