#include "usb_discovery.h"

#include <QStringList>
#include <algorithm>
#include <cstring>
#include <optional>

#include "usb_device.h"

std::vector<UsbId> ParseUsbIdList(const QString& text) {
    std::vector<UsbId> ids;
    for (const QString& entry : text.split(u',', Qt::SkipEmptyParts)) {
        const QStringList parts = entry.trimmed().split(u':');
        if (parts.size() != 2 || parts[0].size() != 4 || parts[1].size() != 4) continue;
        bool okVendor = false, okProduct = false;
        const uint vendor = parts[0].toUInt(&okVendor, 16);
        const uint product = parts[1].toUInt(&okProduct, 16);
        if (okVendor && okProduct) {
            ids.push_back(
                {static_cast<std::uint16_t>(vendor), static_cast<std::uint16_t>(product)});
        }
    }
    return ids;
}

// Present devices, lowest bus then lowest address first. The list holds a
// reference on each device until FreeSorted.
static std::vector<libusb_device*> SortedDevices(libusb_context* context, libusb_device*** list) {
    std::vector<libusb_device*> devices;
    const ssize_t count = libusb_get_device_list(context, list);
    for (ssize_t i = 0; i < count; ++i) devices.push_back((*list)[i]);
    std::sort(devices.begin(), devices.end(), [](libusb_device* a, libusb_device* b) {
        const auto key = [](libusb_device* d) {
            return (libusb_get_bus_number(d) << 8) | libusb_get_device_address(d);
        };
        return key(a) < key(b);
    });
    return devices;
}

static bool CopyPath(libusb_device* device, char* path, std::size_t size) {
    if (!path || size == 0) return false;
    const std::string text = UsbDevicePath(device);
    const std::size_t n = std::min(text.size(), size - 1);
    std::memcpy(path, text.data(), n);
    path[n] = '\0';
    return true;
}

static bool HasVendorInterface(libusb_device* device, std::vector<int>* numbers) {
    libusb_config_descriptor* config = nullptr;
    if (libusb_get_active_config_descriptor(device, &config) != LIBUSB_SUCCESS) return false;
    for (int i = 0; i < config->bNumInterfaces; ++i) {
        if (config->interface[i].num_altsetting > 0 &&
            config->interface[i].altsetting[0].bInterfaceClass == LIBUSB_CLASS_VENDOR_SPEC) {
            numbers->push_back(config->interface[i].altsetting[0].bInterfaceNumber);
        }
    }
    libusb_free_config_descriptor(config);
    return !numbers->empty();
}

static constexpr unsigned kControlTimeoutMs = 200;
// More than any receiver's properties need; a bigger announcement is cut.
static constexpr std::uint32_t kMaxPropertiesLength = 4096;

// The interface classes a device publishes through Microsoft OS 1.0
// descriptors: the OS string (index 0xEE, "MSFT100" plus a vendor code), then
// the extended properties of each vendor interface.
static bool PublishesClass(libusb_device* device, const std::vector<int>& interfaces,
                           const char* interfaceClass) {
    libusb_device_handle* handle = nullptr;
    if (libusb_open(device, &handle) != LIBUSB_SUCCESS) return false;
    bool found = false;
    std::uint8_t os[18] = {};
    const int osLength = libusb_control_transfer(
        handle, LIBUSB_ENDPOINT_IN, LIBUSB_REQUEST_GET_DESCRIPTOR, (LIBUSB_DT_STRING << 8) | 0xEE,
        0, os, sizeof os, kControlTimeoutMs);
    const std::optional<std::uint8_t> vendorCode =
        osLength > 0 ? MsOsVendorCode(os, static_cast<std::size_t>(osLength)) : std::nullopt;
    // Device to host, vendor request, interface recipient.
    constexpr std::uint8_t kRequestType = 0xC1;
    for (int number : interfaces) {
        if (found || !vendorCode) break;
        const std::uint16_t value = static_cast<std::uint16_t>(number << 8);
        std::uint8_t header[10] = {};
        const int headerLength = libusb_control_transfer(
            handle, kRequestType, *vendorCode, value, 5, header, sizeof header, kControlTimeoutMs);
        const std::uint32_t total =
            headerLength > 0 ? MsOsPropertiesLength(header, static_cast<std::size_t>(headerLength),
                                                    kMaxPropertiesLength)
                             : 0;
        if (total == 0) continue;
        std::vector<std::uint8_t> properties(total);
        const int got =
            libusb_control_transfer(handle, kRequestType, *vendorCode, value, 5, properties.data(),
                                    static_cast<std::uint16_t>(total), kControlTimeoutMs);
        if (got <= 0) continue;
        // Only what arrived is parsed, whatever the device announced.
        for (const std::string& guid :
             ParseMsOsExtendedProperties(properties.data(), static_cast<std::size_t>(got))) {
            if (SameInterfaceClass(guid, interfaceClass)) found = true;
        }
    }
    libusb_close(handle);
    return found;
}

bool FindDevicePath(libusb_context* context, const char* interfaceClass, char* path,
                    std::size_t size) {
    libusb_device** list = nullptr;
    bool found = false;
    for (libusb_device* device : SortedDevices(context, &list)) {
        std::vector<int> interfaces;
        if (HasVendorInterface(device, &interfaces) &&
            PublishesClass(device, interfaces, interfaceClass)) {
            found = CopyPath(device, path, size);
            break;
        }
    }
    if (list) libusb_free_device_list(list, 1);
    return found;
}

bool FindDevicePathById(libusb_context* context, const std::vector<UsbId>& ids, char* path,
                        std::size_t size) {
    if (ids.empty()) return false;
    libusb_device** list = nullptr;
    bool found = false;
    for (libusb_device* device : SortedDevices(context, &list)) {
        libusb_device_descriptor descriptor;
        if (libusb_get_device_descriptor(device, &descriptor) != LIBUSB_SUCCESS) continue;
        const UsbId id{descriptor.idVendor, descriptor.idProduct};
        if (std::find(ids.begin(), ids.end(), id) != ids.end()) {
            found = CopyPath(device, path, size);
            break;
        }
    }
    if (list) libusb_free_device_list(list, 1);
    return found;
}
