#pragma once

#include <vector>

#include "comports.h"
#include "usbid.h"

// What the settings file says about the links; read by the settings
// component (settings.cpp), handed to link/ by the link factory.

// Devices the operator gave COM numbers in group "Ports" (COM1..COM256 =
// path; an empty path takes the number out of use). Other keys are ignored.
PortOverrides LoadPortOverrides();
// The receiver's vendor:product ids in group "Usb", key "Devices"
// ("1234:5678,abcd:ef01"); empty when none are set.
std::vector<UsbId> LoadConfiguredUsbIds();
