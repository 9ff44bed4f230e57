#pragma once

#include <memory>
#include <string>

#include "comports.h"
#include "link.h"
#include "linkowner.h"
#include "noticeedge.h"

class CSerialPort;

struct SerialLinkSettings {
    unsigned comPort = 0;  // the number the port's reports carry ("Port: n")
    std::string device;    // absolute path of the tty to open
    // The operator named this device (command line, settings file group
    // "Ports") rather than it coming from the default COM map. Only a named
    // device may be the kernel's console.
    bool deviceNamed = false;
};

// The receiver's serial port as an ILink: a CSerialPort at 115200 8N1 whose
// notices become ILinkListener calls, data notices on the edge.
class CSerialLink : public ILink, private ILinkOwner {
public:
    // consoleList: where the console ttys are listed (see IsConsoleTty).
    explicit CSerialLink(SerialLinkSettings settings, std::string consoleList = kConsoleTtyList);
    ~CSerialLink() override;
    CSerialLink(const CSerialLink&) = delete;
    CSerialLink& operator=(const CSerialLink&) = delete;

    LinkKind Kind() const override { return LinkKind::Serial; }
    bool Open(ILinkListener* listener) override;
    bool IsReady() const override { return m_pPort != nullptr; }
    void Write(const std::uint8_t* bytes, std::size_t length) override;
    void SetSpeed(std::uint32_t baud) override;
    void Close() override;
    std::size_t Read(std::uint8_t* buffer, std::size_t size) override;
    LinkRefusal Refusal() const override { return m_refusal; }
    std::string Device() const override { return m_settings.device; }

private:
    // ILinkOwner, called by the port's monitor thread (and by the port on
    // this thread for a failed configuration step or speed change).
    void PostLinkMessage(unsigned message, std::uintptr_t wParam, std::intptr_t lParam) override;
    void ReportLinkError(const std::string& text) override;
    void ReportLinkLost(const std::string& text) override;
    void SetActiveRxRing(RingBuffer*) override {}

    const SerialLinkSettings m_settings;
    const std::string m_consoleList;
    ILinkListener* m_pListener = nullptr;
    std::unique_ptr<CSerialPort> m_pPort;
    LinkRefusal m_refusal = LinkRefusal::None;
    CNoticeEdge m_notice;  // data notices on the edge: one per drain
};
