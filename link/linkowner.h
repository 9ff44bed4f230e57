#pragma once

#include <cstdint>
#include <string>

struct RingBuffer;

// Notices a link thread posts to its owner. Values keep the receiver tool's
// message numbers (first user message 0x400 plus n).
enum LinkMessage : unsigned {
    WM_PORT_BREAK = 0x401,
    WM_PORT_CTS = 0x402,
    WM_PORT_ERR = 0x404,
    WM_PORT_RING = 0x405,
    WM_LINK_DATA = 0x407,
    WM_PORT_RXFLAG = 0x408,
};

// What a link needs of the window that owns it. Every call may come from a
// link thread and must return at once: the owner queues the notice or the
// error text for its own thread and never makes the caller wait for it.
class ILinkOwner {
public:
    virtual ~ILinkOwner() = default;
    // wParam: bytes just put into the receive ring; lParam: COM number, 0 for USB.
    // A serial port posts WM_LINK_DATA once per wake-up of its monitor, however
    // many bytes that wake-up read.
    virtual void PostLinkMessage(unsigned message, std::uintptr_t wParam, std::intptr_t lParam) = 0;
    // A failed link step, with its full text ("WARNING:  ... Port: %d").
    virtual void ReportLinkError(const std::string& text) = 0;
    // The line hung up or the device left: nothing more comes or goes. An owner
    // that does not tell this apart from a failed step gets it as one.
    virtual void ReportLinkLost(const std::string& text) { ReportLinkError(text); }
    // The USB link has found, opened and claimed the receiver's device.
    virtual void ReportDeviceReady() {}
    // The USB link points the owner's receive-ring pointer at its own ring.
    virtual void SetActiveRxRing(RingBuffer* ring) = 0;
};
