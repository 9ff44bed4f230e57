#pragma once

#include "firmwarepackage.h"
#include "imageconfig.h"
#include "imagestore.h"

// Resource paths of what the program carries.
inline constexpr const char* kFirmwareConfigPath = ":/firmware/images.conf";
inline constexpr const char* kFirmwareRoot = ":/firmware";  // images at <root>/<TYPE>/<id>

// Makes sure the firmware resources are linked in and registered.
void InitFirmwareResources();

// The configuration the program carries.
const ImageConfig& CarriedImageConfig();

// The images built into the program.
class CResourceImageStore : public IImageStore {
public:
    ImageBytes Find(std::string_view type, std::uint16_t id) const override;
};

// The carried configuration and images as a package, for when no package
// folder is chosen.
FirmwarePackage BuiltinFirmwarePackage();
