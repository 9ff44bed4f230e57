#include "linkfactory.h"

#include "portnames.h"
#include "seriallink.h"
#include "settings.h"
#include "usblink.h"

std::unique_ptr<ILink> MakeLink(const CLinkChoice& choice) {
    if (choice.m_bUsb) return std::make_unique<CUsbLink>(CSettings().UsbIds());
    return std::make_unique<CSerialLink>(SerialLinkSettings{
        static_cast<unsigned>(choice.m_nComPort), choice.m_strDevice, choice.m_bDeviceNamed});
}

std::function<std::unique_ptr<ILink>(const CLinkChoice&)> RealLinks() {
    return MakeLink;
}

void ChoosePort(CLinkChoice& choice, const ComPort& port) {
    choice.m_nComPort = static_cast<int>(port.number);
    choice.m_strDevice = port.device;
    choice.m_bDeviceNamed = port.named;
}

CLinkChoice SavedLinkChoice(const CSettings& settings) {
    // The receiver tool forgot the Link Setup choice at every exit; an
    // operator expects to find the port used last.
    const QString saved = settings.LinkSetupPort();
    CLinkChoice choice;
    unsigned port = ParseComNumber(saved);
    if (port == 0) port = static_cast<unsigned>(settings.ComPortOfMonitor());
    ChoosePort(choice, ComPortOf(port, settings.PortMap()));
    choice.m_bUsb = saved.compare(QLatin1String("USB"), Qt::CaseInsensitive) == 0;
    return choice;
}

bool SaveLinkChoice(const CLinkChoice& choice) {
    return CSettings().SetLinkSetupPort(
        choice.m_bUsb ? QStringLiteral("USB") : QStringLiteral("COM%1").arg(choice.m_nComPort));
}
