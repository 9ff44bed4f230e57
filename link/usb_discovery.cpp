#include "usb_discovery.h"

#include <QStringList>
#include <algorithm>
#include <cctype>
#include <cstring>

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

static std::uint32_t Le32(const std::uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

static std::uint16_t Le16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

// UTF-16LE with ASCII content, as the property names and GUIDs are.
static std::string Utf16Ascii(const std::uint8_t* p, std::size_t bytes) {
    std::string text;
    for (std::size_t i = 0; i + 1 < bytes; i += 2) {
        const std::uint16_t c = Le16(p + i);
        text.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    }
    return text;
}

std::vector<std::string> ParseMsOsExtendedProperties(const std::uint8_t* data, std::size_t len) {
    std::vector<std::string> guids;
    constexpr std::size_t kHeader = 10;
    if (!data || len < kHeader || Le16(data + 6) != 5) return guids;
    len = std::min<std::size_t>(len, Le32(data));
    const unsigned sections = Le16(data + 8);
    std::size_t at = kHeader;
    for (unsigned s = 0; s < sections; ++s) {
        if (len - at < 14) break;
        const std::uint32_t size = Le32(data + at);
        const std::uint32_t type = Le32(data + at + 4);
        const std::uint16_t nameLength = Le16(data + at + 8);
        if (size < 14u + nameLength || size > len - at) break;
        const std::uint8_t* name = data + at + 10;
        const std::uint32_t valueLength = Le32(name + nameLength);
        if (14u + nameLength + valueLength > size) break;
        std::string propertyName = Utf16Ascii(name, nameLength);
        propertyName.erase(propertyName.find_last_not_of('\0') + 1);
        const std::string value = Utf16Ascii(name + nameLength + 4, valueLength);
        const bool guidName =
            propertyName == "DeviceInterfaceGUID" || propertyName == "DeviceInterfaceGUIDs";
        if (guidName && (type == 1 || type == 7)) {
            // A string ends at its NUL; a multi-string (type 7) is NUL-separated.
            std::size_t start = 0;
            while (start < value.size()) {
                std::size_t end = value.find('\0', start);
                if (end == std::string::npos) end = value.size();
                if (end > start) guids.push_back(value.substr(start, end - start));
                if (type == 1) break;
                start = end + 1;
            }
        }
        at += size;
    }
    return guids;
}

static std::string GuidCore(const std::string& text) {
    std::string core;
    for (char c : text) {
        if (c == '{' || c == '}' || c == ' ' || c == '\0') continue;
        core.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
    }
    return core;
}

bool SameInterfaceClass(const std::string& a, const std::string& b) {
    return !GuidCore(a).empty() && GuidCore(a) == GuidCore(b);
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
    static constexpr std::uint8_t kSignature[] = {'M', 0,   'S', 0,   'F', 0,   'T',
                                                  0,   '1', 0,   '0', 0,   '0', 0};
    if (osLength >= 17 && os[1] == LIBUSB_DT_STRING &&
        std::memcmp(os + 2, kSignature, sizeof kSignature) == 0) {
        const std::uint8_t vendorCode = os[16];
        // Device to host, vendor request, interface recipient.
        constexpr std::uint8_t kRequestType = 0xC1;
        for (int number : interfaces) {
            if (found) break;
            const std::uint16_t value = static_cast<std::uint16_t>(number << 8);
            std::uint8_t header[10] = {};
            if (libusb_control_transfer(handle, kRequestType, vendorCode, value, 5, header,
                                        sizeof header, kControlTimeoutMs) < 10) {
                continue;
            }
            const std::uint32_t total = std::min<std::uint32_t>(Le32(header), 4096);
            std::vector<std::uint8_t> properties(total);
            const int got = libusb_control_transfer(
                handle, kRequestType, vendorCode, value, 5, properties.data(),
                static_cast<std::uint16_t>(total), kControlTimeoutMs);
            if (got <= 0) continue;
            for (const std::string& guid :
                 ParseMsOsExtendedProperties(properties.data(), static_cast<std::size_t>(got))) {
                if (SameInterfaceClass(guid, interfaceClass)) found = true;
            }
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
