#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Microsoft OS 1.0 descriptors, as any USB device on the bus may return
// them during discovery. Each function reads only the len bytes it is given,
// exactly what the device sent: every length the device states is checked
// against them, without overflow. Plain functions, so that a crafted
// descriptor is a unit test and a fuzz input rather than a device.

// The vendor code an OS string descriptor (string index 0xEE, "MSFT100")
// carries: the request that asks the device for its OS feature descriptors.
// nullopt when the bytes are no such descriptor.
std::optional<std::uint8_t> MsOsVendorCode(const std::uint8_t* data, std::size_t len);

// The whole length the first 10 bytes of an extended properties descriptor
// announce, at most limit; 0 when they are no such header.
std::uint32_t MsOsPropertiesLength(const std::uint8_t* data, std::size_t len, std::uint32_t limit);

// The device interface GUIDs an extended properties descriptor carries
// ("DeviceInterfaceGUID" as a string, "DeviceInterfaceGUIDs" as a
// multi-string), as written. A malformed section ends the walk.
std::vector<std::string> ParseMsOsExtendedProperties(const std::uint8_t* data, std::size_t len);

// Case-insensitive, braces optional.
bool SameInterfaceClass(const std::string& a, const std::string& b);
