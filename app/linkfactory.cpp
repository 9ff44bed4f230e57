#include "linkfactory.h"

#include <utility>

#include "comports.h"
#include "seriallink.h"
#include "settings.h"
#include "usblink.h"

SerialDevice SerialDeviceOf(const CLinkChoice& choice) {
    if (!choice.m_strDevice.empty()) return {choice.m_strDevice, true};
    const auto port = static_cast<unsigned>(choice.m_nComPort);
    const PortOverrides overrides = CSettings().PortMap();
    // A device mapped by hand in the file is named: it may be the console on
    // purpose. One from the default map never is.
    return {ComDevicePath(port, overrides), overrides.count(port) != 0};
}

std::unique_ptr<ILink> MakeLink(const CLinkChoice& choice) {
    if (choice.m_bUsb) return std::make_unique<CUsbLink>(CSettings().UsbIds());
    SerialDevice device = SerialDeviceOf(choice);
    return std::make_unique<CSerialLink>(SerialLinkSettings{
        static_cast<unsigned>(choice.m_nComPort), std::move(device.path), device.named});
}

std::function<std::unique_ptr<ILink>(const CLinkChoice&)> RealLinks() {
    return MakeLink;
}

std::vector<SerialPortEntry> ProbeSerialPorts() {
    std::vector<SerialPortEntry> ports;
    for (const ComPortInfo& p : EnumeratePorts(CSettings().PortMap()))
        ports.push_back({p.nPort, p.strName, p.strDevice});
    return ports;
}
