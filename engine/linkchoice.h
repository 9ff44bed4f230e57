#pragma once

#include <string>

// The link the operator chose in Link Setup (or a headless run on its command
// line). It takes effect at the next Connect.
struct CLinkChoice {
    int m_nComPort = 1;  // 1..256
    bool m_bUsb = false;
    bool m_bManualUpdate = false;
    bool m_bBaudrate115200 = false;
    // A device path this run was given by name; it goes by m_nComPort in
    // messages. Empty: the COM number's mapping decides.
    std::string m_strDevice;
};
