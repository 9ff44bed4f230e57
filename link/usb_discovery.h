#pragma once

#include <libusb.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "msos_descriptor.h"
#include "usbid.h"

// The receiver's device interface classes, first choice first.
inline constexpr char kUsbInterfaceClass1[] = "{F8232E5F-6961-4033-AB35-1120751F859E}";
inline constexpr char kUsbInterfaceClass2[] = "{47A0B4E2-37BE-4B60-AB6B-895CF1EFA99C}";

// The first present device publishing interfaceClass through its Microsoft OS
// descriptors; "first" is the lowest bus, then the lowest address. Writes the
// device path ("/dev/bus/usb/BBB/DDD", cut to size - 1 characters) into path.
// Only devices with a vendor-specific interface are asked, and only those this
// user may open.
bool FindDevicePath(libusb_context* context, const char* interfaceClass, char* path,
                    std::size_t size);
// The first present device, in the same order, whose vendor:product is listed.
bool FindDevicePathById(libusb_context* context, const std::vector<UsbId>& ids, char* path,
                        std::size_t size);
