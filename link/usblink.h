#pragma once

#include <string>
#include <vector>

#include "link.h"
#include "usbid.h"
#include "usbupdate.h"

// The receiver's USB device as an ILink: a CUsbUpdate whose thread calls the
// owner's listener. The device is looked for by the link's own thread, never
// by the owner's.
class CUsbLink : public ILink {
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
    void Close() override { m_usb.Shutdown(); }
    std::size_t Read(std::uint8_t* buffer, std::size_t size) override {
        return m_usb.Read(buffer, size);
    }
    std::string Device() const override;

private:
    const std::vector<UsbId> m_ids;
    CUsbUpdate m_usb;
};
