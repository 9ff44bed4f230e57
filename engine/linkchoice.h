#pragma once

#include <string>

// The link the operator chose in Link Setup (or a headless run on its command
// line). It takes effect at the next Connect.
struct CLinkChoice {
    int m_nComPort = 1;  // 1..256
    bool m_bUsb = false;
    bool m_bManualUpdate = false;
    bool m_bBaudrate115200 = false;
    // The serial port's device, found where the port was chosen (the probe,
    // the settings file, the operator's path) and opened as it is; empty
    // when m_nComPort names none. Named: the operator gave it.
    std::string m_strDevice;
    bool m_bDeviceNamed = false;
};
