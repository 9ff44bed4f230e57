#pragma once

// Resource paths of what the program carries.
inline constexpr const char* kFirmwareConfigPath = ":/firmware/images.conf";
inline constexpr const char* kFirmwareRoot = ":/firmware";  // images at <root>/<TYPE>/<id>

// Makes sure the firmware resources are linked in and registered.
void InitFirmwareResources();
