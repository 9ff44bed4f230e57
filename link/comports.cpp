#include "comports.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>

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

// A tty is the same tty under any name: /dev/serial/by-id links and extra
// nodes carry its device number.
bool SameFile(const struct stat& a, const struct stat& b) {
    if (S_ISCHR(a.st_mode) && S_ISCHR(b.st_mode)) return a.st_rdev == b.st_rdev;
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

class ConsoleTtys {
public:
    explicit ConsoleTtys(const std::string& list) {
        std::vector<std::string> names{"console"};
        std::ifstream file(list);
        for (std::string name; file >> name;) names.push_back(name);
        for (const std::string& name : names) {
            struct stat tty = {};
            if (name.find("..") == std::string::npos && ::stat(("/dev/" + name).c_str(), &tty) == 0)
                m_ttys.push_back(tty);
        }
    }
    bool Contains(const std::string& device) const {
        struct stat file = {};
        if (::stat(device.c_str(), &file) != 0) return false;
        return std::any_of(m_ttys.begin(), m_ttys.end(),
                           [&](const struct stat& tty) { return SameFile(tty, file); });
    }

private:
    std::vector<struct stat> m_ttys;
};

}  // namespace

std::string ComDevicePath(unsigned port, const PortOverrides& overrides) {
    if (port < 1 || port > MAX_PORT) return {};
    const auto it = overrides.find(port);
    if (it == overrides.end()) return DefaultDevicePath(port);
    if (it->second.empty() || it->second.front() != '/') return {};
    return it->second;
}

bool IsConsoleTty(const std::string& device, const std::string& consoleList) {
    return ConsoleTtys(consoleList).Contains(device);
}

ComPort ComPortOf(unsigned number, const PortOverrides& overrides) {
    return {number, ComDevicePath(number, overrides), overrides.count(number) != 0};
}

std::string ComPortLabel(const ComPort& port) {
    const std::string number = "COM" + std::to_string(port.number);
    if (port.device.empty()) return number;
    std::string device = port.device;
    if (device.rfind("/dev/", 0) == 0) device.erase(0, 5);
    return number + " (" + device + ")";
}

std::vector<ComPort> EnumeratePorts(const PortOverrides& overrides, PortProbe probe,
                                    const std::string& consoleList) {
    const ConsoleTtys console(consoleList);
    std::vector<ComPort> ports;
    for (unsigned port = 1; port <= MAX_PORT; ++port) {
        ComPort found = ComPortOf(port, overrides);
        if (probe == PortProbe::OverridesOnly && !found.named) continue;
        if (found.device.empty()) continue;
        if (console.Contains(found.device) ? !found.named : !CanOpen(found.device)) continue;
        ports.push_back(std::move(found));
    }
    return ports;
}
