#pragma once

#include <QString>
#include <string>

#include "comports.h"

// COM numbers as operators give them, and why a port did not open: shared by
// the headless run and the station, which both take ports as typed.

// "COM5", "com5" or "5": the number 1..256; 0 for anything else.
unsigned ParseComNumber(const QString& text);

// The COM number a device path goes by in this run: the number the settings
// or the default map already give it, else 256 (the top of the range, where
// nothing is mapped by default).
unsigned ComNumberForDevice(const std::string& device, const PortOverrides& overrides);
// A device path the operator gave, as the port it is in this run.
ComPort ComPortOfDevice(const std::string& device, const PortOverrides& overrides);

// Why the port did not open, for the operator: the device and the system's
// reason where it can be found without opening the device again.
QString PortOpenFailure(int comPort, const std::string& device);
