#include "portnames.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QRegularExpression>
#include <QStringList>
#include <cerrno>
#include <cstring>

#include "settingsfile.h"

unsigned ParseComNumber(const QString& text) {
    static const QRegularExpression pattern(QStringLiteral("^(?:COM)?([0-9]{1,3})$"),
                                            QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = pattern.match(text);
    if (!match.hasMatch()) return 0;
    const unsigned port = match.captured(1).toUInt();
    return port >= 1 && port <= MAX_PORT ? port : 0;
}

unsigned ComNumberForDevice(const std::string& device, const PortOverrides& overrides) {
    for (unsigned port = 1; port <= MAX_PORT; ++port)
        if (ComDevicePath(port, overrides) == device) return port;
    return MAX_PORT;
}

namespace {
QString Tr(const char* text) {
    return QCoreApplication::translate("PortNames", text);
}
}  // namespace

ComPort ComPortOfDevice(const std::string& device, const PortOverrides& overrides) {
    return {ComNumberForDevice(device, overrides), device, true};
}

QString PortOpenFailure(int comPort, const std::string& device) {
    if (device.empty()) {
        // The mapping may be there and unread: say so rather than ask for it.
        const QString head = Tr("Cannot open COM%1: it names no device. ").arg(comPort);
        const SettingsFileCheck check = CheckSettingsFile();
        if (!check.refusal.isEmpty())
            return head + Tr("The settings file, where group Ports would map it, was not "
                             "read: %1. Give a device path.")
                              .arg(check.refusal);
        QStringList lost;
        for (const UnreadableSettingsLine& line : check.unreadable)
            if (line.group.compare(QLatin1String("Ports"), Qt::CaseInsensitive) == 0)
                lost << Tr("line %1, %2").arg(line.line).arg(line.text);
        if (!lost.isEmpty())
            return head + Tr("The settings file %1 is damaged: in group Ports, %2 could not be "
                             "read. Repair it, or give a device path.")
                              .arg(check.path, lost.join(QStringLiteral("; ")));
        return head + Tr("Give a device path, or map COM%1 in the settings file, group Ports.")
                          .arg(comPort);
    }
    const QString head =
        Tr("Cannot open COM%1 (%2): ").arg(comPort).arg(QString::fromStdString(device));
    struct stat st {};
    // The system's own report follows our words, in the system's language.
    if (::stat(device.c_str(), &st) != 0)
        return head + QString::fromLocal8Bit(std::strerror(errno));
    if (!S_ISCHR(st.st_mode)) return head + Tr("not a serial device");
    if (::access(device.c_str(), R_OK | W_OK) != 0)
        return head + QString::fromLocal8Bit(std::strerror(errno)) +
               Tr(". Your user needs access to the device, e.g. membership of the "
                  "dialout group.");
    return head + Tr("in use by another program, or not a serial port");
}
