#include "comports.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <QFile>
#include <QSettings>
#include <QStringList>
#include <cstdio>
#include <mutex>

namespace {

struct DefaultRange {
    unsigned first;  // first COM number of the range
    const char* prefix;
};

constexpr unsigned kPortsPerRange = 32;
constexpr DefaultRange kDefaultRanges[] = {
    {1, "/dev/ttyS"},
    {33, "/dev/ttyUSB"},
    {65, "/dev/ttyACM"},
};

std::string DefaultDevicePath(unsigned port) {
    for (const DefaultRange& range : kDefaultRanges) {
        if (port >= range.first && port < range.first + kPortsPerRange)
            return range.prefix + std::to_string(port - range.first);
    }
    return {};
}

// Opens and closes the device without changing it: no line settings, no
// TIOCEXCL (that flag would outlive our close while anyone else holds the
// tty). The lock is only tried, to see whether another program has it.
bool CanOpen(const std::string& device) {
    const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    const bool usable = ::isatty(fd) == 1 && ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    ::close(fd);  // also drops the lock
    return usable;
}

std::mutex g_processOverridesLock;
PortOverrides g_processOverrides;

}  // namespace

void SetComDeviceOverride(unsigned port, std::string device) {
    std::lock_guard<std::mutex> lock(g_processOverridesLock);
    if (device.empty())
        g_processOverrides.erase(port);
    else
        g_processOverrides[port] = std::move(device);
}

std::string ComDevicePath(unsigned port, const PortOverrides& overrides) {
    if (port < 1 || port > MAX_PORT) return {};
    const auto it = overrides.find(port);
    if (it == overrides.end()) return DefaultDevicePath(port);
    if (it->second.empty() || it->second.front() != '/') return {};
    return it->second;
}

std::string ComDevicePath(unsigned port) {
    {
        std::lock_guard<std::mutex> lock(g_processOverridesLock);
        if (g_processOverrides.count(port) != 0) return ComDevicePath(port, g_processOverrides);
    }
    return ComDevicePath(port, LoadPortOverrides());
}

PortOverrides LoadPortOverrides() {
    QSettings settings(QSettings::IniFormat, QSettings::UserScope,
                       QStringLiteral("Quorvex Solution"), QStringLiteral("QuorvexUpdate"));
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

std::string ComDeviceName(unsigned port) {
    char name[32];
    std::snprintf(name, sizeof name, "\\\\.\\COM%u", port);
    return name;
}

std::string ComPortLabel(const ComPortInfo& port) {
    std::string device = port.strDevice;
    if (device.rfind("/dev/", 0) == 0) device.erase(0, 5);
    return "COM" + std::to_string(port.nPort) + " (" + device + ")";
}

std::vector<ComPortInfo> EnumeratePorts(const PortOverrides& overrides, PortProbe probe) {
    std::vector<ComPortInfo> ports;
    for (unsigned port = 1; port <= MAX_PORT; ++port) {
        if (probe == PortProbe::OverridesOnly && overrides.count(port) == 0) continue;
        const std::string device = ComDevicePath(port, overrides);
        if (device.empty() || !CanOpen(device)) continue;
        ports.push_back({port, ComDeviceName(port), device});
    }
    return ports;
}

std::vector<ComPortInfo> EnumeratePorts() {
    return EnumeratePorts(LoadPortOverrides());
}
