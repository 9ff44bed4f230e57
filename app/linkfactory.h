#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "linkchoice.h"

class ILink;

// The link a choice names. USB: the device with the vendor:product ids of
// the settings file. Serial: m_strDevice when the run was given one, else the
// device the settings file's COM map (or the default map) gives m_nComPort.
// The engine opens it.
std::unique_ptr<ILink> MakeLink(const CLinkChoice& choice);

// The device a serial choice opens, and whether the operator named it.
struct SerialDevice {
    std::string path;
    bool named = false;
};
SerialDevice SerialDeviceOf(const CLinkChoice& choice);
// MakeLink as the engine takes it; usable where ILink is not known.
std::function<std::unique_ptr<ILink>(const CLinkChoice&)> RealLinks();

// A serial port the probe found: "\\.\COMn" and the device it maps to.
struct SerialPortEntry {
    unsigned nPort = 0;
    std::string strName;
    std::string strDevice;
};

// COM1..COM256 with the settings file's map, each port opened and closed
// again to see that it is there and free; the console is never touched.
std::vector<SerialPortEntry> ProbeSerialPorts();
