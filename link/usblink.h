#pragma once

#include <string>
#include <vector>

#include "link.h"
#include "linkowner.h"
#include "noticeedge.h"
#include "usbid.h"
#include "usbupdate.h"

// The receiver's USB device as an ILink: a CUsbUpdate whose notices become
// ILinkListener calls, data notices on the edge. The device is looked for by
// the link's own thread, never by the owner's.
class CUsbLink : public ILink, private ILinkOwner {
public:
    // ids: vendor:product pairs that name the receiver when no device
    // publishes its interface class.
    explicit CUsbLink(std::vector<UsbId> ids);
    ~CUsbLink() override;
    CUsbLink(const CUsbLink&) = delete;
    CUsbLink& operator=(const CUsbLink&) = delete;

    LinkKind Kind() const override { return LinkKind::Usb; }
    bool Open(ILinkListener* listener) override;
    bool IsReady() const override { return m_usb.IsOpen(); }
    bool Reattach() override;
    void Write(const std::uint8_t* bytes, std::size_t length) override;
    void SetSpeed(std::uint32_t) override {}
    bool IsWritten() override { return m_usb.WaitTxDone(std::chrono::milliseconds(0)); }
    void Release() override { m_usb.CloseDevice(); }
    void Close() override;
    std::size_t Read(std::uint8_t* buffer, std::size_t size) override;
    std::string Device() const override;

private:
    // ILinkOwner, called by the link's thread.
    void PostLinkMessage(unsigned message, std::uintptr_t wParam, std::intptr_t lParam) override;
    void ReportLinkError(const std::string& text) override;
    void ReportLinkLost(const std::string& text) override;
    void ReportDeviceReady() override;
    void SetActiveRxRing(RingBuffer*) override {}

    const std::vector<UsbId> m_ids;
    ILinkListener* m_pListener = nullptr;
    CUsbUpdate m_usb;
    CNoticeEdge m_notice;  // data notices on the edge: one per drain
};
