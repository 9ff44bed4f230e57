#include "usblink.h"

#include <algorithm>
#include <limits>
#include <utility>

CUsbLink::CUsbLink(std::vector<UsbId> ids) : m_ids(std::move(ids)) {}

CUsbLink::~CUsbLink() {
    Close();
}

bool CUsbLink::Open(ILinkListener* listener) {
    m_usb.Start(listener, m_ids);
    return true;  // the device may come later: OnLinkReady tells
}

bool CUsbLink::Reattach() {
    if (!IsReady()) m_usb.Search();
    return IsReady();
}

void CUsbLink::Write(const std::uint8_t* bytes, std::size_t length) {
    if (!IsReady()) return;
    // More than the send ring holds is refused whole by UsbWrite.
    const std::size_t limit = std::numeric_limits<std::int32_t>::max();
    std::int32_t queued = 0;
    m_usb.UsbWrite(bytes, static_cast<std::int32_t>(std::min(length, limit)), &queued);
}

std::string CUsbLink::Device() const {
    const std::string path = m_usb.DevicePath();
    return path.empty() ? "USB" : path;
}
