#include "usblink.h"

#include <algorithm>
#include <limits>
#include <utility>

CUsbLink::CUsbLink(std::vector<UsbId> ids) : m_ids(std::move(ids)) {}

CUsbLink::~CUsbLink() {
    Close();
}

bool CUsbLink::Open(ILinkListener* listener) {
    m_pListener = listener;
    m_notice.Reset();
    m_usb.Start(this, m_ids);
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

void CUsbLink::Close() {
    m_usb.Shutdown();
    m_notice.Reset();
}

std::size_t CUsbLink::Read(std::uint8_t* buffer, std::size_t size) {
    m_notice.Clear();
    const std::size_t limit = std::numeric_limits<std::uint32_t>::max();
    return RingGet(&m_usb.RxRing(), buffer, static_cast<std::uint32_t>(std::min(size, limit)));
}

std::string CUsbLink::Device() const {
    const std::string path = m_usb.DevicePath();
    return path.empty() ? "USB" : path;
}

void CUsbLink::PostLinkMessage(unsigned message, std::uintptr_t, std::intptr_t) {
    if (message != WM_LINK_DATA || !m_pListener) return;
    if (m_notice.Raise()) m_pListener->OnLinkDataReady();
}

void CUsbLink::ReportLinkError(const std::string& text) {
    if (m_pListener) m_pListener->OnLinkError(text, false);
}

void CUsbLink::ReportLinkLost(const std::string& text) {
    if (m_pListener) m_pListener->OnLinkError(text, true);
}

void CUsbLink::ReportDeviceReady() {
    if (m_pListener) m_pListener->OnLinkReady();
}
