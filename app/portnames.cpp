#include "portnames.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QRegularExpression>
#include <cerrno>
#include <cstring>

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

QString PortOpenFailure(int comPort, const std::string& device) {
    if (device.empty())
        return QStringLiteral(
                   "Cannot open COM%1: it names no device. Give a device path, or map COM%1 "
                   "in the settings file, group Ports.")
            .arg(comPort);
    const QString head =
        QStringLiteral("Cannot open COM%1 (%2): ").arg(comPort).arg(QString::fromStdString(device));
    struct stat st {};
    if (::stat(device.c_str(), &st) != 0)
        return head + QString::fromLocal8Bit(std::strerror(errno));
    if (!S_ISCHR(st.st_mode)) return head + QStringLiteral("not a serial device");
    if (::access(device.c_str(), R_OK | W_OK) != 0)
        return head + QString::fromLocal8Bit(std::strerror(errno)) +
               QStringLiteral(
                   ". Your user needs access to the device, e.g. membership of the "
                   "dialout group.");
    return head + QStringLiteral("in use by another program, or not a serial port");
}
