#pragma once

// The link the operator chose in Link Setup. The main frame holds these;
// the dialog writes them on OK. They take effect at the next Connect.
struct CLinkChoice {
    int m_nComPort = 1;  // 1..256
    bool m_bUsb = false;
    bool m_bManualUpdate = false;
    bool m_bBaudrate115200 = false;
};
