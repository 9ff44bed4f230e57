#include "linkfactory.h"

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
