#pragma once

#include <map>
#include <string>
#include <vector>

// COM numbers 1..MAX_PORT name the serial ports, as operators know them.
constexpr unsigned MAX_PORT = 256;

// Device paths given to COM numbers in the settings store, group "Ports"
// (e.g. COM200=/dev/pts/7). An empty path takes the number out of use.
using PortOverrides = std::map<unsigned, std::string>;

// A serial port as it goes from the probe (or the operator's words) to the
// link that opens it.
struct ComPort {
    unsigned number = 0;  // 1..MAX_PORT: what titles and messages call it
    std::string device;   // the tty it opens; empty when the number names none
    // The operator named this device (group "Ports", or its path) rather
    // than it coming from the default map. Only a named device may be the
    // kernel's console.
    bool named = false;
    bool operator==(const ComPort&) const = default;
};

// The device a COM number names, or "" for none. An entry in overrides wins
// over the default map (COM1-32 /dev/ttyS0-31, COM33-64 /dev/ttyUSB0-31,
// COM65-96 /dev/ttyACM0-31). Paths that are not absolute are refused (""),
// so a stray value never opens a file relative to the working directory.
std::string ComDevicePath(unsigned port, const PortOverrides& overrides);
// The port a COM number is with overrides.
ComPort ComPortOf(unsigned number, const PortOverrides& overrides);

// Where the kernel lists its console ttys, by their names under /dev
// ("ttyS0 tty0").
inline constexpr char kConsoleTtyList[] = "/sys/class/tty/console/active";

// Whether device is one of the console ttys the file consoleList names, or
// /dev/console itself. Devices are compared as the kernel knows them (a
// symlink or another node of the same tty matches) and nothing is opened. A
// list that cannot be read names no tty.
bool IsConsoleTty(const std::string& device, const std::string& consoleList = kConsoleTtyList);

// "COM33 (ttyUSB0)": the number with the device beside it, for the
// operator; "COM33" when it names none.
std::string ComPortLabel(const ComPort& port);

enum class PortProbe {
    MappedAndDefaults,  // every COM number with a device, defaults included
    OverridesOnly,      // only numbers given a device in overrides
};

// Probes COM1..COM256 in ascending order and lists the ports that could be
// opened now. Each device is opened and closed again and left as it was
// found. A device another program holds (lock refused, EBUSY) is not listed,
// nor one that is not a terminal.
//
// The console (see IsConsoleTty) is never opened here: the probe runs unasked
// at every start. It is listed, unprobed, only when overrides name it, as the
// link opens a console the operator named and refuses any other.
std::vector<ComPort> EnumeratePorts(const PortOverrides& overrides,
                                    PortProbe probe = PortProbe::MappedAndDefaults,
                                    const std::string& consoleList = kConsoleTtyList);
