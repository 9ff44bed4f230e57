#include "linkfactory.h"

#include <utility>

#include "comports.h"
#include "linksettings.h"
#include "seriallink.h"
#include "settings.h"
#include "usblink.h"

std::unique_ptr<ILink> MakeLink(const CLinkChoice& choice) {
    if (choice.m_bUsb) return std::make_unique<CUsbLink>(LoadConfiguredUsbIds());
    const auto port = static_cast<unsigned>(choice.m_nComPort);
    SerialLinkSettings settings{port, choice.m_strDevice, true};
    if (settings.device.empty()) {
        const PortOverrides overrides = LoadPortOverrides();
        settings.device = ComDevicePath(port, overrides);
        // A device mapped by hand in the file is named: it may be the console
        // on purpose. One from the default map never is.
        settings.deviceNamed = overrides.count(port) != 0;
    }
    return std::make_unique<CSerialLink>(std::move(settings));
}

std::function<std::unique_ptr<ILink>(const CLinkChoice&)> RealLinks() {
    return MakeLink;
}

std::vector<SerialPortEntry> ProbeSerialPorts() {
    std::vector<SerialPortEntry> ports;
    for (const ComPortInfo& p : EnumeratePorts(LoadPortOverrides()))
        ports.push_back({p.nPort, p.strName, p.strDevice});
    return ports;
}
