#pragma once

#include <atomic>

#include "linkowner.h"

// State a port object shares between the owner's thread and its monitor
// thread, and the virtual destructor through which the owner deletes a port.
class CMyPort {
public:
    CMyPort() = default;
    virtual ~CMyPort() = default;
    CMyPort(const CMyPort&) = delete;
    CMyPort& operator=(const CMyPort&) = delete;

    // Set by the owner's thread to ask the monitor to stop; the receive loop
    // returns early while it is set. The monitor clears it when it starts.
    std::atomic<bool> m_bStopRequested{false};
    // Set by the monitor thread when it starts, cleared just before it ends.
    std::atomic<bool> m_bMonitorAlive{false};
    // Receives the port's notices; stored by the open, before the monitor
    // starts, and only read afterwards.
    ILinkOwner* m_pOwnerWnd = nullptr;
};
